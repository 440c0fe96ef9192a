#include "ShowMusicPlayer.h"

#include "Assert.h"
#include "Log.h"
#include "Utf8Conversion.h"

#include <algorithm>
#include <chrono>
#include <cmath>

namespace kiv {

namespace {

double MsSince(std::chrono::steady_clock::time_point begun) {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - begun).count();
}

} // namespace

TKivMusicPlayer::TKivMusicPlayer(TWorkerHost& host, TKivSource* source, bool ownsSource,
                                 const TWaveOutDeviceFactory& devices, TConverterFactory converters)
    : TShowMusic(host, "MusicPlayer", kPeriodMs, kOrderMusicPlayer), source_(source), ownsSource_(ownsSource) {
  RY_ASSERT_MSG(source_, "No KivSource for KivMusicPlayer");
  music_ = std::make_unique<TKivMusicSource>(source_);
  music_->PrepareDecoderPlugins();
  if (devices) {
    audio_ = CreateMusicPlayer(host, devices, std::move(converters));
    if (audio_ && !audio_->IsDeviceReady()) audio_ = nullptr;
    // The audio clock starts now, so that it already runs with the sound when the show first plays.
    if (audio_) audio_->GetTime();
  }
  loader_ = MakeOwned<TMusicLoader>(host, Events(), audio_.get(), &source_->Accessor());
  if (music_->MainPlayList()) {
    currentSequence_ = new TPlaySequence(*this, music_->MainPlayList(), 0, 0);
  }
  Restart(0);
}

TKivMusicPlayer::~TKivMusicPlayer() = default;

void TKivMusicPlayer::Dispose() {
  Stop();
  TKivThread::Dispose();
  music_.reset();
  if (ownsSource_) {
    TObj::Free(source_);
    source_ = nullptr;
  }
}

bool TKivMusicPlayer::Start() {
  loader_->Start();
  return TKivThread::Start();
}

void TKivMusicPlayer::Stop() {
  if (stopped_) return;
  stopped_ = true;
  loader_->Stop();
  TKivThread::Stop();
  FreeItems(true);
  startList_.Clear();
  // The host's own thread cannot sleep on a virtual clock; the channels freed above fade on the killer.
  loader_ = nullptr;
  audio_ = nullptr;
}

int TKivMusicPlayer::NextItemNumber() {
  const int number = itemCounter_;
  itemCounter_ = itemCounter_ == INT32_MAX ? 0 : itemCounter_ + 1;
  return number;
}

void TKivMusicPlayer::AddItem(TPlayItem& item) { items_.push_back(&item); }

void TKivMusicPlayer::RemoveItem(TPlayItem& item) { std::erase(items_, &item); }

double TKivMusicPlayer::MusicClock() {
  return audio_ ? audio_->GetTime() : static_cast<double>(Clock().NowMs());
}

void TKivMusicPlayer::SetPlaying(bool playing) {
  if (playing == requestedPlaying_) return;
  requestedPlaying_ = playing;
  Events().Post(playing ? kSetRunningEvent : kSetPausedEvent);
}

void TKivMusicPlayer::SetTime(double endLimit, double time) {
  if (time >= 0) requestedPlaying_ = false;
  ready_.store(false, std::memory_order_release);
  if (endLimit >= 0) lastEndLimitSent_ = endLimit;
  TTimeData data(time, endLimit);
  Events().Send(kSetTimeEvent, &data);
}

double TKivMusicPlayer::GetShowTime() {
  std::lock_guard lock(lock_);
  const double time = running_ ? MusicClock() - timeBase_ : timeBase_;
  return std::min(time, endLimit_);
}

float TKivMusicPlayer::GetVolume() { return audio_ ? audio_->GetVolume() : 0.0f; }

void TKivMusicPlayer::SetVolume(float volume) {
  if (audio_) audio_->SetVolume(volume);
}

void TKivMusicPlayer::HandleEvent(int number, TObj* data) {
  switch (number) {
  case kChannelLoadedEvent: {
    auto* container = dynamic_cast<TChannelContainer*>(data);
    RY_ASSERT(container && container->Channel());
    TKivChannel& channel = *container->Channel();
    LogLine("Receive Channel: " + channel.FileName());
    for (TPlayItem* item : items_)
      if (item->Number() == channel.Owner()) {
        item->OnChannelReady(channel);
        break;
      }
    return;
  }
  case kSetRunningEvent:
    SetRunning(true);
    return;
  case kSetPausedEvent:
    SetRunning(false);
    return;
  case kSetTimeEvent: {
    auto* timeData = dynamic_cast<TTimeData*>(data);
    RY_ASSERT(timeData);
    LogLine("Set Time " + LogFloatText(timeData->time));
    if (timeData->endLimit >= 0) {
      std::lock_guard lock(lock_);
      endLimit_ = timeData->endLimit;
    }
    if (timeData->time >= 0) Restart(timeData->time);
    return;
  }
  default:
    RY_ASSERT_MSG(false, "Unknown EventID");
  }
}

void TKivMusicPlayer::SetRunning(bool running) {
  std::lock_guard lock(lock_);
  if (running_ == running) return;
  running_ = running;
  timeBase_ = MusicClock() - timeBase_;
}

void TKivMusicPlayer::Restart(double time) {
  {
    std::lock_guard lock(lock_);
    running_ = false;
    timeBase_ = time;
  }
  for (TPlayItem* item : std::vector<TPlayItem*>(items_))
    item->Stop(false);
  windowEnd_ = time + kWindowMs;
  currentSlide_ = std::max<int64_t>(0, SlidePositionAt(time));
  Schedule(true, time, time + kWindowMs);
}

int64_t TKivMusicPlayer::SlidePositionAt(double time) const {
  const int count = music_->SlideCount();
  if (count == 0) return -1;
  const double length = music_->ShowLength();
  int64_t pass = 0;
  if (music_->ShowLoops() && length > 0 && time >= length) pass = static_cast<int64_t>(std::floor(time / length));
  const double local = time - static_cast<double>(pass) * length;
  int index = 0;
  while (index + 1 < count && music_->SlideMusic(index + 1).timing.start <= local)
    ++index;
  return pass * count + index;
}

void TKivMusicPlayer::Schedule(bool first, double from, double to) {
  const double length = music_->ShowLength();
  const TRef<TPlayList>& main = music_->MainPlayList();
  if (music_->SyncMode() && main) {
    // A show of length 0 has a single pass: dividing by its length would never end.
    const bool passes = music_->ShowLoops() && length > 0;
    const int64_t firstPass = (passes ? static_cast<int64_t>(std::floor(from / length)) : 0) + (first ? 0 : 1);
    const int64_t lastPass = passes ? static_cast<int64_t>(std::floor(to / length)) : 0;
    for (int64_t i = std::max<int64_t>(firstPass, 0); i <= lastPass; ++i) {
      const double start = static_cast<double>(i) * (passes ? length : 0);
      if (from < start)
        new TPlaySequence(*this, main, start, 0);
      else
        new TPlaySequence(*this, main, from, from - start);
    }
  }

  const int count = music_->SlideCount();
  if (count == 0) return;
  const int64_t last = SlidePositionAt(to);
  const int64_t firstSlide = first ? std::max<int64_t>(0, currentSlide_ - count) : currentSlide_ + 1;
  for (int64_t position = firstSlide; position <= last; ++position) {
    const TSlideMusicInfo info = music_->SlideMusicAt(position);
    if (info.HasComment()) {
      double start = info.timing.start;
      double offset = 0;
      if (from > start) {
        offset = from - start;
        start = from;
      }
      if (offset < info.comment.duration) {
        LogLine(u"New Comment begin " + info.comment.fileName);
        LogNumbers("Comment", {start, offset, info.comment.duration});
        new TPlayComment(*this, info.comment.fileName, start, start + info.comment.duration - offset,
                         static_cast<int>(offset + info.comment.start));
      }
    }
    if (position >= currentSlide_ && info.playList)
      new TPlaySequence(*this, info.playList, info.timing.start, 0);
  }
  currentSlide_ = std::max(currentSlide_, last);
}

void TKivMusicPlayer::FreeItems(bool all) {
  for (TPlayItem* item : std::vector<TPlayItem*>(items_))
    if (all || item->Stopped()) TObj::Free(item);
}

void TKivMusicPlayer::Step() {
  auto begun = std::chrono::steady_clock::now();
  Events().Process();
  bool running;
  double endLimit;
  {
    std::lock_guard lock(lock_);
    running = running_;
    endLimit = endLimit_;
  }
  const double time = std::min(GetShowTime(), endLimit - 1);
  if (running) {
    Schedule(false, windowEnd_, time + kWindowMs);
    windowEnd_ = time + kWindowMs;
  }
  double ms = MsSince(begun);
  if (ms > 1) LogLine("+++++++++++++++++++ Main Synch Time " + LogFloatText(ms));

  begun = std::chrono::steady_clock::now();
  for (TPlayItem* item : std::vector<TPlayItem*>(items_))
    if (!item->Stopped()) item->Update(running, time);
  ms = MsSince(begun);
  if (ms > 1) LogLine("+++++++++++++++++++ Total Synch Time " + LogFloatText(ms));

  begun = std::chrono::steady_clock::now();
  startList_.StartAll(time);
  FreeItems(false);
  const bool allReady = std::all_of(items_.begin(), items_.end(), [](TPlayItem* item) { return item->Ready(); });
  ready_.store(allReady || running, std::memory_order_release);
  ms = MsSince(begun);
  if (ms > 1) LogLine("+++++++++++++++++++ Total Free and Pack Time " + LogFloatText(ms));
}

TShowMusicFactory MusicPlayerFactory(TWaveOutDeviceFactory devices, TConverterFactory converters) {
  return [devices = std::move(devices), converters = std::move(converters)](TWorkerHost& host,
                                                                             TKivSource& source) {
    return TOwned<TShowMusic>(MakeOwned<TKivMusicPlayer>(host, &source, false, devices, converters));
  };
}

} // namespace kiv

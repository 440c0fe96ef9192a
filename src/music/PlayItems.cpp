#include "PlayItems.h"

#include "Assert.h"
#include "Log.h"
#include "MusicChannel.h"
#include "ShowMusicPlayer.h"
#include "Utf8Conversion.h"

#include <algorithm>
#include <chrono>
#include <cmath>

namespace kiv {

TPlayItem::TPlayItem(TKivMusicPlayer& player) : player_(player), number_(player.NextItemNumber()) {
  player_.AddItem(*this);
}

TPlayItem::~TPlayItem() { player_.RemoveItem(*this); }

void TPlayItem::Stop(bool) { stopped_ = true; }

void TPlayItem::StopAndRelease(const TRef<TKivChannel>& channel, const char* label) {
  if (channel->Started()) {
    channel->Stop();
    LogLine(std::string(label) + channel->FileName());
  } else {
    channel->Abandon();
  }
  player_.Loader().Release(channel);
}

// Comments ------------------------------------------------------------------------------------------------

TPlayComment::TPlayComment(TKivMusicPlayer& player, const std::u16string& fileName, double start, double end,
                           int filePosition)
    : TPlayItem(player) {
  MakeChannel(Utf16ToUtf8(fileName), start, end, filePosition);
}

TPlayComment::~TPlayComment() {
  if (player_.CurrentComment() == this) {
    player_.SetCurrentComment(nullptr);
    LogLine("Clear CurComment !!!!!!!!!!!");
  } else {
    LogLine("Dispose noncurrent channel !!!!!!!!!!!");
  }
}

void TPlayComment::MakeChannel(std::string fileName, double start, double end, int filePosition) {
  RY_ASSERT(!channel_);
  channel_ = TRef<TKivChannel>::Make(player_.StartList(), number_, std::move(fileName), filePosition, start, end);
  player_.Loader().Load(channel_);
}

void TPlayComment::OnChannelReady(TKivChannel& channel) {
  RY_ASSERT(&channel == channel_.get());
  channel.SetReady();
  ready_ = true;
}

void TPlayComment::Update(bool running, double showTime) {
  if (stopped_ || !ready_) return;
  if (showTime >= channel_->EndTime() - kChannelFadeMs) {
    Stop(false);
  } else if (channel_->Started() && !running) {
    // The audio channel keeps its position, so the comment resumes where it stopped.
    if (stopOnPause_) channel_->Stop();
  } else if (running && showTime >= channel_->StartTime()) {
    channel_->Start();
    player_.SetCurrentComment(this);
  }
}

void TPlayComment::Stop(bool force) {
  if (stopped_) return;
  TPlayItem::Stop(force);
  StopAndRelease(channel_, "Stop Channel: ");
}

// Sequences -----------------------------------------------------------------------------------------------

TPlaySequence::TPlaySequence(TKivMusicPlayer& player, TRef<TPlayList> list, double start, double position)
    : TPlayItem(player), list_(std::move(list)), freeRunning_(!player.SyncMode()), start_(start),
      positionAtStart_(position) {
  ready_ = !list_ || list_->Count() == 0;
}

TPlaySequence::~TPlaySequence() {
  if (player_.CurrentSequence() == this) {
    player_.SetCurrentSequence(nullptr);
    LogLine("Clear CurSequence");
  }
  LogLine("TPlaySequence.Disposed");
}

void TPlaySequence::UpdateReady() {
  ready_ = std::all_of(channels_.begin(), channels_.end(), [](const auto& c) { return c->Ready(); });
}

void TPlaySequence::OnChannelReady(TKivChannel& channel) {
  RY_ASSERT(std::any_of(channels_.begin(), channels_.end(), [&](const auto& c) { return c.get() == &channel; }));
  channel.SetReady();
  UpdateReady();
}

void TPlaySequence::Update(bool running, double showTime) {
  if (stopped_) return;
  if (started_) {
    if (!running && !freeRunning_) {
      for (const TRef<TKivChannel>& channel : channels_)
        if (channel->Started()) channel->Stop();
      started_ = false;
    }
    if (started_)
      StepTo(freeRunning_ ? player_.MusicClock() - clockAtStart_ + positionAtStart_
                          : showTime - start_ + positionAtStart_);
  }
  if (stopped_ || started_) return;
  if (showTime >= start_) {
    if (running) {
      started_ = true;
      if (freeRunning_) clockAtStart_ = player_.MusicClock();
      LogLine("Sequence started at abs Time " + LogFloatText(showTime));
    }
    StepTo(freeRunning_ ? positionAtStart_ : showTime - start_ + positionAtStart_);
    if (!stopped_ && (running || !freeRunning_)) {
      TPlaySequence* previous = player_.CurrentSequence();
      player_.SetCurrentSequence(this);
      if (previous && previous != this) previous->Stop(true);
    }
  } else {
    StepTo(positionAtStart_); // only preloads
  }
}

void TPlaySequence::StepTo(double x) {
  if (!list_ || list_->Count() == 0) return;
  const bool repeat = list_->Repeat();
  if (!repeat && x > list_->TotalLength()) {
    Stop(true);
    return;
  }
  const auto begun = std::chrono::steady_clock::now();
  const int64_t count = list_->Count();
  if (repeat && x > 0) {
    // Items of earlier passes all end before the pass that holds x begins.
    const int64_t pass = static_cast<int64_t>(std::floor(x / list_->TotalLength()));
    nextIndex_ = std::max(nextIndex_, pass * count);
  }
  for (int64_t i = nextIndex_; repeat || i < count; ++i) {
    const TMusicItemInfo item = list_->Item(i);
    if (item.start >= x + kPreloadMs) break;
    nextIndex_ = i + 1;
    if (item.start + item.duration <= x) continue;
    const double offset = std::max(0.0, x - item.start);
    if (offset > item.duration) continue;
    LogLine(u"Preload " + item.fileName);
    LogLine("Preload to time start " + LogFloatText(item.start));
    auto channel = TRef<TKivChannel>::Make(player_.StartList(), number_, Utf16ToUtf8(item.fileName),
                                           static_cast<int>(offset), std::max(x, item.start),
                                           item.start + item.duration);
    channels_.push_back(channel);
    ready_ = false;
    player_.Loader().Load(channel);
  }
  if (!started_) {
    // Nothing due to load (items of length 0, say) must not hold the show back.
    UpdateReady();
    return;
  }
  for (size_t k = 0; k < channels_.size();) {
    const TRef<TKivChannel> channel = channels_[k];
    if (x < channel->EndTime()) {
      if (channel->Ready() && !channel->Started() && x >= channel->StartTime()) {
        channel->Start();
        LogLine("Start Channel: " + channel->FileName() + "   IntTime: " + LogFloatText(x));
      }
      ++k;
      continue;
    }
    channels_.erase(channels_.begin() + static_cast<std::ptrdiff_t>(k));
    StopAndRelease(channel, "Stop Channel: ");
    LogLine("Release Channel Time " + LogFloatText(x));
  }
  UpdateReady();
  const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - begun).count();
  if (ms > 1) LogLine("|||||||||||||||||||||||||| Watch Synch Time " + LogFloatText(ms));
}

void TPlaySequence::Stop(bool force) {
  if (stopped_ || (freeRunning_ && !force)) return;
  TPlayItem::Stop(force);
  LogLine("Finally sequence stop " + LogFloatText(started_ ? player_.MusicClock() - clockAtStart_ : 0));
  for (const TRef<TKivChannel>& channel : channels_)
    StopAndRelease(channel, "Stop Channel: ");
  channels_.clear();
  started_ = false;
  ready_ = true;
}

} // namespace kiv

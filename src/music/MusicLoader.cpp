#include "MusicLoader.h"

#include "Assert.h"
#include "Log.h"
#include "MusicChannel.h"
#include "MusicPlayer.h"
#include "ShowFileAccess.h"
#include "Utf8Conversion.h"

#include <algorithm>
#include <string_view>

namespace kiv {

namespace {
constexpr std::string_view kFromDiskPrefix = "LoadFromDisk:";
} // namespace

TKivChannel::TKivChannel(TChannelOperator& startList, int owner, std::string fileName, int filePosition,
                         double start, double end)
    : startList_(startList), fileName_(std::move(fileName)), filePosition_(filePosition), start_(start),
      end_(end), owner_(owner) {}

void TKivChannel::Start() {
  if (!ready_ || started_) return;
  started_ = true;
  startList_.Add(*this);
}

void TKivChannel::Stop() {
  if (!started_) return;
  started_ = false;
  if (startList_.Remove(*this)) return;
  if (audio_) audio_->Stop(kChannelFadeMs);
  LogLine("+++++++++++++++++++ Channel " + fileName_ + " Stop Time " + LogFloatText(start_));
  stopped_ = true;
}

void TKivChannel::SetLoaded(TChannelMusic* audio, double end) noexcept {
  audio_ = audio;
  end_ = end;
}

void TKivChannel::Dispose() {
  // Freeing the audio channel fades whatever still sounds.
  if (audio_) {
    TObj::Free(audio_);
    audio_ = nullptr;
    LogLine("+++++++++++++++++++ Destroy Channel " + fileName_ + " Time ");
  }
  TRefObj::Dispose();
}

void TChannelOperator::Add(TKivChannel& channel) {
  channels_.push_back(TRef<TKivChannel>::Share(&channel));
}

bool TChannelOperator::Remove(TKivChannel& channel) {
  const auto found =
      std::find_if(channels_.begin(), channels_.end(), [&](const auto& c) { return c.get() == &channel; });
  if (found == channels_.end()) return false;
  channels_.erase(found);
  return true;
}

void TChannelOperator::StartAll(double showTime) {
  for (const TRef<TKivChannel>& channel : channels_) {
    if (channel->Audio()) channel->Audio()->Play(kChannelFadeMs);
    channel->SetStopped(false);
    LogLine("+++++++++++++++++++ Play Channel " + channel->FileName() + " Time " + LogFloatText(showTime));
  }
  channels_.clear();
}

TMusicLoader::TMusicLoader(TWorkerHost& host, TThreadEventList& playerQueue, TMusicPlayer* audio,
                           TFileAccessor* accessor)
    : TKivThread(host, "MusicLoader", kPeriodMs, kOrderMusicLoader), playerQueue_(playerQueue), audio_(audio),
      accessor_(accessor) {
  if (!audio_) return;
  audio_->SetOpenStreamHandler([accessor](void*, const std::string& name) -> TStreamPtr {
    if (!accessor) return nullptr;
    if (std::string_view(name).starts_with(kFromDiskPrefix))
      return OpenDiskFile(*accessor, Utf8ToUtf16(name.substr(kFromDiskPrefix.size())));
    return Open(*accessor, Utf8ToUtf16(name));
  });
  audio_->SetCloseStreamHandler([](void*, TStreamPtr) {});
}

void TMusicLoader::Load(TRef<TKivChannel> channel) {
  Events().Post(kLoadChannelEvent, MakeOwned<TChannelContainer>(std::move(channel)));
}

void TMusicLoader::Release(TRef<TKivChannel> channel) {
  Events().Post(kReleaseChannelEvent, MakeOwned<TChannelContainer>(std::move(channel)));
}

void TMusicLoader::HandleEvent(int number, TObj* data) {
  auto* container = dynamic_cast<TChannelContainer*>(data);
  RY_ASSERT_MSG(container && container->Channel(), "Unknown EventID");
  if (number == kReleaseChannelEvent) return; // the queue frees the container and its reference
  RY_ASSERT_MSG(number == kLoadChannelEvent, "Unknown EventID");
  TKivChannel& channel = *container->Channel();
  if (channel.Owner() < 0) return;
  if (audio_) {
    TChannelMusic* audio = audio_->CreateChannel(channel.FileName(), channel.FilePosition());
    double end = channel.EndTime();
    if (!audio) {
      LogLine("+++++++++++++++++++ Channel Create ERROR");
    } else if (audio->GetDuration() > 0) {
      // A duration of 0 means unknown: the channel then plays to its file's end.
      end = std::min(end, double(audio->GetDuration()) - channel.FilePosition() + channel.StartTime());
    }
    channel.SetLoaded(audio, end);
  }
  playerQueue_.Post(kChannelLoadedEvent, MakeOwned<TChannelContainer>(container->Channel()));
}

} // namespace kiv

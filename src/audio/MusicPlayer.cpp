#include "MusicPlayer.h"

#include "Assert.h"
#include "CompositeConverter.h"
#include "Log.h"
#include "MusicVoice.h"

#include <algorithm>
#include <exception>

namespace kiv {

TMusicPlayerClass::TMusicPlayerClass(TWorkerHost& host, const TWaveOutDeviceFactory& devices,
                                     TConverterFactory converters)
    : host_(host), converters_(std::move(converters)), namedHooks_(CompositeSoundHooks()),
      device_(devices ? devices() : nullptr), killer_(MakeOwned<TChannelKiller>(host)) {}

TMusicPlayerClass::~TMusicPlayerClass() {
  try {
    Dispose();
  } catch (const std::exception& e) {
    ReportAssertion(e.what(), __FILE__, __LINE__);
  }
}

void TMusicPlayerClass::Dispose() {
  if (disposed_) return;
  disposed_ = true;
  std::vector<TChannelMusic*> channels;
  {
    std::lock_guard lock(lock_);
    channels.swap(channels_);
  }
  for (TChannelMusic* channel : channels) {
    killer_->AdoptVoices(*channel);
    channel->DetachPlayer();
    TObj::Free(channel);
  }
  // Ends the worker, then frees the voices it still held, fading or not.
  killer_ = nullptr;
  {
    std::lock_guard lock(timerLock_);
    timer_ = nullptr;
  }
  device_ = nullptr;
}

bool TMusicPlayerClass::IsDeviceReady() {
  return device_ && device_->IsValid();
}

float TMusicPlayerClass::GetVolume() {
  std::lock_guard lock(lock_);
  return volume_;
}

void TMusicPlayerClass::SetVolume(float volume) {
  std::lock_guard lock(lock_);
  volume_ = volume;
  for (TChannelMusic* channel : channels_)
    channel->SetMasterVolume(volume);
}

void TMusicPlayerClass::SetCloseStreamHandler(TStreamCloseHandler handler) {
  std::lock_guard lock(handlerLock_);
  closeHandler_ = std::move(handler);
}

void TMusicPlayerClass::SetOpenStreamHandler(TStreamOpenHandler handler) {
  std::lock_guard lock(handlerLock_);
  openHandler_ = std::move(handler);
}

TStreamOpenHandler TMusicPlayerClass::GetOpenStreamHandler() {
  std::lock_guard lock(handlerLock_);
  return openHandler_;
}

TStreamCloseHandler TMusicPlayerClass::GetCloseStreamHandler() {
  std::lock_guard lock(handlerLock_);
  return closeHandler_;
}

TStreamPtr TMusicPlayerClass::OpenSoundStream(void* owner, const std::string& fileName) {
  return StreamWrapper().Open(owner, fileName, GetOpenStreamHandler());
}

TStreamPtr TMusicPlayerClass::OpenShiftedSoundStream(void* owner, const std::string& fileName,
                                                     int64_t shift) {
  return StreamWrapper().OpenShifted(owner, fileName, shift, GetOpenStreamHandler());
}

void TMusicPlayerClass::CloseSoundStream(void* owner, TStreamPtr stream) {
  if (stream) StreamWrapper().Close(owner, std::move(stream), GetCloseStreamHandler());
}

double TMusicPlayerClass::GetTime() {
  if (!IsDeviceReady()) return 0;
  std::lock_guard lock(timerLock_);
  if (!timer_) {
    try {
      timer_ = device_->CreateTimerChannel();
    } catch (const std::exception& e) {
      LogLine(std::string("TMusicPlayerClass.GetTime: ") + e.what());
      timer_ = nullptr;
    }
    if (!timer_) return 0;
  }
  if (!timer_->IsStarted()) timer_->Start();
  return timer_->GetTime();
}

TChannelMusic* TMusicPlayerClass::CreateChannel(const std::string& fileName, int startMs) {
  if (!IsDeviceReady()) return nullptr;
  TOwned<TChannelMusic> channel(new TChannelMusic(*this, fileName));
  if (!channel->Created()) {
    channel->DetachPlayer();
    return nullptr;
  }
  if (startMs != -1) channel->SetPosition(startMs);
  std::lock_guard lock(lock_);
  if (volume_ != 1.0f) channel->SetMasterVolume(volume_);
  channels_.push_back(channel.get());
  return channel.release();
}

void TMusicPlayerClass::RemoveChannel(TChannelMusic* channel) {
  std::lock_guard lock(lock_);
  const auto found = std::find(channels_.begin(), channels_.end(), channel);
  if (found == channels_.end()) {
    ReportAssertion(kAssertionFailure, __FILE__, __LINE__);
    return;
  }
  channels_.erase(found);
}

int TMusicPlayerClass::ChannelCount() {
  std::lock_guard lock(lock_);
  return static_cast<int>(channels_.size());
}

TOwned<TMusicPlayerClass> CreateMusicPlayer(TWorkerHost& host, const TWaveOutDeviceFactory& devices,
                                            TConverterFactory converters) {
  auto player = MakeOwned<TMusicPlayerClass>(host, devices, std::move(converters));
  try {
    if (!player->Device()) return nullptr;
    // A device that cannot make the audio clock plays nothing in step.
    TOwned<TTimerChannel> probe = player->Device()->CreateTimerChannel();
    if (!probe) return nullptr;
  } catch (const std::exception& e) {
    LogLine(std::string("CreateMusicPlayer: ") + e.what());
    return nullptr;
  }
  return player;
}

} // namespace kiv

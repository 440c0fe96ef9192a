#pragma once
// The sound engine a show's music player drives: a player owns its sound device, its channels, their
// master volume, the audio clock (the timer channel) and the channel killer that frees finished voices.
// Everything is per player: the device comes from the player's device factory, decoders from its
// converter factory, streams from its open and close handlers, and the killer runs on the player's host.

#include "ChannelKiller.h"
#include "ConverterFactory.h"
#include "MusicChannel.h"
#include "SoundFileSource.h"
#include "WaveOutDevice.h"
#include "WorkerThread.h"

#include <mutex>
#include <string>
#include <vector>

namespace kiv {

class TMusicPlayer : public TObj {
public:
  // The device is valid.
  virtual bool IsDeviceReady() = 0;
  // The master volume (1.0 at creation).
  virtual float GetVolume() = 0;
  // Stores it and hands it to every channel as its master factor.
  virtual void SetVolume(float volume) = 0;
  // Without handlers (an empty function) streams are files opened read-only and freed on close.
  virtual void SetCloseStreamHandler(TStreamCloseHandler handler) = 0;
  virtual void SetOpenStreamHandler(TStreamOpenHandler handler) = 0;
  virtual TStreamOpenHandler GetOpenStreamHandler() = 0;
  virtual TStreamCloseHandler GetCloseStreamHandler() = 0;
  // The audio clock in ms: the timer channel, made and started on first use; 0 while the device is not
  // ready or the timer channel cannot be made.
  virtual double GetTime() = 0;
  // A channel for a file name (or composite text), positioned at startMs unless that is -1; nullptr when
  // the device is not ready, the file cannot be described or no voice opens. The channel belongs to the
  // caller, who frees it with TObj::Free before the player goes; channels still alive when the player is
  // destroyed are freed by it.
  virtual TChannelMusic* CreateChannel(const std::string& fileName, int startMs) = 0;
};

class TMusicPlayerClass final : public TMusicPlayer, public TSoundFileSource {
public:
  // The device is made now by the factory; the killer starts on the host. Composite music texts are
  // recognised by the composite hooks.
  TMusicPlayerClass(TWorkerHost& host, const TWaveOutDeviceFactory& devices, TConverterFactory converters);
  ~TMusicPlayerClass() override;

  bool IsDeviceReady() override;
  float GetVolume() override;
  void SetVolume(float volume) override;
  void SetCloseStreamHandler(TStreamCloseHandler handler) override;
  void SetOpenStreamHandler(TStreamOpenHandler handler) override;
  TStreamOpenHandler GetOpenStreamHandler() override;
  TStreamCloseHandler GetCloseStreamHandler() override;
  double GetTime() override;
  TChannelMusic* CreateChannel(const std::string& fileName, int startMs) override;

  // TSoundFileSource: through the stream helper and this player's handlers.
  TStreamPtr OpenSoundStream(void* owner, const std::string& fileName) override;
  TStreamPtr OpenShiftedSoundStream(void* owner, const std::string& fileName, int64_t shift) override;
  void CloseSoundStream(void* owner, TStreamPtr stream) override;
  const TConverterFactory& Converters() const override { return converters_; }

  TWorkerHost& Host() const noexcept { return host_; }
  // nullptr when the factory made none.
  TWaveOutDevice* Device() const noexcept { return device_.get(); }
  TChannelKiller& Killer() const noexcept { return *killer_; }
  const TNamedSoundHooks& NamedHooks() const noexcept { return namedHooks_; }
  int ChannelCount();

protected:
  // Frees the channels left (their voices at once: the device goes with the player), then the killer,
  // the timer channel and the device.
  void Dispose() override;

private:
  friend class TChannelMusic;
  void RemoveChannel(TChannelMusic* channel);

  TWorkerHost& host_;
  const TConverterFactory converters_; // read-only after construction
  const TNamedSoundHooks namedHooks_;  // read-only after construction
  TOwned<TWaveOutDevice> device_;      // made at construction; freed last
  TOwned<TChannelKiller> killer_;      // made at construction

  std::mutex lock_;                      // the channel list and the master volume
  std::vector<TChannelMusic*> channels_; // guarded by lock_
  float volume_ = 1.0f;                  // guarded by lock_

  std::mutex handlerLock_;
  TStreamOpenHandler openHandler_;   // guarded by handlerLock_
  TStreamCloseHandler closeHandler_; // guarded by handlerLock_

  std::mutex timerLock_;
  TOwned<TTimerChannel> timer_; // guarded by timerLock_; made on first use
  bool disposed_ = false;       // the owner's thread
};

// A player whose device can make a timer channel; nullptr when it cannot (no sound output).
TOwned<TMusicPlayerClass> CreateMusicPlayer(TWorkerHost& host, const TWaveOutDeviceFactory& devices,
                                            TConverterFactory converters);

} // namespace kiv

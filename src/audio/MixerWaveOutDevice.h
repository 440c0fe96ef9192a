#pragma once
// The wave-out device over the software mixer: it opens the first backend of its output factory that
// works and makes voice buffers and timer channels whose workers run on the player's host.

#include "SoundOutput.h"
#include "WaveOutDevice.h"

#include <memory>
#include <string>

namespace kiv {

class TMixerWaveOutDevice final : public TWaveOutDevice {
public:
  // Without an output that opens, the device is not valid.
  TMixerWaveOutDevice(TWorkerHost& host, const TSoundOutputFactory& outputs);
  ~TMixerWaveOutDevice() override;

  bool IsValid() override;
  TOwned<TWaveOutBuffer> CreateBuffer(const TWaveFormat& format) override;
  TOwned<TTimerChannel> CreateTimerChannel() override;

  TSoundMixer& Mixer() noexcept { return *mixer_; }
  TWorkerHost& Host() noexcept { return host_; }
  // The backend's name ("sdl", "null", "offline"); "" without one.
  std::string OutputName() const;

private:
  TWorkerHost& host_;
  const std::shared_ptr<TSoundMixer> mixer_;
  std::unique_ptr<TSoundOutput> output_; // set at construction; goes first, so nothing pulls a dead mixer
};

// A factory of such devices for a player: each device opens its output from the given table.
TWaveOutDeviceFactory MixerWaveOutDeviceFactory(TWorkerHost& host, TSoundOutputFactory outputs);

} // namespace kiv

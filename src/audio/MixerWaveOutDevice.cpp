#include "MixerWaveOutDevice.h"

#include "Log.h"
#include "MixerTimerChannel.h"
#include "MixerWaveOutBuffer.h"

namespace kiv {

TMixerWaveOutDevice::TMixerWaveOutDevice(TWorkerHost& host, const TSoundOutputFactory& outputs)
    : host_(host), mixer_(TSoundMixer::Create()), output_(outputs.Open(*mixer_, host)) {
  if (output_)
    LogLine("Sound output: " + output_->Name());
  else
    LogLine("!!! no sound output could be opened");
}

TMixerWaveOutDevice::~TMixerWaveOutDevice() = default;

bool TMixerWaveOutDevice::IsValid() {
  return output_ != nullptr;
}

std::string TMixerWaveOutDevice::OutputName() const {
  return output_ ? output_->Name() : std::string();
}

TOwned<TWaveOutBuffer> TMixerWaveOutDevice::CreateBuffer(const TWaveFormat& format) {
  if (!output_) return nullptr;
  return TMixerWaveOutBuffer::Create(mixer_, host_, format);
}

TOwned<TTimerChannel> TMixerWaveOutDevice::CreateTimerChannel() {
  return MakeOwned<TMixerTimerChannel>(output_ ? mixer_ : nullptr, host_);
}

TWaveOutDeviceFactory MixerWaveOutDeviceFactory(TWorkerHost& host, TSoundOutputFactory outputs) {
  return [&host, outputs = std::move(outputs)]() -> TOwned<TWaveOutDevice> {
    return MakeOwned<TMixerWaveOutDevice>(host, outputs);
  };
}

} // namespace kiv

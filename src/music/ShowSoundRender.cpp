#include "ShowSoundRender.h"

#include "MixerWaveOutDevice.h"
#include "ShowMusicPlayer.h"
#include "VirtualHost.h"

#include <cmath>

namespace kiv {

namespace {
// Loading is a step of the loader every 10 ms per channel; this bounds a show that never gets ready.
constexpr int kReadyLimitMs = 10000;
} // namespace

bool RenderShowSound(TKivSource& source, double fromMs, double toMs, TOfflineSoundOutput& output,
                     TConverterFactory converters) {
  TVirtualHost host;
  output.AttachTo(host);
  bool ok = false;
  {
    auto player = MakeOwned<TKivMusicPlayer>(host, &source, false, MixerWaveOutDeviceFactory(host, output.Factory()),
                                             std::move(converters));
    if (player->Audio()) {
      player->Start();
      player->SetTime(-1, std::max(0.0, fromMs));
      for (int ms = 0; ms < kReadyLimitMs && !player->IsReady(); ++ms)
        host.Advance(1);
      if (player->IsReady()) {
        output.TakeRecorded();
        player->SetPlaying(true);
        host.RunReady();
        host.Advance(static_cast<int64_t>(std::ceil(std::max(0.0, toMs - fromMs))));
        ok = true;
      }
    }
  }
  output.Detach();
  if (!ok) output.TakeRecorded();
  return ok;
}

} // namespace kiv

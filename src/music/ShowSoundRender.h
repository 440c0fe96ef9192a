#pragma once
// The show's sound between two show times, played by a music player on a virtual host with the offline
// output, so that an exported video's sound is exact and repeatable. The output records what it mixes.

#include "ConverterFactory.h"
#include "ShowTimeline.h"
#include "offline/OfflineSoundOutput.h"

namespace kiv {

// Positions a music player at fromMs, waits (without recording) until the music due there is loaded, then
// plays until toMs; output.Recorded() then holds the mix of [fromMs, toMs) (recording must be on). The
// output must not be attached to a host. False when the show has no sound device or the music never
// becomes ready (bounded), in which case nothing is recorded.
//
// The same steps in a loop of one's own (video export): TVirtualHost host; output.AttachTo(host);
// TKivMusicPlayer player(host, &source, false, MixerWaveOutDeviceFactory(host, output.Factory()));
// player.Start(); player.SetTime(-1, fromMs); advance the host until player.IsReady();
// output.TakeRecorded(); player.SetPlaying(true); host.RunReady(); then per frame host.Advance(period)
// and read player.GetShowTime() and output.TakeRecorded().
bool RenderShowSound(TKivSource& source, double fromMs, double toMs, TOfflineSoundOutput& output,
                     TConverterFactory converters = {});

} // namespace kiv

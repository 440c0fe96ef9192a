#pragma once
// A show's music player on the offline sound output under a virtual host, over a project written in the
// test whose sound files are small waves in a fresh folder; and what tests read back from the mix.

#include "../audio/ChannelTestSupport.h"
#include "MixerWaveOutDevice.h"
#include "MusicTestSupport.h"
#include "ShowMusicPlayer.h"
#include "TestEnvironment.h"
#include "VirtualHost.h"
#include "offline/OfflineSoundOutput.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

namespace kiv::test {

inline void WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// Slides ending at the given times; mainKeys and each slide's keys are added as written.
inline std::string Project(const std::vector<int>& ends, const std::string& mainKeys,
                           const std::vector<std::string>& slideKeys) {
  std::string text = "[main]\nopt_slidescount=" + std::to_string(ends.size()) + "\n";
  for (size_t i = 0; i < ends.size(); ++i)
    text += "opt_synchpos" + std::to_string(i + 1) + "=" + std::to_string(ends[i]) + "\n";
  text += mainKeys;
  for (size_t i = 0; i < ends.size(); ++i)
    text += "[Slide" + std::to_string(i + 1) + "]\n" + (i < slideKeys.size() ? slideKeys[i] : "");
  return text;
}

struct TShowPlayerRig {
  // withDevice false: no sound device at all, the clock is the host's.
  explicit TShowPlayerRig(bool device = true)
      : output({441, true}), dir(kivtest::FreshTempDir("kiv-player").string()), withDevice(device) {
    if (withDevice) output.AttachTo(host);
  }
  ~TShowPlayerRig() {
    player = nullptr;
    output.Detach();
  }

  // A constant level (left = level, right = -level) of the given length, as dir/name.
  std::string Dc(const std::string& name, int64_t ms, int level) {
    WriteFile(dir + "/" + name, channeltest::DcWave(ms, level));
    return dir + "/" + name;
  }
  // Left = frame number / 4, so the position played can be read from a sample.
  std::string Ramp(const std::string& name, int64_t ms) {
    WriteFile(dir + "/" + name, channeltest::RampWave(ms));
    return dir + "/" + name;
  }

  void Open(const std::string& projectText) {
    source = Source(projectText);
    TWaveOutDeviceFactory devices;
    if (withDevice) devices = MixerWaveOutDeviceFactory(host, output.Factory());
    player = MakeOwned<TKivMusicPlayer>(host, source.get(), false, devices);
    player->Start();
  }

  // Positions the show at `at`, waits (bounded) until the music is ready, then runs it. Show time `at`
  // lies at frame 0 of Left() afterwards.
  bool BeginAt(double at) {
    player->SetTime(-1, at);
    for (int ms = 0; ms < 500 && !player->IsReady(); ++ms)
      host.Advance(1);
    if (!player->IsReady()) return false;
    output.TakeRecorded();
    startHostMs = host.Clock().NowMs();
    startShowMs = at;
    player->SetPlaying(true);
    host.RunReady();
    return true;
  }
  void Pause() {
    player->SetPlaying(false);
    host.RunReady();
  }

  // Left samples since BeginAt.
  std::vector<int> Left() const {
    const std::vector<int16_t> all = output.Recorded();
    std::vector<int> left;
    for (size_t i = 0; i + 1 < all.size(); i += 2)
      left.push_back(all[i]);
    return left;
  }
  // How far the show time stands behind the sound played since BeginAt, while running: the audio clock
  // begins to count once the output has begun to play (one mix period).
  double ClockLagMs() {
    return double(host.Clock().NowMs() - startHostMs) - (player->GetShowTime() - startShowMs);
  }
  // The frame of Left() at which show time t sounds, for a lag measured while running.
  int64_t FrameOfShowTime(double t, double lagMs) const { return std::llround((t - startShowMs + lagMs) * 44.1); }
  double ShowTimeOfFrame(int64_t frame, double lagMs) const { return double(frame) / 44.1 - lagMs + startShowMs; }

  TVirtualHost host;
  TOfflineSoundOutput output;
  std::string dir;
  bool withDevice = true;
  std::unique_ptr<TKivSource> source;
  TOwned<TKivMusicPlayer> player; // goes first
  int64_t startHostMs = 0;
  double startShowMs = 0;
};

// The first frame from `from` on whose left sample reaches at least `level` in magnitude, or -1.
inline int64_t FirstAtLeast(const std::vector<int>& left, int level, int64_t from = 0) {
  for (size_t i = static_cast<size_t>(std::max<int64_t>(from, 0)); i < left.size(); ++i)
    if (std::abs(left[i]) >= level) return static_cast<int64_t>(i);
  return -1;
}
// The first frame from `from` on that is silent, or -1.
inline int64_t FirstSilent(const std::vector<int>& left, int64_t from = 0) {
  for (size_t i = static_cast<size_t>(std::max<int64_t>(from, 0)); i < left.size(); ++i)
    if (left[i] == 0) return static_cast<int64_t>(i);
  return -1;
}

} // namespace kiv::test

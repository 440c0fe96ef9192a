#pragma once
// What the channel and composite tests share: wave files made in memory, a set of named files that
// counts what is open, and a music player on the offline output under a virtual clock.

#include "ConverterFactory.h"
#include "MixerWaveOutDevice.h"
#include "MusicPlayer.h"
#include "SoundFileSource.h"
#include "VirtualHost.h"
#include "offline/OfflineSoundOutput.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <functional>
#include <map>
#include <mutex>
#include <numbers>
#include <string>
#include <vector>

namespace kiv::channeltest {

inline void PutLe(std::vector<uint8_t>& out, uint32_t value, int bytes) {
  for (int i = 0; i < bytes; ++i)
    out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

// A RIFF wave file of 16-bit PCM holding the interleaved samples.
inline std::vector<uint8_t> WaveFile(const std::vector<int16_t>& samples, uint16_t channels = 2,
                                     uint32_t rate = 44100) {
  std::vector<uint8_t> file;
  const uint32_t data = static_cast<uint32_t>(samples.size() * 2);
  file.insert(file.end(), {'R', 'I', 'F', 'F'});
  PutLe(file, 36 + data, 4);
  file.insert(file.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
  PutLe(file, 16, 4);
  PutLe(file, 1, 2);
  PutLe(file, channels, 2);
  PutLe(file, rate, 4);
  PutLe(file, rate * channels * 2, 4);
  PutLe(file, channels * 2u, 2);
  PutLe(file, 16, 2);
  file.insert(file.end(), {'d', 'a', 't', 'a'});
  PutLe(file, data, 4);
  for (int16_t s : samples)
    PutLe(file, static_cast<uint16_t>(s), 2);
  return file;
}

inline int64_t FramesOfMs(int64_t ms) {
  return ms * 441 / 10;
}

// Stereo frames from a function of the frame number: (left, right).
inline std::vector<int16_t> StereoFrames(int64_t frames,
                                         const std::function<std::pair<int, int>(int64_t)>& at) {
  std::vector<int16_t> samples;
  samples.reserve(static_cast<size_t>(frames * 2));
  for (int64_t n = 0; n < frames; ++n) {
    const auto [left, right] = at(n);
    samples.push_back(static_cast<int16_t>(left));
    samples.push_back(static_cast<int16_t>(right));
  }
  return samples;
}

// A constant level: left = level, right = -level.
inline std::vector<uint8_t> DcWave(int64_t ms, int level) {
  return WaveFile(StereoFrames(FramesOfMs(ms), [&](int64_t) { return std::pair{level, -level}; }));
}

// Frame n holds n / step on the left (a slow ramp, so a position can be read back from a sample) and
// -level on the right.
inline std::vector<uint8_t> RampWave(int64_t ms, int step = 4) {
  return WaveFile(StereoFrames(FramesOfMs(ms), [&](int64_t n) {
    return std::pair{int(n / step % 32768), -1000};
  }));
}

inline std::vector<uint8_t> SineWave(int64_t ms, double hz, int amplitude) {
  return WaveFile(StereoFrames(FramesOfMs(ms), [&](int64_t n) {
    const int s =
        static_cast<int>(std::lround(amplitude * std::sin(2 * std::numbers::pi * hz * n / 44100.0)));
    return std::pair{s, s};
  }));
}

// Named files in memory, opened as streams; counts the streams open now and every open by name.
class TMemoryFiles {
public:
  void Add(const std::string& name, std::vector<uint8_t> bytes) {
    std::lock_guard lock(mutex_);
    files_[name] = std::move(bytes);
  }
  TStreamPtr Open(const std::string& name) {
    std::lock_guard lock(mutex_);
    const auto found = files_.find(name);
    if (found == files_.end()) return nullptr;
    ++open_;
    ++opened_[name];
    if (onOpen) onOpen(name);
    return TStreamPtr(new TMemoryStream(found->second));
  }
  void Close(TStreamPtr stream) {
    std::lock_guard lock(mutex_);
    if (stream) --open_;
    stream = nullptr;
  }
  int OpenNow() {
    std::lock_guard lock(mutex_);
    return open_;
  }
  int TimesOpened(const std::string& name) {
    std::lock_guard lock(mutex_);
    return opened_[name];
  }
  // Installs both handlers on a player.
  void Serve(TMusicPlayer& player) {
    player.SetOpenStreamHandler([this](void*, const std::string& name) { return Open(name); });
    player.SetCloseStreamHandler([this](void*, TStreamPtr stream) { Close(std::move(stream)); });
  }

  std::function<void(const std::string& name)> onOpen; // called under the lock; set before use

private:
  std::mutex mutex_;
  std::map<std::string, std::vector<uint8_t>> files_;
  std::map<std::string, int> opened_;
  int open_ = 0;
};

// The files as a composite's members see them, without a player.
class TMemorySource final : public TSoundFileSource {
public:
  explicit TMemorySource(TMemoryFiles& files) : files_(files) {}
  TStreamPtr OpenSoundStream(void*, const std::string& fileName) override { return files_.Open(fileName); }
  TStreamPtr OpenShiftedSoundStream(void*, const std::string& fileName, int64_t shift) override {
    return StreamWrapper().OpenShifted(nullptr, fileName, shift,
                                       [this](void*, const std::string& name) { return files_.Open(name); });
  }
  void CloseSoundStream(void*, TStreamPtr stream) override { files_.Close(std::move(stream)); }
  const TConverterFactory& Converters() const override { return converters_; }

private:
  TMemoryFiles& files_;
  TConverterFactory converters_;
};

// A music player on the offline output; the output moves 44.1 frames at every ms of the host and keeps
// what it mixed.
struct TPlayerRig {
  TPlayerRig() : output({441, true}) {
    output.AttachTo(host);
    player = CreateMusicPlayer(host, MixerWaveOutDeviceFactory(host, output.Factory()), TConverterFactory());
    if (player) files.Serve(*player);
  }
  ~TPlayerRig() { player = nullptr; }

  // Left samples of the frames mixed so far.
  std::vector<int> Left() const {
    const std::vector<int16_t> all = output.Recorded();
    std::vector<int> left(all.size() / 2);
    for (size_t i = 0; i < left.size(); ++i)
      left[i] = all[2 * i];
    return left;
  }

  TVirtualHost host;
  TOfflineSoundOutput output;
  TMemoryFiles files;
  TOwned<TMusicPlayerClass> player; // goes before the output and the host
};

} // namespace kiv::channeltest

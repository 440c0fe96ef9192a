#pragma once
// What the sound output tests share: a device on the offline output under a virtual host, wave formats,
// and a source of numbered frames whose order shows every gap, repeat or overwrite.

#include "MixerWaveOutBuffer.h"
#include "MixerWaveOutDevice.h"
#include "VirtualHost.h"
#include "offline/OfflineSoundOutput.h"

#include <cstdint>
#include <cstring>
#include <vector>

namespace kiv::soundtest {

inline TWaveFormat PcmFormat(uint32_t rate, uint16_t channels, uint16_t bits) {
  TWaveFormat format;
  format.formatTag = 1;
  format.channels = channels;
  format.samplesPerSec = rate;
  format.blockAlign = static_cast<uint16_t>(channels * bits / 8);
  format.avgBytesPerSec = rate * format.blockAlign;
  format.bitsPerSample = bits;
  return format;
}

// A device on the offline output. With attach, the output moves 44.1 frames at every tick of the host;
// without, only when the test calls AdvanceFrames.
struct TOfflineRig {
  explicit TOfflineRig(bool attach = true, int periodFrames = 441) : output({periodFrames, true}) {
    if (attach) output.AttachTo(host);
    device = MakeOwned<TMixerWaveOutDevice>(host, output.Factory());
  }
  TMixerWaveOutBuffer& Buffer(const TOwned<TWaveOutBuffer>& buffer) {
    return static_cast<TMixerWaveOutBuffer&>(*buffer);
  }

  TVirtualHost host;
  TOfflineSoundOutput output;
  TOwned<TMixerWaveOutDevice> device; // goes before the output and the host
};

// Numbered stereo 16-bit frames: frame n is (n mod 32768, -(n mod 32768)). Fill writes the next ones.
struct TNumberedFrames {
  static int16_t Left(int64_t n) { return static_cast<int16_t>(n % 32768); }

  void Fill(uint8_t* data, uint32_t bytes) {
    for (uint32_t i = 0; i + 4 <= bytes; i += 4, ++next) {
      const int16_t frame[2] = {Left(next), static_cast<int16_t>(-Left(next))};
      std::memcpy(data + i, frame, 4);
    }
  }
  int64_t next = 0;
};

// The first frame number at which recorded stereo output differs from the numbered frames, or -1.
inline int64_t FirstMismatch(const std::vector<int16_t>& recorded, int64_t firstNumber = 0) {
  for (size_t i = 0; i + 1 < recorded.size(); i += 2) {
    const int64_t n = firstNumber + static_cast<int64_t>(i / 2);
    if (recorded[i] != TNumberedFrames::Left(n) || recorded[i + 1] != -TNumberedFrames::Left(n))
      return static_cast<int64_t>(i / 2);
  }
  return -1;
}

} // namespace kiv::soundtest

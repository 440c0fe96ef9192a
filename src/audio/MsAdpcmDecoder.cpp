#include "MsAdpcmDecoder.h"

#include <algorithm>
#include <climits>
#include <cstdint>

namespace kiv {
namespace {

constexpr int kAdaptation[16] = {230, 230, 230, 230, 307, 409, 512, 614, 768, 614, 512, 409, 307, 230, 230, 230};

int16_t Le16(const uint8_t* p) {
  return static_cast<int16_t>(p[0] | (p[1] << 8));
}

struct TChannelState {
  int coefficient1 = 0;
  int coefficient2 = 0;
  int delta = 0;
  int sample1 = 0; // the newer of the two
  int sample2 = 0;

  int16_t Expand(int nibble) {
    const int predicted = static_cast<int>((int64_t(sample1) * coefficient1 + int64_t(sample2) * coefficient2) / 256);
    const int signedNibble = nibble >= 8 ? nibble - 16 : nibble;
    const int value = std::clamp(predicted + signedNibble * delta, -32768, 32767);
    sample2 = sample1;
    sample1 = value;
    // A broken block can grow the step without bound; keep the products within range.
    delta = std::min(kAdaptation[nibble] * delta / 256, INT_MAX / 768);
    if (delta < 16) delta = 16;
    return static_cast<int16_t>(value);
  }
};

} // namespace

bool ReadMsAdpcmLayout(const TWaveFormat& format, const uint8_t extension[32], TMsAdpcmLayout& layout) {
  layout = TMsAdpcmLayout();
  if (format.channels != 1 && format.channels != 2) return false;
  if (format.blockAlign < 7 * format.channels) return false;
  const int count = static_cast<uint16_t>(Le16(extension + 2));
  if (count < 1 || count > 7) return false;
  layout.channels = format.channels;
  layout.blockAlign = format.blockAlign;
  const int whole = (format.blockAlign - 7 * format.channels) * 2 / format.channels + 2;
  const int stated = static_cast<uint16_t>(Le16(extension));
  // A stated count below what the block holds leaves the rest of each block unused.
  layout.samplesPerBlock = stated >= 2 && stated < whole ? stated : whole;
  layout.coefficientCount = count;
  for (int i = 0; i < count; ++i) {
    layout.coefficients[i][0] = Le16(extension + 4 + 4 * i);
    layout.coefficients[i][1] = Le16(extension + 6 + 4 * i);
  }
  return true;
}

int MsAdpcmFramesIn(const TMsAdpcmLayout& layout, int bytes) {
  bytes = std::min(bytes, layout.blockAlign);
  if (layout.channels < 1 || bytes < 7 * layout.channels) return 0;
  return std::min((bytes - 7 * layout.channels) * 2 / layout.channels + 2, layout.samplesPerBlock);
}

int DecodeMsAdpcmBlock(const TMsAdpcmLayout& layout, const uint8_t* block, int bytes, int16_t* out) {
  const int frames = MsAdpcmFramesIn(layout, bytes);
  if (frames == 0) return 0;
  const int channels = layout.channels;
  TChannelState state[2];
  // Headers: predictor indices, deltas, newer samples, older samples; one of each per channel.
  const uint8_t* p = block;
  for (int c = 0; c < channels; ++c) {
    const int predictor = p[c];
    if (predictor >= layout.coefficientCount) return -1;
    state[c].coefficient1 = layout.coefficients[predictor][0];
    state[c].coefficient2 = layout.coefficients[predictor][1];
  }
  p += channels;
  for (int c = 0; c < channels; ++c, p += 2) state[c].delta = Le16(p);
  for (int c = 0; c < channels; ++c, p += 2) state[c].sample1 = Le16(p);
  for (int c = 0; c < channels; ++c, p += 2) state[c].sample2 = Le16(p);
  // The older sample plays first.
  for (int c = 0; c < channels; ++c) out[c] = static_cast<int16_t>(state[c].sample2);
  if (frames > 1)
    for (int c = 0; c < channels; ++c) out[channels + c] = static_cast<int16_t>(state[c].sample1);
  // Nibbles, high first, alternate between the channels of a stereo block.
  const int nibbles = (frames - 2) * channels;
  int16_t* w = out + 2 * channels;
  for (int i = 0; i < nibbles; ++i) {
    const uint8_t byte = p[i / 2];
    const int nibble = i % 2 == 0 ? byte >> 4 : byte & 15;
    *w++ = state[channels == 2 ? i % 2 : 0].Expand(nibble);
  }
  return frames;
}

} // namespace kiv

#pragma once
// Reductions used for mip levels: the exact 2 x 2 average, and bilinear resampling in 1/256 weights whose
// integer arithmetic is part of the picture's contract (levels must come out the same on every machine).

#include "DeviceLayer.h"

#include <cstdint>
#include <vector>

namespace kiv {

// One destination column: blend source pixels `index` and `index + 1` with `weight`/256 of the second.
struct TBilinearEntry {
  int32_t index = 0;
  int32_t weight = 0;
};

// The column table for resampling a row of `sourceWidth` pixels into `destWidth`.
std::vector<TBilinearEntry> BilinearColumnTable(int32_t sourceWidth, int32_t destWidth);

// a + (b - a) * weight / 256 rounded towards a's side as 8-bit arithmetic does (floor of the signed step).
inline uint8_t BlendChannel(uint8_t a, uint8_t b, int32_t weight) {
  return static_cast<uint8_t>(a + (((int32_t{b} - int32_t{a}) * weight) >> 8));
}
uint32_t BlendPixel(uint32_t a, uint32_t b, int32_t weight);

// Keeps the column table between calls while the widths stay the same.
class TBilinearResampler {
public:
  // Both bitmaps 32 bits per pixel (a contract violation otherwise); the whole source into the whole dest.
  void Resample(const TDevBitmap& source, TDevBitmap& dest);

private:
  void ResampleRow(const uint32_t* source, int32_t sourceWidth, uint32_t* dest, int32_t destWidth);

  std::vector<TBilinearEntry> columns_;
  int32_t tableSource_ = -1, tableDest_ = -1;
};

// Level i from level i - 1 when it is exactly half as wide and high: each channel the floor of the mean of
// its 2 x 2 block. Any pixel size.
void HalveBitmap(const TDevBitmap& source, TDevBitmap& dest);

} // namespace kiv

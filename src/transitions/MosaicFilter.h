#pragma once
// The mosaic: the picture in a grid of cells, each fading in over 256 steps after its own delay.

#include "DrawFilter.h"

#include <vector>

namespace kiv {

// The delay generator: seed = seed x 1664525 + 1013904223 (32 bits), then u is the float made of 1.0's
// exponent and the seed's low 23 bits, minus 1.0.
class TMosaicRandom {
public:
  explicit TMosaicRandom(uint32_t seed) : seed_(seed) {}
  float Next();

private:
  uint32_t seed_;
};

class TRandomFilter final : public TDrawFilter {
public:
  // Columns and rows come from show data: they are held to 1 .. kMaxCells each.
  static constexpr int32_t kMaxCells = 256;

  TRandomFilter(int32_t columnCount, int32_t rowCount, int32_t seedValue, int32_t spreadValue);
  // Also builds the delays: cell by cell, row by row, the integer part of u x (spread x 100).
  void Setup(const TRect& frame, float smooth, float lengthValue) override;
  void DrawWith(TEffController& controller) override;

  // The alpha of a cell with this delay at the current position; negative: not drawn.
  int32_t CellAlpha(int32_t delay) const;
  const std::vector<int32_t>& Delays() const { return delays_; }
  int32_t columns, rows;
  int32_t seed;
  int32_t spread; // 0 .. 1000

private:
  std::vector<int32_t> delays_;
};

} // namespace kiv

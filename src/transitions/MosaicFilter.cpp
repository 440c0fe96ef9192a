#include "MosaicFilter.h"

#include <algorithm>
#include <bit>

namespace kiv {

float TMosaicRandom::Next() {
  seed_ = seed_ * 1664525u + 1013904223u;
  const uint32_t bits = 0x3F800000u | (seed_ & 0x007FFFFFu);
  return std::bit_cast<float>(bits) - 1.0f;
}

TRandomFilter::TRandomFilter(int32_t columnCount, int32_t rowCount, int32_t seedValue, int32_t spreadValue)
    : columns(std::clamp(columnCount, 1, kMaxCells)), rows(std::clamp(rowCount, 1, kMaxCells)),
      seed(seedValue), spread(std::clamp(spreadValue, 0, 1000)) {}

void TRandomFilter::Setup(const TRect& frame, float smooth, float lengthValue) {
  TDrawFilter::Setup(frame, smooth, lengthValue);
  TMosaicRandom random(static_cast<uint32_t>(seed));
  const auto k = static_cast<float>(spread * 100);
  delays_.resize(static_cast<size_t>(columns) * static_cast<size_t>(rows));
  for (int32_t& delay : delays_)
    delay = static_cast<int32_t>(random.Next() * k);
}

int32_t TRandomFilter::CellAlpha(int32_t delay) const {
  const auto d = static_cast<int32_t>(NormalizedPosition() * static_cast<float>(spread * 100 + 256) - 256.0f);
  const int32_t k = delay - d;
  if (k >= 255) return -1;
  return k < 0 ? 255 : 255 - k;
}

void TRandomFilter::DrawWith(TEffController& controller) {
  const TRect u = updateRect;
  const float cw = static_cast<float>(u.Width()) / columns, ch = static_cast<float>(u.Height()) / rows;
  TMultiTile tile(controller);
  tile.BeginTiles(true, false);
  for (int32_t row = 0; row < rows; ++row)
    for (int32_t column = 0; column < columns; ++column) {
      const int32_t alpha = CellAlpha(delays_[static_cast<size_t>(row) * columns + column]);
      if (alpha < 0) continue;
      const float a = static_cast<float>(alpha);
      const float left = u.left + column * cw, top = u.top + row * ch;
      // The last cell ends exactly on the edge.
      const float right = column + 1 == columns ? float(u.right) : left + cw;
      const float bottom = row + 1 == rows ? float(u.bottom) : top + ch;
      const TAlphaPoint corners[4] = {{left, top, a}, {right, top, a}, {right, bottom, a}, {left, bottom, a}};
      tile.AddAlphaPolygon(corners);
    }
  tile.EndTiles();
}

} // namespace kiv

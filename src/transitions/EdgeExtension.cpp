#include "EdgeExtension.h"

#include <algorithm>

namespace kiv {

std::vector<std::vector<TRectCopy>> EdgeExtensionSteps(TSize texture, const TRect& picture, int32_t limit) {
  std::vector<std::vector<TRectCopy>> steps;
  const TRect inside = IntersectRect(picture, {0, 0, texture.width, texture.height});
  if (inside.IsEmpty() || limit <= 0) return steps;
  // Only what is free inside the texture is written: at the very edge nothing is copied.
  const int32_t n = std::min(texture.width - inside.right, limit);
  int32_t repeated = 0;
  for (int32_t width = 1; 2 * width - 1 <= n; width *= 2) {
    const int32_t from = inside.right - 1;
    steps.push_back({{{from, inside.top, from + width, inside.bottom},
                      {from + width, inside.top, from + 2 * width, inside.bottom}}});
    repeated = 2 * width - 1;
  }
  const int32_t right = inside.right + repeated;
  const int32_t m = std::min(texture.height - inside.bottom, limit);
  for (int32_t height = 1; 2 * height - 1 <= m; height *= 2) {
    const int32_t from = inside.bottom - 1;
    steps.push_back({{{inside.left, from, right, from + height},
                      {inside.left, from + height, right, from + 2 * height}}});
  }
  return steps;
}

bool TStagingArea::Place(TSize piece, TRect& place) {
  if (piece.width <= 0 || piece.height <= 0 || piece.width > free_.Width() || piece.height > free_.Height())
    return false;
  place = {free_.left, free_.top, free_.left + piece.width, free_.top + piece.height};
  if (piece.width < piece.height)
    free_.left += piece.width;
  else
    free_.top += piece.height;
  return true;
}

std::vector<TRectCopy> SplitCopy(const TRectCopy& copy, int32_t side) {
  std::vector<TRectCopy> pieces;
  if (side <= 0 || copy.from.IsEmpty()) return pieces;
  for (int32_t y = 0; y < copy.from.Height(); y += side)
    for (int32_t x = 0; x < copy.from.Width(); x += side) {
      const int32_t w = std::min(side, copy.from.Width() - x), h = std::min(side, copy.from.Height() - y);
      pieces.push_back(
          {{copy.from.left + x, copy.from.top + y, copy.from.left + x + w, copy.from.top + y + h},
           {copy.to.left + x, copy.to.top + y, copy.to.left + x + w, copy.to.top + y + h}});
    }
  return pieces;
}

} // namespace kiv

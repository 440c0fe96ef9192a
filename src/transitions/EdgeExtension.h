#pragma once
// The copies that repeat the last column and row of a picture beyond its right and bottom edges inside its
// texture, and how copies inside one texture are routed through a small staging target.

#include "DeviceLayer.h"

#include <cstdint>
#include <vector>

namespace kiv {

struct TRectCopy {
  TRect from, to;
  bool operator==(const TRectCopy&) const = default;
};

// Steps of copies; the copies of one step read nothing that an earlier copy of the same step writes, so a
// step may go in one batch while steps run in order. The picture covers `picture` inside a texture of
// `texture` pixels. Columns first: with n = min(texture width - right, limit) free columns, step k copies
// the 2^k columns from right - 1 to right - 1 + 2^k, for as long as 2^(k+1) - 1 <= n (each step doubles
// what repeats the last column); then rows in the same way over the widened width. limit 1 gives the single
// column and row. Copies never leave the texture.
std::vector<std::vector<TRectCopy>> EdgeExtensionSteps(TSize texture, const TRect& picture, int32_t limit);

// Places pieces of at most `side` x `side` pixels in a square staging target of that side: a piece that is
// narrower than tall takes the left end of the free area, which keeps what lies right of it; a wider one
// takes the top, which keeps what lies below.
class TStagingArea {
public:
  explicit TStagingArea(int32_t side) : side_(side) { Reset(); }
  // Where the piece goes; false when it does not fit in what is free.
  bool Place(TSize piece, TRect& place);
  void Reset() { free_ = {0, 0, side_, side_}; }
  int32_t Side() const { return side_; }

private:
  int32_t side_;
  TRect free_;
};

// A copy split into pieces of at most side x side pixels.
std::vector<TRectCopy> SplitCopy(const TRectCopy& copy, int32_t side);

} // namespace kiv

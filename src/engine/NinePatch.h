#pragma once
// Three-by-three stretch of a picture: the corners keep their size, the edges stretch along one axis and
// the centre along both, until the target is narrower than both insets together and the corners share
// it. Used for the video bar's background, track line, knob and button cells.

#include "Bitmap.h"
#include "DeviceLayer.h"
#include "ObjectBase.h"

#include <array>
#include <cstdint>

namespace kiv {

// The cell edges along one axis over [lo, hi) with near inset a and far inset b.
std::array<int32_t, 4> NinePatchGrid(int32_t lo, int32_t hi, int32_t a, int32_t b) noexcept;

class TNinePatch {
public:
  TNinePatch() = default;
  // A copy of the part of the picture (cut to it) with its insets; no picture gives an empty patch.
  TNinePatch(const TBitmap* picture, const TRect& part, int32_t left, int32_t top, int32_t right,
             int32_t bottom);

  bool Empty() const noexcept { return !pixels_; }
  int32_t Width() const noexcept { return pixels_ ? pixels_->Width() : 0; }
  int32_t Height() const noexcept { return pixels_ ? pixels_->Height() : 0; }
  bool SolidCentre() const noexcept { return solidCentre_; }

  // Blends the patch over the target rectangle of a 32-bit bitmap, clipped to the bitmap.
  void Draw(TBitmap& target, const TRect& where) const;

private:
  TRef<TBitmap> pixels_;
  int32_t left_ = 0, top_ = 0, right_ = 0, bottom_ = 0;
  bool solidCentre_ = false;
  uint32_t centre_ = 0;
};

} // namespace kiv

#pragma once
// The decoded picture that the shared image cache holds, and the turns that a show's rotation list asks
// for. The imaging subsystem's decoders produce these; until it exists a test or the program installs a
// decoder of its own (see SharedImageCache.h).

#include "LoadYield.h"
#include "ObjectBase.h"

#include <cstdint>
#include <vector>

namespace kiv {

// Orientation values as the EXIF orientation tag gives them; only these four occur in rotation lists.
enum TImageOrientation : int {
  kOrientNormal = 1,
  kOrientTurn180 = 3,
  kOrientTurnRight = 6, // stored lying on its left side: turned a quarter clockwise for display
  kOrientTurnLeft = 8,  // stored lying on its right side: turned a quarter counter-clockwise
};

// 32-bit pixels, rows top down.
class TCachedBitmap : public TRefObj {
public:
  TCachedBitmap(int width, int height, std::vector<uint32_t> pixels = {});

  int Width() const noexcept { return width_; }
  int Height() const noexcept { return height_; }
  const std::vector<uint32_t>& Pixels() const noexcept { return pixels_; }
  uint32_t Pixel(int x, int y) const { return pixels_[static_cast<size_t>(y) * width_ + x]; }

  // Long operations on the picture (uploads, tinting) call it between rows. Set once, before sharing.
  void SetLoadCallBack(TLoadCallBackFunc callback) noexcept { loadCallBack_ = callback; }
  TLoadCallBackFunc LoadCallBackFunc() const noexcept { return loadCallBack_; }

private:
  int width_;
  int height_;
  std::vector<uint32_t> pixels_;
  TLoadCallBackFunc loadCallBack_ = nullptr;
};

// A new bitmap turned as orientation asks; the same one for 1 and for values outside the list.
TRef<TCachedBitmap> OrientBitmap(const TRef<TCachedBitmap>& bitmap, int orientation);
// Quarter turns exchange the width and height that a decoder is asked for.
bool SwapsSides(int orientation) noexcept;

} // namespace kiv

#include "CachedBitmap.h"

#include "Assert.h"

#include <utility>

namespace kiv {

TCachedBitmap::TCachedBitmap(int width, int height, std::vector<uint32_t> pixels)
    : width_(width < 0 ? 0 : width), height_(height < 0 ? 0 : height), pixels_(std::move(pixels)) {
  pixels_.resize(static_cast<size_t>(width_) * static_cast<size_t>(height_));
}

bool SwapsSides(int orientation) noexcept {
  return orientation == kOrientTurnRight || orientation == kOrientTurnLeft;
}

TRef<TCachedBitmap> OrientBitmap(const TRef<TCachedBitmap>& bitmap, int orientation) {
  if (!bitmap || (orientation != kOrientTurn180 && !SwapsSides(orientation))) return bitmap;
  const int w = bitmap->Width();
  const int h = bitmap->Height();
  const int outW = SwapsSides(orientation) ? h : w;
  const int outH = SwapsSides(orientation) ? w : h;
  std::vector<uint32_t> out(static_cast<size_t>(outW) * outH);
  for (int y = 0; y < outH; ++y)
    for (int x = 0; x < outW; ++x) {
      uint32_t pixel;
      switch (orientation) {
      case kOrientTurn180:
        pixel = bitmap->Pixel(w - 1 - x, h - 1 - y);
        break;
      case kOrientTurnRight:
        pixel = bitmap->Pixel(y, h - 1 - x);
        break;
      default: // kOrientTurnLeft
        pixel = bitmap->Pixel(w - 1 - y, x);
        break;
      }
      out[static_cast<size_t>(y) * outW + x] = pixel;
    }
  auto turned = TRef<TCachedBitmap>::Make(outW, outH, std::move(out));
  turned->SetLoadCallBack(bitmap->LoadCallBackFunc());
  return turned;
}

} // namespace kiv

#include "Bitmap.h"

#include <cstring>

namespace kiv {

bool PictureSizeAllowed(int64_t width, int64_t height) noexcept {
  return width > 0 && height > 0 && width <= kMaxPictureSide && height <= kMaxPictureSide &&
         width * height <= kMaxPicturePixels;
}

int BitmapBytesPerPixel(TBitmapFormat format) noexcept {
  switch (format) {
  case TBitmapFormat::Pf24bit:
    return 3;
  case TBitmapFormat::Pf32bit:
    return 4;
  default:
    return 0;
  }
}

TBitmap::TBitmap(int width, int height, TBitmapFormat format)
    : width_(width < 0 ? 0 : width), height_(height < 0 ? 0 : height), format_(format),
      stride_(static_cast<size_t>(width_) * BitmapBytesPerPixel(format)),
      data_(stride_ * static_cast<size_t>(height_)) {}

uint32_t TBitmap::Pixel32(int x, int y) const noexcept {
  uint32_t value;
  std::memcpy(&value, Row(y) + static_cast<size_t>(x) * 4, 4);
  return value;
}

void TBitmap::SetPixel32(int x, int y, uint32_t argb) noexcept {
  std::memcpy(Row(y) + static_cast<size_t>(x) * 4, &argb, 4);
}

void TBitmap::Fill32(uint32_t argb) noexcept {
  for (int y = 0; y < height_; ++y)
    for (int x = 0; x < width_; ++x)
      SetPixel32(x, y, argb);
}

TRef<TBitmap> ConvertBitmap(const TBitmap& source, TBitmapFormat format) {
  if (format == TBitmapFormat::None || source.Format() == TBitmapFormat::None) return nullptr;
  auto out = TRef<TBitmap>::Make(source.Width(), source.Height(), format);
  const int inBpp = BitmapBytesPerPixel(source.Format());
  const int outBpp = BitmapBytesPerPixel(format);
  for (int y = 0; y < source.Height(); ++y) {
    const uint8_t* in = source.Row(y);
    uint8_t* o = out->Row(y);
    if (inBpp == outBpp) {
      std::memcpy(o, in, source.Stride());
      continue;
    }
    for (int x = 0; x < source.Width(); ++x, in += inBpp, o += outBpp) {
      o[0] = in[0];
      o[1] = in[1];
      o[2] = in[2];
      if (outBpp == 4) o[3] = 255;
    }
  }
  return out;
}

} // namespace kiv

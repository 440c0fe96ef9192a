#pragma once
// Decoded pictures in memory: rows top down, 24-bit pixels as B, G, R bytes and 32-bit pixels as
// B, G, R, A bytes (a little-endian 0xAARRGGBB word), the layout the texture upload expects.

#include "ObjectBase.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace kiv {

enum class TBitmapFormat { None, Pf24bit, Pf32bit };

// Pictures larger than this are refused before anything is allocated: sizes come from file headers.
inline constexpr int kMaxPictureSide = 16384;
inline constexpr int64_t kMaxPicturePixels = 200'000'000;
bool PictureSizeAllowed(int64_t width, int64_t height) noexcept;

int BitmapBytesPerPixel(TBitmapFormat format) noexcept;

class TBitmap : public TRefObj {
public:
  // The caller checks the size with PictureSizeAllowed first; pixels start zeroed.
  TBitmap(int width, int height, TBitmapFormat format);

  int Width() const noexcept { return width_; }
  int Height() const noexcept { return height_; }
  TBitmapFormat Format() const noexcept { return format_; }
  size_t Stride() const noexcept { return stride_; }
  uint8_t* Row(int y) noexcept { return data_.data() + static_cast<size_t>(y) * stride_; }
  const uint8_t* Row(int y) const noexcept { return data_.data() + static_cast<size_t>(y) * stride_; }
  std::vector<uint8_t>& Data() noexcept { return data_; }
  const std::vector<uint8_t>& Data() const noexcept { return data_; }

  // 32-bit pictures only.
  uint32_t Pixel32(int x, int y) const noexcept;
  void SetPixel32(int x, int y, uint32_t argb) noexcept;
  void Fill32(uint32_t argb) noexcept;

private:
  int width_;
  int height_;
  TBitmapFormat format_;
  size_t stride_;
  std::vector<uint8_t> data_;
};

// A copy in another pixel format (24 → 32 gives opaque alpha; 32 → 24 drops it); nullptr for None.
TRef<TBitmap> ConvertBitmap(const TBitmap& source, TBitmapFormat format);

} // namespace kiv

#pragma once
// The pictures of a navigation skin: each file loaded once, the parts cut out of it (grey and disabled
// versions made once per rectangle), and the three ways a part is painted into the bar: at its own size,
// stretched over a rectangle, or tiled over it. Painting blends with the picture's alpha.

#include "Bitmap.h"
#include "DeviceLayer.h"
#include "ObjectBase.h"

#include <functional>
#include <map>
#include <string>
#include <string_view>

namespace kiv {

// A rectangle of a 32-bit picture. Empty when there is no picture or the rectangle is empty.
struct TPicturePart {
  TRef<TBitmap> bitmap;
  TRect rect;
  bool Empty() const noexcept { return !bitmap || rect.IsEmpty(); }
  int32_t Width() const noexcept { return rect.Width(); }
  int32_t Height() const noexcept { return rect.Height(); }
};

enum class TPartKind : uint8_t { AsIs, Grey, Disabled };

// Skin pictures by lower-case file name, each with the grey and disabled parts cut out of it. Engine
// thread, like the bar that owns it.
class TBmpCache : public TObj {
public:
  // A 32-bit picture of the file, or nullptr when it cannot be read.
  using TLoader = std::function<TRef<TBitmap>(std::u16string_view name)>;

  explicit TBmpCache(TLoader loader) : loader_(std::move(loader)) {}

  // The file's picture, loaded on first use; nullptr when it cannot be loaded (asked once).
  TRef<TBitmap> Picture(std::u16string_view name);
  // A part of the file: as it is, the file's own picture addressed by the rectangle; grey or disabled, a
  // copy of the rectangle (cut to the picture) made once and kept under PartKey.
  TPicturePart Part(std::u16string_view name, const TRect& rect, TPartKind kind);

  // Left, top, right and bottom in decimal run together, "G" added for grey and "D" for disabled.
  static std::string PartKey(const TRect& rect, TPartKind kind);
  int FilesLoaded() const noexcept { return filesLoaded_; }
  int PartsMade() const noexcept { return partsMade_; }

private:
  struct TFile {
    TRef<TBitmap> picture;
    std::map<std::string, TRef<TBitmap>> parts;
  };
  TFile& File(std::u16string_view name);

  TLoader loader_;
  std::map<std::u16string, TFile> files_;
  int filesLoaded_ = 0;
  int partsMade_ = 0;
};

// A part's pixels at (x, y), the part's own size, clipped to the target and the part's picture.
void PaintPart(TBitmap& target, const TPicturePart& part, int32_t x, int32_t y);
// The part stretched over the rectangle (nearest pixel).
void StretchPart(TBitmap& target, const TPicturePart& part, const TRect& where);
// The part repeated from the rectangle's top left corner, cut at its right and bottom edges.
void TilePart(TBitmap& target, const TPicturePart& part, const TRect& where);

// A source pixel over a destination pixel (both 0xAARRGGBB, alpha not premultiplied).
uint32_t BlendOver(uint32_t destination, uint32_t source) noexcept;

} // namespace kiv

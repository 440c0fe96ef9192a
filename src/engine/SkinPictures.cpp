#include "SkinPictures.h"

#include "CaseFolding.h"
#include "PictureColorOps.h"

#include <algorithm>

namespace kiv {
namespace {

// The part's rectangle cut to its picture.
TRect SourceRect(const TPicturePart& part) {
  if (!part.bitmap) return {};
  return IntersectRect(part.rect, {0, 0, part.bitmap->Width(), part.bitmap->Height()});
}

void Blend(TBitmap& target, int32_t x, int32_t y, uint32_t source) {
  if ((source >> 24) == 0) return;
  target.SetPixel32(x, y, BlendOver(target.Pixel32(x, y), source));
}

} // namespace

uint32_t BlendOver(uint32_t destination, uint32_t source) noexcept {
  const uint32_t sa = source >> 24;
  if (sa == 255) return source;
  if (sa == 0) return destination;
  const uint32_t da = destination >> 24;
  // out alpha = sa + da (1 - sa), colours weighted by their share of it; all in 1/255 units.
  const uint32_t dw = da * (255 - sa);    // destination weight x 255
  const uint32_t outA255 = sa * 255 + dw; // out alpha x 255
  const uint32_t outA = (outA255 + 127) / 255;
  uint32_t result = outA << 24;
  for (int shift = 0; shift <= 16; shift += 8) {
    const uint32_t s = (source >> shift) & 255, d = (destination >> shift) & 255;
    const uint32_t c = (s * sa * 255 + d * dw + outA255 / 2) / outA255;
    result |= std::min<uint32_t>(c, 255) << shift;
  }
  return result;
}

TBmpCache::TFile& TBmpCache::File(std::u16string_view name) {
  const std::u16string key = LowerCase(name);
  auto found = files_.find(key);
  if (found != files_.end()) return found->second;
  TFile& file = files_[key];
  if (loader_ && !name.empty()) {
    file.picture = loader_(name);
    ++filesLoaded_;
    if (file.picture && file.picture->Format() != TBitmapFormat::Pf32bit)
      file.picture = ConvertBitmap(*file.picture, TBitmapFormat::Pf32bit);
  }
  return file;
}

TRef<TBitmap> TBmpCache::Picture(std::u16string_view name) {
  return File(name).picture;
}

std::string TBmpCache::PartKey(const TRect& rect, TPartKind kind) {
  std::string key = std::to_string(rect.left) + std::to_string(rect.top) + std::to_string(rect.right) +
                    std::to_string(rect.bottom);
  if (kind == TPartKind::Grey) key += 'G';
  if (kind == TPartKind::Disabled) key += 'D';
  return key;
}

TPicturePart TBmpCache::Part(std::u16string_view name, const TRect& rect, TPartKind kind) {
  TFile& file = File(name);
  if (!file.picture || rect.IsEmpty()) return {};
  if (kind == TPartKind::AsIs) return {file.picture, rect};
  TRef<TBitmap>& cut = file.parts[PartKey(rect, kind)];
  if (!cut) {
    const TRect source = IntersectRect(rect, {0, 0, file.picture->Width(), file.picture->Height()});
    if (source.IsEmpty()) return {};
    cut = TRef<TBitmap>::Make(source.Width(), source.Height(), TBitmapFormat::Pf32bit);
    for (int32_t y = 0; y < source.Height(); ++y)
      std::copy_n(file.picture->Row(source.top + y) + size_t{4} * source.left, size_t{4} * source.Width(),
                  cut->Row(y));
    if (kind == TPartKind::Grey)
      GreyPicture(*cut);
    else
      DisabledPicture(*cut);
    ++partsMade_;
  }
  return {cut, {0, 0, cut->Width(), cut->Height()}};
}

void PaintPart(TBitmap& target, const TPicturePart& part, int32_t x, int32_t y) {
  const TRect source = SourceRect(part);
  if (source.IsEmpty()) return;
  // Where the visible source lands, cut to the target.
  const int32_t left = x + (source.left - part.rect.left), top = y + (source.top - part.rect.top);
  const TRect landed = IntersectRect({left, top, left + source.Width(), top + source.Height()},
                                     {0, 0, target.Width(), target.Height()});
  for (int32_t ty = landed.top; ty < landed.bottom; ++ty)
    for (int32_t tx = landed.left; tx < landed.right; ++tx)
      Blend(target, tx, ty, part.bitmap->Pixel32(source.left + tx - left, source.top + ty - top));
}

void StretchPart(TBitmap& target, const TPicturePart& part, const TRect& where) {
  if (part.Empty() || where.IsEmpty()) return;
  const TRect visible = IntersectRect(where, {0, 0, target.Width(), target.Height()});
  const int64_t w = where.Width(), h = where.Height();
  const int32_t pictureWidth = part.bitmap->Width(), pictureHeight = part.bitmap->Height();
  for (int32_t ty = visible.top; ty < visible.bottom; ++ty) {
    // Pixel centres: row ty samples the part's row (ty - top + 0.5) x part height / h.
    const int64_t sy = part.rect.top + ((int64_t{ty - where.top} * 2 + 1) * part.Height()) / (2 * h);
    if (sy < 0 || sy >= pictureHeight) continue;
    for (int32_t tx = visible.left; tx < visible.right; ++tx) {
      const int64_t sx = part.rect.left + ((int64_t{tx - where.left} * 2 + 1) * part.Width()) / (2 * w);
      if (sx < 0 || sx >= pictureWidth) continue;
      Blend(target, tx, ty, part.bitmap->Pixel32(static_cast<int32_t>(sx), static_cast<int32_t>(sy)));
    }
  }
}

void TilePart(TBitmap& target, const TPicturePart& part, const TRect& where) {
  if (part.Empty() || where.IsEmpty()) return;
  const TRect visible = IntersectRect(where, {0, 0, target.Width(), target.Height()});
  const int32_t pictureWidth = part.bitmap->Width(), pictureHeight = part.bitmap->Height();
  for (int32_t ty = visible.top; ty < visible.bottom; ++ty) {
    const int32_t sy = part.rect.top + (ty - where.top) % part.Height();
    if (sy < 0 || sy >= pictureHeight) continue;
    for (int32_t tx = visible.left; tx < visible.right; ++tx) {
      const int32_t sx = part.rect.left + (tx - where.left) % part.Width();
      if (sx < 0 || sx >= pictureWidth) continue;
      Blend(target, tx, ty, part.bitmap->Pixel32(sx, sy));
    }
  }
}

} // namespace kiv

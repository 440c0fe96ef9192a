#include "NinePatch.h"

#include "SkinPictures.h"

#include <algorithm>

namespace kiv {

std::array<int32_t, 4> NinePatchGrid(int32_t lo, int32_t hi, int32_t a, int32_t b) noexcept {
  const int64_t sum = int64_t{lo} + a + hi - b;
  // Halving towards zero, as the skin's own arithmetic does.
  const int32_t split = static_cast<int32_t>(std::clamp<int64_t>(sum / 2, lo, std::max(lo, hi)));
  return {lo, static_cast<int32_t>(std::min<int64_t>(int64_t{lo} + a, split)),
          static_cast<int32_t>(std::max<int64_t>(int64_t{hi} - b, split)), hi};
}

TNinePatch::TNinePatch(const TBitmap* picture, const TRect& part, int32_t left, int32_t top, int32_t right,
                       int32_t bottom)
    : left_(std::max(left, 0)), top_(std::max(top, 0)), right_(std::max(right, 0)),
      bottom_(std::max(bottom, 0)) {
  if (!picture) return;
  const TRect cut = IntersectRect(part, {0, 0, picture->Width(), picture->Height()});
  if (cut.IsEmpty()) return;
  pixels_ = TRef<TBitmap>::Make(cut.Width(), cut.Height(), TBitmapFormat::Pf32bit);
  for (int32_t y = 0; y < cut.Height(); ++y)
    for (int32_t x = 0; x < cut.Width(); ++x)
      pixels_->SetPixel32(x, y, picture->Pixel32(cut.left + x, cut.top + y));

  const auto columns = NinePatchGrid(0, Width(), left_, right_);
  const auto rows = NinePatchGrid(0, Height(), top_, bottom_);
  if (columns[2] <= columns[1] || rows[2] <= rows[1]) return;
  centre_ = pixels_->Pixel32(columns[1], rows[1]);
  solidCentre_ = true;
  for (int32_t y = rows[1]; y < rows[2] && solidCentre_; ++y)
    for (int32_t x = columns[1]; x < columns[2]; ++x)
      if (pixels_->Pixel32(x, y) != centre_) {
        solidCentre_ = false;
        break;
      }
}

namespace {

uint32_t Mix(uint32_t a, uint32_t b, uint32_t fraction) noexcept {
  if (fraction == 0) return a;
  uint32_t result = 0;
  for (int shift = 0; shift <= 24; shift += 8) {
    const int64_t ca = (a >> shift) & 255, cb = (b >> shift) & 255;
    const int64_t c = ca + (((cb - ca) * fraction + 32768) >> 16);
    result |= static_cast<uint32_t>(std::clamp<int64_t>(c, 0, 255)) << shift;
  }
  return result;
}

// Where target step i of n lands in a source of m pixels: the pixel and the fraction towards the next,
// in 1/65536.
void Sample(int32_t i, int32_t n, int32_t m, int32_t& pixel, uint32_t& fraction) noexcept {
  if (n <= 1 || m <= 1) {
    pixel = 0;
    fraction = 0;
    return;
  }
  const int64_t at = int64_t{i} * (m - 1) * 65536 / (n - 1);
  pixel = static_cast<int32_t>(at >> 16);
  fraction = static_cast<uint32_t>(at & 0xFFFF);
  if (pixel >= m - 1) {
    pixel = m - 1;
    fraction = 0;
  }
}

} // namespace

void TNinePatch::Draw(TBitmap& target, const TRect& where) const {
  if (!pixels_ || where.IsEmpty()) return;
  const TRect clip = IntersectRect(where, {0, 0, target.Width(), target.Height()});
  if (clip.IsEmpty()) return;
  const auto tx = NinePatchGrid(where.left, where.right, left_, right_);
  const auto ty = NinePatchGrid(where.top, where.bottom, top_, bottom_);
  const auto sx = NinePatchGrid(0, Width(), left_, right_);
  const auto sy = NinePatchGrid(0, Height(), top_, bottom_);
  const TBitmap& source = *pixels_;
  for (int row = 0; row < 3; ++row)
    for (int column = 0; column < 3; ++column) {
      const TRect cell{tx[column], ty[row], tx[column + 1], ty[row + 1]};
      const TRect from{sx[column], sy[row], sx[column + 1], sy[row + 1]};
      if (cell.IsEmpty() || from.IsEmpty()) continue;
      const TRect visible = IntersectRect(cell, clip);
      if (visible.IsEmpty()) continue;
      if (row == 1 && column == 1 && solidCentre_) {
        for (int32_t y = visible.top; y < visible.bottom; ++y)
          for (int32_t x = visible.left; x < visible.right; ++x)
            target.SetPixel32(x, y,
                              (centre_ >> 24) == 255 ? centre_ : BlendOver(target.Pixel32(x, y), centre_));
        continue;
      }
      const bool sameSize = cell.Width() == from.Width() && cell.Height() == from.Height();
      for (int32_t y = visible.top; y < visible.bottom; ++y) {
        int32_t sy0 = 0;
        uint32_t fy = 0;
        if (sameSize)
          sy0 = y - cell.top;
        else
          Sample(y - cell.top, cell.Height(), from.Height(), sy0, fy);
        const int32_t sy1 = std::min(sy0 + 1, from.Height() - 1);
        for (int32_t x = visible.left; x < visible.right; ++x) {
          uint32_t pixel;
          if (sameSize) {
            pixel = source.Pixel32(from.left + x - cell.left, from.top + sy0);
          } else {
            int32_t sx0 = 0;
            uint32_t fx = 0;
            Sample(x - cell.left, cell.Width(), from.Width(), sx0, fx);
            const int32_t sx1 = std::min(sx0 + 1, from.Width() - 1);
            const uint32_t top = Mix(source.Pixel32(from.left + sx0, from.top + sy0),
                                     source.Pixel32(from.left + sx1, from.top + sy0), fx);
            const uint32_t bottom = Mix(source.Pixel32(from.left + sx0, from.top + sy1),
                                        source.Pixel32(from.left + sx1, from.top + sy1), fx);
            pixel = Mix(top, bottom, fy);
          }
          target.SetPixel32(x, y, BlendOver(target.Pixel32(x, y), pixel));
        }
      }
    }
}

} // namespace kiv

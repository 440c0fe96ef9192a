#include "MipReduction.h"

#include "Assert.h"
#include "RoundHalfEven.h"

#include <cmath>
#include <cstring>

namespace kiv {

namespace {

// Integer part and rounded 1/256 fraction of position * span / (count - 1).
TBilinearEntry Position(int32_t at, int32_t sourceCount, int32_t destCount) {
  if (destCount < 2) return {};
  const double x = static_cast<double>(at) * (sourceCount - 1) / (destCount - 1);
  const double whole = std::floor(x);
  return {static_cast<int32_t>(whole), static_cast<int32_t>(Round((x - whole) * 256))};
}

bool Is32Bit(const TDevBitmap& bitmap) {
  const int bits = BytesPerPixel(bitmap.Format()) * 8;
  return bits >= 25 && bits <= 32;
}

const uint32_t* Row(const TDevBitmap& bitmap, int32_t row) {
  return reinterpret_cast<const uint32_t*>(bitmap.ScanLine(row));
}
uint32_t* Row(TDevBitmap& bitmap, int32_t row) {
  return reinterpret_cast<uint32_t*>(bitmap.ScanLine(row));
}

} // namespace

std::vector<TBilinearEntry> BilinearColumnTable(int32_t sourceWidth, int32_t destWidth) {
  std::vector<TBilinearEntry> table(static_cast<size_t>(std::max(destWidth, 0)));
  for (int32_t c = 0; c < destWidth; ++c)
    table[static_cast<size_t>(c)] = Position(c, sourceWidth, destWidth);
  // The last column sits exactly on the last source pixel: read it as the full weight of the pair before,
  // so that no entry reads past the row.
  if (sourceWidth > 1 && !table.empty()) table.back() = {sourceWidth - 2, 256};
  return table;
}

uint32_t BlendPixel(uint32_t a, uint32_t b, int32_t weight) {
  uint32_t result = 0;
  for (int shift = 0; shift < 32; shift += 8)
    result |=
        uint32_t{BlendChannel(static_cast<uint8_t>(a >> shift), static_cast<uint8_t>(b >> shift), weight)}
        << shift;
  return result;
}

void TBilinearResampler::ResampleRow(const uint32_t* source, int32_t sourceWidth, uint32_t* dest,
                                     int32_t destWidth) {
  if (sourceWidth == destWidth) {
    std::memcpy(dest, source, static_cast<size_t>(destWidth) * 4);
    return;
  }
  if (sourceWidth == 1) {
    for (int32_t c = 0; c < destWidth; ++c)
      dest[c] = source[0];
    return;
  }
  if (tableSource_ != sourceWidth || tableDest_ != destWidth) {
    columns_ = BilinearColumnTable(sourceWidth, destWidth);
    tableSource_ = sourceWidth;
    tableDest_ = destWidth;
  }
  for (int32_t c = 0; c < destWidth; ++c) {
    const TBilinearEntry& e = columns_[static_cast<size_t>(c)];
    dest[c] = BlendPixel(source[e.index], source[e.index + 1], e.weight);
  }
}

void TBilinearResampler::Resample(const TDevBitmap& source, TDevBitmap& dest) {
  RY_ASSERT(Is32Bit(source) && Is32Bit(dest));
  const int32_t ws = source.Width(), hs = source.Height(), wd = dest.Width(), hd = dest.Height();
  if (ws <= 0 || hs <= 0 || wd <= 0 || hd <= 0) return;
  if (hs == 1) {
    std::vector<uint32_t> line(static_cast<size_t>(wd));
    ResampleRow(Row(source, 0), ws, line.data(), wd);
    for (int32_t r = 0; r < hd; ++r)
      std::memcpy(Row(dest, r), line.data(), static_cast<size_t>(wd) * 4);
    return;
  }
  std::vector<uint32_t> blended(static_cast<size_t>(ws));
  for (int32_t r = 0; r < hd; ++r) {
    const TBilinearEntry y = Position(r, hs, hd);
    if (y.weight > 0 || ws == 1) {
      const uint32_t* a = Row(source, y.index);
      const uint32_t* b = Row(source, std::min(y.index + 1, hs - 1));
      for (int32_t c = 0; c < ws; ++c)
        blended[static_cast<size_t>(c)] = BlendPixel(a[c], b[c], y.weight);
      ResampleRow(blended.data(), ws, Row(dest, r), wd);
    } else {
      ResampleRow(Row(source, y.index), ws, Row(dest, r), wd);
    }
  }
}

void HalveBitmap(const TDevBitmap& source, TDevBitmap& dest) {
  RY_ASSERT(source.Format() == dest.Format());
  RY_ASSERT(dest.Width() * 2 <= source.Width() && dest.Height() * 2 <= source.Height());
  const int bytes = BytesPerPixel(source.Format());
  // 16-bit pixels are averaged per 5/6/5 field, which the byte-wise average would mix up.
  const bool rgb565 = source.Format() == TPixelFormat::pf16bit565;
  for (int32_t y = 0; y < dest.Height(); ++y) {
    const uint8_t* top = source.ScanLine(2 * y);
    const uint8_t* bottom = source.ScanLine(2 * y + 1);
    uint8_t* out = dest.ScanLine(y);
    for (int32_t x = 0; x < dest.Width(); ++x) {
      const size_t left = static_cast<size_t>(2 * x) * bytes, right = left + bytes;
      if (rgb565) {
        uint16_t p[4], result = 0;
        std::memcpy(&p[0], top + left, 2);
        std::memcpy(&p[1], top + right, 2);
        std::memcpy(&p[2], bottom + left, 2);
        std::memcpy(&p[3], bottom + right, 2);
        for (const auto& [shift, mask] : {std::pair{0, 0x1F}, std::pair{5, 0x3F}, std::pair{11, 0x1F}}) {
          const int sum = ((p[0] >> shift) & mask) + ((p[1] >> shift) & mask) + ((p[2] >> shift) & mask) +
                          ((p[3] >> shift) & mask);
          result = static_cast<uint16_t>(result | ((sum / 4) << shift));
        }
        std::memcpy(out + static_cast<size_t>(x) * 2, &result, 2);
        continue;
      }
      for (int b = 0; b < bytes; ++b) {
        const int sum = top[left + b] + top[right + b] + bottom[left + b] + bottom[right + b];
        out[static_cast<size_t>(x) * bytes + b] = static_cast<uint8_t>(sum / 4);
      }
    }
  }
}

} // namespace kiv

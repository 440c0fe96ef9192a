#include "BmpLoader.h"

#include "ImageFileIO.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace kiv {
namespace {

struct TBmpInfo {
  uint32_t headerSize = 0;
  int32_t width = 0;
  int32_t height = 0;
  uint16_t planes = 0;
  uint16_t bitCount = 0;
  uint32_t compression = 0;
  uint32_t imageSize = 0;
  int32_t xRes = 0, yRes = 0;
  uint32_t colorsUsed = 0;
  uint32_t colorsImportant = 0;
};

constexpr uint32_t kBiRgb = 0, kBiRle8 = 1, kBiRle4 = 2, kBiBitFields = 3;

// Value of a colour channel under a bit mask, widened to 8 bits.
uint8_t MaskChannel(uint32_t pixel, uint32_t mask) {
  if (mask == 0) return 0;
  const int shift = std::countr_zero(mask);
  const int bits = std::popcount(mask >> shift);
  uint32_t v = (pixel & mask) >> shift;
  if (bits >= 8) return static_cast<uint8_t>(v >> (bits - 8));
  // replicate the high bits into the low ones, so that full scale stays full scale
  uint32_t out = 0;
  for (int filled = 0; filled < 8; filled += bits)
    out = (out << bits) | v;
  const int total = ((8 + bits - 1) / bits) * bits;
  return static_cast<uint8_t>(out >> (total - 8));
}

} // namespace

TRef<TBitmap> ReadBmp(std::span<const uint8_t> file) {
  TByteReader r(file);
  uint16_t magic, reserved1, reserved2;
  uint32_t fileSize, dataOffset;
  if (r.Remaining() < 14) return nullptr;
  r.Read(magic), r.Read(fileSize), r.Read(reserved1), r.Read(reserved2), r.Read(dataOffset);
  if (magic != 19778) return nullptr;
  if (r.Remaining() < 40) return nullptr;
  TBmpInfo h;
  r.Read(h.headerSize), r.Read(h.width), r.Read(h.height), r.Read(h.planes), r.Read(h.bitCount);
  r.Read(h.compression), r.Read(h.imageSize), r.Read(h.xRes), r.Read(h.yRes), r.Read(h.colorsUsed);
  r.Read(h.colorsImportant);
  if ((h.bitCount == 0 && h.compression != 4 && h.compression != 5) || h.width <= 0 || h.height == 0 ||
      h.planes != 1 || h.compression >= 6)
    return nullptr;
  if (h.compression == kBiRle8 || h.compression == kBiRle4) return nullptr;
  const int bits = h.bitCount;
  if (bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32) return nullptr;
  if (h.compression != kBiRgb && !(h.compression == kBiBitFields && (bits == 16 || bits == 32)))
    return nullptr;

  const int64_t width = h.width;
  const int64_t height = h.height < 0 ? -int64_t{h.height} : int64_t{h.height};
  if (!PictureSizeAllowed(width, height)) return nullptr;
  const bool topDown = h.height < 0;
  const int64_t stride = (int64_t{bits} * width + 31) / 32 * 4;
  if (int64_t{dataOffset} + stride * height > static_cast<int64_t>(file.size())) return nullptr;

  // Bit-field masks follow the 40-byte header (or sit inside a longer one at the same place).
  uint32_t masks[4] = {0, 0, 0, 0};
  if (h.compression == kBiBitFields) {
    TByteReader m(file, 54);
    if (!m.Read(masks[0]) || !m.Read(masks[1]) || !m.Read(masks[2])) return nullptr;
    if (h.headerSize >= 56) m.Read(masks[3]);
  }
  bool rgb565 = false;
  if (bits == 16 && h.compression == kBiBitFields) {
    if (masks[1] == 2016)
      rgb565 = true;
    else if (masks[1] != 992)
      return nullptr;
  }

  // Palette for indexed depths.
  uint8_t palette[256][3];
  if (bits <= 8) {
    const uint32_t wanted = h.colorsUsed == 0 ? (1u << bits) : std::min<uint32_t>(h.colorsUsed, 256);
    const uint64_t paletteAt = 14 + uint64_t{h.headerSize};
    for (int i = 0; i < 256; ++i) {
      palette[i][0] = kMissingPaletteBlue, palette[i][1] = kMissingPaletteGreen,
      palette[i][2] = kMissingPaletteRed;
      const uint64_t at = paletteAt + uint64_t(i) * 4;
      if (static_cast<uint32_t>(i) < wanted && at + 4 <= file.size())
        palette[i][0] = file[at], palette[i][1] = file[at + 1], palette[i][2] = file[at + 2];
    }
  }

  const TBitmapFormat format = bits == 32 ? TBitmapFormat::Pf32bit : TBitmapFormat::Pf24bit;
  auto bitmap = TRef<TBitmap>::Make(static_cast<int>(width), static_cast<int>(height), format);
  bool anyAlpha = false;
  for (int64_t row = 0; row < height; ++row) {
    const uint8_t* in = file.data() + dataOffset + row * stride;
    uint8_t* out = bitmap->Row(static_cast<int>(topDown ? row : height - 1 - row));
    for (int64_t x = 0; x < width; ++x) {
      switch (bits) {
      case 1:
      case 4:
      case 8: {
        const int64_t bit = x * bits;
        const int index = (in[bit / 8] >> (8 - bits - bit % 8)) & ((1 << bits) - 1);
        std::memcpy(out + x * 3, palette[index], 3);
        break;
      }
      case 16: {
        const uint32_t p = in[x * 2] | (in[x * 2 + 1] << 8);
        const uint32_t rm = rgb565 ? 0xF800 : 0x7C00, gm = rgb565 ? 0x07E0 : 0x03E0, bm = 0x001F;
        out[x * 3] = MaskChannel(p, bm), out[x * 3 + 1] = MaskChannel(p, gm),
                out[x * 3 + 2] = MaskChannel(p, rm);
        break;
      }
      case 24:
        std::memcpy(out + x * 3, in + x * 3, 3);
        break;
      default: {
        if (h.compression == kBiBitFields) {
          uint32_t p;
          std::memcpy(&p, in + x * 4, 4);
          out[x * 4] = MaskChannel(p, masks[2]), out[x * 4 + 1] = MaskChannel(p, masks[1]);
          out[x * 4 + 2] = MaskChannel(p, masks[0]);
          out[x * 4 + 3] = masks[3] ? MaskChannel(p, masks[3]) : 255;
        } else {
          std::memcpy(out + x * 4, in + x * 4, 4);
        }
        anyAlpha = anyAlpha || out[x * 4 + 3] != 0;
        break;
      }
      }
    }
  }
  // Most 32-bit files leave the fourth byte at 0: shown as written they would vanish, so an alpha that is
  // zero everywhere means "opaque".
  if (bits == 32 && !anyAlpha)
    for (int y = 0; y < bitmap->Height(); ++y)
      for (int x = 0; x < bitmap->Width(); ++x)
        bitmap->Row(y)[x * 4 + 3] = 255;
  return bitmap;
}

TRef<TBitmapStore> LoadBitmapImage(TStream& stream, std::u16string_view, TOwned<TStream>*,
                                   const TImageProgress&) {
  // ReadBmp checks the magic itself.
  return LoadImageFile(stream, {}, 54, [](std::vector<uint8_t>& file) -> TRef<TBitmapStore> {
    TRef<TBitmap> bitmap = ReadBmp(file);
    if (!bitmap) return nullptr;
    return TRef<TBitmapStore>::Adopt(new TWrapperBitmapStore(std::move(bitmap)));
  });
}

} // namespace kiv

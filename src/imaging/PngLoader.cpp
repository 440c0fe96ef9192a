#include "PngLoader.h"

#include "ImageFileIO.h"

#include <cstring>
#include <png.h>

namespace kiv {
namespace {

struct TPngSource {
  const uint8_t* data;
  size_t size;
  size_t pos;
};

extern "C" void PngRead(png_structp png, png_bytep out, png_size_t count) {
  auto* src = static_cast<TPngSource*>(png_get_io_ptr(png));
  if (count > src->size - src->pos) png_error(png, "read past the end"); // longjmps, never returns
  std::memcpy(out, src->data + src->pos, count);
  src->pos += count;
}
extern "C" void PngWarning(png_structp, png_const_charp) {}
extern "C" void PngError(png_structp png, png_const_charp) {
  png_longjmp(png, 1);
}

class TPngRead {
public:
  TPngRead() {
    png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, PngError, PngWarning);
    if (png) info = png_create_info_struct(png);
  }
  ~TPngRead() { png_destroy_read_struct(&png, info ? &info : nullptr, nullptr); }
  TPngRead(const TPngRead&) = delete;
  TPngRead& operator=(const TPngRead&) = delete;
  png_structp png = nullptr;
  png_infop info = nullptr;
};

// Header and transforms; fills width, height and channels. No C++ object with a destructor in this frame.
bool ReadHeader(TPngRead& p, TPngSource* src, png_uint_32& width, png_uint_32& height, int& channels) {
  if (setjmp(png_jmpbuf(p.png))) return false;
  png_set_read_fn(p.png, src, PngRead);
  png_set_user_limits(p.png, kMaxPictureSide, kMaxPictureSide);
  png_set_check_for_invalid_index(p.png, 1);
  png_read_info(p.png, p.info);
  width = png_get_image_width(p.png, p.info);
  height = png_get_image_height(p.png, p.info);
  png_set_expand(p.png);
  png_set_scale_16(p.png);
  png_set_gray_to_rgb(p.png);
  png_set_bgr(p.png);
  png_set_interlace_handling(p.png);
  png_read_update_info(p.png, p.info);
  channels = png_get_channels(p.png, p.info);
  return true;
}

bool ReadRows(TPngRead& p, png_bytepp rows) {
  if (setjmp(png_jmpbuf(p.png))) return false;
  png_read_image(p.png, rows);
  png_read_end(p.png, nullptr);
  // libpng only warns about indices past the palette; such a file is damaged.
  png_colorp palette = nullptr;
  int entries = 0;
  if (png_get_color_type(p.png, p.info) == PNG_COLOR_TYPE_PALETTE &&
      png_get_PLTE(p.png, p.info, &palette, &entries) && png_get_palette_max(p.png, p.info) >= entries)
    return false;
  return true;
}

} // namespace

TRef<TBitmap> ReadPng(std::span<const uint8_t> file) {
  if (file.size() < 8 || png_sig_cmp(file.data(), 0, 8) != 0) return nullptr;
  TPngRead p;
  if (!p.png || !p.info) return nullptr;
  TPngSource src{file.data(), file.size(), 0};
  png_uint_32 width = 0, height = 0;
  int channels = 0;
  if (!ReadHeader(p, &src, width, height, channels)) return nullptr;
  if (!PictureSizeAllowed(width, height) || (channels != 3 && channels != 4)) return nullptr;
  auto bitmap = TRef<TBitmap>::Make(static_cast<int>(width), static_cast<int>(height),
                                    channels == 4 ? TBitmapFormat::Pf32bit : TBitmapFormat::Pf24bit);
  std::vector<png_bytep> rows(height);
  for (png_uint_32 y = 0; y < height; ++y)
    rows[y] = bitmap->Row(static_cast<int>(y));
  if (!ReadRows(p, rows.data())) return nullptr;
  return bitmap;
}

TRef<TBitmapStore> LoadPngImage(TStream& stream, std::u16string_view, TOwned<TStream>*,
                                const TImageProgress&) {
  constexpr std::string_view kSignature("\x89PNG\r\n\x1A\n", 8);
  return LoadImageFile(stream, kSignature, 8, [](std::vector<uint8_t>& file) -> TRef<TBitmapStore> {
    TRef<TBitmap> bitmap = ReadPng(file);
    if (!bitmap) return nullptr;
    return TRef<TBitmapStore>::Adopt(new TImageLibStore(std::move(bitmap)));
  });
}

} // namespace kiv

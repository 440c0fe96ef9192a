#include "JpegLoader.h"

#include "ImageFileIO.h"

#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <jpeglib.h>

namespace kiv {
namespace {

// libjpeg reports fatal errors through error_exit, which must not return: it jumps back to the setjmp in
// the function that started the call. No C++ object with a destructor lives in those functions' frames.
struct TJpegError {
  jpeg_error_mgr mgr;
  std::jmp_buf jump;
};

extern "C" void JpegErrorExit(j_common_ptr cinfo) {
  std::longjmp(reinterpret_cast<TJpegError*>(cinfo->err)->jump, 1);
}
extern "C" void JpegOutputMessage(j_common_ptr) {} // warnings (a truncated file) are not worth a line

class TJpegDecompress {
public:
  TJpegDecompress() {
    cinfo.err = jpeg_std_error(&error.mgr);
    error.mgr.error_exit = JpegErrorExit;
    error.mgr.output_message = JpegOutputMessage;
    jpeg_create_decompress(&cinfo);
  }
  ~TJpegDecompress() { jpeg_destroy_decompress(&cinfo); }
  TJpegDecompress(const TJpegDecompress&) = delete;
  TJpegDecompress& operator=(const TJpegDecompress&) = delete;

  jpeg_decompress_struct cinfo{};
  TJpegError error{};
};

bool ReadHeader(TJpegDecompress& d, const uint8_t* data, size_t size) {
  if (setjmp(d.error.jump)) return false;
  jpeg_mem_src(&d.cinfo, data, static_cast<unsigned long>(size));
  return jpeg_read_header(&d.cinfo, TRUE) == JPEG_HEADER_OK;
}

// Sets up scaling and output; false on a fatal error.
bool Start(TJpegDecompress& d, int denom) {
  if (setjmp(d.error.jump)) return false;
  d.cinfo.scale_num = 1;
  d.cinfo.scale_denom = static_cast<unsigned>(denom);
  switch (d.cinfo.jpeg_color_space) {
  case JCS_GRAYSCALE:
    d.cinfo.out_color_space = JCS_GRAYSCALE;
    break;
  case JCS_CMYK:
  case JCS_YCCK:
    d.cinfo.out_color_space = JCS_CMYK;
    break;
  default:
    d.cinfo.out_color_space = JCS_EXT_BGR;
    break;
  }
  jpeg_calc_output_dimensions(&d.cinfo);
  return true;
}

bool Begin(TJpegDecompress& d) {
  if (setjmp(d.error.jump)) return false;
  return jpeg_start_decompress(&d.cinfo) != FALSE;
}

// Reads one scanline into buffer; false on a fatal error.
bool ReadLine(TJpegDecompress& d, uint8_t* buffer) {
  if (setjmp(d.error.jump)) return false;
  JSAMPROW row = buffer;
  return jpeg_read_scanlines(&d.cinfo, &row, 1) == 1;
}

void Finish(TJpegDecompress& d) {
  if (setjmp(d.error.jump)) return;
  jpeg_abort_decompress(&d.cinfo);
}

void ConvertLine(const uint8_t* in, uint8_t* out, int width, int components, bool adobeInverted) {
  for (int x = 0; x < width; ++x, out += 3) {
    if (components == 1) {
      out[0] = out[1] = out[2] = in[x];
    } else if (components == 4) {
      const uint8_t* p = in + x * 4;
      int c = p[0], m = p[1], y = p[2], k = p[3];
      if (!adobeInverted) c = 255 - c, m = 255 - m, y = 255 - y, k = 255 - k;
      out[0] = static_cast<uint8_t>((y * k + 127) / 255);
      out[1] = static_cast<uint8_t>((m * k + 127) / 255);
      out[2] = static_cast<uint8_t>((c * k + 127) / 255);
    } else {
      std::memcpy(out, in + x * 3, 3);
    }
  }
}

} // namespace

bool ReadJpegSize(std::span<const uint8_t> file, int& width, int& height) {
  TJpegDecompress d;
  if (!ReadHeader(d, file.data(), file.size())) return false;
  width = static_cast<int>(d.cinfo.image_width);
  height = static_cast<int>(d.cinfo.image_height);
  return true;
}

TRef<TBitmap> DecodeJpeg(std::span<const uint8_t> file, int level, const TImageProgress& progress) {
  TJpegDecompress d;
  if (level < 0 || level > 3 || !ReadHeader(d, file.data(), file.size())) return nullptr;
  if (!PictureSizeAllowed(d.cinfo.image_width, d.cinfo.image_height)) return nullptr;
  if (!Start(d, 1 << level)) return nullptr;
  const bool inverted = d.cinfo.saw_Adobe_marker != 0;
  if (!Begin(d)) return nullptr;
  const int width = static_cast<int>(d.cinfo.output_width);
  const int height = static_cast<int>(d.cinfo.output_height);
  const int components = d.cinfo.output_components;
  auto bitmap = TRef<TBitmap>::Make(width, height, TBitmapFormat::Pf24bit);
  std::vector<uint8_t> line(static_cast<size_t>(width) * components);
  int y = 0;
  for (; y < height; ++y) {
    if (!ReadLine(d, line.data())) break; // keep the rows already made
    ConvertLine(line.data(), bitmap->Row(y), width, components, inverted);
    if (progress && !progress(0.5 + 0.5 * (y + 1) / height)) {
      Finish(d);
      return nullptr;
    }
  }
  Finish(d);
  if (y == 0) return nullptr;
  if (progress) progress(1.0);
  return bitmap;
}

TJpegBitmapStore::TJpegBitmapStore(int width, int height, std::vector<uint8_t> file)
    : TBitmapStore(width, height, TBitmapFormat::Pf24bit), file_(std::move(file)) {}

TRef<TBitmap> TJpegBitmapStore::DecodeLevel(int level, TBitmapFormat, const TImageProgress& progress,
                                            int& realLevel) {
  realLevel = level;
  TRef<TBitmap> bitmap = DecodeJpeg(file_, level, progress);
  if (!bitmap && (!progress || progress(1.0))) {
    // The header was good when the store was made; data that fails before the first row still shows as
    // a grey picture of the right size rather than nothing.
    const int w = (Width() + (1 << level) - 1) >> level, h = (Height() + (1 << level) - 1) >> level;
    bitmap = TRef<TBitmap>::Make(w, h, TBitmapFormat::Pf24bit);
    std::fill(bitmap->Data().begin(), bitmap->Data().end(), uint8_t{128});
  }
  return bitmap;
}

TRef<TBitmapStore> LoadJpegImage(TStream& stream, std::u16string_view, TOwned<TStream>* owned,
                                 const TImageProgress&) {
  return LoadImageFile(stream, "\xFF\xD8", 4, [owned](std::vector<uint8_t>& file) -> TRef<TBitmapStore> {
    int width = 0, height = 0;
    if (!ReadJpegSize(file, width, height) || width == 0 || height == 0 || !PictureSizeAllowed(width, height))
      return nullptr;
    if (owned) owned->reset(); // the store keeps its own copy
    return TRef<TBitmapStore>::Adopt(new TJpegBitmapStore(width, height, std::move(file)));
  });
}

} // namespace kiv

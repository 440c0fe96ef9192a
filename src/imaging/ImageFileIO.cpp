#include "ImageFileIO.h"

#include <bit>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <png.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kiv {

bool ReadRest(TStream& stream, std::vector<uint8_t>& out, int64_t minBytes, int64_t maxBytes) {
  const int64_t start = stream.GetPosition();
  try {
    const int64_t size = stream.GetSize() - start;
    if (size < minBytes || size > maxBytes || size < 0) return false;
    out.resize(static_cast<size_t>(size));
    const int64_t got = size > 0 ? stream.Read(out.data(), size) : 0;
    if (got == size) return true;
  } catch (const std::exception&) {
  }
  out.clear();
  stream.SetPosition(start);
  return false;
}

bool PeekBytes(TStream& stream, void* buffer, int64_t count) {
  const int64_t start = stream.GetPosition();
  const int64_t got = stream.Read(buffer, count);
  stream.SetPosition(start);
  return got == count;
}

TRef<TBitmapStore> LoadImageFile(TStream& stream, std::string_view signature, int64_t minBytes,
                                 const TImageFileDecoder& decode) {
  const int64_t start = stream.GetPosition();
  if (!signature.empty()) {
    std::string head(signature.size(), '\0');
    if (!PeekBytes(stream, head.data(), static_cast<int64_t>(head.size())) || head != signature)
      return nullptr;
  }
  std::vector<uint8_t> file;
  if (!ReadRest(stream, file, minBytes)) return nullptr;
  if (TRef<TBitmapStore> store = decode(file)) return store;
  stream.SetPosition(start);
  return nullptr;
}

namespace {

constexpr size_t kPngMessageSize = 160;

extern "C" void ImageIOPngError(png_structp png, png_const_charp message) {
  std::snprintf(static_cast<char*>(png_get_error_ptr(png)), kPngMessageSize, "%s", message);
  png_longjmp(png, 1);
}
extern "C" void ImageIOPngWarning(png_structp, png_const_charp) {}

// No C++ object with a destructor in this frame: libpng leaves it by longjmp.
bool WritePngRows(png_structp png, png_infop info, std::FILE* file, int width, int height,
                  const uint32_t* pixels, ptrdiff_t stridePixels, bool withAlpha) {
  if (setjmp(png_jmpbuf(png))) return false;
  png_init_io(png, file);
  png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), 8,
               withAlpha ? PNG_COLOR_TYPE_RGB_ALPHA : PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  // The words lie in memory as B, G, R, A bytes; the filler transform drops A for RGB (it needs the colour
  // type, so it comes after the header).
  png_set_bgr(png);
  if (!withAlpha) png_set_filler(png, 0, PNG_FILLER_AFTER);
  for (int y = 0; y < height; ++y)
    png_write_row(png, reinterpret_cast<png_const_bytep>(pixels + static_cast<ptrdiff_t>(y) * stridePixels));
  png_write_end(png, nullptr);
  return true;
}

} // namespace

bool WritePngFile(const std::string& path, int width, int height, const uint32_t* pixels,
                  ptrdiff_t stridePixels, bool withAlpha, std::string* error) {
  static_assert(std::endian::native == std::endian::little, "pixels are read as little-endian words");
  auto fail = [&](const std::string& why) {
    if (error) *error = why;
    return false;
  };
  if (width <= 0 || height <= 0 || !pixels || stridePixels < width) return fail("no picture to write");
  if (path.empty() || path.back() == '/') return fail("no file name");

  const size_t slash = path.rfind('/');
  const size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
  std::string temp = path.substr(0, nameStart) + "." + path.substr(nameStart) + ".XXXXXX";
  const int fd = ::mkstemp(temp.data());
  if (fd < 0) return fail("cannot create a file beside \"" + path + "\": " + std::strerror(errno));
  ::fchmod(fd, 0644); // as a plain fopen would leave it under the usual umask
  std::FILE* file = ::fdopen(fd, "wb");
  if (!file) {
    const int code = errno;
    ::close(fd);
    ::unlink(temp.c_str());
    return fail("cannot write \"" + temp + "\": " + std::strerror(code));
  }

  char message[kPngMessageSize] = "out of memory";
  png_structp png =
      png_create_write_struct(PNG_LIBPNG_VER_STRING, message, ImageIOPngError, ImageIOPngWarning);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  const bool written = info && WritePngRows(png, info, file, width, height, pixels, stridePixels, withAlpha);
  png_destroy_write_struct(&png, info ? &info : nullptr);
  const bool closed = std::fclose(file) == 0;
  const int closeCode = errno;
  std::string why;
  if (!written)
    why = std::string("PNG: ") + message;
  else if (!closed)
    why = "cannot write \"" + temp + "\": " + std::strerror(closeCode);
  else if (::rename(temp.c_str(), path.c_str()) != 0)
    why = "cannot rename \"" + temp + "\" to \"" + path + "\": " + std::strerror(errno);
  else
    return true;
  ::unlink(temp.c_str());
  return fail(why);
}

} // namespace kiv

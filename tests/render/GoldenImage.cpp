#include "GoldenImage.h"

#include <png.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <vector>

namespace kiv::test {

namespace {

struct TFileCloser {
  void operator()(FILE* file) const { std::fclose(file); }
};
using TFile = std::unique_ptr<FILE, TFileCloser>;

std::string GoldenPath(std::string_view name) {
  return std::string(KIV_GOLDEN_DIR) + "/" + std::string(name) + ".png";
}

std::string OutputPath(std::string_view name, std::string_view suffix) {
  const std::filesystem::path folder = std::filesystem::path(KIV_BINARY_DIR) / "golden-out";
  std::error_code ignored;
  std::filesystem::create_directories(folder, ignored);
  return (folder / (std::string(name) + std::string(suffix) + ".png")).string();
}

} // namespace

bool WritePng(const std::string& path, const TDevBitmap& bitmap) {
  if (bitmap.Format() != TPixelFormat::pf32bit) return false;
  TFile file(std::fopen(path.c_str(), "wb"));
  if (!file) return false;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  if (!info) {
    png_destroy_write_struct(&png, nullptr);
    return false;
  }
  std::vector<uint8_t> row(static_cast<size_t>(bitmap.Width()) * 4);
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    return false;
  }
  png_init_io(png, file.get());
  png_set_IHDR(png, info, static_cast<png_uint_32>(bitmap.Width()), static_cast<png_uint_32>(bitmap.Height()),
               8, PNG_COLOR_TYPE_RGB_ALPHA, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
               PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  for (int y = 0; y < bitmap.Height(); ++y) {
    for (int x = 0; x < bitmap.Width(); ++x) {
      const uint32_t p = bitmap.Pixel32(x, y);
      uint8_t* out = &row[static_cast<size_t>(x) * 4];
      out[0] = static_cast<uint8_t>(p >> 16);
      out[1] = static_cast<uint8_t>(p >> 8);
      out[2] = static_cast<uint8_t>(p);
      out[3] = static_cast<uint8_t>(p >> 24);
    }
    png_write_row(png, row.data());
  }
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return true;
}

bool ReadPng(const std::string& path, TDevBitmap& bitmap) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&image, path.c_str())) return false;
  image.format = PNG_FORMAT_BGRA; // little-endian ARGB words
  bitmap.SetSize(static_cast<int32_t>(image.width), static_cast<int32_t>(image.height),
                 TPixelFormat::pf32bit);
  const bool ok = png_image_finish_read(&image, nullptr, bitmap.ScanLine(0), bitmap.Pitch(), nullptr) != 0;
  png_image_free(&image);
  return ok;
}

::testing::AssertionResult MatchesGolden(const TDevBitmap& actual, std::string_view name, int tolerance) {
  const std::string golden = GoldenPath(name);
  const char* update = std::getenv("KIV_UPDATE_GOLDENS");
  if (update && std::string_view(update) == "1") {
    if (!WritePng(golden, actual)) return ::testing::AssertionFailure() << "cannot write " << golden;
    return ::testing::AssertionSuccess() << "wrote " << golden;
  }
  TDevBitmap expected;
  if (!ReadPng(golden, expected)) {
    const std::string out = OutputPath(name, ".actual");
    WritePng(out, actual);
    return ::testing::AssertionFailure() << "no golden image " << golden << " (actual picture in " << out
                                         << "; run scripts/refresh_goldens.sh)";
  }
  if (expected.Width() != actual.Width() || expected.Height() != actual.Height())
    return ::testing::AssertionFailure() << "size " << actual.Width() << "x" << actual.Height() << ", golden "
                                         << expected.Width() << "x" << expected.Height();
  TDevBitmap diff(actual.Width(), actual.Height(), TPixelFormat::pf32bit);
  int worst = 0, bad = 0;
  for (int y = 0; y < actual.Height(); ++y)
    for (int x = 0; x < actual.Width(); ++x) {
      const uint32_t a = actual.Pixel32(x, y), e = expected.Pixel32(x, y);
      uint32_t d = 0xFF000000u;
      int pixelWorst = 0;
      for (int shift = 0; shift < 32; shift += 8) {
        const int delta = std::abs(int((a >> shift) & 0xFF) - int((e >> shift) & 0xFF));
        pixelWorst = std::max(pixelWorst, delta);
        if (shift < 24) d |= uint32_t(std::min(255, delta * 16)) << shift;
      }
      worst = std::max(worst, pixelWorst);
      if (pixelWorst > tolerance) {
        ++bad;
        d |= 0x00FF0000u;
      }
      diff.SetPixel32(x, y, d);
    }
  if (bad == 0) return ::testing::AssertionSuccess();
  const std::string actualPath = OutputPath(name, ".actual"), diffPath = OutputPath(name, ".diff");
  WritePng(actualPath, actual);
  WritePng(diffPath, diff);
  return ::testing::AssertionFailure()
         << bad << " pixels differ from " << golden << " by more than " << tolerance << " (worst " << worst
         << "); see " << actualPath << " and " << diffPath;
}

} // namespace kiv::test

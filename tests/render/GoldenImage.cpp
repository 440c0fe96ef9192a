#include "GoldenImage.h"

#include "ImageFileIO.h"

#include <png.h>

#include <cstdlib>
#include <filesystem>

namespace kiv::test {

namespace {

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
  return WritePngFile(path, bitmap.Width(), bitmap.Height(),
                      reinterpret_cast<const uint32_t*>(bitmap.ScanLine(0)), bitmap.Pitch() / 4, true);
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

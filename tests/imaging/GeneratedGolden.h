#pragma once
// Golden pictures of generated pictures (32-bit 0xAARRGGBB pixels), in tests/golden/imaging/. With
// KIV_UPDATE_GOLDENS=1 the stored picture is written instead; on a mismatch the actual one goes to the
// build folder.

#include "ImagingTestSupport.h"

#include "CachedBitmap.h"
#include "ImageFileIO.h"
#include "PngLoader.h"

#include <filesystem>

namespace kiv::test {

inline void ExpectMatchesGolden(const TCachedBitmap& actual, const std::string& name) {
  const std::string path = std::string(KIV_TEST_FIXTURES) + "/../golden/imaging/" + name + ".png";
  if (std::getenv("KIV_UPDATE_GOLDENS")) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    ASSERT_TRUE(
        WritePngFile(path, actual.Width(), actual.Height(), actual.Pixels().data(), actual.Width(), true));
    return;
  }
  TRef<TBitmap> golden = ReadPng(FileBytes(path));
  ASSERT_TRUE(golden) << "no golden picture " << path << " (KIV_UPDATE_GOLDENS=1 writes it)";
  TRef<TBitmap> g = ConvertBitmap(*golden, TBitmapFormat::Pf32bit);
  ASSERT_EQ(g->Width(), actual.Width());
  ASSERT_EQ(g->Height(), actual.Height());
  int worst = 0;
  for (int y = 0; y < g->Height(); ++y)
    for (int x = 0; x < g->Width(); ++x) {
      const uint32_t a = g->Pixel32(x, y), b = actual.Pixel(x, y);
      for (int shift = 0; shift < 32; shift += 8)
        worst = std::max(worst, std::abs(int(a >> shift & 255) - int(b >> shift & 255)));
    }
  if (worst > 2) {
    const std::string out = std::string(KIV_BINARY_DIR) + "/" + name + ".actual.png";
    WritePngFile(out, actual.Width(), actual.Height(), actual.Pixels().data(), actual.Width(), true);
    ADD_FAILURE() << name << ": differs from the golden picture by " << worst << " (actual written to " << out
                  << ")";
  }
}

} // namespace kiv::test

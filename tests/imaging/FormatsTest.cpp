// Pictures made in the test: BMP layouts, packed images, hostile sizes, colour operations and the turns of
// a show's rotation list.

#include "ImagingTestSupport.h"
#include "BmpLoader.h"
#include "PackedImageLoader.h"
#include "LoadYield.h"
#include "ImageLevels.h"
#include "CacheImageDecoder.h"
#include "ShowFileAccess.h"
#include "SharedImageCache.h"
#include "PictureColorOps.h"
#include "Utf8Conversion.h"

#include <zlib.h>

namespace kiv {
namespace {

void Put16(std::vector<uint8_t>& v, uint16_t x) {
  v.insert(v.end(), {uint8_t(x), uint8_t(x >> 8)});
}
void Put32(std::vector<uint8_t>& v, uint32_t x) {
  for (int i = 0; i < 4; ++i)
    v.push_back(uint8_t(x >> (8 * i)));
}

// A BMP with a 40-byte header; pixels are rows as stored (bottom-up for a positive height).
std::vector<uint8_t> MakeBmp(int32_t width, int32_t height, uint16_t bits, uint32_t compression,
                             const std::vector<uint8_t>& palette, const std::vector<uint8_t>& pixels) {
  std::vector<uint8_t> v;
  const uint32_t offset = 54 + static_cast<uint32_t>(palette.size());
  Put16(v, 19778), Put32(v, offset + static_cast<uint32_t>(pixels.size())), Put16(v, 0), Put16(v, 0),
      Put32(v, offset);
  Put32(v, 40), Put32(v, uint32_t(width)), Put32(v, uint32_t(height)), Put16(v, 1), Put16(v, bits);
  Put32(v, compression), Put32(v, 0), Put32(v, 0), Put32(v, 0), Put32(v, 0), Put32(v, 0);
  v.insert(v.end(), palette.begin(), palette.end());
  v.insert(v.end(), pixels.begin(), pixels.end());
  return v;
}

TEST(Bmp, RowOrderFollowsTheSignOfTheHeight) {
  // 1x2, 24-bit, rows padded to 4 bytes: first stored row blue, second red.
  const std::vector<uint8_t> rows = {255, 0, 0, 0, 0, 0, 255, 0};
  TRef<TBitmap> up = ReadBmp(MakeBmp(1, 2, 24, 0, {}, rows));
  TRef<TBitmap> down = ReadBmp(MakeBmp(1, -2, 24, 0, {}, rows));
  ASSERT_TRUE(up && down);
  EXPECT_EQ(up->Row(0)[2], 255);   // bottom-up: the last stored row (red) is on top
  EXPECT_EQ(down->Row(0)[0], 255); // top-down: blue on top
}

TEST(Bmp, PaletteEntriesBeyondTheFileTakeTheMissingColour) {
  // 8-bit, 2 colours declared, pixel indices 1 and 5.
  const std::vector<uint8_t> palette = {0, 0, 0, 0, 10, 20, 30, 0};
  std::vector<uint8_t> v = MakeBmp(2, 1, 8, 0, palette, {1, 5, 0, 0});
  v[46] = 2; // colours used
  TRef<TBitmap> b = ReadBmp(v);
  ASSERT_TRUE(b);
  EXPECT_EQ(b->Row(0)[0], 10);
  EXPECT_EQ(b->Row(0)[3], kMissingPaletteBlue);
}

TEST(Bmp, RefusedLayouts) {
  const std::vector<uint8_t> px(64, 0);
  struct Case {
    const char* what;
    std::vector<uint8_t> file;
  } cases[] = {
      {"RLE8", MakeBmp(2, 2, 8, 1, std::vector<uint8_t>(1024), px)},
      {"RLE4", MakeBmp(2, 2, 4, 2, std::vector<uint8_t>(64), px)},
      {"width 0", MakeBmp(0, 2, 24, 0, {}, px)},
      {"height 0", MakeBmp(2, 0, 24, 0, {}, px)},
      {"depth 7", MakeBmp(2, 2, 7, 0, {}, px)},
      {"pixel data cut short", MakeBmp(16, 16, 24, 0, {}, px)},
      {"huge width", MakeBmp(0x7FFFFFFF, 1, 24, 0, {}, px)},
      {"huge height", MakeBmp(1, int32_t(0x80000000), 24, 0, {}, px)},
      {"above the pixel cap", MakeBmp(16384, 16384, 1, 0, std::vector<uint8_t>(8), px)},
  };
  for (const Case& c : cases)
    EXPECT_FALSE(ReadBmp(c.file)) << c.what;
}

std::vector<uint8_t> Text(const std::string& s) {
  std::vector<uint8_t> v;
  Put16(v, uint16_t(s.size()));
  v.insert(v.end(), s.begin(), s.end());
  return v;
}

std::vector<uint8_t> MakeGfx(const std::vector<std::pair<std::string, std::string>>& fields,
                             const std::vector<uint8_t>& payload, int declaredCount = -1) {
  std::vector<uint8_t> v = {'R', 'Y', 'G', 'F'};
  Put16(v, uint16_t(declaredCount < 0 ? fields.size() : declaredCount));
  for (const auto& [name, value] : fields) {
    auto a = Text(name), b = Text(value);
    v.insert(v.end(), a.begin(), a.end());
    v.insert(v.end(), b.begin(), b.end());
  }
  v.insert(v.end(), payload.begin(), payload.end());
  return v;
}

std::vector<uint8_t> Deflate(const std::vector<uint8_t>& data) {
  uLongf size = compressBound(data.size());
  std::vector<uint8_t> out(size);
  compress(out.data(), &size, data.data(), data.size());
  out.resize(size);
  return out;
}

const std::vector<std::pair<std::string, std::string>> kFields = {
    {"File", "a.png"}, {"Width", "2"}, {"Height", "1"}, {"OriginalSize", "1234"}};

TEST(PackedImage, DecodesItsBmpAs32Bit) {
  const auto bmp = MakeBmp(2, 1, 32, 0, {}, {1, 2, 3, 128, 4, 5, 6, 255});
  TMemoryStream stream(MakeGfx(kFields, Deflate(bmp)));
  TOwned<TImage> image = LoadImage(stream, u"a.png"); // packed images named .png go to this loader first
  ASSERT_TRUE(image);
  TRef<TBitmap> b = image->GetMipLevel(0, TBitmapFormat::None);
  EXPECT_EQ(b->Format(), TBitmapFormat::Pf32bit);
  EXPECT_EQ(b->Pixel32(0, 0), 0x80030201u);
  EXPECT_EQ(b->Pixel32(1, 0), 0xFF060504u);
}

TEST(PackedImage, DamagedPayloadGivesTheFillColour) {
  std::vector<uint8_t> payload = Deflate(MakeBmp(2, 1, 24, 0, {}, {1, 2, 3, 4, 5, 6, 0, 0}));
  payload.resize(payload.size() / 2);
  TMemoryStream stream(MakeGfx(kFields, payload));
  TOwned<TImage> image = LoadImage(stream, u"a.rygfx");
  ASSERT_TRUE(image);
  TRef<TBitmap> b = image->GetMipLevel(0, TBitmapFormat::None);
  ASSERT_EQ(b->Width(), 2);
  EXPECT_EQ(b->Pixel32(1, 0), kGfxFailedFill);
}

TEST(PackedImage, InflationStopsAtWhatTheDeclaredSizeCanHold) {
  // 2x1 declared, a payload that inflates to megabytes.
  TMemoryStream stream(MakeGfx(kFields, Deflate(std::vector<uint8_t>(8 << 20, 0))));
  TOwned<TImage> image = LoadImage(stream, u"a.rygfx");
  ASSERT_TRUE(image);
  EXPECT_EQ(image->GetMipLevel(0, TBitmapFormat::None)->Pixel32(0, 0), kGfxFailedFill);
}

TEST(PackedImage, BrokenHeadersDecline) {
  struct Case {
    const char* what;
    std::vector<uint8_t> file;
  } cases[] = {
      {"more fields declared than present", MakeGfx(kFields, {}, 9)},
      {"no Height", MakeGfx({{"File", "a"}, {"Width", "2"}, {"OriginalSize", "1"}}, {})},
      {"Width not a number",
       MakeGfx({{"File", "a"}, {"Width", "2x"}, {"Height", "1"}, {"OriginalSize", "1"}}, {})},
      {"Width past the cap",
       MakeGfx({{"File", "a"}, {"Width", "99999"}, {"Height", "1"}, {"OriginalSize", "1"}}, {})},
      {"not RYGF", {'R', 'Y', 'G', 'X', 0, 0}},
  };
  for (const Case& c : cases) {
    TMemoryStream stream(c.file);
    EXPECT_FALSE(LoadImage(stream, u"a.rygfx")) << c.what;
    EXPECT_EQ(stream.GetPosition(), 0) << c.what;
  }
}

uint32_t Tint(uint32_t c, int h, int s, int l) {
  TBitmap b(1, 1, TBitmapFormat::Pf32bit);
  b.SetPixel32(0, 0, c);
  TintPicture(b, h, s, l);
  return b.Pixel32(0, 0);
}

TEST(PictureOps, TintTurnsHueSaturationAndLightness) {
  EXPECT_EQ(Tint(0x80FF0000, 0, 0, 0), 0x80FF0000u);   // nothing asked: untouched
  EXPECT_EQ(Tint(0x80FE0000, 360, 0, 0), 0x80FE0000u); // a full turn is 256 steps: back to red
  // Half a turn is 128 steps on a circle of six 42.5-step sextants: nearly cyan (worked by hand).
  EXPECT_EQ(Tint(0xFFFE0000, 180, 0, 0), 0xFF00FBFEu);
  // Pure red has L = 127.5, rounded to 128: the way back lifts green and blue by one.
  EXPECT_EQ(Tint(0xFFFF0000, 360, 0, 0), 0xFFFF0101u);
  EXPECT_EQ(Tint(0xFF3366CC, 0, -100, 0), 0xFF808080u); // no saturation: grey of its lightness
  EXPECT_EQ(Tint(0xFF3366CC, 0, 0, 100), 0xFFFFFFFFu);
  EXPECT_EQ(Tint(0xFF3366CC, 0, 0, -100), 0xFF000000u);
}

TEST(PictureOps, GreyAndDisabled) {
  TBitmap b(2, 1, TBitmapFormat::Pf32bit);
  b.SetPixel32(0, 0, 0xFFFFFFFF);
  b.SetPixel32(1, 0, 0xC8102030);
  DisabledPicture(b);
  EXPECT_EQ(b.Pixel32(0, 0), 0x3FFFFFFFu);
  EXPECT_EQ(b.Pixel32(1, 0), 0x32202020u);
  TBitmap rgb(1, 1, TBitmapFormat::Pf24bit);
  rgb.Row(0)[0] = 9;
  GreyPicture(rgb); // other formats are left as they are
  EXPECT_EQ(rgb.Row(0)[0], 9);
}

TEST(PictureOps, TintStopsWhenTheLoadCallBackRefuses) {
  TBitmap b(1, 3, TBitmapFormat::Pf32bit);
  b.Fill32(0xFFFE0000);
  SetLoadCallBackMode(kLoadStop);
  TintPicture(b, 180, 0, 0);
  SetLoadCallBackMode(kLoadContinue);
  EXPECT_EQ(b.Pixel32(0, 0), 0xFF00FBFEu); // the first row is done before the callback is asked
  EXPECT_EQ(b.Pixel32(0, 2), 0xFFFE0000u);
}

// Pictures listed in a show's rotation map with 3, 6 or 8 come out turned as EXIF says; the untagged
// picture is the reference.
TEST(RotationMap, ListedPicturesAreTurned) {
  InstallImageDecoder();
  const std::string dir = test::MediaDir() + "/images/jpeg/orientation-imaging/";
  auto source = TRef<TMappedFileSource>::Make();
  for (int o : {3, 6, 8})
    source->AddRotation(Utf8ToUtf16(dir + "orientation_" + std::to_string(o) + ".jpg"), o);
  auto accessor = TRef<TFileAccessor>::Make(source, dir);
  TOwned<TKivImage> reference = LoadSharedImage(*accessor, Utf8ToUtf16(dir + "orientation_0.jpg"));
  ASSERT_TRUE(reference);
  const TCachedBitmap& ref = reference->Bitmap();
  for (int o : {3, 6, 8}) {
    TOwned<TKivImage> image =
        LoadSharedImage(*accessor, Utf8ToUtf16(dir + "orientation_" + std::to_string(o) + ".jpg"));
    ASSERT_TRUE(image) << o;
    const TCachedBitmap& b = image->Bitmap();
    ASSERT_EQ(b.Width(), ref.Width()) << o;
    ASSERT_EQ(b.Height(), ref.Height()) << o;
    double error = 0;
    for (int y = 0; y < b.Height(); ++y)
      for (int x = 0; x < b.Width(); ++x)
        for (int shift : {0, 8, 16})
          error += std::abs(int((b.Pixel(x, y) >> shift) & 255) - int((ref.Pixel(x, y) >> shift) & 255));
    EXPECT_LT(error / (3.0 * b.Width() * b.Height()), 8.0) << "orientation " << o; // JPEG noise only
  }
  // A file the map does not list is left as stored.
  TOwned<TKivImage> plain = LoadSharedImage(*accessor, Utf8ToUtf16(dir + "orientation_5.jpg"));
  ASSERT_TRUE(plain);
  EXPECT_EQ(plain->Bitmap().Width(), ref.Height());
}

} // namespace
} // namespace kiv

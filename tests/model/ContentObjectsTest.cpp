// The content kinds: visible rectangle, crop, border, sprite frames, fill types, text pictures, themes, and
// how images, texts, boxes and sprites come out of the drawer on llvmpipe.

#include "../render/DrawerTestSupport.h"
#include "../render/GLTestSupport.h"
#include "../support/TestBmp.h"
#include "RecordingDrawer.h"
#include "TestEnvironment.h"
#include "FontOutlines.h"
#include "CacheImageDecoder.h"
#include "ShowFileAccess.h"
#include "ContentObjects.h"
#include "Streams.h"
#include "Utf8Conversion.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <unistd.h>
#include <vector>

#include <jpeglib.h>

namespace {

using namespace kiv;

std::u16string U(std::string_view text) {
  return Utf8ToUtf16(text);
}
std::string A(std::u16string_view text) {
  return Utf16ToUtf8(text);
}

// ---- pure rules ----

struct TRectCase {
  const char* what;
  float width, height;
  TBorderParams border;
  TFloatRect expected;
};

TBorderParams Aspect(float ratio, float zoom, float shiftX, float shiftY) {
  TBorderParams border;
  border.enableAspect = 1;
  border.aspectRatio = ratio;
  border.aspectZoom = zoom;
  border.aspectShiftX = shiftX;
  border.aspectShiftY = shiftY;
  return border;
}
TBorderParams Crop(TIniFloatRect rect, TIniFloatPoint point) {
  TBorderParams border;
  border.enableCrop = 1;
  border.cropRect = rect;
  border.cropPoint = point;
  return border;
}

TEST(ContentRules, VisibleSourceRectangle) {
  const TRectCase cases[] = {
      {"no framing", 4000, 3000, TBorderParams{}, {0, 0, 4000, 3000}},
      {"centred 16:9 band", 4000, 3000, Aspect(1.7778f, 100, 0, 0), {0, 375, 4000, 2625}},
      {"zoom 50 pushed right", 4000, 3000, Aspect(1.7778f, 50, 100, 0), {2000, 937.5f, 4000, 2062.5f}},
      {"narrower ratio, centred across", 4000, 3000, Aspect(1, 100, 0, 0), {500, 0, 3500, 3000}},
      {"ratio 0 keeps the picture's own", 4000, 3000, Aspect(0, 0, 0, 0), {0, 0, 4000, 3000}},
      {"shift outside the range is none",
       4000,
       3000,
       Aspect(1.7778f, 50, 150, -101),
       {1000, 937.5f, 3000, 2062.5f}},
      {"crop sides in percent of the height",
       3000,
       2000,
       Crop({10, 0, 10, 0}, {-1, -1}),
       {200, 0, 2800, 2000}},
      {"crop point in percent of the width", 3000, 2000, Crop({0, 0, 0, 0}, {10, 10}), {300, 0, 2700, 2000}},
      {"top and bottom in percent of the height",
       3000,
       2000,
       Crop({0, 5, 0, 10}, {-1, -1}),
       {0, 100, 3000, 1800}},
      {"a crop that empties it shows the whole",
       3000,
       2000,
       Crop({80, 0, 80, 0}, {-1, -1}),
       {0, 0, 3000, 2000}},
  };
  for (const TRectCase& c : cases) {
    SCOPED_TRACE(c.what);
    const TFloatRect r = VisibleSourceRect(c.width, c.height, c.border);
    EXPECT_NEAR(r.left, c.expected.left, 0.5);
    EXPECT_NEAR(r.top, c.expected.top, 0.5);
    EXPECT_NEAR(r.right, c.expected.right, 0.5);
    EXPECT_NEAR(r.bottom, c.expected.bottom, 0.5);
  }
}

TEST(ContentRules, BorderWidth) {
  TBorderParams border;
  EXPECT_EQ(BorderPixels(1000, border), 0);
  border.enableBorder = 1;
  EXPECT_NEAR(BorderPixels(1000, border), 34, 1e-3); // 3.4 percent by default
  border.borderWidth = 5;
  EXPECT_NEAR(BorderPixels(1000, border), 50, 1e-3);
  border.borderWidth = -5;
  EXPECT_EQ(BorderPixels(1000, border), 0);
}

TEST(ContentRules, AnimationIntervals) {
  const int32_t listed[] = {200, 50};
  EXPECT_EQ(MakeAnimationParams(2, 2, 4, 0, 0, listed).intervals, (std::vector<int32_t>{200, 50, 50, 50}));
  EXPECT_EQ(MakeAnimationParams(2, 2, 4, 0, 0, {}).intervals, (std::vector<int32_t>{100, 100, 100, 100}));
  // A count of 0 means 1; counts, columns and rows are at least 1 and the count fits the sheet.
  EXPECT_EQ(MakeAnimationParams(2, 2, 0, 0, 0, {}).count, 1);
  const TImageAnimationParams bad = MakeAnimationParams(0, -3, 1000000000, 0, 0, listed);
  EXPECT_EQ(bad.columns, 1);
  EXPECT_EQ(bad.rows, 1);
  EXPECT_EQ(bad.count, 1);
  const TImageAnimationParams huge = MakeAnimationParams(1 << 30, 1 << 30, 1 << 30, 0, 0, listed);
  EXPECT_EQ(huge.columns, kMaxAnimGrid);
  EXPECT_EQ(huge.count, kMaxAnimFrames);
  EXPECT_EQ(huge.intervals.size(), static_cast<size_t>(kMaxAnimFrames));
}

TEST(ContentRules, FrameAtTime) {
  const int32_t listed[] = {200, 50};
  const TImageAnimationParams twice = MakeAnimationParams(2, 2, 4, 2, 0, listed);
  const TImageAnimationParams forever = MakeAnimationParams(2, 2, 4, 0, 0, listed);
  const struct {
    const TImageAnimationParams* animation;
    double time;
    int32_t frame;
  } cases[] = {
      {&twice, 0, 0},     {&twice, 100, 0},
      {&twice, 200, 0},   {&twice, 201, 1},
      {&twice, 260, 2},   {&twice, 350, 3},
      {&twice, 400, 0},   {&twice, 560, 1},
      {&twice, 700, 3},   {&twice, 701, 3},
      {&twice, 1e9, 3},   {&forever, 701, 0},
      {&forever, 960, 2}, {&forever, 3.5e12 + 260, 2},
      {&twice, -50, 0},
  };
  for (const auto& c : cases)
    EXPECT_EQ(AnimationFrameAt(*c.animation, c.time), c.frame) << "at " << c.time;

  // Passes of no time, or of negative intervals, show the first frame and come back at once.
  const int32_t zero[] = {0};
  const int32_t negative[] = {-100, -1};
  EXPECT_EQ(AnimationFrameAt(MakeAnimationParams(4, 1, 4, 0, 0, zero), 1e15), 0);
  EXPECT_EQ(AnimationFrameAt(MakeAnimationParams(4, 1, 4, 3, 0, negative), 1e15), 0);
  // A sheet of one cell never animates.
  EXPECT_EQ(AnimationFrameAt(MakeAnimationParams(1, 1, 4, 0, 0, listed), 260), 0);
}

TEST(ContentRules, AnimatedFilesPlayAtTheirOwnDelays) {
  const struct {
    int32_t frames;
    const char* delays;
    std::vector<int32_t> intervals;
  } cases[] = {
      {4, "25,50,75,100", {250, 500, 750, 1000}},
      {3, "0,7", {100, 70, 100}},       // no delay, and a missing one, last 100 ms
      {2, "5,x,9", {50, 100}},          // a bad item lasts 100 ms; items past the frames are ignored
      {3, "", {100, 100, 100}},
      {2, "-4,2000000", {100, 100}},    // out of range
  };
  for (const auto& c : cases) {
    const TImageAnimationParams a = PictureFileAnimation(c.frames, c.delays, 2, 5.0f);
    EXPECT_EQ(a.columns, c.frames) << c.delays;
    EXPECT_EQ(a.rows, 1);
    EXPECT_EQ(a.count, c.frames);
    EXPECT_EQ(a.repeatCount, 2);
    EXPECT_EQ(a.offset, 5.0f);
    EXPECT_EQ(a.intervals, c.intervals) << c.delays;
  }
}

TEST(ContentRules, SpriteFrameSkipsTheGutters) {
  // 4 x 2 frames of 100 x 100 in the drawer's 408 x 204 tile bitmap.
  const TFloatRect first = SpriteFrameRect(400, 200, 4, 2, 0);
  EXPECT_EQ(first.left, 1);
  EXPECT_EQ(first.top, 1);
  EXPECT_EQ(first.right, 101);
  EXPECT_EQ(first.bottom, 101);
  const TFloatRect sixth = SpriteFrameRect(400, 200, 4, 2, 5); // column 1, row 1
  EXPECT_EQ(sixth.left, 103);
  EXPECT_EQ(sixth.top, 103);
  EXPECT_EQ(sixth.right, 203);
  EXPECT_EQ(sixth.bottom, 203);
}

TEST(ContentRules, TextPictureNamesRoundTrip) {
  TTextPictureParams params;
  params.text = U("Zeile 1, \"zwei\"\r\n12:30 — ünïcode");
  params.fontName = U("DejaVu Sans");
  params.fontStyle = kFontBold | kFontUnderline;
  params.color = 0x123456;
  params.align = 2;
  params.lineSpacing = -20;
  params.height = 96;
  params.layout = U("{0A1B-2C}");
  const std::u16string encoded = EncodeTextPicture(params);
  TTextPictureParams decoded;
  ASSERT_TRUE(DecodeTextPicture(encoded, decoded));
  EXPECT_EQ(decoded, params);
  for (std::u16string_view bad :
       {std::u16string_view(u""), std::u16string_view(u"96,1,0,1,0,5:Arial"),
        std::u16string_view(u"96,1,0,1,0,5:Arial4:Texts"), std::u16string_view(u"96,1,0,9,0,5:Arial4:Text"),
        std::u16string_view(u"96,1,0,1,0,999999999:Arial")}) {
    TTextPictureParams ignored;
    EXPECT_FALSE(DecodeTextPicture(bad, ignored)) << A(bad);
  }
  EXPECT_EQ(ParseFontStyleLetters(u"bIxS"), kFontBold | kFontItalic | kFontStrikeOut);
}

std::string MediaDir() {
  return KIV_TEST_MEDIA;
}

void PinFonts() {
  const std::string font = MediaDir() + "/fonts/liberation2/LiberationSans-Regular.ttf";
  if (std::filesystem::exists(font)) SetFontFile(u"Arial", font);
}

TEST(ContentRules, TextPictureHasGlyphsWhereTheTextIs) {
  PinFonts();
  TTextPictureParams params;
  params.text = u"HH";
  params.fontName = u"Arial";
  params.color = 0x0000FF; // red as a colour reference
  params.height = 64;
  TRef<TCachedBitmap> picture = MakeTextPicture(params);
  if (!picture) GTEST_SKIP() << "no font can be opened";
  // One line 64 pixels high, plus the producer's margin.
  EXPECT_NEAR(picture->Height(), 64, 4);
  EXPECT_GT(picture->Width(), picture->Height());
  int opaque = 0;
  for (int y = 0; y < picture->Height(); ++y)
    for (int x = 0; x < picture->Width(); ++x) {
      const uint32_t p = picture->Pixel(x, y);
      if ((p >> 24) == 0xFF) {
        ++opaque;
        EXPECT_EQ(p & 0xFFFFFF, 0xFF0000u) << x << "," << y;
      }
    }
  // "H" strokes fill a fair share of the block; the corners stay clear.
  EXPECT_GT(opaque, picture->Width() * picture->Height() / 10);
  EXPECT_EQ(picture->Pixel(0, 0) >> 24, 0u);
  EXPECT_EQ(picture->Pixel(picture->Width() - 1, picture->Height() - 1) >> 24, 0u);
}

// ---- objects ----

using testing_support::TRecordingDrawer;

TRef<TKivPicture> SolidPicture(int width, int height, uint32_t argb) {
  return TRef<TKivPicture>::Make(TRef<TCachedBitmap>::Make(
      width, height, std::vector<uint32_t>(static_cast<size_t>(width) * height, argb)));
}

// A picture of 2 x 2 cells, each of its own colour.
constexpr uint32_t kCellColors[4] = {0xFFFF0000, 0xFF00FF00, 0xFF0000FF, 0xFFFFFF00};
TRef<TKivPicture> SheetPicture(int cell) {
  std::vector<uint32_t> pixels(static_cast<size_t>(4 * cell * cell));
  for (int y = 0; y < 2 * cell; ++y)
    for (int x = 0; x < 2 * cell; ++x)
      pixels[static_cast<size_t>(y * 2 * cell + x)] = kCellColors[(y / cell) * 2 + x / cell];
  return TRef<TKivPicture>::Make(TRef<TCachedBitmap>::Make(2 * cell, 2 * cell, std::move(pixels)));
}

// 24-bit BMP of one colour.
void WriteBmp(const std::filesystem::path& path, int width, int height, uint8_t red, uint8_t green,
              uint8_t blue) {
  const uint32_t color = uint32_t(red) << 16 | uint32_t(green) << 8 | blue;
  test_files::WriteBmpFile(path, width, height, [color](int, int) { return color; });
}

// A JPEG (quality 95) of the colours pixel(x, y) gives as 0xRRGGBB.
void WriteJpeg(const std::filesystem::path& path, int width, int height,
               const std::function<uint32_t(int, int)>& pixel) {
  jpeg_compress_struct cinfo{};
  jpeg_error_mgr errors{};
  cinfo.err = jpeg_std_error(&errors);
  jpeg_create_compress(&cinfo);
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&cinfo, &buffer, &size);
  cinfo.image_width = static_cast<JDIMENSION>(width);
  cinfo.image_height = static_cast<JDIMENSION>(height);
  cinfo.input_components = 3;
  cinfo.in_color_space = JCS_RGB;
  jpeg_set_defaults(&cinfo);
  jpeg_set_quality(&cinfo, 95, TRUE);
  jpeg_start_compress(&cinfo, TRUE);
  std::vector<uint8_t> row(static_cast<size_t>(width) * 3);
  while (cinfo.next_scanline < cinfo.image_height) {
    const int y = static_cast<int>(cinfo.next_scanline);
    for (int x = 0; x < width; ++x) {
      const uint32_t c = pixel(x, y);
      row[static_cast<size_t>(x) * 3] = static_cast<uint8_t>(c >> 16);
      row[static_cast<size_t>(x) * 3 + 1] = static_cast<uint8_t>(c >> 8);
      row[static_cast<size_t>(x) * 3 + 2] = static_cast<uint8_t>(c);
    }
    JSAMPROW line = row.data();
    jpeg_write_scanlines(&cinfo, &line, 1);
  }
  jpeg_finish_compress(&cinfo);
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(buffer), std::streamsize(size));
  std::free(buffer);
  jpeg_destroy_compress(&cinfo);
}

// 4000 x 3000 in four coloured quarters.
constexpr uint32_t kQuarterColors[4] = {0xFFE02020, 0xFF20C020, 0xFF2020E0, 0xFFE0E020};
uint32_t Quarters(int x, int y) {
  return kQuarterColors[(y < 1500 ? 0 : 2) + (x < 2000 ? 0 : 1)];
}
// 2 x 2 cells of 1000 x 1000, each of its own colour.
uint32_t SheetCells(int x, int y) {
  return kCellColors[(y / 1000) * 2 + x / 1000];
}

class ContentObjects : public ::testing::Test {
protected:
  static constexpr float kWidth = 200, kHeight = 150;

  void SetUp() override {
    RegisterContentKinds();
    InstallImageDecoder();
    PinFonts();
    folder_ = kivtest::FreshTempDir("content_objects_test");
  }
  void TearDown() override {
    slide_.reset();
    host_ = nullptr;
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
  }

  // A host over the test's folder as the show's files.
  void UseShowFiles() {
    auto source = TRef<TFileSource>::Adopt(new TMappedFileSource(folder_.string() + "/"));
    accessor_ = TRef<TFileAccessor>::Make(source, folder_.string());
    TSlideHostCallbacks callbacks;
    callbacks.frameRect = [] { return TRect{0, 0, int(kWidth), int(kHeight)}; };
    callbacks.camera = [] { return T3DVector{kWidth / 2, kHeight / 2, -kHeight}; };
    callbacks.findSection = [](std::u16string_view) { return nullptr; };
    host_ = TRef<TKivSlideHost>::Make(accessor_.get(), std::move(callbacks), u"Buttons", false);
  }

  TKivSlide& Load(std::string_view section, bool reuse = false) {
    if (!host_)
      host_ = TRef<TKivSlideHost>::Make([] { return T3DVector{kWidth / 2, kHeight / 2, -kHeight}; });
    const std::string text = "\xEF\xBB\xBF[slide]\n" + std::string(section);
    TMemoryStream stream(std::vector<uint8_t>(text.begin(), text.end()));
    EXPECT_TRUE(doc_.LoadFromStream(stream));
    if (!reuse || !slide_) {
      slide_ = MakeOwned<TKivSlide>(host_, 0);
      slide_->SetSize(kWidth, kHeight);
      slide_->SetBaseOrigin({kWidth / 2, kHeight / 2, 0});
      slide_->SetTimes(0, 1000, 0, 0);
    }
    slide_->LoadChildren(*doc_.FindSection(u"slide"), reuse);
    return *slide_;
  }

  template <class T> T& Child(int index) {
    T* object = dynamic_cast<T*>(&slide_->Child(index));
    EXPECT_NE(object, nullptr);
    return *object;
  }

  void WriteTheme(std::string_view name, int width, int height) {
    const auto dir = folder_ / "Buttons" / std::string(name);
    std::filesystem::create_directories(dir);
    std::ofstream(dir / "theme.ini") << "[NormalState]\nRight=body.bmp," << width - 10 << ",0," << width
                                     << "," << height << "\nBottom=body.bmp,0," << height - 10 << "," << width
                                     << "," << height << "\n[TextParams]\nColor=10,20,30\n";
    // Every patch the description leaves out is an empty rectangle of this picture.
    test_files::WriteBmpFile(dir / "body.bmp", width, height, [](int, int) { return 0x3060C0u; });
  }

  std::filesystem::path folder_;
  TRef<TFileAccessor> accessor_;
  TRef<TKivSlideHost> host_;
  TIniFile doc_;
  TOwned<TKivSlide> slide_;
};

TEST_F(ContentObjects, RegistersEveryKindOnce) {
  RegisterContentKinds(); // again: nothing changes
  auto& slide =
      Load("object a: Image\nend\nobject b: MainImage\nend\nobject c: Text\nend\n"
           "object d: TextComment\nend\nobject e: Button\nend\nobject f: Box\nend\nobject g: Frame\nend\n");
  ASSERT_EQ(slide.ChildCount(), 7);
  EXPECT_NE(dynamic_cast<TKivImageObject*>(&slide.Child(0)), nullptr);
  EXPECT_NE(dynamic_cast<TKivImageObject*>(&slide.Child(1)), nullptr);
  EXPECT_FALSE(Child<TKivText>(2).IsComment());
  EXPECT_TRUE(Child<TKivText>(3).IsComment());
  EXPECT_NE(dynamic_cast<TKivButton*>(&slide.Child(4)), nullptr);
  EXPECT_EQ(dynamic_cast<TKivFrame*>(&slide.Child(5)), nullptr);
  EXPECT_NE(dynamic_cast<TKivFrame*>(&slide.Child(6)), nullptr);
}

TEST_F(ContentObjects, ImageKeysAndDefaults) {
  Load("object plain: Image\nend\n"
       "object keyed: Image\n  Antialiased=0\n  Filtering=nearest\n  ImageName=pics\\a.jpg\n  "
       "MipLodBias=-0.5\n"
       "  ReplaceWithEffectBuffer=2\n  EnableBorder=1\n  BorderColor=1,2,3,4\n  CropRect=1,2,3,4,5,6\n"
       "  AspectParams=1.5,80,10,-10\n  AnimColumns=3\n  AnimRows=2\n  AnimCount=5\n  AnimRepCount=2\n"
       "  AnimOffset=250\n  AnimInterval=10,x\n  ImageIndex=0\nend\n");
  const TKivImageObject& plain = Child<TKivImageObject>(0);
  EXPECT_TRUE(plain.Antialiased());
  EXPECT_EQ(plain.Filtering(), TImageFiltering::Default);
  EXPECT_EQ(plain.MipLodBias(), 0);
  EXPECT_FALSE(plain.Border().enableBorder || plain.Border().enableCrop || plain.Border().enableAspect);
  EXPECT_FLOAT_EQ(plain.Border().borderWidth, 3.4f);
  EXPECT_EQ(plain.Border().borderColor, 0xFFFFFFFFu);
  EXPECT_FALSE(plain.Animation().Animated());
  EXPECT_FALSE(plain.ImageIndex().has_value());
  EXPECT_FALSE(plain.Shadow().enable);

  const TKivImageObject& keyed = Child<TKivImageObject>(1);
  EXPECT_FALSE(keyed.Antialiased());
  EXPECT_EQ(keyed.Filtering(), TImageFiltering::Nearest);
  EXPECT_EQ(A(keyed.ImageName()), "pics\\a.jpg");
  EXPECT_EQ(keyed.MipLodBias(), -0.5f);
  EXPECT_EQ(keyed.ReplaceWithEffectBuffer(), 2);
  EXPECT_EQ(keyed.Border().borderColor, 0x04010203u);
  EXPECT_EQ(keyed.Border().cropRect, (TIniFloatRect{1, 2, 3, 4}));
  EXPECT_EQ(keyed.Border().cropPoint, (TIniFloatPoint{5, 6}));
  EXPECT_EQ(keyed.Border().aspectZoom, 80);
  EXPECT_EQ(keyed.Animation().count, 5);
  EXPECT_EQ(keyed.Animation().repeatCount, 2);
  EXPECT_EQ(keyed.Animation().offset, 250);
  // The list breaks at the malformed item: what came before it holds for the rest.
  EXPECT_EQ(keyed.Animation().intervals, (std::vector<int32_t>{10, 10, 10, 10, 10}));
  EXPECT_EQ(keyed.ImageIndex(), 0);
}

TEST_F(ContentObjects, ImageSizeFollowsBorderCropAndAspect) {
  Load("object plain: Image\nend\n"
       "object bordered: Image\n  EnableBorder=1\n  BorderWidth=5\n  BorderColor=255,0,0,128\nend\n"
       "object defaulted: Image\n  EnableBorder=1\nend\n"
       "object cropped: Image\n  EnableCrop=1\n  CropRect=10,0,10,0,-1,-1\nend\n"
       "object huge: Image\n  EnableBorder=1\n  BorderWidth=1e30\nend\n");
  const struct {
    int index;
    int width, height;
    float sizeX, sizeY, border;
  } cases[] = {
      {0, 300, 200, 300, 200, 0},      {1, 300, 200, 320, 220, 10}, // 5 percent of 200 on each side
      {2, 1000, 1000, 1068, 1068, 34},                              // 3.4 percent
      {3, 300, 200, 260, 200, 0},                                   // 20 pixels off each side
      {4, 30, 20, 4030, 4020, 2000},                                // bounded at a hundred times the height
  };
  for (const auto& c : cases) {
    auto& image = Child<TKivImageObject>(c.index);
    image.SetPicture(SolidPicture(c.width, c.height, 0xFF00FF00));
    EXPECT_EQ(image.Size().x, c.sizeX) << c.index;
    EXPECT_EQ(image.Size().y, c.sizeY) << c.index;
    EXPECT_NEAR(image.BorderWidthPixels(), c.border, 1e-3) << c.index;
  }

  // The bordered picture draws inside its border, the border around it in its colour.
  slide_->SetTime(true, 0);
  TRecordingDrawer drawer;
  Child<TKivImageObject>(1).Draw(drawer);
  ASSERT_EQ(drawer.images.size(), 1u);
  EXPECT_EQ(drawer.images[0].pivot.x, -10);
  EXPECT_EQ(drawer.images[0].pivot.y, -10);
  EXPECT_EQ(drawer.images[0].params.sourceRect.right, 300);
  ASSERT_EQ(drawer.frames.size(), 1u);
  EXPECT_EQ(drawer.frames[0].color, 0x80FF0000u);
  EXPECT_EQ(drawer.frames[0].thickness.x, 10);
  EXPECT_EQ(drawer.frames[0].size.x, 320);
}

TEST_F(ContentObjects, SpriteShowsTheFrameOfItsTime) {
  auto& slide =
      Load("object sprite: Image\n  AnimColumns=2\n  AnimRows=2\n  AnimCount=4\n  AnimRepCount=2\n"
           "  AnimInterval=200,50\n  Filtering=Bilinear\n  MipLodBias=1.5\n  EnableBorder=1\nend\n");
  slide.SetTimes(1000, 5000, 0, 0);
  auto& sprite = Child<TKivImageObject>(0);
  sprite.SetPicture(SheetPicture(50));
  // One frame; no border on sheets.
  EXPECT_EQ(sprite.Size().x, 50);
  EXPECT_EQ(sprite.Size().y, 50);
  const struct {
    double time;
    int32_t frame;
  } cases[] = {{1100, 0}, {1260, 2}, {1400, 0}, {1560, 1}, {1700, 3}, {4000, 3}};
  for (const auto& c : cases) {
    slide.SetTime(true, c.time);
    EXPECT_EQ(sprite.CurrentFrame(), c.frame) << c.time;
  }
  slide.SetTime(true, 1260);
  TRecordingDrawer drawer;
  sprite.Draw(drawer);
  ASSERT_EQ(drawer.images.size(), 1u);
  const auto& call = drawer.images[0];
  EXPECT_EQ(call.params.columns, 2);
  EXPECT_EQ(call.params.rows, 2);
  EXPECT_EQ(call.params.lodBias, 1.5f);
  EXPECT_TRUE(call.params.linearFilter);
  // Frame 2: column 0, row 1, behind its gutters.
  EXPECT_EQ(call.params.sourceRect.left, 1);
  EXPECT_EQ(call.params.sourceRect.top, 53);
  EXPECT_EQ(call.pivot.x, 1);
  EXPECT_EQ(call.pivot.y, 53);
  EXPECT_TRUE(drawer.frames.empty());
}

TEST_F(ContentObjects, NewImageNameKeepsThePreviousPictureUntilLoaded) {
  UseShowFiles();
  WriteBmp(folder_ / "a.bmp", 8, 4, 255, 0, 0);
  WriteBmp(folder_ / "b.bmp", 16, 4, 0, 0, 255);
  Load("object pic: Image\n  GUID={AAAAAAAA-0000-0000-0000-000000000001}\n  ImageName=a.bmp\nend\n");
  auto& image = Child<TKivImageObject>(0);
  ASSERT_TRUE(image.LoadContent());
  TKivPicture* first = image.Picture();
  EXPECT_EQ(first->Width(), 8);
  EXPECT_EQ(first->Bitmap().Pixel32(0, 0), 0xFFFF0000u);

  Load("object pic: Image\n  GUID={AAAAAAAA-0000-0000-0000-000000000001}\n  ImageName=b.bmp\nend\n", true);
  auto& same = Child<TKivImageObject>(0);
  ASSERT_EQ(&same, &image);
  EXPECT_EQ(same.Picture(), first);
  EXPECT_EQ(same.Size().x, 8);
  ASSERT_TRUE(same.LoadContent());
  EXPECT_EQ(same.Picture()->Width(), 16);
  EXPECT_EQ(same.Size().x, 16);

  // A file the show lacks gives the error picture, not the old one.
  Load("object pic: Image\n  GUID={AAAAAAAA-0000-0000-0000-000000000001}\n  ImageName=gone.bmp\nend\n", true);
  same.LoadContent();
  EXPECT_NE(same.Picture(), nullptr);
  if (same.Picture()) {
    EXPECT_NE(same.Picture()->Width(), 16);
  }
}

TEST_F(ContentObjects, PicturesLoadAtTheLevelTheirScreenSizeNeeds) {
  UseShowFiles();
  WriteJpeg(folder_ / "big.jpg", 4000, 3000, Quarters);
  WriteBmp(folder_ / "small.bmp", 300, 200, 0, 0, 255);
  host_->SetPixelDensity(2); // the slide covers 200 x 150 on the screen, 400 x 300 pixels
  Load("object pic: Image\n  ImageName=big.jpg\nend\n"
       "object cut: Image\n  ImageName=big.jpg\n  EnableCrop=1\n  CropRect=0,0,0,50,50,0\nend\n"
       "object again: Image\n  ImageName=big.jpg\nend\n"
       "object small: Image\n  ImageName=small.bmp\nend\n");
  auto& pic = Child<TKivImageObject>(0);
  auto& cut = Child<TKivImageObject>(1);
  auto& again = Child<TKivImageObject>(2);
  auto& small = Child<TKivImageObject>(3);
  for (TKivImageObject* image : {&pic, &cut, &again, &small})
    ASSERT_TRUE(image->LoadContent());

  // 400 x 300 wanted: 500 x 375, the last halving still larger; the object keeps the full picture's size.
  EXPECT_EQ(pic.Picture()->Level(), 3);
  EXPECT_EQ(pic.Picture()->Bitmap().Width(), 500);
  EXPECT_EQ(pic.Picture()->Bitmap().Height(), 375);
  EXPECT_EQ(pic.Picture()->Width(), 4000);
  EXPECT_EQ(pic.Size().x, 4000);
  EXPECT_EQ(pic.Size().y, 3000);
  EXPECT_TRUE(test::NearColor(pic.Picture()->Bitmap().Pixel32(375, 90), kQuarterColors[1], 6));
  // The quarter the crop keeps fills the same screen: the picture is wanted twice as large.
  EXPECT_EQ(cut.Picture()->Level(), 2);
  EXPECT_EQ(cut.Size().x, 2000);
  EXPECT_EQ(cut.SourceRect().left, 2000);
  EXPECT_EQ(cut.SourceRect().bottom, 1500);
  // One cache entry per level of the file.
  EXPECT_EQ(again.Picture()->Source().get(), pic.Picture()->Source().get());
  EXPECT_NE(cut.Picture()->Source().get(), pic.Picture()->Source().get());
  // A picture smaller than wanted comes at full size.
  EXPECT_EQ(small.Picture()->Level(), 0);
  EXPECT_EQ(small.Picture()->Bitmap().Width(), 300);

  // The drawer is told the level; source rectangle and pivot stay in full-picture pixels.
  slide_->SetTime(true, 0);
  TRecordingDrawer drawer;
  cut.Draw(drawer);
  ASSERT_EQ(drawer.images.size(), 1u);
  EXPECT_EQ(drawer.images[0].params.reductionLevel, 2);
  EXPECT_EQ(drawer.images[0].params.sourceRect.left, 2000);
  EXPECT_EQ(drawer.images[0].params.sourceRect.right, 4000);
  EXPECT_EQ(drawer.images[0].pivot.x, 2000);

  // Zooming in loads a finer level in place of the shown one; zooming out keeps it.
  TKivPicture* coarse = pic.Picture();
  host_->SetPixelDensity(4);
  EXPECT_TRUE(pic.LoadContent());
  EXPECT_NE(pic.Picture(), coarse);
  EXPECT_EQ(pic.Picture()->Level(), 2);
  EXPECT_EQ(pic.Size().x, 4000);
  host_->SetPixelDensity(1);
  EXPECT_TRUE(pic.LoadContent());
  EXPECT_EQ(pic.Picture()->Level(), 2);
}

TEST_F(ContentObjects, SpriteSheetAtAReducedLevelCutsTheCellsOfTheReducedSheet) {
  UseShowFiles();
  WriteJpeg(folder_ / "sheet.jpg", 2000, 2000, SheetCells);
  Load("object s: Image\n  ImageName=sheet.jpg\n  AnimColumns=2\n  AnimRows=2\n  AnimCount=4\n"
       "  AnimInterval=100\nend\n");
  auto& sprite = Child<TKivImageObject>(0);
  ASSERT_TRUE(sprite.LoadContent());
  // A frame shows 150 x 150: the sheet is wanted at 300 x 300, so 500 x 500 (two halvings).
  ASSERT_EQ(sprite.Picture()->Level(), 2);
  EXPECT_EQ(sprite.Size().x, 1000);
  EXPECT_EQ(sprite.Size().y, 1000);
  slide_->SetTime(true, 250);
  TRecordingDrawer drawer;
  sprite.Draw(drawer);
  ASSERT_EQ(drawer.images.size(), 1u);
  const auto& call = drawer.images[0];
  EXPECT_EQ(call.params.reductionLevel, 2);
  // Frame 2 in the reduced sheet's tiles: column 0, row 1, cells of 250 behind one-texel gutters; given
  // in full-picture pixels (times 4) and stretched back to the frame's 1000 pixels.
  EXPECT_EQ(call.params.sourceRect.left, 4);
  EXPECT_EQ(call.params.sourceRect.top, 4 * 253);
  EXPECT_EQ(call.params.sourceRect.right, 4 * 251);
  EXPECT_EQ(call.pivot.y, 4 * 253);
  const float drawnWidth = (call.params.sourceRect.right - call.params.sourceRect.left) * call.xAxis.x;
  EXPECT_NEAR(drawnWidth, 1000 * sprite.Frame().xAxis.x, 1e-3);
}

TEST_F(ContentObjects, TextDefaultsAndKeys) {
  Load("object t: Text\nend\n"
       "object u: TextComment\n  Text=Hello\n  TextColor=1,2,3\n  TextColorClick=7,8,9\n  FontName=Courier "
       "New\n"
       "  FontStyle=BI\n  TextAlign=right\n  LineSpacing=40\n  Rasterize=1\n  RasterizedGUID={R}\n"
       "  BlackBoxSize=320,48\n  ShiftX=1.5\n  ShiftY=-2\n  Antialiased=1\n  ShadowEnable=0\nend\n");
  const TKivText& plain = Child<TKivText>(0);
  EXPECT_EQ(A(plain.Text()), "Text");
  EXPECT_EQ(A(plain.FontName()), "Arial");
  EXPECT_EQ(plain.TextColor(), (TIniRGB{255, 255, 255}));
  EXPECT_EQ(plain.TextAlign(), TTextAlignment::Center);
  EXPECT_TRUE(plain.Shadow().enable);
  EXPECT_FALSE(plain.Antialiased());
  EXPECT_EQ(plain.Size().x, 0); // no block size and no picture yet

  const TKivText& keyed = Child<TKivText>(1);
  const TTextKeys& keys = keyed.TextKeys();
  EXPECT_EQ(keys.color, (TIniRGB{3, 2, 1}));
  EXPECT_EQ(keys.hoverColor, keys.color);
  EXPECT_EQ(keys.clickColor, (TIniRGB{9, 8, 7}));
  EXPECT_EQ(A(keys.fontStyle), "BI");
  EXPECT_EQ(keys.align, TTextAlignment::Right);
  EXPECT_EQ(keys.lineSpacing, 40);
  EXPECT_TRUE(keys.rasterize);
  EXPECT_EQ(A(keys.rasterizedGuid), "{R}");
  EXPECT_EQ(keys.shiftX, 1.5f);
  EXPECT_FALSE(keyed.Antialiased()); // never as a picture
  EXPECT_FALSE(keyed.Shadow().enable);
  EXPECT_EQ(keyed.Size().x, 320);
  EXPECT_EQ(keyed.Size().y, 48);
  const TTextPictureParams params = keyed.PictureParams();
  EXPECT_EQ(A(params.text), "Hello");
  EXPECT_EQ(params.color, 0x030201u); // red 1, green 2, blue 3 as a colour reference
  EXPECT_EQ(params.fontStyle, kFontBold | kFontItalic);
  EXPECT_EQ(params.align, 2);
  EXPECT_EQ(params.height, 48);
}

TEST_F(ContentObjects, PointerStatesChooseTheTextColour) {
  Load("object t: Text\n  TextColor=10,0,0\n  TextColorHover=0,20,0\n  TextColorClick=0,0,30\n"
       "  BlackBoxSize=100,20\nend\n"
       "object b: Button\n  Text=Go\n  TextColor=10,0,0\n  TextColorHover=0,20,0\n  TextColorClick=0,0,30\nend\n");
  auto& text = Child<TKivText>(0);
  auto& button = Child<TKivButton>(1);
  // Colour references: blue in the high byte.
  const struct {
    bool hover, pressed;
    uint32_t color;
  } cases[] = {{false, false, 0x00000A}, {true, false, 0x001400}, {true, true, 0x1E0000}, {false, true, 0x1E0000}};
  for (const auto& c : cases) {
    text.SetHover(c.hover);
    text.SetPressed(c.pressed);
    button.SetHover(c.hover);
    button.SetPressed(c.pressed);
    EXPECT_EQ(text.PictureParams().color, c.color) << c.hover << c.pressed;
    EXPECT_EQ(button.CaptionParams().color, c.color) << c.hover << c.pressed;
  }
  // A change of state redraws the object.
  text.changed = 0;
  text.SetPressed(false);
  EXPECT_TRUE(text.changed);
}

TEST_F(ContentObjects, TextLoadsItsGeneratedPicture) {
  Load("object t: Text\n  Text=Ab\n  BlackBoxSize=120,40\nend\n");
  auto& text = Child<TKivText>(0);
  ASSERT_TRUE(text.LoadContent());
  TKivPicture* picture = text.Picture();
  if (picture->Width() <= 1) GTEST_SKIP() << "no font can be opened";
  EXPECT_NEAR(picture->Height(), 40, 4);
  EXPECT_EQ(text.Size().x, 120);
  // The same parameters give the same picture without making it again.
  text.LoadContent();
  EXPECT_EQ(text.Picture(), picture);
}

TEST_F(ContentObjects, ButtonThemeFallsBackToAquaThenToNothing) {
  UseShowFiles();
  WriteTheme("blue", 120, 30);
  WriteTheme("aqua", 90, 24);
  auto& slide = Load("object a: Button\n  Theme=blue\n  Text=Go\nend\n"
                     "object b: Button\n  Theme=missing\n  BtnMinWidth=150\n  Hue=30\nend\n");
  auto& blue = Child<TKivButton>(0);
  EXPECT_EQ(A(blue.ThemePath()), "Buttons\\blue");
  EXPECT_EQ(blue.Size().x, 120);
  EXPECT_EQ(blue.Size().y, 30);
  EXPECT_EQ(blue.MipLodBias(), 0);
  EXPECT_EQ(blue.BtnOffsetX(), 100);
  EXPECT_EQ(A(blue.BodyName()), "Button: Buttons\\blue:0:120:0:0:0");
  auto& fallback = Child<TKivButton>(1);
  EXPECT_EQ(A(fallback.ThemePath()), "Buttons\\aqua");
  EXPECT_EQ(fallback.Size().x, 150);
  EXPECT_EQ(A(fallback.BodyName()), "Button: Buttons\\aqua:0:150:30:0:0");

  slide.SetTime(true, 0);
  TRecordingDrawer drawer;
  slide.Prepare(drawer);
  ASSERT_NE(blue.Picture(), nullptr);
  EXPECT_EQ(blue.Picture()->Width(), 120);
  EXPECT_EQ(blue.Picture()->Height(), 30);
  EXPECT_NE(blue.Caption(), nullptr);

  // Widths from the file stay within what a picture may be.
  Load("object w: Button\n  Theme=blue\n  BtnMinWidth=1e30\nend\n");
  EXPECT_EQ(Child<TKivButton>(0).Size().x, kMaxPictureSide);

  std::filesystem::remove_all(folder_ / "Buttons" / "aqua");
  Load("object c: Button\n  Theme=missing\nend\n");
  auto& none = Child<TKivButton>(0);
  EXPECT_TRUE(none.ThemePath().empty());
  EXPECT_EQ(none.Size().x, 0);
  none.LoadContent();
  EXPECT_EQ(none.Picture(), nullptr);
}

TEST_F(ContentObjects, ButtonStatesChooseTheirBodiesAndSameBodiesAreMadeOnce) {
  UseShowFiles();
  WriteTheme("blue", 120, 30);
  auto& slide =
      Load("object a: Button\n  Theme=blue\n  Text=Go\n  TextColorHover=1,2,3\n  TextColorClick=4,5,6\nend\n"
           "object b: Button\n  Theme=blue\n  Text=Other\nend\n");
  auto& a = Child<TKivButton>(0);
  auto& b = Child<TKivButton>(1);
  const struct {
    bool hover, pressed;
    const char* body;
    uint32_t caption;
  } cases[] = {
      {false, false, "Button: Buttons\\blue:0:120:0:0:0", 0x1E140A}, // the theme's caption colour
      {true, false, "Button: Buttons\\blue:1:120:0:0:0", 0x030201},  // its own hover colour
      {true, true, "Button: Buttons\\blue:2:120:0:0:0", 0x060504},   // its own click colour
  };
  for (const auto& c : cases) {
    a.SetHover(c.hover);
    a.SetPressed(c.pressed);
    EXPECT_EQ(A(a.BodyName()), c.body);
    EXPECT_EQ(a.CaptionParams().color, c.caption);
  }
  slide.SetTime(true, 0);
  TRecordingDrawer drawer;
  slide.Prepare(drawer);
  ASSERT_NE(a.Picture(), nullptr);
  EXPECT_EQ(a.Picture()->Width(), 120);
  // The other button's body has the same name: the picture made for the first is shared.
  a.SetHover(false);
  a.SetPressed(false);
  slide.Prepare(drawer);
  ASSERT_NE(b.Picture(), nullptr);
  EXPECT_EQ(a.Picture()->Source().get(), b.Picture()->Source().get());
}

TEST_F(ContentObjects, BoxFillModesAndDrawRequest) {
  const struct {
    const char* mode;
    uint8_t fillType;
  } cases[] = {{"Solid", 8},        {"HGradient", 6}, {"VGradient", 5}, {"TLBRGradient", 0},
               {"TRBLGradient", 1}, {"hgradient", 8}, {"SOLID", 8},     {"", 8}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.mode);
    std::string text = "object b: Box\n  Size=40,30\n  Color1=255,0,0\n  Color2=0,0,255\n  Alpha2=128\n";
    if (*c.mode) text += std::string("  FillMode=") + c.mode + "\n";
    text += "  object : KeyPoint\n    Opacity=50\n  end\nend\n";
    Load(text);
    auto& box = Child<TKivBox>(0);
    slide_->SetTime(true, 0);
    const TBoxParams params = box.MakeBoxParams();
    EXPECT_EQ(params.fillType, c.fillType);
    EXPECT_EQ(params.color1, 0xFFFF0000u);
    EXPECT_EQ(params.color2, c.fillType == 8 ? 0xFFFF0000u : 0x800000FFu);
    EXPECT_EQ(params.width, 40);
    EXPECT_EQ(params.height, 30);
    EXPECT_EQ(params.opacity, 50);
    EXPECT_FALSE(params.antialias[0]);
  }
  Load("object f: Frame\n  Size=10,20\n  Antialiased=1\nend\n");
  auto& frame = Child<TKivFrame>(0);
  EXPECT_EQ(frame.Size().x, 10);
  EXPECT_EQ(frame.Size().y, 20);
  EXPECT_EQ(frame.Color1(), (TIniRGB{0, 0, 0}));
  EXPECT_EQ(frame.Alpha1(), 255);
  const TBoxParams params = frame.MakeBoxParams();
  EXPECT_TRUE(params.antialias[0] && params.antialias[1] && params.antialias[2] && params.antialias[3]);
}

// ---- on the device ----

class ContentDrawing : public ContentObjects {
protected:
  void SetUp() override {
    std::string whyNot;
    if (!HeadlessGLAvailable(&whyNot))
      GTEST_SKIP() << "no headless EGL display, GL tests skipped: " << whyNot;
    ContentObjects::SetUp();
    rig_ = std::make_unique<test::TDrawerRig>(int(kWidth), int(kHeight));
  }
  void TearDown() override {
    if (slide_) slide_->FrameDone(*rig_->drawer);
    slide_.reset();
    rig_.reset();
    ContentObjects::TearDown();
  }

  TDevBitmap Shoot(double time) {
    slide_->SetTime(true, time);
    slide_->Prepare(*rig_->drawer);
    return rig_->Frame([&](TDeviceDrawer& d) { d.DrawItem(*slide_); });
  }

  std::unique_ptr<test::TDrawerRig> rig_;
};

TEST_F(ContentDrawing, GradientBox) {
  Load("object b: Box\n  Size=200,150\n  FillMode=HGradient\n  Color1=255,0,0\n  Color2=0,0,255\nend\n");
  const TDevBitmap shot = Shoot(0);
  EXPECT_TRUE(test::NearColor(shot.Pixel32(1, 75), 0xFFFE0001, 4));
  EXPECT_TRUE(test::NearColor(shot.Pixel32(198, 75), 0xFF0100FE, 4));
  EXPECT_TRUE(test::NearColor(shot.Pixel32(100, 10), 0xFF800080, 4));
}

TEST_F(ContentDrawing, ImageWithBorder) {
  // 40 x 20 green with a 25 percent border: 50 x 30, placed into the slide at 4x (200 x 120).
  Load("object p: Image\n  EnableBorder=1\n  BorderWidth=25\n  BorderColor=255,0,0,255\n  "
       "Antialiased=0\nend\n");
  Child<TKivImageObject>(0).SetPicture(SolidPicture(40, 20, 0xFF00FF00));
  const TDevBitmap shot = Shoot(0);
  EXPECT_TRUE(test::NearColor(shot.Pixel32(100, 75), 0xFF00FF00, 2));
  EXPECT_TRUE(test::NearColor(shot.Pixel32(25, 40), 0xFF00FF00, 2));
  EXPECT_TRUE(test::NearColor(shot.Pixel32(10, 75), 0xFFFF0000, 2));
  EXPECT_TRUE(test::NearColor(shot.Pixel32(190, 75), 0xFFFF0000, 2));
  EXPECT_TRUE(test::NearColor(shot.Pixel32(100, 20), 0xFFFF0000, 2));
  // Above and below the object the slide shows through.
  EXPECT_TRUE(test::NearColor(shot.Pixel32(100, 5), 0xFF000000, 2));
}

TEST_F(ContentDrawing, SpriteFrame) {
  Load("object s: Image\n  AnimColumns=2\n  AnimRows=2\n  AnimCount=4\n  AnimInterval=100\n  "
       "Antialiased=0\nend\n");
  Child<TKivImageObject>(0).SetPicture(SheetPicture(16));
  // 16 x 16 frames placed at 150 x 150 in the middle.
  for (int frame = 0; frame < 4; ++frame) {
    const TDevBitmap shot = Shoot(frame * 100 + 50);
    SCOPED_TRACE(frame);
    // The cell is the frame's colour to within a texel of its edges (where the transparent gutter fades
    // it): no neighbour bleeds in.
    for (int x : {33, 100, 167})
      for (int y : {8, 75, 142})
        EXPECT_TRUE(test::NearColor(shot.Pixel32(x, y), kCellColors[frame], 2)) << x << "," << y;
  }
}

TEST_F(ContentDrawing, ReducedPictureDrawsLikeTheFullOne) {
  UseShowFiles();
  WriteJpeg(folder_ / "big.jpg", 4000, 3000, Quarters);
  host_->SetPixelDensity(2);
  Load("object pic: Image\n  ImageName=big.jpg\n  Antialiased=0\nend\n");
  const TDevBitmap reduced = Shoot(0);
  auto& pic = Child<TKivImageObject>(0);
  ASSERT_TRUE(pic.Picture());
  ASSERT_EQ(pic.Picture()->Level(), 3);
  pic.SetPicture(LoadKivPicture(*host_, u"big.jpg")); // the same file at full size in its place
  ASSERT_EQ(pic.Picture()->Level(), 0);
  const TDevBitmap full = Shoot(0);
  // The quarters in their places on both; apart from the seams between them, the same pixels.
  for (int i = 0; i < 4; ++i) {
    const int x = i % 2 ? 150 : 50, y = i / 2 ? 112 : 37;
    EXPECT_TRUE(test::NearColor(reduced.Pixel32(x, y), kQuarterColors[i], 6)) << i;
    EXPECT_TRUE(test::NearColor(full.Pixel32(x, y), kQuarterColors[i], 6)) << i;
  }
  int differing = 0;
  for (int y = 0; y < int(kHeight); ++y)
    for (int x = 0; x < int(kWidth); ++x)
      differing += test::ChannelDistance(reduced.Pixel32(x, y), full.Pixel32(x, y)) > 12;
  EXPECT_LT(differing, int(kWidth + kHeight) * 2); // at most a couple of pixels across each seam
}

TEST_F(ContentDrawing, SpriteSheetAtAReducedLevel) {
  UseShowFiles();
  WriteJpeg(folder_ / "sheet.jpg", 2000, 2000, SheetCells);
  Load("object s: Image\n  ImageName=sheet.jpg\n  AnimColumns=2\n  AnimRows=2\n  AnimCount=4\n"
       "  AnimInterval=100\n  Antialiased=0\nend\n");
  for (int frame = 0; frame < 4; ++frame) {
    const TDevBitmap shot = Shoot(frame * 100 + 50);
    SCOPED_TRACE(frame);
    ASSERT_EQ(Child<TKivImageObject>(0).Picture()->Level(), 2);
    // The whole 150 x 150 frame is the cell's colour out to a pixel from its edges: no neighbour bleeds in.
    for (int x : {27, 100, 173})
      for (int y : {2, 75, 148})
        EXPECT_TRUE(test::NearColor(shot.Pixel32(x, y), kCellColors[frame], 8)) << x << "," << y;
    EXPECT_TRUE(test::NearColor(shot.Pixel32(22, 75), 0xFF000000, 2));
  }
}

TEST_F(ContentDrawing, LegibleText) {
  Load("object t: Text\n  Text=HHHH\n  BlackBoxSize=200,50\n  TextColor=255,255,255\nend\n");
  const TDevBitmap shot = Shoot(0);
  if (Child<TKivText>(0).Picture() == nullptr || Child<TKivText>(0).Picture()->Width() <= 1)
    GTEST_SKIP() << "no font can be opened";
  // The block is fitted into the 200 x 50 box in the middle of the slide, keeping its shape: all its
  // bright pixels lie there, and there are plenty of them.
  const TKivPicture& picture = *Child<TKivText>(0).Picture();
  const float scale = std::min(200.0f / picture.Width(), 50.0f / picture.Height());
  const int left = int(100 - picture.Width() * scale / 2) - 1,
            right = int(100 + picture.Width() * scale / 2) + 1;
  int inside = 0, outside = 0;
  for (int y = 0; y < int(kHeight); ++y)
    for (int x = 0; x < int(kWidth); ++x) {
      const bool bright = test::Channel(shot.Pixel32(x, y), 8) > 200;
      if (y >= 50 && y < 100 && x >= left && x <= right)
        inside += bright;
      else
        outside += bright;
    }
  EXPECT_GT(inside, (right - left) * 50 / 10);
  EXPECT_EQ(outside, 0);
  // Letters are apart: across the middle rows some columns of the block stay dark throughout (the gaps
  // between the letters), others carry strokes.
  int darkColumns = 0, strokeColumns = 0;
  for (int x = left; x <= right; ++x) {
    bool stroke = false;
    for (int y = 65; y < 85; ++y)
      stroke = stroke || test::Channel(shot.Pixel32(x, y), 8) > 200;
    (stroke ? strokeColumns : darkColumns) += 1;
  }
  EXPECT_GT(darkColumns, 10);
  EXPECT_GT(strokeColumns, 20);
}

} // namespace

// Shadows of slide objects: where the shadow picture lies, how far it moves, what it is made from, and
// that it is drawn behind the content.

#include "BoxObject.h"
#include "CacheImageDecoder.h"
#include "ContentObjects.h"
#include "FontOutlines.h"
#include "RecordingDrawer.h"
#include "ShowFileAccess.h"
#include "TestEnvironment.h"
#include "Utf8Conversion.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>

namespace kiv {
namespace {

using testing_support::TRecordingDrawer;

std::string A(std::u16string_view text) {
  return Utf16ToUtf8(text);
}

TEST(ShadowPlacement, PictureLiesItsBorderAndMarginsBeforeThePart) {
  const struct {
    int w, h, mx, my;
    double blur;
    float partX, partY, unit;
    float x, y, pixel; // p and r worked out by hand
  } cases[] = {
      // 100 x 50, blur 8: r 1, s 9, p 23.
      {100, 50, 0, 0, 8, 0, 0, 1, -23, -23, 1},
      // Margins 10 and 5 at 2 content pixels a part pixel: (10 + 23) * 2 and (5 + 23) * 2 before the part.
      {100, 50, 10, 5, 8, 4, 6, 2, 4 - 66, 6 - 56, 2},
      // 2000 x 1000 is halved once: r 2, s 16 / 2 + 1 = 9, p 23; a shadow pixel is 2 part pixels.
      {2000, 1000, 0, 0, 16, 0, 0, 1, -46, -46, 2},
  };
  for (const auto& c : cases) {
    TShadowRequest request;
    request.params.right = c.w;
    request.params.bottom = c.h;
    request.params.marginX = c.mx;
    request.params.marginY = c.my;
    request.params.blurSize = c.blur;
    request.partX = c.partX;
    request.partY = c.partY;
    request.unit = c.unit;
    const TShadowPlacement at = PlaceShadow(request);
    EXPECT_FLOAT_EQ(at.x, c.x) << c.w << "x" << c.h;
    EXPECT_FLOAT_EQ(at.y, c.y) << c.w << "x" << c.h;
    EXPECT_FLOAT_EQ(at.pixel, c.pixel) << c.w << "x" << c.h;
  }
}

TEST(ShadowPlacement, DistanceIsAPercentageOfTheMeasureAtTheAxesScale) {
  TShadowKeys keys;
  // g = sqrt(2 * 8) = 4; 4 * 1.5 * 120 / 100 = 7.2.
  EXPECT_FLOAT_EQ(ShadowOffset(keys, 120, 2, 8), 7.2f);
  keys.distance = 0;
  EXPECT_FLOAT_EQ(ShadowOffset(keys, 120, 2, 8), 0);
  keys.distance = 10;
  EXPECT_FLOAT_EQ(ShadowOffset(keys, 50, 1, 1), 5);
  EXPECT_FLOAT_EQ(ShadowOffset(keys, std::numeric_limits<float>::infinity(), 1, 1), 0);
}

TEST(ShadowPlacement, RectanglesAreBroughtToAWorkingAreaOf40000Pixels) {
  TShadowKeys keys;
  const struct {
    float w, h, factor;
    int right, bottom;
    float unit;
    double blur;
  } cases[] = {
      {400, 100, 1.1f, 400, 100, 1, 16 * 200 / 400.0 * 1.1},
      {800, 200, 1.1f, 400, 100, 2, 16 * 200 / 400.0 * 1.1},
      {50, 50, 1, 200, 200, 0.25f, 16 * 200 / 400.0},
      {1e9f, 1, 1, kMaxShadowPart, 1, 1e9f / kMaxShadowPart, -1},
  };
  for (const auto& c : cases) {
    const TShadowRequest r = RectangleShadow(keys, c.w, c.h, c.factor);
    EXPECT_TRUE(r.params.IsRectangle());
    EXPECT_EQ(r.params.right, c.right) << c.w;
    EXPECT_EQ(r.params.bottom, c.bottom) << c.w;
    EXPECT_FLOAT_EQ(r.unit, c.unit) << c.w;
    if (c.blur >= 0) {
      EXPECT_NEAR(r.params.blurSize, c.blur, 1e-4) << c.w;
    }
  }
}

class ObjectShadows : public ::testing::Test {
protected:
  void SetUp() override {
    RegisterContentKinds();
    InstallImageDecoder();
    SetFontFile(u"Arial", std::string(KIV_TEST_MEDIA) + "/fonts/liberation2/LiberationSans-Regular.ttf");
    folder_ = kivtest::FreshTempDir("object_shadow_test");
    std::filesystem::copy_file(std::string(KIV_TEST_MEDIA) + "/images/png/libpng-pngsuite/basn6a08.png",
                               folder_ / "alpha.png");
    std::filesystem::copy_file(std::string(KIV_TEST_MEDIA) + "/images/jpeg/misc/test.jpg",
                               folder_ / "photo.jpg");
    auto source = TRef<TFileSource>::Adopt(new TMappedFileSource(folder_.string() + "/"));
    accessor_ = TRef<TFileAccessor>::Make(source, folder_.string());
    TSlideHostCallbacks callbacks;
    callbacks.frameRect = [] { return TRect{0, 0, 320, 240}; };
    callbacks.camera = [] { return T3DVector{160, 120, -240}; };
    callbacks.findSection = [](std::u16string_view) { return nullptr; };
    host_ = TRef<TKivSlideHost>::Make(accessor_.get(), std::move(callbacks), u"Buttons", false);
  }
  void TearDown() override {
    slide_.reset();
    host_ = nullptr;
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
  }
  TKivSlide& Load(std::string_view section) {
    const std::string text = "\xEF\xBB\xBF[slide]\n" + std::string(section);
    TMemoryStream stream(std::vector<uint8_t>(text.begin(), text.end()));
    EXPECT_TRUE(doc_.LoadFromStream(stream));
    slide_ = MakeOwned<TKivSlide>(host_, 0);
    slide_->SetSize(320, 240);
    slide_->SetBaseOrigin({160, 120, 0});
    slide_->SetTimes(0, 1000, 0, 0);
    slide_->LoadChildren(*doc_.FindSection(u"slide"), false);
    slide_->SetTime(true, 500);
    slide_->Prepare(drawer_);
    slide_->SetTime(true, 500);
    return *slide_;
  }
  std::filesystem::path folder_;
  TRef<TFileAccessor> accessor_;
  TRef<TKivSlideHost> host_;
  TIniFile doc_;
  TOwned<TKivSlide> slide_;
  TRecordingDrawer drawer_;
};

TEST_F(ObjectShadows, APictureWithAlphaCastsItsShapeBehindItsContent) {
  // 32 x 32 placed into 320 x 240: 7.5 slide pixels a picture pixel; blur 16 * 32 / 400 = 1.28, so s 2.28
  // and a border of 6 shadow pixels.
  auto& slide = Load("object a: Image\n  ImageName=alpha.png\n  ShadowEnable=1\n  ShadowDistance=0\nend\n");
  auto& image = dynamic_cast<TKivImageObject&>(slide.Child(0));
  EXPECT_EQ(A(image.ShadowName()), "Shadow: 0:0:32:32:0:0:0:1.28:0:8:255:255:0:0:0:59.00:0:alpha.png");
  ASSERT_NE(image.ShadowPicture(), nullptr);
  EXPECT_EQ(image.ShadowPicture()->Width(), 44);
  drawer_.images.clear();
  slide.Draw(drawer_);
  ASSERT_EQ(drawer_.images.size(), 2u);
  const auto& shadow = drawer_.images[0];
  const auto& content = drawer_.images[1];
  EXPECT_EQ(shadow.image, image.ShadowPicture());
  EXPECT_EQ(content.image, image.Picture());
  EXPECT_NEAR(shadow.placement.x, content.placement.x - 6 * 7.5f, 1e-3);
  EXPECT_NEAR(shadow.placement.y, content.placement.y - 6 * 7.5f, 1e-3);
  EXPECT_NEAR(shadow.xAxis.x, 7.5f, 1e-4);
  EXPECT_NEAR(shadow.yAxis.y, 7.5f, 1e-4);
}

TEST_F(ObjectShadows, DistanceMovesTheShadowAlongItsAngle) {
  // N = sqrt(32 * 32) = 32, g = 7.5: D = 7.5 * 2 * 32 / 100 = 4.8 along 90 degrees (down).
  auto& slide = Load("object a: Image\n  ImageName=alpha.png\n  ShadowEnable=1\n  ShadowDistance=2\n"
                     "  ShadowAngle=90\nend\n");
  drawer_.images.clear();
  slide.Draw(drawer_);
  ASSERT_EQ(drawer_.images.size(), 2u);
  EXPECT_NEAR(drawer_.images[0].placement.x, drawer_.images[1].placement.x - 45, 1e-3);
  EXPECT_NEAR(drawer_.images[0].placement.y, drawer_.images[1].placement.y - 45 + 4.8f, 1e-3);
}

TEST_F(ObjectShadows, WhatEachKindCasts) {
  auto& slide = Load(
      "object p: Image\n  ImageName=photo.jpg\n  ShadowEnable=1\nend\n"
      "object b: Box\n  Size=400,100\n  ShadowEnable=1\n  ShadowColor=255,0,0\n  ShadowOpacity=100\nend\n"
      "object t: Text\n  Text=Hi\n  BlackBoxSize=120,40\nend\n"
      "object q: Text\n  Text=Hi\n  ShadowEnable=0\nend\n"
      "object n: Image\n  ImageName=alpha.png\nend\n"
      "object g: Box\n  Size=400,100\n  ShadowEnable=1\n  FillMode=HGradient\n  Alpha2=0\nend\n");
  // A picture without alpha: its rectangle, brought to 40000 pixels.
  EXPECT_TRUE(A(slide.Child(0).ShadowName()).ends_with(":N\\A")) << A(slide.Child(0).ShadowName());
  EXPECT_NE(slide.Child(0).ShadowPicture(), nullptr);
  EXPECT_EQ(A(slide.Child(1).ShadowName()),
            "Shadow: 0:0:400:100:0:0:0:8.8:0:8:255:255:0:0:255:100.00:0:N\\A");
  // Texts cast a shadow unless told not to; other kinds only when told.
  EXPECT_NE(A(slide.Child(2).ShadowName()).find(":0:Text: "), std::string::npos)
      << A(slide.Child(2).ShadowName());
  EXPECT_NE(slide.Child(2).ShadowPicture(), nullptr);
  EXPECT_TRUE(slide.Child(3).ShadowName().empty());
  EXPECT_TRUE(slide.Child(4).ShadowName().empty());
  // A box whose alphas differ: the gradient's kind and alphas go with it.
  EXPECT_EQ(A(slide.Child(5).ShadowName()), "Shadow: 0:0:400:100:0:0:0:8.8:0:6:255:0:0:0:0:59.00:0:N\\A");
}

TEST_F(ObjectShadows, A3DShadowMovesAlongTheObjectsOwnAxes) {
  // Turned a quarter: the object's x axis points down the screen. Angle 0 moves a plain shadow right on the
  // screen and a 3D one along the object's x axis, that is down. D = 7.5 * 2 * 32 / 100 = 4.8.
  const char* keys = "  ShadowEnable=1\n  ShadowDistance=2\n  ShadowAngle=0\n  object : KeyPoint\n    "
                     "Angle=90\n  end\nend\n";
  auto& slide = Load(std::string("object a: Image\n  ImageName=alpha.png\n") + keys +
                     "object b: Image\n  ImageName=alpha.png\n  3DShadow=1\n" + keys);
  drawer_.images.clear();
  slide.Draw(drawer_);
  ASSERT_EQ(drawer_.images.size(), 4u);
  const T3DPoint plain = drawer_.images[0].placement, turned = drawer_.images[2].placement;
  // Same object, same place: the shadows differ by the offset turned a quarter.
  EXPECT_NEAR(turned.x - plain.x, -4.8f, 1e-2);
  EXPECT_NEAR(turned.y - plain.y, 4.8f, 1e-2);
}

TEST_F(ObjectShadows, NoShadowIsDrawnForAnInvisibleObject) {
  auto& slide =
      Load("object b: Box\n  Size=40,40\n  ShadowEnable=1\n  object : KeyPoint\n    Opacity=0\n  end\nend\n");
  ASSERT_NE(slide.Child(0).ShadowPicture(), nullptr);
  drawer_.images.clear();
  slide.Draw(drawer_);
  EXPECT_TRUE(drawer_.images.empty());
}

} // namespace
} // namespace kiv

// The view: items draw in the view size's coordinates and land in the view area, also when they go
// through render targets (masks, sharpen, blur). The drawn area: blur and sharpen work on what was drawn.

#include "DrawerTestSupport.h"

#include <cmath>

namespace kiv::test {
namespace {

class DrawerViewTest : public ::testing::Test {
protected:
  void SetUp() override {
    std::string whyNot;
    if (!HeadlessGLAvailable(&whyNot))
      GTEST_SKIP() << "no headless EGL display, GL tests skipped: " << whyNot;
  }
  void Make(int width, int height) { rig = std::make_unique<TDrawerRig>(width, height); }
  void TearDown() override { rig.reset(); }
  std::unique_ptr<TDrawerRig> rig;
};

TBoxParams Box(uint32_t color, float width, float height) {
  TBoxParams box;
  box.color1 = box.color2 = color;
  box.width = width;
  box.height = height;
  return box;
}

// Quarters of a 128 x 96 view in four colours, and a bar that runs past the view's right edge.
void Quarters(TDeviceDrawer& d) {
  d.DrawBox({0, 0, 0}, {0, 0}, Box(0xFFFF0000, 64, 48), kX, kY);
  d.DrawBox({64, 0, 0}, {0, 0}, Box(0xFF00FF00, 64, 48), kX, kY);
  d.DrawBox({0, 48, 0}, {0, 0}, Box(0xFF0000FF, 64, 48), kX, kY);
  d.DrawBox({64, 48, 0}, {0, 0}, Box(0xFFFFFFFF, 64, 48), kX, kY);
  d.DrawBox({100, 40, 0}, {0, 0}, Box(0xFFFFFF00, 200, 8), kX, kY);
}

int CountDiffering(const TDevBitmap& a, const TDevBitmap& b, int tolerance) {
  int bad = 0;
  for (int y = 0; y < a.Height(); ++y)
    for (int x = 0; x < a.Width(); ++x)
      if (ChannelDistance(a.Pixel32(x, y), b.Pixel32(x, y)) > tolerance && ++bad <= 3)
        ADD_FAILURE() << x << "," << y << std::hex << ": " << a.Pixel32(x, y) << " vs " << b.Pixel32(x, y);
  return bad;
}

TEST_F(DrawerViewTest, ViewSizeLandsInTheViewArea) {
  Make(96, 64);
  // A 128 x 96 view shown at half size in (16, 8, 80, 56).
  rig->drawer->SetViewArea({16, 8, 80, 56}, {128, 96});
  EXPECT_EQ(rig->drawer->GetViewSize(), (TSize{128, 96}));
  const TDevBitmap shot = rig->Frame(Quarters, 0xFF202020);
  struct TProbe {
    int x, y;
    uint32_t expected;
  } probes[] = {
      {17, 9, 0xFFFF0000},  {46, 30, 0xFFFF0000}, // top-left quarter
      {50, 9, 0xFF00FF00},  {78, 18, 0xFF00FF00}, // top-right
      {17, 54, 0xFF0000FF}, {46, 33, 0xFF0000FF}, // bottom-left
      {78, 54, 0xFFFFFFFF}, {50, 40, 0xFFFFFFFF}, // bottom-right
      {70, 29, 0xFFFFFF00}, {79, 29, 0xFFFFFF00}, // the bar, up to the view area's edge
      {81, 29, 0xFF202020}, {90, 29, 0xFF202020}, // and cut off there; the clear reaches everywhere
      {15, 30, 0xFF202020}, {40, 7, 0xFF202020},  {40, 56, 0xFF202020}, {48, 32, 0xFFFFFFFF},
  };
  for (const TProbe& p : probes)
    EXPECT_LE(ChannelDistance(shot.Pixel32(p.x, p.y), p.expected), 2)
        << p.x << "," << p.y << std::hex << " got " << shot.Pixel32(p.x, p.y);
  // The bands outside the update rectangle are filled in screen pixels, outside the view area as well.
  rig->drawer->SetUpdateRect({8, 4, 88, 60});
  const TDevBitmap filled = rig->Frame([](TDeviceDrawer& d) { d.FillOutside(0x00FF00FF); });
  EXPECT_EQ(filled.Pixel32(2, 30), 0xFFFF00FFu);
  EXPECT_EQ(filled.Pixel32(92, 30), 0xFFFF00FFu);
  EXPECT_EQ(filled.Pixel32(40, 1), 0xFFFF00FFu);
  EXPECT_EQ(filled.Pixel32(40, 62), 0xFFFF00FFu);
  EXPECT_EQ(filled.Pixel32(10, 30), 0xFF000000u);
  rig->drawer->SetUpdateRect({});
  // Back to the whole screen: view coordinates are screen pixels again.
  rig->drawer->SetViewArea({}, {});
  const TDevBitmap plain = rig->Frame(Quarters, 0xFF202020);
  EXPECT_EQ(plain.Pixel32(10, 10), 0xFFFF0000u);
  EXPECT_EQ(plain.Pixel32(70, 10), 0xFF00FF00u);
  EXPECT_EQ(plain.Pixel32(10, 60), 0xFF0000FFu);
  EXPECT_EQ(plain.Pixel32(0, 0), 0xFFFF0000u);
}

TEST_F(DrawerViewTest, TargetsShowWhatTheScreenShows) {
  Make(96, 64);
  rig->drawer->SetViewArea({16, 8, 80, 56}, {128, 96});
  if (rig->drawer->ShaderLevel() != 2) GTEST_SKIP() << "sharpen needs shader level 2";
  TMemoryImage& white = rig->Image(16, 16, [](int, int) { return 0xFFFFFFFFu; });
  TLambdaItem content(Quarters);
  TMaskLayer layer;
  layer.image = &white;
  layer.xAxis = {8, 0, 0}; // over the whole 128 x 96 view
  layer.yAxis = {0, 6, 0};
  const TDevBitmap direct = rig->Frame(Quarters, 0xFF202020);
  struct TCase {
    const char* name;
    std::function<void(TDeviceDrawer&)> body;
  } cases[] = {
      // A white mask over the whole view leaves the content as it is.
      {"mask", [&](TDeviceDrawer& d) { d.DrawMasked(content, std::span(&layer, 1), nullptr, 0); }},
      // Sharpening by nothing gives back what was drawn into the target.
      {"sharpen",
       [&](TDeviceDrawer& d) {
         d.BeginSharpen();
         Quarters(d);
         d.EndSharpen(0, 0);
       }},
  };
  for (const TCase& c : cases) {
    const TDevBitmap shot = rig->Frame(c.body, 0xFF202020);
    EXPECT_EQ(CountDiffering(shot, direct, 2), 0) << c.name;
  }
}

TEST_F(DrawerViewTest, BlurThroughTheViewLandsWhereTheItemIs) {
  Make(96, 64);
  // A 48 x 32 view at double size in (0, 0, 96, 64); the square (16, 8)-(32, 24) covers (32, 16)-(64, 48).
  rig->drawer->SetViewArea({0, 0, 96, 64}, {48, 32});
  auto square = [](TDeviceDrawer& d) { d.DrawBox({16, 8, 0}, {0, 0}, Box(0xFFFFFFFF, 16, 16), kX, kY); };
  const TDevBitmap shot = rig->Frame(square, 0xFF000000, 100);
  double sum = 0, sx = 0, sy = 0;
  for (int y = 0; y < 64; ++y)
    for (int x = 0; x < 96; ++x) {
      const double v = Channel(shot.Pixel32(x, y), 8);
      sum += v;
      sx += v * (x + 0.5);
      sy += v * (y + 0.5);
    }
  ASSERT_GT(sum, 0);
  EXPECT_NEAR(sx / sum, 48, 1.0);
  EXPECT_NEAR(sy / sum, 32, 1.0);
  // Softened: the edge is grey, the corners of the screen are untouched.
  const int edge = Channel(shot.Pixel32(32, 32), 8);
  EXPECT_GT(edge, 40);
  EXPECT_LT(edge, 215);
  EXPECT_EQ(shot.Pixel32(1, 1), 0xFF000000u);
  EXPECT_EQ(shot.Pixel32(94, 62), 0xFF000000u);
}

class TPushHalfway final : public TTransitionFilter {
public:
  double Length() const override { return 100; }
  void SetPosition(double p) override { position = p; }
  double Position() const override { return position; }
  TFilterKind Kind() const override { return TFilterKind::Push; }
  TFloatPoint PushOffset() const override { return {24, 0}; } // screen pixels
  void DrawThrough(T3DDrawer&, TDrawItem&) override {}
  double position = 0;
};

TEST_F(DrawerViewTest, PushShiftIsMeasuredOnTheScreen) {
  Make(96, 64);
  rig->drawer->SetTransitionFactory([](const TRect&, const TTransitionParams&, TDrawItem&) {
    return TOwned<TTransitionFilter>(new TPushHalfway);
  });
  TLambdaItem first([](TDeviceDrawer& d) { d.DrawBox({0, 0, 0}, {0, 0}, Box(0xFFFF0000, 8, 8), kX, kY); });
  TLambdaItem second([](TDeviceDrawer&) {});
  struct TCase {
    TRect view;
    TSize size;
  } cases[] = {{{}, {}}, {{0, 0, 48, 32}, {96, 64}}, {{0, 0, 96, 64}, {48, 32}}};
  for (const TCase& c : cases) {
    rig->drawer->SetViewArea(c.view, c.size);
    TTransitionParams params;
    params.duration = 100;
    params.progress = 50;
    const TDevBitmap shot = rig->Frame([&](TDeviceDrawer& d) { d.DrawTransition(first, second, &params); });
    // The box's left edge lands 24 screen pixels to the right, whatever the view's scale.
    EXPECT_EQ(shot.Pixel32(23, 1), 0xFF000000u) << c.size.width;
    EXPECT_EQ(shot.Pixel32(24, 1), 0xFFFF0000u) << c.size.width;
  }
}

TEST_F(DrawerViewTest, DrawnAreaFollowsWhatIsDrawn) {
  Make(128, 96);
  if (rig->drawer->ShaderLevel() != 2) GTEST_SKIP() << "sharpen collects the drawn area at shader level 2";
  TMemoryImage& picture = rig->Image(40, 20, [](int, int) { return 0xFF808080u; });
  auto* video = rig->drawer->CreateVideoImage(16, 8, false, false);
  struct TCase {
    const char* name;
    TRect view;
    TSize size;
    std::function<void(TDeviceDrawer&)> body;
    TRect expected; // whole pixels, one more around
  } cases[] = {
      {"box",
       {},
       {},
       [](TDeviceDrawer& d) {
         d.DrawBox({10, 12, 0}, {0, 0}, Box(0xFFFFFFFF, 20, 8), kX, kY);
       },
       {9, 11, 31, 21}},
      {"box with pivot and offset",
       {},
       {},
       [](TDeviceDrawer& d) {
         d.SetOffset({5, 0});
         d.DrawBox({10, 12, 0}, {4, 2}, Box(0xFFFFFFFF, 20, 8), kX, kY);
         d.SetOffset({0, 0});
       },
       {10, 9, 32, 19}},
      {"reduced picture",
       {},
       {},
       [&](TDeviceDrawer& d) {
         TImageParams params;
         params.reductionLevel = 1; // 40 x 20 stands for an 80 x 40 picture
         d.DrawImage(picture, {20, 30, 0}, params, kX, kY, {0, 0});
       },
       {19, 29, 101, 71}},
      {"rectangle and video",
       {},
       {},
       [&](TDeviceDrawer& d) {
         d.DrawRectangle({50, 50}, {40, 44}, 0xFFFFFFFF);
         d.DrawVideo(*video, {100, 80, 0}, {}, kX, kY, {0, 0});
       },
       {39, 43, 117, 89}},
      {"farther away is smaller",
       {},
       {},
       [](TDeviceDrawer& d) {
         d.DrawBox({64, 48, 96}, {10, 10}, Box(0xFFFFFFFF, 20, 20), kX, kY);
       },
       {58, 42, 70, 54}},
      {"view mapping",
       {64, 48, 128, 96},
       {128, 96},
       [](TDeviceDrawer& d) {
         d.DrawBox({10, 12, 0}, {0, 0}, Box(0xFFFFFFFF, 20, 8), kX, kY);
       },
       {68, 53, 80, 59}},
      {"beyond the bounds",
       {},
       {},
       [](TDeviceDrawer& d) {
         d.DrawBox({100, -20, 0}, {0, 0}, Box(0xFFFFFFFF, 100, 40), kX, kY);
       },
       {99, 0, 128, 21}},
      {"nothing", {}, {}, [](TDeviceDrawer&) {}, {}},
  };
  for (const TCase& c : cases) {
    rig->drawer->SetViewArea(c.view, c.size);
    TRect got{-1, -1, -1, -1};
    rig->Frame([&](TDeviceDrawer& d) {
      d.BeginSharpen();
      c.body(d);
      got = rig->drawer->DrawnArea();
      d.EndSharpen(0, 0);
    });
    EXPECT_EQ(got, c.expected) << c.name;
  }
  rig->drawer->FreeVideoImage(video);
}

TEST_F(DrawerViewTest, BlurOutsideTheFrameAreaIsKept) {
  Make(128, 96);
  // The slides' frame is the centred 64 x 48; an overlay item drawn beside it is blurred all the same.
  rig->drawer->SetFixedSize({64, 48});
  ASSERT_EQ(rig->drawer->frameArea, (TRect{32, 24, 96, 72}));
  auto beside = [](TDeviceDrawer& d) { d.DrawBox({2, 2, 0}, {0, 0}, Box(0xFFFFFFFF, 24, 24), kX, kY); };
  const TDevBitmap sharp = rig->Frame(beside);
  const TDevBitmap shot = rig->Frame(beside, 0xFF000000, 150);
  EXPECT_GT(Channel(shot.Pixel32(14, 14), 8), 150); // the middle stays bright
  const int edge = Channel(shot.Pixel32(2, 14), 8);
  EXPECT_GT(edge, 40);
  EXPECT_LT(edge, Channel(sharp.Pixel32(2, 14), 8) - 20);
  EXPECT_GT(Channel(shot.Pixel32(27, 14), 8), 0); // spread past the edge
  EXPECT_EQ(shot.Pixel32(100, 80), 0xFF000000u);
}

} // namespace
} // namespace kiv::test

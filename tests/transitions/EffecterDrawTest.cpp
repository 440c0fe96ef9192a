// The effecter and the filters on llvmpipe: a slide rendered into its texture with the last column and
// row repeated beyond the edge (and nothing written outside the texture when there is no room), and
// transitions drawn by the drawer through the installed filters: the cross-fade at half way is the average
// of the two slides, and a transition shows the outgoing slide at its start and the incoming one at its end.

#include "DrawerTestSupport.h"

#include "Assert.h"
#include "DrawerTransitions.h"
#include "FilterFactory.h"
#include "TriangleEffecter.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <stdexcept>
#include <string>

namespace kiv {
namespace {

using namespace kiv::test;

class EffecterDraw : public ::testing::Test {
protected:
  void SetUp() override {
    std::string whyNot;
    if (!HeadlessGLAvailable(&whyNot))
      GTEST_SKIP() << "no headless EGL display, GL tests skipped: " << whyNot;
  }
};

// An opaque picture whose every column and row differs.
uint32_t Pattern(int x, int y) {
  return 0xFF000000u | uint32_t((x * 7) & 0xFF) << 16 | uint32_t((y * 5) & 0xFF) << 8 |
         uint32_t((x + y) & 0xFF);
}

void DrawPicture(TDeviceDrawer& drawer, TDrawImage& image, float x = 0, float y = 0) {
  TImageParams params;
  params.linearFilter = false;
  params.antialiased = false;
  drawer.DrawImage(image, {x, y, 0}, params, kX, kY, {0, 0});
}

// The slide texture's pixels, read while the effecter holds it.
void ReadTexture(TRenderTargetTexture* texture, TDevBitmap& pixels) {
  ASSERT_TRUE(texture && texture->GetTexture());
  EXPECT_TRUE(texture->GetTexture()->GetSurface(0)->CopyToBitmap(pixels));
}

TEST_F(EffecterDraw, ASlideTexturesLastColumnAndRowRepeatUpTo32Times) {
  TDrawerRig rig(320, 240); // textures of 512 x 256: 192 free columns, 16 free rows
  TMemoryImage& picture = rig.Image(320, 240, Pattern);
  TDevBitmap texture;
  rig.Frame([&](TDeviceDrawer& drawer) {
    TCustomD3DEffecter& effecter = EffecterOf(*rig.drawer);
    effecter.AcquireSlideTextures(true);
    TLambdaItem slide([&](TDeviceDrawer& d) { DrawPicture(d, picture); });
    effecter.RenderSlide([&] { drawer.DrawItem(slide); }, {0, 0});
    ReadTexture(effecter.SlideTextureA(), texture);
    effecter.ReleaseSlideTextures();
  });
  ASSERT_EQ(texture.Width(), 512);
  ASSERT_EQ(texture.Height(), 256);
  for (int y = 0; y < 240; y += 7) {
    EXPECT_EQ(texture.Pixel32(100, y), Pattern(100, y)) << y;
    for (int x = 320; x < 351; ++x)
      ASSERT_EQ(texture.Pixel32(x, y), Pattern(319, y)) << x << "," << y;
    EXPECT_EQ(texture.Pixel32(351, y), 0u) << "31 columns repeat, not more: row " << y;
  }
  for (int y = 240; y < 255; ++y)
    for (int x = 0; x < 351; x += 10)
      ASSERT_EQ(texture.Pixel32(x, y), Pattern(std::min(x, 319), 239)) << x << "," << y;
  EXPECT_EQ(texture.Pixel32(10, 255), 0u) << "15 rows repeat in 16 free ones";
}

TEST_F(EffecterDraw, ASlideFillingItsTextureGetsNoRepetition) {
  TDrawerRig rig(256, 256); // the texture is exactly the slide's size
  TMemoryImage& picture = rig.Image(256, 256, Pattern);
  TDevBitmap texture;
  rig.Frame([&](TDeviceDrawer& drawer) {
    TCustomD3DEffecter& effecter = EffecterOf(*rig.drawer);
    effecter.AcquireSlideTextures(false);
    TLambdaItem slide([&](TDeviceDrawer& d) { DrawPicture(d, picture); });
    effecter.RenderSlide([&] { drawer.DrawItem(slide); }, {0, 0});
    ReadTexture(effecter.SlideTextureA(), texture);
    effecter.ReleaseSlideTextures();
  });
  ASSERT_EQ(texture.Width(), 256);
  for (int y = 0; y < 256; y += 5)
    for (int x = 0; x < 256; x += 3)
      ASSERT_EQ(texture.Pixel32(x, y), Pattern(x, y)) << x << "," << y;
}

TEST_F(EffecterDraw, FiltersThatSlideGetOneMoreColumnAndRow) {
  TDrawerRig rig(320, 240);
  TMemoryImage& picture = rig.Image(320, 240, Pattern);
  for (const bool extend : {true, false}) {
    TDevBitmap texture;
    rig.Frame([&](TDeviceDrawer& drawer) {
      TCustomD3DEffecter& effecter = EffecterOf(*rig.drawer);
      effecter.AcquireSlideTextures(false);
      TLambdaItem slide([&](TDeviceDrawer& d) { DrawPicture(d, picture); });
      effecter.RenderForFilter(extend, [&] { drawer.DrawItem(slide); });
      ReadTexture(effecter.SlideTextureA(), texture);
      effecter.ReleaseSlideTextures();
    });
    for (int y = 0; y < 240; y += 11) {
      EXPECT_EQ(texture.Pixel32(319, y), Pattern(319, y));
      EXPECT_EQ(texture.Pixel32(320, y), extend ? Pattern(319, y) : 0u) << extend << " row " << y;
      EXPECT_EQ(texture.Pixel32(321, y), 0u);
    }
    EXPECT_EQ(texture.Pixel32(320, 240), extend ? Pattern(319, 239) : 0u) << "the corner";
    EXPECT_EQ(texture.Pixel32(100, 241), 0u);
  }
}

TEST_F(EffecterDraw, TilesTakeOneBatchAtATimeAndMoveTheFramesLeftAndTopEdgesOut) {
  const TAssertionSink old = SetAssertionSink([](const std::string&) {});
  TDrawerRig rig(320, 240);
  rig.Frame([&](TDeviceDrawer&) {
    TCustomD3DEffecter& effecter = EffecterOf(*rig.drawer);
    effecter.AcquireSlideTextures(false);
    T3DDrawer::TScreenPixels plain(rig.drawer->Screen());
    auto& tile = static_cast<TD3DTriTile&>(effecter.Controller().GetTile(0, 0));
    EXPECT_THROW(tile.EndTiles(), EAssertion);
    tile.BeginTiles(true, false);
    EXPECT_THROW(tile.BeginTiles(true, false), EAssertion);
    ASSERT_TRUE(tile.batch);
    tile.AddAlphaTriangle({TAlphaPoint{0, 0, 255}, {100, 0, 128.7f}, {0, 50, 0.5f}});
    ASSERT_EQ(tile.batch->pendingCount, 1);
    // Screen pixel x lands at 2x/320 - 1, y at 1 - 2y/240; the texture is 512 x 256.
    const struct {
      float x, y;
      uint32_t alpha;
    } points[] = {{-2, -2, 255}, {100, -2, 128}, {-2, 50, 0}};
    for (size_t i = 0; i < 3; ++i) {
      const T3DVertex& v = tile.batch->pending[i];
      EXPECT_FLOAT_EQ(v.x, 2 * points[i].x / 320 - 1) << i;
      EXPECT_FLOAT_EQ(v.y, 1 - 2 * points[i].y / 240) << i;
      EXPECT_FLOAT_EQ(v.tex[0][0], points[i].x / 512) << i;
      EXPECT_FLOAT_EQ(v.tex[0][1], points[i].y / 256) << i;
      EXPECT_EQ(v.color >> 24, points[i].alpha) << i; // white, premultiplied with the texture
      EXPECT_EQ(v.color & 0xFF, points[i].alpha) << i;
    }
    tile.EndTiles();
    EXPECT_EQ(tile.batch, nullptr);
    EXPECT_THROW(tile.EndTiles(), EAssertion);
    effecter.ReleaseSlideTextures();
  });
  SetAssertionSink(old);
}

// Two slides of different colours all over, and the transition record between them.
struct TTwoSlides {
  explicit TTwoSlides(TDrawerRig& rig)
      : outgoing(rig.Image(320, 240,
                           [](int x, int y) {
                             return 0xFF000000u | uint32_t(x * 255 / 319) << 16 | uint32_t(y) << 8 | 40u;
                           })),
        incoming(rig.Image(320, 240,
                           [](int x, int y) {
                             return 0xFF000000u | 200u << 16 | uint32_t(255 - y) << 8 |
                                    uint32_t(x * 255 / 319);
                           })),
        first([this](TDeviceDrawer& d) { DrawPicture(d, outgoing); }),
        second([this](TDeviceDrawer& d) { DrawPicture(d, incoming); }) {}
  TDevBitmap Frame(TDrawerRig& rig, int effectClass, int kind, double progress) {
    TTransitionParams params;
    params.effectClass = effectClass;
    params.effectKind = kind;
    params.duration = 1000;
    params.progress = progress;
    return rig.Frame([&](TDeviceDrawer& d) { d.DrawTransition(first, second, &params); });
  }
  TMemoryImage& outgoing;
  TMemoryImage& incoming;
  TLambdaItem first, second;
};

int Difference(uint32_t a, uint32_t b) {
  int most = 0;
  for (int shift : {0, 8, 16})
    most = std::max(most, std::abs(Channel(a, shift) - Channel(b, shift)));
  return most;
}

TEST_F(EffecterDraw, TheCrossFadeAtHalfWayIsTheAverageOfTheTwoSlides) {
  TDrawerRig rig(320, 240);
  InstallTransitions(*rig.drawer);
  TTwoSlides slides(rig);
  const TDevBitmap frame = slides.Frame(rig, 2, 1, 500);
  int worst = 0;
  for (int y = 0; y < 240; ++y)
    for (int x = 0; x < 320; ++x) {
      const uint32_t a = slides.outgoing.bitmap.Pixel32(x, y), b = slides.incoming.bitmap.Pixel32(x, y);
      const uint32_t mean = 0xFF000000u | uint32_t((Channel(a, 16) + Channel(b, 16)) / 2) << 16 |
                            uint32_t((Channel(a, 8) + Channel(b, 8)) / 2) << 8 |
                            uint32_t((Channel(a, 0) + Channel(b, 0)) / 2);
      worst = std::max(worst, Difference(frame.Pixel32(x, y), mean));
    }
  EXPECT_LE(worst, 3);
}

TEST_F(EffecterDraw, ATransitionStartsOnTheOutgoingSlideAndEndsOnTheIncomingOne) {
  TDrawerRig rig(320, 240);
  InstallTransitions(*rig.drawer);
  TTwoSlides slides(rig);
  // Every family, in several of its kinds.
  const std::pair<int, int> transitions[] = {{1, 1},  {2, 1},   {4, 1},  {4, 2},  {5, 2},  {6, 1},  {7, 3},
                                             {8, 2},  {9, 2},   {10, 4}, {12, 1}, {13, 4}, {3, 1},  {3, 2},
                                             {11, 3}, {11, 14}, {14, 1}, {14, 7}, {15, 4}, {16, 2}, {17, 3}};
  for (const auto& [effectClass, kind] : transitions) {
    const TDevBitmap start = slides.Frame(rig, effectClass, kind, 0);
    const TDevBitmap end = slides.Frame(rig, effectClass, kind, 1000);
    int startWorst = 0, endWorst = 0;
    for (int y = 0; y < 240; y += 3)
      for (int x = 0; x < 320; x += 3) {
        startWorst =
            std::max(startWorst, Difference(start.Pixel32(x, y), slides.outgoing.bitmap.Pixel32(x, y)));
        endWorst = std::max(endWorst, Difference(end.Pixel32(x, y), slides.incoming.bitmap.Pixel32(x, y)));
      }
    EXPECT_LE(startWorst, 1) << effectClass << "/" << kind;
    EXPECT_LE(endWorst, 1) << effectClass << "/" << kind;
  }
}

// Leaves its tile's batch open and fails.
class TFailingFilter final : public TDrawFilter {
public:
  void DrawWith(TEffController& controller) override {
    controller.GetTile(0, 0).BeginTiles(true, false);
    throw std::runtime_error("broken filter");
  }
};

TEST_F(EffecterDraw, AFilterFailingHalfWayLeavesTheNextFrameWhole) {
  TDrawerRig rig(320, 240);
  InstallTransitions(*rig.drawer);
  TTwoSlides slides(rig);
  TFailingFilter failing;
  failing.Setup({0, 0, 320, 240}, 0, 1000);
  rig.Frame([&](TDeviceDrawer&) {
    EXPECT_THROW(failing.DrawThrough(*rig.drawer, slides.second), std::runtime_error);
  });
  EXPECT_EQ(rig.drawer->FullPool().Outstanding(), 0u) << "the slide texture went back";
  const TDevBitmap frame = slides.Frame(rig, 2, 1, 500);
  int worst = 0;
  for (int y = 0; y < 240; y += 5)
    for (int x = 0; x < 320; x += 5) {
      const uint32_t a = slides.outgoing.bitmap.Pixel32(x, y), b = slides.incoming.bitmap.Pixel32(x, y);
      const uint32_t mean = 0xFF000000u | uint32_t((Channel(a, 16) + Channel(b, 16)) / 2) << 16 |
                            uint32_t((Channel(a, 8) + Channel(b, 8)) / 2) << 8 |
                            uint32_t((Channel(a, 0) + Channel(b, 0)) / 2);
      worst = std::max(worst, Difference(frame.Pixel32(x, y), mean));
    }
  EXPECT_LE(worst, 3);
}

TEST_F(EffecterDraw, APushMovesBothSlides) {
  TDrawerRig rig(320, 240);
  InstallTransitions(*rig.drawer);
  TTwoSlides slides(rig);
  // From the left at a quarter: the incoming slide's right quarter at the left, the outgoing slide moved
  // 80 pixels to the right.
  const TDevBitmap frame = slides.Frame(rig, 12, 1, 250);
  for (int y = 5; y < 240; y += 20) {
    EXPECT_LE(Difference(frame.Pixel32(10, y), slides.incoming.bitmap.Pixel32(250, y)), 2) << y;
    EXPECT_LE(Difference(frame.Pixel32(200, y), slides.outgoing.bitmap.Pixel32(120, y)), 2) << y;
  }
}

// Where the flip's card and the swapped slides land is what the screen's camera makes of their depth: the
// eye at (160, 120, -240) above the 320 x 240 screen, a point at depth z scaled by 240 / (240 + z) about
// the screen's centre. The outgoing slide's blue is 40 everywhere, the incoming one's red 200.
TEST_F(EffecterDraw, TheFlipAndTheSwapAreSeenThroughTheScreensCamera) {
  TDrawerRig rig(320, 240);
  InstallTransitions(*rig.drawer);
  TTwoSlides slides(rig);
  auto frame = [&](int effectClass, double progress) {
    TTransitionParams params;
    params.effectClass = effectClass;
    params.effectKind = 1;
    params.duration = 1000;
    params.progress = progress;
    params.effectParams.flipSmooth = false;
    return rig.Frame([&](TDeviceDrawer& d) { d.DrawTransition(slides.first, slides.second, &params); });
  };
  auto black = [](uint32_t p) { return Channel(p, 16) < 4 && Channel(p, 8) < 4 && Channel(p, 0) < 4; };
  // A quarter of the flip: the card's left edge at 160 - 160 cos 45 deg = 46.9 in the screen plane, its
  // right edge at 273.1 and 113.1 deep, seen at 236.9 from 38.4 to 201.6; brightness 210 of 255.
  const TDevBitmap flip = frame(16, 250);
  for (const auto& [x, y] : {std::pair{50, 5}, {50, 235}, {230, 120}, {150, 60}}) {
    const uint32_t p = flip.Pixel32(x, y);
    EXPECT_NEAR(Channel(p, 0), 40 * 210 / 255, 2) << "card at " << x << "," << y;
  }
  for (const auto& [x, y] : {std::pair{40, 120}, {245, 120}, {236, 30}, {236, 210}, {300, 5}})
    EXPECT_TRUE(black(flip.Pixel32(x, y))) << "black at " << x << "," << y;
  // A quarter of the swap: the outgoing slide moved 122.5 pixels right and 120 to 162 deep, seen from
  // 137.6 on; the incoming one 122.5 pixels left and 840 to 1094 deep, seen from 97.2, 53 pixels high
  // at its left edge, behind the outgoing one.
  const TDevBitmap swap = frame(17, 250);
  EXPECT_NEAR(Channel(swap.Pixel32(250, 120), 0), 40, 2);
  EXPECT_NEAR(Channel(swap.Pixel32(145, 120), 0), 40, 2);
  EXPECT_NEAR(Channel(swap.Pixel32(110, 120), 16), 200, 2);
  EXPECT_NEAR(Channel(swap.Pixel32(110, 102), 16), 200, 2);
  for (const auto& [x, y] : {std::pair{20, 120}, {90, 120}, {110, 80}, {120, 160}})
    EXPECT_TRUE(black(swap.Pixel32(x, y))) << "black at " << x << "," << y;
}

} // namespace
} // namespace kiv

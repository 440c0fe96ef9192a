// The drawer's pure rules: tile layout and shapes, texture keys, box corner colours, opacity bytes, blur
// passes, fixed-size placement, transition order, gutters of frame grids.

#include "ScreenDrawer.h"
#include "TiledTextures.h"
#include "DrawTree.h"

#include "Assert.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

namespace kiv {
namespace {

TEST(TileLayout, A600x300PictureIsCoveredWithOverlappingTiles) {
  const std::vector<TTilePlacement> tiles = LayoutTiles(600, 300);
  ASSERT_GE(tiles.size(), 3u);
  EXPECT_EQ(tiles[0].offset, (TPoint{-1, -1}));
  EXPECT_EQ(tiles[0].used, (TSize{256, 256}));
  EXPECT_EQ(tiles[1].offset, (TPoint{253, -1}));
  // The row to the right is finished before the row below starts.
  const auto below =
      std::find_if(tiles.begin(), tiles.end(), [](const TTilePlacement& t) { return t.offset.y > -1; });
  ASSERT_NE(below, tiles.end());
  EXPECT_EQ(below->offset, (TPoint{-1, 253}));
  // Every picture pixel lies inside the inner area (one pixel in from the tile's edge) of some tile.
  for (int y = 0; y < 300; y += 7)
    for (int x = 0; x < 600; x += 7) {
      const bool covered = std::any_of(tiles.begin(), tiles.end(), [&](const TTilePlacement& t) {
        return x >= t.offset.x + 1 && x < t.offset.x + t.used.width - 1 && y >= t.offset.y + 1 &&
               y < t.offset.y + t.used.height - 1;
      });
      ASSERT_TRUE(covered) << x << "," << y;
    }
}

TEST(TileLayout, ShapeChoice) {
  struct TCase {
    int w, h, shape;
  } cases[] = {
      {70, 50, 2},   // 3500 useful in four shapes; 256 x 64 wastes least
      {602, 302, 0}, // large: 256 x 256
      {300, 100, 1}, // 256 x 100 useful in 256 x 256 and 256 x 128: the smaller wins
      {50, 300, 4},  // tall and thin: 64 x 256
      {10, 10, 5},   // tiny: 64 x 64
      {100, 300, 3}, // 100 x 256 in 128 x 256
  };
  for (const TCase& c : cases)
    EXPECT_EQ(ChooseTileShape(c.w, c.h), c.shape) << c.w << " x " << c.h;
  const bool withoutFirstThree[6] = {false, false, false, true, true, true};
  EXPECT_EQ(ChooseTileShape(602, 302, withoutFirstThree), 3);
}

TEST(TileLayout, TextureKeys) {
  EXPECT_EQ(MultiTextureKey(0, 1, 1, false), "MultiTexID: 0:1:1:False");
  EXPECT_EQ(MultiTextureKey(2, 4, 3, true), "MultiTexID: 2:4:3:True");
}

TEST(TileLayout, FrameGridHasTransparentGutters) {
  TDevBitmap source(400, 200, TPixelFormat::pf32bit);
  for (int y = 0; y < 200; ++y)
    for (int x = 0; x < 400; ++x)
      source.SetPixel32(x, y, 0xFF000000u | uint32_t(x) << 8 | uint32_t(y));
  TTileBitmap grid(source, 4, 2);
  EXPECT_EQ(grid.Width(), 408);
  EXPECT_EQ(grid.Height(), 204);
  EXPECT_EQ(grid.FrameWidth(), 100);
  EXPECT_EQ(grid.FrameHeight(), 100);
  EXPECT_EQ(grid.CellOrigin(1, 1), (TPoint{103, 103}));
  auto at = [&](int x, int y) {
    uint32_t p = 0;
    grid.GetPixels(x, y, 1, &p);
    return p;
  };
  struct TCase {
    int x, y;
    uint32_t expected;
  } cases[] = {
      {1, 1, 0xFF000000u},                        // first pixel of frame (0, 0)
      {0, 1, 0x00000000u},                        // left gutter repeats it, transparent
      {101, 50, 0x00000000u | 99u << 8 | 49u},    // right gutter of frame 0 repeats column 99
      {102, 50, 0x00000000u | 100u << 8 | 49u},   // left gutter of frame 1 repeats column 100
      {103, 50, 0xFF000000u | 100u << 8 | 49u},   // inside frame 1
      {103, 103, 0xFF000000u | 100u << 8 | 100u}, // frame (1, 1)
      {407, 203, 0x00000000u | 399u << 8 | 199u}, // last corner
  };
  for (const TCase& c : cases)
    EXPECT_EQ(at(c.x, c.y), c.expected) << c.x << "," << c.y;
  uint32_t p = 0;
  EXPECT_THROW(grid.GetPixels(408, 0, 1, &p), EAssertion);
  EXPECT_THROW(grid.GetPixels(400, 0, 9, &p), EAssertion);
}

TEST(DrawerRules, BoxCornerColours) {
  const uint32_t c1 = 0xFF204060, c2 = 0xFF6080A0, avg = 0xFF406080;
  struct TCase {
    uint8_t type;
    TQuadColors expected;
  } cases[] = {
      {0, {c1, avg, avg, c2}}, {1, {avg, c1, c2, avg}}, {2, {c2, avg, avg, c1}},
      {3, {avg, c2, c1, avg}}, {4, {c2, c2, c1, c1}},   {5, {c1, c1, c2, c2}},
      {6, {c1, c2, c1, c2}},   {7, {c2, c1, c2, c1}},   {8, {c1, c1, c1, c1}},
  };
  for (const TCase& c : cases)
    EXPECT_EQ(BoxCornerColors(c.type, c1, c2, 100), c.expected) << int(c.type);
  // Opacity scales alpha, truncated; 100 and more leave it alone; the average includes alpha.
  EXPECT_EQ(BoxCornerColors(8, 0x80FFFFFF, 0, 150)[0], 0x80FFFFFFu);
  EXPECT_EQ(BoxCornerColors(8, 0xFF112233, 0, 50)[0], 0x7F112233u);
  EXPECT_EQ(BoxCornerColors(0, 0xFF000000, 0x00000000, 100)[1], 0x7F000000u);
  EXPECT_THROW(BoxCornerColors(9, c1, c2, 100), EAssertion);
}

TEST(DrawerRules, OpacityBytesTruncateOrRound) {
  struct TCase {
    float opacity;
    int rounded, truncated;
  } cases[] = {
      {100, 255, 255}, {50, 128, 127}, {0.2f, 1, 0}, {0, 0, 0}, {-5, 0, 0}, {250, 255, 255}, {10, 26, 25},
  };
  for (const TCase& c : cases) {
    EXPECT_EQ(ImageOpacityByte(c.opacity), c.rounded) << c.opacity;
    EXPECT_EQ(TruncOpacityByte(c.opacity), c.truncated) << c.opacity;
  }
}

TEST(DrawerRules, BlurPasses) {
  // Blur 5 on a 1000-pixel frame: r = 5, t = 2.5.
  TBlurPlan p = PlanBlur(2.5);
  EXPECT_FALSE(p.mixOnly);
  EXPECT_EQ(p.fullPasses, 0);
  EXPECT_EQ(p.finalStep, 1);
  EXPECT_NEAR(p.finalStrength, 0.25, 1e-6);
  // Blur 40: t = 20, two full pairs (steps 1 and 2), the last pair with step 4.
  p = PlanBlur(20);
  EXPECT_EQ(p.fullPasses, 2);
  EXPECT_EQ(p.finalStep, 4);
  EXPECT_NEAR(p.finalStrength, std::log2(20.0 / 7) - 1, 1e-6);
  // A power of two over 7 ends on a full-strength pair.
  p = PlanBlur(28);
  EXPECT_EQ(p.fullPasses, 2);
  EXPECT_NEAR(p.finalStrength, 1, 1e-6);
  p = PlanBlur(0.5);
  EXPECT_TRUE(p.mixOnly);
  EXPECT_NEAR(p.mixAlpha, (0.5 - 1e-5) / 0.99999, 1e-6);
  p = PlanBlur(0);
  EXPECT_FALSE(p.mixOnly);
  EXPECT_EQ(p.finalStrength, 0);
  const auto w = GaussWeights(1);
  EXPECT_NEAR(2 * (w[0] + w[1] + w[2]) + w[3], 1.0, 1e-5);
  EXPECT_NEAR(GaussWeights(0)[3], 1.0, 1e-6);
}

TEST(DrawerRules, FixedSizeIsCentredInTheUpdateRectangle) {
  EXPECT_EQ(FixedSizeArea({0, 0, 1024, 768}, {800, 600}), (TRect{112, 84, 912, 684}));
  // Halves go to even.
  EXPECT_EQ(FixedSizeArea({0, 0, 801, 603}, {800, 600}), (TRect{0, 2, 800, 602}));
  EXPECT_EQ(FixedSizeArea({}, {800, 600}), TRect{});
}

TEST(DrawerRules, TransitionOrder) {
  using K = TFilterKind;
  struct TCase {
    K kind;
    bool reverse;
    double position;
    std::vector<std::pair<int, bool>> steps;
  } cases[] = {
      {K::Plain, false, 0.3, {{0, false}, {1, true}}},
      {K::Plain, true, 0.3, {{1, false}, {0, true}}},
      {K::Push, false, 0.7, {{0, false}, {1, true}}},
      {K::Push, true, 0.7, {{1, false}, {0, true}}},
      {K::Overturn, false, 0.49, {{0, true}}},
      {K::Overturn, false, 0.5, {{1, true}}},
      {K::Overturn, true, 0.5, {{0, true}}},
      {K::Overturn, true, 0.2, {{1, true}}},
      {K::TwoSlides, false, 0.5, {{0, true}, {1, true}}},
      {K::TwoSlides, false, 0.1, {{1, true}, {0, true}}},
      {K::TwoSlides, true, 0.5, {{1, true}, {0, true}}},
      {K::TwoSlides, true, 0.1, {{0, true}, {1, true}}},
  };
  for (const TCase& c : cases) {
    std::vector<std::pair<int, bool>> got;
    for (const TTransitionStep& s : TransitionDrawOrder(c.kind, c.reverse, c.position))
      got.push_back({s.item, s.throughFilter});
    EXPECT_EQ(got, c.steps) << int(c.kind) << " " << c.reverse << " " << c.position;
  }
}

TEST(DrawerRules, VideoPlaneSizes) {
  EXPECT_EQ(PaddedVideoSize(641), 649);
  EXPECT_EQ(PaddedVideoSize(640), 648);
  EXPECT_EQ(PaddedVideoSize(320), 328);
  EXPECT_EQ(PaddedVideoSize(60), 64);
  EXPECT_EQ(PaddedVideoSize(64), 64);
  EXPECT_EQ(PaddedVideoSize(0), 0);
}

} // namespace
} // namespace kiv

namespace kiv {
namespace {

TEST(TileLayout, ManagerRefusesToGoWhileMultiTexturesLive) {
  auto screen = MakeOwned<T3DScreen>();
  auto manager = TRef<TTextureManager6>::Make(screen.get());
  auto texture = MakeOwned<TMultiTexture6>(manager);
  try {
    TObj::Free(manager.get());
    ADD_FAILURE() << "freed with a live multi-texture";
  } catch (const EAssertion& e) {
    EXPECT_NE(std::string(e.what()).find("Error: Multi Textures Count = 1"), std::string::npos) << e.what();
  }
  texture.reset();
  EXPECT_EQ(manager->liveMultiTextures.load(), 0);
  EXPECT_EQ(manager->RefCount(), 1);
}

} // namespace
} // namespace kiv

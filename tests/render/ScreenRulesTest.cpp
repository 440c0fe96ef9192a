// Pure rules of the screen: texture and pool sizes, the video-memory back-off, batch flags, premultiplied
// vertex colours, the bilinear arithmetic and the 2 x 2 reduction, the feather ring's geometry.

#include "Screen.h"
#include "RenderTargetPool.h"
#include "MipReduction.h"
#include "Exceptions.h"

#include <gtest/gtest.h>

#include <cmath>

namespace kiv {
namespace {

TEST(ScreenRules, TextureSizesArePowersOfTwoOfAtLeast32) {
  const struct {
    int32_t logical, texture;
  } cases[] = {{1000, 1024}, {700, 1024}, {20, 32}, {1, 32}, {32, 32}, {33, 64}, {256, 256}, {0, 0}, {-5, 0}};
  for (const auto& c : cases)
    EXPECT_EQ(TextureDimension(c.logical), c.texture) << c.logical;
}

TEST(ScreenRules, PoolSizesRoundUpToPowersOfTwo) {
  const struct {
    TSize output, pool;
  } cases[] = {{{1366, 768}, {2048, 1024}}, {{683, 384}, {1024, 512}}, {{1920, 1080}, {2048, 2048}},
               {{64, 48}, {64, 64}},        {{16, 16}, {16, 16}},      {{0, 10}, {0, 16}}};
  for (const auto& c : cases) {
    TRenderTargetManager pool;
    pool.SetSize(c.output);
    EXPECT_EQ(pool.size, c.pool) << c.output.width << "x" << c.output.height;
  }
}

TEST(ScreenRules, BackOffReleasesHalvesFromTheTop) {
  using R = std::vector<std::pair<int32_t, int32_t>>;
  EXPECT_EQ(BackOffRanges(10), (R{{5, 9}, {2, 4}, {1, 1}, {0, 0}}));
  EXPECT_EQ(BackOffRanges(1), (R{{0, 0}}));
  EXPECT_EQ(BackOffRanges(4), (R{{2, 3}, {1, 1}, {0, 0}})); // the last one is released too
  EXPECT_EQ(BackOffRanges(3), (R{{1, 2}, {0, 0}}));
  EXPECT_TRUE(BackOffRanges(0).empty());
}

TEST(ScreenRules, BatchFlagsFollowLayersAndPremultiplication) {
  const struct {
    int layers;
    bool is3D, premultiplied;
    uint32_t flags;
  } cases[] = {
      {0, false, false, 6}, {0, true, false, 6}, {1, false, false, 5}, {2, false, false, 1},
      {7, false, false, 1}, {1, true, false, 7}, {2, false, true, 7},  {1, false, true, 7},
  };
  for (const auto& c : cases)
    EXPECT_EQ(BatchDrawFlags(c.layers, c.is3D, c.premultiplied), c.flags)
        << c.layers << " " << c.is3D << " " << c.premultiplied;
}

TEST(ScreenRules, PremultipliedColoursTruncate) {
  EXPECT_EQ(PremultiplyColor(0xFFFFFFFF), 0xFFFFFFFFu);
  EXPECT_EQ(PremultiplyColor(0x80FF4001), 0x80802000u);
  EXPECT_EQ(PremultiplyColor(0x00FFFFFF), 0x00000000u);
  EXPECT_EQ(PremultiplyColor(0x7F102030), 0x7F070F17u);
}

TEST(ScreenRules, BlendChannelRoundsTowardsTheFirstValue) {
  const struct {
    int a, b, weight, result;
  } cases[] = {{10, 20, 128, 15}, {20, 10, 128, 15}, {11, 20, 128, 15}, {20, 11, 128, 15}, {0, 255, 256, 255},
               {255, 0, 256, 0},  {255, 0, 1, 254},  {0, 255, 1, 0},    {7, 7, 200, 7}};
  for (const auto& c : cases)
    EXPECT_EQ(BlendChannel(uint8_t(c.a), uint8_t(c.b), c.weight), c.result)
        << c.a << " " << c.b << " " << c.weight;
}

TEST(ScreenRules, ColumnTableWeightsRoundHalvesToEven) {
  using E = std::vector<std::pair<int, int>>;
  auto table = [](int ws, int wd) {
    E result;
    for (const TBilinearEntry& e : BilinearColumnTable(ws, wd))
      result.emplace_back(e.index, e.weight);
    return result;
  };
  EXPECT_EQ(table(3, 5), (E{{0, 0}, {0, 128}, {1, 0}, {1, 128}, {1, 256}}));
  EXPECT_EQ(table(4, 3), (E{{0, 0}, {1, 128}, {2, 256}}));
  EXPECT_EQ(table(5, 1), (E{{3, 256}})); // a single column still never reads past the row
  const E wide = table(2, 513);
  EXPECT_EQ(wide[1], (std::pair{0, 0})); // 0.5 rounds to 0
  EXPECT_EQ(wide[3], (std::pair{0, 2})); // 1.5 rounds to 2
  EXPECT_EQ(wide[512], (std::pair{0, 256}));
}

// Blue channel of each pixel; the other channels are held at 0xFF.
std::vector<int> Blues(const TDevBitmap& bitmap) {
  std::vector<int> result;
  for (int y = 0; y < bitmap.Height(); ++y)
    for (int x = 0; x < bitmap.Width(); ++x)
      result.push_back(int(bitmap.Pixel32(x, y) & 0xFF));
  return result;
}

TDevBitmap BlueBitmap(int width, int height, std::vector<int> blues) {
  TDevBitmap bitmap(width, height, TPixelFormat::pf32bit);
  for (int i = 0; i < width * height; ++i)
    bitmap.SetPixel32(i % width, i / width, 0xFFFFFF00u | uint32_t(blues[size_t(i)]));
  return bitmap;
}

TEST(ScreenRules, BilinearResamplingArithmetic) {
  const struct {
    int ws, hs;
    std::vector<int> source;
    int wd, hd;
    std::vector<int> expected;
  } cases[] = {
      // 2 x 2 to 3 x 3: middle row blends rows at 128, then columns; the last column reads (0, 256).
      {2, 2, {0, 100, 200, 44}, 3, 3, {0, 50, 100, 100, 86, 72, 200, 122, 44}},
      // A single row is resampled once and copied into every row.
      {3, 1, {0, 100, 200}, 5, 2, {0, 50, 100, 150, 200, 0, 50, 100, 150, 200}},
      // A single column: each row is the blend of two source rows; the last row is read by itself.
      {1, 3, {0, 100, 200}, 2, 5, {0, 0, 50, 50, 100, 100, 150, 150, 200, 200}},
      // Same width: rows are copied.
      {2, 2, {1, 2, 3, 4}, 2, 2, {1, 2, 3, 4}},
      // Reduction: 5 columns to 2 reads columns 0 and (3, 256) = 4.
      {5, 1, {10, 20, 30, 40, 50}, 2, 1, {10, 50}},
  };
  TBilinearResampler resampler;
  for (const auto& c : cases) {
    const TDevBitmap source = BlueBitmap(c.ws, c.hs, c.source);
    TDevBitmap dest(c.wd, c.hd, TPixelFormat::pf32bit);
    resampler.Resample(source, dest);
    EXPECT_EQ(Blues(dest), c.expected) << c.ws << "x" << c.hs << " -> " << c.wd << "x" << c.hd;
    EXPECT_EQ(dest.Pixel32(0, 0) >> 8, 0xFFFFFFu) << "other channels stay";
  }
}

TEST(ScreenRules, ResamplingRefusesOtherPixelSizes) {
  TDevBitmap source(4, 4, TPixelFormat::pf8bit), dest(2, 2, TPixelFormat::pf8bit);
  TBilinearResampler resampler;
  EXPECT_THROW(resampler.Resample(source, dest), EAssertion);
}

TEST(ScreenRules, HalvingAveragesTwoByTwoBlocksRoundingDown) {
  const TDevBitmap source = BlueBitmap(4, 2, {0, 1, 10, 10, 1, 1, 10, 11});
  TDevBitmap dest(2, 1, TPixelFormat::pf32bit);
  HalveBitmap(source, dest);
  EXPECT_EQ(Blues(dest), (std::vector<int>{0, 10}));
  EXPECT_EQ(dest.Pixel32(1, 0) >> 8, 0xFFFFFFu);

  TDevBitmap plane(2, 2, TPixelFormat::pf8bit), half(1, 1, TPixelFormat::pf8bit);
  plane.ScanLine(0)[0] = 255;
  plane.ScanLine(0)[1] = 254;
  plane.ScanLine(1)[0] = 255;
  plane.ScanLine(1)[1] = 255;
  HalveBitmap(plane, half);
  EXPECT_EQ(half.ScanLine(0)[0], 254);
}

TEST(ScreenRules, ProjectionRefusesEmptySizes) {
  T3DScreen screen;
  screen.SetupProjection(480, 640, 240, 320, 5, 7);
  EXPECT_FLOAT_EQ(screen.projScaleX, 0.5f);
  for (float bad : {0.0f, -1.0f, std::nanf("")}) {
    screen.SetupProjection(480, 640, 100, bad, 1, 1);
    screen.SetupProjection(bad, 640, 100, 100, 1, 1);
    EXPECT_FLOAT_EQ(screen.projScaleX, 0.5f);
    EXPECT_FLOAT_EQ(screen.projScaleY, 0.5f);
    EXPECT_FLOAT_EQ(screen.projOffsetX, 7);
  }
  const TFloatPoint target = screen.ScreenToTarget({17, 25});
  EXPECT_FLOAT_EQ(target.x, 10);
  EXPECT_FLOAT_EQ(target.y, 20);
  const TFloatPoint back = screen.TargetToScreen(target);
  EXPECT_FLOAT_EQ(back.x, 17);
  EXPECT_FLOAT_EQ(back.y, 25);
}

// Distance of a screen point from the line through a and b, positive away from `inside`.
double Outside(TFloatPoint p, TFloatPoint a, TFloatPoint b, TFloatPoint inside) {
  const double dx = b.x - a.x, dy = b.y - a.y, len = std::hypot(dx, dy);
  double d = ((p.x - a.x) * dy - (p.y - a.y) * dx) / len;
  const double side = ((inside.x - a.x) * dy - (inside.y - a.y) * dx) / len;
  return side > 0 ? -d : d;
}

// The ring lies one screen pixel outside every feathered edge, also for a quad turned in depth.
TEST(ScreenRules, FeatherRingLiesOnePixelOutsideOnScreen) {
  T3DScreen screen;
  screen.screenRect = {0, 0, 640, 480};
  TQuadPlacement placement;
  placement.origin = {320, 240, 100};
  placement.pivot = {50, 40};
  const double angle = 0.6;
  placement.xAxis = {float(std::cos(angle)), 0, float(std::sin(angle))};
  placement.yAxis = {0, 1, 0};
  TFeatherPatch patch;
  screen.BuildFeatherPatch(placement, {0, 0, 100, 80}, {true, true, true, false}, patch);
  auto s = [&](int column, int row) { return screen.Project(patch.points[size_t(row * 4 + column)]); };
  const TFloatPoint lt = s(1, 1), rt = s(2, 1), lb = s(1, 2), rb = s(2, 2);
  const TFloatPoint centre{(lt.x + rb.x) / 2, (lt.y + rb.y) / 2};
  EXPECT_NEAR(Outside(s(0, 1), lb, lt, centre), 1.0, 1e-3); // left
  EXPECT_NEAR(Outside(s(1, 0), lt, rt, centre), 1.0, 1e-3); // top
  EXPECT_NEAR(Outside(s(3, 2), rt, rb, centre), 1.0, 1e-3); // right
  EXPECT_NEAR(Outside(s(0, 0), lt, rt, centre), 1.0, 1e-3); // corner: one pixel from both edges
  EXPECT_NEAR(Outside(s(0, 0), lb, lt, centre), 1.0, 1e-3);
  EXPECT_NEAR(Outside(s(1, 3), lb, rb, centre), 0.0, 1e-3); // bottom is not feathered
  // Ring points stay on the quad's plane and carry matching object coordinates.
  for (int i = 0; i < 16; ++i) {
    const TFloatPoint uv = patch.coords[size_t(i)];
    const T3DPoint expected = PlacePoint(placement, uv.x, uv.y);
    EXPECT_NEAR(patch.points[size_t(i)].x, expected.x, 1e-3);
    EXPECT_NEAR(patch.points[size_t(i)].z, expected.z, 1e-3);
  }
  EXPECT_LT(patch.coords[4].x, 0.0f); // left of the object rectangle
}

TEST(ScreenRules, DegenerateQuadsAreNotFeathered) {
  T3DScreen screen;
  screen.screenRect = {0, 0, 640, 480};
  const TFloatRect rects[] = {{0, 0, 100, 0.05f}, {0, 0, 100, 80}};
  TQuadPlacement edgeOn; // seen exactly from the side: zero height on screen
  edgeOn.origin = {320, 240, 0};
  edgeOn.yAxis = {0, 0, 1};
  const TQuadPlacement flat;
  const struct {
    TQuadPlacement placement;
    TFloatRect rect;
  } cases[] = {{flat, rects[0]}, {edgeOn, rects[1]}};
  for (const auto& c : cases) {
    TFeatherPatch patch;
    screen.BuildFeatherPatch(c.placement, c.rect, {true, true, true, true}, patch);
    EXPECT_FLOAT_EQ(patch.coords[0].x, c.rect.left);
    EXPECT_FLOAT_EQ(patch.coords[0].y, c.rect.top);
    EXPECT_FLOAT_EQ(patch.coords[15].x, c.rect.right);
  }
}

} // namespace
} // namespace kiv

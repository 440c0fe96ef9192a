// What the 2D filters draw at a position: the alpha their triangles give points of the frame, against
// values worked out here from each family's distance, the smooth curve and the position; the mosaic's cell
// delays and steps; where the slide and the push put the picture; the cutting of polygons into cells.

#include "RecordingTiles.h"

#include "Assert.h"
#include "CrossFadeFilter.h"
#include "DistanceFilters.h"
#include "FilterFactory.h"
#include "MosaicFilter.h"
#include "SlidingFilters.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <string>

namespace kiv {
namespace {

using namespace kiv::test;

const TRect kFrame{0, 0, 400, 300};

float Curve(float x) {
  return x < 127.5f ? x * x / 128 : 255 - (255 - x) * (255 - x) / 128;
}

// The alpha at distance d from the start of a front at radius r with a soft edge s wide.
float ExpectedAlpha(float d, float r, float s) {
  if (r <= 0 || d >= r) return 0;
  if (d <= r - s) return 255;
  return 255 - Curve((d - (r - s)) * 255 / s);
}

std::vector<TRecordedTriangle> Draw(TDrawFilter& filter, double position, TEffController& controller) {
  filter.SetPosition(position);
  filter.DrawWith(controller);
  return static_cast<TRecordingController&>(controller).AllAlpha();
}

TOwned<TDrawFilter> Filter(int effectClass, int kind, float smoothLine, TEffectParams params = {}) {
  params.smoothLine = smoothLine;
  TOwned<TDrawFilter> filter = CreateFilter(kFrame, effectClass, kind, nullptr, params, 1000);
  filter->updateRect = kFrame;
  return filter;
}

TEST(FilterGeometry, TheCrossFadeCoversTheUpdateRectangleAtOneAlpha) {
  const struct {
    double position;
    float alpha;
  } cases[] = {{0, 0}, {500, 127.5f}, {1000, 255}, {250, 63.75f}};
  for (const auto& c : cases) {
    TOwned<TDrawFilter> filter = Filter(2, 1, 0);
    filter->updateRect = {40, 30, 240, 180}; // drawn where the update rectangle says
    TRecordingController controller(kFrame);
    const auto triangles = Draw(*filter, c.position, controller);
    EXPECT_EQ(triangles.size(), 2u);
    for (const auto& [x, y] : {std::pair{41.0f, 31.0f}, {239.0f, 179.0f}, {140.0f, 100.0f}}) {
      const auto alpha = AlphaAt(triangles, x, y);
      ASSERT_TRUE(alpha) << x << "," << y;
      EXPECT_FLOAT_EQ(*alpha, c.alpha) << c.position;
    }
    EXPECT_FALSE(AlphaAt(triangles, 20, 20)); // outside the update rectangle
    EXPECT_TRUE(controller.Tile(0, 0).lastTextured);
    EXPECT_EQ(controller.Tile(0, 0).batches, 1);
  }
}

// Distance filters against their distance measures, at points all over the frame.
TEST(FilterGeometry, DistanceFiltersShowThePictureUpToTheFrontWithTheSmoothEdge) {
  using TDistance = std::function<float(float x, float y)>;
  const float s = 140; // smooth line 0.35 of 400 pixels: 10-pixel curve steps, none merged
  const TDistance circle = [](float x, float y) { return std::hypot(x - 200, y - 150); };
  const TDistance fromCorner = [](float x, float y) { return std::hypot(x, y); };
  const TDistance hLines = [](float x, float) { return std::abs(x - 200); };
  const TDistance fromRight = [](float x, float) { return 400 - x; };
  const TDistance fromBottom = [](float, float y) { return 300 - y; };
  const TDistance rhomb = [](float x, float y) { return std::abs(x - 200) + std::abs(y - 150); };
  const TDistance square = [](float x, float y) {
    return std::max(std::abs(x - 200), std::abs(y - 150) / 0.75f);
  };
  const TDistance diagMiddle = [](float x, float y) { return std::abs(x + y - 350); };
  const TDistance diagMirrored = [](float x, float y) { return std::abs(x - y - 50); };
  const TDistance diagCorner = [](float x, float y) { return x + y; };
  const TDistance diagFar = [](float x, float y) { return 700 - x - y; };
  TEffectParams topLeft;
  topLeft.centerX = topLeft.centerY = 0;
  const struct {
    const char* what;
    int effectClass, kind;
    TEffectParams params;
    TDistance distance;
    float reach; // before the smooth width
    bool reverse;
  } cases[] = {
      {"circle", 4, 2, {}, circle, 250, false},
      {"circle reversed", 4, 1, {}, circle, 250, true},
      {"circle from the top-left corner", 4, 2, topLeft, fromCorner, 500, false},
      {"lines from the vertical centre line, reversed", 7, 1, {}, hLines, 200, true},
      {"wipe from the right edge", 9, 2, {}, fromRight, 400, false},
      {"wipe from the bottom edge", 9, 4, {}, fromBottom, 300, false},
      {"rhomb", 5, 2, {}, rhomb, 350, false},
      {"square", 6, 2, {}, square, 200, false},
      {"diagonals from the middle", 8, 2, {}, diagMiddle, 350, false},
      {"diagonals leaning the other way, reversed", 8, 3, {}, diagMirrored, 350, true},
      {"corner", 10, 1, {}, diagCorner, 700, false},
      {"corner from the far corner", 10, 2, {}, diagFar, 700, false},
  };
  for (const auto& c : cases) {
    for (const float t : {0.0f, 0.2f, 0.5f, 0.85f, 1.0f}) {
      TOwned<TDrawFilter> filter = Filter(c.effectClass, c.kind, 0.35f, c.params);
      TRecordingController controller(kFrame);
      const auto triangles = Draw(*filter, t * 1000, controller);
      const float reach = c.reach + s;
      EXPECT_FLOAT_EQ(static_cast<TCommonFilter&>(*filter).Reach(), reach) << c.what;
      const float r = c.reverse ? reach - t * reach : t * reach;
      for (float y = 3; y < 300; y += 23)
        for (float x = 2; x < 400; x += 21) {
          const float d = c.distance(x, y);
          const float wanted = ExpectedAlpha(d, r, s);
          const float got = AlphaAt(triangles, x, y).value_or(0);
          EXPECT_NEAR(got, wanted, 1.5f)
              << c.what << " at t " << t << ", (" << x << ", " << y << "), d " << d;
        }
    }
  }
}

TEST(FilterGeometry, WithoutSmoothWidthTheCircleIsAHardDiscOfHalfTheReachAtHalfway) {
  TOwned<TDrawFilter> filter = Filter(4, 2, 0);
  TRecordingController controller(kFrame);
  const auto triangles = Draw(*filter, 500, controller);
  const float radius = 125; // the farthest corner lies 250 pixels from the centre
  for (int k = 0; k < 16; ++k) {
    const double a = k * 0.4;
    const auto at = [&](float d) {
      return AlphaAt(triangles, 200 + d * float(std::cos(a)), 150 + d * float(std::sin(a))).value_or(0);
    };
    EXPECT_FLOAT_EQ(at(radius - 1), 255) << k;
    EXPECT_FLOAT_EQ(at(radius + 1), 0) << k;
  }
}

TEST(FilterGeometry, ACentreOutsideTheFrameCountsDistancesFromTheFrame) {
  TEffectParams params;
  params.centerX = -50; // 200 pixels left of the frame, at mid height
  params.centerY = 50;
  TOwned<TDrawFilter> filter = Filter(4, 2, 0, params);
  auto& circle = static_cast<TCircleFilter&>(*filter);
  EXPECT_FLOAT_EQ(circle.Gap(), 200);
  EXPECT_EQ(circle.Segments(), 256);
  EXPECT_FLOAT_EQ(circle.Reach(), std::hypot(600.0f, 150.0f) - 200);
  TRecordingController controller(kFrame);
  const auto triangles = Draw(*filter, 250, controller);
  const float r = circle.FrontRadius();
  // Distance from the centre minus the gap: the front has come r pixels into the frame.
  EXPECT_FLOAT_EQ(AlphaAt(triangles, r - 2, 150).value_or(0), 255);
  EXPECT_FALSE(AlphaAt(triangles, r + 2, 150));
  // At the start nothing of the picture shows.
  TRecordingController start(kFrame);
  EXPECT_TRUE(Draw(*filter, 0, start).empty());
}

TEST(FilterGeometry, GeometryIsMappedFromTheFrameIntoTheUpdateRectangleAboutTheCentre) {
  TOwned<TDrawFilter> filter = Filter(7, 2, 0); // lines spreading from the vertical centre line
  filter->updateRect = {100, 50, 300, 200};     // half the frame's size
  TRecordingController controller(kFrame);
  const auto triangles = Draw(*filter, 500, controller);
  // Reach 200, front 100 frame pixels: 50 update pixels either side of the centre at x = 200.
  EXPECT_FLOAT_EQ(AlphaAt(triangles, 151, 60).value_or(0), 255);
  EXPECT_FLOAT_EQ(AlphaAt(triangles, 249, 190).value_or(0), 255);
  EXPECT_FALSE(AlphaAt(triangles, 148, 100));
  EXPECT_FALSE(AlphaAt(triangles, 252, 100));
}

TEST(FilterGeometry, BandsCloserThanTwoPixelsMergeIntoTheNext) {
  // A 21-pixel soft edge: curve steps of 1.5 pixels, so every second node is emitted.
  const std::vector<TDistanceBand> bands = DistanceBands(100, 21, 500);
  ASSERT_FALSE(bands.empty());
  EXPECT_TRUE(bands.front().solid);
  EXPECT_FLOAT_EQ(bands.front().to, 79);
  std::vector<float> ends;
  for (size_t i = 1; i < bands.size(); ++i) {
    EXPECT_FLOAT_EQ(bands[i].from, i == 1 ? 79 : bands[i - 1].to);
    EXPECT_NEAR(bands[i].alphaTo, 255 - Curve((bands[i].to - 79) * 255 / 21), 1e-3);
    ends.push_back(bands[i].to);
  }
  ASSERT_EQ(ends.size(), 7u);
  for (size_t i = 0; i < ends.size(); ++i)
    EXPECT_NEAR(ends[i], 82 + 3 * float(i), 1e-4);
  EXPECT_FLOAT_EQ(bands.back().alphaTo, 0);
  // A front still inside its soft edge starts at distance 0 with the curve's value there.
  const std::vector<TDistanceBand> early = DistanceBands(70, 140, 500);
  ASSERT_FALSE(early.empty());
  EXPECT_FALSE(early.front().solid);
  EXPECT_FLOAT_EQ(early.front().from, 0);
  EXPECT_NEAR(early.front().alphaFrom, 255 - Curve(70 * 255.0f / 140), 1e-3);
  EXPECT_TRUE(DistanceBands(0, 10, 500).empty());
}

// u is the seed's low 23 bits as a fraction of 2^23.
std::vector<int32_t> Delays(uint32_t seed, int cells, int spread) {
  std::vector<int32_t> delays;
  for (int i = 0; i < cells; ++i) {
    seed = seed * 1664525u + 1013904223u;
    const double u = static_cast<double>(seed & 0x7FFFFF) / 8388608.0;
    delays.push_back(static_cast<int32_t>(static_cast<float>(u) * static_cast<float>(spread * 100)));
  }
  return delays;
}

TEST(FilterGeometry, MosaicCellsFadeInAfterTheirDelays) {
  const struct {
    int dx, dy, scale;
    int32_t seed;
    int columns, rows, spread;
  } cases[] = {
      {4, 3, 50, 1234, 4, 3, 50},
      {5, 2, 99, -7, 5, 2, 99},
      {3, 3, 150, 42, 3, 3, 1000},     // a scale of 100 or more spreads by 1000
      {-5, 100000, 20, 9, 1, 256, 20}, // cells from show data are held to 1 .. 256
  };
  for (const auto& c : cases) {
    TEffectParams params;
    params.mosaicDX = c.dx;
    params.mosaicDY = c.dy;
    params.mosaicSC = c.scale;
    params.seed = c.seed;
    TOwned<TDrawFilter> filter = Filter(1, 1, 0, params);
    auto& mosaic = static_cast<TRandomFilter&>(*filter);
    ASSERT_EQ(mosaic.columns, c.columns);
    ASSERT_EQ(mosaic.rows, c.rows);
    const std::vector<int32_t> delays = Delays(static_cast<uint32_t>(c.seed), c.columns * c.rows, c.spread);
    EXPECT_EQ(mosaic.Delays(), delays) << c.seed;
    for (const float t : {0.1f, 0.4f, 0.7f, 0.95f}) {
      TRecordingController controller(kFrame);
      const auto triangles = Draw(mosaic, t * 1000, controller);
      const auto step = static_cast<int32_t>(t * float(c.spread * 100 + 256) - 256.0f);
      for (int row = 0; row < c.rows; ++row)
        for (int column = 0; column < c.columns; ++column) {
          const int32_t k = delays[size_t(row * c.columns + column)] - step;
          const float wanted = k >= 255 ? 0.0f : k < 0 ? 255.0f : float(255 - k);
          const float x = (column + 0.5f) * 400 / c.columns, y = (row + 0.5f) * 300 / c.rows;
          EXPECT_FLOAT_EQ(AlphaAt(triangles, x, y).value_or(0), wanted)
              << "t " << t << " cell " << column << "," << row;
        }
    }
  }
}

TEST(FilterGeometry, AMosaicWithoutSpreadIsAPlainFadeOver256Steps) {
  TEffectParams params;
  params.mosaicDX = 6;
  params.mosaicDY = 4;
  params.mosaicSC = 0;
  TOwned<TDrawFilter> filter = Filter(1, 1, 0, params);
  auto& mosaic = static_cast<TRandomFilter&>(*filter);
  EXPECT_EQ(mosaic.Delays(), std::vector<int32_t>(24, 0));
  const struct {
    float t;
    int32_t alpha; // -1: not drawn
  } cases[] = {{0, -1}, {0.5f, 127}, {0.75f, 191}, {1, 255}};
  for (const auto& c : cases) {
    mosaic.SetPosition(c.t * 1000);
    EXPECT_EQ(mosaic.CellAlpha(0), c.alpha) << c.t;
  }
}

TEST(FilterGeometry, TheSlideAndThePushMoveThePictureInFromTheirSide) {
  const struct {
    int effectClass, kind;
    float t;
    TFloatPoint offset; // of the picture
    TFloatPoint push;   // of the other picture
  } cases[] = {
      {13, 1, 0.25f, {-300, 0}, {0, 0}},   {13, 2, 0.25f, {300, 0}, {0, 0}},
      {13, 3, 0.25f, {0, -225}, {0, 0}},   {13, 4, 0.5f, {0, 150}, {0, 0}},
      {12, 1, 0.25f, {-300, 0}, {100, 0}}, {12, 2, 0.75f, {100, 0}, {-300, 0}},
      {12, 3, 0.5f, {0, -150}, {0, 150}},  {12, 4, 0.25f, {0, 225}, {0, -75}},
  };
  for (const auto& c : cases) {
    TOwned<TDrawFilter> filter = Filter(c.effectClass, c.kind, 0);
    filter->SetPosition(c.t * 1000);
    TRecordingController controller(kFrame);
    filter->DrawWith(controller);
    const TRecordingTile& tile = controller.Tile(0, 0);
    ASSERT_EQ(tile.textured.size(), 2u);
    for (const auto& triangle : tile.textured)
      for (int i = 0; i < 3; ++i) {
        EXPECT_FLOAT_EQ(triangle.positions[size_t(i)].x, triangle.texture[size_t(i)].x + c.offset.x);
        EXPECT_FLOAT_EQ(triangle.positions[size_t(i)].y, triangle.texture[size_t(i)].y + c.offset.y);
        EXPECT_FLOAT_EQ(triangle.texture[size_t(i)].brightness, 255);
      }
    const TFloatPoint push = filter->PushOffset();
    EXPECT_FLOAT_EQ(push.x, c.push.x) << c.effectClass << "/" << c.kind;
    EXPECT_FLOAT_EQ(push.y, c.push.y) << c.effectClass << "/" << c.kind;
  }
  // Entirely outside: nothing for the cell.
  TOwned<TDrawFilter> start = Filter(13, 1, 0);
  TRecordingController controller(kFrame);
  start->DrawWith(controller);
  EXPECT_TRUE(controller.Tile(0, 0).textured.empty());
}

double Area(const TPolygon& polygon) {
  double twice = 0;
  for (size_t i = 0; i < polygon.size(); ++i) {
    const TValuePoint& a = polygon[i];
    const TValuePoint& b = polygon[(i + 1) % polygon.size()];
    twice += double(a.x) * b.y - double(b.x) * a.y;
  }
  return std::abs(twice) / 2;
}

TEST(PolygonSlicing, ConvexPolygonsAreCutIntoCellsWithTheirValuesInterpolated) {
  // A diamond reaching out of a 2 x 2 grid of 10-pixel cells; the value is the x coordinate.
  const T2DSeparator grid({0, 10, 20}, {0, 10, 20});
  const TPolygon diamond{{10, -4, 10}, {24, 10, 24}, {10, 24, 10}, {-4, 10, -4}};
  const std::vector<TPolygon> cells = grid.Cut(diamond);
  ASSERT_EQ(cells.size(), 4u);
  double area = 0;
  for (const TPolygon& cell : cells) {
    ASSERT_GE(cell.size(), 3u);
    area += Area(cell);
    for (const TValuePoint& p : cell) {
      EXPECT_NEAR(p.z, p.x, 1e-4) << "the value follows the edges";
      EXPECT_TRUE(p.x >= 0 && p.x <= 20 && p.y >= 0 && p.y <= 20) << p.x << "," << p.y;
    }
  }
  // The diamond's area (392) less its four tips outside the grid (each 8 wide and 4 high).
  EXPECT_NEAR(area, 392 - 4 * 16, 1e-3);
  // A point exactly on a boundary belongs to the cells on both sides.
  const TPolygon onLine{{10, 2, 0}, {14, 2, 0}, {14, 6, 0}, {10, 6, 0}};
  const std::vector<TPolygon> touching = grid.Cut(onLine);
  EXPECT_TRUE(touching[0].empty()); // nothing of it lies left of the line
  EXPECT_NEAR(Area(touching[1]), 16, 1e-4);
  EXPECT_TRUE(grid.Cut({{30, 30, 0}, {40, 30, 0}, {40, 40, 0}}) == std::vector<TPolygon>(4));
}

TEST(PolygonSlicing, TheMultiTileFansCellPolygonsIntoTheirTiles) {
  TRecordingController controller({0, 200, 400}, {0, 300});
  TMultiTile tile(controller);
  tile.BeginTiles(true, false);
  const TAlphaPoint square[4] = {{100, 100, 0}, {300, 100, 200}, {300, 200, 200}, {100, 200, 0}};
  tile.AddAlphaPolygon(square);
  tile.EndTiles();
  for (int column = 0; column < 2; ++column) {
    const TRecordingTile& cell = controller.Tile(column, 0);
    EXPECT_EQ(cell.batches, 1);
    EXPECT_FALSE(cell.open);
    EXPECT_EQ(cell.alpha.size(), 2u) << column; // each half a quadrilateral
  }
  const auto all = controller.AllAlpha();
  EXPECT_NEAR(AlphaAt(all, 150, 150).value_or(-1), 50, 1e-3);
  EXPECT_NEAR(AlphaAt(all, 250, 150).value_or(-1), 150, 1e-3);
}

TEST(PolygonSlicing, ContractViolations) {
  const TAssertionSink old = SetAssertionSink([](const std::string&) {});
  TRecordingController controller(kFrame);
  EXPECT_THROW(controller.GetTile(1, 0), EAssertion);
  EXPECT_THROW(controller.GetTile(0, -1), EAssertion);
  TMultiTile tile(controller);
  try {
    tile.AddColourTriangle({}, {});
    ADD_FAILURE() << "a colour triangle on the multi tile";
  } catch (const EAssertion& e) {
    EXPECT_NE(std::string(e.what()).find("Not Supported Yet"), std::string::npos) << e.what();
  }
  EXPECT_THROW(tile.AddTexturedTriangle({}, {}), EAssertion);
  EXPECT_THROW(tile.AddTexturedTriangle3D({}, {}), EAssertion);
  SetAssertionSink(old);
}

} // namespace
} // namespace kiv

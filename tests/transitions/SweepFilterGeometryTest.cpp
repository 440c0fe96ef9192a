// What the clock and the broom draw: the alpha their polygons give points of the frame at a few positions,
// against values worked out here from the hand's or the arm's angle, the soft edge's curve and the pivot
// of each broom direction; the reversed sweeps; the soft edge's width.

#include "RecordingTiles.h"

#include "BroomEffect.h"
#include "ClockEffect.h"
#include "FilterFactory.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <optional>
#include <string>

namespace kiv {
namespace {

using namespace kiv::test;

constexpr double kPi = std::numbers::pi;

TOwned<TDrawFilter> Filter(const TRect& frame, int effectClass, int kind, float smoothLine,
                           float broomOffset = 0) {
  TEffectParams params;
  params.smoothLine = smoothLine;
  params.broomOffset = broomOffset;
  TOwned<TDrawFilter> filter = CreateFilter(frame, effectClass, kind, nullptr, params, 1000);
  filter->updateRect = frame;
  return filter;
}

std::vector<TRecordedTriangle> DrawAt(TDrawFilter& filter, double position, const TRect& frame) {
  TRecordingController controller(frame);
  filter.SetPosition(position);
  filter.DrawWith(controller);
  return controller.AllAlpha();
}

// The edge curve's value half way across a soft edge: index 127 of i*i shr 7.
constexpr float kEdgeMiddle = 126;

TEST(SweepGeometry, TheClockShowsWhatTheHandHasSweptWithSoftEdges) {
  // Frame 400 x 300 with its centre at (200, 150); smooth line 0.1: edges 40 pixels wide. Points on the
  // hand's line lie half way across its soft edge; the start ray points straight up from the centre.
  const TRect frame{0, 0, 400, 300};
  const struct {
    int kind;
    double t;
    float x, y;
    std::optional<float> alpha; // none: nothing of the picture there
  } cases[] = {
      // A quarter turn: the hand points right; the top-right quarter is swept.
      {1, 0.25, 300, 150, kEdgeMiddle},
      {1, 0.25, 300, 100, 255},
      {1, 0.25, 390, 10, 255},
      {1, 0.25, 200, 50, kEdgeMiddle}, // on the start ray, far from the hand
      {1, 0.25, 100, 100, std::nullopt},
      {1, 0.25, 300, 200, std::nullopt},
      // Three quarters: the hand points left; only the top-left quarter is left.
      {1, 0.75, 100, 150, kEdgeMiddle},
      {1, 0.75, 100, 250, 255},
      {1, 0.75, 300, 50, 255},
      {1, 0.75, 300, 280, 255},
      {1, 0.75, 100, 50, std::nullopt},
      {1, 0.75, 200, 50, kEdgeMiddle},
      // Kind 2 turns anticlockwise: the mirror image.
      {2, 0.25, 100, 150, kEdgeMiddle},
      {2, 0.25, 100, 100, 255},
      {2, 0.25, 300, 100, std::nullopt},
      {2, 0.75, 300, 50, std::nullopt},
      {2, 0.75, 100, 50, 255},
  };
  for (const auto& c : cases) {
    TOwned<TDrawFilter> filter = Filter(frame, 3, c.kind, 0.1f);
    const auto triangles = DrawAt(*filter, c.t * 1000, frame);
    const std::optional<float> got = AlphaAt(triangles, c.x, c.y);
    const std::string where = "kind " + std::to_string(c.kind) + " at " + std::to_string(c.t) + ", (" +
                              std::to_string(c.x) + ", " + std::to_string(c.y) + ")";
    if (!c.alpha) {
      EXPECT_TRUE(!got || *got < 0.5f) << where << ": " << *got;
    } else {
      ASSERT_TRUE(got) << where;
      EXPECT_NEAR(*got, *c.alpha, 0.5f) << where;
    }
  }
}

TEST(SweepGeometry, TheClockDrawsNothingAtTheStartAndTheWholeFrameAtTheEnd) {
  const TRect frame{20, 10, 420, 310};
  for (const int kind : {1, 2}) {
    TOwned<TDrawFilter> filter = Filter(frame, 3, kind, 0.1f);
    EXPECT_TRUE(DrawAt(*filter, 0, frame).empty()) << kind;
    const auto whole = DrawAt(*filter, 1000, frame);
    for (const auto& [x, y] :
         {std::pair{21.0f, 11.0f}, {419.0f, 309.0f}, {220.0f, 160.0f}, {30.0f, 300.0f}}) {
      const auto alpha = AlphaAt(whole, x, y);
      ASSERT_TRUE(alpha) << kind << ": " << x << "," << y;
      EXPECT_FLOAT_EQ(*alpha, 255) << kind;
    }
  }
}

TEST(SweepGeometry, TheClocksSoftEdgeIsAsWideAsTheSmoothLine) {
  // Across the hand at a quarter turn (the hand along y = 150, swept side above): full above the band,
  // nothing below it, half way on the line.
  const TRect frame{0, 0, 400, 300};
  for (const float smoothLine : {0.05f, 0.2f}) {
    const float s = smoothLine * 400;
    TOwned<TDrawFilter> filter = Filter(frame, 3, 1, smoothLine);
    const auto triangles = DrawAt(*filter, 250, frame);
    EXPECT_NEAR(*AlphaAt(triangles, 350, 150 - s / 2 - 1), 255, 0.5f) << s;
    EXPECT_NEAR(AlphaAt(triangles, 350, 150 + s / 2 + 1).value_or(0), 0, 0.5f) << s;
    const float inside = *AlphaAt(triangles, 350, 150 - s / 4);
    EXPECT_GT(inside, kEdgeMiddle + 20) << s;
    EXPECT_LT(inside, 255) << s;
  }
}

// The broom's pivots and angle ranges, for a frame at (10, 20) of 400 x 300, an offset of 70 pixels and
// a smooth width of 40: the soft angle is the angle the smooth width spans at the frame's middle, the range
// runs from the soft edge touching the nearest corner to the arm lying past the farthest one.
struct TBroomCase {
  int direction;
  float pivotX, pivotY;
  double start, end; // the soft angle still to be taken off the start
  bool corner;       // soft angle by the distance to the frame's middle
};
constexpr float kL = 10, kT = 20, kW = 400, kH = 300, kB = 70;
const double kSide = std::atan(2 * kB / kW), kUpright = std::atan(2 * kB / kH);
const double kAcross = std::atan(kB / (kB + kW)), kDown = std::atan(kB / (kB + kH));
const TBroomCase kBrooms[] = {
    {1, kL + kW / 2, kT - kB, kPi / 2 + kSide, 3 * kPi / 2 - kSide, false},
    {2, kL + kW + kB, kT + kH / 2, kPi + kUpright, 2 * kPi - kUpright, false},
    {3, kL + kW / 2, kT + kH + kB, 3 * kPi / 2 + kSide, 5 * kPi / 2 - kSide, false},
    {4, kL - kB, kT + kH / 2, kUpright, kPi - kUpright, false},
    {5, kL + kW + kB, kT - kB, kPi + kDown, 3 * kPi / 2 - kAcross, true},
    {6, kL + kW + kB, kT + kH + kB, 3 * kPi / 2 + kAcross, 2 * kPi - kDown, true},
    {7, kL - kB, kT + kH + kB, kDown, kPi / 2 - kAcross, true},
    {8, kL - kB, kT - kB, kPi / 2 + kAcross, kPi - kDown, true},
};

TEST(SweepGeometry, EachBroomTurnsAboutItsPivotOutsideTheFrame) {
  const TRect frame{10, 20, 410, 320};
  for (const TBroomCase& c : kBrooms) {
    // The factory scales the offset by half the frame's width plus height: 0.2 x 350 = 70.
    TOwned<TDrawFilter> filter = Filter(frame, 11, c.direction, 0.1f, 0.2f);
    auto& broom = static_cast<TBroomEffect&>(*filter);
    EXPECT_NEAR(broom.offset, kB, 1e-3);
    const TBroom& geometry = broom.Broom();
    EXPECT_NEAR(geometry.pivot.x, c.pivotX, 1e-3) << c.direction;
    EXPECT_NEAR(geometry.pivot.y, c.pivotY, 1e-3) << c.direction;
    EXPECT_NEAR(geometry.Radius(), kW + kH + kB, 1e-3);
    const double reach = c.corner          ? std::hypot(kB + kW / 2, kB + kH / 2)
                         : c.direction % 2 ? kB + kH / 2
                                           : kB + kW / 2;
    const double sigma = 2 * std::atan(40 / (2 * reach));
    EXPECT_NEAR(geometry.softAngle, sigma, 1e-6) << c.direction;
    EXPECT_NEAR(geometry.startAngle, c.start - sigma, 1e-6) << c.direction;
    EXPECT_NEAR(geometry.endAngle, c.end, 1e-6) << c.direction;
    // The arm lies just beside the frame at the start (its soft edge touching the nearest corner) and
    // past the frame at the end: every point of the frame lies within the range it sweeps.
    for (const auto& [x, y] : {std::pair{kL + 5, kT + 5},
                               {kL + kW - 5, kT + 5},
                               {kL + 5, kT + kH - 5},
                               {kL + kW - 5, kT + kH - 5},
                               {kL + kW / 2, kT + kH / 2}}) {
      double a = std::atan2(x - c.pivotX, -(y - c.pivotY));
      if (a < 0) a += 2 * kPi;
      if (a < geometry.startAngle) a += 2 * kPi;
      EXPECT_GT(a, geometry.startAngle + geometry.softAngle) << c.direction << ": " << x << "," << y;
      EXPECT_LT(a, geometry.endAngle) << c.direction << ": " << x << "," << y;
    }
  }
}

TEST(SweepGeometry, ABroomRevealsTheFrameFromNothingToAll) {
  const TRect frame{10, 20, 410, 320};
  const std::pair<float, float> points[] = {{kL + 20, kT + 20},
                                            {kL + kW - 20, kT + 20},
                                            {kL + 20, kT + kH - 20},
                                            {kL + kW - 20, kT + kH - 20},
                                            {kL + kW / 2, kT + kH / 2}};
  for (int kind = 1; kind <= 16; ++kind) {
    TOwned<TDrawFilter> filter = Filter(frame, 11, kind, 0.1f, 0.2f);
    EXPECT_EQ(filter->reverse != 0, kind > 8) << kind;
    const auto start = DrawAt(*filter, 0, frame), end = DrawAt(*filter, 1000, frame);
    // Reversed brooms sweep the picture away again.
    const auto& shown = kind > 8 ? start : end;
    const auto& hidden = kind > 8 ? end : start;
    for (const auto& [x, y] : points) {
      EXPECT_NEAR(AlphaAt(hidden, x, y).value_or(0), 0, 0.5f) << kind << ": " << x << "," << y;
      ASSERT_TRUE(AlphaAt(shown, x, y)) << kind << ": " << x << "," << y;
      EXPECT_NEAR(*AlphaAt(shown, x, y), 255, 0.5f) << kind << ": " << x << "," << y;
    }
  }
}

TEST(SweepGeometry, HalfWayTheBroomArmLiesAtTheMiddleOfItsRangeWithItsSoftEdge) {
  // From the left (direction 4): pivot (L - b, T + H/2), range arctan(2b/H) - sigma .. pi - arctan(2b/H).
  const TRect frame{10, 20, 410, 320};
  const float s = 40;
  const double sigma = 2 * std::atan(s / (2 * (kB + kW / 2)));
  const double start = std::atan(2 * kB / kH) - sigma, end = kPi - std::atan(2 * kB / kH);
  const double theta = (start + end) / 2;
  TOwned<TDrawFilter> filter = Filter(frame, 11, 4, 0.1f, 0.2f);
  const auto triangles = DrawAt(*filter, 500, frame);
  auto pointAt = [&](double angle, double distance) {
    return std::pair{float(kL - kB + distance * std::sin(angle)),
                     float(kT + kH / 2 - distance * std::cos(angle))};
  };
  const auto [sx, sy] = pointAt(theta - 0.05, 250);
  EXPECT_NEAR(*AlphaAt(triangles, sx, sy), 255, 0.5f);
  const auto [hx, hy] = pointAt(theta + sigma + 0.05, 250);
  EXPECT_NEAR(AlphaAt(triangles, hx, hy).value_or(0), 0, 0.5f);
  const auto [mx, my] = pointAt(theta + sigma / 2, 250);
  const float middle = *AlphaAt(triangles, mx, my);
  EXPECT_GT(middle, 80);
  EXPECT_LT(middle, 175);

  // Without a smooth line the edge is hard.
  TOwned<TDrawFilter> hard = Filter(frame, 11, 4, 0, 0.2f);
  const double hardTheta = (std::atan(2 * kB / kH) + end) / 2;
  const auto hardTriangles = DrawAt(*hard, 500, frame);
  const auto [ax, ay] = pointAt(hardTheta - 0.01, 250);
  const auto [bx, by] = pointAt(hardTheta + 0.01, 250);
  EXPECT_NEAR(*AlphaAt(hardTriangles, ax, ay), 255, 0.5f);
  EXPECT_NEAR(AlphaAt(hardTriangles, bx, by).value_or(0), 0, 0.5f);
}

} // namespace
} // namespace kiv

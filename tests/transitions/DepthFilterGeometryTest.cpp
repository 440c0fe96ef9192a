// What the roll, the flip and the swap draw: every vertex they hand the tiles, in depth, against the place
// worked out here from the roll's radius and line, the flip's angle and the swap's way; the fine step of
// the roll's strips, its reversed and diagonal forms, its back colour, and a depth roll without curving.

#include "RecordingTiles.h"

#include "EffectCurves.h"
#include "FilterFactory.h"
#include "OverturnEffect.h"
#include "RollEffect.h"
#include "TwoSlidesEffect.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <set>
#include <string>

namespace kiv {
namespace {

using namespace kiv::test;

constexpr double kPi = std::numbers::pi;
const TRect kFrame{0, 0, 400, 300};

TOwned<TDrawFilter> Filter(int effectClass, int kind, const TEffectParams& params) {
  TOwned<TDrawFilter> filter = CreateFilter(kFrame, effectClass, kind, nullptr, params, 1000);
  filter->updateRect = kFrame;
  return filter;
}

// Every triangle the filter hands the single cell at a position.
std::vector<TRecordedDepthTriangle> DrawAt(TDrawFilter& filter, double position,
                                           TRecordingController& controller) {
  filter.SetPosition(position);
  filter.DrawWith(controller);
  return controller.Tile(0, 0).depth;
}

TEffectParams RollOptions(float diameterPixels, bool in3D = false, float curving = 0.125f) {
  TEffectParams p;
  p.rollDiameter = diameterPixels / 400; // the factory scales by the frame width
  p.rollVariants = false;
  p.roll3D = in3D;
  p.rollCurving = curving;
  return p;
}

TEST(DepthGeometry, TheRollsRadiusIsTheDiameterValueAndItsFineStepFollowsIt) {
  const struct {
    float diameter;
    double radius;
    int step;
  } cases[] = {{150, 150, 8}, {100, 100, 8}, {60, 60, 6}, {20, 20, 3}, {0, 2, 3}, {1, 2, 3}};
  for (const auto& c : cases) {
    TOwned<TDrawFilter> filter = Filter(14, 1, RollOptions(c.diameter));
    TRecordingController controller(kFrame);
    DrawAt(*filter, 500, controller);
    const TRoller3* roller = static_cast<TRollEffect2&>(*filter).Roller();
    ASSERT_TRUE(roller);
    EXPECT_DOUBLE_EQ(roller->radius, c.radius) << c.diameter;
    EXPECT_EQ(roller->fineStep, c.step) << c.diameter;
    EXPECT_DOUBLE_EQ(roller->maxWrap, kPi);
  }
}

// Where a point of the slide lies on a flat roll from the left with its line at L and radius r.
T3DPoint FlatRoll(float x, float y, double line, double r, double maxWrap) {
  const double u = x - line;
  if (u <= 0) return {x, y, 0};
  const double phi = std::min(u / r, maxWrap);
  return {float(line + r * std::sin(phi) + std::cos(phi) * (u - phi * r)), y, 0};
}

TEST(DepthGeometry, AFlatRollCurlsThePartAheadOfItsLineAboutACylinder) {
  const double r = 60;
  for (const double t : {0.25, 0.75}) {
    TOwned<TDrawFilter> filter = Filter(14, 1, RollOptions(float(r)));
    TRecordingController controller(kFrame);
    const auto triangles = DrawAt(*filter, t * 1000, controller);
    // From r behind the left edge to the right edge.
    const double line = -r + (400 + r) * t;
    ASSERT_FALSE(triangles.empty());
    int back = 0;
    for (const auto& tri : triangles) {
      EXPECT_TRUE(tri.textured);
      for (size_t k = 0; k < 3; ++k) {
        const TTexturePoint& p = tri.texture[k];
        const T3DPoint want = FlatRoll(p.x, p.y, line, r, kPi);
        EXPECT_NEAR(tri.positions[k].x, want.x, 0.05) << t << ": " << p.x;
        EXPECT_NEAR(tri.positions[k].y, want.y, 0.05);
        EXPECT_FLOAT_EQ(tri.positions[k].z, 0);
        const double phi = std::clamp((p.x - line) / r, 0.0, kPi);
        EXPECT_NEAR(p.brightness, 50 + std::abs(std::cos(phi)) * 205, 0.5) << t << ": " << p.x;
      }
      // The back of the curl (beyond a quarter turn) comes in a later batch, over the front.
      const float from = std::min({tri.texture[0].x, tri.texture[1].x, tri.texture[2].x});
      if (from >= line + r * kPi / 2 - 0.01) {
        EXPECT_EQ(tri.batch, 2) << from;
        ++back;
      } else {
        EXPECT_EQ(tri.batch, 1) << from;
      }
    }
    EXPECT_GT(back, 0) << t;
    // Fine strips from 50 pixels behind the line to the end of the wrap, 50-pixel ones elsewhere.
    std::set<float> borders;
    for (const auto& tri : triangles)
      for (const auto& p : tri.texture)
        borders.insert(p.x);
    for (auto it = borders.begin(); std::next(it) != borders.end(); ++it) {
      const float gap = *std::next(it) - *it;
      if (*it > line - 50 && *it < line + r * kPi) {
        EXPECT_LE(gap, 6.01f) << *it;
      }
      EXPECT_LE(gap, 50.01f) << *it;
    }
  }
}

TEST(DepthGeometry, RollKindsMoveTheirLineFromTheStartEdgeOrBackFromTheEndOne) {
  const double r = 40;
  const struct {
    int effectClass, kind;
    float dx, dy;
    bool reversed;
  } cases[] = {
      {14, 1, 1, 0, false},
      {14, 2, 0, 1, false},
      {14, 3, -1, 0, false},
      {14, 4, 0, -1, false},
      {14, 5, -1, 0, true},
      {14, 7, 1, 0, true},
      {15, 1, 0.70710677f, 0.70710677f, false},
      {15, 2, -0.70710677f, 0.70710677f, false},
      {15, 6, 0.70710677f, -0.70710677f, true},
  };
  for (const auto& c : cases) {
    const std::string what = std::to_string(c.effectClass) + "/" + std::to_string(c.kind);
    TOwned<TDrawFilter> filter = Filter(c.effectClass, c.kind, RollOptions(float(r)));
    EXPECT_EQ(filter->reverse != 0, c.reversed) << what;
    EXPECT_TRUE(filter->edgeExtension) << what;
    auto along = [&](float x, float y) { return x * c.dx + y * c.dy; };
    double first = 1e9, last = -1e9;
    for (const auto& [x, y] : {std::pair{0.0f, 0.0f}, {400.0f, 0.0f}, {0.0f, 300.0f}, {400.0f, 300.0f}}) {
      first = std::min<double>(first, along(x, y));
      last = std::max<double>(last, along(x, y));
    }
    // Flat at the end (or, reversed, at the start): every vertex where it lies on the slide.
    TRecordingController flatController(kFrame);
    for (const auto& tri : DrawAt(*filter, c.reversed ? 0 : 1000, flatController))
      for (size_t k = 0; k < 3; ++k) {
        EXPECT_NEAR(tri.positions[k].x, tri.texture[k].x, 0.01) << what;
        EXPECT_NEAR(tri.positions[k].y, tri.texture[k].y, 0.01) << what;
      }
    // Rolled up at the other end: everything lies at or behind the start edge.
    TRecordingController rolledController(kFrame);
    const auto rolled = DrawAt(*filter, c.reversed ? 1000 : 0, rolledController);
    for (const auto& tri : rolled)
      for (size_t k = 0; k < 3; ++k)
        EXPECT_LE(along(tri.positions[k].x, tri.positions[k].y), first + 0.01) << what;
    // Half way the line lies half way from r behind the start edge to the end edge; points move only
    // along the direction.
    const double line = (first - r + last) / 2;
    TRecordingController halfController(kFrame);
    for (const auto& tri : DrawAt(*filter, 500, halfController))
      for (size_t k = 0; k < 3; ++k) {
        const TTexturePoint& p = tri.texture[k];
        const T3DPoint& q = tri.positions[k];
        EXPECT_NEAR((q.x - p.x) * -c.dy + (q.y - p.y) * c.dx, 0, 0.02) << what;
        const double u = along(p.x, p.y) - line;
        const double phi = std::min(std::max(u, 0.0) / r, kPi);
        const double wanted =
            u <= 0 ? along(p.x, p.y) : line + r * std::sin(phi) + std::cos(phi) * (u - phi * r);
        EXPECT_NEAR(along(q.x, q.y), wanted, 0.05) << what << " at " << p.x << "," << p.y;
      }
  }
}

TEST(DepthGeometry, ADepthRollLiftsItsCurlTowardsTheEye) {
  const double r = 60, curving = 0.5;
  // Past the start edge: depth -(1 - cos phi) r curving, the line starting pi/2 r behind the edge.
  {
    TOwned<TDrawFilter> filter = Filter(14, 1, RollOptions(float(r), true, float(curving)));
    TRecordingController controller(kFrame);
    const double line = -kPi / 2 * r + (400 + kPi / 2 * r) * 0.5;
    for (const auto& tri : DrawAt(*filter, 500, controller))
      for (size_t k = 0; k < 3; ++k) {
        const double u = tri.texture[k].x - line;
        const double phi = std::min(std::max(u, 0.0) / r, kPi);
        EXPECT_NEAR(tri.positions[k].z, -(1 - std::cos(phi)) * r * curving, 0.05) << tri.texture[k].x;
        EXPECT_LE(tri.positions[k].z, 0);
      }
  }
  // Still behind the start edge (e = 0.3 r): the page wraps about the edge and turns up by e/r more.
  {
    TOwned<TDrawFilter> filter = Filter(14, 1, RollOptions(float(r), true, float(curving)));
    const double start = -kPi / 2 * r, end = 400;
    const double line = -0.3 * r;
    const double t = (line - start) / (end - start);
    TRecordingController controller(kFrame);
    for (const auto& tri : DrawAt(*filter, t * 1000, controller))
      for (size_t k = 0; k < 3; ++k) {
        const double u = tri.texture[k].x;
        const double phi = std::min(u / r, kPi);
        const double a = r * std::sin(phi) + std::cos(phi) * (u - phi * r);
        const double z = -(1 - std::cos(phi)) * r; // unscaled
        const double rho = std::hypot(a, z), alpha = std::atan2(-z, a) + 0.3;
        EXPECT_NEAR(tri.positions[k].x, rho * std::cos(alpha), 0.1) << u;
        EXPECT_NEAR(tri.positions[k].z, -rho * std::sin(alpha) * curving, 0.1) << u;
      }
  }
}

TEST(DepthGeometry, ADepthRollWithoutCurvingIsTheFlatRoll) {
  for (const double t : {0.1, 0.5}) {
    TOwned<TDrawFilter> flat = Filter(14, 2, RollOptions(50));
    TOwned<TDrawFilter> uncurved = Filter(14, 2, RollOptions(50, true, 0));
    TRecordingController a(kFrame), b(kFrame);
    const auto want = DrawAt(*flat, t * 1000, a);
    const auto got = DrawAt(*uncurved, t * 1000, b);
    ASSERT_EQ(got.size(), want.size()) << t;
    for (size_t i = 0; i < got.size(); ++i)
      for (size_t k = 0; k < 3; ++k) {
        EXPECT_TRUE(std::isfinite(got[i].positions[k].x) && std::isfinite(got[i].positions[k].z));
        EXPECT_FLOAT_EQ(got[i].positions[k].y, want[i].positions[k].y);
        EXPECT_FLOAT_EQ(got[i].positions[k].z, 0);
      }
  }
}

TEST(DepthGeometry, TheBackOfTheCurlTakesTheBackColourShadedByItsBrightness) {
  TEffectParams options = RollOptions(80);
  options.rollUseBackColor = true;
  options.rollBackColor = {200, 100, 50}; // blue, green, red
  TOwned<TDrawFilter> filter = Filter(14, 1, options);
  TRecordingController controller(kFrame);
  const auto triangles = DrawAt(*filter, 500, controller);
  int coloured = 0;
  for (const auto& tri : triangles) {
    if (tri.textured) continue;
    ++coloured;
    EXPECT_EQ(tri.batch, 2);
    for (size_t k = 0; k < 3; ++k) {
      // The brightness of the place on the slide, from the position's wrap angle.
      const uint32_t c = tri.colors[k];
      EXPECT_EQ(c >> 24, 255u);
      const uint32_t red = (c >> 16) & 255, green = (c >> 8) & 255, blue = c & 255;
      EXPECT_LE(blue, 200u * 255 / 256);
      EXPECT_GE(blue, 200u * 50 / 256);
      // One brightness for all three channels.
      const double v = blue * 256.0 / 200;
      EXPECT_NEAR(green, 100 * v / 256, 1.5);
      EXPECT_NEAR(red, 50 * v / 256, 1.5);
    }
  }
  EXPECT_GT(coloured, 0);
}

TEST(DepthGeometry, TheFlipTurnsTheCardAboutItsAxisOverBlack) {
  const float w = 400, h = 300;
  const struct {
    int kind;
    bool centre, smooth;
    double t;
  } cases[] = {
      {1, false, false, 0.25}, {2, false, false, 0.25}, {1, false, false, 0.75}, {1, true, false, 0.25},
      {3, false, false, 0.25}, {4, true, false, 0.75},  {1, false, true, 0.25},  {2, false, false, 0.5},
  };
  for (const auto& c : cases) {
    TEffectParams options;
    options.flipCenter = c.centre;
    options.flipSmooth = c.smooth;
    options.flipCurving = 0.5f;
    TOwned<TDrawFilter> filter = Filter(16, c.kind, options);
    EXPECT_EQ(filter->Kind(), TFilterKind::Overturn);
    TRecordingController controller(kFrame);
    const auto triangles = DrawAt(*filter, c.t * 1000, controller);
    const std::string what = std::to_string(c.kind) + (c.centre ? " centre" : "") +
                             (c.smooth ? " smooth" : "") + " at " + std::to_string(c.t);
    // Black under the whole cell first.
    const TRecordingTile& tile = controller.Tile(0, 0);
    ASSERT_EQ(tile.flatColours.size(), 2u) << what;
    for (const auto& [points, colors] : tile.flatColours)
      for (const uint32_t colour : colors)
        EXPECT_EQ(colour, 0xFF000000u);
    const double phi = kPi * (c.smooth ? EaseCurve(c.t) : c.t) * (c.kind % 2 ? -1 : 1);
    const double k = std::abs(phi) < kPi / 2 ? 1 : -1;
    const bool vertical = c.kind <= 2;
    const double half = (vertical ? w : h) / 2, centre = half;
    const double nearEdge = centre + k * std::cos(phi) * half, farEdge = centre - k * std::cos(phi) * half;
    const double e = k * std::sin(phi) * half * 0.5;
    const double nearDepth = c.centre ? -e : std::abs(e) - e, farDepth = c.centre ? e : e + std::abs(e);
    const float brightness = float(std::lround(std::abs(std::cos(phi)) * 155 + 100));
    ASSERT_FALSE(triangles.empty()) << what;
    for (const auto& tri : triangles)
      for (size_t i = 0; i < 3; ++i) {
        const TTexturePoint& p = tri.texture[i];
        const T3DPoint& q = tri.positions[i];
        EXPECT_FLOAT_EQ(p.brightness, brightness) << what;
        const float across = vertical ? p.x : p.y;
        const bool nearSide = across > half;
        EXPECT_NEAR(vertical ? q.x : q.y, nearSide ? nearEdge : farEdge, 0.01) << what;
        EXPECT_NEAR(vertical ? q.y : q.x, vertical ? p.y : p.x, 0.01) << what;
        EXPECT_NEAR(q.z, nearSide ? nearDepth : farDepth, 0.01) << what;
      }
  }
}

TEST(DepthGeometry, TheSwapMovesBothSlidesApartAndBackIntoTheScreen) {
  const double w = 400, h = 300, depth = 4, width = 1, maxAngle = 60 * kPi / 180;
  for (const double t : {0.25, 0.75}) {
    for (const int direction : {1, 3}) {
      TEffectParams options;
      options.swapDepth = float(depth);
      options.swapWidth = float(width);
      options.swapMaxAngle = 60;
      TOwned<TDrawFilter> filter = Filter(17, direction, options);
      EXPECT_EQ(filter->Kind(), TFilterKind::TwoSlides);
      const double s = EaseCurve(t);
      // Two draws a frame: before half way the incoming slide first, after it the outgoing one first.
      for (int draw = 0; draw < 2; ++draw) {
        TRecordingController controller(kFrame);
        const auto triangles = DrawAt(*filter, t * 1000, controller);
        EXPECT_EQ(controller.Tile(0, 0).flatColours.size(), draw == 0 ? 2u : 0u) << "black on the first draw";
        const bool outgoing = (draw == 0) == (t >= 0.5);
        const double x = outgoing ? s : 1 - s;
        const double sign = outgoing ? 1 : -1;
        const double m = std::sin(x * kPi) * width, l = std::sin(x * maxAngle);
        ASSERT_EQ(triangles.size(), 2u);
        for (const auto& tri : triangles)
          for (size_t k = 0; k < 3; ++k) {
            const TTexturePoint& p = tri.texture[k];
            const T3DPoint& q = tri.positions[k];
            const std::string what = "t " + std::to_string(t) + " direction " + std::to_string(direction) +
                                     " draw " + std::to_string(draw);
            if (direction == 1) {
              EXPECT_NEAR(q.x, p.x + sign * w * m, 0.05) << what;
              EXPECT_NEAR(q.y, p.y, 0.05) << what;
              const double edge = sign > 0 ? w - p.x : p.x;
              EXPECT_NEAR(q.z, x * h * depth + l * edge, 0.05) << what;
            } else {
              EXPECT_NEAR(q.y, p.y + sign * h * m, 0.05) << what;
              EXPECT_NEAR(q.x, p.x, 0.05) << what;
              const double edge = sign > 0 ? h - p.y : p.y;
              EXPECT_NEAR(q.z, x * h * depth + l * edge, 0.05) << what;
            }
          }
      }
    }
  }
}

TEST(DepthGeometry, TheSwapsTiltIsAtMostTheSineOfItsMaximumAngle) {
  TEffectParams options;
  options.swapMaxAngle = 60;
  TOwned<TDrawFilter> filter = Filter(17, 2, options);
  double steepest = 0;
  for (int step = 0; step <= 40; ++step) {
    TRecordingController controller(kFrame);
    const auto triangles = DrawAt(*filter, step * 25.0, controller);
    for (const auto& tri : triangles) {
      float nearZ = 1e9f, farZ = -1e9f;
      for (const auto& q : tri.positions) {
        nearZ = std::min(nearZ, q.z);
        farZ = std::max(farZ, q.z);
      }
      steepest = std::max<double>(steepest, (farZ - nearZ) / 400);
    }
  }
  EXPECT_LE(steepest, std::sin(60 * kPi / 180) + 1e-4);
  EXPECT_GT(steepest, std::sin(60 * kPi / 180) - 0.01);
}

} // namespace
} // namespace kiv

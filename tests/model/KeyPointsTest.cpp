// Interpolation of key point lists: linear, eased, perspective-corrected, colourisation, ordering.
#include "KeyPoints.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

namespace {

using namespace kiv;

// A list whose anchors are a slide's: begin 1000, effect in 200, end 5000, effect out 500.
class TAnchoredList : public TKeyPointList {
public:
  double GetAnchorTime(uint8_t anchor) const override {
    constexpr double kTimes[] = {1000, 1200, 5000, 5500};
    return kTimes[anchor];
  }
};

TKeyPoint& Add(TKeyPointList& list, double time, TKeyValues values, uint8_t anchor = kAnchorSlideBegin) {
  TKeyPoint& point = list.AddKeyPoint(anchor, time);
  point.SetValues(values);
  return point;
}

TKeyValues WithOpacity(float opacity) {
  TKeyValues v;
  v.opacity = opacity;
  return v;
}

TKeyValues WithPosition(float x, float y = 0, float scale = 100) {
  TKeyValues v;
  v.position = {x, y};
  v.scaleX = v.scaleY = scale;
  return v;
}

TEST(KeyPointList, LinearOpacityAndClampingOutsideTheKeyPoints) {
  TKeyPointList list;
  Add(list, 0, WithOpacity(0));
  Add(list, 1000, WithOpacity(100));
  const struct {
    double time;
    float opacity;
  } cases[] = {{250, 25}, {-5, 0}, {5000, 100}, {0, 0}, {1000, 100}, {999, 99.9f}};
  for (const auto& c : cases) {
    list.Interpolate(c.time);
    EXPECT_FLOAT_EQ(list.Current().opacity, c.opacity) << "at " << c.time;
    EXPECT_EQ(list.CurrentTime(), c.time);
  }
}

TEST(KeyPointList, WithoutKeyPointsOnlyTimeAndActiveChange) {
  TAnchoredList list;
  list.MutableCurrent().opacity = 42;
  list.Interpolate(3000);
  EXPECT_EQ(list.Current().opacity, 42);
  EXPECT_TRUE(list.Active());
  const struct {
    double time;
    bool active;
  } cases[] = {{999, false}, {1000, true}, {5500, true}, {5500.5, false}};
  for (const auto& c : cases) {
    list.Interpolate(c.time);
    EXPECT_EQ(list.Active(), c.active) << c.time;
  }
}

TEST(KeyPointList, KeyPointsSortByAbsoluteTimeOfTheirAnchor) {
  TAnchoredList list;
  Add(list, -100, WithOpacity(30), kAnchorSlideEnd);       // 5400
  Add(list, 0, WithOpacity(10), kAnchorSlideBegin);        // 1000
  Add(list, 0, WithOpacity(20), kAnchorPrevEffectEnd);     // 1200
  Add(list, 100, WithOpacity(40), kAnchorNextEffectBegin); // 5100
  ASSERT_EQ(list.Count(), 4);
  const double expected[] = {1000, 1200, 5100, 5400};
  for (int i = 0; i < 4; ++i)
    EXPECT_EQ(list.KeyPoint(i).AbsoluteTime(), expected[i]);
  // Moving a key point re-sorts.
  list.KeyPoint(0).SetOffset(5000); // 6000
  EXPECT_EQ(list.KeyPoint(3).Values().opacity, 10);
}

TEST(KeyPointList, ScaleIsNeverBelowMinimumAndChangesCountFromTheFourthDecimal) {
  TKeyPointList list;
  TKeyPoint& point = list.AddKeyPoint(kAnchorSlideBegin, 0);
  TKeyValues v;
  v.scaleX = 0;
  v.scaleY = -5;
  point.SetValues(v);
  EXPECT_FLOAT_EQ(point.Values().scaleX, 0.001f);
  EXPECT_FLOAT_EQ(point.Values().scaleY, 0.001f);

  point.ClearChanged();
  v = point.Values();
  v.opacity += 0.00004f;
  point.SetValues(v);
  EXPECT_FALSE(point.Changed());
  v.opacity += 0.0002f;
  point.SetValues(v);
  EXPECT_TRUE(point.Changed());
}

TEST(KeyPointList, ColourisationInterpolation) {
  struct TCase {
    const char* name;
    bool off1, off2;
    float amount1, amount2;
    TIniRGB color1, color2;
    bool off;
    float amount;
    TIniRGB color;
  };
  const TCase cases[] = {
      {"both off", true, true, 0.5f, 0.5f, {0, 0, 0}, {0, 0, 0}, true, 0, {0, 0, 0}},
      {"first off takes the second's colour",
       true,
       false,
       0.9f,
       0.8f,
       {0, 0, 0},
       {10, 20, 30},
       false,
       0.4f,
       {10, 20, 30}},
      {"second off takes the first's colour",
       false,
       true,
       0.6f,
       0,
       {10, 20, 30},
       {200, 200, 200},
       false,
       0.3f,
       {10, 20, 30}},
      // Halves round to even: 127.5 -> 128, 0.5 -> 0, 2.5 -> 2.
      {"channels round to even", false, false, 0.2f, 0.4f, {0, 0, 2}, {255, 1, 3}, false, 0.3f, {128, 0, 2}},
  };
  for (const TCase& c : cases) {
    TKeyPointList list;
    TKeyValues a, b;
    a.colorOff = c.off1;
    a.colorAmount = c.amount1;
    a.color = c.color1;
    b.colorOff = c.off2;
    b.colorAmount = c.amount2;
    b.color = c.color2;
    Add(list, 0, a);
    Add(list, 1000, b);
    list.Interpolate(500);
    EXPECT_EQ(list.Current().colorOff, c.off) << c.name;
    EXPECT_FLOAT_EQ(list.Current().colorAmount, c.amount) << c.name;
    if (!c.off) {
      EXPECT_EQ(list.Current().color, c.color) << c.name;
    }
  }
  // Outside the key points a key point without colourisation gives amount 0.
  TKeyPointList list;
  TKeyValues off;
  off.colorAmount = 0.7f;
  Add(list, 0, off);
  list.Interpolate(10);
  EXPECT_TRUE(list.Current().colorOff);
  EXPECT_EQ(list.Current().colorAmount, 0);
}

TEST(Smoother, TrapezoidalProfile) {
  TSmoother smoother;
  smoother.SetupSmoother(1000, 0.25, 0.75);
  const struct {
    double elapsed;
    double value;
  } cases[] = {{-10, 0},         {0, 0},           {125, 25.0 / 6}, {250, 50.0 / 3}, {500, 50},
               {750, 250.0 / 3}, {875, 575.0 / 6}, {1000, 100},     {2000, 100}};
  for (const auto& c : cases)
    EXPECT_NEAR(smoother.Smooth(0, 100, c.elapsed), c.value, 1e-9) << c.elapsed;
  // The speed is continuous where acceleration ends and deceleration begins.
  for (double at : {250.0, 750.0}) {
    const double h = 1e-3;
    const double left = (smoother.Smooth(0, 100, at) - smoother.Smooth(0, 100, at - h)) / h;
    const double right = (smoother.Smooth(0, 100, at + h) - smoother.Smooth(0, 100, at)) / h;
    EXPECT_NEAR(left, right, 1e-4) << at;
    EXPECT_NEAR(left, 2 * 100.0 / 1500, 1e-4) << at;
  }
  // r1 = 0, r2 = 1 is linear.
  smoother.SetupSmoother(1000, 0, 1);
  for (double s : {0.0, 100.0, 333.0, 999.0})
    EXPECT_NEAR(smoother.Smooth(-50, 150, s), -50 + 200 * s / 1000, 1e-9);
}

TEST(Smoother, ReversedFractionsThatCancelTheSpeedDoNotDivideByZero) {
  TSmoother smoother;
  smoother.SetupSmoother(1000, 1, 0); // e + 2d + q = 0
  for (double s : {0.0, 250.0, 500.0, 999.0, 1000.0}) {
    const double value = smoother.Smooth(0, 100, s);
    EXPECT_TRUE(std::isfinite(value)) << s;
  }
  EXPECT_EQ(smoother.Smooth(0, 100, 1000), 100);
}

TEST(KeyPointList, EasedPanFollowsTheIntervalInSinglePrecision) {
  TKeyPointList list;
  Add(list, 0, WithPosition(0));
  Add(list, 1000, WithPosition(100));
  list.GetPanCurve().AddInterval({0, 1, 0.25, 0.75});
  const struct {
    double time;
    float x;
  } cases[] = {{125, 25.0f / 6}, {500, 50}, {1000, 100}, {0, 0}};
  for (const auto& c : cases) {
    list.Interpolate(c.time);
    EXPECT_FLOAT_EQ(list.Current().position.x, c.x) << c.time;
  }
  // Opacity and the other curves stay linear.
  list.Interpolate(125);
  EXPECT_FLOAT_EQ(list.Current().opacity, 100);
}

TEST(KeyPointList, IntervalWithoutEasingIsPlainLinear) {
  TKeyPointList eased, plain;
  for (TKeyPointList* list : {&eased, &plain}) {
    Add(*list, 0, WithPosition(0));
    Add(*list, 1000, WithPosition(100));
  }
  eased.GetPanCurve().AddInterval({0, 1, 0, 1});
  eased.GetPanCurve().AddInterval({0, 1, 0.004, 0.996}); // rounds to 0 percent: no easing either
  for (double t : {100.0, 125.0, 600.0, 999.0}) {
    eased.Interpolate(t);
    plain.Interpolate(t);
    EXPECT_EQ(eased.Current().position.x, plain.Current().position.x) << t;
  }
}

TEST(KeyPointList, EasedIntervalSkipsInnerKeyPointsForItsPropertiesOnly) {
  TKeyPointList list;
  TKeyValues a = WithPosition(0), b = WithPosition(500), c = WithPosition(100);
  a.opacity = 0;
  b.opacity = 100;
  c.opacity = 0;
  b.angle = 1;
  Add(list, 0, a);
  Add(list, 1000, b);
  Add(list, 2000, c);
  list.GetPanCurve().AddInterval({0, 2, 0.5, 0.5});
  list.Interpolate(1000);
  EXPECT_FLOAT_EQ(list.Current().position.x, 50); // halfway from the first to the third
  EXPECT_FLOAT_EQ(list.Current().opacity, 100);   // the second key point still counts here
  EXPECT_FLOAT_EQ(list.Current().angle, 1);
  list.Interpolate(500);
  EXPECT_FLOAT_EQ(list.Current().position.x, 12.5f);
  EXPECT_FLOAT_EQ(list.Current().opacity, 50);
}

TEST(KeyPointList, EasedRotateAndZoomUseTheirOwnCurves) {
  TKeyPointList list;
  TKeyValues a, b;
  b.angle = 2;
  b.angleX = 4;
  b.scaleX = b.scaleY = 200;
  Add(list, 0, a);
  Add(list, 1000, b);
  list.GetRotateCurve().AddInterval({0, 1, 0.25, 0.75});
  list.Interpolate(125);
  EXPECT_FLOAT_EQ(list.Current().angle, 2 * (25.0f / 6) / 100);
  EXPECT_FLOAT_EQ(list.Current().angleX, 4 * (25.0f / 6) / 100);
  EXPECT_FLOAT_EQ(list.Current().scaleX, 112.5f); // zoom curve has no interval: linear
  list.GetZoomCurve().AddInterval({0, 1, 0.25, 0.75});
  list.Interpolate(125);
  EXPECT_FLOAT_EQ(list.Current().scaleY, 100 + 25.0f / 6);
}

TEST(KeyPointList, IntervalsWithIndicesOutsideTheKeyPointsOrBackwardsAreIgnored) {
  const TInterval bad[] = {{0, 5, 0.25, 0.75}, {-1, 1, 0.25, 0.75}, {1, 0, 0.25, 0.75}};
  for (const TInterval& interval : bad) {
    TKeyPointList list;
    Add(list, 0, WithPosition(0));
    Add(list, 1000, WithPosition(100));
    list.GetPanCurve().AddInterval(interval);
    list.Interpolate(125);
    EXPECT_FLOAT_EQ(list.Current().position.x, 12.5f) << interval.first << "->" << interval.last;
  }
}

TEST(KeyPointList, PerspectiveCorrectedLinearFraction) {
  TKeyPointList list;
  Add(list, 0, WithPosition(0, 0, 100));
  Add(list, 1000, WithPosition(300, 0, 200));
  list.SetPerspectiveCorrection(true);
  list.Interpolate(500);
  EXPECT_FLOAT_EQ(list.Current().position.x, 100); // fraction 1/3
  EXPECT_FLOAT_EQ(list.Current().scaleX, 100 + 100.0f / 3);
  EXPECT_FLOAT_EQ(list.Current().opacity, 100);
  list.SetPerspectiveCorrection(false);
  list.Interpolate(500);
  EXPECT_FLOAT_EQ(list.Current().position.x, 150);
}

TEST(KeyPointList, PerspectiveCorrectedEasedTime) {
  TKeyPointList list;
  Add(list, 0, WithPosition(0, 0, 100));
  Add(list, 1000, WithPosition(100, 0, 200));
  list.GetPanCurve().AddInterval({0, 1, 0.25, 0.75});
  list.SetPerspectiveCorrection(true);
  // At 500 the corrected elapsed time is 1000 / 3.
  TSmoother reference;
  reference.SetupSmoother(1000, 0.25, 0.75);
  list.Interpolate(500);
  EXPECT_FLOAT_EQ(list.Current().position.x, static_cast<float>(reference.Smooth(0, 100, 1000.0 / 3)));
}

TEST(KeyPointList, AddedKeyPointKeepsIntervalsOnTheirKeyPoints) {
  TKeyPointList list;
  Add(list, 0, WithPosition(0));
  Add(list, 2000, WithPosition(100));
  list.GetPanCurve().AddInterval({0, 1, 0.25, 0.75});
  Add(list, 1000.4, WithPosition(900)); // between the two
  EXPECT_EQ(list.GetPanCurve().Intervals()[0], (TInterval{0, 2, 0.25, 0.75}));
  EXPECT_EQ(list.GetPanCurve().KeyTimes(), (std::vector<int32_t>{0, 1000, 2000}));
  list.Interpolate(1000);
  EXPECT_FLOAT_EQ(list.Current().position.x, 50);
  // A curve created now has one key time per key point and no intervals.
  EXPECT_EQ(list.GetZoomCurve().KeyTimes(), (std::vector<int32_t>{0, 1000, 2000}));
  EXPECT_TRUE(list.GetZoomCurve().Intervals().empty());
}

TEST(KeyPointList, ClearDropsKeyPointsAndCurves) {
  TKeyPointList list;
  Add(list, 0, WithPosition(0));
  list.GetPanCurve().AddInterval({0, 0, 0.5, 0.5});
  list.Clear();
  EXPECT_EQ(list.Count(), 0);
  EXPECT_EQ(list.PanCurve(), nullptr);
}

} // namespace

// From an effect class and kind to a filter: the table of families, their reverse flags, centres and
// directions, the cases that get no filter or the cross-fade, and the options scaled to the frame.

#include "FilterFactory.h"
#include "BroomEffect.h"
#include "ClockEffect.h"
#include "CrossFadeFilter.h"
#include "DistanceFilters.h"
#include "MosaicFilter.h"
#include "OverturnEffect.h"
#include "RollEffect.h"
#include "SlidingFilters.h"
#include "TwoSlidesEffect.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>

namespace kiv {
namespace {

const TRect kFrame{0, 0, 400, 300};

template <class T> bool Is(const TDrawFilter* filter) {
  return dynamic_cast<const T*>(filter) != nullptr;
}

TEST(FilterFactory, EveryClassAndKindMakesItsFamily) {
  using TStart = TDiagLines::TStart;
  const auto diag = [](TStart start, bool mirrored) {
    return [start, mirrored](const TDrawFilter* f) {
      auto* d = dynamic_cast<const TDiagLines*>(f);
      return d && d->start == start && d->mirrored == mirrored;
    };
  };
  const auto centred = [](auto isFamily, float x, float y) {
    return [isFamily, x, y](const TDrawFilter* f) {
      auto* c = dynamic_cast<const TCommonFilter*>(f);
      return isFamily(f) && c && std::abs(c->Center().x - x) < 1e-3f && std::abs(c->Center().y - y) < 1e-3f;
    };
  };
  const auto sliding = [](bool push, int direction) {
    return [push, direction](const TDrawFilter* f) {
      auto* s = dynamic_cast<const TSlideFilter*>(f);
      return s && Is<TPushFilter>(f) == push && s->direction == direction;
    };
  };
  const auto clock = [](bool anticlockwise) {
    return [anticlockwise](const TDrawFilter* f) {
      auto* c = dynamic_cast<const TClockEffect*>(f);
      return c && c->anticlockwise == anticlockwise;
    };
  };
  const auto broom = [](int direction) {
    return [direction](const TDrawFilter* f) {
      auto* b = dynamic_cast<const TBroomEffect*>(f);
      return b && b->direction == direction;
    };
  };
  const auto roll = [](int rollClass, float dx, float dy) {
    return [rollClass, dx, dy](const TDrawFilter* f) {
      auto* r = dynamic_cast<const TRollEffect2*>(f);
      const TFloatPoint d = r ? TRollEffect2::Direction(r->rollClass, r->rollKind) : TFloatPoint{};
      return r && r->rollClass == rollClass && d.x == dx && d.y == dy;
    };
  };
  const auto flip = [](int variant) {
    return [variant](const TDrawFilter* f) {
      auto* o = dynamic_cast<const TOverturnEffect*>(f);
      return o && o->variant == variant;
    };
  };
  const auto swap = [](int direction) {
    return [direction](const TDrawFilter* f) {
      auto* t = dynamic_cast<const TTwoSlidesEffect*>(f);
      return t && t->direction == direction;
    };
  };
  const struct {
    int effectClass, kind;
    std::function<bool(const TDrawFilter*)> family;
    bool reverse;
    bool edgeExtension;
  } cases[] = {
      {1, 5, Is<TRandomFilter>, false, false},
      {2, 3, Is<TAlphaFilter>, false, false},
      {4, 1, centred(Is<TCircleFilter>, 120, 210), true, false}, // centre from the options: 30 %, 70 %
      {4, 2, Is<TCircleFilter>, false, false},
      {5, 1, centred(Is<TRhombFilter>, 200, 150), true, false},
      {5, 2, Is<TRhombFilter>, false, false},
      {6, 1, centred(Is<TSquareFilter>, 200, 150), true, false},
      {6, 3, Is<TSquareFilter>, false, false},
      {7, 1, centred(Is<THLines>, 200, 150), true, false},
      {7, 2, Is<THLines>, false, false},
      {7, 3, centred(Is<TVLines>, 200, 150), true, false},
      {7, 4, Is<TVLines>, false, false},
      {7, 5, Is<TAlphaFilter>, false, false},
      {8, 1, diag(TStart::Middle, false), true, false},
      {8, 2, diag(TStart::Middle, false), false, false},
      {8, 3, diag(TStart::Middle, true), true, false},
      {8, 4, diag(TStart::Middle, true), false, false},
      {9, 1, centred(Is<THLines>, 0, 0), false, false},
      {9, 2, centred(Is<THLines>, 400, 0), false, false},
      {9, 3, centred(Is<TVLines>, 0, 0), false, false},
      {9, 4, centred(Is<TVLines>, 0, 300), false, false},
      {9, 7, Is<TAlphaFilter>, false, false},
      {10, 1, diag(TStart::Corner, false), false, false},
      {10, 2, diag(TStart::FarCorner, false), false, false},
      {10, 3, diag(TStart::Corner, true), false, false},
      {10, 4, diag(TStart::FarCorner, true), false, false},
      {12, 3, sliding(true, 3), false, true},
      {13, 2, sliding(false, 2), false, true},
      {13, 9, sliding(false, 1), false, true}, // a direction from show data outside 1..4
      // The clock's second kind turns the other way without swapping the slides.
      {3, 1, clock(false), false, false},
      {3, 2, clock(true), false, false},
      {11, 2, broom(2), false, false},
      {11, 13, broom(5), true, false}, // kinds above 8 sweep back
      {11, 0, broom(1), false, false}, // a direction from show data outside 1..8
      {14, 1, roll(14, 1, 0), false, true},
      {14, 6, roll(14, 0, -1), true, true},
      {15, 2, roll(15, -0.70710677f, 0.70710677f), false, true},
      {16, 3, flip(3), false, false},
      {16, 0, flip(1), false, false},
      {17, 4, swap(4), false, false},
      {17, 5, swap(1), false, false},
      {18, 0, Is<TAlphaFilter>, false, false}, // custom without a hook
      {19, 1, Is<TAlphaFilter>, false, false},
  };
  TEffectParams params;
  params.centerX = 30;
  params.centerY = 70;
  for (const auto& c : cases) {
    const TOwned<TDrawFilter> filter = CreateFilter(kFrame, c.effectClass, c.kind, nullptr, params, 800);
    ASSERT_TRUE(filter) << c.effectClass << "/" << c.kind;
    EXPECT_TRUE(c.family(filter.get())) << c.effectClass << "/" << c.kind;
    EXPECT_EQ(filter->Reverse(), c.reverse) << c.effectClass << "/" << c.kind;
    EXPECT_EQ(filter->edgeExtension != 0, c.edgeExtension) << c.effectClass << "/" << c.kind;
    EXPECT_EQ(filter->effectClass, c.effectClass);
    EXPECT_EQ(filter->effectKind, c.kind);
    const TFilterKind kind = c.effectClass == 12   ? TFilterKind::Push
                             : c.effectClass == 16 ? TFilterKind::Overturn
                             : c.effectClass == 17 ? TFilterKind::TwoSlides
                                                   : TFilterKind::Plain;
    EXPECT_EQ(filter->Kind(), kind) << c.effectClass << "/" << c.kind;
  }
}

TEST(FilterFactory, NoClassNoFilter) {
  for (int effectClass : {0, -1, -7})
    EXPECT_FALSE(CreateFilter(kFrame, effectClass, 1, nullptr, {}, 500)) << effectClass;
}

TEST(FilterFactory, SetupGetsTheFrameTheWholePixelsOfTheSmoothLineAndTheLength) {
  TEffectParams params;
  params.smoothLine = 0.1234f; // 49.36 pixels of 400
  params.rollDiameter = 0.25f;
  params.broomOffset = 0.5f;
  const TOwned<TDrawFilter> filter = CreateFilter(kFrame, 4, 2, nullptr, params, 640);
  EXPECT_EQ(filter->frameRect, kFrame);
  EXPECT_EQ(filter->smoothWidth, 49);
  EXPECT_EQ(filter->length, 640);
  EXPECT_DOUBLE_EQ(filter->invLength, 1.0 / 640);
  EXPECT_EQ(filter->position, 0);
  EXPECT_FLOAT_EQ(filter->params.rollDiameter, 100);   // x frame width
  EXPECT_FLOAT_EQ(filter->params.broomOffset, 175);    // x (width + height) / 2
  EXPECT_FLOAT_EQ(filter->params.smoothLine, 0.1234f); // the rest is copied as given
  // A negative smooth line from show data gives no soft edge.
  params.smoothLine = -0.5f;
  EXPECT_EQ(CreateFilter(kFrame, 4, 2, nullptr, params, 640)->smoothWidth, 0);
}

TEST(FilterFactory, FiltersThatMoveTheSlideTakeTheirOptionsScaledToTheFrame) {
  TEffectParams params;
  params.rollDiameter = 0.25f;
  params.broomOffset = 0.5f;
  params.rollVariants = true;
  params.rollUseBackColor = true;
  params.rollBackColor = {1, 2, 3};
  params.roll3D = true;
  params.rollCurving = 0.75f;
  params.flipCenter = true;
  params.flipSmooth = false;
  params.flipCurving = 0.25f;
  params.swapDepth = 2;
  params.swapWidth = 0.5f;
  params.swapMaxAngle = 90;
  const TOwned<TDrawFilter> broom = CreateFilter(kFrame, 11, 3, nullptr, params, 500);
  EXPECT_FLOAT_EQ(static_cast<TBroomEffect&>(*broom).offset, 175);
  const TOwned<TDrawFilter> roll = CreateFilter(kFrame, 15, 4, nullptr, params, 500);
  const auto& r = static_cast<TRollEffect2&>(*roll);
  EXPECT_FLOAT_EQ(r.diameter, 100);
  EXPECT_TRUE(r.variants && r.useBackColor && r.in3D);
  EXPECT_EQ(r.backColor, (TBGRColor{1, 2, 3}));
  EXPECT_FLOAT_EQ(r.curving, 0.75f);
  const TOwned<TDrawFilter> flip = CreateFilter(kFrame, 16, 2, nullptr, params, 500);
  const auto& o = static_cast<TOverturnEffect&>(*flip);
  EXPECT_EQ(o.variant, 6); // about the centre: kinds 5 .. 8
  EXPECT_FALSE(o.smooth);
  EXPECT_FLOAT_EQ(o.curving, 0.25f);
  const TOwned<TDrawFilter> swap = CreateFilter(kFrame, 17, 2, nullptr, params, 500);
  const auto& t = static_cast<TTwoSlidesEffect&>(*swap);
  EXPECT_FLOAT_EQ(t.depth, 2);
  EXPECT_FLOAT_EQ(t.width, 0.5f);
  EXPECT_NEAR(t.maxAngle, std::acos(-1.0) / 2, 1e-6); // held in radians
}

TEST(FilterFactory, ThePositionIsClampedToTheLength) {
  const TOwned<TDrawFilter> filter = CreateFilter(kFrame, 2, 1, nullptr, {}, 400);
  const struct {
    double set, position;
  } cases[] = {{100, 100}, {-5, 0}, {500, 400}, {std::nan(""), 0}, {400, 400}};
  for (const auto& c : cases) {
    filter->SetPosition(c.set);
    EXPECT_EQ(filter->Position(), c.position) << c.set;
  }
  filter->SetPosition(100);
  EXPECT_FLOAT_EQ(filter->NormalizedPosition(), 0.25f);
  // A transition of length 0 stays at its start.
  const TOwned<TDrawFilter> none = CreateFilter(kFrame, 2, 1, nullptr, {}, 0);
  EXPECT_EQ(none->invLength, 0);
  none->SetPosition(30);
  EXPECT_EQ(none->NormalizedPosition(), 0);
}

TEST(FilterFactory, CustomTransitionsGoThroughTheHookOrFadeWithoutOne) {
  TEffectParams params;
  params.customDescription = u"fx\\swirl.kiv";
  std::u16string asked;
  TCustomFilterHook hook = [&asked](const TRect&, TDrawItem*, const TEffectParams& p) -> TOwned<TDrawFilter> {
    asked = p.customDescription;
    return MakeOwned<TRhombFilter>(0.5f, 0.5f, false);
  };
  const TOwned<TDrawFilter> custom = CreateFilter(kFrame, 18, 0, nullptr, params, 900, hook);
  EXPECT_TRUE(Is<TRhombFilter>(custom.get()));
  EXPECT_EQ(asked, u"fx\\swirl.kiv");
  EXPECT_EQ(custom->effectClass, 18);
  EXPECT_EQ(custom->length, 900); // set up like any other
  TCustomFilterHook refuses = [](const TRect&, TDrawItem*, const TEffectParams&) {
    return TOwned<TDrawFilter>();
  };
  EXPECT_TRUE(Is<TAlphaFilter>(CreateFilter(kFrame, 18, 0, nullptr, params, 900, refuses).get()));
}

TEST(FilterFactory, InfoLabelsNameTheFamilyTypeAndCustomNumber) {
  const struct {
    int effectClass, type, custom;
    const char* label;
  } cases[] = {
      {0, 0, -1, "none"},       {1, 1, -1, "mosaic"},  {2, 1, -1, "fade"},     {3, 2, -1, "clock/2"},
      {4, 16, -1, "circle/16"}, {5, 1, -1, "rhomb"},   {6, 1, -1, "square"},   {7, 3, -1, "lines/3"},
      {8, 1, -1, "diagonals"},  {9, 2, -1, "wipe/2"},  {10, 1, -1, "corner"},  {11, 9, -1, "broom/9"},
      {12, 3, -1, "push/3"},    {13, 1, -1, "slide"},  {14, 1, -1, "roll"},    {15, 4, -1, "diagroll/4"},
      {16, 1, -1, "flip"},      {17, 2, -1, "swap/2"}, {18, 0, 0, "custom/0"}, {18, 3, 12, "custom/12"},
      {18, 0, -1, "custom"},    {-1, 0, -1, "none"},   {23, 2, -1, "fade/2"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(TransitionLabel(c.effectClass, c.type, c.custom), c.label) << c.effectClass << "/" << c.type;
}

} // namespace
} // namespace kiv

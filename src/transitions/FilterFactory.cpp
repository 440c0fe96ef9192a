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

#include <algorithm>

namespace kiv {

namespace {

// `p` holds the options already scaled to the frame.
TOwned<TDrawFilter> MakeFilter(const TRect& frame, int32_t c, int32_t kind, TDrawItem* first,
                               const TEffectParams& p, const TCustomFilterHook& hook) {
  using TStart = TDiagLines::TStart;
  switch (c) {
  case 1:
    return MakeOwned<TRandomFilter>(p.mosaicDX, p.mosaicDY, p.seed, p.mosaicSC < 100 ? p.mosaicSC : 1000);
  case 3:
    return MakeOwned<TClockEffect>(kind == 2);
  case 4:
    return MakeOwned<TCircleFilter>(p.centerX / 100.0f, p.centerY / 100.0f, kind == 1);
  case 5:
    return MakeOwned<TRhombFilter>(0.5f, 0.5f, kind == 1);
  case 6:
    return MakeOwned<TSquareFilter>(0.5f, 0.5f, kind == 1);
  case 7:
    if (kind == 1 || kind == 2) return MakeOwned<THLines>(0.5f, 0.5f, kind == 1);
    if (kind == 3 || kind == 4) return MakeOwned<TVLines>(0.5f, 0.5f, kind == 3);
    break;
  case 8:
    return MakeOwned<TDiagLines>(TStart::Middle, kind > 2, kind == 1 || kind == 3);
  case 9:
    if (kind == 1) return MakeOwned<THLines>(0.0f, 0.0f, false);
    if (kind == 2) return MakeOwned<THLines>(1.0f, 0.0f, false);
    if (kind == 3) return MakeOwned<TVLines>(0.0f, 0.0f, false);
    if (kind == 4) return MakeOwned<TVLines>(0.0f, 1.0f, false);
    break;
  case 10:
    return MakeOwned<TDiagLines>(kind == 1 || kind == 3 ? TStart::Corner : TStart::FarCorner, kind > 2,
                                 false);
  case 11:
    return MakeOwned<TBroomEffect>(kind, p.broomOffset);
  case 12:
    return MakeOwned<TPushFilter>(kind);
  case 13:
    return MakeOwned<TSlideFilter>(kind);
  case 14:
  case 15:
    return MakeOwned<TRollEffect2>(c, kind, p);
  case 16:
    return MakeOwned<TOverturnEffect>(kind, p.flipSmooth, p.flipCenter, p.flipCurving);
  case 17:
    return MakeOwned<TTwoSlidesEffect>(kind, p.swapMaxAngle, p.swapWidth, p.swapDepth);
  case kCustomTransitionClass:
    if (hook)
      if (TOwned<TDrawFilter> custom = hook(frame, first, p)) return custom;
    break;
  default:
    break;
  }
  return MakeOwned<TAlphaFilter>();
}

} // namespace

TOwned<TDrawFilter> CreateFilter(const TRect& frame, int32_t effectClass, int32_t effectKind,
                                 TDrawItem* first, const TEffectParams& params, float length,
                                 const TCustomFilterHook& hook) {
  if (effectClass <= 0) return nullptr;
  const float width = static_cast<float>(frame.Width()), height = static_cast<float>(frame.Height());
  TEffectParams scaled = params;
  scaled.rollDiameter = params.rollDiameter * width;
  scaled.broomOffset = params.broomOffset * (width + height) / 2;
  TOwned<TDrawFilter> filter = MakeFilter(frame, effectClass, effectKind, first, scaled, hook);
  filter->effectClass = effectClass;
  filter->effectKind = effectKind;
  filter->params = std::move(scaled);
  // A smooth line from show data may be negative: no soft edge then.
  const float smooth = std::max(0.0f, static_cast<float>(static_cast<int32_t>(params.smoothLine * width)));
  filter->Setup(frame, smooth, length);
  return filter;
}

std::string TransitionFamilyName(int32_t effectClass) {
  static const char* const kNames[] = {"none",  "mosaic",    "fade", "clock",  "circle", "rhomb", "square",
                                       "lines", "diagonals", "wipe", "corner", "broom",  "push",  "slide",
                                       "roll",  "diagroll",  "flip", "swap",   "custom"};
  if (effectClass <= 0) return "none";
  if (effectClass <= kCustomTransitionClass) return kNames[effectClass];
  return "fade";
}

std::string TransitionLabel(int32_t effectClass, int32_t effectType, int32_t customNumber) {
  std::string label = TransitionFamilyName(effectClass);
  if (effectClass == kCustomTransitionClass) {
    if (customNumber >= 0) label += "/" + std::to_string(customNumber);
  } else if (effectClass > 0 && effectType >= 2 && effectType <= 16) {
    label += "/" + std::to_string(effectType);
  }
  return label;
}

} // namespace kiv

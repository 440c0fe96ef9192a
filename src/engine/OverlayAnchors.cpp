#include "OverlayAnchors.h"

#include "CaseFolding.h"
#include "RoundHalfEven.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>

namespace kiv {
namespace {

// Placement works in 64 bits and lands in the 32-bit rectangle: insets and sizes come from show data.
// Corners and sizes stay within half the range, so that a corner plus a size never overflows.
constexpr int32_t kMaxCoordinate = std::numeric_limits<int32_t>::max() / 2;

int32_t ClampToInt(int64_t value) {
  return static_cast<int32_t>(std::clamp<int64_t>(value, -kMaxCoordinate, kMaxCoordinate));
}

int64_t RoundFinite(double value) {
  if (!std::isfinite(value)) return 0;
  constexpr double limit = 1e15;
  return Round(value < -limit ? -limit : value > limit ? limit : value);
}

int64_t AnchoredStart(int32_t areaStart, int32_t areaSize, int32_t itemSize, double framePoint,
                      double itemPoint) {
  return RoundFinite((framePoint / 100 + 1) * areaSize / 2) + areaStart -
         RoundFinite(static_cast<double>(itemSize) * (itemPoint + 100) / 200);
}

} // namespace

TAnchorPoints AnchorPoints(TAnchor anchor, double inset) {
  const double o = inset;
  switch (anchor) {
  case TAnchor::LeftTop:
    return {o - 100, o - 100, -100, -100};
  case TAnchor::Top:
    return {0, o - 100, 0, -100};
  case TAnchor::RightTop:
    return {100 - o, o - 100, 100, -100};
  case TAnchor::Right:
    return {100 - o, 0, 100, 0};
  case TAnchor::RightBottom:
    return {100 - o, 100 - o, 100, 100};
  case TAnchor::Bottom:
    return {0, 100 - o, 0, 100};
  case TAnchor::LeftBottom:
    return {o - 100, 100 - o, -100, 100};
  case TAnchor::Left:
    return {o - 100, 0, -100, 0};
  case TAnchor::Center:
    break;
  }
  return {0, 0, 0, 0};
}

TRect PlaceAtAnchor(const TRect& area, int32_t width, int32_t height, TAnchor anchor, double inset) {
  width = std::clamp(width, 0, kMaxCoordinate);
  height = std::clamp(height, 0, kMaxCoordinate);
  const TAnchorPoints p = AnchorPoints(anchor, inset);
  const int32_t left = ClampToInt(AnchoredStart(area.left, area.Width(), width, p.frameX, p.itemX));
  const int32_t top = ClampToInt(AnchoredStart(area.top, area.Height(), height, p.frameY, p.itemY));
  return {left, top, left + width, top + height};
}

TAnchor AnchorFromName(std::u16string_view name) {
  static constexpr std::array<std::pair<std::u16string_view, TAnchor>, 9> kNames{{
      {u"Left-Top", TAnchor::LeftTop},
      {u"Top", TAnchor::Top},
      {u"Right-Top", TAnchor::RightTop},
      {u"Right", TAnchor::Right},
      {u"Right-Bottom", TAnchor::RightBottom},
      {u"Bottom", TAnchor::Bottom},
      {u"Left-Bottom", TAnchor::LeftBottom},
      {u"Left", TAnchor::Left},
      {u"Center", TAnchor::Center},
  }};
  for (const auto& [text, anchor] : kNames)
    if (SameText(text, name)) return anchor;
  return TAnchor::Center;
}

TAnchor AnchorFromLogoPosition(int32_t position) {
  switch (position) {
  case 0:
    return TAnchor::Left;
  case 1:
    return TAnchor::Top;
  case 2:
    return TAnchor::Right;
  case 3:
    return TAnchor::Bottom;
  case 5:
    return TAnchor::LeftTop;
  case 6:
    return TAnchor::RightTop;
  case 7:
    return TAnchor::RightBottom;
  case 8:
    return TAnchor::LeftBottom;
  default:
    return TAnchor::Center;
  }
}

} // namespace kiv

#pragma once
// Where the overlay puts its pictures: nine anchors on a rectangle, each a point of the rectangle and the
// point of the item that goes there, both on a -100..100 scale across their width and height (-100 the
// left or top edge, 100 the right or bottom edge), pulled inwards by an inset in percent.

#include "DeviceLayer.h"

#include <cstdint>
#include <string_view>

namespace kiv {

enum class TAnchor : uint8_t { LeftTop, Top, RightTop, Right, RightBottom, Bottom, LeftBottom, Left, Center };

struct TAnchorPoints {
  double frameX = 0, frameY = 0; // the point of the rectangle
  double itemX = 0, itemY = 0;   // the point of the item put there
};

TAnchorPoints AnchorPoints(TAnchor anchor, double inset);

// An item of width x height placed in area at the anchor: left = round((fx / 100 + 1) x area width / 2)
// + area left - round(width x (ix + 100) / 200), the top likewise.
TRect PlaceAtAnchor(const TRect& area, int32_t width, int32_t height, TAnchor anchor, double inset);

// The panel's anchor names ("Left-Top", "Top", ... "Center"), letter case ignored; anything else is the
// centre.
TAnchor AnchorFromName(std::u16string_view name);

// The logo's position numbers: 0 left, 1 top, 2 right, 3 bottom, 5 left-top, 6 right-top, 7 right-bottom,
// 8 left-bottom; any other the centre.
TAnchor AnchorFromLogoPosition(int32_t position);

} // namespace kiv

#include "SlidingFilters.h"

#include <algorithm>

namespace kiv {

TSlideFilter::TSlideFilter(int32_t directionCode)
    : direction(directionCode >= 1 && directionCode <= 4 ? directionCode : 1) {
  edgeExtension = 1;
}

TFloatPoint TSlideFilter::PictureOffset(float w, float h) const {
  const float t = NormalizedPosition();
  switch (direction) {
  case 2:
    return {w - t * w, 0};
  case 3:
    return {0, t * h - h};
  case 4:
    return {0, h - t * h};
  default:
    return {t * w - w, 0};
  }
}

void TSlideFilter::DrawWith(TEffController& controller) {
  const TRect u = controller.Rect();
  const TFloatPoint shift = PictureOffset(float(u.Width()), float(u.Height()));
  const float left = u.left + shift.x, top = u.top + shift.y;
  const float right = left + u.Width(), bottom = top + u.Height();
  for (int row = 0; row < controller.Rows(); ++row)
    for (int column = 0; column < controller.Columns(); ++column) {
      TEffTile& tile = controller.GetTile(column, row);
      const TRect& c = tile.cell;
      if (right <= c.left || left >= c.right || bottom <= c.top || top >= c.bottom) continue;
      const TTexturePoint lt{float(u.left), float(u.top)}, rt{float(u.right), float(u.top)},
          lb{float(u.left), float(u.bottom)}, rb{float(u.right), float(u.bottom)};
      tile.BeginTiles(true, false);
      tile.AddTexturedTriangle({lt, rt, lb}, {TFloatPoint{left, top}, {right, top}, {left, bottom}});
      tile.AddTexturedTriangle({rb, lb, rt}, {TFloatPoint{right, bottom}, {left, bottom}, {right, top}});
      tile.EndTiles();
    }
}

TFloatPoint TPushFilter::PushOffset() const {
  const float w = float(updateRect.Width()), h = float(updateRect.Height());
  const float t = NormalizedPosition();
  switch (direction) {
  case 2:
    return {-t * w, 0};
  case 3:
    return {0, t * h};
  case 4:
    return {0, -t * h};
  default:
    return {t * w, 0};
  }
}

} // namespace kiv

#include "TwoSlidesEffect.h"

#include "EffectCurves.h"

#include <cmath>
#include <numbers>

namespace kiv {

TTwoSlidesEffect::TTwoSlidesEffect(int32_t kind, float maxAngleDegrees, float widthValue, float depthValue)
    : direction(kind >= 1 && kind <= 4 ? kind : 1), depth(depthValue), width(widthValue),
      maxAngle(double(maxAngleDegrees) * std::numbers::pi / 180) {}

bool TTwoSlidesEffect::NextDrawIsOutgoing() const {
  // The drawer draws the incoming slide first before half way and the outgoing one first after it.
  const bool late = NormalizedPosition() >= 0.5f;
  return (draws_ % 2 == 0) == late;
}

T3DPoint TTwoSlidesEffect::Place(float px, float py, double x, TFloatPoint size, const TRect& rect) const {
  TFloatPoint v;
  switch (direction) {
  case 2:
    v = {-size.x, 0};
    break;
  case 3:
    v = {0, size.y};
    break;
  case 4:
    v = {0, -size.y};
    break;
  default:
    v = {size.x, 0};
    break;
  }
  const double m = std::sin(x * std::numbers::pi) * width;
  const double l = std::sin(x * maxAngle);
  // Distances are counted inside the rectangle, from the edge on the side the slide moves to.
  const double rx = px - rect.left, ry = py - rect.top;
  double edge = 0;
  if (v.x > 0)
    edge = v.x - rx;
  else if (v.x < 0)
    edge = rx;
  else if (v.y > 0)
    edge = v.y - ry;
  else if (v.y < 0)
    edge = ry;
  const double z = x * std::abs(size.y) * depth + l * edge;
  return {float(px + v.x * m), float(py + v.y * m), float(z)};
}

void TTwoSlidesEffect::DrawWith(TEffController& controller) {
  const bool outgoing = NextDrawIsOutgoing();
  if (draws_ % 2 == 0) FillCellsBlack(controller);
  ++draws_;
  const TRect rect = controller.Rect();
  if (rect.IsEmpty()) return;
  const double s = EaseCurve(NormalizedPosition());
  const float w = float(rect.Width()), h = float(rect.Height());
  const double x = outgoing ? s : 1 - s;
  const TFloatPoint size = outgoing ? TFloatPoint{w, h} : TFloatPoint{-w, -h};
  for (int row = 0; row < controller.Rows(); ++row)
    for (int column = 0; column < controller.Columns(); ++column) {
      TEffTile& tile = controller.GetTile(column, row);
      const TRect c = IntersectRect(tile.cell, rect);
      if (c.IsEmpty()) continue;
      const float l = float(c.left), t = float(c.top), r = float(c.right), b = float(c.bottom);
      const TTexturePoint lt{l, t}, rt{r, t}, lb{l, b}, rb{r, b};
      const T3DPoint plt = Place(l, t, x, size, rect), prt = Place(r, t, x, size, rect),
                     plb = Place(l, b, x, size, rect), prb = Place(r, b, x, size, rect);
      tile.BeginTiles(true, true);
      tile.AddTexturedTriangle3D({lt, rt, lb}, {plt, prt, plb});
      tile.AddTexturedTriangle3D({rb, lb, rt}, {prb, plb, prt});
      tile.EndTiles();
    }
}

} // namespace kiv

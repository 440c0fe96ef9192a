#include "OverturnEffect.h"

#include "EffectCurves.h"
#include "PolygonSlicing.h"

#include <cmath>
#include <numbers>

namespace kiv {

TOverturnEffect::TOverturnEffect(int32_t kind, bool smoothValue, bool aboutCentre, float curvingValue)
    : variant((kind >= 1 && kind <= 4 ? kind : 1) + (aboutCentre ? 4 : 0)), smooth(smoothValue),
      curving(curvingValue) {}

double TOverturnEffect::Angle() const {
  const double t = NormalizedPosition();
  return std::numbers::pi * (smooth ? EaseCurve(t) : t);
}

TOverturnEffect::TCard TOverturnEffect::Card(const TRect& rect) const {
  const int base = (variant - 1) % 4; // 0, 1: vertical axis; 2, 3: horizontal
  const bool vertical = base < 2;
  const double phi = base % 2 == 0 ? -Angle() : Angle();
  const double k = std::abs(phi) < std::numbers::pi / 2 ? 1 : -1;
  const double centre = vertical ? rect.left + rect.Width() / 2.0 : rect.top + rect.Height() / 2.0;
  const double half = (vertical ? rect.Width() : rect.Height()) / 2.0;
  const double e = k * std::sin(phi) * half * curving;
  TCard card;
  card.nearEdge = float(centre + k * std::cos(phi) * half);
  card.farEdge = float(centre - k * std::cos(phi) * half);
  if (variant > 4) {
    card.nearDepth = float(-e);
    card.farDepth = float(e);
  } else {
    card.nearDepth = float(std::abs(e) - e);
    card.farDepth = float(e + std::abs(e));
  }
  card.brightness = float(std::lround(std::abs(std::cos(phi)) * 155 + 100));
  return card;
}

void TOverturnEffect::DrawWith(TEffController& controller) {
  FillCellsBlack(controller);
  const TRect rect = controller.Rect();
  if (rect.IsEmpty()) return;
  const TCard card = Card(rect);
  const bool vertical = (variant - 1) % 4 < 2;
  // A picture point's place: linear across the axis between the far and the near edge.
  auto place = [&](float x, float y) {
    const float f = vertical ? (x - rect.left) / float(rect.Width()) : (y - rect.top) / float(rect.Height());
    const float at = card.farEdge + (card.nearEdge - card.farEdge) * f;
    const float z = card.farDepth + (card.nearDepth - card.farDepth) * f;
    return vertical ? T3DPoint{at, y, z} : T3DPoint{x, at, z};
  };
  const T2DSeparator separator(controller.ColumnBounds(), controller.RowBounds());
  const float l = float(rect.left), t = float(rect.top), r = float(rect.right), b = float(rect.bottom);
  const std::vector<TPolygon> cells = separator.Cut(
      {{l, t, card.brightness}, {r, t, card.brightness}, {r, b, card.brightness}, {l, b, card.brightness}});
  for (size_t i = 0; i < cells.size(); ++i) {
    const TPolygon& polygon = cells[i];
    if (polygon.size() < 3) continue;
    TEffTile& tile = controller.GetTile(int(i) % separator.Columns(), int(i) / separator.Columns());
    tile.BeginTiles(true, true);
    auto texture = [&](size_t k) { return TTexturePoint{polygon[k].x, polygon[k].y, polygon[k].z}; };
    auto at = [&](size_t k) { return place(polygon[k].x, polygon[k].y); };
    for (size_t k = 1; k + 1 < polygon.size(); ++k)
      tile.AddTexturedTriangle3D({texture(0), texture(k), texture(k + 1)}, {at(0), at(k), at(k + 1)});
    tile.EndTiles();
  }
}

} // namespace kiv

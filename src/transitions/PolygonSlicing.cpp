#include "PolygonSlicing.h"

#include <algorithm>
#include <utility>

namespace kiv {

namespace {

constexpr float kFarAway = 3.4e38f;

TPolygon Swapped(const TPolygon& polygon) {
  TPolygon out = polygon;
  for (TValuePoint& p : out)
    std::swap(p.x, p.y);
  return out;
}

} // namespace

TXSeparator::TXSeparator(std::vector<float> boundaries) : bounds_(std::move(boundaries)) {
  std::sort(bounds_.begin(), bounds_.end());
  bounds_.insert(bounds_.begin(), -kFarAway);
  bounds_.push_back(kFarAway);
}

std::vector<TPolygon> TXSeparator::Cut(const TPolygon& polygon) const {
  std::vector<TPolygon> strips(static_cast<size_t>(StripCount()));
  if (polygon.size() < 3) return strips;
  auto add = [&](const TValuePoint& p) {
    // The boundary at or right of x, and whether x lies on it.
    const auto at = std::lower_bound(bounds_.begin(), bounds_.end(), p.x);
    const auto index = static_cast<size_t>(at - bounds_.begin());
    if (at != bounds_.end() && *at == p.x) {
      if (index > 0) strips[index - 1].push_back(p);
      if (index < strips.size()) strips[index].push_back(p);
    } else if (index > 0 && index - 1 < strips.size()) {
      strips[index - 1].push_back(p);
    }
  };
  const size_t n = polygon.size();
  for (size_t i = 0; i < n; ++i) {
    const TValuePoint& a = polygon[i];
    const TValuePoint& b = polygon[(i + 1) % n];
    add(a);
    if (a.x == b.x) continue;
    // Boundaries strictly between the two ends, in the edge's direction.
    const float lo = std::min(a.x, b.x), hi = std::max(a.x, b.x);
    auto first = std::upper_bound(bounds_.begin(), bounds_.end(), lo);
    auto last = std::lower_bound(bounds_.begin(), bounds_.end(), hi);
    std::vector<float> crossed(first, last);
    if (b.x < a.x) std::reverse(crossed.begin(), crossed.end());
    for (float x : crossed) {
      const float f = (x - a.x) / (b.x - a.x);
      const TValuePoint p{x, a.y + (b.y - a.y) * f, a.z + (b.z - a.z) * f};
      add(p);
    }
  }
  for (TPolygon& strip : strips)
    if (strip.size() < 3) strip.clear();
  return strips;
}

T2DSeparator::T2DSeparator(std::vector<float> columns, std::vector<float> rows)
    : byX_(columns), byY_(rows), columns_(std::max(0, static_cast<int>(columns.size()) - 1)),
      rows_(std::max(0, static_cast<int>(rows.size()) - 1)) {}

std::vector<TPolygon> T2DSeparator::Cut(const TPolygon& polygon) const {
  std::vector<TPolygon> cells(static_cast<size_t>(columns_) * static_cast<size_t>(rows_));
  if (columns_ == 0 || rows_ == 0) return cells;
  const std::vector<TPolygon> rowPieces = byY_.Cut(Swapped(polygon));
  for (int row = 0; row < rows_; ++row) {
    // Strip 0 lies before the first row boundary.
    const TPolygon& piece = rowPieces[static_cast<size_t>(row) + 1];
    if (piece.empty()) continue;
    const std::vector<TPolygon> pieces = byX_.Cut(Swapped(piece));
    for (int column = 0; column < columns_; ++column)
      cells[static_cast<size_t>(row) * columns_ + column] = pieces[static_cast<size_t>(column) + 1];
  }
  return cells;
}

} // namespace kiv

#pragma once
// Cutting a convex polygon by a straight line, for filters whose pieces are bounded by lines at any angle.

#include "DeviceLayer.h"

#include <vector>

namespace kiv {

using TConvexPiece = std::vector<TFloatPoint>;

// The parts of a convex polygon on either side of the line n.p = offset, those with at least three points
// appended to `out` (the side below first).
inline void SplitByLine(const TConvexPiece& piece, TFloatPoint n, float offset,
                        std::vector<TConvexPiece>& out) {
  TConvexPiece below, above;
  const size_t count = piece.size();
  for (size_t i = 0; i < count; ++i) {
    const TFloatPoint a = piece[i], b = piece[(i + 1) % count];
    const float da = n.x * a.x + n.y * a.y - offset, db = n.x * b.x + n.y * b.y - offset;
    if (da <= 0) below.push_back(a);
    if (da >= 0) above.push_back(a);
    if ((da < 0 && db > 0) || (da > 0 && db < 0)) {
      const float f = da / (da - db);
      const TFloatPoint cut{a.x + (b.x - a.x) * f, a.y + (b.y - a.y) * f};
      below.push_back(cut);
      above.push_back(cut);
    }
  }
  if (below.size() >= 3) out.push_back(std::move(below));
  if (above.size() >= 3) out.push_back(std::move(above));
}

// The part of the polygon with n.p <= offset (or >= offset when `keepAbove`); empty when none.
inline TConvexPiece ClipHalfPlane(const TConvexPiece& piece, TFloatPoint n, float offset, bool keepAbove) {
  TConvexPiece kept;
  const size_t count = piece.size();
  const float sign = keepAbove ? -1.0f : 1.0f;
  for (size_t i = 0; i < count; ++i) {
    const TFloatPoint a = piece[i], b = piece[(i + 1) % count];
    const float da = sign * (n.x * a.x + n.y * a.y - offset), db = sign * (n.x * b.x + n.y * b.y - offset);
    if (da <= 0) kept.push_back(a);
    if ((da < 0 && db > 0) || (da > 0 && db < 0)) {
      const float f = da / (da - db);
      kept.push_back({a.x + (b.x - a.x) * f, a.y + (b.y - a.y) * f});
    }
  }
  if (kept.size() < 3) kept.clear();
  return kept;
}

// The part of the polygon between the lines n.p = from and n.p = to; empty when none.
inline TConvexPiece ClipToSlab(const TConvexPiece& piece, TFloatPoint n, float from, float to) {
  return ClipHalfPlane(ClipHalfPlane(piece, n, from, true), n, to, false);
}

} // namespace kiv

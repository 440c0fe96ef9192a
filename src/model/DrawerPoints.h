#pragma once
// Arithmetic on the drawer's points, for the content kinds placing their pictures and boxes.

#include "DrawTree.h"
#include "Vectors.h"

namespace kiv {

inline T3DPoint ToPoint(const T3DVector& v) {
  return {v.x, v.y, v.z};
}
// start + u along x + v along y.
inline T3DPoint Along(const T3DPoint& start, const T3DPoint& x, const T3DPoint& y, float u, float v) {
  return {start.x + x.x * u + y.x * v, start.y + x.y * u + y.y * v, start.z + x.z * u + y.z * v};
}
inline T3DPoint Scaled(const T3DPoint& p, float k) {
  return {p.x * k, p.y * k, p.z * k};
}

} // namespace kiv

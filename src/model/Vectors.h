#pragma once
// Small single-precision vectors of the slide model: object placement is computed in floats, like the
// device layer that consumes it.

#include <cmath>

namespace kiv {

struct T2DVector {
  float x = 0;
  float y = 0;
  bool operator==(const T2DVector&) const = default;
};

struct T3DVector {
  float x = 0;
  float y = 0;
  float z = 0;
  bool operator==(const T3DVector&) const = default;
};

inline T3DVector operator+(const T3DVector& a, const T3DVector& b) {
  return {a.x + b.x, a.y + b.y, a.z + b.z};
}
inline T3DVector operator-(const T3DVector& a, const T3DVector& b) {
  return {a.x - b.x, a.y - b.y, a.z - b.z};
}
inline T3DVector operator*(const T3DVector& a, float k) {
  return {a.x * k, a.y * k, a.z * k};
}
inline float Dot(const T3DVector& a, const T3DVector& b) {
  return a.x * b.x + a.y * b.y + a.z * b.z;
}
inline T3DVector Cross(const T3DVector& a, const T3DVector& b) {
  return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}

// Rows are the images of the x, y and z unit vectors (row vectors: v' = v * M).
struct T3x3Matrix {
  T3DVector row[3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
  bool operator==(const T3x3Matrix&) const = default;
};

// Each row of a combined with the rows of b.
inline T3x3Matrix operator*(const T3x3Matrix& a, const T3x3Matrix& b) {
  T3x3Matrix r;
  for (int i = 0; i < 3; ++i)
    r.row[i] = b.row[0] * a.row[i].x + b.row[1] * a.row[i].y + b.row[2] * a.row[i].z;
  return r;
}

} // namespace kiv

#pragma once
// Cutting convex polygons along a grid: a separator cuts by sorted boundaries along one axis, and the 2D
// separator cuts by rows and then each row by columns, giving one polygon per cell. Every point carries a
// value (an alpha or a brightness) that is interpolated along the edges it splits.

#include <vector>

namespace kiv {

struct TValuePoint {
  float x = 0, y = 0;
  float z = 0; // the value carried along
  bool operator==(const TValuePoint&) const = default;
};
using TPolygon = std::vector<TValuePoint>;

// Cuts along x. The boundaries are kept sorted with -3.4e38 and +3.4e38 added at both ends, so strip j lies
// between the j-th and (j+1)-th of them: strip 0 is everything left of the first boundary given.
class TXSeparator {
public:
  explicit TXSeparator(std::vector<float> boundaries);
  // One polygon per strip (empty where the polygon does not reach); a point on a boundary belongs to both
  // strips beside it.
  std::vector<TPolygon> Cut(const TPolygon& polygon) const;
  int StripCount() const { return static_cast<int>(bounds_.size()) - 1; }

private:
  std::vector<float> bounds_;
};

// Cuts by row boundaries (y), then each row's piece by column boundaries (x). Cells are the spaces between
// consecutive boundaries given; what lies outside them is dropped.
class T2DSeparator {
public:
  T2DSeparator(std::vector<float> columns, std::vector<float> rows);
  int Columns() const { return columns_; }
  int Rows() const { return rows_; }
  // Polygons by cell, row by row (index row * Columns() + column); empty where nothing lands.
  std::vector<TPolygon> Cut(const TPolygon& polygon) const;

private:
  TXSeparator byX_;
  TXSeparator byY_; // works on points with x and y exchanged
  int columns_ = 0, rows_ = 0;
};

} // namespace kiv

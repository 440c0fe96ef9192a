#pragma once
// The clock: a hand that starts pointing up from the frame's centre and turns once round, showing the
// picture over the area it has swept. The fixed start ray and the hand are soft edges.

#include "DrawFilter.h"

#include <vector>

namespace kiv {

// The swept area of the hand as alpha polygons in frame coordinates.
class TArrow final : public TObj {
public:
  TArrow(const TRect& frame, float smooth);
  // The convex pieces of the frame the hand at `angle` (radians from straight up, clockwise) has swept,
  // each point with its alpha; nothing at 0, the whole frame at a full turn.
  std::vector<std::vector<TAlphaPoint>> Polygons(double angle) const;
  // The alpha of a point: each edge's curve value by the point's distance across it, combined by how far
  // the hand has turned. Exact at the corners of the soft bands' strips, which the polygons interpolate.
  float Value(double angle, float x, float y) const;
  TFloatPoint Center() const { return {cx_, cy_}; }
  float EdgeWidth() const { return width_; }

private:
  float top_, height_, left_, frameWidth_;
  float cx_, cy_; // integer parts of the frame's middle
  float width_;   // of each soft edge; 0.001 when there is none
};

class TClockEffect final : public TDrawFilter {
public:
  // Anticlockwise (mirrored about the frame's vertical centre line) when asked.
  explicit TClockEffect(bool anticlockwise);
  void DrawWith(TEffController& controller) override;
  // t x 2 pi, half a turn moved a hair back so that the two edges never coincide.
  double HandAngle() const;

  bool anticlockwise;

private:
  TOwned<TArrow> arrow_; // made on the first draw
};

} // namespace kiv

#pragma once
// Filters that reveal the picture by distance from a centre: a front moves out from the centre (in from
// the reach when reversed); inside it the picture shows fully, across a soft band of the smooth width its
// alpha falls along a smooth curve, beyond it nothing shows. Circle, lines, diagonals, rhomb and square
// differ only in their distance and in the shapes of their bands.

#include "DrawFilter.h"

#include <vector>

namespace kiv {

// The soft edge's curve over 0..255: x^2/128 below 127.5, 255 - (255 - x)^2/128 above.
float SmoothCurve(float x);

// A band from distance `from` to `to` with the alphas at both ends; the solid area starts at 0.
struct TDistanceBand {
  float from = 0, to = 0;
  float alphaFrom = 255, alphaTo = 255;
  bool solid = false;
};
// The solid area and the soft bands for front radius r, smooth width s and reach R: 14 curve steps,
// a step closer than 2 pixels to the last one merged into the next.
std::vector<TDistanceBand> DistanceBands(float r, float s, float reach);

class TCommonFilter : public TDrawFilter {
public:
  TCommonFilter(float cx, float cy, bool reversed);
  void Setup(const TRect& frame, float smooth, float lengthValue) override;
  void DrawWith(TEffController& controller) override;

  // R: the largest distance of any frame point plus the smooth width.
  float Reach() const { return reach_; }
  // t x R, or R - t x R when reversed.
  float FrontRadius() const;
  // The centre in frame coordinates.
  TFloatPoint Center() const { return q_; }

protected:
  // The largest distance that matters, before the smooth width is added.
  virtual float ComputeReach() = 0;
  // Distances 0..d at alpha 255.
  virtual void EmitSolid(TMultiTile& tile, float d) = 0;
  virtual void EmitBand(TMultiTile& tile, const TDistanceBand& band) = 0;
  // A polygon given in frame coordinates.
  void Emit(TMultiTile& tile, std::initializer_list<TAlphaPoint> points);
  void Emit(TMultiTile& tile, std::vector<TAlphaPoint> points);

  TFloatPoint q_;
  float reach_ = 0;
};

class TCircleFilter final : public TCommonFilter {
public:
  using TCommonFilter::TCommonFilter;
  // Distance from the centre to the frame when the centre lies outside it, else 0.
  float Gap() const { return gap_; }
  int Segments() const { return gap_ > 0 ? 256 : 128; }

protected:
  float ComputeReach() override;
  void EmitSolid(TMultiTile& tile, float d) override;
  void EmitBand(TMultiTile& tile, const TDistanceBand& band) override;

private:
  float gap_ = 0;
};

// Distance |x - centre x|: vertical strips.
class THLines final : public TCommonFilter {
public:
  using TCommonFilter::TCommonFilter;

protected:
  float ComputeReach() override;
  void EmitSolid(TMultiTile& tile, float d) override;
  void EmitBand(TMultiTile& tile, const TDistanceBand& band) override;
};

// Distance |y - centre y|: horizontal strips.
class TVLines final : public TCommonFilter {
public:
  using TCommonFilter::TCommonFilter;

protected:
  float ComputeReach() override;
  void EmitSolid(TMultiTile& tile, float d) override;
  void EmitBand(TMultiTile& tile, const TDistanceBand& band) override;
};

// Distance |x - cx| + |y - cy|: a diamond.
class TRhombFilter final : public TCommonFilter {
public:
  using TCommonFilter::TCommonFilter;

protected:
  float ComputeReach() override;
  void EmitSolid(TMultiTile& tile, float d) override;
  void EmitBand(TMultiTile& tile, const TDistanceBand& band) override;
};

// A rectangle of half-width d and half-height d x height / width.
class TSquareFilter final : public TCommonFilter {
public:
  using TCommonFilter::TCommonFilter;

protected:
  float ComputeReach() override;
  void EmitSolid(TMultiTile& tile, float d) override;
  void EmitBand(TMultiTile& tile, const TDistanceBand& band) override;
};

// 45-degree lines: the line at distance d runs from (left + o1 + d, top) to (left + o2 + d, bottom) with
// o2 = o1 - height (exchanged when mirrored, so that the lines lean the other way).
class TDiagLines final : public TCommonFilter {
public:
  enum class TStart { Corner, Middle, FarCorner };
  TDiagLines(TStart startAt, bool mirroredLines, bool reversed);

  TStart start;
  bool mirrored;

protected:
  float ComputeReach() override;
  void EmitSolid(TMultiTile& tile, float d) override;
  void EmitBand(TMultiTile& tile, const TDistanceBand& band) override;

private:
  // The area between the lines at distances d1 and d2 (in the direction the bands go).
  void Between(TMultiTile& tile, float d1, float d2, float a1, float a2);
  float o1() const;
};

} // namespace kiv

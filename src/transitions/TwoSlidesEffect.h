#pragma once
// The swap: the two slides slide apart, one backwards into the screen, and change places, tilting as they
// go; the one in front changes at half way. The drawer draws both through this filter every frame.

#include "DrawFilter.h"

namespace kiv {

class TTwoSlidesEffect final : public TDrawFilter {
public:
  // Directions 1 .. 4 move the outgoing slide right, left, down, up (an unknown one as 1); the maximum
  // angle in degrees.
  TTwoSlidesEffect(int32_t kind, float maxAngleDegrees, float widthValue, float depthValue);
  void DrawWith(TEffController& controller) override;
  TFilterKind Kind() const override { return TFilterKind::TwoSlides; }
  // A frame whose draws went astray must not leave the next one on the wrong slide.
  void FrameDone() override { draws_ = 0; }

  // Where a corner of a slide goes: x is how far that slide is on its way (0 .. 1), the sign of `size`
  // tells the incoming slide (negated) from the outgoing one.
  T3DPoint Place(float px, float py, double x, TFloatPoint size, const TRect& rect) const;
  // Whether the next draw is the outgoing slide's, by the draws so far and the position.
  bool NextDrawIsOutgoing() const;

  int32_t direction;
  float depth, width;
  double maxAngle; // radians

private:
  int64_t draws_ = 0; // this frame's, two per frame
};

} // namespace kiv

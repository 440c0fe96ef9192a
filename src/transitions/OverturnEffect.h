#pragma once
// The flip: the slide turns like a card about the frame's vertical or horizontal centre line, over black;
// the drawer shows the outgoing slide on the first half of the turn and the incoming one on the second.

#include "DrawFilter.h"

namespace kiv {

class TOverturnEffect final : public TDrawFilter {
public:
  // Kinds 1 and 2 turn about the vertical axis, 3 and 4 about the horizontal one (an unknown kind as 1);
  // with `aboutCentre` both edges move in depth, else one edge stays in the screen plane.
  TOverturnEffect(int32_t kind, bool smooth, bool aboutCentre, float curving);
  void DrawWith(TEffController& controller) override;
  TFilterKind Kind() const override { return TFilterKind::Overturn; }

  // The card at the current position: its two edges across the axis (the edges of the picture's right
  // and left side, or bottom and top side) as positions and depths, and its brightness.
  struct TCard {
    float nearEdge = 0, farEdge = 0; // x (or y) of the picture's right (bottom) and left (top) edge
    float nearDepth = 0, farDepth = 0;
    float brightness = 255;
  };
  TCard Card(const TRect& rect) const;
  // pi x t, eased when smooth.
  double Angle() const;

  int32_t variant; // 1 .. 8; above 4 about the card's own centre
  bool smooth;
  float curving;
};

} // namespace kiv

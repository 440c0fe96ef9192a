#pragma once
// The slide and the push: the picture moves in from a side (1 left, 2 right, 3 top, 4 bottom) over the
// other one; for the push the drawer moves the other picture out by the same amount.

#include "DrawFilter.h"

namespace kiv {

class TSlideFilter : public TDrawFilter {
public:
  // Directions outside 1..4 come from show data and move in from the left.
  explicit TSlideFilter(int32_t directionCode);
  // Where the picture lies relative to its own place, for the update rectangle's size w x h.
  TFloatPoint PictureOffset(float w, float h) const;
  void DrawWith(TEffController& controller) override;

  int32_t direction;
};

class TPushFilter final : public TSlideFilter {
public:
  using TSlideFilter::TSlideFilter;
  TFilterKind Kind() const override { return TFilterKind::Push; }
  // The shift of the picture that leaves: (t w, 0), (-t w, 0), (0, t h), (0, -t h).
  TFloatPoint PushOffset() const override;
};

} // namespace kiv

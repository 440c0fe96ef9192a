#pragma once
// Transitions that play a slide of their own over the two slides: the drawer renders the outgoing slide
// into slide texture A and the incoming one into B, and the filter's overlay slide shows them through
// pictures that stand for them.

#include "DrawFilter.h"

namespace kiv {

class TCustomD3DEffecter;

class TSlideEffFilter : public TDrawFilter {
public:
  // Hands texture A (the outgoing slide) and B (the incoming one) to the pictures that stand for them.
  virtual void AttachSlideTextures(TCustomD3DEffecter& effecter) = 0;
  virtual void DetachSlideTextures() = 0;
  // Lets the overlay slide prepare its pictures with the drawer.
  virtual void PrepareContent(TDeviceDrawer& drawer) = 0;
  // x from 0 to 1.
  virtual void SetEffectPosition(double x) = 0;
  virtual void PrepareEffect(TDrawItem& first, TDrawItem& second) = 0;

  bool DrawsPair() const override { return true; }
  // Both slides into their textures, the screen cleared to opaque black, the overlay slide drawn at the
  // update rectangle's top-left with the textures bound.
  void DrawPair(T3DDrawer& drawer, TDrawItem& first, TDrawItem& second) override;
  // The overlay slide is all there is to draw.
  void DrawWith(TEffController& /*controller*/) override {}
  // Slide-based filters never draw a single item.
  void DrawThrough(T3DDrawer& /*drawer*/, TDrawItem& /*item*/) override {}

  uint8_t slideIndex = 1;            // marks both slides while they are rendered for the effect
  TDrawItem* overlaySlide = nullptr; // the transition's own slide
};

} // namespace kiv

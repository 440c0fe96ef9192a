#pragma once
// The base of every transition filter: length and position of the transition, the soft edge, the rectangle
// the geometry is computed in and the one it is drawn into, and the options record. A filter draws one
// slide's picture through a controller's tiles; through the drawer, the picture comes from the effecter.

#include "DrawTree.h"
#include "EffectTiles.h"
#include "TransitionOptions.h"

#include <cstdint>

namespace kiv {

class TDrawFilter : public TTransitionFilter {
public:
  // Stores them; the position goes back to 0.
  virtual void Setup(const TRect& frame, float smooth, float lengthValue);
  // Clamped to 0 .. length; a value that is not >= 0 gives 0.
  void SetPosition(double x) override;
  virtual void DrawWith(TEffController& controller) = 0;

  double Length() const override { return length; }
  double Position() const override { return position; }
  bool Reverse() const override { return reverse != 0; }
  // position x inverse length: 0 .. 1.
  float NormalizedPosition() const { return static_cast<float>(position * invLength); }
  // The picture of the item through the drawer's effecter, drawn as this filter shows it.
  void DrawThrough(T3DDrawer& drawer, TDrawItem& item) override;

  float length = 0;
  double invLength = 0;  // 0 when the length is 0
  float position = 0;    // 0 .. length
  float smoothWidth = 0; // pixels
  TRect frameRect;       // where the geometry is computed
  uint8_t reverse = 0;
  uint8_t edgeExtension = 0; // the rendered slide gets one more column and row at its right and bottom
  TRect updateRect;          // where the geometry is drawn
  int32_t effectClass = 0;
  int32_t effectKind = 0;
  TEffectParams params;

protected:
  // Frame point -> update rectangle, about the centre given as fractions of the frame (top-left when 0).
  TFloatPoint Map(float x, float y) const;
  float centerX = 0, centerY = 0; // fractions of the frame
};

} // namespace kiv

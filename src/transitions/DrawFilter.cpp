#include "DrawFilter.h"

#include "TriangleEffecter.h"

#include <algorithm>

namespace kiv {

void TDrawFilter::Setup(const TRect& frame, float smooth, float lengthValue) {
  frameRect = frame;
  smoothWidth = smooth;
  length = lengthValue;
  position = 0;
  invLength = length != 0 ? 1.0 / length : 0;
}

void TDrawFilter::SetPosition(double x) {
  if (!(x >= 0)) x = 0;
  position = static_cast<float>(std::min<double>(x, length));
}

TFloatPoint TDrawFilter::Map(float x, float y) const {
  const float fw = static_cast<float>(frameRect.Width()), fh = static_cast<float>(frameRect.Height());
  const float uw = static_cast<float>(updateRect.Width()), uh = static_cast<float>(updateRect.Height());
  const float qx = frameRect.left + fw * centerX, qy = frameRect.top + fh * centerY;
  const float sx = fw > 0 ? uw / fw : 1, sy = fh > 0 ? uh / fh : 1;
  return {(x - qx) * sx + updateRect.left + uw * centerX, (y - qy) * sy + updateRect.top + uh * centerY};
}

void TDrawFilter::DrawThrough(T3DDrawer& drawer, TDrawItem& item) {
  TCustomD3DEffecter& effecter = EffecterOf(drawer);
  struct TReset {
    TCustomD3DEffecter& effecter;
    ~TReset() { effecter.ResetFrameState(); }
  } reset{effecter};
  effecter.AcquireSlideTextures(false);
  TEffController& controller =
      effecter.RenderForFilter(edgeExtension != 0, [&drawer, &item] { drawer.DrawItem(item); });
  // The tiles draw in screen pixels, like the picture they take from the slide texture.
  T3DDrawer::TScreenPixels plain(drawer.Screen());
  DrawWith(controller);
}

} // namespace kiv

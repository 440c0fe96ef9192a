#include "SlideEffectFilter.h"

#include "TriangleEffecter.h"

namespace kiv {

namespace {

constexpr uint32_t kOpaqueBlack = 0xFF000000;

} // namespace

void TSlideEffFilter::DrawPair(T3DDrawer& drawer, TDrawItem& first, TDrawItem& second) {
  TCustomD3DEffecter& effecter = EffecterOf(drawer);
  // The textures go back to the pool at the end of the frame, whatever happens in between.
  struct TReset {
    TCustomD3DEffecter& effecter;
    ~TReset() { effecter.ResetFrameState(); }
  } reset{effecter};
  effecter.AcquireSlideTextures(true);
  const TRect area = drawer.GetUpdateRect();
  const TPoint origin{area.left, area.top};
  auto render = [&](TDrawItem& item) {
    item.effectMark = slideIndex;
    effecter.RenderSlide([&drawer, &item] { drawer.DrawItem(item); }, origin);
    item.effectMark = 0;
  };
  render(first);
  effecter.ToggleSlideTexture();
  render(second);
  effecter.ToggleSlideTexture();

  SetEffectPosition(NormalizedPosition());
  PrepareEffect(first, second);
  drawer.Clear(kOpaqueBlack, false);
  AttachSlideTextures(effecter);
  struct TDetach {
    TSlideEffFilter& filter;
    T3DScreen& screen;
    ~TDetach() {
      // Triangles still waiting in the batch name the textures.
      screen.batch->Flush();
      filter.DetachSlideTextures();
    }
  } detach{*this, drawer.Screen()};
  PrepareContent(drawer);
  if (overlaySlide) {
    const TFloatPoint saved = drawer.offset;
    drawer.SetOffset({saved.x + area.left, saved.y + area.top});
    drawer.DrawItem(*overlaySlide);
    drawer.SetOffset(saved);
  }
}

} // namespace kiv

// Masked drawing: the content drawn into one target, the mask layers into another, and their product
// composed onto the output where the layers drew.

#include "ScreenDrawer.h"

#include <algorithm>

namespace kiv {

namespace {

// Mask (s0, plain alpha) times content (s1, premultiplied), channel by channel, premultiplied.
constexpr std::string_view kMaskProduct = "void main() {\n"
                                          "  vec4 m = texture(s0, t0);\n"
                                          "  oC0 = vec4(m.rgb * m.a, m.a) * texture(s1, t1) * vcol;\n"
                                          "}\n";

} // namespace

// ---- masks ----

void T3DDrawer::DrawMasked(TDrawItem& content, std::span<const TMaskLayer> layers, TDrawImage* pattern,
                           int32_t lastLayer) {
  if (!IsReady()) return;
  const int32_t count = std::min<int32_t>(lastLayer + 1, static_cast<int32_t>(layers.size()));
  const TRect view = GetViewArea();
  const TSize logical = GetViewSize();
  const TMaskLayer* only = count == 1 ? &layers[0] : nullptr;
  const bool flat = only && only->image && only->placement.z == 0 && only->xAxis.z == 0 && only->yAxis.z == 0;
  const bool fast = maskFastPathAllowed && flat && !only->imageParams.antialiased && view == bounds &&
                    logical == TSize{screen_->Width(), screen_->Height()};
  // The fast path pairs the content with the mask's own tiles, which hold plain alpha.
  TRenderTargetHandle a = fullPool_.Acquire(screen_.get(), !fast);
  {
    // Drawn into a target, not onto the output: not part of the drawn area.
    TTracking hidden(*this);
    hidden.keep = false;
    screen_->PushRenderTarget(a.get());
    screen_->Clear(0, false);
    if (pattern) {
      // The pattern belongs to the picture: tiled in the items' coordinates over the whole view.
      const TDevBitmap& bitmap = pattern->Bitmap();
      TImageParams plain;
      if (bitmap.Width() > 0 && bitmap.Height() > 0)
        for (int32_t y = 0; y < logical.height; y += bitmap.Height())
          for (int32_t x = 0; x < logical.width; x += bitmap.Width())
            DrawImage(*pattern, {float(x) - offset.x, float(y) - offset.y, 0}, plain, {1, 0, 0}, {0, 1, 0},
                      {0, 0});
    }
    TDeviceDrawer::DrawItem(content);
    screen_->batch->Flush();
    screen_->PopRenderTarget();
  }

  if (fast) {
    // One flat picture: draw it with the content as its second layer, no second target needed.
    TMultiTexture6* texture = ImageTexture(*only->image, only->imageParams);
    if (texture) {
      texture->secondLayer = a.get();
      texture->secondOffset = {};
      DrawImage(*only->image, only->placement, only->imageParams, only->xAxis, only->yAxis, only->pivot);
      screen_->batch->Flush();
      texture->secondLayer = nullptr;
    }
    return;
  }
  TRenderTargetHandle b = fullPool_.Acquire(screen_.get(), true);
  TRect shown;
  {
    TTracking masks(*this);
    masks.keep = false;
    screen_->PushRenderTarget(b.get());
    screen_->Clear(0, true);
    screen_->renderer->SetBlendMode(1);
    for (int32_t i = 0; i < count; ++i) {
      const TMaskLayer& layer = layers[static_cast<size_t>(i)];
      if (layer.image)
        DrawImage(*layer.image, layer.placement, layer.imageParams, layer.xAxis, layer.yAxis, layer.pivot);
      else if (layer.video)
        DrawVideo(*layer.video, layer.placement, layer.videoParams, layer.xAxis, layer.yAxis, layer.pivot);
    }
    screen_->batch->Flush();
    screen_->renderer->SetBlendMode(0);
    screen_->PopRenderTarget();
    // Where no mask layer drew, the product is clear: only the layers' area is composed.
    shown = DrawnArea();
  }
  if (shown.IsEmpty()) return;
  TScreenPixels plain(*screen_);
  TCustomTexture* both[2] = {b.get(), a.get()};
  const TFloatRect area{float(shown.left), float(shown.top), float(shown.right), float(shown.bottom)};
  const TFloatRect rects[2] = {area, area};
  const uint32_t white = 0xFFFFFFFF;
  // Targets of plain alpha take only the vertex alpha in the fixed stages; the product is taken here.
  if (!maskProduct_)
    maskProduct_ = MakeOwned<TShader>(screen_.get(), TShader::kPixel, std::string(kMaskProduct));
  if (T3DShader* product = maskProduct_->GetShader()) screen_->renderer->SetShader(product);
  TQuadPlacement where;
  where.origin = {area.left, area.top, 0};
  where.pivot = {area.left, area.top};
  screen_->DrawQuad(both, 2, {white, white, white, white}, rects, where, 2);
  screen_->batch->Flush();
  screen_->renderer->SetShader(nullptr);
  TrackScreenRect(shown);
}

} // namespace kiv

// Blur and sharpen of an item and everything under it: the item is drawn into a screen-sized target, and
// only the area it covered goes through the Gauss passes at half size or the unsharp shader.

#include "ScreenDrawer.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <string>

namespace kiv {

// ---- blur and sharpen ----

bool T3DDrawer::DrawItem(TDrawItem& item) {
  if (depth == 0) return TDeviceDrawer::DrawItem(item);
  const float b = item.GetBlur();
  if (insideBlur_ || (b < 1e-5f && (b >= 0 || sharpenTarget_))) return TDeviceDrawer::DrawItem(item);
  if (!IsReady()) return false;
  struct TFlag {
    explicit TFlag(bool& value) : flag(value) { flag = true; }
    ~TFlag() { flag = false; }
    bool& flag;
  } inside(insideBlur_);
  const TSize view = GetViewSize();
  const double w = (viewSize.width > 0 && viewSize.height > 0) ? view.width : frameArea.Width();
  Notify(&item, kNotifyBeforeItem);
  if (b > 0) {
    // The radius is in the items' coordinates; the targets hold screen pixels.
    const double pixels = view.width > 0 ? double(GetViewArea().Width()) / view.width : 1;
    Blur(item, b / 1000.0 * w * pixels);
  } else {
    BeginSharpen();
    TDeviceDrawer::DrawItem(item);
    EndSharpen(0, static_cast<float>(-b / 100.0 * w));
  }
  Notify(&item, kNotifyAfterItem);
  return true;
}

void T3DDrawer::DrawTargetAt(TRenderTargetTexture& target, const TFloatRect& source, const T3DPoint& at,
                             float scale) {
  TQuadPlacement where;
  where.origin = at;
  where.pivot = {source.left, source.top};
  where.xAxis = {scale, 0, 0};
  where.yAxis = {0, scale, 0};
  TCustomTexture* layers[1] = {&target};
  const TFloatRect rects[1] = {source};
  const uint32_t white = 0xFFFFFFFF;
  screen_->DrawQuad(layers, 1, {white, white, white, white}, rects, where, 1);
}

void T3DDrawer::GaussPass(TRenderTargetTexture& from, TRenderTargetTexture* to, bool horizontal,
                          float strength, int32_t step, const TRect& area, TPoint landing) {
  TShader* shader = Shader(horizontal ? "gauss_blur_h7" : "gauss_blur_v7");
  if (!shader || !shader->GetShader()) return;
  const std::array<float, 4> weights = GaussWeights(strength);
  const float stepSize =
      static_cast<float>(step) / static_cast<float>(horizontal ? from.texWidth : from.texHeight);
  const float constants[8] = {weights[0], weights[1], weights[2], weights[3], stepSize, 0, 0, 0};
  const int32_t grow = 7 * step;
  const TRect region =
      IntersectRect({area.left - grow, area.top - grow, area.right + grow, area.bottom + grow},
                    {0, 0, from.width, from.height});
  if (region.IsEmpty()) return;
  const TFloatRect source{float(region.left), float(region.top), float(region.right), float(region.bottom)};
  if (to) {
    screen_->PushRenderTarget(to);
    screen_->Clear(0, false);
  }
  screen_->renderer->SetShader(shader->GetShader());
  screen_->renderer->SetShaderConstants(0, constants, 2, false);
  if (to) {
    DrawTargetAt(from, source, {source.left, source.top, 0}, 1);
  } else {
    // The last pass lands on the current target at twice the scale, where the drawn area lies.
    const float scale = 2;
    const T3DPoint at{float(landing.x) + (source.left - area.left) * scale,
                      float(landing.y) + (source.top - area.top) * scale, 0};
    DrawTargetAt(from, source, at, scale);
    TrackScreenRect({int32_t(std::floor(at.x)), int32_t(std::floor(at.y)),
                     int32_t(std::ceil(at.x + (source.right - source.left) * scale)),
                     int32_t(std::ceil(at.y + (source.bottom - source.top) * scale))});
  }
  screen_->batch->Flush();
  screen_->renderer->SetShader(nullptr);
  if (to) screen_->PopRenderTarget();
}

void T3DDrawer::Blur(TDrawItem& item, double radius) {
  TRect area;
  TRenderTargetHandle full = fullPool_.Acquire(screen_.get(), true);
  {
    // The item is drawn as on the screen, view mapping included; only what it covers is blurred.
    TTracking tracking(*this);
    screen_->PushRenderTarget(full.get());
    screen_->Clear(0, false);
    item.Draw(*this);
    screen_->batch->Flush();
    screen_->PopRenderTarget();
    area = DrawnArea();
    tracking.keep = false;
  }
  if (area.IsEmpty()) return;
  // Even corners: the half-size copy averages the same pixel pairs wherever the item lies.
  area = IntersectRect(
      {area.left & ~1, area.top & ~1, area.right + (area.right & 1), area.bottom + (area.bottom & 1)},
      bounds);
  TScreenPixels plain(*screen_);

  // Half size, the drawn area centred in the target.
  TRenderTargetHandle half = halfPool_.Acquire(screen_.get(), true);
  const int32_t w = area.Width(), h = area.Height();
  const int32_t ox = std::max(0, static_cast<int32_t>((half->width - w / 2.0) / 2)),
                oy = std::max(0, static_cast<int32_t>((half->height - h / 2.0) / 2));
  const TRect halfArea{ox, oy, ox + (w + 1) / 2, oy + (h + 1) / 2};
  screen_->PushRenderTarget(half.get());
  screen_->Clear(0, false);
  DrawTargetAt(*full, {float(area.left), float(area.top), float(area.right), float(area.bottom)},
               {float(ox), float(oy), 0}, 0.5f);
  screen_->batch->Flush();
  screen_->PopRenderTarget();

  const TBlurPlan plan = PlanBlur(radius / 2);
  if (!plan.mixOnly) {
    TRenderTargetHandle other = halfPool_.Acquire(screen_.get(), true);
    int32_t step = 1;
    for (int32_t i = 0; i < plan.fullPasses; ++i) {
      GaussPass(*half, other.get(), true, 1, step, halfArea, {});
      GaussPass(*other, half.get(), false, 1, step, halfArea, {});
      step *= 2;
    }
    GaussPass(*half, other.get(), true, plan.finalStrength, step, halfArea, {});
    GaussPass(*other, nullptr, false, plan.finalStrength, step, halfArea, {area.left, area.top});
  } else if (TShader* mix = Shader("gauss_mix"); mix && mix->GetShader()) {
    const float alpha[4] = {plan.mixAlpha, 0, 0, 0};
    screen_->renderer->SetShader(mix->GetShader());
    screen_->renderer->SetShaderConstants(0, alpha, 1, false);
    TCustomTexture* layers[2] = {full.get(), half.get()};
    const TFloatRect rects[2] = {
        {float(area.left), float(area.top), float(area.right), float(area.bottom)},
        {float(halfArea.left), float(halfArea.top), float(ox + w / 2.0f), float(oy + h / 2.0f)}};
    TQuadPlacement where;
    where.origin = {float(area.left), float(area.top), 0};
    where.pivot = {float(area.left), float(area.top)};
    const uint32_t white = 0xFFFFFFFF;
    screen_->DrawQuad(layers, 2, {white, white, white, white}, rects, where, 2);
    screen_->batch->Flush();
    screen_->renderer->SetShader(nullptr);
    TrackScreenRect(area);
  }
}

void T3DDrawer::BeginSharpen() {
  if (ShaderLevel() != 2 || sharpenTarget_) return;
  sharpenTarget_ = fullPool_.Acquire(screen_.get(), true);
  sharpenTracking_.emplace(*this);
  screen_->PushRenderTarget(sharpenTarget_.get());
  screen_->Clear(0, false);
}

void T3DDrawer::EndSharpen(uint8_t threshold, float amount) {
  if (ShaderLevel() != 2 || !sharpenTarget_) return;
  screen_->batch->Flush();
  screen_->PopRenderTarget();
  // The 3 x 3 kernel reaches one pixel beyond what was drawn; outside that the target is clear.
  const TRect drawn = DrawnArea();
  sharpenTracking_->keep = false;
  sharpenTracking_.reset();
  const TRect area =
      IntersectRect({drawn.left - 1, drawn.top - 1, drawn.right + 1, drawn.bottom + 1}, bounds);
  DevLog("apply unsharp, amount= " + std::to_string(amount));
  TShader* shader = Shader("unsharp");
  if (shader && shader->GetShader() && !area.IsEmpty()) {
    TScreenPixels plain(*screen_);
    const float constants[12] = {float(sharpenTarget_->invTexWidth),
                                 float(sharpenTarget_->invTexHeight),
                                 0,
                                 0,
                                 threshold / 256.f,
                                 0,
                                 0,
                                 0,
                                 amount / 100.f,
                                 0,
                                 0,
                                 0};
    screen_->renderer->SetShader(shader->GetShader());
    screen_->renderer->SetShaderConstants(0, constants, 3, false);
    const TFloatRect source{float(area.left), float(area.top), float(area.right), float(area.bottom)};
    DrawTargetAt(*sharpenTarget_, source, {source.left, source.top, 0}, 1);
    screen_->batch->Flush();
    screen_->renderer->SetShader(nullptr);
    TrackScreenRect(area);
  }
  sharpenTarget_.reset();
}

} // namespace kiv

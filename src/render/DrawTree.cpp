#include "DrawTree.h"

#include "Assert.h"
#include "RoundHalfEven.h"

#include <algorithm>
#include <cmath>

namespace kiv {

void TDrawImage::RemoveAttachments(const std::function<bool(TObj*)>& which) {
  std::erase_if(attachments, [&](const TOwned<TObj>& item) { return which(item.get()); });
}

// ---- the drawer base ----

bool TDeviceDrawer::Notify(TDrawItem* item, int code) {
  RY_ASSERT_MSG(OnNotify != nullptr, "TDeviceDrawer: no owner callback");
  return OnNotify(*this, item, code);
}

bool TDeviceDrawer::SetOffset(TFloatPoint point) {
  offset = point;
  offsetSet = point.x != 0 || point.y != 0;
  return offsetSet;
}

TSize TDeviceDrawer::GetViewSize() const {
  if (viewSize.width > 0 && viewSize.height > 0) return viewSize;
  return {bounds.Width(), bounds.Height()};
}

bool TDeviceDrawer::DrawInside(TDrawItem& item) {
  if (!IsReady()) return false;
  Notify(&item, kNotifyBeforeItem);
  item.Draw(*this);
  Notify(&item, kNotifyAfterItem);
  return true;
}

namespace {

struct TDepthGuard {
  explicit TDepthGuard(int32_t& value) : depth(value) { ++depth; }
  ~TDepthGuard() { --depth; }
  int32_t& depth;
};

} // namespace

bool TDeviceDrawer::DrawItem(TDrawItem& item) {
  RY_ASSERT_MSG(OnNotify != nullptr, "TDeviceDrawer: no owner callback");
  if (depth != 0) {
    TDepthGuard nested(depth);
    return DrawInside(item);
  }
  std::lock_guard frame(frameLock_);
  bool presented = false;
  try {
    TDepthGuard top(depth);
    BeginFrame();
    // Through the virtual entry so that a drawer's own rules (blur) apply to the top item as well.
    if (IsReady()) DrawItem(item);
    EndFrame();
    presented = Present();
  } catch (...) {
    item.FrameDone(*this);
    throw;
  }
  item.FrameDone(*this);
  return presented;
}

std::optional<TDevBitmap> TDeviceDrawer::GetScreenshot() {
  TDevBitmap bitmap(bounds.Width(), bounds.Height(), TPixelFormat::pf32bit);
  if (bounds.IsEmpty() || !CopyTo(bitmap)) return std::nullopt;
  return bitmap;
}

void TDeviceDrawer::FillOutside(uint32_t color) {
  const TRect u = GetUpdateRect();
  const TRect b{bounds.left - 1, bounds.top - 1, bounds.right + 1, bounds.bottom + 1};
  const uint32_t opaque = color | 0xFF000000u;
  const TRect bands[4] = {{b.left, b.top, b.right, u.top},
                          {b.left, u.top, u.left, u.bottom},
                          {u.right, u.top, b.right, u.bottom},
                          {b.left, u.bottom, b.right, b.bottom}};
  for (const TRect& band : bands)
    if (!band.IsEmpty()) ClearRect(opaque, band);
}

// ---- pure rules ----

namespace {

uint32_t Average(uint32_t a, uint32_t b) {
  uint32_t out = 0;
  for (int shift = 0; shift < 32; shift += 8)
    out |= ((((a >> shift) & 0xFF) + ((b >> shift) & 0xFF)) / 2) << shift;
  return out;
}

uint32_t WithOpacity(uint32_t color, float opacity) {
  if (opacity >= 100) return color;
  const double alpha = std::trunc(static_cast<double>(color >> 24) * opacity / 100.0);
  return (static_cast<uint32_t>(std::clamp(alpha, 0.0, 255.0)) << 24) | (color & 0x00FFFFFFu);
}

} // namespace

TQuadColors BoxCornerColors(uint8_t fillType, uint32_t color1, uint32_t color2, float opacity) {
  RY_ASSERT_MSG(fillType <= 8, "DrawBox: fill type out of range");
  const uint32_t c1 = WithOpacity(color1, opacity), c2 = WithOpacity(color2, opacity), avg = Average(c1, c2);
  switch (fillType) {
  case 0:
    return {c1, avg, avg, c2};
  case 1:
    return {avg, c1, c2, avg};
  case 2:
    return {c2, avg, avg, c1};
  case 3:
    return {avg, c2, c1, avg};
  case 4:
    return {c2, c2, c1, c1};
  case 5:
    return {c1, c1, c2, c2};
  case 6:
    return {c1, c2, c1, c2};
  case 7:
    return {c2, c1, c2, c1};
  default:
    return {c1, c1, c1, c1};
  }
}

uint8_t ImageOpacityByte(float opacity) {
  // 255/100 rather than 2.55: 2.55 is not exact in binary and 100 percent would land a hair below 255.
  const double value = static_cast<double>(opacity) * 255.0 / 100.0;
  if (!(value > 0)) return 0;
  return static_cast<uint8_t>(std::min<int64_t>(Round(value), 255));
}

uint8_t TruncOpacityByte(float opacity) {
  const double value = static_cast<double>(opacity) * 255.0 / 100.0;
  if (!(value > 0)) return 0;
  return static_cast<uint8_t>(std::min(std::trunc(value), 255.0));
}

TBlurPlan PlanBlur(double t) {
  TBlurPlan plan;
  if (t >= 1e-5 && t < 1) {
    plan.mixOnly = true;
    plan.mixAlpha = static_cast<float>((t - 1e-5) / 0.99999);
    return plan;
  }
  if (t > 7) {
    const double l = std::log2(t / 7);
    int32_t n = static_cast<int32_t>(l);
    double s = l - n;
    if (s > 0)
      ++n;
    else
      s = 1;
    plan.fullPasses = n;
    plan.finalStrength = static_cast<float>(s);
  } else {
    plan.fullPasses = 0;
    plan.finalStrength = t > 1 ? static_cast<float>((t - 1) / 6) : 0.f;
  }
  plan.finalStep = 1 << std::min(plan.fullPasses, 30);
  return plan;
}

std::array<float, 4> GaussWeights(float x) {
  return {0.065722f * x, 0.108356f * x, 0.17865f * x, 0.294544f * x + (1 - x)};
}

TRect FixedSizeArea(const TRect& update, TSize fixed) {
  if (update.IsEmpty()) return update;
  const int32_t left = static_cast<int32_t>(Round((update.left + update.right - fixed.width) / 2.0));
  const int32_t top = static_cast<int32_t>(Round((update.top + update.bottom - fixed.height) / 2.0));
  return {left, top, left + fixed.width, top + fixed.height};
}

std::vector<TTransitionStep> TransitionDrawOrder(TFilterKind kind, bool reverse, double position) {
  const bool late = position >= 0.5;
  switch (kind) {
  case TFilterKind::Overturn:
    if (!reverse) return {{late ? 1 : 0, true}};
    return {{late ? 0 : 1, true}};
  case TFilterKind::TwoSlides:
    if (late != reverse) return {{0, true}, {1, true}};
    return {{1, true}, {0, true}};
  case TFilterKind::Push:
  case TFilterKind::Plain:
    if (!reverse) return {{0, false}, {1, true}};
    return {{1, false}, {0, true}};
  }
  return {};
}

} // namespace kiv

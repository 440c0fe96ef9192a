#include "ScreenDrawer.h"

#include "PixelShaders.h"
#include "Assert.h"
#include "RoundHalfEven.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace kiv {

namespace {

T3DPoint Scaled(const T3DPoint& p, float f) {
  return {p.x * f, p.y * f, p.z * f};
}

constexpr const char* kShaderNames[10] = {
    "unsharp",   "yuv_lum",          "yuv_deinterlace_lum", "chromakey",     "chroma_deinter",
    "videomask", "color_correction", "gauss_blur_h7",       "gauss_blur_v7", "gauss_mix"};

} // namespace

TQuadPlacement DrawPlacement(const T3DPoint& at, TFloatPoint pivot, const T3DPoint& xAxis,
                             const T3DPoint& yAxis, TFloatPoint offset) {
  TQuadPlacement where;
  where.origin = {at.x + offset.x, at.y + offset.y, at.z};
  where.pivot = pivot;
  where.xAxis = xAxis;
  where.yAxis = yAxis;
  return where;
}

// ---- pictures with their own texture ----

TImageTexture::TImageTexture(T3DScreen* screen, const TDrawImage& owner)
    : TCustomTexture(screen), image(&owner) {
  const TDevBitmap& bitmap = owner.Bitmap();
  SetSize({bitmap.Width(), bitmap.Height()});
}

void TImageTexture::FillLevel0(std::span<TDevBitmap* const> levels) {
  const TDevBitmap& from = image->Bitmap();
  TDevBitmap& to = *levels[0];
  const int32_t w = std::min(from.Width(), to.Width()), h = std::min(from.Height(), to.Height());
  if (w <= 0 || h <= 0 || BytesPerPixel(from.Format()) != 4) return;
  for (int32_t y = 0; y < h; ++y)
    std::memcpy(to.ScanLine(y), from.ScanLine(y), static_cast<size_t>(w) * 4);
}

// ---- the drawer ----

T3DDrawer::T3DDrawer(TOwned<T3DScreen> screen) : screen_(std::move(screen)) {
  RY_ASSERT(screen_);
  textures_ = TRef<TTextureManager6>::Make(screen_.get());
  antialiaser_ = MakeOwned<TBoxAntialiaser>(screen_.get());
}

T3DDrawer::~T3DDrawer() {
  std::lock_guard lock(resourceLock_);
  effecter_.reset();
  // Images someone still holds outlive the drawer without textures.
  for (auto& video : videos_)
    video->Detach();
  videos_.clear();
  shaders_.clear();
  maskProduct_.reset();
  sharpenTarget_.reset();
  fullPool_.Clear();
  halfPool_.Clear();
  antialiaser_.reset();
  // Multi-textures still attached to pictures keep the manager, without the screen.
  textures_->DetachScreen();
  textures_.reset();
  screen_.reset();
}

int32_t T3DDrawer::ShaderLevel() const {
  T3DEngine* engine = Engine();
  return engine ? engine->ShaderLevel(screen_->adapter) : 0;
}

TShader* T3DDrawer::Shader(const char* name) {
  auto found = shaders_.find(name);
  return found == shaders_.end() ? nullptr : found->second.get();
}

void T3DDrawer::Init(TDrawDevice* device) {
  std::lock_guard lock(resourceLock_);
  DevLog("T3DDrawer.Init");
  screen_->AssignDevice(device);
  for (const char* name : kShaderNames)
    if (!shaders_.count(name))
      shaders_[name] = MakeOwned<TShader>(screen_.get(), TShader::kPixel, std::string(PixelShaderCode(name)));
  bounds = {0, 0, screen_->Width(), screen_->Height()};
  frameArea = GetUpdateRect();
}

void T3DDrawer::Close() {
  std::lock_guard lock(resourceLock_);
  DevLog("T3DDrawer.Close");
  screen_->ReleaseRenderer();
}

bool T3DDrawer::BeginFrame() {
  // A frame that ended in an exception may have left render targets pushed or a sharpen pending; without
  // this every later frame would draw into a target that is never shown.
  while (screen_->targetStack.size() > 1)
    screen_->PopRenderTarget();
  sharpenTracking_.reset();
  sharpenTarget_.reset();
  bounds = {0, 0, screen_->Width(), screen_->Height()};
  fullPool_.SetSize({bounds.Width(), bounds.Height()});
  halfPool_.SetSize({bounds.Width() / 2, bounds.Height() / 2});
  screen_->BeginScene();
  bounds = {0, 0, screen_->Width(), screen_->Height()};
  frameArea = fixedSizeSet ? FixedSizeArea(GetUpdateRect(), fixedSize) : GetUpdateRect();
  return Notify(nullptr, kNotifyFrameBegin);
}

bool T3DDrawer::EndFrame() {
  return Notify(nullptr, kNotifyFrameEnd);
}

bool T3DDrawer::Present() {
  return screen_->EndScene(mode == 0);
}

bool T3DDrawer::IsReady() {
  return screen_->IsReady();
}

TRect T3DDrawer::GetTargetRect() {
  return screen_->GetTargetRect();
}

void T3DDrawer::SetFixedSize(TSize size) {
  fixedSize = size;
  fixedSizeSet = size.width > 0 && size.height > 0;
  const TRect update = GetUpdateRect();
  if (!update.IsEmpty()) frameArea = fixedSizeSet ? FixedSizeArea(update, size) : update;
}

bool T3DDrawer::ResetStates() {
  return screen_->renderer && screen_->renderer->SetDefaultStates();
}

void T3DDrawer::Clear(uint32_t color, bool withDepth) {
  // The device clears only inside the viewport, which a view area narrows; the whole target is meant.
  TScreenPixels plain(*screen_);
  screen_->Clear(color, withDepth);
  TrackAll();
}

void T3DDrawer::ClearRect(uint32_t color, const TRect& rect) {
  // Screen pixels, also outside the view area (the bands of FillOutside).
  TScreenPixels plain(*screen_);
  screen_->ClearRect(color, rect);
  TrackScreenRect(IntersectRect(rect, bounds));
}

void T3DDrawer::SetViewArea(const TRect& area, TSize size) {
  TDeviceDrawer::SetViewArea(area, size);
  // The screen maps the view onto every target it selects, so that masks, blur and sharpen drawing into
  // render targets see the same picture as the screen.
  screen_->SetView(area, size);
}

bool T3DDrawer::CopyTo(TDevBitmap& bitmap) {
  if (mode == 0) return true;
  if (!screen_->renderer) return false;
  T3DSurface* back = nullptr;
  if (!screen_->renderer->GetBackBuffer(back) || !back) return false;
  return back->CopyToBitmap(bitmap);
}

// ---- pictures ----

TMultiTexture6* T3DDrawer::ImageTexture(TDrawImage& image, const TImageParams& params) {
  std::lock_guard lock(resourceLock_);
  auto* store = image.FindAttachment<TTextureStore2>();
  if (!store) {
    image.attachments.push_back(MakeOwned<TTextureStore2>());
    store = static_cast<TTextureStore2*>(image.attachments.back().get());
  }
  const std::string key =
      MultiTextureKey(params.reductionLevel, params.columns, params.rows, params.premultiplied);
  if (TMultiTexture6* found = store->Find(key)) return found;
  const TDevBitmap& bitmap = image.Bitmap();
  if (bitmap.Width() <= 0 || bitmap.Height() <= 0) return nullptr;
  auto texture = MakeOwned<TMultiTexture6>(textures_);
  texture->SetBitmap(bitmap, params.premultiplied, std::max(params.columns, 1), std::max(params.rows, 1),
                     {0, 0, bitmap.Width(), bitmap.Height()});
  return store->Add(key, std::move(texture));
}

TCustomTexture* T3DDrawer::AttachTexture(TDrawImage& image) {
  std::lock_guard lock(resourceLock_);
  if (auto* own = image.FindAttachment<TCustomTexture>()) return own;
  const TDevBitmap& bitmap = image.Bitmap();
  if (bitmap.Width() <= 0 || bitmap.Height() <= 0 || bitmap.Width() > kMaxOwnTexture ||
      bitmap.Height() > kMaxOwnTexture)
    return nullptr;
  image.attachments.push_back(MakeOwned<TImageTexture>(screen_.get(), image));
  return static_cast<TCustomTexture*>(image.attachments.back().get());
}

void T3DDrawer::PrepareImage(TDrawImage& image, const TImageParams& params) {
  std::lock_guard lock(resourceLock_);
  TDeviceLockGuard device(DeviceLock());
  if (auto* own = image.FindAttachment<TCustomTexture>(); own && own->GetTexture()) return;
  if (TMultiTexture6* texture = ImageTexture(image, params)) texture->Upload();
}

void T3DDrawer::ReleaseImage(TDrawImage& image) {
  std::lock_guard lock(resourceLock_);
  TDeviceLockGuard device(DeviceLock());
  image.RemoveAttachments([](TObj* item) {
    return dynamic_cast<TTextureStore2*>(item) != nullptr || dynamic_cast<TImageTexture*>(item) != nullptr;
  });
}

void T3DDrawer::DrawImage(TDrawImage& image, const T3DPoint& placement, const TImageParams& params,
                          const T3DPoint& xAxis, const T3DPoint& yAxis, TFloatPoint pivot) {
  TCustomTexture* own = image.FindAttachment<TCustomTexture>();
  if (own) {
    TDeviceLockGuard device(DeviceLock());
    if (!own->GetTexture()) own = nullptr; // not ready: the picture goes through its tiles
  }
  if (own) {
    const uint32_t color = uint32_t{TruncOpacityByte(params.opacity)} << 24 | 0x00FFFFFFu;
    own->pointFilter = !params.linearFilter;
    TFloatRect source = params.sourceRect;
    if (source.right <= source.left || source.bottom <= source.top)
      source = {0, 0, static_cast<float>(own->width), static_cast<float>(own->height)};
    const TQuadPlacement where = DrawPlacement(placement, pivot, xAxis, yAxis, offset);
    TrackQuad(where, source);
    TCustomTexture* layers[1] = {own};
    TModulateScope modulate(*screen_);
    if (params.antialiased) {
      TFeatherPatch patch;
      screen_->BuildFeatherPatch(where, source, {true, true, true, true}, patch);
      screen_->DrawPatch(layers, 1, nullptr, {color, color, color, color}, patch, 1);
    } else {
      const TFloatRect rects[1] = {source};
      screen_->DrawQuad(layers, 1, {color, color, color, color}, rects, where, 1);
    }
    return;
  }
  std::lock_guard lock(resourceLock_);
  const int32_t level = std::clamp(params.reductionLevel, 0, 30);
  const float f = static_cast<float>(1 << level);
  TMultiTexture6* texture = ImageTexture(image, params);
  if (!texture) return;
  TFloatRect source = params.sourceRect;
  if (source.right <= source.left || source.bottom <= source.top)
    source = {0, 0, static_cast<float>(texture->Width()), static_cast<float>(texture->Height())};
  else
    source = {source.left / f, source.top / f, source.right / f, source.bottom / f};
  texture->tintOn = params.tint || params.colorCorrection > 0;
  texture->tintColor = params.tintColor;
  texture->opacity = ImageOpacityByte(params.opacity);
  texture->pointFilter = !params.linearFilter;
  texture->mipMapped = true;
  texture->lodBias = params.lodBias;
  texture->antialiased = params.antialiased;
  TrackQuad(DrawPlacement(placement, {pivot.x / f, pivot.y / f}, Scaled(xAxis, f), Scaled(yAxis, f), offset),
            source);
  TShader* correction = params.colorCorrection > 0 ? Shader("color_correction") : nullptr;
  if (correction && correction->GetShader()) {
    const float degree[4] = {params.colorCorrection, 0, 0, 0};
    screen_->renderer->SetShader(correction->GetShader());
    screen_->renderer->SetShaderConstants(0, degree, 1, false);
  }
  texture->Draw({placement.x + offset.x, placement.y + offset.y, placement.z}, {pivot.x / f, pivot.y / f},
                source, Scaled(xAxis, f), Scaled(yAxis, f));
  if (correction && screen_->renderer) {
    screen_->batch->Flush();
    screen_->renderer->SetShader(nullptr);
  }
}

// ---- boxes, frames, rectangles ----

void T3DDrawer::DrawBox(const T3DPoint& placement, TFloatPoint pivot, const TBoxParams& params,
                        const T3DPoint& xAxis, const T3DPoint& yAxis) {
  if (!(params.opacity > 0)) return;
  const TQuadColors colors = BoxCornerColors(params.fillType, params.color1, params.color2, params.opacity);
  const TQuadPlacement where = DrawPlacement(placement, pivot, xAxis, yAxis, offset);
  TrackQuad(where, {0, 0, params.width, params.height});
  const TEdgeFlags edges{params.antialias[0], params.antialias[1], params.antialias[2], params.antialias[3]};
  if (edges[0] || edges[1] || edges[2] || edges[3]) {
    antialiaser_->DrawBox(PlacePoint(where, 0, 0), yAxis, edges, colors, xAxis,
                          {params.width, params.height});
    return;
  }
  screen_->DrawTriangles(PlacePoint(where, 0, 0), PlacePoint(where, params.width, 0),
                         PlacePoint(where, 0, params.height), PlacePoint(where, params.width, params.height),
                         colors);
}

void T3DDrawer::DrawFrame(const T3DPoint& placement, TFloatPoint pivot, bool antialiased, float opacity,
                          uint32_t color, TFloatPoint size, TFloatPoint thickness, const T3DPoint& xAxis,
                          const T3DPoint& yAxis) {
  if (!(thickness.x > 0) || !(thickness.y > 0)) return;
  struct TBand {
    float left, top, right, bottom;
    std::array<bool, 4> edges;
  };
  const float w = size.x, h = size.y, tx = thickness.x, ty = thickness.y;
  const TBand bands[4] = {{0, 0, tx, h, {true, true, false, true}},
                          {w - tx, 0, w, h, {false, true, true, true}},
                          {tx, 0, w - tx, ty, {false, true, false, false}},
                          {tx, h - ty, w - tx, h, {false, false, false, true}}};
  for (const TBand& band : bands) {
    TBoxParams box;
    box.color1 = box.color2 = color;
    box.opacity = opacity;
    box.width = band.right - band.left;
    box.height = band.bottom - band.top;
    if (!(box.width > 0) || !(box.height > 0)) continue;
    if (antialiased) box.antialias = band.edges;
    DrawBox(placement, {pivot.x - band.left, pivot.y - band.top}, box, xAxis, yAxis);
  }
}

void T3DDrawer::DrawRectangle(TFloatPoint a, TFloatPoint b, uint32_t color) {
  const float l = std::min(a.x, b.x), r = std::max(a.x, b.x), t = std::min(a.y, b.y), bo = std::max(a.y, b.y);
  Track({l + offset.x, t + offset.y, 0});
  Track({r + offset.x, bo + offset.y, 0});
  screen_->DrawTriangles({l + offset.x, t + offset.y, 0}, {r + offset.x, t + offset.y, 0},
                         {l + offset.x, bo + offset.y, 0}, {r + offset.x, bo + offset.y, 0},
                         {color, color, color, color});
}

// ---- drawn area ----

void T3DDrawer::Track(const T3DPoint& p) {
  if (!tracking_) return;
  const TFloatPoint at = screen_->ProjectToScreen(p);
  // A point at or behind the eye has no place on the screen.
  if (!(p.z + float(screen_->LogicalSize().height) > 0) || !std::isfinite(at.x) || !std::isfinite(at.y)) {
    TrackAll();
    return;
  }
  TrackPixels({at.x, at.y, at.x, at.y});
}

void T3DDrawer::TrackQuad(const TQuadPlacement& where, const TFloatRect& rect) {
  if (!tracking_) return;
  Track(PlacePoint(where, rect.left, rect.top));
  Track(PlacePoint(where, rect.right, rect.top));
  Track(PlacePoint(where, rect.left, rect.bottom));
  Track(PlacePoint(where, rect.right, rect.bottom));
}

void T3DDrawer::TrackScreenRect(const TRect& rect) {
  if (!rect.IsEmpty())
    TrackPixels({float(rect.left), float(rect.top), float(rect.right), float(rect.bottom)});
}

void T3DDrawer::TrackPixels(const TFloatRect& r) {
  if (!tracking_) return;
  drawn_ = drawnAny_ ? TFloatRect{std::min(drawn_.left, r.left), std::min(drawn_.top, r.top),
                                  std::max(drawn_.right, r.right), std::max(drawn_.bottom, r.bottom)}
                     : r;
  drawnAny_ = true;
}

void T3DDrawer::TrackAll() {
  TrackScreenRect(bounds);
}

TRect T3DDrawer::DrawnArea() const {
  if (!drawnAny_) return {};
  // Outward to whole pixels, and one more for the feathered ring around antialiased edges.
  const TRect grown{
      static_cast<int32_t>(std::floor(drawn_.left)) - 1, static_cast<int32_t>(std::floor(drawn_.top)) - 1,
      static_cast<int32_t>(std::ceil(drawn_.right)) + 1, static_cast<int32_t>(std::ceil(drawn_.bottom)) + 1};
  return IntersectRect(grown, bounds);
}

T3DDrawer::TTracking::TTracking(T3DDrawer& owner)
    : drawer(owner), wasTracking(owner.tracking_), wasAny(owner.drawnAny_), was(owner.drawn_) {
  drawer.tracking_ = true;
  drawer.drawnAny_ = false;
}

T3DDrawer::TTracking::~TTracking() {
  const bool any = drawer.drawnAny_;
  const TFloatRect here = drawer.drawn_;
  drawer.tracking_ = wasTracking;
  drawer.drawnAny_ = wasAny;
  drawer.drawn_ = was;
  // What was drawn here also counts for an enclosing collection.
  if (keep && any) drawer.TrackPixels(here);
}

T3DDrawer::TScreenPixels::TScreenPixels(T3DScreen& owner)
    : screen(owner), area(owner.viewRect), size(owner.viewSize) {
  screen.SetView({}, {});
}

T3DDrawer::TScreenPixels::~TScreenPixels() {
  screen.SetView(area, size);
}

// ---- transitions ----

void T3DDrawer::DrawThroughFilter(TTransitionFilter& filter, TDrawItem& item) {
  filter.DrawThrough(*this, item);
  TrackAll(); // the filter draws through the screen directly
}

void T3DDrawer::DrawTransition(TDrawItem& first, TDrawItem& second, TFilterParams* params) {
  auto* transition = dynamic_cast<TTransitionParams*>(params);
  if (!transition) {
    DrawItem(first);
    return;
  }
  if (!transition->filter && transitionFactory_) {
    transition->filter = transitionFactory_(frameArea, *transition, first);
  }
  TTransitionFilter* filter = transition->filter.get();
  if (filter) filter->SetPosition(transition->progress);
  if (!filter || transition->progress < 0 || transition->progress >= filter->Length()) {
    DrawItem(second);
    return;
  }
  if (filter->DrawsPair()) {
    filter->DrawPair(*this, first, second);
    TrackAll();
    return;
  }
  const double length = filter->Length();
  const double position = length > 0 ? filter->Position() / length : 1;
  TDrawItem* items[2] = {&first, &second};
  for (const TTransitionStep& step : TransitionDrawOrder(filter->Kind(), filter->Reverse(), position)) {
    TDrawItem& item = *items[step.item];
    if (step.throughFilter) {
      DrawThroughFilter(*filter, item);
    } else if (filter->Kind() == TFilterKind::Push && !filter->Reverse()) {
      const TFloatPoint saved = offset;
      // The push is measured on the screen; the offset applies in the items' coordinates.
      const TFloatPoint push = filter->PushOffset();
      const TRect view = GetViewArea();
      const TSize logical = GetViewSize();
      const float sx = view.Width() > 0 ? float(logical.width) / float(view.Width()) : 1;
      const float sy = view.Height() > 0 ? float(logical.height) / float(view.Height()) : 1;
      SetOffset({saved.x + push.x * sx, saved.y + push.y * sy});
      DrawItem(item);
      SetOffset(saved);
    } else {
      DrawItem(item);
    }
  }
}

} // namespace kiv

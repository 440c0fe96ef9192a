#include "Screen.h"

#include "Assert.h"

#include <algorithm>
#include <cmath>

namespace kiv {

namespace {

std::string BoolText(bool value) {
  return value ? "True" : "False";
}

T3DPoint Add(const T3DPoint& a, const T3DPoint& b) {
  return {a.x + b.x, a.y + b.y, a.z + b.z};
}
T3DPoint Scale(const T3DPoint& a, float s) {
  return {a.x * s, a.y * s, a.z * s};
}

} // namespace

T3DPoint PlacePoint(const TQuadPlacement& p, float u, float v) {
  return Add(p.origin, Add(Scale(p.xAxis, u - p.pivot.x), Scale(p.yAxis, v - p.pivot.y)));
}

// ================= pure rules =================

int32_t TextureDimension(int32_t logical) {
  if (logical <= 0) return 0;
  int32_t size = 32;
  while (size < logical && size < (1 << 30))
    size <<= 1;
  return size;
}

std::vector<std::pair<int32_t, int32_t>> BackOffRanges(int32_t count) {
  std::vector<std::pair<int32_t, int32_t>> ranges;
  // Until the range is empty: with a power-of-two count, stopping at 2^(k-1) = count would keep index 0.
  for (int k = 1; k < 31 && (int64_t{1} << (k - 1)) <= count; ++k)
    ranges.emplace_back(count >> k, (count >> (k - 1)) - 1);
  return ranges;
}

uint32_t BatchDrawFlags(int layerCount, bool is3D, bool anyPremultiplied) {
  if (layerCount == 0) return kDrawModulateColor | kDrawModulateAlpha;
  if (is3D || anyPremultiplied) return kDrawTextured | kDrawModulateColor | kDrawModulateAlpha;
  if (layerCount == 1) return kDrawTextured | kDrawModulateAlpha;
  return kDrawTextured;
}

uint32_t PremultiplyColor(uint32_t argb) {
  const uint32_t alpha = argb >> 24;
  uint32_t result = argb & 0xFF000000u;
  for (int shift = 0; shift < 24; shift += 8)
    result |= (((argb >> shift) & 0xFF) * alpha / 255) << shift;
  return result;
}

// ================= resources =================

TScreenResource::TScreenResource(T3DScreen* screen) : screen_(screen) {
  RY_ASSERT(screen);
  screen->resources.push_back(this);
}

TScreenResource::~TScreenResource() {
  if (screen_) std::erase(screen_->resources, this);
}

// ---- textures ----

TCustomTexture::TCustomTexture(T3DScreen* screen) : TScreenResource(screen) {}

TCustomTexture::~TCustomTexture() {
  TDeviceLockGuard lock(DeviceLock());
  texture.reset();
}

T3DTexture* TCustomTexture::GetTexture() {
  if (texture) return texture.get();
  if (width <= 0 || height <= 0 || !screen_ || !screen_->IsReady()) return nullptr;
  return screen_->CreateDeviceTexture(*this);
}

void TCustomTexture::SetSize(TSize size) {
  if (size.width == width && size.height == height) return;
  Release();
  width = size.width;
  height = size.height;
  texWidth = TextureDimension(width);
  texHeight = TextureDimension(height);
  invTexWidth = texWidth > 0 ? 1.0 / texWidth : 0;
  invTexHeight = texHeight > 0 ? 1.0 / texHeight : 0;
}

void TCustomTexture::UploadContent() {
  TDeviceLockGuard lock(DeviceLock());
  if (!texture || width <= 0 || height <= 0) return;
  const int levels = std::max(texture->GetLevelCount(), 1);
  std::vector<TDevBitmap*> bits;
  std::vector<T3DSurface*> surfaces;
  for (int level = 0; level < levels; ++level) {
    T3DSurface* surface = texture->GetSurface(level);
    if (!surface) break;
    // At least one row and one column per level: a level of no pixels would leave the texture incomplete.
    const TSize have = surface->GetSize();
    const TRect rect{0, 0, std::min(std::max(width >> level, 1), have.width),
                     std::min(std::max(height >> level, 1), have.height)};
    TDevBitmap* locked = surface->Lock(&rect, false);
    if (!locked) break;
    bits.push_back(locked);
    surfaces.push_back(surface);
  }
  if (!bits.empty()) {
    FillLevel0(bits);
    for (size_t i = 1; i < bits.size(); ++i) {
      const TDevBitmap& from = *bits[i - 1];
      TDevBitmap& to = *bits[i];
      if (to.Width() * 2 == from.Width() && to.Height() * 2 == from.Height())
        HalveBitmap(from, to);
      else
        resampler_.Resample(from, to);
    }
  }
  for (size_t i = 0; i < bits.size(); ++i)
    surfaces[i]->Unlock(bits[i]);
}

void TCustomTexture::Release() {
  TDeviceLockGuard lock(DeviceLock());
  texture.reset();
}

void TCustomTexture::DeviceKilled() {
  // Called from inside the device texture's own handler: it is freed later, by the screen.
  if (texture) {
    if (screen_)
      screen_->Bury(TOwned<TObj>(texture.release()));
    else
      texture.reset();
  }
  Release();
}

void TCustomTexture::PreLoad() {
  if (T3DTexture* t = GetTexture()) t->PreLoad();
}

void TCustomTexture::SetMipMapped(bool value) {
  if (value == mipMapped) return;
  mipMapped = value;
  // A texture created with levels keeps them; one without is made again with levels.
  if (value && !everMipMapped) Release();
  if (value) everMipMapped = true;
}

void TCustomTexture::SetPremultiplied(bool value) {
  premultiplied = value;
  if (texture) texture->premultiplied = value;
}

void TCustomTexture::SetKind(uint8_t value) {
  Release();
  kind = value;
}

TDevBitmap* TCustomTexture::LockLevel(const TRect& rect, int level) {
  T3DTexture* t = GetTexture();
  T3DSurface* surface = t ? t->GetSurface(level) : nullptr;
  return surface ? surface->Lock(&rect, false) : nullptr;
}

void TCustomTexture::UnlockLevel(TDevBitmap* bitmap, int level) {
  T3DSurface* surface = texture ? texture->GetSurface(level) : nullptr;
  if (surface) surface->Unlock(bitmap);
}

TRenderTargetTexture::TRenderTargetTexture(T3DScreen* screen) : TCustomTexture(screen) {
  kind = kTextureKindRTA;
}

// ---- shaders ----

TShader::TShader(T3DScreen* screen, uint8_t shaderKind, std::string compiledCode)
    : TScreenResource(screen), code(std::move(compiledCode)), kind(shaderKind) {
  if (screen->IsReady()) Create();
}

TShader::~TShader() {
  TDeviceLockGuard lock(DeviceLock());
  shader.reset();
}

bool TShader::NeedsCreation() const {
  return !shader || !shader->valid || !shader->store;
}

void TShader::Create() {
  TDeviceLockGuard lock(DeviceLock());
  if (!screen_ || !screen_->IsReady()) return;
  shader.reset();
  shader = screen_->renderer->CreateShader(code, kind == kVertex);
  if (shader)
    shader->OnKilled = [this] {
      if (screen_)
        screen_->Bury(TOwned<TObj>(shader.release()));
      else
        shader.reset();
    };
}

T3DShader* TShader::GetShader() {
  if (NeedsCreation()) Create();
  return NeedsCreation() ? nullptr : shader.get();
}

void TShader::ReleaseShader() {
  TDeviceLockGuard lock(DeviceLock());
  shader.reset();
}

// ================= screen =================

TDeviceKilledMessenger::~TDeviceKilledMessenger() {
  if (!screen) return;
  T3DScreen* owner = screen;
  owner->messenger = nullptr;
  owner->drawDevice = nullptr;
  owner->window = nullptr;
  owner->RendererKilled();
}

T3DScreen::T3DScreen() {
  batch = MakeOwned<TVertexBuffer>(this);
}

T3DScreen::~T3DScreen() {
  TDeviceLockGuard lock(DeviceLock());
  batch.reset();
  ReleaseResources();
  for (TScreenResource* resource : resources)
    resource->screen_ = nullptr;
  resources.clear();
  targetStack.clear();
  if (renderer) renderer->OnDeviceKilled = nullptr;
  renderer.reset();
  deadRenderer_.reset();
  buried_.clear();
  if (messenger) {
    messenger->screen = nullptr;
    if (drawDevice) drawDevice->Detach(messenger).reset();
    messenger = nullptr;
  }
}

TRect T3DScreen::DeviceScreenRect(TDrawDevice* device) const {
  if (!device->fullScreen) return device->bounds;
  T3DEngine* engine = Engine();
  TDisplayMode mode;
  if (engine && engine->GetDisplayMode(engine->AdapterForRect(device->ScreenRect()), mode))
    return mode.monitor;
  return device->bounds;
}

void T3DScreen::AssignDevice(TDrawDevice* device) {
  RY_ASSERT_MSG(device, "DrawDevice=nil");
  const TRect rect = DeviceScreenRect(device);
  DevLog("T3DScreen.AssignDevice, bounds= " + RectText(rect));
  if (device == drawDevice && device->fullScreen == fullScreen && rect == screenRect) {
    DevLog("T3DScreen.AssignDevice, Exit By Same FullScreen Or Same Windowed");
    return;
  }
  if (device != drawDevice) {
    TOwned<TObj> owned;
    if (messenger && drawDevice) owned = drawDevice->Detach(messenger);
    if (!owned) {
      auto created = MakeOwned<TDeviceKilledMessenger>(this);
      messenger = created.get();
      owned = std::move(created);
    }
    device->Attach(std::move(owned));
  }
  if (device != drawDevice || fullScreen || device->fullScreen) ReleaseResources();
  screenRect = rect;
  drawDevice = device;
  fullScreen = device->fullScreen;
  window = device->window;
  InitRenderer();
}

void T3DScreen::InitRenderer() {
  ReleaseRenderer();
  FreeBuried();
  if (!drawDevice) {
    DevLog("No window to draw");
    return;
  }
  T3DEngine* engine = Engine();
  if (!engine || !engine->IsDeviceAvailable()) {
    DevLog("Can't init");
    return;
  }
  adapter = engine->AdapterForRect(drawDevice->ScreenRect());
  TDisplayMode mode;
  if (!engine->GetDisplayMode(adapter, mode)) {
    DevLog("Can't GetDisplayMode");
    return;
  }
  renderer = engine->CreateRenderer(drawDevice, mode);
  if (renderer) renderer->OnDeviceKilled = [this](T3DRenderer*) { RendererKilled(); };
}

void T3DScreen::ReleaseRenderer() {
  TDeviceLockGuard lock(DeviceLock());
  if (renderer) renderer->OnDeviceKilled = nullptr;
  renderer.reset();
  sceneBegun = false;
  targetStack.clear();
  targetOffset = {};
  if (OnRendererReleased) OnRendererReleased(this);
}

void T3DScreen::RendererKilled() {
  // Raised from inside the renderer's own call (and its own handler, which must not be reset while it
  // runs): keep it alive until the next safe point.
  if (renderer) deadRenderer_ = std::move(renderer);
  ReleaseRenderer();
  if (OnLost) OnLost(this);
}

void T3DScreen::Bury(TOwned<TObj> dead) {
  buried_.push_back(std::move(dead));
}

void T3DScreen::FreeBuried() {
  TDeviceLockGuard lock(DeviceLock());
  deadRenderer_.reset();
  buried_.clear();
}

void T3DScreen::ReleaseResources() {
  const std::vector<TScreenResource*> copy = resources;
  for (TScreenResource* resource : copy)
    resource->ReleaseDeviceObject();
}

bool T3DScreen::IsReady() const {
  return renderer && renderer->errorKind != 1;
}

bool T3DScreen::BeginScene() {
  TDeviceLockGuard lock(DeviceLock());
  FreeBuried();
  if (drawDevice) {
    const TRect rect = DeviceScreenRect(drawDevice);
    if (!renderer || rect != screenRect || drawDevice->window != window ||
        drawDevice->fullScreen != fullScreen) {
      DevLog("T3DScreen.BeginScene, R= " + RectText(rect));
      if (fullScreen || drawDevice->fullScreen) ReleaseResources();
      screenRect = rect;
      window = drawDevice->window;
      fullScreen = drawDevice->fullScreen;
      InitRenderer();
    }
  }
  if (IsReady() && !sceneBegun) {
    const std::vector<TScreenResource*> copy = resources;
    for (TScreenResource* resource : copy)
      if (auto* shader = dynamic_cast<TShader*>(resource); shader && shader->NeedsCreation())
        shader->Create();
  }
  sceneBegun = IsReady();
  if (!sceneBegun) return false;
  renderer->SetCullNone(true);
  batch->SetCapacity(32, 2);
  if (!renderer) return false; // creating the batch lost the device
  if (targetStack.empty()) {
    T3DSurface* target = renderer->GetRenderTarget();
    if (!target) renderer->GetBackBuffer(target);
    auto entry = MakeOwned<TRenderTargetWrapper>();
    entry->surface = target;
    targetStack.push_back(std::move(entry));
    targetOffset = {};
    ApplyTargetProjection();
  }
  return renderer && renderer->BeginScene();
}

bool T3DScreen::EndScene(bool present) {
  TDeviceLockGuard lock(DeviceLock());
  if (!renderer) return false;
  bool ok = renderer->EndScene();
  if (present && renderer) {
    const TRect whole[1] = {{0, 0, Width(), Height()}};
    ok = renderer->Present(whole, whole) && ok;
  }
  return ok;
}

void T3DScreen::Clear(uint32_t color, bool withDepth) {
  if (!IsReady()) return;
  TRect rect = GetTargetRect();
  rect = {rect.left - targetOffset.x - 1, rect.top - targetOffset.y - 1, rect.right - targetOffset.x + 1,
          rect.bottom - targetOffset.y + 1};
  const TRect rects[1] = {rect};
  renderer->Clear(rects, kClearTarget | (withDepth ? kClearDepth : 0), color, 1.0f);
}

void T3DScreen::ClearRect(uint32_t color, const TRect& rect) {
  if (!IsReady()) return;
  const TRect rects[1] = {{rect.left - targetOffset.x, rect.top - targetOffset.y, rect.right - targetOffset.x,
                           rect.bottom - targetOffset.y}};
  renderer->Clear(rects, kClearTarget, color, 1.0f);
}

TRect T3DScreen::GetTargetRect() const {
  if (targetStack.size() > 1 && targetStack.back()->surface) {
    const TSize size = targetStack.back()->surface->GetSize();
    return {targetOffset.x, targetOffset.y, targetOffset.x + size.width, targetOffset.y + size.height};
  }
  return {0, 0, Width(), Height()};
}

void T3DScreen::SelectTop() {
  if (targetStack.empty()) return;
  TRenderTargetWrapper* top = targetStack.back().get();
  RY_ASSERT(top);
  targetOffset = top->offset;
  if (!IsReady() || !top->surface) return;
  batch->Flush();
  renderer->SetRenderTarget(top->surface);
  ApplyTargetProjection();
}

TSize T3DScreen::LogicalSize() const {
  if (viewSize.width > 0 && viewSize.height > 0) return viewSize;
  return {Width(), Height()};
}

TRect T3DScreen::ViewRect() const {
  return viewRect.IsEmpty() ? TRect{0, 0, Width(), Height()} : viewRect;
}

void T3DScreen::SetView(const TRect& area, TSize size) {
  if (area == viewRect && size == viewSize) return;
  if (batch) batch->Flush(); // pending triangles were placed under the old view
  viewRect = area;
  viewSize = size;
  ApplyTargetProjection();
}

void T3DScreen::ApplyTargetProjection() {
  if (!IsReady() || targetStack.empty()) return;
  const TRect target = GetTargetRect();
  const TRect view = ViewRect();
  // Drawing outside the view area is cut off, as far as the target reaches.
  TRect port = IntersectRect(view, target);
  if (port.IsEmpty()) port = target;
  SetViewport(
      {port.left - target.left, port.top - target.top, port.right - target.left, port.bottom - target.top}, 0,
      1);
  SetupProjection(static_cast<float>(view.Height()), static_cast<float>(view.Width()),
                  static_cast<float>(port.Height()), static_cast<float>(port.Width()),
                  static_cast<float>(port.top - view.top), static_cast<float>(port.left - view.left));
}

void T3DScreen::PushRenderTarget(TCustomTexture* target, int32_t offsetX, int32_t offsetY) {
  TDeviceLockGuard lock(DeviceLock());
  if (!target) {
    if (targetStack.size() > 1) targetStack.pop_back();
    SelectTop();
    return;
  }
  auto entry = MakeOwned<TRenderTargetWrapper>();
  entry->offset = {offsetX, offsetY};
  T3DTexture* texture = target->GetTexture();
  entry->surface = texture ? texture->GetSurface(0) : nullptr;
  targetStack.push_back(std::move(entry));
  SelectTop();
}

void T3DScreen::SetupProjection(float screenHeight, float screenWidth, float targetHeight, float targetWidth,
                                float offsetY, float offsetX) {
  // Also refuses NaN.
  if (!(screenHeight > 0) || !(screenWidth > 0) || !(targetHeight > 0) || !(targetWidth > 0)) return;
  projOffsetX = offsetX;
  projOffsetY = offsetY;
  projScaleX = targetWidth / screenWidth;
  projScaleY = targetHeight / screenHeight;
  if (!renderer) return;
  const TFloatPoint texel = renderer->GetTexelOffset();
  // w = (z + H) / H; the half-pixel correction grows with w so that it stays half a pixel after the divide.
  T3DMatrix world = T3DMatrix::Identity();
  world.m[3][2] = 1;
  world.m[2][0] = world.m[3][0] = -2 * texel.x / screenWidth;
  world.m[2][1] = world.m[3][1] = 2 * texel.y / screenHeight;
  T3DMatrix view = T3DMatrix::Identity();
  view.m[2][0] = 1 - (targetWidth + 2 * offsetX) / screenWidth;
  view.m[2][1] = (targetHeight + 2 * offsetY) / screenHeight - 1;
  constexpr float kNear = 0.01f, kFar = 1e6f;
  T3DMatrix projection;
  projection.m[0][0] = screenWidth / targetWidth;
  projection.m[1][1] = screenHeight / targetHeight;
  projection.m[2][2] = kFar / (kFar - kNear);
  projection.m[2][3] = 1;
  projection.m[3][2] = -kNear * projection.m[2][2];
  projection.m[3][3] = 0;
  renderer->SetTransform(kTransformWorld, world);
  renderer->SetTransform(kTransformView, view);
  renderer->SetTransform(kTransformProjection, projection);
}

void T3DScreen::SetViewport(const TRect& rect, float minDepth, float maxDepth) {
  if (renderer) renderer->SetViewport(rect, minDepth, maxDepth);
}

TFloatPoint T3DScreen::ScreenToTarget(TFloatPoint p) const {
  return {p.x - projOffsetX, p.y - projOffsetY};
}

TFloatPoint T3DScreen::TargetToScreen(TFloatPoint p) const {
  return {p.x + projOffsetX, p.y + projOffsetY};
}

TFloatPoint T3DScreen::Project(const T3DPoint& p) const {
  const TSize logical = LogicalSize();
  const float w = static_cast<float>(logical.width), h = static_cast<float>(logical.height);
  const float scale = h / (p.z + h);
  return {(p.x - w / 2) * scale + w / 2, (p.y - h / 2) * scale + h / 2};
}

TFloatPoint T3DScreen::ProjectToScreen(const T3DPoint& p) const {
  const TFloatPoint at = Project(p);
  const TSize logical = LogicalSize();
  const TRect view = ViewRect();
  if (logical.width <= 0 || logical.height <= 0) return at;
  return {view.left + at.x * view.Width() / static_cast<float>(logical.width),
          view.top + at.y * view.Height() / static_cast<float>(logical.height)};
}

void T3DScreen::DrawTriangles(const T3DPoint& a, const T3DPoint& b, const T3DPoint& c, const T3DPoint& d,
                              const TQuadColors& colors) {
  if (!IsReady()) return;
  batch->BeginBatch({}, 0);
  batch->AddTriangle({a, b, c}, {colors[0], colors[1], colors[2]}, {});
  batch->AddTriangle({c, b, d}, {colors[2], colors[1], colors[3]}, {});
  batch->Flush();
}

void T3DScreen::DrawQuad(std::span<TCustomTexture* const> layers, int layerCount, const TQuadColors& colors,
                         std::span<const TFloatRect> rects, const TQuadPlacement& placement,
                         int batchLayerCount) {
  RY_ASSERT(!rects.empty() && static_cast<size_t>(layerCount) <= rects.size() && layerCount <= kMaxLayers);
  if (!IsReady()) return;
  const TFloatRect& r = rects[0];
  const T3DPoint lt = PlacePoint(placement, r.left, r.top), rt = PlacePoint(placement, r.right, r.top);
  const T3DPoint lb = PlacePoint(placement, r.left, r.bottom), rb = PlacePoint(placement, r.right, r.bottom);
  std::array<std::array<TFloatPoint, 3>, kMaxLayers> first{}, second{};
  for (int k = 0; k < layerCount; ++k) {
    const TFloatRect& t = rects[static_cast<size_t>(k)];
    first[static_cast<size_t>(k)] = {TFloatPoint{t.left, t.bottom}, {t.left, t.top}, {t.right, t.bottom}};
    second[static_cast<size_t>(k)] = {TFloatPoint{t.right, t.bottom}, {t.left, t.top}, {t.right, t.top}};
  }
  const size_t sets = static_cast<size_t>(layerCount);
  batch->BeginBatch(layers, batchLayerCount);
  batch->is3D = true;
  batch->AddTriangle({lb, lt, rb}, {colors[2], colors[0], colors[3]}, std::span(first.data(), sets));
  batch->AddTriangle({rb, lt, rt}, {colors[3], colors[0], colors[1]}, std::span(second.data(), sets));
  batch->is3D = false;
  batch->Flush();
}

void T3DScreen::DrawRenderTarget(TRenderTargetTexture* target, const TQuadPlacement& placement,
                                 const TFloatRect& source) {
  if (!target || target->opacity == 0) return;
  const uint32_t color = (uint32_t{target->opacity} << 24) | 0x00FFFFFFu;
  TCustomTexture* layers[1] = {target};
  const TFloatRect rects[1] = {source};
  DrawQuad(layers, 1, {color, color, color, color}, rects, placement, 1);
}

T3DTexture* T3DScreen::CreateDeviceTexture(TCustomTexture& t) {
  TDeviceLockGuard lock(DeviceLock());
  if (!IsReady()) return nullptr;
  const bool levels = t.mipMapped || t.everMipMapped;
  const bool target = t.kind == kTextureKindRTX || t.kind == kTextureKindRTA;
  TOwned<T3DTexture> created = renderer->CreateTexture(t.kind, t.texWidth, t.texHeight, levels);
  if (target) DevLog("Rt Create First Attempt Ok= " + BoolText(created != nullptr));
  if (!created && target && renderer && renderer->lastError == kResultOutOfMemory) {
    std::vector<TCustomTexture*> managed;
    for (TScreenResource* resource : resources)
      if (auto* texture = dynamic_cast<TCustomTexture*>(resource);
          texture && (texture->kind == kTextureKindARGB || texture->kind == kTextureKindL8))
        managed.push_back(texture);
    const int32_t count = static_cast<int32_t>(managed.size());
    DevLog("tmpTexListcount= " + std::to_string(count));
    int k = 0;
    for (const auto& [from, to] : BackOffRanges(count)) {
      ++k;
      if (created || !IsReady()) break;
      for (int32_t i = from; i <= to; ++i)
        managed[static_cast<size_t>(i)]->Release();
      created = renderer->CreateTexture(t.kind, t.texWidth, t.texHeight, levels);
      DevLog("Released Managed Texs from " + std::to_string(to) + " to " + std::to_string(from) +
             "; Rt Create " + std::to_string(k) + "nd Attempt Ok= " + BoolText(created != nullptr));
    }
  }
  if (!created) return nullptr;
  created->premultiplied = t.premultiplied;
  TCustomTexture* owner = &t;
  created->OnKilled = [owner] { owner->DeviceKilled(); };
  t.texture = std::move(created);
  if (t.kind == kTextureKindARGB || t.kind == kTextureKindL8) t.UploadContent();
  return t.texture.get();
}

} // namespace kiv

#include "ScreenDrawer.h"

#include "PixelShaders.h"
#include "Assert.h"
#include "RoundHalfEven.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>

namespace kiv {

namespace {

TTransitionFactory& Factory() {
  static TTransitionFactory factory;
  return factory;
}

T3DPoint Scaled(const T3DPoint& p, float f) {
  return {p.x * f, p.y * f, p.z * f};
}

uint32_t TintColor(const std::array<uint8_t, 3>& bgr, uint8_t alpha) {
  return uint32_t{alpha} << 24 | uint32_t{bgr[2]} << 16 | uint32_t{bgr[1]} << 8 | bgr[0];
}

TQuadPlacement Placement(const T3DPoint& at, TFloatPoint pivot, const T3DPoint& xAxis, const T3DPoint& yAxis,
                         TFloatPoint offset) {
  TQuadPlacement where;
  where.origin = {at.x + offset.x, at.y + offset.y, at.z};
  where.pivot = pivot;
  where.xAxis = xAxis;
  where.yAxis = yAxis;
  return where;
}

constexpr const char* kShaderNames[10] = {
    "unsharp",   "yuv_lum",          "yuv_deinterlace_lum", "chromakey",     "chroma_deinter",
    "videomask", "color_correction", "gauss_blur_h7",       "gauss_blur_v7", "gauss_mix"};

// Mask (s0, plain alpha) times content (s1, premultiplied), channel by channel, premultiplied.
constexpr std::string_view kMaskProduct = "void main() {\n"
                                          "  vec4 m = texture(s0, t0);\n"
                                          "  oC0 = vec4(m.rgb * m.a, m.a) * texture(s1, t1) * vcol;\n"
                                          "}\n";

} // namespace

void SetTransitionFactory(TTransitionFactory factory) {
  Factory() = std::move(factory);
}

// ---- video frames ----

int32_t PaddedVideoSize(int32_t size) {
  if (size <= 0) return 0;
  return std::min(size + 8, static_cast<int32_t>(std::bit_ceil(static_cast<uint32_t>(size))));
}

TPlaneTexture::TPlaneTexture(T3DScreen* screen, T3DYUV* owner, uint8_t textureKind, TSize size)
    : TCustomTexture(screen), video(owner) {
  kind = textureKind;
  SetSize(size);
}

void TPlaneTexture::Release() {
  if (texture && video) video->textureLost = true;
  TCustomTexture::Release();
}

namespace {

unsigned VideoRequest(bool mask, bool alpha, bool threePlanes) {
  if (threePlanes) return 0;
  if (alpha && !mask) return kYUVRGBA;
  if (mask) return kYUVLumaOnly;
  return kYUVGrey16;
}

} // namespace

T3DYUV::T3DYUV(T3DDrawer* owner, int32_t w, int32_t h, bool mask, bool alpha, bool threePlanes)
    : TDeviceYUVImage(w, h, VideoRequest(mask, alpha, threePlanes)), drawer(owner), width(w), height(h),
      paddedWidth(PaddedVideoSize(w)), paddedHeight(PaddedVideoSize(h)) {
  RY_ASSERT(w > 0 && h > 0);
  maskMode = mask;
  withAlpha = alpha;
  T3DScreen* screen = &owner->Screen();
  if (threePlanes) {
    y = MakeOwned<TVideoTexture>(screen, this, TSize{paddedWidth, paddedHeight});
    const TSize half{PaddedVideoSize(w / 2), PaddedVideoSize(h / 2)};
    u = MakeOwned<TVideoTexture>(screen, this, half);
    v = MakeOwned<TVideoTexture>(screen, this, half);
  } else if (alpha && !mask) {
    rgba = MakeOwned<TRGBATexture>(screen, this, TSize{paddedWidth, paddedHeight});
  } else if (mask) {
    y = MakeOwned<TVideoTexture>(screen, this, TSize{paddedWidth, paddedHeight});
  } else {
    greyForm = true;
    grey = MakeOwned<TGrayScaleTexture>(screen, this, TSize{paddedWidth, paddedHeight});
  }
}

T3DYUV::~T3DYUV() {
  ReleaseTextures();
}

TPlaneTexture* T3DYUV::Texture(int plane) const {
  switch (plane) {
  case 0:
    return y.get();
  case 1:
    return u.get();
  case 2:
    return v.get();
  case 3:
    return grey.get();
  case 4:
    return rgba.get();
  default:
    RY_ASSERT_MSG(false, "T3DYUV: plane out of range");
  }
  return nullptr;
}

TSize T3DYUV::PlaneSize(int plane) const {
  Texture(plane);
  if (plane == 1 || plane == 2) return {width / 2, height / 2};
  return {width, height};
}

int32_t T3DYUV::PlanesOut() {
  std::lock_guard count(countLock_);
  return planesOut_;
}

TYUVPlane T3DYUV::GetPlane(int plane) {
  Texture(plane);
  Enter();
  TPlaneTexture* texture = Texture(plane);
  const size_t index = static_cast<size_t>(plane);
  TDevBitmap* bits = nullptr;
  if (!disabled && texture && !locked_[index]) {
    TDeviceLockGuard device(DeviceLock());
    // The whole texture is locked so that PutPlane can pad past the plane's right and bottom edges.
    bits = texture->LockLevel({0, 0, texture->width, texture->height}, 0);
  }
  if (!bits) {
    Leave();
    return {};
  }
  locked_[index] = bits;
  {
    std::lock_guard count(countLock_);
    ++planesOut_;
  }
  const TSize size = PlaneSize(plane);
  return {bits->ScanLine(0), bits->Pitch(), size.width * BytesPerPixel(bits->Format()), size.height};
}

void T3DYUV::PutPlane(int plane, const TYUVPlane& /*written*/) {
  Texture(plane);
  RY_ASSERT_MSG(PlanesOut() > 0, "T3DYUV.PutPlane: no plane out");
  const size_t index = static_cast<size_t>(plane);
  TDevBitmap* buffer = std::exchange(locked_[index], nullptr);
  if (!buffer) return; // this plane was never handed out
  TPlaneTexture* texture = Texture(plane);
  const TSize size = PlaneSize(plane);
  const int bpp = BytesPerPixel(buffer->Format());
  const int32_t w = std::min(size.width, buffer->Width()), h = std::min(size.height, buffer->Height());
  if (w > 0 && h > 0) {
    for (int32_t row = 0; row < h; ++row) {
      uint8_t* line = buffer->ScanLine(row);
      for (int32_t x = w; x < buffer->Width(); ++x)
        std::memcpy(line + static_cast<size_t>(x) * bpp, line + static_cast<size_t>(w - 1) * bpp,
                    static_cast<size_t>(bpp));
    }
    const size_t bytes = static_cast<size_t>(buffer->Width()) * bpp;
    for (int32_t row = h; row < buffer->Height(); ++row)
      std::memcpy(buffer->ScanLine(row), buffer->ScanLine(h - 1), bytes);
  }
  if (texture) {
    TDeviceLockGuard device(DeviceLock());
    texture->UnlockLevel(buffer, 0);
  }
  {
    std::lock_guard count(countLock_);
    --planesOut_;
  }
  Leave();
  planesBack_.notify_all();
}

void T3DYUV::Done() {
  TMonitorLock hold(*this);
  if (disabled) return;
  TDeviceLockGuard device(DeviceLock());
  for (int plane = 0; plane < 5; ++plane)
    if (TPlaneTexture* texture = Texture(plane); texture && texture->texture) texture->texture->PreLoad();
  textureLost = false;
}

void T3DYUV::ReleaseTextures() {
  {
    std::unique_lock count(countLock_);
    planesBack_.wait(count, [&] { return planesOut_ == 0; });
  }
  TMonitorLock hold(*this);
  TDeviceLockGuard device(DeviceLock());
  y.reset();
  u.reset();
  v.reset();
  rgba.reset();
  grey.reset();
}

void T3DYUV::Detach() {
  ReleaseTextures();
  TMonitorLock hold(*this);
  disabled = true;
  drawer = nullptr;
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
  std::lock_guard lock(DrawerLock());
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
  std::lock_guard lock(DrawerLock());
  DevLog("T3DDrawer.Init");
  screen_->AssignDevice(device);
  for (const char* name : kShaderNames)
    if (!shaders_.count(name))
      shaders_[name] = MakeOwned<TShader>(screen_.get(), TShader::kPixel, std::string(PixelShaderCode(name)));
  bounds = {0, 0, screen_->Width(), screen_->Height()};
  frameArea = GetUpdateRect();
}

void T3DDrawer::Close() {
  std::lock_guard lock(DrawerLock());
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
  std::lock_guard lock(DrawerLock());
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
  std::lock_guard lock(DrawerLock());
  if (auto* own = image.FindAttachment<TCustomTexture>()) return own;
  const TDevBitmap& bitmap = image.Bitmap();
  if (bitmap.Width() <= 0 || bitmap.Height() <= 0 || bitmap.Width() > kMaxOwnTexture ||
      bitmap.Height() > kMaxOwnTexture)
    return nullptr;
  image.attachments.push_back(MakeOwned<TImageTexture>(screen_.get(), image));
  return static_cast<TCustomTexture*>(image.attachments.back().get());
}

void T3DDrawer::PrepareImage(TDrawImage& image, const TImageParams& params) {
  std::lock_guard lock(DrawerLock());
  TDeviceLockGuard device(DeviceLock());
  if (auto* own = image.FindAttachment<TCustomTexture>(); own && own->GetTexture()) return;
  if (TMultiTexture6* texture = ImageTexture(image, params)) texture->Upload();
}

void T3DDrawer::ReleaseImage(TDrawImage& image) {
  std::lock_guard lock(DrawerLock());
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
    const TQuadPlacement where = Placement(placement, pivot, xAxis, yAxis, offset);
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
  std::lock_guard lock(DrawerLock());
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
  TrackQuad(Placement(placement, {pivot.x / f, pivot.y / f}, Scaled(xAxis, f), Scaled(yAxis, f), offset),
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
  const TQuadPlacement where = Placement(placement, pivot, xAxis, yAxis, offset);
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

// ---- video ----

TDeviceYUVImage* T3DDrawer::CreateVideoImage(int32_t width, int32_t height, bool maskMode, bool withAlpha) {
  std::lock_guard lock(DrawerLock());
  const bool threePlanes = ShaderLevel() != 0 && !maskMode && !withAlpha;
  videos_.push_back(TRef<T3DYUV>::Make(this, width, height, maskMode, withAlpha, threePlanes));
  return videos_.back().get();
}

void T3DDrawer::FreeVideoImage(TDeviceYUVImage* video) {
  std::lock_guard lock(DrawerLock());
  std::erase_if(videos_, [&](const TRef<T3DYUV>& item) { return item.get() == video; });
}

void T3DDrawer::DrawVideo(TDeviceYUVImage& image, const T3DPoint& placement, const TVideoParams& params,
                          const T3DPoint& xAxis, const T3DPoint& yAxis, TFloatPoint pivot) {
  auto* video = dynamic_cast<T3DYUV*>(&image);
  RY_ASSERT_MSG(video != nullptr, "T3DDrawer.DrawVideo: not a video image of this drawer");
  RY_ASSERT_MSG(params.deinterlace <= 2, "T3DDrawer.DrawVideo: deinterlace mode out of range");
  TMonitorLock hold(*video);
  if (video->disabled) return;
  const uint32_t color = TintColor(params.tintColor, TruncOpacityByte(params.opacity));
  const TQuadColors colors{color, color, color, color};
  const TQuadPlacement where = Placement(placement, pivot, xAxis, yAxis, offset);
  TFloatRect source = params.sourceRect;
  if (source.right <= source.left || source.bottom <= source.top)
    source = {0, 0, float(video->width), float(video->height)};
  TrackQuad(where, source);
  auto draw = [&](std::span<TCustomTexture* const> layers, std::span<const TFloatRect> rects) {
    TModulateScope modulate(*screen_);
    const int n = static_cast<int>(layers.size());
    if (params.antialiased) {
      TFeatherPatch patch;
      screen_->BuildFeatherPatch(where, rects[0], {true, true, true, true}, patch);
      screen_->DrawPatch(layers, n, nullptr, colors, patch, n, rects);
    } else {
      screen_->DrawQuad(layers, n, colors, rects, where, n);
    }
  };
  if (video->u && video->v) {
    const float fieldY = params.deinterlace == 2 ? -1.f : 0.f, fieldX = params.deinterlace == 2 ? 1.f : 0.f;
    const bool keyed = params.chromaTolerance > 0 || params.colorization > 0;
    const char* name = keyed ? (params.deinterlace ? "chroma_deinter" : "chromakey")
                             : (params.deinterlace ? "yuv_deinterlace_lum" : "yuv_lum");
    TShader* shader = Shader(name);
    if (!shader || !shader->GetShader()) return;
    const float h = float(video->y->texHeight);
    const float tol = params.chromaTolerance;
    float c[32] = {};
    const float fixed[5] = {1.596f, 0.813f, 0.391f, 2.018f, 1.1643835f};
    for (int r = 0; r < 5; ++r)
      for (int k = 0; k < 4; ++k)
        c[r * 4 + k] = fixed[r];
    c[20] = h;
    c[21] = 1 / h;
    c[24] = fieldX;
    c[25] = fieldY;
    c[26] = tol;
    c[27] = tol > 0 ? 1 / tol : 0;
    c[28] = params.colorization;
    c[29] = params.keyU;
    c[30] = params.keyV;
    screen_->renderer->SetShader(shader->GetShader());
    screen_->renderer->SetShaderConstants(0, c, 8, false);
    TCustomTexture* layers[3] = {video->y.get(), video->u.get(), video->v.get()};
    const TFloatRect halfRect{source.left / 2, source.top / 2, source.right / 2, source.bottom / 2};
    const TFloatRect rects[3] = {source, halfRect, halfRect};
    draw(layers, rects);
  } else if (video->maskMode && video->y) {
    TShader* shader = Shader("videomask");
    if (!shader || !shader->GetShader()) return;
    const float invert[4] = {params.maskInvert ? 1.f : 0.f, 0, 0, 0};
    screen_->renderer->SetShader(shader->GetShader());
    screen_->renderer->SetShaderConstants(0, invert, 1, false);
    TCustomTexture* layers[1] = {video->y.get()};
    const TFloatRect rects[1] = {source};
    draw(layers, rects);
  } else {
    TCustomTexture* plane = video->rgba ? static_cast<TCustomTexture*>(video->rgba.get()) : video->grey.get();
    if (!plane) return;
    TCustomTexture* layers[1] = {plane};
    const TFloatRect rects[1] = {source};
    draw(layers, rects);
    return;
  }
  screen_->batch->Flush();
  screen_->renderer->SetShader(nullptr);
}

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
  if (!transition->filter && Factory()) {
    transition->filter = Factory()(frameArea, *transition, first);
  }
  TTransitionFilter* filter = transition->filter.get();
  if (filter) filter->SetPosition(transition->progress);
  if (!filter || transition->progress < 0 || transition->progress >= filter->Length()) {
    DrawItem(second);
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

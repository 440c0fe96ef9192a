#include "GLDeviceLayer.h"

#include "GLContext.h"
#include "Assert.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>

namespace kiv {

using gl::TGLDevice;

namespace {

struct TGLFormat {
  GLint internal;
  GLenum format;
  GLenum type;
};

// Upload and read-back formats keep Direct3D's memory layout: A8R8G8B8 is the 32-bit word 0xAARRGGBB
// (bytes B, G, R, A), R5G6B5 the 16-bit word with red on top, L8 one byte.
TGLFormat FormatOf(uint8_t kind) {
  switch (kind) {
  case kTextureKindL8:
    return {GL_R8, GL_RED, GL_UNSIGNED_BYTE};
  case kTextureKindR5G6B5:
    return {GL_RGB565, GL_RGB, GL_UNSIGNED_SHORT_5_6_5};
  default:
    return {GL_RGBA8, GL_BGRA, GL_UNSIGNED_INT_8_8_8_8_REV};
  }
}

TPixelFormat PixelFormatOf(uint8_t kind) {
  switch (kind) {
  case kTextureKindL8:
    return TPixelFormat::pf8bit;
  case kTextureKindR5G6B5:
    return TPixelFormat::pf16bit565;
  default:
    return TPixelFormat::pf32bit;
  }
}

GLint WrapOf(uint8_t address) {
  switch (address) {
  case kAddressClamp:
    return GL_CLAMP_TO_EDGE;
  case kAddressMirror:
    return GL_MIRRORED_REPEAT;
  default:
    return GL_REPEAT;
  }
}

GLenum ModeOf(uint8_t type) {
  static constexpr GLenum kModes[] = {GL_POINTS,    GL_LINES,          GL_LINE_STRIP,
                                      GL_TRIANGLES, GL_TRIANGLE_STRIP, GL_TRIANGLE_FAN};
  RY_ASSERT(type <= 5);
  return kModes[type];
}

int64_t VerticesFor(uint8_t type, int64_t primitives) {
  switch (type) {
  case 0:
    return primitives;
  case 1:
    return primitives * 2;
  case 2:
    return primitives + 1;
  case 3:
    return primitives * 3;
  default:
    return primitives + 2;
  }
}

bool Inside(const TRect& r, TSize size) {
  return r.left >= 0 && r.top >= 0 && r.right <= size.width && r.bottom <= size.height && !r.IsEmpty();
}

TDevBitmap* AsBitmap(const TOwned<TDevBitmap>& owned) {
  return owned.get();
}

int FullChainLevels(int32_t width, int32_t height) {
  int levels = 1;
  for (int32_t size = std::max(width, height); size > 1; size >>= 1)
    ++levels;
  return levels;
}

} // namespace

// ================= engine =================

T3DEngineGL::T3DEngineGL(const TGLEngineOptions& options) : options_(options) {
  if (options_.backends.empty()) options_.backends.assign(GLBackends().begin(), GLBackends().end());
  // The probe context stands in for the hidden probe device: it answers the capability queries and
  // the availability test.
  if (auto context = CreateGLContext(options_.backends, nullptr)) {
    probe_ = TRef<TGLDevice>::Make(std::move(context));
    if (probe_->Bind())
      probe_->Unbind();
    else
      probe_.reset();
  }
}

void T3DEngineGL::Dispose() {
  TDeviceLockGuard lock(DeviceLock());
  probe_.reset();
}

std::vector<TRect> T3DEngineGL::Monitors(std::vector<int32_t>* refreshRates) const {
  std::vector<TRect> monitors;
  for (const TDisplayInfo& display : BackendDisplays(options_.backends)) {
    monitors.push_back(
        {display.bounds.left, display.bounds.top, display.bounds.right, display.bounds.bottom});
    if (refreshRates) refreshRates->push_back(display.refreshRate);
  }
  if (monitors.empty()) {
    monitors.push_back(options_.headlessMonitor);
    if (refreshRates) refreshRates->push_back(options_.headlessRefreshRate);
  }
  return monitors;
}

int32_t T3DEngineGL::AdapterForRect(const TRect& rect) {
  return AdapterForRectIn(Monitors(), rect);
}

bool T3DEngineGL::ReadCaps(int32_t adapter, TCapsWrapper& caps) {
  TDeviceLockGuard lock(DeviceLock());
  for (const TCapsWrapper& known : caps_)
    if (known.adapter == adapter) {
      caps = known;
      return true;
    }
  if (adapter < 0 || adapter >= static_cast<int32_t>(Monitors().size()) || !probe_ || !probe_->Bind())
    return false;
  // Every adapter is driven by the same GL driver here, so one context answers for all of them.
  caps = {};
  caps.adapter = adapter;
  caps.pixelShaderVersion = PixelShaderVersion(2, 0);
  caps.vendorId = 0;
  GLint maxSize = 0;
  glGetIntegerv(GL_MAX_TEXTURE_SIZE, &maxSize);
  caps.maxTextureWidth = caps.maxTextureHeight = maxSize;
  caps.maxAnisotropy = static_cast<int32_t>(probe_->maxAnisotropy);
  caps.rasterCaps = kRasterMipMapLodBias | (probe_->maxAnisotropy > 1 ? kRasterAnisotropy : 0);
  const bool ok = probe_->TakeError() == kRawOk;
  probe_->Unbind();
  if (ok) caps_.push_back(caps);
  return ok;
}

int32_t T3DEngineGL::GetCap(std::u16string_view name, int32_t adapter) {
  TCapsWrapper caps;
  return ReadCaps(adapter, caps) ? CapValue(caps, name) : 0;
}

int32_t T3DEngineGL::ShaderLevel(int32_t adapter) {
  TCapsWrapper caps;
  if (!ReadCaps(adapter, caps)) return 0;
  return ShaderLevelFor(caps.vendorId, caps.pixelShaderVersion);
}

bool T3DEngineGL::GetDisplayMode(int32_t adapter, TDisplayMode& mode) {
  std::vector<int32_t> rates;
  const std::vector<TRect> monitors = Monitors(&rates);
  if (adapter < 0 || adapter >= static_cast<int32_t>(monitors.size())) return false;
  mode.monitor = monitors[adapter];
  mode.refreshRate = rates[adapter] > 0 ? rates[adapter] : 60;
  mode.format = kFormatX8R8G8B8;
  mode.adapter = adapter;
  return true;
}

bool T3DEngineGL::IsDeviceAvailable() {
  TDeviceLockGuard lock(DeviceLock());
  if (availableOverride_) return *availableOverride_;
  // Held by another thread: as with a reset posted to the main thread, assume it will come back.
  if (!probe_ || !probe_->Bind()) return true;
  const bool lost = probe_->TakeError(true) == kRawContextLost;
  probe_->Unbind();
  return !lost;
}

TOwned<T3DRenderer> T3DEngineGL::CreateRenderer(TDrawDevice* device, const TDisplayMode& mode) {
  RY_ASSERT(device);
  TDeviceLockGuard lock(DeviceLock());
  auto renderer = MakeOwned<T3DRendererGL>(this, device);
  if (MultiThreaded() && !IsMainThread()) {
    auto init = std::make_shared<TInitData>();
    init->renderer = renderer.get();
    init->mode = mode;
    renderer->pendingInit_ = init;
    PostToMainThread([engine = TRef<T3DEngineGL>::Share(this), init] {
      TDeviceLockGuard mainLock(DeviceLock());
      if (!init->renderer) return; // freed before the main thread came to it
      init->renderer->pendingInit_.reset();
      engine->InternalCreateRenderer(init->renderer, init->mode);
    });
    return renderer;
  }
  if (!InternalCreateRenderer(renderer.get(), mode)) return nullptr;
  return renderer;
}

bool T3DEngineGL::InternalCreateRenderer(T3DRendererGL* renderer, const TDisplayMode& mode) {
  TDeviceLockGuard lock(DeviceLock());
  TDrawDevice* device = renderer->drawDevice;
  if (!device) return false;

  auto* wrapper = device->FindAttachment<TRectangleWrapper>();
  if (!wrapper) {
    auto owned = MakeOwned<TRectangleWrapper>();
    wrapper = owned.get();
    device->Attach(std::move(owned));
  }
  TSize backBuffer;
  if (device->fullScreen) {
    wrapper->rect = mode.monitor;
    backBuffer = {mode.monitor.Width(), mode.monitor.Height()};
  } else {
    wrapper->rect = device->bounds;
    backBuffer = {device->bounds.Width(), device->bounds.Height()};
  }
  if (device->fullScreen && !ExclusiveModeAllowed()) {
    if (device->window)
      device->window->SetPlacement(
          {mode.monitor.left, mode.monitor.top, mode.monitor.right, mode.monitor.bottom});
    DevLog("Setwndposlocal " + RectText(mode.monitor));
  }
  const bool exclusive = device->fullScreen && ExclusiveModeAllowed() && !wrapper->avoidExclusive;
  wrapper->avoidExclusive = false;

  auto* store = device->FindAttachment<TDevStore>();
  if (!store) {
    auto owned = MakeOwned<TDevStore>(device, this);
    store = owned.get();
    device->Attach(std::move(owned));
  }
  if (exclusive)
    DevLog("T3DEngine9.InternalCreateRenderer - exclusive");
  else
    DevLog("T3DEngine9.InternalCreateRenderer: init windowed device: " + RectText(device->bounds));

  // Exclusive mode always gets a device of its own; windowed renderers share the store's.
  uint32_t raw = kRawOk;
  if (exclusive || !store->device) {
    std::string whyNot;
    auto context = CreateGLContext(options_.backends, device->window, &whyNot);
    if (!context) {
      DevLog("GL context: " + whyNot);
      raw = kRawFailed;
    } else {
      auto glDevice = TRef<TGLDevice>::Make(std::move(context));
      if (glDevice->Bind()) {
        // Creation runs on the main thread; the drawing thread binds the context on its first call.
        if (MultiThreaded()) glDevice->Unbind();
        store->device = glDevice;
      } else {
        raw = kRawFailed;
      }
    }
  }
  const uint8_t result = raw == kRawOk ? kResultOk : ClassifyResult(raw, lastErrorKind);
  DevLog("T3DEngine9.InternalCreateRenderer: create device res= " + std::to_string(result));
  if (result != kResultOk) {
    lastError = result;
    renderer->lastError = result;
    return false;
  }

  auto* glDevice = static_cast<TGLDevice*>(store->device.get());
  // The main thread does not draw: leave the context free for the thread that will.
  if (MultiThreaded()) glDevice->Unbind();
  renderer->store_ = store;
  renderer->exclusive_ = exclusive;
  renderer->active_ = exclusive;
  renderer->fullScreenAtCreation_ = device->fullScreen;
  store->fullScreenRenderer = device->fullScreen;
  renderer->refreshRate_ = mode.refreshRate;
  renderer->backBufferSize_ = {std::max(1, backBuffer.width), std::max(1, backBuffer.height)};
  renderer->viewport_ = {0, 0, renderer->backBufferSize_.width, renderer->backBufferSize_.height};
  renderer->currentTarget_ = nullptr;
  renderer->blendMode_ = 0;
  renderer->anisotropyLevel_ = std::min(4, static_cast<int32_t>(glDevice->maxAnisotropy));
  renderer->anisotropySupported_ = glDevice->maxAnisotropy > 1;
  renderer->lodBiasSupported_ = true;
  renderer->depthFormat_ = kFormatD24X8;
  renderer->l8Supported_ = true;
  // A renderer created through a posted request may have been asked to draw (and so marked lost)
  // before the main thread got to it; it starts afresh now.
  renderer->errorKind = 0;
  renderer->lastError = 0;
  if (device->OnRendererCreated) device->OnRendererCreated(renderer);
  return true;
}

namespace {
TGLEngineOptions gEngineOptions;
TRef<T3DEngine> MakeGLEngine() {
  return TRef<T3DEngineGL>::Make(gEngineOptions);
}
} // namespace

void RegisterGLEngine(const TGLEngineOptions& options) {
  gEngineOptions = options;
  RegisterEngineFactory(&MakeGLEngine);
}

// ================= surfaces =================

T3DSurfaceGL::T3DSurfaceGL(T3DTextureGL* texture, T3DRendererGL* renderer, GLuint name, int level, TSize size,
                           uint8_t kind)
    : texture_(texture), renderer_(renderer), name_(name), level_(level), size_(size), kind_(kind) {}

T3DSurfaceGL::~T3DSurfaceGL() {
  TDeviceLockGuard lock(DeviceLock());
  if (fbo_ && fboDevice_ && Store()) fboDevice_->Delete(TGLDevice::TName::Framebuffer, fbo_);
}

TDevStore* T3DSurfaceGL::Store() const {
  if (texture_) return texture_->store;
  return renderer_ ? renderer_->Store() : nullptr;
}

TGLDevice* T3DSurfaceGL::Device() const {
  if (texture_) return texture_->Device();
  return renderer_ ? renderer_->Device() : nullptr;
}

bool T3DSurfaceGL::Premultiplied() const {
  return texture_ && texture_->premultiplied;
}

TPixelFormat T3DSurfaceGL::GetPixelFormat() {
  return PixelFormatOf(kind_);
}

GLuint T3DSurfaceGL::Framebuffer() {
  if (!fbo_) {
    TGLDevice* device = Device();
    glGenFramebuffers(1, &fbo_);
    glBindFramebuffer(GL_FRAMEBUFFER, fbo_);
    glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, name_, level_);
    fboDevice_ = TRef<TGLDevice>::Share(device);
  }
  return fbo_;
}

bool T3DSurfaceGL::Enter(TGLDevice*& device) {
  device = Device();
  uint8_t& kind = texture_ ? texture_->errorKind : renderer_->errorKind;
  uint8_t& error = texture_ ? texture_->lastError : renderer_->lastError;
  if (!device) {
    kind = kErrorKindLost;
    return false;
  }
  if (!device->Bind()) {
    error = ClassifyResult(kRawFailed, kind);
    return false;
  }
  return true;
}

bool T3DSurfaceGL::Leave(TGLDevice* device) {
  const uint32_t raw = device->TakeError();
  if (raw == kRawOk) return true;
  uint8_t& kind = texture_ ? texture_->errorKind : renderer_->errorKind;
  (texture_ ? texture_->lastError : renderer_->lastError) = ClassifyResult(raw, kind);
  return false;
}

void T3DSurfaceGL::ReadRect(const TRect& rect, uint8_t* bits, int pitch) {
  const TGLFormat format = FormatOf(kind_);
  const int bpp = BytesPerPixel(PixelFormatOf(kind_));
  glBindFramebuffer(GL_READ_FRAMEBUFFER, Framebuffer());
  glReadBuffer(GL_COLOR_ATTACHMENT0);
  glPixelStorei(GL_PACK_ROW_LENGTH, pitch / bpp);
  // Rows come back from row rect.top down, which is the picture's top: no flip needed (see the vertex
  // stage in GLPrograms.cpp).
  glReadPixels(rect.left, rect.top, rect.Width(), rect.Height(), format.format, format.type, bits);
  glPixelStorei(GL_PACK_ROW_LENGTH, 0);
  // X8R8G8B8 surfaces have no alpha: what GL keeps there is not part of the picture.
  if (kind_ == kTextureKindRTX)
    for (int32_t y = 0; y < rect.Height(); ++y)
      for (int32_t x = 0; x < rect.Width(); ++x)
        bits[static_cast<size_t>(y) * pitch + x * 4 + 3] = 0xFF;
}

bool T3DSurfaceGL::CopyToBitmap(TDevBitmap& target) {
  TDeviceLockGuard lock(DeviceLock());
  TGLDevice* device;
  if (!Enter(device)) return false;
  target.SetSize(size_.width, size_.height, GetPixelFormat());
  ReadRect({0, 0, size_.width, size_.height}, target.ScanLine(0), target.Pitch());
  // Leave takes GL's error queue: its answer is the only word on whether the read-back worked.
  return Leave(device);
}

TDevBitmap* T3DSurfaceGL::Lock(const TRect* rect, bool readOnly) {
  TDeviceLockGuard lock(DeviceLock());
  const TRect area = rect ? *rect : TRect{0, 0, size_.width, size_.height};
  if (locked_ || !Inside(area, size_)) return nullptr;
  TGLDevice* device;
  if (!Enter(device)) return nullptr;
  locked_ = MakeOwned<TDevBitmap>(area.Width(), area.Height(), GetPixelFormat());
  lockRect_ = area;
  lockReadOnly_ = readOnly;
  // A level nobody wrote yet has nothing to read back; uploads of fresh textures skip the read.
  const bool written = !texture_ || kind_ == kTextureKindRTX || kind_ == kTextureKindRTA ||
                       texture_->levelWritten[static_cast<size_t>(level_)];
  if (written) ReadRect(area, locked_->ScanLine(0), locked_->Pitch());
  if (!Leave(device)) {
    locked_.reset(); // what a failed read-back left in the bitmap is not the surface
    return nullptr;
  }
  return AsBitmap(locked_);
}

void T3DSurfaceGL::Unlock(TDevBitmap* bitmap) {
  TDeviceLockGuard lock(DeviceLock());
  if (!locked_ || bitmap != locked_.get()) return;
  TOwned<TDevBitmap> done = std::move(locked_);
  if (lockReadOnly_) return;
  TGLDevice* device;
  if (!Enter(device)) return;
  const TGLFormat format = FormatOf(kind_);
  glActiveTexture(GL_TEXTURE0);
  glBindTexture(GL_TEXTURE_2D, name_);
  glPixelStorei(GL_UNPACK_ROW_LENGTH, done->Pitch() / BytesPerPixel(done->Format()));
  glTexSubImage2D(GL_TEXTURE_2D, level_, lockRect_.left, lockRect_.top, lockRect_.Width(), lockRect_.Height(),
                  format.format, format.type, done->ScanLine(0));
  glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
  glBindTexture(GL_TEXTURE_2D, 0);
  if (texture_) texture_->levelWritten[static_cast<size_t>(level_)] = true;
  Leave(device);
}

// ================= textures =================

T3DTextureGL::T3DTextureGL(TDevStore* owner, TRef<TGLDevice> device, uint8_t textureKind, int32_t width,
                           int32_t height, int levels)
    : device_(std::move(device)), width_(width), height_(height), levels_(levels) {
  (void)owner;
  kind = textureKind;
  levelWritten.assign(static_cast<size_t>(levels), false);
}

T3DTextureGL::~T3DTextureGL() {
  TDeviceLockGuard lock(DeviceLock());
  surfaces_.clear();
  if (store) {
    if (store->drawDevice)
      if (auto* renderer = dynamic_cast<T3DRendererGL*>(store->drawDevice->renderer))
        if (T3DSurface* target = renderer->GetRenderTarget();
            target && static_cast<T3DSurfaceGL*>(target)->Texture() == this)
          renderer->SetRenderTarget(nullptr);
    store->Remove(this);
    device_->Delete(TGLDevice::TName::Texture, name_);
  }
}

TSize T3DTextureGL::LevelSize(int level) const {
  return {std::max(1, width_ >> level), std::max(1, height_ >> level)};
}

bool T3DTextureGL::Create() {
  const TGLFormat format = FormatOf(kind);
  glGenTextures(1, &name_);
  glActiveTexture(GL_TEXTURE0);
  glBindTexture(GL_TEXTURE_2D, name_);
  // Every level is allocated and the level range set, or GL would sample an incomplete texture as black.
  for (int level = 0; level < levels_; ++level) {
    const TSize size = LevelSize(level);
    glTexImage2D(GL_TEXTURE_2D, level, format.internal, size.width, size.height, 0, format.format,
                 format.type, nullptr);
  }
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_BASE_LEVEL, 0);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAX_LEVEL, levels_ - 1);
  if (kind == kTextureKindRTX) glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_SWIZZLE_A, GL_ONE);
  if (kind == kTextureKindL8) {
    const GLint swizzle[] = {GL_RED, GL_RED, GL_RED, GL_ONE};
    glTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_SWIZZLE_RGBA, swizzle);
  }
  glBindTexture(GL_TEXTURE_2D, 0);
  return true;
}

T3DSurface* T3DTextureGL::GetSurface(int level) {
  TDeviceLockGuard lock(DeviceLock());
  if (level < 0 || level >= levels_ || !store) return nullptr;
  if (surfaces_.empty()) surfaces_.resize(static_cast<size_t>(levels_));
  auto& surface = surfaces_[static_cast<size_t>(level)];
  if (!surface) {
    const bool target = kind == kTextureKindRTX || kind == kTextureKindRTA;
    if (target)
      surface = MakeOwned<T3DSurfaceRT>(this, nullptr, name_, level, LevelSize(level), kind);
    else
      surface = MakeOwned<T3DSurfaceGL>(this, nullptr, name_, level, LevelSize(level), kind);
  }
  return surface.get();
}

void T3DTextureGL::SetAddressMode(uint8_t u, uint8_t v) {
  addressU = u;
  addressV = v;
}

void T3DTextureGL::GetAddressMode(uint8_t& u, uint8_t& v) {
  u = addressU;
  v = addressV;
}

// ================= vertex lists =================

T3DVertexListGL::T3DVertexListGL(TDevStore* owner, TRef<TGLDevice> device) : device_(std::move(device)) {
  (void)owner;
}

T3DVertexListGL::~T3DVertexListGL() {
  TDeviceLockGuard lock(DeviceLock());
  if (store) {
    store->Remove(this);
    device_->Delete(TGLDevice::TName::VertexArray, vao_);
    device_->Delete(TGLDevice::TName::Buffer, vbo_);
  }
}

bool T3DVertexListGL::Create(int32_t count, uint32_t formatFlags, int32_t sets) {
  RY_ASSERT(sets >= 0 && sets <= 8);
  hasDiffuse = (formatFlags & kVertexDiffuse) != 0;
  texSets = sets;
  fvf =
      0x002 | (hasDiffuse ? 0x040u : 0u) | (static_cast<uint32_t>(sets) << 8); // D3DFVF_XYZ, _DIFFUSE, _TEXn
  stride = 12 + (hasDiffuse ? 4 : 0) + 8 * sets;
  diffuseOffset = hasDiffuse ? 12 : 0;
  texOffset = 12 + (hasDiffuse ? 4 : 0);
  vertexCount = count;
  glGenVertexArrays(1, &vao_);
  glGenBuffers(1, &vbo_);
  glBindVertexArray(vao_);
  glBindBuffer(GL_ARRAY_BUFFER, vbo_);
  glBufferData(GL_ARRAY_BUFFER, static_cast<GLsizeiptr>(count) * stride, nullptr, GL_DYNAMIC_DRAW);
  glEnableVertexAttribArray(0);
  glVertexAttribPointer(0, 3, GL_FLOAT, GL_FALSE, stride, nullptr);
  if (hasDiffuse) {
    // 32-bit ARGB words are B, G, R, A in memory: GL_BGRA reads them as they are.
    glEnableVertexAttribArray(1);
    glVertexAttribPointer(1, GL_BGRA, GL_UNSIGNED_BYTE, GL_TRUE, stride,
                          reinterpret_cast<const void*>(static_cast<uintptr_t>(diffuseOffset)));
  }
  for (int32_t i = 0; i < sets; ++i) {
    glEnableVertexAttribArray(static_cast<GLuint>(2 + i));
    glVertexAttribPointer(static_cast<GLuint>(2 + i), 2, GL_FLOAT, GL_FALSE, stride,
                          reinterpret_cast<const void*>(static_cast<uintptr_t>(texOffset + 8 * i)));
  }
  glBindVertexArray(0);
  return true;
}

void T3DVertexListGL::SetPrimitive(int32_t start, int32_t count, uint8_t type) {
  primitiveStart = start;
  primitiveCount = count;
  primitiveType = type;
}

bool T3DVertexListGL::Fill(int32_t firstVertex, std::span<const T3DVertex> vertices) {
  TDeviceLockGuard lock(DeviceLock());
  TGLDevice* device = Device();
  if (!device) return false;
  if (firstVertex < 0 || firstVertex + static_cast<int64_t>(vertices.size()) > vertexCount) {
    lastError = kResultInvalidCall;
    return false;
  }
  if (vertices.empty()) return true;
  if (!device->Bind()) return false;
  staging_.resize(vertices.size() * static_cast<size_t>(stride));
  uint8_t* out = staging_.data();
  for (const T3DVertex& v : vertices) {
    std::memcpy(out, &v.x, 12);
    if (hasDiffuse) std::memcpy(out + diffuseOffset, &v.color, 4);
    if (texSets) std::memcpy(out + texOffset, v.tex, static_cast<size_t>(8 * texSets));
    out += stride;
  }
  glBindBuffer(GL_ARRAY_BUFFER, vbo_);
  // Whole-list fills let GL drop the old storage instead of waiting for draws that still read it.
  if (firstVertex == 0 && static_cast<int32_t>(vertices.size()) == vertexCount)
    glBufferData(GL_ARRAY_BUFFER, static_cast<GLsizeiptr>(staging_.size()), staging_.data(), GL_DYNAMIC_DRAW);
  else
    glBufferSubData(GL_ARRAY_BUFFER, static_cast<GLintptr>(firstVertex) * stride,
                    static_cast<GLsizeiptr>(staging_.size()), staging_.data());
  glBindBuffer(GL_ARRAY_BUFFER, 0);
  uint8_t kind = 0;
  if (const uint32_t raw = device->TakeError(); raw != kRawOk) {
    lastError = ClassifyResult(raw, kind);
    return false;
  }
  return true;
}

// ================= shaders =================

T3DShaderGL::T3DShaderGL(TDevStore* owner, TRef<TGLDevice> device) : device_(std::move(device)) {
  (void)owner;
}

T3DShaderGL::~T3DShaderGL() {
  TDeviceLockGuard lock(DeviceLock());
  if (store) {
    if (store->drawDevice)
      if (auto* renderer = dynamic_cast<T3DRendererGL*>(store->drawDevice->renderer))
        renderer->ForgetShader(this);
    store->Remove(this);
    if (device_->IsCurrentHere() || device_->Bind()) device_->ForgetShader(name_);
    device_->Delete(TGLDevice::TName::Shader, name_);
  }
}

bool T3DShaderGL::Create(std::string_view code, bool vertex) {
  isVertexShader = vertex;
  name_ = gl::CompileShader(vertex ? GL_VERTEX_SHADER : GL_FRAGMENT_SHADER,
                            vertex ? gl::WrapVertexShader(code) : gl::WrapPixelShader(code));
  valid = name_ != 0;
  return valid;
}

// ================= renderer =================

T3DRendererGL::T3DRendererGL(T3DEngineGL* engine, TDrawDevice* device)
    : engine_(TRef<T3DEngineGL>::Share(engine)) {
  drawDevice = device;
  device->renderer = this;
}

TGLDevice* T3DRendererGL::Device() const {
  return store_ && store_->device ? static_cast<TGLDevice*>(store_->device.get()) : nullptr;
}

void T3DRendererGL::ForgetStore(TDevStore* store) {
  if (store != store_) return;
  store_ = nullptr;
  // The device's objects go with it; none of these may be used again.
  currentTarget_ = nullptr;
  backBuffer_.reset();
  backBufferName_ = unitQuadVbo_ = unitQuadVao_ = 0;
  pixelShader_ = vertexShader_ = nullptr;
}

void T3DRendererGL::ForgetShader(const T3DShaderGL* shader) {
  if (pixelShader_ == shader) pixelShader_ = nullptr;
  if (vertexShader_ == shader) vertexShader_ = nullptr;
}

void T3DRendererGL::Dispose() {
  TDeviceLockGuard lock(DeviceLock());
  if (pendingInit_) pendingInit_->renderer = nullptr;
  pendingInit_.reset();
  if (TGLDevice* device = Device()) {
    backBuffer_.reset();
    device->Delete(TGLDevice::TName::Texture, backBufferName_);
    device->Delete(TGLDevice::TName::VertexArray, unitQuadVao_);
    device->Delete(TGLDevice::TName::Buffer, unitQuadVbo_);
  }
  backBuffer_.reset();
  if (fullScreenAtCreation_ && store_) {
    auto* wrapper = drawDevice ? drawDevice->FindAttachment<TRectangleWrapper>() : nullptr;
    const TRect rect = wrapper ? wrapper->rect : (drawDevice ? drawDevice->bounds : TRect{});
    DevLog("Dispose FullScreen, R= " + RectText(rect));
    TPlatformWindow* window = drawDevice ? drawDevice->window : nullptr;
    const TScreenRect placement{rect.left, rect.top, rect.right, rect.bottom};
    if (MultiThreaded() && !IsMainThread()) {
      // The main thread lets the device go once it holds the last reference, then restores the window.
      TRef<TRefObj> device = store_->device;
      TRef<T3DEngineGL> engine = engine_;
      DevLog("T3DRenderer9.Dispose: exclusive mode, not main thread");
      PostToMainThread([device, window, placement, engine]() mutable {
        // Bounded: a reference somebody never gives back must not hang the main thread.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (device->RefCount() > 1 && std::chrono::steady_clock::now() < deadline)
          std::this_thread::yield();
        device.reset();
        if (window && engine->IsDeviceAvailable()) window->SetPlacement(placement);
      });
      store_->device.reset();
    } else {
      store_->device.reset();
      if (window) window->SetPlacement(placement);
    }
  }
  if (drawDevice && drawDevice->renderer == this) drawDevice->renderer = nullptr;
}

bool T3DRendererGL::Fail(uint32_t raw) {
  lastError = ClassifyResult(raw, errorKind);
  DeviceLossCheck();
  return false;
}

bool T3DRendererGL::Enter(TGLDevice*& device) {
  device = Device();
  if (!device) {
    errorKind = kErrorKindLost;
    return false;
  }
  if (!device->Bind()) return Fail(kRawFailed);
  return EnsureSwapChain(device);
}

bool T3DRendererGL::Leave(TGLDevice* device, bool ok, bool checkReset) {
  if (const uint32_t raw = device->TakeError(checkReset); raw != kRawOk) {
    lastError = ClassifyResult(raw, errorKind);
    ok = false;
  }
  DeviceLossCheck();
  return ok;
}

void T3DRendererGL::DeviceLossCheck() {
  if (errorKind != kErrorKindLost || !store_) return;
  if (drawDevice)
    if (auto* wrapper = drawDevice->FindAttachment<TRectangleWrapper>())
      wrapper->avoidExclusive = engine_->IsDeviceAvailable() || !exclusive_;
  DevLog("T3DRenderer9: DEVICE LOST!");
  TDevStore* store = store_;
  TOwned<TObj> owned = drawDevice ? drawDevice->Detach(store) : nullptr;
  if (owned)
    owned.reset(); // tells us through ForgetStore
  else
    ForgetStore(store);
}

bool T3DRendererGL::EnsureSwapChain(TGLDevice* device) {
  if (backBufferName_) return true;
  // The swap chain: an X8R8G8B8 picture of the back buffer's size that Present shows in the window.
  glGenTextures(1, &backBufferName_);
  glActiveTexture(GL_TEXTURE0);
  glBindTexture(GL_TEXTURE_2D, backBufferName_);
  glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, backBufferSize_.width, backBufferSize_.height, 0, GL_BGRA,
               GL_UNSIGNED_INT_8_8_8_8_REV, nullptr);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAX_LEVEL, 0);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
  glBindTexture(GL_TEXTURE_2D, 0);
  backBuffer_ = MakeOwned<T3DSurfaceRT>(nullptr, this, backBufferName_, 0, backBufferSize_, kTextureKindRTX);

  // The unit quad of SetDefaultStates: XYZ + diffuse, transparent black, a tiny square at the origin.
  struct TQuadVertex {
    float x, y, z;
    uint32_t color;
  };
  const TQuadVertex quad[4] = {
      {-0.05f, -0.05f, 0, 0}, {-0.05f, -0.0f, 0, 0}, {-0.0f, -0.05f, 0, 0}, {0, 0, 0, 0}};
  glGenVertexArrays(1, &unitQuadVao_);
  glGenBuffers(1, &unitQuadVbo_);
  glBindVertexArray(unitQuadVao_);
  glBindBuffer(GL_ARRAY_BUFFER, unitQuadVbo_);
  glBufferData(GL_ARRAY_BUFFER, sizeof quad, quad, GL_STATIC_DRAW);
  glEnableVertexAttribArray(0);
  glVertexAttribPointer(0, 3, GL_FLOAT, GL_FALSE, sizeof(TQuadVertex), nullptr);
  glEnableVertexAttribArray(1);
  glVertexAttribPointer(1, GL_BGRA, GL_UNSIGNED_BYTE, GL_TRUE, sizeof(TQuadVertex),
                        reinterpret_cast<const void*>(static_cast<uintptr_t>(12)));
  glBindVertexArray(0);
  glBindBuffer(GL_ARRAY_BUFFER, 0);
  if (const uint32_t raw = device->TakeError(); raw != kRawOk) return Fail(raw);
  return true;
}

void T3DRendererGL::BindTarget(TGLDevice*) {
  T3DSurfaceGL* target = currentTarget_ ? currentTarget_ : backBuffer_.get();
  glBindFramebuffer(GL_FRAMEBUFFER, target->Framebuffer());
  glViewport(viewport_.left, viewport_.top, viewport_.Width(), viewport_.Height());
  glDepthRange(minZ_, maxZ_);
}

void T3DRendererGL::UpdatePanelBounds() {
  // The SDL window is the device window itself: there is no child panel to move.
  if (drawDevice) DevLog("Set DxPanel bounds: " + RectText(drawDevice->bounds));
}

bool T3DRendererGL::BeginScene() {
  TDeviceLockGuard lock(DeviceLock());
  if (!Device()) {
    errorKind = kErrorKindLost;
    return false;
  }
  if (ExclusiveModeAllowed() && drawDevice) {
    const bool isActive = drawDevice->IsActive();
    // Activated again after running inactive (or created windowed): drop the device so that the next
    // scene creates it again in exclusive mode.
    if (isActive && !active_ && drawDevice->fullScreen) {
      active_ = isActive;
      TOwned<TObj> owned = drawDevice->Detach(store_);
      owned.reset();
      return false;
    }
    active_ = isActive;
  }
  TGLDevice* device;
  if (!Enter(device)) return false;
  if (const uint32_t raw = device->TakeError(true); raw != kRawOk) return Fail(raw);
  BindTarget(device);
  const bool ok = SetDefaultStates();
  if (!Device()) return false;
  return Leave(device, ok);
}

bool T3DRendererGL::EndScene() {
  TDeviceLockGuard lock(DeviceLock());
  TGLDevice* device;
  if (!Enter(device)) return false;
  return Leave(device, true);
}

bool T3DRendererGL::Present(std::span<const TRect> sourceRects, std::span<const TRect> destRects) {
  TDevClock& clock = DevClock();
  const uint32_t now = clock.NowMs();
  const uint32_t wait = PresentWaitMs(refreshRate_, now - LastPresentTime());
  SetLastPresentTime(now);
  clock.SleepMs(wait);

  TDeviceLockGuard lock(DeviceLock());
  TGLDevice* device;
  if (!Enter(device)) return false;
  TGLContext& context = device->Context();
  if (!context.IsHeadless()) {
    int width = 0, height = 0;
    context.GetDrawableSize(width, height);
    TRect source{0, 0, backBufferSize_.width, backBufferSize_.height};
    TRect dest{0, 0, width, height};
    if (!exclusive_ && !sourceRects.empty()) source = sourceRects[0];
    if (!exclusive_ && !destRects.empty()) dest = destRects[0];
    glBindFramebuffer(GL_READ_FRAMEBUFFER, backBuffer_->Framebuffer());
    glBindFramebuffer(GL_DRAW_FRAMEBUFFER, 0);
    glDisable(GL_SCISSOR_TEST);
    // The window's row 0 is its bottom row; ours is the top, so the blit turns the picture over.
    const bool sameSize = source.Width() == dest.Width() && source.Height() == dest.Height();
    glBlitFramebuffer(source.left, source.top, source.right, source.bottom, dest.left, height - dest.top,
                      dest.right, height - dest.bottom, GL_COLOR_BUFFER_BIT,
                      sameSize ? GL_NEAREST : GL_LINEAR);
    context.SwapBuffers();
  } else {
    glFlush();
  }
  SetLastPresentTime(clock.NowMs());
  return Leave(device, true, true);
}

bool T3DRendererGL::Clear(std::span<const TRect> rects, uint32_t flags, uint32_t color, float depth) {
  TDeviceLockGuard lock(DeviceLock());
  TGLDevice* device;
  if (!Enter(device)) return false;
  BindTarget(device);
  GLbitfield mask = 0;
  if (flags & kClearTarget) {
    mask |= GL_COLOR_BUFFER_BIT;
    glClearColor(((color >> 16) & 0xFF) / 255.0f, ((color >> 8) & 0xFF) / 255.0f, (color & 0xFF) / 255.0f,
                 (color >> 24) / 255.0f);
  }
  if ((flags & kClearDepth) && depthFormat_) {
    mask |= GL_DEPTH_BUFFER_BIT;
    glClearDepth(depth);
  }
  // Direct3D 9 clips clears to the viewport.
  glEnable(GL_SCISSOR_TEST);
  const TRect whole[1] = {viewport_};
  for (const TRect& rect : rects.empty() ? std::span<const TRect>(whole) : rects) {
    const TRect area = IntersectRect(rect, viewport_);
    if (area.IsEmpty() || !mask) continue;
    glScissor(area.left, area.top, area.Width(), area.Height());
    glClear(mask);
  }
  glDisable(GL_SCISSOR_TEST);
  return Leave(device, true);
}

bool T3DRendererGL::SetDefaultStates() {
  TDeviceLockGuard lock(DeviceLock());
  TGLDevice* device;
  if (!Enter(device)) return false;
  glEnable(GL_BLEND);
  glBlendEquation(GL_FUNC_ADD);
  glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
  const bool ok = DrawArrays(device, {}, kDrawModulateColor, unitQuadVao_, 4, 0, 2, 4, false);
  if (!Device()) return false;
  return Leave(device, ok);
}

T3DSurface* T3DRendererGL::GetRenderTarget() {
  TDeviceLockGuard lock(DeviceLock());
  return currentTarget_ ? currentTarget_ : backBuffer_.get();
}

bool T3DRendererGL::GetBackBuffer(T3DSurface*& surface) {
  TDeviceLockGuard lock(DeviceLock());
  surface = nullptr;
  TGLDevice* device;
  if (!Enter(device)) return false;
  surface = backBuffer_.get();
  return Leave(device, true);
}

bool T3DRendererGL::SetRenderTarget(T3DSurface* surface) {
  TDeviceLockGuard lock(DeviceLock());
  TGLDevice* device;
  if (!Enter(device)) return false;
  auto* target =
      surface ? dynamic_cast<T3DSurfaceRT*>(surface) : static_cast<T3DSurfaceGL*>(backBuffer_.get());
  if (!target || target->Device() != device) return Fail(kRawInvalidOperation);
  currentTarget_ = target == backBuffer_.get() ? nullptr : target;
  // As in Direct3D 9, a new target gets a viewport over all of it.
  viewport_ = {0, 0, target->GetSize().width, target->GetSize().height};
  minZ_ = 0;
  maxZ_ = 1;
  return Leave(device, true);
}

bool T3DRendererGL::SetViewport(const TRect& rect, float minZ, float maxZ) {
  TDeviceLockGuard lock(DeviceLock());
  TGLDevice* device;
  if (!Enter(device)) return false;
  T3DSurfaceGL* target = currentTarget_ ? currentTarget_ : backBuffer_.get();
  if (!Inside(rect, target->GetSize()) || minZ < 0 || maxZ > 1 || minZ > maxZ) return Fail(kRawInvalidValue);
  viewport_ = rect;
  minZ_ = minZ;
  maxZ_ = maxZ;
  return Leave(device, true);
}

bool T3DRendererGL::DrawVertexList(std::span<T3DTexture* const> textures, uint32_t flags,
                                   T3DVertexList* list) {
  TDeviceLockGuard lock(DeviceLock());
  RY_ASSERT(list);
  RY_ASSERT(textures.size() <= gl::kMaxStages);
  TGLDevice* device;
  if (!Enter(device)) return false;
  auto* glList = dynamic_cast<T3DVertexListGL*>(list);
  if (!glList || glList->Device() != device) return Fail(kRawInvalidOperation);
  for (T3DTexture* texture : textures)
    if (texture && static_cast<T3DTextureGL*>(texture)->Device() != device) return Fail(kRawInvalidOperation);
  const bool ok =
      DrawArrays(device, textures, flags, glList->VertexArray(), glList->primitiveType,
                 glList->primitiveStart, glList->primitiveCount, glList->vertexCount, glList->hasDiffuse);
  if (!Device()) return false;
  return Leave(device, ok);
}

bool T3DRendererGL::DrawArrays(TGLDevice* device, std::span<T3DTexture* const> textures, uint32_t flags,
                               GLuint vao, uint8_t type, int32_t start, int32_t count, int32_t available,
                               bool hasDiffuse) {
  const GLenum mode = ModeOf(type);
  const int64_t vertices = VerticesFor(type, count);
  if (start < 0 || count < 0 || start + vertices > available) return Fail(kRawInvalidValue);
  if (count == 0) return true;
  BindTarget(device);

  const bool textured = (flags & kDrawTextured) != 0;
  const auto layers = textured ? textures : std::span<T3DTexture* const>{};
  gl::TStageKey key;
  key.layers = static_cast<uint8_t>(layers.size());
  key.modulateColor = (flags & kDrawModulateColor) != 0;
  key.modulateAlpha = (flags & kDrawModulateAlpha) != 0;
  key.lighting = (flags & kDrawLighting) != 0;
  bool anyPremultiplied = false;
  for (size_t i = 0; i < layers.size(); ++i) {
    T3DTexture* texture = layers[i];
    if (!texture) continue;
    anyPremultiplied |= texture->premultiplied;
    // Render targets without (or with plain) alpha take the vertex alpha alone.
    if (texture->kind == kTextureKindRTX || (texture->kind == kTextureKindRTA && !texture->premultiplied))
      key.vertexAlphaOnly |= static_cast<uint8_t>(1u << i);
  }
  const gl::TGLProgram* program = device->Program(vertexShader_ ? vertexShader_->Name() : 0,
                                                  pixelShader_ ? pixelShader_->Name() : 0, key);
  if (!program) return Fail(kRawFailed);
  glUseProgram(program->program);
  if (program->mvp >= 0) {
    const T3DMatrix mvp =
        transforms_[kTransformWorld] * transforms_[kTransformView] * transforms_[kTransformProjection];
    glUniformMatrix4fv(program->mvp, 1, GL_FALSE, &mvp.m[0][0]);
  }
  if (program->constants >= 0) glUniform4fv(program->constants, gl::kPixelConstants, pixelConstants_.data());
  if (program->vertexConstants >= 0)
    glUniform4fv(program->vertexConstants, gl::kVertexConstants, vertexConstants_.data());

  for (size_t i = 0; i < layers.size(); ++i) {
    glActiveTexture(GL_TEXTURE0 + static_cast<GLenum>(i));
    auto* texture = static_cast<T3DTextureGL*>(layers[i]);
    if (!texture) {
      glBindTexture(GL_TEXTURE_2D, device->WhiteTexture());
      continue;
    }
    glBindTexture(GL_TEXTURE_2D, texture->Name());
    T3DTextureGL::TSampler want;
    want.wrapS = WrapOf(texture->addressU);
    want.wrapT = WrapOf(texture->addressV);
    want.anisotropy = 1;
    want.lodBias = 0;
    if (texture->filter == kFilterPoint) {
      want.minFilter = want.magFilter = GL_NEAREST;
    } else if (anisotropySupported_ && texture->mipMapped) {
      want.magFilter = GL_LINEAR;
      want.minFilter = GL_LINEAR_MIPMAP_LINEAR;
      want.anisotropy = static_cast<float>(anisotropyLevel_);
      if (lodBiasSupported_) want.lodBias = texture->lodBias;
    } else {
      want.minFilter = want.magFilter = GL_LINEAR;
    }
    T3DTextureGL::TSampler& have = texture->applied;
    if (have.wrapS != want.wrapS) glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, want.wrapS);
    if (have.wrapT != want.wrapT) glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, want.wrapT);
    if (have.minFilter != want.minFilter)
      glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, want.minFilter);
    if (have.magFilter != want.magFilter)
      glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, want.magFilter);
    if (have.anisotropy != want.anisotropy)
      glTexParameterf(GL_TEXTURE_2D, GL_TEXTURE_MAX_ANISOTROPY, want.anisotropy);
    if (have.lodBias != want.lodBias) glTexParameterf(GL_TEXTURE_2D, GL_TEXTURE_LOD_BIAS, want.lodBias);
    have = want;
  }

  glEnable(GL_BLEND);
  if (blendMode_ == 1) {
    glBlendEquation(GL_MAX);
  } else {
    glBlendEquation(GL_FUNC_ADD);
    const T3DSurfaceGL* target = currentTarget_;
    if (anyPremultiplied)
      glBlendFunc(GL_ONE, GL_ONE_MINUS_SRC_ALPHA);
    else if (target && target->Premultiplied())
      glBlendFuncSeparate(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA, GL_ONE, GL_ONE_MINUS_SRC_ALPHA);
    else
      glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
  }
  // With y turned over, Direct3D's clockwise on screen is GL's counter-clockwise in window coordinates:
  // front faces are GL_CCW, and Direct3D's counter-clockwise culling culls GL's back faces.
  if (cullNone_) {
    glDisable(GL_CULL_FACE);
  } else {
    glEnable(GL_CULL_FACE);
    glFrontFace(GL_CCW);
    glCullFace(GL_BACK);
  }
  glDisable(GL_DEPTH_TEST);

  glBindVertexArray(vao);
  // A list without diffuse colour draws opaque white, as Direct3D's default vertex colour.
  if (!hasDiffuse) glVertexAttrib4f(1, 1, 1, 1, 1);
  glDrawArrays(mode, start, static_cast<GLsizei>(vertices));
  glBindVertexArray(0);
  for (size_t i = layers.size(); i-- > 0;) {
    glActiveTexture(GL_TEXTURE0 + static_cast<GLenum>(i));
    glBindTexture(GL_TEXTURE_2D, 0);
  }
  return true;
}

TOwned<T3DTexture> T3DRendererGL::CreateTexture(uint8_t kind, int32_t width, int32_t height, bool mipMapped) {
  RY_ASSERT(kind <= kTextureKindR5G6B5);
  TDeviceLockGuard lock(DeviceLock());
  TGLDevice* device;
  if (!Enter(device)) return nullptr;
  if (width <= 0 || height <= 0) {
    Fail(kRawInvalidValue);
    return nullptr;
  }
  const bool target = kind == kTextureKindRTX || kind == kTextureKindRTA;
  const int levels = !target && mipMapped && anisotropySupported_ ? FullChainLevels(width, height) : 1;
  auto texture = MakeOwned<T3DTextureGL>(store_, TRef<TGLDevice>::Share(device), kind, width, height, levels);
  texture->mipMapped = mipMapped;
  texture->Create();
  if (const uint32_t raw = device->TakeError(); raw != kRawOk) {
    lastError = ClassifyResult(raw, errorKind);
    texture->lastError = lastError;
    device->Delete(TGLDevice::TName::Texture, texture->Name());
    DeviceLossCheck();
    return nullptr;
  }
  store_->Add(texture.get());
  return texture;
}

TOwned<T3DVertexList> T3DRendererGL::CreateVertexList(int32_t count, uint32_t formatFlags, int32_t texSets) {
  TDeviceLockGuard lock(DeviceLock());
  TGLDevice* device;
  if (!Enter(device)) return nullptr;
  if (count <= 0) {
    Fail(kRawInvalidValue);
    return nullptr;
  }
  auto list = MakeOwned<T3DVertexListGL>(store_, TRef<TGLDevice>::Share(device));
  list->Create(count, formatFlags, texSets);
  if (const uint32_t raw = device->TakeError(); raw != kRawOk) {
    lastError = ClassifyResult(raw, errorKind);
    DeviceLossCheck();
    return nullptr; // the list frees nothing: its names die with the context or stay unused
  }
  store_->Add(list.get());
  return list;
}

bool T3DRendererGL::StretchRects(T3DSurface* source, T3DSurface* dest, std::span<const TRect> sourceRects,
                                 std::span<const TRect> destRects) {
  TDeviceLockGuard lock(DeviceLock());
  TGLDevice* device;
  if (!Enter(device)) return false;
  auto* from = dynamic_cast<T3DSurfaceGL*>(source);
  auto* to = dynamic_cast<T3DSurfaceGL*>(dest);
  if (!from || !to || from->Device() != device || to->Device() != device ||
      sourceRects.size() != destRects.size())
    return Fail(kRawInvalidOperation);
  const TRect wholeFrom[1] = {{0, 0, from->GetSize().width, from->GetSize().height}};
  const TRect wholeTo[1] = {{0, 0, to->GetSize().width, to->GetSize().height}};
  if (sourceRects.empty()) {
    sourceRects = wholeFrom;
    destRects = wholeTo;
  }
  for (size_t i = 0; i < sourceRects.size(); ++i)
    if (!Inside(sourceRects[i], from->GetSize()) || !Inside(destRects[i], to->GetSize()))
      return Fail(kRawInvalidValue);
  // Both framebuffers exist before either is bound: creating one binds it.
  const GLuint readFbo = from->Framebuffer(), drawFbo = to->Framebuffer();
  glBindFramebuffer(GL_READ_FRAMEBUFFER, readFbo);
  glBindFramebuffer(GL_DRAW_FRAMEBUFFER, drawFbo);
  glDisable(GL_SCISSOR_TEST);
  for (size_t i = 0; i < sourceRects.size(); ++i) {
    const TRect& s = sourceRects[i];
    const TRect& d = destRects[i];
    glBlitFramebuffer(s.left, s.top, s.right, s.bottom, d.left, d.top, d.right, d.bottom, GL_COLOR_BUFFER_BIT,
                      GL_NEAREST);
  }
  return Leave(device, true);
}

void T3DRendererGL::SetBlendMode(uint8_t mode) {
  blendMode_ = mode;
}

bool T3DRendererGL::SetTransform(int which, const T3DMatrix& matrix) {
  RY_ASSERT(which >= kTransformWorld && which <= kTransformProjection);
  TDeviceLockGuard lock(DeviceLock());
  if (!Device()) {
    errorKind = kErrorKindLost;
    return false;
  }
  transforms_[static_cast<size_t>(which)] = matrix;
  return true;
}

bool T3DRendererGL::SetCullNone(bool cullNone) {
  TDeviceLockGuard lock(DeviceLock());
  if (!Device()) {
    errorKind = kErrorKindLost;
    return false;
  }
  cullNone_ = cullNone;
  return true;
}

TOwned<T3DShader> T3DRendererGL::CreateShader(std::string_view code, bool isVertexShader) {
  TDeviceLockGuard lock(DeviceLock());
  TGLDevice* device;
  if (!Enter(device)) return nullptr;
  auto shader = MakeOwned<T3DShaderGL>(store_, TRef<TGLDevice>::Share(device));
  if (!shader->Create(code, isVertexShader)) {
    Fail(kRawInvalidOperation);
    device->TakeError();
    return nullptr;
  }
  if (const uint32_t raw = device->TakeError(); raw != kRawOk) {
    Fail(raw);
    return nullptr;
  }
  store_->Add(shader.get());
  return shader;
}

bool T3DRendererGL::SetShader(T3DShader* shader) {
  TDeviceLockGuard lock(DeviceLock());
  TGLDevice* device;
  if (!Enter(device)) return false;
  if (!shader) {
    pixelShader_ = vertexShader_ = nullptr;
    return Leave(device, true);
  }
  auto* glShader = dynamic_cast<T3DShaderGL*>(shader);
  if (!glShader || !glShader->valid || glShader->Device() != device) return Fail(kRawInvalidOperation);
  (glShader->isVertexShader ? vertexShader_ : pixelShader_) = glShader;
  return Leave(device, true);
}

bool T3DRendererGL::SetShaderConstants(int firstRegister, const float* values, int registerCount,
                                       bool isVertexShader) {
  TDeviceLockGuard lock(DeviceLock());
  if (!Device()) {
    errorKind = kErrorKindLost;
    return false;
  }
  const int limit = isVertexShader ? gl::kVertexConstants : gl::kPixelConstants;
  if (firstRegister < 0 || registerCount < 0 || firstRegister + registerCount > limit ||
      (!values && registerCount))
    return Fail(kRawInvalidValue);
  float* target = isVertexShader ? vertexConstants_.data() : pixelConstants_.data();
  if (registerCount) std::memcpy(target + 4 * firstRegister, values, sizeof(float) * 4 * registerCount);
  return true;
}

void T3DRendererGL::SimulateDeviceLoss() {
  TDeviceLockGuard lock(DeviceLock());
  if (TGLDevice* device = Device()) device->SimulateLoss();
}

void T3DRendererGL::ReleaseContext() {
  TDeviceLockGuard lock(DeviceLock());
  if (TGLDevice* device = Device()) device->Unbind();
}

} // namespace kiv

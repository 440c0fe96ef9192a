#include "GLEngine.h"

#include "Assert.h"
#include "GLRenderer.h"

#include <algorithm>
#include <mutex>

namespace kiv {

using gl::TGLDevice;

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
  // A rasteriser on the CPU pays for every anisotropic tap, and slides face the viewer: there the
  // trilinear filter alone (about 40% of an exported frame's drawing on llvmpipe).
  renderer->anisotropyLevel_ =
      glDevice->softwareRasterizer ? 1 : std::min(4, static_cast<int32_t>(glDevice->maxAnisotropy));
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
// The options of the one engine (see DeviceLayer.cpp for why it is one per process). Offscreen renderers on
// several threads may register at once.
std::mutex gEngineOptionsMutex;
TGLEngineOptions gEngineOptions; // guarded by gEngineOptionsMutex
TRef<T3DEngine> MakeGLEngine() {
  TGLEngineOptions options;
  {
    std::lock_guard lock(gEngineOptionsMutex);
    options = gEngineOptions;
  }
  return TRef<T3DEngineGL>::Make(options);
}
} // namespace

void RegisterGLEngine(const TGLEngineOptions& options) {
  {
    std::lock_guard lock(gEngineOptionsMutex);
    gEngineOptions = options;
  }
  RegisterEngineFactory(&MakeGLEngine);
}

} // namespace kiv

#include "DeviceLayer.h"

#include "GLContext.h"
#include "Assert.h"
#include "CaseFolding.h"
#include "Log.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>

namespace kiv {

TRect IntersectRect(const TRect& a, const TRect& b) {
  TRect r{std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right),
          std::min(a.bottom, b.bottom)};
  return r.IsEmpty() ? TRect{} : r;
}

bool RectInside(const TRect& r, TSize size) {
  return r.left >= 0 && r.top >= 0 && r.right <= size.width && r.bottom <= size.height && !r.IsEmpty();
}

T3DMatrix T3DMatrix::Identity() {
  T3DMatrix r;
  for (int i = 0; i < 4; ++i)
    r.m[i][i] = 1;
  return r;
}

T3DMatrix operator*(const T3DMatrix& a, const T3DMatrix& b) {
  T3DMatrix r;
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j) {
      float sum = 0;
      for (int k = 0; k < 4; ++k)
        sum += a.m[i][k] * b.m[k][j];
      r.m[i][j] = sum;
    }
  return r;
}

// ---- logging ----

namespace {
std::mutex gLogMutex;
TDevLogHook gLogHook;
} // namespace

void SetDevLogHook(TDevLogHook hook) {
  std::lock_guard lock(gLogMutex);
  gLogHook = std::move(hook);
}

void DevLog(std::string_view line) {
  LogLine(line);
  std::lock_guard lock(gLogMutex);
  if (gLogHook) gLogHook(line);
}

std::string RectText(const TRect& r) {
  return "(" + std::to_string(r.left) + ", " + std::to_string(r.top) + ", " + std::to_string(r.right) + ", " +
         std::to_string(r.bottom) + ")";
}

// ---- error classification ----

uint8_t ClassifyResult(uint32_t raw, uint8_t& errorKind) {
  uint8_t result;
  switch (raw) {
  case kRawOk:
    return kResultOk;
  case kRawOutOfMemory:
    result = kResultOutOfMemory;
    break;
  case kRawContextLost:
    result = kResultFailed;
    errorKind = kErrorKindLost;
    break;
  case kRawInvalidEnum:
  case kRawInvalidValue:
  case kRawInvalidOperation:
  case kRawInvalidFramebufferOperation:
    result = kResultInvalidCall;
    break;
  default:
    result = kResultFailed;
    break;
  }
  DevLog("Dx Error = " + std::to_string(result));
  return result;
}

// ---- bitmaps ----

int BytesPerPixel(TPixelFormat format) {
  switch (format) {
  case TPixelFormat::pf8bit:
    return 1;
  case TPixelFormat::pf16bit565:
  case TPixelFormat::pfX1R5G5B5:
    return 2;
  case TPixelFormat::pf32bit:
    return 4;
  }
  return 4;
}

void TDevBitmap::SetSize(int32_t width, int32_t height, TPixelFormat format) {
  RY_ASSERT(width >= 0 && height >= 0);
  width_ = width;
  height_ = height;
  format_ = format;
  pitch_ = width * BytesPerPixel(format);
  own_.assign(static_cast<size_t>(pitch_) * static_cast<size_t>(height), 0);
  bits_ = own_.data();
}

uint32_t TDevBitmap::Pixel32(int32_t x, int32_t y) const {
  RY_ASSERT(format_ == TPixelFormat::pf32bit && x >= 0 && y >= 0 && x < width_ && y < height_);
  uint32_t value;
  std::memcpy(&value, ScanLine(y) + x * 4, 4);
  return value;
}

void TDevBitmap::SetPixel32(int32_t x, int32_t y, uint32_t argb) {
  RY_ASSERT(format_ == TPixelFormat::pf32bit && x >= 0 && y >= 0 && x < width_ && y < height_);
  std::memcpy(ScanLine(y) + x * 4, &argb, 4);
}

// ---- draw device ----

TDrawDevice::~TDrawDevice() {
  // Normally done by Free; a device dropped without it must still not leave its renderer dangling.
  if (!attachments.empty() || renderer) Dispose();
}

void TDrawDevice::Dispose() {
  TDeviceLockGuard lock(DeviceLock());
  // Last in, first out: the store goes before the wrapper it may read.
  while (!attachments.empty()) {
    TOwned<TObj> item = std::move(attachments.back());
    attachments.pop_back();
    item.reset();
  }
  if (renderer) renderer->drawDevice = nullptr;
  renderer = nullptr;
}

void TDrawDevice::SetBounds(const TRect& newBounds, TPoint newOrigin, bool newFullScreen) {
  if (newBounds == bounds && newOrigin == origin && newFullScreen == fullScreen) return;
  bounds = newBounds;
  origin = newOrigin;
  fullScreen = newFullScreen;
  if (renderer) renderer->UpdatePanelBounds();
}

TRect TDrawDevice::ScreenRect() const {
  return {origin.x, origin.y, origin.x + bounds.Width(), origin.y + bounds.Height()};
}

TOwned<TObj> TDrawDevice::Detach(const TObj* item) {
  for (auto it = attachments.begin(); it != attachments.end(); ++it)
    if (it->get() == item) {
      TOwned<TObj> owned = std::move(*it);
      attachments.erase(it);
      return owned;
    }
  return nullptr;
}

// ---- store ----

TDevStore::TDevStore(TDrawDevice* owner, T3DEngine* creator)
    : drawDevice(owner), engine(TRef<T3DEngine>::Share(creator)) {}

TDevStore::~TDevStore() = default;

void TDevStore::Add(T3DResource* resource) {
  resource->store = this;
  if (auto* texture = dynamic_cast<T3DTexture*>(resource))
    textures.push_back(texture);
  else if (auto* list = dynamic_cast<T3DVertexList*>(resource))
    vertexLists.push_back(list);
  else if (auto* shader = dynamic_cast<T3DShader*>(resource))
    shaders.push_back(shader);
}

void TDevStore::Remove(T3DResource* resource) {
  auto drop = [resource](auto& items) { std::erase(items, resource); };
  drop(textures);
  drop(vertexLists);
  drop(shaders);
  resource->store = nullptr;
}

void TDevStore::Dispose() {
  TDeviceLockGuard lock(DeviceLock());
  if (fullScreenRenderer && drawDevice) {
    auto* wrapper = drawDevice->FindAttachment<TRectangleWrapper>();
    const TRect rect = wrapper ? wrapper->rect : drawDevice->bounds;
    DevLog("Store.Dispose FullScreen, R= " + RectText(rect));
    TPlatformWindow* window = drawDevice->window;
    auto restore = [window, rect] {
      if (window) window->SetPlacement({rect.left, rect.top, rect.right, rect.bottom});
    };
    if (MultiThreaded() && !IsMainThread()) {
      DevLog("TDevStore.Dispose, not main thread");
      PostToMainThread(restore);
    } else {
      restore();
    }
  }
  if (drawDevice && drawDevice->renderer) {
    T3DRenderer* renderer = drawDevice->renderer;
    renderer->ForgetStore(this);
    if (renderer->OnDeviceKilled) renderer->OnDeviceKilled(renderer);
  }
  // Copies: killed handlers may free their resources, which unregister from the lists.
  std::vector<T3DResource*> resources;
  resources.insert(resources.end(), textures.begin(), textures.end());
  resources.insert(resources.end(), vertexLists.begin(), vertexLists.end());
  resources.insert(resources.end(), shaders.begin(), shaders.end());
  textures.clear();
  vertexLists.clear();
  shaders.clear();
  for (T3DResource* resource : resources)
    resource->store = nullptr;
  for (T3DResource* resource : resources)
    if (resource->OnKilled) resource->OnKilled();
  device.reset();
}

// ---- pure rules ----

int32_t CapValue(const TCapsWrapper& caps, std::u16string_view name) {
  if (SameText(name, u"pixelshaderversion")) return static_cast<int32_t>(caps.pixelShaderVersion);
  if (SameText(name, u"maxtexwidth")) return caps.maxTextureWidth;
  if (SameText(name, u"maxtexheight")) return caps.maxTextureHeight;
  if (SameText(name, u"maxanisotropy")) return caps.maxAnisotropy;
  if (SameText(name, u"raster")) return static_cast<int32_t>(caps.rasterCaps);
  if (SameText(name, u"vendor")) return static_cast<int32_t>(caps.vendorId);
  return 0;
}

int32_t ShaderLevelFor(uint32_t vendorId, uint32_t pixelShaderVersion) {
  // Compare major.minor only: the 0xFFFF prefix is the same for every pixel shader version.
  const uint32_t version = pixelShaderVersion & 0xFFFF;
  if (vendorId == 0x8086 && version >= 0x0300) return 2;
  if (version < 0x0200) return 0;
  return vendorId == 0x8086 ? 1 : 2;
}

int32_t AdapterForRectIn(std::span<const TRect> monitors, const TRect& rect) {
  int32_t best = 0;
  int64_t bestArea = 0;
  for (size_t i = 0; i < monitors.size(); ++i) {
    const TRect overlap = IntersectRect(monitors[i], rect);
    const int64_t area = int64_t{overlap.Width()} * overlap.Height();
    if (area > bestArea) {
      bestArea = area;
      best = static_cast<int32_t>(i);
    }
  }
  return best;
}

uint32_t PresentWaitMs(int32_t refreshRate, uint32_t elapsed) {
  // An unknown refresh rate (0) would divide by zero: pace at 60 Hz instead.
  const int64_t period = 1000 / (refreshRate > 0 ? refreshRate : 60);
  const int64_t untilNext = std::clamp<int64_t>(period - int64_t{elapsed}, 1, std::max<int64_t>(period, 1));
  return static_cast<uint32_t>(std::max<int64_t>(1, untilNext - 3));
}

// ---- engine singleton and settings ----

// Process-wide on purpose: the windowing system (SDL's video subsystem, the EGL display) is one per process
// and GL contexts may only be made and bound on its main thread, so every player shares one engine (by
// reference), one main-thread role and one device lock.
namespace {
std::mutex gEngineMutex;
TEngineFactory gEngineFactory = nullptr; // guarded by gEngineMutex
TRef<T3DEngine> gEngine;                 // guarded by gEngineMutex
int gEngineShares = 0;                   // live TEngineShare objects; guarded by gEngineMutex
bool gEngineMadeForShares = false;       // gEngine was made by a share; guarded by gEngineMutex
std::atomic<bool> gExclusiveAllowed{true};
std::atomic<bool> gMultiThreaded{true};
std::mutex gDispatchMutex;
TMainThreadDispatcher* gDispatcher = nullptr; // guarded by gDispatchMutex
// Posted with no dispatcher installed; one queue, as there is one main thread. Guarded by gDispatchMutex.
std::vector<std::function<void()>> gMainThreadJobs;

// Written under gMainThreadMutex, read by any thread without it.
std::mutex gMainThreadMutex;
std::atomic<std::thread::id> gMainThread{std::this_thread::get_id()}; // the thread that loads the program
bool gMainThreadOwned = false;  // set by SetMainThread; guarded by gMainThreadMutex
int gMainThreadClaims = 0;      // live claims of the claiming thread; guarded by gMainThreadMutex
std::thread::id gUnclaimedMain; // the role before the first live claim; guarded by gMainThreadMutex

class TSystemClock final : public TDevClock {
public:
  uint32_t NowMs() override {
    using namespace std::chrono;
    return static_cast<uint32_t>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
  }
  void SleepMs(uint32_t ms) override { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }
};
TSystemClock gSystemClock;
std::atomic<TDevClock*> gClock{nullptr};
std::atomic<uint32_t> gLastPresent{0}; // written by every renderer's Present, on its drawing thread

// Under gEngineMutex.
T3DEngine* EngineLocked() {
  if (!gEngine && gEngineFactory) {
    gEngine = gEngineFactory();
    gEngineMadeForShares = false;
  }
  return gEngine.get();
}
} // namespace

void RegisterEngineFactory(TEngineFactory factory) {
  std::lock_guard lock(gEngineMutex);
  gEngineFactory = factory;
}

bool EngineFactoryRegistered() {
  std::lock_guard lock(gEngineMutex);
  return gEngineFactory != nullptr;
}

T3DEngine* Engine() {
  std::lock_guard lock(gEngineMutex);
  return EngineLocked();
}

void FreeEngine() {
  TRef<T3DEngine> engine; // released outside the lock: freeing the engine takes the device lock
  {
    std::lock_guard lock(gEngineMutex);
    engine = std::move(gEngine);
    gEngineMadeForShares = false;
  }
}

TEngineShare::TEngineShare() {
  std::lock_guard lock(gEngineMutex);
  const bool made = !gEngine;
  engine_ = TRef<T3DEngine>::Share(EngineLocked());
  if (made && engine_) gEngineMadeForShares = true;
  ++gEngineShares;
}

TEngineShare::~TEngineShare() {
  TRef<T3DEngine> slot; // released outside the lock, as in FreeEngine
  {
    std::lock_guard lock(gEngineMutex);
    if (--gEngineShares == 0 && gEngineMadeForShares && gEngine.get() == engine_.get()) {
      slot = std::move(gEngine);
      gEngineMadeForShares = false;
    }
  }
  slot.reset();
  engine_.reset();
}

void SetExclusiveModeAllowed(bool allowed) {
  gExclusiveAllowed = allowed;
}
bool ExclusiveModeAllowed() {
  return gExclusiveAllowed;
}
void SetMultiThreaded(bool multiThreaded) {
  gMultiThreaded = multiThreaded;
}
bool MultiThreaded() {
  return gMultiThreaded;
}

std::recursive_mutex& DeviceLock() {
  static std::recursive_mutex mutex; // one, as the GL driver's current-context state is the process's
  return mutex;
}

void SetMainThreadDispatcher(TMainThreadDispatcher* dispatcher) {
  std::vector<std::function<void()>> waiting;
  {
    std::lock_guard lock(gDispatchMutex);
    gDispatcher = dispatcher;
    if (dispatcher) waiting.swap(gMainThreadJobs);
  }
  for (auto& job : waiting)
    dispatcher->Post(std::move(job));
}

void PostToMainThread(std::function<void()> job) {
  TMainThreadDispatcher* dispatcher;
  {
    std::lock_guard lock(gDispatchMutex);
    dispatcher = gDispatcher;
    // Run inline only on the main thread itself: elsewhere the GL objects would belong to the wrong thread.
    if (!dispatcher && !IsMainThread()) {
      gMainThreadJobs.push_back(std::move(job));
      return;
    }
  }
  if (dispatcher)
    dispatcher->Post(std::move(job));
  else
    job();
}

int RunMainThreadJobs() {
  if (!IsMainThread()) return 0;
  int count = 0;
  // Taken out first: the jobs take the device lock, and workers post while holding it.
  std::vector<std::function<void()>> jobs;
  {
    std::lock_guard lock(gDispatchMutex);
    jobs.swap(gMainThreadJobs);
  }
  for (auto& job : jobs) {
    job();
    ++count;
  }
  return count;
}

void SetMainThread(std::thread::id id) {
  std::lock_guard lock(gMainThreadMutex);
  gMainThread = id;
  gMainThreadOwned = true;
}

bool IsMainThread() {
  return std::this_thread::get_id() == gMainThread.load();
}

TMainThreadClaim::TMainThreadClaim() {
  std::lock_guard lock(gMainThreadMutex);
  const std::thread::id self = std::this_thread::get_id();
  if (gMainThreadClaims > 0) {
    // Nested claims of the claiming thread count; another thread's claim is left alone.
    claimed_ = gMainThread.load() == self;
  } else if (!gMainThreadOwned) {
    gUnclaimedMain = gMainThread.load();
    gMainThread = self;
    claimed_ = true;
  }
  if (claimed_) ++gMainThreadClaims;
}

TMainThreadClaim::~TMainThreadClaim() {
  if (!claimed_) return;
  std::lock_guard lock(gMainThreadMutex);
  // An owner set while the claim lived keeps the role.
  if (--gMainThreadClaims == 0 && !gMainThreadOwned) gMainThread = gUnclaimedMain;
}

void SetDevClock(TDevClock* clock) {
  gClock = clock;
}
TDevClock& DevClock() {
  TDevClock* clock = gClock;
  return clock ? *clock : gSystemClock;
}
uint32_t LastPresentTime() {
  return gLastPresent.load();
}
void SetLastPresentTime(uint32_t ms) {
  gLastPresent.store(ms);
}

bool T3DSurface::Write(const TRect& rect, const uint8_t* bits, int32_t pitch) {
  TDevBitmap* locked = Lock(&rect, false);
  if (!locked) return false;
  const size_t rowBytes =
      static_cast<size_t>(rect.Width()) * static_cast<size_t>(BytesPerPixel(locked->Format()));
  for (int32_t row = 0; row < rect.Height(); ++row)
    std::memcpy(locked->ScanLine(row), bits + static_cast<size_t>(row) * static_cast<size_t>(pitch),
                rowBytes);
  Unlock(locked);
  return true;
}

} // namespace kiv

#pragma once
// The device layer: abstract engine, renderer, surfaces, textures, vertex lists and shaders through which
// every drawing goes, the draw device they draw into, and the pure rules they share (error
// classification, capabilities, adapter choice, presentation pacing). One concrete family lives in gl/.
//
// Every operation answers a success flag and never raises, except for contract violations (assertions).
// One process-wide recursive lock (DeviceLock) guards every device, store and resource list.

#include "ObjectBase.h"

#include <cstdint>
#include <functional>
#include <mutex>
#include <span>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

namespace kiv {

class TPlatformWindow;
class T3DRenderer;
class T3DTexture;
class T3DVertexList;
class T3DShader;
class T3DEngine;
class TDevStore;

struct TRect {
  int32_t left = 0, top = 0, right = 0, bottom = 0;
  int32_t Width() const { return right - left; }
  int32_t Height() const { return bottom - top; }
  bool IsEmpty() const { return right <= left || bottom <= top; }
  bool operator==(const TRect&) const = default;
};
TRect IntersectRect(const TRect& a, const TRect& b); // empty rectangles come back as all zeros

struct TPoint {
  int32_t x = 0, y = 0;
  bool operator==(const TPoint&) const = default;
};
struct TSize {
  int32_t width = 0, height = 0;
  bool operator==(const TSize&) const = default;
};
bool RectInside(const TRect& rect, TSize size); // not empty and within (0, 0) .. size
struct TFloatPoint {
  float x = 0, y = 0;
};

// Direct3D 9 matrix convention kept everywhere: row vectors, v' = v · M, m[row][column].
struct T3DMatrix {
  float m[4][4] = {};
  static T3DMatrix Identity();
};
T3DMatrix operator*(const T3DMatrix& a, const T3DMatrix& b);

// The vertex record callers pass: a list copies only the parts its format has.
struct T3DVertex {
  float x = 0, y = 0, z = 0;
  float tex[8][2] = {};
  uint32_t color = 0; // ARGB
};
static_assert(sizeof(T3DVertex) == 80);

// Direct3D format numbers, kept as the values of the display-mode record.
inline constexpr int32_t kFormatX8R8G8B8 = 22;
inline constexpr int32_t kFormatD24X8 = 77;

struct TDisplayMode {
  TRect monitor;
  int32_t refreshRate = 0; // Hz
  int32_t format = 0;      // Direct3D format number
  int32_t adapter = 0;
};

// Results after classification (the "error result" of the renderer and its resources).
inline constexpr uint8_t kResultOk = 0;
inline constexpr uint8_t kResultInvalidCall = 1;
inline constexpr uint8_t kResultOutOfMemory = 2;
inline constexpr uint8_t kResultFailed = 3;
inline constexpr uint8_t kErrorKindLost = 2;

// Raw outcomes of backend calls. GL error codes are used as they are; the rest are ours.
inline constexpr uint32_t kRawOk = 0;
inline constexpr uint32_t kRawInvalidEnum = 0x0500;
inline constexpr uint32_t kRawInvalidValue = 0x0501;
inline constexpr uint32_t kRawInvalidOperation = 0x0502;
inline constexpr uint32_t kRawOutOfMemory = 0x0505;
inline constexpr uint32_t kRawInvalidFramebufferOperation = 0x0506;
inline constexpr uint32_t kRawContextLost = 0x0507;
inline constexpr uint32_t kRawFailed = 0xFFFF; // any other failure (incomplete framebuffer, no context, ...)

// Maps a raw outcome to the error result; device loss also sets errorKind to 2. Logs "Dx Error = ".
uint8_t ClassifyResult(uint32_t raw, uint8_t& errorKind);

enum class TPixelFormat : uint8_t { pf8bit, pf16bit565, pfX1R5G5B5, pf32bit };
int BytesPerPixel(TPixelFormat format);

// Pixels in memory, rows top-down: 32-bit pixels are 0xAARRGGBB words, 565 pixels 16-bit words, 8-bit
// pixels bytes. Owns its pixels, or views the buffer of a locked surface.
class TDevBitmap : public TObj {
public:
  TDevBitmap() = default;
  TDevBitmap(int32_t width, int32_t height, TPixelFormat format) { SetSize(width, height, format); }
  TDevBitmap(TDevBitmap&& other) noexcept
      : TObj(), own_(std::move(other.own_)), bits_(std::exchange(other.bits_, nullptr)),
        width_(std::exchange(other.width_, 0)), height_(std::exchange(other.height_, 0)),
        pitch_(std::exchange(other.pitch_, 0)), format_(other.format_) {}
  void SetSize(int32_t width, int32_t height, TPixelFormat format);
  int32_t Width() const { return width_; }
  int32_t Height() const { return height_; }
  int32_t Pitch() const { return pitch_; }
  TPixelFormat Format() const { return format_; }
  uint8_t* ScanLine(int32_t row) { return bits_ + static_cast<size_t>(row) * pitch_; }
  const uint8_t* ScanLine(int32_t row) const { return bits_ + static_cast<size_t>(row) * pitch_; }
  uint32_t Pixel32(int32_t x, int32_t y) const; // 32-bit bitmaps only
  void SetPixel32(int32_t x, int32_t y, uint32_t argb);

private:
  std::vector<uint8_t> own_;
  uint8_t* bits_ = nullptr;
  int32_t width_ = 0, height_ = 0, pitch_ = 0;
  TPixelFormat format_ = TPixelFormat::pf32bit;
};

// Remembered placement of a draw device's window, and the one-shot flag that makes the next renderer
// avoid exclusive mode after a loss.
class TRectangleWrapper : public TObj {
public:
  TRect rect;
  bool avoidExclusive = false;
};

// The target a renderer draws into: a window, or (window none) an offscreen picture of the bounds' size.
class TDrawDevice : public TObj {
public:
  TDrawDevice() = default;
  ~TDrawDevice() override;

  bool fullScreen = false;
  TRect bounds;  // client coordinates; its size is the offscreen size when there is no window
  TPoint origin; // screen position of the client area
  TPlatformWindow* window = nullptr; // not owned; none for an offscreen target
  std::function<void(TDrawDevice*)> OnPaint;
  std::function<void(T3DRenderer*)> OnRendererCreated; // raised on the creating (main) thread
  T3DRenderer* renderer = nullptr;                     // set by the renderer, cleared when either goes
  std::vector<TOwned<TObj>> attachments;               // wrapper, store, killed messenger of the screen

  virtual void SetBounds(const TRect& newBounds, TPoint newOrigin, bool newFullScreen);
  virtual bool IsActive() { return true; }

  TRect ScreenRect() const;
  template <class T> T* FindAttachment() const {
    for (const auto& item : attachments)
      if (auto* found = dynamic_cast<T*>(item.get())) return found;
    return nullptr;
  }
  void Attach(TOwned<TObj> item) { attachments.push_back(std::move(item)); }
  // Takes an attachment out of the list without freeing it.
  TOwned<TObj> Detach(const TObj* item);

protected:
  void Dispose() override;
};

class T3DSurface : public TObj {
public:
  // Reads the whole surface into the bitmap (resized to the surface's size and format).
  virtual bool CopyToBitmap(TDevBitmap& target) = 0;
  virtual TSize GetSize() = 0;
  virtual TPixelFormat GetPixelFormat() = 0;
  // A bitmap over the rectangle (whole surface when none); valid until Unlock. One lock at a time.
  virtual TDevBitmap* Lock(const TRect* rect, bool readOnly) = 0;
  virtual void Unlock(TDevBitmap* bitmap) = 0;
  // Replaces the rectangle with rows of pixels of the surface's format, `pitch` bytes apart, without
  // reading what was there (a lock and a copy unless the device has a direct way). false on failure.
  virtual bool Write(const TRect& rect, const uint8_t* bits, int32_t pitch);
};

// Resources lose their store when the device goes away; `OnKilled` tells their owner.
class T3DResource : public TObj {
public:
  TDevStore* store = nullptr; // cleared under the lock when the store is freed
  std::function<void()> OnKilled;
};

inline constexpr uint8_t kTextureKindARGB = 0;
inline constexpr uint8_t kTextureKindRTX = 1;
inline constexpr uint8_t kTextureKindRTA = 2;
inline constexpr uint8_t kTextureKindL8 = 3;
inline constexpr uint8_t kTextureKindR5G6B5 = 4;

inline constexpr uint8_t kAddressWrap = 0, kAddressClamp = 1, kAddressMirror = 2;
inline constexpr uint8_t kFilterPoint = 0, kFilterLinear = 1;

class T3DTexture : public T3DResource {
public:
  uint8_t errorKind = 0;
  uint8_t lastError = 0;
  uint8_t kind = 0;
  bool premultiplied = false;
  uint8_t addressU = kAddressWrap, addressV = kAddressWrap;
  uint8_t filter = kFilterPoint;
  bool mipMapped = false;
  float lodBias = 0;

  virtual T3DSurface* GetSurface(int level) = 0;
  virtual int GetLevelCount() = 0;
  virtual void PreLoad() = 0;
  virtual void SetAddressMode(uint8_t u, uint8_t v) = 0;
  virtual void GetAddressMode(uint8_t& u, uint8_t& v) = 0;
  virtual void SetFilter(uint8_t value) = 0;
  virtual uint8_t GetFilter() = 0;
  virtual void SetMipMapped(bool value) = 0;
  virtual void SetLodBias(float value) = 0;
};

inline constexpr uint32_t kVertexDiffuse = 1; // format flag of CreateVertexList

enum class TPrimitive : uint8_t { PointList, LineList, LineStrip, TriangleList, TriangleStrip, TriangleFan };

class T3DVertexList : public T3DResource {
public:
  int32_t primitiveStart = 0, primitiveCount = 0;
  uint8_t primitiveType = 3;
  uint32_t fvf = 0;
  int32_t stride = 0;
  int32_t diffuseOffset = 0, texOffset = 0;
  bool hasDiffuse = false;
  int32_t texSets = 0;
  int32_t vertexCount = 0;

  virtual void SetPrimitive(int32_t start, int32_t count, uint8_t type) = 0;
  virtual bool Fill(int32_t firstVertex, std::span<const T3DVertex> vertices) = 0;
};

class T3DShader : public T3DResource {
public:
  bool valid = false;
  bool isVertexShader = false;
};

// DrawVertexList flags.
inline constexpr uint32_t kDrawTextured = 1;
inline constexpr uint32_t kDrawModulateColor = 2;
inline constexpr uint32_t kDrawModulateAlpha = 4;
inline constexpr uint32_t kDrawLighting = 8;
// Clear flags.
inline constexpr uint32_t kClearTarget = 1;
inline constexpr uint32_t kClearDepth = 2;
// SetTransform targets.
inline constexpr int kTransformWorld = 0, kTransformView = 1, kTransformProjection = 2;

class T3DRenderer : public TObj {
public:
  TDrawDevice* drawDevice = nullptr; // cleared when the draw device goes
  uint8_t errorKind = 0;             // 2 = device lost
  uint8_t lastError = 0;
  std::function<void(T3DRenderer*)> OnDeviceKilled; // raised when the store under the renderer is freed

  // Called by a store being freed: from now on every operation answers failure with error kind 2.
  virtual void ForgetStore(TDevStore* store) = 0;

  virtual void UpdatePanelBounds() = 0;
  virtual bool BeginScene() = 0;
  virtual bool EndScene() = 0;
  virtual bool Present(std::span<const TRect> sourceRects, std::span<const TRect> destRects) = 0;
  virtual bool Clear(std::span<const TRect> rects, uint32_t flags, uint32_t color, float depth) = 0;
  virtual bool SetDefaultStates() = 0;
  virtual bool SetRenderTarget(T3DSurface* surface) = 0;
  virtual T3DSurface* GetRenderTarget() = 0;
  virtual bool GetBackBuffer(T3DSurface*& surface) = 0;
  virtual bool SetViewport(const TRect& rect, float minZ, float maxZ) = 0;
  virtual bool DrawVertexList(std::span<T3DTexture* const> textures, uint32_t flags, T3DVertexList* list) = 0;
  virtual TOwned<T3DTexture> CreateTexture(uint8_t kind, int32_t width, int32_t height, bool mipMapped) = 0;
  virtual TOwned<T3DVertexList> CreateVertexList(int32_t count, uint32_t formatFlags, int32_t texSets) = 0;
  virtual bool StretchRects(T3DSurface* source, T3DSurface* dest, std::span<const TRect> sourceRects,
                            std::span<const TRect> destRects) = 0;
  virtual void SetBlendMode(uint8_t mode) = 0;
  virtual bool SetTransform(int which, const T3DMatrix& matrix) = 0;
  virtual bool SetCullNone(bool cullNone) = 0;
  virtual TFloatPoint GetTexelOffset() = 0;
  // Our own shader code (GLSL source) in place of compiled byte code.
  virtual TOwned<T3DShader> CreateShader(std::string_view code, bool isVertexShader) = 0;
  virtual bool SetShader(T3DShader* shader) = 0;
  virtual bool SetShaderConstants(int firstRegister, const float* values, int registerCount,
                                  bool isVertexShader) = 0;
};

// The device of one draw device with the resources created on it; an attachment of its draw device.
// Freeing it tells the renderer (OnDeviceKilled) and every resource (OnKilled).
class TDevStore : public TObj {
public:
  TDevStore(TDrawDevice* owner, T3DEngine* creator);
  ~TDevStore() override;

  TDrawDevice* drawDevice;
  TRef<T3DEngine> engine; // kept alive while the device's resources may ask it
  TRef<TRefObj> device;   // the backend's device object; none once released
  std::vector<T3DTexture*> textures;
  std::vector<T3DVertexList*> vertexLists;
  std::vector<T3DShader*> shaders;
  bool fullScreenRenderer = false; // the renderer on it was created for a full-screen device

  void Add(T3DResource* resource);
  void Remove(T3DResource* resource);

protected:
  void Dispose() override;
};

// Per-adapter capabilities, read once.
struct TCapsWrapper {
  int32_t adapter = 0;
  uint32_t pixelShaderVersion = 0; // Direct3D form: 0xFFFF0000 | major << 8 | minor
  int32_t maxTextureWidth = 0, maxTextureHeight = 0;
  int32_t maxAnisotropy = 0;
  uint32_t rasterCaps = 0;
  uint32_t vendorId = 0;
};
inline constexpr uint32_t kRasterMipMapLodBias = 1u << 13;
inline constexpr uint32_t kRasterAnisotropy = 1u << 17;
constexpr uint32_t PixelShaderVersion(uint32_t major, uint32_t minor) {
  return 0xFFFF0000u | (major << 8) | minor;
}

// Pure rules shared by every backend.
int32_t CapValue(const TCapsWrapper& caps, std::u16string_view name); // 0 for an unknown name
int32_t ShaderLevelFor(uint32_t vendorId, uint32_t pixelShaderVersion);
int32_t AdapterForRectIn(std::span<const TRect> monitors, const TRect& rect);
// Milliseconds to sleep before a present; a refresh rate of 0 counts as 60 Hz.
uint32_t PresentWaitMs(int32_t refreshRate, uint32_t elapsedSinceLastPresentMs);

// Shared: the process slot, renderers, stores and posted requests each hold a reference.
class T3DEngine : public TRefObj {
public:
  uint8_t lastError = 0;
  uint8_t lastErrorKind = 0;

  virtual int32_t AdapterForRect(const TRect& rect) = 0;
  virtual int32_t GetCap(std::u16string_view name, int32_t adapter) = 0;
  virtual bool GetDisplayMode(int32_t adapter, TDisplayMode& mode) = 0;
  virtual TOwned<T3DRenderer> CreateRenderer(TDrawDevice* device, const TDisplayMode& mode) = 0;
  virtual bool IsDeviceAvailable() = 0;
  virtual int32_t ShaderLevel(int32_t adapter) = 0;
};

// The process-wide engine, one per process because the screen layer finds it through Engine(): created on
// first request by the registered factory. FreeEngine drops the process's reference only; renderers and
// stores hold their own, so the engine goes with the last of them.
using TEngineFactory = TRef<T3DEngine> (*)();
void RegisterEngineFactory(TEngineFactory factory);
bool EngineFactoryRegistered();
T3DEngine* Engine(); // none when no factory is registered or the factory fails
void FreeEngine();

// A share of the process-wide engine for a part that draws on its own for a while (an offscreen renderer).
// The first share makes the engine when there is none, and the last share gives back an engine that was
// made for shares; an engine somebody else made stays theirs.
class TEngineShare {
public:
  TEngineShare();
  ~TEngineShare();
  TEngineShare(const TEngineShare&) = delete;
  TEngineShare& operator=(const TEngineShare&) = delete;
  T3DEngine* get() const { return engine_.get(); } // none when no factory is registered

private:
  TRef<T3DEngine> engine_;
};

// Global settings of the layer.
void SetExclusiveModeAllowed(bool allowed); // the shell clears it for opt_scr_noexclusive
bool ExclusiveModeAllowed();
void SetMultiThreaded(bool multiThreaded); // marshal creation and release to the main thread
bool MultiThreaded();

// The one lock around all device work.
std::recursive_mutex& DeviceLock();
using TDeviceLockGuard = std::lock_guard<std::recursive_mutex>;

// Device creation and release run on the main thread; other threads post them here. The application's
// event loop installs a dispatcher. Without one, work posted on the main thread runs at once, and work
// posted elsewhere waits until the main thread calls RunMainThreadJobs or installs a dispatcher, which
// takes the waiting work over.
class TMainThreadDispatcher {
public:
  virtual ~TMainThreadDispatcher() = default;
  virtual void Post(std::function<void()> job) = 0;
};
void SetMainThreadDispatcher(TMainThreadDispatcher* dispatcher);
void PostToMainThread(std::function<void()> job);
int RunMainThreadJobs();                // the number of jobs run; none off the main thread
void SetMainThread(std::thread::id id); // recorded at start-up; that thread owns the role from then on
bool IsMainThread();

// The main-thread role for a part that drives a device from its own thread (an offscreen renderer): taken
// for the calling thread while no thread was given the role by SetMainThread or holds a claim, and handed
// back by the destructor. It never takes the role from an owner; without it the part's device creation
// is posted to the owner.
class TMainThreadClaim {
public:
  TMainThreadClaim();
  ~TMainThreadClaim();
  TMainThreadClaim(const TMainThreadClaim&) = delete;
  TMainThreadClaim& operator=(const TMainThreadClaim&) = delete;
  bool Claimed() const { return claimed_; }

private:
  bool claimed_ = false;
};

// Milliseconds and sleeps of the presentation pacing; tests install their own.
class TDevClock {
public:
  virtual ~TDevClock() = default;
  virtual uint32_t NowMs() = 0;
  virtual void SleepMs(uint32_t ms) = 0;
};
void SetDevClock(TDevClock* clock); // none restores the system clock
TDevClock& DevClock();
// When any renderer last presented (DevClock milliseconds): the pacing is per process.
uint32_t LastPresentTime();
void SetLastPresentTime(uint32_t ms);

// The layer's log lines ("Dx Error = 3", "T3DRenderer9: DEVICE LOST!") go to the process-wide log and to
// an optional hook, through which tests capture them.
using TDevLogHook = std::function<void(std::string_view line)>;
void SetDevLogHook(TDevLogHook hook);
void DevLog(std::string_view line);
std::string RectText(const TRect& rect); // "(l, t, r, b)"

} // namespace kiv

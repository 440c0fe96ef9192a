#pragma once
// The drawing surface over the device layer: the screen owns the renderer of one draw device, re-creates
// it when the window, its size or full-screen state changes or the device is lost, and offers the
// primitives that the slide drawer and the transitions use. Textures, triangle batches and shaders
// register with the screen so that their device objects can be dropped when the device goes away and
// are rebuilt lazily afterwards.
//
// Drawing is in screen pixels: x right, y down, z into the screen, the screen plane at z = 0 and the eye
// at (W/2, H/2, -H) for a W x H output.

#include "DeviceLayer.h"
#include "MipReduction.h"

#include <array>
#include <functional>
#include <span>
#include <string>
#include <vector>

namespace kiv {

class T3DScreen;
class TCustomTexture;

struct T3DPoint {
  float x = 0, y = 0, z = 0;
};
struct TFloatRect {
  float left = 0, top = 0, right = 0, bottom = 0;
};

// Where a flat object lies in space: object point (u, v) lands at
// origin + (u - pivot.x) * xAxis + (v - pivot.y) * yAxis.
struct TQuadPlacement {
  T3DPoint origin;
  TFloatPoint pivot;
  T3DPoint xAxis{1, 0, 0};
  T3DPoint yAxis{0, 1, 0};
};
T3DPoint PlacePoint(const TQuadPlacement& placement, float u, float v);

// Corner colours (ARGB) in the order left-top, right-top, left-bottom, right-bottom.
using TQuadColors = std::array<uint32_t, 4>;
// Edge flags in the order left, top, right, bottom.
using TEdgeFlags = std::array<bool, 4>;

// A quad with a one-pixel ring around it: 4 x 4 points row by row, the inner four being the corners.
struct TFeatherPatch {
  std::array<T3DPoint, 16> points;
  std::array<TFloatPoint, 16> coords; // object coordinates (u, v) of each point
  TFloatRect rect;                    // the object rectangle the inner points span
};
// Colour of the outer ring from the colour of the nearest corner; the default clears alpha.
using TPatchColorFunc = std::function<uint32_t(uint32_t)>;

inline constexpr int kMaxLayers = 7;

// Pure rules of the screen.
int32_t TextureDimension(int32_t logical); // next power of two, at least 32; 0 for a non-positive size
// Index ranges (first, last) released, in order, while a render target cannot be created for lack of
// video memory with `count` managed textures: the upper half first, then halves of what is left.
std::vector<std::pair<int32_t, int32_t>> BackOffRanges(int32_t count);
// DrawVertexList flags of a batch flush.
uint32_t BatchDrawFlags(int layerCount, bool is3D, bool anyPremultiplied);
uint32_t PremultiplyColor(uint32_t argb); // each channel the integer part of channel * alpha / 255

// Anything that holds a device object for the screen: registered while it lives.
class TScreenResource : public TObj {
public:
  explicit TScreenResource(T3DScreen* screen);
  ~TScreenResource() override;
  T3DScreen* Screen() const { return screen_; }
  // Drops the device object; it is created again on next use.
  virtual void ReleaseDeviceObject() = 0;

protected:
  friend class T3DScreen;
  T3DScreen* screen_; // cleared by the screen when it goes first
};

class TCustomTexture : public TScreenResource {
public:
  explicit TCustomTexture(T3DScreen* screen);
  ~TCustomTexture() override;

  TOwned<T3DTexture> texture; // device texture, created on first use
  uint8_t kind = kTextureKindARGB;
  int32_t width = 0, height = 0;       // logical size
  int32_t texWidth = 0, texHeight = 0; // power-of-two size of the device texture
  double invTexWidth = 0, invTexHeight = 0;
  bool mipMapped = false;
  float lodBias = 0;
  bool everMipMapped = false; // once asked for, levels stay so that the texture is not re-created
  bool premultiplied = false;
  bool pointFilter = false;
  uint8_t opacity = 255;

  // The device texture, created (and filled) on first use; none while the size is 0, the screen not
  // ready or the creation failed.
  virtual T3DTexture* GetTexture();
  virtual void SetSize(TSize size);
  // Writes the picture into level 0 (levels[0], the top-left width x height pixels of the texture).
  virtual void FillLevel0(std::span<TDevBitmap* const> levels) = 0;
  // Fills every level: level 0 from FillLevel0, each further level reduced from the one before.
  virtual void UploadContent();
  // Drops the device texture and what was derived from it.
  virtual void Release();
  virtual void PreLoad();

  void SetMipMapped(bool value);
  void SetPremultiplied(bool value);
  void SetKind(uint8_t value);
  // A bitmap over `rect` of a level of the device texture (none without one); give it back with
  // UnlockLevel.
  TDevBitmap* LockLevel(const TRect& rect, int level);
  void UnlockLevel(TDevBitmap* bitmap, int level);

  void ReleaseDeviceObject() override { Release(); }
  void DeviceKilled(); // the store under the device texture went away

private:
  TBilinearResampler resampler_;
};

class TRenderTargetManager;

// A screen-sized A8R8G8B8 target; pooled ones go back to their pool when dropped through the handle.
class TRenderTargetTexture final : public TCustomTexture {
public:
  explicit TRenderTargetTexture(T3DScreen* screen);
  void FillLevel0(std::span<TDevBitmap* const>) override {}
  void UploadContent() override {}
  TRenderTargetManager* pool = nullptr; // set while the texture is out of its pool
};

// Drops a render-target texture: back to its pool while it has one, else freed.
struct TRenderTargetDeleter {
  void operator()(TRenderTargetTexture* texture) const noexcept;
};
using TRenderTargetHandle = std::unique_ptr<TRenderTargetTexture, TRenderTargetDeleter>;

// A device shader made from our GLSL code; created when the screen is ready, else at the next first scene.
class TShader final : public TScreenResource {
public:
  static constexpr uint8_t kPixel = 0, kVertex = 1;
  TShader(T3DScreen* screen, uint8_t shaderKind, std::string compiledCode);
  ~TShader() override;

  std::string code;
  uint8_t kind;
  TOwned<T3DShader> shader; // device shader

  T3DShader* GetShader(); // creates it when missing and the screen is ready
  bool NeedsCreation() const;
  void Create();
  void ReleaseShader();
  void ReleaseDeviceObject() override { ReleaseShader(); }
};

// The triangle batch: all triangles of one texture set are drawn by one call.
class TVertexBuffer final : public TScreenResource {
public:
  explicit TVertexBuffer(T3DScreen* screen);
  ~TVertexBuffer() override;

  TOwned<T3DVertexList> list; // device vertex list
  int32_t capacity = 0;       // triangles the device list holds
  int32_t limit = 0;          // triangles per flush
  std::vector<T3DVertex> pending;
  int32_t pendingCount = 0; // triangles
  std::array<TCustomTexture*, kMaxLayers> layers{};
  int layerCount = 0;
  bool is3D = false; // set while a 3D quad or patch is added
  // Set by the slide drawer around textured drawing whose vertex colours tint or fade the textures.
  bool modulate = false;

  void SetCapacity(int32_t triangles, int layerSets);
  void BeginBatch(std::span<TCustomTexture* const> textures, int count);
  // Points in screen pixels; texture coordinates per layer in texture pixels.
  void AddTriangle(const std::array<T3DPoint, 3>& points, const std::array<uint32_t, 3>& colors,
                   std::span<const std::array<TFloatPoint, 3>> texCoords);
  void Flush();
  void Release();
  void ReleaseDeviceObject() override { Release(); }
  void DeviceKilled();

private:
  bool EnsureList(int32_t triangles);
};

// One entry of the render-target stack; the bottom one is the renderer's own target at (0, 0).
class TRenderTargetWrapper final : public TObj {
public:
  TPoint offset;                 // screen pixels
  T3DSurface* surface = nullptr; // not owned
};

// Lives in the draw device's attachment list; when the device goes, it tells the screen.
class TDeviceKilledMessenger final : public TObj {
public:
  explicit TDeviceKilledMessenger(T3DScreen* owner) : screen(owner) {}
  ~TDeviceKilledMessenger() override;
  T3DScreen* screen; // cleared when the screen goes first
};

class T3DScreen final : public TObj {
public:
  T3DScreen();
  ~T3DScreen() override;

  TOwned<T3DRenderer> renderer;
  TDrawDevice* drawDevice = nullptr; // not owned; cleared by the messenger when the device goes
  TRect screenRect;                  // monitor rectangle when full screen, else the device bounds
  bool fullScreen = false;
  int32_t adapter = 0;
  TPlatformWindow* window = nullptr;
  TPoint targetOffset; // top-left of the area the current target represents, screen pixels
  TOwned<TVertexBuffer> batch;
  std::vector<TOwned<TRenderTargetWrapper>> targetStack;
  std::vector<TScreenResource*> resources;     // registration order
  TDeviceKilledMessenger* messenger = nullptr; // owned by the draw device's attachment list
  float projOffsetX = 0, projOffsetY = 0, projScaleX = 1, projScaleY = 1;
  // The coordinate space drawing happens in and the screen rectangle it is mapped onto, for every target;
  // set by the slide drawer's SetViewArea, on the drawing thread.
  TSize viewSize; // the screen's size when not positive
  TRect viewRect; // screen pixels; the whole screen when empty
  bool sceneBegun = false;
  std::function<void(T3DScreen*)> OnRendererReleased;
  // The device under the renderer was lost (or freed): drawing resumes on a new renderer.
  std::function<void(T3DScreen*)> OnLost;

  void AssignDevice(TDrawDevice* device);
  void InitRenderer();
  bool BeginScene();
  bool EndScene(bool present);
  void ReleaseRenderer();
  void ReleaseResources();
  bool IsReady() const;
  int32_t Width() const { return screenRect.Width(); }
  int32_t Height() const { return screenRect.Height(); }

  void Clear(uint32_t color, bool withDepth);
  void ClearRect(uint32_t color, const TRect& rect); // screen pixels
  TRect GetTargetRect() const;
  void PushRenderTarget(TCustomTexture* target, int32_t offsetX = 0, int32_t offsetY = 0);
  void PopRenderTarget() { PushRenderTarget(nullptr); }
  void SetupProjection(float screenHeight, float screenWidth, float targetHeight, float targetWidth,
                       float offsetY, float offsetX);
  void SetViewport(const TRect& rect, float minDepth, float maxDepth);
  // Maps the size onto the area (screen pixels) for the current target and every one pushed later;
  // an empty area and a non-positive size draw in plain screen pixels.
  void SetView(const TRect& area, TSize size);
  TSize LogicalSize() const;
  TRect ViewRect() const;
  // Viewport and projection of the current target under the view: the viewport is the view area cut to
  // the target, and the projection maps the view size onto the view area.
  void ApplyTargetProjection();

  // Two untextured triangles (a, b, c) and (c, b, d).
  void DrawTriangles(const T3DPoint& a, const T3DPoint& b, const T3DPoint& c, const T3DPoint& d,
                     const TQuadColors& colors);
  // The object rectangle is rects[0]; layer k takes its texture coordinates from rects[k].
  void DrawQuad(std::span<TCustomTexture* const> layers, int layerCount, const TQuadColors& colors,
                std::span<const TFloatRect> rects, const TQuadPlacement& placement, int batchLayerCount);
  // Edges with a flag get a one-pixel ring fading to alpha 0, unless the projected quad is degenerate.
  void BuildFeatherPatch(const TQuadPlacement& placement, const TFloatRect& rect, const TEdgeFlags& edges,
                         TFeatherPatch& patch) const;
  // Layer k maps the patch rectangle onto layerRects[k] when given, else uses the patch coordinates.
  void DrawPatch(std::span<TCustomTexture* const> layers, int layerCount, const TPatchColorFunc& colorFunc,
                 const TQuadColors& colors, const TFeatherPatch& patch, int batchLayerCount,
                 std::span<const TFloatRect> layerRects = {});
  void DrawRenderTarget(TRenderTargetTexture* target, const TQuadPlacement& placement,
                        const TFloatRect& source);

  TFloatPoint ScreenToTarget(TFloatPoint p) const;
  TFloatPoint TargetToScreen(TFloatPoint p) const;
  // Where a point in space lands on the screen plane (the camera's projection), in view coordinates.
  TFloatPoint Project(const T3DPoint& p) const;
  // The same in screen pixels.
  TFloatPoint ProjectToScreen(const T3DPoint& p) const;

  // Device objects of a store that went away, freed at a safe point (their owners are mid-callback).
  void Bury(TOwned<TObj> dead);
  T3DTexture* CreateDeviceTexture(TCustomTexture& texture);

private:
  friend class TScreenResource;
  friend class TDeviceKilledMessenger;
  TRect DeviceScreenRect(TDrawDevice* device) const;
  void RendererKilled();
  void FreeBuried();
  void SelectTop();

  std::vector<TOwned<TObj>> buried_;
  TOwned<T3DRenderer> deadRenderer_; // killed from inside its own call: freed at the next safe point
};

} // namespace kiv

#pragma once
// The slide drawer on the screen: pictures through tiled multi-textures, boxes, frames and rectangles,
// video frames in YUV form, masks, blur and sharpen through render targets and shaders, and transitions
// through a filter interface that the transitions library implements.

#include "RenderTargetPool.h"
#include "TiledTextures.h"
#include "DrawTree.h"
#include "YuvFrame.h"

#include <condition_variable>
#include <map>
#include <mutex>
#include <optional>

namespace kiv {

class T3DDrawer;

// A decoded video frame that the decoder writes plane by plane, straight into the drawer's textures: the
// video library's frame sources fill any TYUVImage, and this is the drawer's. Planes: 0 Y, 1 U, 2 V (8-bit),
// 3 grey (16-bit R5G6B5), 4 RGBA (32-bit); which ones exist follows the request chosen at creation.
class TDeviceYUVImage : public TYUVImage {
public:
  // Pixels of a plane (U and V are integer halves).
  virtual TSize PlaneSize(int plane) const = 0;
  // What the frame wants from the decoder; fixed at creation, mirrored in Request().
  bool maskMode = false;  // Y plane only
  bool withAlpha = false; // RGBA
  bool greyForm = false;  // 16-bit grey written by the processor

protected:
  TDeviceYUVImage(int width, int height, unsigned request) : TYUVImage(width, height, request) {}
};

class T3DYUV;

// A plane texture written by the decoder: nothing to fill or upload on our side.
class TPlaneTexture : public TCustomTexture {
public:
  TPlaneTexture(T3DScreen* screen, T3DYUV* owner, uint8_t textureKind, TSize size);
  void FillLevel0(std::span<TDevBitmap* const>) override {}
  void UploadContent() override {}
  void Release() override;
  T3DYUV* video;
};
class TVideoTexture final : public TPlaneTexture {
public:
  TVideoTexture(T3DScreen* screen, T3DYUV* owner, TSize size)
      : TPlaneTexture(screen, owner, kTextureKindL8, size) {}
};
class TGrayScaleTexture final : public TPlaneTexture {
public:
  TGrayScaleTexture(T3DScreen* screen, T3DYUV* owner, TSize size)
      : TPlaneTexture(screen, owner, kTextureKindR5G6B5, size) {}
};
class TRGBATexture final : public TPlaneTexture {
public:
  TRGBATexture(T3DScreen* screen, T3DYUV* owner, TSize size)
      : TPlaneTexture(screen, owner, kTextureKindARGB, size) {}
};

// Texture size of a video plane: min(size + 8, next power of two of size).
int32_t PaddedVideoSize(int32_t size);

// The decoder writes its planes on its own thread, where the device cannot be reached (one GL context
// lives on the drawing thread): they go into memory of the texture's size and reach the textures when the
// drawer draws the frame.
class T3DYUV final : public TDeviceYUVImage {
public:
  T3DYUV(T3DDrawer* owner, int32_t w, int32_t h, bool mask, bool alpha, bool threePlanes);
  ~T3DYUV() override;
  // Locks the object and hands out the plane's memory; an empty plane when it cannot be written now.
  TYUVPlane GetPlane(int plane) override;
  // Pads the plane to the texture's right and bottom edges and unlocks the object.
  void PutPlane(int plane, const TYUVPlane& written) override;
  void Done() override;
  // Drawing thread, the object locked: writes the planes that changed into their textures.
  void UploadPlanes();
  TSize PlaneSize(int plane) const override;
  // Waits until no plane is out, then frees every texture.
  void ReleaseTextures();
  // The drawer goes first: no more planes are handed out.
  void Detach();
  int32_t PlanesOut();

  T3DDrawer* drawer; // cleared when the drawer goes
  int32_t width, height;
  int32_t paddedWidth, paddedHeight;
  TOwned<TVideoTexture> y, u, v;
  TOwned<TRGBATexture> rgba;
  TOwned<TGrayScaleTexture> grey;
  bool textureLost = false; // set when a device texture goes; the next frame is uploaded again
  bool disabled = false;    // set by Detach, read under the object's lock

private:
  TPlaneTexture* Texture(int plane) const;
  std::mutex countLock_;
  std::condition_variable planesBack_;
  int32_t planesOut_ = 0;
  std::array<bool, 5> out_{};                  // under the object's lock: the plane is handed out
  std::array<std::vector<uint8_t>, 5> staged_; // under the object's lock: texture-sized plane memory
  std::array<int32_t, 5> stagedPitch_{};
  std::array<bool, 5> dirty_{}; // under the object's lock: written since the last upload
};

// A picture's own single texture, filled from its bitmap, so that a small picture drawn often (a sprite, the
// logo) skips the tile cutting. It lives in the picture's attachment list (T3DDrawer::AttachTexture); any
// other texture placed there (a render target holding a rendered slide) is drawn the same way.
class TImageTexture final : public TCustomTexture {
public:
  TImageTexture(T3DScreen* screen, const TDrawImage& owner);
  void FillLevel0(std::span<TDevBitmap* const> levels) override;
  const TDrawImage* image; // the picture whose attachment list holds the texture
};

// Where an object drawn at `at` with this pivot and these axes lies, the drawer's offset added.
TQuadPlacement DrawPlacement(const T3DPoint& at, TFloatPoint pivot, const T3DPoint& xAxis,
                             const T3DPoint& yAxis, TFloatPoint offset);

// Creates the filter of a transition; none when the class and kind are unknown.
using TTransitionFactory = std::function<TOwned<TTransitionFilter>(
    const TRect& frameArea, const TTransitionParams& params, TDrawItem& first)>;

class T3DDrawer final : public TDeviceDrawer {
public:
  explicit T3DDrawer(TOwned<T3DScreen> screen);
  ~T3DDrawer() override;

  // The player's transition filters; without a factory transitions draw as cuts. Set on the drawing thread.
  void SetTransitionFactory(TTransitionFactory factory) { transitionFactory_ = std::move(factory); }
  // What the transitions draw with (their library makes it on first use): lives as long as the drawer and
  // goes before its screen and pools.
  TObj* Effecter() const { return effecter_.get(); }
  void SetEffecter(TOwned<TObj> effecter) { effecter_ = std::move(effecter); }
  // The screen-sized render targets, shared with the transitions.
  TRenderTargetManager& FullPool() { return fullPool_; }

  bool BeginFrame() override;
  bool EndFrame() override;
  bool Present() override;
  bool IsReady() override;
  TRect GetTargetRect() override;
  void Init(TDrawDevice* device) override;
  void Close() override;
  void PrepareImage(TDrawImage& image, const TImageParams& params) override;
  void ReleaseImage(TDrawImage& image) override;
  void SetFixedSize(TSize size) override;
  bool ResetStates() override;
  void Clear(uint32_t color, bool withDepth) override;
  void ClearRect(uint32_t color, const TRect& rect) override;
  bool DrawItem(TDrawItem& item) override;
  void DrawTransition(TDrawItem& first, TDrawItem& second, TFilterParams* params) override;
  void DrawImage(TDrawImage& image, const T3DPoint& placement, const TImageParams& params,
                 const T3DPoint& xAxis, const T3DPoint& yAxis, TFloatPoint pivot) override;
  void DrawBox(const T3DPoint& placement, TFloatPoint pivot, const TBoxParams& params, const T3DPoint& xAxis,
               const T3DPoint& yAxis) override;
  void DrawFrame(const T3DPoint& placement, TFloatPoint pivot, bool antialiased, float opacity,
                 uint32_t color, TFloatPoint size, TFloatPoint thickness, const T3DPoint& xAxis,
                 const T3DPoint& yAxis) override;
  TDeviceYUVImage* CreateVideoImage(int32_t width, int32_t height, bool maskMode, bool withAlpha) override;
  void DrawVideo(TDeviceYUVImage& video, const T3DPoint& placement, const TVideoParams& params,
                 const T3DPoint& xAxis, const T3DPoint& yAxis, TFloatPoint pivot) override;
  void DrawRectangle(TFloatPoint corner, TFloatPoint opposite, uint32_t color) override;
  void DrawMasked(TDrawItem& content, std::span<const TMaskLayer> layers, TDrawImage* pattern,
                  int32_t lastLayer) override;
  void BeginSharpen() override;
  void EndSharpen(uint8_t threshold, float amount) override;
  bool CopyTo(TDevBitmap& bitmap) override;
  void SetViewArea(const TRect& area, TSize size) override;

  // Drops the drawer's reference to a video image made by CreateVideoImage.
  void FreeVideoImage(TDeviceYUVImage* video);
  // Gives a picture its own single texture (kept until ReleaseImage); none when the picture is empty or
  // larger than kMaxOwnTexture on a side, which stays tiled.
  TCustomTexture* AttachTexture(TDrawImage& image);
  static constexpr int32_t kMaxOwnTexture = 2048;
  // The multi-texture an image is drawn from with these parameters; created and stored on first use.
  TMultiTexture6* ImageTexture(TDrawImage& image, const TImageParams& params);
  int32_t ShaderLevel() const;

  T3DScreen& Screen() { return *screen_; }
  // Draws in plain screen pixels while it lives, then restores the view: for render targets drawn back onto
  // the screen (whose pictures already went through the view).
  struct TScreenPixels {
    explicit TScreenPixels(T3DScreen& owner);
    ~TScreenPixels();
    TScreenPixels(const TScreenPixels&) = delete;
    TScreenPixels& operator=(const TScreenPixels&) = delete;
    T3DScreen& screen;
    TRect area;
    TSize size;
  };
  // What a blur or sharpen drew, in screen pixels: whole pixels, one more around for feathered edges, cut
  // to the bounds; empty when nothing was drawn or nothing is being collected.
  TRect DrawnArea() const;
  TRect frameArea; // where the slides are drawn this frame
  bool fixedSizeSet = false;
  TSize fixedSize;
  // Never in the fast path of DrawMasked (tests compare both paths).
  bool maskFastPathAllowed = true;

private:
  TShader* Shader(const char* name);
  void Blur(TDrawItem& item, double radius);
  // A 7-tap pass over the area (grown by the taps' reach); onto `to`, or onto the current target at twice
  // the scale with the area landing at `landing` (screen pixels).
  void GaussPass(TRenderTargetTexture& from, TRenderTargetTexture* to, bool horizontal, float strength,
                 int32_t step, const TRect& area, TPoint landing);
  void DrawTargetAt(TRenderTargetTexture& target, const TFloatRect& source, const T3DPoint& at, float scale);
  void DrawThroughFilter(TTransitionFilter& filter, TDrawItem& item);

  TOwned<T3DScreen> screen_;
  TTransitionFactory transitionFactory_; // drawing thread
  TOwned<TObj> effecter_;                // drawing thread
  TRenderTargetManager fullPool_, halfPool_;
  TRef<TTextureManager6> textures_; // shared with the multi-textures cut through it
  TOwned<TBoxAntialiaser> antialiaser_;
  std::vector<TRef<T3DYUV>> videos_; // one reference each; users may share more
  std::map<std::string, TOwned<TShader>> shaders_;
  TOwned<TShader> maskProduct_;
  // Collects the drawn area while it lives; an enclosing collection gets it too on leaving unless `keep`
  // is cleared (a blur reports its own, wider result instead).
  struct TTracking {
    explicit TTracking(T3DDrawer& owner);
    ~TTracking();
    TTracking(const TTracking&) = delete;
    TTracking& operator=(const TTracking&) = delete;
    T3DDrawer& drawer;
    bool wasTracking, wasAny;
    TFloatRect was;
    bool keep = true;
  };
  void Track(const T3DPoint& p); // a point in space, the drawing offset applied
  void TrackQuad(const TQuadPlacement& where, const TFloatRect& rect);
  void TrackScreenRect(const TRect& rect);
  void TrackPixels(const TFloatRect& rect);
  void TrackAll(); // drawing whose extent is not known: the whole output

  TRenderTargetHandle sharpenTarget_; // the target of a pending sharpen
  std::optional<TTracking> sharpenTracking_;
  bool insideBlur_ = false;
  bool tracking_ = false; // drawing thread
  bool drawnAny_ = false;
  TFloatRect drawn_; // drawn-area bounds, screen pixels, while tracking
};

} // namespace kiv

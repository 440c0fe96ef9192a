#pragma once
// The draw tree: every drawable derives from TDrawItem and draws itself through a TDeviceDrawer, whose
// DrawItem wraps a whole frame (frame lock, begin, draw, end, present, FrameDone) at depth zero and an item
// with the owner's notifications below it. The parameter records of the drawing operations and the pure
// rules the drawer follows (corner colours, opacity bytes, blur passes, fixed-size placement, transition
// order) live here too, so that they can be checked without a device, and so do the transition parameters
// that slides hand the drawer.

#include "Screen.h"
#include "TransitionOptions.h"

#include <array>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <vector>

namespace kiv {

class TDeviceDrawer;
class T3DDrawer;

class TDrawItem : public TObj {
public:
  // Default: either flag is set. Containers also ask their children.
  virtual bool IsChanged() const { return changed != 0 || changedChildren != 0; }
  // Positive blurs the item and everything under it, negative sharpens.
  virtual float GetBlur() const { return 0; }
  // Once after a frame in which the item was the top-level item.
  virtual void FrameDone(TDeviceDrawer& /*drawer*/) {}
  // Draws through the drawer's operations; children go through TDeviceDrawer::DrawItem, never directly.
  virtual void Draw(TDeviceDrawer& drawer) = 0;

  uint8_t changed = 0;         // set by the item when its picture must be redrawn
  uint8_t changedChildren = 0; // set by containers for their children
  uint8_t effectMark = 0;      // slide index while a slide-based transition renders the item, else 0
};

// Base of the transition parameters attached to a pair of slides.
class TFilterParams : public TObj {};

// A picture the drawer can draw: 32-bit ARGB pixels (0xAARRGGBB) and the list in which the drawer keeps
// what it derived from them (texture stores). The imaging library's pictures derive from it.
class TDrawImage : public TRefObj {
public:
  virtual const TDevBitmap& Bitmap() const = 0;

  template <class T> T* FindAttachment() const {
    for (const auto& item : attachments)
      if (auto* found = dynamic_cast<T*>(item.get())) return found;
    return nullptr;
  }
  void RemoveAttachments(const std::function<bool(TObj*)>& which);

  std::vector<TOwned<TObj>> attachments; // written under the drawer lock
};

// A picture that owns its bitmap.
class TMemoryImage final : public TDrawImage {
public:
  explicit TMemoryImage(TDevBitmap picture) : bitmap(std::move(picture)) {}
  const TDevBitmap& Bitmap() const override { return bitmap; }
  TDevBitmap bitmap;
};

struct TImageParams {
  bool antialiased = false;
  bool premultiplied = false; // part of the texture key
  float opacity = 100;        // percent
  bool linearFilter = true;
  TFloatRect sourceRect; // image pixels; empty = the whole image
  bool tint = false;
  std::array<uint8_t, 3> tintColor{}; // blue, green, red
  int32_t reductionLevel = 0;         // the bitmap is the full image halved this many times
  float lodBias = 0;
  int32_t columns = 1, rows = 1; // frame grid
  float colorCorrection = 0;
};

struct TBoxParams {
  std::array<bool, 4> antialias{}; // left, top, right, bottom
  uint8_t fillType = 8;            // 0 to 8
  uint32_t color1 = 0xFF000000, color2 = 0xFF000000;
  float width = 1, height = 1;
  float opacity = 100; // percent
};

struct TVideoParams {
  float opacity = 100;
  std::array<uint8_t, 3> tintColor{0xFF, 0xFF, 0xFF}; // blue, green, red
  bool antialiased = false;
  uint8_t deinterlace = 0; // 0 none, 1 field offsets (0, 0), 2 field offsets (1, -1)
  TFloatRect sourceRect;
  float colorization = 0;
  float chromaTolerance = 0;
  float keyU = 0, keyV = 0;
  bool maskInvert = false;
};

// Owner notification codes.
inline constexpr int kNotifyFrameBegin = 0, kNotifyBeforeItem = 1, kNotifyAfterItem = 2, kNotifyFrameEnd = 3;
using TDrawerCallback = std::function<bool(TDeviceDrawer& drawer, TDrawItem* item, int code)>;

class TDeviceYUVImage;

// One mask layer of DrawMasked: an image or a video frame placed in space.
struct TMaskLayer {
  TDrawImage* image = nullptr;
  TDeviceYUVImage* video = nullptr;
  T3DPoint placement;
  TFloatPoint pivot;
  T3DPoint xAxis{1, 0, 0}, yAxis{0, 1, 0};
  TImageParams imageParams;
  TVideoParams videoParams;
};

class TDeviceDrawer : public TObj {
public:
  bool offsetSet = false;   // the offset is not zero
  TFloatPoint offset;       // added to every placement
  TRect viewArea;           // output rectangle the view size maps into; ignored while empty
  TSize viewSize;           // coordinate space of the items; bounds' size when not positive
  TRect bounds;             // the whole output, from (0, 0)
  TRect updateRect;         // part to redraw; the bounds when empty
  uint8_t mode = 0;         // 0 draw and present; 1 draw without presenting (read back)
  int32_t depth = 0;        // nesting of DrawItem
  TDrawerCallback OnNotify; // the owner's notifications; must be set

  virtual bool BeginFrame() { return Notify(nullptr, kNotifyFrameBegin); }
  virtual bool EndFrame() { return Notify(nullptr, kNotifyFrameEnd); }
  virtual bool Present() = 0;
  virtual bool IsReady() = 0;
  virtual void SetUpdateRect(const TRect& rect) { updateRect = rect; }
  virtual TRect GetTargetRect() = 0;
  virtual void Init(TDrawDevice* device) = 0;
  virtual void Close() = 0;
  virtual void PrepareImage(TDrawImage& image, const TImageParams& params) = 0;
  virtual void ReleaseImage(TDrawImage& image) = 0;
  virtual void SetFixedSize(TSize size) = 0;
  virtual bool ResetStates() = 0;
  virtual void Clear(uint32_t color, bool withDepth) = 0;
  virtual void ClearRect(uint32_t color, const TRect& rect) = 0;
  virtual bool SetOffset(TFloatPoint point);
  virtual bool DrawItem(TDrawItem& item);
  virtual void DrawTransition(TDrawItem& first, TDrawItem& second, TFilterParams* params) = 0;
  virtual void DrawImage(TDrawImage& image, const T3DPoint& placement, const TImageParams& params,
                         const T3DPoint& xAxis, const T3DPoint& yAxis, TFloatPoint pivot) = 0;
  virtual void DrawBox(const T3DPoint& placement, TFloatPoint pivot, const TBoxParams& params,
                       const T3DPoint& xAxis, const T3DPoint& yAxis) = 0;
  virtual void DrawFrame(const T3DPoint& placement, TFloatPoint pivot, bool antialiased, float opacity,
                         uint32_t color, TFloatPoint size, TFloatPoint thickness, const T3DPoint& xAxis,
                         const T3DPoint& yAxis) = 0;
  virtual TDeviceYUVImage* CreateVideoImage(int32_t width, int32_t height, bool maskMode, bool withAlpha) = 0;
  virtual void DrawVideo(TDeviceYUVImage& video, const T3DPoint& placement, const TVideoParams& params,
                         const T3DPoint& xAxis, const T3DPoint& yAxis, TFloatPoint pivot) = 0;
  virtual void DrawRectangle(TFloatPoint corner, TFloatPoint opposite, uint32_t color) = 0;
  virtual void DrawMasked(TDrawItem& content, std::span<const TMaskLayer> layers, TDrawImage* pattern,
                          int32_t lastLayer) = 0;
  virtual void BeginSharpen() {}
  virtual void EndSharpen(uint8_t /*threshold*/, float /*amount*/) {}
  virtual bool CopyTo(TDevBitmap& bitmap) = 0;
  // A 32-bit picture of the bounds' size, or none when the copy fails.
  virtual std::optional<TDevBitmap> GetScreenshot();
  virtual void SetViewArea(const TRect& area, TSize size) {
    viewArea = area;
    viewSize = size;
  }

  TRect GetUpdateRect() const { return updateRect.IsEmpty() ? bounds : updateRect; }
  TRect GetViewArea() const { return viewArea.IsEmpty() ? bounds : viewArea; }
  TSize GetViewSize() const;
  // Clears the bands between the bounds (grown by a pixel) and the update rectangle, opaque.
  void FillOutside(uint32_t color);

protected:
  bool Notify(TDrawItem* item, int code);
  // The item with notifications 1 and 2 around it, when ready.
  bool DrawInside(TDrawItem& item);

  // Each drawer's own: its frames are serialised by the frame lock; its device resources (init, close,
  // image upload and release) by the resource lock, so the loader thread can upload while a frame draws.
  std::recursive_mutex frameLock_;
  std::recursive_mutex resourceLock_;
};

// ---- pure rules ----

// Box corner colours (left-top, right-top, left-bottom, right-bottom) for a fill type and opacity.
TQuadColors BoxCornerColors(uint8_t fillType, uint32_t color1, uint32_t color2, float opacity);
// Image opacity byte: clamp(round(opacity x 2.55), 0, 255).
uint8_t ImageOpacityByte(float opacity);
// Vertex alpha of textures drawn as they are and of video: the integer part of opacity x 2.55, clamped.
uint8_t TruncOpacityByte(float opacity);

// How a blur of half-resolution radius t runs.
struct TBlurPlan {
  bool mixOnly = false;   // 1e-5 <= t < 1: "gauss_mix" alone
  int32_t fullPasses = 0; // pass pairs at strength 1 with steps 1, 2, 4, ...
  float finalStrength = 0;
  int32_t finalStep = 1;
  float mixAlpha = 0; // for mixOnly
};
TBlurPlan PlanBlur(double t);
// The 7-tap weights (outer to centre) at strength x.
std::array<float, 4> GaussWeights(float strength);

// The frame area for a fixed size centred in the update rectangle; the update rectangle when empty.
TRect FixedSizeArea(const TRect& update, TSize fixed);

// What a transition filter is, as far as the draw order goes.
enum class TFilterKind : uint8_t { Plain, Overturn, TwoSlides, Push };
struct TTransitionStep {
  int item = 0;               // 0 first, 1 second
  bool throughFilter = false; // else drawn plainly (shifted by the push offset for a push)
};
std::vector<TTransitionStep> TransitionDrawOrder(TFilterKind kind, bool reverse, double normalizedPosition);

// A transition between two items, implemented by the transitions library.
class TTransitionFilter : public TObj {
public:
  virtual double Length() const = 0;
  // The progress, clamped by the filter to 0 .. Length.
  virtual void SetPosition(double position) = 0;
  virtual double Position() const = 0;
  virtual TFilterKind Kind() const { return TFilterKind::Plain; }
  virtual bool Reverse() const { return false; }
  // Shift of the first item of a push.
  virtual TFloatPoint PushOffset() const { return {}; }
  // Draws the item as the filter shows it at the current position.
  virtual void DrawThrough(T3DDrawer& drawer, TDrawItem& item) = 0;
  // Filters that play a slide project of their own over both slides draw the pair themselves.
  virtual bool DrawsPair() const { return false; }
  virtual void DrawPair(T3DDrawer& /*drawer*/, TDrawItem& /*first*/, TDrawItem& /*second*/) {}
  // Once after each presented frame that drew the transition (the root passes it on).
  virtual void FrameDone() {}
};

// The parameters of a transition between two slides as the drawer reads them.
class TTransitionParams : public TFilterParams {
public:
  int32_t effectClass = 0;
  int32_t effectKind = 0;
  double duration = 0;
  double progress = 0;              // time since the transition began, in the unit of the duration
  TEffectParams effectParams;       // the options the transition reads
  TOwned<TTransitionFilter> filter; // created by the drawer on first use
};

} // namespace kiv

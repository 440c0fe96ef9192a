#pragma once
// The slide object tree: every object on a slide (and the slide itself, the root) is a TKivObject with
// animated parameters from its key points, a time window, a 3D placement relative to its parent, hide
// rules, hit testing and change tracking. Content kinds derive from it and register with the factory.

#include "KeyPoints.h"
#include "CachedBitmap.h"
#include "DrawItemBase.h"
#include "IniDocument.h"
#include "TransitionRecord.h"
#include "ShowPicture.h"
#include "Vectors.h"
#include "ObjectBase.h"

#include <cstdint>
#include <functional>
#include <limits>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace kiv {

class TKivParams;
class TKivObject;
class TKivSlide;
class TFileAccessor;
class TCallbackHandle;

// The key point list of an object: anchor times come from the object (and so from its slide).
class TKeyPoints : public TKeyPointList {
public:
  explicit TKeyPoints(TKivParams* owner) : owner_(owner) {}
  double GetAnchorTime(uint8_t anchor) const override;

private:
  TKivParams* owner_;
};

// The animated parameters of a draw item: the key point list and its current values.
class TKivParams : public TDrawItem {
public:
  TKivParams() : keyPoints_(this) {}

  TKeyPoints& KeyPoints() noexcept { return keyPoints_; }
  const TKeyPoints& KeyPoints() const noexcept { return keyPoints_; }
  const TKeyValues& Values() const noexcept { return keyPoints_.Current(); }

  float GetBlur() const override { return Values().blur; }
  virtual double GetAnchorTime(uint8_t /*anchor*/) const { return 0; }

private:
  TKeyPoints keyPoints_;
};

enum class TFitMode : uint8_t { None = 0, PlaceInto = 1, Cover = 2 };
// Position and centre modes.
enum class TPosMode : uint8_t { Absolute = 0, Percent = 1 };

struct TShadowParams {
  bool enable = false;
  float size = 16;
  TIniRGB color{0, 0, 0};
  float opacity = 59;
  float distance = 1.5f;
  float angle = 45; // degrees, as written
  int32_t spreadIndex = 0;
  bool shadow3D = false;
};

// An object's placement in slide space: the image of its origin and of one object pixel along each axis.
struct TPlacementFrame {
  T3DVector origin;
  T3DVector xAxis{1, 0, 0};
  T3DVector yAxis{0, 1, 0};
  T3DVector zAxis{0, 0, 1};
  float invDet = 1; // 0 when the axes are degenerate
  bool operator==(const TPlacementFrame&) const = default;
};

// What resolution planning found: the largest on-screen extent and the nearest depth.
struct TScreenExtent {
  float width = 0;
  float height = 0;
  float nearestDepth = std::numeric_limits<float>::infinity();
};

// What the slide producer supplies to the host of its slides.
struct TSlideHostCallbacks {
  std::function<TRect()> frameRect;                                              // required
  std::function<T3DVector()> camera;                                             // required
  std::function<const TCommonIniSection*(std::u16string_view name)> findSection; // required
  std::function<void()> custom;                                                  // optional, the creator's
};

// Generated picture names start with one of these; the rest encodes the request.
inline constexpr std::u16string_view kButtonPicturePrefix = u"Button: ";
inline constexpr std::u16string_view kShadowPicturePrefix = u"Shadow: ";
inline constexpr std::u16string_view kTextPicturePrefix = u"Text: ";
inline constexpr std::u16string_view kSizedTextPicturePrefix = u"TextWithSize:";
inline constexpr std::u16string_view kMaskPicturePrefix = u"Mask: ";
inline constexpr std::u16string_view kPresetMaskPicturePrefix = u"PresetedMask:";
inline constexpr std::u16string_view kEffectBufferPictureName = u"SlideEffectBuffer";

// Names of the stand-ins given when a producer cannot deliver.
inline constexpr std::u16string_view kEffectBufferPlaceholder = u"zaglushka for slide-effect buffer";
inline constexpr std::u16string_view kTextPlaceholder = u"Text Zaglushka";
inline constexpr std::u16string_view kSizedTextPlaceholder = u"Sized Text Zaglushka";

// A generated picture that knows what it is called (placeholders are told apart by name).
class TNamedBitmap : public TCachedBitmap {
public:
  TNamedBitmap(std::u16string name, int width, int height, std::vector<uint32_t> pixels = {})
      : TCachedBitmap(width, height, std::move(pixels)), name_(std::move(name)) {}
  const std::u16string& Name() const noexcept { return name_; }

private:
  std::u16string name_;
};

// Whether a show file name asks for a generated picture.
bool IsGeneratedPictureName(std::u16string_view name) noexcept;

// Shared by all slides of a show: the show's files, the generated pictures and the producer's callbacks.
class TKivSlideHost : public TRefObj {
public:
  using TCameraCallback = std::function<T3DVector()>;
  // frameRect, camera and findSection are required ("Assertion failure" otherwise). accessor may be
  // nullptr (tests); otherwise the host offers its generated pictures to the accessor's source.
  TKivSlideHost(TFileAccessor* accessor, TSlideHostCallbacks callbacks, std::u16string buttonsFolder,
                bool flag);
  // Without a show: only the camera (required).
  explicit TKivSlideHost(TCameraCallback camera);
  ~TKivSlideHost() override;

  TFileAccessor* Accessor() const noexcept { return accessor_.get(); }
  // Applied to on-screen sizes when load resolutions are chosen.
  float PixelDensity() const noexcept { return pixelDensity_; }
  void SetPixelDensity(float density) { pixelDensity_ = density; }
  const std::u16string& ButtonsFolder() const noexcept { return buttonsFolder_; }
  bool Flag() const noexcept { return flag_; }
  // Set by the producer.
  void SetSlideCount(int32_t count) { slideCount_ = count; }
  int32_t SlideCount() const noexcept { return slideCount_; }
  void SetDesignSize(TSize size) { designSize_ = size; }
  TSize DesignSize() const noexcept { return designSize_; }

  T3DVector CameraPosition() const { return callbacks_.camera(); }
  // Empty without a producer.
  TRect FrameRect() const;
  // nullptr without a producer or when there is no such section.
  const TCommonIniSection* FindSection(std::u16string_view name) const;
  // The creator's callback, when it gave one.
  void CallCustom() const;

  // The ray from the camera through a screen point (on the plane z = 0).
  void ScreenRay(float x, float y, T3DVector& origin, T3DVector& direction) const;
  // Whether an object whose frame is degenerate may still be drawn.
  virtual bool AcceptsDegenerate(const TKivObject& /*object*/) const { return false; }

  // Generated pictures by name ("Text: ...", "Button: ...", "SlideEffectBuffer", ...); nullptr when none
  // can be produced (the effect buffer and texts give their placeholders instead).
  TRef<TCachedBitmap> GetGeneratedPicture(std::u16string_view name);

private:
  TRef<TFileAccessor> accessor_;
  TSlideHostCallbacks callbacks_; // read-only after creation
  std::u16string buttonsFolder_;
  bool flag_ = false;
  float pixelDensity_ = 1;
  int32_t slideCount_ = 0;
  TSize designSize_;
  // Our generated pictures, offered to the accessor's source. Loader threads may be inside the provider
  // while the host goes: the gate makes the host wait for them and turns later calls away.
  struct TProviderGate;
  std::shared_ptr<TProviderGate> gate_;
  std::unique_ptr<TCallbackHandle> provider_;
};

// Process-wide producers of generated pictures by name prefix; the content kinds register theirs
// ("Text: ", "TextWithSize:", "Button: "). Answers the one it replaced; an empty function unregisters.
using TGeneratedPictureFunc =
    std::function<TRef<TCachedBitmap>(TKivSlideHost& host, std::u16string_view rest)>;
TGeneratedPictureFunc RegisterGeneratedPicture(std::u16string_view prefix, TGeneratedPictureFunc func);

// A slide section as the producer finds it: "tracks" is the show's video container (the object of type
// "VideoBoss" in "main"), any other name the section of that name.
const TCommonIniSection* FindSlideSection(const TIniStorage& project, std::u16string_view name);

// The result of a hit test: the object and the point in its content's pixels (0..width, 0..height).
struct TKivHit {
  TKivObject* object = nullptr;
  T2DVector local;
};

// Rejects a hit candidate by answering false.
using TKivHitFilter = std::function<bool(TKivObject& candidate)>;

class TKivObject : public TKivParams {
public:
  // Objects nested deeper below their root are not loaded: every pass over the tree (placement, drawing,
  // hit tests, planning) descends by recursion, and a crafted show must not exhaust the stack with it.
  // Real shows nest a handful of levels; 64 leaves them ample room.
  static constexpr int kMaxDepth = 64;

  // Appending to the parent is the caller's: parent->AddChild(...).
  TKivObject(TKivObject* parent, std::u16string guid);
  // Frees the descendants deepest first, without recursion, however deep the tree.
  ~TKivObject() override;

  // Takes over a child created with this object as its parent.
  TKivObject& AddChild(TOwned<TKivObject> child);

  TKivObject* Parent() const noexcept { return parent_; }
  // The number of ancestors: 0 for a root.
  int Depth() const noexcept;
  int ChildCount() const noexcept { return static_cast<int>(children_.size()); }
  TKivObject& Child(int index) const { return *children_.at(static_cast<size_t>(index)); }

  const std::u16string& Name() const noexcept { return name_; }
  const std::u16string& GUID() const noexcept { return guid_; }
  // The lower-cased type of the node the object was made from.
  const std::u16string& ObjectType() const noexcept { return objectType_; }
  void SetObjectType(std::u16string type) { objectType_ = std::move(type); }
  const std::u16string& Action() const noexcept { return action_; }
  TFitMode FitMode() const noexcept { return fitMode_; }
  TPosMode PosMode() const noexcept { return posMode_; }
  TPosMode CenterMode() const noexcept { return centerMode_; }
  void SetFitMode(TFitMode mode) { fitMode_ = mode; }
  void SetPosMode(TPosMode mode) { posMode_ = mode; }
  void SetCenterMode(TPosMode mode) { centerMode_ = mode; }
  double DeltaTime1() const noexcept { return deltaTime1_; }
  double DeltaTime2() const noexcept { return deltaTime2_; }
  bool TranspForClick() const noexcept { return transpForClick_; }
  bool TreeNode() const noexcept { return treeNode_; }
  const TShadowParams& Shadow() const noexcept { return shadow_; }
  int32_t HideMode() const noexcept { return hideMode_; }
  void SetHideMode(int32_t mode) { hideMode_ = mode; }
  bool ChildInvis() const noexcept { return childInvis_; }
  void SetChildInvis(bool on) { childInvis_ = on; }

  // Content size in pixels, set by the kind.
  const T2DVector& Size() const noexcept { return size_; }
  void SetSize(float width, float height) { size_ = {width, height}; }

  // Placement results of the last UpdateGeometry.
  const T3x3Matrix& Matrix() const noexcept { return matrix_; }
  const TPlacementFrame& Frame() const noexcept { return frame_; }
  const T2DVector& CornerOffset() const noexcept { return corner_; }
  bool Degenerate() const noexcept { return frame_.invDet == 0; }
  bool Hidden() const noexcept { return hidden_; }
  bool InTime() const noexcept { return inTime_; }
  bool Moved() const noexcept { return moved_; }
  bool Hover() const noexcept { return hover_; }
  // The content rectangle's corners in slide space: top-left, top-right, bottom-right, bottom-left.
  void GetCorners(T3DVector (&corners)[4]) const;
  // In time, not hidden and with a frame that can be drawn: content kinds draw only then.
  bool CanDraw() const;

  // Resolution planning.
  const TScreenExtent& ScreenExtent() const noexcept { return extent_; }
  // The largest extent times the perspective magnification of the nearest depth.
  virtual T2DVector OnScreenSize() const;

  // Where a root object's frame starts (the producer puts a slide at the screen centre).
  void SetBaseOrigin(const T3DVector& origin) { baseOrigin_ = origin; }

  // ---- operations ----
  bool IsChanged() const override;
  void FrameDone(TDeviceDrawer& drawer) override;
  // Own content (errors swallowed), snapshot, then the children through the drawer.
  void Draw(TDeviceDrawer& drawer) override;
  // The slide's opacity factor times the opacity / 100.
  virtual float GetOpacity() const;
  virtual void UpdateGeometry(bool recursive);
  double GetAnchorTime(uint8_t anchor) const override;
  virtual T2DVector GetParentSize() const;
  virtual TPlacementFrame GetParentFrame() const;
  // Screen point -> point in content pixels when the content rectangle is hit.
  virtual bool HitTest(const T2DVector& point, T2DVector& local) const;
  virtual void DrawContent(TDeviceDrawer& /*drawer*/) {}
  // A key point's keys into the list's current values.
  virtual void ReadKeyPointValues(const TIniIdentList& node);
  virtual void LoadChildren(const TIniIdentList& node, bool reload);
  virtual void LoadFromNode(const TCommonIniSection& node, bool reload);
  virtual void SetTimeOnly(bool recursive, double time);
  virtual void Init() {}
  virtual void SetHover(bool hover);
  // The slide's host; nullptr outside a slide.
  virtual TKivSlideHost* GetHost() const;
  // The root, which must be a slide ("Assertion failure" otherwise).
  TKivSlide& GetSlide() const;
  // The root when it is a slide, else nullptr.
  TKivSlide* FindSlide() const;
  // Asked when the frame is degenerate.
  virtual bool DegenerateDrawable() const;
  // Own or any descendant's key points changed.
  bool HasChangedKeyPoints() const;
  // Hands the content to a ready drawer (errors swallowed), then the children.
  virtual void Prepare(TDeviceDrawer& drawer);
  TKivHit FindObjectAt(float x, float y, const TKivHitFilter& filter = nullptr);
  TKivHit FindObjectAtPoint(const T2DVector& point) { return FindObjectAt(point.x, point.y); }
  void SetTime(bool recursive, double time);
  // Stores opacity, blur and colourisation as last drawn; clears the changed flags.
  void Snapshot(bool recursive);
  // Re-sorts the key points after anchor times moved.
  void AnchorTimesChanged(bool recursive);

protected:
  // Kinds load their content here; errors are swallowed by Prepare.
  virtual void PrepareContent(TDeviceDrawer& /*drawer*/) {}
  // The ShadowEnable default (texts cast shadows).
  virtual bool DefaultShadowEnable() const { return false; }
  // The hide rules' verdict for the current frame and camera.
  bool VisibleByHideRules() const;
  void MeasureExtent();
  void ResetExtent() { extent_ = TScreenExtent{}; }
  std::vector<TOwned<TKivObject>>& Children() noexcept { return children_; }

private:
  friend class TKivSlide;

  TKivObject* parent_;
  std::vector<TOwned<TKivObject>> children_; // in file order; later ones on top
  std::u16string name_;
  std::u16string guid_;
  std::u16string objectType_;
  std::u16string action_;
  TFitMode fitMode_ = TFitMode::PlaceInto;
  TPosMode posMode_ = TPosMode::Percent;
  TPosMode centerMode_ = TPosMode::Percent;
  double deltaTime1_ = 0;
  double deltaTime2_ = 0;
  bool transpForClick_ = false;
  bool treeNode_ = true;
  TShadowParams shadow_;
  int32_t hideMode_ = 0;
  bool childInvis_ = false;
  T2DVector size_;

  T3DVector baseOrigin_;
  T3x3Matrix matrix_;
  TPlacementFrame frame_;
  T2DVector corner_;
  bool hidden_ = false;
  bool inTime_ = false;
  bool moved_ = false;
  bool hover_ = false;
  // As last drawn.
  float drawnOpacity_ = -1;
  float drawnBlur_ = 0;
  bool drawnColorOff_ = true;
  float drawnColorAmount_ = 0;
  TIniRGB drawnColor_{255, 255, 255};
  TScreenExtent extent_;
};

// A slide background as read from the project: kind 0 solid, 1 left-to-right and 2 top-to-bottom
// gradients, 3 a picture tiled about the centre.
struct TSlideBackground {
  int32_t kind = 0;
  uint32_t color1 = 0; // colour references (0x00BBGGRR)
  uint32_t color2 = 0;
  std::u16string picture;
  float size = 100; // tile size in percent of the slide
  bool operator==(const TSlideBackground&) const = default;
};

// Tile size of a background picture w x h on a slide W x H (size in percent): the picture covers the
// slide at 100, cut on its longer side. 0 x 0 when nothing can be tiled.
T2DVector BackgroundTileSize(float slideWidth, float slideHeight, float pictureWidth, float pictureHeight,
                             float size);
// The size (a, c) a w x h picture is halved to for tiles tw x th; stops when a halving changes nothing.
TSize HalvedBackgroundSize(int32_t width, int32_t height, float tileWidth, float tileHeight);
// Key of a scaled background picture in a slide's list: "SlideBg: " + size + ":" + file name.
std::u16string BackgroundPictureKey(float size, std::u16string_view fileName);
// Alpha of the first background for a mix (the second gets 255 - it).
uint8_t FirstBackgroundAlpha(float mix);

// The root of a slide's tree: anchor times, background, the camera's depth factor and resolution planning.
class TKivSlide : public TKivObject {
public:
  TKivSlide(TRef<TKivSlideHost> host, int32_t pass);
  ~TKivSlide() override;

  TKivSlideHost* GetHost() const override { return host_.get(); }
  int32_t Pass() const noexcept { return pass_; }

  // Times from "main" (unless keepTimes), effects, background, name and objects from the section.
  void LoadSlide(const TCommonIniSection& main, const TCommonIniSection* section, bool keepTimes,
                 double effectOut, double effectIn, int32_t index);
  // From the section's own keys when it says so ("UsePersonal" and "Pers_Fon" both "1"), else from
  // main's "opt_" keys.
  void ReadBackground(const TCommonIniSection& main, const TCommonIniSection* section);
  // The custom transition's second background and its weight (0..1).
  void SetSecondBackground(const TSlideBackground& background, float mix);
  const TSlideBackground& Background() const noexcept { return background_; }
  const TSlideBackground& SecondBackground() const noexcept { return secondBackground_; }
  float BackgroundMix() const noexcept { return mix_; }

  // Play position modulo the slide count; -1 for dialogs.
  void SetSlideIndex(int32_t index) { slideIndex_ = index; }
  int32_t SlideIndex() const noexcept { return slideIndex_; }
  const std::u16string& SlideName() const noexcept { return slideName_; }
  TKivFilter& Filter() noexcept { return filter_; }
  // The current position value; the producer sets (0, 0) and puts the frame's origin at the screen centre.
  void SetPosition(float x, float y);

  // Begin and end of the slide in its pass, the transitions into it and into the next one (ms).
  void SetTimes(double begin, double end, double effectIn, double effectOut);
  double Begin() const noexcept { return begin_; }
  double End() const noexcept { return end_; }
  double EffectIn() const noexcept { return effectIn_; }
  double EffectOut() const noexcept { return effectOut_; }
  double GetAnchorTime(uint8_t anchor) const override;

  // Percent applied to every object's opacity; dialog pages fade with their own time.
  virtual float OpacityFactor() const { return 100; }
  float DepthFactor() const noexcept { return depthFactor_; }
  bool Planning() const noexcept { return planning_; }

  // Depth factor from the camera, resolution planning when key points changed, then placement.
  void UpdateGeometry(bool recursive) override;
  // Visits every distinct key point time of the tree and keeps each object's largest extent.
  void PlanResolution();
  // The slide's scale times its size.
  T2DVector OnScreenSize() const override;

  // The picture a background is drawn with: from the list when kept there, else loaded and, when it is
  // far larger than its tiles, halved and kept (at most two). nullptr for other kinds or no picture.
  TRef<TKivPicture> GetBackgroundPicture(const TSlideBackground& background);
  int BackgroundPictureCount() const noexcept { return static_cast<int>(pictures_.size()); }

protected:
  void DrawContent(TDeviceDrawer& drawer) override;
  void PrepareContent(TDeviceDrawer& drawer) override;

private:
  struct TKeptPicture {
    std::u16string key;
    TRef<TKivPicture> picture;
  };
  void DrawBackground(TDeviceDrawer& drawer, const TSlideBackground& background, uint8_t alpha);

  TRef<TKivSlideHost> host_;
  int32_t pass_;
  int32_t slideIndex_ = -1;
  double begin_ = 0;
  double end_ = 0;
  double effectIn_ = 0;
  double effectOut_ = 0;
  std::u16string slideName_;
  TSlideBackground background_;
  TSlideBackground secondBackground_;
  float mix_ = 0;
  std::mutex picturesLock_;            // the loader prepares while the engine draws
  std::vector<TKeptPicture> pictures_; // oldest first, at most two
  TKivFilter filter_;
  float depthFactor_ = 1;
  bool planning_ = false;
};

// ---- object factory ----

// Makes a child of a content kind.
using TKivObjectMaker = TOwned<TKivObject> (*)(TKivObject* parent, std::u16string guid);
// Registers a kind under a lower-case type name; answers the maker it replaced (nullptr unregisters).
TKivObjectMaker RegisterKivObjectKind(std::u16string_view type, TKivObjectMaker maker);
// nullptr for an unknown type.
TOwned<TKivObject> CreateKivObject(std::u16string_view type, TKivObject* parent, std::u16string guid);

// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}", random.
std::u16string NewObjectGuid();

} // namespace kiv

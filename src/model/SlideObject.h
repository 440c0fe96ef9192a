#pragma once
// The slide object tree: every object on a slide (and the slide itself, the root) is a TKivObject with
// animated parameters from its key points, a time window, a 3D placement relative to its parent, hide
// rules, hit testing and change tracking. Content kinds derive from it and register with the factory
// (ObjectFactory.h).

#include "DrawTree.h"
#include "IniDocument.h"
#include "KeyPoints.h"
#include "ObjectBase.h"
#include "ShadowGenerator.h"
#include "Vectors.h"

#include <cstdint>
#include <functional>
#include <limits>
#include <string>
#include <vector>

namespace kiv {

class TKivParams;
class TKivObject;
class TKivSlide;
class TKivSlideHost;

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

// The shadow keys of an object.
struct TShadowKeys {
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

// The result of a hit test: the object and the point in its content's pixels (0..width, 0..height).
struct TKivHit {
  TKivObject* object = nullptr;
  T2DVector local;
};

// What an object's shadow is made from and where it lies: the generator's parameters, and where the
// part's top left corner lies in content pixels with the content pixels per part pixel.
struct TShadowRequest {
  TShadowParams params;
  float partX = 0, partY = 0;
  float unit = 1;
  float offsetMeasure = 0; // N: the distance is a percentage of it, in content pixels
};
// Where a shadow picture lies in content pixels: its top left corner and the content pixels per shadow
// pixel, moved by the distance in the direction of the angle (content pixels, before the axes).
struct TShadowPlacement {
  float x = 0, y = 0;
  float pixel = 1;
};
TShadowPlacement PlaceShadow(const TShadowRequest& request);
// The distance the shadow is moved, in slide units, for axis vectors of those lengths.
float ShadowOffset(const TShadowKeys& keys, float offsetMeasure, float xAxisLength, float yAxisLength);
// A rectangle's shadow for content of w x h, brought to a working area of 40000 pixels; the blur grows
// with it by `factor`.
TShadowRequest RectangleShadow(const TShadowKeys& keys, float width, float height, float factor);

class TKivPicture;

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
  const TShadowKeys& Shadow() const noexcept { return shadow_; }
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
  // The pointer is pressed on the object (the button is down over it).
  bool Pressed() const noexcept { return pressed_; }
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
  virtual void SetPressed(bool pressed);
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
  // The shadow the content casts now; false: none.
  virtual bool MakeShadowRequest(TShadowRequest& /*request*/) const { return false; }

public:
  // The shadow picture, loaded while preparing, and the name it was asked for.
  TKivPicture* ShadowPicture() const noexcept { return shadowPicture_.get(); }
  const std::u16string& ShadowName() const noexcept { return shadowName_; }

protected:
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
  TShadowKeys shadow_;
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
  bool pressed_ = false;
  // As last drawn.
  float drawnOpacity_ = -1;
  float drawnBlur_ = 0;
  bool drawnColorOff_ = true;
  float drawnColorAmount_ = 0;
  TIniRGB drawnColor_{255, 255, 255};
  TScreenExtent extent_;
  TRef<TKivPicture> shadowPicture_; // loaded by Prepare, drawn by Draw (the engine's threads in turn)
  std::u16string shadowName_;

  void PrepareShadow(TDeviceDrawer& drawer);
  void DrawShadow(TDeviceDrawer& drawer);
};

} // namespace kiv

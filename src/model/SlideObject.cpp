#include "SlideObject.h"

#include "ShowPicture.h"

#include "Assert.h"
#include "CaseFolding.h"
#include "Log.h"
#include "ObjectFactory.h"
#include "Slide.h"
#include "SlideHost.h"
#include "Utf8Conversion.h"

#include <algorithm>
#include <cmath>
#include <exception>
#include <numbers>

namespace kiv {

namespace {

constexpr std::u16string_view kFitModeNames[] = {u"None", u"PlaceInto", u"Cover"};
constexpr std::u16string_view kModeNames[] = {u"Absolute", u"Percent"};
constexpr std::u16string_view kOriginNames[] = {u"SlideBegin", u"PrevEffectEnd", u"NextEffectBegin",
                                                u"SlideEnd"};

float Radians(double degrees) {
  return static_cast<float>(degrees * std::numbers::pi / 180.0);
}

uint8_t ClampByte(int32_t value) {
  return static_cast<uint8_t>(std::clamp(value, 0, 255));
}

float Det(const T3DVector& a, const T3DVector& b, const T3DVector& c) {
  return Dot(a, Cross(b, c));
}

float Length(const T3DVector& v) {
  return std::sqrt(Dot(v, v));
}

// Coordinates of v along the frame's axes (v = u X + v Y + w Z); the frame must not be degenerate.
T3DVector ToFrame(const TPlacementFrame& frame, const T3DVector& v) {
  return {Det(v, frame.yAxis, frame.zAxis) * frame.invDet, Det(frame.xAxis, v, frame.zAxis) * frame.invDet,
          Det(frame.xAxis, frame.yAxis, v) * frame.invDet};
}

void LogSwallowed(const TKivObject& object, const char* where) {
  try {
    throw;
  } catch (const std::exception& error) {
    LogLine(object.ClassName() + "." + where + ": " + error.what());
  } catch (...) {
    LogLine(object.ClassName() + "." + where + ": unknown error");
  }
}

} // namespace

// ---- TKeyPoints ----

double TKeyPoints::GetAnchorTime(uint8_t anchor) const {
  return owner_ ? owner_->GetAnchorTime(anchor) : 0.0;
}

// ---- TKivObject ----

TKivObject::TKivObject(TKivObject* parent, std::u16string guid) : parent_(parent), guid_(std::move(guid)) {}

TKivObject::~TKivObject() {
  // Each object goes once it has no children left; the path down is kept here rather than on the stack.
  std::vector<TKivObject*> path{this};
  while (!path.empty()) {
    TKivObject* node = path.back();
    if (node->children_.empty()) {
      path.pop_back();
    } else if (!node->children_.back()->children_.empty()) {
      path.push_back(node->children_.back().get());
    } else {
      node->children_.pop_back();
    }
  }
}

int TKivObject::Depth() const noexcept {
  int depth = 0;
  for (const TKivObject* ancestor = parent_; ancestor; ancestor = ancestor->parent_)
    ++depth;
  return depth;
}

TKivObject& TKivObject::AddChild(TOwned<TKivObject> child) {
  RY_ASSERT(child && child->parent_ == this);
  children_.push_back(std::move(child));
  changedChildren = 1;
  return *children_.back();
}

void TKivObject::GetCorners(T3DVector (&corners)[4]) const {
  const T3DVector topLeft = frame_.origin + frame_.xAxis * corner_.x + frame_.yAxis * corner_.y;
  const T3DVector alongX = frame_.xAxis * size_.x;
  const T3DVector alongY = frame_.yAxis * size_.y;
  corners[0] = topLeft;
  corners[1] = topLeft + alongX;
  corners[2] = topLeft + alongX + alongY;
  corners[3] = topLeft + alongY;
}

bool TKivObject::CanDraw() const {
  return inTime_ && !hidden_ && size_.x > 0 && size_.y > 0 && (!Degenerate() || DegenerateDrawable());
}

T2DVector TKivObject::OnScreenSize() const {
  float magnification = 1;
  const TKivSlideHost* host = GetHost();
  const float cameraDepth = host ? host->CameraPosition().z : 0;
  if (cameraDepth != 0 && extent_.nearestDepth > cameraDepth && std::isfinite(extent_.nearestDepth))
    magnification = 1 / (1 - extent_.nearestDepth / cameraDepth);
  return {extent_.width * magnification, extent_.height * magnification};
}

bool TKivObject::IsChanged() const {
  if (changed || changedChildren || moved_) return true;
  return std::any_of(children_.begin(), children_.end(),
                     [](const auto& child) { return child->IsChanged(); });
}

void TKivObject::FrameDone(TDeviceDrawer& drawer) {
  for (auto& child : children_)
    child->FrameDone(drawer);
}

void TKivObject::Draw(TDeviceDrawer& drawer) {
  try {
    DrawShadow(drawer);
    DrawContent(drawer);
  } catch (...) {
    // A broken picture must not stop the slide.
    LogSwallowed(*this, "Draw");
  }
  Snapshot(false);
  for (auto& child : children_)
    if (!drawer.DrawItem(*child)) break;
}

float TKivObject::GetOpacity() const {
  const TKivSlide* slide = FindSlide();
  return (slide ? slide->OpacityFactor() : 100.0f) * Values().opacity / 100.0f;
}

double TKivObject::GetAnchorTime(uint8_t anchor) const {
  return parent_ ? parent_->GetAnchorTime(anchor) : 0.0;
}

T2DVector TKivObject::GetParentSize() const {
  return parent_ ? parent_->size_ : size_;
}

TPlacementFrame TKivObject::GetParentFrame() const {
  if (parent_) return parent_->frame_;
  TPlacementFrame base;
  base.origin = baseOrigin_;
  return base;
}

void TKivObject::UpdateGeometry(bool recursive) {
  const TKeyValues& v = Values();
  const T2DVector parentSize = GetParentSize();
  const TPlacementFrame parentFrame = GetParentFrame();
  const float w = size_.x, h = size_.y;
  const float parentW = parentSize.x, parentH = parentSize.y;

  auto ratio = [](float a, float b) { return b == 0 ? 0.0f : a / b; };
  float k = 1;
  switch (fitMode_) {
  case TFitMode::PlaceInto:
    k = std::min(ratio(parentW, w), ratio(parentH, h));
    break;
  case TFitMode::Cover: {
    // A zero-sized content or parent has nothing to cover: scale 0 rather than a division by zero.
    const float smaller = std::min(ratio(w, parentW), ratio(h, parentH));
    k = smaller == 0 ? 0.0f : 1 / smaller;
    break;
  }
  case TFitMode::None:
    k = 1;
    break;
  }
  const float sx = v.scaleX * k / 100;
  const float sy = v.scaleY * k / 100;

  const float sinA = std::sin(v.angle), cosA = std::cos(v.angle);
  const float sinX = std::sin(v.angleX), cosX = std::cos(v.angleX);
  const float sinY = std::sin(v.angleY), cosY = std::cos(v.angleY);
  T3x3Matrix local;
  local.row[0] = {sx * cosY * cosA, sx * cosY * sinA, sx * sinY};
  local.row[1] = {sy * (sinX * sinY * cosA - cosX * sinA), sy * (sinX * sinY * sinA + cosX * cosA),
                  -sy * sinX * cosY};
  local.row[2] = {-sy * (cosX * sinY * cosA + sinX * sinA), sy * (sinX * cosA - cosX * sinY * sinA),
                  sy * cosX * cosY};
  matrix_ = parent_ ? local * parent_->matrix_ : local;

  const TKivSlide* slide = FindSlide();
  const float depthFactor = slide ? slide->DepthFactor() : 1.0f;
  TPlacementFrame frame;
  frame.xAxis = matrix_.row[0];
  frame.yAxis = matrix_.row[1];
  frame.zAxis = matrix_.row[2];
  frame.xAxis.z *= depthFactor;
  frame.yAxis.z *= depthFactor;
  frame.zAxis.z *= depthFactor;

  T2DVector p = v.position;
  if (posMode_ == TPosMode::Percent) p = {v.position.x * parentW * 0.005f, v.position.y * parentH * 0.005f};
  const float z = v.depth * parentH / 200;
  frame.origin =
      parentFrame.origin + parentFrame.xAxis * p.x + parentFrame.yAxis * p.y + parentFrame.zAxis * z;

  // Nearly coplanar axes (relative to their lengths) cannot be inverted.
  const float det = Det(frame.xAxis, frame.yAxis, frame.zAxis);
  const float scale = Length(frame.xAxis) * Length(frame.yAxis) * Length(frame.zAxis);
  frame.invDet = std::fabs(det) <= 1e-6f * scale ? 0.0f : 1 / det;

  // The centre is in percent of the content, or in pixels when absolute.
  T2DVector corner;
  if (centerMode_ == TPosMode::Percent)
    corner = {-v.center.x * w * 0.005f - w / 2, -v.center.y * h * 0.005f - h / 2};
  else
    corner = {-v.center.x - w / 2, -v.center.y - h / 2};

  const bool moved = !(frame == frame_) || !(corner == corner_);
  frame_ = frame;
  corner_ = corner;

  const bool hidden = (childInvis_ && !VisibleByHideRules()) || (parent_ && parent_->hidden_);
  const bool snapshotDiffers = v.opacity != drawnOpacity_ || v.blur != drawnBlur_ ||
                               v.colorOff != drawnColorOff_ || v.colorAmount != drawnColorAmount_ ||
                               v.color != drawnColor_;
  if (moved) moved_ = true;
  if (moved || snapshotDiffers || hidden != hidden_) changed = 1;
  hidden_ = hidden;

  if (recursive)
    for (auto& child : children_)
      child->UpdateGeometry(true);
}

bool TKivObject::VisibleByHideRules() const {
  const TKivSlideHost* host = GetHost();
  if (!host) return true;
  const T3DVector normal = Cross(frame_.xAxis, frame_.yAxis);
  const bool crossSide = Dot(host->CameraPosition() - frame_.origin, normal) >= 0;
  return crossSide ? (hideMode_ & 1) == 0 : hideMode_ <= 1;
}

bool TKivObject::HitTest(const T2DVector& point, T2DVector& local) const {
  // What is not drawn cannot be clicked.
  if (!inTime_ || hidden_ || Degenerate()) return false;
  const TKivSlideHost* host = GetHost();
  if (!host) return false;
  T3DVector rayOrigin, rayDirection;
  host->ScreenRay(point.x, point.y, rayOrigin, rayDirection);
  const T3DVector a = ToFrame(frame_, rayOrigin - frame_.origin);
  const T3DVector b = ToFrame(frame_, rayDirection);
  if (b.z == 0) return false; // the ray runs along the plane
  const float t = -a.z / b.z;
  if (!(t > 0)) return false; // the plane is behind the camera
  const float u = a.x + t * b.x - corner_.x;
  const float v = a.y + t * b.y - corner_.y;
  if (!(u >= 0 && u <= size_.x && v >= 0 && v <= size_.y)) return false;
  local = {u, v};
  return true;
}

void TKivObject::ReadKeyPointValues(const TIniIdentList& node) {
  TKeyValues& v = KeyPoints().MutableCurrent();
  v = TKeyValues{};
  v.opacity = static_cast<float>(node.ReadFloat(u"Opacity", 100));
  v.angle = Radians(node.ReadFloat(u"Angle", 0));
  v.scaleX = static_cast<float>(node.ReadFloat(u"ScaleX", 100));
  v.scaleY = static_cast<float>(node.ReadFloat(u"ScaleY", 100));
  const TIniFloatPoint position = node.ReadFloatPoint(u"Position", {});
  v.position = {position.x, position.y};
  v.depth = static_cast<float>(node.ReadFloat(u"ZPos", 0));
  const TIniFloatPoint center = node.ReadFloatPoint(u"CenterPos", {});
  v.center = {center.x, center.y};
  v.angleX = Radians(node.ReadFloat(u"AngleX", 0));
  v.angleY = Radians(node.ReadFloat(u"AngleY", 0));
  v.blur = static_cast<float>(node.ReadFloat(u"Blur", 0));
  int32_t color[4];
  if (node.ReadIntegers(u"Colorisation", color) == 4) {
    v.colorOff = false;
    v.colorAmount = static_cast<float>(color[3]) / 1000.0f;
    v.color = TIniRGB{ClampByte(color[2]), ClampByte(color[1]), ClampByte(color[0])};
  }
}

void TKivObject::LoadChildren(const TIniIdentList& node, bool reload) {
  std::vector<TOwned<TKivObject>> former;
  if (reload) {
    former = std::move(children_);
    children_.clear();
    KeyPoints().Clear();
  }
  const bool childrenAllowed = Depth() < kMaxDepth;
  int dropped = 0;
  for (TIniObject* item = node.FirstObject(); item; item = node.NextObject(item)) {
    std::u16string type = LowerCase(item->ObjectTypeView());
    if (type == u"keypoint") {
      const double time = item->ReadFloat(u"Time", 0);
      const auto origin =
          static_cast<uint8_t>(item->ReadEnumText(u"Origin", kOriginNames, kAnchorSlideBegin));
      TKeyPoint& keyPoint = KeyPoints().AddKeyPoint(origin, time);
      ReadKeyPointValues(*item);
      KeyPoints().ApplyCurrentValues(keyPoint);
      continue;
    }
    if (!childrenAllowed) {
      ++dropped;
      continue;
    }
    std::u16string guid = item->ReadString(u"GUID", u"");
    if (guid.empty()) guid = NewObjectGuid();
    // A reloaded child keeps its identity, and with it whatever it has loaded, when the GUID and the kind
    // still match.
    auto kept = std::find_if(former.begin(), former.end(), [&](const TOwned<TKivObject>& child) {
      return child && child->guid_ == guid && child->objectType_ == type;
    });
    if (kept != former.end()) {
      children_.push_back(std::move(*kept));
      children_.back()->LoadFromNode(*item, true);
      continue;
    }
    TOwned<TKivObject> child = CreateKivObject(type, this, std::move(guid));
    if (!child) continue;
    child->objectType_ = type;
    children_.push_back(std::move(child));
    children_.back()->LoadFromNode(*item, false);
  }
  changedChildren = 1;
  if (dropped > 0)
    LogLine(ClassName() + ".LoadChildren: " + std::to_string(dropped) + " object(s) inside \"" +
            Utf16ToUtf8(name_) + "\" nested deeper than " + std::to_string(kMaxDepth) +
            " levels, not loaded");
  // Former children not reused are freed with `former`.
}

void TKivObject::LoadFromNode(const TCommonIniSection& node, bool reload) {
  fitMode_ = static_cast<TFitMode>(node.ReadEnumText(u"FitMode", kFitModeNames, 1));
  posMode_ = static_cast<TPosMode>(node.ReadEnumText(u"PosMode", kModeNames, 1));
  centerMode_ = static_cast<TPosMode>(node.ReadEnumText(u"CenterMode", kModeNames, 1));
  deltaTime1_ = node.ReadFloat(u"DeltaTime1", 0);
  deltaTime2_ = node.ReadFloat(u"DeltaTime2", 0);
  transpForClick_ = node.ReadBool(u"TranspForClick", false);
  treeNode_ = node.ReadBool(u"TreeNode", true);
  KeyPoints().SetPerspectiveCorrection(node.ReadBool(u"PerspectiveCorrection", false));
  shadow_.enable = node.ReadBool(u"ShadowEnable", DefaultShadowEnable());
  shadow_.size = static_cast<float>(node.ReadFloat(u"ShadowSize", 16));
  shadow_.color = node.ReadRGB(u"ShadowColor", TIniRGB{0, 0, 0});
  shadow_.opacity = static_cast<float>(node.ReadFloat(u"ShadowOpacity", 59));
  shadow_.distance = static_cast<float>(node.ReadFloat(u"ShadowDistance", 1.5));
  shadow_.angle = static_cast<float>(node.ReadFloat(u"ShadowAngle", 45));
  shadow_.spreadIndex = node.ReadInteger(u"ShadowSpreadIndex", 0);
  shadow_.shadow3D = node.ReadBool(u"3DShadow", false);
  hideMode_ = node.ReadInteger(u"HideMode", 0);
  childInvis_ = node.ReadBool(u"ChildInvis", false);
  action_ = node.ReadString(u"Action", u"");
  name_ = node.GetName();

  // Children (and key points) first: a missing curve key then yields one key time per key point.
  LoadChildren(node, reload);

  const struct {
    std::u16string_view key;
    TSpeedStorage& (TKeyPointList::*curve)();
  } curves[] = {{u"PanSpeed", &TKeyPointList::GetPanCurve},
                {u"RotateSpeed", &TKeyPointList::GetRotateCurve},
                {u"ZoomSpeed", &TKeyPointList::GetZoomCurve}};
  for (const auto& entry : curves) {
    TSpeedStorage& curve = (KeyPoints().*entry.curve)();
    if (node.FindIdent(entry.key)) curve.LoadFromText(node.ReadString(entry.key, u""));
  }
  changed = 1;
}

void TKivObject::SetTimeOnly(bool recursive, double time) {
  KeyPoints().Interpolate(time);
  const bool inTime = GetAnchorTime(kAnchorSlideBegin) + deltaTime1_ <= time &&
                      time <= GetAnchorTime(kAnchorSlideEnd) - deltaTime2_;
  if (inTime != inTime_) {
    inTime_ = inTime;
    changed = 1;
  }
  if (recursive)
    for (auto& child : children_)
      child->SetTimeOnly(true, time);
}

void TKivObject::SetHover(bool hover) {
  if (hover == hover_) return;
  hover_ = hover;
  changed = 1;
}

void TKivObject::SetPressed(bool pressed) {
  if (pressed == pressed_) return;
  pressed_ = pressed;
  changed = 1;
}

TKivSlideHost* TKivObject::GetHost() const {
  const TKivSlide* slide = FindSlide();
  return slide ? slide->GetHost() : nullptr;
}

TKivSlide* TKivObject::FindSlide() const {
  const TKivObject* root = this;
  while (root->parent_)
    root = root->parent_;
  return dynamic_cast<TKivSlide*>(const_cast<TKivObject*>(root));
}

TKivSlide& TKivObject::GetSlide() const {
  TKivSlide* slide = FindSlide();
  RY_ASSERT(slide != nullptr);
  return *slide;
}

bool TKivObject::DegenerateDrawable() const {
  const TKivSlideHost* host = GetHost();
  return host && host->AcceptsDegenerate(*this);
}

bool TKivObject::HasChangedKeyPoints() const {
  if (KeyPoints().HasChangedKeyPoints()) return true;
  return std::any_of(children_.begin(), children_.end(),
                     [](const auto& child) { return child->HasChangedKeyPoints(); });
}

void TKivObject::Prepare(TDeviceDrawer& drawer) {
  if (!drawer.IsReady()) return;
  try {
    PrepareContent(drawer);
    PrepareShadow(drawer);
  } catch (...) {
    // The object stays empty; the show goes on.
    LogSwallowed(*this, "Prepare");
  }
  for (auto& child : children_)
    child->Prepare(drawer);
}

TKivHit TKivObject::FindObjectAt(float x, float y, const TKivHitFilter& filter) {
  for (auto it = children_.rbegin(); it != children_.rend(); ++it) {
    TKivHit hit = (*it)->FindObjectAt(x, y, filter);
    if (hit.object) return hit;
  }
  TKivHit hit;
  if (HitTest({x, y}, hit.local) && (!filter || filter(*this))) hit.object = this;
  return hit;
}

void TKivObject::SetTime(bool recursive, double time) {
  SetTimeOnly(recursive, time);
  UpdateGeometry(recursive);
}

void TKivObject::Snapshot(bool recursive) {
  const TKeyValues& v = Values();
  drawnOpacity_ = v.opacity;
  drawnBlur_ = v.blur;
  drawnColorOff_ = v.colorOff;
  drawnColorAmount_ = v.colorAmount;
  drawnColor_ = v.color;
  changed = 0;
  changedChildren = 0;
  moved_ = false;
  KeyPoints().ClearChanged();
  if (recursive)
    for (auto& child : children_)
      child->Snapshot(true);
}

void TKivObject::AnchorTimesChanged(bool recursive) {
  KeyPoints().KeyTimesChanged();
  if (recursive)
    for (auto& child : children_)
      child->AnchorTimesChanged(true);
}

void TKivObject::MeasureExtent() {
  // The on-screen size of one content pixel along each axis, ignoring perspective (the nearest depth
  // accounts for it).
  const float width = size_.x * std::hypot(frame_.xAxis.x, frame_.xAxis.y);
  const float height = size_.y * std::hypot(frame_.yAxis.x, frame_.yAxis.y);
  T3DVector corners[4];
  GetCorners(corners);
  extent_.width = std::max(extent_.width, width);
  extent_.height = std::max(extent_.height, height);
  for (const T3DVector& corner : corners)
    extent_.nearestDepth = std::min(extent_.nearestDepth, corner.z);
  for (auto& child : children_)
    child->MeasureExtent();
}

// ---- shadows ----

TShadowPlacement PlaceShadow(const TShadowRequest& request) {
  const TShadowParams& p = request.params;
  const TShadowLayout layout = ShadowLayoutFor(p, p.right - p.left, p.bottom - p.top);
  TShadowPlacement placement;
  placement.pixel = request.unit * static_cast<float>(layout.reduction);
  // The picture's border and the margins lie before the part.
  placement.x =
      request.partX - (p.marginX + static_cast<float>(layout.border) * layout.reduction) * request.unit;
  placement.y =
      request.partY - (p.marginY + static_cast<float>(layout.border) * layout.reduction) * request.unit;
  return placement;
}

float ShadowOffset(const TShadowKeys& keys, float offsetMeasure, float xAxisLength, float yAxisLength) {
  const float g = std::sqrt(std::max(xAxisLength, 0.0f) * std::max(yAxisLength, 0.0f));
  const float d = g * keys.distance * offsetMeasure / 100;
  return std::isfinite(d) ? d : 0.0f;
}

TShadowRequest RectangleShadow(const TShadowKeys& keys, float width, float height, float factor) {
  TShadowRequest request;
  const double area = std::max(double(width) * height, 1.0);
  const double k = std::sqrt(40000.0 / area);
  const int32_t w = std::clamp(static_cast<int32_t>(std::lround(width * k)), 1, kMaxShadowPart);
  const int32_t h = std::clamp(static_cast<int32_t>(std::lround(height * k)), 1, kMaxShadowPart);
  TShadowParams& p = request.params;
  p.sourceName = std::u16string(kShadowRectangleSource);
  p.right = w;
  p.bottom = h;
  p.fillAlpha = 0;
  p.blurSize = keys.size * std::sqrt(double(w) * h) / 400 * factor;
  request.unit = width / static_cast<float>(w);
  request.offsetMeasure = std::sqrt(std::max(width * height, 0.0f));
  return request;
}

void TKivObject::PrepareShadow(TDeviceDrawer& drawer) {
  TShadowRequest request;
  if (!shadow_.enable || !InTime() || Hidden() || !MakeShadowRequest(request)) return;
  TShadowParams& p = request.params;
  p.red = shadow_.color.red;
  p.green = shadow_.color.green;
  p.blue = shadow_.color.blue;
  p.opacity = std::clamp(shadow_.opacity, 0.0f, 100.0f);
  p.spread = shadow_.spreadIndex;
  p.shadow3D = shadow_.shadow3D;
  const std::u16string name = std::u16string(kShadowPicturePrefix) + EncodeShadowParams(p);
  TKivSlideHost* host = GetHost();
  if (host && name != shadowName_) {
    shadowPicture_ = LoadKivPicture(*host, name);
    shadowName_ = name;
  }
  if (shadowPicture_) drawer.PrepareImage(*shadowPicture_, TImageParams{});
}

void TKivObject::DrawShadow(TDeviceDrawer& drawer) {
  TShadowRequest request;
  if (!shadow_.enable || !shadowPicture_ || !CanDraw() || !(GetOpacity() > 0) || !MakeShadowRequest(request))
    return;
  const TShadowPlacement at = PlaceShadow(request);
  T3DVector corners[4];
  GetCorners(corners);
  const T3DVector& x = frame_.xAxis;
  const T3DVector& y = frame_.yAxis;
  const float lx = std::sqrt(x.x * x.x + x.y * x.y + x.z * x.z),
              ly = std::sqrt(y.x * y.x + y.y * y.y + y.z * y.z);
  const float d = ShadowOffset(shadow_, request.offsetMeasure, lx, ly);
  const float angle = shadow_.angle * std::numbers::pi_v<float> / 180;
  const float dx = d * std::cos(angle), dy = d * std::sin(angle);
  T3DPoint origin{corners[0].x + x.x * at.x + y.x * at.y, corners[0].y + x.y * at.x + y.y * at.y,
                  corners[0].z + x.z * at.x + y.z * at.y};
  if (shadow_.shadow3D && lx > 0 && ly > 0) {
    // Along the object's own axes, so that a turned object's shadow stays in its plane.
    for (int i = 0; i < 3; ++i) {
      const float xi = i == 0 ? x.x : i == 1 ? x.y : x.z, yi = i == 0 ? y.x : i == 1 ? y.y : y.z;
      (i == 0 ? origin.x : i == 1 ? origin.y : origin.z) += xi / lx * dx + yi / ly * dy;
    }
  } else {
    origin.x += dx;
    origin.y += dy;
  }
  TImageParams params;
  params.opacity = GetOpacity();
  drawer.DrawImage(*shadowPicture_, origin, params, {x.x * at.pixel, x.y * at.pixel, x.z * at.pixel},
                   {y.x * at.pixel, y.y * at.pixel, y.z * at.pixel}, {0, 0});
}

} // namespace kiv

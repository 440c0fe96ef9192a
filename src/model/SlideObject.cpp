#include "Slide.h"

#include "MipReduction.h"
#include "Assert.h"
#include "CaseFolding.h"
#include "StoredGlyphs.h"
#include "ShowFileAccess.h"
#include "Log.h"
#include "RoundHalfEven.h"
#include "Utf8.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <exception>
#include <map>
#include <mutex>
#include <numbers>
#include <random>

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

// ---- TKivSlideHost ----

namespace {

struct TGeneratedRegistry {
  std::mutex lock;
  std::vector<std::pair<std::u16string, TGeneratedPictureFunc>> producers;
};

TGeneratedRegistry& Generators() {
  static TGeneratedRegistry registry;
  return registry;
}

constexpr std::u16string_view kGeneratedPrefixes[] = {
    kButtonPicturePrefix, kShadowPicturePrefix,     kTextPicturePrefix,      kSizedTextPicturePrefix,
    kMaskPicturePrefix,   kPresetMaskPicturePrefix, kEffectBufferPictureName};

// The key a show's "ExeGUID" file gives its glyph caches; empty when there is none.
std::u16string ReadExeGuid(TFileAccessor& accessor) {
  constexpr int64_t kMaxKeyBytes = 4096; // a GUID; anything longer is not one
  TOwned<TStream> stream = Open(accessor, u"ExeGUID");
  if (!stream) return {};
  const int64_t size = std::min(stream->GetSize(), kMaxKeyBytes);
  std::string bytes(static_cast<size_t>(std::max<int64_t>(size, 0)), '\0');
  bytes.resize(static_cast<size_t>(std::max<int64_t>(stream->Read(bytes.data(), size), 0)));
  if (bytes.starts_with("\xEF\xBB\xBF")) bytes.erase(0, 3);
  std::u16string key;
  if (!TryUtf8ToUtf16(bytes, key)) key.assign(bytes.begin(), bytes.end()); // single-byte text
  while (!key.empty() && key.back() <= u' ')
    key.pop_back();
  return key;
}

} // namespace

struct TKivSlideHost::TProviderGate {
  std::recursive_mutex lock; // recursive: a producer may load pictures that are generated too
  TKivSlideHost* host = nullptr;
};

bool IsGeneratedPictureName(std::u16string_view name) noexcept {
  return std::any_of(std::begin(kGeneratedPrefixes), std::end(kGeneratedPrefixes),
                     [name](std::u16string_view prefix) { return name.starts_with(prefix); });
}

TGeneratedPictureFunc RegisterGeneratedPicture(std::u16string_view prefix, TGeneratedPictureFunc func) {
  TGeneratedRegistry& registry = Generators();
  std::lock_guard hold(registry.lock);
  auto it = std::find_if(registry.producers.begin(), registry.producers.end(),
                         [prefix](const auto& entry) { return entry.first == prefix; });
  TGeneratedPictureFunc previous;
  if (it != registry.producers.end()) {
    previous = std::move(it->second);
    if (func)
      it->second = std::move(func);
    else
      registry.producers.erase(it);
  } else if (func) {
    registry.producers.emplace_back(std::u16string(prefix), std::move(func));
  }
  return previous;
}

TKivSlideHost::TKivSlideHost(TFileAccessor* accessor, TSlideHostCallbacks callbacks,
                             std::u16string buttonsFolder, bool flag)
    : accessor_(TRef<TFileAccessor>::Share(accessor)), callbacks_(std::move(callbacks)),
      buttonsFolder_(std::move(buttonsFolder)), flag_(flag) {
  RY_ASSERT(callbacks_.frameRect != nullptr && callbacks_.camera != nullptr &&
            callbacks_.findSection != nullptr);
  if (!accessor_) return;
  gate_ = std::make_shared<TProviderGate>();
  gate_->host = this;
  provider_ = AddImageProvider(
      accessor_->Source(),
      [gate = gate_](TFileSource& /*source*/, std::u16string_view name) -> TRef<TCachedBitmap> {
        if (!IsGeneratedPictureName(name)) return nullptr;
        std::lock_guard hold(gate->lock);
        return gate->host ? gate->host->GetGeneratedPicture(name) : nullptr;
      });
  // Glyph caches stored in a show belong to the program that packed it.
  if (std::u16string key = ReadExeGuid(*accessor_); !key.empty()) SetFontCacheKey(key);
}

TKivSlideHost::TKivSlideHost(TCameraCallback camera) {
  RY_ASSERT(camera != nullptr);
  callbacks_.camera = std::move(camera);
}

TKivSlideHost::~TKivSlideHost() {
  provider_.reset();
  if (gate_) {
    std::lock_guard hold(gate_->lock);
    gate_->host = nullptr;
  }
}

TRect TKivSlideHost::FrameRect() const {
  return callbacks_.frameRect ? callbacks_.frameRect() : TRect{};
}

const TCommonIniSection* TKivSlideHost::FindSection(std::u16string_view name) const {
  return callbacks_.findSection ? callbacks_.findSection(name) : nullptr;
}

void TKivSlideHost::CallCustom() const {
  if (callbacks_.custom) callbacks_.custom();
}

void TKivSlideHost::ScreenRay(float x, float y, T3DVector& origin, T3DVector& direction) const {
  origin = CameraPosition();
  direction = T3DVector{x, y, 0} - origin;
}

TRef<TCachedBitmap> TKivSlideHost::GetGeneratedPicture(std::u16string_view name) {
  TGeneratedPictureFunc producer;
  size_t prefixLength = 0;
  {
    TGeneratedRegistry& registry = Generators();
    std::lock_guard hold(registry.lock);
    for (const auto& [prefix, func] : registry.producers)
      if (name.starts_with(prefix) && (!producer || prefix.size() > prefixLength)) {
        producer = func;
        prefixLength = prefix.size();
      }
  }
  TRef<TCachedBitmap> picture;
  if (producer) {
    try {
      picture = producer(*this, name.substr(prefixLength));
    } catch (const std::exception& error) {
      LogLine(std::string("TKivSlideHost.GetGeneratedPicture: ") + error.what());
    } catch (...) {
      LogLine("TKivSlideHost.GetGeneratedPicture: unknown error");
    }
  }
  if (picture) return picture;
  auto placeholder = [](std::u16string_view placeholderName) -> TRef<TCachedBitmap> {
    return TRef<TNamedBitmap>::Make(std::u16string(placeholderName), 1, 1);
  };
  if (name.starts_with(kEffectBufferPictureName)) return placeholder(kEffectBufferPlaceholder);
  if (name.starts_with(kSizedTextPicturePrefix)) return placeholder(kSizedTextPlaceholder);
  if (name.starts_with(kTextPicturePrefix)) return placeholder(kTextPlaceholder);
  return nullptr;
}

const TCommonIniSection* FindSlideSection(const TIniStorage& project, std::u16string_view name) {
  if (SameText(name, u"tracks")) {
    const TIniSection* main = project.FindSection(u"main");
    if (!main) return nullptr;
    for (TIniObject* item = main->FirstObject(); item; item = main->NextObject(item))
      if (SameText(item->ObjectTypeView(), u"VideoBoss")) return item;
    return nullptr;
  }
  return project.FindSection(name);
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

// ---- backgrounds ----

namespace {

// Beyond this many tiles either side of the centre a background is not drawn further out: tiny tiles of a
// near-zero size would otherwise ask for millions of draws.
constexpr int32_t kMaxTileSpan = 256;

uint32_t ColorWithAlpha(uint32_t colorRef, uint8_t alpha) {
  const uint32_t red = colorRef & 0xFF, green = (colorRef >> 8) & 0xFF, blue = (colorRef >> 16) & 0xFF;
  return uint32_t{alpha} << 24 | red << 16 | green << 8 | blue;
}

T3DPoint ToPoint(const T3DVector& v) {
  return {v.x, v.y, v.z};
}

TRef<TKivPicture> ResamplePicture(const TKivPicture& picture, TSize size) {
  TDevBitmap scaled(size.width, size.height, TPixelFormat::pf32bit);
  TBilinearResampler().Resample(picture.Bitmap(), scaled);
  return MakeKivPicture(scaled);
}

} // namespace

T2DVector BackgroundTileSize(float slideWidth, float slideHeight, float pictureWidth, float pictureHeight,
                             float size) {
  if (!(slideWidth > 0 && slideHeight > 0 && pictureWidth > 0 && pictureHeight > 0)) return {};
  T2DVector tile;
  if (slideWidth * pictureHeight >= pictureWidth * slideHeight) {
    tile.x = size / 100 * slideWidth;
    tile.y = tile.x * pictureHeight / pictureWidth;
  } else {
    tile.y = size / 100 * slideHeight;
    tile.x = tile.y * pictureWidth / pictureHeight;
  }
  if (!(tile.x > 0 && tile.y > 0 && std::isfinite(tile.x) && std::isfinite(tile.y))) return {};
  return tile;
}

TSize HalvedBackgroundSize(int32_t width, int32_t height, float tileWidth, float tileHeight) {
  TSize size{width, height};
  while (2 * tileWidth <= static_cast<float>(size.width) &&
         2 * tileHeight <= static_cast<float>(size.height)) {
    const TSize half{(size.width + 1) / 2, (size.height + 1) / 2};
    // At 1 x 1 (or with sub-pixel tiles) halving changes nothing any more.
    if (half == size) break;
    size = half;
  }
  return size;
}

std::u16string BackgroundPictureKey(float size, std::u16string_view fileName) {
  char text[32];
  const auto result = std::to_chars(std::begin(text), std::end(text), size);
  std::u16string key(u"SlideBg: ");
  key.append(text, result.ptr);
  key += u':';
  key += fileName;
  return key;
}

uint8_t FirstBackgroundAlpha(float mix) {
  const float weight = std::isfinite(mix) ? std::clamp(mix, 0.0f, 1.0f) : 0.0f;
  return static_cast<uint8_t>(std::nearbyint((1 - weight) * 255));
}

// ---- TKivSlide ----

TKivSlide::TKivSlide(TRef<TKivSlideHost> host, int32_t pass)
    : TKivObject(nullptr, std::u16string()), host_(std::move(host)), pass_(pass) {
  RY_ASSERT(host_);
  SetPosMode(TPosMode::Absolute);
}

TKivSlide::~TKivSlide() = default;

void TKivSlide::LoadSlide(const TCommonIniSection& main, const TCommonIniSection* section, bool keepTimes,
                          double effectOut, double effectIn, int32_t index) {
  double begin = begin_, end = end_;
  if (!keepTimes) {
    const int32_t count = host_->SlideCount();
    auto synchPos = [&main](int32_t n, double fallback) {
      return static_cast<double>(
          main.ReadInteger(u"opt_synchpos" + Utf8ToUtf16(std::to_string(n)), static_cast<int32_t>(fallback)));
    };
    begin = index > 0 && index <= count ? synchPos(index, 0) : 0;
    end = index >= 0 && index < count ? synchPos(index + 1, begin) : begin;
  }
  slideIndex_ = index;
  SetTimes(begin, end, effectIn, effectOut);
  ReadBackground(main, section);
  slideName_ = section ? section->GetName() : std::u16string();
  if (section) LoadChildren(*section, false);
  changed = 1;
}

void TKivSlide::ReadBackground(const TCommonIniSection& main, const TCommonIniSection* section) {
  const bool personal = section && section->ReadString(u"UsePersonal", u"") == u"1" &&
                        section->ReadString(u"Pers_Fon", u"") == u"1";
  const TCommonIniSection& keys = personal ? *section : main;
  const std::u16string prefix = personal ? u"" : u"opt_";
  TSlideBackground background;
  switch (keys.ReadInteger(prefix + u"bstyle", 0)) {
  case 1:
    background.color1 =
        static_cast<uint32_t>(keys.ReadInteger(prefix + u"bname", static_cast<int32_t>(background.color1)));
    break;
  case 2:
    background.picture = keys.ReadString(prefix + u"bname", background.picture);
    if (!background.picture.empty()) background.kind = 3;
    background.size = static_cast<float>(keys.ReadFloat(prefix + u"bsize", background.size));
    break;
  case 3: {
    const int32_t colorStyle = keys.ReadInteger(prefix + u"bcolorstyle", 0);
    if (colorStyle != 1 && colorStyle != 2) break;
    background.kind = colorStyle == 1 ? 2 : 1;
    background.color1 =
        static_cast<uint32_t>(keys.ReadInteger(prefix + u"bcolor1", static_cast<int32_t>(background.color1)));
    background.color2 =
        static_cast<uint32_t>(keys.ReadInteger(prefix + u"bcolor2", static_cast<int32_t>(background.color2)));
    break;
  }
  default:
    break;
  }
  background.color1 &= 0xFFFFFF;
  background.color2 &= 0xFFFFFF;
  background_ = std::move(background);
  changed = 1;
}

void TKivSlide::SetSecondBackground(const TSlideBackground& background, float mix) {
  secondBackground_ = background;
  mix_ = mix;
  changed = 1;
}

void TKivSlide::SetPosition(float x, float y) {
  KeyPoints().MutableCurrent().position = {x, y};
  changed = 1;
}

TRef<TKivPicture> TKivSlide::GetBackgroundPicture(const TSlideBackground& background) {
  if (background.kind != 3 || background.picture.empty()) return nullptr;
  const std::u16string key = BackgroundPictureKey(background.size, background.picture);
  std::lock_guard hold(picturesLock_);
  for (const TKeptPicture& kept : pictures_)
    if (kept.key == key) return kept.picture;

  TRef<TKivPicture> picture = LoadKivPicture(*host_, background.picture);
  if (!picture) return nullptr;
  const T2DVector tile = BackgroundTileSize(Size().x, Size().y, static_cast<float>(picture->Width()),
                                            static_cast<float>(picture->Height()), background.size);
  // A slide without a size yet cannot tell how far to halve: not kept, so that it is asked again.
  if (!(Size().x > 0 && Size().y > 0)) return picture;
  if (tile.x > 0 && tile.y > 0) {
    const TSize halved = HalvedBackgroundSize(picture->Width(), picture->Height(), tile.x, tile.y);
    if (halved != TSize{picture->Width(), picture->Height()}) picture = ResamplePicture(*picture, halved);
  }
  // Kept even when not halved: the drawer's textures live with the picture, and a picture made anew for
  // every frame would be uploaded anew for every frame.
  if (pictures_.size() >= 2) pictures_.erase(pictures_.begin());
  pictures_.push_back({key, picture});
  return picture;
}

void TKivSlide::PrepareContent(TDeviceDrawer& drawer) {
  for (const TSlideBackground* background : {&background_, &secondBackground_})
    if (TRef<TKivPicture> picture = GetBackgroundPicture(*background))
      drawer.PrepareImage(*picture, TImageParams{});
}

void TKivSlide::DrawContent(TDeviceDrawer& drawer) {
  if (!CanDraw()) return;
  const uint8_t alpha = FirstBackgroundAlpha(mix_);
  if (alpha > 0) DrawBackground(drawer, background_, alpha);
  if (alpha < 255) DrawBackground(drawer, secondBackground_, static_cast<uint8_t>(255 - alpha));
}

void TKivSlide::DrawBackground(TDeviceDrawer& drawer, const TSlideBackground& background, uint8_t alpha) {
  T3DVector corners[4]; // top-left, top-right, bottom-right, bottom-left
  GetCorners(corners);
  const T3DVector& topLeft = corners[0];
  const T3DVector& topRight = corners[1];
  const T3DVector& bottomRight = corners[2];
  const T3DVector& bottomLeft = corners[3];

  if (background.kind != 3) {
    // Grown by 2 pixels so that no slide edge shows through antialiased neighbours.
    const T3DVector grownTopLeft = topLeft + T3DVector{-2, -2, 0};
    const T3DVector grownTopRight = topRight + T3DVector{2, -2, 0};
    const T3DVector grownBottomLeft = bottomLeft + T3DVector{-2, 2, 0};
    TBoxParams box;
    switch (background.kind) {
    case 1:
      box.fillType = 6;
      break;
    case 2:
      box.fillType = 5;
      break;
    default:
      box.fillType = 8;
      box.opacity = static_cast<float>(alpha) / 255 * 100;
      break;
    }
    box.color1 = ColorWithAlpha(background.color1, alpha);
    box.color2 = box.fillType == 8 ? box.color1 : ColorWithAlpha(background.color2, alpha);
    drawer.DrawBox({grownTopLeft.x, grownTopLeft.y, 0}, {0, 0}, box, ToPoint(grownTopRight - grownTopLeft),
                   ToPoint(grownBottomLeft - grownTopLeft));
    return;
  }

  if (!(background.size > 0)) return; // no tile size: nothing to draw
  TRef<TKivPicture> picture = GetBackgroundPicture(background);
  if (!picture || picture->Width() <= 0 || picture->Height() <= 0) return;
  const float slideWidth = Size().x, slideHeight = Size().y;
  const float pictureWidth = static_cast<float>(picture->Width());
  const float pictureHeight = static_cast<float>(picture->Height());
  const T2DVector tile =
      BackgroundTileSize(slideWidth, slideHeight, pictureWidth, pictureHeight, background.size);
  if (!(tile.x > 0 && tile.y > 0)) return;
  const float quadWidth = std::nearbyint(topRight.x - topLeft.x);
  const float quadHeight = std::nearbyint(bottomLeft.y - topLeft.y);
  const float tileWidth = tile.x * quadWidth / slideWidth;
  const float tileHeight = tile.y * quadHeight / slideHeight;
  // Tiles under a pixel show nothing but cost a draw each.
  if (!(std::fabs(tileWidth) >= 1 && std::fabs(tileHeight) >= 1)) return;
  const auto span = [](float extent, float tileExtent) {
    const double count = std::ceil(static_cast<double>(extent) / tileExtent / 2);
    return static_cast<int32_t>(std::clamp(count, 0.0, static_cast<double>(kMaxTileSpan)));
  };
  const int32_t columns = span(slideWidth, tile.x);
  const int32_t rows = span(slideHeight, tile.y);
  const float centerX = (topLeft.x + topRight.x + bottomRight.x + bottomLeft.x) / 4;
  const float centerY = (topLeft.y + topRight.y + bottomRight.y + bottomLeft.y) / 4;
  TImageParams params;
  params.opacity = static_cast<float>(alpha) / 255 * 100;
  const T3DPoint xAxis{tileWidth / pictureWidth, 0, 0};
  const T3DPoint yAxis{0, tileHeight / pictureHeight, 0};
  const TFloatPoint pivot{pictureWidth / 2, pictureHeight / 2};
  for (int32_t row = -rows; row <= rows; ++row)
    for (int32_t column = -columns; column <= columns; ++column)
      drawer.DrawImage(*picture, {centerX + column * tileWidth, centerY + row * tileHeight, 0}, params, xAxis,
                       yAxis, pivot);
}

void TKivSlide::SetTimes(double begin, double end, double effectIn, double effectOut) {
  begin_ = begin;
  end_ = end;
  effectIn_ = effectIn;
  effectOut_ = effectOut;
  AnchorTimesChanged(true);
}

double TKivSlide::GetAnchorTime(uint8_t anchor) const {
  switch (anchor) {
  case kAnchorSlideBegin:
    return begin_;
  case kAnchorPrevEffectEnd:
    return begin_ + effectIn_;
  case kAnchorNextEffectBegin:
    return end_;
  case kAnchorSlideEnd:
    return end_ + effectOut_;
  default:
    RY_ASSERT(false);
    return 0;
  }
}

void TKivSlide::UpdateGeometry(bool recursive) {
  constexpr float kTan30 = 0.57735026919f;
  const float cameraDistance = -host_->CameraPosition().z;
  // A slide without height has no scale for depth: keep the plain factor.
  depthFactor_ = cameraDistance > 0 && Size().y > 0 ? cameraDistance * kTan30 / Size().y : kTan30;
  if (!planning_ && HasChangedKeyPoints()) PlanResolution();
  TKivObject::UpdateGeometry(recursive);
}

void TKivSlide::PlanResolution() {
  struct TPlanningGuard {
    bool& flag;
    explicit TPlanningGuard(bool& f) : flag(f) { flag = true; }
    ~TPlanningGuard() { flag = false; }
  } guard(planning_);

  std::vector<double> times;
  std::vector<const TKivObject*> pending{this};
  while (!pending.empty()) {
    const TKivObject* object = pending.back();
    pending.pop_back();
    for (int i = 0; i < object->KeyPoints().Count(); ++i)
      times.push_back(object->KeyPoints().KeyPoint(i).AbsoluteTime());
    for (const auto& child : object->children_)
      pending.push_back(child.get());
  }
  const double restore = KeyPoints().CurrentTime();
  // Without key points the tree is still: its extent now is its extent at any time.
  if (times.empty()) times.push_back(restore);
  std::sort(times.begin(), times.end());
  times.erase(std::unique(times.begin(), times.end()), times.end());

  std::vector<TKivObject*> all{this};
  for (size_t i = 0; i < all.size(); ++i)
    for (auto& child : all[i]->children_)
      all.push_back(child.get());
  for (TKivObject* object : all)
    object->ResetExtent();
  for (double time : times) {
    SetTime(true, time);
    MeasureExtent();
  }
  SetTime(true, restore);
}

T2DVector TKivSlide::OnScreenSize() const {
  return {Values().scaleX * Size().x / 100, Values().scaleY * Size().y / 100};
}

// ---- factory ----

namespace {

struct TKindRegistry {
  std::mutex lock;
  std::map<std::u16string, TKivObjectMaker, std::less<>> makers;
};

TKindRegistry& Registry() {
  static TKindRegistry registry;
  return registry;
}

} // namespace

TKivObjectMaker RegisterKivObjectKind(std::u16string_view type, TKivObjectMaker maker) {
  TKindRegistry& registry = Registry();
  std::lock_guard<std::mutex> hold(registry.lock);
  const std::u16string key = LowerCase(type);
  TKivObjectMaker previous = nullptr;
  if (auto it = registry.makers.find(key); it != registry.makers.end()) previous = it->second;
  if (maker)
    registry.makers[key] = maker;
  else
    registry.makers.erase(key);
  return previous;
}

TOwned<TKivObject> CreateKivObject(std::u16string_view type, TKivObject* parent, std::u16string guid) {
  TKivObjectMaker maker = nullptr;
  {
    TKindRegistry& registry = Registry();
    std::lock_guard<std::mutex> hold(registry.lock);
    if (auto it = registry.makers.find(type); it != registry.makers.end()) maker = it->second;
  }
  return maker ? maker(parent, std::move(guid)) : nullptr;
}

std::u16string NewObjectGuid() {
  thread_local std::mt19937_64 generator{std::random_device{}()};
  static constexpr char16_t kHex[] = u"0123456789ABCDEF";
  const uint64_t high = generator(), low = generator();
  std::u16string text = u"{";
  for (int i = 0; i < 32; ++i) {
    const uint64_t word = i < 16 ? high : low;
    text.push_back(kHex[(word >> (60 - 4 * (i % 16))) & 0xF]);
    if (i == 7 || i == 11 || i == 15 || i == 19) text.push_back(u'-');
  }
  text.push_back(u'}');
  return text;
}

} // namespace kiv

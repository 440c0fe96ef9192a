#include "ImageObject.h"

#include "Bitmap.h"
#include "DrawerPoints.h"
#include "ImageLevels.h"
#include "ShowFileAccess.h"

#include <algorithm>
#include <charconv>
#include <cmath>

namespace kiv {

namespace {

constexpr std::u16string_view kFilteringNames[] = {u"Nearest", u"Bilinear", u"Default"};

float Width(const TFloatRect& r) {
  return r.right - r.left;
}
float Height(const TFloatRect& r) {
  return r.bottom - r.top;
}
bool IsEmpty(const TFloatRect& r) {
  return !(r.right > r.left && r.bottom > r.top);
}

} // namespace

// ---- pure rules ----

TFloatRect VisibleSourceRect(float width, float height, const TBorderParams& border) {
  const TFloatRect whole{0, 0, width, height};
  TFloatRect r = whole;
  if (border.enableAspect && width > 0 && height > 0) {
    const float a = width / height;
    const float ratio = border.aspectRatio <= 0.001f ? a : border.aspectRatio;
    float vw, vh;
    if (ratio > a) {
      vw = width;
      vh = width / ratio;
    } else {
      vh = height;
      vw = ratio * height;
    }
    const float zoom = border.aspectZoom < 0.001f || border.aspectZoom > 100 ? 100 : border.aspectZoom;
    vw *= zoom / 100;
    vh *= zoom / 100;
    const auto shift = [](float value) { return value < -100 || value > 100 ? 0.0f : value; };
    const float cx = width / 2 + (width - vw) / 2 * shift(border.aspectShiftX) / 100;
    const float cy = height / 2 + (height - vh) / 2 * shift(border.aspectShiftY) / 100;
    r = {cx - vw / 2, cy - vh / 2, cx + vw / 2, cy + vh / 2};
  }
  if (border.enableCrop) {
    const float vw = Width(r), vh = Height(r);
    float left, right;
    if (border.cropPoint.x >= 0 && border.cropPoint.y >= 0) {
      left = border.cropPoint.x * vw / 100;
      right = border.cropPoint.y * vw / 100;
    } else {
      left = border.cropRect.left * vh / 100;
      right = border.cropRect.right * vh / 100;
    }
    const float top = border.cropRect.top * vh / 100, bottom = border.cropRect.bottom * vh / 100;
    r = {r.left + left, r.top + top, r.right - right, r.bottom - bottom};
  }
  if (IsEmpty(r)) {
    r = {std::max(r.left, 0.0f), std::max(r.top, 0.0f), std::min(r.right, width), std::min(r.bottom, height)};
    if (IsEmpty(r)) r = whole;
  }
  return r;
}

float BorderPixels(float visibleHeight, const TBorderParams& border) {
  // A negative width would shrink the object into its own picture.
  // Widths beyond a hundred times the picture only overflow the placement.
  if (!border.enableBorder || !(border.borderWidth > 0)) return 0.0f;
  return visibleHeight * std::min(border.borderWidth, 10000.0f) / 100;
}

TImageAnimationParams MakeAnimationParams(int32_t columns, int32_t rows, int32_t count, int32_t repeatCount,
                                          float offset, std::span<const int32_t> listed) {
  TImageAnimationParams result;
  result.columns = std::clamp(columns, 1, kMaxAnimGrid);
  result.rows = std::clamp(rows, 1, kMaxAnimGrid);
  const int64_t cells = std::min<int64_t>(int64_t{result.columns} * result.rows, kMaxAnimFrames);
  result.count = static_cast<int32_t>(std::clamp<int64_t>(count, 1, cells));
  result.repeatCount = repeatCount;
  result.offset = std::isfinite(offset) ? offset : 0.0f;
  result.intervals.assign(static_cast<size_t>(result.count), 100);
  if (!listed.empty())
    for (size_t i = 0; i < result.intervals.size(); ++i)
      result.intervals[i] = listed[std::min(i, listed.size() - 1)];
  return result;
}

TImageAnimationParams PictureFileAnimation(int32_t frameCount, std::string_view delays, int32_t repeatCount,
                                           float offset) {
  std::vector<int32_t> intervals;
  while (!delays.empty() && intervals.size() < static_cast<size_t>(std::clamp(frameCount, 1, kMaxAnimFrames))) {
    const size_t comma = delays.find(',');
    const std::string_view item = delays.substr(0, comma);
    int32_t hundredths = 0;
    const auto [end, error] = std::from_chars(item.data(), item.data() + item.size(), hundredths);
    intervals.push_back(error == std::errc{} && end == item.data() + item.size() && hundredths > 0 &&
                                hundredths <= 100000
                            ? hundredths * 10
                            : 100);
    if (comma == std::string_view::npos) break;
    delays.remove_prefix(comma + 1);
  }
  TImageAnimationParams result = MakeAnimationParams(frameCount, 1, frameCount, repeatCount, offset, {});
  for (size_t i = 0; i < result.intervals.size(); ++i)
    result.intervals[i] = i < intervals.size() ? intervals[i] : 100;
  return result;
}

int32_t AnimationFrameAt(const TImageAnimationParams& animation, double elapsed) {
  const int64_t n = std::min<int64_t>({animation.count, int64_t{animation.columns} * animation.rows,
                                       static_cast<int64_t>(animation.intervals.size())});
  if (n <= 1 || !(elapsed > 0)) return 0;
  // Running ends of the frames within one pass; intervals below 0 count as 0.
  std::vector<double> ends(static_cast<size_t>(n));
  double pass = 0;
  for (size_t i = 0; i < ends.size(); ++i) {
    pass += std::max(0, animation.intervals[i]);
    ends[i] = pass;
  }
  // A pass of no time would never move on: show the first frame.
  if (pass <= 0) return 0;
  if (elapsed <= ends[0]) return 0;
  if (animation.repeatCount > 0 && elapsed > pass * animation.repeatCount) return static_cast<int32_t>(n - 1);
  // Whole passes are skipped: the rest lies in (0, pass].
  const double rest = elapsed - (std::ceil(elapsed / pass) - 1) * pass;
  const auto frame = std::lower_bound(ends.begin(), ends.end(), rest);
  return frame == ends.end() ? static_cast<int32_t>(n - 1) : static_cast<int32_t>(frame - ends.begin());
}

TFloatRect SpriteFrameRect(int32_t width, int32_t height, int32_t columns, int32_t rows, int32_t frame) {
  columns = std::max(columns, 1);
  rows = std::max(rows, 1);
  frame = std::max(frame, 0);
  // Whole cells as the drawer's tile bitmap cuts them, each with a one-pixel gutter around it.
  const int32_t frameW = width / columns, frameH = height / rows;
  const int32_t column = frame % columns, row = frame / columns;
  const float left = static_cast<float>(frameW * column + 2 * column + 1);
  const float top = static_cast<float>(frameH * row + 2 * row + 1);
  return {left, top, left + static_cast<float>(frameW), top + static_cast<float>(frameH)};
}

void FitPicture(float pictureW, float pictureH, float boxW, float boxH, float& scale, float& offsetX,
                float& offsetY) {
  scale = pictureW > 0 && pictureH > 0 ? std::min(boxW / pictureW, boxH / pictureH) : 0.0f;
  offsetX = (boxW - pictureW * scale) / 2;
  offsetY = (boxH - pictureH * scale) / 2;
}

TBorderParams ReadBorderParams(const TIniIdentList& node) {
  TBorderParams border;
  border.enableBorder = node.ReadBool(u"EnableBorder", false);
  border.enableCrop = node.ReadBool(u"EnableCrop", false);
  border.enableAspect = node.ReadBool(u"EnableAspect", false);
  border.borderWidth = static_cast<float>(node.ReadFloat(u"BorderWidth", 3.4));
  border.borderColor = node.ReadARGB(u"BorderColor", 0xFFFFFFFF);
  const TIniRectPoint crop = node.ReadRectPoint(u"CropRect", {});
  border.cropRect = crop.rect;
  border.cropPoint = crop.point;
  double aspect[4] = {};
  if (node.ReadFloats(u"AspectParams", aspect) == 4) {
    border.aspectRatio = static_cast<float>(aspect[0]);
    border.aspectZoom = static_cast<float>(aspect[1]);
    border.aspectShiftX = static_cast<float>(aspect[2]);
    border.aspectShiftY = static_cast<float>(aspect[3]);
  }
  return border;
}

// ---- TKivImageObject ----

void TKivImageObject::DisableAnimation() {
  keyAnimation_ = TImageAnimationParams{};
  animationKeys_ = true; // a file's own frames do not play either
  animation_ = keyAnimation_;
}

TKivImageObject::TKivImageObject(TKivObject* parent, std::u16string guid)
    : TKivObject(parent, std::move(guid)) {}

TKivImageObject::~TKivImageObject() = default;

void TKivImageObject::ReadImageKeys(const TCommonIniSection& node) {
  antialiased_ = node.ReadBool(u"Antialiased", true);
  filtering_ = static_cast<TImageFiltering>(node.ReadEnumText(u"Filtering", kFilteringNames, 2));
  imageName_ = node.ReadString(u"ImageName", u"");
  mipLodBias_ = static_cast<float>(node.ReadFloat(u"MipLodBias", 0));
  replaceWithEffectBuffer_ = node.ReadInteger(u"ReplaceWithEffectBuffer", 0);

  border_ = ReadBorderParams(node);

  // The interval list is read into at most as many entries as the sheet has frames.
  const TImageAnimationParams bounds =
      MakeAnimationParams(node.ReadInteger(u"AnimColumns", 1), node.ReadInteger(u"AnimRows", 1),
                          node.ReadInteger(u"AnimCount", 1), node.ReadInteger(u"AnimRepCount", 0),
                          static_cast<float>(node.ReadFloat(u"AnimOffset", 0)), {});
  std::vector<int32_t> listed(static_cast<size_t>(bounds.count));
  const int read = node.ReadIntegers(u"AnimInterval", listed);
  // A malformed item ends the list before it.
  const size_t valid = read < 0 ? static_cast<size_t>(-read - 1) : static_cast<size_t>(read);
  listed.resize(std::min(valid, listed.size()));
  keyAnimation_ = MakeAnimationParams(bounds.columns, bounds.rows, bounds.count, bounds.repeatCount,
                                      bounds.offset, listed);
  animationKeys_ = node.FindIdent(u"AnimColumns") || node.FindIdent(u"AnimRows") ||
                   node.FindIdent(u"AnimCount") || node.FindIdent(u"AnimInterval");
  animation_ = keyAnimation_;

  if (node.FindIdent(u"ImageIndex"))
    imageIndex_ = node.ReadInteger(u"ImageIndex", 0);
  else
    imageIndex_.reset();
}

void TKivImageObject::ReadContentKeys(const TCommonIniSection& node) {
  ReadImageKeys(node);
}

void TKivImageObject::LoadFromNode(const TCommonIniSection& node, bool reload) {
  ReadContentKeys(node);
  TKivObject::LoadFromNode(node, reload);
  // The picture shown stays until the one now named has loaded (LoadContent).
  UpdateContentGeometry();
}

void TKivImageObject::SetPicture(TRef<TKivPicture> picture) {
  picture_ = std::move(picture);
  bound_ = static_cast<bool>(picture_);
  loadedName_.clear();
  changed = 1;
  UpdateContentGeometry();
}

bool TKivImageObject::LoadContent() {
  if (bound_) return static_cast<bool>(picture_);
  const std::u16string name = PictureName();
  TKivSlideHost* host = GetHost();
  if (attempted_ && name == loadedName_) {
    if (host && picture_ && picture_->Level() > 0) RefineLevel(*host);
    return static_cast<bool>(picture_);
  }
  if (!host) return static_cast<bool>(picture_);
  TRef<TKivPicture> loaded;
  if (!name.empty())
    loaded = LoadKivPicture(*host, name, [this](TPictureSize full) { return WantedSize(full); });
  // A name that cannot be had at all shows nothing rather than the picture of another name.
  if (loaded.get() != picture_.get()) changed = 1;
  picture_ = std::move(loaded);
  loadedName_ = name;
  attempted_ = true;
  UpdateContentGeometry();
  return static_cast<bool>(picture_);
}

TPictureSize TKivImageObject::PlannedSize(TPictureSize full) const {
  const T2DVector onScreen = OnScreenSize();
  if (!(onScreen.x > 0 && onScreen.y > 0) || !(Size().x > 0 && Size().y > 0)) return {};
  // The object may show only part of the picture (a crop, one cell of a sheet) inside a border: the whole
  // picture is wanted at the scale at which the object shows it.
  const TSize resolution = LoadResolution();
  const auto side = [](int fullSide, int32_t screen, float content) {
    const double pixels = std::ceil(double(fullSide) * screen / content);
    return pixels >= 1 && std::isfinite(pixels) ? static_cast<int>(std::min(pixels, 1e9)) : 1;
  };
  return {side(full.width, resolution.width, Size().x), side(full.height, resolution.height, Size().y)};
}

TPictureSize TKivImageObject::WantedSize(TPictureSize full) {
  // Planning measures the content as large as the picture makes it: give the object that size first.
  const T2DVector before = Size();
  pendingFull_ = full;
  UpdateContentGeometry();
  pendingFull_ = {};
  if (before.x != Size().x || before.y != Size().y)
    if (TKivSlide* slide = FindSlide(); slide && !slide->Planning()) slide->PlanResolution();
  return PlannedSize(full);
}

void TKivImageObject::RefineLevel(TKivSlideHost& host) {
  const TPictureSize full{picture_->Width(), picture_->Height()};
  const TPictureSize wanted = PlannedSize(full);
  // Nothing measured (an object scaled to nothing): the level shown serves as well as any.
  if (wanted.width <= 0) return;
  const int level = PictureLevelFor(full, wanted);
  if (level >= picture_->Level()) return;
  // The picture shown stays until the finer one is there.
  TRef<TKivPicture> finer = LoadKivPicture(host, loadedName_, [wanted](TPictureSize) { return wanted; });
  if (!finer || finer->Level() >= picture_->Level()) return;
  picture_ = std::move(finer);
  changed = 1;
  UpdateContentGeometry();
}

TSize TKivImageObject::LoadResolution() const {
  const T2DVector onScreen = OnScreenSize();
  const TKivSlideHost* host = GetHost();
  const float density = host ? host->PixelDensity() : 1.0f;
  const auto side = [density](float value) {
    const float pixels = std::nearbyint(value * density);
    return pixels >= 1 && std::isfinite(pixels) ? static_cast<int32_t>(std::min(pixels, 1e9f)) : 1;
  };
  return {side(onScreen.x), side(onScreen.y)};
}

void TKivImageObject::UpdateContentGeometry() {
  const float before[2] = {Size().x, Size().y};
  // An animated file without keys of its own plays as the file says.
  if (!animationKeys_ && picture_ && picture_->Animation().frameCount > 1) {
    const TPictureAnimation& file = picture_->Animation();
    animation_ = PictureFileAnimation(file.frameCount, file.frameDelays, keyAnimation_.repeatCount,
                                      keyAnimation_.offset);
  } else {
    animation_ = keyAnimation_;
  }
  // In full-picture pixels, whatever level is loaded.
  const bool pending = pendingFull_.width > 0 && pendingFull_.height > 0;
  const float fullW = pending ? float(pendingFull_.width) : picture_ ? float(picture_->Width()) : 0.0f;
  const float fullH = pending ? float(pendingFull_.height) : picture_ ? float(picture_->Height()) : 0.0f;
  if (!picture_ && !pending) {
    sourceRect_ = {};
    borderPixels_ = 0;
    SetSize(0, 0);
  } else if (animation_.Animated()) {
    // One frame of the sheet; no border, crop or aspect.
    sourceRect_ = {0, 0, fullW, fullH};
    borderPixels_ = 0;
    SetSize(std::nearbyint(fullW / animation_.columns), std::nearbyint(fullH / animation_.rows));
  } else {
    sourceRect_ = VisibleSourceRect(fullW, fullH, border_);
    borderPixels_ = BorderPixels(Height(sourceRect_), border_);
    SetSize(std::nearbyint(Width(sourceRect_) + 2 * borderPixels_),
            std::nearbyint(Height(sourceRect_) + 2 * borderPixels_));
  }
  if (before[0] != Size().x || before[1] != Size().y) changed = 1;
}

void TKivImageObject::SetTimeOnly(bool recursive, double time) {
  TKivObject::SetTimeOnly(recursive, time);
  if (!animation_.Animated()) return;
  const int32_t frame =
      AnimationFrameAt(animation_, time - GetAnchorTime(kAnchorSlideBegin) - animation_.offset);
  if (frame != currentFrame_) {
    currentFrame_ = frame;
    changed = 1;
  }
}

TImageParams TKivImageObject::MakeImageParams() const {
  TImageParams params;
  params.antialiased = antialiased_;
  params.opacity = GetOpacity();
  params.linearFilter = filtering_ != TImageFiltering::Nearest;
  params.lodBias = mipLodBias_;
  if (animation_.Animated()) {
    params.columns = animation_.columns;
    params.rows = animation_.rows;
  }
  return params;
}

void TKivImageObject::ContentPlacement(T3DPoint& topLeft, T3DPoint& xAxis, T3DPoint& yAxis) const {
  T3DVector corners[4];
  GetCorners(corners);
  topLeft = ToPoint(corners[0]);
  xAxis = ToPoint(Frame().xAxis);
  yAxis = ToPoint(Frame().yAxis);
}

void TKivImageObject::PrepareContent(TDeviceDrawer& drawer) {
  LoadContent();
  if (picture_ && InTime() && !Hidden() && Size().x > 0 && Size().y > 0) {
    TImageParams params = MakeImageParams();
    params.reductionLevel = picture_->Level(); // part of the texture's key
    drawer.PrepareImage(*picture_, params);
  }
}

void TKivImageObject::DrawContent(TDeviceDrawer& drawer) {
  if (!picture_ || !CanDraw()) return;
  T3DPoint topLeft, xAxis, yAxis;
  ContentPlacement(topLeft, xAxis, yAxis);
  TImageParams params = MakeImageParams();
  // Source rectangles and the pivot stay in full-picture pixels: the drawer divides them by 2^level.
  params.reductionLevel = picture_->Level();
  if (animation_.Animated()) {
    if (params.reductionLevel == 0) {
      params.sourceRect = SpriteFrameRect(picture_->Width(), picture_->Height(), animation_.columns,
                                          animation_.rows, currentFrame_);
      drawer.DrawImage(*picture_, topLeft, params, xAxis, yAxis,
                       {params.sourceRect.left, params.sourceRect.top});
      return;
    }
    // The drawer cuts the sheet it holds, the reduced one, into cells with their own gutters: the cell is
    // found there and given in full-picture pixels, stretched to the frame's full size.
    const float f = static_cast<float>(1 << std::clamp(params.reductionLevel, 0, 30));
    const TDevBitmap& sheet = picture_->Bitmap();
    const TFloatRect cell =
        SpriteFrameRect(sheet.Width(), sheet.Height(), animation_.columns, animation_.rows, currentFrame_);
    if (IsEmpty(cell)) return;
    params.sourceRect = {cell.left * f, cell.top * f, cell.right * f, cell.bottom * f};
    drawer.DrawImage(*picture_, topLeft, params, Scaled(xAxis, Size().x / (Width(cell) * f)),
                     Scaled(yAxis, Size().y / (Height(cell) * f)),
                     {params.sourceRect.left, params.sourceRect.top});
    return;
  }
  params.sourceRect = sourceRect_;
  const float b = borderPixels_;
  drawer.DrawImage(*picture_, topLeft, params, xAxis, yAxis, {sourceRect_.left - b, sourceRect_.top - b});
  if (b > 0)
    drawer.DrawFrame(topLeft, {0, 0}, antialiased_, params.opacity, border_.borderColor, {Size().x, Size().y},
                     {b, b}, xAxis, yAxis);
}

bool TKivImageObject::PictureHasAlpha() const {
  if (!picture_) return false;
  if (alphaTested_ != picture_.get()) {
    const std::vector<uint32_t>& pixels = picture_->Source()->Pixels();
    alphaFound_ = std::any_of(pixels.begin(), pixels.end(), [](uint32_t p) { return (p >> 24) != 255; });
    alphaTested_ = picture_.get();
  }
  return alphaFound_;
}

bool TKivImageObject::MakeShadowRequest(TShadowRequest& request) const {
  if (!picture_ || !(Size().x > 0 && Size().y > 0)) return false;
  // Pictures without alpha, sheets and framed pictures cast the shadow of their rectangle.
  if (animation_.Animated() || borderPixels_ > 0 || loadedName_.empty() || !PictureHasAlpha()) {
    request = RectangleShadow(Shadow(), Size().x, Size().y, 1);
    return true;
  }
  const int level = std::clamp(picture_->Level(), 0, 30);
  const float f = static_cast<float>(1 << level);
  const TCachedBitmap& bitmap = *picture_->Source();
  TShadowParams& p = request.params;
  p.sourceName = loadedName_;
  p.level = level;
  p.left = std::clamp(static_cast<int32_t>(std::floor(sourceRect_.left / f)), 0, bitmap.Width());
  p.top = std::clamp(static_cast<int32_t>(std::floor(sourceRect_.top / f)), 0, bitmap.Height());
  p.right = std::clamp(static_cast<int32_t>(std::ceil(sourceRect_.right / f)), p.left, bitmap.Width());
  p.bottom = std::clamp(static_cast<int32_t>(std::ceil(sourceRect_.bottom / f)), p.top, bitmap.Height());
  p.fillAlpha = 0;
  p.blurSize = Shadow().size * std::sqrt(double(p.right - p.left) * (p.bottom - p.top)) / 400;
  request.partX = p.left * f - sourceRect_.left;
  request.partY = p.top * f - sourceRect_.top;
  request.unit = f;
  request.offsetMeasure = std::sqrt(Size().x * Size().y);
  return true;
}

} // namespace kiv

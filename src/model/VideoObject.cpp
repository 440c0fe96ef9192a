#include "VideoObject.h"

#include "CacheImageDecoder.h"
#include "DrawerPoints.h"
#include "ScreenDrawer.h"
#include "SharedImageCache.h"
#include "Slide.h"

#include <algorithm>
#include <cmath>

namespace kiv {

namespace {

constexpr std::u16string_view kDeinterlaceNames[] = {u"Auto", u"Wave", u"BobEven", u"BobOdd"};
// Frames are taken for a display of this many frames per second.
constexpr double kDisplayRate = 60;

} // namespace

// ---- pure rules ----

uint8_t DeinterlaceMode(TDeinterlaceType type, bool interlaced, bool bottomFieldFirst, bool firstHalf) {
  switch (type) {
  case TDeinterlaceType::Auto:
    if (!interlaced) return 0;
    return firstHalf == bottomFieldFirst ? 2 : 1;
  case TDeinterlaceType::Wave:
    return 0;
  case TDeinterlaceType::BobEven:
    return firstHalf ? 1 : 2;
  case TDeinterlaceType::BobOdd:
    return firstHalf ? 2 : 1;
  }
  return 0;
}

float VideoPixelFactor(TAspectKind aspect, int width, int height) {
  if (width <= 0 || height <= 0) return 1;
  switch (aspect) {
  case TAspectKind::Ratio4x3:
    return static_cast<float>(height * 1.333333 / width);
  case TAspectKind::Ratio16x9:
    return static_cast<float>(height * 1.777778 / width);
  case TAspectKind::Other:
    break;
  }
  return 1;
}

std::array<float, 2> ChromaKeyUV(const std::array<float, 3>& rgb) {
  const bool bytes = std::any_of(rgb.begin(), rgb.end(), [](float c) { return c > 1; });
  const float scale = bytes ? 1.0f : 255.0f;
  const float r = std::clamp(rgb[0] * scale, 0.0f, 255.0f), g = std::clamp(rgb[1] * scale, 0.0f, 255.0f),
              b = std::clamp(rgb[2] * scale, 0.0f, 255.0f);
  // BT.601 studio range, as the decoder's planes hold it.
  const float u = 128 - 0.148216f * r - 0.290993f * g + 0.439216f * b;
  const float v = 128 + 0.439216f * r - 0.367789f * g - 0.071427f * b;
  return {u / 255, v / 255};
}

// ---- TKivVideo ----

TKivVideo::TKivVideo(TKivObject* parent, std::u16string guid) : TKivObject(parent, std::move(guid)) {}

TKivVideo::~TKivVideo() {
  ReleasePicture();
}

void TKivVideo::ReadVideoKeys(const TCommonIniSection& node) {
  clipGuid_ = node.ReadString(u"ClipGUID", u"");
  mute_ = node.ReadBool(u"Mute", false);
  timing_ = TClipTiming{};
  timing_.startShow = node.ReadFloat(u"StartKIVTime", 0);
  timing_.speed = node.ReadFloat(u"FPSMultiplier", 1);
  loadFromDisk_ = node.ReadBool(u"LoadFromDisk", false);
  fileName_ = node.ReadString(u"FileName", u"");
  timing_.duration = node.ReadFloat(u"Duration", 0);
  timing_.startVideo = node.ReadFloat(u"StartVideoTime", 0);
  antialiasedBorder_ = node.ReadBool(u"AntialiasedBorder", true);
  border_ = ReadBorderParams(node);
  deinterlace_ = static_cast<TDeinterlaceType>(node.ReadEnumText(u"DeinterlaceType", kDeinterlaceNames, 0));
  waitForConvert_ = node.ReadBool(u"WaitForConvert", false);
  double key[3] = {};
  chromaKey_ = {0, 0, 0};
  if (node.ReadFloats(u"Chromakey", key) >= 3)
    chromaKey_ = {static_cast<float>(key[0]), static_cast<float>(key[1]), static_cast<float>(key[2])};
  chromaDelta_ = static_cast<float>(node.ReadFloat(u"ChromaDelta", 0));
  if (node.FindIdent(u"ImageIndex"))
    imageIndex_ = node.ReadInteger(u"ImageIndex", 0);
  else
    imageIndex_.reset();
}

void TKivVideo::LoadFromNode(const TCommonIniSection& node, bool reload) {
  const std::u16string oldFile = fileName_, oldGuid = clipGuid_;
  const bool oldDisk = loadFromDisk_;
  ReadVideoKeys(node);
  clip_.reset();
  if (TKivSlideHost* host = GetHost(); host && !clipGuid_.empty()) {
    clip_ = FindVideoClip(host->FindSection(u"tracks"), clipGuid_);
    if (clip_) {
      // The clip's own description wins over the object's.
      fileName_ = clip_->fileName;
      loadFromDisk_ = clip_->loadFromDisk;
      mute_ = clip_->mute;
      timing_.duration = clip_->duration;
      timing_.startVideo = clip_->startVideo;
      timing_.startShow = clip_->startShow;
      timing_.speed = clip_->speed;
      timing_.shared = true;
      timing_.clipStart = ClipStartOnShow(*clip_, host->FindSection(u"main"));
    }
  }
  if (!std::isfinite(timing_.speed)) timing_.speed = 1;
  TKivObject::LoadFromNode(node, reload);
  // Another file: the extractor of the old one goes.
  if (fileName_ != oldFile || clipGuid_ != oldGuid || loadFromDisk_ != oldDisk) UnlinkClip();
  UpdateVideoGeometry();
}

void TKivVideo::UnlinkClip() {
  ReleasePicture();
  wrapper_.Reset();
  errorPicture_ = nullptr;
  shownFrame_ = kNoVideoFrame;
  shown_ = false;
}

bool TKivVideo::OpenClip() {
  if (wrapper_) return wrapper_->Extractor() != nullptr;
  if (errorPicture_) return false;
  TKivSlideHost* host = GetHost();
  if (!host || fileName_.empty()) return false;
  // Objects of one clip share it; an object with a file of its own has its own.
  const std::u16string key = clip_ ? u"clip " + clip_->guid : u"object " + GUID();
  wrapper_ = TVideoClipList::Acquire(host->VideoClips(), key, fileName_, loadFromDisk_);
  bool opened = false;
  if (!wrapper_->Open(host->Accessor(), &opened)) {
    wrapper_.Reset();
    if (TRef<TCachedBitmap> bitmap = MakeErrorBitmap(ErrorPictureLines(TMediaKind::Video, opened, fileName_)))
      errorPicture_ = TRef<TKivPicture>::Make(std::move(bitmap));
    UpdateVideoGeometry();
    changed = 1;
    return false;
  }
  // Without an end of its own the video runs on for as long as it is shown, from the start again.
  wrapper_->Extractor()->SetRepeat(timing_.duration <= 0);
  UpdateVideoGeometry();
  changed = 1;
  return true;
}

void TKivVideo::UpdateVideoGeometry() {
  const T2DVector before = Size();
  const TFrameSource* source = wrapper_ ? wrapper_->Source() : nullptr;
  if (source) {
    pixelFactor_ = VideoPixelFactor(source->aspectKind, source->width, source->height);
    sourceRect_ =
        VisibleSourceRect(static_cast<float>(source->width), static_cast<float>(source->height), border_);
    borderPixels_ = BorderPixels(sourceRect_.bottom - sourceRect_.top, border_);
    SetSize(std::nearbyint((sourceRect_.right - sourceRect_.left) * pixelFactor_ + 2 * borderPixels_),
            std::nearbyint(sourceRect_.bottom - sourceRect_.top + 2 * borderPixels_));
  } else if (errorPicture_) {
    pixelFactor_ = 1;
    borderPixels_ = 0;
    sourceRect_ = {0, 0, float(errorPicture_->Width()), float(errorPicture_->Height())};
    SetSize(float(errorPicture_->Width()), float(errorPicture_->Height()));
  } else {
    SetSize(0, 0);
  }
  if (before.x != Size().x || before.y != Size().y) changed = 1;
}

int64_t TKivVideo::WantedFrame() const {
  const TKivVideoExtractor* extractor = wrapper_ ? wrapper_->Extractor() : nullptr;
  return extractor ? extractor->FrameAt(clipTime_) : kNoVideoFrame;
}

void TKivVideo::SetTimeOnly(bool recursive, double time) {
  TKivObject::SetTimeOnly(recursive, time);
  const double begin = GetAnchorTime(kAnchorSlideBegin);
  clipTime_ = ClipTimeAt(timing_, time - begin, begin, DeltaTime1());
  if (WantedFrame() != shownFrame_) changed = 1;
}

void TKivVideo::PrepareContent(TDeviceDrawer& drawer) {
  if (!OpenClip()) return;
  wrapper_->CreateImages(drawer, MaskMode());
  // Until a frame was shown, the first one is asked for ahead of drawing.
  if (!shown_) wrapper_->Extractor()->Request(false, clipTime_);
}

const TExtractorSlot* TKivVideo::TakePicture(TDeviceDrawer& drawer) {
  // A frame whose FrameDone never came: its picture goes back first.
  ReleasePicture();
  if (!wrapper_ || !wrapper_->Extractor() || !wrapper_->HasImages()) return nullptr;
  // A still image shows exactly its moment; playback shows the nearest frame at hand.
  if (drawer.mode == 1) wrapper_->Extractor()->Request(true, clipTime_);
  const TExtractorSlot* slot = wrapper_->Take(clipTime_);
  if (!slot) return nullptr;
  held_ = true;
  shown_ = true;
  shownFrame_ = slot->frame;
  return slot;
}

void TKivVideo::ReleasePicture() {
  if (!held_) return;
  held_ = false;
  if (wrapper_) wrapper_->Release();
}

TVideoParams TKivVideo::MakeVideoParams() const {
  TVideoParams params;
  params.opacity = GetOpacity();
  params.antialiased = antialiasedBorder_;
  const TFrameSource* source = wrapper_ ? wrapper_->Source() : nullptr;
  if (source) {
    const TKivVideoExtractor& extractor = *wrapper_->Extractor();
    const TFrameWindowMs window = extractor.FrameWindow(shownFrame_);
    const bool firstHalf = clipTime_ < (window.from + window.to) / 2;
    params.deinterlace =
        DeinterlaceMode(deinterlace_, source->interlaced, source->bottomFieldFirst, firstHalf);
  }
  params.sourceRect = sourceRect_;
  const TKeyValues& v = Values();
  if (!v.colorOff && v.colorAmount > 0) {
    params.colorization = v.colorAmount;
    params.tintColor = {v.color.blue, v.color.green, v.color.red};
  }
  params.chromaTolerance = chromaDelta_;
  const std::array<float, 2> uv = ChromaKeyUV(chromaKey_);
  params.keyU = uv[0];
  params.keyV = uv[1];
  params.maskInvert = Inverted();
  return params;
}

void TKivVideo::PicturePlacement(T3DPoint& at, T3DPoint& xAxis, T3DPoint& yAxis, TFloatPoint& pivot) const {
  T3DVector corners[4];
  GetCorners(corners);
  const T3DVector x = Frame().xAxis, y = Frame().yAxis;
  at = ToPoint(corners[0] + x * borderPixels_ + y * borderPixels_);
  xAxis = ToPoint(x * pixelFactor_);
  yAxis = ToPoint(y);
  pivot = {sourceRect_.left, sourceRect_.top};
}

void TKivVideo::DrawContent(TDeviceDrawer& drawer) {
  if (!CanDraw()) return;
  if (errorPicture_) {
    T3DVector corners[4];
    GetCorners(corners);
    TImageParams params;
    params.opacity = GetOpacity();
    drawer.DrawImage(*errorPicture_, ToPoint(corners[0]), params, ToPoint(Frame().xAxis),
                     ToPoint(Frame().yAxis), {0, 0});
    return;
  }
  const TExtractorSlot* slot = TakePicture(drawer);
  auto* image = slot ? dynamic_cast<TDeviceYUVImage*>(slot->image.get()) : nullptr;
  if (!image) return;
  const TVideoParams params = MakeVideoParams();
  if (borderPixels_ > 0) {
    T3DVector corners[4];
    GetCorners(corners);
    drawer.DrawFrame(ToPoint(corners[0]), {0, 0}, antialiasedBorder_, params.opacity, border_.borderColor,
                     {Size().x, Size().y}, {borderPixels_, borderPixels_}, ToPoint(Frame().xAxis),
                     ToPoint(Frame().yAxis));
  }
  T3DPoint at, xAxis, yAxis;
  TFloatPoint pivot;
  PicturePlacement(at, xAxis, yAxis, pivot);
  drawer.DrawVideo(*image, at, params, xAxis, yAxis, pivot);
}

bool TKivVideo::MakeMaskLayer(TDeviceDrawer& drawer, float viewportOpacity, TMaskLayer& layer) {
  if (!CanDraw()) return false;
  const TExtractorSlot* slot = TakePicture(drawer);
  auto* image = slot ? dynamic_cast<TDeviceYUVImage*>(slot->image.get()) : nullptr;
  if (!image) return false;
  layer = TMaskLayer{};
  layer.video = image;
  PicturePlacement(layer.placement, layer.xAxis, layer.yAxis, layer.pivot);
  layer.videoParams = MakeVideoParams();
  layer.videoParams.opacity = layer.videoParams.opacity * viewportOpacity / 100;
  return true;
}

void TKivVideo::FrameDone(TDeviceDrawer& drawer) {
  TKivObject::FrameDone(drawer);
  if (!held_) return;
  const TKivVideoExtractor* extractor = wrapper_ ? wrapper_->Extractor() : nullptr;
  // A frame too far from the wanted one: draw again next frame (the worker is bringing the right one).
  if (extractor) {
    const int64_t allowed = static_cast<int64_t>(std::ceil(extractor->FrameRate() / kDisplayRate));
    const int64_t off = shownFrame_ - WantedFrame();
    if (off > allowed || -off > allowed) changed = 1;
  }
  ReleasePicture();
}

// ---- TKivVideoMask ----

TKivVideoMask::TKivVideoMask(TKivObject* parent, std::u16string guid) : TKivVideo(parent, std::move(guid)) {}

void TKivVideoMask::ReadVideoKeys(const TCommonIniSection& node) {
  TKivVideo::ReadVideoKeys(node);
  invert_ = node.ReadBool(u"Invert", false);
  SetAntialiasedBorder(false);
}

} // namespace kiv

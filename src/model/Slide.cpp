#include "Slide.h"

#include "Assert.h"
#include "MipReduction.h"
#include "Utf8Conversion.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <mutex>

namespace kiv {

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

void TKivSlide::SetBackground(const TSlideBackground& background) {
  if (background == background_) return;
  background_ = background;
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

} // namespace kiv

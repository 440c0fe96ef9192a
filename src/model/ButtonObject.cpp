#include "ButtonObject.h"

#include "CaseFolding.h"
#include "DrawerPoints.h"
#include "PictureColorOps.h"
#include "ShowFileAccess.h"
#include "SlideHost.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace kiv {

// ---- TKivButton ----

TKivButton::TKivButton(TKivObject* parent, std::u16string guid) : TKivImageObject(parent, std::move(guid)) {}

void TKivButton::ReadContentKeys(const TCommonIniSection& node) {
  theme_ = node.ReadString(u"Theme", u"");
  btnOpacity_ = static_cast<float>(node.ReadFloat(u"BtnOpacity", 100));
  txtOpacity_ = static_cast<float>(node.ReadFloat(u"TxtOpacity", 100));
  hue_ = node.ReadInteger(u"Hue", 0);
  saturation_ = node.ReadInteger(u"Saturation", 0);
  lightness_ = node.ReadInteger(u"Lightness", 0);
  ReadImageKeys(node);
  textKeys_.Read(node);
  textColorWritten_ = node.FindIdent(u"TextColor") != nullptr;
  hoverColorWritten_ = node.FindIdent(u"TextColorHover") != nullptr;
  clickColorWritten_ = node.FindIdent(u"TextColorClick") != nullptr;
  btnMinWidth_ = static_cast<float>(node.ReadFloat(u"BtnMinWidth", 0));
  btnOffsetX_ = static_cast<float>(node.ReadFloat(u"BtnOffsetX", 100));
  // The body is generated at its drawn size: no mip bias.
  SetMipLodBias(0);
  FindTheme();
}

void TKivButton::FindTheme() {
  themePath_.clear();
  themeSize_ = {};
  themeColor_.reset();
  themeNearest_ = false;
  TKivSlideHost* host = GetHost();
  if (!host) return;
  for (std::u16string_view name : {std::u16string_view(theme_), kFallbackTheme}) {
    if (name.empty()) continue;
    const std::u16string path = JoinThemePath(host->ButtonsFolder(), name);
    // The description is looked for every time: a theme the show no longer holds is not used.
    TFileAccessor* accessor = host->Accessor();
    if (!accessor || !Open(*accessor, JoinThemePath(path, kButtonThemeFile))) continue;
    const TButtonProducer* producer = host->ButtonProducers().Producer(path);
    if (!producer) continue;
    themePath_ = path;
    themeSize_ = {producer->NominalWidth(), producer->NominalHeight()};
    themeColor_ = producer->CaptionColor();
    themeNearest_ = SameText(producer->Filtering(), u"Nearest");
    return;
  }
}

std::u16string TKivButton::BodyName() const {
  if (themePath_.empty() || !(Size().x > 0)) return {};
  std::u16string name(kButtonPicturePrefix);
  name += themePath_;
  const int64_t state = Pressed() ? 2 : Hover() ? 1 : 0;
  for (int64_t value :
       {state, static_cast<int64_t>(Size().x), int64_t{hue_}, int64_t{saturation_}, int64_t{lightness_}}) {
    name.push_back(u':');
    AppendNameNumber(name, value);
  }
  return name;
}

TTextPictureParams TKivButton::CaptionParams() const {
  const TIniRGB color =
      // A state's own colour wins; the theme's caption colour stands in for the colours not written.
      !themeColor_ || (Pressed() ? clickColorWritten_ || textColorWritten_
                       : Hover() ? hoverColorWritten_ || textColorWritten_
                                 : textColorWritten_)
          ? textKeys_.ColorFor(Hover(), Pressed())
          : *themeColor_;
  // Half the body's height, at the body's scale on the screen.
  float scale = 1;
  const T2DVector onScreen = OnScreenSize();
  const TKivSlideHost* host = GetHost();
  if (onScreen.y > 0 && Size().y > 0)
    scale = std::max(1.0f, onScreen.y / Size().y) * (host ? host->PixelDensity() : 1);
  const float height = std::max(Size().y, 1.0f) * 0.5f * scale;
  const int32_t pixels = std::clamp(static_cast<int32_t>(std::ceil(height / 8)) * 8, 8, kMaxTextHeight);
  return textKeys_.PictureParams(ExpandedText(), color, pixels);
}

void TKivButton::UpdateContentGeometry() {
  // The body is as wide as the widest of the theme, the minimum width and the caption's block.
  if (themePath_.empty()) {
    SetSize(0, 0);
    return;
  }
  // Bounded like any picture: the body is generated at this size.
  const float minWidth = std::isfinite(btnMinWidth_) ? btnMinWidth_ : 0.0f;
  const float width = std::min(std::max({minWidth, static_cast<float>(themeSize_.width),
                                         static_cast<float>(textKeys_.blackBox.x), 1.0f}),
                               static_cast<float>(kMaxPictureSide));
  const float height =
      static_cast<float>(std::clamp(themeSize_.height > 0 ? themeSize_.height : kDefaultLineHeight, 1, 1024));
  if (width != Size().x || height != Size().y) {
    SetSize(std::nearbyint(width), height);
    changed = 1;
  }
}

void TKivButton::PrepareContent(TDeviceDrawer& drawer) {
  TKivImageObject::PrepareContent(drawer);
  if (themePath_.empty()) {
    caption_ = nullptr;
    captionName_.clear();
    return;
  }
  TKivSlideHost* host = GetHost();
  const std::u16string name = std::u16string(kTextPicturePrefix) + EncodeTextPicture(CaptionParams());
  if (host && name != captionName_) {
    caption_ = LoadKivPicture(*host, name);
    captionName_ = name;
  }
  if (caption_ && InTime() && !Hidden()) drawer.PrepareImage(*caption_, MakeImageParams());
}

void TKivButton::DrawContent(TDeviceDrawer& drawer) {
  if (!CanDraw()) return;
  T3DPoint topLeft, xAxis, yAxis;
  ContentPlacement(topLeft, xAxis, yAxis);
  const float opacity = GetOpacity();
  if (TKivPicture* body = Picture(); body && body->Width() > 0 && body->Height() > 0) {
    TImageParams params = MakeImageParams();
    params.antialiased = false;
    params.opacity = opacity * btnOpacity_ / 100;
    drawer.DrawImage(*body, topLeft, params, Scaled(xAxis, Size().x / body->Width()),
                     Scaled(yAxis, Size().y / body->Height()), {0, 0});
  }
  if (caption_) {
    // The caption keeps its shape inside the body, a quarter of the height in from the ends.
    const float margin = Size().y / 4;
    float scale, offsetX, offsetY;
    FitPicture(static_cast<float>(caption_->Width()), static_cast<float>(caption_->Height()),
               std::max(Size().x - 2 * margin, 1.0f), Size().y, scale, offsetX, offsetY);
    if (scale > 0) {
      TImageParams params = MakeImageParams();
      params.antialiased = false;
      params.opacity = opacity * txtOpacity_ / 100;
      if (themeNearest_) params.linearFilter = false;
      drawer.DrawImage(*caption_, Along(topLeft, xAxis, yAxis, margin + offsetX, offsetY), params,
                       Scaled(xAxis, scale), Scaled(yAxis, scale), {0, 0});
    }
  }
}

bool TKivButton::MakeShadowRequest(TShadowRequest& request) const {
  TKivPicture* body = Picture();
  if (!body || body->Width() <= 0 || body->Height() <= 0 || LoadedName().empty()) return false;
  TShadowParams& p = request.params;
  p.sourceName = LoadedName();
  p.right = body->Width();
  p.bottom = body->Height();
  p.fillAlpha = 0;
  p.blurSize = Shadow().size * body->Height() / 400.0 * 1.1;
  request.unit = Size().x / static_cast<float>(body->Width());
  request.offsetMeasure = 3 * Size().y;
  return true;
}

} // namespace kiv

#include "ButtonObject.h"

#include "DrawerPoints.h"
#include "PictureColorOps.h"
#include "ShowFileAccess.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace kiv {

namespace {

// A number field of a theme's patch reference "file, x1, y1, x2, y2"; missing or malformed counts as 0.
int32_t PatchField(const TCommonIniSection* section, std::u16string_view key, size_t index) {
  if (!section) return 0;
  std::array<std::u16string, 5> fields;
  const int count = section->ReadStrings(key, fields);
  if (count <= 0 || index >= static_cast<size_t>(std::min(count, 5))) return 0;
  std::u16string text = fields[index];
  text.erase(0, text.find_first_not_of(u" \t"));
  text.push_back(u';');
  size_t pos = 0;
  int32_t value = 0;
  return ParseNameNumber(text, pos, u';', value) ? value : 0;
}

std::u16string JoinPath(std::u16string_view folder, std::u16string_view name) {
  std::u16string path(folder);
  if (!path.empty() && path.back() != u'\\' && path.back() != u'/') path.push_back(u'\\');
  path.append(name);
  return path;
}

// The theme description of a theme folder through the show's files; nullptr when the show has none.
TOwned<TIniFile> OpenTheme(TKivSlideHost& host, std::u16string_view themePath) {
  TFileAccessor* accessor = host.Accessor();
  if (!accessor) return nullptr;
  TOwned<TStream> stream = Open(*accessor, JoinPath(themePath, kButtonThemeFile));
  if (!stream) return nullptr;
  auto theme = MakeOwned<TIniFile>();
  if (!theme->LoadFromStream(*stream)) return nullptr;
  return theme;
}

TSize ThemeNominalSize(const TIniFile& theme) {
  const TIniSection* normal = theme.FindSection(u"NormalState");
  return {PatchField(normal, u"Right", 3), PatchField(normal, u"Bottom", 4)};
}

} // namespace

// Until the themed generator exists, a button body is a plain rounded bar of the theme's nominal height,
// tinted like a themed one would be.
TRef<TCachedBitmap> MakePlainButtonBody(TKivSlideHost& host, std::u16string_view rest) {
  // Theme path, then five numbers; the path may itself hold ':'.
  std::array<int32_t, 5> numbers{};
  std::u16string_view path = rest;
  for (int i = 4; i >= 0; --i) {
    const size_t colon = path.rfind(u':');
    if (colon == std::u16string_view::npos) return nullptr;
    std::u16string field(path.substr(colon + 1));
    field.push_back(u';');
    size_t pos = 0;
    if (!ParseNameNumber(field, pos, u';', numbers[static_cast<size_t>(i)]))
      numbers[static_cast<size_t>(i)] = 0;
    path = path.substr(0, colon);
  }
  TOwned<TIniFile> theme = OpenTheme(host, path);
  if (!theme) return nullptr;
  const TSize nominal = ThemeNominalSize(*theme);
  const int width = std::clamp(numbers[1], 1, kMaxPictureSide);
  const int height = std::clamp(nominal.height > 0 ? nominal.height : kDefaultLineHeight, 1, 1024);
  const int state = numbers[0];
  std::vector<uint32_t> pixels(static_cast<size_t>(width) * height);
  const float radius = std::min(height / 2.0f, width / 2.0f);
  for (int y = 0; y < height; ++y) {
    // Lighter at the top; hover lighter, click darker.
    const int base = 200 - 90 * y / std::max(1, height - 1) + (state == 1 ? 30 : state == 2 ? -40 : 0);
    const uint32_t level = static_cast<uint32_t>(std::clamp(base, 0, 255));
    for (int x = 0; x < width; ++x) {
      // Round the ends: coverage of the pixel centre against the end circles.
      const float cx = std::clamp(x + 0.5f, radius, width - radius);
      const float dx = x + 0.5f - cx, dy = y + 0.5f - height / 2.0f;
      const float coverage = std::clamp(radius - std::sqrt(dx * dx + dy * dy) + 0.5f, 0.0f, 1.0f);
      const uint32_t alpha = static_cast<uint32_t>(std::nearbyint(coverage * 255));
      pixels[static_cast<size_t>(y) * width + x] = TintColor(
          alpha << 24 | (level / 2) << 16 | (level * 3 / 4) << 8 | level, numbers[2], numbers[3], numbers[4]);
    }
  }
  return TRef<TCachedBitmap>::Make(width, height, std::move(pixels));
}

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
  TKivSlideHost* host = GetHost();
  if (!host) return;
  for (std::u16string_view name : {std::u16string_view(theme_), kFallbackTheme}) {
    if (name.empty()) continue;
    const std::u16string path = JoinPath(host->ButtonsFolder(), name);
    TOwned<TIniFile> theme = OpenTheme(*host, path);
    if (!theme) continue;
    themePath_ = path;
    themeSize_ = ThemeNominalSize(*theme);
    if (const TIniSection* text = theme->FindSection(u"TextParams"); text && text->FindIdent(u"Color"))
      themeColor_ = text->ReadRGB(u"Color", TIniRGB{255, 255, 255});
    return;
  }
}

std::u16string TKivButton::BodyName() const {
  if (themePath_.empty() || !(Size().x > 0)) return {};
  std::u16string name(kButtonPicturePrefix);
  name += themePath_;
  for (int64_t value : {int64_t{Hover() ? 1 : 0}, static_cast<int64_t>(Size().x), int64_t{hue_},
                        int64_t{saturation_}, int64_t{lightness_}}) {
    name.push_back(u':');
    AppendNameNumber(name, value);
  }
  return name;
}

TTextPictureParams TKivButton::CaptionParams() const {
  const TIniRGB color =
      textColorWritten_ || !themeColor_ ? textKeys_.ColorFor(Hover(), Pressed()) : *themeColor_;
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
      drawer.DrawImage(*caption_, Along(topLeft, xAxis, yAxis, margin + offsetX, offsetY), params,
                       Scaled(xAxis, scale), Scaled(yAxis, scale), {0, 0});
    }
  }
}

} // namespace kiv

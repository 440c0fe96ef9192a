#include "ContentObjects.h"

#include "Bitmap.h"
#include "FontOutlines.h"
#include "ImageLevels.h"
#include "ObjectFactory.h"
#include "ShowFileAccess.h"
#include "PictureColorOps.h"
#include "TextRasterizer.h"
#include "Utf8.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace kiv {

namespace {

constexpr std::u16string_view kFilteringNames[] = {u"Nearest", u"Bilinear", u"Default"};
constexpr std::u16string_view kAlignNames[] = {u"Left", u"Center", u"Right"};
// Exact case: a fill mode spelled otherwise fills solid.
constexpr std::u16string_view kFillModeNames[] = {u"Solid", u"HGradient", u"VGradient", u"TLBRGradient",
                                                  u"TRBLGradient"};

// Generated text pictures are bounded: a block taller than this gains nothing on any screen.
constexpr int32_t kMaxTextHeight = 2048;
// Pixels per line of a text without a block size or planning result.
constexpr int32_t kDefaultLineHeight = 32;

float Width(const TFloatRect& r) {
  return r.right - r.left;
}
float Height(const TFloatRect& r) {
  return r.bottom - r.top;
}
bool IsEmpty(const TFloatRect& r) {
  return !(r.right > r.left && r.bottom > r.top);
}

T3DPoint ToPoint(const T3DVector& v) {
  return {v.x, v.y, v.z};
}
T3DPoint Along(const T3DPoint& start, const T3DPoint& x, const T3DPoint& y, float u, float v) {
  return {start.x + x.x * u + y.x * v, start.y + x.y * u + y.y * v, start.z + x.z * u + y.z * v};
}
T3DPoint Scaled(const T3DPoint& p, float k) {
  return {p.x * k, p.y * k, p.z * k};
}

uint32_t ColorRef(TIniRGB color) {
  return uint32_t{color.blue} << 16 | uint32_t{color.green} << 8 | color.red;
}
uint32_t ArgbOf(TIniRGB color, int32_t alpha) {
  return uint32_t(std::clamp(alpha, 0, 255)) << 24 | uint32_t{color.red} << 16 | uint32_t{color.green} << 8 |
         color.blue;
}

std::vector<std::u16string> SplitLines(std::u16string_view text) {
  std::vector<std::u16string> lines;
  size_t start = 0;
  for (size_t i = 0; i <= text.size(); ++i) {
    if (i < text.size() && text[i] != u'\r' && text[i] != u'\n') continue;
    lines.emplace_back(text.substr(start, i - start));
    if (i + 1 < text.size() && text[i] == u'\r' && text[i + 1] == u'\n') ++i;
    start = i + 1;
  }
  return lines;
}

void AppendNumber(std::u16string& out, int64_t value) {
  for (char c : std::to_string(value))
    out.push_back(static_cast<char16_t>(c));
}

// A decimal integer of at most nine digits at pos, up to the terminator; false otherwise.
bool ParseNumber(std::u16string_view text, size_t& pos, char16_t terminator, int32_t& value) {
  bool negative = false;
  if (pos < text.size() && text[pos] == u'-') {
    negative = true;
    ++pos;
  }
  int64_t number = 0;
  int digits = 0;
  while (pos < text.size() && text[pos] >= u'0' && text[pos] <= u'9' && digits < 10) {
    number = number * 10 + (text[pos] - u'0');
    ++pos;
    ++digits;
  }
  if (digits == 0 || digits > 9 || pos >= text.size() || text[pos] != terminator) return false;
  ++pos;
  value = static_cast<int32_t>(negative ? -number : number);
  return true;
}

bool ParseCounted(std::u16string_view text, size_t& pos, std::u16string& out) {
  int32_t length = 0;
  if (!ParseNumber(text, pos, u':', length) || length < 0 || size_t(length) > text.size() - pos) return false;
  out.assign(text.substr(pos, static_cast<size_t>(length)));
  pos += static_cast<size_t>(length);
  return true;
}

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
  return ParseNumber(text, pos, u';', value) ? value : 0;
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
    if (!ParseNumber(field, pos, u';', numbers[static_cast<size_t>(i)])) numbers[static_cast<size_t>(i)] = 0;
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

template <class T> TOwned<TKivObject> Make(TKivObject* parent, std::u16string guid) {
  return MakeOwned<T>(parent, std::move(guid));
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

uint8_t BoxFillType(TBoxFillMode mode) {
  switch (mode) {
  case TBoxFillMode::HGradient:
    return 6;
  case TBoxFillMode::VGradient:
    return 5;
  case TBoxFillMode::TLBRGradient:
    return 0;
  case TBoxFillMode::TRBLGradient:
    return 1;
  case TBoxFillMode::Solid:
    break;
  }
  return 8;
}

std::u16string EncodeTextPicture(const TTextPictureParams& params) {
  std::u16string out;
  for (int64_t value : {int64_t{params.height}, int64_t{params.color}, int64_t{params.fontStyle},
                        int64_t{params.align}, int64_t{params.lineSpacing}}) {
    AppendNumber(out, value);
    out.push_back(u',');
  }
  for (const std::u16string* text : {&params.fontName, &params.text}) {
    AppendNumber(out, static_cast<int64_t>(text->size()));
    out.push_back(u':');
    out.append(*text);
  }
  return out;
}

bool DecodeTextPicture(std::u16string_view encoded, TTextPictureParams& params) {
  TTextPictureParams read;
  size_t pos = 0;
  int32_t color = 0;
  if (!ParseNumber(encoded, pos, u',', read.height) || !ParseNumber(encoded, pos, u',', color) ||
      !ParseNumber(encoded, pos, u',', read.fontStyle) || !ParseNumber(encoded, pos, u',', read.align) ||
      !ParseNumber(encoded, pos, u',', read.lineSpacing) || !ParseCounted(encoded, pos, read.fontName) ||
      !ParseCounted(encoded, pos, read.text) || pos != encoded.size())
    return false;
  if (color < 0 || color > 0xFFFFFF || read.align < 0 || read.align > 2) return false;
  read.color = static_cast<uint32_t>(color);
  params = std::move(read);
  return true;
}

int32_t ParseFontStyleLetters(std::u16string_view letters) {
  int32_t styles = 0;
  for (char16_t c : letters) {
    switch (c) {
    case u'B':
    case u'b':
      styles |= kFontBold;
      break;
    case u'I':
    case u'i':
      styles |= kFontItalic;
      break;
    case u'U':
    case u'u':
      styles |= kFontUnderline;
      break;
    case u'S':
    case u's':
      styles |= kFontStrikeOut;
      break;
    default:
      break;
    }
  }
  return styles;
}

TRef<TCachedBitmap> MakeTextPicture(const TTextPictureParams& params) {
  const std::vector<std::u16string> lines = SplitLines(params.text);
  std::u16string descriptor = params.fontName.empty() ? std::u16string(u"Arial") : params.fontName;
  std::u16string styles;
  if (params.fontStyle & kFontBold) styles += u"Bold,";
  if (params.fontStyle & kFontItalic) styles += u"Italic,";
  if (!styles.empty()) {
    styles.pop_back();
    descriptor += u":" + styles;
  }
  TOwned<TSimpleVectorText> text = MakeVectorText(descriptor, lines);
  if (!text || text->LineCount() == 0) return nullptr;
  const double lineHeight = static_cast<double>(text->Metrics().ascent) + text->Metrics().descent;
  if (!(lineHeight > 0)) return nullptr;
  const int count = text->LineCount();
  const double spacing = std::max(0, params.lineSpacing);
  const double block = lineHeight * count + lineHeight * spacing / 200 * (count - 1);
  const double height = std::clamp(params.height, 1, kMaxTextHeight);
  TTextProducer producer;
  producer.SetText(text.get(), false);
  producer.SetAlignment(static_cast<TTextAlign>(std::clamp(params.align, 0, 2)));
  producer.SetLineSpacing(spacing);
  // The same colour twice: the pixels around the glyphs stay transparent.
  TOwned<TImage> image =
      producer.Produce(params.color, params.color, (params.fontStyle & kFontStrikeOut) != 0,
                       (params.fontStyle & kFontUnderline) != 0, height / block);
  if (!image) return nullptr;
  TRef<TBitmap> bitmap = image->GetMipLevel(0, TBitmapFormat::Pf32bit);
  if (!bitmap) return nullptr;
  std::vector<uint32_t> pixels(static_cast<size_t>(bitmap->Width()) * bitmap->Height());
  for (int y = 0; y < bitmap->Height(); ++y)
    for (int x = 0; x < bitmap->Width(); ++x)
      pixels[static_cast<size_t>(y) * bitmap->Width() + x] = bitmap->Pixel32(x, y);
  return TRef<TCachedBitmap>::Make(bitmap->Width(), bitmap->Height(), std::move(pixels));
}

void TTextKeys::Read(const TCommonIniSection& node) {
  text = node.ReadString(u"Text", u"Text");
  color = node.ReadRGB(u"TextColor", TIniRGB{255, 255, 255});
  hoverColor = node.ReadRGB(u"TextColorHover", color);
  clickColor = node.ReadRGB(u"TextColorClick", color);
  fontName = node.ReadString(u"FontName", u"Arial");
  fontStyle = node.ReadString(u"FontStyle", u"");
  align = static_cast<TTextAlignment>(node.ReadEnumText(u"TextAlign", kAlignNames, 1));
  lineSpacing = node.ReadInteger(u"LineSpacing", 0);
  rasterize = node.ReadBool(u"Rasterize", false);
  rasterizedGuid = node.ReadString(u"RasterizedGUID", u"");
  blackBox = node.ReadPoint(u"BlackBoxSize", {0, 0});
  shiftX = static_cast<float>(node.ReadFloat(u"ShiftX", 0));
  shiftY = static_cast<float>(node.ReadFloat(u"ShiftY", 0));
}

TTextPictureParams TTextKeys::PictureParams(std::u16string shownText, TIniRGB shownColor,
                                            int32_t height) const {
  TTextPictureParams params;
  params.text = std::move(shownText);
  params.fontName = fontName;
  params.fontStyle = ParseFontStyleLetters(fontStyle);
  params.color = ColorRef(shownColor);
  params.align = static_cast<int32_t>(align);
  params.lineSpacing = lineSpacing;
  params.height = height;
  return params;
}

void FitPicture(float pictureW, float pictureH, float boxW, float boxH, float& scale, float& offsetX,
                float& offsetY) {
  scale = pictureW > 0 && pictureH > 0 ? std::min(boxW / pictureW, boxH / pictureH) : 0.0f;
  offsetX = (boxW - pictureW * scale) / 2;
  offsetY = (boxH - pictureH * scale) / 2;
}

// ---- TKivImageObject ----

TKivImageObject::TKivImageObject(TKivObject* parent, std::u16string guid)
    : TKivObject(parent, std::move(guid)) {}

TKivImageObject::~TKivImageObject() = default;

void TKivImageObject::ReadImageKeys(const TCommonIniSection& node) {
  antialiased_ = node.ReadBool(u"Antialiased", true);
  filtering_ = static_cast<TImageFiltering>(node.ReadEnumText(u"Filtering", kFilteringNames, 2));
  imageName_ = node.ReadString(u"ImageName", u"");
  mipLodBias_ = static_cast<float>(node.ReadFloat(u"MipLodBias", 0));
  replaceWithEffectBuffer_ = node.ReadInteger(u"ReplaceWithEffectBuffer", 0);

  border_ = TBorderParams{};
  border_.enableBorder = node.ReadBool(u"EnableBorder", false);
  border_.enableCrop = node.ReadBool(u"EnableCrop", false);
  border_.enableAspect = node.ReadBool(u"EnableAspect", false);
  border_.borderWidth = static_cast<float>(node.ReadFloat(u"BorderWidth", 3.4));
  border_.borderColor = node.ReadARGB(u"BorderColor", 0xFFFFFFFF);
  const TIniRectPoint crop = node.ReadRectPoint(u"CropRect", {});
  border_.cropRect = crop.rect;
  border_.cropPoint = crop.point;
  double aspect[4] = {};
  if (node.ReadFloats(u"AspectParams", aspect) == 4) {
    border_.aspectRatio = static_cast<float>(aspect[0]);
    border_.aspectZoom = static_cast<float>(aspect[1]);
    border_.aspectShiftX = static_cast<float>(aspect[2]);
    border_.aspectShiftY = static_cast<float>(aspect[3]);
  }

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
  animation_ = MakeAnimationParams(bounds.columns, bounds.rows, bounds.count, bounds.repeatCount,
                                   bounds.offset, listed);

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

// ---- TKivText ----

TKivText::TKivText(TKivObject* parent, std::u16string guid) : TKivImageObject(parent, std::move(guid)) {
  SetAntialiased(false);
}

void TKivText::ReadContentKeys(const TCommonIniSection& node) {
  keys_.Read(node);
  ReadImageKeys(node);
  // A text is never antialiased as a picture: its glyphs carry their own smoothing.
  SetAntialiased(false);
}

TTextPictureParams TKivText::PictureParams() const {
  // The block is made at the height it covers on the screen, so that it stays sharp when zoomed.
  float height = 0;
  const T2DVector onScreen = OnScreenSize();
  const TKivSlideHost* host = GetHost();
  if (onScreen.y > 0) height = onScreen.y * (host ? host->PixelDensity() : 1.0f);
  if (!(height >= 1)) height = static_cast<float>(keys_.blackBox.y);
  if (!(height >= 1)) height = static_cast<float>(kDefaultLineHeight * SplitLines(ExpandedText()).size());
  // Steps of 8 pixels: small changes of the planned size reuse the picture.
  int32_t pixels = static_cast<int32_t>(std::ceil(std::min(height, float(kMaxTextHeight)) / 8)) * 8;
  pixels = std::clamp(pixels, 8, kMaxTextHeight);
  return keys_.PictureParams(ExpandedText(), Hover() ? keys_.hoverColor : keys_.color, pixels);
}

std::u16string TKivText::PictureName() const {
  return std::u16string(kTextPicturePrefix) + EncodeTextPicture(PictureParams());
}

void TKivText::UpdateContentGeometry() {
  TKivImageObject::UpdateContentGeometry();
  // The block size decides; without one the picture's own size stands in.
  if (keys_.blackBox.x > 0 && keys_.blackBox.y > 0)
    SetSize(static_cast<float>(keys_.blackBox.x), static_cast<float>(keys_.blackBox.y));
  else if (Picture())
    SetSize(static_cast<float>(Picture()->Width()), static_cast<float>(Picture()->Height()));
}

void TKivText::DrawContent(TDeviceDrawer& drawer) {
  TKivPicture* picture = Picture();
  if (!picture || !CanDraw()) return;
  T3DPoint topLeft, xAxis, yAxis;
  ContentPlacement(topLeft, xAxis, yAxis);
  float scale, offsetX, offsetY;
  FitPicture(static_cast<float>(picture->Width()), static_cast<float>(picture->Height()), Size().x, Size().y,
             scale, offsetX, offsetY);
  if (!(scale > 0)) return;
  // A block narrower than the box keeps to the side it is aligned to.
  if (keys_.align == TTextAlignment::Left) offsetX = 0;
  if (keys_.align == TTextAlignment::Right) offsetX *= 2;
  TImageParams params = MakeImageParams();
  drawer.DrawImage(*picture, Along(topLeft, xAxis, yAxis, offsetX, offsetY), params, Scaled(xAxis, scale),
                   Scaled(yAxis, scale), {0, 0});
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
    AppendNumber(name, value);
  }
  return name;
}

TTextPictureParams TKivButton::CaptionParams() const {
  const TIniRGB color =
      textColorWritten_ || !themeColor_ ? (Hover() ? textKeys_.hoverColor : textKeys_.color) : *themeColor_;
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

// ---- TKivBox, TKivFrame ----

TKivBox::TKivBox(TKivObject* parent, std::u16string guid) : TKivObject(parent, std::move(guid)) {}

void TKivBox::ReadBoxKeys(const TCommonIniSection& node) {
  size_ = node.ReadPoint(u"Size", {0, 0});
  fillMode_ = static_cast<TBoxFillMode>(node.ReadEnum(u"FillMode", kFillModeNames, 0));
  color1_ = node.ReadRGB(u"Color1", TIniRGB{0, 0, 0});
  color2_ = node.ReadRGB(u"Color2", TIniRGB{0, 0, 0});
  alpha1_ = std::clamp(node.ReadInteger(u"Alpha1", 255), 0, 255);
  alpha2_ = std::clamp(node.ReadInteger(u"Alpha2", 255), 0, 255);
  antialiased_ = node.ReadBool(u"Antialiased", false);
  SetSize(static_cast<float>(std::max(size_.x, 0)), static_cast<float>(std::max(size_.y, 0)));
}

void TKivBox::LoadFromNode(const TCommonIniSection& node, bool reload) {
  ReadBoxKeys(node);
  TKivObject::LoadFromNode(node, reload);
}

TBoxParams TKivBox::MakeBoxParams() const {
  TBoxParams params;
  params.fillType = BoxFillType(fillMode_);
  params.color1 = ArgbOf(color1_, alpha1_);
  params.color2 = fillMode_ == TBoxFillMode::Solid ? params.color1 : ArgbOf(color2_, alpha2_);
  params.width = Size().x;
  params.height = Size().y;
  params.opacity = GetOpacity();
  params.antialias.fill(antialiased_);
  return params;
}

void TKivBox::DrawContent(TDeviceDrawer& drawer) {
  if (!CanDraw()) return;
  T3DVector corners[4];
  GetCorners(corners);
  drawer.DrawBox(ToPoint(corners[0]), {0, 0}, MakeBoxParams(), ToPoint(Frame().xAxis),
                 ToPoint(Frame().yAxis));
}

TKivFrame::TKivFrame(TKivObject* parent, std::u16string guid) : TKivBox(parent, std::move(guid)) {}

void TKivFrame::LoadFromNode(const TCommonIniSection& node, bool reload) {
  // A frame's size comes first; everything else as a box reads it.
  const TIniPoint size = node.ReadPoint(u"Size", {0, 0});
  SetSize(static_cast<float>(std::max(size.x, 0)), static_cast<float>(std::max(size.y, 0)));
  TKivBox::LoadFromNode(node, reload);
}

// ---- registration ----

void RegisterContentKinds() {
  RegisterKivObjectKind(u"image", &Make<TKivImageObject>);
  RegisterKivObjectKind(u"mainimage", &Make<TKivImageObject>);
  RegisterKivObjectKind(u"text", &Make<TKivText>);
  RegisterKivObjectKind(u"textcomment", &Make<TKivText>);
  RegisterKivObjectKind(u"button", &Make<TKivButton>);
  RegisterKivObjectKind(u"box", &Make<TKivBox>);
  RegisterKivObjectKind(u"frame", &Make<TKivFrame>);
  RegisterGeneratedPicture(kTextPicturePrefix, [](TKivSlideHost&, std::u16string_view rest) {
    TTextPictureParams params;
    return DecodeTextPicture(rest, params) ? MakeTextPicture(params) : nullptr;
  });
  // The plain body stands in only while no themed generator is registered.
  if (TGeneratedPictureFunc previous = RegisterGeneratedPicture(kButtonPicturePrefix, &MakePlainButtonBody))
    RegisterGeneratedPicture(kButtonPicturePrefix, std::move(previous));
}

} // namespace kiv

#include "TextObject.h"

#include "DrawerPoints.h"
#include "FontOutlines.h"
#include "TextRasterizer.h"
#include "Utf8Conversion.h"

#include <algorithm>
#include <cmath>

namespace kiv {

namespace {

constexpr std::u16string_view kAlignNames[] = {u"Left", u"Center", u"Right"};

uint32_t ColorRef(TIniRGB color) {
  return uint32_t{color.blue} << 16 | uint32_t{color.green} << 8 | color.red;
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

bool ParseCounted(std::u16string_view text, size_t& pos, std::u16string& out) {
  int32_t length = 0;
  if (!ParseNameNumber(text, pos, u':', length) || length < 0 || size_t(length) > text.size() - pos)
    return false;
  out.assign(text.substr(pos, static_cast<size_t>(length)));
  pos += static_cast<size_t>(length);
  return true;
}

} // namespace

void AppendNameNumber(std::u16string& out, int64_t value) {
  for (char c : std::to_string(value))
    out.push_back(static_cast<char16_t>(c));
}

bool ParseNameNumber(std::u16string_view text, size_t& pos, char16_t terminator, int32_t& value) {
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

// ---- text pictures ----

std::u16string EncodeTextPicture(const TTextPictureParams& params) {
  std::u16string out;
  for (int64_t value : {int64_t{params.height}, int64_t{params.color}, int64_t{params.fontStyle},
                        int64_t{params.align}, int64_t{params.lineSpacing}}) {
    AppendNameNumber(out, value);
    out.push_back(u',');
  }
  for (const std::u16string* text : {&params.fontName, &params.text, &params.layout}) {
    AppendNameNumber(out, static_cast<int64_t>(text->size()));
    out.push_back(u':');
    out.append(*text);
  }
  return out;
}

bool DecodeTextPicture(std::u16string_view encoded, TTextPictureParams& params) {
  TTextPictureParams read;
  size_t pos = 0;
  int32_t color = 0;
  if (!ParseNameNumber(encoded, pos, u',', read.height) || !ParseNameNumber(encoded, pos, u',', color) ||
      !ParseNameNumber(encoded, pos, u',', read.fontStyle) ||
      !ParseNameNumber(encoded, pos, u',', read.align) ||
      !ParseNameNumber(encoded, pos, u',', read.lineSpacing) || !ParseCounted(encoded, pos, read.fontName) ||
      !ParseCounted(encoded, pos, read.text) || !ParseCounted(encoded, pos, read.layout) ||
      pos != encoded.size())
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

TRef<TCachedBitmap> MakeTextPicture(const TTextPictureParams& params, TVectorText* stored) {
  TOwned<TSimpleVectorText> live;
  TVectorText* text = stored;
  if (!text) {
    std::u16string descriptor = params.fontName.empty() ? std::u16string(u"Arial") : params.fontName;
    std::u16string styles;
    if (params.fontStyle & kFontBold) styles += u"Bold,";
    if (params.fontStyle & kFontItalic) styles += u"Italic,";
    if (!styles.empty()) {
      styles.pop_back();
      descriptor += u":" + styles;
    }
    live = MakeVectorText(descriptor, SplitLines(params.text));
    text = live.get();
  }
  if (!text || text->LineCount() == 0) return nullptr;
  const double lineHeight = static_cast<double>(text->Metrics().ascent) + text->Metrics().descent;
  if (!(lineHeight > 0)) return nullptr;
  const int count = text->LineCount();
  const double spacing = std::max(0, params.lineSpacing);
  const double block = lineHeight * count + lineHeight * spacing / 200 * (count - 1);
  const double height = std::clamp(params.height, 1, kMaxTextHeight);
  TTextProducer producer;
  producer.SetText(text, false);
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

TIniRGB TTextKeys::ColorFor(bool hover, bool pressed) const {
  return pressed ? clickColor : hover ? hoverColor : color;
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
  params.layout = rasterizedGuid;
  return params;
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
  return keys_.PictureParams(ExpandedText(), keys_.ColorFor(Hover(), Pressed()), pixels);
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

bool TKivText::PicturePlacement(float& scale, float& offsetX, float& offsetY) const {
  TKivPicture* picture = Picture();
  if (!picture) return false;
  FitPicture(static_cast<float>(picture->Width()), static_cast<float>(picture->Height()), Size().x, Size().y,
             scale, offsetX, offsetY);
  if (!(scale > 0)) return false;
  // A block narrower than the box keeps to the side it is aligned to.
  if (keys_.align == TTextAlignment::Left) offsetX = 0;
  if (keys_.align == TTextAlignment::Right) offsetX *= 2;
  return true;
}

bool TKivText::MakeShadowRequest(TShadowRequest& request) const {
  float scale, offsetX, offsetY;
  if (!PicturePlacement(scale, offsetX, offsetY) || LoadedName().empty()) return false;
  const TKivPicture& picture = *Picture();
  TShadowParams& p = request.params;
  p.sourceName = LoadedName();
  p.right = picture.Width();
  p.bottom = picture.Height();
  p.fillAlpha = 0;
  // The block's height measures the text, in the picture's pixels.
  const float block = keys_.blackBox.y > 0 ? static_cast<float>(keys_.blackBox.y) : Size().y;
  p.blurSize = Shadow().size * (block / scale) / 400 * 1.1;
  request.partX = offsetX;
  request.partY = offsetY;
  request.unit = scale;
  request.offsetMeasure = std::nearbyint(3 * block);
  return true;
}

void TKivText::DrawContent(TDeviceDrawer& drawer) {
  TKivPicture* picture = Picture();
  if (!picture || !CanDraw()) return;
  T3DPoint topLeft, xAxis, yAxis;
  ContentPlacement(topLeft, xAxis, yAxis);
  float scale, offsetX, offsetY;
  if (!PicturePlacement(scale, offsetX, offsetY)) return;
  TImageParams params = MakeImageParams();
  drawer.DrawImage(*picture, Along(topLeft, xAxis, yAxis, offsetX, offsetY), params, Scaled(xAxis, scale),
                   Scaled(yAxis, scale), {0, 0});
}

} // namespace kiv

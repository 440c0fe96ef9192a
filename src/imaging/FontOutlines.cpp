#include "FontOutlines.h"

#include "Utf8Conversion.h"

#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_OUTLINE_H
#include FT_TRUETYPE_TABLES_H

#include <algorithm>
#include <cmath>
#include <map>

namespace kiv {

namespace {

std::map<std::u16string, std::string>& PinnedFonts() {
  static std::map<std::u16string, std::string> fonts;
  return fonts;
}

struct TFcPattern {
  FcPattern* p;
  ~TFcPattern() {
    if (p) FcPatternDestroy(p);
  }
};

struct TFace {
  FT_Face face = nullptr;
  ~TFace() {
    if (face) FT_Done_Face(face);
  }
};

// Collects an outline as points in font units, y down.
struct TOutlineSink {
  std::vector<TGlyphPoint> points;
  float lastX = 0, lastY = 0;
  void Add(float x, float y, int32_t type) {
    points.push_back({x, -y, type});
    lastX = x, lastY = y;
  }
};

extern "C" int OutlineMove(const FT_Vector* to, void* user) {
  static_cast<TOutlineSink*>(user)->Add(float(to->x), float(to->y), kPtMoveTo);
  return 0;
}
extern "C" int OutlineLine(const FT_Vector* to, void* user) {
  static_cast<TOutlineSink*>(user)->Add(float(to->x), float(to->y), kPtLineTo);
  return 0;
}
extern "C" int OutlineConic(const FT_Vector* control, const FT_Vector* to, void* user) {
  auto* s = static_cast<TOutlineSink*>(user);
  // A quadratic curve raised to cubic: controls two thirds of the way to the quadratic control point.
  const float x0 = s->lastX, y0 = s->lastY, cx = float(control->x), cy = float(control->y);
  const float x3 = float(to->x), y3 = float(to->y);
  s->Add(x0 + 2.f / 3.f * (cx - x0), y0 + 2.f / 3.f * (cy - y0), kPtBezierTo);
  s->Add(x3 + 2.f / 3.f * (cx - x3), y3 + 2.f / 3.f * (cy - y3), kPtBezierTo);
  s->Add(x3, y3, kPtBezierTo);
  return 0;
}
extern "C" int OutlineCubic(const FT_Vector* c1, const FT_Vector* c2, const FT_Vector* to, void* user) {
  auto* s = static_cast<TOutlineSink*>(user);
  s->Add(float(c1->x), float(c1->y), kPtBezierTo);
  s->Add(float(c2->x), float(c2->y), kPtBezierTo);
  s->Add(float(to->x), float(to->y), kPtBezierTo);
  return 0;
}

// One glyph unscaled and unhinted; an outline that cannot be read stays empty.
TGlyphData LoadGlyph(FT_Face face, FT_UInt index) {
  TGlyphData g;
  g.index = static_cast<uint16_t>(index);
  g.referenceSize = static_cast<float>(face->units_per_EM);
  if (FT_Load_Glyph(face, index, FT_LOAD_NO_SCALE | FT_LOAD_NO_HINTING | FT_LOAD_NO_BITMAP) != 0) return g;
  const FT_Glyph_Metrics& m = face->glyph->metrics;
  g.a = static_cast<int32_t>(m.horiBearingX);
  g.b = static_cast<int32_t>(m.width);
  g.c = static_cast<int32_t>(m.horiAdvance - m.horiBearingX - m.width);
  g.ascent = static_cast<int32_t>(m.horiBearingY);
  g.descent = static_cast<int32_t>(m.height - m.horiBearingY);
  if (face->glyph->format != FT_GLYPH_FORMAT_OUTLINE) return g;
  FT_Outline_Funcs funcs{OutlineMove, OutlineLine, OutlineConic, OutlineCubic, 0, 0};
  TOutlineSink sink;
  if (FT_Outline_Decompose(&face->glyph->outline, &funcs, &sink) != 0) return g;
  g.points = std::move(sink.points);
  if (g.points.empty()) return g;
  // Keep the ink inside the glyph's box: move it right to its bearing, squeeze it to its width.
  float minX = g.points[0].x, maxX = minX;
  for (const TGlyphPoint& p : g.points)
    minX = std::min(minX, p.x), maxX = std::max(maxX, p.x);
  if (minX < g.a) {
    for (TGlyphPoint& p : g.points)
      p.x += g.a - minX;
    maxX += g.a - minX;
    minX = float(g.a);
  }
  if (maxX > g.a + g.b && maxX > minX) {
    const float k = float(g.b) / (maxX - minX);
    for (TGlyphPoint& p : g.points)
      p.x = minX + (p.x - minX) * k;
  }
  return g;
}

} // namespace

std::mutex& FreeTypeLock() {
  static std::mutex lock;
  return lock;
}

void* FreeTypeLibrary() {
  static FT_Library library = [] {
    FT_Library l = nullptr;
    FT_Init_FreeType(&l);
    return l;
  }();
  return library;
}

void SetFontFile(std::u16string_view fontName, const std::string& path) {
  std::lock_guard lock(FreeTypeLock());
  PinnedFonts()[std::u16string(fontName)] = path;
}

std::string FindFontFile(const TFontDescriptor& font) {
  {
    std::lock_guard lock(FreeTypeLock());
    auto it = PinnedFonts().find(font.name);
    if (it != PinnedFonts().end()) return it->second;
  }
  if (!FcInit()) return {};
  TFcPattern pattern{FcPatternCreate()};
  const std::string name = Utf16ToUtf8(font.name);
  FcPatternAddString(pattern.p, FC_FAMILY, reinterpret_cast<const FcChar8*>(name.c_str()));
  FcPatternAddInteger(pattern.p, FC_WEIGHT, (font.styles & kFontBold) ? FC_WEIGHT_BOLD : FC_WEIGHT_REGULAR);
  FcPatternAddInteger(pattern.p, FC_SLANT, (font.styles & kFontItalic) ? FC_SLANT_ITALIC : FC_SLANT_ROMAN);
  FcPatternAddBool(pattern.p, FC_OUTLINE, FcTrue);
  FcConfigSubstitute(nullptr, pattern.p, FcMatchPattern);
  FcDefaultSubstitute(pattern.p);
  FcResult result;
  TFcPattern match{FcFontMatch(nullptr, pattern.p, &result)};
  FcChar8* file = nullptr;
  if (!match.p || FcPatternGetString(match.p, FC_FILE, 0, &file) != FcResultMatch || !file) return {};
  return reinterpret_cast<const char*>(file);
}

TGlyphPath TSimpleVectorText::GlyphOutline(int line, int glyph) const {
  const TPlacedGlyph& g = lines_[static_cast<size_t>(line)][static_cast<size_t>(glyph)];
  TGlyphPath path;
  path.points = g.data.points;
  for (TGlyphPoint& p : path.points)
    p.x += static_cast<float>(g.pen);
  return path;
}

TGlyphMetrics TSimpleVectorText::GlyphMetrics(int line, int glyph) const {
  const TPlacedGlyph& g = lines_[static_cast<size_t>(line)][static_cast<size_t>(glyph)];
  return {double(g.data.a), double(g.data.b), double(g.data.c), double(g.pen), true};
}

TOwned<TSimpleVectorText> MakeVectorText(std::u16string_view descriptor,
                                         const std::vector<std::u16string>& lines) {
  TFontDescriptor font = ParseFontDescriptor(descriptor);
  const std::string file = FindFontFile(font);
  const std::string arial = FindFontFile({u"Arial", font.styles});
  std::lock_guard lock(FreeTypeLock());
  auto* library = static_cast<FT_Library>(FreeTypeLibrary());
  if (!library) return nullptr;
  TFace face;
  auto open = [&](const std::string& path) {
    if (face.face) FT_Done_Face(face.face), face.face = nullptr;
    return !path.empty() && FT_New_Face(library, path.c_str(), 0, &face.face) == 0 &&
           FT_IS_SCALABLE(face.face);
  };
  // Not an outline font: the system's rule is to use Arial then.
  if (!open(file) && !open(arial)) return nullptr;
  auto text = MakeOwned<TSimpleVectorText>();
  TFontMetrics& m = text->MutableMetrics();
  const TT_OS2* os2 = static_cast<const TT_OS2*>(FT_Get_Sfnt_Table(face.face, FT_SFNT_OS2));
  m.ascent = face.face->ascender;
  m.descent = -face.face->descender;
  if (os2 && os2->version != 0xFFFF && os2->usWinAscent + os2->usWinDescent > 0) {
    m.ascent = os2->usWinAscent;
    m.descent = os2->usWinDescent;
  }
  const TT_Postscript* post = static_cast<const TT_Postscript*>(FT_Get_Sfnt_Table(face.face, FT_SFNT_POST));
  m.underlinePosition = static_cast<float>(post ? post->underlinePosition : face.face->underline_position);
  m.underlineThickness = static_cast<float>(post ? post->underlineThickness : face.face->underline_thickness);
  if (os2 && os2->version != 0xFFFF) {
    m.strikeOutPosition = static_cast<float>(os2->yStrikeoutPosition);
    m.strikeOutThickness = static_cast<float>(os2->yStrikeoutSize);
  } else {
    m.strikeOutPosition = static_cast<float>(m.ascent) / 3.f;
    m.strikeOutThickness = m.underlineThickness;
  }
  for (const std::u16string& line : lines) {
    auto& placed = text->Lines().emplace_back();
    int32_t pen = 0;
    const std::u32string chars = [&] {
      std::u32string out;
      for (size_t i = 0; i < line.size(); ++i) {
        char32_t c = line[i];
        if (c >= 0xD800 && c < 0xDC00 && i + 1 < line.size() && line[i + 1] >= 0xDC00 && line[i + 1] < 0xE000)
          c = 0x10000 + ((c - 0xD800) << 10) + (line[++i] - 0xDC00);
        out.push_back(c);
      }
      return out;
    }();
    for (char32_t c : chars) {
      // A character the font lacks keeps its place with the font's missing-glyph shape (glyph 0).
      TSimpleVectorText::TPlacedGlyph g{LoadGlyph(face.face, FT_Get_Char_Index(face.face, c)), pen};
      pen += g.data.a + g.data.b + g.data.c;
      placed.push_back(std::move(g));
    }
  }
  return text;
}

} // namespace kiv

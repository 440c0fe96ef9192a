#include "StoredTextWriter.h"

#include "FontOutlines.h"
#include "Utf8Conversion.h"

#include <ft2build.h>
#include FT_FREETYPE_H

#include <cstring>
#include <set>

namespace kiv {

namespace {

class TByteWriter {
public:
  template <class T> void Put(T value) {
    const size_t at = bytes_.size();
    bytes_.resize(at + sizeof(T));
    std::memcpy(bytes_.data() + at, &value, sizeof(T));
  }
  void PutText(std::u16string_view text) {
    Put(static_cast<int32_t>(text.size()));
    for (char16_t c : text)
      Put(static_cast<uint16_t>(c));
  }
  std::vector<uint8_t> Take() { return std::move(bytes_); }

private:
  std::vector<uint8_t> bytes_;
};

// The family name of a scalable font file; nullopt when FreeType cannot open it as one.
std::optional<std::string> FamilyName(const std::string& file) {
  std::lock_guard lock(FreeTypeLock());
  auto* library = static_cast<FT_Library>(FreeTypeLibrary());
  FT_Face face = nullptr;
  if (!library || FT_New_Face(library, file.c_str(), 0, &face) != 0) return std::nullopt;
  std::optional<std::string> name;
  if (FT_IS_SCALABLE(face)) name = face->family_name ? face->family_name : "";
  FT_Done_Face(face);
  return name;
}

} // namespace

std::vector<uint8_t> GlyphCacheStream(std::u16string_view fontName, const std::vector<TGlyphData>& glyphs) {
  TByteWriter out;
  out.Put(static_cast<int32_t>(glyphs.size()));
  out.PutText(fontName);
  for (const TGlyphData& g : glyphs) {
    out.Put(g.index);
    out.Put(g.a), out.Put(g.b), out.Put(g.c), out.Put(g.ascent), out.Put(g.descent);
    out.Put(g.referenceSize);
    out.Put(static_cast<int32_t>(g.points.size()));
    for (const TGlyphPoint& p : g.points)
      out.Put(p.x), out.Put(p.y), out.Put(p.type);
  }
  return out.Take();
}

std::vector<uint8_t> CachedVectorTextStream(const TFontMetrics& m,
                                            const std::vector<std::vector<TGlyphPointer>>& lines) {
  TByteWriter out;
  out.Put(static_cast<int32_t>(lines.size()));
  out.Put(m.ascent), out.Put(m.descent);
  out.Put(m.underlinePosition), out.Put(m.underlineThickness);
  out.Put(m.strikeOutPosition), out.Put(m.strikeOutThickness);
  for (const std::vector<TGlyphPointer>& line : lines) {
    out.Put(static_cast<int32_t>(line.size()));
    for (const TGlyphPointer& g : line) {
      out.Put(g.pen);
      out.Put(g.size);
      out.Put(g.index);
      out.PutText(g.fontName);
    }
  }
  return out.Take();
}

std::optional<TStoredText> MakeStoredText(const std::string& fontFile, std::u16string fontName,
                                          const std::vector<std::u16string>& lines, std::string& error,
                                          const std::vector<TGlyphData>& kept) {
  const std::optional<std::string> family = FamilyName(fontFile);
  if (!family) {
    error = "not a scalable font: " + fontFile;
    return std::nullopt;
  }
  if (fontName.empty()) fontName = Utf8ToUtf16(*family);
  if (fontName.empty()) {
    error = "the font has no family name; give one";
    return std::nullopt;
  }
  // Pinned under a name no show uses (and without the colon that starts the styles), so that fontconfig
  // never stands in for the file.
  const std::u16string pin = u"\x1F" u"stored text " + Utf8ToUtf16(fontFile);
  SetFontFile(pin, fontFile);
  TOwned<TSimpleVectorText> text = MakeVectorText(pin, lines);
  if (!text) {
    error = "cannot lay out the text in " + fontFile;
    return std::nullopt;
  }
  TStoredText stored;
  stored.fontName = fontName;
  std::vector<TGlyphData> glyphs = kept;
  std::set<uint16_t> seen;
  for (const TGlyphData& g : kept)
    seen.insert(g.index);
  std::vector<std::vector<TGlyphPointer>> layout;
  for (const auto& line : text->Lines()) {
    auto& pointers = layout.emplace_back();
    for (const TSimpleVectorText::TPlacedGlyph& placed : line) {
      pointers.push_back({placed.data.index, fontName, placed.pen, placed.data.referenceSize});
      if (seen.insert(placed.data.index).second) glyphs.push_back(placed.data);
    }
  }
  stored.glyphCache = GlyphCacheStream(fontName, glyphs);
  stored.layout = CachedVectorTextStream(text->Metrics(), layout);
  return stored;
}

} // namespace kiv

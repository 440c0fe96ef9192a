#pragma once
// Writes the two streams a show carries for a text drawn from its own glyphs: the glyph cache of a font
// (the outlines of the glyphs its texts use) and the layout of one text. The reader is StoredGlyphs.

#include "StoredGlyphs.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kiv {

std::vector<uint8_t> GlyphCacheStream(std::u16string_view fontName, const std::vector<TGlyphData>& glyphs);
std::vector<uint8_t> CachedVectorTextStream(const TFontMetrics& metrics,
                                            const std::vector<std::vector<TGlyphPointer>>& lines);

struct TStoredText {
  std::u16string fontName;         // the name the layout and the glyph cache give the font
  std::vector<uint8_t> glyphCache; // the glyphs the text uses, each once
  std::vector<uint8_t> layout;     // the text's lines of glyph pointers
};

// Lays out lines in a font file and writes both streams; fontName empty: the font's family name. Glyph
// sizes are the font's units per em, so outlines keep their font units. The glyph cache holds the glyphs
// of `kept` (a cache written before for other texts in the font) and those the text adds. nullopt with
// the reason in error when the file is not a scalable font.
std::optional<TStoredText> MakeStoredText(const std::string& fontFile, std::u16string fontName,
                                          const std::vector<std::u16string>& lines, std::string& error,
                                          const std::vector<TGlyphData>& kept = {});

} // namespace kiv

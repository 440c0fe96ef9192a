#pragma once
// Texts laid out from the installed fonts (FreeType outlines found through fontconfig), for texts whose
// show holds no stored layout. Outlines are taken unscaled and unhinted in font units, quadratic curves
// raised to cubic; metrics come from the font's tables.

#include "StoredGlyphs.h"

namespace kiv {

// A font file to use for a font name before fontconfig is asked (tests pin their fonts this way).
void SetFontFile(std::u16string_view fontName, const std::string& path);
// The file that would serve a descriptor: a pinned file, else fontconfig's best match (its substitute
// when no font of that name exists); empty when there is none.
std::string FindFontFile(const TFontDescriptor& font);

class TSimpleVectorText : public TVectorText {
public:
  struct TPlacedGlyph {
    TGlyphData data; // outline relative to the pen, font units
    int32_t pen = 0;
  };

  int LineCount() const override { return static_cast<int>(lines_.size()); }
  const TFontMetrics& Metrics() const override { return metrics_; }
  int GlyphCount(int line) const override {
    return static_cast<int>(lines_[static_cast<size_t>(line)].size());
  }
  TGlyphPath GlyphOutline(int line, int glyph) const override;
  TGlyphMetrics GlyphMetrics(int line, int glyph) const override;

  TFontMetrics& MutableMetrics() noexcept { return metrics_; }
  std::vector<std::vector<TPlacedGlyph>>& Lines() noexcept { return lines_; }

private:
  TFontMetrics metrics_;
  std::vector<std::vector<TPlacedGlyph>> lines_;
};

// Lays out lines in the font of a descriptor ("Name:Bold,Italic"); nullptr when no font can be opened.
TOwned<TSimpleVectorText> MakeVectorText(std::u16string_view descriptor,
                                         const std::vector<std::u16string>& lines);

// FreeType is not thread-safe per library: every call into it goes through this lock.
std::mutex& FreeTypeLock();
// The process's FreeType library (made on first use); call with FreeTypeLock held.
void* FreeTypeLibrary();

} // namespace kiv

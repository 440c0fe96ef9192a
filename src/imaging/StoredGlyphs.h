#pragma once
// Glyph outlines stored in shows (one glyph cache per font) and the layouts of texts made from them, read
// from the streams that the packing side writes. Also the interface every vector text offers to the text
// producer, whether it comes from a stored layout or from the installed fonts.

#include "ObjectBase.h"
#include "Streams.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace kiv {

// Style bits of a font descriptor "Name:Bold,Italic".
enum TFontStyle : int { kFontBold = 1, kFontItalic = 2, kFontUnderline = 4, kFontStrikeOut = 8 };

struct TFontDescriptor {
  std::u16string name;
  int styles = 0;
};
// Unknown style words are ignored; spaces and tabs before a word are skipped.
TFontDescriptor ParseFontDescriptor(std::u16string_view text);

struct TFontMetrics {
  int32_t ascent = 0;
  int32_t descent = 0;
  float underlinePosition = 0;
  float underlineThickness = 0;
  float strikeOutPosition = 0;
  float strikeOutThickness = 0;
};

// How a point joins its outline (the values of the packing side).
enum TPointType : int32_t { kPtCloseFigure = 1, kPtLineTo = 2, kPtBezierTo = 4, kPtMoveTo = 6 };

struct TGlyphPoint {
  float x; // font units at the reference size, y growing downwards
  float y;
  int32_t type;
};

struct TGlyphData {
  uint16_t index = 0;
  int32_t a = 0, b = 0, c = 0; // left bearing, black-box width, right bearing
  int32_t ascent = 0, descent = 0;
  float referenceSize = 0;
  std::vector<TGlyphPoint> points;
};

// Shared: the font cache holds one reference, every drawer that looked it up another, so a key change
// while a text is drawn leaves the drawer's glyphs alive. Read-only once made.
class TGlyphCache : public TRefObj {
public:
  TGlyphCache(std::u16string fontName, std::vector<TGlyphData> glyphs)
      : fontName_(std::move(fontName)), glyphs_(std::move(glyphs)) {}
  const std::u16string& FontName() const noexcept { return fontName_; }
  // First match wins.
  const TGlyphData* Find(uint16_t index) const noexcept;
  const std::vector<TGlyphData>& Glyphs() const noexcept { return glyphs_; }

private:
  const std::u16string fontName_;
  const std::vector<TGlyphData> glyphs_;
};

// Limits on what a stream may claim.
inline constexpr int32_t kMaxGlyphPoints = 1 << 20;

// The glyph caches of one show: its slide host owns one, and every stored text loaded for the show keeps a
// reference. Appended to on the loading threads, read by the drawing thread.
class TFontCache : public TRefObj {
public:
  // A key that differs from the current one drops every glyph cache (another show's glyphs never serve).
  void SetKey(std::u16string_view key);
  // Reads a glyph-cache stream and appends it; false (nothing appended) for a broken stream.
  bool Load(TStream& stream);
  // The cache of a font, or nullptr. The caller's reference keeps it alive after a key change drops it.
  TRef<TGlyphCache> Find(std::u16string_view fontName) const;
  int Size() const;

private:
  mutable std::mutex lock_;
  std::u16string key_;                    // under lock_
  std::vector<TRef<TGlyphCache>> caches_; // under lock_; appended only while a key holds
};

// An outline of one glyph placed at its pen position, in font units of the text, y down.
struct TGlyphPath {
  std::vector<TGlyphPoint> points;
};

struct TLineMetrics {
  double leftInk = 0; // left ink offset from the first pen position
  double inkWidth = 0;
  double inkRightGap = 0;
  double advance = 0;
  double ascent = 0;
  double descent = 0;
  double height = 0;
};

struct TGlyphMetrics {
  double a = 0, b = 0, c = 0; // scaled to the glyph's size
  double pen = 0;
  bool present = false;
};

// The interface of every vector text: units are font units, scaled per glyph by size / reference size.
class TVectorText : public TObj {
public:
  virtual int LineCount() const = 0;
  virtual const TFontMetrics& Metrics() const = 0;
  virtual TLineMetrics LineMetrics(int line) const;
  virtual int GlyphCount(int line) const = 0;
  // Outline at the glyph's pen position; empty for a glyph that is missing.
  virtual TGlyphPath GlyphOutline(int line, int glyph) const = 0;
  virtual TGlyphMetrics GlyphMetrics(int line, int glyph) const = 0;
};

struct TGlyphPointer {
  uint16_t index = 0;
  std::u16string fontName;
  int32_t pen = 0;
  float size = 0;
};

// A stored layout. Glyphs are looked up when drawn in the font cache it was loaded for.
class TCachedVectorText : public TVectorText {
public:
  explicit TCachedVectorText(TRef<TFontCache> fonts) : fonts_(std::move(fonts)) {}
  int LineCount() const override { return static_cast<int>(lines_.size()); }
  const TFontMetrics& Metrics() const override { return metrics_; }
  int GlyphCount(int line) const override {
    return static_cast<int>(lines_[static_cast<size_t>(line)].size());
  }
  TGlyphPath GlyphOutline(int line, int glyph) const override;
  TGlyphMetrics GlyphMetrics(int line, int glyph) const override;

  TFontMetrics& MutableMetrics() noexcept { return metrics_; }
  std::vector<std::vector<TGlyphPointer>>& Lines() noexcept { return lines_; }

private:
  // The glyph with the cache that holds it (glyph is nullptr when missing or unusable).
  struct TFoundGlyph {
    TRef<TGlyphCache> cache;
    const TGlyphData* glyph = nullptr;
  };
  TFoundGlyph Glyph(int line, int glyph) const;
  const TRef<TFontCache> fonts_; // never nullptr; locks itself
  TFontMetrics metrics_;
  std::vector<std::vector<TGlyphPointer>> lines_;
};

// Reads a cached text from the stream's start, its glyphs to be found in fonts; the callback hears every
// glyph's font name (so that the caller loads that font's glyph cache). nullptr for a broken stream.
using TFontNeededCallback = std::function<void(const std::u16string& fontName)>;
TOwned<TCachedVectorText> LoadCachedVectorText(TStream& stream, TFontCache& fonts,
                                               const TFontNeededCallback& fontNeeded = {});

} // namespace kiv

#include "StoredGlyphs.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace kiv {

namespace {

template <class T> bool Get(TStream& s, T& value) {
  return s.Read(&value, sizeof(T)) == sizeof(T);
}

int64_t Remaining(TStream& s) {
  return s.GetSize() - s.GetPosition();
}

// A UTF-16 text of length characters; lengths are checked against the bytes that remain.
bool GetText(TStream& s, std::u16string& out) {
  int32_t length;
  if (!Get(s, length) || length < 0 || int64_t{length} * 2 > Remaining(s)) return false;
  out.resize(static_cast<size_t>(length));
  return length == 0 || s.Read(out.data(), int64_t{length} * 2) == int64_t{length} * 2;
}

} // namespace

TFontDescriptor ParseFontDescriptor(std::u16string_view text) {
  TFontDescriptor d;
  const size_t colon = text.find(u':');
  d.name = std::u16string(text.substr(0, colon));
  if (colon == std::u16string_view::npos) return d;
  std::u16string_view rest = text.substr(colon + 1);
  while (!rest.empty()) {
    const size_t comma = rest.find(u',');
    std::u16string_view word = rest.substr(0, comma);
    while (!word.empty() && (word.front() == u' ' || word.front() == u'\t'))
      word.remove_prefix(1);
    if (word == u"Bold")
      d.styles |= kFontBold;
    else if (word == u"Italic")
      d.styles |= kFontItalic;
    else if (word == u"Underline")
      d.styles |= kFontUnderline;
    else if (word == u"StrikeOut")
      d.styles |= kFontStrikeOut;
    if (comma == std::u16string_view::npos) break;
    rest.remove_prefix(comma + 1);
  }
  return d;
}

const TGlyphData* TGlyphCache::Find(uint16_t index) const noexcept {
  for (const TGlyphData& g : glyphs_)
    if (g.index == index) return &g;
  return nullptr;
}

void TFontCache::SetKey(std::u16string_view key) {
  std::lock_guard hold(lock_);
  if (key_ == key) return;
  key_ = std::u16string(key);
  caches_.clear();
}

bool TFontCache::Load(TStream& stream) {
  int32_t count;
  std::u16string name;
  if (!Get(stream, count) || count < 0 || !GetText(stream, name)) return false;
  constexpr int64_t kGlyphBytes = 2 + 5 * 4 + 4 + 4; // a glyph without points
  if (int64_t{count} * kGlyphBytes > Remaining(stream)) return false;
  std::vector<TGlyphData> glyphs;
  glyphs.reserve(static_cast<size_t>(count));
  for (int32_t i = 0; i < count; ++i) {
    TGlyphData g;
    int32_t points;
    if (!Get(stream, g.index) || !Get(stream, g.a) || !Get(stream, g.b) || !Get(stream, g.c) ||
        !Get(stream, g.ascent) || !Get(stream, g.descent) || !Get(stream, g.referenceSize) ||
        !Get(stream, points))
      return false;
    if (points < 0 || points > kMaxGlyphPoints || int64_t{points} * 12 > Remaining(stream)) return false;
    g.points.resize(static_cast<size_t>(points));
    for (TGlyphPoint& p : g.points)
      if (!Get(stream, p.x) || !Get(stream, p.y) || !Get(stream, p.type)) return false;
    glyphs.push_back(std::move(g));
  }
  auto cache = TRef<TGlyphCache>::Make(std::move(name), std::move(glyphs));
  std::lock_guard hold(lock_);
  caches_.push_back(std::move(cache));
  return true;
}

TRef<TGlyphCache> TFontCache::Find(std::u16string_view fontName) const {
  std::lock_guard hold(lock_);
  for (const auto& cache : caches_)
    if (cache->FontName() == fontName) return cache;
  return nullptr;
}

int TFontCache::Size() const {
  std::lock_guard hold(lock_);
  return static_cast<int>(caches_.size());
}

TLineMetrics TVectorText::LineMetrics(int line) const {
  TLineMetrics m;
  double left = std::numeric_limits<double>::max(), right = -left, firstPen = left, last = -left;
  bool any = false;
  std::vector<double> missingPens;
  for (int i = 0; i < GlyphCount(line); ++i) {
    const TGlyphMetrics g = GlyphMetrics(line, i);
    const double p = g.pen;
    if (!g.present) {
      // A glyph whose outline is missing still holds its pen position, so the line keeps its width and
      // the glyphs after it stay inside the picture.
      if (any)
        firstPen = std::min(firstPen, p), last = std::max(last, p);
      else
        missingPens.push_back(p);
      continue;
    }
    any = true;
    for (double q : missingPens)
      firstPen = std::min(firstPen, q), last = std::max(last, q);
    missingPens.clear();
    for (double v : {p, p + g.a, p + g.a + g.b, p + g.a + g.b + g.c}) {
      left = std::min(left, v);
      right = std::max(right, v);
    }
    firstPen = std::min(firstPen, p);
    last = std::max(last, p + g.a + g.b + g.c);
  }
  m.ascent = Metrics().ascent;
  m.descent = Metrics().descent;
  if (any) {
    left = std::min(left, firstPen);
    m.advance = last - firstPen;
    m.leftInk = left - firstPen;
    m.inkWidth = right - left;
    m.inkRightGap = last - right;
  }
  m.height = m.ascent + m.descent;
  return m;
}

TCachedVectorText::TFoundGlyph TCachedVectorText::Glyph(int line, int glyph) const {
  const TGlyphPointer& p = lines_[static_cast<size_t>(line)][static_cast<size_t>(glyph)];
  TFoundGlyph found{fonts_->Find(p.fontName)};
  const TGlyphData* g = found.cache ? found.cache->Find(p.index) : nullptr;
  if (g && g->referenceSize > 0) found.glyph = g;
  return found;
}

TGlyphMetrics TCachedVectorText::GlyphMetrics(int line, int glyph) const {
  TGlyphMetrics m;
  const TGlyphPointer& p = lines_[static_cast<size_t>(line)][static_cast<size_t>(glyph)];
  m.pen = p.pen;
  const TFoundGlyph found = Glyph(line, glyph);
  if (const TGlyphData* g = found.glyph) {
    const double k = p.size / g->referenceSize;
    m.a = g->a * k, m.b = g->b * k, m.c = g->c * k;
    m.present = true;
  }
  return m;
}

TGlyphPath TCachedVectorText::GlyphOutline(int line, int glyph) const {
  TGlyphPath path;
  const TGlyphPointer& p = lines_[static_cast<size_t>(line)][static_cast<size_t>(glyph)];
  const TFoundGlyph found = Glyph(line, glyph);
  if (const TGlyphData* g = found.glyph) {
    const float k = p.size / g->referenceSize;
    path.points.reserve(g->points.size());
    for (const TGlyphPoint& pt : g->points)
      path.points.push_back({p.pen + pt.x * k, pt.y * k, pt.type});
  }
  return path;
}

TOwned<TCachedVectorText> LoadCachedVectorText(TStream& stream, TFontCache& fonts,
                                               const TFontNeededCallback& fontNeeded) {
  stream.SetPosition(0);
  auto text = MakeOwned<TCachedVectorText>(TRef<TFontCache>::Share(&fonts));
  int32_t lines;
  TFontMetrics& m = text->MutableMetrics();
  if (!Get(stream, lines) || !Get(stream, m.ascent) || !Get(stream, m.descent) ||
      !Get(stream, m.underlinePosition) || !Get(stream, m.underlineThickness) ||
      !Get(stream, m.strikeOutPosition) || !Get(stream, m.strikeOutThickness))
    return nullptr;
  if (lines < 0 || int64_t{lines} * 4 > Remaining(stream)) return nullptr;
  text->Lines().resize(static_cast<size_t>(lines));
  for (auto& line : text->Lines()) {
    int32_t glyphs;
    if (!Get(stream, glyphs) || glyphs < 0 || int64_t{glyphs} * 14 > Remaining(stream)) return nullptr;
    line.resize(static_cast<size_t>(glyphs));
    for (TGlyphPointer& g : line) {
      if (!Get(stream, g.pen) || !Get(stream, g.size) || !Get(stream, g.index) ||
          !GetText(stream, g.fontName))
        return nullptr;
      if (!std::isfinite(g.size)) g.size = 0;
      if (fontNeeded) fontNeeded(g.fontName);
    }
  }
  return text;
}

} // namespace kiv

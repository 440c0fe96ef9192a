// Vector text: font descriptors, glyph-cache and cached-text streams, layout and filling, and text from a
// pinned installed font against stored pictures (KIV_UPDATE_GOLDENS=1 rewrites them).

#include "ImagingTestSupport.h"
#include "StoredTextWriter.h"
#include "FontOutlines.h"
#include "StoredGlyphs.h"
#include "ImageFileIO.h"
#include "PngLoader.h"
#include "SharedImageCache.h"
#include "TextRasterizer.h"

#include <atomic>
#include <cstring>
#include <filesystem>
#include <thread>

namespace kiv {
namespace {

TEST(FontDescriptor, StylesAndUnknownWords) {
  struct Case {
    const char16_t* text;
    const char16_t* name;
    int styles;
  } cases[] = {
      {u"Arial", u"Arial", 0},
      {u"Arial:", u"Arial", 0},
      {u"Times New Roman:Bold,Italic", u"Times New Roman", kFontBold | kFontItalic},
      {u"X: Underline,\tStrikeOut", u"X", kFontUnderline | kFontStrikeOut},
      {u"X:Bold,Shadow,Italic", u"X", kFontBold | kFontItalic}, // "Shadow" means nothing: ignored
      {u"X:bold", u"X", 0},
  };
  for (const Case& c : cases) {
    TFontDescriptor d = ParseFontDescriptor(c.text);
    EXPECT_EQ(d.name, c.name);
    EXPECT_EQ(d.styles, c.styles);
  }
}

class TWriter {
public:
  template <class T> TWriter& Put(T v) {
    const auto* p = reinterpret_cast<const uint8_t*>(&v);
    bytes.insert(bytes.end(), p, p + sizeof(T));
    return *this;
  }
  TWriter& Text(const std::u16string& s) {
    Put(int32_t(s.size()));
    for (char16_t c : s)
      Put(uint16_t(c));
    return *this;
  }
  std::vector<uint8_t> bytes;
};

// A glyph cache of one font: glyph 7 is a 10 x 10 square (or side x side) sitting on the baseline, taken
// at size 100.
std::vector<uint8_t> SquareFont(const std::u16string& name, int32_t side = 10) {
  TWriter w;
  w.Put(int32_t(1)).Text(name);
  w.Put(uint16_t(7)).Put(int32_t(0)).Put(side).Put(int32_t(2)).Put(side).Put(int32_t(0));
  w.Put(100.0f).Put(int32_t(4));
  const float s = static_cast<float>(side);
  const float pts[4][2] = {{0, -s}, {s, -s}, {s, 0}, {0, 0}};
  for (int i = 0; i < 4; ++i)
    w.Put(pts[i][0]).Put(pts[i][1]).Put(int32_t(i == 0 ? kPtMoveTo : kPtLineTo));
  return w.bytes;
}

// Lines of glyph 7 at the given pens; size 100 (1:1 with the cache).
std::vector<uint8_t> CachedText(const std::vector<std::vector<std::pair<int32_t, std::u16string>>>& lines) {
  TWriter w;
  w.Put(int32_t(lines.size())).Put(int32_t(12)).Put(int32_t(3)).Put(-2.0f).Put(1.0f).Put(5.0f).Put(1.0f);
  for (const auto& line : lines) {
    w.Put(int32_t(line.size()));
    for (const auto& [pen, font] : line)
      w.Put(pen).Put(100.0f).Put(uint16_t(7)).Text(font);
  }
  return w.bytes;
}

class CachedTextTest : public ::testing::Test {
protected:
  void SetUp() override {
    fonts_->SetKey(u"show-1");
    TMemoryStream font(SquareFont(u"Square"));
    ASSERT_TRUE(fonts_->Load(font));
  }
  TRef<TFontCache> fonts_ = TRef<TFontCache>::Make();
};

TEST_F(CachedTextTest, GlyphCacheStreamIsReadAndDroppedWithAnotherKey) {
  TRef<TGlyphCache> cache = fonts_->Find(u"Square");
  ASSERT_TRUE(cache);
  const TGlyphData* g = cache->Find(7);
  ASSERT_TRUE(g);
  EXPECT_EQ(g->b, 10);
  EXPECT_EQ(g->points.size(), 4u);
  EXPECT_FALSE(cache->Find(8));
  fonts_->SetKey(u"show-1"); // the same key keeps the caches
  EXPECT_EQ(fonts_->Size(), 1);
  fonts_->SetKey(u"show-2");
  EXPECT_EQ(fonts_->Size(), 0);
  EXPECT_FALSE(fonts_->Find(u"Square"));
}

TEST_F(CachedTextTest, AHeldGlyphCacheOutlivesTheKeyChangeThatDropsIt) {
  TRef<TGlyphCache> held = fonts_->Find(u"Square");
  ASSERT_TRUE(held);
  fonts_->SetKey(u"show-2");
  // The next show's font takes the place the dropped cache had in memory, were it freed.
  TMemoryStream next(SquareFont(u"Other"));
  ASSERT_TRUE(fonts_->Load(next));
  EXPECT_EQ(held->FontName(), u"Square");
  const TGlyphData* g = held->Find(7);
  ASSERT_TRUE(g);
  EXPECT_EQ(g->b, 10);
  ASSERT_EQ(g->points.size(), 4u);
  EXPECT_EQ(g->points[1].x, 10.0f);
  EXPECT_FALSE(fonts_->Find(u"Square"));
}

// A drawer reading outlines while the loader changes shows (whose fonts share a name, not their glyphs):
// every outline is one whole square of either show, or nothing.
TEST_F(CachedTextTest, OutlinesStayWholeWhileAnotherThreadChangesTheKey) {
  TMemoryStream stream(CachedText({{{0, u"Square"}, {20, u"Square"}}}));
  TOwned<TCachedVectorText> text = LoadCachedVectorText(stream, *fonts_);
  ASSERT_TRUE(text);
  std::atomic<bool> done{false};
  std::thread loader([&] {
    for (int i = 0; i < 20000; ++i) {
      fonts_->SetKey(i % 2 ? u"show-a" : u"show-b");
      TMemoryStream font(SquareFont(u"Square", i % 2 ? 10 : 20));
      fonts_->Load(font);
    }
    done = true;
  });
  // Counts the glyphs read whole; -1 when one came out broken.
  auto read = [&text] {
    int whole = 0;
    for (int glyph = 0; glyph < 2; ++glyph) {
      const TGlyphPath path = text->GlyphOutline(0, glyph);
      const TGlyphMetrics m = text->GlyphMetrics(0, glyph);
      if (m.present && m.b != 10 && m.b != 20) return -1;
      if (path.points.empty()) continue;
      const float pen = glyph * 20.0f;
      const float side = path.points.size() == 4 ? path.points[1].x - pen : 0;
      const bool square =
          (side == 10 || side == 20) && path.points[0].x == pen && path.points[0].y == -side &&
          path.points[1].y == -side && path.points[2].x == pen + side && path.points[2].y == 0 &&
          path.points[3].x == pen && path.points[3].y == 0 && path.points[0].type == kPtMoveTo &&
          path.points[1].type == kPtLineTo && path.points[3].type == kPtLineTo;
      if (!square) return -1;
      ++whole;
    }
    return whole;
  };
  int broken = 0;
  do {
    if (read() < 0) ++broken;
  } while (!done);
  loader.join();
  EXPECT_EQ(broken, 0);
  EXPECT_EQ(read(), 2); // the last show's font
}

// Two shows whose fonts share a name: each text is drawn from the glyphs of the cache it was loaded for, even
// after the other cache was filled or the text's own cache was let go by its show.
TEST_F(CachedTextTest, TextsDrawFromTheFontCacheTheyWereLoadedFor) {
  auto other = TRef<TFontCache>::Make();
  other->SetKey(u"show-2");
  TMemoryStream font(SquareFont(u"Square", 20));
  ASSERT_TRUE(other->Load(font));
  TMemoryStream first(CachedText({{{0, u"Square"}}})), second(CachedText({{{0, u"Square"}}}));
  TOwned<TCachedVectorText> mine = LoadCachedVectorText(first, *fonts_);
  TOwned<TCachedVectorText> theirs = LoadCachedVectorText(second, *other);
  ASSERT_TRUE(mine && theirs);
  other = nullptr; // the text keeps its cache
  EXPECT_EQ(mine->GlyphMetrics(0, 0).b, 10);
  EXPECT_EQ(theirs->GlyphMetrics(0, 0).b, 20);
  EXPECT_EQ(theirs->GlyphOutline(0, 0).points.size(), 4u);
}

TEST_F(CachedTextTest, BrokenStreamsAreRefused) {
  std::vector<uint8_t> good = SquareFont(u"Other");
  struct Case {
    const char* what;
    std::vector<uint8_t> bytes;
  } cases[] = {
      {"negative glyph count",
       [] {
         TWriter w;
         w.Put(int32_t(-1)).Text(u"A");
         return w.bytes;
       }()},
      {"more glyphs than bytes",
       [] {
         TWriter w;
         w.Put(int32_t(1000000)).Text(u"A");
         return w.bytes;
       }()},
      {"name longer than the stream",
       [] {
         TWriter w;
         w.Put(int32_t(0)).Put(int32_t(0x7FFFFFFF));
         return w.bytes;
       }()},
      {"cut inside the points", std::vector<uint8_t>(good.begin(), good.end() - 5)},
  };
  for (const Case& c : cases) {
    TMemoryStream s(c.bytes);
    EXPECT_FALSE(fonts_->Load(s)) << c.what;
  }
  EXPECT_EQ(fonts_->Size(), 1);
  TWriter text;
  text.Put(int32_t(-3)).Put(int32_t(0)).Put(int32_t(0)).Put(0.f).Put(0.f).Put(0.f).Put(0.f);
  TMemoryStream s(text.bytes);
  EXPECT_FALSE(LoadCachedVectorText(s, *fonts_));
}

TEST_F(CachedTextTest, SquaresFillTheirPixelsExactly) {
  TMemoryStream stream(CachedText({{{0, u"Square"}, {20, u"Square"}}}));
  std::vector<std::u16string> asked;
  TOwned<TCachedVectorText> text =
      LoadCachedVectorText(stream, *fonts_, [&](const std::u16string& f) { asked.push_back(f); });
  ASSERT_TRUE(text);
  EXPECT_EQ(asked, (std::vector<std::u16string>{u"Square", u"Square"}));
  const TLineMetrics m = text->LineMetrics(0);
  EXPECT_EQ(m.advance, 32); // last pen 20 + 0 + 10 + 2
  EXPECT_EQ(m.inkWidth, 32);
  EXPECT_EQ(m.height, 15);

  TTextProducer producer;
  producer.SetText(text.get(), false);
  double ox = 0, oy = 0;
  TOwned<TImage> image = producer.Produce(0x0000FF, 0x0000FF, false, false, 1.0, &ox, &oy);
  ASSERT_TRUE(image);
  TRef<TBitmap> b = image->GetMipLevel(0, TBitmapFormat::None);
  EXPECT_EQ(b->Width(), 32 + 2);
  EXPECT_EQ(b->Height(), 15 + 2); // line spacing 0, one line: exactly one line high plus the margin
  EXPECT_EQ(ox, 1);
  EXPECT_EQ(oy, 13);
  for (int y = 0; y < b->Height(); ++y)
    for (int x = 0; x < b->Width(); ++x) {
      const bool inside = y >= 3 && y < 13 && ((x >= 1 && x < 11) || (x >= 21 && x < 31));
      ASSERT_EQ(b->Pixel32(x, y), inside ? 0xFFFF0000u : 0x00FF0000u) << x << "," << y;
    }
}

TEST_F(CachedTextTest, MissingGlyphCacheKeepsTheGlyphsPlace) {
  TMemoryStream stream(CachedText({{{0, u"Nowhere"}, {20, u"Square"}}, {}}));
  TOwned<TCachedVectorText> text = LoadCachedVectorText(stream, *fonts_);
  ASSERT_TRUE(text);
  TTextProducer producer;
  producer.SetText(text.release(), true);
  producer.SetLineSpacing(100);
  TOwned<TImage> image = producer.Produce(0xFFFFFF, 0x000000, false, false, 1.0);
  ASSERT_TRUE(image);
  TRef<TBitmap> b = image->GetMipLevel(0, TBitmapFormat::None);
  ASSERT_EQ(b->Width(), 34);
  EXPECT_EQ(b->Pixel32(5, 8) >> 24, 0u);     // the missing glyph draws nothing...
  EXPECT_EQ(b->Pixel32(25, 8), 0xFFFFFFFFu); // ...and the next stays at its pen position
  EXPECT_EQ(b->Pixel32(0, 0), 0x00000000u);  // transparent pixels take the second colour
  // Two lines 15 high with half a line between them; the empty line keeps the text's metrics.
  ASSERT_EQ(producer.LineRects().size(), 2u);
  EXPECT_DOUBLE_EQ(producer.LineRects()[1].top - producer.LineRects()[0].top, 15 + 7.5);
}

TEST_F(CachedTextTest, UnderlineAndAlignment) {
  TMemoryStream stream(CachedText({{{0, u"Square"}, {20, u"Square"}}, {{0, u"Square"}}}));
  TOwned<TCachedVectorText> text = LoadCachedVectorText(stream, *fonts_);
  TTextProducer producer;
  producer.SetText(text.get(), false);
  producer.SetAlignment(TTextAlign::Right);
  TOwned<TImage> image = producer.Produce(0xFFFFFF, 0xFFFFFF, false, true, 1.0);
  ASSERT_TRUE(image);
  TRef<TBitmap> b = image->GetMipLevel(0, TBitmapFormat::None);
  // The second line (one square, 12 wide) is pushed right to end where the first line ends.
  EXPECT_EQ(producer.LineRects()[1].right, producer.LineRects()[0].right);
  EXPECT_EQ(b->Pixel32(30, 13 + 15 - 5) >> 24, 255u); // inside the right-aligned square
  EXPECT_EQ(b->Pixel32(5, 13 + 15 - 5) >> 24, 0u);
  // Underline: from 2 units below the baseline, 1 unit thick, as wide as the line's advance.
  EXPECT_EQ(b->Pixel32(15, 15) >> 24, 255u);
  EXPECT_EQ(b->Pixel32(15, 14) >> 24, 0u);
}

// Golden pictures: written as RGBA PNG, compared channel by channel.
bool WriteGolden(const std::string& path, const TBitmap& bitmap) {
  return bitmap.Format() == TBitmapFormat::Pf32bit &&
         WritePngFile(path, bitmap.Width(), bitmap.Height(), reinterpret_cast<const uint32_t*>(bitmap.Row(0)),
                      static_cast<ptrdiff_t>(bitmap.Stride() / 4), true);
}

void ExpectMatchesGolden(const TBitmap& actual, const std::string& name) {
  const std::string path = std::string(KIV_TEST_FIXTURES) + "/../golden/imaging/" + name + ".png";
  if (std::getenv("KIV_UPDATE_GOLDENS")) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    ASSERT_TRUE(WriteGolden(path, actual));
    return;
  }
  TRef<TBitmap> golden = ReadPng(test::FileBytes(path));
  ASSERT_TRUE(golden) << "no golden picture " << path << " (KIV_UPDATE_GOLDENS=1 writes it)";
  TRef<TBitmap> g = ConvertBitmap(*golden, TBitmapFormat::Pf32bit);
  ASSERT_EQ(g->Width(), actual.Width());
  ASSERT_EQ(g->Height(), actual.Height());
  int worst = 0;
  for (size_t i = 0; i < g->Data().size(); ++i)
    worst = std::max(worst, std::abs(int(g->Data()[i]) - int(actual.Data()[i])));
  if (worst > 2) {
    WriteGolden(std::string(KIV_BINARY_DIR) + "/" + name + ".actual.png", actual);
    ADD_FAILURE() << name << ": differs from the golden picture by " << worst
                  << " (actual written to the build folder)";
  }
}

class InstalledFontTest : public ::testing::Test {
protected:
  void SetUp() override {
    SetFontFile(u"Pinned Sans", test::MediaDir() + "/fonts/liberation2/LiberationSans-Regular.ttf");
  }
};

TEST_F(InstalledFontTest, TwoLinesCentredMatchTheGolden) {
  TOwned<TSimpleVectorText> text = MakeVectorText(u"Pinned Sans:Bold", {u"Hello, kiv!", u"Ag\u00e9"});
  ASSERT_TRUE(text);
  EXPECT_EQ(text->LineCount(), 2);
  TTextProducer producer;
  producer.SetText(text.get(), false);
  producer.SetAlignment(TTextAlign::Center);
  producer.SetLineSpacing(50);
  TOwned<TImage> image = producer.Produce(0x2080FF, 0x2080FF, false, true, 24.0 / 2048);
  ASSERT_TRUE(image);
  ExpectMatchesGolden(*image->GetMipLevel(0, TBitmapFormat::None), "text_two_lines_centred");
}

TEST_F(InstalledFontTest, MissingCharactersKeepTheirPlace) {
  // U+4E00 is not in the font: its glyph 0 takes its place, so the 'b' after it starts further right.
  TOwned<TSimpleVectorText> with = MakeVectorText(u"Pinned Sans", {u"a\u4e00b"});
  TOwned<TSimpleVectorText> without = MakeVectorText(u"Pinned Sans", {u"ab"});
  ASSERT_TRUE(with && without);
  ASSERT_EQ(with->GlyphCount(0), 3);
  EXPECT_EQ(with->GlyphMetrics(0, 1).pen, without->GlyphMetrics(0, 1).pen);
  EXPECT_GT(with->GlyphMetrics(0, 2).pen, without->GlyphMetrics(0, 1).pen);
  TTextProducer producer;
  producer.SetText(with.get(), false);
  TOwned<TImage> image = producer.Produce(0xFFFFFF, 0xFFFFFF, false, false, 32.0 / 2048);
  ASSERT_TRUE(image);
  ExpectMatchesGolden(*image->GetMipLevel(0, TBitmapFormat::None), "text_missing_glyph");
}

TEST_F(InstalledFontTest, MetricsComeFromTheFontTables) {
  TOwned<TSimpleVectorText> text = MakeVectorText(u"Pinned Sans", {u"H"});
  ASSERT_TRUE(text);
  // Liberation Sans (read from its tables by hand): win ascent 1854, win descent 434, post underline -67 and
  // 150 thick, strike-out 102 thick at 530.
  EXPECT_EQ(text->Metrics().ascent, 1854);
  EXPECT_EQ(text->Metrics().descent, 434);
  EXPECT_EQ(text->Metrics().underlinePosition, -67.f);
  EXPECT_EQ(text->Metrics().underlineThickness, 150.f);
  EXPECT_EQ(text->Metrics().strikeOutPosition, 530.f);
  EXPECT_EQ(text->Metrics().strikeOutThickness, 102.f);
  const TGlyphPath path = text->GlyphOutline(0, 0);
  ASSERT_FALSE(path.points.empty());
  for (const TGlyphPoint& p : path.points)
    EXPECT_LE(p.y, 0.f); // 'H' stands on the baseline, y down
}

} // namespace
} // namespace kiv

namespace kiv {
namespace {

// A text written as stored glyphs and layout draws exactly as the same text laid out live from the font.
TEST(StoredText, WrittenGlyphsAndLayoutDrawAsTheLiveLayout) {
  const std::string font = test::MediaDir() + "/fonts/go/Go-Regular.ttf";
  const std::vector<std::u16string> lines = {u"Stored glyphs", u"g\u00e9o!"};
  std::string error;
  std::optional<TStoredText> first = MakeStoredText(font, u"", {u"zz"}, error);
  ASSERT_TRUE(first) << error;
  EXPECT_EQ(first->fontName, u"Go");
  TMemoryStream firstCache(first->glyphCache);
  auto firstFonts = TRef<TFontCache>::Make();
  ASSERT_TRUE(firstFonts->Load(firstCache));
  // A second text in the font keeps the first one's glyphs in the cache it writes.
  std::optional<TStoredText> stored =
      MakeStoredText(font, u"Go", lines, error, firstFonts->Find(u"Go")->Glyphs());
  ASSERT_TRUE(stored) << error;

  auto fonts = TRef<TFontCache>::Make();
  TMemoryStream cache(stored->glyphCache);
  ASSERT_TRUE(fonts->Load(cache));
  TMemoryStream layout(stored->layout);
  std::vector<std::u16string> fontsNeeded;
  TOwned<TCachedVectorText> cached =
      LoadCachedVectorText(layout, *fonts, [&](const std::u16string& name) { fontsNeeded.push_back(name); });
  ASSERT_TRUE(cached);
  EXPECT_EQ(fontsNeeded.size(), 17u); // one per glyph
  EXPECT_EQ(fontsNeeded.front(), u"Go");
  SetFontFile(u"Go live", font);
  TOwned<TSimpleVectorText> live = MakeVectorText(u"Go live", lines);
  ASSERT_TRUE(live);

  auto draw = [](TVectorText& text) {
    TTextProducer producer;
    producer.SetText(&text, false);
    producer.SetAlignment(TTextAlign::Center);
    TOwned<TImage> image = producer.Produce(0xFFFFFF, 0xFFFFFF, false, false, 30.0 / 2048);
    return image ? image->GetMipLevel(0, TBitmapFormat::Pf32bit) : nullptr;
  };
  TRef<TBitmap> fromStored = draw(*cached), fromLive = draw(*live);
  ASSERT_TRUE(fromStored && fromLive);
  ASSERT_EQ(fromStored->Width(), fromLive->Width());
  ASSERT_EQ(fromStored->Height(), fromLive->Height());
  int inked = 0;
  for (int y = 0; y < fromLive->Height(); ++y)
    for (int x = 0; x < fromLive->Width(); ++x) {
      ASSERT_EQ(fromStored->Pixel32(x, y), fromLive->Pixel32(x, y)) << x << "," << y;
      inked += (fromLive->Pixel32(x, y) >> 24) > 128;
    }
  EXPECT_GT(inked, 100);
  // The other text's glyph is still in the cache; a file that is no font is refused.
  EXPECT_TRUE(fonts->Find(u"Go")->Find(fonts->Find(u"Go")->Glyphs().front().index));
  EXPECT_FALSE(MakeStoredText(test::MediaDir() + "/SOURCES.md", u"", lines, error));
  EXPECT_NE(error.find("not a scalable font"), std::string::npos);
}

TEST(ErrorPicture, ShowsItsLinesOnAnOpaqueBox) {
  SetFontFile(u"Arial", test::MediaDir() + "/fonts/liberation2/LiberationSans-Regular.ttf");
  TOwned<TImage> image = MakeErrorPicture(ErrorPictureLines(TMediaKind::Image, false, u"C:\\Show\\a.jpg"));
  ASSERT_TRUE(image);
  TRef<TBitmap> b = image->GetMipLevel(0, TBitmapFormat::None);
  EXPECT_GT(b->Width(), b->Height());
  ExpectMatchesGolden(*b, "error_picture");
}

} // namespace
} // namespace kiv

// fontconfig keeps its configuration until the process ends (we never call FcFini: other threads may
// still match fonts at exit); LeakSanitizer would report it. Same list as tests/lsan.supp.
extern "C" const char* __lsan_default_suppressions() {
  return "leak:libfontconfig.so\n";
}

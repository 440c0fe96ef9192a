// kivpack glyphs, driven as an author would: a font file and a text in, the two stored files out.

#include "ImagingTestSupport.h"
#include "StoredGlyphs.h"
#include "TestEnvironment.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <regex>

namespace kiv {
namespace {

namespace fs = std::filesystem;

struct TRun {
  int code = -1;
  std::string out;
};

TRun Glyphs(const std::string& args) {
  TRun run;
  run.out = kivtest::CommandOutput(std::string(KIVPACK_PATH) + " glyphs " + args + " 2>/dev/null", run.code);
  return run;
}

TEST(GlyphsCommand, WritesTheFontsGlyphsAndTheTextsLayout) {
  const fs::path dir = kivtest::FreshTempDir("glyphs");
  const std::string font = test::MediaDir() + "/fonts/go/Go-Regular.ttf";
  const TRun first = Glyphs("'" + font + "' 'Hi' -o '" + dir.string() + "'");
  ASSERT_EQ(first.code, 0);
  std::smatch m;
  const std::regex printed("font: Go\nlayout: (\\{[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}\\})\n");
  ASSERT_TRUE(std::regex_match(first.out, m, printed)) << first.out;
  EXPECT_TRUE(fs::exists(dir / m[1].str()));
  const fs::path cache = dir / "VectTextCache: Go";
  ASSERT_TRUE(fs::exists(cache));

  // A second text in the same font under another name; then one more in "Go" keeps the glyphs of "Hi".
  const TRun named = Glyphs("'" + font + "' 'Hi' -o '" + dir.string() + "' -name 'Brand Font'");
  EXPECT_EQ(named.out.rfind("font: Brand Font\n", 0), 0u) << named.out;
  EXPECT_TRUE(fs::exists(dir / "VectTextCache: Brand Font"));
  ASSERT_EQ(Glyphs("'" + font + "' 'ox' -o '" + dir.string() + "'").code, 0);
  auto fonts = TRef<TFontCache>::Make();
  TFileStream stream(cache.string(), TFileMode::OpenRead);
  ASSERT_TRUE(fonts->Load(stream));
  const auto go = fonts->Find(u"Go");
  ASSERT_TRUE(go);
  EXPECT_EQ(go->Glyphs().size(), 4u); // H, i, o, x
}

TEST(GlyphsCommand, RefusesWhatIsNoFontAndBadArguments) {
  const fs::path dir = kivtest::FreshTempDir("glyphs");
  EXPECT_EQ(Glyphs("'" + test::MediaDir() + "/SOURCES.md' 'Hi' -o '" + dir.string() + "'").code, 2);
  EXPECT_TRUE(fs::is_empty(dir));
  EXPECT_EQ(Glyphs("'Hi' -o '" + dir.string() + "'").code, 1);
  EXPECT_EQ(Glyphs("font.ttf 'Hi'").code, 1);
}

} // namespace
} // namespace kiv

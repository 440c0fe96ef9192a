// A text drawn from the glyphs and layout its show carries (written by kivpack glyphs), through
// kivviewer -render: in a font the machine does not know it keeps its own shapes, and without its layout
// file it falls back to a layout from the installed fonts.

#include "GoldenImage.h"
#include "GLContext.h"
#include "ShowTestSupport.h"
#include "TestEnvironment.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>

namespace kiv {
namespace {

namespace fs = std::filesystem;

// One 240 x 80 slide, black, with one white text filling it.
std::string Project(const std::string& layout) {
  return "\xEF\xBB\xBF[main]\r\nKivVersion=stored text\r\nopt_exefn=text.exe\r\nopt_scr_width=240\r\n"
         "opt_scr_height=80\r\nopt_slidescount=1\r\nopt_synchpos1=2000\r\n"
         "[Slide1]\r\n"
         "object Words: Text\r\n  Text=Rag 42\r\n  FontName=Kiv Stencil\r\n  TextColor=255,255,255\r\n"
         "  BlackBoxSize=240,80\r\n  ShadowEnable=0\r\n" +
         (layout.empty() ? std::string() : "  RasterizedGUID=" + layout + "\r\n") +
         "  object : KeyPoint\r\n    ScaleX=100\r\n    ScaleY=100\r\n  end\r\nend\r\n";
}

class StoredText : public ::testing::Test {
protected:
  void SetUp() override {
    std::string whyNot;
    if (!HeadlessGLAvailable(&whyNot)) GTEST_SKIP() << "no headless EGL display, GL tests skipped: " << whyNot;
    root_ = kivtest::FreshTempDir("stored_text");
    fs::create_directories(root_ / "show");
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(root_, ignored);
  }

  // Packs the show folder with the project and renders it; the frame read back.
  TDevBitmap Render(const std::string& layout) {
    std::ofstream(root_ / "show" / "Project.kiv", std::ios::binary) << Project(layout);
    const std::string show = (root_ / "text.KvShow").string();
    fs::remove(show);
    EXPECT_TRUE(testing_support::PackShow(root_ / "show", show));
    const std::string png = (root_ / "frame.png").string();
    int code = -1;
    kivtest::CommandOutput("env -u DISPLAY -u WAYLAND_DISPLAY '" KIVVIEWER_PATH "' -render '" + png + "' -time 500 '" + show +
               "' 2>&1",
           code);
    EXPECT_EQ(code, 0);
    TDevBitmap frame;
    EXPECT_TRUE(test::ReadPng(png, frame));
    return frame;
  }

  fs::path root_;
};

// Sum of the differences of the green channel.
long Difference(const TDevBitmap& a, const TDevBitmap& b) {
  long sum = 0;
  for (int y = 0; y < a.Height(); ++y)
    for (int x = 0; x < a.Width(); ++x)
      sum += std::abs(int(a.Pixel32(x, y) >> 8 & 0xFF) - int(b.Pixel32(x, y) >> 8 & 0xFF));
  return sum;
}

TEST_F(StoredText, DrawsFromTheShowsOwnGlyphsAndFallsBackWithoutThem) {
  int code = -1;
  // The Go font under a name no installed font has: only the show's glyphs give its shapes.
  const std::string printed = kivtest::CommandOutput("'" KIVPACK_PATH "' glyphs '" + std::string(KIV_TEST_MEDIA) +
                                         "/fonts/go/Go-Regular.ttf' 'Rag 42' -o '" + (root_ / "show").string() +
                                         "' -name 'Kiv Stencil'",
                                     code);
  ASSERT_EQ(code, 0) << printed;
  std::smatch m;
  ASSERT_TRUE(std::regex_search(printed, m, std::regex("layout: (\\{[0-9A-F-]+\\})")));
  const std::string layout = m[1].str();

  const TDevBitmap stored = Render(layout);
  ASSERT_EQ(stored.Width(), 240);
  EXPECT_TRUE(test::MatchesGolden(stored, "show_stored_text", 8));

  // Without the layout file the text is laid out from the installed fonts, as with no layout at all.
  fs::remove(root_ / "show" / layout);
  const TDevBitmap fallback = Render(layout);
  const TDevBitmap live = Render("");
  EXPECT_EQ(Difference(fallback, live), 0);
  // The substitute font's shapes are not the stored ones.
  EXPECT_GT(Difference(stored, live), 255L * 200);
}

} // namespace
} // namespace kiv

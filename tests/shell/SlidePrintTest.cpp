// `kivviewer -print` on a packed show: one A4 page titled "Slideshow" holding the drawn slide, or the
// slide's main picture with -main-image, turned by the picture's shape; bad slide numbers write nothing.
// The print dialog's image callback over the same show: the main picture's file, converted to BMP.

#include "ImageFileIO.h"
#include "OpenedShow.h"
#include "PrintDialog.h"
#include "ShowTestSupport.h"
#include "TestEnvironment.h"

#include <gtest/gtest.h>

#include <regex>

namespace kiv {
namespace {

namespace fs = std::filesystem;
using namespace testing_support;

// 320 x 240; the first slide's main picture is a 60 x 120 packed PNG (portrait), drawn on the slide.
constexpr const char* kProject = "[main]\nopt_scr_width=320\nopt_scr_height=240\nopt_slidescount=2\n"
                                 "opt_synchpos1=1000\nopt_synchpos2=2000\n"
                                 "[Slide1]\npicture=tall.png\nobject p: Image\n  ImageName=tall.png\nend\n"
                                 "[Slide2]\n";

class SlidePrint : public ::testing::Test {
protected:
  static void SetUpTestSuite() {
    root_ = kivtest::FreshTempDir("slide_print");
    fs::create_directories(root_ / "show");
    WriteProjectText(root_ / "show" / "Project.kiv", kProject);
    std::vector<uint32_t> pixels(60 * 120, 0xFFC03020);
    packed_ = WritePngFile((root_ / "show" / "tall.png").string(), 60, 120, pixels.data(), 60, false) &&
              PackShow(root_ / "show", Show());
  }
  static std::string Show() { return (root_ / "print.KvShow").string(); }
  void SetUp() override {
    std::string whyNot;
    if (!HeadlessGLAvailable(&whyNot)) GTEST_SKIP() << "no headless EGL display to draw the slides: " << whyNot;
    ASSERT_TRUE(packed_);
    int code = -1;
    kivtest::CommandOutput("command -v pdfinfo", code);
    if (code != 0) GTEST_SKIP() << "pdfinfo (poppler-utils) is needed to read the pages (scripts/setup.sh installs it)";
  }

  static std::string Print(const std::string& pdf, const std::string& args, int& code) {
    return kivtest::CommandOutput("env -u DISPLAY '" KIVVIEWER_PATH "' -print '" + pdf + "' " + args + " '" + Show() +
                                      "' 2>&1",
                                  code);
  }

  static inline fs::path root_;
  static inline bool packed_ = false;
};

TEST_F(SlidePrint, OnePageOfTheSlideOrItsMainPictureTurnedByItsShape) {
  const struct {
    const char* args;
    const char* printed;
    const char* pageSize;
  } cases[] = {
      {"", "slide 1, 320 x 240, landscape", "841.89 x 595.276 pts (A4)"},
      {"-main-image", "slide 1, 60 x 120, portrait", "595.276 x 841.89 pts (A4)"},
      // The second slide has no main picture: the drawn slide is printed.
      {"-slide 2 -main-image", "slide 2, 320 x 240, landscape", "841.89 x 595.276 pts (A4)"},
      {"-time 1500", "slide 2, 320 x 240, landscape", "841.89 x 595.276 pts (A4)"},
  };
  for (const auto& c : cases) {
    const std::string pdf = (root_ / "page.pdf").string();
    fs::remove(pdf);
    int code = -1;
    const std::string out = Print(pdf, c.args, code);
    ASSERT_EQ(code, 0) << c.args << ": " << out;
    EXPECT_EQ(out, "printed: " + pdf + " (" + c.printed + ")\n") << c.args;
    const std::string info = kivtest::CommandOutput("pdfinfo '" + pdf + "'", code);
    ASSERT_EQ(code, 0) << info;
    EXPECT_TRUE(std::regex_search(info, std::regex("\nPages: +1\n"))) << info;
    EXPECT_TRUE(std::regex_search(info, std::regex("(^|\n)Title: +Slideshow\n"))) << info;
    EXPECT_NE(info.find(c.pageSize), std::string::npos) << c.args << "\n" << info;
  }
}

TEST_F(SlidePrint, ASlidePastTheEndWritesNothing) {
  const std::string pdf = (root_ / "none.pdf").string();
  int code = -1;
  const std::string out = Print(pdf, "-slide 3", code);
  EXPECT_EQ(code, 1);
  EXPECT_EQ(out, "kivviewer: the show has 2 slides, not 3\n");
  EXPECT_FALSE(fs::exists(pdf));
}

TEST_F(SlidePrint, TheMainFileOfAPackedPictureIsSavedAsBmpUnderItsName) {
  std::string message;
  std::unique_ptr<TKivShowLocator> locator = OpenPackedShow(Show(), message);
  ASSERT_TRUE(locator) << message;
  const TCallBackClass callback(*locator, nullptr, 0);
  TImageRequest request;
  request.mode = kImageMainFile;
  ASSERT_TRUE(callback(request));
  EXPECT_EQ(request.fileName, u"tall.bmp");
  EXPECT_EQ(request.slideIndex, 0);
  ASSERT_EQ(request.bytes.size(), 54u + 120 * (60 * 3)) << "a 24-bit BMP of the picture";
  EXPECT_EQ(request.bytes[54], 0x20);
  EXPECT_EQ(request.bytes[56], 0xC0);

  TImageRequest picture;
  picture.mode = kImageMainPicture;
  ASSERT_TRUE(callback(picture));
  EXPECT_EQ(picture.bitmap->Width(), 60);
  const TCallBackClass noSlide(*locator, nullptr, -1);
  TImageRequest none;
  none.mode = kImageMainFile;
  EXPECT_FALSE(noSlide(none));
}

} // namespace
} // namespace kiv

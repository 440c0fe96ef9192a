// The logo and the navigation panel drawn over a slide through the show pipeline, as -render draws them:
// compared with a stored golden picture, and probed where their places follow from the keys alone.
#include "CacheImageDecoder.h"
#include "GLContext.h"
#include "GoldenImage.h"
#include "OffscreenFrame.h"
#include "OpenedShow.h"
#include "ShowTestSupport.h"
#include "ShowTimeline.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>

namespace kiv {
namespace {

namespace fs = std::filesystem;

using namespace testing_support;

constexpr TRgb kSlate{30, 40, 60}, kPlateLeft{160, 100, 40}, kPlateMiddle{60, 90, 130},
    kPlateRight{40, 140, 70}, kBack{50, 50, 50}, kHome{224, 32, 32}, kPause{32, 224, 32}, kExit{32, 32, 224},
    kLogoLeft{250, 200, 0}, kLogoRight{0, 200, 250};

// A 320 x 240 show of one slate slide. The logo, 64 x 32 (yellow left half, blue right half), sits at
// the right top at 20 percent of the frame's height, inset by 5 percent: 96 x 48 at (216, 6). The panel
// (home, pause, exit on a 66 x 20 bar with its background shown) is 15 percent of the window's height,
// at the bottom, inset by 5 percent: 119 x 36 at (100, 198).
constexpr const char* kProject = R"([main]
KivVersion=overlay golden test
opt_exefn=overlay.exe
opt_scr_width=320
opt_scr_height=240
opt_slidescount=1
opt_synchpos1=1000
opt_logo=1
opt_logo_fn=pictures\logo.bmp
opt_logo_pos=6
opt_logo_size=20
opt_logo_offset=5
opt_fcp=1
opt_nav_inifile=nav\skin.ini
opt_nav_showbg=1
opt_nav_viewscale=15
opt_nav_offset=5
opt_cp=Bottom
opt_newnavbuttons_count=3
opt_newnavbutton1=home
opt_newnavbutton2=pause
opt_newnavbutton3=exit
opt_hidenavbar=1
opt_nav_hideonstartup=1
[Slide1]
UsePersonal=1
Pers_Fon=1
bstyle=1
bname=3942430
)";

// Three cells (caps of 6 and a tiled middle), buttons of 14 x 14 on a dark background with a 10 x 10
// picture each; pictures cut from strips.
constexpr const char* kSkin = R"([Common]
ColsCount=3
RowsCount=1
[CellWithObjects]
Cell=2,1
LeftOffset=4
TopOffset=3
RightOffset=4
BottomOffset=3
[Cell(1:1)]
Bounds=0,0,6,16
flnm_Texture=plate.bmp
[Cell(2:1)]
TextureType=repeat
Bounds=6,0,4,16
flnm_Texture=plate.bmp
[Cell(3:1)]
Bounds=10,0,6,16
flnm_Texture=plate.bmp
[Objects]
Count=3
[Object1]
Space=2
[Object2]
Space=2
[ACTION-home]
BtnTextureNormalBounds=0,0,10,10
flnm_BtnTextureNormal=icons.bmp
BgTextureNormalBounds=0,0,14,14
flnm_BgTextureNormal=back.bmp
[ACTION-pause]
BtnTextureNormalBounds=10,0,10,10
flnm_BtnTextureNormal=icons.bmp
BgTextureNormalBounds=0,0,14,14
flnm_BgTextureNormal=back.bmp
[ACTION-exit]
BtnTextureNormalBounds=20,0,10,10
flnm_BtnTextureNormal=icons.bmp
BgTextureNormalBounds=0,0,14,14
flnm_BgTextureNormal=back.bmp
)";

class OverlayGolden : public TShowFrameTest {
protected:
  static void SetUpTestSuite() {
    InstallImageDecoder();
    root_ = fs::temp_directory_path() / ("kiv_overlay_golden_" + std::to_string(::getpid()));
    fs::remove_all(root_);
    const fs::path show = root_ / "show";
    fs::create_directories(show / "pictures");
    fs::create_directories(show / "nav");
    WriteProjectText(show / "Project.kiv", kProject);
    WriteProjectText(show / "nav" / "skin.ini", kSkin);
    WriteBmp(show / "pictures" / "logo.bmp", 64, 32,
             [](int x, int) { return x < 32 ? kLogoLeft : kLogoRight; });
    WriteBmp(show / "nav" / "plate.bmp", 16, 16, [](int x, int) {
      return x < 6 ? kPlateLeft : x < 10 ? kPlateMiddle : kPlateRight;
    });
    WriteBmp(show / "nav" / "back.bmp", 14, 14, [](int, int) { return kBack; });
    WriteBmp(show / "nav" / "icons.bmp", 30, 10, [](int x, int) {
      return x < 10 ? kHome : x < 20 ? kPause : kExit;
    });
    packed_ = PackShow(show, Show());
  }
  static void TearDownTestSuite() { fs::remove_all(root_); }

  void SetUp() override {
    OpenShow(Show(), packed_);
    if (IsSkipped() || HasFatalFailure()) return;
    std::string whyNot;
    renderer_ = TFrameRenderer::Create(Options(*locator_), {320, 240}, &whyNot);
    ASSERT_TRUE(renderer_) << whyNot;
  }
  static std::string Show() { return (root_ / "overlay.KvShow").string(); }

  static inline fs::path root_;
  static inline bool packed_ = false;
};

// Although the show hides its panel at start-up, a still picture shows it.
TEST_F(OverlayGolden, LogoAndPanelLieWhereTheirKeysPutThem) {
  const std::optional<TDevBitmap> frame = renderer_->Render(500);
  ASSERT_TRUE(frame);
  const struct {
    int x, y;
    TRgb color;
    const char* what;
  } cases[] = {
      {20, 20, kSlate, "the slide"},
      {160, 190, kSlate, "just above the panel"},
      {240, 30, kLogoLeft, "logo, left half"},
      {290, 30, kLogoRight, "logo, right half"},
      {210, 30, kSlate, "left of the logo"},
      {264, 60, kSlate, "below the logo"},
      {103, 216, kPlateLeft, "panel, left cap"},
      {216, 216, kPlateRight, "panel, right cap"},
      {112, 216, kPlateMiddle, "panel, margin before the buttons"},
      {130, 216, kHome, "home button"},
      {159, 216, kPause, "pause button"},
      {188, 216, kExit, "exit button"},
      {120, 205, kBack, "home button's background, top left"},
      {98, 216, kSlate, "left of the panel"},
      {160, 237, kSlate, "below the panel"},
  };
  for (const auto& c : cases) {
    const TRgb got = PixelRgb(*frame, c.x, c.y);
    EXPECT_TRUE(std::abs(got.r - c.color.r) <= 24 && std::abs(got.g - c.color.g) <= 24 &&
                std::abs(got.b - c.color.b) <= 24)
        << c.what << ": pixel (" << c.x << ", " << c.y << ") is " << got.r << "," << got.g << "," << got.b
        << ", wanted " << c.color.r << "," << c.color.g << "," << c.color.b;
  }
}

TEST_F(OverlayGolden, LogoAndPanelOverTheSlideMatchTheGolden) {
  const std::optional<TDevBitmap> frame = renderer_->Render(500);
  ASSERT_TRUE(frame);
  EXPECT_TRUE(test::MatchesGolden(*frame, "show_overlay_logo_and_panel"));
}

} // namespace
} // namespace kiv

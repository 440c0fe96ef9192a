// The video-style navigation bar drawn over a slide through the show pipeline, as -render draws it:
// compared with a stored golden picture, and probed where its parts follow from the skin's keys.
#include "CacheImageDecoder.h"
#include "GLContext.h"
#include "GoldenImage.h"
#include "OffscreenFrame.h"
#include "OpenedShow.h"
#include "ShowTestSupport.h"
#include "ShowTimeline.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <unistd.h>

namespace kiv {
namespace {

namespace fs = std::filesystem;

using namespace testing_support;

constexpr TRgb kSlate{30, 40, 60}, kBack{40, 44, 52}, kLine{128, 144, 160}, kKnob{240, 224, 0};

// Strip cells of 16 x 16: red tells the cell, green the state.
TRgb CellColor(int state, int cell) {
  return {40 + 30 * cell, 60 + 80 * state, 16};
}

// A 320 x 240 show of one slate slide of 75 s under the video bar with a forward button. At scale 1 the
// bar is 320 x 20 on the bottom edge (y 220 .. 240): play/pause at 4, forward at 20, the track 42 .. 180
// (the knob's centre travels 130 pixels from 46), the digits up to 252, the sound button at 256, the
// volume track 276 .. 316. The exit button, 20 x 20, in the top-right corner.
constexpr const char* kProject = R"([main]
KivVersion=video bar golden test
opt_exefn=videobar.exe
opt_scr_width=320
opt_scr_height=240
opt_slidescount=1
opt_synchpos1=75000
opt_fcp=1
opt_nav_inifile=nav\video.ini
opt_newnavbuttons_count=1
opt_newnavbutton1=forward
opt_hidenavbar=1
opt_nav_hideonstartup=1
[Slide1]
UsePersonal=1
Pers_Fon=1
bstyle=1
bname=3942430
)";

constexpr const char* kSkin = R"([Common]
VideoStyle=1
BgLeft=2
BgRight=2
flnm_back=back.bmp
[Pixel positions]
BarSize=320,20
TrackHeight=4
BtnSize=16,16
DigitSize=6,10
VolumeControlLength=40
LeftSpace=4
ButtonsTrackSpace=6
TrackDigitsSpace=4
DigitsSoundBtnSpace=4
SoundBtnTrackSpace=4
RightSpace=4
[Trackbar]
flnm_Line=line.bmp
flnm_Polzun=knob.bmp
[Buttons]
flnm_Normal=normal.bmp
flnm_Hover=hover.bmp
flnm_Click=click.bmp
)";

class VideoBarGolden : public TShowFrameTest {
protected:
  static void SetUpTestSuite() {
    InstallImageDecoder();
    root_ = fs::temp_directory_path() / ("kiv_videobar_golden_" + std::to_string(::getpid()));
    fs::remove_all(root_);
    const fs::path show = root_ / "show";
    fs::create_directories(show / "nav");
    WriteProjectText(show / "Project.kiv", kProject);
    WriteProjectText(show / "nav" / "video.ini", kSkin);
    WriteBmp(show / "nav" / "back.bmp", 10, 20, [](int, int) { return kBack; });
    WriteBmp(show / "nav" / "line.bmp", 6, 4, [](int, int) { return kLine; });
    WriteBmp(show / "nav" / "knob.bmp", 8, 12, [](int, int) { return kKnob; });
    const char* strips[3] = {"normal.bmp", "hover.bmp", "click.bmp"};
    for (int state = 0; state < 3; ++state)
      WriteBmp(show / "nav" / strips[state], 7 * 16, 16,
               [state](int x, int) { return CellColor(state, x / 16); });
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
  static std::string Show() { return (root_ / "videobar.KvShow").string(); }

  static inline fs::path root_;
  static inline bool packed_ = false;
};

bool Near(TRgb got, TRgb wanted) {
  return std::abs(got.r - wanted.r) <= 24 && std::abs(got.g - wanted.g) <= 24 &&
         std::abs(got.b - wanted.b) <= 24;
}

// Although the show hides its panel at start-up, a still picture shows it; at 30 s of 75 the knob's
// centre stands at 46 + 130 x 0.4 = 98.
TEST_F(VideoBarGolden, PartsLieWhereTheSkinPutsThem) {
  const std::optional<TDevBitmap> frame = renderer_->Render(30000);
  ASSERT_TRUE(frame);
  const struct {
    int x, y;
    TRgb color;
    const char* what;
  } cases[] = {
      {160, 100, kSlate, "the slide"},
      {160, 217, kSlate, "just above the bar"},
      {1, 222, kBack, "the bar's background"},
      {28, 230, CellColor(0, 5), "the forward button"},
      {98, 230, kKnob, "the time knob"},
      {60, 230, kLine, "the time track"},
      {120, 230, kLine, "the time track after the knob"},
      {150, 222, kBack, "above the track"},
      {296, 222, kBack, "above the volume track"},
      {310, 10, CellColor(0, 6), "the exit button"},
      {290, 30, kSlate, "below the exit button"},
  };
  for (const auto& c : cases) {
    const TRgb got = PixelRgb(*frame, c.x, c.y);
    EXPECT_TRUE(Near(got, c.color)) << c.what << ": pixel (" << c.x << ", " << c.y << ") is " << got.r << ","
                                    << got.g << "," << got.b << ", wanted " << c.color.r << "," << c.color.g
                                    << "," << c.color.b;
  }
  // The play/pause button shows one of its two cells, the sound button one of its two.
  const TRgb play = PixelRgb(*frame, 12, 230), sound = PixelRgb(*frame, 264, 230);
  EXPECT_TRUE(Near(play, CellColor(0, 0)) || Near(play, CellColor(0, 1)));
  EXPECT_TRUE(Near(sound, CellColor(0, 2)) || Near(sound, CellColor(0, 3)));
  // The digits are white glyphs between the track and the sound button.
  int white = 0;
  for (int y = 222; y < 238; ++y)
    for (int x = 184; x < 252; ++x)
      if (const TRgb p = PixelRgb(*frame, x, y); p.r > 200 && p.g > 200 && p.b > 200) ++white;
  EXPECT_GT(white, 20) << "no time digits";
}

TEST_F(VideoBarGolden, BarOverTheSlideMatchesTheGolden) {
  const std::optional<TDevBitmap> frame = renderer_->Render(30000);
  ASSERT_TRUE(frame);
  EXPECT_TRUE(test::MatchesGolden(*frame, "show_video_navigation_bar"));
}

} // namespace
} // namespace kiv

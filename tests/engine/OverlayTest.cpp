// The overlay: the logo's place and size, the panel's fades under a manual clock, the stack of dialog
// pages with their fades and pause flag, the order of drawing and the order of hit tests.
#include "Overlay.h"
#include "../model/RecordingDrawer.h"
#include "ContentObjects.h"
#include "InputMapping.h"
#include "OverlayTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace kiv {
namespace {

using namespace testing_support;

// An 800 x 600 show with three dialog pages: "help" pauses the show and has a closing box in the middle
// (300..500 x 250..350), "about" does not pause and has a box sending the show on near the top
// (300..500 x 100..200), "notes" pauses and is empty.
constexpr const char* kShowKeys = "[main]\nopt_scr_width=800\nopt_scr_height=600\nopt_slidescount=1\n"
                                  "opt_synchpos1=1000\n";
constexpr const char* kPages = R"([Slide1]
[dialog_help]
DialogPause=1
object Close: Box
  Size=200,100
  Action=closedialog
  object : KeyPoint
    ScaleX=25
    ScaleY=25
  end
end
[dialog_about]
object Next: Box
  Size=200,100
  Action=nextslide
  object : KeyPoint
    ScaleX=25
    ScaleY=25
    Position=0,-50
  end
end
[dialog_notes]
DialogPause=1
)";

// The panel of home, pause and exit at the bottom of the window: 198 x 60 at (301, 540), three times
// the bar's size.
constexpr const char* kPanelKeys =
    "opt_fcp=1\nopt_nav_inifile=nav\\skin.ini\nopt_cp=Bottom\n"
    "opt_newnavbuttons_count=3\nopt_newnavbutton1=home\nopt_newnavbutton2=pause\n"
    "opt_newnavbutton3=exit\n";
constexpr std::pair<int, int> kHomeButton{349, 568}, kPauseButton{397, 568};

struct TOverlayFixture {
  explicit TOverlayFixture(const std::string& mainKeys = "", TRect display = {0, 0, 800, 600},
                           TSize area = {800, 600}, TRef<TBitmap> logo = nullptr) {
    RegisterContentKinds();
    AddTestSkin(files);
    if (logo) files.pictures[u"logo.png"] = logo;
    source = MakeOwned<TKivSource>(
        TRef<TFileAccessor>::Make(TRef<TFileSource>(TRef<TRealFileSource>::Make()), "/tmp/"),
        IniText(std::string(kShowKeys) + mainKeys + kPages));
    producer = MakeOwned<TSlideProducer>(source.get(), false);
    producer->SetScreen({800, 600}, false, 100, 100);
    TThirdSlideParams params;
    params.displayRect = display;
    params.areaSize = area;
    params.fillOutside = [this](TDeviceDrawer&) { fills.push_back(drawer.imageCount); };
    params.callbacks.isPlaying = [] { return true; };
    params.clock = &clock;
    params.files = files.Files();
    overlay = MakeOwned<TThirdSlide>(*source->MainSection(), std::move(params));
  }
  ~TOverlayFixture() {
    overlay.reset(); // the pages before the producer whose host they share
  }
  void Open(std::u16string_view name) { overlay->OpenDialog(producer->BuildDialog(name)); }
  void Draw() { overlay->Draw(drawer); }
  // Draws, then lets the clock run ms with a pass every 10 ms.
  void Run(int64_t ms) {
    Draw();
    for (int64_t t = 0; t < ms; t += 10) {
      clock.AdvanceMs(std::min<int64_t>(10, ms - t));
      overlay->SetTime(0);
    }
  }
  TOverlayHit Mouse(uint8_t event, std::pair<int, int> at, int32_t button = kMouseButtonNone) {
    return overlay->HitTest(0, at.first, event, button, at.second);
  }
  TOverlayHit Click(std::pair<int, int> at) {
    Mouse(kMouseDown, at, kMouseButtonLeft);
    return Mouse(kMouseUp, at, kMouseButtonLeft);
  }
  float PanelOpacity() const { return overlay->Sprites()[overlay->PanelSprite()].params.opacity; }

  TMemoryFiles files;
  TManualClock clock;
  TOwned<TKivSource> source;
  TOwned<TSlideProducer> producer;
  TRecordingDrawer drawer;
  std::vector<size_t> fills; // images drawn before each fill of the bands
  TOwned<TThirdSlide> overlay;
};

std::string LogoKeys(int position, double offset, double size, double opacity = 100) {
  return "opt_logo=1\nopt_logo_fn=logo.png\nopt_logo_pos=" + std::to_string(position) +
         "\nopt_logo_offset=" + std::to_string(offset) + "\nopt_logo_size=" + std::to_string(size) +
         "\nopt_logo_opacity=" + std::to_string(opacity) + "\n";
}

// Position 7, offset 20, size 30 in an 800 x 600 frame at (100, 50) of a 1000 x 700 window: 30 percent of
// the frame's height (180), in the bottom right corner, 20 percent of the half frame (80 and 60 pixels)
// from its edges; the width follows the picture's 2:1 shape times the frame's share of the window's width
// (0.8): 288.
TEST(Overlay, TheLogoSitsInItsCornerAtItsShareOfTheFrameHeight) {
  TOverlayFixture f(LogoKeys(7, 20, 30, 70), {100, 50, 900, 650}, {1000, 700}, Solid(200, 100, 0xFF00FF00));
  ASSERT_EQ(f.overlay->LogoSprite(), 0);
  const TOverlaySprite& logo = f.overlay->Sprites()[0];
  EXPECT_EQ(logo.placed, (TRect{900 - 80 - 288, 650 - 60 - 180, 900 - 80, 650 - 60}));
  EXPECT_FLOAT_EQ(logo.params.opacity, 70);
  EXPECT_EQ(logo.image->Bitmap().Width(), 200); // not large enough to be shrunk
  EXPECT_EQ(logo.image->Bitmap().Pixel32(10, 10), 0xFF00FF00u);
  EXPECT_EQ(f.overlay->PanelSprite(), -1);
}

TEST(Overlay, TheLogoPictureIsHalvedWhileItIsTwiceItsDrawnSize) {
  const struct {
    int width, height;
    double size; // percent of the 600-pixel frame
    int textureWidth, textureHeight;
  } cases[] = {
      // Drawn 120 x 60: halved while at least 240 x 120.
      {2000, 1000, 10, 125, 63},
      {239, 119, 10, 239, 119},
      {240, 120, 10, 120, 60},
      // Drawn far below a pixel: a single pixel halves to itself, and halving stops there.
      {1, 1, 0.0001, 1, 1},
      {3, 1, 0.0001, 1, 1},
  };
  for (const auto& c : cases) {
    TOverlayFixture f(LogoKeys(5, 0, c.size), {0, 0, 800, 600}, {800, 600},
                      Solid(c.width, c.height, 0xFF102030));
    ASSERT_EQ(f.overlay->LogoSprite(), 0) << c.width << "x" << c.height;
    const TDevBitmap& texture = f.overlay->Sprites()[0].image->Bitmap();
    EXPECT_EQ(texture.Width(), c.textureWidth) << c.width << "x" << c.height;
    EXPECT_EQ(texture.Height(), c.textureHeight) << c.width << "x" << c.height;
    EXPECT_EQ(texture.Pixel32(0, 0), 0xFF102030u);
  }
}

TEST(Overlay, NoLogoWithoutItsSwitchItsPictureOrAFrame) {
  const struct {
    const char* what;
    std::string keys;
    TRect display;
    bool picture;
  } cases[] = {
      {"switched off", "opt_logo=0\nopt_logo_fn=logo.png\n", {0, 0, 800, 600}, true},
      {"no file named", "opt_logo=1\n", {0, 0, 800, 600}, true},
      {"the picture is missing", LogoKeys(0, 0, 10), {0, 0, 800, 600}, false},
      {"a frame without height", LogoKeys(0, 0, 10), {0, 300, 800, 300}, true},
      {"a size of 0", LogoKeys(0, 0, 0), {0, 0, 800, 600}, true},
  };
  for (const auto& c : cases) {
    TOverlayFixture f(c.keys, c.display, {800, 600}, c.picture ? Solid(20, 10, 0xFFFFFFFF) : nullptr);
    EXPECT_EQ(f.overlay->LogoSprite(), -1) << c.what;
    EXPECT_TRUE(f.overlay->Sprites().empty()) << c.what;
  }
}

// Pages, then the logo, then the bands outside the frame, then the panel (which may lie outside the
// frame); without the panel the bands come last.
TEST(Overlay, DrawsPagesLogoBandsAndPanelInThatOrder) {
  TOverlayFixture f(LogoKeys(6, 0, 10) + kPanelKeys, {0, 0, 800, 600}, {800, 600}, Solid(20, 10, 0xFFFFFFFF));
  ASSERT_EQ(f.overlay->LogoSprite(), 0);
  ASSERT_EQ(f.overlay->PanelSprite(), 1);
  f.Open(u"about");
  EXPECT_TRUE(f.overlay->IsChanged());
  f.Draw();
  EXPECT_FALSE(f.overlay->IsChanged());
  // The page was drawn (its background and its box), then the two sprites with the fill between them.
  EXPECT_EQ(f.drawer.boxes.size(), 2u);
  ASSERT_EQ(f.drawer.images.size(), 2u);
  EXPECT_EQ(f.drawer.images[0].image, f.overlay->Sprites()[0].image.get());
  EXPECT_EQ(f.drawer.images[1].image, f.overlay->Sprites()[1].image.get());
  EXPECT_EQ(f.fills, std::vector<size_t>{1});
  // The panel's sprite stretches its bar over its place.
  const auto& panel = f.drawer.images[1];
  EXPECT_FLOAT_EQ(panel.placement.x, 301);
  EXPECT_FLOAT_EQ(panel.placement.y, 540);
  EXPECT_FLOAT_EQ(panel.xAxis.x, 3);
  EXPECT_FLOAT_EQ(panel.yAxis.y, 3);

  f.overlay->SetHidePanel(true);
  EXPECT_TRUE(f.overlay->IsChanged());
  f.drawer.images.clear();
  f.drawer.imageCount = 0;
  f.fills.clear();
  f.Draw();
  ASSERT_EQ(f.drawer.images.size(), 1u);
  EXPECT_EQ(f.fills, std::vector<size_t>{1});

  TOverlayFixture bare;
  bare.Draw();
  EXPECT_EQ(bare.fills, std::vector<size_t>{0});
}

// With opt_hidenavbar, a rest of 3 s fades the panel out over 1 s; a move of more than 5 pixels fades it
// back in over 0.5 s; a fade that turns back starts from the level reached.
TEST(Overlay, ThePanelFadesOutWhenTheMouseRestsAndInWhenItMoves) {
  TOverlayFixture f(
      std::string(kPanelKeys) +
      "opt_hidenavbar=1\nopt_nav_hideinterval=3\nopt_nav_hidefadeout=1000\nopt_nav_fadein=500\n");
  ASSERT_NE(f.overlay->Panel(), nullptr);
  f.Mouse(kMouseMove, {10, 10}); // the first position is only recorded
  f.Draw();
  enum TDo { Pass, Move, Jitter };
  const struct {
    int64_t time;
    TDo what;
    float opacity; // after the pass
    int state;     // PanelState after the pass
  } steps[] = {
      {1000, Pass, 100, 1},
      {3000, Pass, 100, 1},
      {3001, Pass, 100, 0}, // the rest is noticed; the fade
                            // starts
      {3501, Pass, 50, 0},
      {3900, Jitter, 10.1f, 0},
      {4001, Pass, 0, 0},
      {4500, Pass, 0, 0},
      {5000, Move, 0, 1},
      {5250, Pass, 50, 1},
      {5500, Pass, 100, 1},
      {8000, Pass, 100, 1},
      {8001, Pass, 100, 0},
      {8501, Pass, 50, 0},
      {8501, Move, 50, 1},
      {8626, Pass, 75, 1},
      {8751, Pass, 100, 1},
      {9000, Pass, 100, 1},
  };
  int x = 10;
  for (const auto& s : steps) {
    f.clock.SetMs(s.time);
    if (s.what == Move) f.Mouse(kMouseMove, {x += 20, 10});
    if (s.what == Jitter) f.Mouse(kMouseMove, {x + 3, 12});
    f.overlay->SetTime(0);
    EXPECT_NEAR(f.PanelOpacity(), s.opacity, 0.01) << "at " << s.time;
    EXPECT_EQ(f.overlay->PanelState(), s.state) << "at " << s.time;
  }
}

TEST(Overlay, ThePanelNeverFadesUnderTheCursor) {
  TOverlayFixture f(std::string(kPanelKeys) + "opt_hidenavbar=1\nopt_nav_hideinterval=3\n");
  f.Mouse(kMouseMove, {10, 10});
  f.Mouse(kMouseMove, kHomeButton);
  EXPECT_EQ(f.overlay->PanelState(), 2);
  f.Run(20000);
  EXPECT_FLOAT_EQ(f.PanelOpacity(), 100);
  EXPECT_EQ(f.overlay->PanelState(), 2);
  // Off the panel, the rest counts from the last pass over it.
  f.Mouse(kMouseMove, {10, 10});
  EXPECT_EQ(f.overlay->PanelState(), 1);
  f.Run(3000);
  EXPECT_FLOAT_EQ(f.PanelOpacity(), 100);
  f.Run(600);
  EXPECT_LT(f.PanelOpacity(), 50);
}

TEST(Overlay, APanelHiddenOnStartupWaitsForTheMouse) {
  TOverlayFixture f(std::string(kPanelKeys) +
                    "opt_hidenavbar=1\nopt_nav_hideonstartup=1\nopt_nav_hideinterval=3\n");
  EXPECT_FLOAT_EQ(f.PanelOpacity(), 0);
  EXPECT_EQ(f.overlay->PanelState(), 0);
  f.Mouse(kMouseMove, {10, 10});
  f.Run(5000);
  EXPECT_FLOAT_EQ(f.PanelOpacity(), 0);
  f.Mouse(kMouseMove, {100, 10});
  f.Run(600);
  EXPECT_FLOAT_EQ(f.PanelOpacity(), 100);
  // Still pictures show it whatever its fade.
  TOverlayFixture still(std::string(kPanelKeys) + "opt_hidenavbar=1\nopt_nav_hideonstartup=1\n");
  still.overlay->ShowPanelNow();
  EXPECT_FLOAT_EQ(still.PanelOpacity(), 100);
}

// A page fades in over 200 ms once it has been drawn, and out again when it closes; while it is open it
// pauses the show when its section says so.
TEST(Overlay, DialogPagesFadeInAndOutAndPauseTheShow) {
  TOverlayFixture f;
  EXPECT_FALSE(f.overlay->AnyPausingDialog());
  f.Open(u"help");
  ASSERT_EQ(f.overlay->DialogCount(), 1);
  TKivDialog& help = *f.overlay->TopDialog();
  EXPECT_EQ(help.DialogName(), u"help");
  EXPECT_EQ(f.overlay->DialogIndex(), 0);
  EXPECT_TRUE(f.overlay->AnyPausingDialog());
  // Not drawn yet: the fade waits.
  f.clock.AdvanceMs(500);
  f.overlay->SetTime(0);
  EXPECT_DOUBLE_EQ(help.DialogTime(), 0);
  const struct {
    int64_t after;
    double opacity;
  } fadeIn[] = {{0, 0}, {50, 25}, {100, 75}, {50, 100}, {100, 100}};
  f.Draw();
  for (const auto& s : fadeIn) {
    f.clock.AdvanceMs(s.after);
    f.overlay->SetTime(0);
    EXPECT_NEAR(help.DialogTime(), s.opacity, 1e-9) << s.after;
  }
  EXPECT_FLOAT_EQ(help.Child(0).GetOpacity(), 100);
  EXPECT_EQ(f.overlay->DialogIndex(), -1); // the fade is over

  f.overlay->CloseDialog(-1);
  EXPECT_TRUE(f.overlay->Closing());
  f.Draw();
  f.overlay->SetTime(0);
  EXPECT_DOUBLE_EQ(help.DialogTime(), 100);
  f.clock.AdvanceMs(150);
  f.overlay->SetTime(0);
  EXPECT_DOUBLE_EQ(help.DialogTime(), 25);
  EXPECT_TRUE(f.overlay->AnyPausingDialog());
  f.clock.AdvanceMs(49); // 0.5 percent left: below 1, the page goes
  f.overlay->SetTime(0);
  EXPECT_EQ(f.overlay->DialogCount(), 0);
  EXPECT_FALSE(f.overlay->Closing());
  EXPECT_FALSE(f.overlay->AnyPausingDialog());
  EXPECT_TRUE(f.overlay->ListChanged());
}

TEST(Overlay, OpeningAnOpenPageClosesItAndPagesOpenedWhileOneClosesAreDropped) {
  TOverlayFixture f;
  f.Open(u"help");
  f.Open(u"about");
  ASSERT_EQ(f.overlay->DialogCount(), 2);
  // The page that was fading in is shown fully when the next one takes the fade over.
  EXPECT_DOUBLE_EQ(f.overlay->Dialog(0).DialogTime(), 100);
  EXPECT_EQ(f.overlay->DialogIndex(), 1);
  f.Run(300);
  f.Open(u"help"); // open already: it closes
  EXPECT_TRUE(f.overlay->Closing());
  EXPECT_EQ(f.overlay->DialogIndex(), 0);
  f.Open(u"notes");          // dropped during the close fade
  f.overlay->CloseDialog(1); // ignored during the close fade
  EXPECT_EQ(f.overlay->DialogCount(), 2);
  f.Run(300);
  ASSERT_EQ(f.overlay->DialogCount(), 1);
  EXPECT_EQ(f.overlay->TopDialog()->DialogName(), u"about");
  // An index out of range closes the top page.
  f.overlay->CloseDialog(5);
  f.Run(300);
  EXPECT_EQ(f.overlay->DialogCount(), 0);
  f.overlay->CloseDialog(-1); // nothing to close
  EXPECT_FALSE(f.overlay->Closing());
}

TEST(Overlay, MovingOnClosesThePausingPages) {
  TOverlayFixture f;
  f.Open(u"help");
  f.Open(u"about");
  f.Open(u"notes");
  f.Run(300);
  f.overlay->CloseForNavigation();
  // "help" went at once; "notes", the topmost pausing page, fades out; "about" does not pause and stays.
  ASSERT_EQ(f.overlay->DialogCount(), 2);
  EXPECT_EQ(f.overlay->Dialog(0).DialogName(), u"about");
  EXPECT_EQ(f.overlay->Dialog(1).DialogName(), u"notes");
  EXPECT_TRUE(f.overlay->Closing());
  EXPECT_EQ(f.overlay->DialogIndex(), 1);
  f.Run(300);
  ASSERT_EQ(f.overlay->DialogCount(), 1);
  EXPECT_FALSE(f.overlay->AnyPausingDialog());
  f.overlay->CloseForNavigation(); // no pausing page: nothing happens
  EXPECT_FALSE(f.overlay->Closing());

  // A page on its way out when the show moves goes at once, and the pausing page still closes.
  TOverlayFixture g;
  g.Open(u"about");
  g.Open(u"help");
  g.Run(300);
  g.overlay->CloseDialog(0);
  g.overlay->CloseForNavigation();
  ASSERT_EQ(g.overlay->DialogCount(), 1);
  EXPECT_EQ(g.overlay->Dialog(0).DialogName(), u"help");
  EXPECT_EQ(g.overlay->DialogIndex(), 0);
  g.Run(300);
  EXPECT_EQ(g.overlay->DialogCount(), 0);
}

// Pages are asked first, from the top down; the panel gets every event after them, and its action wins.
TEST(Overlay, HitTestsAskThePagesFromTheTopThenThePanel) {
  TOverlayFixture f(kPanelKeys);
  // Nothing open, nothing under the cursor: the slides may have the event.
  TOverlayHit hit = f.Click({400, 300});
  EXPECT_FALSE(hit.consumed);
  EXPECT_EQ(hit.object, nullptr);
  EXPECT_EQ(hit.action.Kind, TActionKind::None);
  // The panel's button.
  hit = f.Click(kPauseButton);
  EXPECT_TRUE(hit.consumed);
  EXPECT_EQ(hit.action.Kind, TActionKind::Pause);

  f.Open(u"about");
  f.Open(u"help");
  f.Run(300);
  // The top page's box.
  hit = f.Mouse(kMouseMove, {400, 300});
  ASSERT_NE(hit.object, nullptr);
  EXPECT_EQ(hit.object->Name(), u"Close");
  EXPECT_TRUE(hit.object->Hover());
  EXPECT_TRUE(hit.consumed);
  EXPECT_EQ(hit.action.Kind, TActionKind::None);
  hit = f.Click({400, 300});
  EXPECT_EQ(hit.action.Kind, TActionKind::CloseDialog);
  // The lower page's box shows through where the top page has nothing of its own... but the top page
  // covers the whole frame: its background takes the event.
  hit = f.Click({400, 150});
  ASSERT_NE(hit.object, nullptr);
  EXPECT_EQ(&hit.object->GetSlide(), f.overlay->TopDialog());
  EXPECT_EQ(hit.action.Kind, TActionKind::None);
  EXPECT_TRUE(hit.consumed);
  // Pressed on one object and released on another: no click.
  f.Mouse(kMouseDown, {400, 300}, kMouseButtonLeft);
  hit = f.Mouse(kMouseUp, {450, 150}, kMouseButtonLeft);
  EXPECT_EQ(hit.action.Kind, TActionKind::None);
  // Over the panel the panel's action replaces the page's.
  hit = f.Click(kHomeButton);
  EXPECT_EQ(hit.action.Kind, TActionKind::GotoSlide);
  EXPECT_NE(hit.object, nullptr);
}

TEST(Overlay, ThePageUnderTheCursorKeepsItsHoverAndLosesItWhenLeft) {
  TOverlayFixture f;
  f.Open(u"help");
  f.Run(300);
  TKivObject& box = f.overlay->TopDialog()->Child(0);
  f.Mouse(kMouseMove, {400, 300});
  EXPECT_TRUE(box.Hover());
  EXPECT_TRUE(f.overlay->ItemChanged());
  f.Draw();
  f.Mouse(kMouseMove, {410, 310});
  EXPECT_FALSE(f.overlay->ItemChanged()); // the same object: nothing to redraw
  f.Mouse(kMouseDown, {410, 310}, kMouseButtonLeft);
  EXPECT_TRUE(box.Pressed());
  f.Mouse(kMouseMove, {100, 100});
  EXPECT_FALSE(box.Hover());
  f.Mouse(kMouseUp, {100, 100}, kMouseButtonLeft);
  EXPECT_FALSE(box.Pressed());
}

} // namespace
} // namespace kiv

// The navigation panel: its options, where it is placed, and what its clicks do.
#include "NavigationPanel.h"
#include "InputMapping.h"
#include "OverlayTestSupport.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kiv {
namespace {

using namespace testing_support;

// A panel of home, pause and exit from the test skin at an anchor, with more keys.
std::string PanelKeys(const std::string& anchor, const std::string& more = "") {
  return "[main]\nopt_fcp=1\nopt_nav_inifile=nav\\skin.ini\nopt_cp=" + anchor +
         "\nopt_newnavbuttons_count=3\nopt_newnavbutton1=home\nopt_newnavbutton2=pause\nopt_newnavbutton3="
         "exit\n" +
         more;
}
const std::string kPanelKeys = PanelKeys("Bottom");

TNavPanelSettings SettingsOf(const std::string& text) {
  const auto document = IniText(text);
  const std::optional<TNavPanelSettings> settings = TNavPanelSettings::Read(*document->FindSection(u"main"));
  EXPECT_TRUE(settings) << text;
  return settings.value_or(TNavPanelSettings{});
}

struct TPanelFixture {
  explicit TPanelFixture(const std::string& keys = kPanelKeys, const std::string& skin = kSkin) {
    AddTestSkin(files, skin);
    settings = SettingsOf(keys);
  }
  bool Create(const TRect& window = {0, 0, 800, 600}, const TRect& frame = {100, 50, 700, 550}) {
    TNavPanelCallbacks callbacks;
    callbacks.placeSprite = [this](int32_t sprite, TRef<TDrawImage> image, const TRect& placed,
                                   float opacity) {
      ++placements;
      lastPlaced = placed;
      lastOpacity = opacity;
      lastImage = image;
      return sprite < 0 ? 7 : sprite;
    };
    callbacks.spriteOpacity = [this](int32_t, float opacity) { lastOpacity = opacity; };
    callbacks.isPlaying = [] { return true; };
    panel = TNavPanel::Create(settings, files.Files(), window, frame, std::move(callbacks), clock);
    return panel != nullptr;
  }

  TMemoryFiles files;
  TNavPanelSettings settings;
  TManualClock clock;
  TOwned<TNavPanel> panel;
  int placements = 0;
  TRect lastPlaced;
  float lastOpacity = -1;
  TRef<TDrawImage> lastImage;
};

TEST(NavPanelSettings, ReadOnlyWhenTheShowAsksForAPanel) {
  const auto document = IniText("[main]\nopt_nav_inifile=nav\\skin.ini\n");
  EXPECT_FALSE(TNavPanelSettings::Read(*document->FindSection(u"main")));

  const TNavPanelSettings defaults = SettingsOf("[main]\nopt_fcp=1\n");
  EXPECT_EQ(defaults.skin, u"");
  EXPECT_FALSE(defaults.showBackground);
  EXPECT_EQ(defaults.hue, 0);
  EXPECT_DOUBLE_EQ(defaults.viewScale, 10);
  EXPECT_DOUBLE_EQ(defaults.offset, 0);
  EXPECT_EQ(defaults.anchor, TAnchor::Center);
  EXPECT_TRUE(defaults.buttons.empty());
  EXPECT_FALSE(defaults.hideNavBar);
  EXPECT_FALSE(defaults.hideOnStartup);
  EXPECT_EQ(defaults.hideIntervalMs, 0);
  EXPECT_EQ(defaults.hideFadeOutMs, 1000);
  EXPECT_EQ(defaults.fadeInMs, 500);
  EXPECT_TRUE(defaults.windowBottom);

  const TNavPanelSettings s = SettingsOf(
      "[main]\nopt_fcp=1\nopt_nav_inifile=x.ini\nopt_nav_showbg=1\nopt_nav_hue=40\nopt_nav_viewscale=12.5\n"
      "opt_nav_offset=3\nopt_cp=left-bottom\nopt_newnavbuttons_count=2\nopt_newnavbutton1=exit\n"
      "opt_newnavbutton2=Home\nopt_hidenavbar=1\nopt_nav_hideonstartup=1\nopt_nav_hideinterval=2.5\n"
      "opt_nav_hidefadeout=300\nopt_nav_fadein=-20\nopt_nav_wndbottom=0\n");
  EXPECT_EQ(s.skin, u"x.ini");
  EXPECT_TRUE(s.showBackground);
  EXPECT_EQ(s.hue, 40);
  EXPECT_DOUBLE_EQ(s.viewScale, 12.5);
  EXPECT_DOUBLE_EQ(s.offset, 3);
  EXPECT_EQ(s.anchor, TAnchor::LeftBottom);
  EXPECT_EQ(s.buttons, (std::vector<std::u16string>{u"exit", u"Home"}));
  EXPECT_TRUE(s.hideNavBar);
  EXPECT_TRUE(s.hideOnStartup);
  EXPECT_EQ(s.hideIntervalMs, 2500);
  EXPECT_EQ(s.hideFadeOutMs, 300);
  EXPECT_EQ(s.fadeInMs, 0); // a negative length is no fade
  EXPECT_FALSE(s.windowBottom);

  // A button count from the file does not make a list of that length.
  EXPECT_EQ(SettingsOf("[main]\nopt_fcp=1\nopt_newnavbuttons_count=2000000000\n").buttons.size(),
            static_cast<size_t>(kMaxNavButtons));
}

// The 66 x 20 bar scaled to 10 percent of the area's height (60) is 198 wide, placed at the anchor with
// an inset of 10 percent: 40 and 30 pixels in the 800 x 600 window, 30 and 25 in the 600 x 500 frame.
TEST(NavPanel, PlacedAtItsAnchorInTheWindowOrTheFrame) {
  const struct {
    const char* anchor;
    bool window;
    TRect placed;
  } cases[] = {
      {"Left-Top", true, {40, 30, 238, 90}},
      {"top", true, {301, 30, 499, 90}},
      {"Right-Top", true, {562, 30, 760, 90}},
      {"RIGHT", true, {562, 270, 760, 330}},
      {"Right-Bottom", true, {562, 510, 760, 570}},
      {"Bottom", true, {301, 510, 499, 570}},
      {"Left-Bottom", true, {40, 510, 238, 570}},
      {"Left", true, {40, 270, 238, 330}},
      {"Center", true, {301, 270, 499, 330}},
      {"somewhere", true, {301, 270, 499, 330}},
      // The frame (100, 50) - (700, 550): the panel 50 high and 165 wide.
      {"Right-Bottom", false, {100 + 570 - 165, 50 + 475 - 50, 100 + 570, 50 + 475}},
      {"Left-Top", false, {100 + 30, 50 + 25, 100 + 30 + 165, 50 + 25 + 50}},
  };
  for (const auto& c : cases) {
    TPanelFixture f(
        PanelKeys(c.anchor, std::string("opt_nav_offset=10\nopt_nav_wndbottom=") + (c.window ? "1" : "0")));
    ASSERT_TRUE(f.Create()) << c.anchor;
    EXPECT_EQ(f.panel->PlacedRect(), c.placed) << c.anchor << (c.window ? " in the window" : " in the frame");
    EXPECT_EQ(f.lastPlaced, c.placed);
    EXPECT_EQ(f.panel->Sprite(), 7);
    ASSERT_TRUE(f.lastImage);
    EXPECT_EQ(f.lastImage->Bitmap().Width(), 66);
    EXPECT_EQ(f.lastImage->Bitmap().Height(), 20);
  }
}

// Bar pixel (x, y) lies at window pixel (301 + 3x + 1, 540 + 3y + 1): the bar is drawn three times its
// size at the bottom of the 800 x 600 window.
TEST(NavPanel, ClicksOnButtonsBecomeActionsAndEveryEventOverThePanelIsConsumed) {
  TPanelFixture f;
  ASSERT_TRUE(f.Create());
  ASSERT_EQ(f.panel->PlacedRect(), (TRect{301, 540, 499, 600}));
  auto at = [](int barX, int barY) { return std::pair{301 + 3 * barX + 1, 540 + 3 * barY + 1}; };
  const struct {
    const char* what;
    uint8_t event;
    int32_t button;
    std::pair<int, int> where;
    TActionKind kind;
    int32_t param;
  } steps[] = {
      {"move over home", kMouseMove, kMouseButtonNone, at(16, 9), TActionKind::PanelConsumed, 0},
      {"press home", kMouseDown, kMouseButtonLeft, at(16, 9), TActionKind::PanelConsumed, 0},
      {"release home", kMouseUp, kMouseButtonLeft, at(17, 10), TActionKind::GotoSlide, 0},
      {"press pause", kMouseDown, kMouseButtonLeft, at(32, 9), TActionKind::PanelConsumed, 0},
      {"release pause", kMouseUp, kMouseButtonLeft, at(32, 9), TActionKind::Pause, 0},
      {"double click on pause", kMouseDoubleClick, kMouseButtonLeft, at(32, 9), TActionKind::PanelConsumed,
       0},
      {"press exit", kMouseDown, kMouseButtonLeft, at(48, 9), TActionKind::PanelConsumed, 0},
      {"release exit on pause", kMouseUp, kMouseButtonLeft, at(32, 9), TActionKind::PanelConsumed, 0},
      {"press exit again", kMouseDown, kMouseButtonLeft, at(48, 9), TActionKind::PanelConsumed, 0},
      {"drag off the panel: still held",
       kMouseMove,
       kMouseButtonNone,
       {400, 100},
       TActionKind::PanelConsumed,
       0},
      {"release off the panel", kMouseUp, kMouseButtonLeft, {400, 100}, TActionKind::PanelConsumed, 0},
      {"move above the panel", kMouseMove, kMouseButtonNone, {400, 530}, TActionKind::None, 0},
      {"click above the panel", kMouseUp, kMouseButtonLeft, {400, 530}, TActionKind::None, 0},
      {"right click on exit", kMouseUp, kMouseButtonRight, at(48, 9), TActionKind::PanelConsumed, 0},
  };
  for (const auto& s : steps) {
    const TKivActionInfo action = f.panel->HitTest(s.event, 0, s.where.first, s.where.second, s.button);
    EXPECT_EQ(action.Kind, s.kind) << s.what;
    EXPECT_EQ(action.Param, s.param) << s.what;
  }
}

TEST(NavPanel, ButtonNamesMapToActions) {
  const struct {
    std::u16string_view name;
    TActionKind kind;
  } cases[] = {
      {u"home", TActionKind::GotoSlide},    {u"backward", TActionKind::PrevSlide},
      {u"forward", TActionKind::NextSlide}, {u"pause", TActionKind::Pause},
      {u"print", TActionKind::Print},       {u"help", TActionKind::Help},
      {u"exit", TActionKind::Exit},         {u"Forward", TActionKind::NextSlide},
      {u"stop", TActionKind::None},
  };
  for (const auto& c : cases) {
    const TKivActionInfo action = NavButtonAction(c.name);
    EXPECT_EQ(action.Kind, c.kind);
    EXPECT_EQ(action.Param, 0);
  }
}

TEST(NavPanel, WithoutAUsableSkinThereIsNoPanel) {
  const struct {
    const char* what;
    std::string keys, skin;
  } cases[] = {
      {"no skin named", "[main]\nopt_fcp=1\n", kSkin},
      {"the named skin is missing", "[main]\nopt_fcp=1\nopt_nav_inifile=nav\\other.ini\n", kSkin},
      {"a video-style skin", kPanelKeys, std::string("[Common]\nVideoStyle=1\n") + (kSkin + 9)},
      {"a damaged skin", kPanelKeys,
       std::string(kSkin).replace(std::string(kSkin).find("Cell=2,1"), 8, "Cell=2")},
  };
  for (const auto& c : cases) {
    TPanelFixture f(c.keys, c.skin);
    EXPECT_FALSE(f.Create()) << c.what;
    EXPECT_EQ(f.placements, 0) << c.what;
  }
  // Listed buttons the skin does not offer are skipped: the panel shows the rest.
  TPanelFixture some("[main]\nopt_fcp=1\nopt_nav_inifile=nav\\skin.ini\nopt_newnavbuttons_count=3\n"
                     "opt_newnavbutton1=print\nopt_newnavbutton2=Help\nopt_newnavbutton3=forward\n");
  ASSERT_TRUE(some.Create());
  ASSERT_EQ(some.panel->Bar().Objects().size(), 1u);
  EXPECT_EQ(some.panel->Bar().Objects()[0].actionType, u"help");
}

TEST(NavPanel, SkinFolderIsThePartBeforeTheLastSeparator) {
  EXPECT_EQ(SkinFolderOf(u"nav\\skin.ini"), u"nav\\");
  EXPECT_EQ(SkinFolderOf(u"a/b\\c/skin.ini"), u"a/b\\c/");
  EXPECT_EQ(SkinFolderOf(u"skin.ini"), u"");
}

} // namespace
} // namespace kiv

// The panel of a video-style skin: the bar across the placement area's width on its bottom edge, the
// exit button in its top-right corner, the mouse routed to either, and clicks, seeks and volume
// changes handed on.
#include "InputMapping.h"
#include "NavigationPanel.h"
#include "Overlay.h"
#include "VideoBarTestSupport.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

namespace kiv {
namespace {

using namespace testing_support;

const std::string kVideoKeys =
    "[main]\nopt_fcp=1\nopt_nav_inifile=nav\\video.ini\nopt_newnavbuttons_count=2\n"
    "opt_newnavbutton1=Forward\nopt_newnavbutton2=home\n";

struct TVideoPanelFixture {
  explicit TVideoPanelFixture(const std::string& keys = kVideoKeys, const std::string& skin = kVideoSkin) {
    AddVideoSkin(files, skin);
    const auto document = IniText(keys);
    settings = *TNavPanelSettings::Read(*document->FindSection(u"main"));
  }
  bool Create(const TRect& window = {0, 0, 800, 600}, const TRect& frame = {100, 50, 700, 550}) {
    TNavPanelCallbacks c;
    c.placeSprite = [this](int32_t sprite, TRef<TDrawImage>, const TRect& placed, float) {
      if (sprite < 0) sprite = next++;
      placedAt[sprite] = placed;
      return sprite;
    };
    c.spriteOpacity = [this](int32_t sprite, float opacity) { opacities[sprite] = opacity; };
    c.isPlaying = [] { return true; };
    c.seekTo = [this](double ms) { seeks.push_back(ms); };
    c.setVolume = [this](float v) { volumes.push_back(v); };
    c.showLength = 61000;
    c.volume = 0.25f;
    panel = TNavPanel::Create(settings, files.Files(), window, frame, std::move(c), clock);
    return panel != nullptr;
  }
  TKivActionInfo Click(uint8_t event, int x, int y) {
    return panel->HitTest(event, 0, x, y, kMouseButtonLeft);
  }

  TMemoryFiles files;
  TNavPanelSettings settings;
  TManualClock clock;
  TOwned<TNavPanel> panel;
  int32_t next = 3;
  std::map<int32_t, TRect> placedAt;
  std::map<int32_t, float> opacities;
  std::vector<double> seeks;
  std::vector<float> volumes;
};

TEST(VideoNavPanel, TheBarLiesOnTheBottomEdgeAndTheExitButtonInTheTopRightCorner) {
  const struct {
    const char* what;
    std::string more;
    TRect bar, exit;
  } cases[] = {
      {"the window", "", {0, 580, 800, 600}, {780, 0, 800, 20}},
      {"the slide frame", "opt_nav_wndbottom=0\n", {100, 530, 700, 550}, {680, 50, 700, 70}},
      // The height asked for: 10 percent of 600 is 60, scale 3.
      {"the video scale", "opt_nav_usevideoscale=1\n", {0, 540, 800, 600}, {740, 0, 800, 60}},
  };
  for (const auto& c : cases) {
    TVideoPanelFixture f(kVideoKeys + c.more);
    ASSERT_TRUE(f.Create()) << c.what;
    TVideoNavBar* bar = f.panel->VideoBar();
    ASSERT_TRUE(bar) << c.what;
    EXPECT_EQ(f.panel->PlacedRect(), c.bar) << c.what;
    EXPECT_EQ(f.panel->ExitRect(), c.exit) << c.what;
    EXPECT_EQ(f.placedAt[f.panel->Sprite()], c.bar) << c.what;
    ASSERT_GE(f.panel->ExitSprite(), 0) << c.what;
    EXPECT_NE(f.panel->ExitSprite(), f.panel->Sprite()) << c.what;
    EXPECT_EQ(f.placedAt[f.panel->ExitSprite()], c.exit) << c.what;
    // Set up from the show: its length, its volume, the listed buttons the bar offers.
    EXPECT_FLOAT_EQ(static_cast<float>(bar->Volume()), 0.25f) << c.what;
    EXPECT_EQ(bar->ExtraName(0), u"forward") << c.what;
    EXPECT_EQ(bar->ExtraName(1), u"") << c.what;
  }
}

TEST(VideoNavPanel, ClicksBecomeActionsAndTheTrackSeeksTheShow) {
  TVideoPanelFixture f;
  ASSERT_TRUE(f.Create());
  // One extra button: the track runs from 42 to 660; the knob's centre travels from 46 over 610 pixels.
  // Half-way along is 30500 ms of 61000.
  EXPECT_EQ(f.Click(kMouseDown, 46 + 305, 590).Kind, TActionKind::Pause) << "the show holds for the seek";
  EXPECT_EQ(f.Click(kMouseUp, 46 + 305, 590).Kind, TActionKind::Pause) << "and plays on";
  ASSERT_EQ(f.seeks.size(), 1u);
  EXPECT_DOUBLE_EQ(f.seeks[0], 30500);

  EXPECT_EQ(f.Click(kMouseDown, 12, 590).Kind, TActionKind::Pause) << "play/pause";
  EXPECT_EQ(f.Click(kMouseUp, 12, 590).Kind, TActionKind::PanelConsumed);
  EXPECT_EQ(f.Click(kMouseDown, 28, 590).Kind, TActionKind::NextSlide) << "forward";
  f.Click(kMouseUp, 28, 590);
  EXPECT_EQ(f.Click(kMouseDown, 790, 10).Kind, TActionKind::Exit) << "the exit button";
  f.Click(kMouseUp, 790, 10);
  // The sound button mutes.
  f.Click(kMouseDown, 736 + 8, 590);
  f.Click(kMouseUp, 736 + 8, 590);
  EXPECT_EQ(f.volumes, std::vector<float>{0.0f});
  // Over the panel, events reach nothing else; beside it they pass.
  EXPECT_EQ(f.Click(kMouseMove, 400, 585).Kind, TActionKind::PanelConsumed);
  EXPECT_EQ(f.Click(kMouseMove, 400, 300).Kind, TActionKind::None);
  EXPECT_EQ(f.Click(kMouseMove, 700, 10).Kind, TActionKind::None);
}

TEST(VideoNavPanel, WithoutTheExitOptionTheUpperHalfBelongsToTheBar) {
  TVideoPanelFixture f(kVideoKeys + "opt_nav_videoexit=0\n");
  ASSERT_TRUE(f.Create());
  EXPECT_EQ(f.panel->ExitSprite(), -1);
  EXPECT_EQ(f.panel->VideoBar()->ExitBitmap(), nullptr);
  EXPECT_EQ(f.placedAt.size(), 1u);
  EXPECT_EQ(f.Click(kMouseDown, 790, 10).Kind, TActionKind::None);
  // A press on the track that is held follows the mouse into the upper half.
  EXPECT_EQ(f.Click(kMouseDown, 46 + 305, 590).Kind, TActionKind::Pause);
  EXPECT_EQ(f.Click(kMouseMove, 46 + 100, 100).Kind, TActionKind::PanelConsumed);
  ASSERT_EQ(f.seeks.size(), 1u);
  EXPECT_DOUBLE_EQ(f.seeks[0], 10000);
  f.Click(kMouseUp, 46 + 100, 100);
}

TEST(VideoNavPanel, TheExitButtonFadesWithTheBar) {
  TVideoPanelFixture f(kVideoKeys + "opt_hidenavbar=1\nopt_nav_hideinterval=1\nopt_nav_hidefadeout=100\n");
  ASSERT_TRUE(f.Create());
  f.panel->Detector().Moved(5, 5);
  f.panel->PanelTime(0);
  f.clock.AdvanceMs(2000);
  f.panel->PanelTime(0); // the fade starts
  f.clock.AdvanceMs(200);
  f.panel->PanelTime(0);
  EXPECT_FLOAT_EQ(f.opacities[f.panel->Sprite()], 0);
  EXPECT_FLOAT_EQ(f.opacities[f.panel->ExitSprite()], 0);
}

TEST(VideoNavPanel, ADamagedVideoSkinGivesNoPanel) {
  auto with = [](const std::string& from, const std::string& to) {
    std::string skin = kVideoSkin;
    skin.replace(skin.find(from), from.size(), to);
    return skin;
  };
  const struct {
    const char* what;
    std::string skin;
  } cases[] = {
      {"a bar height of 0", with("BarSize=400,20", "BarSize=400,0")},
      {"a malformed bar size", with("BarSize=400,20", "BarSize=400;20")},
      {"a track without room for its knob", with("VolumeControlLength=40", "VolumeControlLength=4000")},
  };
  for (const auto& c : cases) {
    TVideoPanelFixture f(kVideoKeys, c.skin);
    EXPECT_FALSE(f.Create()) << c.what;
    EXPECT_TRUE(f.placedAt.empty()) << c.what;
  }
}

TEST(VideoNavPanel, TheOverlayLendsItTheEnginesSeekVolumeAndShowLength) {
  TMemoryFiles files;
  AddVideoSkin(files);
  const auto document = IniText(kVideoKeys);
  TManualClock clock;
  std::vector<double> seeks;
  std::vector<float> volumes;
  TThirdSlideParams params;
  params.displayRect = {0, 0, 800, 600};
  params.areaSize = {800, 600};
  params.callbacks.isPlaying = [] { return true; };
  params.callbacks.seekTo = [&seeks](double ms) { seeks.push_back(ms); };
  params.callbacks.setVolume = [&volumes](float v) { volumes.push_back(v); };
  params.showLength = 61000;
  params.volume = 0.75f;
  params.clock = &clock;
  params.files = files.Files();
  TThirdSlide overlay(*document->FindSection(u"main"), std::move(params));
  ASSERT_TRUE(overlay.Panel());
  ASSERT_GE(overlay.ExitSprite(), 0);
  EXPECT_NE(overlay.ExitSprite(), overlay.PanelSprite());
  EXPECT_EQ(overlay.Sprites()[static_cast<size_t>(overlay.ExitSprite())].placed, (TRect{780, 0, 800, 20}));
  EXPECT_EQ(overlay.Sprites()[static_cast<size_t>(overlay.PanelSprite())].placed, (TRect{0, 580, 800, 600}));
  // The show time moves the knob: half the show, half the travel from 46.
  overlay.SetTime(30500);
  EXPECT_EQ(overlay.Panel()->VideoBar()->LastKnobX(), 46 + 305);
  // A click a tenth along the track seeks a tenth of the show; the volume track sets the volume.
  EXPECT_EQ(overlay.HitTest(0, 46 + 61, kMouseDown, kMouseButtonLeft, 590).action.Kind, TActionKind::Pause);
  const TOverlayHit up = overlay.HitTest(0, 46 + 61, kMouseUp, kMouseButtonLeft, 590);
  EXPECT_TRUE(up.consumed);
  EXPECT_EQ(seeks, std::vector<double>{6100});
  overlay.HitTest(0, 790, kMouseDown, kMouseButtonLeft, 590);
  overlay.HitTest(0, 790, kMouseUp, kMouseButtonLeft, 590);
  EXPECT_EQ(volumes, std::vector<float>{0.9375f});
}

} // namespace
} // namespace kiv

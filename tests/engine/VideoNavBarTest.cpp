// The video-style bar: where its parts lie at several widths and scales, where the time knob stands for
// a show time, which time a click or drag along the track seeks, the time digits, the volume drag and
// mute, and skins that cannot make a bar.
#include "VideoNavBar.h"
#include "InputMapping.h"
#include "VideoBarTestSupport.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kiv {
namespace {

using namespace testing_support;

struct TVideoBarFixture {
  explicit TVideoBarFixture(const std::string& skin = kVideoSkin) {
    AddVideoSkin(files, skin);
    document = IniText(skin);
  }
  // Loads, sizes and shows the bar as the panel does.
  void Make(int32_t width, double scale = 1, std::vector<int32_t> buttons = {}, bool withExit = true) {
    TVideoBarCallbacks c;
    c.redraw = [this](const TRect&) { ++redraws; };
    c.loadPicture = files.Files().picture;
    c.click = [this](int32_t index) { clicks.push_back(index); };
    c.isPlaying = [this] { return playing; };
    c.duration = [this] { return duration; };
    c.seekTo = [this](double ms) { seeks.push_back(ms); };
    c.setVolume = [this](double v) { volumes.push_back(v); };
    if (withExit) {
      c.exitRedraw = [this](const TRect&) { ++exitRedraws; };
      c.exitZone = [this] { return exitZone; };
    }
    bar = MakeOwned<TVideoNavBar>(std::move(c));
    bar->Load(*document, u"nav\\");
    bar->SetWidth(width);
    bar->SetScale(scale);
    bar->SetButtons(buttons);
    bar->SetTime(0);
    bar->SetVolume(0.5f);
  }
  void Press(int x, int y) { bar->MouseEvent(kMouseButtonLeft, 0, kBarPress, y, x); }
  void MoveTo(int x, int y) { bar->MouseEvent(kMouseButtonLeft, kShiftLeftButton, kBarMove, y, x); }
  void Release(int x, int y) { bar->MouseEvent(kMouseButtonLeft, 0, kBarRelease, y, x); }
  uint32_t Pixel(int x, int y) const { return bar->Bitmap()->Pixel32(x, y); }

  TMemoryFiles files;
  std::unique_ptr<TIniFile> document;
  TOwned<TVideoNavBar> bar;
  bool playing = true;
  double duration = 60000;
  bool exitZone = false;
  int redraws = 0, exitRedraws = 0;
  std::vector<int32_t> clicks;
  std::vector<double> seeks, volumes;
};

// Track band: y 8 .. 12; button band: y 2 .. 18.
constexpr int kTrackY = 10;

TEST(VideoBarLayout, PartsLieAcrossTheWholeWidthAtEveryWidthAndScale) {
  const struct {
    int32_t width;
    double scale;
    int32_t extras;
    double duration;
    double scaleAfter; // fitting halves the scale while the track has 100 pixels or less of travel
    int32_t height, trackStart, trackEnd, digitsEnd, soundLeft, volumeStart, volumeEnd;
  } cases[] = {
      // 400 wide: track 4 + 16 + 6 = 26 .. 400 - 4 - 40 - 4 - 16 - 4 - 12 x 6 = 260.
      {400, 1, 0, 60000, 1, 20, 26, 260, 332, 336, 356, 396},
      // Two extra buttons take two button widths from the track; hours take six digit widths more.
      {400, 1, 2, 60000, 1, 20, 58, 260, 332, 336, 356, 396},
      {400, 1, 0, 3600000, 1, 20, 26, 224, 332, 336, 356, 396},
      // Twice the scale: parts double, gaps stay.
      {800, 2, 0, 60000, 2, 40, 42, 532, 676, 680, 716, 796},
      // 250 wide at scale 1 leaves 110 - 34 pixels of travel: halved once, the parts take half.
      {250, 1, 0, 60000, 0.5, 10, 18, 174, 210, 214, 226, 246},
      // 180 wide: halved twice (a digit of 1.5 pixels rounds to 2).
      {180, 1, 0, 60000, 0.25, 5, 14, 130, 154, 158, 166, 176},
  };
  for (const auto& c : cases) {
    TVideoBarFixture f;
    f.duration = c.duration;
    std::vector<int32_t> buttons;
    for (int32_t i = 0; i < c.extras; ++i)
      buttons.push_back(i);
    f.Make(c.width, c.scale, buttons);
    const std::string what = std::to_string(c.width) + " wide at " + std::to_string(c.scale);
    ASSERT_FALSE(f.bar->Collapsed()) << what;
    EXPECT_DOUBLE_EQ(f.bar->Scale(), c.scaleAfter) << what;
    const TVideoBarLayout& l = f.bar->Layout();
    EXPECT_EQ(l.width, c.width) << what;
    EXPECT_EQ(l.height, c.height) << what;
    EXPECT_EQ(l.trackStart, c.trackStart) << what;
    EXPECT_EQ(l.trackEnd, c.trackEnd) << what;
    EXPECT_EQ(l.digitsEnd, c.digitsEnd) << what;
    EXPECT_EQ(l.soundLeft, c.soundLeft) << what;
    EXPECT_EQ(l.volumeStart, c.volumeStart) << what;
    EXPECT_EQ(l.volumeEnd, c.volumeEnd) << what;
    ASSERT_TRUE(f.bar->Bitmap()) << what;
    EXPECT_EQ(f.bar->Bitmap()->Width(), c.width) << what;
    EXPECT_EQ(f.bar->Bitmap()->Height(), c.height) << what;
    ASSERT_TRUE(f.bar->ExitBitmap()) << what;
    EXPECT_EQ(f.bar->ExitBitmap()->Width(), c.height) << what;
  }
}

TEST(VideoBarLayout, ABarTooNarrowForItsKnobShowsNothingAndTakesNoEvents) {
  TVideoBarFixture f;
  // 120 wide: the track would end at -20, before it starts.
  f.Make(120);
  EXPECT_TRUE(f.bar->Collapsed());
  EXPECT_EQ(f.bar->Bitmap(), nullptr);
  EXPECT_EQ(f.bar->ExitBitmap(), nullptr);
  f.Press(12, kTrackY);
  f.Release(12, kTrackY);
  f.bar->SetTime(5000);
  EXPECT_TRUE(f.clicks.empty());
  EXPECT_TRUE(f.seeks.empty());
  EXPECT_EQ(f.redraws, 0);
}

TEST(VideoBarLayout, PartsArePaintedWhereTheLayoutPutsThem) {
  TVideoBarFixture f;
  f.Make(400, 1, {1});
  // One extra button ("forward", cell 5): the track starts at 4 + 32 + 6 = 42.
  EXPECT_EQ(f.Pixel(4 + 8, 10), StripColor(0, 1)) << "play/pause while the show plays";
  EXPECT_EQ(f.Pixel(20 + 8, 10), StripColor(0, 5)) << "the forward button";
  EXPECT_EQ(f.Pixel(336 + 8, 10), StripColor(0, 2)) << "the sound button";
  EXPECT_EQ(f.Pixel(1, 1), kVideoBack) << "the background";
  EXPECT_EQ(f.Pixel(42 + 4, 10), kVideoKnob) << "the knob at the start of the track";
  EXPECT_EQ(f.Pixel(150, 10), kVideoLine) << "the track line";
  EXPECT_EQ(f.Pixel(150, 4), kVideoBack) << "above the track line";
  // Volume 0.5: knob centre at 356 + 4 + round(32 x 0.5) = 376.
  EXPECT_EQ(f.Pixel(376, 10), kVideoKnob) << "the volume knob";
  EXPECT_EQ(f.Pixel(366, 10), kVideoLine) << "the volume line";
  EXPECT_EQ(f.bar->ExitBitmap()->Pixel32(10, 10), StripColor(0, 6)) << "the exit button";
  EXPECT_EQ(f.bar->ExitBitmap()->Pixel32(0, 0), 0u) << "around the exit button";
  EXPECT_EQ(f.bar->ExtraName(0), u"forward");
}

TEST(VideoBarKnob, TheKnobStandsForTheShowTime) {
  // Travel 260 - 26 - 8 = 226; the centre runs from 30 to 256.
  const struct {
    double position, duration;
    int32_t centre;
  } cases[] = {
      {0, 60000, 30},      {30000, 60000, 143},  {60000, 60000, 256},
      {59999, 60000, 255}, {-5, 60000, 30},      {5000, 0, 30},
      {90000, 60000, 143}, {120000, 60000, 256}, {1e12, 60000, 30 + 226 * 40000 / 60000},
      {20000, -60000, 30},
  };
  TVideoBarFixture f;
  f.Make(400);
  for (const auto& c : cases)
    EXPECT_EQ(f.bar->Layout().TimeKnobCentre(c.position, c.duration), c.centre)
        << c.position << " of " << c.duration;
  // Painted: the knob moves only when its pixel changes.
  const int repaints = f.bar->PartRepaints(kPartTrack);
  f.bar->SetTime(30000);
  EXPECT_EQ(f.bar->LastKnobX(), 143);
  EXPECT_EQ(f.Pixel(143, 10), kVideoKnob);
  EXPECT_EQ(f.Pixel(30, 10), kVideoLine);
  f.bar->SetTime(30100); // same pixel, same second
  EXPECT_EQ(f.bar->PartRepaints(kPartTrack), repaints + 1);
}

TEST(VideoBarKnob, ClicksAndDragsAlongTheTrackSeek) {
  TVideoBarFixture f;
  f.Make(400);
  // A click beside the knob puts its centre under the pointer: x 143 is half-way.
  f.Press(143, kTrackY);
  f.Release(143, kTrackY);
  ASSERT_EQ(f.seeks.size(), 1u);
  EXPECT_DOUBLE_EQ(f.seeks[0], 30000);
  // A playing show holds for the click and plays on after it.
  EXPECT_EQ(f.clicks, (std::vector<int32_t>{kClickPlayPause, kClickPlayPause}));

  // Grabbed one pixel right of its centre, the knob keeps that offset while dragged.
  f.seeks.clear();
  f.bar->SetTime(0);
  f.Press(31, kTrackY);
  f.MoveTo(100, kTrackY); // centre 99
  f.MoveTo(400, kTrackY); // beyond the track: nothing
  f.MoveTo(259, kTrackY); // centre 258, limited to 256
  f.MoveTo(26, kTrackY);  // centre 25, limited to 30
  f.Release(26, kTrackY);
  const std::vector<double> wanted{60000.0 * 69 / 226, 60000, 0, 0};
  ASSERT_EQ(f.seeks.size(), wanted.size());
  for (size_t i = 0; i < wanted.size(); ++i)
    EXPECT_NEAR(f.seeks[i], wanted[i], 1e-6) << i;

  // Pressed on the track outside the knob, the centre jumps to the pointer at the first move.
  f.seeks.clear();
  f.Press(200, kTrackY);
  f.MoveTo(201, kTrackY);
  ASSERT_EQ(f.seeks.size(), 1u);
  EXPECT_NEAR(f.seeks[0], 60000.0 * (201 - 30) / 226, 1e-6);
  f.Release(201, kTrackY);
}

TEST(VideoBarKnob, ADragPausesAPlayingShowAndLeavesAPausedOneStill) {
  for (const bool playing : {true, false}) {
    TVideoBarFixture f;
    f.playing = playing;
    f.Make(400);
    f.Press(100, kTrackY);
    EXPECT_TRUE(f.bar->Dragging());
    EXPECT_TRUE(f.bar->Paused());
    f.MoveTo(120, kTrackY);
    f.MoveTo(140, kTrackY);
    // The show time the engine reports during the drag does not move the knob back.
    f.bar->SetTime(0);
    EXPECT_NE(f.bar->LastKnobX(), 30);
    f.Release(140, kTrackY);
    EXPECT_EQ(f.seeks.size(), 3u) << playing;
    const std::vector<int32_t> wanted =
        playing ? std::vector<int32_t>{kClickPlayPause, kClickPlayPause} : std::vector<int32_t>{};
    EXPECT_EQ(f.clicks, wanted) << playing;
    EXPECT_EQ(f.bar->Paused(), !playing);
    EXPECT_FALSE(f.bar->Dragging());
  }
}

TEST(VideoBarDigits, ElapsedAndTotalTimeInWholeSeconds) {
  const struct {
    double position, duration;
    bool hours;
    const char16_t* text;
  } cases[] = {
      {0, 75000, false, u"00:00 / 01:15"},
      {5999, 75000, false, u"00:05 / 01:15"},
      {80000, 75000, false, u"00:05 / 01:15"}, // a repeating show: reduced by its length
      {65000, 0, false, u"01:05 / 00:00"},     // no length: unreduced
      {3661999, 3725000, true, u"01:01:01 / 01:02:05"},
      {0, 101.0 * 3600000, true, u"00:00:00 / 01:00:00"}, // hours modulo 100
  };
  for (const auto& c : cases)
    EXPECT_EQ(TimeDigits(c.position, c.duration, c.hours), c.text) << c.position;

  // The bar shows hours from a show of an hour on, and repaints the digits once a second.
  for (const double duration : {3599999.0, 3600000.0}) {
    TVideoBarFixture f;
    f.duration = duration;
    f.Make(400);
    EXPECT_EQ(f.bar->Hours(), duration >= 3600000);
    f.bar->SetTime(61500);
    EXPECT_EQ(f.bar->ShownDigits(), duration >= 3600000 ? u"00:01:01 / 01:00:00" : u"01:01 / 59:59");
    const int repaints = f.bar->PartRepaints(kPartTrack);
    f.bar->SetTime(61600);
    f.bar->SetTime(61700);
    // The knob does not move by a pixel in 200 ms of an hour either.
    EXPECT_EQ(f.bar->PartRepaints(kPartTrack), repaints);
    f.bar->SetTime(62000);
    EXPECT_EQ(f.bar->PartRepaints(kPartTrack), repaints + 1);
  }
}

TEST(VideoBarVolume, TheVolumeKnobDragsAndTheSoundButtonMutes) {
  TVideoBarFixture f;
  f.Make(400);
  // Volume track 356 .. 396 with travel 32; at 0.5 the knob's centre is at 376.
  EXPECT_EQ(f.bar->Layout().VolumeKnobCentre(0.5), 376);
  f.Press(376, kTrackY);
  EXPECT_TRUE(f.volumes.empty()) << "a press alone changes nothing";
  f.MoveTo(388, kTrackY);
  f.MoveTo(500, kTrackY); // beyond the track: nothing
  f.MoveTo(396, kTrackY); // limited to the end
  f.Release(396, kTrackY);
  EXPECT_EQ(f.volumes, (std::vector<double>{0.875, 1.0, 1.0}));
  EXPECT_EQ(f.Pixel(392, 10), kVideoKnob);

  // The sound button mutes and gives back the volume before.
  f.bar->SetVolume(0.6f);
  f.volumes.clear();
  f.Press(344, 10);
  EXPECT_EQ(f.bar->Volume(), 0);
  EXPECT_EQ(f.Pixel(344, 10), StripColor(2, 3)) << "pressed, muted";
  f.Release(344, 10);
  EXPECT_EQ(f.Pixel(344, 10), StripColor(0, 3)) << "muted";
  f.Press(344, 10);
  f.Release(344, 10);
  ASSERT_EQ(f.volumes.size(), 2u);
  EXPECT_EQ(f.volumes[0], 0);
  EXPECT_FLOAT_EQ(static_cast<float>(f.volumes[1]), 0.6f);
  EXPECT_EQ(f.Pixel(344, 10), StripColor(0, 2));

  // Without an earlier mute, a bar at 0 stays at 0.
  TVideoBarFixture silent;
  silent.Make(400);
  silent.bar->SetVolume(0);
  silent.Press(344, 10);
  silent.Release(344, 10);
  EXPECT_EQ(silent.bar->Volume(), 0);
}

TEST(VideoBarButtons, PlayPauseFiresOnThePressAndExitInItsOwnPicture) {
  TVideoBarFixture f;
  f.Make(400, 1, {0, 1});
  f.MoveTo(12, 10);
  EXPECT_EQ(f.bar->States()[0], bs_Hover);
  EXPECT_EQ(f.Pixel(12, 10), StripColor(1, 1));
  f.Press(12, 10);
  EXPECT_EQ(f.clicks, (std::vector<int32_t>{kClickPlayPause}));
  EXPECT_TRUE(f.bar->Paused());
  EXPECT_EQ(f.Pixel(12, 10), StripColor(2, 0)) << "pressed, shows play";
  f.MoveTo(40, 10); // held: nothing changes
  EXPECT_EQ(f.bar->States()[0], bs_Click);
  f.Release(40, 10);
  EXPECT_EQ(f.clicks.size(), 1u);
  // Extra buttons by display slot: backward at 20, forward at 36.
  f.Press(38, 10);
  f.Release(38, 10);
  f.Press(22, 10);
  f.Release(22, 10);
  EXPECT_EQ(f.clicks, (std::vector<int32_t>{kClickPlayPause, 1, 0}));
  // In the exit picture (bar height square) the button sits centred: (2, 2) .. (18, 18).
  f.exitZone = true;
  f.MoveTo(10, 10);
  EXPECT_EQ(f.bar->ExitBitmap()->Pixel32(10, 10), StripColor(1, 6));
  f.Press(10, 10);
  EXPECT_EQ(f.clicks.back(), kClickExit);
  f.Release(10, 10);
  f.Press(19, 10); // beside it
  EXPECT_EQ(f.clicks.back(), kClickExit);
  EXPECT_EQ(f.clicks.size(), 4u);
}

TEST(VideoBarSkin, DamagedSkinsMakeNoBarAndNeverDivideByZero) {
  auto with = [](const std::string& from, const std::string& to) {
    std::string skin = kVideoSkin;
    skin.replace(skin.find(from), from.size(), to);
    return skin;
  };
  const struct {
    const char* what;
    std::string skin;
    bool collapsed;
  } cases[] = {
      {"a bar height of 0", with("BarSize=400,20", "BarSize=400,0"), true},
      {"a bar size of one value", with("BarSize=400,20", "BarSize=20"), true},
      {"a bar size that is no number", with("BarSize=400,20", "BarSize=x,y"), true},
      {"no bar size", with("BarSize=400,20", ""), true},
      {"a negative bar height", with("BarSize=400,20", "BarSize=400,-20"), true},
      {"a huge bar height", with("BarSize=400,20", "BarSize=400,99999999"), false},
      {"huge buttons", with("BtnSize=16,16", "BtnSize=99999999,16"), true},
      {"missing pictures", with("flnm_Polzun=knob.bmp", "flnm_Polzun=none.bmp"), false},
  };
  for (const auto& c : cases) {
    TVideoBarFixture f(c.skin);
    f.Make(400);
    EXPECT_EQ(f.bar->Collapsed(), c.collapsed) << c.what;
    if (c.collapsed) {
      EXPECT_EQ(f.bar->Bitmap(), nullptr) << c.what;
      continue;
    }
    ASSERT_TRUE(f.bar->Bitmap()) << c.what;
    EXPECT_LE(f.bar->Bitmap()->Height(), kMaxVideoBarHeight) << c.what;
  }
  // The height asked of a skin without a bar height scales nothing.
  TVideoBarFixture flat(with("BarSize=400,20", "BarSize=400,0"));
  flat.Make(400);
  flat.bar->SetHeight(40);
  EXPECT_TRUE(flat.bar->Collapsed());
  EXPECT_EQ(flat.bar->Scale(), 0);

  // A volume track no longer than its knob keeps its volume when dragged.
  TVideoBarFixture shortTrack(with("VolumeControlLength=40", "VolumeControlLength=6"));
  shortTrack.Make(400);
  ASSERT_FALSE(shortTrack.bar->Collapsed());
  const TVideoBarLayout& l = shortTrack.bar->Layout();
  shortTrack.Press(l.volumeStart + 1, kTrackY);
  shortTrack.MoveTo(l.volumeEnd, kTrackY);
  shortTrack.Release(l.volumeEnd, kTrackY);
  ASSERT_FALSE(shortTrack.volumes.empty());
  EXPECT_DOUBLE_EQ(shortTrack.volumes.back(), 0.5);

  // A skin folder without its separator is refused.
  TVideoBarFixture noFolder;
  TVideoBarCallbacks c;
  c.loadPicture = noFolder.files.Files().picture;
  TVideoNavBar bar(std::move(c));
  EXPECT_THROW(bar.Load(*noFolder.document, u"nav"), ENavSkinError);
}

TEST(NinePatch, CornersKeepTheirSizeUntilTheTargetIsNarrowerThanBoth) {
  EXPECT_EQ(NinePatchGrid(0, 100, 10, 20), (std::array<int32_t, 4>{0, 10, 80, 100}));
  EXPECT_EQ(NinePatchGrid(0, 20, 10, 20), (std::array<int32_t, 4>{0, 5, 5, 20}));
  EXPECT_EQ(NinePatchGrid(5, 5, 3, 3), (std::array<int32_t, 4>{5, 5, 5, 5}));
  // A 6 x 2 picture: red left column, blue right column, green between; stretched to 12 x 2, the
  // columns keep one pixel each and the green centre (solid) fills the rest.
  const TRef<TBitmap> picture = Picture(6, 2, [](int x, int) {
    return x == 0 ? 0xFFFF0000u : x == 5 ? 0xFF0000FFu : 0xFF00FF00u;
  });
  const TNinePatch patch(picture.get(), {0, 0, 6, 2}, 1, 0, 1, 0);
  EXPECT_TRUE(patch.SolidCentre());
  auto target = TRef<TBitmap>::Make(14, 2, TBitmapFormat::Pf32bit);
  target->Fill32(0);
  patch.Draw(*target, {1, 0, 13, 2});
  EXPECT_EQ(target->Pixel32(0, 0), 0u);
  EXPECT_EQ(target->Pixel32(1, 0), 0xFFFF0000u);
  EXPECT_EQ(target->Pixel32(7, 1), 0xFF00FF00u);
  EXPECT_EQ(target->Pixel32(12, 0), 0xFF0000FFu);
  EXPECT_EQ(target->Pixel32(13, 0), 0u);
  // Drawn far outside the target: clipped, nothing written.
  patch.Draw(*target, {-100000, -100000, -5, -5});
  EXPECT_EQ(target->Pixel32(0, 0), 0u);
}

} // namespace
} // namespace kiv

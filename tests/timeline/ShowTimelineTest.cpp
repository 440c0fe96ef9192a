// Show options as the engine reads them: defaults, repeat and end actions, screen-saver mode with its
// rewrite of the project, transition defaults and effect groups, per-slide overrides, and the options
// object of an open show.

#include "TimelineTestUtil.h"

#include "ShowPaths.h"
#include "OpenedShow.h"
#include "ShowTimeline.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <limits>
#include <unistd.h>

namespace kiv {
namespace {

using namespace kiv::test;

std::unique_ptr<TKivSource> Source(const std::string& text) {
  return std::make_unique<TKivSource>(PlainAccessor(), Document(text));
}

std::string Main(const std::string& keys) {
  return "[main]\r\n" + keys;
}

// The player's own file name decides screen-saver mode; every test leaves the real one in place.
class KivSource : public ::testing::Test {
protected:
  void TearDown() override { SetProgramFileName(""); }
};

TEST_F(KivSource, AProjectWithoutMainKeepsEveryDefault) {
  SetProgramFileName("/opt/show/player");
  const auto source = Source("[Slide1]\r\n");
  EXPECT_FALSE(source->ScreenSaver());
  EXPECT_EQ(source->SlideCount(), 0);
  EXPECT_EQ(source->RepeatMode(), TRepeatMode::Repeat);
  EXPECT_TRUE(source->PauseWhenInactive());
  EXPECT_EQ(source->HiderColor(), TBGRColor{});
  EXPECT_EQ(source->UnsharpThreshold(), 0);
  EXPECT_FALSE(source->ManualShow());
  EXPECT_FALSE(source->Random());
  EXPECT_EQ(source->ScreenMode(), 1);
  EXPECT_EQ(source->RunOnExit().mode, 0);
  EXPECT_TRUE(source->RunOnExit().ifLastSlide);
  EXPECT_FALSE(source->TransitionsEnabled());
  EXPECT_EQ(source->EffectTime(), 0);
  const TEffectParams& p = source->DefaultEffectParams();
  EXPECT_TRUE(p.rollVariants);
  EXPECT_TRUE(p.flipSmooth);
  EXPECT_FLOAT_EQ(p.rollCurving, 0.125f);
  EXPECT_FLOAT_EQ(p.swapMaxAngle, 60);
  EXPECT_EQ(p.centerX, 50);
  EXPECT_EQ(p.mosaicDX, 1);
  // Not a screen saver: the project says so for the readers that come later.
  EXPECT_EQ(source->Document().ReadString(u"main", u"opt_ssaver", u""), u"0");
}

TEST_F(KivSource, RepeatModeIsOneOfThreeWordsInLowerCase) {
  const struct {
    std::string value;
    TRepeatMode mode;
  } cases[] = {
      {"repeat", TRepeatMode::Repeat}, {"close", TRepeatMode::Close}, {"stop", TRepeatMode::Stop},
      {"Close", TRepeatMode::Repeat},  {"STOP", TRepeatMode::Repeat}, {"", TRepeatMode::Repeat},
  };
  for (const auto& c : cases)
    EXPECT_EQ(Source(Main("opt_repeat=" + c.value + "\r\n"))->RepeatMode(), c.mode) << c.value;
}

TEST_F(KivSource, ShowOptionsAreReadWithTheirTypes) {
  const auto source =
      Source(Main("opt_slidescount=7\r\nopt_pausewheninactive=0\r\nopt_scr_hidercolor=3351057\r\n"
                  "opt_scr_unsharpamount=1.5\r\nopt_scr_unsharpthreshold=300\r\n"
                  "opt_manualshow=1\r\nopt_random=1\r\nopt_scr_full=0\r\nopt_runapponexit=2\r\n"
                  "opt_runapponexitiflastslide=0\r\nopt_runapponexitfn=next.exe\r\n"));
  EXPECT_EQ(source->SlideCount(), 7);
  EXPECT_FALSE(source->PauseWhenInactive());
  // 3351057 = 0x332211: red in the low byte.
  EXPECT_EQ(source->HiderColor(), (TBGRColor{0x33, 0x22, 0x11}));
  EXPECT_FLOAT_EQ(source->UnsharpAmount(), 1.5f);
  EXPECT_EQ(source->UnsharpThreshold(), 300 - 256); // kept in a byte: its low byte
  EXPECT_TRUE(source->ManualShow());
  EXPECT_TRUE(source->Random());
  EXPECT_EQ(source->ScreenMode(), 0);
  EXPECT_EQ(source->RunOnExit().mode, 2);
  EXPECT_FALSE(source->RunOnExit().ifLastSlide);
  EXPECT_EQ(source->RunOnExit().fileName, u"next.exe");
  EXPECT_EQ(Source(Main("opt_slidescount=-4\r\n"))->SlideCount(), 0);
}

TEST_F(KivSource, APlayerNamedScrInAnyCaseRunsAsScreenSaverAndRewritesTheProject) {
  const struct {
    std::string program;
    bool saver;
  } cases[] = {
      {"/home/u/Trip.scr", true},      {"/home/u/TRIP.SCR", true}, {"C:\\Trip.Scr", true},
      {"/home/u/trip.scr.exe", false}, {"/home/u/scr", false},     {"/home/u/trip", false},
  };
  const std::string project = Main("opt_repeat=stop\r\nopt_fcp=1\r\nopt_hidecursor=0\r\nopt_scr_full=0\r\n");
  for (const auto& c : cases) {
    SetProgramFileName(c.program);
    const auto source = Source(project);
    EXPECT_EQ(source->ScreenSaver(), c.saver) << c.program;
    const TIniFile& doc = source->Document();
    EXPECT_EQ(doc.ReadString(u"main", u"opt_ssaver", u""), c.saver ? u"1" : u"0") << c.program;
    EXPECT_EQ(source->RepeatMode(), c.saver ? TRepeatMode::Repeat : TRepeatMode::Stop) << c.program;
    EXPECT_EQ(doc.ReadString(u"main", u"opt_repeat", u""), c.saver ? u"repeat" : u"stop");
    EXPECT_EQ(doc.ReadString(u"main", u"opt_fcp", u""), c.saver ? u"0" : u"1");
    EXPECT_EQ(doc.ReadString(u"main", u"opt_hidecursor", u""), c.saver ? u"1" : u"0");
    EXPECT_EQ(source->ScreenMode(), c.saver ? 1 : 0);
  }
  // A project without "main" gets one holding the screen-saver values.
  SetProgramFileName("/x/a.SCR");
  const auto bare = Source("[Slide1]\r\n");
  EXPECT_NE(bare->MainSection(), nullptr);
  EXPECT_EQ(bare->Document().ReadString(u"main", u"opt_scr_full", u""), u"1");
}

TEST_F(KivSource, TransitionsNeedEnablingAPositiveTimeAndAnActiveGroup) {
  const struct {
    std::string keys;
    bool on;
    int time;
  } cases[] = {
      {"opt_fx_enable=1\r\nopt_fx_time=1500\r\nopt_fx_eff3=1A\r\n", true, 1500},
      {"opt_fx_enable=1\r\nopt_fx_time=0\r\nopt_fx_eff3=1A\r\n", false, 0},
      {"opt_fx_enable=0\r\nopt_fx_time=1500\r\nopt_fx_eff3=1A\r\n", false, 0},
      {"opt_fx_enable=1\r\nopt_fx_time=-20\r\nopt_fx_eff3=1A\r\n", false, 0},
      {"opt_fx_enable=1\r\nopt_fx_time=1500\r\n", false, 0}, // no effect group
      {"opt_fx_enable=1\r\nopt_fx_time=1500\r\nopt_fx_eff1=1\r\n", true, 1500},
  };
  for (const auto& c : cases) {
    const auto source = Source(Main(c.keys));
    EXPECT_EQ(source->TransitionsEnabled(), c.on) << c.keys;
    EXPECT_EQ(source->EffectTime(), c.time) << c.keys;
  }
}

TEST_F(KivSource, TransitionDefaultsBeyondTheSmoothLineAreReadOnlyWhileTransitionsAreOn) {
  const std::string params = "opt_fx_smoothline=250\r\nopt_fx_broomoffset=150\r\nopt_fx_rolldiameter=500\r\n"
                             "opt_fx_rollusebackcolor=1\r\nopt_fx_rollbackcolor=255\r\nopt_fx_roll3d=1\r\n"
                             "opt_fx_flipsmooth=0\r\nopt_fx_swapdepth=2.5\r\nopt_fx_center_x=10\r\n"
                             "opt_fx_mosaic_sc=3\r\n";
  const auto off = Source(Main(params));
  EXPECT_FLOAT_EQ(off->DefaultEffectParams().smoothLine, 0.25f);
  EXPECT_FLOAT_EQ(off->DefaultEffectParams().broomOffset, 0);
  EXPECT_FALSE(off->DefaultEffectParams().roll3D);

  const auto on = Source(Main(params + "opt_fx_enable=1\r\nopt_fx_time=800\r\nopt_fx_eff2=12\r\n"));
  const TEffectParams& p = on->DefaultEffectParams();
  EXPECT_FLOAT_EQ(p.smoothLine, 0.25f);
  EXPECT_FLOAT_EQ(p.broomOffset, 1.5f);
  EXPECT_FLOAT_EQ(p.rollDiameter, 0.5f);
  EXPECT_TRUE(p.rollUseBackColor);
  EXPECT_EQ(p.rollBackColor, (TBGRColor{0, 0, 255}));
  EXPECT_TRUE(p.roll3D);
  EXPECT_FALSE(p.flipSmooth);
  EXPECT_FLOAT_EQ(p.swapDepth, 2.5f);
  EXPECT_EQ(p.centerX, 10);
  EXPECT_EQ(p.mosaicSC, 3);

  // The back colour counts only when it is used.
  const auto unused =
      Source(Main("opt_fx_enable=1\r\nopt_fx_time=800\r\nopt_fx_eff2=1\r\nopt_fx_rollbackcolor=255\r\n"));
  EXPECT_EQ(unused->DefaultEffectParams().rollBackColor, TBGRColor{});
}

TEST_F(KivSource, RollVariantsAreOnOffOrDrawnPerSlide) {
  const struct {
    std::string value;
    bool variants;
    bool drawn;
  } cases[] = {{"1", true, false}, {"2", false, false}, {"3", false, true}, {"0", false, false}};
  for (const auto& c : cases) {
    const auto source = Source(Main(
        "opt_fx_enable=1\r\nopt_fx_time=800\r\nopt_fx_eff2=1\r\nopt_fx_rollvariants=" + c.value + "\r\n"));
    EXPECT_EQ(source->DefaultEffectParams().rollVariants, c.variants) << c.value;
    EXPECT_EQ(source->RollVariantsDrawn(), c.drawn) << c.value;
  }
}

TEST_F(KivSource, EffectGroupsCollectTypesAndGroup19SelectsCustomTransitions) {
  EXPECT_EQ(EffectTypeOf(u'1'), 1);
  EXPECT_EQ(EffectTypeOf(u'8'), 8);
  EXPECT_EQ(EffectTypeOf(u'A'), 9);
  EXPECT_EQ(EffectTypeOf(u'h'), 16);
  EXPECT_EQ(EffectTypeOf(u'9'), 1);
  EXPECT_EQ(EffectTypeOf(u'I'), 1);

  const auto source =
      Source(Main("opt_fx_enable=1\r\nopt_fx_time=800\r\nopt_fx_eff3=1A\r\nopt_fx_eff5=zz1\r\n"
                  "opt_fx_custom_count=3\r\nopt_fx_eff19=2, 0,7,x,-1\r\n"
                  "opt_fx_custom0=wipe.kiv\r\nopt_fx_custom1=b.kiv\r\nopt_fx_custom2=c.kiv\r\n"));
  const auto& groups = source->EffectGroups();
  EXPECT_EQ(groups[2].types, (1u << 1) | (1u << 9));
  EXPECT_EQ(groups[2].count, 2);
  EXPECT_EQ(groups[4].types, 1u << 1); // letters outside A..H are type 1
  EXPECT_EQ(groups[4].count, 3);
  EXPECT_EQ(groups[0].types, 0u);
  std::vector<int> active = source->ActiveGroups();
  std::sort(active.begin(), active.end());
  EXPECT_EQ(active, (std::vector<int>{2, 4, 18}));
  EXPECT_EQ(source->DefaultEffectParams().customDescription, u"wipe.kiv|c.kiv");
}

TEST_F(KivSource, EndActionsComeFromTheSlideOrFallBackToManualShow) {
  const struct {
    std::string slide;
    bool manual;
    TEndAction action;
  } cases[] = {
      {"UsePersonal=1\r\nPers_EndAction=pause\r\n", false, TEndAction::Pause},
      {"UsePersonal=1\r\nPers_EndAction=loop\r\n", false, TEndAction::Loop},
      {"UsePersonal=1\r\nPers_EndAction=\r\n", true, TEndAction::Pause},
      {"UsePersonal=0\r\nPers_EndAction=loop\r\n", true, TEndAction::Pause},
      {"UsePersonal=1\r\nPers_EndAction=\r\n", false, TEndAction::None},
      {"UsePersonal=1\r\nPers_EndAction=Pause\r\n", true, TEndAction::None}, // other text: none
      {"", true, TEndAction::Pause},
  };
  for (const auto& c : cases) {
    const auto source = Source(Main(std::string("opt_slidescount=1\r\nopt_manualshow=") +
                                    (c.manual ? "1" : "0") + "\r\n[Slide1]\r\n" + c.slide));
    EXPECT_EQ(source->GetEndAction(0), c.action) << c.slide << c.manual;
  }
}

TEST_F(KivSource, ASlideRunsAProgramOnlyWithItsOwnOptions) {
  const auto source = Source(Main("opt_slidescount=3\r\n") +
                             "[Slide1]\r\nUsePersonal=1\r\nPers_RunApp=1\r\nRunAppFN=notes.txt\r\n"
                             "[Slide2]\r\nUsePersonal=0\r\nPers_RunApp=1\r\nRunAppFN=x.exe\r\n");
  std::u16string file = u"stale";
  EXPECT_TRUE(source->GetRunApp(0, file));
  EXPECT_EQ(file, u"notes.txt");
  EXPECT_FALSE(source->GetRunApp(1, file));
  EXPECT_FALSE(source->GetRunApp(2, file)); // no section
}

TEST_F(KivSource, APersonalFixedTransitionOverridesTheDefaultsARandomOneDoesNot) {
  const std::string show = Main("opt_slidescount=3\r\nopt_fx_enable=1\r\nopt_fx_time=800\r\nopt_fx_eff2=1\r\n"
                                "opt_fx_broomoffset=100\r\nopt_fx_smoothline=100\r\n");
  const std::string overrides = "UsePersonal=1\r\nPers_Effect=1\r\nEffectBroomOffset=300\r\n"
                                "EffectUseSmoothline=1\r\nEffectSmoothline=500\r\nEffectRoll3D=1\r\n";
  const auto source =
      Source(show + "[Slide1]\r\nEffect_Class=5\r\n" + overrides + "[Slide2]\r\nEffect_Class=-1\r\n" +
             overrides + "[Slide3]\r\nUsePersonal=1\r\nEffect_Class=5\r\nEffectBroomOffset=300\r\n");
  const TEffectParams fixed = source->SlideEffectParams(0);
  EXPECT_FLOAT_EQ(fixed.broomOffset, 3);
  EXPECT_FLOAT_EQ(fixed.smoothLine, 0.5f);
  EXPECT_TRUE(fixed.roll3D);
  const TEffectParams random = source->SlideEffectParams(1);
  EXPECT_FLOAT_EQ(random.broomOffset, 1);
  EXPECT_FLOAT_EQ(random.smoothLine, 0.5f); // the smooth line follows EffectUseSmoothline for any class
  EXPECT_FALSE(random.roll3D);
  EXPECT_FLOAT_EQ(source->SlideEffectParams(2).broomOffset, 1); // no Pers_Effect
}

TEST_F(KivSource, SlidesAreLookedUpInPlayOrder) {
  const auto source = Source(Main("ProjectFilePath=/tests/source-order.kiv\r\nopt_slidescount=2\r\n") +
                             "[slide1]\r\nslideid=first\r\n[SLIDE2]\r\nslideid=second\r\n");
  ASSERT_NE(source->GetSlideSection(1), nullptr);
  EXPECT_EQ(source->GetSlideSection(1)->ReadString(u"slideid", u""), u"second");
  EXPECT_EQ(source->SlideNumberAt(1), 1);
  EXPECT_EQ(source->GetSlideSection(-1), nullptr);
}

TEST_F(KivSource, AnOpenShowHasOneOptionsObjectMadeOnFirstUse) {
  const std::filesystem::path file =
      std::filesystem::temp_directory_path() / ("kiv_source_" + std::to_string(::getpid()) + ".kiv");
  std::ofstream(file, std::ios::binary) << "[main]\r\nopt_slidescount=4\r\nopt_repeat=close\r\n";
  SetProgramFileName("/usr/bin/Saver.SCR");
  auto locator = OpenProjectFile(file.string());
  std::filesystem::remove(file);
  ASSERT_TRUE(locator);
  EXPECT_EQ(locator->OptionsSlot(), nullptr);
  TKivSource& options = Options(*locator);
  EXPECT_EQ(&Options(*locator), &options);
  EXPECT_EQ(locator->OptionsSlot(), &options);
  EXPECT_EQ(options.StartSlideIndex(), 0);
  EXPECT_EQ(&options.Accessor(), &locator->Accessor());
  EXPECT_EQ(options.SlideCount(), 4);
  // The rewrite is made in the locator's own project, where the shell's later readers look.
  EXPECT_EQ(locator->Project()->ReadString(u"main", u"opt_repeat", u""), u"repeat");
}

// Slides with their own transition of a fixed class and the given time.
std::string PersonalEffect(int time) {
  return "UsePersonal=1\r\nPers_Effect=1\r\nEffect_Class=5\r\nEffectTime=" + std::to_string(time) + "\r\n";
}
const std::string kEffectsOn = "opt_fx_enable=1\r\nopt_fx_time=800\r\nopt_fx_eff2=1\r\n";

void ExpectTiming(const TSlideInfo& info, double start, double end, double in, double out, double visible,
                  const std::string& what) {
  EXPECT_EQ(info.start, start) << what;
  EXPECT_EQ(info.end, end) << what;
  EXPECT_EQ(info.effectIn, in) << what;
  EXPECT_EQ(info.effectOut, out) << what;
  EXPECT_EQ(info.visibleUntil, visible) << what;
}

TEST_F(KivSource, TheTimingTableCapsTheEffectInButNotTheEffectOut) {
  const auto source = Source(Main("opt_slidescount=2\r\nopt_repeat=stop\r\nopt_synchpos1=1000\r\n"
                                  "opt_synchpos2=3000\r\n" +
                                  kEffectsOn) +
                             "[Slide1]\r\n" + PersonalEffect(500) + "[Slide2]\r\n" + PersonalEffect(4000));
  ExpectTiming(source->GetSlideTiming(0), 0, 1000, 500, 4000, 5000, "slide 1");
  ExpectTiming(source->GetSlideTiming(1), 1000, 3000, 2000, 0, 3000, "slide 2");
  EXPECT_EQ(source->TotalDuration(), 3000);
  // Slide 1 stays on screen through all of slide 2.
  for (double t : {1000.0, 2000.0, 3000.0, 4999.0})
    EXPECT_EQ(source->FindFirstVisible(t), 0) << t;
  EXPECT_EQ(source->FindFirstVisible(499), -1);
  // The positions around the show.
  ExpectTiming(source->GetSlideTiming(-1), kBeforeShowStart, 0, 0, 500, 500, "before the show");
  ExpectTiming(source->GetSlideTiming(-2), kFarPastStart, kBeforeShowStart, 0, 0, kBeforeShowStart, "-2");
  ExpectTiming(source->GetSlideTiming(-70000), kFarPastStart, kBeforeShowStart, 0, 0, kBeforeShowStart,
               "far");
}

TEST_F(KivSource, RepeatedPassesShiftTimesButNotEffectLengths) {
  const auto source = Source(Main("opt_slidescount=3\r\nopt_synchpos1=3000\r\nopt_synchpos2=6000\r\n"
                                  "opt_synchpos3=9000\r\n" +
                                  kEffectsOn) +
                             "[Slide1]\r\nslideid=a\r\n[Slide2]\r\nslideid=b\r\n[Slide3]\r\nslideid=c\r\n");
  EXPECT_EQ(source->TotalDuration(), 9000);
  // Under repeat the last slide hands over to the first of the next pass.
  ExpectTiming(source->GetSlideTiming(2), 6000, 9000, 800, 800, 9800, "last");
  const TSlideInfo info = source->GetSlideTiming(4);
  ExpectTiming(info, 12000, 15000, 800, 800, 15800, "position 4");
  EXPECT_EQ(info.slideId, u"b");
  EXPECT_EQ(source->GetSlideTiming(300000).start, 100000 * 9000.0);
}

TEST_F(KivSource, FindSlideAtGivesBoundariesToTheEarlierSlide) {
  // The second slide has no length: a time on its boundary belongs to the first.
  const auto source =
      Source(Main("opt_slidescount=3\r\nopt_synchpos1=1000\r\nopt_synchpos2=1000\r\nopt_synchpos3=2000\r\n"));
  const struct {
    double time;
    int32_t position;
  } cases[] = {
      {-5, -1},     {0, -1},   {0.5, 0},    {1000, 0}, {1000.5, 2}, {2000, 2},
      {2000.25, 3}, {3000, 3}, {3000.5, 5}, {4000, 5}, {20001, 30},
  };
  for (const auto& c : cases)
    EXPECT_EQ(source->FindSlideAt(c.time), c.position) << c.time;
  // Far in the future the answer still holds the time, and infinity saturates instead of wrapping.
  const int32_t far = source->FindSlideAt(1e12 + 1);
  const TSlideInfo info = source->GetSlideTiming(far);
  EXPECT_LT(info.start, 1e12 + 1);
  EXPECT_GE(info.end, 1e12 + 1);
  EXPECT_EQ(source->FindSlideAt(std::numeric_limits<double>::infinity()),
            std::numeric_limits<int32_t>::max());
  EXPECT_EQ(source->FindSlideAt(std::numeric_limits<double>::quiet_NaN()), -1);
}

TEST_F(KivSource, AShowWithoutLengthIsOnePassAndSearchesEnd) {
  const struct {
    std::string keys;
    int32_t atSlide;
    int32_t visible;
  } cases[] = {
      {"opt_slidescount=3\r\n", 2, 2},
      {"opt_slidescount=0\r\nopt_synchpos1=500\r\n", -1, -1},
  };
  for (const auto& c : cases) {
    const auto source = Source(Main(c.keys));
    EXPECT_EQ(source->TotalDuration(), 0) << c.keys;
    EXPECT_EQ(source->FindSlideAt(5), c.atSlide) << c.keys;
    EXPECT_EQ(source->FindSlideAt(1e15), c.atSlide) << c.keys;
    EXPECT_EQ(source->FindFirstVisible(1e15), c.visible) << c.keys;
  }
}

TEST_F(KivSource, AnEndBeforeThePreviousEndIsAnIncorrectTime) {
  for (const std::string keys : {"opt_slidescount=2\r\nopt_synchpos1=1000\r\nopt_synchpos2=999\r\n",
                                 "opt_slidescount=1\r\nopt_synchpos1=-1\r\n"}) {
    try {
      Source(Main(keys));
      ADD_FAILURE() << keys;
    } catch (const Exception& e) {
      EXPECT_STREQ(e.what(), "Incorrect time");
    }
  }
  // Keys of slides the show does not have are not read.
  EXPECT_NO_THROW(Source(Main("opt_slidescount=1\r\nopt_synchpos1=1000\r\nopt_synchpos2=5\r\n")));
}

TEST_F(KivSource, ASlideIdFallsBackToThePictureName) {
  const struct {
    std::string slide;
    std::u16string id;
  } cases[] = {
      {"slideid=intro\r\npicture=C:\\a\\b.jpg\r\n", u"intro"},
      {"picture=C:\\Photos\\Trip.2020.jpg\r\n", u"Trip.2020"},
      {"picture=photos\\summer\\\r\n", u"summer"},
      {"picture=plain\r\n", u"plain"},
      {"picture=\r\n", u""},
  };
  for (const auto& c : cases) {
    const auto source = Source(Main("opt_slidescount=2\r\n") + "[Slide1]\r\n" + c.slide);
    EXPECT_EQ(source->GetSlideTiming(0).slideId, c.id) << c.slide;
    EXPECT_EQ(source->GetSlideTiming(1).slideId, u"") << "no section";
  }
}

TEST_F(KivSource, ALoopingSlideLoopsOverItsStillTime) {
  const auto source =
      Source(Main("opt_slidescount=2\r\nopt_synchpos1=1000\r\nopt_synchpos2=4000\r\n" + kEffectsOn) +
             "[Slide2]\r\nUsePersonal=1\r\nPers_EndAction=loop\r\n");
  double loop = -1;
  EXPECT_EQ(source->GetEndAction(1, loop), TEndAction::Loop);
  EXPECT_EQ(loop, 3000 - 800);
  loop = -1;
  EXPECT_EQ(source->GetEndAction(0, loop), TEndAction::None);
  EXPECT_EQ(loop, -1);
}

} // namespace
} // namespace kiv

// The music player as the show's clock and as the scheduler of the show's sound, on the offline output
// under a virtual host: the clock through start, pause, resume and jumps; comments and main music starting
// at their show times with a fade and ending when their time passes; the five-second window; repeat
// passes; unreadable files; shows of length 0.

#include "PlayerTestSupport.h"
#include "ShowSoundRender.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

namespace kiv {
namespace {

using namespace kiv::test;

// Where a sound may begin against its show time: the player starts channels in the first step (5 ms)
// that reaches their time, and the output writes one mix period (10 ms) ahead of what plays; the clock
// itself begins one mix period after the output starts, so sounds due at the very start come that much
// early. A stop reaches the sound after the channel's rewrite margin (25 ms) and its 10 ms fade.
constexpr double kEarlyMs = 10, kLateMs = 5 + 10 + 1, kStopLateMs = 5 + 10 + 25 + 10 + 1;

TEST(ShowMusicPlayer, TheClockFollowsThePlayedSoundThroughPausesAndJumps) {
  TShowPlayerRig rig;
  rig.Open(Project({4000, 8000}, "", {}));
  EXPECT_DOUBLE_EQ(rig.player->GetShowTime(), 0) << "made paused at 0";
  ASSERT_TRUE(rig.BeginAt(1000));
  rig.host.Advance(20);
  const double lag = rig.ClockLagMs();
  EXPECT_GE(lag, 0);
  EXPECT_LE(lag, 10.0) << "at most one mix period";
  const double base = rig.player->GetShowTime() - 20; // show time 1000, counted from the clock's start
  const struct {
    const char* what;
    int advanceMs;
    bool playing; // state set before advancing
    double expected;
  } steps[] = {
      {"running", 500, true, 520}, {"paused", 700, false, 520}, {"resumed", 300, true, 820},
      {"running", 2000, true, 2820},
  };
  for (const auto& step : steps) {
    if (step.playing) {
      rig.player->SetPlaying(true);
    } else {
      rig.player->SetPlaying(false);
    }
    rig.host.RunReady();
    rig.host.Advance(step.advanceMs);
    EXPECT_NEAR(rig.player->GetShowTime() - base, step.expected, 1.0) << step.what;
  }
  // A jump stops the clock at the new time until the engine plays again.
  rig.player->SetTime(-1, 6000);
  EXPECT_DOUBLE_EQ(rig.player->GetShowTime(), 6000);
  rig.host.Advance(300);
  EXPECT_DOUBLE_EQ(rig.player->GetShowTime(), 6000);
  EXPECT_TRUE(rig.player->IsReady()) << "nothing to load";
  rig.player->SetPlaying(true);
  rig.host.RunReady();
  rig.host.Advance(250);
  EXPECT_NEAR(rig.player->GetShowTime(), 6250, 11.0);
  // The end limit caps the time.
  rig.player->SetEndLimit(6400);
  rig.host.Advance(500);
  EXPECT_DOUBLE_EQ(rig.player->GetShowTime(), 6400);
  EXPECT_DOUBLE_EQ(rig.player->LastEndLimit(), 6400);
}

TEST(ShowMusicPlayer, WithoutASoundDeviceTheClockIsTheHostsAndTheShowStillBecomesReady) {
  TShowPlayerRig rig(false);
  const std::string a = rig.Dc("a.wav", 1000, 1000);
  rig.Open(Project({3000}, "", {"Sound=" + a + "\nSoundLength=1000\n"}));
  EXPECT_EQ(rig.player->Audio(), nullptr);
  ASSERT_TRUE(rig.BeginAt(500));
  rig.host.Advance(1200);
  EXPECT_DOUBLE_EQ(rig.player->GetShowTime(), 1700);
}

// Three slides of 2000 ms; slides 1 and 3 speak.
struct TCommentShow {
  TShowPlayerRig rig;
  std::string a, c;
  TCommentShow() {
    a = rig.Dc("a.wav", 1500, 1000);
    c = rig.Dc("c.wav", 3000, 3000);
    rig.Open(Project({2000, 4000, 6000}, "opt_repeat=stop\n",
                     {"Sound=" + a + "\nSoundLength=1500\n", "", "Sound=" + c + "\nSoundLength=3000\n"}));
  }
};

TEST(ShowMusicPlayer, EachCommentSoundsFromItsSlidesStartWithAFadeAndEndsAtItsEnd) {
  TCommentShow show;
  TShowPlayerRig& rig = show.rig;
  ASSERT_TRUE(rig.BeginAt(0));
  rig.host.Advance(7000);
  rig.player->SetEndLimit(100000);
  const double lag = rig.ClockLagMs();
  const std::vector<int> left = rig.Left();
  const struct {
    int level;
    double start, end; // show time
  } sounds[] = {{1000, 0, 1500}, {3000, 4000, 6000 - 10}};
  for (const auto& sound : sounds) {
    const int64_t onset = [&] {
      const int64_t from = rig.FrameOfShowTime(sound.start, lag) - 441 * 3;
      for (int64_t i = std::max<int64_t>(from, 0); i < int64_t(left.size()); ++i)
        if (left[i] != 0) return i;
      return int64_t(-1);
    }();
    ASSERT_GE(onset, 0) << sound.level;
    // Begins within 5 ms of its show time and fades in over 10 ms.
    EXPECT_GE(rig.ShowTimeOfFrame(onset, lag), sound.start - kEarlyMs) << sound.level;
    EXPECT_LE(rig.ShowTimeOfFrame(onset, lag), sound.start + kLateMs) << sound.level;
    const int64_t full = FirstAtLeast(left, sound.level, onset);
    EXPECT_NEAR(double(full - onset), 441, 2) << sound.level;
    EXPECT_NEAR(left[onset + 220], sound.level / 2, sound.level / 100) << "a straight ramp";
    // Silent again within 5 ms (plus the 10 ms fade) of its end.
    const int64_t silent = FirstSilent(left, full);
    ASSERT_GT(silent, 0) << sound.level;
    EXPECT_GE(rig.ShowTimeOfFrame(silent, lag), sound.end - kEarlyMs) << sound.level;
    EXPECT_LE(rig.ShowTimeOfFrame(silent, lag), sound.end + kStopLateMs) << sound.level;
  }
  // Nothing between the first comment's end and the third slide.
  const int64_t quietFrom = rig.FrameOfShowTime(1600, lag), quietTo = rig.FrameOfShowTime(3990, lag);
  EXPECT_TRUE(std::all_of(left.begin() + quietFrom, left.begin() + quietTo, [](int s) { return s == 0; }));
}

TEST(ShowMusicPlayer, OnlyTheCommentsOfTheNextFiveSecondsAreMade) {
  TShowPlayerRig rig;
  std::vector<std::string> slides;
  std::vector<int> ends;
  for (int i = 0; i < 6; ++i) {
    slides.push_back("Sound=" + rig.Dc("s" + std::to_string(i) + ".wav", 500, 100 * (i + 1)) +
                     "\nSoundLength=500\n");
    ends.push_back(2000 * (i + 1));
  }
  rig.Open(Project(ends, "", slides));
  const auto commentStarts = [&] {
    std::vector<double> starts;
    for (TPlayItem* item : rig.player->Items())
      if (auto* comment = dynamic_cast<TPlayComment*>(item); comment && !comment->Stopped())
        starts.push_back(comment->Channel()->StartTime());
    std::sort(starts.begin(), starts.end());
    return starts;
  };
  ASSERT_TRUE(rig.BeginAt(0));
  EXPECT_EQ(commentStarts(), (std::vector<double>{0, 2000, 4000}));
  const struct {
    int showTime;
    std::vector<double> starts;
  } cases[] = {
      {900, {2000, 4000}},         // the first comment is over
      {1100, {2000, 4000, 6000}},  // 6000 came within five seconds
      {5200, {6000, 8000, 10000}}, // 4000 over
  };
  for (const auto& c : cases) {
    rig.host.Advance(c.showTime - static_cast<int>(std::lround(rig.player->GetShowTime())));
    EXPECT_EQ(commentStarts(), c.starts) << c.showTime;
  }
}

TEST(ShowMusicPlayer, AJumpIntoACommentPlaysItFromTheMatchingPlaceInItsFile) {
  TShowPlayerRig rig;
  const std::string ramp = rig.Ramp("ramp.wav", 4000);
  rig.Open(Project({1000, 5000}, "", {"", "Sound=" + ramp + "\nSoundLength=4000\n"}));
  ASSERT_TRUE(rig.BeginAt(2500)); // 1500 ms into the second slide's comment
  rig.host.Advance(300);
  const std::vector<int> left = rig.Left();
  const int64_t full = FirstAtLeast(left, 1, 442); // after the fade-in
  ASSERT_GT(full, 0);
  // The sample at frame k of the mix comes from frame (1500 ms + k) of the file; within the step.
  const double fileMs = double(left[600]) * 4 / 44.1 - 600 / 44.1;
  EXPECT_NEAR(fileMs, 1500, 6.0);
}

TEST(ShowMusicPlayer, PausingInACommentResumesItWhereItStopped) {
  TShowPlayerRig rig;
  const std::string ramp = rig.Ramp("ramp.wav", 5000);
  rig.Open(Project({5000}, "", {"Sound=" + ramp + "\nSoundLength=5000\n"}));
  ASSERT_TRUE(rig.BeginAt(0));
  rig.host.Advance(1000);
  rig.Pause();
  rig.host.Advance(500);
  const int64_t pausedFrames = static_cast<int64_t>(rig.Left().size());
  rig.player->SetPlaying(true);
  rig.host.RunReady();
  rig.host.Advance(500);
  const std::vector<int> left = rig.Left();
  // Silence while paused, then the file goes on from about the second it had reached.
  EXPECT_EQ(left[pausedFrames - 441], 0);
  const int64_t back = FirstAtLeast(left, 1, pausedFrames - 441);
  ASSERT_GT(back, 0);
  const double resumedFileMs = double(left[back + 441]) * 4 / 44.1;
  EXPECT_NEAR(resumedFileMs, 1000 + 10, 40.0) << "within the stop's fade and one step";
}

TEST(ShowMusicPlayer, ALoopingShowInSyncModeRestartsTheMainMusicAtEveryPass) {
  TShowPlayerRig rig;
  const std::string m = rig.Dc("m.wav", 2000, 2000);
  rig.Open(Project({1500, 3000},
                   "opt_syncmode=1\nopt_usemusic=1\nopt_repeatmusic=0\nopt_music_count=1\nopt_music1=" + m +
                       "\nopt_lengthlist1=2000\nopt_repeat=repeat\n",
                   {}));
  ASSERT_DOUBLE_EQ(rig.player->Music().ShowLength(), 3000);
  ASSERT_TRUE(rig.BeginAt(0));
  rig.host.Advance(9500);
  const double lag = rig.ClockLagMs();
  const std::vector<int> left = rig.Left();
  int64_t from = 0;
  for (const double pass : {0.0, 3000.0, 6000.0, 9000.0}) {
    const int64_t onset = FirstAtLeast(left, 1, from);
    ASSERT_GE(onset, 0) << pass;
    EXPECT_GE(rig.ShowTimeOfFrame(onset, lag), pass - kEarlyMs) << pass;
    EXPECT_LE(rig.ShowTimeOfFrame(onset, lag), pass + kLateMs) << pass;
    if (pass == 9000.0) break;
    const int64_t silent = FirstSilent(left, onset + 442);
    EXPECT_GE(rig.ShowTimeOfFrame(silent, lag), pass + 2000 - kEarlyMs) << pass;
    EXPECT_LE(rig.ShowTimeOfFrame(silent, lag), pass + 2000 + kStopLateMs) << pass;
    from = silent;
  }
}

TEST(ShowMusicPlayer, OutsideSyncModeTheMainMusicIgnoresJumps) {
  TShowPlayerRig rig;
  const std::string ramp = rig.Ramp("m.wav", 8000);
  rig.Open(Project({3000, 6000},
                   "opt_usemusic=1\nopt_repeatmusic=0\nopt_music_count=1\nopt_music1=" + ramp +
                       "\nopt_lengthlist1=8000\n",
                   {}));
  ASSERT_TRUE(rig.BeginAt(0));
  rig.host.Advance(1000);
  ASSERT_TRUE(rig.BeginAt(5000)); // the show jumps; the music goes on from where it was
  rig.host.Advance(500);
  const std::vector<int> left = rig.Left();
  const double fileMs = double(left[left.size() - 1]) * 4 / 44.1;
  EXPECT_GT(fileMs, 1400);
  EXPECT_LT(fileMs, 1600);
}

TEST(ShowMusicPlayer, AnUnreadableFileIsSkippedAndTheShowStillBecomesReady) {
  const struct {
    const char* what;
    bool mainMusic;
  } cases[] = {{"comment", false}, {"main music", true}};
  for (const auto& c : cases) {
    TShowPlayerRig rig;
    const std::string good = rig.Dc("good.wav", 1000, 1500);
    const std::string missing = rig.dir + "/missing.wav";
    WriteFile(rig.dir + "/broken.wav", {'R', 'I', 'F', 'F', 1, 2, 3});
    const std::string mainKeys = c.mainMusic ? "opt_syncmode=1\nopt_usemusic=1\nopt_music_count=1\nopt_music1=" +
                                                   missing + "\nopt_lengthlist1=5000\n"
                                             : "";
    rig.Open(Project({2000, 4000}, mainKeys,
                     {"Sound=" + (c.mainMusic ? good : rig.dir + "/broken.wav") + "\nSoundLength=1000\n",
                      "Sound=" + (c.mainMusic ? missing : good) + "\nSoundLength=1000\n"}));
    ASSERT_TRUE(rig.BeginAt(0)) << c.what;
    rig.host.Advance(4500);
    const double lag = rig.ClockLagMs();
    EXPECT_LE(lag, 10.0) << c.what << ": the clock runs on";
    const std::vector<int> left = rig.Left();
    const int64_t onset = FirstAtLeast(left, 1500);
    ASSERT_GE(onset, 0) << c.what << ": the readable comment still plays";
    const double due = c.mainMusic ? 0 : 2000;
    EXPECT_GE(rig.ShowTimeOfFrame(onset, lag), due - kEarlyMs) << c.what;
    EXPECT_LE(rig.ShowTimeOfFrame(onset, lag), due + kLateMs) << c.what;
  }
}

TEST(ShowMusicPlayer, AShowOfLengthZeroSchedulesOnePassOnly) {
  TShowPlayerRig rig;
  const std::string m = rig.Dc("m.wav", 500, 700);
  rig.Open(Project({0}, "opt_syncmode=1\nopt_usemusic=1\nopt_music_count=1\nopt_music1=" + m +
                            "\nopt_lengthlist1=500\nopt_repeat=repeat\n",
                   {}));
  ASSERT_DOUBLE_EQ(rig.player->Music().ShowLength(), 0);
  ASSERT_TRUE(rig.BeginAt(0));
  rig.host.Advance(1000);
  int sequences = 0;
  for (TPlayItem* item : rig.player->Items())
    sequences += dynamic_cast<TPlaySequence*>(item) != nullptr;
  EXPECT_LE(sequences, 1);
}

TEST(ShowMusicPlayer, MainMusicOfLengthZeroLeavesTheShowReady) {
  for (const char* sync : {"0", "1"}) {
    TShowPlayerRig rig;
    const std::string m = rig.Dc("m.wav", 500, 700);
    rig.Open(Project({2000}, std::string("opt_syncmode=") + sync + "\nopt_usemusic=1\nopt_music_count=1\nopt_music1=" +
                                 m + "\nopt_lengthlist1=0\n",
                     {}));
    EXPECT_TRUE(rig.BeginAt(0)) << "sync mode " << sync;
  }
}

// Outside sync mode (in sync mode the show's music plays throughout).
TEST(ShowMusicPlayer, ASlidesOwnMusicTakesOverFromTheMainMusicAtItsStart) {
  TShowPlayerRig rig;
  const std::string m = rig.Dc("m.wav", 3000, 1000);
  const std::string own = rig.Dc("own.wav", 1000, 5000);
  rig.Open(Project({1000, 2000, 3000},
                   "opt_usemusic=1\nopt_repeatmusic=0\nopt_music_count=1\nopt_music1=" + m +
                       "\nopt_lengthlist1=3000\n",
                   {"", "UsePersonal=1\nMusicAction=2\nMusicCount=1\nSubMusic1=" + own + "\nSubMusicLength1=1000\n"}));
  ASSERT_TRUE(rig.BeginAt(0));
  rig.host.Advance(1500);
  const double lag = rig.ClockLagMs();
  const std::vector<int> left = rig.Left();
  const int64_t onset = FirstAtLeast(left, 1500);
  ASSERT_GE(onset, 0) << "the slide's music plays";
  EXPECT_GE(rig.ShowTimeOfFrame(onset, lag), 1000 - kEarlyMs);
  EXPECT_LE(rig.ShowTimeOfFrame(onset, lag), 1000 + kLateMs);
  // Once the fades are over only the slide's music sounds: the main music stopped for it.
  const size_t later = static_cast<size_t>(onset + 100 * 441 / 10);
  ASSERT_LT(later, left.size());
  EXPECT_NEAR(left[later], 5000, 50);
}

TEST(ShowSoundRender, RecordsTheShowsSoundFromOneShowTimeToAnother) {
  TShowPlayerRig files(false);
  const std::string a = files.Dc("a.wav", 3000, 1200);
  const std::unique_ptr<TKivSource> source =
      Source(Project({1000, 4000}, "opt_repeat=stop\n", {"", "Sound=" + a + "\nSoundLength=3000\n"}));
  for (const double from : {0.0, 500.0, 2000.0}) {
    TOfflineSoundOutput output({441, true});
    ASSERT_TRUE(RenderShowSound(*source, from, 2500, output)) << from;
    const std::vector<int16_t> all = output.Recorded();
    std::vector<int> left;
    for (size_t i = 0; i < all.size(); i += 2)
      left.push_back(all[i]);
    EXPECT_NEAR(double(left.size()), (2500 - from) * 44.1, 1) << from;
    const int64_t onset = FirstAtLeast(left, 1);
    ASSERT_GE(onset, 0) << from;
    const double due = std::max(0.0, 1000 - from);
    EXPECT_GE(double(onset) / 44.1, due - kEarlyMs) << from;
    EXPECT_LE(double(onset) / 44.1, due + kLateMs) << from;
  }
}

} // namespace
} // namespace kiv

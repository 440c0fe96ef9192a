// The engine playing shows on the virtual host: from the start to the end, repetition, pause, seeks and
// their sequence numbers, requests that meet while pending, barriers, slide-start actions, clicks on
// slides and on pages over them, a lost device and music that is not ready.

#include "EngineRig.h"

#include "GLRenderer.h"
#include "InputMapping.h"
#include "LoadYield.h"
#include "Log.h"
#include "TestEnvironment.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <sstream>

namespace kiv {
namespace {

using namespace kiv::test;

// The host time at which the engine's clock first left the position it opened at.
int64_t RunUntilPlaying(TEngineRig& rig, int64_t limitMs = 1000) {
  const double start = rig.ClockTime();
  for (int64_t i = 0; i < limitMs && rig.ClockTime() == start; ++i)
    rig.Run(1);
  return rig.Now();
}

TEST(EnginePlayback, PlaysANonRepeatingShowToItsEndReportingTheEndOnce) {
  KIV_REQUIRE_GL();
  TEngineRig rig;
  rig.Open(EngineShow(3, 100, "opt_repeat=close\r\n"));
  const int64_t playing = RunUntilPlaying(rig);
  rig.Run(600);

  ASSERT_EQ(rig.firstFrames.size(), 1u) << "one first frame per open";
  ASSERT_GE(rig.positions.size(), 10u);
  EXPECT_EQ(rig.positions.front().position, 0);
  // Reports follow the clock in steps of a little more than 20 ms (whole ms in the reports).
  for (size_t i = 1; i + 1 < rig.positions.size(); ++i) {
    const int32_t step = rig.positions[i].position - rig.positions[i - 1].position;
    EXPECT_GE(step, 20) << i;
    EXPECT_LE(step, 20 + TKivEngine::kShortSleepMs) << i;
  }
  const auto ends =
      std::count_if(rig.positions.begin(), rig.positions.end(), [](auto& p) { return p.ended; });
  EXPECT_EQ(ends, 1);
  EXPECT_TRUE(rig.positions.back().ended);
  EXPECT_EQ(rig.positions.back().position, 300);
  // The clock ran in step with the sound device from the moment it started.
  EXPECT_GE(rig.positions.back().at, playing + 299);
  EXPECT_LE(rig.positions.back().at, playing + 300 + TKivEngine::kShortSleepMs);
  EXPECT_EQ(rig.ClockTime(), 300);
  EXPECT_FALSE(rig.engine->IsActive());
}

TEST(EnginePlayback, ARepeatingShowGoesOnIntoItsNextPass) {
  KIV_REQUIRE_GL();
  TEngineRig rig;
  rig.Open(EngineShow(3, 100, "opt_repeat=repeat\r\n"));
  ASSERT_TRUE(rig.RunUntilTime(450));
  rig.Run(5);
  EXPECT_TRUE(std::none_of(rig.positions.begin(), rig.positions.end(), [](auto& p) { return p.ended; }));
  EXPECT_GT(rig.positions.back().position, 400);
  // Position 4 plays the second slide again, built for the second pass.
  EXPECT_EQ(rig.engine->Root().CurrentPosition(), 4);
  const TDrawContainer* current = nullptr;
  for (int i = 0; i < rig.engine->SlideCount(); ++i)
    if (rig.engine->Slide(i)->Position() == 4) current = rig.engine->Slide(i);
  ASSERT_NE(current, nullptr);
  EXPECT_EQ(current->Slide()->Pass(), 1);
  EXPECT_EQ(current->PassOffset(), 300);
  EXPECT_EQ(rig.firstFrames.size(), 1u);
}

TEST(EnginePlayback, PauseHoldsTheClockAndResumeGoesOnFromThere) {
  KIV_REQUIRE_GL();
  TEngineRig rig;
  rig.Open(EngineShow(3, 1000, ""));
  ASSERT_TRUE(rig.RunUntilTime(150));
  EXPECT_EQ(LoadCallBackMode(), kLoadYieldPlaying) << "loading yields while the show plays";
  rig.Pause(true);
  rig.Run(5);
  EXPECT_EQ(LoadCallBackMode(), kLoadContinue) << "and runs freely while it is paused";
  const double held = rig.ClockTime();
  const size_t reports = rig.positions.size();
  rig.Run(400);
  EXPECT_EQ(rig.ClockTime(), held);
  EXPECT_LE(rig.positions.size(), reports + 1) << "a held clock is not reported again";
  EXPECT_FALSE(rig.engine->IsActive());

  rig.Pause(false);
  rig.Run(5);
  EXPECT_TRUE(rig.engine->IsActive());
  const double resumed = rig.ClockTime();
  EXPECT_GE(resumed, held);
  EXPECT_LE(resumed, held + 5);
  rig.Run(100);
  EXPECT_NEAR(rig.ClockTime(), resumed + 100, TKivEngine::kShortSleepMs);
}

TEST(EnginePlayback, ReportsAnswerTheLatestSeekOnly) {
  KIV_REQUIRE_GL();
  TEngineRig rig;
  rig.Open(EngineShow(4, 1000, ""));
  ASSERT_TRUE(rig.RunUntilTime(100));

  // Reports made before the seek are still on their way when the viewer asks for the new position.
  rig.host.Advance(60);
  const int32_t sequence = rig.Seek(2500);
  const size_t before = rig.positions.size();
  rig.app.ProcessEvents();
  EXPECT_EQ(rig.positions.size(), before) << "reports for the previous request are dropped";

  rig.Run(1);
  EXPECT_EQ(rig.engine->AppliedSequence(), sequence);
  ASSERT_GT(rig.positions.size(), before);
  EXPECT_EQ(rig.positions[before].position, 2500);
  // Playing resumes from the new position (the pause state is kept).
  rig.Run(200);
  EXPECT_GT(rig.positions.back().position, 2600);
  EXPECT_LT(rig.positions.back().position, 2700);
  EXPECT_TRUE(rig.engine->IsActive());
}

TEST(EngineRequests, RequestsThatMeetWhilePendingBecomeOne) {
  KIV_REQUIRE_GL();
  struct TCase {
    const char* what;
    bool openFirst; // the open is posted before the seek
    double expectedTime;
    int expectedSlides;
  };
  const TCase cases[] = {
      {"an open replaces a pending seek", false, 700, 5},
      {"a seek moves a pending open", true, 1500, 5},
  };
  for (const TCase& c : cases) {
    TEngineRig rig;
    rig.Open(EngineShow(3, 1000, ""));
    ASSERT_TRUE(rig.RunUntilTime(50)) << c.what;
    auto openRequest = [&] {
      const int32_t sequence = rig.engine->NextSequence();
      rig.Post(kEvOpen,
               MakeOwned<TOpenParams>(sequence, 700, PlainAccessor(), Document(EngineShow(5, 1000, ""))));
      return sequence;
    };
    int32_t last = 0;
    if (c.openFirst) {
      openRequest();
      last = rig.Seek(1500);
    } else {
      rig.Seek(1500);
      last = openRequest();
    }
    rig.Pause(true); // applies after the request
    rig.Run(1);
    EXPECT_EQ(rig.engine->Source()->SlideCount(), c.expectedSlides) << c.what;
    EXPECT_EQ(rig.ClockTime(), c.expectedTime) << c.what;
    EXPECT_EQ(rig.engine->AppliedSequence(), last) << c.what;
    EXPECT_TRUE(rig.engine->Paused()) << c.what;
    rig.Run(100);
    EXPECT_EQ(rig.ClockTime(), c.expectedTime) << c.what << ": paused";
  }
}

TEST(EngineBarriers, APauseBarrierWaitsForTheUserThenPlaysOn) {
  KIV_REQUIRE_GL();
  TEngineRig rig;
  rig.Open(EngineShow(3, 100, "", {"", "UsePersonal=1\r\nPers_EndAction=pause\r\n"}));
  ASSERT_TRUE(rig.RunUntilTime(200));
  rig.Run(300);
  EXPECT_EQ(rig.ClockTime(), 200);
  EXPECT_TRUE(rig.engine->IsWaiting());
  EXPECT_FALSE(rig.engine->IsActive());
  // The next barrier is the same slide in the next pass.
  EXPECT_EQ(rig.engine->Barrier().position, 4);
  EXPECT_EQ(rig.engine->Barrier().time, 500);

  rig.engine->ReleaseBarrier();
  rig.Run(60);
  EXPECT_GT(rig.ClockTime(), 250);
  ASSERT_TRUE(rig.RunUntilTime(500));
  rig.Run(50);
  EXPECT_EQ(rig.ClockTime(), 500);
  EXPECT_TRUE(rig.engine->IsWaiting());
}

TEST(EngineBarriers, AManualShowStopsAtTheEndOfEverySlide) {
  KIV_REQUIRE_GL();
  TEngineRig rig;
  rig.Open(EngineShow(3, 100, "opt_manualshow=1\r\n"));
  for (double end : {100.0, 200.0, 300.0}) {
    ASSERT_TRUE(rig.RunUntilTime(end)) << end;
    rig.Run(100);
    EXPECT_EQ(rig.ClockTime(), end);
    EXPECT_TRUE(rig.engine->IsWaiting()) << end;
    rig.engine->ReleaseBarrier();
  }
}

TEST(EngineBarriers, ALoopBarrierRepeatsItsSlideWithTheMusic) {
  KIV_REQUIRE_GL();
  TEngineRig rig(true);
  rig.Open(EngineShow(3, 100, "", {"", "UsePersonal=1\r\nPers_EndAction=loop\r\n"}));
  ASSERT_TRUE(rig.RunUntilTime(100));
  double highest = 0;
  int wraps = 0;
  double last = rig.ClockTime();
  for (int i = 0; i < 450; ++i) {
    rig.Run(1);
    const double now = rig.ClockTime();
    highest = std::max(highest, now);
    if (now < last) {
      ++wraps;
      EXPECT_GE(now, 100) << "back by the loop length, not to the slide before";
    }
    last = now;
  }
  EXPECT_LT(highest, 200);
  EXPECT_EQ(wraps, 4);
  EXPECT_FALSE(rig.engine->IsWaiting());
  // The music went back with the clock each time.
  EXPECT_GE(rig.Music()->setTimes, 4);
  EXPECT_LT(rig.Music()->GetShowTime(), 200);
}

TEST(EngineActions, SlideStartActionsRunInOrderOncePerSlide) {
  KIV_REQUIRE_GL();
  TEngineRig rig;
  rig.Open(EngineShow(4, 100, "opt_repeat=close\r\n",
                      {"", "UsePersonal=1\r\nPers_RunApp=1\r\nRunAppFN=two.sh\r\n",
                       "UsePersonal=1\r\nPers_RunApp=1\r\nRunAppFN=\r\n",
                       "UsePersonal=1\r\nPers_RunApp=1\r\nRunAppFN=four.sh\r\n"}));
  const int64_t playing = RunUntilPlaying(rig);
  rig.Run(500);
  ASSERT_EQ(rig.actions.size(), 2u);
  EXPECT_EQ(rig.actions[0].second, (TKivActionInfo{TActionKind::RunApp, 0, u"two.sh"}));
  EXPECT_EQ(rig.actions[1].second, (TKivActionInfo{TActionKind::RunApp, 0, u"four.sh"}));
  // Each one just after its slide's start.
  EXPECT_NEAR(static_cast<double>(rig.actions[0].first - playing), 101, TKivEngine::kShortSleepMs + 1);
  EXPECT_NEAR(static_cast<double>(rig.actions[1].first - playing), 301, TKivEngine::kShortSleepMs + 1);
}

TEST(EngineActions, NoSlideActionsOrBarriersWhileActionsAreDisabled) {
  KIV_REQUIRE_GL();
  TEngineRig rig;
  rig.Create();
  rig.engine->SetActionsEnabled(false);
  rig.Open(
      EngineShow(3, 100, "opt_manualshow=1\r\n", {"", "UsePersonal=1\r\nPers_RunApp=1\r\nRunAppFN=x\r\n"}));
  ASSERT_TRUE(rig.RunUntilTime(250));
  EXPECT_TRUE(rig.actions.empty());
  EXPECT_FALSE(rig.engine->IsWaiting());
}

TEST(EngineMouse, AMappedMouseActionThatNoObjectTakesGoesToTheWindow) {
  KIV_REQUIRE_GL();
  TEngineRig rig;
  rig.Open(EngineShow(3, 1000, ""));
  ASSERT_TRUE(rig.RunUntilTime(50));
  auto mouse = MakeOwned<TMouseData>();
  mouse->X = 10;
  mouse->Y = 10;
  mouse->Button = kMouseButtonLeft;
  mouse->MouseEvent = kMouseUp;
  mouse->Action = {TActionKind::NextSlide, 0, {}};
  rig.Post(kEvMouse, std::move(mouse));
  rig.Run(5);
  ASSERT_EQ(rig.actions.size(), 1u);
  EXPECT_EQ(rig.actions[0].second.Kind, TActionKind::NextSlide);
}

TEST(EngineMouse, AnObjectWithAnActionTakesHoverAndClick) {
  KIV_REQUIRE_GL();
  TEngineRig rig;
  // The second slide's box covers the left half of the frame.
  const std::string box =
      "object Go: Box\r\n  Size=32,48\r\n  FillMode=Solid\r\n  Color1=255,0,0\r\n"
      "  Action=gotoslide(3)\r\n  object : KeyPoint\r\n    Position=-50,0\r\n  end\r\nend\r\n";
  rig.Open(EngineShow(3, 1000, "", {"", box}));
  ASSERT_TRUE(rig.RunUntilTime(1100));
  auto mouse = [&](int x, uint8_t event, int32_t button, TKivActionInfo action = {}) {
    auto data = MakeOwned<TMouseData>();
    data->X = x;
    data->Y = 24;
    data->Button = button;
    data->MouseEvent = event;
    data->Action = std::move(action);
    rig.Post(kEvMouse, std::move(data));
    rig.Run(4);
  };
  mouse(8, kMouseMove, kMouseButtonNone);
  EXPECT_TRUE(rig.engine->HoverActive());
  EXPECT_EQ(rig.engine->HoverClass(), "TKivBox");
  mouse(56, kMouseMove, kMouseButtonNone);
  EXPECT_FALSE(rig.engine->HoverActive());
  EXPECT_EQ(rig.engine->HoverClass(), "");

  // A click on the box is its action; the mouse option's action goes nowhere.
  mouse(8, kMouseDown, kMouseButtonLeft);
  mouse(8, kMouseUp, kMouseButtonLeft, {TActionKind::NextSlide, 0, {}});
  ASSERT_EQ(rig.actions.size(), 1u);
  EXPECT_EQ(rig.actions[0].second, (TKivActionInfo{TActionKind::GotoSlide, 3, {}}));
  // Elsewhere the mouse option acts.
  mouse(56, kMouseDown, kMouseButtonLeft);
  mouse(56, kMouseUp, kMouseButtonLeft, {TActionKind::NextSlide, 0, {}});
  ASSERT_EQ(rig.actions.size(), 2u);
  EXPECT_EQ(rig.actions[1].second.Kind, TActionKind::NextSlide);
}

TEST(EngineMouse, AnOpenPageOverASlideObjectTakesTheClickFirst) {
  KIV_REQUIRE_GL();
  TEngineRig rig;
  // The same left-half box on the second slide and on the help page, each with its own action.
  auto box = [](const char* action) {
    return std::string(
               "object Go: Box\r\n  Size=32,48\r\n  FillMode=Solid\r\n  Color1=255,0,0\r\n  Action=") +
           action + "\r\n  object : KeyPoint\r\n    Position=-50,0\r\n  end\r\nend\r\n";
  };
  std::string show = EngineShow(3, 1000, "", {"", box("gotoslide(3)")});
  show += "[dialog_help]\r\nDialogPause=0\r\n" + box("gotoslide(1)");
  rig.Open(show);
  ASSERT_TRUE(rig.RunUntilTime(1100));
  auto click = [&] {
    for (const uint8_t event : {kMouseDown, kMouseUp}) {
      auto data = MakeOwned<TMouseData>();
      data->X = 8;
      data->Y = 24;
      data->Button = kMouseButtonLeft;
      data->MouseEvent = event;
      rig.Post(kEvMouse, std::move(data));
      rig.Run(4);
    }
  };
  rig.Post(kEvHelp);
  rig.Run(300);
  ASSERT_TRUE(rig.engine->IsDialogShown());
  click();
  ASSERT_EQ(rig.actions.size(), 1u);
  EXPECT_EQ(rig.actions[0].second, (TKivActionInfo{TActionKind::GotoSlide, 1, {}})) << "the page's box";

  rig.Post(kEvCloseDialog);
  rig.Run(300);
  ASSERT_FALSE(rig.engine->IsDialogShown());
  click();
  ASSERT_EQ(rig.actions.size(), 2u);
  EXPECT_EQ(rig.actions[1].second, (TKivActionInfo{TActionKind::GotoSlide, 3, {}})) << "the slide's box";
}

TEST(EngineDialogs, HelpOpensItsPageWhichPausesTheShowUntilClosed) {
  KIV_REQUIRE_GL();
  TEngineRig rig;
  std::string show = EngineShow(3, 1000, "");
  show += "[dialog_help]\r\nDialogPause=1\r\nobject Probe: probe\r\nend\r\n";
  rig.Open(show);
  ASSERT_TRUE(rig.RunUntilTime(100));
  rig.Post(kEvHelp);
  rig.Run(10);
  EXPECT_TRUE(rig.engine->IsDialogShown());
  const double held = rig.ClockTime();
  rig.Run(300);
  EXPECT_EQ(rig.ClockTime(), held) << "a pausing page holds the show";
  rig.Post(kEvCloseDialog);
  rig.Run(300); // the page fades out
  EXPECT_FALSE(rig.engine->IsDialogShown());
  EXPECT_GT(rig.ClockTime(), held + 50);
}

TEST(EngineStill, AStillImageOfTheCurrentFrameGoesToTheWindow) {
  KIV_REQUIRE_GL();
  TEngineRig rig;
  rig.Open(EngineShow(3, 1000, ""));
  ASSERT_TRUE(rig.RunUntilTime(100));
  rig.Post(kEvRenderImage);
  rig.Run(5);
  ASSERT_EQ(rig.images.size(), 1u);
  EXPECT_EQ(rig.images[0], std::make_pair(TEngineRig::kSize.width, TEngineRig::kSize.height));
}

TEST(EngineDevice, ALostDeviceComesBackAndTheShowGoesOn) {
  KIV_REQUIRE_GL();
  struct TCase {
    const char* what;
    TSize after; // the device's size when it comes back
    bool reopens;
  };
  const TCase cases[] = {{"same size", TEngineRig::kSize, false}, {"another size", {80, 60}, true}};
  for (const TCase& c : cases) {
    const auto dir = kivtest::FreshTempDir("engine-loss");
    const std::string logPath = (dir / "engine.log").string();
    ASSERT_TRUE(InstallFileLog(logPath));
    {
      TEngineRig rig;
      rig.Open(EngineShow(3, 1000, ""));
      ASSERT_TRUE(rig.RunUntilTime(200)) << c.what;
      // A seek and a pause while a request waits: logged as they meet.
      rig.Seek(200);
      rig.Pause(true);
      rig.Run(1);
      rig.Pause(false);
      rig.Run(20);
      ASSERT_EQ(rig.firstFrames.size(), 1u);
      auto* renderer =
          dynamic_cast<T3DRendererGL*>(rig.engine->Controller().Drawer()->Screen().renderer.get());
      ASSERT_NE(renderer, nullptr);
      {
        TDeviceLockGuard lock(DeviceLock());
        rig.deviceRaw->bounds = {0, 0, c.after.width, c.after.height};
      }
      renderer->SimulateDeviceLoss();
      // The window repaints: the loss shows at the first device call.
      rig.engine->Controller().DeviceRefresh();
      const double lostAt = rig.ClockTime();
      rig.Run(300);
      EXPECT_EQ(rig.firstFrames.size(), 2u) << c.what << ": a first frame again on the new device";
      EXPECT_GT(rig.ClockTime(), lostAt + 200) << c.what << ": the show plays on";
      EXPECT_TRUE(rig.engine->IsActive()) << c.what;
      EXPECT_EQ(rig.engine->Loader()->Size, c.after) << c.what;
      auto image = rig.engine->DrawFrameNow();
      ASSERT_TRUE(image) << c.what;
      EXPECT_EQ(image->Width(), c.after.width) << c.what;
    }
    CloseLog();
    std::ifstream in(logPath);
    std::stringstream text;
    text << in.rdbuf();
    const std::string log = text.str();
    EXPECT_NE(log.find("TKivDrawController.RndLost"), std::string::npos) << c.what;
    EXPECT_NE(log.find("DrawDevice Reinited (Slides:"), std::string::npos) << c.what;
    EXPECT_EQ(log.find("Reopen from new position>>>>>>>> ") != std::string::npos, c.reopens) << c.what;
    const std::string requests =
        "TKivEngine: SetPosition Async\r\nTKivEngine: Current Pause Status: False\r\n"
        "TKivEngine: Async Pause Status: False\r\n"
        "TKivEngine: SetPauseEvent Async: True\r\n"
        "TKivEngine: Begin ProcessAsyncOpen\r\n"
        "TKivEngine: Process AsyncEvent SetPosition\r\n";
    EXPECT_NE(log.find(requests), std::string::npos) << c.what;
    EXPECT_NE(log.find("TKivEngine: Process AsyncEvent New Pause Status: True"), std::string::npos) << c.what;
    EXPECT_NE(log.find("TKivEngine: Before Pause Status: True\r\nTKivEngine: SetPauseEvent Direct: False"),
              std::string::npos)
        << c.what;
  }
}

TEST(EngineMusic, MusicThatIsNotReadyHoldsTheClock) {
  KIV_REQUIRE_GL();
  TEngineRig rig(true);
  rig.Create();
  rig.Open(EngineShow(3, 1000, ""));
  rig.Music()->readyAfterSetTime = false;
  rig.Music()->SetReady(false);
  rig.Run(200);
  EXPECT_EQ(rig.ClockTime(), 0);
  EXPECT_FALSE(rig.engine->IsActive());
  rig.Music()->SetReady(true);
  rig.Run(100);
  EXPECT_GT(rig.ClockTime(), 90);

  // A seek repositions the music, which holds the show until it has loaded again.
  rig.Seek(2000);
  rig.Run(150);
  EXPECT_EQ(rig.ClockTime(), 2000);
  EXPECT_FALSE(rig.Music()->Playing());
  rig.Music()->SetReady(true);
  rig.Run(50);
  EXPECT_GT(rig.ClockTime(), 2040);
}

} // namespace
} // namespace kiv

// The cursor hides after the show's interval without movement and comes back with a move beyond 4
// pixels; the show's settings choose never, always or after a time; entering and leaving are told once.

#include "IniDocument.h"
#include "MainKeys.h"
#include "MouseMonitor.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kiv {
namespace {

struct TRig {
  int64_t now = 0;
  TMouseMonitor monitor{[this] { return now; }};
  std::vector<std::string> events;
  TRig() {
    monitor.OnEnter = [this] { events.push_back("enter"); };
    monitor.OnLeave = [this] { events.push_back("leave"); };
    monitor.OnHiddenChanged = [this](bool hidden) { events.push_back(hidden ? "hidden" : "shown"); };
  }
  // Polls every 20 ms until the time.
  void RunTo(int64_t until, bool inside = true) {
    while (now < until) {
      now += TMouseMonitor::kPollMs;
      monitor.Poll(inside);
    }
  }
};

TEST(MouseMonitor, TheCursorHidesAfterTheIntervalAndAMoveBringsItBack) {
  TRig rig;
  rig.monitor.SetHideInterval(2000);
  rig.events.clear();
  rig.monitor.MouseMoved(100, 100);
  rig.RunTo(2000);
  EXPECT_FALSE(rig.monitor.Hidden()) << "not before the interval has passed";
  rig.RunTo(2040);
  EXPECT_TRUE(rig.monitor.Hidden());
  rig.monitor.MouseMoved(104, 96);
  EXPECT_TRUE(rig.monitor.Hidden()) << "4 pixels are no move";
  rig.monitor.MouseMoved(105, 100);
  EXPECT_FALSE(rig.monitor.Hidden());
  rig.RunTo(3000);
  EXPECT_FALSE(rig.monitor.Hidden()) << "the interval counts from the last move";
  EXPECT_EQ(rig.events, (std::vector<std::string>{"enter", "hidden", "shown"}));
  rig.RunTo(3100, false);
  EXPECT_EQ(rig.events.back(), "leave");
}

TEST(MouseMonitor, TheShowChoosesNeverAlwaysOrAfterATime) {
  const struct {
    const char* keys;
    bool hiddenAtStart;
    bool hiddenLater;      // after 10 s without moving
    bool hiddenAfterMove;  // a move, then 100 ms
  } cases[] = {
      {"", false, false, false},
      {"opt_hidecursor=1", true, true, true},
      {"opt_hidecursor=2\nopt_hc2_hideinterval=3", false, true, false},
      {"opt_hidecursor=2\nopt_hc2_hideinterval=3\nopt_hc2_hideonstartup=1", true, true, false},
      {"opt_hidecursor=2\nopt_hc2_hideinterval=-5", false, false, false},
  };
  for (const auto& c : cases) {
    TIniFile project;
    kivtest::WriteMainKeys(project, c.keys);
    TRig rig;
    rig.monitor.ApplyShowSettings(project);
    EXPECT_EQ(rig.monitor.Hidden(), c.hiddenAtStart) << c.keys;
    rig.RunTo(10000);
    EXPECT_EQ(rig.monitor.Hidden(), c.hiddenLater) << c.keys;
    rig.monitor.MouseMoved(500, 500);
    rig.RunTo(10100);
    EXPECT_EQ(rig.monitor.Hidden(), c.hiddenAfterMove) << c.keys;
  }
}

} // namespace
} // namespace kiv

// The main window's input routing: keys, buttons, moves and wheel notches against the window's state
// (busy, start-up window, open dialog page, barrier, hidden cursor) and the show's mapping, with what
// reaches the viewer and the actions recorded.

#include "InputRouting.h"
#include "IniDocument.h"
#include "MainKeys.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace kiv {
namespace {

// Records what the routing asks for, one line a call.
class TRecordingSink final : public TInputSink {
public:
  explicit TRecordingSink(const std::string& mainKeys) { UseMapping(mainKeys); }

  TInputMappingClass& Mapping() override { return *mapping_; }
  bool Busy() const override { return busy; }
  bool StartupMode() const override { return startup; }
  bool DialogShown() const override { return dialog; }
  bool WaitingAtBarrier() const override { return waiting; }
  bool CursorHidden() const override { return hidden; }
  double Position() const override { return position; }
  bool Paused() const override { return paused; }

  void Execute(const TKivActionInfo& action) override {
    calls.push_back("execute " + Kind(action));
    // As opening another show does: its mapping replaces this one's.
    if (!nextShowKeys.empty()) UseMapping(nextShowKeys);
  }
  void UseMapping(const std::string& mainKeys) {
    TIniFile project;
    kivtest::WriteMainKeys(project, mainKeys);
    mapping_ = std::make_unique<TInputMappingClass>(project);
  }
  void ShowHelp() override { calls.push_back("help"); }
  void CloseDialog() override { calls.push_back("close dialog"); }
  void ReleaseBarrier() override { calls.push_back("release barrier"); }
  void SendMouse(uint8_t, int32_t x, int32_t y, int32_t button, uint8_t event) override {
    calls.push_back("mouse " + std::to_string(event) + " button " + std::to_string(button) + " at " +
                    std::to_string(x) + "," + std::to_string(y));
  }
  void SendMouseAction(uint8_t, int32_t x, int32_t y, int32_t button, uint8_t event,
                       const TKivActionInfo& mapped) override {
    calls.push_back("mouse " + std::to_string(event) + " button " + std::to_string(button) + " at " +
                    std::to_string(x) + "," + std::to_string(y) + " with " + Kind(mapped));
  }
  void GoTo(double to, bool keepPaused) override {
    calls.push_back("go to " + std::to_string(static_cast<int>(to)) + (keepPaused ? " paused" : ""));
  }

  static std::string Kind(const TKivActionInfo& action) {
    return std::to_string(static_cast<int>(action.Kind));
  }

  bool busy = false, startup = false, dialog = false, waiting = false, hidden = false, paused = false;
  double position = 5000;
  std::string nextShowKeys; // main keys of a show that executing an action opens
  std::vector<std::string> calls;

private:
  std::unique_ptr<TInputMappingClass> mapping_;
};

using Calls = std::vector<std::string>;

TEST(InputRouting, KeysGoThroughTheMappingUnlessTheWindowsStateSaysOtherwise) {
  constexpr int32_t kEnter = 13, kEscape = 27, kSpace = 32, kRight = 39, kA = 65, kF1 = 112;
  const struct {
    const char* what;
    std::string keys;
    void (*state)(TRecordingSink&);
    int32_t key;
    Calls want;
  } cases[] = {
      {"a mapped key", "", nullptr, kRight, {"execute 3"}},
      {"Escape", "", nullptr, kEscape, {"execute 1"}},
      {"F1 opens help through the viewer", "", nullptr, kF1, {"help"}},
      {"F1 locked", "opt_lockf1=1", nullptr, kF1, {}},
      {"an unmapped key", "", nullptr, kA, {}},
      {"no key code", "", nullptr, 0, {}},
      {"busy: nothing", "", [](TRecordingSink& s) { s.busy = true; }, kRight, {}},
      {"Enter in a start-up window runs the show",
       "",
       [](TRecordingSink& s) { s.startup = true; },
       kEnter,
       {"execute 16"}},
      {"Enter elsewhere", "", nullptr, kEnter, {}},
      {"Escape closes an open page only",
       "",
       [](TRecordingSink& s) { s.dialog = true; },
       kEscape,
       {"close dialog"}},
      {"other keys are swallowed by an open page",
       "",
       [](TRecordingSink& s) { s.dialog = true; },
       kRight,
       {}},
      {"but F1 still works there", "", [](TRecordingSink& s) { s.dialog = true; }, kF1, {"help"}},
      // With control permitted, Space pauses and the pause itself lets a waiting show go on.
      {"a barrier with control permitted",
       "",
       [](TRecordingSink& s) { s.waiting = true; },
       kSpace,
       {"execute 5"}},
      {"a barrier without control: Space releases it",
       "opt_synchpermitcontrol=0",
       [](TRecordingSink& s) { s.waiting = true; },
       kSpace,
       {"release barrier"}},
      {"a barrier without control: Right releases it",
       "opt_synchpermitcontrol=0",
       [](TRecordingSink& s) { s.waiting = true; },
       kRight,
       {"release barrier"}},
      {"a barrier without control: other keys do not",
       "opt_synchpermitcontrol=0",
       [](TRecordingSink& s) { s.waiting = true; },
       kA,
       {}},
      {"no barrier: Right without control is nothing", "opt_synchpermitcontrol=0", nullptr, kRight, {}},
      {"a screen saver ends on any key", "opt_ssaver=1", nullptr, kA, {"execute 1"}},
  };
  for (const auto& c : cases) {
    TRecordingSink sink(c.keys);
    if (c.state) c.state(sink);
    TInputRouter router(sink);
    router.Key(c.key, 0);
    EXPECT_EQ(sink.calls, c.want) << c.what;
  }
}

TEST(InputRouting, AKeyThatOpensAnotherShowGoesOnWithThatShowsMapping) {
  TRecordingSink sink("");
  sink.waiting = true;
  sink.nextShowKeys = "opt_synchpermitcontrol=0";
  TInputRouter router(sink);
  router.Key(39, 0);
  EXPECT_EQ(sink.calls, (Calls{"execute 3", "release barrier"}));
}

TEST(InputRouting, ButtonsReachTheShowWithTheirMappedActionOrActAtOnceUnderAHiddenCursor) {
  constexpr int32_t kLeft = kMouseButtonLeft, kRightButton = kMouseButtonRight;
  const std::string keys = "opt_leftmouse=Next slide\nopt_rightmouse=Prev. slide\nopt_dblclick=Pause";
  const struct {
    const char* what;
    bool hidden;
    int32_t button;
    bool down;
    int clicks;
    int64_t sinceOpen;
    Calls want;
  } cases[] = {
      {"a press", false, kLeft, true, 1, 5000, {"mouse 1 button 1 at 10,20 with 0"}},
      {"a release carries the click's action",
       false,
       kLeft,
       false,
       1,
       5000,
       {"mouse 2 button 1 at 10,20 with 3"}},
      {"the right button's", false, kRightButton, false, 1, 5000, {"mouse 2 button 4 at 10,20 with 2"}},
      {"a double click is a press and the double click",
       false,
       kLeft,
       true,
       2,
       5000,
       {"mouse 1 button 1 at 10,20", "mouse 3 button 1 at 10,20 with 5"}},
      {"the click that started the program", false, kLeft, false, 1, 999, {}},
      {"no button", false, kMouseButtonNone, true, 1, 5000, {}},
      {"hidden: a press without action still reaches the show",
       true,
       kLeft,
       true,
       1,
       5000,
       {"mouse 1 button 1 at 10,20 with 0"}},
      {"hidden: the click's action runs at once", true, kLeft, false, 1, 5000, {"execute 3"}},
      {"hidden: a double click's too", true, kLeft, true, 2, 5000, {"execute 5"}},
  };
  for (const auto& c : cases) {
    TRecordingSink sink(keys);
    sink.hidden = c.hidden;
    TInputRouter router(sink);
    router.Button(c.button, c.down, c.clicks, 10, 20, 0, c.sinceOpen);
    EXPECT_EQ(sink.calls, c.want) << c.what;
  }
  TRecordingSink busy(keys);
  busy.busy = true;
  TInputRouter router(busy);
  router.Button(kLeft, false, 1, 10, 20, 0, 5000);
  router.Motion(10, 20, 0);
  EXPECT_EQ(busy.calls, Calls{}) << "a waiting window takes no input";
}

TEST(InputRouting, MovesReachTheShowAndEndAScreenSaver) {
  TRecordingSink plain("");
  TInputRouter router(plain);
  router.Motion(100, 50, 0);
  router.Motion(300, 200, 0);
  EXPECT_EQ(plain.calls, (Calls{"mouse 0 button 0 at 100,50", "mouse 0 button 0 at 300,200"}));

  TRecordingSink saver("opt_exitonmove=1");
  TInputRouter saverRouter(saver);
  saverRouter.Motion(100, 50, 0);
  saverRouter.Motion(300, 200, 0);
  ASSERT_FALSE(saver.calls.empty());
  EXPECT_EQ(saver.calls.back(), "execute 1");
}

TEST(InputRouting, WheelNotchesAddUpAndMoveTheShowOrItsSlides) {
  const struct {
    const char* what;
    std::vector<double> turns;
    bool ctrlOnly;
    double position;
    Calls want;
  } cases[] = {
      {"a notch away goes back 700 ms", {1}, false, 5000, {"go to 4300"}},
      {"two towards the user go on 1400 ms", {-2}, false, 5000, {"go to 6400"}},
      {"never before the start", {3}, false, 1000, {"go to 0"}},
      {"touchpad parts add up to a notch", {0.4, 0.4, 0.4}, false, 5000, {"go to 4300"}},
      {"parts that do not make a notch", {0.4, 0.4}, false, 5000, {}},
      {"Ctrl: towards the user is the next slide", {-1}, true, 5000, {"execute 3"}},
      {"Ctrl: away is the previous slide", {1}, true, 5000, {"execute 2"}},
  };
  for (const auto& c : cases) {
    TRecordingSink sink("");
    sink.position = c.position;
    TInputRouter router(sink);
    for (double turn : c.turns)
      router.Wheel(turn, c.ctrlOnly);
    EXPECT_EQ(sink.calls, c.want) << c.what;
  }
  TRecordingSink paused("");
  paused.paused = true;
  TInputRouter keepsPause(paused);
  keepsPause.Wheel(1, false);
  EXPECT_EQ(paused.calls, Calls{"go to 4300 paused"});
  TRecordingSink locked("");
  TInputRouter lockedRouter(locked);
  lockedRouter.SetWheelEnabled(false);
  lockedRouter.Wheel(1, false);
  EXPECT_EQ(locked.calls, Calls{}) << "a show that locks the wheel";
}

} // namespace
} // namespace kiv

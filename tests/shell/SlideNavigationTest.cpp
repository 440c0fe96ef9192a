// Where the main window's Next, Previous and Go-to-slide lead from a play position.

#include "../timeline/TimelineTestUtil.h"

#include "SlideNavigation.h"

#include <gtest/gtest.h>

namespace kiv {
namespace {

using namespace kiv::test;

// Four slides of 1000 ms.
std::unique_ptr<TKivSource> Show(const std::string& extra) {
  std::string text = "[main]\r\nMinorVersion=21\r\nopt_slidescount=4\r\n" + extra;
  for (int i = 1; i <= 4; ++i)
    text += "opt_synchpos" + std::to_string(i) + "=" + std::to_string(i * 1000) + "\r\n";
  for (int i = 1; i <= 4; ++i)
    text += "[Slide" + std::to_string(i) + "]\r\n";
  return std::make_unique<TKivSource>(PlainAccessor(), Document(text));
}

const std::string kTransitions = "opt_fx_enable=1\r\nopt_fx_time=300\r\nopt_fx_eff3=1\r\n";

TEST(SlideNavigation, ASlideStartsOneMillisecondLateWithoutATransition) {
  struct TCase {
    const char* what;
    std::string extra;
    int index;
    double expected;
  };
  const TCase cases[] = {
      {"the third slide", "", 2, 2001},
      {"a negative index is the first slide", "", -3, 1},
      {"the last slide of a show that closes", "opt_repeat=close\r\n", 3, 3000},
      {"the last slide of a repeating show", "", 3, 3001},
      {"a slide with a transition", kTransitions, 2, 2000},
      {"the next pass of a repeating show", "", 5, 5001},
  };
  for (const TCase& c : cases)
    EXPECT_EQ(SlideStartTime(*Show(c.extra), c.index), c.expected) << c.what;
}

TEST(SlideNavigation, NextAndPreviousTargets) {
  struct TCase {
    const char* what;
    std::string extra;
    double position;
    bool paused;
    double next, previous;
  };
  const TCase cases[] = {
      {"inside the second slide", "", 1500, false, 2001, 0},
      {"inside the third slide: back to the second", "", 2700, false, 3001, 1000},
      {"at the end of the third slide, where the fourth starts: past it", "", 3000, false, 4001, 2000},
      {"the start of the show", "", 0, false, 1001, 0},
      {"the last slide of a closing show leads past its end", "opt_repeat=close\r\n", 3500, false, 4001,
       2000},
      {"the last slide of a repeating show leads to the next pass", "", 3500, false, 4001, 2000},
      {"playing through a transition", kTransitions, 1500, false, 2000, 0},
      {"paused after the transition", kTransitions, 1500, true, 2300, 0},
      {"back to the start of the slide before, after its transition", kTransitions, 2900, false, 3000, 1300},
  };
  for (const TCase& c : cases) {
    auto source = Show(c.extra);
    EXPECT_EQ(NextSlideTarget(*source, c.position, c.paused), c.next) << c.what;
    EXPECT_EQ(PreviousSlideTarget(*source, c.position), c.previous) << c.what;
  }
}

} // namespace
} // namespace kiv

// Where a show stops by itself and where it runs programs, searched from a show time.

#include "ShowBarriers.h"
#include "EngineTestSupport.h"

#include <gtest/gtest.h>

namespace kiv {
namespace {

using namespace kiv::test;

// Three slides of 100 ms; keys per slide.
std::string Show(const std::string& main, const std::vector<std::string>& slides) {
  std::string text =
      "[main]\r\nMinorVersion=21\r\nopt_slidescount=3\r\nopt_synchpos1=100\r\nopt_synchpos2=200\r\n"
      "opt_synchpos3=300\r\n" +
      main;
  for (int i = 0; i < 3; ++i)
    text +=
        "[Slide" + std::to_string(i + 1) + "]\r\n" + (i < static_cast<int>(slides.size()) ? slides[i] : "");
  return text;
}

const std::string kPause = "UsePersonal=1\r\nPers_EndAction=pause\r\n";
const std::string kLoop = "UsePersonal=1\r\nPers_EndAction=loop\r\n";

TEST(ShowBarriers, TheFirstSlideEndingWithAPauseOrALoopAfterTheTime) {
  struct TCase {
    const char* what;
    std::string main;
    std::vector<std::string> slides;
    double t;
    TBarrier expected;
  };
  const TCase cases[] = {
      {"none in a repeating show: never", "", {}, 0, {false, 2, kNeverTime, 0}},
      {"none in a show that closes: its length", "opt_repeat=close\r\n", {}, 0, {false, 2, 300, 0}},
      {"a pause ahead", "", {"", kPause}, 50, {true, 1, 200, 0}},
      {"a loop ahead loops its still time", "", {"", kLoop}, 150, {true, 1, 200, 100}},
      {"a pause just passed: the same slide next pass", "", {"", kPause}, 200.5, {true, 4, 500, 0}},
      {"past the last pause of a closing show", "opt_repeat=close\r\n", {kPause}, 150, {false, 2, 300, 0}},
      {"a manual show pauses at every slide", "opt_manualshow=1\r\n", {}, 120, {true, 1, 200, 0}},
  };
  for (const TCase& c : cases) {
    auto source = MakeSource(Show(c.main, c.slides));
    EXPECT_EQ(FindBarrier(*source, c.t, TBarrier{}), c.expected) << c.what;
  }
}

TEST(ShowBarriers, AtTheBarriersOwnTimeTheSearchGoesOnFromItsSlide) {
  auto source = MakeSource(Show("opt_manualshow=1\r\n", {}));
  const TBarrier first = FindBarrier(*source, 0, TBarrier{});
  EXPECT_EQ(first, (TBarrier{true, 0, 100, 0}));
  // The time 100 belongs to the first slide; from the barrier it is the second slide's end that counts.
  EXPECT_EQ(FindBarrier(*source, 100, first), (TBarrier{true, 1, 200, 0}));
}

TEST(ShowBarriers, ALoopWithoutStillTimeIsAPause) {
  // The second slide ends where it starts: looping by its still time of 0 would never get back.
  auto source = MakeSource(
      "[main]\r\nMinorVersion=21\r\nopt_slidescount=3\r\nopt_synchpos1=100\r\nopt_synchpos2=100\r\n"
      "opt_synchpos3=300\r\n[Slide1]\r\n[Slide2]\r\n" +
      kLoop + "[Slide3]\r\n" + kLoop);
  const TBarrier zero = FindBarrier(*source, 50, TBarrier{});
  EXPECT_EQ(zero, (TBarrier{true, 1, 100, 0}));
  EXPECT_FALSE(zero.IsLoop());
  // A slide with still time loops by it.
  EXPECT_EQ(FindBarrier(*source, 150, TBarrier{}), (TBarrier{true, 2, 300, 200}));
}

TEST(ShowBarriers, SearchesEndWithinOnePassOfARepeatingShow) {
  // Slide actions and barriers that a long repeating show never has are not searched for ever.
  std::string text = "[main]\r\nMinorVersion=21\r\nopt_slidescount=2000\r\n";
  for (int i = 1; i <= 2000; ++i)
    text += "opt_synchpos" + std::to_string(i) + "=" + std::to_string(i) + "\r\n";
  auto source = MakeSource(text);
  EXPECT_FALSE(FindBarrier(*source, 1e9, TBarrier{}).enabled);
  EXPECT_EQ(FindSlideAction(*source, 1e9, TSlideAction{}).time, kNeverTime);
}

TEST(ShowBarriers, SlideActionsFollowEachOtherFromThePreviousOne) {
  const std::string run2 = "UsePersonal=1\r\nPers_RunApp=1\r\nRunAppFN=b.sh\r\n";
  const std::string run3 = "UsePersonal=1\r\nPers_RunApp=1\r\nRunAppFN=c.sh\r\n";
  const std::string empty = "UsePersonal=1\r\nPers_RunApp=1\r\nRunAppFN=\r\n";
  auto source = MakeSource(Show("", {"", run2, run3}));
  TSlideAction action = FindSlideAction(*source, 0, TSlideAction{});
  EXPECT_EQ(action, (TSlideAction{1, 101, u"b.sh"}));
  action = FindSlideAction(*source, action.time, action);
  EXPECT_EQ(action, (TSlideAction{2, 201, u"c.sh"}));
  action = FindSlideAction(*source, action.time, action);
  EXPECT_EQ(action, (TSlideAction{4, 401, u"b.sh"})) << "the next pass";

  auto closing = MakeSource(Show("opt_repeat=close\r\n", {"", empty, run3}));
  EXPECT_EQ(FindSlideAction(*closing, 0, TSlideAction{}), (TSlideAction{2, 201, u"c.sh"}))
      << "a slide without a program runs none";
  EXPECT_EQ(FindSlideAction(*closing, 250, TSlideAction{}).time, kNeverTime);
}

} // namespace
} // namespace kiv

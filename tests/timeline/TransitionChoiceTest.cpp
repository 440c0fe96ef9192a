// The transition into each slide: random draws from the effect groups, a slide's own transition, custom
// transitions, deterministic choice, and the transition times the timing table asks for.

#include "TimelineTestUtil.h"

#include "Assert.h"
#include "ShowTimeline.h"

#include <gtest/gtest.h>

#include <tuple>
#include <vector>

namespace kiv {
namespace {

using namespace kiv::test;

std::unique_ptr<TKivSource> Source(const std::string& text) {
  return std::make_unique<TKivSource>(PlainAccessor(), Document(text));
}

const std::string kShow = "[main]\r\nopt_slidescount=3\r\nopt_fx_enable=1\r\nopt_fx_time=700\r\n";

TEST(TransitionChoice, RandomDrawsAlternateBetweenOddAndEvenCharactersOfTheGroup) {
  const auto source = Source(kShow + "opt_fx_eff3=1A\r\n");
  for (int i = 0; i < 6; ++i) {
    const TEffectChoice choice = source->GetEffect(i);
    EXPECT_EQ(choice.effectClass, 2);
    EXPECT_EQ(choice.effectType, i % 2 == 0 ? 9 : 1) << i;
    EXPECT_EQ(choice.time, 700);
  }
}

TEST(TransitionChoice, OnlyTheFirstGroupActiveMeansNoTransition) {
  const auto source = Source(kShow + "opt_fx_eff1=12\r\n");
  EXPECT_TRUE(source->TransitionsEnabled());
  for (int i = 0; i < 3; ++i) {
    const TEffectChoice choice = source->GetEffect(i);
    EXPECT_EQ(choice.effectClass, 0);
    EXPECT_EQ(choice.time, 0);
    EXPECT_EQ(source->GetEffectTime(i), 0);
  }
}

TEST(TransitionChoice, ASlidesOwnTransition) {
  const auto source =
      Source(kShow + "opt_fx_eff3=1\r\nopt_fx_custom2=wipe.kiv\r\n"
                     "[Slide1]\r\nUsePersonal=1\r\nPers_Effect=1\r\nEffect_Class=5\r\nEffectTime=900\r\n"
                     "[Slide2]\r\nUsePersonal=1\r\nPers_Effect=1\r\nEffect_Class=18\r\nEffect_Type=2\r\n"
                     "EffectTime=400\r\n"
                     "[Slide3]\r\nUsePersonal=1\r\nPers_Effect=1\r\nEffect_Class=0\r\nEffectTime=400\r\n");
  const TEffectChoice fixed = source->GetEffect(0);
  EXPECT_EQ(fixed.effectClass, 5);
  EXPECT_EQ(fixed.effectType, 1); // no type letter
  EXPECT_EQ(fixed.time, 900);
  const TEffectChoice custom = source->GetEffect(1);
  EXPECT_EQ(custom.effectClass, 18);
  EXPECT_EQ(custom.effectType, 0);
  EXPECT_EQ(custom.time, 400);
  EXPECT_EQ(custom.params.customDescription, u"wipe.kiv");
  const TEffectChoice none = source->GetEffect(2);
  EXPECT_EQ(none.effectClass, 0);
  EXPECT_EQ(none.time, 0);
  // Positions wrap modulo the slide count.
  EXPECT_EQ(source->GetEffect(3).effectClass, 5);
}

TEST(TransitionChoice, DeterministicChoiceRepeatsFromRunToRun) {
  const std::string show = kShow + "opt_fx_eff3=1A34\r\nopt_fx_eff8=5b\r\nopt_fx_rollvariants=3\r\n";
  std::vector<std::tuple<int, int, int32_t, bool>> runs[2];
  for (auto& run : runs) {
    const auto source = Source(show);
    source->SetDeterministic(true, 77);
    for (int p = 0; p < 9; ++p) {
      const TEffectChoice c = source->GetEffect(p);
      run.emplace_back(c.effectClass, c.effectType, c.params.seed, c.params.rollVariants);
    }
  }
  EXPECT_EQ(runs[0], runs[1]);
  // Groups in number order (3, then 8); the character follows (p xor seed) and the parity of p; the
  // roll variant is on for an even number of set bits in (seed xor p).
  EXPECT_EQ(runs[0][0], std::make_tuple(2, 3, 77, true));
  EXPECT_EQ(runs[0][1], std::make_tuple(7, 10, 77 ^ 1, false));
}

TEST(TransitionChoice, ARandomCustomTransitionIsOneThatGroup19Selects) {
  // Group 19 lists custom transitions 2, 0 and 5 (only 0 and 2 exist); the custom class is the only one.
  const std::string show = kShow + "opt_fx_custom_count=3\r\nopt_fx_eff19=2,0,5\r\n"
                                   "opt_fx_custom0=fx\\zero.kiv\r\nopt_fx_custom1=fx\\one.kiv\r\n"
                                   "opt_fx_custom2=fx\\two.kiv\r\n";
  const char16_t* const texts[] = {u"fx\\zero.kiv", u"", u"fx\\two.kiv"};
  for (const int32_t seed : {0, 1, 6}) {
    const auto source = Source(show);
    source->SetDeterministic(true, seed);
    for (int p = 0; p < 3; ++p) {
      const TEffectChoice choice = source->GetEffect(p);
      EXPECT_EQ(choice.effectClass, 18);
      // The selected ones in increasing order, (p xor seed) mod their count.
      const int wanted = ((p ^ seed) % 2) == 0 ? 0 : 2;
      EXPECT_EQ(choice.customNumber, wanted) << "seed " << seed << " position " << p;
      EXPECT_EQ(choice.params.customDescription, texts[wanted]);
    }
  }
  // Without the deterministic flag the draw still lands on a selected one.
  const auto source = Source(show);
  for (int p = 0; p < 20; ++p) {
    const int number = source->GetEffect(p).customNumber;
    EXPECT_TRUE(number == 0 || number == 2) << number;
  }
}

TEST(TransitionChoice, ASlideAskingForARandomTransitionInAShowWithoutGroupsGetsNone) {
  const auto source = Source(kShow + "[Slide1]\r\nUsePersonal=1\r\nPers_Effect=1\r\nEffect_Class=-1\r\n"
                                     "EffectTime=900\r\n");
  EXPECT_FALSE(source->TransitionsEnabled());
  const TEffectChoice choice = source->GetEffect(0);
  EXPECT_EQ(choice.effectClass, 0);
  EXPECT_EQ(choice.time, 0);
  EXPECT_EQ(source->GetEffectTime(0), 0);
}

TEST(TransitionChoice, TimesPastTheLastSlideCountOnlyWhenTheShowRepeats) {
  const struct {
    std::string keys;
    int atCount;
  } cases[] = {{"opt_repeat=repeat\r\n", 700}, {"opt_repeat=stop\r\n", 0}, {"opt_repeat=close\r\n", 0}};
  for (const auto& c : cases) {
    const auto source = Source(kShow + "opt_fx_eff3=1\r\n" + c.keys);
    EXPECT_EQ(source->GetEffectTime(2), 700) << c.keys;
    EXPECT_EQ(source->GetEffectTime(3), c.atCount) << c.keys;
  }
  // Enabled with a time of 0: no slide has a transition.
  const auto zero =
      Source("[main]\r\nopt_slidescount=3\r\nopt_fx_enable=1\r\nopt_fx_time=0\r\nopt_fx_eff3=1\r\n");
  EXPECT_EQ(zero->GetEffectTime(0), 0);
  EXPECT_EQ(zero->GetEffect(1).effectClass, 0);
}

TEST(TransitionChoice, AShowWithoutSlidesHasNoTransitionToAskFor) {
  const TAssertionSink old = SetAssertionSink([](const std::string&) {});
  const auto source = Source("[main]\r\nopt_fx_enable=1\r\nopt_fx_time=700\r\nopt_fx_eff3=1\r\n");
  EXPECT_THROW(source->GetEffect(0), EAssertion);
  EXPECT_EQ(source->GetEffectTime(0), 0);
  SetAssertionSink(old);
}

} // namespace
} // namespace kiv

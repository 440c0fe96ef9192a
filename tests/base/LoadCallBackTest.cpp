#include "LoadYield.h"
#include "Assert.h"

#include <gtest/gtest.h>

#include <vector>

namespace kiv {
namespace {

int64_t gNow = 0;
int gSleepCost = 0; // how far a sleep moves the clock
std::vector<int> gSleeps;

int64_t FakeClock() {
  return gNow;
}
void FakeSleep(int ms) {
  gSleeps.push_back(ms);
  gNow += gSleepCost;
}
void QuietSink(const std::string&) {}

class LoadCallBackTest : public ::testing::Test {
protected:
  void SetUp() override {
    gNow = 0;
    gSleepCost = 0;
    gSleeps.clear();
    SetLoadCallBackClock(&FakeClock, &FakeSleep);
  }
  void TearDown() override {
    SetLoadCallBackMode(kLoadContinue);
    SetLoadCallBackClock(nullptr, nullptr);
  }
};

TEST_F(LoadCallBackTest, ContinueAndStopNeverSleep) {
  for (int mode : {kLoadContinue, kLoadStop}) {
    SetLoadCallBackMode(mode);
    EXPECT_EQ(LoadCallBackMode(), mode);
    for (int64_t t : {0, 6, 100, 1000}) {
      gNow = t;
      EXPECT_EQ(LoadCallBack(), mode == kLoadContinue);
    }
  }
  EXPECT_TRUE(gSleeps.empty());
}

TEST_F(LoadCallBackTest, YieldModesSleepOnlyAfterMoreThanFiveMs) {
  struct Case {
    int mode;
    int sleepMs;
  };
  for (Case c : {Case{kLoadYield, 0}, Case{kLoadYieldPlaying, 1}}) {
    SCOPED_TRACE(c.mode);
    SetUp();
    SetLoadCallBackMode(c.mode);
    // Calls at these times; the last yield starts at time 0.
    const struct {
      int64_t now;
      bool yields;
    } steps[] = {{5, false}, {6, true}, {8, false}, {11, false}, {12, true}, {12, false}, {100, true}};
    std::size_t expectedSleeps = 0;
    for (const auto& step : steps) {
      gNow = step.now;
      EXPECT_TRUE(LoadCallBack());
      if (step.yields) ++expectedSleeps;
      EXPECT_EQ(gSleeps.size(), expectedSleeps) << "at " << step.now;
    }
    EXPECT_EQ(gSleeps, std::vector<int>(expectedSleeps, c.sleepMs));
  }
}

TEST_F(LoadCallBackTest, IntervalCountsFromTheEndOfTheLastYield) {
  SetLoadCallBackMode(kLoadYieldPlaying);
  gSleepCost = 3;
  gNow = 10;
  EXPECT_TRUE(LoadCallBack()); // sleeps, clock now 13
  ASSERT_EQ(gSleeps.size(), 1u);
  gNow = 18;
  EXPECT_TRUE(LoadCallBack());
  EXPECT_EQ(gSleeps.size(), 1u);
  gNow = 19;
  EXPECT_TRUE(LoadCallBack());
  EXPECT_EQ(gSleeps.size(), 2u);
}

TEST_F(LoadCallBackTest, ModesOutsideTheRangeAreAssertions) {
  TAssertionSink previous = SetAssertionSink(&QuietSink);
  SetLoadCallBackMode(kLoadYield);
  EXPECT_THROW(SetLoadCallBackMode(4), EAssertion);
  EXPECT_THROW(SetLoadCallBackMode(-1), EAssertion);
  EXPECT_EQ(LoadCallBackMode(), kLoadYield);
  SetAssertionSink(previous);
}

} // namespace
} // namespace kiv

// The smoother of the engine's clock: exact for a while after a reset, then even steps out of uneven ones,
// with a lag that stays bounded.
#include "FrameInterpolator.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace kiv {
namespace {

// The music clock as the engine sees it: read at every frame (60 per second), it moves in the 10 ms steps
// of the audio clock, so the steps it shows are 10 or 20 ms, never the 16.67 of the frames.
double MusicClockAt(int frame) {
  return std::floor(frame * 1000.0 / 60 / 10) * 10;
}

TEST(FrameInterpolator, TheFirst48ValuesAfterAResetPassUnchanged) {
  TFrameInterpolator smoother;
  for (int round = 0; round < 2; ++round) {
    smoother.Reset();
    const int start = round * 1000;
    for (int frame = start; frame < start + 48; ++frame)
      ASSERT_EQ(smoother.Smooth(MusicClockAt(frame)), MusicClockAt(frame)) << "value " << frame - start + 1;
    // 16 of warm-up and 32 steps seen: the 49th is the first to be smoothed.
    EXPECT_NE(smoother.Smooth(MusicClockAt(start + 48)), MusicClockAt(start + 48));
  }
}

TEST(FrameInterpolator, UnevenClockStepsComeOutEvenWithABoundedLag) {
  TFrameInterpolator smoother;
  double previous = 0, largestDeviation = 0, largestLag = 0;
  for (int frame = 0; frame < 2000; ++frame) {
    const double input = MusicClockAt(frame);
    const double output = smoother.Smooth(input);
    if (frame > 200) {
      largestDeviation = std::max(largestDeviation, std::fabs(output - previous - 1000.0 / 60));
      largestLag = std::max(largestLag, std::fabs(output - input));
    }
    previous = output;
  }
  // The input's own steps miss a frame's length by up to 6.7 ms.
  EXPECT_LT(largestDeviation, 1.5);
  EXPECT_LT(largestLag, 10);
}

TEST(FrameInterpolator, ALateStepMovesTheOutputByASixthOfItsError) {
  TFrameInterpolator smoother;
  double input = 0;
  for (int i = 0; i < 100; ++i)
    smoother.Smooth(input += 10);
  const double before = smoother.Output();
  EXPECT_DOUBLE_EQ(before, input); // even steps are followed exactly
  // A step of 40 among 31 steps of 10: the prediction moves by 350 / 32 and a sixth of the rest is added.
  smoother.Smooth(input += 40);
  EXPECT_DOUBLE_EQ(smoother.Output() - before, 350.0 / 32 + (40 - 350.0 / 32) / 6);
}

TEST(FrameInterpolator, BypassPassesValuesAndLeavesAfterOneMore) {
  TFrameInterpolator smoother;
  for (int frame = 0; frame < 100; ++frame)
    smoother.Smooth(MusicClockAt(frame));
  smoother.SetBypass(true);
  // While the clock is held: the held value, and a jump when the show is moved.
  for (const double held : {5000.0, 5000.0, 9000.0})
    EXPECT_EQ(smoother.Smooth(held), held);
  smoother.SetBypass(false);
  EXPECT_TRUE(smoother.Bypass());
  EXPECT_EQ(smoother.Smooth(9010), 9010); // the first value after the release still passes
  EXPECT_FALSE(smoother.Bypass());
  // Then smoothing resumes without a new warm-up: the ring still holds the steps seen before.
  EXPECT_NE(smoother.Smooth(9030), 9030);
  // Leaving a bypass that was never entered changes nothing.
  TFrameInterpolator fresh;
  fresh.SetBypass(false);
  EXPECT_FALSE(fresh.Bypass());
}

} // namespace
} // namespace kiv

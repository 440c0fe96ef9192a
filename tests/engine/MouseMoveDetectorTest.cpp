// Real mouse movement told from jitter, and the idle state that follows from it.
#include "MouseMoveDetector.h"

#include <gtest/gtest.h>

#include <memory>

namespace kiv {
namespace {

TEST(MouseMoveDetector, OnlyMovesOfMoreThanFivePixelsCount) {
  const struct {
    int32_t x;
    int32_t y;
    bool moved;
  } steps[] = {
      {200, 200, false},                                       // the first position is only recorded
      {205, 200, false}, {200, 205, false}, {203, 198, false}, // |dx| + |dy| = 5 at most
      {203, 197, true},                                        // 6: counted, and recorded
      {208, 197, false},                                       // 5 from the new place
      {203, 203, true},  {203, 203, false}, {-3000, 9000, true},
  };
  TMouseMoveDetector detector;
  int expectedMoves = 0;
  for (const auto& s : steps) {
    EXPECT_EQ(detector.Moved(s.x, s.y), s.moved) << s.x << "," << s.y;
    expectedMoves += s.moved;
  }
  EXPECT_EQ(detector.MovesCounted(), expectedMoves);
}

TEST(MouseMoveDetector, IdleFollowsTheLastCountedMoveAndTheForcedStates) {
  auto now = std::make_shared<int64_t>(1000);
  TMouseMoveDetector detector(3000, [now] { return *now; });
  enum TStep { Check, Move, Jitter, ForceIdle, Restart };
  const struct {
    int64_t time;
    TStep what;
    bool idle; // IsIdle after the step
  } steps[] = {
      {1000, Check, false},    {4000, Check, false},    {4001, Check, true},  {4500, Move, false},
      {7400, Jitter, false},   {7501, Check, true}, // jitter keeps no one awake
      {7600, Move, false},     {7600, ForceIdle, true}, {7700, Move, false},  {12000, ForceIdle, true},
      {12000, Restart, false}, {15000, Check, false},   {15001, Check, true},
  };
  int32_t x = 0;
  detector.Moved(x, 0);
  for (const auto& s : steps) {
    *now = s.time;
    switch (s.what) {
    case Move:
      x += 50;
      EXPECT_TRUE(detector.Moved(x, 0));
      break;
    case Jitter:
      EXPECT_FALSE(detector.Moved(x + 2, 1));
      break;
    case ForceIdle:
      detector.SetIdle(true);
      break;
    case Restart:
      detector.SetIdle(false);
      break;
    case Check:
      break;
    }
    EXPECT_EQ(detector.IsIdle(), s.idle) << "at " << s.time;
  }
}

} // namespace
} // namespace kiv

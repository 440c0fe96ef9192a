#pragma once
// Tells a real mouse movement from jitter, and whether the mouse has rested for a while.

#include "ObjectBase.h"

#include <cstdint>
#include <functional>

namespace kiv {

// Monotonic milliseconds; tests pass their own.
using TMoveDetectorClock = std::function<int64_t()>;

class TMouseMoveDetector : public TObj {
public:
  // Movements of more than this many pixels (|dx| + |dy|) count.
  static constexpr int64_t kMoveThreshold = 5;

  // An empty clock means the system's monotonic clock.
  explicit TMouseMoveDetector(int64_t idleTimeoutMs = 0, TMoveDetectorClock clock = {});

  // The first call only records the position. Later calls report a move when the position is more than
  // kMoveThreshold pixels from the recorded one, and then record it along with the time.
  bool Moved(int32_t x, int32_t y);
  // true: idle at once; false: the next check starts the idle timing afresh.
  void SetIdle(bool idle);
  // No movement for longer than the timeout.
  bool IsIdle();

  int64_t IdleTimeout() const noexcept { return idleTimeoutMs_; }
  void SetIdleTimeout(int64_t ms) noexcept { idleTimeoutMs_ = ms; }
  int MovesCounted() const noexcept { return moves_; }

private:
  TMoveDetectorClock clock_;
  int64_t idleTimeoutMs_;
  int moves_ = 0;
  bool hasPosition_ = false;
  int32_t lastX_ = 0;
  int32_t lastY_ = 0;
  int64_t lastActivity_;
  bool forcedIdle_ = false;    // set by SetIdle(true) until the next move
  bool restartTiming_ = false; // set by SetIdle(false) until the next check
};

} // namespace kiv

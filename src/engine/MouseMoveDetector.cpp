#include "MouseMoveDetector.h"

#include <chrono>
#include <cstdlib>

namespace kiv {
namespace {

int64_t SteadyMilliseconds() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

} // namespace

TMouseMoveDetector::TMouseMoveDetector(int64_t idleTimeoutMs, TMoveDetectorClock clock)
    : clock_(clock ? std::move(clock) : TMoveDetectorClock(SteadyMilliseconds)),
      idleTimeoutMs_(idleTimeoutMs), lastActivity_(clock_()) {}

bool TMouseMoveDetector::Moved(int32_t x, int32_t y) {
  if (!hasPosition_) {
    hasPosition_ = true;
    lastX_ = x;
    lastY_ = y;
    return false;
  }
  // In 64 bits: a window reports far-away positions (the largest integer) when the cursor leaves it.
  const int64_t distance = std::llabs(int64_t{x} - lastX_) + std::llabs(int64_t{y} - lastY_);
  if (distance <= kMoveThreshold) return false;
  lastX_ = x;
  lastY_ = y;
  lastActivity_ = clock_();
  forcedIdle_ = false;
  ++moves_;
  return true;
}

void TMouseMoveDetector::SetIdle(bool idle) {
  if (idle)
    forcedIdle_ = true;
  else
    restartTiming_ = true;
}

bool TMouseMoveDetector::IsIdle() {
  const int64_t now = clock_();
  if (restartTiming_) {
    restartTiming_ = false;
    forcedIdle_ = false;
    lastActivity_ = now;
  }
  return forcedIdle_ || now - lastActivity_ > idleTimeoutMs_;
}

} // namespace kiv

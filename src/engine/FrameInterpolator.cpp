#include "FrameInterpolator.h"

namespace kiv {

void TFrameInterpolator::Reset() {
  warmUp_ = kWarmUp;
  stepCount_ = 0;
  ringIndex_ = 0;
  stepSum_ = 0;
}

void TFrameInterpolator::SetBypass(bool on) {
  if (on) {
    bypass_ = true;
    leaveBypass_ = false;
  } else if (bypass_) {
    leaveBypass_ = true;
  }
}

double TFrameInterpolator::Smooth(double value) {
  double result = value;
  if (bypass_ || warmUp_ > 0) {
    if (!bypass_) --warmUp_;
  } else {
    ++stepCount_;
    if (stepCount_ > kRingSize) stepSum_ -= steps_[ringIndex_];
    const double step = value - lastInput_;
    stepSum_ += step;
    steps_[ringIndex_] = step;
    ringIndex_ = (ringIndex_ + 1) % kRingSize;
    if (stepCount_ > kRingSize) {
      const double predicted = output_ + stepSum_ / kRingSize;
      result = predicted + (value - predicted) / 6;
    }
  }
  output_ = result;
  lastInput_ = value;
  if (leaveBypass_) {
    bypass_ = false;
    leaveBypass_ = false;
  }
  return output_;
}

} // namespace kiv

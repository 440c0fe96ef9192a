#pragma once
// Smooths the engine's clock: the music clock it follows moves in uneven steps (the audio clock is read
// every 10 ms, frames come every 16 or 17), so slide motion would stutter. After a warm-up the output
// advances by the mean of the last 32 input steps and is pulled a sixth of the way towards the input.

#include "ObjectBase.h"

#include <array>
#include <cstdint>

namespace kiv {

class TFrameInterpolator : public TObj {
public:
  static constexpr int kRingSize = 32;
  static constexpr int kWarmUp = 16;

  TFrameInterpolator() { Reset(); }

  // The next kWarmUp values pass through, then smoothing waits for more than kRingSize steps.
  void Reset();
  // on: values pass through from now. off: the next value still passes through, then smoothing resumes.
  void SetBypass(bool on);
  double Smooth(double value);

  double Output() const noexcept { return output_; }
  bool Bypass() const noexcept { return bypass_; }

private:
  double output_ = 0;
  int32_t warmUp_ = kWarmUp;
  double lastInput_ = 0;
  std::array<double, kRingSize> steps_{};
  int64_t stepCount_ = 0;
  int32_t ringIndex_ = 0;
  double stepSum_ = 0;
  bool bypass_ = false;
  bool leaveBypass_ = false;
};

} // namespace kiv

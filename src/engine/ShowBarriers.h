#pragma once
// Where a playing show stops by itself and where it runs programs: the next slide that ends with a pause
// or a loop (a barrier), and the next slide that runs a program as it starts. Both are searched forward
// from a show time over the timing table, at most one pass of a repeating show far; nothing found within
// that means never.

#include "ShowTimeline.h"

#include <cstdint>
#include <string>

namespace kiv {

// A time no show reaches.
inline constexpr double kNeverTime = 3.4e38;

struct TBarrier {
  bool enabled = false;
  int32_t position = 0;     // play position of the slide that ends there
  double time = kNeverTime; // ms: that slide's end
  double loopLength = 0;    // ms; 0 for a pause barrier

  bool IsLoop() const noexcept { return loopLength > 0; }
  bool operator==(const TBarrier&) const = default;
};

struct TSlideAction {
  int32_t position = 0;
  double time = kNeverTime; // ms: the slide's start + 1
  std::u16string program;   // the program to run; empty: nothing

  bool operator==(const TSlideAction&) const = default;
};

// The first barrier after time t: from the slide at t, or from the current barrier's slide when t is its
// time. A loop whose slide has no still time loops nowhere and counts as a pause. None: disabled, at the
// last slide, at the show's length when it does not repeat, else never.
TBarrier FindBarrier(const TKivSource& source, double t, const TBarrier& current);
// The barrier of a show whose barriers are not honoured: none.
TBarrier NoBarrier(const TKivSource& source);

// The first slide after time t that runs a program at its start: from the slide at t, or from the slide
// after the previous action's when t is that action's time.
TSlideAction FindSlideAction(const TKivSource& source, double t, const TSlideAction& previous);

} // namespace kiv

#include "SlideNavigation.h"

#include <algorithm>
#include <climits>
#include <cmath>

namespace kiv {

namespace {

double Rounded(double value) {
  return std::round(value);
}

bool LastOfAnEndingShow(const TKivSource& source, int index) {
  return source.RepeatMode() != TRepeatMode::Repeat && index == source.SlideCount() - 1;
}

} // namespace

double SlideStartTime(const TKivSource& source, int index) {
  index = std::max(index, 0);
  const TSlideInfo slide = source.GetSlideTiming(index);
  double start = Rounded(slide.start);
  if (slide.effectIn <= 0 && !LastOfAnEndingShow(source, index)) start += 1;
  return start;
}

double NextSlideTarget(const TKivSource& source, double p, bool paused) {
  const int count = source.SlideCount();
  if (count <= 0) return p;
  const int last = source.RepeatMode() != TRepeatMode::Repeat ? count - 1 : INT_MAX - 1;
  int i = std::min(source.FindSlideAt(p), last);
  double t = 0;
  do {
    ++i;
    t = Rounded(source.GetSlideTiming(i).start);
  } while (t <= p && i < last);
  const TSlideInfo slide = source.GetSlideTiming(i);
  if (slide.effectIn > 0 || LastOfAnEndingShow(source, i)) return paused ? t + Rounded(slide.effectIn) : t;
  return t + 1;
}

double PreviousSlideTarget(const TKivSource& source, double p) {
  int i = source.FindSlideAt(p);
  // Before the first slide there is nothing to go back to.
  if (i < 0) return 0;
  if (p < source.GetSlideTiming(i).end) {
    if (i < 2) return 0;
    --i;
  }
  const TSlideInfo slide = source.GetSlideTiming(i);
  const double t = Rounded(slide.start + slide.effectIn);
  if (p - t >= 500) return t;
  if (i <= 1) return 0;
  const TSlideInfo before = source.GetSlideTiming(i - 1);
  return Rounded(before.start + before.effectIn);
}

} // namespace kiv

#include "ShowBarriers.h"

#include <algorithm>

namespace kiv {

namespace {

// The last position a search may look at: the last slide of a show that ends, else one whole pass on
// from the first (a repeating show repeats its slides, so a further pass finds nothing new).
int32_t SearchLimit(const TKivSource& source, int32_t first) {
  const int32_t count = source.SlideCount();
  if (source.RepeatMode() != TRepeatMode::Repeat) return count - 1;
  return first + count;
}

} // namespace

TBarrier NoBarrier(const TKivSource& source) {
  TBarrier none;
  none.position = std::max(0, source.SlideCount() - 1);
  none.time = source.RepeatMode() == TRepeatMode::Repeat ? kNeverTime : source.TotalDuration();
  return none;
}

TBarrier FindBarrier(const TKivSource& source, double t, const TBarrier& current) {
  if (source.SlideCount() <= 0) return NoBarrier(source);
  const int32_t first =
      std::max(0, current.enabled && t == current.time ? current.position : source.FindSlideAt(t));
  const int32_t last = SearchLimit(source, first);
  for (int32_t position = first; position <= last; ++position) {
    const TSlideInfo slide = source.GetSlideTiming(position);
    if (slide.end <= t) continue;
    double loopTime = 0;
    // Later passes play the same slides: their options are those of the slide in the first pass.
    const TEndAction action = source.GetEndAction(position % source.SlideCount(), loopTime);
    if (action == TEndAction::None) continue;
    TBarrier barrier;
    barrier.enabled = true;
    barrier.position = position;
    barrier.time = slide.end;
    barrier.loopLength = action == TEndAction::Loop && loopTime > 0 ? loopTime : 0;
    return barrier;
  }
  return NoBarrier(source);
}

TSlideAction FindSlideAction(const TKivSource& source, double t, const TSlideAction& previous) {
  TSlideAction none;
  if (source.SlideCount() <= 0) return none;
  const int32_t first = std::max(0, previous.time < kNeverTime && t == previous.time ? previous.position + 1
                                                                                     : source.FindSlideAt(t));
  const int32_t last = SearchLimit(source, first);
  for (int32_t position = first; position <= last; ++position) {
    const TSlideInfo slide = source.GetSlideTiming(position);
    if (slide.start + 1 <= t) continue;
    std::u16string program;
    if (!source.GetRunApp(position % source.SlideCount(), program) || program.empty()) continue;
    return {position, slide.start + 1, program};
  }
  return none;
}

} // namespace kiv

#pragma once
// Where the main window's slide navigation goes: the start time of a slide, the next slide and the
// previous slide from a play position, over the show's timing table. Slide indexes past the last slide
// lie in the following passes of a repeating show.

#include "ShowTimeline.h"

namespace kiv {

// The start of slide index (negative counts as 0), to the nearest ms; 1 ms later when the slide has no
// transition and is not the last slide of a show that ends.
double SlideStartTime(const TKivSource& source, int index);
// The next slide's start from position p; with a transition, after it when paused.
double NextSlideTarget(const TKivSource& source, double p, bool paused);
// The previous slide from position p: the current slide's start (after its transition) when p is at
// least 500 ms past it, else the slide before.
double PreviousSlideTarget(const TKivSource& source, double p);

} // namespace kiv

#pragma once
// The sound of a slide's video objects, as members of the slide's comment composite.

#include "CompositeMusicBuilder.h"
#include "IniDocument.h"

#include <vector>

namespace kiv {

class TKivSource;

// How long a slide's sound may run: its sync span plus the transition time, which is the slide's own
// "EffectTime" when "Pers_Effect" is set and "Effect_Class" is not 0, else "opt_fx_time"; 0 when
// "opt_fx_enable" is off or every "opt_fx_eff" group is empty.
double SlideSoundLength(const TKivSource& source, const TIniSection& slide, double syncSpan);

// Every "video" and "mainvideo" object of the slide at any depth (key points are not searched) that
// sounds: not muted, at speed 1. One that names a clip of the show's video container ("VideoBoss" in
// main) through "ClipGUID" takes the clip's file and times, and is left out when the clip began on an
// earlier slide or was already taken on this one. Each becomes a member at its "StartKIVTime", from its
// "StartVideoTime", at full volume; a duration of 0 means until the slide's sound ends, and an object
// without a clip stops there. "LoadFromDisk" puts "LoadFromDisk:" before the file name.
std::vector<TCompositeMember> SoundingVideoMembers(const TKivSource& source, const TIniSection& slide,
                                                   double slideStart, double slideLength);

} // namespace kiv

#pragma once
// The null sound output: a worker that consumes the host's time every 10 ms, mixing what is due and
// dropping it. A machine without a sound device still plays the show, silently and on a correct clock.

#include "SoundOutput.h"

namespace kiv {

// The backend table entry "null"; it always opens.
TSoundOutputOpener NullSoundBackend();

// A factory with the null backend alone.
TSoundOutputFactory NullSoundOutputFactory();

} // namespace kiv

#pragma once
// The SDL sound output: SDL's audio callback pulls the mixer (44100 Hz, 16 bits, stereo). A library of its
// own, so that programs without sound need not link SDL.

#include "SoundOutput.h"

namespace kiv {

// The backend table entry "sdl"; fails (with SDL's reason) where SDL cannot open an audio device.
TSoundOutputOpener SdlSoundBackend();

// What a player uses by default: SDL, else the null output.
TSoundOutputFactory DefaultSoundOutputFactory();

} // namespace kiv

#pragma once
// SDL's keys, modifiers and mouse buttons in the codes the rest of the player uses: Windows virtual-key
// codes (letters by their capital, F1 = 112, media keys 176..179) and the window toolkit's shift bits
// (Windows key 1, Shift 2, Alt 4, Ctrl 8, left button 16, right 32, middle 64).

#include <SDL2/SDL_keycode.h>

#include <cstdint>

namespace kiv {

// The virtual-key code of an SDL key; 0 for a key that has none. Keypad digits and the keypad point
// read as the navigation keys they double as while Num Lock is off, as they do on Windows.
int32_t KeyCodeFromSdl(SDL_Keycode key, uint16_t modifiers);

// Shift bits from SDL's modifier state and mouse button mask (SDL_BUTTON_LMASK ...).
uint8_t ShiftStateFromSdl(uint16_t modifiers, uint32_t buttonMask);

// Left 1, right 4, middle 5; 0 for any other SDL mouse button.
int32_t MouseButtonFromSdl(uint8_t button);

} // namespace kiv

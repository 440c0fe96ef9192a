#include "SdlKeyCodes.h"

#include <SDL2/SDL_mouse.h>

#include <array>

namespace kiv {
namespace {

// A run of SDL keys whose codes follow one another, and the code of the first; keypad rows add the
// code the key has while Num Lock is off.
struct TSdlKeyRun {
  SDL_Keycode first;
  SDL_Keycode last;
  int32_t code;
  int32_t codeWithoutNumLock = 0;
};

constexpr TSdlKeyRun kKeyRuns[] = {
    // Characters.
    {SDLK_a, SDLK_z, 'A'},
    {SDLK_0, SDLK_9, '0'},
    {SDLK_SPACE, SDLK_SPACE, 32},
    {SDLK_SEMICOLON, SDLK_SEMICOLON, 186},
    {SDLK_EQUALS, SDLK_EQUALS, 187},
    {SDLK_COMMA, SDLK_COMMA, 188},
    {SDLK_MINUS, SDLK_MINUS, 189},
    {SDLK_PERIOD, SDLK_PERIOD, 190},
    {SDLK_SLASH, SDLK_SLASH, 191},
    {SDLK_BACKQUOTE, SDLK_BACKQUOTE, 192},
    {SDLK_LEFTBRACKET, SDLK_LEFTBRACKET, 219},
    {SDLK_BACKSLASH, SDLK_BACKSLASH, 220},
    {SDLK_RIGHTBRACKET, SDLK_RIGHTBRACKET, 221},
    {SDLK_QUOTE, SDLK_QUOTE, 222},
    // Editing and navigation.
    {SDLK_BACKSPACE, SDLK_BACKSPACE, 8},
    {SDLK_TAB, SDLK_TAB, 9},
    {SDLK_CLEAR, SDLK_CLEAR, 12},
    {SDLK_RETURN, SDLK_RETURN, 13},
    {SDLK_PAUSE, SDLK_PAUSE, 19},
    {SDLK_ESCAPE, SDLK_ESCAPE, 27},
    {SDLK_PAGEUP, SDLK_PAGEUP, 33},
    {SDLK_PAGEDOWN, SDLK_PAGEDOWN, 34},
    {SDLK_END, SDLK_END, 35},
    {SDLK_HOME, SDLK_HOME, 36},
    {SDLK_LEFT, SDLK_LEFT, 37},
    {SDLK_UP, SDLK_UP, 38},
    {SDLK_RIGHT, SDLK_RIGHT, 39},
    {SDLK_DOWN, SDLK_DOWN, 40},
    {SDLK_PRINTSCREEN, SDLK_PRINTSCREEN, 44},
    {SDLK_INSERT, SDLK_INSERT, 45},
    {SDLK_DELETE, SDLK_DELETE, 46},
    // Modifiers and locks.
    {SDLK_LSHIFT, SDLK_LSHIFT, 16},
    {SDLK_RSHIFT, SDLK_RSHIFT, 16},
    {SDLK_LCTRL, SDLK_LCTRL, 17},
    {SDLK_RCTRL, SDLK_RCTRL, 17},
    {SDLK_LALT, SDLK_LALT, 18},
    {SDLK_RALT, SDLK_RALT, 18},
    {SDLK_CAPSLOCK, SDLK_CAPSLOCK, 20},
    {SDLK_LGUI, SDLK_LGUI, 91},
    {SDLK_RGUI, SDLK_RGUI, 92},
    {SDLK_APPLICATION, SDLK_APPLICATION, 93},
    {SDLK_SLEEP, SDLK_SLEEP, 95},
    {SDLK_NUMLOCKCLEAR, SDLK_NUMLOCKCLEAR, 144},
    {SDLK_SCROLLLOCK, SDLK_SCROLLLOCK, 145},
    // Keypad.
    {SDLK_KP_0, SDLK_KP_0, 96, 45},
    {SDLK_KP_1, SDLK_KP_1, 97, 35},
    {SDLK_KP_2, SDLK_KP_2, 98, 40},
    {SDLK_KP_3, SDLK_KP_3, 99, 34},
    {SDLK_KP_4, SDLK_KP_4, 100, 37},
    {SDLK_KP_5, SDLK_KP_5, 101, 12},
    {SDLK_KP_6, SDLK_KP_6, 102, 39},
    {SDLK_KP_7, SDLK_KP_7, 103, 36},
    {SDLK_KP_8, SDLK_KP_8, 104, 38},
    {SDLK_KP_9, SDLK_KP_9, 105, 33},
    {SDLK_KP_MULTIPLY, SDLK_KP_MULTIPLY, 106},
    {SDLK_KP_PLUS, SDLK_KP_PLUS, 107},
    {SDLK_KP_COMMA, SDLK_KP_COMMA, 108},
    {SDLK_KP_MINUS, SDLK_KP_MINUS, 109},
    {SDLK_KP_PERIOD, SDLK_KP_PERIOD, 110, 46},
    {SDLK_KP_DIVIDE, SDLK_KP_DIVIDE, 111},
    {SDLK_KP_ENTER, SDLK_KP_ENTER, 13},
    // Function keys.
    {SDLK_F1, SDLK_F12, 112},
    {SDLK_F13, SDLK_F24, 124},
    // Browser and media keys.
    {SDLK_AC_BACK, SDLK_AC_BACK, 166},
    {SDLK_AC_FORWARD, SDLK_AC_FORWARD, 167},
    {SDLK_AC_REFRESH, SDLK_AC_REFRESH, 168},
    {SDLK_AC_STOP, SDLK_AC_STOP, 169},
    {SDLK_AC_SEARCH, SDLK_AC_SEARCH, 170},
    {SDLK_AC_BOOKMARKS, SDLK_AC_BOOKMARKS, 171},
    {SDLK_AC_HOME, SDLK_AC_HOME, 172},
    {SDLK_AUDIOMUTE, SDLK_AUDIOMUTE, 173},
    {SDLK_MUTE, SDLK_MUTE, 173},
    {SDLK_VOLUMEDOWN, SDLK_VOLUMEDOWN, 174},
    {SDLK_VOLUMEUP, SDLK_VOLUMEUP, 175},
    {SDLK_AUDIONEXT, SDLK_AUDIONEXT, 176},
    {SDLK_AUDIOPREV, SDLK_AUDIOPREV, 177},
    {SDLK_AUDIOSTOP, SDLK_AUDIOSTOP, 178},
    {SDLK_AUDIOPLAY, SDLK_AUDIOPLAY, 179},
    {SDLK_MAIL, SDLK_MAIL, 180},
    {SDLK_MEDIASELECT, SDLK_MEDIASELECT, 181},
    {SDLK_COMPUTER, SDLK_COMPUTER, 182},
    {SDLK_CALCULATOR, SDLK_CALCULATOR, 183},
};

struct TSdlBit {
  uint32_t sdl;
  uint8_t shift;
};

constexpr std::array<TSdlBit, 4> kModifierBits{{
    {KMOD_GUI, 1},
    {KMOD_SHIFT, 2},
    {KMOD_ALT, 4},
    {KMOD_CTRL, 8},
}};

constexpr std::array<TSdlBit, 3> kButtonBits{{
    {SDL_BUTTON_LMASK, 16},
    {SDL_BUTTON_RMASK, 32},
    {SDL_BUTTON_MMASK, 64},
}};

} // namespace

int32_t KeyCodeFromSdl(SDL_Keycode key, uint16_t modifiers) {
  for (const TSdlKeyRun& run : kKeyRuns) {
    if (key < run.first || key > run.last) continue;
    if (run.codeWithoutNumLock != 0 && (modifiers & KMOD_NUM) == 0) return run.codeWithoutNumLock;
    return run.code + (key - run.first);
  }
  return 0;
}

uint8_t ShiftStateFromSdl(uint16_t modifiers, uint32_t buttonMask) {
  uint8_t shift = 0;
  for (const TSdlBit& bit : kModifierBits)
    if (modifiers & bit.sdl) shift |= bit.shift;
  for (const TSdlBit& bit : kButtonBits)
    if (buttonMask & bit.sdl) shift |= bit.shift;
  return shift;
}

int32_t MouseButtonFromSdl(uint8_t button) {
  switch (button) {
  case SDL_BUTTON_LEFT:
    return 1;
  case SDL_BUTTON_RIGHT:
    return 4;
  case SDL_BUTTON_MIDDLE:
    return 5;
  default:
    return 0;
  }
}

} // namespace kiv

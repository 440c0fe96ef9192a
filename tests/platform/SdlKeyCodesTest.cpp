// SDL's keys, modifiers and buttons in the player's own codes, and through the input mapping.
#include "sdl/SdlKeyCodes.h"
#include "InputMapping.h"

#include "IniDocument.h"
#include "Streams.h"

#include <SDL2/SDL_mouse.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kiv {
namespace {

TEST(SdlKeyCodes, KeysOfEveryGroupGetTheirVirtualKeyCodes) {
  const struct {
    SDL_Keycode key;
    uint16_t modifiers;
    int32_t code;
  } cases[] = {
      // Letters by their capital, digits by their character, whatever the modifiers.
      {SDLK_a, 0, 65},
      {SDLK_p, KMOD_LSHIFT, 80},
      {SDLK_z, KMOD_CAPS, 90},
      {SDLK_0, 0, 48},
      {SDLK_5, 0, 53},
      {SDLK_9, KMOD_LSHIFT, 57},
      // Navigation and editing.
      {SDLK_LEFT, 0, 37},
      {SDLK_UP, 0, 38},
      {SDLK_RIGHT, 0, 39},
      {SDLK_DOWN, 0, 40},
      {SDLK_PAGEUP, 0, 33},
      {SDLK_PAGEDOWN, 0, 34},
      {SDLK_HOME, 0, 36},
      {SDLK_END, 0, 35},
      {SDLK_SPACE, 0, 32},
      {SDLK_RETURN, 0, 13},
      {SDLK_ESCAPE, 0, 27},
      {SDLK_PAUSE, 0, 19},
      {SDLK_TAB, 0, 9},
      {SDLK_BACKSPACE, 0, 8},
      {SDLK_DELETE, 0, 46},
      {SDLK_INSERT, 0, 45},
      // Function keys.
      {SDLK_F1, 0, 112},
      {SDLK_F2, 0, 113},
      {SDLK_F10, 0, 121},
      {SDLK_F12, 0, 123},
      {SDLK_F13, 0, 124},
      {SDLK_F24, 0, 135},
      // Keypad with Num Lock on, and the keys it doubles as with Num Lock off.
      {SDLK_KP_0, KMOD_NUM, 96},
      {SDLK_KP_5, KMOD_NUM, 101},
      {SDLK_KP_9, KMOD_NUM, 105},
      {SDLK_KP_MULTIPLY, 0, 106},
      {SDLK_KP_PLUS, 0, 107},
      {SDLK_KP_MINUS, 0, 109},
      {SDLK_KP_PERIOD, KMOD_NUM, 110},
      {SDLK_KP_DIVIDE, 0, 111},
      {SDLK_KP_ENTER, 0, 13},
      {SDLK_KP_7, 0, 36},
      {SDLK_KP_1, 0, 35},
      {SDLK_KP_9, 0, 33},
      {SDLK_KP_3, 0, 34},
      {SDLK_KP_4, 0, 37},
      {SDLK_KP_6, 0, 39},
      {SDLK_KP_8, 0, 38},
      {SDLK_KP_2, 0, 40},
      {SDLK_KP_0, 0, 45},
      {SDLK_KP_PERIOD, 0, 46},
      {SDLK_KP_DIVIDE, KMOD_NUM, 111},
      // Media and browser keys.
      {SDLK_AUDIONEXT, 0, 176},
      {SDLK_AUDIOPREV, 0, 177},
      {SDLK_AUDIOSTOP, 0, 178},
      {SDLK_AUDIOPLAY, 0, 179},
      {SDLK_AC_BACK, 0, 166},
      {SDLK_AC_FORWARD, 0, 167},
      {SDLK_VOLUMEUP, 0, 175},
      // Modifier keys themselves.
      {SDLK_LSHIFT, 0, 16},
      {SDLK_RCTRL, 0, 17},
      {SDLK_LALT, 0, 18},
      {SDLK_LGUI, 0, 91},
      // Keys with no code.
      {SDLK_UNKNOWN, 0, 0},
      {SDLK_KP_A, 0, 0},
      {SDLK_EXCLAIM, 0, 0},
      {SDLK_BRIGHTNESSUP, 0, 0},
  };
  for (const auto& c : cases)
    EXPECT_EQ(KeyCodeFromSdl(c.key, c.modifiers), c.code) << "key " << c.key << " mod " << c.modifiers;
}

TEST(SdlKeyCodes, ModifiersAndHeldButtonsBecomeShiftBits) {
  const struct {
    uint16_t modifiers;
    uint32_t buttons;
    uint8_t shift;
  } cases[] = {
      {KMOD_NONE, 0, 0},
      {KMOD_LGUI, 0, 1},
      {KMOD_RGUI, 0, 1},
      {KMOD_LSHIFT, 0, 2},
      {KMOD_RSHIFT, 0, 2},
      {KMOD_LALT, 0, 4},
      {KMOD_RALT, 0, 4},
      {KMOD_LCTRL, 0, 8},
      {KMOD_RCTRL | KMOD_LSHIFT, 0, 10},
      {KMOD_LCTRL | KMOD_RCTRL, 0, 8},
      // Lock states are no shift bits.
      {KMOD_NUM | KMOD_CAPS | KMOD_MODE | KMOD_SCROLL, 0, 0},
      {0, SDL_BUTTON_LMASK, 16},
      {0, SDL_BUTTON_RMASK, 32},
      {0, SDL_BUTTON_MMASK, 64},
      {0, SDL_BUTTON_X1MASK | SDL_BUTTON_X2MASK, 0},
      {KMOD_LCTRL | KMOD_LGUI, SDL_BUTTON_LMASK | SDL_BUTTON_MMASK, 1 | 8 | 16 | 64},
  };
  for (const auto& c : cases)
    EXPECT_EQ(ShiftStateFromSdl(c.modifiers, c.buttons), c.shift) << c.modifiers << " " << c.buttons;
}

TEST(SdlKeyCodes, MouseButtonsAreLeftRightAndMiddleOnly) {
  EXPECT_EQ(MouseButtonFromSdl(SDL_BUTTON_LEFT), 1);
  EXPECT_EQ(MouseButtonFromSdl(SDL_BUTTON_RIGHT), 4);
  EXPECT_EQ(MouseButtonFromSdl(SDL_BUTTON_MIDDLE), 5);
  EXPECT_EQ(MouseButtonFromSdl(SDL_BUTTON_X1), 0);
  EXPECT_EQ(MouseButtonFromSdl(SDL_BUTTON_X2), 0);
  EXPECT_EQ(MouseButtonFromSdl(0), 0);
}

TEST(SdlKeyCodes, SdlKeysReachTheActionsOfTheKeyTable) {
  const std::string text = "[main]\r\nopt_slidescount=12\r\n";
  TIniFile project;
  TMemoryStream stream(std::vector<uint8_t>(text.begin(), text.end()));
  ASSERT_TRUE(project.LoadFromStream(stream));
  const TInputMappingClass mapping(project);
  const struct {
    SDL_Keycode key;
    uint16_t modifiers;
    int kind; // -1: nothing
  } cases[] = {
      {SDLK_RIGHT, 0, 3},
      {SDLK_RIGHT, KMOD_LGUI | KMOD_NUM, 3},
      {SDLK_RIGHT, KMOD_LSHIFT, -1},
      {SDLK_p, KMOD_RCTRL, 5},
      {SDLK_p, KMOD_LCTRL | KMOD_LGUI, 5},
      {SDLK_p, KMOD_LCTRL | KMOD_LSHIFT, -1},
      {SDLK_p, 0, -1},
      {SDLK_KP_6, 0, 3},         // Num Lock off: the keypad's right arrow
      {SDLK_KP_6, KMOD_NUM, -1}, // Num Lock on: the digit 6
      {SDLK_KP_1, 0, 7},         // End
      {SDLK_AUDIOPLAY, 0, 5},
      {SDLK_AUDIOSTOP, 0, 13},
      {SDLK_AC_BACK, 0, 2},
      {SDLK_ESCAPE, KMOD_CAPS, 1},
      {SDLK_F1, 0, 4},
      {SDLK_F2, 0, -1},
  };
  for (const auto& c : cases) {
    const TKeyMap* binding =
        mapping.MapKey(ShiftStateFromSdl(c.modifiers, 0), KeyCodeFromSdl(c.key, c.modifiers), kKeyDown);
    EXPECT_EQ(binding ? static_cast<int>(binding->Action.Kind) : -1, c.kind)
        << "key " << c.key << " mod " << c.modifiers;
  }
}

} // namespace
} // namespace kiv

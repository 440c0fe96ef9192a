// The error box through SDL, tried only where a display may be reached.

#include "ErrorBox.h"

#include <SDL.h>

#include <cstdlib>

namespace kiv {

bool ShowSystemMessageBox(const std::string& caption, const std::string& text) {
  auto set = [](const char* name) {
    const char* value = std::getenv(name);
    return value && *value;
  };
  if (!set("DISPLAY") && !set("WAYLAND_DISPLAY")) return false;
  const bool wasUp = SDL_WasInit(SDL_INIT_VIDEO) != 0;
  if (!wasUp && SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) return false;
  const bool shown =
      SDL_ShowSimpleMessageBox(SDL_MESSAGEBOX_WARNING, caption.c_str(), text.c_str(), nullptr) == 0;
  if (!wasUp) SDL_QuitSubSystem(SDL_INIT_VIDEO);
  return shown;
}

} // namespace kiv

#include "SdlLibraryVersion.h"

#include <SDL2/SDL.h>

namespace kiv {

std::string SdlVersionLine() {
  SDL_version version{};
  SDL_GetVersion(&version);
  return "SDL " + std::to_string(version.major) + "." + std::to_string(version.minor) + "." +
         std::to_string(version.patch);
}

} // namespace kiv

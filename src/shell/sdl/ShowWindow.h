#pragma once
// The main window on SDL2: one window with a GL context in which the viewer plays the show, with its
// sound on SDL audio (or the null device), keys, mouse buttons and the wheel going through the show's
// input mapping. Escape and closing the window end the program.

#include <memory>
#include <string>

namespace kiv {

class TKivShowLocator;

struct TShowWindowOptions {
  double startPosition = 0; // ms
  bool cover = false;
  bool resize = false;
  bool desktopAlign = false;
  int display = 0;
};

// Whether a window can be shown: a display is named (DISPLAY or WAYLAND_DISPLAY) and SDL reaches it
// rather than falling back to a driver nobody sees. SDL_VIDEODRIVER set by the user is taken as it is.
// False with one line saying why.
bool DisplayAvailable(std::string* why);

// Plays the located show until the window closes; the program's exit status. nullptr-free failures (no
// display, no GL) are reported and answer 1.
// The window takes the located show over, and opens others in its place as the shows ask. showName is
// the name the show was located by (a project file when isProjectFile).
int RunShowWindow(std::unique_ptr<TKivShowLocator> locator, const std::string& showName, bool isProjectFile,
                  const TShowWindowOptions& options);

} // namespace kiv

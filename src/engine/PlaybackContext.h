#pragma once
// What one player lends its engine: the host its workers run on, the application that carries reports
// to the user-interface thread, the music of a show and how the front end wants the show drawn. Made by
// the front end (window, export, tests) and passed down; it outlives the viewer and the engine.

#include "Application.h"
#include "DeviceLayer.h"
#include "ShowMusic.h"
#include "SlideOrder.h"
#include "SlideShowParams.h"
#include "WorkerThread.h"

#include <functional>

namespace kiv {

struct TPlaybackContext {
  TWorkerHost* host = nullptr;
  TKivApplication* application = nullptr;
  // The music (and with it the clock) of each opened show; required.
  TShowMusicFactory music;
  // The screen a full-screen show fills.
  TSize desktop = kHeadlessDesktopSize;
  // The command line's "cover": slides fill the window and are cropped.
  bool cover = false;
  // The play orders of random shows, shared by every show of the player; none: each show its own.
  TRef<TSlideOrderRegistry> orders;

  // How the front end uses the engine. The window takes the defaults; the exporter draws frames itself at
  // exact times, with the panel as still pictures show it, and a show that waits for the user would never
  // end there.
  bool drawOnDemand = false; // the engine never draws by itself: the front end asks (DrawFrameNow)
  bool exactClock = false;   // no smoothing of the music clock
  bool stillPanel = false;   // the navigation panel shown for good, as in still pictures
  bool barriersHold = true;  // false: pause and loop barriers are passed without stopping
  bool yieldLoads = true;    // loading threads give up the processor while the show plays
  bool repeatableDraws = false; // random transitions drawn the same way every run, as still pictures draw them
  uint8_t drawerMode = 0;    // 0 draw and present; 1 draw to be read back
  // Lets go of the drawing context held by the calling thread: the engine's thread as it ends, and the
  // user-interface thread after the first open, which it runs before the engine's thread draws.
  std::function<void()> releaseDrawingContext;
};

} // namespace kiv

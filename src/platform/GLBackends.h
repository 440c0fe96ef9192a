#pragma once
// The GL platform backends, SDL style: a table tried in order, each entry with a name, what it can make,
// whether it runs here, its context factory and the displays it knows. The device layer sees only this
// table; the backends themselves live in egl/ and sdl/.

#include "GLContext.h"

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace kiv {

// What a backend can make contexts for.
inline constexpr uint32_t kGLBackendHeadless = 1; // drawing into framebuffer objects only
inline constexpr uint32_t kGLBackendWindows = 2;  // drawing into a TPlatformWindow

struct TGLBackend {
  const char* name;
  uint32_t caps;
  bool (*available)(std::string* whyNot);
  // A GL 3.3 core context on the window, or a headless one when the window is none; nullptr with the
  // reason when it cannot.
  std::unique_ptr<TGLContext> (*create)(TPlatformWindow* window, std::string* whyNot);
  // The monitors the backend knows, in adapter order; empty when it has none (headless).
  std::vector<TDisplayInfo> (*displays)();
};

using TGLBackendTable = std::span<const TGLBackend* const>;

// This platform's backends in the order they are tried: SDL (windows and displays), then EGL (headless).
TGLBackendTable GLBackends();

// A context from the first available backend that makes the kind asked for (a window's, or headless).
std::unique_ptr<TGLContext> CreateGLContext(TGLBackendTable backends, TPlatformWindow* window,
                                            std::string* whyNot = nullptr);
// The displays of the first available backend that knows any; empty when none does.
std::vector<TDisplayInfo> BackendDisplays(TGLBackendTable backends);

} // namespace kiv

#pragma once
// A GL 3.3 core context and where it draws: headless (EGL, surfaceless Mesa) or an SDL2 window.
// The device layer sees only these interfaces and the backend table (GLBackends.h); the backends live in
// egl/ and sdl/.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace kiv {

struct TScreenRect {
  int32_t left = 0, top = 0, right = 0, bottom = 0;
};

// A top-level window that GL can draw into. Owns its SDL window.
class TPlatformWindow {
public:
  virtual ~TPlatformWindow() = default;
  virtual void SetPlacement(const TScreenRect& rect) = 0; // screen coordinates, shown without activating
  virtual void GetDrawableSize(int& width, int& height) const = 0;
  virtual void* NativeHandle() const = 0; // SDL_Window*
};

class TGLContext {
public:
  virtual ~TGLContext() = default;
  // Binds the context to the calling thread. A context current on another thread cannot be bound.
  virtual bool MakeCurrent() = 0;
  // Unbinds whatever context the calling thread holds.
  virtual void ReleaseCurrent() = 0;
  // Shows the default framebuffer; nothing for a headless context.
  virtual void SwapBuffers() = 0;
  virtual bool IsHeadless() const = 0;
  // Size of the default framebuffer (0 x 0 when headless).
  virtual void GetDrawableSize(int& width, int& height) const = 0;
};

// Headless context on the surfaceless Mesa platform; nullptr (and a reason) when EGL has no such display.
std::unique_ptr<TGLContext> CreateHeadlessGLContext(std::string* whyNot = nullptr);
// True when a surfaceless EGL display can be opened (the answer is cached).
bool HeadlessGLAvailable(std::string* whyNot = nullptr);

// SDL video: initialised on first use, with the driver SDL picks (or $SDL_VIDEODRIVER).
bool InitSdlVideo(std::string* whyNot = nullptr);
bool SdlVideoActive();
// Monitor rectangles and refresh rates (Hz, 0 when unknown) of the SDL displays; empty without SDL video.
struct TDisplayInfo {
  TScreenRect bounds;
  int32_t refreshRate = 0;
};
std::vector<TDisplayInfo> SdlDisplays();

// A GL-capable window (hidden until placed with a non-empty rectangle when `hidden`).
std::unique_ptr<TPlatformWindow> CreateSdlWindow(const char* title, const TScreenRect& rect, bool hidden,
                                                 std::string* whyNot = nullptr);
// A GL 3.3 core context on the window; the window must outlive it.
std::unique_ptr<TGLContext> CreateWindowGLContext(TPlatformWindow& window, std::string* whyNot = nullptr);

} // namespace kiv

// SDL2 windows and their GL contexts, and the display list that the device layer's adapters come from.

#include "GLBackends.h"
#include "GLContext.h"

#include <SDL2/SDL.h>

#include <mutex>

namespace kiv {
namespace {

std::mutex gSdlMutex;
bool gSdlVideo = false;

class TSdlWindow final : public TPlatformWindow {
public:
  explicit TSdlWindow(SDL_Window* window) : window_(window) {}
  ~TSdlWindow() override { SDL_DestroyWindow(window_); }
  void SetPlacement(const TScreenRect& rect) override {
    SDL_SetWindowPosition(window_, rect.left, rect.top);
    SDL_SetWindowSize(window_, rect.right - rect.left, rect.bottom - rect.top);
    if (rect.right > rect.left && rect.bottom > rect.top) SDL_ShowWindow(window_);
  }
  void GetDrawableSize(int& width, int& height) const override {
    SDL_GL_GetDrawableSize(window_, &width, &height);
  }
  void* NativeHandle() const override { return window_; }

private:
  SDL_Window* window_;
};

class TSdlGLContext final : public TGLContext {
public:
  TSdlGLContext(SDL_Window* window, SDL_GLContext context) : window_(window), context_(context) {}
  ~TSdlGLContext() override {
    if (SDL_GL_GetCurrentContext() == context_) SDL_GL_MakeCurrent(window_, nullptr);
    SDL_GL_DeleteContext(context_);
  }
  bool MakeCurrent() override { return SDL_GL_MakeCurrent(window_, context_) == 0; }
  void ReleaseCurrent() override { SDL_GL_MakeCurrent(window_, nullptr); }
  void SwapBuffers() override { SDL_GL_SwapWindow(window_); }
  bool IsHeadless() const override { return false; }
  void GetDrawableSize(int& width, int& height) const override {
    SDL_GL_GetDrawableSize(window_, &width, &height);
  }

private:
  SDL_Window* window_;
  SDL_GLContext context_;
};

} // namespace

bool InitSdlVideo(std::string* whyNot) {
  std::lock_guard lock(gSdlMutex);
  if (gSdlVideo) return true;
  if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) {
    if (whyNot) *whyNot = SDL_GetError();
    return false;
  }
  gSdlVideo = true;
  return true;
}

bool SdlVideoActive() {
  std::lock_guard lock(gSdlMutex);
  return gSdlVideo;
}

std::vector<TDisplayInfo> SdlDisplays() {
  std::vector<TDisplayInfo> displays;
  if (!SdlVideoActive()) return displays;
  const int count = SDL_GetNumVideoDisplays();
  for (int i = 0; i < count; ++i) {
    SDL_Rect bounds;
    if (SDL_GetDisplayBounds(i, &bounds) != 0) continue;
    TDisplayInfo info;
    info.bounds = {bounds.x, bounds.y, bounds.x + bounds.w, bounds.y + bounds.h};
    SDL_DisplayMode mode;
    if (SDL_GetCurrentDisplayMode(i, &mode) == 0) info.refreshRate = mode.refresh_rate;
    displays.push_back(info);
  }
  return displays;
}

std::unique_ptr<TPlatformWindow> CreateSdlWindow(const char* title, const TScreenRect& rect, bool hidden,
                                                 std::string* whyNot) {
  if (!InitSdlVideo(whyNot)) return nullptr;
  const int width = rect.right - rect.left, height = rect.bottom - rect.top;
  Uint32 flags = SDL_WINDOW_OPENGL;
  if (hidden || width <= 0 || height <= 0) flags |= SDL_WINDOW_HIDDEN;
  SDL_Window* window =
      SDL_CreateWindow(title, rect.left, rect.top, width > 0 ? width : 1, height > 0 ? height : 1, flags);
  if (!window) {
    if (whyNot) *whyNot = SDL_GetError();
    return nullptr;
  }
  return std::make_unique<TSdlWindow>(window);
}

std::unique_ptr<TGLContext> CreateWindowGLContext(TPlatformWindow& window, std::string* whyNot) {
  auto* sdlWindow = static_cast<SDL_Window*>(window.NativeHandle());
  SDL_GL_SetAttribute(SDL_GL_CONTEXT_MAJOR_VERSION, 3);
  SDL_GL_SetAttribute(SDL_GL_CONTEXT_MINOR_VERSION, 3);
  SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, SDL_GL_CONTEXT_PROFILE_CORE);
  SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
  SDL_GL_SetAttribute(SDL_GL_DEPTH_SIZE, 0);
  SDL_GLContext context = SDL_GL_CreateContext(sdlWindow);
  if (!context) {
    if (whyNot) *whyNot = SDL_GetError();
    return nullptr;
  }
  return std::make_unique<TSdlGLContext>(sdlWindow, context);
}

namespace {
// SDL contexts need a window and its displays need video: both exist once a window was made.
bool SdlAvailable(std::string* whyNot) {
  if (SdlVideoActive()) return true;
  if (whyNot) *whyNot = "SDL video is not running";
  return false;
}
std::unique_ptr<TGLContext> CreateSdlContext(TPlatformWindow* window, std::string* whyNot) {
  if (!window) {
    if (whyNot) *whyNot = "SDL draws into windows only";
    return nullptr;
  }
  return CreateWindowGLContext(*window, whyNot);
}
} // namespace

extern const TGLBackend kSdlBackend = {"sdl", kGLBackendWindows, &SdlAvailable, &CreateSdlContext,
                                       &SdlDisplays};

} // namespace kiv

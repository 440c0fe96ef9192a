// Headless GL through EGL on Mesa's surfaceless platform: no window, no pbuffer; all drawing goes into
// framebuffer objects.

#include "GLBackends.h"
#include "GLContext.h"

#include <EGL/egl.h>
#include <EGL/eglext.h>

#include <mutex>

namespace kiv {
namespace {

// One display for the process. It is never terminated: contexts of other threads may still use it.
struct TEglDisplay {
  EGLDisplay display = EGL_NO_DISPLAY;
  std::string whyNot;
};

const TEglDisplay& SurfacelessDisplay() {
  static TEglDisplay result;
  static std::once_flag once;
  std::call_once(once, [] {
    auto getPlatformDisplay =
        reinterpret_cast<PFNEGLGETPLATFORMDISPLAYEXTPROC>(eglGetProcAddress("eglGetPlatformDisplayEXT"));
    if (!getPlatformDisplay) {
      result.whyNot = "EGL has no eglGetPlatformDisplayEXT";
      return;
    }
    EGLDisplay display = getPlatformDisplay(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY, nullptr);
    EGLint major = 0, minor = 0;
    if (display == EGL_NO_DISPLAY || !eglInitialize(display, &major, &minor)) {
      result.whyNot = "no surfaceless EGL display (EGL error " + std::to_string(eglGetError()) + ")";
      return;
    }
    result.display = display;
  });
  return result;
}

class TEglContext final : public TGLContext {
public:
  TEglContext(EGLDisplay display, EGLContext context) : display_(display), context_(context) {}
  ~TEglContext() override {
    if (eglGetCurrentContext() == context_)
      eglMakeCurrent(display_, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
    eglDestroyContext(display_, context_);
  }
  bool MakeCurrent() override {
    return eglMakeCurrent(display_, EGL_NO_SURFACE, EGL_NO_SURFACE, context_) == EGL_TRUE;
  }
  void ReleaseCurrent() override { eglMakeCurrent(display_, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT); }
  void SwapBuffers() override {}
  bool IsHeadless() const override { return true; }
  void GetDrawableSize(int& width, int& height) const override { width = height = 0; }

private:
  EGLDisplay display_;
  EGLContext context_;
};

} // namespace

bool HeadlessGLAvailable(std::string* whyNot) {
  const TEglDisplay& display = SurfacelessDisplay();
  if (whyNot) *whyNot = display.whyNot;
  return display.display != EGL_NO_DISPLAY;
}

std::unique_ptr<TGLContext> CreateHeadlessGLContext(std::string* whyNot) {
  const TEglDisplay& display = SurfacelessDisplay();
  if (display.display == EGL_NO_DISPLAY) {
    if (whyNot) *whyNot = display.whyNot;
    return nullptr;
  }
  if (!eglBindAPI(EGL_OPENGL_API)) {
    if (whyNot) *whyNot = "EGL cannot bind the OpenGL API";
    return nullptr;
  }
  const EGLint attributes[] = {EGL_CONTEXT_MAJOR_VERSION,
                               3,
                               EGL_CONTEXT_MINOR_VERSION,
                               3,
                               EGL_CONTEXT_OPENGL_PROFILE_MASK,
                               EGL_CONTEXT_OPENGL_CORE_PROFILE_BIT,
                               EGL_NONE};
  EGLContext context = eglCreateContext(display.display, EGL_NO_CONFIG_KHR, EGL_NO_CONTEXT, attributes);
  if (context == EGL_NO_CONTEXT) {
    if (whyNot) *whyNot = "no GL 3.3 core context (EGL error " + std::to_string(eglGetError()) + ")";
    return nullptr;
  }
  return std::make_unique<TEglContext>(display.display, context);
}

namespace {
std::unique_ptr<TGLContext> CreateEglContext(TPlatformWindow* window, std::string* whyNot) {
  if (window) {
    if (whyNot) *whyNot = "EGL here draws headless only";
    return nullptr;
  }
  return CreateHeadlessGLContext(whyNot);
}
// Surfaceless: there is no monitor to report.
std::vector<TDisplayInfo> NoDisplays() {
  return {};
}
} // namespace

extern const TGLBackend kEglBackend = {"egl", kGLBackendHeadless, &HeadlessGLAvailable, &CreateEglContext,
                                       &NoDisplays};

} // namespace kiv

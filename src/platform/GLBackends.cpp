#include "GLBackends.h"

namespace kiv {

extern const TGLBackend kSdlBackend; // sdl/SdlVideo.cpp
extern const TGLBackend kEglBackend; // egl/EglContext.cpp

namespace {
const TGLBackend* const kBackends[] = {&kSdlBackend, &kEglBackend};
} // namespace

TGLBackendTable GLBackends() {
  return kBackends;
}

std::unique_ptr<TGLContext> CreateGLContext(TGLBackendTable backends, TPlatformWindow* window,
                                            std::string* whyNot) {
  const uint32_t wanted = window ? kGLBackendWindows : kGLBackendHeadless;
  std::string reasons;
  for (const TGLBackend* backend : backends) {
    if (!(backend->caps & wanted)) continue;
    std::string why;
    if (backend->available(&why))
      if (auto context = backend->create(window, &why)) return context;
    reasons += (reasons.empty() ? "" : "; ") + std::string(backend->name) + ": " + why;
  }
  if (whyNot) *whyNot = reasons.empty() ? "no GL backend makes such contexts" : reasons;
  return nullptr;
}

std::vector<TDisplayInfo> BackendDisplays(TGLBackendTable backends) {
  for (const TGLBackend* backend : backends)
    if (backend->available(nullptr))
      if (std::vector<TDisplayInfo> displays = backend->displays(); !displays.empty()) return displays;
  return {};
}

} // namespace kiv

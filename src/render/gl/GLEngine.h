#pragma once
// The GL engine: adapters and monitors from the platform's backend table, capabilities read on a headless
// probe context, and the creation of renderers (on the main thread, posted there from other threads).

#include "DeviceLayer.h"
#include "GLBackends.h"
#include "GLDevice.h"

#include <optional>
#include <vector>

namespace kiv {

class T3DRendererGL;

struct TGLEngineOptions {
  // Used when no backend knows a display (headless): one adapter of this size and refresh rate.
  TRect headlessMonitor{0, 0, 1920, 1080};
  int32_t headlessRefreshRate = 60;
  // Where contexts and displays come from, tried in order; empty: the platform's table (GLBackends()).
  std::vector<const TGLBackend*> backends;
};

class T3DEngineGL final : public T3DEngine {
public:
  explicit T3DEngineGL(const TGLEngineOptions& options);

  int32_t AdapterForRect(const TRect& rect) override;
  int32_t GetCap(std::u16string_view name, int32_t adapter) override;
  bool GetDisplayMode(int32_t adapter, TDisplayMode& mode) override;
  TOwned<T3DRenderer> CreateRenderer(TDrawDevice* device, const TDisplayMode& mode) override;
  bool IsDeviceAvailable() override;
  int32_t ShaderLevel(int32_t adapter) override;

  // Test hook standing in for an unusable session or a lost probe device.
  void SetDeviceAvailableOverride(std::optional<bool> available) { availableOverride_ = available; }

  // The creation itself, on the main thread under the lock; false leaves the renderer without store.
  bool InternalCreateRenderer(T3DRendererGL* renderer, const TDisplayMode& mode);

protected:
  void Dispose() override;

private:
  std::vector<TRect> Monitors(std::vector<int32_t>* refreshRates = nullptr) const;
  bool ReadCaps(int32_t adapter, TCapsWrapper& caps);

  TGLEngineOptions options_;
  std::vector<TCapsWrapper> caps_; // read once per adapter
  TRef<gl::TGLDevice> probe_;      // headless probe context, created on the main thread
  std::optional<bool> availableOverride_;
};

// Registers the GL engine as the process-wide engine factory (call once at start-up).
void RegisterGLEngine(const TGLEngineOptions& options = {});

} // namespace kiv

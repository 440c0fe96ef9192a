#pragma once
// The engine's side of the drawing device: it owns the slide drawer, watches the device (lost, asked to
// repaint, resized, active) and answers the engine's state flags once per loop pass. Engine thread, except
// for the device's notifications, which only set flags.

#include "DeviceLayer.h"
#include "ScreenDrawer.h"

#include <atomic>
#include <cstdint>

namespace kiv {

class TKivDrawController;

// State flags of GetState.
enum : uint32_t {
  kDeviceReady = 1,  // the drawer's screen can draw
  kDeviceLost = 2,   // the renderer reported a loss (with kDeviceReady: it is back)
  kDeviceRedraw = 4, // asked to repaint, or resized
  kDeviceActive = 8, // the window is the active one
};

// Lives in the device's attachment list; when the device frees its attachments, it tells the controller
// that the device is gone.
class TDeviceKilledMessenger2 final : public TObj {
public:
  explicit TDeviceKilledMessenger2(TKivDrawController* owner) : controller(owner) {}
  ~TDeviceKilledMessenger2() override;
  TKivDrawController* controller; // cleared when the controller goes first
};

class TKivDrawController : public TObj {
public:
  // drawerMode: 0 draw and present, 1 draw to be read back.
  TKivDrawController(TDrawDevice* device, bool ownsDevice, uint8_t drawerMode = 0);
  ~TKivDrawController() override;

  // Creates the drawer on the device when there is none yet.
  void EnsureDrawer();
  // The client size the slides are laid out for.
  TSize DeviceSize() const;
  // The flags above; reading clears the repaint request, and a ready screen clears the loss.
  uint32_t GetState();
  // One frame of the root through the drawer; true when drawn (and, in mode 0, presented).
  bool DrawRoot(TDrawItem& root);

  T3DDrawer* Drawer() const noexcept { return drawer_.get(); }
  TDrawDevice* Device() const noexcept { return device_; }
  bool Lost() const noexcept { return lost_.load(std::memory_order_acquire); }
  // The device's repaint notification (any thread).
  void DeviceRefresh();

private:
  friend class TDeviceKilledMessenger2;

  TOwned<T3DDrawer> drawer_;           // engine thread
  TDrawDevice* device_;                // cleared by the messenger when the device goes
  TDeviceKilledMessenger2* messenger_; // owned by the device's attachment list
  bool ownsDevice_;
  uint8_t drawerMode_;
  std::atomic<bool> lost_{false};      // set by the screen's loss notification, cleared by GetState
  std::atomic<bool> refreshed_{false}; // set by the device (any thread), cleared by GetState
};

} // namespace kiv

#include "DrawController.h"

#include "DrawerTransitions.h"

#include "Log.h"

namespace kiv {

TDeviceKilledMessenger2::~TDeviceKilledMessenger2() {
  if (!controller) return;
  controller->device_ = nullptr;
  controller->messenger_ = nullptr;
}

TKivDrawController::TKivDrawController(TDrawDevice* device, bool ownsDevice, uint8_t drawerMode)
    : device_(device), messenger_(nullptr), ownsDevice_(ownsDevice), drawerMode_(drawerMode) {
  if (!device_) return;
  device_->OnPaint = [this](TDrawDevice*) { DeviceRefresh(); };
  auto messenger = MakeOwned<TDeviceKilledMessenger2>(this);
  messenger_ = messenger.get();
  device_->Attach(std::move(messenger));
}

TKivDrawController::~TKivDrawController() {
  // The slides' pictures on the drawer went with the engine's slides; the drawer goes before the device.
  if (drawer_) {
    drawer_->Close();
    drawer_.reset();
  }
  if (!device_) return;
  if (messenger_) messenger_->controller = nullptr;
  if (ownsDevice_) {
    TOwned<TDrawDevice> owned(device_);
    device_ = nullptr;
    return;
  }
  device_->OnPaint = nullptr;
  if (messenger_) device_->Detach(messenger_).reset();
  device_ = nullptr;
}

void TKivDrawController::DeviceRefresh() {
  refreshed_.store(true, std::memory_order_release);
  LogLine("TKivDrawController.DeviceRefresh: DrawDevice Refresh!");
}

void TKivDrawController::EnsureDrawer() {
  if (drawer_ || !device_) return;
  drawer_ = MakeOwned<T3DDrawer>(MakeOwned<T3DScreen>());
  drawer_->mode = drawerMode_;
  drawer_->OnNotify = [](TDeviceDrawer&, TDrawItem*, int) { return true; };
  drawer_->Screen().OnLost = [this](T3DScreen*) {
    lost_.store(true, std::memory_order_release);
    LogLine("TKivDrawController.RndLost");
  };
  // Transitions between slides are drawn by the filters of the drawer's transition factory.
  InstallTransitions(*drawer_);
  drawer_->Init(device_);
}

TSize TKivDrawController::DeviceSize() const {
  if (!device_) return {};
  TDeviceLockGuard lock(DeviceLock());
  return {device_->bounds.Width(), device_->bounds.Height()};
}

uint32_t TKivDrawController::GetState() {
  uint32_t flags = 0;
  if (!device_) return flags;
  TDeviceLockGuard lock(DeviceLock());
  if (device_->IsActive()) flags |= kDeviceActive;
  bool resized = false;
  if (drawer_) {
    const T3DScreen& screen = drawer_->Screen();
    resized = device_->fullScreen != screen.fullScreen ||
              (!device_->fullScreen && device_->bounds != screen.screenRect);
  }
  if (refreshed_.exchange(false, std::memory_order_acq_rel) || resized) flags |= kDeviceRedraw;
  if (lost_.load(std::memory_order_acquire)) flags |= kDeviceLost;
  if (drawer_ && drawer_->Screen().IsReady()) {
    flags |= kDeviceReady;
    if (lost_.exchange(false, std::memory_order_acq_rel))
      LogLine("TKivDrawController.GetState: Inited, not Reinited");
  }
  return flags;
}

bool TKivDrawController::DrawRoot(TDrawItem& root) {
  EnsureDrawer();
  if (!drawer_) return false;
  return drawer_->DrawItem(root);
}

} // namespace kiv

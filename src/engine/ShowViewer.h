#pragma once
// TKivShowViewer: the user-interface side of playback. It belongs to the main window, makes the engine
// on the first open, turns the window's requests (open, go to, pause, mouse, help, still image) into engine
// events, and the engine's reports back into window changes: the window's size and place for a new show,
// actions, still images and positions. User-interface thread only.

#include "Engine.h"
#include "PlaybackContext.h"

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace kiv {

// The drawing device bound to the main window: its client area, whether it is full screen, and whether
// the window is the active one (set by the window, read by the engine).
class TSysDevice : public TDrawDevice {
public:
  bool IsActive() override { return active.load(std::memory_order_acquire); }
  std::atomic<bool> active{true};
};

// Where a show's window goes (event 17 and the first open).
struct TWindowPlacement {
  int frameStyle = 0; // 0 no frame, 1 a frame the user may resize, 5 a fixed frame
  TRect window;       // outer rectangle on the screen
  TRect client;       // the device's client area, from (0, 0)
  bool fullScreen = false;
};

// The placement rules: the frame from the mode (and "resize"), the target area (all monitors with
// "desktopalign", else the monitor "display" N when it exists, else the primary, monitors[0]), the size
// scaled down with its aspect kept when it does not fit, centred. frameExtra: what a frame of that style
// adds to the client size.
struct TPlacementOptions {
  bool resize = false;
  bool desktopAlign = false;
  int display = 0; // from 1; 0 none
};
TWindowPlacement PlaceShowWindow(int width, int height, int mode, const std::vector<TRect>& monitors,
                                 const TPlacementOptions& options, TSize frameExtra);

// The device's client area and screen rectangle become the placement's.
void PlaceDevice(const TWindowPlacement& placement, TDrawDevice& device);

// What the viewer needs of the window it plays in.
class TViewerWindow {
public:
  virtual ~TViewerWindow() = default;
  // The device the engine draws on; the engine owns it.
  virtual TOwned<TSysDevice> CreateDevice() = 0;
  virtual std::vector<TRect> Monitors() = 0;
  // What a frame of the style adds to the client size.
  virtual TSize FrameExtra(int frameStyle) = 0;
  // Gives the window its frame, place and size; a window whose device follows it calls
  // PlaceDevice. Offscreen windows keep their size.
  virtual void Place(const TWindowPlacement& placement, TDrawDevice& device) = 0;
  // The first frame of a show is drawn: a hidden window shows itself.
  virtual void FirstFrame() = 0;
  TPlacementOptions placementOptions;
};

class TKivShowViewer : public TObj {
public:
  TKivShowViewer(TPlaybackContext& context, TViewerWindow& window);
  ~TKivShowViewer() override;

  // Called with the copy of the document the engine gets.
  virtual void OnOpen(const TIniFile& /*document*/) {}

  void Open(TRef<TFileAccessor> accessor, const TIniFile& document, double position);
  void SetPaused(bool paused);
  void SetPosition(double position);
  void GoTo(double position, bool paused);
  void SendMouse(uint8_t shift, int32_t x, int32_t button, uint8_t mouseEvent, int32_t y);
  void SendMouseAction(uint8_t shift, int32_t x, int32_t button, uint8_t mouseEvent, int32_t y,
                       const TKivActionInfo& action);
  void ShowHelp();
  void CloseDialog();
  void RequestImage();
  void SetActionsEnabled(bool enabled);
  // Stops the engine thread (the engine stays until the viewer goes).
  void Stop();

  TKivEngine* Engine() const noexcept { return engine_.get(); }
  bool Paused() const noexcept { return paused_; }
  int32_t Position() const noexcept { return position_; }
  int32_t Length() const noexcept { return length_; }

  std::function<void(TKivShowViewer& viewer, int32_t position, bool ended)> OnPosition;
  std::function<void(TKivShowViewer& viewer, const TKivActionInfo& action)> OnAction;
  std::function<void(TKivShowViewer& viewer, TDevBitmap& image)> OnImage;

private:
  void CreateEngine(const TIniFile* document);
  void EngineEvent(TKivEventData& record);
  void ApplyWindowMode(int width, int height, int mode);
  bool EngineRuns() const { return engine_ && engine_->Running(); }

  TPlaybackContext& context_;
  TViewerWindow& window_;
  TOwned<TKivEngine> engine_;
  bool paused_ = true;
  int32_t position_ = 0;
  int32_t length_ = 0;
  bool actionsEnabled_ = false;
};

} // namespace kiv

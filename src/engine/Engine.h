#pragma once
// TKivEngine: the worker that plays one show at a time. Each loop pass it handles its queue (requests of
// the viewer, slide lists of the loader), applies the latest open or seek request, decides whether the
// show may run (not paused, not waiting at a barrier, no pausing dialog, slides and music ready, the
// window active), takes the show time from the music, stops at barriers, fires slide-start actions,
// reports the position and draws a frame when something changed. It owns the show's slide loader, music,
// overlay, draw controller and root item; only its own thread touches them.

#include "CustomEngine.h"
#include "DrawController.h"
#include "FrameInterpolator.h"
#include "Overlay.h"
#include "PlaybackContext.h"
#include "RootItem.h"
#include "ShowBarriers.h"
#include "ShowMusic.h"
#include "SlideLoader.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

namespace kiv {

class TKivEngine : public TCustomKivEngine {
public:
  // Pauses between passes when a pass took less than kFastPassMs, and when it took longer.
  static constexpr int64_t kFastPassMs = 17;
  static constexpr int64_t kShortSleepMs = 3;
  static constexpr int64_t kLongSleepMs = 1;
  // Position reports follow moves of more than this many ms.
  static constexpr double kReportStepMs = 20;
  static constexpr int32_t kForceReport = -2147483647;

  // Made on the user-interface thread, paused or not, drawing on the device (freed with the engine when
  // owned). The context outlives the engine.
  TKivEngine(TPlaybackContext& context, TDrawDevice* device, uint8_t logoMode, bool paused, bool ownsDevice);
  ~TKivEngine() override;

  // Opens a show at a position (ms): directly before the thread runs, on the engine thread afterwards.
  void Open(TRef<TFileAccessor> accessor, std::unique_ptr<TIniFile> document, double position);
  // The stop: the thread, then loader, music, slides and overlay. Safe from any thread but the engine's.
  void Stop() override;

  // Engine thread ---------------------------------------------------------------------------------
  void SetActive(bool on);
  // The show time in ms: held while inactive, from the music while active.
  double CurrentTime();
  bool IsMusicReady();
  void SetVolume(float value) { volume_ = value; }
  // Asks the user interface to go to a time (an action of kind GotoTime).
  void SeekTo(double time);
  // The frame at the current time, drawn now and read back; none when nothing could be drawn. For a front
  // end that draws on demand; on the engine thread. Given `unchanged`, a frame that cannot differ from the
  // last one drawn here is not drawn again: *unchanged turns true and nothing is returned.
  std::optional<TDevBitmap> DrawFrameNow(bool* unchanged = nullptr);
  // The frame at the current time drawn now, without reading it back; false when nothing was drawn.
  bool DrawNow() { return DrawFrame(true); }

  // Any thread -----------------------------------------------------------------------------------
  bool IsDialogShown() const noexcept { return dialogShown_.load(std::memory_order_acquire); }
  bool IsWaiting() const noexcept { return waiting_.load(std::memory_order_acquire); }
  // The logo mode the viewer opened the engine with; the overlay places the logo by the show's keys.
  uint8_t LogoMode() const noexcept { return logoMode_; }
  // The user continues at a barrier (Next or Pause of the main window).
  void ReleaseBarrier() { waiting_.store(false, std::memory_order_release); }
  bool IsActive() const noexcept { return activeFlag_.load(std::memory_order_acquire); }
  bool HoverActive() const noexcept { return hoverActive_.load(std::memory_order_acquire); }
  std::string HoverClass() const;
  // Slide-start actions and barriers are honoured. Set by the viewer.
  void SetActionsEnabled(bool enabled) { actionsEnabled_.store(enabled, std::memory_order_release); }
  // The show length in ms of the open show (0 before one is open).
  double ShowLength() const noexcept { return showLength_.load(std::memory_order_acquire); }

  // Engine thread, for tests and the still path -----------------------------------------------------
  TKivSource* Source() const noexcept { return source_; }
  TKivSlideLoader* Loader() const noexcept { return loader_.get(); }
  TShowMusic* Music() const noexcept { return music_.get(); }
  TThirdSlide* Overlay() const noexcept { return overlay_.get(); }
  TKivDrawController& Controller() noexcept { return controller_; }
  TRootItem& Root() noexcept { return root_; }
  const TBarrier& Barrier() const noexcept { return barrier_; }
  const TSlideAction& NextAction() const noexcept { return nextAction_; }
  int32_t AppliedSequence() const noexcept { return appliedSequence_; }
  bool Paused() const noexcept { return paused_; }
  int SlideCount() const noexcept { return slideCount_; }
  TDrawContainer* Slide(int index) const noexcept {
    return index >= 0 && index < slideCount_ ? slides_[index] : nullptr;
  }
  bool Drawn() const noexcept { return drawn_; }
  int32_t UndrawnLoops() const noexcept { return undrawnLoops_; }

protected:
  void OnStart() override;
  void OnStop() override;
  void Step() override;
  void HandleEvent(int number, TObj* data) override;

private:
  struct TMouse {
    bool valid = false;
    uint8_t shift = 0;
    int32_t x = 0, y = 0, button = 0;
    uint8_t event = 0;
  };

  void OpenAt(TKivSource* source, bool reopen, double position);
  void FreeShowParts(bool freeMusic);
  void MakeMusic();
  void SetClock(double time);
  double ClockTime() const;
  void ComputeStops(double t);
  bool SlidesReady();
  bool DrawTest(double t) const;
  bool EndHolds();
  void CheckEnd();
  void ReachBarrier(double& next);
  void Report();
  bool DrawFrame(bool forced);
  void DeviceReinited();
  void RequestOpen(TOpenParams& params);
  void RequestPause(bool paused);
  void ApplyPendingRequest();
  void TakeSlideList(const TSlideData& list);
  void Preload(TDrawContainer& container);
  void RenderImage();
  // Hover and click of the overlay, then of the slides; the action found is executed. True when an object
  // took the event.
  bool HitTest(const TMouse& mouse);
  bool HitSlides(const TMouse& mouse, TKivActionInfo& action);
  void ClearSlidePointer();
  void ExecuteAction(const TKivActionInfo& action);
  void SetHover(bool active, std::string className);
  void PostPosition(int32_t position, bool ended);

  TPlaybackContext& context_;
  TOwned<TKivSource> ownedSource_; // the show the engine opened
  TKivSource* source_ = nullptr;
  TFrameInterpolator interpolator_;
  TKivDrawController controller_;
  TRootItem root_;
  TOwned<TKivSlideLoader> loader_;
  bool loaderStarted_ = false; // a loader is started once; one that failed stays down
  TOwned<TShowMusic> music_;
  TKivSource* musicSource_ = nullptr; // the show the music was made for
  TOwned<TThirdSlide> overlay_;
  TManualClock stillClock_; // the overlay's clock when the panel is shown for good
  const uint8_t logoMode_;

  // Requests: written by the queue handler, applied by the pass (both on the engine thread).
  TOwned<TOpenParams> pending_;
  TOpenParams* current_ = nullptr;
  int32_t appliedSequence_ = 0;
  bool paused_;

  bool active_ = false;
  std::atomic<bool> activeFlag_{false}; // mirrors active_ for other threads
  double heldTime_ = 0;                 // inactive: the held show time; active: the music clock's offset
  std::array<TDrawContainer*, TSlideData::kMaxSlides> slides_{};
  int slideCount_ = 0;
  bool firstFramePosted_ = false;
  int32_t lastReported_ = kForceReport;
  TMouse lastMouse_;
  TSlideAction nextAction_;
  TBarrier barrier_;
  std::atomic<bool> waiting_{false}; // set by the pass at a pause barrier, cleared by the user interface
  bool endReported_ = false;
  float volume_ = 1;
  bool drawn_ = false;
  int32_t undrawnLoops_ = 0;
  int64_t lastTick_ = 0;
  std::atomic<bool> actionsEnabled_{true};
  std::atomic<bool> dialogShown_{false};
  std::atomic<double> showLength_{0};

  // The slide objects under the cursor and pressed on, and the container they belong to.
  TDrawContainer* pointerSlide_ = nullptr;
  TKivObject* hoverObject_ = nullptr;
  TKivObject* pressedObject_ = nullptr;

  std::atomic<bool> hoverActive_{false};
  mutable std::mutex hoverLock_;
  std::string hoverClass_; // guarded by hoverLock_
};

} // namespace kiv

#pragma once
// What the main window does with the keys, buttons, moves and wheel notches of the user, apart from the
// window system: the window turns its events into key codes, buttons and shift states and hands them
// here; the routing asks the window's state and answers through the same interface. User-interface
// thread only.

#include "ActionInfo.h"
#include "InputMapping.h"

#include <cstdint>

namespace kiv {

class TInputSink {
public:
  virtual ~TInputSink() = default;

  // The show's input mapping; replaced with the show.
  virtual TInputMappingClass& Mapping() = 0;
  // A child program runs and the window waits for it: input is refused.
  virtual bool Busy() const = 0;
  // This program shows a show's start-up window.
  virtual bool StartupMode() const = 0;
  // A dialog page of the overlay (help, the author's pages) is open.
  virtual bool DialogShown() const = 0;
  // The show waits at a barrier for the user.
  virtual bool WaitingAtBarrier() const = 0;
  virtual bool CursorHidden() const = 0;
  virtual double Position() const = 0;
  virtual bool Paused() const = 0;

  virtual void Execute(const TKivActionInfo& action) = 0;
  virtual void ShowHelp() = 0;
  virtual void CloseDialog() = 0;
  virtual void ReleaseBarrier() = 0;
  // A mouse event for the show's objects and overlay.
  virtual void SendMouse(uint8_t shift, int32_t x, int32_t y, int32_t button, uint8_t event) = 0;
  // The same with the action the mapping gives it, for when no object takes it.
  virtual void SendMouseAction(uint8_t shift, int32_t x, int32_t y, int32_t button, uint8_t event,
                               const TKivActionInfo& mapped) = 0;
  virtual void GoTo(double position, bool paused) = 0;
};

class TInputRouter {
public:
  // Clicks this soon after the window opened are dropped: the click that started the program (say, in a
  // file manager) must not also act on the show.
  static constexpr int64_t kClickGuardMs = 1000;
  // Wheel units in a notch (touchpads send parts of one).
  static constexpr int kWheelNotch = 120;
  // Each notch moves the show this far back (forward for notches towards the user).
  static constexpr double kWheelStepMs = 700;

  explicit TInputRouter(TInputSink& sink) : sink_(sink) {}

  // A key pressed: the player's key code and shift state.
  void Key(int32_t code, uint8_t shift);
  // A button pressed or released; clicks counts the clicks in a row; sinceOpen is the time since the
  // window opened.
  void Button(int32_t button, bool down, int clicks, int32_t x, int32_t y, uint8_t shift, int64_t sinceOpen);
  void Motion(int32_t x, int32_t y, uint8_t shift);
  // Wheel movement in notches, positive away from the user; ctrlOnly when Ctrl alone is held.
  void Wheel(double notches, bool ctrlOnly);
  // The show locks the wheel (opt_lockwheel).
  void SetWheelEnabled(bool enabled) noexcept { wheelEnabled_ = enabled; }

private:
  TInputSink& sink_;
  bool wheelEnabled_ = true;
  int wheelSum_ = 0; // wheel units not yet a whole notch
};

} // namespace kiv

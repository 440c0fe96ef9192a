#include "InputRouting.h"

#include <algorithm>
#include <cmath>

namespace kiv {

namespace {

constexpr int32_t kKeyEnter = 13;
constexpr int32_t kKeyEscape = 27;
constexpr int32_t kKeyF1 = 112;
// Keys that continue a show waiting at a barrier.
constexpr int32_t kBarrierKeys[] = {19, 32, 34, 39, 167, 176, 179};

} // namespace

void TInputRouter::Key(int32_t code, uint8_t shift) {
  if (code == 0 || sink_.Busy()) return;
  // Enter in a start-up window runs the show.
  if (code == kKeyEnter && sink_.StartupMode()) {
    sink_.Execute({TActionKind::CloseDialog, 0, {}});
    return;
  }
  if (sink_.DialogShown()) {
    if (code == kKeyEscape) sink_.CloseDialog();
    if (code != kKeyF1) return;
  }
  // A copy: the action may open another show, whose mapping replaces the one that gave it.
  const TKeyMap* map = sink_.Mapping().MapKey(shift, code, kKeyDown);
  const TKivActionInfo action = map ? map->Action : TKivActionInfo{};
  if (map) {
    if (action.Kind == TActionKind::Help)
      sink_.ShowHelp();
    else
      sink_.Execute(action);
  } else if (code == kKeyEscape) {
    // Escape ends the program whatever the show maps.
    sink_.Execute({TActionKind::Exit, 0, {}});
  }
  if (!sink_.Mapping().PermitControl() && sink_.WaitingAtBarrier() &&
      std::find(std::begin(kBarrierKeys), std::end(kBarrierKeys), code) != std::end(kBarrierKeys))
    sink_.ReleaseBarrier();
}

void TInputRouter::Button(int32_t button, bool down, int clicks, int32_t x, int32_t y, uint8_t shift,
                          int64_t sinceOpen) {
  if (button == kMouseButtonNone || sink_.Busy() || sinceOpen < kClickGuardMs) return;
  uint8_t event = down ? kMouseDown : kMouseUp;
  if (down && clicks == 2) event = kMouseDoubleClick;
  const TKivActionInfo action = sink_.Mapping().MapMouse(shift, x, y, event, button);
  // A hidden cursor points at nothing: what the button means happens at once (a click's action comes
  // with its release, a double click's with its second press).
  if (sink_.CursorHidden() && action.Kind != TActionKind::None && action.Kind != TActionKind::Help) {
    sink_.Execute(action);
    return;
  }
  if (event == kMouseDoubleClick) sink_.SendMouse(shift, x, y, button, kMouseDown);
  // Objects under the cursor come first; the engine hands the mapped action back when none takes it.
  sink_.SendMouseAction(shift, x, y, button, event, action);
}

void TInputRouter::Motion(int32_t x, int32_t y, uint8_t shift) {
  if (sink_.Busy()) return;
  // A screen saver (or a show that asks for it) ends when the mouse moves.
  const TKivActionInfo action = sink_.Mapping().MapMouse(shift, x, y, kMouseMove, kMouseButtonNone);
  if (action.Kind == TActionKind::Exit) {
    sink_.Execute(action);
    return;
  }
  sink_.SendMouse(shift, x, y, kMouseButtonNone, kMouseMove);
}

void TInputRouter::Wheel(double notches, bool ctrlOnly) {
  if (!wheelEnabled_ || sink_.Busy()) return;
  // Touchpads scroll in parts of a notch: they add up, and only whole notches act.
  wheelSum_ += static_cast<int>(std::lround(notches * kWheelNotch));
  const int whole = wheelSum_ / kWheelNotch;
  wheelSum_ -= whole * kWheelNotch;
  if (whole == 0) return;
  if (ctrlOnly) {
    sink_.Execute({whole < 0 ? TActionKind::NextSlide : TActionKind::PrevSlide, 0, {}});
    return;
  }
  sink_.GoTo(std::max(0.0, sink_.Position() - kWheelStepMs * whole), sink_.Paused());
}

} // namespace kiv

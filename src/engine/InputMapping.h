#pragma once
// Turns the window's keys and mouse buttons into actions, as the show's options ask: the fixed key table,
// the three mouse options, and the exit-on-input rules of screen-saver shows.
//
// Codes are the window toolkit's: key codes are Windows virtual-key codes, shift states the bits below.

#include "ActionInfo.h"
#include "IniDocument.h"
#include "MouseMoveDetector.h"
#include "ObjectBase.h"

#include <array>
#include <cstdint>
#include <utility>

namespace kiv {

// Shift state bits.
enum : uint8_t {
  kShiftWin = 1,
  kShiftShift = 2,
  kShiftAlt = 4,
  kShiftCtrl = 8,
  kShiftLeftButton = 16,
  kShiftRightButton = 32,
  kShiftMiddleButton = 64,
};

// Key events.
enum : uint8_t {
  kKeyUp = 0,
  kKeyDown = 1,
};

// Mouse events.
enum : uint8_t {
  kMouseMove = 0,
  kMouseDown = 1,
  kMouseUp = 2,
  kMouseDoubleClick = 3, // follows the down event of the second click
};

// Mouse buttons.
enum : int32_t {
  kMouseButtonNone = 0,
  kMouseButtonLeft = 1,
  kMouseButtonRight = 4,
  kMouseButtonMiddle = 5,
};

// One key binding in a key's chain; the chain owns the bindings behind it.
class TKeyMap : public TObj {
public:
  TKeyMap(uint8_t shiftMask, uint8_t shiftValue, uint8_t eventKind, TKivActionInfo action)
      : ShiftMask(shiftMask), ShiftValue(shiftValue), EventKind(eventKind), Action(std::move(action)) {}

  bool Matches(uint8_t shift, uint8_t event) const noexcept {
    return EventKind == event && (shift & ShiftMask) == ShiftValue;
  }

  TOwned<TKeyMap> Next;
  uint8_t ShiftMask;
  uint8_t ShiftValue;
  uint8_t EventKind;
  TKivActionInfo Action;
};

// The mapping of one show, built from its project's "main" section when the show is opened. UI thread.
class TInputMappingClass : public TObj {
public:
  static constexpr int kKeyCount = 256;

  explicit TInputMappingClass(const TIniStorage& project);

  // The binding for a key event, or nullptr.
  const TKeyMap* MapKey(uint8_t shift, int32_t key, uint8_t event) const;
  // The action of a mouse event (kind None when there is none). Every event feeds the move detector.
  TKivActionInfo MapMouse(uint8_t shift, int32_t x, int32_t y, uint8_t event, int32_t button);

  bool ScreenSaver() const noexcept { return screenSaver_; }
  bool PermitControl() const noexcept { return permitControl_; }
  const TKivActionInfo& LeftAction() const noexcept { return leftAction_; }
  const TKivActionInfo& RightAction() const noexcept { return rightAction_; }
  const TKivActionInfo& DoubleClickAction() const noexcept { return doubleClickAction_; }
  bool HasMoveDetector() const noexcept { return moveDetector_ != nullptr; }

private:
  // Puts a key-down binding compared under Shift, Alt and Ctrl in front of the key's chain.
  void Bind(int32_t key, uint8_t shiftValue, TKivActionInfo action);

  std::array<TOwned<TKeyMap>, kKeyCount> keys_;
  TKivActionInfo leftAction_;
  TKivActionInfo rightAction_;
  TKivActionInfo doubleClickAction_;
  bool screenSaver_ = false;
  TOwned<TKeyMap> anyKeyExit_;              // screen-saver shows only
  TOwned<TMouseMoveDetector> moveDetector_; // with opt_ssaver or opt_exitonmove
  bool permitControl_ = true;
};

} // namespace kiv

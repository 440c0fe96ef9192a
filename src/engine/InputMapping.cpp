#include "InputMapping.h"

namespace kiv {
namespace {

// Key bindings compare Shift, Alt and Ctrl only: the Windows key and held buttons do not matter.
constexpr uint8_t kBindingShiftMask = kShiftShift | kShiftAlt | kShiftCtrl;

TKivActionInfo Action(TActionKind kind, int32_t param = 0) {
  TKivActionInfo action;
  action.Kind = kind;
  action.Param = param;
  return action;
}

} // namespace

TInputMappingClass::TInputMappingClass(const TIniStorage& project) {
  const TIniSection noKeys(u"main"); // a project without "main" keeps every default
  const TIniSection* found = project.FindSection(u"main");
  const TIniIdentList& main = found ? *found : noKeys;

  leftAction_ = ActionByName(main.ReadString(u"opt_leftmouse", u""));
  rightAction_ = ActionByName(main.ReadString(u"opt_rightmouse", u""));
  doubleClickAction_ = ActionByName(main.ReadString(u"opt_dblclick", u""));
  screenSaver_ = main.ReadBool(u"opt_ssaver", false);
  if (screenSaver_) anyKeyExit_ = MakeOwned<TKeyMap>(0, 0, kKeyDown, Action(TActionKind::Exit));
  if (screenSaver_ || main.ReadBool(u"opt_exitonmove", false))
    moveDetector_ = MakeOwned<TMouseMoveDetector>();
  permitControl_ = main.ReadBool(u"opt_synchpermitcontrol", true);

  Bind(27, 0, Action(TActionKind::Exit));
  if (permitControl_) {
    Bind(32, 0, Action(TActionKind::Pause));
    Bind(19, 0, Action(TActionKind::Pause));
    Bind(80, kShiftCtrl, Action(TActionKind::Pause));
    Bind(179, 0, Action(TActionKind::Pause));
    Bind(178, 0, Action(TActionKind::Stop));
    Bind(37, 0, Action(TActionKind::PrevSlide));
    Bind(33, 0, Action(TActionKind::PrevSlide));
    Bind(166, 0, Action(TActionKind::PrevSlide));
    Bind(177, 0, Action(TActionKind::PrevSlide));
    Bind(39, 0, Action(TActionKind::NextSlide));
    Bind(34, 0, Action(TActionKind::NextSlide));
    Bind(167, 0, Action(TActionKind::NextSlide));
    Bind(176, 0, Action(TActionKind::NextSlide));
    Bind(36, 0, Action(TActionKind::GotoSlide, 0));
    Bind(35, 0, Action(TActionKind::GotoSlide, main.ReadInteger(u"opt_slidescount", 0)));
  }
  if (!main.ReadBool(u"opt_lockf1", false)) Bind(112, 0, Action(TActionKind::Help));
}

void TInputMappingClass::Bind(int32_t key, uint8_t shiftValue, TKivActionInfo action) {
  auto binding = MakeOwned<TKeyMap>(kBindingShiftMask, shiftValue, kKeyDown, std::move(action));
  TOwned<TKeyMap>& head = keys_[static_cast<size_t>(key)];
  binding->Next = std::move(head);
  head = std::move(binding);
}

const TKeyMap* TInputMappingClass::MapKey(uint8_t shift, int32_t key, uint8_t event) const {
  if (screenSaver_) return anyKeyExit_.get();
  if (key < 0 || key >= kKeyCount) return nullptr;
  for (const TKeyMap* binding = keys_[static_cast<size_t>(key)].get(); binding; binding = binding->Next.get())
    if (binding->Matches(shift, event)) return binding;
  return nullptr;
}

TKivActionInfo TInputMappingClass::MapMouse(uint8_t shift, int32_t x, int32_t y, uint8_t event,
                                            int32_t button) {
  if (screenSaver_ && shift != 0) return Action(TActionKind::Exit);
  if (moveDetector_ && moveDetector_->Moved(x, y)) return Action(TActionKind::Exit);
  if (event == kMouseUp) {
    if (button == kMouseButtonLeft) return leftAction_;
    if (button == kMouseButtonRight) return rightAction_;
  } else if (event == kMouseDoubleClick && button == kMouseButtonLeft) {
    return doubleClickAction_;
  }
  return {};
}

} // namespace kiv

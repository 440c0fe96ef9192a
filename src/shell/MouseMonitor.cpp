#include "MouseMonitor.h"

#include "IniDocument.h"

#include <cstdlib>

namespace kiv {

void TMouseMonitor::ApplyShowSettings(const TIniFile& project) {
  switch (project.ReadInteger(u"main", u"opt_hidecursor", 0)) {
  case 1:
    alwaysHidden_ = true;
    SetHideInterval(0);
    SetHidden(true);
    return;
  case 2:
    alwaysHidden_ = false;
    SetHideInterval(int64_t{project.ReadInteger(u"main", u"opt_hc2_hideinterval", 0)} * 1000);
    if (project.ReadBool(u"main", u"opt_hc2_hideonstartup", false)) SetHidden(true);
    return;
  default:
    alwaysHidden_ = false;
    SetHideInterval(0);
    SetHidden(false);
    return;
  }
}

void TMouseMonitor::SetHideInterval(int64_t ms) {
  interval_ = ms < 0 ? 0 : ms;
  const bool hidden = hidden_;
  hidden_ = !hidden;
  SetHidden(hidden);
}

void TMouseMonitor::SetHidden(bool hidden) {
  if (hidden == hidden_) return;
  hidden_ = hidden;
  if (OnHiddenChanged) OnHiddenChanged(hidden);
}

void TMouseMonitor::Activity() {
  lastActivity_ = now_();
  if (!alwaysHidden_) SetHidden(false);
}

void TMouseMonitor::MouseMoved(int x, int y) {
  if (lastX_ != INT32_MIN && std::abs(x - lastX_) <= kMoveThreshold && std::abs(y - lastY_) <= kMoveThreshold) return;
  lastX_ = x;
  lastY_ = y;
  Activity();
}

void TMouseMonitor::Poll(bool inside) {
  if (OnPoll) OnPoll();
  if (inside != inside_) {
    inside_ = inside;
    if (inside ? OnEnter : OnLeave) (inside ? OnEnter : OnLeave)();
  }
  if (interval_ >= 1 && now_() - lastActivity_ > interval_) SetHidden(true);
}

} // namespace kiv

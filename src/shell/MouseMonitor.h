#pragma once
// Hides the mouse cursor after a time without movement, as the show asks, and tells the main window when
// the cursor enters or leaves it. While the cursor is inside, the window polls every 20 ms (Poll); moves
// count as activity only beyond 4 pixels, so a trembling hand does not keep the cursor up.

#include <cstdint>
#include <functional>

namespace kiv {

class TIniFile;

class TMouseMonitor {
public:
  static constexpr int64_t kPollMs = 20;
  static constexpr int kMoveThreshold = 4;

  // Milliseconds of some monotonic clock.
  explicit TMouseMonitor(std::function<int64_t()> nowMs) : now_(std::move(nowMs)) { lastActivity_ = now_(); }

  // The show's settings: "opt_hidecursor" 1 = always hidden (moves do not show it); 2 = hidden after
  // "opt_hc2_hideinterval" seconds, at once when "opt_hc2_hideonstartup"; anything else: never hidden.
  void ApplyShowSettings(const TIniFile& project);

  // 0 (or less) never hides by time. Re-applies the current state.
  void SetHideInterval(int64_t ms);
  int64_t HideInterval() const noexcept { return interval_; }
  void SetHidden(bool hidden);
  bool Hidden() const noexcept { return hidden_; }

  // The window's events.
  void MouseMoved(int x, int y);
  void Poll(bool inside);

  std::function<void()> OnEnter, OnLeave;
  // The hidden state changed.
  std::function<void(bool hidden)> OnHiddenChanged;
  // Every poll.
  std::function<void()> OnPoll;

  // Activity now: the cursor shows again.
  void Activity();

private:
  std::function<int64_t()> now_;
  int64_t interval_ = 0;
  int64_t lastActivity_ = 0;
  int lastX_ = INT32_MIN, lastY_ = INT32_MIN;
  bool hidden_ = false;
  bool alwaysHidden_ = false; // the show hides the cursor for good: moves do not bring it back
  bool inside_ = false;
};

} // namespace kiv

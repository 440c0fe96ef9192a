#include "Monitor.h"

#include "Assert.h"

#include <chrono>

namespace kiv {

void TMonitor::Enter() {
  std::unique_lock lock(mutex_);
  const auto me = std::this_thread::get_id();
  changed_.wait(lock, [&] { return depth_ == 0 || owner_ == me; });
  owner_ = me;
  ++depth_;
  ++wakeCount_;
  changed_.notify_all();
}

void TMonitor::Leave() {
  std::unique_lock lock(mutex_);
  RY_ASSERT(depth_ > 0 && owner_ == std::this_thread::get_id());
  if (--depth_ == 0) {
    owner_ = std::thread::id();
    changed_.notify_all();
  }
}

bool TMonitor::Wait(int64_t timeoutMs) {
  std::unique_lock lock(mutex_);
  const auto me = std::this_thread::get_id();
  RY_ASSERT(depth_ > 0 && owner_ == me);
  const int depth = depth_;
  depth_ = 0;
  owner_ = std::thread::id();
  const uint64_t seen = wakeCount_;
  changed_.notify_all();
  bool woken = true;
  if (timeoutMs < 0) {
    changed_.wait(lock, [&] { return wakeCount_ != seen; });
  } else {
    woken = changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return wakeCount_ != seen; });
  }
  changed_.wait(lock, [&] { return depth_ == 0; });
  owner_ = me;
  depth_ = depth;
  return woken;
}

void TMonitor::Signal() {
  std::lock_guard lock(mutex_);
  ++wakeCount_;
  changed_.notify_all();
}

} // namespace kiv

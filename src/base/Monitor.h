#pragma once
// TMonitor: a re-entrant lock with a wake event. Wait gives the lock up completely, sleeps until another
// thread enters (Enter signals the event) and takes the lock back with the same depth.

#include "ObjectBase.h"

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

namespace kiv {

class TMonitor : public TRefObj {
public:
  void Enter();
  void Leave();
  // false when timeoutMs (negative: no limit) passed without a wake-up.
  bool Wait(int64_t timeoutMs = -1);
  // Wakes waiters without entering.
  void Signal();

private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::thread::id owner_;
  int depth_ = 0;
  uint64_t wakeCount_ = 0; // bumped by Enter and Signal
};

// Holds a monitor for a scope.
class TMonitorLock {
public:
  explicit TMonitorLock(TMonitor& monitor) : monitor_(monitor) { monitor_.Enter(); }
  ~TMonitorLock() { monitor_.Leave(); }
  TMonitorLock(const TMonitorLock&) = delete;
  TMonitorLock& operator=(const TMonitorLock&) = delete;

private:
  TMonitor& monitor_;
};

} // namespace kiv

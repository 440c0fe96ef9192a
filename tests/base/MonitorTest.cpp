// The re-entrant monitor that video frames are locked with while the decoder writes them.

#include "Monitor.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace kiv {
namespace {

TEST(Monitor, WaitGivesTheLockUpUntilAnotherThreadEnters) {
  TRef<TMonitor> monitor = TRef<TMonitor>::Make();
  std::atomic<bool> entered{false};
  monitor->Enter();
  monitor->Enter(); // re-entrant
  std::thread other([&] {
    monitor->Enter();
    entered = true;
    monitor->Leave();
  });
  EXPECT_TRUE(monitor->Wait());
  other.join();
  EXPECT_TRUE(entered);
  // Back with both levels: two leaves and the lock is free for another thread.
  monitor->Leave();
  monitor->Leave();
  std::thread third([&] { TMonitorLock lock(*monitor); });
  third.join();
}

} // namespace
} // namespace kiv

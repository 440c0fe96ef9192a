#include "LoadYield.h"

#include "Assert.h"
#include "Log.h"

#include <atomic>
#include <chrono>
#include <thread>

namespace kiv {
namespace {

int64_t SystemClock() {
  using namespace std::chrono;
  return static_cast<int64_t>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

void SystemSleep(int ms) {
  if (ms <= 0)
    std::this_thread::yield();
  else
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

constexpr int64_t kYieldInterval = 5;

std::atomic<int> gMode{kLoadContinue};
std::atomic<TLoadClockFunc> gClock{&SystemClock};
std::atomic<TLoadSleepFunc> gSleep{&SystemSleep};
// Shared by every loading thread: a race only costs one extra or one missed yield.
std::atomic<int64_t> gLastYield{0};

} // namespace

bool LoadCallBack() {
  const int mode = gMode.load(std::memory_order_relaxed);
  if (mode == kLoadStop) return false;
  if (mode == kLoadContinue) return true;
  const TLoadClockFunc clock = gClock.load(std::memory_order_relaxed);
  if (clock() - gLastYield.load(std::memory_order_relaxed) > kYieldInterval) {
    gSleep.load(std::memory_order_relaxed)(mode == kLoadYieldPlaying ? 1 : 0);
    gLastYield.store(clock(), std::memory_order_relaxed);
  }
  return true;
}

void SetLoadCallBackMode(int mode) {
  RY_ASSERT(mode >= kLoadContinue && mode <= kLoadStop);
  const int previous = gMode.exchange(mode);
  // Playback would like a higher priority class, but raising it needs privileges here: only say so.
  if (mode == kLoadYieldPlaying && previous != kLoadYieldPlaying)
    LogLine("LoadCallBack: mode 2, process priority stays normal");
  else if (previous == kLoadYieldPlaying && mode != kLoadYieldPlaying)
    LogLine("LoadCallBack: left mode 2, process priority normal");
}

int LoadCallBackMode() noexcept {
  return gMode.load();
}

void SetLoadCallBackClock(TLoadClockFunc clock, TLoadSleepFunc sleep) {
  gClock.store(clock ? clock : &SystemClock);
  gSleep.store(sleep ? sleep : &SystemSleep);
  gLastYield.store(0);
}

} // namespace kiv

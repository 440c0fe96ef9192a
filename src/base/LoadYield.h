#pragma once
// The process-wide load callback: long reads, decodes and uploads call LoadCallBack() between chunks and
// rows, and stop when it answers false. The engine sets the mode while a show plays:
//   0  continue at once
//   1  continue; yield the processor (sleep 0 ms) when more than 5 ms passed since the last yield
//   2  as 1 but sleep 1 ms; entering it would raise the process priority (logged only: we leave the
//      scheduler alone)
//   3  stop: every load in progress ends at its next call

#include <cstdint>

namespace kiv {

enum TLoadCallBackMode : int {
  kLoadContinue = 0,
  kLoadYield = 1,
  kLoadYieldPlaying = 2,
  kLoadStop = 3,
};

// The shape of progress callbacks that take the load callback (file windows, decoders).
using TLoadCallBackFunc = bool (*)();

// True: go on; false: stop the load. Cheap: it sleeps at most once every 5 ms.
bool LoadCallBack();

// Modes outside 0..3 are an assertion. Safe from any thread.
void SetLoadCallBackMode(int mode);
int LoadCallBackMode() noexcept;

// Clock and sleep behind the yields; tests install their own. nullptr restores the system's.
using TLoadClockFunc = int64_t (*)();    // monotonic milliseconds
using TLoadSleepFunc = void (*)(int ms); // 0 means just give up the time slice
void SetLoadCallBackClock(TLoadClockFunc clock, TLoadSleepFunc sleep);

} // namespace kiv

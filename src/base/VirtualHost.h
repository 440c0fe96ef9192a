#pragma once
// The virtual host: every worker on the calling thread under a manual clock. Advance moves the clock in
// 1 ms ticks; at each tick the tick hooks run first (the offline sound device advances there), then every
// worker that is due or was woken steps, in increasing step order and, within one order, in start order.
// A worker woken by one that stepped before it in the same tick steps in that tick; one woken by a later
// worker steps in the next tick. Sends between workers are handled inline, so nothing waits.

#include "WorkerThread.h"

#include <functional>
#include <vector>

namespace kiv {

class TVirtualHost final : public TWorkerHost {
public:
  TVirtualHost() = default;
  ~TVirtualHost() override;

  TClock& Clock() override { return clock_; }
  TManualClock& ManualClock() { return clock_; }
  void StartWorker(TKivThread& worker) override;
  void JoinWorker(TKivThread& worker) override;
  void WaitForWork(TKivThread& worker, int64_t timeoutMs) override;
  void WorkerWoken(TKivThread&) override {}
  void JoinWhilePumping(TKivThread& worker, TThreadEventList& queue, int64_t pollMs) override;
  int RunWokenSteps() override { return RunReady(); }

  // Runs at every tick before the workers, with the new time. Returns an id for RemoveTickHook.
  int AddTickHook(std::function<void(int64_t nowMs)> hook);
  void RemoveTickHook(int id);

  // Moves the clock by ms milliseconds, one tick at a time.
  void Advance(int64_t ms);
  // Steps the workers that were woken, at the current time, until none is left (bounded, so that two
  // workers waking each other cannot hang a test). Returns the number of steps run.
  int RunReady();
  // Workers started and not yet ended.
  int WorkerCount() const { return static_cast<int>(slots_.size()); }

private:
  struct TSlot {
    TKivThread* worker;
    uint64_t sequence;  // start order
    int64_t lastStepMs; // when it last stepped (or started)
  };
  TSlot* Find(TKivThread& worker);
  void Remove(TKivThread& worker);
  // One pass over the workers in order; onlyWoken skips those merely due. Returns steps run.
  int RunPass(bool onlyWoken);
  void EndWorker(TKivThread& worker, bool runOnStop);

  // Everything below belongs to the thread that drives the host.
  TManualClock clock_;
  std::vector<TSlot> slots_;
  uint64_t nextSequence_ = 0;
  std::vector<std::pair<int, std::function<void(int64_t)>>> tickHooks_;
  int nextHookId_ = 1;
  std::vector<TKivThread*> stepping_; // workers whose Step is on the stack (inline sends nest them)
};

} // namespace kiv

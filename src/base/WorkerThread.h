#pragma once
// TKivThread: the base of every periodic worker (engine, slide loader, music player and loader, channel
// killer, sound refill, audio clock). A worker never sleeps by itself: its host waits for the worker's
// period or a wake-up (an event posted to its queue, or Wake), then calls Step. The real host runs each
// worker on a thread of its own; the virtual host runs all of them on one thread under a manual clock.

#include "Clock.h"
#include "ThreadEventList.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>

namespace kiv {

class TKivThread;

// Runs workers. A host outlives every worker started on it.
class TWorkerHost {
public:
  virtual ~TWorkerHost() = default;
  virtual TClock& Clock() = 0;
  // Called by TKivThread; not for other callers.
  virtual void StartWorker(TKivThread& worker) = 0;
  // Returns once the worker no longer runs. From the worker's own thread it returns at once (the worker
  // ends after its current step). The virtual host cannot wait on its own thread: it ends a terminated
  // worker at once and returns at once for one that was not terminated.
  virtual void JoinWorker(TKivThread& worker) = 0;
  // Worker's thread: wait up to timeoutMs or until woken or terminated.
  virtual void WaitForWork(TKivThread& worker, int64_t timeoutMs) = 0;
  // Returns once a terminated worker no longer runs, handling `queue` on the calling thread every pollMs
  // meanwhile, so that a worker blocked sending to that queue can finish its step. Never call it from a
  // handler of that worker's send: the send completes only when the handler returns. From the worker's
  // own thread it returns at once. The virtual host ends the worker at once, or after its current step
  // when the call comes from inside that step (an inline send).
  virtual void JoinWhilePumping(TKivThread& worker, TThreadEventList& queue, int64_t pollMs) = 0;
  // Any thread: the worker was woken or terminated.
  virtual void WorkerWoken(TKivThread& worker) = 0;
  // For a caller that needs a worker's result before it goes on: a host that runs every worker on the
  // driving thread steps the woken ones now and answers how many steps ran; a host of real threads answers
  // -1 (the caller waits for the worker instead).
  virtual int RunWokenSteps() { return -1; }
};

// Suggested step orders: in the virtual host, the workers due in the same millisecond run in increasing
// order, so that sound is produced before the clock that reads it, and the engine draws last.
enum TStepOrder : int {
  kOrderSoundOutput = 10,
  kOrderAudioClock = 20,
  kOrderChannelKiller = 30,
  kOrderMusicLoader = 40,
  kOrderMusicPlayer = 50,
  kOrderSlideLoader = 60,
  kOrderEngine = 70,
  kOrderDefault = 100,
};

class TKivThread : public TObj {
public:
  TKivThread(TWorkerHost& host, std::string name, int64_t periodMs, int stepOrder = kOrderDefault);
  ~TKivThread() override;

  // Starts the worker; refused (false) while it still runs. Running is set.
  virtual bool Start();
  // Shuts the queue down, then asks the worker to end after its current step.
  virtual void Terminate();
  // Terminate, then wait without time limit for the worker to end. Safe from the worker itself (it then
  // ends after the current step).
  virtual void Stop();
  // false when the worker was never started; otherwise waits until it ended. (Start takes effect at once
  // here, so there is no start-up time to wait for.)
  bool WaitFor();

  // Any thread: run the next step without waiting for the period.
  void Wake();

  bool Terminated() const noexcept { return terminated_.load(std::memory_order_acquire); }
  bool Running() const noexcept { return running_.load(std::memory_order_acquire); }
  TThreadEventList& Events() noexcept { return events_; }
  TWorkerHost& Host() const noexcept { return host_; }
  TClock& Clock() const noexcept { return host_.Clock(); }
  const std::string& Name() const noexcept { return name_; }
  int StepOrder() const noexcept { return stepOrder_; }
  int64_t PeriodMs() const noexcept { return periodMs_.load(std::memory_order_acquire); }
  // The wait before the next step; a worker that paces itself (the engine) changes it from Step.
  void SetPeriodMs(int64_t ms) { periodMs_.store(ms, std::memory_order_release); }

  // The thread body on the real host: OnStart, then "wait, Step" until terminated, then OnStop.
  virtual void Execute();

  // Host side ------------------------------------------------------------------------------------
  // Takes the wake-up flag (true when the worker was woken since the last take).
  bool TakeWake();
  // One step as the host runs it. Returns false when the worker must end (terminated, or Step raised;
  // a raising step is reported and the worker's Running flag cleared, without OnStop).
  bool RunStep();
  void RunOnStart();
  void RunOnStop(); // exceptions are swallowed
  void ReportThreadException(const char* what, const void* address);
  void MarkRunning(bool running) { running_.store(running, std::memory_order_release); }

protected:
  // The queue's handler. Runs on the worker's thread from Events().Process().
  virtual void HandleEvent(int number, TObj* data);
  virtual void OnStart() {}
  // Default clears Running.
  virtual void OnStop();
  virtual void Step() = 0;

  // Freeing through TObj::Free stops the worker while the whole class still exists.
  void Dispose() override;

private:
  TWorkerHost& host_;
  const std::string name_;
  const int stepOrder_;
  std::atomic<int64_t> periodMs_;
  TThreadEventList events_;
  std::atomic<bool> terminated_{false}; // set by Terminate (any thread), cleared by Start
  std::atomic<bool> running_{false};    // set by Start, cleared by OnStop or a failed step
  std::atomic<bool> started_{false};    // set by the first Start
  std::atomic<bool> woken_{false};      // set by Wake (any thread), taken by the host
};

} // namespace kiv

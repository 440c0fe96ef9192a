#pragma once
// TActiveMonitor: a monitor with a worker of its own. The worker is a TKivThread on a worker host; each of
// its steps runs the monitor's method once (one round of work), and whoever gives the worker more to do
// wakes it. So the same worker runs on a thread of its own in the player and step by step under the
// virtual host in tests.

#include "Monitor.h"
#include "WorkerThread.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

namespace kiv {

class TActiveMonitor;

class TActiveThread final : public TKivThread {
public:
  // The monitor outlives the worker: it ends and joins the worker before it goes.
  TActiveThread(TWorkerHost& host, TActiveMonitor& monitor, std::function<void()> method, std::string name);

protected:
  void OnStart() override;
  void Step() override;
  void OnStop() override;

private:
  TActiveMonitor& monitor_;
  std::function<void()> method_;
};

enum class TActiveState : int { None = 0, Held = 1, Running = 2, Finished = 3 };

class TActiveMonitor : public TMonitor {
public:
  explicit TActiveMonitor(TWorkerHost& host);
  // Ends and joins a worker that still runs.
  ~TActiveMonitor() override;

  // Starts the worker running `method` once per step; false when a worker exists. With hold the state
  // stays Held until the worker has started. Without a method: "Assertion failure".
  bool Run(bool hold, std::function<void()> method, std::string name = "TActiveThread");
  // Returns with the monitor entered once the worker is no longer held.
  void WaitStarted();
  // Asks the worker to end after its current round and wakes it; returns at once.
  void Finish();
  // Finish, then wait until the worker ended.
  void EndWorker();

  TActiveState State() const noexcept { return state_.load(std::memory_order_acquire); }
  bool Finishing() const noexcept { return finishing_.load(std::memory_order_acquire); }
  // The worker ended, by Finish or because its method raised; never cleared.
  bool WorkerFinished() const noexcept { return State() == TActiveState::Finished; }
  TWorkerHost& Host() const noexcept { return host_; }
  // Another round for the worker.
  void WakeWorker();

  // With the monitor entered by the caller: returns once done() holds or the worker can no longer change
  // anything (it ended). On a host of real threads it waits on the monitor; on the virtual host it runs
  // the woken steps on this thread instead (and gives up when none is woken).
  void WaitForWorker(const std::function<bool()>& done);

  // Workers of active monitors running in this process.
  static int RunningWorkers() noexcept;
  // Waits, checking every 10 ms, until none runs or maxMs passed; true when none runs.
  static bool WaitForRunningWorkers(int64_t maxMs);

private:
  friend class TActiveThread;
  void WorkerStarted();
  // Every way out of the worker ends here (at most once per worker).
  void WorkerEnded();

  TWorkerHost& host_;
  TOwned<TActiveThread> worker_;                        // set by Run, freed by the destructor
  std::atomic<TActiveState> state_{TActiveState::None}; // written under the monitor
  std::atomic<bool> finishing_{false};                  // written under the monitor
  std::atomic<bool> counted_{false};                    // the worker is in the process-wide count
};

} // namespace kiv

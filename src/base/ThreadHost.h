#pragma once
// The real host: every worker on a std::thread of its own, waiting on a condition variable between steps.

#include "WorkerThread.h"

#include <map>
#include <memory>

namespace kiv {

class TThreadHost final : public TWorkerHost {
public:
  // Without a clock the host uses the system clock.
  explicit TThreadHost(TClock* clock = nullptr);
  ~TThreadHost() override; // joins workers that ended but were never joined

  TClock& Clock() override { return *clock_; }
  void StartWorker(TKivThread& worker) override;
  void JoinWorker(TKivThread& worker) override;
  void WaitForWork(TKivThread& worker, int64_t timeoutMs) override;
  void WorkerWoken(TKivThread& worker) override;
  void JoinWhilePumping(TKivThread& worker, TThreadEventList& queue, int64_t pollMs) override;

  // How long JoinWorker waits before it logs that a worker does not end (it keeps waiting: killing a
  // thread that may hold locks would leave them held).
  static constexpr int64_t kJoinWarningMs = 3000;

private:
  struct TSlot;
  std::shared_ptr<TSlot> Find(TKivThread& worker);
  static void Run(TKivThread& worker, TSlot& slot);

  TSystemClock systemClock_;
  TClock* clock_;
  std::mutex mutex_;
  std::map<TKivThread*, std::shared_ptr<TSlot>> slots_; // guarded by mutex_; a slot stays until its
                                                        // worker is joined
};

} // namespace kiv

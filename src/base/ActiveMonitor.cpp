#include "ActiveMonitor.h"

#include "Assert.h"
#include "Log.h"

#include <chrono>
#include <exception>
#include <thread>

namespace kiv {

namespace {

// Process-wide: the program's end waits for every worker of every player before it unloads the decoder.
std::atomic<int> gRunningWorkers{0};

// Rounds are driven by wake-ups; the period only catches a wake-up that was somehow missed.
constexpr int64_t kIdlePeriodMs = 1000;

} // namespace

// ---- TActiveThread ----

TActiveThread::TActiveThread(TWorkerHost& host, TActiveMonitor& monitor, std::function<void()> method,
                             std::string name)
    : TKivThread(host, std::move(name), kIdlePeriodMs), monitor_(monitor), method_(std::move(method)) {}

void TActiveThread::OnStart() {
  monitor_.WorkerStarted();
  // The first round runs at once.
  Wake();
}

void TActiveThread::Step() {
  if (monitor_.Finishing()) {
    Terminate();
    return;
  }
  try {
    method_();
  } catch (const std::exception& error) {
    LogLine(Name() + ": " + error.what());
    monitor_.WorkerEnded();
    Terminate();
    return;
  } catch (...) {
    LogLine(Name() + ": unknown error");
    monitor_.WorkerEnded();
    Terminate();
    return;
  }
  if (monitor_.Finishing()) Terminate();
}

void TActiveThread::OnStop() {
  monitor_.WorkerEnded();
  TKivThread::OnStop();
}

// ---- TActiveMonitor ----

TActiveMonitor::TActiveMonitor(TWorkerHost& host) : host_(host) {}

TActiveMonitor::~TActiveMonitor() {
  EndWorker();
  worker_.reset();
}

bool TActiveMonitor::Run(bool hold, std::function<void()> method, std::string name) {
  RY_ASSERT(method != nullptr);
  if (worker_) return false;
  {
    TMonitorLock lock(*this);
    state_.store(hold ? TActiveState::Held : TActiveState::Running, std::memory_order_release);
  }
  worker_ = MakeOwned<TActiveThread>(host_, *this, std::move(method), std::move(name));
  counted_.store(true, std::memory_order_release);
  gRunningWorkers.fetch_add(1, std::memory_order_acq_rel);
  if (!worker_->Start()) WorkerEnded();
  return true;
}

void TActiveMonitor::WorkerStarted() {
  TMonitorLock lock(*this);
  if (State() == TActiveState::Held) state_.store(TActiveState::Running, std::memory_order_release);
}

void TActiveMonitor::WorkerEnded() {
  {
    // Entering wakes whoever waits on the monitor for the worker.
    TMonitorLock lock(*this);
    state_.store(TActiveState::Finished, std::memory_order_release);
  }
  if (counted_.exchange(false, std::memory_order_acq_rel))
    gRunningWorkers.fetch_sub(1, std::memory_order_acq_rel);
}

void TActiveMonitor::WaitStarted() {
  Enter();
  WaitForWorker([this] { return State() != TActiveState::Held; });
}

void TActiveMonitor::Finish() {
  if (!worker_) return;
  WaitStarted();
  finishing_.store(true, std::memory_order_release);
  Leave();
  worker_->Wake();
}

void TActiveMonitor::EndWorker() {
  if (!worker_) return;
  Finish();
  worker_->Stop();
  // A worker the host never ran (or one ended without its stop) counts as ended all the same.
  WorkerEnded();
}

void TActiveMonitor::WakeWorker() {
  if (worker_) worker_->Wake();
}

void TActiveMonitor::WaitForWorker(const std::function<bool()>& done) {
  while (!done() && !WorkerFinished()) {
    const int steps = host_.RunWokenSteps();
    if (steps < 0)
      Wait();
    else if (steps == 0)
      return; // nothing woken: nothing will change until the caller does something
  }
}

int TActiveMonitor::RunningWorkers() noexcept {
  return gRunningWorkers.load(std::memory_order_acquire);
}

bool TActiveMonitor::WaitForRunningWorkers(int64_t maxMs) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(maxMs);
  while (RunningWorkers() > 0) {
    if (std::chrono::steady_clock::now() >= until) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

} // namespace kiv

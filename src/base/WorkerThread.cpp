#include "WorkerThread.h"

#include "Log.h"

#include <cstdio>
#include <exception>

namespace kiv {

TKivThread::TKivThread(TWorkerHost& host, std::string name, int64_t periodMs, int stepOrder)
    : host_(host), name_(std::move(name)), stepOrder_(stepOrder), periodMs_(periodMs) {
  events_.SetHandler([this](int number, bool& handled, TObj* data) {
    HandleEvent(number, data);
    handled = true;
  });
  events_.SetWakeOwner([this] { Wake(); });
}

TKivThread::~TKivThread() {
  // Derived parts are gone by now; a worker still running here was not freed through TObj::Free.
  if (Running()) {
    LogLine("TKivThread: \"" + name_ + "\" destroyed while running");
    Terminate();
    host_.JoinWorker(*this);
  }
}

void TKivThread::Dispose() { Stop(); }

bool TKivThread::Start() {
  if (Running()) return false;
  terminated_.store(false, std::memory_order_release);
  woken_.store(false, std::memory_order_release);
  running_.store(true, std::memory_order_release);
  started_.store(true, std::memory_order_release);
  host_.StartWorker(*this);
  return true;
}

void TKivThread::Terminate() {
  events_.Shutdown();
  terminated_.store(true, std::memory_order_release);
  host_.WorkerWoken(*this);
}

void TKivThread::Stop() {
  Terminate();
  host_.JoinWorker(*this);
}

bool TKivThread::WaitFor() {
  if (!started_.load(std::memory_order_acquire)) return false;
  host_.JoinWorker(*this);
  return true;
}

void TKivThread::Wake() {
  woken_.store(true, std::memory_order_release);
  host_.WorkerWoken(*this);
}

bool TKivThread::TakeWake() { return woken_.exchange(false, std::memory_order_acq_rel); }

void TKivThread::HandleEvent(int, TObj*) {}

void TKivThread::OnStop() { MarkRunning(false); }

void TKivThread::RunOnStart() { OnStart(); }

void TKivThread::RunOnStop() {
  try {
    OnStop();
  } catch (...) {
  }
  MarkRunning(false);
}

bool TKivThread::RunStep() {
  if (Terminated()) return false;
  try {
    Step();
  } catch (const std::exception& e) {
    ReportThreadException(e.what(), &e);
    MarkRunning(false);
    return false;
  } catch (...) {
    ReportThreadException("unknown exception", nullptr);
    MarkRunning(false);
    return false;
  }
  return !Terminated();
}

void TKivThread::ReportThreadException(const char* what, const void* address) {
  const uint64_t id = CurrentThreadId();
  char line[96];
  std::snprintf(line, sizeof line, id > 0xFFFF ? "$%08llX Thread Exception at: %08X" : "$%04llX Thread Exception at: %08X",
                static_cast<unsigned long long>(id),
                static_cast<unsigned>(reinterpret_cast<uintptr_t>(address) & 0xFFFFFFFFu));
  // The beep of a desktop program has no place here; the line goes to stderr like other debugger output.
  std::fprintf(stderr, "%s (%s: %s)\n", line, name_.c_str(), what);
  LogLine(std::string(line) + " (" + name_ + ": " + what + ")");
}

void TKivThread::Execute() {
  RunOnStart();
  while (!Terminated()) {
    host_.WaitForWork(*this, PeriodMs());
    if (!RunStep()) {
      if (!Running()) return; // a failed step ends the thread without OnStop
      break;
    }
  }
  RunOnStop();
}

} // namespace kiv

#include "ThreadHost.h"

#include "Log.h"

#include <thread>

namespace kiv {

struct TThreadHost::TSlot {
  std::thread thread;                  // written by StartWorker, joined by whoever removes the slot
  std::atomic<std::thread::id> runner; // set by the thread itself
  std::mutex mutex;
  std::condition_variable changed; // wake-ups, termination and the end of the thread
  bool ended = false;              // guarded by mutex
};

TThreadHost::TThreadHost(TClock* clock) : clock_(clock ? clock : &systemClock_) {}

TThreadHost::~TThreadHost() {
  std::map<TKivThread*, std::shared_ptr<TSlot>> slots;
  {
    std::lock_guard lock(mutex_);
    slots.swap(slots_);
  }
  for (auto& [worker, slot] : slots)
    if (slot->thread.joinable()) slot->thread.join();
}

std::shared_ptr<TThreadHost::TSlot> TThreadHost::Find(TKivThread& worker) {
  std::lock_guard lock(mutex_);
  auto it = slots_.find(&worker);
  return it == slots_.end() ? nullptr : it->second;
}

void TThreadHost::Run(TKivThread& worker, TSlot& slot) {
  slot.runner.store(std::this_thread::get_id(), std::memory_order_release);
  worker.Events().SetOwnerThread(std::this_thread::get_id());
  try {
    worker.Execute();
  } catch (const std::exception& e) {
    worker.ReportThreadException(e.what(), &e);
  } catch (...) {
    worker.ReportThreadException("unknown exception", nullptr);
  }
  // A worker that failed outside its steps still must not look alive to whoever waits for it.
  worker.MarkRunning(false);
  worker.Events().SetOwnerThread({});
  {
    std::lock_guard lock(slot.mutex);
    slot.ended = true;
  }
  slot.changed.notify_all();
}

void TThreadHost::StartWorker(TKivThread& worker) {
  std::shared_ptr<TSlot> old;
  {
    std::lock_guard lock(mutex_);
    auto slot = std::make_shared<TSlot>();
    TSlot* raw = slot.get();
    auto& entry = slots_[&worker];
    old = std::move(entry);
    // The handle is written under the lock under which every joiner finds the slot: the thread that
    // joins a worker is often not the one that started it (the engine stops the loader the viewer began).
    raw->thread = std::thread([&worker, raw] { Run(worker, *raw); });
    entry = std::move(slot);
  }
  // A restart: the previous run has ended (Start refuses a running worker), only its thread remains.
  if (old && old->thread.joinable()) old->thread.join();
}

void TThreadHost::JoinWorker(TKivThread& worker) {
  std::shared_ptr<TSlot> slot = Find(worker);
  if (!slot) return;
  if (slot->runner.load(std::memory_order_acquire) == std::this_thread::get_id()) return;
  {
    std::unique_lock lock(slot->mutex);
    if (!slot->changed.wait_for(lock, std::chrono::milliseconds(kJoinWarningMs), [&] { return slot->ended; })) {
      LogLine("TKivThread: \"" + worker.Name() + "\" did not end within 3000 ms; still waiting");
      slot->changed.wait(lock, [&] { return slot->ended; });
    }
  }
  std::shared_ptr<TSlot> owned;
  {
    std::lock_guard lock(mutex_);
    auto it = slots_.find(&worker);
    if (it != slots_.end() && it->second == slot) {
      owned = std::move(it->second);
      slots_.erase(it);
    }
  }
  if (owned && owned->thread.joinable()) owned->thread.join();
}

void TThreadHost::JoinWhilePumping(TKivThread& worker, TThreadEventList& queue, int64_t pollMs) {
  if (std::shared_ptr<TSlot> slot = Find(worker);
      slot && slot->runner.load(std::memory_order_acquire) == std::this_thread::get_id())
    return;
  while (worker.Running()) {
    queue.Process();
    std::this_thread::sleep_for(std::chrono::milliseconds(pollMs < 0 ? 0 : pollMs));
  }
  JoinWorker(worker); // the thread itself still has to be reaped
}

void TThreadHost::WaitForWork(TKivThread& worker, int64_t timeoutMs) {
  std::shared_ptr<TSlot> slot = Find(worker);
  if (!slot) return;
  std::unique_lock lock(slot->mutex);
  slot->changed.wait_for(lock, std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs),
                         [&] { return worker.Terminated() || worker.TakeWake(); });
}

void TThreadHost::WorkerWoken(TKivThread& worker) {
  std::shared_ptr<TSlot> slot = Find(worker);
  if (!slot) return;
  // Taking the slot's lock orders this notification after the waiter's predicate check.
  { std::lock_guard lock(slot->mutex); }
  slot->changed.notify_all();
}

} // namespace kiv

#include "VirtualHost.h"

#include <algorithm>
#include <thread>

namespace kiv {

TVirtualHost::~TVirtualHost() {
  // Workers are normally stopped by their owners first; end the rest so none points back at us.
  while (!slots_.empty()) {
    TKivThread* worker = slots_.back().worker;
    slots_.pop_back();
    worker->RunOnStop();
  }
}

TVirtualHost::TSlot* TVirtualHost::Find(TKivThread& worker) {
  for (auto& slot : slots_)
    if (slot.worker == &worker) return &slot;
  return nullptr;
}

void TVirtualHost::Remove(TKivThread& worker) {
  std::erase_if(slots_, [&](const TSlot& slot) { return slot.worker == &worker; });
}

void TVirtualHost::StartWorker(TKivThread& worker) {
  worker.Events().SetOwnerThread(std::this_thread::get_id());
  slots_.push_back({&worker, nextSequence_++, clock_.NowMs()});
  worker.RunOnStart();
}

void TVirtualHost::EndWorker(TKivThread& worker, bool runOnStop) {
  Remove(worker);
  if (runOnStop) worker.RunOnStop();
  worker.Events().SetOwnerThread({});
}

void TVirtualHost::JoinWorker(TKivThread& worker) {
  if (!Find(worker) || !worker.Terminated()) return;
  // A worker stopping itself ends once its step returns.
  if (std::find(stepping_.begin(), stepping_.end(), &worker) != stepping_.end()) return;
  EndWorker(worker, true);
}

void TVirtualHost::JoinWhilePumping(TKivThread& worker, TThreadEventList& queue, int64_t) {
  // Sends are inline here, so nobody can be blocked in one; the queue is handled once for what was
  // posted meanwhile.
  queue.Process();
  JoinWorker(worker);
}

void TVirtualHost::WaitForWork(TKivThread&, int64_t) {}

int TVirtualHost::AddTickHook(std::function<void(int64_t)> hook) {
  tickHooks_.emplace_back(nextHookId_, std::move(hook));
  return nextHookId_++;
}

void TVirtualHost::RemoveTickHook(int id) {
  std::erase_if(tickHooks_, [&](const auto& entry) { return entry.first == id; });
}

int TVirtualHost::RunPass(bool onlyWoken) {
  std::vector<TSlot> order = slots_;
  std::stable_sort(order.begin(), order.end(), [](const TSlot& a, const TSlot& b) {
    if (a.worker->StepOrder() != b.worker->StepOrder()) return a.worker->StepOrder() < b.worker->StepOrder();
    return a.sequence < b.sequence;
  });
  const int64_t now = clock_.NowMs();
  int steps = 0;
  for (const TSlot& entry : order) {
    TSlot* slot = Find(*entry.worker);
    // Started again since the snapshot counts as a different run.
    if (!slot || slot->sequence != entry.sequence) continue;
    TKivThread& worker = *slot->worker;
    if (worker.Terminated()) {
      EndWorker(worker, true);
      continue;
    }
    const bool woken = worker.TakeWake();
    if (!woken && (onlyWoken || now - slot->lastStepMs < worker.PeriodMs())) continue;
    slot->lastStepMs = now;
    stepping_.push_back(&worker);
    const bool goOn = worker.RunStep();
    stepping_.pop_back();
    ++steps;
    if (!goOn) EndWorker(worker, worker.Running());
  }
  return steps;
}

void TVirtualHost::Advance(int64_t ms) {
  for (auto& slot : slots_) slot.worker->Events().SetOwnerThread(std::this_thread::get_id());
  for (int64_t i = 0; i < ms; ++i) {
    clock_.AdvanceMs(1);
    const int64_t now = clock_.NowMs();
    auto hooks = tickHooks_;
    for (auto& [id, hook] : hooks) hook(now);
    RunPass(false);
  }
}

int TVirtualHost::RunReady() {
  int total = 0;
  for (int round = 0; round < 1000; ++round) {
    const int steps = RunPass(true);
    if (steps == 0) break;
    total += steps;
  }
  return total;
}

} // namespace kiv

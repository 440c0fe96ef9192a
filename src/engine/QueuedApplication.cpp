#include "QueuedApplication.h"

#include <chrono>

namespace kiv {

TQueuedApplication::~TQueuedApplication() { Shutdown(); }

void TQueuedApplication::PostEvent(int number, TOwned<TKivEventData> record) {
  if (!record) return;
  {
    std::lock_guard lock(mutex_);
    if (shutDown_) return; // the record is freed on the way out
    queue_.emplace_back(number, std::move(record));
  }
  posted_.notify_all();
}

int TQueuedApplication::ProcessEvents() {
  int count = 0;
  for (;;) {
    std::pair<int, TOwned<TKivEventData>> entry;
    {
      std::lock_guard lock(mutex_);
      if (queue_.empty()) return count;
      entry = std::move(queue_.front());
      queue_.pop_front();
    }
    Deliver(entry.first, std::move(entry.second));
    ++count;
  }
}

bool TQueuedApplication::WaitForEvents(int64_t timeoutMs) {
  std::unique_lock lock(mutex_);
  return posted_.wait_for(lock, std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs),
                          [&] { return !queue_.empty() || shutDown_; }) &&
         !queue_.empty();
}

void TQueuedApplication::Shutdown() {
  std::deque<std::pair<int, TOwned<TKivEventData>>> dropped;
  {
    std::lock_guard lock(mutex_);
    shutDown_ = true;
    dropped.swap(queue_);
  }
  posted_.notify_all();
  // Freed outside the lock: a record's data may run any clean-up.
}

bool TQueuedApplication::IsShutDown() const {
  std::lock_guard lock(mutex_);
  return shutDown_;
}

bool TQueuedApplication::IsEmpty() const {
  std::lock_guard lock(mutex_);
  return queue_.empty();
}

} // namespace kiv

#pragma once
// The application object without a window system: records wait in a queue until the user-interface
// loop (the export loop, a test) drains it.

#include "Application.h"

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <utility>

namespace kiv {

class TQueuedApplication final : public TKivApplication {
public:
  TQueuedApplication() = default;
  ~TQueuedApplication() override; // frees what is still queued

  void PostEvent(int number, TOwned<TKivEventData> record) override;

  // The user-interface thread: delivers the records queued so far, in posting order (records posted by
  // the handlers meanwhile included). Returns how many it took from the queue.
  int ProcessEvents();
  // Waits until a record is queued, at most timeoutMs; true when one is. Any thread.
  bool WaitForEvents(int64_t timeoutMs);
  // Frees the queued records and refuses all later posts.
  void Shutdown();
  bool IsShutDown() const;
  bool IsEmpty() const;

private:
  mutable std::mutex mutex_;
  std::condition_variable posted_;
  std::deque<std::pair<int, TOwned<TKivEventData>>> queue_; // guarded by mutex_
  bool shutDown_ = false;                                   // guarded by mutex_
};

} // namespace kiv

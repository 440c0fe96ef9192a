#pragma once
// The event queue every worker thread owns: first in, first out, under its own lock. Other threads post
// items (the queue takes the data) or send them (the sender keeps the data and waits until the owner has
// handled the item). The owner drains the queue with Process on its own thread; the lock is never held
// while a handler runs.

#include "ObjectBase.h"

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

namespace kiv {

// One queued event. Shared between the queue and a waiting sender, hence counted.
class TMessageItem : public TRefObj {
public:
  TMessageItem(int number, TObj* data, bool ownsData, bool synchronous);
  ~TMessageItem() override;

  int Number() const noexcept { return number_; }
  TObj* Data() const noexcept { return data_; }
  // A sender waits for this item's completion.
  bool Synchronous() const noexcept { return synchronous_; }
  // Frees owned data, lets go of borrowed data and wakes a waiting sender. Idempotent.
  void Complete();
  // Sender side: blocks until Complete.
  void WaitCompleted();

private:
  const int number_;
  TObj* data_;        // owned when ownsData_; cleared by Complete (under mutex_)
  bool ownsData_;     // guarded by mutex_
  const bool synchronous_;
  std::mutex mutex_;
  std::condition_variable completed_;
  bool done_ = false; // guarded by mutex_
};

class TThreadEventList : public TObj {
public:
  // (number, handled out flag, data). Runs on the owner's thread; exceptions it raises are swallowed.
  using THandler = std::function<void(int number, bool& handled, TObj* data)>;

  TThreadEventList() = default;
  ~TThreadEventList() override;

  // Set once before the queue is used.
  void SetHandler(THandler handler) { handler_ = std::move(handler); }
  // Called after every post or send so that the owner stops waiting. Set once before use.
  void SetWakeOwner(std::function<void()> wake) { wakeOwner_ = std::move(wake); }
  // The thread that processes this queue. A Send from that very thread is handled inline, since
  // waiting for itself would never end. Set by the host that runs the owner.
  void SetOwnerThread(std::thread::id id) { ownerThread_.store(id, std::memory_order_release); }

  // Any thread. Takes the data; after shutdown it is freed at once.
  void Post(int number, TOwned<TObj> data);
  template <class T> void Post(int number, TOwned<T> data) { Post(number, TOwned<TObj>(data.release())); }
  void Post(int number) { Post(number, TOwned<TObj>()); }
  // Any thread. The caller keeps the data; returns once the owner handled it or the queue shut down.
  void Send(int number, TObj* data = nullptr);

  // Owner's thread: handles items from the head until the queue is empty. Returns how many it handled.
  int Process();

  // Completes every waiting item and refuses everything from now on.
  void Shutdown();
  bool IsShutDown() const;
  bool IsEmpty() const;

protected:
  void Dispose() override { Shutdown(); }

private:
  bool Append(TRef<TMessageItem> item); // false after shutdown
  void Handle(TMessageItem& item);

  THandler handler_;                           // set before use, then read-only
  std::function<void()> wakeOwner_;            // set before use, then read-only
  std::atomic<std::thread::id> ownerThread_{}; // set by the owner's host
  mutable std::mutex mutex_;
  std::deque<TRef<TMessageItem>> items_; // guarded by mutex_
  bool shutDown_ = false;                // guarded by mutex_
};

} // namespace kiv

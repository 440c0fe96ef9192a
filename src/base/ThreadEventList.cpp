#include "ThreadEventList.h"

namespace kiv {

TMessageItem::TMessageItem(int number, TObj* data, bool ownsData, bool synchronous)
    : number_(number), data_(data), ownsData_(ownsData), synchronous_(synchronous) {}

TMessageItem::~TMessageItem() { Complete(); }

void TMessageItem::Complete() {
  TObj* toFree = nullptr;
  {
    std::lock_guard lock(mutex_);
    if (done_) return;
    done_ = true;
    if (ownsData_) toFree = data_;
    data_ = nullptr;
    ownsData_ = false;
  }
  completed_.notify_all();
  if (toFree) TObjDeleter()(toFree);
}

void TMessageItem::WaitCompleted() {
  std::unique_lock lock(mutex_);
  completed_.wait(lock, [&] { return done_; });
}

TThreadEventList::~TThreadEventList() { Shutdown(); }

bool TThreadEventList::Append(TRef<TMessageItem> item) {
  {
    std::lock_guard lock(mutex_);
    if (shutDown_) return false;
    items_.push_back(std::move(item));
  }
  if (wakeOwner_) wakeOwner_();
  return true;
}

void TThreadEventList::Post(int number, TOwned<TObj> data) {
  TObj* raw = data.get();
  auto item = TRef<TMessageItem>::Make(number, raw, raw != nullptr, false);
  data.release(); // the item owns it now, and frees it if the queue refuses it
  Append(std::move(item));
}

void TThreadEventList::Send(int number, TObj* data) {
  auto item = TRef<TMessageItem>::Make(number, data, false, true);
  if (!Append(item)) return;
  if (ownerThread_.load(std::memory_order_acquire) == std::this_thread::get_id()) {
    Process();
    return;
  }
  item->WaitCompleted();
}

void TThreadEventList::Handle(TMessageItem& item) {
  if (handler_) {
    bool handled = false;
    try {
      handler_(item.Number(), handled, item.Data());
    } catch (...) {
      // A failing handler must not take the owner's loop down with it.
    }
  }
  item.Complete();
}

int TThreadEventList::Process() {
  int count = 0;
  for (;;) {
    TRef<TMessageItem> item;
    {
      std::lock_guard lock(mutex_);
      if (items_.empty()) return count;
      item = std::move(items_.front());
      items_.pop_front();
    }
    Handle(*item);
    ++count;
  }
}

void TThreadEventList::Shutdown() {
  std::deque<TRef<TMessageItem>> dropped;
  {
    std::lock_guard lock(mutex_);
    shutDown_ = true;
    dropped.swap(items_);
  }
  // Completing frees posted data and releases waiting senders; done outside the lock because freeing
  // data may run arbitrary clean-up.
  for (auto& item : dropped) item->Complete();
}

bool TThreadEventList::IsShutDown() const {
  std::lock_guard lock(mutex_);
  return shutDown_;
}

bool TThreadEventList::IsEmpty() const {
  std::lock_guard lock(mutex_);
  return items_.empty();
}

} // namespace kiv

// The queue between threads: order, ownership of posted data, senders that wait, and shutdown.

#include "ThreadEventList.h"
#include "ThreadHost.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

namespace kiv {
namespace {

// Counts its own destruction so tests can see who freed it.
class TTracked : public TObj {
public:
  TTracked(std::atomic<int>& freed, int initial = 0) : freed_(freed), value(initial) {}
  ~TTracked() override { ++freed_; }
  std::atomic<int>& freed_;
  int value;
};

TEST(ThreadEventList, ProcessHandlesItemsInPostingOrderAndFreesPostedData) {
  std::atomic<int> freed{0};
  TThreadEventList list;
  std::vector<std::pair<int, int>> seen;
  list.SetHandler([&](int number, bool& handled, TObj* data) {
    seen.emplace_back(number, data ? static_cast<TTracked*>(data)->value : -1);
    handled = true;
  });
  list.Post(5, MakeOwned<TTracked>(freed, 50));
  list.Post(3);
  list.Post(9, MakeOwned<TTracked>(freed, 90));
  EXPECT_EQ(freed, 0);
  EXPECT_EQ(list.Process(), 3);
  EXPECT_EQ(seen, (std::vector<std::pair<int, int>>{{5, 50}, {3, -1}, {9, 90}}));
  EXPECT_EQ(freed, 2);
  EXPECT_TRUE(list.IsEmpty());
}

TEST(ThreadEventList, AHandlerThatThrowsDoesNotStopTheRest) {
  std::atomic<int> freed{0};
  TThreadEventList list;
  std::vector<int> seen;
  list.SetHandler([&](int number, bool&, TObj*) {
    seen.push_back(number);
    if (number == 1) throw std::runtime_error("bad event");
  });
  list.Post(1, MakeOwned<TTracked>(freed));
  list.Post(2);
  EXPECT_EQ(list.Process(), 2);
  EXPECT_EQ(seen, (std::vector<int>{1, 2}));
  EXPECT_EQ(freed, 1);
}

TEST(ThreadEventList, AfterShutdownPostsAreFreedAtOnceAndSendsReturn) {
  std::atomic<int> freed{0};
  TThreadEventList list;
  int handled = 0;
  list.SetHandler([&](int, bool&, TObj*) { ++handled; });
  list.Post(1, MakeOwned<TTracked>(freed));
  list.Shutdown();
  EXPECT_EQ(freed, 1) << "queued data goes with the queue";
  EXPECT_TRUE(list.IsShutDown());
  list.Post(2, MakeOwned<TTracked>(freed));
  EXPECT_EQ(freed, 2);
  TTracked kept(freed);
  list.Send(3, &kept); // nobody will process: must not block
  EXPECT_EQ(list.Process(), 0);
  EXPECT_EQ(handled, 0);
  EXPECT_EQ(freed, 2) << "sent data stays the sender's";
}

TEST(ThreadEventList, APendingSendReturnsWhenTheOwnerShutsDown) {
  TThreadEventList list;
  list.SetHandler([](int, bool&, TObj*) {});
  std::atomic<bool> returned{false};
  std::thread sender([&] {
    list.Send(7);
    returned = true;
  });
  while (list.IsEmpty()) std::this_thread::yield();
  EXPECT_FALSE(returned);
  list.Shutdown();
  sender.join();
  EXPECT_TRUE(returned);
}

TEST(ThreadEventList, ASendFromTheOwnerThreadIsHandledInline) {
  TThreadEventList list;
  std::vector<int> seen;
  list.SetHandler([&](int number, bool&, TObj*) { seen.push_back(number); });
  list.SetOwnerThread(std::this_thread::get_id());
  list.Post(1);
  list.Send(2); // would wait for itself for ever
  EXPECT_EQ(seen, (std::vector<int>{1, 2})) << "earlier posts keep their place";
}

// A worker that only drains its queue.
class TQueueWorker : public TKivThread {
public:
  using TKivThread::TKivThread;
  std::mutex mutex;
  std::vector<std::pair<int, int>> seen; // guarded by mutex
  std::atomic<int> lastSentValue{-1};

protected:
  void Step() override { Events().Process(); }
  void HandleEvent(int number, TObj* data) override {
    const int value = data ? static_cast<TTracked*>(data)->value : -1;
    std::lock_guard lock(mutex);
    seen.emplace_back(number, value);
  }
};

TEST(ThreadEventList, SendsFromSeveralThreadsAllCompleteAfterTheirItemWasHandled) {
  TThreadHost host;
  auto worker = MakeOwned<TQueueWorker>(host, "queue", 1000);
  ASSERT_TRUE(worker->Start());
  constexpr int kThreads = 4, kEach = 200;
  std::atomic<int> freed{0};
  std::vector<std::thread> senders;
  for (int t = 0; t < kThreads; ++t)
    senders.emplace_back([&, t] {
      for (int i = 0; i < kEach; ++i) {
        TTracked data(freed, t * 1000 + i);
        worker->Events().Send(t, &data);
        // The handler has seen this very item by now: the data on our stack was still alive for it.
        std::lock_guard lock(worker->mutex);
        bool found = false;
        for (auto it = worker->seen.rbegin(); it != worker->seen.rend() && !found; ++it)
          found = it->second == t * 1000 + i;
        ASSERT_TRUE(found);
      }
    });
  for (auto& sender : senders) sender.join();
  worker->Stop();
  ASSERT_EQ(worker->seen.size(), size_t(kThreads * kEach));
  // Each sender's items arrive in its own order.
  std::vector<int> next(kThreads, 0);
  for (auto [number, value] : worker->seen) EXPECT_EQ(value, number * 1000 + next[number]++);
}

} // namespace
} // namespace kiv

// The engine thread with the user interface and the slide loader: reports reach the user-interface thread
// in the order the engine posted them, and the engine stops its loader even while the loader waits for
// the engine to take a slide list, or after the loader died.

#include "EngineTestSupport.h"

#include "QueuedApplication.h"
#include "ThreadHost.h"
#include "VirtualHost.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

namespace kiv {
namespace {

using namespace kiv::test;

// Generous: only a hang would reach it.
constexpr auto kPatience = std::chrono::seconds(60);

// A flag the engine thread raises and the test waits for.
struct TSignal {
  void Raise() {
    {
      std::lock_guard lock(mutex);
      raised = true;
    }
    changed.notify_all();
  }
  bool Wait() {
    std::unique_lock lock(mutex);
    return changed.wait_for(lock, kPatience, [&] { return raised; });
  }
  std::mutex mutex;
  std::condition_variable changed;
  bool raised = false;
};

TEST(EngineReports, ReachTheUserInterfaceInPostingOrderWhileItDrainsThem) {
  TThreadHost host;
  TQueuedApplication app;
  auto engine = MakeOwned<TTestEngine>(host, app, 60'000);
  constexpr int kReports = 400;
  std::vector<int> seen;
  int firstFrames = 0;
  engine->OnEvent = [&](TCustomKivEngine&, TKivEventData& r) { seen.push_back(r.Integer(0)); };
  engine->OnFirstFrame = [&](TCustomKivEngine&) { ++firstFrames; };
  engine->OnPosition = [&](TCustomKivEngine&, int32_t position, bool, int32_t) { seen.push_back(position); };
  engine->NextSequence();
  engine->onStep = [&] {
    for (int i = 0; i < kReports; ++i) {
      if (i % 3 == 0)
        engine->PostToUI(kEvPosition, {1, i, kReports, 0});
      else
        engine->PostToUI(kEvAction, {i, 0});
      if (i % 100 == 0) engine->PostToUI(kEvFirstFrame);
    }
  };
  ASSERT_TRUE(engine->Start());
  engine->Events().Post(kEvHelp); // wakes the engine for one step
  while (static_cast<int>(seen.size()) < kReports) {
    ASSERT_TRUE(app.WaitForEvents(std::chrono::milliseconds(kPatience).count()));
    app.ProcessEvents();
  }
  engine->Stop();
  ASSERT_EQ(static_cast<int>(seen.size()), kReports);
  for (int i = 0; i < kReports; ++i)
    ASSERT_EQ(seen[static_cast<size_t>(i)], i);
  EXPECT_EQ(firstFrames, 4);
}

TEST(EngineStopsLoader, ALoaderWaitingForTheEngineToTakeItsListStillEnds) {
  TProbeObject::Register();
  TThreadHost host;
  TQueuedApplication app;
  // The engine steps only when something reaches its queue: here, the loader's first list.
  auto engine = MakeOwned<TTestEngine>(host, app, 60'000);
  auto loader =
      MakeOwned<TKivSlideLoader>(host, *MakeSource(ShowText(4, 100)).release(), 3, true, TSize{64, 48});
  loader->SetScreen(false);
  loader->SetTarget(&engine->Events());
  TSignal stopped;
  bool loaderWasWaiting = false;
  engine->onStep = [&] {
    if (stopped.raised || engine->Events().IsEmpty()) return;
    // The list is queued and not taken: the loader is inside its send.
    loaderWasWaiting = loader->Running();
    engine->StopWorker(*loader);
    stopped.Raise();
  };
  ASSERT_TRUE(engine->Start());
  ASSERT_TRUE(loader->Start());
  ASSERT_TRUE(stopped.Wait()) << "the engine never got out of stopping its loader";
  engine->Stop();
  EXPECT_TRUE(loaderWasWaiting);
  EXPECT_FALSE(loader->Running());
  EXPECT_EQ(engine->lists, 1) << "the waiting list was taken while the engine stopped the loader";
  EXPECT_EQ(engine->HeldPositions(), (std::vector<int32_t>{-1}));
}

TEST(EngineStopsLoader, OnTheVirtualHostTheLoaderEndsAtOnceEvenFromInsideItsSend) {
  TProbeObject::Register();
  TVirtualHost host;
  TQueuedApplication app;
  auto engine = MakeOwned<TTestEngine>(host, app);
  auto loader =
      MakeOwned<TKivSlideLoader>(host, *MakeSource(ShowText(4, 100)).release(), 3, true, TSize{64, 48});
  loader->SetScreen(false);
  loader->SetTarget(&engine->Events());
  bool stopNow = false;
  engine->onStep = [&] {
    if (!stopNow) return;
    stopNow = false;
    engine->StopWorker(*loader);
    EXPECT_FALSE(loader->Running()) << "stopped within the engine's step";
  };
  engine->Start();
  loader->Start();
  host.Advance(20);
  EXPECT_EQ(engine->lists, 2);
  stopNow = true;
  host.Advance(1);
  EXPECT_FALSE(loader->Running());
  EXPECT_EQ(host.WorkerCount(), 1);
  host.Advance(50);
  EXPECT_EQ(engine->lists, 2) << "a stopped loader sends nothing";

  // Stopping it from the handler of its own list: the send is on the stack, so the loader ends once its
  // step returns.
  auto second =
      MakeOwned<TKivSlideLoader>(host, *MakeSource(ShowText(4, 100)).release(), 3, true, TSize{64, 48});
  second->SetScreen(false);
  second->SetTarget(&engine->Events());
  engine->onSlideList = [&](const std::vector<TTestEngine::THeld>&) { engine->StopWorker(*second); };
  second->Start();
  host.Advance(10);
  EXPECT_EQ(engine->lists, 3);
  EXPECT_FALSE(second->Running());
  EXPECT_EQ(host.WorkerCount(), 1);
  host.Advance(30);
  EXPECT_EQ(engine->lists, 3);
  engine->Stop();
}

// A show without slides has nothing to build: the loader's first step raises and ends its thread.
TEST(EngineStopsLoader, ALoaderThatDiedIsStoppedAtOnceOnBothHosts) {
  {
    TVirtualHost host;
    TQueuedApplication app;
    auto engine = MakeOwned<TTestEngine>(host, app);
    auto loader = MakeOwned<TKivSlideLoader>(host, *MakeSource("[main]\r\n").release(), 3, true);
    loader->SetTarget(&engine->Events());
    bool stopNow = false;
    engine->onStep = [&] {
      if (!stopNow) return;
      stopNow = false;
      engine->StopWorker(*loader);
    };
    engine->Start();
    loader->Start();
    host.Advance(10);
    EXPECT_FALSE(loader->Running()) << "virtual host: a worker that raised must not look alive";
    EXPECT_EQ(host.WorkerCount(), 1);
    stopNow = true;
    host.Advance(1);
    EXPECT_EQ(engine->lists, 0);
    engine->Stop();
  }
  {
    TThreadHost host;
    TQueuedApplication app;
    auto engine = MakeOwned<TTestEngine>(host, app, 60'000);
    auto loader = MakeOwned<TKivSlideLoader>(host, *MakeSource("[main]\r\n").release(), 3, true);
    loader->SetTarget(&engine->Events());
    TSignal stopped;
    engine->onStep = [&] {
      if (stopped.raised) return;
      engine->StopWorker(*loader);
      stopped.Raise();
    };
    ASSERT_TRUE(engine->Start());
    ASSERT_TRUE(loader->Start());
    EXPECT_TRUE(loader->WaitFor());
    EXPECT_FALSE(loader->Running()) << "threads: a worker that raised must not look alive";
    engine->Events().Post(kEvHelp);
    ASSERT_TRUE(stopped.Wait()) << "the engine waited for a loader that had died";
    engine->Stop();
  }
}

} // namespace
} // namespace kiv

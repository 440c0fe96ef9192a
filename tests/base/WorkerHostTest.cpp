// Workers on the two hosts: "wait, then Step" on real threads, and the virtual host's exact schedule.

#include "Log.h"
#include "ThreadHost.h"
#include "VirtualHost.h"

#include "TestEnvironment.h"

#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace kiv {
namespace {

using TTrace = std::vector<std::string>;

// A worker whose step is a function; records its steps in a trace shared by several workers.
class TScriptWorker : public TKivThread {
public:
  TScriptWorker(TWorkerHost& host, std::string name, int64_t period, int order, TTrace* trace)
      : TKivThread(host, std::move(name), period, order), trace_(trace) {}
  std::function<void()> onStep;
  std::atomic<int> steps{0};
  std::atomic<int> stops{0};

protected:
  void Step() override {
    if (trace_) trace_->push_back(std::to_string(Clock().NowMs()) + " " + Name());
    ++steps;
    Events().Process();
    if (onStep) onStep();
  }
  void OnStop() override {
    ++stops;
    TKivThread::OnStop();
  }
  void HandleEvent(int number, TObj*) override {
    if (trace_) trace_->push_back(std::to_string(Clock().NowMs()) + " " + Name() + " event " + std::to_string(number));
  }

private:
  TTrace* trace_;
};

TEST(VirtualHost, DueWorkersStepInOrderEveryTheirPeriodAfterTheTickHooks) {
  TVirtualHost host;
  TTrace trace;
  // Started in the reverse of their step order: the order decides, not the start.
  auto engine = MakeOwned<TScriptWorker>(host, "engine", 5, kOrderEngine, &trace);
  auto loader = MakeOwned<TScriptWorker>(host, "loader", 10, kOrderSlideLoader, &trace);
  auto clock = MakeOwned<TScriptWorker>(host, "clock", 10, kOrderAudioClock, &trace);
  engine->Start();
  loader->Start();
  clock->Start();
  host.AddTickHook([&](int64_t now) {
    if (now % 10 == 0) trace.push_back(std::to_string(now) + " sound");
  });
  host.Advance(20);
  EXPECT_EQ(trace, (TTrace{"5 engine", "10 sound", "10 clock", "10 loader", "10 engine", "15 engine", "20 sound",
                           "20 clock", "20 loader", "20 engine"}));
}

TEST(VirtualHost, WakingStepsAtOnceWithinTheTickWhenTheWokenWorkerComesLater) {
  TVirtualHost host;
  TTrace trace;
  auto first = MakeOwned<TScriptWorker>(host, "first", 100, 1, &trace);
  auto second = MakeOwned<TScriptWorker>(host, "second", 100, 2, &trace);
  first->Start();
  second->Start();
  // first wakes second (later in the order: same tick); second posts to first (earlier: next tick).
  first->onStep = [&] {
    if (first->steps == 1) second->Wake();
  };
  second->onStep = [&] {
    if (second->steps == 1) first->Events().Post(42);
  };
  first->Wake();
  host.Advance(2);
  EXPECT_EQ(trace, (TTrace{"1 first", "1 second", "2 first", "2 first event 42"}));
  // RunReady steps woken workers without moving time.
  trace.clear();
  second->Events().Post(7);
  EXPECT_EQ(host.RunReady(), 1);
  EXPECT_EQ(trace, (TTrace{"2 second", "2 second event 7"}));
}

TEST(VirtualHost, ASendBetweenWorkersIsHandledInlineAndAWorkerCanStopItself) {
  TVirtualHost host;
  TTrace trace;
  auto engine = MakeOwned<TScriptWorker>(host, "engine", 10, kOrderEngine, &trace);
  auto loader = MakeOwned<TScriptWorker>(host, "loader", 10, kOrderSlideLoader, &trace);
  engine->Start();
  loader->Start();
  loader->onStep = [&] {
    engine->Events().Send(101); // must not wait for the engine's own step
    trace.push_back("sent");
    if (loader->steps == 2) loader->Stop();
  };
  host.Advance(20);
  EXPECT_EQ(trace, (TTrace{"10 loader", "10 engine event 101", "sent", "10 engine", "20 loader",
                           "20 engine event 101", "sent", "20 engine"}));
  EXPECT_FALSE(loader->Running());
  EXPECT_EQ(loader->stops, 1);
  EXPECT_EQ(host.WorkerCount(), 1);
  loader->Events().Post(1); // its queue is shut: dropped
  host.Advance(10);
  EXPECT_EQ(loader->steps, 2);
}

TEST(VirtualHost, StoppingAnotherWorkerEndsItAtOnceAndARestartStepsAfresh) {
  TVirtualHost host;
  auto engine = MakeOwned<TScriptWorker>(host, "engine", 10, kOrderEngine, nullptr);
  auto loader = MakeOwned<TScriptWorker>(host, "loader", 10, kOrderSlideLoader, nullptr);
  engine->Start();
  loader->Start();
  engine->onStep = [&] {
    if (engine->steps == 1) {
      loader->Stop();
      EXPECT_FALSE(loader->Running()) << "the engine's stop loop must see the loader gone";
      EXPECT_TRUE(loader->Start());
    }
  };
  host.Advance(10);
  EXPECT_EQ(loader->steps, 1);
  EXPECT_EQ(loader->stops, 1);
  host.Advance(10);
  EXPECT_EQ(loader->steps, 2) << "the restarted loader waits a whole period from its start";
}

TEST(ThreadHost, AWorkerStepsOnItsPeriodAndAtOnceWhenAnEventArrives) {
  TThreadHost host;
  auto worker = MakeOwned<TScriptWorker>(host, "worker", 60'000, kOrderDefault, nullptr);
  std::atomic<int> events{0};
  std::mutex mutex;
  std::condition_variable changed;
  worker->onStep = [&] {
    std::lock_guard lock(mutex);
    changed.notify_all();
  };
  ASSERT_TRUE(worker->Start());
  EXPECT_FALSE(worker->Start()) << "refused while running";
  worker->Events().Post(1);
  std::unique_lock lock(mutex);
  // The period is a minute: only the posted event can make it step.
  ASSERT_TRUE(changed.wait_for(lock, std::chrono::seconds(30), [&] { return worker->steps >= 1; }));
  lock.unlock();
  (void)events;
  worker->Stop();
  EXPECT_FALSE(worker->Running());
  EXPECT_EQ(worker->stops, 1);
}

TEST(ThreadHost, StopWaitsForTheRunningStepToFinish) {
  TThreadHost host;
  auto worker = MakeOwned<TScriptWorker>(host, "slow", 1, kOrderDefault, nullptr);
  std::atomic<bool> inStep{false}, release{false}, stepDone{false};
  worker->onStep = [&] {
    inStep = true;
    while (!release) std::this_thread::yield();
    stepDone = true;
  };
  worker->Start();
  while (!inStep) std::this_thread::yield();
  std::thread stopper([&] { worker->Stop(); });
  worker->Terminate(); // terminating again while the step runs changes nothing
  release = true;
  stopper.join();
  EXPECT_TRUE(stepDone);
  EXPECT_FALSE(worker->Running());
  EXPECT_EQ(worker->stops, 1);
  EXPECT_EQ(worker->steps, 1) << "a terminated worker takes no further step";
}

TEST(ThreadHost, AWorkerStoppingItselfEndsAfterItsStep) {
  TThreadHost host;
  auto worker = MakeOwned<TScriptWorker>(host, "self", 1, kOrderDefault, nullptr);
  worker->onStep = [&] { worker->Stop(); };
  worker->Start();
  EXPECT_TRUE(worker->WaitFor());
  EXPECT_EQ(worker->steps, 1);
  EXPECT_FALSE(worker->Running());
}

TEST(ThreadHost, AStepThatRaisesEndsTheWorkerAndIsReported) {
  const std::string dir = kivtest::FreshTempDir("worker-raise");
  const std::string logPath = dir + "/worker.log";
  ASSERT_TRUE(InstallFileLog(logPath));
  TThreadHost host;
  auto worker = MakeOwned<TScriptWorker>(host, "failing", 1, kOrderDefault, nullptr);
  worker->onStep = [] { throw std::runtime_error("broken step"); };
  worker->Start();
  EXPECT_TRUE(worker->WaitFor());
  CloseLog();
  EXPECT_FALSE(worker->Running()) << "whoever waits for Running to clear must not hang";
  EXPECT_EQ(worker->stops, 0) << "a failed worker skips OnStop";
  std::ifstream in(logPath);
  std::stringstream text;
  text << in.rdbuf();
  EXPECT_NE(text.str().find("Thread Exception at: "), std::string::npos) << text.str();
  EXPECT_NE(text.str().find("broken step"), std::string::npos);
  EXPECT_FALSE(worker->Start() == false) << "a failed worker can be started again";
  worker->Stop();
}

TEST(ThreadHost, AWorkerStartedOnOneThreadIsStoppedFromAnother) {
  TThreadHost host;
  auto worker = MakeOwned<TScriptWorker>(host, "started here", 1, kOrderDefault, nullptr);
  // The stopper exists before the start and learns of it through a relaxed flag, so that whatever makes
  // the stop safe comes from the host itself (ThreadSanitizer sees it that way).
  std::atomic<bool> started{false};
  std::thread stopper([&] {
    while (!started.load(std::memory_order_relaxed)) std::this_thread::yield();
    worker->Stop();
  });
  ASSERT_TRUE(worker->Start());
  started.store(true, std::memory_order_relaxed);
  stopper.join();
  EXPECT_FALSE(worker->Running());
  EXPECT_EQ(worker->stops, 1);
}

TEST(ThreadHost, NeverStartedWorkerHasNothingToWaitFor) {
  TThreadHost host;
  auto worker = MakeOwned<TScriptWorker>(host, "idle", 1, kOrderDefault, nullptr);
  EXPECT_FALSE(worker->WaitFor());
  worker->Stop(); // harmless
}

} // namespace
} // namespace kiv

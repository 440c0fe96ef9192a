#pragma once
// TCustomKivEngine: the engine thread's side of the way back to the user interface. The engine posts
// records (first frame, position, actions, images, window mode) through the application; the application
// delivers them on the user-interface thread, where this class turns them into its three callbacks.
// Position reports carry the sequence number of the open or seek request they answer; reports for an
// older request are dropped, so a report made before the user's latest seek never moves the interface
// back.

#include "Application.h"
#include "EngineEvents.h"
#include "WorkerThread.h"

#include <atomic>
#include <functional>
#include <string>
#include <vector>

namespace kiv {

class TCustomKivEngine : public TKivThread {
public:
  // Created on the user-interface thread; takes an event number from the application for its records.
  TCustomKivEngine(TWorkerHost& host, TKivApplication& application, std::string name = "engine",
                   int64_t periodMs = 1, int stepOrder = kOrderEngine);
  ~TCustomKivEngine() override; // gives the event number back: records still on their way are dropped

  // Any thread (the engine's): a record for the user-interface thread. The record frees data when owns
  // is set; borrowed data must outlive the delivery.
  void PostToUI(int number, std::vector<int32_t> integers = {}, TObj* data = nullptr, bool owns = false);
  void PostToUI(int number, std::vector<int32_t> integers, TOwned<TObj> data);

  // User-interface thread: the number of the next open or seek request (the counter moves on).
  int32_t NextSequence() { return sequence_.fetch_add(1, std::memory_order_acq_rel) + 1; }
  int32_t Sequence() const noexcept { return sequence_.load(std::memory_order_acquire); }

  TKivApplication& Application() const noexcept { return application_; }
  int ApplicationEventNumber() const noexcept { return applicationEvent_; }

  // Set on the user-interface thread before the engine runs; they run on that thread.
  std::function<void(TCustomKivEngine& engine)> OnFirstFrame;
  std::function<void(TCustomKivEngine& engine, int32_t positionMs, bool ended, int32_t lengthMs)> OnPosition;
  std::function<void(TCustomKivEngine& engine, TKivEventData& record)> OnEvent;

  // How often StopWorker handles the engine's queue while it waits.
  static constexpr int64_t kStopPollMs = 3;

protected:
  // User-interface thread, for every record of this engine: 1 -> OnFirstFrame; 2 -> OnPosition when it
  // answers the latest request; any other number -> OnEvent.
  virtual void DeliverToUI(TKivEventData& record);

  // Stops a worker that may be blocked sending to this engine (the slide loader): terminates it, then
  // keeps handling this engine's queue until the worker no longer runs. A worker that ended through an
  // exception counts as stopped. On the engine thread, or on any thread once the engine thread has ended
  // (the queue must not be handled on two threads at once); never from the handler of that worker's send.
  void StopWorker(TKivThread& worker);

private:
  TKivApplication& application_;
  const int applicationEvent_;      // allocated at creation, released at destruction
  std::atomic<int32_t> sequence_{0}; // moved by the user-interface thread, read there and by the viewer
};

} // namespace kiv

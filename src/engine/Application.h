#pragma once
// The application object as workers see it: a cross-thread queue into the user-interface thread. A
// worker posts records under an event number it was given; the user-interface thread receives them in
// posting order and hands each to the handler registered for its number. The window's implementation
// carries records as SDL user events; TQueuedApplication is a plain queue that the export loop and the
// tests drain.

#include "EngineEvents.h"

#include <functional>
#include <map>
#include <mutex>

namespace kiv {

class TKivApplication {
public:
  // Runs on the user-interface thread with the number the record was posted under.
  using TEventHandler = std::function<void(int number, TKivEventData& record)>;

  TKivApplication() = default;
  TKivApplication(const TKivApplication&) = delete;
  TKivApplication& operator=(const TKivApplication&) = delete;
  virtual ~TKivApplication() = default;

  // A fresh event number whose records go to handler. Any thread.
  int AllocateEventNumber(TEventHandler handler);
  // Records of that number still on their way are freed undelivered. Call it on the user-interface
  // thread (or once nothing delivers any more), so that a handler never runs after it returns.
  void ReleaseEventNumber(int number);

  // Any thread. The application takes the record; it is freed at once when the application no longer
  // delivers (shut down, or the queue refused it).
  virtual void PostEvent(int number, TOwned<TKivEventData> record) = 0;

protected:
  // User-interface thread: the implementation's loop hands every record it receives here. Records of a
  // released number are freed; exceptions of a handler are logged and swallowed, so that one bad record
  // does not end the loop.
  void Deliver(int number, TOwned<TKivEventData> record);
  // The next number to hand out; an implementation bound to a window system asks it for one.
  virtual int NewEventNumber();

private:
  std::mutex mutex_;
  std::map<int, TEventHandler> handlers_; // guarded by mutex_
  int lastNumber_ = 0;                    // guarded by mutex_
};

} // namespace kiv

#include "Application.h"

#include "Log.h"

#include <exception>

namespace kiv {

int TKivApplication::NewEventNumber() {
  // Called under mutex_.
  return ++lastNumber_;
}

int TKivApplication::AllocateEventNumber(TEventHandler handler) {
  std::lock_guard lock(mutex_);
  const int number = NewEventNumber();
  handlers_[number] = std::move(handler);
  return number;
}

void TKivApplication::ReleaseEventNumber(int number) {
  std::lock_guard lock(mutex_);
  handlers_.erase(number);
}

void TKivApplication::Deliver(int number, TOwned<TKivEventData> record) {
  if (!record) return;
  TEventHandler handler;
  {
    std::lock_guard lock(mutex_);
    auto it = handlers_.find(number);
    if (it == handlers_.end()) return;
    handler = it->second;
  }
  try {
    handler(number, *record);
  } catch (const std::exception& e) {
    LogLine(std::string("TKivApplication: event handler failed: ") + e.what());
  } catch (...) {
    LogLine("TKivApplication: event handler failed");
  }
}

} // namespace kiv

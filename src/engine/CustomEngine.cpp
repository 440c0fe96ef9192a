#include "CustomEngine.h"

namespace kiv {

TCustomKivEngine::TCustomKivEngine(TWorkerHost& host, TKivApplication& application, std::string name,
                                   int64_t periodMs, int stepOrder)
    : TKivThread(host, std::move(name), periodMs, stepOrder), application_(application),
      applicationEvent_(application.AllocateEventNumber(
          [this](int, TKivEventData& record) { DeliverToUI(record); })) {}

TCustomKivEngine::~TCustomKivEngine() { application_.ReleaseEventNumber(applicationEvent_); }

void TCustomKivEngine::PostToUI(int number, std::vector<int32_t> integers, TObj* data, bool owns) {
  application_.PostEvent(applicationEvent_, MakeOwned<TKivEventData>(number, std::move(integers), data, owns));
}

void TCustomKivEngine::PostToUI(int number, std::vector<int32_t> integers, TOwned<TObj> data) {
  application_.PostEvent(applicationEvent_,
                         MakeOwned<TKivEventData>(number, std::move(integers), std::move(data)));
}

void TCustomKivEngine::DeliverToUI(TKivEventData& record) {
  switch (record.EventNumber()) {
  case kEvFirstFrame:
    if (OnFirstFrame) OnFirstFrame(*this);
    return;
  case kEvPosition:
    // A report without its four numbers answers no request.
    if (record.Integers().size() < 4 || record.Integer(0) != Sequence()) return;
    if (OnPosition) OnPosition(*this, record.Integer(1), record.Integer(3) != 0, record.Integer(2));
    return;
  default:
    if (OnEvent) OnEvent(*this, record);
  }
}

void TCustomKivEngine::StopWorker(TKivThread& worker) {
  worker.Terminate();
  Host().JoinWhilePumping(worker, Events(), kStopPollMs);
}

} // namespace kiv

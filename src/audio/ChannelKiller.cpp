#include "ChannelKiller.h"

#include "Assert.h"
#include "MusicChannel.h"
#include "MusicVoice.h"

#include <algorithm>

namespace kiv {

TChannelKiller::TChannelKiller(TWorkerHost& host)
    : TKivThread(host, "channel killer", kIdlePeriodMs, kOrderChannelKiller) {
  Start();
}

void TChannelKiller::AddChannel(TMusicChannel& voice) {
  Events().Post(kAddVoiceMessage, MakeOwned<TAddChannelData>(&voice));
}

void TChannelKiller::AdoptVoices(TChannelMusic& channel) {
  std::lock_guard lock(lock_);
  for (TOwned<TMusicChannel>& voice : channel.TakeVoices())
    orphans_.push_back(std::move(voice));
}

int TChannelKiller::WaitingCount() {
  std::lock_guard lock(lock_);
  return static_cast<int>(waiting_.size());
}

int TChannelKiller::AdoptedCount() {
  std::lock_guard lock(lock_);
  return static_cast<int>(orphans_.size());
}

void TChannelKiller::HandleEvent(int number, TObj* data) {
  if (number == kStopMessage) {
    Terminate();
    return;
  }
  if (number != kAddVoiceMessage || !data) return;
  TMusicChannel* voice = static_cast<TAddChannelData*>(data)->voice;
  std::lock_guard lock(lock_);
  // A voice is posted once, when it is first scheduled, and freed only from this list: it is alive here.
  if (std::find(waiting_.begin(), waiting_.end(), voice) == waiting_.end()) waiting_.push_back(voice);
}

void TChannelKiller::Step() {
  Events().Process();
  if (Terminated()) return;
  std::lock_guard lock(lock_);
  ReleaseDue(Clock().NowMs());
  SetPeriodMs(waiting_.empty() ? kIdlePeriodMs : kBusyPeriodMs);
}

void TChannelKiller::ReleaseDue(int64_t nowMs) {
  for (;;) {
    // One at a time and from the end: an end handler may add to or take from these lists.
    auto due = std::find_if(waiting_.rbegin(), waiting_.rend(),
                            [&](TMusicChannel* voice) { return voice->IsDue(nowMs); });
    if (due == waiting_.rend()) return;
    TMusicChannel* voice = *due;
    waiting_.erase(std::next(due).base());
    const auto orphan = std::find_if(orphans_.begin(), orphans_.end(),
                                     [&](const TOwned<TMusicChannel>& held) { return held.get() == voice; });
    if (orphan != orphans_.end()) {
      orphans_.erase(orphan);
      continue;
    }
    voice->Owner().VoiceFinished(*voice);
  }
}

void TChannelKiller::OnStop() {
  {
    std::lock_guard lock(lock_);
    // Voices of live channels still waiting: their channels outlived the player that made them.
    const bool stranded = std::any_of(waiting_.begin(), waiting_.end(), [&](TMusicChannel* voice) {
      return std::none_of(orphans_.begin(), orphans_.end(),
                          [&](const TOwned<TMusicChannel>& held) { return held.get() == voice; });
    });
    if (stranded) ReportAssertion(kAssertionFailure, __FILE__, __LINE__);
  }
  TKivThread::OnStop();
}

void TChannelKiller::Dispose() {
  TKivThread::Dispose();
  std::vector<TOwned<TMusicChannel>> orphans;
  {
    std::lock_guard lock(lock_);
    waiting_.clear();
    orphans.swap(orphans_);
  }
  // Still fading or never scheduled: the player is going away, and its device with it.
}

} // namespace kiv

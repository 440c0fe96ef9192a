#pragma once
// The channel killer: a worker that frees voices once their queued sound has played. A voice hands itself
// over when its fade-out has reached silence or its data has run out; the killer then waits the voice's
// release delay, tells the owner channel (which runs its end handler) and frees it. There is one killer
// per music player, on the player's host: two players in one process (two shows, two tests) never share
// one.

#include "WorkerThread.h"

#include <cstdint>
#include <mutex>
#include <vector>

namespace kiv {

class TChannelMusic;
class TMusicChannel;

// The payload of the "add a voice" message.
class TAddChannelData : public TObj {
public:
  explicit TAddChannelData(TMusicChannel* added) : voice(added) {}
  TMusicChannel* const voice;
};

class TChannelKiller final : public TKivThread {
public:
  static constexpr int kStopMessage = 1025;
  static constexpr int kAddVoiceMessage = 1026;
  static constexpr int64_t kBusyPeriodMs = 10;  // while voices wait
  static constexpr int64_t kIdlePeriodMs = 100; // otherwise; a new voice wakes it at once

  // Starts the worker on the host.
  explicit TChannelKiller(TWorkerHost& host);

  // Any thread (the voice's refill worker): the voice is scheduled; free it when it is due.
  void AddChannel(TMusicChannel& voice);
  // Takes over the voices of a channel that is going away: each is freed once it is due, without its
  // channel. Voices never scheduled are freed when the killer ends.
  void AdoptVoices(TChannelMusic& channel);
  // Voices scheduled and not yet freed, and voices held without a channel.
  int WaitingCount();
  int AdoptedCount();

protected:
  void Step() override;
  void HandleEvent(int number, TObj* data) override;
  void OnStop() override;
  void Dispose() override;

private:
  // Frees the due voices, last first. Under lock_.
  void ReleaseDue(int64_t nowMs);

  // Held while a voice is handed to its channel, so that a channel cannot go away meanwhile; recursive,
  // because an end handler may free another channel.
  std::recursive_mutex lock_;
  std::vector<TMusicChannel*> waiting_;        // guarded by lock_; owned by their channels or by orphans_
  std::vector<TOwned<TMusicChannel>> orphans_; // guarded by lock_; voices whose channel went away
};

} // namespace kiv

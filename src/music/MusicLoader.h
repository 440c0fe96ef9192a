#pragma once
// Opening the show's sound in the background. A play item describes the channels it needs as TKivChannel
// objects; they travel from the music player to the loader thread inside counted containers, are opened
// there (files and decoders are never opened on the player's thread) and travel back once tried, opened or
// not, so that an unreadable file never keeps the show waiting. The start list gathers the channels due
// in one player step so that they all begin in the same instant.

#include "ObjectBase.h"
#include "WorkerThread.h"

#include <atomic>
#include <string>
#include <vector>

namespace kiv {

class TChannelMusic;
class TChannelOperator;
class TFileAccessor;
class TMusicPlayer;

// Event numbers: the loader's queue takes 1 and 3, the player's queue takes 2.
enum TMusicLoaderEvent : int {
  kLoadChannelEvent = 1,
  kChannelLoadedEvent = 2,
  kReleaseChannelEvent = 3,
};

// Every channel starts and stops with this fade.
inline constexpr int kChannelFadeMs = 10;

class TKivChannel : public TRefObj {
public:
  // start and end: ms on the owner's time line; filePosition: ms into the file.
  TKivChannel(TChannelOperator& startList, int owner, std::string fileName, int filePosition, double start,
              double end);

  // Player thread. Ready and not started: started, and into the start list.
  void Start();
  // Player thread. Started: out of the start list, or, when it already plays, stopped with a fade.
  void Stop();
  // The owner no longer wants it: the loader skips it.
  void Abandon() noexcept { owner_.store(-1, std::memory_order_release); }

  int Owner() const noexcept { return owner_.load(std::memory_order_acquire); }
  bool Ready() const noexcept { return ready_; }
  void SetReady() noexcept { ready_ = true; }
  bool Started() const noexcept { return started_; }
  bool Stopped() const noexcept { return stopped_; }
  void SetStopped(bool stopped) noexcept { stopped_ = stopped; }
  const std::string& FileName() const noexcept { return fileName_; }
  int FilePosition() const noexcept { return filePosition_; }
  double StartTime() const noexcept { return start_; }
  double EndTime() const noexcept { return end_; }
  // nullptr until loaded, and when the file could not be opened.
  TChannelMusic* Audio() const noexcept { return audio_; }

  // Loader thread, before the channel goes back to the player.
  void SetLoaded(TChannelMusic* audio, double end) noexcept;

protected:
  void Dispose() override;

private:
  TChannelOperator& startList_;
  const std::string fileName_; // UTF-8, or a composite text
  const int filePosition_;
  const double start_;
  double end_;                     // lowered by the loader to where the file really ends, then read-only
  TChannelMusic* audio_ = nullptr; // owned; set by the loader before the channel goes back to the player
  std::atomic<int> owner_;         // the owning play item's number, -1 when abandoned (read by the loader)
  bool ready_ = false;             // player thread
  bool started_ = false;           // player thread
  bool stopped_ = true;            // player thread
};

// The payload of the loader's and player's channel events: one counted reference.
class TChannelContainer : public TObj {
public:
  explicit TChannelContainer(TRef<TKivChannel> channel) : channel_(std::move(channel)) {}
  const TRef<TKivChannel>& Channel() const noexcept { return channel_; }

private:
  TRef<TKivChannel> channel_;
};

// The channels to start at the end of the current player step. Player thread only.
class TChannelOperator : public TObj {
public:
  void Add(TKivChannel& channel);
  // False when the channel was not in the list.
  bool Remove(TKivChannel& channel);
  // Plays every listed channel with a fade-in and empties the list; showTime goes to the log.
  void StartAll(double showTime);
  int Count() const noexcept { return static_cast<int>(channels_.size()); }
  void Clear() { channels_.clear(); }

private:
  std::vector<TRef<TKivChannel>> channels_;
};

class TMusicLoader : public TKivThread {
public:
  // Loaded channels go back to playerQueue as event 2. Without an audio player nothing is opened, but
  // every channel still goes back. Names starting with "LoadFromDisk:" are read from the disk, any other
  // from the show through the accessor.
  TMusicLoader(TWorkerHost& host, TThreadEventList& playerQueue, TMusicPlayer* audio, TFileAccessor* accessor);

  // Any thread.
  void Load(TRef<TKivChannel> channel);
  void Release(TRef<TKivChannel> channel);

  static constexpr int64_t kPeriodMs = 10;

protected:
  void HandleEvent(int number, TObj* data) override;
  void Step() override { Events().Process(); }

private:
  TThreadEventList& playerQueue_;
  TMusicPlayer* const audio_;      // not owned; outlives the loader
  TFileAccessor* const accessor_;  // not owned; outlives the loader
};

} // namespace kiv

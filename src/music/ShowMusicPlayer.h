#pragma once
// TKivMusicPlayer: the show's clock and the thread that keeps its music in step. The engine reads the show
// time from it, pauses and resumes it, positions it when the user jumps, and asks whether the music due
// in the next five seconds is loaded. Every 5 ms the player fills a five-second window ahead of the show
// time with play items (main music, slide comments, slides' own music), lets them start and stop their
// channels, and starts every channel due in that step in the same instant.
//
// Threads: the engine calls SetPlaying, SetTime, SetEndLimit, GetShowTime, IsReady and the volume; the
// player's own worker runs the step and every play item; the loader worker opens files and decoders.

#include "ConverterFactory.h"
#include "MusicLoader.h"
#include "MusicPlayer.h"
#include "PlayItems.h"
#include "ShowMusic.h"
#include "ShowMusicSource.h"
#include "WaveOutDevice.h"
#include "WorkerThread.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <vector>

namespace kiv {

// Payload of event 12: a new show time and a new end limit; negative = unchanged.
class TTimeData : public TObj {
public:
  TTimeData(double newTime, double newEndLimit) : time(newTime), endLimit(newEndLimit) {}
  double time;
  double endLimit;
};

enum TMusicPlayerEvent : int {
  kSetRunningEvent = 10,
  kSetPausedEvent = 11,
  kSetTimeEvent = 12,
};

class TKivMusicPlayer : public TShowMusic {
public:
  // The source must be given ("No KivSource for KivMusicPlayer"); the player frees it when it owns it.
  // Without a device (the factory makes none, or none that is ready) there is no audio player: the clock
  // is the host's, and no channel is ever opened. Made paused at show time 0.
  TKivMusicPlayer(TWorkerHost& host, TKivSource* source, bool ownsSource, const TWaveOutDeviceFactory& devices,
                  TConverterFactory converters = {});
  ~TKivMusicPlayer() override;

  // Starts the loader, then the player.
  bool Start() override;
  // Stops the loader and the player, frees every play item, then the audio player.
  void Stop() override;

  // Engine side ---------------------------------------------------------------------------------------
  void SetPlaying(bool playing) override;
  // A time of 0 or more restarts the player there, paused; an end limit of 0 or more replaces the end
  // limit. Returns once the player has handled it.
  void SetTime(double endLimit, double time) override;
  double GetShowTime() override;
  // False after SetTime until every play item has its channels loaded (opened or not); always true while
  // running.
  bool IsReady() override { return ready_.load(std::memory_order_acquire); }
  float GetVolume() override;
  void SetVolume(float volume) override;
  // The last end limit given to SetTime (-1 before any).
  double LastEndLimit() const override { return lastEndLimitSent_; }

  // Player thread (play items) ------------------------------------------------------------------------
  // The audio clock, or the host's clock without an audio player.
  double MusicClock();
  bool SyncMode() const noexcept { return music_->SyncMode(); }
  TMusicLoader& Loader() noexcept { return *loader_; }
  TChannelOperator& StartList() noexcept { return startList_; }
  int NextItemNumber();
  void AddItem(TPlayItem& item);
  void RemoveItem(TPlayItem& item);
  TPlaySequence* CurrentSequence() const noexcept { return currentSequence_; }
  void SetCurrentSequence(TPlaySequence* sequence) noexcept { currentSequence_ = sequence; }
  TPlayComment* CurrentComment() const noexcept { return currentComment_; }
  void SetCurrentComment(TPlayComment* comment) noexcept { currentComment_ = comment; }

  // For tests and the export: the play items alive now, and the audio player (nullptr without a device).
  const std::vector<TPlayItem*>& Items() const noexcept { return items_; }
  TMusicPlayerClass* Audio() const noexcept { return audio_.get(); }
  const TKivMusicSource& Music() const noexcept { return *music_; }

  static constexpr int64_t kPeriodMs = 5;
  static constexpr double kWindowMs = 5000;
  static constexpr double kUnchanged = kKeepTime;

protected:
  void HandleEvent(int number, TObj* data) override;
  void Step() override;
  void Dispose() override;

private:
  void Restart(double time);
  void SetRunning(bool running);
  void Schedule(bool first, double from, double to);
  // The play position (slide index + passes × slide count) of the slide shown at time; -1 without slides.
  int64_t SlidePositionAt(double time) const;
  void FreeItems(bool all);

  TKivSource* source_;                         // read-only after construction
  const bool ownsSource_;
  std::unique_ptr<TKivMusicSource> music_;     // read-only after construction
  TOwned<TMusicPlayerClass> audio_;            // made at construction; freed by Stop
  TOwned<TMusicLoader> loader_;                // made at construction
  TChannelOperator startList_;                 // player thread
  std::vector<TPlayItem*> items_;              // player thread; owned (freed once stopped)
  TPlaySequence* currentSequence_ = nullptr;   // player thread
  TPlayComment* currentComment_ = nullptr;     // player thread
  int64_t currentSlide_ = 0;                   // player thread
  int itemCounter_ = 0;                        // player thread
  bool requestedPlaying_ = false;              // engine thread
  double lastEndLimitSent_ = -1;               // engine thread
  double windowEnd_ = 0;                       // player thread
  std::atomic<bool> ready_{false};             // written by the player thread and SetTime
  bool stopped_ = false;                       // the owner's thread

  std::mutex lock_;
  bool running_ = false;        // guarded by lock_; written by the player thread
  double timeBase_ = 0;         // guarded by lock_: clock at show time 0 while running, else the show time
  double endLimit_ = kNoEndLimit; // guarded by lock_; written by the player thread
};

// The factory of the show's music on the player's sound devices: one music player per opened show.
TShowMusicFactory MusicPlayerFactory(TWaveOutDeviceFactory devices, TConverterFactory converters = {});

} // namespace kiv

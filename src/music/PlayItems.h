#pragma once
// What the music player schedules inside its five-second window: the main music or a slide's own music as
// a play sequence, and a slide's sound comment. Each item asks the loader for its channels ahead of time
// and starts them when the show time reaches them. Items live on the player's thread only.

#include "MusicLoader.h"
#include "ObjectBase.h"
#include "PlayList.h"

#include <string>
#include <vector>

namespace kiv {

class TKivMusicPlayer;

class TPlayItem : public TObj {
public:
  // Joins the player's item list; leaves it when destroyed.
  explicit TPlayItem(TKivMusicPlayer& player);
  ~TPlayItem() override;

  int Number() const noexcept { return number_; }
  bool Ready() const noexcept { return ready_; }
  bool Stopped() const noexcept { return stopped_; }

  virtual void Stop(bool force);
  virtual void OnChannelReady(TKivChannel& channel) = 0;
  virtual void Update(bool running, double showTime) = 0;

protected:
  // Stops a started channel with a fade, abandons any other, and hands it back to the loader to free.
  void StopAndRelease(const TRef<TKivChannel>& channel, const char* label);

  TKivMusicPlayer& player_;
  const int number_;
  bool ready_ = false;
  bool stopped_ = false;
};

// A slide's sound comment: one channel on the show's time line.
class TPlayComment : public TPlayItem {
public:
  // start, end: show time; filePosition: ms into the file.
  TPlayComment(TKivMusicPlayer& player, const std::u16string& fileName, double start, double end,
               int filePosition);
  ~TPlayComment() override;

  void Stop(bool force) override;
  void OnChannelReady(TKivChannel& channel) override;
  void Update(bool running, double showTime) override;

  const TRef<TKivChannel>& Channel() const noexcept { return channel_; }

private:
  void MakeChannel(std::string fileName, double start, double end, int filePosition);

  TRef<TKivChannel> channel_;
  bool stopOnPause_ = true;
};

// A play list placed on the show's time line: synchronised with the show time, or, outside sync mode,
// free-running on the clock from its own start (only forced stops end it).
class TPlaySequence : public TPlayItem {
public:
  // start: show time at which the sequence begins; position: where in the list it begins.
  TPlaySequence(TKivMusicPlayer& player, TRef<TPlayList> list, double start, double position);
  ~TPlaySequence() override;

  void Stop(bool force) override;
  void OnChannelReady(TKivChannel& channel) override;
  void Update(bool running, double showTime) override;

  bool Started() const noexcept { return started_; }
  bool FreeRunning() const noexcept { return freeRunning_; }
  double StartTime() const noexcept { return start_; }
  int ChannelCount() const noexcept { return static_cast<int>(channels_.size()); }

  // How far ahead of the list position items are opened.
  static constexpr double kPreloadMs = 5000;

private:
  // Opens the items due within the preload span of x and, once started, starts and ends channels at x.
  void StepTo(double x);
  void UpdateReady();

  std::vector<TRef<TKivChannel>> channels_;
  const TRef<TPlayList> list_;
  int64_t nextIndex_ = 0;
  bool started_ = false;
  const bool freeRunning_;
  double clockAtStart_ = 0;
  const double start_;
  const double positionAtStart_;
};

} // namespace kiv

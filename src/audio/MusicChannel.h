#pragma once
// Sound channels: one file (or composite text) that plays, stops, seeks and ends through voices of its
// own. Starting, stopping and seeking never cut the sound: a stopping voice fades out while the next one
// fades in, and the player's channel killer frees a voice once what it queued has played.
//
// Threads: the caller (the music player and loader) runs the operations under the channel's lock; the
// voices' refill workers decode; the killer reports finished voices through VoiceFinished, which runs the
// end handler with the channel's lock held.

#include "MediaRecord.h"
#include "ObjectBase.h"

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace kiv {

class TMusicPlayer;
class TMusicPlayerClass;
class TMusicChannel;
class TChannelKiller;

class TChannel : public TObj {
public:
  // Runs on the killer's worker with the channel's lock held, once for every voice that played to the end
  // of its data, after its sound has played. It may use the channel, but must not free it.
  using TEndHandler = std::function<void(TChannel& channel)>;

  virtual TMusicPlayer* GetPlayer() = 0;
  virtual std::string GetFileName() = 0;
  // The channel's own volume (1.0 at creation).
  virtual float GetVolume() = 0;
  virtual void SetVolume(float volume) = 0;
  // ms, from the description.
  virtual int GetDuration() = 0;
  virtual int GetPosition() = 0;
  virtual void SetPosition(int ms) = 0;
  virtual float GetMasterVolume() { return masterFactor_.load(std::memory_order_acquire); }
  // Stores the factor, then applies the channel's volume again.
  virtual void SetMasterVolume(float factor);
  virtual bool Play(int fadeInMs) = 0;
  virtual bool Stop(int fadeOutMs) = 0;
  virtual bool IsPlaying() = 0;
  virtual void SetOnEnd(TEndHandler handler) = 0;

protected:
  std::atomic<float> masterFactor_{1.0f}; // written by SetMasterVolume (the player's lock held)
};

class TCustomChannel : public TChannel {
public:
  TMusicPlayer* GetPlayer() override;
  std::string GetFileName() override { return fileName_; }
  int GetDuration() override { return static_cast<int>(info_.duration); }
  void SetOnEnd(TEndHandler handler) override;
  const TMediaInfo& Info() const noexcept { return info_; }

protected:
  TCustomChannel(TMusicPlayerClass& player, std::string fileName);

  std::recursive_mutex lock_;  // every operation; recursive, so that an end handler may use the channel
  TMusicPlayerClass* player_;  // guarded by lock_; cleared when the player goes first
  const std::string fileName_; // UTF-8, or a composite text
  TMediaInfo info_;            // set by the constructor, then read-only
  TEndHandler onEnd_;          // guarded by lock_
};

class TChannelMusic final : public TCustomChannel {
public:
  float GetVolume() override;
  void SetVolume(float volume) override;
  int GetPosition() override;
  void SetPosition(int ms) override;
  bool Play(int fadeInMs) override;
  bool Stop(int fadeOutMs) override;
  bool IsPlaying() override;

  // Voices alive: the current one and those still fading or draining.
  int VoiceCount();
  // For tests: the current voice (the last one made), or nullptr.
  TMusicChannel* CurrentVoice();

  // The killer: the voice's sound has played; it is freed here.
  void VoiceFinished(TMusicChannel& voice);

protected:
  // Stops every voice that sounds with a 10 ms fade and hands it to the killer, frees idle voices at once,
  // and leaves the player's list. It never waits for the killer: on the virtual host the killer steps on
  // this very thread, and an end handler may free a channel from the killer's own thread.
  void Dispose() override;

private:
  friend class TMusicPlayerClass;
  friend class TChannelKiller;

  // Made by TMusicPlayerClass::CreateChannel: describes the file and makes the first voice.
  TChannelMusic(TMusicPlayerClass& player, std::string fileName);
  bool Created() const noexcept { return created_; }
  // A new idle voice at the end of the list; false when none can be opened.
  bool AddVoice();
  TMusicChannel* Current();
  // The killer takes every voice over (the channel is going away).
  std::vector<TOwned<TMusicChannel>> TakeVoices();
  // The player goes first: no more voices can be made.
  void DetachPlayer();

  std::vector<TOwned<TMusicChannel>> voices_; // guarded by lock_; the last is the current voice
  int savedPosition_ = 0;                     // guarded by lock_; ms
  float volume_ = 1.0f;                       // guarded by lock_
  bool created_ = false;                      // set by the constructor
  bool closing_ = false;                      // guarded by lock_: Dispose has begun, no end handler runs
};

} // namespace kiv

#pragma once
// What the engine asks of the show's music: its clock (show time in ms), pausing and running it, moving it
// when the user jumps, a stop point it never runs past, whether the sound due next is loaded, and the
// master volume. The engine makes one per opened show through a factory of the player, starts its worker,
// and stops and frees it when the show goes. The show's music player implements it, with or without music
// to play; the engine tests steer a stand-in of their own.

#include "WorkerThread.h"

#include <functional>
#include <string>

namespace kiv {

class TKivSource;

class TShowMusic : public TKivThread {
public:
  // A time argument that leaves the time alone.
  static constexpr double kKeepTime = -2147483647;
  // The end limit of a player that was never told one.
  static constexpr double kNoEndLimit = 2147483647;

  using TKivThread::TKivThread;

  // Engine thread. Runs (true) or freezes (false) the clock; the show time goes on from where it stood.
  virtual void SetPlaying(bool playing) = 0;
  // Engine thread. A time of 0 or more restarts the music there, paused, and clears the ready flag until
  // the sound due from there is loaded; an end limit of 0 or more becomes the stop point. Returns once the
  // player has taken both.
  virtual void SetTime(double endLimit, double time) = 0;
  void SetEndLimit(double limit) { SetTime(limit, kKeepTime); }
  // Any thread. The show time in ms: moving while playing, frozen while paused, never past the stop point.
  virtual double GetShowTime() = 0;
  // Any thread. The sound due next is loaded (always true while playing).
  virtual bool IsReady() = 0;
  // The stop point last handed over by SetTime.
  virtual double LastEndLimit() const = 0;
  // Master volume, 1.0 full; 0 when nothing sounds.
  virtual float GetVolume() = 0;
  virtual void SetVolume(float volume) = 0;
};

// Makes the music of an opened show on the player's host. The source outlives the music.
using TShowMusicFactory = std::function<TOwned<TShowMusic>(TWorkerHost& host, TKivSource& source)>;

} // namespace kiv

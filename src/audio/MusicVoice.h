#pragma once
// A voice: one decoding pass of a channel's file from a position. It owns a converter and an output
// buffer; the buffer's refill worker calls it back to fill, and it applies its fade gain frame by frame
// while it copies. A voice is started once; a stop fades it out and hands it to the channel killer, which
// frees it after the queued sound has played. A channel seeking or starting again makes a new voice.

#include "MediaRecord.h"
#include "SoundFileSource.h"
#include "WaveOutDevice.h"

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace kiv {

class TChannelMusic;
class TMusicPlayerClass;

class TMusicChannel final : public TObj {
public:
  enum TState : int { kIdle = 0, kPlaying = 1, kStopping = 2 };

  // The description is the channel's; player outlives the voice.
  TMusicChannel(TChannelMusic& owner, TMusicPlayerClass& player, const TMediaInfo& info);
  ~TMusicChannel() override;

  // Opens the stream and converter and makes the output buffer in the converter's output format. False
  // when any of them cannot be had; the voice is then not usable.
  bool Open(const std::string& fileName);
  bool Ready() const noexcept { return ready_; }

  // The calls below come from the owner channel under its lock.
  // Seeks and decodes the first three quarters of a buffer ahead. Only while idle.
  void Prepare(int ms);
  // Starts playing with a fade-in of at least one frame.
  void Start(int fadeInMs);
  // Fades out (from the gain reached) over at least one frame, beginning with the sound that is queued
  // but not yet about to play.
  void FadeStop(int fadeOutMs);
  // The ms of the file now playing: played time plus where the voice was prepared.
  int GetPosition();
  void SetVolume(float volume);
  TState State() const noexcept { return state_.load(std::memory_order_acquire); }

  TChannelMusic& Owner() const noexcept { return owner_; }
  // The data ran out; the voice is scheduled for release.
  bool ReachedEnd();
  // Scheduled, and the delay has passed (any thread; the killer asks).
  bool IsDue(int64_t nowMs);
  // The release delay in ms, -1 until scheduled.
  int64_t ReleaseDelay();
  const TWaveFormat& OutputFormat() const noexcept { return format_; }
  TWaveOutBuffer* Buffer() const noexcept { return buffer_.get(); }

private:
  // The buffer's refill worker, under the buffer's refill lock.
  void OnFirstFill(uint8_t* data, uint32_t bytes);
  void OnRewrite(uint8_t* data, uint32_t bytes);
  void OnRefill(uint8_t* data, uint32_t bytes);
  // Copies with the fade gain; under stateLock_. Decoded sound takes both factors and moves the fade-in on;
  // sound rewritten in place takes the fade-out alone.
  void ApplyGain(uint8_t* destination, const uint8_t* source, uint32_t bytes, bool rewritten = false);
  // Hands the voice to the killer once the queued sound and `extraBytes` more have played; under
  // stateLock_.
  void ScheduleRelease(uint32_t extraBytes);

  TChannelMusic& owner_;
  TMusicPlayerClass& player_;
  TMediaInfo info_;                      // the channel's description; set at construction
  TOpenedSoundFile file_;                // a file's stream and converter
  TOwned<TWavConverter> namedConverter_; // or the converter of a name that is no file
  TWavConverter* converter_ = nullptr;   // whichever of the two; the caller's thread until Start, then the
                                         // refill worker's
  TWaveFormat format_;                   // the buffer's, set by Open
  uint32_t frameSize_ = 0;               // set by Open
  bool ready_ = false;                   // set by Open
  std::atomic<TState> state_{kIdle};     // written under the owner channel's lock
  int startOffset_ = 0;                  // ms; under the owner channel's lock

  std::mutex stateLock_;         // the fade and release state against the refill worker and the killer
  std::vector<uint8_t> prefill_; // guarded by stateLock_; decoded by Prepare, consumed by the first fill
  bool hasPrefill_ = false;      // guarded by stateLock_
  // The gain is the fade-in factor times the fade-out factor. Sound rewritten in place already carries the
  // fade-in, so the rewrite applies only the fade-out: the level falls from wherever the fade-in had got to.
  double gainIn_ = 0;           // guarded by stateLock_; of the next frame decoded
  double gainOut_ = 1;          // guarded by stateLock_; of the next frame written or rewritten
  int64_t fadeInFrame_ = 0;     // guarded by stateLock_
  int64_t fadeOutFrame_ = 0;    // guarded by stateLock_
  double fadeOutOrigin_ = 1;    // guarded by stateLock_: the fade-out factor its current length starts from
  int64_t fadeInLength_ = 1;    // guarded by stateLock_; frames
  int64_t fadeOutLength_ = 1;   // guarded by stateLock_; frames
  bool fadeIn_ = false;         // guarded by stateLock_
  bool fadeOut_ = false;        // guarded by stateLock_
  bool fadeOutPending_ = false; // guarded by stateLock_: FadeStop asked, the rewrite has not begun it yet
  int64_t releaseDelay_ = -1;   // guarded by stateLock_; ms
  int64_t scheduledAt_ = 0;     // guarded by stateLock_; ms of the host clock
  bool scheduled_ = false;      // guarded by stateLock_
  bool reschedule_ = false;     // guarded by stateLock_
  bool endOfData_ = false;      // guarded by stateLock_

  TOwned<TWaveOutBuffer> buffer_; // last: destroyed first, which ends the refill worker
};

} // namespace kiv

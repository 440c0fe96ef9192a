#pragma once
// What the voices and the music player see of the sound output: a device that makes looping output
// buffers, one per voice, each filled ahead by a refill worker of its own through three callbacks, and a
// timer channel that turns the play position of a silent buffer into the show's smooth millisecond clock.

#include "MediaRecord.h"
#include "ObjectBase.h"

#include <cstdint>
#include <functional>

namespace kiv {

class TWaveOutBuffer;

// (buffer, destination, byte count). Runs on the buffer's refill worker under the buffer's refill lock.
using TWaveOutCallback = std::function<void(TWaveOutBuffer& buffer, uint8_t* data, uint32_t bytes)>;

class TWaveOutBuffer : public TObj {
public:
  // Set before Start; read by the refill worker afterwards.
  TWaveOutCallback OnFirstFill; // the first GetInitialFillSize bytes, before playing starts
  TWaveOutCallback OnRewrite;   // sound already queued, in place, after RewriteQueued (once per request;
                                // with no bytes when nothing lies beyond the margin)
  TWaveOutCallback OnRefill;    // the next block behind the queued sound

  // The volume last set; before any, the one the output buffer has (1.0 at 0 dB).
  virtual float GetVolume() = 0;
  // 1.0 is full volume; 0 or less is silence.
  virtual void SetVolume(float volume) = 0;
  // First fill, then playing, then refills every 100 ms or at once after RewriteQueued.
  virtual void Start() = 0;
  // Asks the refill worker to hand the queued sound beyond the next 25 ms to OnRewrite (a fade-out). The
  // worker answers every request once, with a call of no bytes when nothing lies beyond the margin.
  virtual void RewriteQueued() = 0;
  // Three quarters of the buffer, in whole frames.
  virtual uint32_t GetInitialFillSize() = 0;
  // Bytes from the play position to the end of the block being written (going round the buffer; equal
  // positions count as the whole buffer).
  virtual uint32_t GetQueuedBytes() = 0;
  // Milliseconds played since Start.
  virtual double GetPlayedTime() = 0;
};

class TTimerChannel : public TObj {
public:
  // The smooth clock in ms; 0 after Start until the output has begun to play.
  virtual double GetTime() = 0;
  virtual void SetTime(double ms) = 0;
  virtual bool IsStarted() = 0;
  // Resumes at the time saved by Stop (or set by SetTime).
  virtual void Start() = 0;
  virtual void Stop() = 0;
};

class TWaveOutDevice : public TObj {
public:
  virtual bool IsValid() = 0;
  // A buffer of two seconds of the format; nullptr when the format cannot be played or the device is not
  // valid. The device outlives its buffers and timer channels.
  virtual TOwned<TWaveOutBuffer> CreateBuffer(const TWaveFormat& format) = 0;
  // Raises "SoundBuffer = nil" when its silent buffer cannot be made.
  virtual TOwned<TTimerChannel> CreateTimerChannel() = 0;
};

// Makes the sound device of one player; tests install their own.
using TWaveOutDeviceFactory = std::function<TOwned<TWaveOutDevice>()>;

} // namespace kiv

#pragma once
// The software mixer under every sound output: looping sound buffers, each at its own rate and volume,
// summed into one stereo 16-bit stream at the output rate that a backend pulls with Mix.
//
// A buffer is used like a hardware mixer's secondary buffer: Lock a range (one or two regions when it
// wraps), write, Unlock; Play looping; read the play and write cursors. Locked regions are a private copy
// of the range that Unlock puts back, so a writer never touches memory the mixer is reading. The play
// cursor is where mixing has got to ("played" means "mixed so far"); the write cursor runs one mix period
// ahead of it.

#include "MediaRecord.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace kiv {

enum class TSoundResult {
  Ok,
  Lost,    // the buffer was lost; Restore it
  Busy,    // a range of the buffer is locked already
  Invalid, // bad arguments, or the mixer is gone
};
const char* SoundResultText(TSoundResult result);

// The pieces of a locked range; the second is empty unless the range wraps round the buffer's end.
struct TSoundRegions {
  uint8_t* data1 = nullptr;
  uint32_t bytes1 = 0;
  uint8_t* data2 = nullptr;
  uint32_t bytes2 = 0;
};

// Attenuation limits in hundredths of a decibel; the minimum is silence.
inline constexpr int32_t kSoundVolumeMin = -10000;
inline constexpr int32_t kSoundVolumeMax = 0;
// The linear gain of an attenuation: 10^(v / 2000); 0 at the minimum.
double SoundVolumeGain(int32_t hundredthsDb);

class TSoundMixer;

class TSoundBuffer {
public:
  ~TSoundBuffer(); // leaves the mixer
  TSoundBuffer(const TSoundBuffer&) = delete;
  TSoundBuffer& operator=(const TSoundBuffer&) = delete;

  uint32_t Size() const noexcept { return size_; }
  const TWaveFormat& Format() const noexcept { return format_; }

  // bytes at offset, 0 < bytes <= Size(); one range at a time.
  TSoundResult Lock(uint32_t offset, uint32_t bytes, TSoundRegions& regions);
  // Puts back the regions Lock gave (their byte counts may be smaller than locked).
  TSoundResult Unlock(const TSoundRegions& regions);
  TSoundResult Play(bool looping);
  TSoundResult Stop();
  TSoundResult SetCurrentPosition(uint32_t offset);
  // Byte offsets of the play and write cursors; a stopped buffer has both at its position.
  TSoundResult GetCurrentPosition(uint32_t* play, uint32_t* write);
  TSoundResult SetVolume(int32_t hundredthsDb); // clamped to kSoundVolumeMin..kSoundVolumeMax
  TSoundResult GetVolume(int32_t& hundredthsDb);
  TSoundResult Restore();
  bool IsPlaying() const;
  // What a platform does when it takes a buffer away: the buffer stops, and Lock and Play answer Lost
  // until Restore. Tests use it to drive the recovery.
  void MarkLost();

private:
  friend class TSoundMixer;
  TSoundBuffer(std::shared_ptr<TSoundMixer> mixer, const TWaveFormat& format, uint32_t size);
  // Under the mixer's lock.
  void MixInto(int32_t* sum, int frames);
  void Skip(int frames);
  void WrapPosition();
  void ReadFrame(uint32_t frame, double& left, double& right) const;
  uint32_t AheadFrames() const;
  int OutputRate() const;

  const std::shared_ptr<TSoundMixer> mixer_;
  const TWaveFormat format_;
  const uint32_t size_;
  const uint32_t frameCount_;

  // Guarded by the mixer's lock.
  std::vector<uint8_t> ring_;
  // The play position: frame_ + remainder_ / output rate frames. Stepping by whole output frames keeps it
  // exact for every pair of rates.
  uint32_t frame_ = 0;
  uint32_t remainder_ = 0;
  bool playing_ = false;
  bool looping_ = false;
  bool lost_ = false;
  bool locked_ = false;
  uint32_t lockOffset_ = 0;
  uint32_t lockBytes_ = 0;
  int32_t volume_ = kSoundVolumeMax;
  double gain_ = 1.0;

  // The copy of a locked range; belongs to the thread that locked, between Lock and Unlock.
  std::vector<uint8_t> staging_;
};

class TSoundMixer : public std::enable_shared_from_this<TSoundMixer> {
public:
  static constexpr int kDefaultRate = 44100;
  static constexpr int kOutputChannels = 2;

  static std::shared_ptr<TSoundMixer> Create(int outputRate = kDefaultRate);
  ~TSoundMixer();

  // PCM of 8 or 16 bits, 1 to 8 channels, a frame size that holds them, rates 1..384000 Hz.
  static bool CanPlay(const TWaveFormat& format, std::string* whyNot = nullptr);
  // A stopped buffer of the given bytes (whole frames) at position 0, silent content, 0 dB; nullptr when
  // the format cannot be played or the size is no whole number of frames.
  std::unique_ptr<TSoundBuffer> CreateBuffer(const TWaveFormat& format, uint32_t bytes,
                                             std::string* whyNot = nullptr);

  // The output side, from one thread at a time: mixes the next frames into out (interleaved stereo) and
  // moves every playing buffer on.
  void Mix(int16_t* out, int frames);
  // How many output frames one Mix call takes at most: the write cursors run that far ahead. Set by the
  // backend when it opens.
  void SetPeriodFrames(int frames);
  int PeriodFrames() const;
  int OutputRate() const noexcept { return outputRate_; }
  int64_t FramesMixed() const;
  int BufferCount() const;

private:
  friend class TSoundBuffer;
  explicit TSoundMixer(int outputRate);

  const int outputRate_;
  mutable std::mutex lock_;            // guards everything below and every buffer's mixing state
  std::vector<TSoundBuffer*> buffers_; // guarded by lock_
  std::vector<int32_t> sum_;           // guarded by lock_
  int periodFrames_ = 441;             // guarded by lock_
  int64_t framesMixed_ = 0;            // guarded by lock_
};

} // namespace kiv

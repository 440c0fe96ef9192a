#pragma once
// Converts blocks of PCM to another rate, channel count and width by three-point quadratic interpolation.
// Reads 8, 16, 24 and 32-bit integer and 32-bit float samples, mono, stereo or 16-bit 5.1; writes 8- or
// 16-bit mono or stereo. The phase and the last two input frames carry from one block to the next, so a
// stream resampled in pieces of any size is the same as one resampled whole.

#include "MediaRecord.h"

#include <cstdint>

namespace kiv {

class TPcmResampler {
public:
  // Formats the resampler reads and writes; anything else is refused.
  static bool CanRead(const TWaveFormat& format);
  static bool CanWrite(const TWaveFormat& format);

  // Each starts afresh (Reset) when the format differs from the one set.
  void SetSource(const TWaveFormat& format);
  void SetTarget(const TWaveFormat& format);
  const TWaveFormat& Source() const noexcept { return source_; }
  const TWaveFormat& Target() const noexcept { return target_; }
  // Both sides set and usable; otherwise blocks produce nothing.
  bool IsReady() const noexcept { return ready_; }

  // Bytes that Resample writes for a block of this many input bytes (whole frames of it are read).
  int64_t OutputSize(int64_t inputBytes) const;
  // Resamples the whole frames of the block into out, which has room for OutputSize(inputBytes) bytes.
  // Returns the bytes written; the input frames consumed are inputBytes rounded down to whole frames.
  int64_t Resample(const uint8_t* input, int64_t inputBytes, uint8_t* out);

  // Forgets the carried frames and phase, as after a jump in the stream.
  void Reset() noexcept;

private:
  template <class TReader> int64_t Run(const uint8_t* input, int64_t frames, uint8_t* out);
  void Update() noexcept;

  TWaveFormat source_;
  TWaveFormat target_;
  bool ready_ = false;
  // The last two working values of each side, oldest first: first side, then second side.
  int32_t first0_ = 0, first1_ = 0, second0_ = 0, second1_ = 0;
  // Source position of the next output frame relative to the next block's start, in 1/target-rate units
  // of a source frame: kept exact, so lengths never drift and any split of a stream gives the same bytes.
  int64_t phase_ = 0;
};

} // namespace kiv

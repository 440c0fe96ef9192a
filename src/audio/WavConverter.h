#pragma once
// Turns one described sound file into PCM for a voice. The base class reads plain and float wave data;
// the derived converters decode MS ADPCM, MPEG audio, Ogg Vorbis and what the video decoder library reads.
// Each has an input buffer (raw bytes from the stream), an output buffer (PCM for the voice) and, when a
// target format is set, a resampler to it. A converter is used by one thread at a time (its voice's refill
// thread, or whoever opens or seeks it), so its fields need no lock; stream reads go through the helper's.

#include "MediaRecord.h"
#include "ObjectBase.h"
#include "PcmResampler.h"
#include "SampleBuffer.h"

#include <cstdint>
#include <functional>
#include <memory>

namespace kiv {

class TWavConverter : public TObj {
public:
  // The stream stays the caller's (the voice opens and closes it); it must outlive the converter.
  explicit TWavConverter(TStream* stream);
  ~TWavConverter() override;

  // Empties both buffers and positions the stream at the data of time ms.
  virtual void Seek(double ms);
  // Moves the decoded bytes of input behind the output, resampling them when a target is set.
  virtual bool Convert(TLocalBuffer& input);
  // Reads the next chunk of raw data into the input buffer; false at the end of the data.
  virtual bool ReadInput();
  // Takes the description; false (the converter unusable) when its format cannot be played.
  virtual bool Open(const TMediaInfo& info);
  // Makes the output hold at least n bytes. At the end of the data the rest is silence, and the answer
  // says whether any sound came before it; after a decoder error it is false.
  virtual bool Fill(int64_t n);
  // The short name of the decoder behind this converter: wav, adpcm, mpeg, ogg or ffmpeg.
  virtual const char* KindName() const { return "wav"; }

  // Makes the resampler if absent and converts everything from now on to this format.
  void SetTarget(const TWaveFormat& format);

  // Decodes from the current position to the end, handing the sound (no padding) to sink piece by piece.
  // False when a decoder error ended it early.
  bool DecodeToEnd(const std::function<void(const uint8_t* data, int64_t bytes)>& sink);

  TLocalBuffer& Output() noexcept { return output_; }
  const TMediaInfo& Info() const noexcept { return info_; }
  double CurrentTime() const noexcept { return currentTime_; }
  // Silence bytes at the end of the output that Fill put behind the last sound of the data.
  int64_t PaddingBytes() const noexcept { return padding_ < output_.Length() ? padding_ : output_.Length(); }
  // A decoder error has ended the data.
  bool Failed() const noexcept { return failed_; }
  bool HasResampler() const noexcept { return resampler_ != nullptr; }

protected:
  // Bytes per read for this description; whole frames (or blocks) of it.
  virtual int64_t ChunkFor(const TMediaInfo& info) const;
  // Adds what a decoder produced: resampled or moved behind the output, advancing the time.
  bool AddDecoded(TLocalBuffer& decoded) { return TWavConverter::Convert(decoded); }
  // The silence byte of the output format.
  uint8_t SilenceByte() const noexcept { return output_.format.bitsPerSample == 8 ? 128 : 0; }
  void PadTo(int64_t n);
  int64_t DataEnd() const noexcept { return int64_t(info_.dataOffset) + info_.dataSize; }

  TMediaInfo info_;                        // the description, copied by Open
  TStream* stream_;                        // not owned
  TLocalBuffer input_;                     // raw bytes read from the stream
  TLocalBuffer output_;                    // PCM for the voice
  int64_t chunkSize_ = 4096;               // bytes per read
  double currentTime_ = 0;                 // ms of the next byte put into the output
  std::unique_ptr<TPcmResampler> resampler_; // absent until a target is set
  TWaveFormat target_;
  int64_t padding_ = 0;                    // silence put behind the last sound
  bool failed_ = false;                    // a decoder error ended the data
};

} // namespace kiv

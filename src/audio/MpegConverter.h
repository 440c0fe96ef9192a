#pragma once
// MPEG audio (layers I to III) through libmpg123, fed the raw frames as they are read. Garbage between
// frames is cut out before the decoder sees it. Gapless trimming (encoder delay and padding from a LAME
// tag) stays on, as the library has it by default.

#include "WavConverter.h"

#include <memory>

struct mpg123_handle_struct;

namespace kiv {

class TMpegConverter : public TWavConverter {
public:
  explicit TMpegConverter(TStream* stream);
  ~TMpegConverter() override;

  void Seek(double ms) override;
  bool Convert(TLocalBuffer& input) override;
  bool ReadInput() override;
  bool Open(const TMediaInfo& info) override;
  const char* KindName() const override { return "mpeg"; }

protected:
  int64_t ChunkFor(const TMediaInfo& info) const override;

private:
  struct TDecoderDeleter {
    void operator()(mpg123_handle_struct* handle) const noexcept;
  };

  // A fresh decoder state; fromStart: it begins at the stream's first frame.
  bool StartDecoder(bool fromStart);
  // Samples by which the trimmed start lies behind the frames (encoder and decoder delay); 0 without a
  // LAME tag. Found once, by a decoder of its own.
  int GaplessDelay();
  // Cuts what lies between frames out of the bytes read from start on.
  void Resynchronise(int64_t start);
  int64_t ReadAt(int64_t position, uint8_t* buffer, int64_t count);
  // Where decoding starts for time ms, and how far (ms) that lies before the place reached.
  int64_t PositionFor(double ms, double& correction);

  TLocalBuffer decoded_; // 16-bit PCM taken from the decoder
  int64_t carry_ = 0;    // bytes of the last frame that lie in the next read
  std::unique_ptr<mpg123_handle_struct, TDecoderDeleter> decoder_;
  int gaplessDelay_ = -1; // GaplessDelay(); -1 until found
  int layer_ = 0;         // of the first frame
  long flags_ = 0;        // the decoder's flags for this stream
};

} // namespace kiv

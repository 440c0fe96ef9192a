#pragma once
// Ogg Vorbis through libvorbisfile, which reads the stream itself through the stream helper. It stands
// where a decoder plug-in library would: no library a show carries is ever loaded.

#include "WavConverter.h"

#include <memory>

namespace kiv {

class TOggConverter : public TWavConverter {
public:
  explicit TOggConverter(TStream* stream);
  ~TOggConverter() override;

  // Describes an Ogg Vorbis stream (type 6, 16-bit PCM at its rate and channels); false when it is none
  // or holds a channel count the converters cannot fold.
  static bool Describe(TStream& stream, TMediaInfo& info);

  void Seek(double ms) override;
  bool Convert(TLocalBuffer& input) override;
  bool ReadInput() override;
  bool Open(const TMediaInfo& info) override;
  const char* KindName() const override { return "ogg"; }

private:
  struct TVorbisFile;

  std::unique_ptr<TVorbisFile> file_;
  TLocalBuffer decoded_; // 16-bit PCM from the decoder
  int link_ = 0;         // the logical stream being decoded
  bool ended_ = false;   // the decoder has delivered its last sample
};

} // namespace kiv

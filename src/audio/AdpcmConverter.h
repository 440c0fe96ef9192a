#pragma once
// MS ADPCM wave files, decoded by our own block decoder.

#include "MsAdpcmDecoder.h"
#include "WavConverter.h"

#include <vector>

namespace kiv {

class TAdpcmConverter : public TWavConverter {
public:
  explicit TAdpcmConverter(TStream* stream) : TWavConverter(stream) {}

  bool Open(const TMediaInfo& info) override;
  bool Convert(TLocalBuffer& input) override;
  const char* KindName() const override { return "adpcm"; }

protected:
  int64_t ChunkFor(const TMediaInfo& info) const override;

private:
  TMsAdpcmLayout layout_;
  TLocalBuffer decoded_; // 16-bit PCM of the blocks decoded from the input
};

} // namespace kiv

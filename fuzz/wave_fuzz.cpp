// Describes arbitrary bytes as a RIFF wave file, directly and through the sound file describer, and checks
// that what it accepts is something the converters can play.

#include "SoundFileInfo.h"
#include "WaveInfo.h"

#include <cstdint>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace kiv;
  TMemoryStream stream(std::vector<uint8_t>(data, data + size));
  TMediaInfo info;
  if (TRiffInfo().Parse(stream, info)) {
    if (info.type != TMediaType::Mpeg) {
      // Wave data lies inside the file and comes in a format the converters take.
      if (!IsUsableWaveFormat(info.waveFormat, info.type)) __builtin_trap();
      if (uint64_t(info.dataOffset) + info.dataSize > size) __builtin_trap();
    } else if (info.mpegInRiff != 1 || info.dataOffset > size) {
      __builtin_trap();
    }
  }
  TMemoryStream again(std::vector<uint8_t>(data, data + size));
  TMediaInfo described;
  TMediaInfoExtractor::Extract(again, "sound.wav", described);
  return 0;
}

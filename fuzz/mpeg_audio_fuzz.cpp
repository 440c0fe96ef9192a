// Describes arbitrary bytes as a bare MPEG audio stream. The first byte picks where the search starts and
// whether a RIFF byte rate is given, so that both callers' forms are reached.

#include "MpegAudioInfo.h"
#include "SoundFileInfo.h"

#include <cstdint>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace kiv;
  if (size < 1) return 0;
  const uint8_t mode = data[0];
  std::vector<uint8_t> bytes(data + 1, data + size);
  const int64_t length = static_cast<int64_t>(bytes.size());
  TMemoryStream stream(bytes);
  const int64_t start = (mode & 0x0F) * length / 16;
  const uint32_t bitRateHint = (mode & 0x10) ? 128000u : (mode & 0x20) ? 999u : 0u;
  const int64_t end = (mode & 0x40) ? length - (mode >> 7) * length / 4 : -1;

  TMpegInfo mpeg;
  TMediaInfo info;
  if (mpeg.Parse(stream, start, bitRateHint, info, end)) {
    // The stream found starts with a header the reader accepts, inside the bytes it was given.
    if (mpeg.dataOffset < start || mpeg.dataOffset + 4 > length) __builtin_trap();
    if (!IsValidMpegHeader(bytes.data() + mpeg.dataOffset)) __builtin_trap();
    if (info.type != TMediaType::Mpeg || info.waveFormat.samplesPerSec == 0) __builtin_trap();
    if (uint64_t(info.dataOffset) + info.dataSize > uint64_t(length)) __builtin_trap();
  }
  TMemoryStream again(bytes);
  TMediaInfo described;
  TMediaInfoExtractor::Extract(again, "sound.mp3", described);
  return 0;
}

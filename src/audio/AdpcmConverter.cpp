#include "AdpcmConverter.h"

#include <algorithm>

namespace kiv {

bool TAdpcmConverter::Open(const TMediaInfo& info) {
  if (!ReadMsAdpcmLayout(info.waveFormat, info.formatExtension, layout_)) return false;
  if (!TWavConverter::Open(info)) return false;
  TWaveFormat& pcm = decoded_.format;
  pcm = TWaveFormat();
  pcm.formatTag = 1;
  pcm.channels = static_cast<uint16_t>(layout_.channels);
  pcm.samplesPerSec = info.waveFormat.samplesPerSec;
  pcm.bitsPerSample = 16;
  pcm.blockAlign = static_cast<uint16_t>(layout_.channels * 2);
  pcm.avgBytesPerSec = pcm.blockAlign * pcm.samplesPerSec;
  decoded_.Reserve(int64_t(layout_.samplesPerBlock) * pcm.blockAlign);
  if (!resampler_) output_.format = pcm;
  return true;
}

int64_t TAdpcmConverter::ChunkFor(const TMediaInfo& info) const {
  // Reads hold whole blocks, however large a block is.
  const int64_t block = info.waveFormat.blockAlign;
  return std::max<int64_t>(1, 2048 / block) * block;
}

bool TAdpcmConverter::Convert(TLocalBuffer& input) {
  const int64_t block = layout_.blockAlign;
  // A short block is decoded only once nothing more can follow it.
  const bool atEnd = StreamWrapper().Position(*stream_) >= DataEnd();
  int64_t used = 0;
  bool broken = false;
  while (!broken) {
    const int64_t left = input.Length() - used;
    if (left <= 0 || (left < block && !atEnd)) break;
    const int bytes = static_cast<int>(std::min(left, block));
    const int frames = MsAdpcmFramesIn(layout_, bytes);
    decoded_.Reserve(int64_t(frames) * decoded_.format.blockAlign);
    const int got =
        DecodeMsAdpcmBlock(layout_, input.Data() + used, bytes, reinterpret_cast<int16_t*>(decoded_.End()));
    if (got < 0) broken = true;
    else decoded_.Commit(int64_t(got) * decoded_.format.blockAlign);
    used += bytes;
  }
  input.Consume(used);
  AddDecoded(decoded_);
  return !broken;
}

} // namespace kiv

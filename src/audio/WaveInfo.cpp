#include "WaveInfo.h"

#include "MpegAudioInfo.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace kiv {
namespace {

constexpr uint16_t kTagPcm = 1;
constexpr uint16_t kTagAdpcm = 2;
constexpr uint16_t kTagFloat = 3;
constexpr uint16_t kTagMpegLayer3 = 0x55;
constexpr uint16_t kTagExtensible = 0xFFFE;

uint16_t Le16(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
uint32_t Le32(const uint8_t* p) {
  return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}

bool IsFourCC(const uint8_t* p) {
  for (int i = 0; i < 4; ++i)
    if (p[i] < 0x20 || p[i] > 0x7E) return false;
  return true;
}

struct TChunk {
  char id[4];
  int64_t start = 0; // of the 8-byte header
  uint32_t size = 0;
  int64_t DataStart() const { return start + 8; }
};

class TChunkReader {
public:
  explicit TChunkReader(TStream& stream) : stream_(stream), size_(StreamWrapper().Size(stream)) {}

  int64_t Size() const { return size_; }

  int64_t ReadAt(int64_t position, void* buffer, int64_t count) {
    if (position < 0 || position >= size_) return 0;
    StreamWrapper().Seek(stream_, 0, position);
    return StreamWrapper().Read(stream_, buffer, count);
  }

  bool HeaderAt(int64_t position, TChunk& chunk) {
    uint8_t bytes[8];
    if (ReadAt(position, bytes, 8) != 8) return false;
    std::memcpy(chunk.id, bytes, 4);
    chunk.size = Le32(bytes + 4);
    chunk.start = position;
    return true;
  }

  // The chunk behind this one. Chunks of odd size are followed by a pad byte in files that follow the
  // format, and by nothing in some that do not: take whichever position holds a chunk name.
  bool Next(const TChunk& chunk, TChunk& next) {
    const int64_t exact = chunk.DataStart() + int64_t(chunk.size);
    if (chunk.size & 1) {
      TChunk padded;
      if (HeaderAt(exact + 1, padded) && IsFourCC(reinterpret_cast<const uint8_t*>(padded.id))) {
        next = padded;
        return true;
      }
    }
    return HeaderAt(exact, next);
  }

private:
  TStream& stream_;
  int64_t size_;
};

bool SameId(const TChunk& chunk, const char* id) {
  return std::memcmp(chunk.id, id, 4) == 0;
}

// Subformat GUIDs of WAVE_FORMAT_EXTENSIBLE start with the plain format tag.
uint16_t ExtensibleTag(const uint8_t* fmt, uint32_t fmtSize) {
  static const uint8_t kGuidTail[14] = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                                        0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
  if (fmtSize < 40 || Le16(fmt + 16) < 22) return 0;
  if (std::memcmp(fmt + 26, kGuidTail, 14) != 0) return 0;
  return Le16(fmt + 24);
}

} // namespace

bool IsUsableWaveFormat(const TWaveFormat& f, TMediaType type) {
  if (f.channels == 0 || f.blockAlign == 0 || f.avgBytesPerSec == 0) return false;
  if (f.samplesPerSec < 100 || f.samplesPerSec > 384000) return false;
  if (type == TMediaType::AdpcmWave)
    return f.bitsPerSample == 4 && f.channels <= 2 && f.blockAlign >= 7 * f.channels;
  if (type == TMediaType::FloatWave) {
    if (f.bitsPerSample != 32) return false;
  } else if (f.bitsPerSample != 8 && f.bitsPerSample != 16 && f.bitsPerSample != 24 &&
             f.bitsPerSample != 32) {
    return false;
  }
  // The converters fold mono, stereo and 16-bit 5.1 only.
  if (f.channels != 1 && f.channels != 2 && !(f.channels == 6 && f.bitsPerSample == 16)) return false;
  return f.blockAlign == f.channels * f.bitsPerSample / 8;
}

bool TRiffInfo::Parse(TStream& stream, TMediaInfo& info) {
  try {
    TChunkReader reader(stream);
    uint8_t head[12];
    if (reader.ReadAt(0, head, 12) != 12 || std::memcmp(head, "RIFF", 4) != 0 ||
        std::memcmp(head + 8, "WAVE", 4) != 0)
      return false;

    TChunk chunk;
    if (!reader.HeaderAt(12, chunk)) return false;
    while (!SameId(chunk, "fmt ")) {
      TChunk next;
      if (!reader.Next(chunk, next) || next.start <= chunk.start) return false;
      chunk = next;
    }
    const TChunk fmtChunk = chunk;
    uint8_t fmt[50] = {};
    const int64_t fmtBytes =
        reader.ReadAt(fmtChunk.DataStart(), fmt, std::min<int64_t>(fmtChunk.size, sizeof(fmt)));
    if (fmtBytes < 16) return false;

    uint16_t tag = Le16(fmt);
    if (tag == kTagExtensible) tag = ExtensibleTag(fmt, static_cast<uint32_t>(fmtBytes));

    // The data chunk, wherever it lies behind "fmt ".
    TChunk data;
    bool haveData = false;
    for (TChunk at = fmtChunk, next; reader.Next(at, next) && next.start > at.start; at = next) {
      if (SameId(next, "data")) {
        data = next;
        haveData = true;
        break;
      }
    }

    TWaveFormat format;
    format.formatTag = tag;
    format.channels = Le16(fmt + 2);
    format.samplesPerSec = Le32(fmt + 4);
    format.avgBytesPerSec = Le32(fmt + 8);
    format.blockAlign = Le16(fmt + 12);
    format.bitsPerSample = Le16(fmt + 14);

    if (tag == kTagMpegLayer3) {
      TMpegInfo mpeg;
      // The audio lies in the data chunk; chunks behind it are no audio.
      const int64_t start = haveData ? data.DataStart() : 0;
      const int64_t end = haveData ? data.DataStart() + int64_t(data.size) : -1;
      if (!mpeg.Parse(stream, start, format.avgBytesPerSec * 8u, info, end)) return false;
      info.mpegInRiff = 1;
      return true;
    }

    TMediaType type;
    switch (tag) {
    case kTagPcm:
      type = TMediaType::PcmWave;
      break;
    case kTagAdpcm:
      type = TMediaType::AdpcmWave;
      break;
    case kTagFloat:
      type = TMediaType::FloatWave;
      break;
    default:
      return false;
    }
    if (type == TMediaType::AdpcmWave) {
      if (fmtBytes < 50) return false;
      const uint16_t coefficients = Le16(fmt + 20);
      if (coefficients < 1 || coefficients > 7) return false;
      format.extraSize = 32;
      std::memcpy(info.formatExtension, fmt + 18, 32);
      // Some writers put a wrong average byte rate here; it follows from the block layout.
      const uint16_t samplesPerBlock = Le16(fmt + 18);
      if (samplesPerBlock < 2) return false;
      const double bytesPerSecond =
          std::nearbyint(double(format.samplesPerSec) * format.blockAlign / samplesPerBlock);
      if (bytesPerSecond > UINT32_MAX) return false; // no rate a file could stream
      format.avgBytesPerSec = static_cast<uint32_t>(bytesPerSecond);
    }
    if (!IsUsableWaveFormat(format, type) || !haveData) return false;

    const int64_t dataStart = data.DataStart();
    // Streamed files say 0xFFFFFFFF; truncated ones claim more than they hold.
    const int64_t dataSize =
        std::clamp<int64_t>(int64_t(data.size), 0, std::max<int64_t>(0, reader.Size() - dataStart));
    info.type = type;
    info.waveFormat = format;
    info.dataOffset = static_cast<uint32_t>(std::min<int64_t>(dataStart, UINT32_MAX));
    info.dataSize = static_cast<uint32_t>(std::min<int64_t>(dataSize, UINT32_MAX));
    info.duration =
        static_cast<uint32_t>(std::nearbyint(double(info.dataSize) / format.avgBytesPerSec * 1000.0));
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

} // namespace kiv

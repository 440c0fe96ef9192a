#include "MpegAudioInfo.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

namespace kiv {
namespace {

// kbit/s by [MPEG-1?][layer - 1][index]
constexpr int kBitRates[2][3][16] = {
    {{0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256, 0},
     {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0},
     {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0}},
    {{0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448, 0},
     {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384, 0},
     {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 0}},
};
constexpr int kSampleRates[4][3] = {
    {11025, 12000, 8000}, {0, 0, 0}, {22050, 24000, 16000}, {44100, 48000, 32000}};

uint32_t BigEndian32(const uint8_t* p) {
  return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
}

uint32_t ClampU32(double value) {
  if (!(value > 0)) return 0;
  if (value >= 4294967295.0) return std::numeric_limits<uint32_t>::max();
  return static_cast<uint32_t>(std::nearbyint(value));
}

int64_t ReadAt(TStream& stream, int64_t position, void* buffer, int64_t count) {
  TStreamWrapperClass& helper = StreamWrapper();
  helper.Seek(stream, 0, position);
  return helper.Read(stream, buffer, count);
}

// First position at or after from where a valid header starts; -1 at the end of the stream.
int64_t FindHeader(TStream& stream, int64_t from, int64_t size) {
  constexpr int64_t kBlock = 65536;
  std::vector<uint8_t> block(kBlock + 3);
  for (int64_t position = from; position + 4 <= size; position += kBlock) {
    const int64_t got = ReadAt(stream, position, block.data(), kBlock + 3);
    if (got < 4) return -1;
    for (int64_t i = 0; i + 4 <= got && i < kBlock; ++i)
      if (IsValidMpegHeader(&block[i])) return position + i;
  }
  return -1;
}

} // namespace

int TMpegHeader::BitRate() const {
  if (layer < 1 || layer > 3) return 0;
  return kBitRates[version == TMpegVersion::Mpeg1 ? 1 : 0][layer - 1][bitRateIndex & 15];
}

int TMpegHeader::SampleRate() const {
  if (sampleRateIndex > 2) return 0;
  return kSampleRates[static_cast<int>(version) & 3][sampleRateIndex];
}

int TMpegHeader::SamplesPerFrame() const {
  if (layer == 1) return 384;
  if (layer == 2 || version == TMpegVersion::Mpeg1) return 1152;
  return 576;
}

int TMpegHeader::FrameLength() const {
  const int64_t rate = SampleRate();
  if (rate <= 0) return 0;
  const int64_t bitsPerSecond = int64_t(BitRate()) * 1000;
  // Layer I counts in 4-byte slots: 128 kbit/s at 44.1 kHz is 136 bytes, not 139.
  if (layer == 1) return static_cast<int>((12 * bitsPerSecond / rate + padding) * 4);
  return static_cast<int>(SamplesPerFrame() / 8 * bitsPerSecond / rate + padding);
}

int TMpegHeader::SideInfoEnd() const {
  const bool mono = channelMode == 3;
  if (version == TMpegVersion::Mpeg1) return mono ? 21 : 36;
  return mono ? 13 : 21;
}

bool IsValidMpegHeader(const uint8_t* b) {
  if (b[0] != 0xFF || b[1] < 0xE0) return false;
  if (((b[1] >> 3) & 3) == 1) return false; // reserved version
  if (((b[1] >> 1) & 3) == 0) return false; // reserved layer
  const int bitRateIndex = b[2] >> 4;
  if (bitRateIndex == 0 || bitRateIndex == 15) return false;
  if (((b[2] >> 2) & 3) == 3) return false;
  if ((b[3] & 3) == 2) return false;
  return true;
}

TMpegHeader ParseMpegHeader(const uint8_t* b) {
  TMpegHeader h;
  h.version = static_cast<TMpegVersion>((b[1] >> 3) & 3);
  h.layer = static_cast<uint8_t>(4 - ((b[1] >> 1) & 3));
  h.protection = b[1] & 1;
  h.bitRateIndex = b[2] >> 4;
  h.sampleRateIndex = (b[2] >> 2) & 3;
  h.padding = (b[2] >> 1) & 1;
  h.privateBit = b[2] & 1;
  h.channelMode = b[3] >> 6;
  h.modeExtension = (b[3] >> 4) & 3;
  h.copyright = (b[3] >> 3) & 1;
  h.original = (b[3] >> 2) & 1;
  h.emphasis = b[3] & 3;
  return h;
}

bool FindVbrHeader(const TMpegHeader& header, const uint8_t* frame, int64_t count, TVbrHeader& vbr) {
  vbr = TVbrHeader();
  const int64_t xing = header.SideInfoEnd();
  if (xing + 8 <= count && std::memcmp(frame + xing, "Xing", 4) == 0) {
    const uint32_t flags = BigEndian32(frame + xing + 4);
    int64_t at = xing + 8;
    auto field = [&](uint32_t flag, int64_t width) -> const uint8_t* {
      if (!(flags & flag)) return nullptr;
      const uint8_t* p = at + width <= count ? frame + at : nullptr;
      at += width;
      return p;
    };
    std::memcpy(vbr.tag, "Xing", 4);
    vbr.present = 1;
    if (const uint8_t* p = field(1, 4)) vbr.frames = BigEndian32(p);
    if (const uint8_t* p = field(2, 4)) vbr.bytes = BigEndian32(p);
    field(4, 100);
    if (const uint8_t* p = field(8, 4)) vbr.quality = p[3];
    if (at + 8 <= count) std::memcpy(vbr.encoder, frame + at, 8);
    return true;
  }
  // VBRI always sits 32 bytes behind the header, whatever the side information.
  constexpr int64_t vbri = 36;
  if (vbri + 18 <= count && std::memcmp(frame + vbri, "VBRI", 4) == 0) {
    std::memcpy(vbr.tag, "VBRI", 4);
    vbr.present = 1;
    vbr.quality = frame[vbri + 9];
    vbr.bytes = BigEndian32(frame + vbri + 10);
    vbr.frames = BigEndian32(frame + vbri + 14);
    return true;
  }
  return false;
}

bool TMpegInfo::Parse(TStream& stream, int64_t startOffset, uint32_t bitRateHint, TMediaInfo& info,
                      int64_t dataEnd) {
  try {
    TStreamWrapperClass& helper = StreamWrapper();
    const int64_t streamSize = helper.Size(stream);
    const int64_t size = dataEnd >= 0 ? std::min(dataEnd, streamSize) : streamSize;
    dataOffset = startOffset;
    uint8_t id3[10];
    if (ReadAt(stream, startOffset, id3, 10) == 10 && std::memcmp(id3, "ID3", 3) == 0 && id3[3] != 0xFF &&
        id3[4] != 0xFF && ((id3[6] | id3[7] | id3[8] | id3[9]) & 0x80) == 0) {
      const int64_t tagSize =
          (int64_t(id3[6]) << 21) | (int64_t(id3[7]) << 14) | (int64_t(id3[8]) << 7) | id3[9];
      dataOffset = startOffset + tagSize + 10;
    }
    const int64_t found = FindHeader(stream, dataOffset, size);
    if (found < 0) return false;
    dataOffset = found;
    dataSize = size - dataOffset;

    uint8_t frame[1729] = {};
    const int64_t got = ReadAt(stream, dataOffset, frame, sizeof(frame));
    header = ParseMpegHeader(frame);
    FindVbrHeader(header, frame, got, vbr);

    uint8_t tag[3];
    if (size - 128 >= dataOffset && ReadAt(stream, size - 128, tag, 3) == 3 &&
        std::memcmp(tag, "TAG", 3) == 0)
      dataSize -= 128;

    const int rate = header.SampleRate();
    const int samples = header.SamplesPerFrame();
    const double bytes = static_cast<double>(dataSize);
    // A RIFF hint of 0 would divide by zero: the header's own rate stands in.
    const double kbits = bitRateHint >= 1000 ? bitRateHint / 1000.0 : header.BitRate();
    double duration;
    double streamLength;
    if (vbr.present && vbr.frames > 0) {
      duration = double(vbr.frames) * samples / rate * 1000.0;
      streamLength = duration;
    } else {
      duration = bytes * 8 / kbits;
      streamLength = double(streamSize) * 8 / kbits;
    }

    info.waveFormat = TWaveFormat();
    info.waveFormat.formatTag = 1;
    info.waveFormat.channels = static_cast<uint16_t>(header.Channels());
    info.waveFormat.samplesPerSec = static_cast<uint32_t>(rate);
    info.waveFormat.bitsPerSample = 16;
    info.waveFormat.blockAlign = static_cast<uint16_t>(header.Channels() * 2);
    info.waveFormat.avgBytesPerSec = static_cast<uint32_t>(rate) * info.waveFormat.blockAlign;
    info.type = TMediaType::Mpeg;
    info.dataOffset = static_cast<uint32_t>(std::min<int64_t>(dataOffset, UINT32_MAX));
    info.dataSize = static_cast<uint32_t>(std::clamp<int64_t>(dataSize, 0, UINT32_MAX));
    info.duration = ClampU32(duration);
    info.streamLength = ClampU32(streamLength);
    info.formatExtension[1] = vbr.present;
    info.frameLength = static_cast<uint32_t>(header.FrameLength());

    if (vbr.present) {
      info.frameTime = vbr.frames > 0 ? double(info.duration) / vbr.frames : 26.0;
    } else {
      // The largest of the first three frames: padding makes them differ by one byte.
      int largest = 0;
      int64_t position = dataOffset;
      for (int n = 0; n < 3;) {
        position = FindHeader(stream, position, dataOffset + dataSize);
        if (position < 0) break;
        uint8_t h[4];
        if (ReadAt(stream, position, h, 4) != 4) break;
        const int length = ParseMpegHeader(h).FrameLength();
        largest = std::max(largest, length);
        ++n;
        position += std::max(length, 1);
      }
      if (largest > 0) info.frameLength = static_cast<uint32_t>(largest);
      info.frameTime = dataSize > 0 ? double(info.duration) / double(dataSize) * info.frameLength : 26.0;
    }
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

} // namespace kiv

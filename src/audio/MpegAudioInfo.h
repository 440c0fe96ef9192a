#pragma once
// MPEG audio (layers I to III, MPEG-1, 2 and 2.5): frame headers, VBR headers and the description of a
// bare MPEG stream.

#include "MediaRecord.h"

#include <cstdint>

namespace kiv {

enum class TMpegVersion : uint8_t { Mpeg25 = 0, Reserved = 1, Mpeg2 = 2, Mpeg1 = 3 };

struct TMpegHeader {
  TMpegVersion version = TMpegVersion::Reserved;
  uint8_t layer = 0; // 1, 2 or 3 (not the header's bit pattern)
  uint8_t protection = 0;
  uint8_t bitRateIndex = 0;
  uint8_t sampleRateIndex = 0;
  uint8_t padding = 0;
  uint8_t privateBit = 0;
  uint8_t channelMode = 0; // 3 = mono
  uint8_t modeExtension = 0;
  uint8_t copyright = 0;
  uint8_t original = 0;
  uint8_t emphasis = 0;

  int BitRate() const;    // kbit/s
  int SampleRate() const; // Hz
  int SamplesPerFrame() const;
  int Channels() const { return channelMode == 3 ? 1 : 2; }
  // Bytes of the whole frame, header included.
  int FrameLength() const;
  // Bytes from the header's start to the end of the side information (where a Xing tag sits).
  int SideInfoEnd() const;
};

// Whether 4 bytes start a frame header we can use.
bool IsValidMpegHeader(const uint8_t* bytes);
// Parses a header that IsValidMpegHeader accepted.
TMpegHeader ParseMpegHeader(const uint8_t* bytes);

#pragma pack(push, 1)
struct TVbrHeader {
  uint8_t present = 0;
  char tag[4] = {};
  uint32_t frames = 0;
  uint32_t bytes = 0;
  uint8_t quality = 0;
  char encoder[8] = {}; // Xing only
  uint8_t reserved[6] = {};
};
#pragma pack(pop)
static_assert(sizeof(TVbrHeader) == 28);

// Looks for "Xing" (or "Info"-less Xing) and "VBRI" in the bytes of a frame starting with its header.
bool FindVbrHeader(const TMpegHeader& header, const uint8_t* frame, int64_t count, TVbrHeader& vbr);

class TMpegInfo {
public:
  // Describes the MPEG stream found from startOffset on, up to dataEnd (-1: the stream's end).
  // bitRateHint: bits per second from a RIFF header (0: none, use the frame header's rate).
  // Never raises for bad data.
  bool Parse(TStream& stream, int64_t startOffset, uint32_t bitRateHint, TMediaInfo& info,
             int64_t dataEnd = -1);

  TMpegHeader header;
  TVbrHeader vbr;
  int64_t dataOffset = 0;
  int64_t dataSize = 0;
};

} // namespace kiv

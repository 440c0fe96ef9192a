#pragma once
// Microsoft ADPCM blocks to 16-bit PCM: the layout read from the wave format, and one block at a time.

#include "MediaRecord.h"

#include <cstdint>

namespace kiv {

struct TMsAdpcmLayout {
  int channels = 0;        // 1 or 2
  int blockAlign = 0;      // bytes per block
  int samplesPerBlock = 0; // frames a whole block decodes to
  int coefficientCount = 0;
  int16_t coefficients[7][2] = {};
};

// Reads the layout from the wave format and its 32 extension bytes (samples per block, coefficient count,
// seven coefficient pairs). False when the numbers cannot describe a decodable stream: channels other than
// 1 or 2, a block smaller than its headers (7 bytes per channel), no or more than 7 coefficient pairs.
bool ReadMsAdpcmLayout(const TWaveFormat& format, const uint8_t extension[32], TMsAdpcmLayout& layout);

// Frames that a block of this many bytes decodes to (a short last block holds fewer); 0 below the headers.
int MsAdpcmFramesIn(const TMsAdpcmLayout& layout, int bytes);

// Decodes one block of bytes (at most blockAlign; a short one is the last of the data) into interleaved
// samples, MsAdpcmFramesIn(bytes) frames. Returns the frames written, or -1 when the block's predictor
// index is not below the coefficient count.
int DecodeMsAdpcmBlock(const TMsAdpcmLayout& layout, const uint8_t* block, int bytes, int16_t* out);

} // namespace kiv

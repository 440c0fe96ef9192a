#pragma once
// RIFF wave files: walks the chunks to "fmt " and "data" and fills the media description.

#include "MediaRecord.h"

namespace kiv {

class TRiffInfo {
public:
  // false for anything that is not a wave file this program can play, including formats whose numbers
  // would divide by zero or stall the converters later.
  bool Parse(TStream& stream, TMediaInfo& info);
};

// Whether the converters can work with this format (channels, rate, block align, widths).
bool IsUsableWaveFormat(const TWaveFormat& format, TMediaType type);

} // namespace kiv

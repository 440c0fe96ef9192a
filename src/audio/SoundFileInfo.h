#pragma once
// Describes a sound file: RIFF wave and bare MPEG audio here, anything else through the fallback hook
// that the decoders install (plug-ins, the video decoder library).

#include "MediaRecord.h"

#include <functional>
#include <string>

namespace kiv {

using TMediaInfoHook = std::function<bool(TStream& stream, const std::string& fileName, TMediaInfo& info)>;

class TMediaInfoExtractor {
public:
  // Clears info and fills it; false (and type 0) when the file cannot be described. Never raises.
  static bool Extract(TStream& stream, const std::string& fileName, TMediaInfo& info);
  // The same with this fallback in place of the process-wide one (a player's own decoders).
  static bool Extract(TStream& stream, const std::string& fileName, TMediaInfo& info,
                      const TMediaInfoHook& fallback);

  // Process-wide; set while the program starts, before any extraction.
  static void SetFallback(TMediaInfoHook hook);
  static const TMediaInfoHook& Fallback();
};

// The text after the last "." of the name, with the dot, lower-cased ASCII (".mp3"); "" without one.
std::string MediaExtension(const std::string& fileName);

} // namespace kiv

#pragma once
// The commands of the show tool. Each takes the words after its name and returns the exit code:
// 0 success, 1 usage error, 2 failure (3 where a command says so).

#include <string>
#include <vector>

namespace kivpack {

using TArgs = std::vector<std::string>;

inline constexpr int kExitOk = 0;
inline constexpr int kExitUsage = 1;
inline constexpr int kExitFailure = 2;

struct TCommand {
  const char* name;
  const char* summary; // one line for "kivpack --help"
  const char* help;    // the whole text for "kivpack NAME --help"
  int (*run)(const TArgs& args);
};

// Commands of the description files (kivpackIni.cpp).
extern const TCommand kIniCommand;
// Commands of packed shows (kivpackShow.cpp).
extern const TCommand kShowCommands[];
extern const int kShowCommandCount;
// Media descriptions of sound and video files (kivpackMedia.cpp).
extern const TCommand kMediaCommand;
// Sound files decoded as the player plays them (kivpackDecode.cpp).
extern const TCommand kDecodeCommand;
// Composite music played as the player plays it (kivpackMix.cpp).
extern const TCommand kMixCommand;
// Pictures decoded by the player's own loaders (kivpackThumb.cpp).
extern const TCommand kThumbCommand;
// Stored glyphs and layouts of texts (kivpackGlyphs.cpp).
extern const TCommand kGlyphsCommand;

} // namespace kivpack

#include "SoundCallLog.h"

#include <filesystem>

namespace kiv {

std::string SoundCallText(const char* name, const TCallSite& where) {
  return std::string(name) + " (" + std::filesystem::path(where.file).filename().string() + ":" +
         std::to_string(where.line) + ")";
}

} // namespace kiv

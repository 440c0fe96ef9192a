#pragma once
// Shared by the media tests: where the real media lie, and running ffmpeg/ffprobe.

#include "TestEnvironment.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace kivtest {

// The repository's own copy of the real media (tests/media, with SOURCES.md).
inline std::string MediaDir() {
  return KIV_TEST_MEDIA;
}

inline std::string MediaPath(const std::string& relative) {
  return MediaDir() + "/" + relative;
}

inline bool HaveTool(const char* name) {
  return std::system((std::string("command -v ") + name + " >/dev/null 2>&1").c_str()) == 0;
}

// stdout of a shell command; ok = exit status 0.
inline std::string RunCommand(const std::string& command, bool* ok = nullptr) {
  int code = -1;
  std::string out = CommandOutput(command, code);
  if (ok) *ok = code == 0;
  return out;
}

inline std::string Quote(const std::string& path) {
  std::string q = "'";
  for (char c : path)
    q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

// A folder for generated clips, in this process's own temporary folder (the test main makes one per process).
inline std::filesystem::path ScratchDir(const std::string& name) {
  std::filesystem::path dir = std::filesystem::temp_directory_path() / "media-scratch" / name;
  std::filesystem::create_directories(dir);
  return dir;
}

} // namespace kivtest

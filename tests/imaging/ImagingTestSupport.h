#pragma once
// Shared helpers of the imaging tests: the media folder, files, external reference decoders.

#include "ryBitmap.h"
#include "ryStreams.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace kiv::test {

inline std::string MediaDir() {
  if (const char* env = std::getenv("KIV_MEDIA_DIR")) return env;
  return KIV_SHARED_MEDIA;
}

inline bool HaveMedia() {
  std::vector<uint8_t> probe;
  return ReadWholeFile(MediaDir() + "/SOURCES.md", probe);
}

#define KIV_REQUIRE_MEDIA()                                                                                  \
  do {                                                                                                       \
    if (!::kiv::test::HaveMedia())                                                                           \
      GTEST_SKIP() << "shared media not found; set KIV_MEDIA_DIR to the media folder";                       \
  } while (0)

inline std::vector<uint8_t> FileBytes(const std::string& path) {
  std::vector<uint8_t> data;
  ReadWholeFile(path, data);
  return data;
}

// Runs a command and returns its standard output; false when it failed.
inline bool RunCapture(const std::string& command, std::vector<uint8_t>& out) {
  out.clear();
  std::FILE* pipe = ::popen(command.c_str(), "r");
  if (!pipe) return false;
  uint8_t buffer[65536];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0)
    out.insert(out.end(), buffer, buffer + n);
  return ::pclose(pipe) == 0;
}

inline bool HaveTool(const std::string& name) {
  std::vector<uint8_t> out;
  return RunCapture("command -v " + name + " >/dev/null 2>&1 && echo yes", out) && !out.empty();
}

// 32-bit pixels of a bitmap as B, G, R, A bytes, rows packed.
inline std::vector<uint8_t> Bgra(const TBitmap& bitmap) {
  TRef<TBitmap> b = ConvertBitmap(bitmap, TBitmapFormat::Pf32bit);
  return b->Data();
}

} // namespace kiv::test

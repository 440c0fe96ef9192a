#pragma once
// Shared helpers of the imaging tests: the media folder, files, external reference decoders.

#include "Bitmap.h"
#include "Streams.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace kiv::test {

// The repository's own copy of the real media (tests/media, with SOURCES.md).
inline std::string MediaDir() {
  return KIV_TEST_MEDIA;
}

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

#pragma once
// A scratch folder per test, and small helpers to fill it and to read what an accessor opens.

#include "Streams.h"

#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace kiv::test {

class TScratchFolder {
public:
  explicit TScratchFolder(const std::string& tag) {
    static int counter = 0;
    path_ = std::filesystem::temp_directory_path() /
            ("kiv_" + tag + "_" + std::to_string(::getpid()) + "_" + std::to_string(counter++));
    std::filesystem::remove_all(path_);
    std::filesystem::create_directories(path_);
  }
  ~TScratchFolder() { std::filesystem::remove_all(path_); }
  TScratchFolder(const TScratchFolder&) = delete;
  TScratchFolder& operator=(const TScratchFolder&) = delete;

  // The folder with a trailing "/".
  std::string Path() const { return path_.string() + "/"; }
  std::string Write(const std::string& relative, const std::string& text) const {
    const std::filesystem::path file = path_ / relative;
    std::filesystem::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary) << text;
    return file.string();
  }

private:
  std::filesystem::path path_;
};

// Everything from the stream's position; "<none>" for no stream.
inline std::string ReadAll(TStream* stream) {
  if (!stream) return "<none>";
  std::string text;
  char buffer[1000];
  for (int64_t n; (n = stream->Read(buffer, sizeof buffer)) > 0;)
    text.append(buffer, static_cast<size_t>(n));
  return text;
}

} // namespace kiv::test

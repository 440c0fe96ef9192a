#include "ScreenSaverInstance.h"

#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <sys/file.h>
#include <unistd.h>

namespace kiv {

uint32_t ElfHash(std::string_view text) {
  uint32_t hash = 0;
  for (const char c : text) {
    hash = (hash << 4) + static_cast<uint8_t>(c);
    const uint32_t high = hash & 0xF0000000u;
    if (high != 0) hash ^= high >> 24;
    hash &= ~high;
  }
  return hash;
}

std::string InstanceName(const std::string& programPath) {
  const std::filesystem::path path(programPath);
  const std::string folder = path.parent_path().string();
  const std::string file = path.filename().string();
  return "Instance_ID" + std::to_string(ElfHash(programPath)) + std::to_string(ElfHash(folder)) +
         std::to_string(ElfHash(file)) + file;
}

TInstanceLock::TInstanceLock(const std::string& folder, const std::string& name) {
  // The name comes from a file name: keep it one path component.
  std::string safe;
  for (const char c : name)
    safe.push_back(c == '/' || c == '\0' ? '_' : c);
  const std::string path = (std::filesystem::path(folder) / (safe + ".lock")).string();
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) return;
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    ::close(fd);
    return;
  }
  fd_ = fd;
}

TInstanceLock::~TInstanceLock() {
  if (fd_ >= 0) ::close(fd_);
}

std::string InstanceLockFolder() {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  std::error_code ec;
  if (runtime && *runtime && std::filesystem::is_directory(runtime, ec)) return runtime;
  return std::filesystem::temp_directory_path(ec).string();
}

} // namespace kiv

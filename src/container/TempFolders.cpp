#include "TempFolders.h"

#include "Assert.h"
#include "ShowPaths.h"

#include <cstdlib>
#include <ftw.h>
#include <memory>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

namespace kiv {
namespace {

bool UsableFolder(const char* path) {
  return path && *path && DirectoryExists(path) && ::access(path, W_OK | X_OK) == 0;
}

int RemoveEntry(const char* path, const struct stat*, int type, struct FTW*) {
  // FTW_DEPTH brings children before their folder; FTW_PHYS reports links as links, and unlink deletes
  // the link itself, never what it points to. A failure leaves that entry and goes on with the rest.
  if (type == FTW_DP)
    ::rmdir(path);
  else
    ::unlink(path);
  return 0;
}

} // namespace

std::string NewGuidText() {
  static thread_local std::mt19937_64 generator{std::random_device{}()};
  uint8_t bytes[16];
  for (int i = 0; i < 16; i += 8) {
    const uint64_t value = generator();
    for (int k = 0; k < 8; ++k)
      bytes[i + k] = static_cast<uint8_t>(value >> (8 * k));
  }
  bytes[6] = static_cast<uint8_t>((bytes[6] & 0x0F) | 0x40); // version 4, random
  bytes[8] = static_cast<uint8_t>((bytes[8] & 0x3F) | 0x80);
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string text;
  for (int i = 0; i < 16; ++i) {
    if (i == 4 || i == 6 || i == 8 || i == 10) text += '-';
    text += kHex[bytes[i] >> 4];
    text += kHex[bytes[i] & 15];
  }
  return text;
}

bool RemoveFolderTree(const std::string& path) {
  if (path.empty()) return false;
  std::string folder = path;
  while (folder.size() > 1 && folder.back() == '/')
    folder.pop_back();
  ::nftw(folder.c_str(), RemoveEntry, 16, FTW_DEPTH | FTW_PHYS);
  struct stat info;
  return ::lstat(folder.c_str(), &info) != 0;
}

TTempManager::TTempManager(std::string base) : base_(IncludeTrailingSlash(base)) {}

TTempManager::~TTempManager() {
  for (const std::string& folder : created_)
    RemoveFolderTree(folder);
}

std::string TTempManager::NewFolder(bool withSlash) {
  for (int attempt = 0; attempt < kMaxAttempts; ++attempt) {
    const std::string folder = base_ + "[" + NewGuidText() + "]";
    // mkdir fails on an existing name, so a folder planted by someone else is never taken over.
    if (::mkdir(folder.c_str(), 0700) != 0) continue;
    std::lock_guard lock(lock_);
    created_.push_back(folder);
    return withSlash ? folder + "/" : folder;
  }
  throw ETempFolderError("Cannot create a temporary folder in " + base_);
}

std::string ChooseTempBase() {
  if (const char* tmp = std::getenv("TMPDIR"); UsableFolder(tmp)) return tmp;
  if (UsableFolder("/tmp")) return "/tmp";
  const std::string programFolder = ProgramFolder();
  const std::string own = programFolder + "TEMP";
  if (DirectoryExists(own) || ::mkdir(own.c_str(), 0700) == 0) return own;
  RY_ASSERT_MSG(DirectoryExists(programFolder), "Temp Path not Found");
  return programFolder;
}

std::string NewTempFolder(bool withSlash) {
  // Made on first use; its destructor runs at normal program end.
  static TTempManager manager(ChooseTempBase());
  return manager.NewFolder(withSlash);
}

} // namespace kiv

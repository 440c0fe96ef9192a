// TIniFile: loading and saving a document through streams and files.

#include "IniReadWrite.h"
#include "IniDocument.h"
#include "TextDecoders.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kiv {

bool TIniFile::LoadFromStream(TStream& stream) {
  Clear();
  fileName_.clear();
  loaded_ = false;
  try {
    TOwned<TTextReader> reader = CreateTextReader(stream);
    TIniParser parser(*reader, *this);
    parser.Parse();
    loaded_ = true;
  } catch (const std::exception&) {
    // Unreadable text or a stop from the notification: the items parsed so far stay.
  }
  return loaded_;
}

bool TIniFile::LoadFromFile(const std::string& fileName) {
  Clear();
  fileName_.clear();
  loaded_ = false;
  try {
    TFileStream file(fileName, TFileMode::OpenRead);
    if (!LoadFromStream(file)) return false;
  } catch (const std::exception&) {
    return false;
  }
  fileName_ = fileName;
  return true;
}

bool TIniFile::SaveToStream(TStream& stream) const {
  try {
    TIniSaver saver(stream);
    WriteTo(saver);
    saver.Flush();
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

namespace {

// Removes the temporary file unless the save went through.
struct TTempFileGuard {
  std::string path;
  bool keep = false;
  ~TTempFileGuard() {
    if (!keep && !path.empty()) ::unlink(path.c_str());
  }
};

void SyncFolder(const std::string& folder) {
  int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

} // namespace

bool TIniFile::SaveToFile(const std::string& fileName) const {
  // Writing in place and cutting the file afterwards would lose the old file on a failure half-way: write a
  // temporary file beside it and rename it over the old one only after a complete, synced write.
  std::string target = fileName;
  struct stat st {};
  if (::lstat(target.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
    // Replace the file the link points to, not the link.
    char* resolved = ::realpath(target.c_str(), nullptr);
    if (!resolved) return false;
    target = resolved;
    std::free(resolved);
  }
  bool existed = ::stat(target.c_str(), &st) == 0;
  if (existed && !S_ISREG(st.st_mode)) return false;

  size_t slash = target.rfind('/');
  std::string folder = slash == std::string::npos ? "." : (slash == 0 ? "/" : target.substr(0, slash));
  std::string base = slash == std::string::npos ? target : target.substr(slash + 1);
  TTempFileGuard temp;
  temp.path =
      (slash == std::string::npos ? std::string() : target.substr(0, slash + 1)) + "." + base + ".XXXXXX";
  int fd = ::mkstemp(temp.path.data());
  if (fd < 0) {
    temp.path.clear();
    return false;
  }
  ::fchmod(fd, existed ? (st.st_mode & 07777) : 0644);
  ::close(fd);
  try {
    TFileStream stream(temp.path, TFileMode::OpenReadWrite);
    if (!SaveToStream(stream) || !stream.Sync()) return false;
  } catch (const std::exception&) {
    return false;
  }
  if (::rename(temp.path.c_str(), target.c_str()) != 0) return false;
  temp.keep = true;
  SyncFolder(folder);
  return true;
}

} // namespace kiv

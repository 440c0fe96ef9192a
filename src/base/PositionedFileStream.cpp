#include "PositionedFileStream.h"

#include "Assert.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <sys/stat.h>
#include <unistd.h>

namespace kiv {

std::shared_ptr<const TSharedFile> TSharedFile::Open(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) throw EFOpenError("Cannot open file \"" + path + "\". " + std::strerror(errno));
  struct stat st {};
  if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
    ::close(fd);
    throw EFOpenError("Cannot open file \"" + path + "\". Is a directory");
  }
  try {
    return std::shared_ptr<const TSharedFile>(new TSharedFile(path, fd));
  } catch (...) {
    ::close(fd);
    throw;
  }
}

TSharedFile::~TSharedFile() {
  ::close(fd_);
}

int64_t TSharedFile::Size() const {
  struct stat st {};
  if (::fstat(fd_, &st) != 0) throw EStreamError("Cannot get file size");
  return st.st_size;
}

int64_t TSharedFile::ReadAt(int64_t position, void* buffer, int64_t count) const {
  if (position < 0) throw EReadError("Stream read error");
  count = std::min(count, std::numeric_limits<int64_t>::max() - position); // no file reaches that far
  auto* out = static_cast<uint8_t*>(buffer);
  int64_t done = 0;
  while (done < count) {
    const ssize_t n = ::pread(fd_, out + done, static_cast<size_t>(std::min<int64_t>(count - done, 1 << 30)),
                              static_cast<off_t>(position + done));
    if (n < 0) {
      if (errno == EINTR) continue;
      throw EReadError("Stream read error");
    }
    if (n == 0) break;
    done += n;
  }
  return done;
}

TPositionedFileStream::TPositionedFileStream(std::shared_ptr<const TSharedFile> file)
    : file_(std::move(file)) {
  RY_ASSERT(file_ != nullptr);
}

void TPositionedFileStream::SetPosition(int64_t position) {
  if (position < 0) throw EStreamError("Incorrect Position");
  position_ = position;
}

void TPositionedFileStream::SetSize(int64_t) {
  throw EStreamError("Stream Cannot be resized");
}

int64_t TPositionedFileStream::Read(void* buffer, int64_t count) {
  if (count <= 0) return 0;
  const int64_t n = file_->ReadAt(position_, buffer, count);
  position_ += n;
  return n;
}

int64_t TPositionedFileStream::Write(const void*, int64_t) {
  return 0;
}

} // namespace kiv

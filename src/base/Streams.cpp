#include "Streams.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kiv {

int64_t TStream::Seek(int64_t offset, TSeekOrigin origin) {
  int64_t base = 0;
  if (origin == TSeekOrigin::Current) base = GetPosition();
  else if (origin == TSeekOrigin::End) base = GetSize();
  SetPosition(base + offset);
  return GetPosition();
}

void TStream::ReadBuffer(void* buffer, int64_t count) {
  if (count > 0 && Read(buffer, count) != count) throw EReadError("Stream read error");
}

void TStream::WriteBuffer(const void* buffer, int64_t count) {
  if (count > 0 && Write(buffer, count) != count) throw EWriteError("Stream write error");
}

int64_t TStream::CopyFrom(TStream& source, int64_t count) {
  if (count == 0) {
    source.SetPosition(0);
    count = source.GetSize();
  }
  std::vector<uint8_t> buffer(static_cast<size_t>(std::min<int64_t>(count, 1 << 16)));
  int64_t done = 0;
  while (done < count) {
    int64_t n = std::min<int64_t>(count - done, static_cast<int64_t>(buffer.size()));
    source.ReadBuffer(buffer.data(), n);
    WriteBuffer(buffer.data(), n);
    done += n;
  }
  return done;
}

void TMemoryStream::SetPosition(int64_t position) {
  if (position < 0) throw EStreamError("Incorrect Position");
  position_ = position;
}

void TMemoryStream::SetSize(int64_t size) {
  if (size < 0) throw EStreamError("Incorrect Size");
  data_.resize(static_cast<size_t>(size));
  position_ = std::min(position_, size);
}

int64_t TMemoryStream::Read(void* buffer, int64_t count) {
  int64_t n = std::clamp<int64_t>(GetSize() - position_, 0, std::max<int64_t>(count, 0));
  if (n > 0) std::memcpy(buffer, data_.data() + position_, static_cast<size_t>(n));
  position_ += n;
  return n;
}

int64_t TMemoryStream::Write(const void* buffer, int64_t count) {
  if (count <= 0) return 0;
  if (position_ + count > GetSize()) data_.resize(static_cast<size_t>(position_ + count));
  std::memcpy(data_.data() + position_, buffer, static_cast<size_t>(count));
  position_ += count;
  return count;
}

TFileStream::TFileStream(const std::string& path, TFileMode mode) : path_(path) {
  int flags = O_CLOEXEC;
  switch (mode) {
  case TFileMode::OpenRead: flags |= O_RDONLY; break;
  case TFileMode::OpenReadWrite: flags |= O_RDWR; break;
  case TFileMode::Create: flags |= O_RDWR | O_CREAT | O_TRUNC; break;
  }
  fd_ = ::open(path.c_str(), flags, 0644);
  if (fd_ < 0) {
    std::string why = std::strerror(errno);
    if (mode == TFileMode::Create) throw EFCreateError("Cannot create file \"" + path + "\". " + why);
    throw EFOpenError("Cannot open file \"" + path + "\". " + why);
  }
  struct stat st {};
  if (::fstat(fd_, &st) == 0 && S_ISDIR(st.st_mode)) {
    ::close(fd_);
    fd_ = -1;
    throw EFOpenError("Cannot open file \"" + path + "\". Is a directory");
  }
}

TFileStream::~TFileStream() {
  if (fd_ >= 0) ::close(fd_);
}

int64_t TFileStream::GetPosition() { return ::lseek(fd_, 0, SEEK_CUR); }

void TFileStream::SetPosition(int64_t position) {
  if (position < 0 || ::lseek(fd_, position, SEEK_SET) < 0) throw EStreamError("Incorrect Position");
}

int64_t TFileStream::GetSize() {
  struct stat st {};
  if (::fstat(fd_, &st) != 0) throw EStreamError("Cannot get file size");
  return st.st_size;
}

void TFileStream::SetSize(int64_t size) {
  if (size < 0 || ::ftruncate(fd_, size) != 0) throw EStreamError("Stream Cannot be resized");
  if (GetPosition() > size) SetPosition(size);
}

int64_t TFileStream::Read(void* buffer, int64_t count) {
  int64_t done = 0;
  auto* p = static_cast<uint8_t*>(buffer);
  while (done < count) {
    ssize_t n = ::read(fd_, p + done, static_cast<size_t>(std::min<int64_t>(count - done, 1 << 30)));
    if (n < 0) {
      if (errno == EINTR) continue;
      throw EReadError("Stream read error");
    }
    if (n == 0) break;
    done += n;
  }
  return done;
}

int64_t TFileStream::Write(const void* buffer, int64_t count) {
  int64_t done = 0;
  auto* p = static_cast<const uint8_t*>(buffer);
  while (done < count) {
    ssize_t n = ::write(fd_, p + done, static_cast<size_t>(std::min<int64_t>(count - done, 1 << 30)));
    if (n < 0) {
      if (errno == EINTR) continue;
      break;
    }
    done += n;
  }
  return done;
}

bool TFileStream::Sync() { return ::fsync(fd_) == 0; }

bool ReadWholeFile(const std::string& path, std::vector<uint8_t>& out) {
  try {
    TFileStream file(path, TFileMode::OpenRead);
    out.resize(static_cast<size_t>(file.GetSize()));
    file.ReadBuffer(out.data(), static_cast<int64_t>(out.size()));
    return true;
  } catch (const Exception&) {
    return false;
  }
}

} // namespace kiv

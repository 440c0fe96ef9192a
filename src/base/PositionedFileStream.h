#pragma once
// Streams over one open file that read with positioned reads (pread): any number of them share the file
// handle, each with its own position, so readers on several threads never move each other's position,
// and what they read is always the file that was opened, even after another one is renamed over its name.

#include "Streams.h"

#include <memory>
#include <string>

namespace kiv {

// An open file, closed when its last holder lets go. Immutable after opening, so any thread may read.
class TSharedFile {
public:
  // EFOpenError when the file cannot be opened for reading (or is a folder).
  static std::shared_ptr<const TSharedFile> Open(const std::string& path);
  ~TSharedFile();
  TSharedFile(const TSharedFile&) = delete;
  TSharedFile& operator=(const TSharedFile&) = delete;

  const std::string& Path() const noexcept { return path_; }
  // The size of the open file (not of whatever now has its name); EStreamError when it cannot be told.
  int64_t Size() const;
  // Up to count bytes from position; fewer only at the end. EReadError when the system refuses.
  int64_t ReadAt(int64_t position, void* buffer, int64_t count) const;

private:
  TSharedFile(std::string path, int fd) : path_(std::move(path)), fd_(fd) {}

  std::string path_;
  int fd_;
};

// A read-only stream over a shared file with a position of its own.
class TPositionedFileStream : public TStream {
public:
  explicit TPositionedFileStream(std::shared_ptr<const TSharedFile> file);

  int64_t GetPosition() override { return position_; }
  // "Incorrect Position" for a negative position; positions past the end read nothing.
  void SetPosition(int64_t position) override;
  int64_t GetSize() override { return file_->Size(); }
  // Always "Stream Cannot be resized".
  void SetSize(int64_t size) override;
  int64_t Read(void* buffer, int64_t count) override;
  // Read-only: moves nothing.
  int64_t Write(const void* buffer, int64_t count) override;

  const TSharedFile& File() const noexcept { return *file_; }

private:
  std::shared_ptr<const TSharedFile> file_;
  int64_t position_ = 0;
};

} // namespace kiv

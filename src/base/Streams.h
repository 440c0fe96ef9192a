#pragma once
// Byte streams: the abstract base every stream derives from, a memory stream and a file stream.

#include "Exceptions.h"
#include "ObjectBase.h"

#include <cstdint>
#include <string>
#include <vector>

namespace kiv {

enum class TSeekOrigin { Begin, Current, End };

class TStream : public TObj {
public:
  virtual int64_t GetPosition() = 0;
  // Raises EStreamError on a position the stream cannot take.
  virtual void SetPosition(int64_t position) = 0;
  virtual int64_t GetSize() = 0;
  virtual void SetSize(int64_t size) = 0;
  // Moves up to count bytes; returns how many moved (fewer only at the end or on failure).
  virtual int64_t Read(void* buffer, int64_t count) = 0;
  virtual int64_t Write(const void* buffer, int64_t count) = 0;
  // Copies count bytes from source's position (0: the whole source from its start).
  virtual int64_t CopyFrom(TStream& source, int64_t count);

  int64_t Seek(int64_t offset, TSeekOrigin origin);
  // Exact forms: "Stream read error" / "Stream write error" when short.
  void ReadBuffer(void* buffer, int64_t count);
  void WriteBuffer(const void* buffer, int64_t count);
};

// The owning handle through which streams are handed out and adopted. Its deleter frees through
// TObj::Free and never throws (a failed clean-up is reported through the assertion sink), so holders may
// sit in destructors and in objects whose construction fails half-way.
using TStreamPtr = TOwned<TStream>;

class TMemoryStream : public TStream {
public:
  TMemoryStream() = default;
  explicit TMemoryStream(std::vector<uint8_t> data) : data_(std::move(data)) {}

  int64_t GetPosition() override { return position_; }
  void SetPosition(int64_t position) override;
  int64_t GetSize() override { return static_cast<int64_t>(data_.size()); }
  void SetSize(int64_t size) override;
  int64_t Read(void* buffer, int64_t count) override;
  int64_t Write(const void* buffer, int64_t count) override;

  std::vector<uint8_t>& Data() { return data_; }
  const std::vector<uint8_t>& Data() const { return data_; }

private:
  std::vector<uint8_t> data_;
  int64_t position_ = 0;
};

enum class TFileMode {
  OpenRead,      // existing file, read only
  OpenReadWrite, // existing file
  Create,        // create or truncate, read and write
};

// A file on disk; path in UTF-8. Opening fails with EFOpenError / EFCreateError.
class TFileStream : public TStream {
public:
  TFileStream(const std::string& path, TFileMode mode);
  ~TFileStream() override;

  int64_t GetPosition() override;
  void SetPosition(int64_t position) override;
  int64_t GetSize() override;
  void SetSize(int64_t size) override;
  int64_t Read(void* buffer, int64_t count) override;
  int64_t Write(const void* buffer, int64_t count) override;

  const std::string& FileName() const { return path_; }
  int Handle() const { return fd_; }
  // Flushes written data to the disk; false on failure.
  bool Sync();

private:
  std::string path_;
  int fd_ = -1;
};

// Reads a whole file; false when it cannot be opened or read.
bool ReadWholeFile(const std::string& path, std::vector<uint8_t>& out);

} // namespace kiv

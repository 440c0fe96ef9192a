#pragma once
// Stream views through which show files are read: a window over part of another stream, an XOR view, and a
// file stream whose reads answer 0 instead of raising.

#include "Streams.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace kiv {

// Called after every chunk a window moves. Answers true to go on; false stops the transfer early (the read or
// write returns the bytes moved so far), which is how a load that the engine abandons ends.
using TProgressCallback = std::function<bool()>;

// A window [start, start + size) over another stream. Reads and writes move at most one chunk per call to the
// source so that the progress callback runs often enough to yield the processor during playback.
class TPartialStream : public TStream {
public:
  static constexpr int kDefaultChunkSize = 32768;
  static constexpr int kCallbackChunkSize = 256;

  // "Insufficient Source Size" (EStreamError) when the source is shorter than start + size.
  TPartialStream(TStream& source, int64_t start, int64_t size, int chunkSize = kDefaultChunkSize,
                 TProgressCallback callback = {});
  TPartialStream(TOwned<TStream> source, int64_t start, int64_t size, int chunkSize = kDefaultChunkSize,
                 TProgressCallback callback = {});

  int64_t GetPosition() override { return position_; }
  // "Incorrect Position" for a negative position; positions at or past the end are accepted.
  void SetPosition(int64_t position) override;
  int64_t GetSize() override { return size_; }
  // Always "Stream Cannot be resized".
  void SetSize(int64_t size) override;
  int64_t Read(void* buffer, int64_t count) override;
  int64_t Write(const void* buffer, int64_t count) override;
  int64_t CopyFrom(TStream& source, int64_t count) override;

  // Replaces the progress callback; the chunk follows the rule of the constructor.
  void SetProgressCallback(TProgressCallback callback, int chunkSize = kDefaultChunkSize);

  TStream& Source() const { return *source_; }
  int64_t Start() const { return start_; }
  int ChunkSize() const { return chunkSize_; }

private:
  void Init(int chunkSize, TProgressCallback callback);
  bool Progress() { return !callback_ || callback_(); }

  TStream* source_; // the viewed stream; owned_ when the window owns it
  TOwned<TStream> owned_;
  int64_t start_;
  int64_t size_;
  int64_t position_ = 0; // kept here, so the source may be shared between reads of one thread
  int chunkSize_ = kDefaultChunkSize;
  TProgressCallback callback_;
  std::vector<uint8_t> chunk_; // for CopyFrom only, made on first use
};

// XOR view: byte k read at source position p is XORed with key[(p + k) mod key length]. Position, size and
// seeking are the source's.
class TCryptStream : public TStream {
public:
  // The key must not be empty (assertion).
  TCryptStream(TStream& source, std::string key);
  TCryptStream(TOwned<TStream> source, std::string key);

  int64_t GetPosition() override { return source_->GetPosition(); }
  void SetPosition(int64_t position) override { source_->SetPosition(position); }
  int64_t GetSize() override { return source_->GetSize(); }
  void SetSize(int64_t size) override { source_->SetSize(size); }
  int64_t Read(void* buffer, int64_t count) override;
  int64_t Write(const void* buffer, int64_t count) override;

  TStream& Source() const { return *source_; }
  const std::string& Key() const { return key_; }

  // XORs data as if it started at the given position of a stream keyed with key (pattern from MakePattern).
  static void Apply(uint8_t* data, int64_t count, int64_t position, const std::vector<uint8_t>& pattern,
                    size_t keyLength);
  // The key repeated to a whole number of key lengths of at least 4 KiB, plus one key length, so that any
  // phase of the key can be read as one long run.
  static std::vector<uint8_t> MakePattern(const std::string& key);

private:
  void Init();

  TStream* source_;
  TOwned<TStream> owned_;
  std::string key_;
  std::vector<uint8_t> pattern_;
};

// Damaged or over-long deflate data.
class EInflateError : public EStreamError {
public:
  using EStreamError::EStreamError;
};

// Inflates count bytes of raw deflate data (no zlib header or checksum) from in's position and appends the
// result to out. EInflateError when the data is damaged, ends early, or inflates to more than limit bytes.
void InflateRaw(TStream& in, int64_t count, TStream& out, int64_t limit);
// Raw deflate of a whole buffer at zlib's default level.
std::vector<uint8_t> DeflateRaw(const void* data, size_t size);

// A read-only file stream for show files on disk: a failing read answers 0 instead of raising.
class TFileStreamEx : public TFileStream {
public:
  explicit TFileStreamEx(const std::string& path) : TFileStream(path, TFileMode::OpenRead) {}
  int64_t Read(void* buffer, int64_t count) override;
};

} // namespace kiv

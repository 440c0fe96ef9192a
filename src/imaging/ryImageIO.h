#pragma once
// Helpers shared by the loaders: bounded reads of the rest of a stream and a little-endian cursor over
// bytes in memory. Every count that comes from a file is checked against the bytes that remain.

#include "ryStreams.h"

#include <cstdint>
#include <cstring>
#include <span>
#include <vector>

namespace kiv {

// Largest file a loader copies into memory.
inline constexpr int64_t kMaxImageFileBytes = int64_t{1} << 30;

// Reads from the position to the end; false (position restored) when shorter than minBytes, longer than
// maxBytes or unreadable.
bool ReadRest(TStream& stream, std::vector<uint8_t>& out, int64_t minBytes = 0,
              int64_t maxBytes = kMaxImageFileBytes);
// Reads exactly count bytes at the position; false (position restored) when short.
bool PeekBytes(TStream& stream, void* buffer, int64_t count);

class TByteReader {
public:
  explicit TByteReader(std::span<const uint8_t> data, size_t position = 0) : data_(data), pos_(position) {}

  size_t Position() const noexcept { return pos_; }
  size_t Remaining() const noexcept { return pos_ < data_.size() ? data_.size() - pos_ : 0; }
  bool Seek(size_t position) noexcept {
    if (position > data_.size()) return false;
    pos_ = position;
    return true;
  }
  bool Skip(size_t count) noexcept {
    if (count > Remaining()) return false;
    pos_ += count;
    return true;
  }
  bool Bytes(void* out, size_t count) noexcept {
    if (count > Remaining()) return false;
    std::memcpy(out, data_.data() + pos_, count);
    pos_ += count;
    return true;
  }
  const uint8_t* Here() const noexcept { return data_.data() + pos_; }
  template <class T> bool Read(T& value) noexcept { return Bytes(&value, sizeof(T)); } // little-endian host

private:
  std::span<const uint8_t> data_;
  size_t pos_;
};

} // namespace kiv

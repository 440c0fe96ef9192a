#pragma once
// A growable sample buffer: the filled part always starts at Data(); it grows on demand and never shrinks,
// so steady playback allocates nothing.

#include "MediaRecord.h"
#include "ObjectBase.h"

#include <cstdint>
#include <memory>

namespace kiv {

class TLocalBuffer : public TObj {
public:
  TLocalBuffer() = default;
  explicit TLocalBuffer(int64_t capacity) { Grow(capacity); }

  // capacity += n, keeping the content.
  void Grow(int64_t n);
  // Grows so that at least n bytes are free.
  void Reserve(int64_t n);
  int64_t FreeBytes() const noexcept { return capacity_ - length_; }
  // Reads min(limit - stream position, free bytes) behind the content; false when the stream is at or past
  // the limit or nothing came.
  bool ReadFrom(TStream& stream, int64_t limit);
  // Moves the other buffer's whole content behind this one ("Buffer overrun" when it does not fit).
  void AppendFrom(TLocalBuffer& other);
  // Copies bytes behind the content, growing as needed.
  void Append(const void* data, int64_t count);
  // Drops the first n bytes.
  void Consume(int64_t n);
  void Clear() noexcept { length_ = 0; }
  // Keeps the first n bytes of the content.
  void Truncate(int64_t n) noexcept;
  // Marks n more bytes behind the content as filled (after writing through End()).
  void Commit(int64_t n);

  uint8_t* Data() noexcept { return data_.get(); }
  const uint8_t* Data() const noexcept { return data_.get(); }
  uint8_t* End() noexcept { return data_.get() + length_; }
  int64_t Capacity() const noexcept { return capacity_; }
  int64_t Length() const noexcept { return length_; }

  TWaveFormat format; // what the bytes are; set by the owner

private:
  std::unique_ptr<uint8_t[]> data_;
  int64_t capacity_ = 0;
  int64_t length_ = 0;
};

} // namespace kiv

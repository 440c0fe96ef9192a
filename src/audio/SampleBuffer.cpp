#include "SampleBuffer.h"

#include "MediaRecord.h"
#include "Assert.h"

#include <algorithm>
#include <cstring>

namespace kiv {

void TLocalBuffer::Grow(int64_t n) {
  if (n <= 0) return;
  auto grown = std::make_unique<uint8_t[]>(static_cast<size_t>(capacity_ + n));
  if (length_ > 0) std::memcpy(grown.get(), data_.get(), static_cast<size_t>(length_));
  data_ = std::move(grown);
  capacity_ += n;
}

void TLocalBuffer::Reserve(int64_t n) {
  if (FreeBytes() < n) Grow(n - FreeBytes());
}

bool TLocalBuffer::ReadFrom(TStream& stream, int64_t limit) {
  TStreamWrapperClass& helper = StreamWrapper();
  const int64_t position = helper.Position(stream);
  if (position >= limit) return false;
  const int64_t wanted = std::min(limit - position, FreeBytes());
  if (wanted <= 0) return false;
  const int64_t got = helper.Read(stream, End(), wanted);
  if (got <= 0) return false;
  length_ += got;
  return true;
}

void TLocalBuffer::AppendFrom(TLocalBuffer& other) {
  RY_ASSERT_MSG(other.length_ <= FreeBytes(), "Buffer overrun");
  if (other.length_ > 0) std::memcpy(End(), other.data_.get(), static_cast<size_t>(other.length_));
  length_ += other.length_;
  other.length_ = 0;
}

void TLocalBuffer::Append(const void* data, int64_t count) {
  if (count <= 0) return;
  Reserve(count);
  std::memcpy(End(), data, static_cast<size_t>(count));
  length_ += count;
}

void TLocalBuffer::Consume(int64_t n) {
  n = std::clamp<int64_t>(n, 0, length_);
  if (n < length_) std::memmove(data_.get(), data_.get() + n, static_cast<size_t>(length_ - n));
  length_ -= n;
}

void TLocalBuffer::Truncate(int64_t n) noexcept {
  if (n >= 0 && n < length_) length_ = n;
}

void TLocalBuffer::Commit(int64_t n) {
  RY_ASSERT_MSG(n >= 0 && n <= FreeBytes(), "Buffer overrun");
  length_ += n;
}

} // namespace kiv

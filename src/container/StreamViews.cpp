#include "StreamViews.h"

#include "Assert.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include <zlib.h>

namespace kiv {

TPartialStream::TPartialStream(TStream& source, int64_t start, int64_t size, int chunkSize,
                               TProgressCallback callback)
    : source_(&source), start_(start), size_(size) {
  Init(chunkSize, std::move(callback));
}

TPartialStream::TPartialStream(TOwned<TStream> source, int64_t start, int64_t size, int chunkSize,
                               TProgressCallback callback)
    : source_(source.get()), owned_(std::move(source)), start_(start), size_(size) {
  Init(chunkSize, std::move(callback));
}

void TPartialStream::Init(int chunkSize, TProgressCallback callback) {
  RY_ASSERT(source_ != nullptr);
  // Negative values come from damaged show data; they are a window the source cannot hold.
  if (start_ < 0 || size_ < 0 || source_->GetSize() - start_ < size_)
    throw EStreamError("Insufficient Source Size");
  SetProgressCallback(std::move(callback), chunkSize);
  source_->SetPosition(start_);
}

void TPartialStream::SetProgressCallback(TProgressCallback callback, int chunkSize) {
  callback_ = std::move(callback);
  chunkSize_ = callback_ ? std::clamp(chunkSize, 1, kCallbackChunkSize) : kDefaultChunkSize;
  chunk_.clear();
}

void TPartialStream::SetPosition(int64_t position) {
  if (position < 0) throw EStreamError("Incorrect Position");
  position_ = position;
}

void TPartialStream::SetSize(int64_t) {
  throw EStreamError("Stream Cannot be resized");
}

int64_t TPartialStream::Read(void* buffer, int64_t count) {
  if (count <= 0 || position_ >= size_) return 0;
  count = std::min(count, size_ - position_);
  source_->SetPosition(start_ + position_);
  auto* out = static_cast<uint8_t*>(buffer);
  int64_t done = 0;
  while (done < count) {
    int64_t n = source_->Read(out + done, std::min<int64_t>(count - done, chunkSize_));
    done += n;
    position_ += n;
    if (n <= 0 || !Progress()) break;
  }
  return done;
}

int64_t TPartialStream::Write(const void* buffer, int64_t count) {
  if (count <= 0 || position_ >= size_) return 0;
  count = std::min(count, size_ - position_);
  source_->SetPosition(start_ + position_);
  auto* in = static_cast<const uint8_t*>(buffer);
  int64_t done = 0;
  while (done < count) {
    int64_t n = source_->Write(in + done, std::min<int64_t>(count - done, chunkSize_));
    done += n;
    position_ += n;
    if (n <= 0 || !Progress()) break;
  }
  return done;
}

int64_t TPartialStream::CopyFrom(TStream& source, int64_t count) {
  if (count == 0) {
    source.SetPosition(0);
    count = source.GetSize();
  }
  if (chunk_.empty()) chunk_.resize(static_cast<size_t>(chunkSize_));
  int64_t done = 0;
  while (done < count) {
    int64_t n = std::min<int64_t>(count - done, chunkSize_);
    source.ReadBuffer(chunk_.data(), n);
    if (!Progress()) break;
    if (Write(chunk_.data(), n) != n) throw EWriteError("Stream write error");
    done += n;
    if (!Progress()) break;
  }
  return done;
}

TCryptStream::TCryptStream(TStream& source, std::string key) : source_(&source), key_(std::move(key)) {
  Init();
}

TCryptStream::TCryptStream(TOwned<TStream> source, std::string key)
    : source_(source.get()), owned_(std::move(source)), key_(std::move(key)) {
  Init();
}

void TCryptStream::Init() {
  RY_ASSERT(source_ != nullptr);
  RY_ASSERT_MSG(!key_.empty(), "Empty XOR key");
  pattern_ = MakePattern(key_);
}

std::vector<uint8_t> TCryptStream::MakePattern(const std::string& key) {
  const size_t keyLength = key.size();
  const size_t runs = (4096 + keyLength - 1) / keyLength + 1;
  std::vector<uint8_t> pattern(runs * keyLength);
  for (size_t i = 0; i < pattern.size(); ++i)
    pattern[i] = static_cast<uint8_t>(key[i % keyLength]);
  return pattern;
}

void TCryptStream::Apply(uint8_t* data, int64_t count, int64_t position, const std::vector<uint8_t>& pattern,
                         size_t keyLength) {
  // Every sweep starts at the key phase of its first byte and covers whole key lengths, so the inner loop is
  // a plain byte-wise XOR of two arrays that the compiler vectorises.
  const size_t phase = static_cast<size_t>(position % static_cast<int64_t>(keyLength));
  const uint8_t* key = pattern.data() + phase;
  const int64_t sweep = static_cast<int64_t>(pattern.size() - keyLength);
  while (count > 0) {
    const int64_t n = std::min(count, sweep);
    for (int64_t i = 0; i < n; ++i)
      data[i] ^= key[i];
    data += n;
    count -= n;
  }
}

int64_t TCryptStream::Read(void* buffer, int64_t count) {
  const int64_t position = source_->GetPosition();
  const int64_t n = source_->Read(buffer, count);
  if (n > 0) Apply(static_cast<uint8_t*>(buffer), n, position, pattern_, key_.size());
  return n;
}

int64_t TCryptStream::Write(const void* buffer, int64_t count) {
  if (count <= 0) return 0;
  int64_t position = source_->GetPosition();
  std::vector<uint8_t> copy(static_cast<size_t>(std::min<int64_t>(count, 1 << 16)));
  auto* in = static_cast<const uint8_t*>(buffer);
  int64_t done = 0;
  while (done < count) {
    const int64_t n = std::min<int64_t>(count - done, static_cast<int64_t>(copy.size()));
    std::memcpy(copy.data(), in + done, static_cast<size_t>(n));
    Apply(copy.data(), n, position, pattern_, key_.size());
    const int64_t written = source_->Write(copy.data(), n);
    done += std::max<int64_t>(written, 0);
    position += std::max<int64_t>(written, 0);
    if (written != n) break;
  }
  return done;
}

void InflateRaw(TStream& in, int64_t count, TStream& out, int64_t limit) {
  z_stream z{};
  if (inflateInit2(&z, -15) != Z_OK) throw EInflateError("Inflate error: cannot initialise");
  struct TEnd {
    z_stream* z;
    ~TEnd() { inflateEnd(z); }
  } end{&z};
  constexpr int64_t kChunk = 1 << 16;
  std::vector<uint8_t> input(static_cast<size_t>(std::clamp<int64_t>(count, 1, kChunk)));
  std::vector<uint8_t> output(kChunk);
  int64_t produced = 0;
  int ret = Z_OK;
  while (ret != Z_STREAM_END) {
    if (z.avail_in == 0) {
      const int64_t n = count > 0 ? in.Read(input.data(), std::min<int64_t>(count, kChunk)) : 0;
      // The data ran out before the deflate stream ended: a truncated block.
      if (n <= 0) throw EInflateError("Inflate error: unexpected end of data");
      count -= n;
      z.next_in = input.data();
      z.avail_in = static_cast<uInt>(n);
    }
    z.next_out = output.data();
    z.avail_out = static_cast<uInt>(output.size());
    ret = inflate(&z, Z_NO_FLUSH);
    if ((ret != Z_OK && ret != Z_STREAM_END && ret != Z_BUF_ERROR) || (ret == Z_BUF_ERROR && z.avail_in > 0))
      throw EInflateError(std::string("Inflate error: ") + (z.msg ? z.msg : "data error"));
    const int64_t n = static_cast<int64_t>(output.size() - z.avail_out);
    produced += n;
    if (produced > limit) throw EInflateError("Inflate error: data inflates beyond its limit");
    out.WriteBuffer(output.data(), n);
  }
}

std::vector<uint8_t> DeflateRaw(const void* data, size_t size) {
  if (size > std::numeric_limits<uInt>::max()) throw EStreamError("Deflate error: data too large");
  z_stream z{};
  if (deflateInit2(&z, Z_DEFAULT_COMPRESSION, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK)
    throw EStreamError("Deflate error");
  std::vector<uint8_t> out(deflateBound(&z, static_cast<uLong>(size)));
  z.next_in = static_cast<Bytef*>(const_cast<void*>(data));
  z.avail_in = static_cast<uInt>(size);
  z.next_out = out.data();
  z.avail_out = static_cast<uInt>(out.size());
  const int ret = deflate(&z, Z_FINISH);
  out.resize(z.total_out);
  deflateEnd(&z);
  if (ret != Z_STREAM_END) throw EStreamError("Deflate error");
  return out;
}

int64_t TFileStreamEx::Read(void* buffer, int64_t count) {
  try {
    return TFileStream::Read(buffer, count);
  } catch (const Exception&) {
    return 0;
  }
}

} // namespace kiv

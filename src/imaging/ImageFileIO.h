#pragma once
// Helpers shared by the loaders: bounded reads of the rest of a stream and a little-endian cursor over
// bytes in memory. Every count that comes from a file is checked against the bytes that remain. Also the
// one PNG writer of the programs, tools and tests (the reader is ReadPng in PngLoader.h).

#include "ImageLevels.h"
#include "Streams.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <span>
#include <string>
#include <string_view>
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

// Makes the store of a whole image file held in memory (and may keep the bytes by moving them); nullptr
// declines.
using TImageFileDecoder = std::function<TRef<TBitmapStore>(std::vector<uint8_t>& file)>;
// What every file loader does around its decoder: the signature is looked at without consuming it, the
// file from the position on is read into memory (at least minBytes), and the stream is put back where it
// was whenever the loader declines. After decode succeeds the stream is not touched again: the decoder may
// have released it through the loader's owned.
TRef<TBitmapStore> LoadImageFile(TStream& stream, std::string_view signature, int64_t minBytes,
                                 const TImageFileDecoder& decode);

// Writes 32-bit pixels (0xAARRGGBB words, rows top-down, stridePixels words apart) as an 8-bit PNG: RGBA
// with withAlpha, else RGB with the alpha dropped. The picture is written beside the target under a
// temporary name and renamed, so the name never shows a half-written file and an earlier file survives a
// failure. False with the reason in error (when given) on any failure.
bool WritePngFile(const std::string& path, int width, int height, const uint32_t* pixels,
                  ptrdiff_t stridePixels, bool withAlpha, std::string* error = nullptr);

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

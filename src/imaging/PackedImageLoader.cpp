#include "PackedImageLoader.h"

#include "BmpLoader.h"
#include "ImageFileIO.h"

#include <charconv>
#include <zlib.h>

namespace kiv {

namespace {

bool ParseInt(const std::string& text, int64_t& value) {
  const char* end = text.data() + text.size();
  auto [ptr, ec] = std::from_chars(text.data(), end, value);
  return ec == std::errc() && ptr == end && !text.empty();
}

bool ReadText(TByteReader& reader, std::string& out) {
  uint16_t length;
  if (!reader.Read(length)) return false;
  out.resize(length);
  return reader.Bytes(out.data(), length);
}

} // namespace

bool InflateZlib(std::span<const uint8_t> packed, std::vector<uint8_t>& out, size_t maxBytes,
                 const TImageProgress& progress) {
  z_stream z{};
  if (inflateInit2(&z, 15) != Z_OK) return false;
  constexpr size_t kChunk = 32768;
  out.clear();
  size_t inPos = 0;
  int rc = Z_OK;
  while (rc != Z_STREAM_END) {
    if (z.avail_in == 0) {
      const size_t n = std::min(kChunk, packed.size() - inPos);
      if (n == 0) break; // truncated
      z.next_in = const_cast<Bytef*>(packed.data() + inPos);
      z.avail_in = static_cast<uInt>(n);
      inPos += n;
    }
    const size_t have = out.size();
    if (have >= maxBytes + 1) break; // more than the picture can need: a bomb or a lie
    out.resize(have + kChunk);
    z.next_out = out.data() + have;
    z.avail_out = static_cast<uInt>(kChunk);
    rc = inflate(&z, Z_NO_FLUSH);
    out.resize(have + (kChunk - z.avail_out));
    if (rc != Z_OK && rc != Z_STREAM_END) break;
    if (progress && !progress(0.5 * static_cast<double>(inPos) / std::max<size_t>(packed.size(), 1))) break;
  }
  inflateEnd(&z);
  return rc == Z_STREAM_END && out.size() <= maxBytes;
}

TGfxBitmapStore::TGfxBitmapStore(int width, int height, std::map<std::string, std::string> fields,
                                 std::vector<uint8_t> packed)
    : TBitmapStore(width, height, TBitmapFormat::Pf32bit), fields_(std::move(fields)),
      packed_(std::move(packed)) {}

TRef<TBitmap> TGfxBitmapStore::DecodeLevel(int, TBitmapFormat, const TImageProgress& progress,
                                           int& realLevel) {
  realLevel = 0;
  // A 32-bit BMP of the declared size with a generous header and palette is the most a payload can hold.
  const size_t bound = 4096 + static_cast<size_t>(Width()) * static_cast<size_t>(Height()) * 4;
  std::vector<uint8_t> file;
  TRef<TBitmap> bitmap;
  bool stopped = false;
  const TImageProgress watch = [&](double f) {
    const bool go = !progress || progress(f);
    stopped = stopped || !go;
    return go;
  };
  if (InflateZlib(packed_, file, bound, watch))
    if (TRef<TBitmap> decoded = ReadBmp(file)) bitmap = ConvertBitmap(*decoded, TBitmapFormat::Pf32bit);
  if (stopped) return nullptr;
  if (!bitmap) {
    bitmap = TRef<TBitmap>::Make(Width(), Height(), TBitmapFormat::Pf32bit);
    bitmap->Fill32(kGfxFailedFill);
  }
  packed_ = {};
  packed_.shrink_to_fit();
  return bitmap;
}

TRef<TBitmapStore> LoadGfxImage(TStream& stream, std::u16string_view, TOwned<TStream>*,
                                const TImageProgress&) {
  return LoadImageFile(stream, "RYGF", 6, [](std::vector<uint8_t>& file) -> TRef<TBitmapStore> {
    TByteReader reader(file, 4);
    uint16_t count;
    if (!reader.Read(count)) return nullptr;
    std::map<std::string, std::string> fields;
    for (int i = 0; i < count; ++i) {
      std::string name, value;
      if (!ReadText(reader, name) || !ReadText(reader, value)) return nullptr;
      fields[name] = std::move(value);
    }
    int64_t width, height, originalSize;
    if (!fields.count("File") || !fields.count("Width") || !fields.count("Height") ||
        !fields.count("OriginalSize"))
      return nullptr;
    if (!ParseInt(fields["Width"], width) || !ParseInt(fields["Height"], height) ||
        !ParseInt(fields["OriginalSize"], originalSize))
      return nullptr;
    if (!PictureSizeAllowed(width, height)) return nullptr;
    // The zlib stream is the rest of the file.
    file.erase(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(reader.Position()));
    return TRef<TBitmapStore>::Adopt(new TGfxBitmapStore(static_cast<int>(width), static_cast<int>(height),
                                                         std::move(fields), std::move(file)));
  });
}

} // namespace kiv

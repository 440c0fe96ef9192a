#include "GifLoader.h"

#include "ImageFileIO.h"

#include <array>
#include <climits>
#include <cstring>

namespace kiv {
namespace {

using TPalette = std::array<uint32_t, 256>;

struct TFrameControl {
  int disposal = 0;
  int transparent = -1;
  int delay = 0;
};

// The data sub-blocks of one image joined; a file that ends early gives what it had.
std::vector<uint8_t> ReadSubBlocks(TByteReader& r) {
  std::vector<uint8_t> data;
  uint8_t size;
  while (r.Read(size) && size != 0) {
    const size_t n = std::min<size_t>(size, r.Remaining());
    data.insert(data.end(), r.Here(), r.Here() + n);
    r.Skip(n);
  }
  return data;
}

void SkipSubBlocks(TByteReader& r) {
  uint8_t size;
  while (r.Read(size) && size != 0)
    if (!r.Skip(size)) r.Seek(r.Position() + r.Remaining());
}

// LZW-decodes up to count indices into out (fewer when the data ends early). False on a code that cannot
// occur in a valid stream.
bool DecodeLzw(const std::vector<uint8_t>& data, int minCodeSize, std::vector<uint8_t>& out, size_t count) {
  if (minCodeSize < 1 || minCodeSize > 11) return false;
  constexpr int kMaxCodes = 4096;
  std::array<uint16_t, kMaxCodes> prefix{};
  std::array<uint8_t, kMaxCodes> suffix{};
  std::array<uint8_t, kMaxCodes + 1> stack{};
  const int clear = 1 << minCodeSize;
  const int eoi = clear + 1;
  int codeSize = minCodeSize + 1;
  int next = clear + 2;
  int old = -1;
  uint8_t first = 0;
  for (int i = 0; i < clear; ++i)
    suffix[i] = static_cast<uint8_t>(i);
  uint32_t bits = 0;
  int bitCount = 0;
  size_t pos = 0;
  out.clear();
  while (out.size() < count) {
    while (bitCount < codeSize && pos < data.size()) {
      bits |= uint32_t{data[pos++]} << bitCount;
      bitCount += 8;
    }
    if (bitCount < codeSize) break; // data ended without an end code
    int code = static_cast<int>(bits & ((1u << codeSize) - 1));
    bits >>= codeSize;
    bitCount -= codeSize;
    if (code == clear) {
      codeSize = minCodeSize + 1;
      next = clear + 2;
      old = -1;
      continue;
    }
    if (code == eoi) break;
    if (old == -1) {
      if (code >= clear) return false;
      out.push_back(static_cast<uint8_t>(code));
      first = static_cast<uint8_t>(code);
      old = code;
      continue;
    }
    const int in = code;
    int sp = 0;
    if (code > next || (code == next && next >= kMaxCodes)) return false;
    if (code == next) {
      stack[sp++] = first;
      code = old;
    }
    while (code >= clear) {
      stack[sp++] = suffix[code];
      code = prefix[code];
      if (sp >= kMaxCodes) return false;
    }
    first = suffix[code];
    stack[sp++] = first;
    while (sp > 0 && out.size() < count)
      out.push_back(stack[--sp]);
    if (next < kMaxCodes) {
      prefix[next] = static_cast<uint16_t>(old);
      suffix[next] = first;
      ++next;
      if (next == (1 << codeSize) && codeSize < 12) ++codeSize;
    }
    old = in;
  }
  return true;
}

bool ReadPalette(TByteReader& r, int entries, TPalette& palette, int& size) {
  palette.fill(0xFF000000);
  for (int i = 0; i < entries; ++i) {
    uint8_t rgb[3];
    if (!r.Bytes(rgb, 3)) return false;
    palette[i] = 0xFF000000u | (uint32_t{rgb[0]} << 16) | (uint32_t{rgb[1]} << 8) | rgb[2];
  }
  size = entries;
  return true;
}

} // namespace

bool ReadGif(std::span<const uint8_t> file, bool allFrames, TGifPicture& out,
             const TImageProgress& progress) {
  out = {};
  TByteReader r(file);
  char signature[6];
  if (!r.Bytes(signature, 6) ||
      (std::memcmp(signature, "GIF87a", 6) != 0 && std::memcmp(signature, "GIF89a", 6) != 0))
    return false;
  uint16_t width, height;
  uint8_t flags, background, aspect;
  if (!r.Read(width) || !r.Read(height) || !r.Read(flags) || !r.Read(background) || !r.Read(aspect))
    return false;
  if (!PictureSizeAllowed(width, height)) return false;
  TPalette global;
  int globalSize = 0;
  if ((flags & 0x80) && !ReadPalette(r, 2 << (flags & 7), global, globalSize)) return false;
  out.width = width;
  out.height = height;

  auto canvas = TRef<TBitmap>::Make(width, height, TBitmapFormat::Pf32bit); // transparent black
  TFrameControl control;
  std::vector<uint8_t> indices;
  uint8_t introducer;
  while (r.Read(introducer)) {
    if (introducer == 0x3B) break; // trailer
    if (introducer == 0x21) {
      uint8_t label;
      if (!r.Read(label)) break;
      if (label == 0xF9) {
        std::vector<uint8_t> block = ReadSubBlocks(r);
        if (block.size() >= 4) {
          control.disposal = (block[0] >> 2) & 7;
          control.delay = block[1] | (block[2] << 8);
          control.transparent = (block[0] & 1) ? block[3] : -1;
        }
      } else if (label == 0xFF) {
        std::vector<uint8_t> block = ReadSubBlocks(r);
        if (block.size() >= 11 && std::memcmp(block.data(), "NETSCAPE2.0", 11) == 0) out.animated = true;
      } else {
        SkipSubBlocks(r);
      }
      continue;
    }
    if (introducer != 0x2C) break; // unknown block: the rest cannot be trusted

    uint16_t left, top, fw, fh;
    uint8_t imageFlags, minCodeSize;
    if (!r.Read(left) || !r.Read(top) || !r.Read(fw) || !r.Read(fh) || !r.Read(imageFlags)) break;
    TPalette local;
    int localSize = 0;
    const bool paletteRead = !(imageFlags & 0x80) || ReadPalette(r, 2 << (imageFlags & 7), local, localSize);
    if (fw == 0 || fh == 0) {
      // An empty image still is a frame: the canvas as it stands.
      out.frames.push_back(ConvertBitmap(*canvas, TBitmapFormat::Pf32bit));
      out.delays.push_back(control.delay);
      control = {};
      uint8_t skipCodeSize;
      if (!paletteRead || !r.Read(skipCodeSize) || (out.animated && !allFrames)) break;
      SkipSubBlocks(r);
      continue;
    }
    if (!paletteRead) break;
    const TPalette& palette = localSize ? local : global;
    const int paletteSize = localSize ? localSize : globalSize;
    if (!r.Read(minCodeSize)) break;
    const std::vector<uint8_t> data = ReadSubBlocks(r);
    const size_t count = size_t{fw} * fh;
    if (!DecodeLzw(data, minCodeSize, indices, count)) break;

    // Disposal 3 needs the canvas as it was before this frame.
    TRef<TBitmap> before;
    if (control.disposal == 3) before = ConvertBitmap(*canvas, TBitmapFormat::Pf32bit);
    const bool interlaced = (imageFlags & 0x40) != 0;
    for (size_t i = 0; i < indices.size(); ++i) {
      // The load callback runs once per decoded row and may stop the load.
      if (progress && (i + 1) % fw == 0 && !progress(static_cast<double>(i + 1) / indices.size()))
        return false;
      const int index = indices[i];
      if (index == control.transparent || index >= paletteSize) continue;
      int row = static_cast<int>(i / fw);
      const int col = static_cast<int>(i % fw);
      if (interlaced) {
        // passes of rows 0, 8, 16 ...; 4, 12 ...; 2, 6 ...; 1, 3 ...
        const int p1 = (fh + 7) / 8, p2 = (fh + 3) / 8, p3 = (fh + 1) / 4;
        if (row < p1)
          row = row * 8;
        else if (row < p1 + p2)
          row = (row - p1) * 8 + 4;
        else if (row < p1 + p2 + p3)
          row = (row - p1 - p2) * 4 + 2;
        else
          row = (row - p1 - p2 - p3) * 2 + 1;
      }
      const int x = left + col, y = top + row;
      if (x < width && y < height) canvas->SetPixel32(x, y, palette[index]);
    }
    out.frames.push_back(ConvertBitmap(*canvas, TBitmapFormat::Pf32bit));
    out.delays.push_back(control.delay);
    if (out.animated && !allFrames) break;
    const int64_t held = static_cast<int64_t>(out.frames.size()) * width * height;
    if (static_cast<int>(out.frames.size()) >= kMaxGifFrames ||
        held + int64_t{width} * height > kMaxPicturePixels)
      break;

    if (control.disposal == 2) {
      for (int y = top; y < std::min<int>(top + fh, height); ++y)
        for (int x = left; x < std::min<int>(left + fw, width); ++x)
          canvas->SetPixel32(x, y, 0);
    } else if (control.disposal == 3) {
      canvas = before;
    }
    control = {};
  }
  if (!out.animated && out.frames.size() > 1) {
    // A still GIF made of several images (the high-colour trick) shows them all, one over the other.
    out.frames.erase(out.frames.begin(), out.frames.end() - 1);
    out.delays.resize(1);
  } else if (out.animated && !allFrames) {
    out.frames.resize(1);
    out.delays.resize(1);
  }
  return !out.frames.empty();
}

TRef<TBitmap> GifStrip(const TGifPicture& picture) {
  const int64_t n = static_cast<int64_t>(picture.frames.size());
  if (n == 1) return picture.frames.front();
  // The strip may be wider than a single picture may be; its area is what matters.
  if (n == 0 || n * picture.width * picture.height > kMaxPicturePixels || n * picture.width > INT32_MAX)
    return nullptr;
  auto strip =
      TRef<TBitmap>::Make(static_cast<int>(n * picture.width), picture.height, TBitmapFormat::Pf32bit);
  for (int64_t i = 0; i < n; ++i)
    for (int y = 0; y < picture.height; ++y)
      std::memcpy(strip->Row(y) + i * picture.width * 4, picture.frames[i]->Row(y),
                  size_t(picture.width) * 4);
  return strip;
}

TRef<TBitmapStore> LoadGifImage(TStream& stream, std::u16string_view, TOwned<TStream>*,
                                const TImageProgress& progress) {
  return LoadImageFile(stream, "GIF", 13, [&progress](std::vector<uint8_t>& file) -> TRef<TBitmapStore> {
    TGifPicture picture;
    TRef<TBitmap> strip;
    if (ReadGif(file, GifAnimation(), picture, progress)) strip = GifStrip(picture);
    if (!strip) return nullptr;
    TImageAnimation params;
    params.frameCount = static_cast<int>(picture.frames.size());
    if (picture.animated && picture.frames.size() > 1)
      for (size_t i = 0; i < picture.delays.size(); ++i)
        params.animationTimes += (i ? "," : "") + std::to_string(picture.delays[i]);
    return TRef<TBitmapStore>::Adopt(new TWrapperBitmapStore(std::move(strip), std::move(params)));
  });
}

} // namespace kiv

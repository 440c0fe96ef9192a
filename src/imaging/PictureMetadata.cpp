#include "PictureMetadata.h"

#include "Utf8Conversion.h"

#include <algorithm>

namespace kiv {

namespace {

constexpr size_t kMaxHeadBytes = 1 << 20;

uint16_t Be16(std::string_view b, size_t at) {
  return static_cast<uint16_t>(uint8_t(b[at]) << 8 | uint8_t(b[at + 1]));
}

// Calls visit(marker, payload) for each segment before the image data; stops when visit answers false.
template <class F> void ForEachSegment(std::string_view jpeg, F visit) {
  if (jpeg.size() < 4 || uint8_t(jpeg[0]) != 0xFF || uint8_t(jpeg[1]) != 0xD8) return;
  size_t pos = 2;
  while (pos + 4 <= jpeg.size()) {
    if (uint8_t(jpeg[pos]) != 0xFF) return;
    const uint8_t marker = uint8_t(jpeg[pos + 1]);
    if (marker == 0xFF) { // fill byte
      ++pos;
      continue;
    }
    if (marker == 0xDA || marker == 0xD9) return;
    const size_t length = Be16(jpeg, pos + 2);
    if (length < 2 || pos + 2 + length > jpeg.size()) return;
    if (!visit(marker, jpeg.substr(pos + 4, length - 2))) return;
    pos += 2 + length;
  }
}

// Metadata texts are UTF-8 when they are valid UTF-8, else single-byte (Latin-1).
std::u16string DecodeText(std::string_view bytes) {
  std::u16string text;
  if (TryUtf8ToUtf16(bytes, text)) return text;
  text.clear();
  for (const char c : bytes)
    text.push_back(static_cast<char16_t>(uint8_t(c)));
  return text;
}

std::string_view TrimNuls(std::string_view text) {
  const size_t nul = text.find('\0');
  return nul == std::string_view::npos ? text : text.substr(0, nul);
}

class TTiffReader {
public:
  explicit TTiffReader(std::string_view tiff) : b_(tiff) {
    little_ = tiff.size() >= 2 && tiff[0] == 'I' && tiff[1] == 'I';
  }
  bool Valid() const {
    return b_.size() >= 8 && ((b_[0] == 'I' && b_[1] == 'I') || (b_[0] == 'M' && b_[1] == 'M')) &&
           U16(2) == 42;
  }
  uint16_t U16(size_t at) const {
    if (at + 2 > b_.size()) return 0;
    const uint8_t a = uint8_t(b_[at]), c = uint8_t(b_[at + 1]);
    return static_cast<uint16_t>(little_ ? a | c << 8 : a << 8 | c);
  }
  uint32_t U32(size_t at) const {
    if (at + 4 > b_.size()) return 0;
    const uint32_t lo = U16(at), hi = U16(at + 2);
    return little_ ? lo | hi << 16 : lo << 16 | hi;
  }
  // The bytes of an entry's value; empty when they lie outside the block.
  std::string_view Value(size_t entry) const {
    const uint16_t type = U16(entry + 2);
    const uint64_t count = U32(entry + 4);
    const uint64_t unit = type == 3 ? 2 : type == 4 || type == 9 ? 4 : type == 5 || type == 10 ? 8 : 1;
    const uint64_t size = count * unit;
    const uint64_t at = size <= 4 ? entry + 8 : U32(entry + 8);
    if (at + size > b_.size()) return {};
    return b_.substr(static_cast<size_t>(at), static_cast<size_t>(size));
  }
  bool Little() const { return little_; }
  size_t Size() const { return b_.size(); }

private:
  std::string_view b_;
  bool little_ = false;
};

// The user comment starts with an 8-byte character code.
std::u16string DecodeUserComment(std::string_view value, bool little) {
  if (value.size() < 8) return {};
  const std::string_view code = value.substr(0, 8), text = value.substr(8);
  std::u16string out;
  if (code.starts_with("UNICODE")) {
    for (size_t i = 0; i + 1 < text.size(); i += 2) {
      const uint8_t a = uint8_t(text[i]), b = uint8_t(text[i + 1]);
      const char16_t c = static_cast<char16_t>(little ? a | b << 8 : a << 8 | b);
      if (c == 0) break;
      out.push_back(c);
    }
  } else {
    out = DecodeText(TrimNuls(text));
  }
  // Cameras pad the comment's fixed field with blanks.
  while (!out.empty() && (out.back() == u' ' || out.back() == 0))
    out.pop_back();
  return out;
}

} // namespace

bool TExif::Read(std::string_view jpeg) {
  fields_.clear();
  bool found = false;
  ForEachSegment(jpeg, [&](uint8_t marker, std::string_view payload) {
    if (marker != 0xE1 || !payload.starts_with(std::string_view("Exif\0\0", 6))) return true;
    const TTiffReader tiff(payload.substr(6));
    if (!tiff.Valid()) return true;
    found = true;
    // IFD0, then the EXIF IFD it points to; each visited once.
    std::vector<uint32_t> ifds{tiff.U32(4)};
    for (size_t i = 0; i < ifds.size() && i < 4; ++i) {
      const uint32_t ifd = ifds[i];
      if (ifd < 8 || ifd + 2 > tiff.Size()) continue;
      const uint16_t count = tiff.U16(ifd);
      for (uint32_t k = 0; k < count; ++k) {
        const size_t entry = ifd + 2 + size_t{k} * 12;
        if (entry + 12 > tiff.Size()) break;
        const uint16_t tag = tiff.U16(entry);
        if (tag == 0x8769) {
          const uint32_t sub = tiff.U32(entry + 8);
          if (std::find(ifds.begin(), ifds.end(), sub) == ifds.end()) ifds.push_back(sub);
        } else if (tag == kExifImageDescription || tag == kExifDateTime) {
          fields_[tag] = DecodeText(TrimNuls(tiff.Value(entry)));
        } else if (tag == kExifUserComment) {
          fields_[tag] = DecodeUserComment(tiff.Value(entry), tiff.Little());
        }
      }
    }
    return false;
  });
  return found;
}

std::u16string TExif::Field(uint16_t tag) const {
  const auto it = fields_.find(tag);
  return it == fields_.end() ? std::u16string() : it->second;
}

bool TIptcRecords::Read(std::string_view jpeg) {
  datasets_.clear();
  bool found = false;
  ForEachSegment(jpeg, [&](uint8_t marker, std::string_view payload) {
    constexpr std::string_view kPhotoshop("Photoshop 3.0\0", 14);
    if (marker != 0xED || !payload.starts_with(kPhotoshop)) return true;
    size_t pos = kPhotoshop.size();
    // Image resource blocks: "8BIM", id, padded Pascal name, size, padded data.
    while (pos + 12 <= payload.size() && payload.substr(pos, 4) == "8BIM") {
      const uint16_t id = Be16(payload, pos + 4);
      size_t at = pos + 6;
      const size_t nameLength = uint8_t(payload[at]);
      at += 1 + nameLength;
      if ((1 + nameLength) % 2) ++at;
      if (at + 4 > payload.size()) break;
      const uint64_t size = uint64_t{Be16(payload, at)} << 16 | Be16(payload, at + 2);
      at += 4;
      if (at + size > payload.size()) break;
      const std::string_view data = payload.substr(at, static_cast<size_t>(size));
      if (id == 0x0404) {
        found = true;
        size_t p = 0;
        while (p + 5 <= data.size() && uint8_t(data[p]) == 0x1C) {
          const uint8_t record = uint8_t(data[p + 1]), dataset = uint8_t(data[p + 2]);
          const size_t length = Be16(data, p + 3);
          // Extended lengths (bit 15) are not used by text datasets.
          if ((length & 0x8000) || p + 5 + length > data.size()) break;
          if (record == 2) datasets_[dataset].push_back(DecodeText(data.substr(p + 5, length)));
          p += 5 + length;
        }
      }
      pos = at + static_cast<size_t>(size) + (size % 2);
    }
    return true;
  });
  return found;
}

std::u16string TIptcRecords::First(uint8_t dataset) const {
  const auto it = datasets_.find(dataset);
  return it == datasets_.end() || it->second.empty() ? std::u16string() : it->second.front();
}

const std::vector<std::u16string>* TIptcRecords::All(uint8_t dataset) const {
  const auto it = datasets_.find(dataset);
  return it == datasets_.end() ? nullptr : &it->second;
}

std::string ReadPictureHead(TStream& stream) {
  std::string head;
  auto readMore = [&](size_t count) {
    const size_t before = head.size();
    head.resize(before + count);
    const int64_t got = stream.Read(head.data() + before, static_cast<int64_t>(count));
    head.resize(before + static_cast<size_t>(std::max<int64_t>(got, 0)));
    return head.size() == before + count;
  };
  if (!readMore(2) || uint8_t(head[0]) != 0xFF || uint8_t(head[1]) != 0xD8) return head;
  while (head.size() < kMaxHeadBytes) {
    if (!readMore(4)) break;
    const size_t at = head.size() - 4;
    if (uint8_t(head[at]) != 0xFF) break;
    const uint8_t marker = uint8_t(head[at + 1]);
    if (marker == 0xDA || marker == 0xD9) break;
    const size_t length = Be16(head, at + 2);
    if (length < 2 || !readMore(length - 2)) break;
  }
  return head;
}

} // namespace kiv

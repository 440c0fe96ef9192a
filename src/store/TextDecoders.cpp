#include "TextDecoders.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace kiv {

// ---- TTextReader ----

TTextReader::TTextReader(TStream& stream, size_t bufferBytes)
    : stream_(stream), bytes_(bufferBytes), bufferOffset_(stream.GetPosition()) {}

bool TTextReader::Refill() {
  if (atEnd_) return false;
  size_t left = byteCount_ - byteIndex_;
  if (left > 0 && byteIndex_ > 0) std::memmove(bytes_.data(), bytes_.data() + byteIndex_, left);
  bufferOffset_ += static_cast<int64_t>(byteIndex_);
  deliveredInBuffer_ = 0;
  byteIndex_ = 0;
  byteCount_ = left;
  int64_t got = stream_.Read(bytes_.data() + left, static_cast<int64_t>(bytes_.size() - left));
  if (got <= 0) {
    atEnd_ = true;
    return false;
  }
  byteCount_ += static_cast<size_t>(got);
  return true;
}

size_t TTextReader::Read(char16_t* buffer, size_t index, size_t count) {
  char16_t* out = buffer + index;
  size_t done = 0;
  while (done < count) {
    needRoom_ = false;
    size_t n = byteIndex_ < byteCount_ ? Decode(out + done, count - done) : 0;
    done += n;
    if (pendingError_) break; // hand out what came before the error first
    if (n > 0) continue;
    if (needRoom_) break;
    if (!Refill()) {
      if (byteIndex_ < byteCount_) {
        AtEndWithPartial();
        byteIndex_ = byteCount_;
      }
      break;
    }
  }
  deliveredInBuffer_ += static_cast<int64_t>(done);
  return done;
}

void TTextReader::Skip(size_t count) {
  char16_t scratch[2048];
  while (count > 0) {
    size_t n = Read(scratch, 0, std::min(count, sizeof(scratch) / sizeof(scratch[0])));
    if (n == 0) return;
    count -= n;
  }
}

TTextPosition TTextReader::GetPosition() const {
  return TTextPosition{Kind(), bufferOffset_, deliveredInBuffer_};
}

void TTextReader::SetPosition(const TTextPosition& position) {
  if (position.kind != Kind() || position.streamOffset < 0 || position.delivered < 0)
    throw EStreamError("Incorrect text position");
  stream_.SetPosition(position.streamOffset);
  bufferOffset_ = position.streamOffset;
  deliveredInBuffer_ = 0;
  byteIndex_ = byteCount_ = 0;
  atEnd_ = false;
  pendingError_ = nullptr;
  Skip(static_cast<size_t>(position.delivered));
}

// ---- UTF-16 ----

size_t TUnicodeReader::Decode(char16_t* out, size_t count) {
  size_t n = std::min(count, (byteCount_ - byteIndex_) / 2);
  const uint8_t* p = bytes_.data() + byteIndex_;
  for (size_t i = 0; i < n; ++i)
    out[i] = static_cast<char16_t>(p[2 * i] | (p[2 * i + 1] << 8));
  byteIndex_ += 2 * n;
  return n;
}

size_t TUnicodeBEReader::Decode(char16_t* out, size_t count) {
  size_t n = std::min(count, (byteCount_ - byteIndex_) / 2);
  const uint8_t* p = bytes_.data() + byteIndex_;
  for (size_t i = 0; i < n; ++i)
    out[i] = static_cast<char16_t>((p[2 * i] << 8) | p[2 * i + 1]);
  byteIndex_ += 2 * n;
  return n;
}

// ---- UTF-8 ----

size_t TUTF8Reader::Decode(char16_t* out, size_t count) {
  if (pendingError_) throw EInvalidCharError(pendingError_);
  const uint8_t* p = bytes_.data();
  size_t i = byteIndex_;
  const size_t end = byteCount_;
  size_t n = 0;
  while (n < count && i < end) {
    uint8_t lead = p[i];
    if (lead < 0x80) {
      out[n++] = lead;
      ++i;
      continue;
    }
    size_t extra;
    uint32_t codePoint;
    if (lead < 0xC0 || lead >= 0xFE) {
      Fail(n, "Invalid UTF-8 character");
      break;
    }
    if (lead < 0xE0)
      extra = 1, codePoint = lead & 0x1Fu;
    else if (lead < 0xF0)
      extra = 2, codePoint = lead & 0x0Fu;
    else if (lead < 0xF8)
      extra = 3, codePoint = lead & 0x07u;
    else if (lead < 0xFC)
      extra = 4, codePoint = lead & 0x03u;
    else
      extra = 5, codePoint = lead & 0x01u;
    if (end - i <= extra) break; // completed from the next refill
    bool valid = true;
    for (size_t k = 1; k <= extra && valid; ++k) {
      uint8_t c = p[i + k];
      valid = (c & 0xC0) == 0x80;
      codePoint = (codePoint << 6) | (c & 0x3Fu);
    }
    if (!valid || codePoint > 0x10FFFF) {
      Fail(n, valid ? "Illegal char range for surrogates" : "Invalid UTF-8 character");
      break;
    }
    if (codePoint > 0xFFFF) {
      if (count - n < 2) {
        needRoom_ = n == 0;
        break; // a pair is never split between two reads
      }
      codePoint -= 0x10000;
      out[n++] = static_cast<char16_t>(0xD800 + (codePoint >> 10));
      out[n++] = static_cast<char16_t>(0xDC00 + (codePoint & 0x3FF));
    } else {
      out[n++] = static_cast<char16_t>(codePoint);
    }
    i += extra + 1;
  }
  byteIndex_ = i;
  return n;
}

void TUTF8Reader::Fail(size_t delivered, const char* message) {
  // The text before the bad sequence is handed out first, so that the lines before it are still parsed.
  if (delivered == 0) throw EInvalidCharError(message);
  pendingError_ = message;
}

void TUTF8Reader::AtEndWithPartial() {
  throw EInvalidCharError("Invalid UTF-8 character");
}

// ---- ANSI ----

namespace {

// Bytes 80..9F of Windows-1252. The five bytes the page leaves undefined become the C1 controls of the
// same value, as Windows converts them.
constexpr char16_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

} // namespace

TAnsiCodePage::TAnsiCodePage() {
  // Windows-1252 is single-byte: no lead-byte tables.
  for (int b = 0; b < 256; ++b)
    single_[b] = static_cast<char16_t>(b);
  for (int b = 0; b < 32; ++b)
    single_[0x80 + b] = kCp1252High[b];
}

const TAnsiCodePage& TAnsiCodePage::Current() {
  static const TAnsiCodePage page;
  return page;
}

size_t TAnsiReader::Decode(char16_t* out, size_t count) {
  const uint8_t* p = bytes_.data();
  size_t i = byteIndex_;
  const size_t end = byteCount_;
  size_t n = 0;
  if (!page_.HasLeadBytes()) {
    n = std::min(count, end - i);
    for (size_t k = 0; k < n; ++k)
      out[k] = page_.ByteToChar(p[i + k]);
    byteIndex_ = i + n;
    return n;
  }
  while (n < count && i < end) {
    if (const TDBCSInfo* second = page_.LeadTable(p[i])) {
      if (end - i < 2) break; // the second byte comes with the next refill
      out[n++] = second->chars[p[i + 1]];
      i += 2;
    } else {
      out[n++] = page_.ByteToChar(p[i++]);
    }
  }
  byteIndex_ = i;
  return n;
}

// ---- detection ----

namespace {

struct TTextReaderClass {
  std::string_view mark;
  TOwned<TTextReader> (*create)(TStream& stream);
};

template <class T> TOwned<TTextReader> CreateReader(TStream& stream) {
  return TOwned<TTextReader>(new T(stream));
}

// Tried in this order; the last accepts any stream.
const TTextReaderClass kReaderClasses[] = {
    {"\xFF\xFE", &CreateReader<TUnicodeReader>},
    {"\xFE\xFF", &CreateReader<TUnicodeBEReader>},
    {"\xEF\xBB\xBF", &CreateReader<TUTF8Reader>},
    {"", &CreateReader<TAnsiReader>},
};

} // namespace

bool IsMultiByteUtf8(TStream& stream) {
  const int64_t start = stream.GetPosition();
  std::vector<uint8_t> block(65536);
  int need = 0;        // continuation bytes still due; a sequence cut by a block's end goes on in the next
  uint32_t low = 0x80; // bounds of the next continuation byte (overlongs, surrogates, past U+10FFFF)
  uint32_t high = 0xBF;
  bool multiByte = false;
  bool valid = true;
  while (valid) {
    const int64_t got = stream.Read(block.data(), static_cast<int64_t>(block.size()));
    if (got <= 0) break;
    const size_t end = static_cast<size_t>(got);
    for (size_t i = 0; i < end && valid; ++i) {
      const uint8_t b = block[i];
      if (need > 0) {
        if (b < low || b > high) {
          valid = false;
          break;
        }
        low = 0x80;
        high = 0xBF;
        if (--need == 0) multiByte = true;
      } else if (b < 0x80) {
        continue;
      } else if (b >= 0xC2 && b <= 0xDF) {
        need = 1;
      } else if (b >= 0xE0 && b <= 0xEF) {
        need = 2;
        if (b == 0xE0) low = 0xA0;
        if (b == 0xED) high = 0x9F;
      } else if (b >= 0xF0 && b <= 0xF4) {
        need = 3;
        if (b == 0xF0) low = 0x90;
        if (b == 0xF4) high = 0x8F;
      } else {
        valid = false;
      }
    }
  }
  stream.SetPosition(start);
  return valid && need == 0 && multiByte;
}

TOwned<TTextReader> CreateTextReader(TStream& stream) {
  for (const TTextReaderClass& kind : kReaderClasses) {
    int64_t start = stream.GetPosition();
    char mark[4] = {};
    int64_t size = static_cast<int64_t>(kind.mark.size());
    if (size == 0) {
      if (IsMultiByteUtf8(stream)) return CreateReader<TUTF8Reader>(stream);
      return kind.create(stream);
    }
    if (stream.Read(mark, size) == size && std::string_view(mark, kind.mark.size()) == kind.mark)
      return kind.create(stream);
    stream.SetPosition(start);
  }
  return nullptr; // not reached: the last kind accepts everything
}

// ---- TTextParser ----

bool TTextParser::FillBuffer() {
  pos_ = 0;
  count_ = reader_.Read(buffer_.data(), 0, kBufferUnits);
  return count_ > 0;
}

bool TTextParser::ReadLine() {
  line_.clear();
  if (pos_ >= count_ && !FillBuffer()) return false;
  while (true) {
    size_t start = pos_;
    const char16_t* b = buffer_.data();
    while (pos_ < count_ && b[pos_] != u'\r' && b[pos_] != u'\n')
      ++pos_;
    line_.append(b + start, pos_ - start);
    if (pos_ < count_) break;
    if (!FillBuffer()) {
      break_ = TLineBreak::None;
      ++lineNumber_;
      return true;
    }
  }
  char16_t first = buffer_[pos_++];
  char16_t other = first == u'\r' ? u'\n' : u'\r';
  if (pos_ >= count_) FillBuffer();
  if (pos_ < count_ && buffer_[pos_] == other) {
    ++pos_;
    break_ = first == u'\r' ? TLineBreak::CRLF : TLineBreak::LFCR;
  } else {
    break_ = first == u'\r' ? TLineBreak::CR : TLineBreak::LF;
  }
  ++lineNumber_;
  return true;
}

} // namespace kiv

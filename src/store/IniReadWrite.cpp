#include "IniReadWrite.h"

#include "CaseFolding.h"

namespace kiv {

namespace {

bool IsBlank(char16_t c) {
  return c == u' ' || c == u'\t';
}

constexpr size_t kNone = std::u16string_view::npos;

} // namespace

// ---- TIniParser ----

void TIniParser::Parse() {
  current_ = &document_;
  openContainers_.clear();
  firstNonBlank_ = 0;
  try {
    while (ReadLine())
      ParseLine(Line());
    if (!openContainers_.empty()) Report(kIniErrorObjectsOpen);
  } catch (const EIniParseError& stop) {
    // The handler hears once more, with the code it stopped on.
    try {
      if (document_.ErrorNotify())
        document_.ErrorNotify()(document_, stop.Code(), static_cast<int>(firstNonBlank_) + 1, LineNumber());
    } catch (const EIniParseError&) {
    }
    throw;
  }
}

void TIniParser::Report(int code) {
  if (document_.ErrorNotify())
    document_.ErrorNotify()(document_, code, static_cast<int>(firstNonBlank_) + 1, LineNumber());
}

void TIniParser::ParseLine(std::u16string_view line) {
  const size_t n = line.size();
  size_t i = 0;
  while (i < n && IsBlank(line[i]))
    ++i;
  firstNonBlank_ = i;
  auto add = [this](TOwned<TCommonIniItem> item) { return current_->AddChild(std::move(item)); };
  auto textLine = [&] { add(MakeOwned<TIniTextLine>(std::u16string(line))); };

  if (i == n) {
    add(MakeOwned<TIniEmptyLine>());
    return;
  }
  const char16_t first = line[i];
  if (first == u';') {
    add(MakeOwned<TIniComment>(std::u16string(line), static_cast<uint32_t>(i + 1)));
    return;
  }
  if (first == u'=') {
    textLine();
    return;
  }
  if (first == u'[') {
    size_t nameStart = i + 1;
    while (nameStart < n && IsBlank(line[nameStart]))
      ++nameStart;
    size_t close = nameStart < n ? line.find(u']', nameStart + 1) : kNone;
    if (close == kNone) {
      textLine();
      return;
    }
    size_t nameEnd = close;
    while (nameEnd > nameStart && IsBlank(line[nameEnd - 1]))
      --nameEnd;
    // Sections always belong to the document; open objects stay on the stack.
    auto* section =
        document_.AddChild(MakeOwned<TIniSection>(std::u16string(line), static_cast<uint32_t>(nameStart + 1),
                                                  static_cast<uint32_t>(nameEnd - nameStart)));
    current_ = static_cast<TIniSection*>(section);
    return;
  }

  size_t wordEnd = i;
  while (wordEnd < n && !IsBlank(line[wordEnd]))
    ++wordEnd;
  size_t equals = line.find(u'=', i + 1);
  if (equals != kNone && equals >= wordEnd) {
    size_t after = wordEnd;
    while (after < n && IsBlank(line[after]))
      ++after;
    if (after != equals) equals = kNone;
  }
  if (equals != kNone) {
    size_t nameEnd = equals;
    while (nameEnd > i && IsBlank(line[nameEnd - 1]))
      --nameEnd;
    size_t valueStart = equals + 1;
    while (valueStart < n && IsBlank(line[valueStart]))
      ++valueStart;
    add(MakeOwned<TIniIdent>(std::u16string(line), static_cast<uint32_t>(i + 1),
                             static_cast<uint32_t>(nameEnd - i), static_cast<uint32_t>(valueStart + 1)));
    return;
  }

  std::u16string_view word = line.substr(i, wordEnd - i);
  if (SameText(word, u"object")) {
    size_t nameStart = wordEnd;
    while (nameStart < n && IsBlank(line[nameStart]))
      ++nameStart;
    size_t colon = line.rfind(u':');
    uint32_t nameLength = 0;
    uint32_t typeStart = 0; // none: a bare "object"
    if (colon != kNone && colon >= nameStart) {
      size_t nameEnd = colon;
      while (nameEnd > nameStart && IsBlank(line[nameEnd - 1]))
        --nameEnd;
      nameLength = static_cast<uint32_t>(nameEnd - nameStart);
      size_t type = colon + 1;
      while (type < n && IsBlank(line[type]))
        ++type;
      typeStart = static_cast<uint32_t>(type + 1);
    } else if (nameStart < n) {
      typeStart = static_cast<uint32_t>(nameStart + 1); // no ":": the rest is the type
    }
    int indent = 0;
    while (static_cast<size_t>(indent) < n && line[indent] < 33)
      ++indent;
    auto* object = static_cast<TIniObject*>(add(MakeOwned<TIniObject>(
        std::u16string(line), static_cast<uint32_t>(nameStart + 1), nameLength, typeStart, indent)));
    openContainers_.push_back(current_);
    current_ = object;
    return;
  }
  if (SameText(word, u"end")) {
    if (dynamic_cast<TIniObject*>(current_) != nullptr && !openContainers_.empty()) {
      textLine();
      current_ = openContainers_.back();
      openContainers_.pop_back();
    } else {
      Report(kIniErrorEndWithoutObject);
    }
    return;
  }
  Report(kIniErrorUnknownLine);
}

// ---- writers ----

TTextWriter::TTextWriter(TStream& stream) : buffer_(32768), stream_(stream) {}

TTextWriter::~TTextWriter() {
  try {
    Flush();
  } catch (const std::exception&) {
    // Callers that care call Flush themselves and see the failure there.
  }
}

void TTextWriter::Put(const uint8_t* data, size_t count) {
  while (count > 0) {
    if (used_ == buffer_.size()) Flush();
    size_t n = std::min(count, buffer_.size() - used_);
    std::copy(data, data + n, buffer_.data() + used_);
    used_ += n;
    data += n;
    count -= n;
  }
}

void TTextWriter::Flush() {
  if (used_ == 0) return;
  size_t n = used_;
  used_ = 0;
  stream_.WriteBuffer(buffer_.data(), static_cast<int64_t>(n));
}

void TTextWriter::WriteLineEnd(TLineBreak kind) {
  switch (kind) {
  case TLineBreak::LF:
    WriteChar(u'\n');
    break;
  case TLineBreak::CR:
    WriteChar(u'\r');
    break;
  case TLineBreak::LFCR:
    WriteChar(u'\n');
    WriteChar(u'\r');
    break;
  case TLineBreak::CRLF:
    WriteChar(u'\r');
    WriteChar(u'\n');
    break;
  case TLineBreak::None:
    break;
  }
}

void TTextWriter::WriteLine(std::u16string_view text, TLineBreak kind) {
  WriteString(text);
  WriteLineEnd(kind);
}

TUnicodeWriter::TUnicodeWriter(TStream& stream) : TTextWriter(stream) {
  static const uint8_t kMark[] = {0xFF, 0xFE};
  Put(kMark, sizeof(kMark));
}

void TUnicodeWriter::WriteChar(char16_t c) {
  Reserve(2);
  buffer_[used_++] = static_cast<uint8_t>(c & 0xFF);
  buffer_[used_++] = static_cast<uint8_t>(c >> 8);
}

void TUnicodeWriter::WriteString(std::u16string_view text) {
  for (char16_t c : text)
    WriteChar(c);
}

TUTF8Writer::TUTF8Writer(TStream& stream) : TTextWriter(stream) {
  static const uint8_t kMark[] = {0xEF, 0xBB, 0xBF};
  Put(kMark, sizeof(kMark));
}

void TUTF8Writer::WriteChar(char16_t c) {
  WriteString(std::u16string_view(&c, 1));
}

void TUTF8Writer::WriteString(std::u16string_view text) {
  const size_t n = text.size();
  for (size_t i = 0; i < n; ++i) {
    Reserve(4);
    uint8_t* out = buffer_.data() + used_;
    char16_t c = text[i];
    if (c < 0x80) {
      // Runs of ASCII, the bulk of every description file, without the per-character checks.
      size_t room = std::min(n - i, buffer_.size() - used_);
      size_t k = 0;
      while (k < room && text[i + k] < 0x80) {
        out[k] = static_cast<uint8_t>(text[i + k]);
        ++k;
      }
      used_ += k;
      i += k - 1;
    } else if (c < 0x800) {
      out[0] = static_cast<uint8_t>(0xC0 | (c >> 6));
      out[1] = static_cast<uint8_t>(0x80 | (c & 0x3F));
      used_ += 2;
    } else if (c >= 0xD800 && c < 0xDC00 && i + 1 < n) {
      char16_t low = text[i + 1];
      if (low < 0xDC00 || low > 0xDFFF) throw EInvalidCharError("Invalid surrogate pair");
      char32_t cp = 0x10000 + ((static_cast<char32_t>(c) - 0xD800) << 10) + (low - 0xDC00);
      out[0] = static_cast<uint8_t>(0xF0 | (cp >> 18));
      out[1] = static_cast<uint8_t>(0x80 | ((cp >> 12) & 0x3F));
      out[2] = static_cast<uint8_t>(0x80 | ((cp >> 6) & 0x3F));
      out[3] = static_cast<uint8_t>(0x80 | (cp & 0x3F));
      used_ += 4;
      ++i;
    } else {
      // Also an unpaired surrogate: its own 3-byte form.
      out[0] = static_cast<uint8_t>(0xE0 | (c >> 12));
      out[1] = static_cast<uint8_t>(0x80 | ((c >> 6) & 0x3F));
      out[2] = static_cast<uint8_t>(0x80 | (c & 0x3F));
      used_ += 3;
    }
  }
}

} // namespace kiv

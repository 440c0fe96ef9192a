#include "IniLineText.h"

#include "Streams.h"

#include <cstdint>

namespace kiv {

std::u16string TIni2Str::ToLine(const TIniStorage& document) {
  std::vector<std::u16string> lines;
  if (!document.SaveToStrings(lines)) return {};
  return JoinLines(lines);
}

std::u16string TIni2Str::JoinLines(const std::vector<std::u16string>& lines) {
  std::u16string out;
  bool first = true;
  for (const std::u16string& line : lines) {
    if (!first) out += u"/n";
    first = false;
    for (const char16_t c : line) {
      out += c;
      if (c == u'/') out += u'/';
    }
  }
  return out;
}

std::vector<std::u16string> TIni2Str::LinesOf(std::u16string_view line) {
  std::vector<std::u16string> lines(1);
  size_t i = 0;
  while (i < line.size()) {
    const char16_t c = line[i];
    const char16_t next = i + 1 < line.size() ? line[i + 1] : u'\0';
    if (c == u'/' && next == u'/') {
      lines.back() += u'/';
      i += 2;
    } else if (c == u'/' && next == u'n') {
      lines.emplace_back();
      i += 2;
    } else {
      lines.back() += c;
      ++i;
    }
  }
  return lines;
}

bool TIni2Str::FromLine(std::u16string_view line, TIniFile& document) {
  // UTF-16 LE with its mark and CR LF line ends: the reader takes the code units as they are.
  std::vector<uint8_t> bytes{0xFF, 0xFE};
  bytes.reserve(2 + 2 * line.size() + 64);
  const auto put = [&](char16_t c) {
    bytes.push_back(static_cast<uint8_t>(c));
    bytes.push_back(static_cast<uint8_t>(c >> 8));
  };
  bool first = true;
  for (const std::u16string& text : LinesOf(line)) {
    if (!first) {
      put(u'\r');
      put(u'\n');
    }
    first = false;
    for (const char16_t c : text)
      put(c);
  }
  TMemoryStream stream(std::move(bytes));
  return document.LoadFromStream(stream);
}

bool IsCompositeText(std::u16string_view name) noexcept {
  return name.size() >= kCompositeMark.size() && name.substr(0, kCompositeMark.size()) == kCompositeMark;
}

bool IsCompositeText(std::string_view name) noexcept {
  if (name.size() < kCompositeMark.size()) return false;
  for (size_t i = 0; i < kCompositeMark.size(); ++i)
    if (static_cast<char16_t>(static_cast<unsigned char>(name[i])) != kCompositeMark[i]) return false;
  return true;
}

std::vector<std::u16string_view> SplitCompositeTexts(std::u16string_view text) {
  std::vector<std::u16string_view> texts;
  if (!IsCompositeText(text)) return texts;
  size_t begin = kCompositeMark.size();
  for (;;) {
    const size_t next = text.find(kCompositeMark, begin);
    if (next == std::u16string_view::npos) {
      texts.push_back(text.substr(begin));
      return texts;
    }
    texts.push_back(text.substr(begin, next - begin));
    begin = next + kCompositeMark.size();
  }
}

std::u16string CompositeTextOf(const TIniStorage& document) {
  std::vector<std::u16string> lines;
  if (!document.SaveToStrings(lines)) return {};
  return std::u16string(kCompositeMark) + TIni2Str::JoinLines(lines);
}

} // namespace kiv

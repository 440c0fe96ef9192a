#include "Utf8Conversion.h"

#include <cstdint>

namespace kiv {
namespace {

// Decodes one sequence at text[i]; returns the code point or -1, and advances i.
int32_t DecodeOne(std::string_view text, size_t& i) {
  auto b = static_cast<uint8_t>(text[i++]);
  if (b < 0x80) return b;
  int extra;
  uint32_t cp;
  if (b >= 0xC2 && b <= 0xDF) {
    extra = 1;
    cp = b & 0x1F;
  } else if (b >= 0xE0 && b <= 0xEF) {
    extra = 2;
    cp = b & 0x0F;
  } else if (b >= 0xF0 && b <= 0xF4) {
    extra = 3;
    cp = b & 0x07;
  } else {
    return -1;
  }
  for (int k = 0; k < extra; ++k) {
    if (i >= text.size()) return -1;
    auto c = static_cast<uint8_t>(text[i]);
    if ((c & 0xC0) != 0x80) return -1;
    cp = (cp << 6) | (c & 0x3F);
    ++i;
  }
  static constexpr uint32_t kMin[] = {0, 0x80, 0x800, 0x10000};
  if (cp < kMin[extra] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return -1;
  return static_cast<int32_t>(cp);
}

void AppendUtf16(std::u16string& out, uint32_t cp) {
  if (cp < 0x10000) {
    out += static_cast<char16_t>(cp);
  } else {
    cp -= 0x10000;
    out += static_cast<char16_t>(0xD800 + (cp >> 10));
    out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
  }
}

} // namespace

std::u16string Utf8ToUtf16(std::string_view text) {
  std::u16string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    int32_t cp = DecodeOne(text, i);
    AppendUtf16(out, cp < 0 ? 0xFFFD : static_cast<uint32_t>(cp));
  }
  return out;
}

bool TryUtf8ToUtf16(std::string_view text, std::u16string& out) {
  out.clear();
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    int32_t cp = DecodeOne(text, i);
    if (cp < 0) return false;
    AppendUtf16(out, static_cast<uint32_t>(cp));
  }
  return true;
}

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

std::string Utf16ToUtf8(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    char32_t c = text[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    }
    AppendUtf8(out, c);
  }
  return out;
}

} // namespace kiv

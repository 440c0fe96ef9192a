#include "IniValueSyntax.h"

#include <charconv>
#include <string>

namespace kiv {

namespace {

bool IsDigit(char16_t c) {
  return c >= u'0' && c <= u'9';
}

int HexDigit(char16_t c) {
  if (c >= u'0' && c <= u'9') return c - u'0';
  if (c >= u'a' && c <= u'f') return c - u'a' + 10;
  if (c >= u'A' && c <= u'F') return c - u'A' + 10;
  return -1;
}

} // namespace

bool ParseIniInteger(std::u16string_view text, int32_t& value) {
  size_t i = 0;
  while (i < text.size() && (text[i] == u' ' || text[i] == u'\t'))
    ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) negative = text[i++] == u'-';
  bool hex = false;
  if (i < text.size() && (text[i] == u'$' || text[i] == u'x' || text[i] == u'X')) {
    hex = true;
    ++i;
  } else if (i + 1 < text.size() && text[i] == u'0' && (text[i + 1] == u'x' || text[i + 1] == u'X')) {
    hex = true;
    i += 2;
  }
  if (i == text.size()) return false;
  uint64_t magnitude = 0;
  for (; i < text.size(); ++i) {
    int digit = hex ? HexDigit(text[i]) : (IsDigit(text[i]) ? text[i] - u'0' : -1);
    if (digit < 0) return false;
    magnitude = magnitude * (hex ? 16 : 10) + static_cast<uint64_t>(digit);
    if (magnitude > 0xFFFFFFFFull) return false;
  }
  if (hex) {
    // A 32-bit pattern: $FFFFFFFF is -1.
    uint32_t bits = static_cast<uint32_t>(magnitude);
    if (negative) bits = 0u - bits;
    value = static_cast<int32_t>(bits);
    return true;
  }
  if (magnitude > (negative ? 0x80000000ull : 0x7FFFFFFFull)) return false;
  value = negative ? static_cast<int32_t>(-static_cast<int64_t>(magnitude)) : static_cast<int32_t>(magnitude);
  return true;
}

bool ParseIniFloat(std::u16string_view text, double& value) {
  // Check the syntax here (from_chars would also take "inf", "nan"), then let from_chars convert: it does
  // not depend on the locale's decimal separator.
  std::string ascii;
  ascii.reserve(text.size());
  size_t i = 0;
  if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) {
    if (text[i] == u'-') ascii.push_back('-');
    ++i;
  }
  size_t digits = 0;
  for (; i < text.size() && IsDigit(text[i]); ++i, ++digits)
    ascii.push_back(static_cast<char>(text[i]));
  if (i < text.size() && text[i] == u'.') {
    ascii.push_back('.');
    for (++i; i < text.size() && IsDigit(text[i]); ++i, ++digits)
      ascii.push_back(static_cast<char>(text[i]));
  }
  if (digits == 0) return false;
  if (i < text.size() && (text[i] == u'e' || text[i] == u'E')) {
    ascii.push_back('e');
    ++i;
    if (i < text.size() && (text[i] == u'+' || text[i] == u'-'))
      ascii.push_back(static_cast<char>(text[i++]));
    size_t expDigits = 0;
    for (; i < text.size() && IsDigit(text[i]); ++i, ++expDigits)
      ascii.push_back(static_cast<char>(text[i]));
    if (expDigits == 0) return false;
  }
  if (i != text.size()) return false;
  double result = 0;
  auto [end, ec] = std::from_chars(ascii.data(), ascii.data() + ascii.size(), result);
  if (ec != std::errc() || end != ascii.data() + ascii.size()) return false;
  value = result;
  return true;
}

bool ParseIniBoolNumber(std::u16string_view text, int32_t& value) {
  size_t i = 0;
  bool negative = false;
  if (i < text.size() && text[i] == u'-') {
    negative = true;
    ++i;
  }
  if (i == text.size()) return false;
  int64_t magnitude = 0;
  for (; i < text.size(); ++i) {
    if (!IsDigit(text[i])) return false;
    magnitude = magnitude * 10 + (text[i] - u'0');
    if (magnitude > 0x80000000ll) return false;
  }
  if (!negative && magnitude > 0x7FFFFFFFll) return false;
  value = static_cast<int32_t>(negative ? -magnitude : magnitude);
  return true;
}

} // namespace kiv

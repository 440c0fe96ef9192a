#pragma once
// Value syntax of the typed reads: integers, floats, the numbers of ReadBool, comma-separated lists.

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace kiv {

// Optional leading blanks, optional sign, decimal digits or hexadecimal after "$", "x", "X", "0x", "0X";
// the whole text must be consumed. Hexadecimal takes up to 32 bits (FFFFFFFF is -1).
bool ParseIniInteger(std::u16string_view text, int32_t& value);
// Decimal number with "." and an optional exponent; the whole text must be consumed.
bool ParseIniFloat(std::u16string_view text, double& value);
// Optional "-" and decimal digits only, within 32 bits.
bool ParseIniBoolNumber(std::u16string_view text, int32_t& value);

// Calls item(index, text) for each item of a comma-separated list; items start at their first non-blank
// character and end at the next ",". An empty text is one empty item. Returns the number of items, or
// -(i + 1) when item(i, ...) returned false.
template <class F> int ForEachIniListItem(std::u16string_view text, F&& item) {
  size_t index = 0;
  size_t pos = 0;
  while (true) {
    while (pos < text.size() && (text[pos] == u' ' || text[pos] == u'\t'))
      ++pos;
    size_t comma = text.find(u',', pos);
    size_t end = comma == std::u16string_view::npos ? text.size() : comma;
    if (!item(index, text.substr(pos, end - pos))) return -static_cast<int>(index + 1);
    ++index;
    if (comma == std::u16string_view::npos) return static_cast<int>(index);
    pos = comma + 1;
  }
}

} // namespace kiv

#pragma once
// Case folding for names: ASCII through a fixed table, every other BMP code unit through
// Unicode simple case folding. Surrogates are left alone.

#include <string>
#include <string_view>

namespace kiv {

char16_t FoldCase(char16_t c) noexcept;
std::u16string LowerCase(std::u16string_view text);
// Case-insensitive equality under the same folding.
bool SameText(std::u16string_view a, std::u16string_view b) noexcept;

} // namespace kiv

#pragma once
// UTF-8 <-> UTF-16 for the OS boundary, messages and tests.
// The strict, streaming decoder of description files lives with the text readers.

#include <string>
#include <string_view>

namespace kiv {

// Lenient: a malformed sequence becomes U+FFFD. Code points above U+FFFF become surrogate pairs.
std::u16string Utf8ToUtf16(std::string_view text);
// Strict: false on any malformed sequence (out is left partly filled).
bool TryUtf8ToUtf16(std::string_view text, std::u16string& out);
// Pairs are combined; an unpaired surrogate is written in its own 3-byte form.
std::string Utf16ToUtf8(std::u16string_view text);

// Appends the shortest UTF-8 form of one code point (0..0x10FFFF).
void AppendUtf8(std::string& out, char32_t codePoint);

} // namespace kiv

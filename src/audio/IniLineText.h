#pragma once
// A description document written on one line, so that it can travel wherever a file name is expected
// (the composite music text), and the composite mark that opens such a text.
//
// Every "/" of the document is doubled and every line break becomes "/n"; reading undoes both and hands
// the lines to the document's own reader, so a line is understood exactly as in a description file.

#include "IniDocument.h"

#include <string>
#include <string_view>
#include <vector>

namespace kiv {

class TIni2Str {
public:
  // The document's lines on one line; "" when the document cannot be written.
  static std::u16string ToLine(const TIniStorage& document);
  static std::u16string JoinLines(const std::vector<std::u16string>& lines);
  // The lines of a one-line text. A "/" followed by neither "/" nor "n" (or at the end) is kept as it is.
  static std::vector<std::u16string> LinesOf(std::u16string_view line);
  // Clears the document and reads it from a one-line text; false when the text could not be read.
  static bool FromLine(std::u16string_view line, TIniFile& document);
};

// The 36 characters that open every composite music text.
inline constexpr std::u16string_view kCompositeMark = u"9213AB40-17BB-458F-9C4C-1806F44BEB65";

bool IsCompositeText(std::u16string_view name) noexcept;
// UTF-8 names (as the sound channels get them) compare the same way: the mark is plain ASCII.
bool IsCompositeText(std::string_view name) noexcept;

// The one-line documents of the composite texts that follow one another in the string, each without its
// mark, in order. None when the string does not begin with the mark.
std::vector<std::u16string_view> SplitCompositeTexts(std::u16string_view text);

// The mark followed by the document on one line; "" when the document cannot be written.
std::u16string CompositeTextOf(const TIniStorage& document);

} // namespace kiv

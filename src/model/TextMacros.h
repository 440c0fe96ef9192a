#pragma once
// Macros in slide texts, written between "<%" and "%>": replaced when the slide is built by facts about
// the slide and its main picture, which the parser's owner supplies.

#include "PictureMetadata.h"

#include <functional>
#include <string>
#include <string_view>

namespace kiv {

class TKivObject;
class TKivImageObject;

class TMTParser {
public:
  // The value of a primary macro, asked by its name as written in the table ("<%SlideIndex%>"); the
  // derived macros ask for "<%MainImg.PathNameExt%>" and for the EXIF date-time, "<%MainImg.Exif.DateTime%>".
  using TValueFunc = std::function<std::u16string(const TMTParser& parser, std::u16string_view macro)>;

  explicit TMTParser(TValueFunc value) : value_(std::move(value)) {}

  // Every macro replaced, matched without regard to case. Replaced text is not scanned again, so a value
  // that holds "<%" (picture metadata) stays as it is. An expansion that yields the empty text yields a
  // single blank. A parser without a value callback is a programming error.
  std::u16string Expand(std::u16string_view text) const;

private:
  TValueFunc value_;
};

// The EXIF date-time macro the derived date and time macros ask for.
inline constexpr std::u16string_view kExifDateTimeMacro = u"<%MainImg.Exif.DateTime%>";

// The main picture of the slide an object is on: the first image object, parent before children, whose
// ImageIndex is set; nullptr when there is none.
TKivImageObject* FindMainImage(const TKivObject& object);

// The metadata of a main picture, read once per picture name.
struct TMacroMetadata {
  std::u16string pictureName; // the name read for
  bool read = false;
  TExif exif;
  TIptcRecords iptc;
};

// The value of a primary macro for an object on a slide (the text objects' answer); metadata is read
// into the cache on first use.
std::u16string SlideMacroValue(const TKivObject& object, std::u16string_view macro, TMacroMetadata& cache);
// A text with its macros replaced for an object on a slide.
std::u16string ExpandSlideText(const TKivObject& object, std::u16string_view text, TMacroMetadata& cache);

} // namespace kiv

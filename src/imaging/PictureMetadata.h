#pragma once
// The metadata texts of a JPEG picture that slide texts can show: fields of its EXIF block (APP1, either
// byte order) and its IPTC records (the Photoshop resource block of APP13).

#include "Streams.h"

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace kiv {

// EXIF tags read.
inline constexpr uint16_t kExifImageDescription = 270;
inline constexpr uint16_t kExifDateTime = 306;
inline constexpr uint16_t kExifUserComment = 37510;

class TExif {
public:
  // Reads the EXIF block of a JPEG; false (and no fields) when the stream holds none.
  bool Read(std::string_view jpeg);
  // The text of a tag; empty when the picture has none.
  std::u16string Field(uint16_t tag) const;

private:
  std::map<uint16_t, std::u16string> fields_;
};

// IPTC datasets of record 2, each with its values in file order.
class TIptcRecords {
public:
  bool Read(std::string_view jpeg);
  // The first value of a dataset of record 2; empty when there is none.
  std::u16string First(uint8_t dataset) const;
  // Repeated datasets' values.
  const std::vector<std::u16string>* All(uint8_t dataset) const;

private:
  std::map<uint8_t, std::vector<std::u16string>> datasets_;
};

// The head of a picture file that holds its metadata segments (everything before the image data),
// bounded: metadata never lies beyond a few segments of 64 KiB.
std::string ReadPictureHead(TStream& stream);

} // namespace kiv

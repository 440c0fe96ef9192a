#pragma once
// Writes packed shows: stored files one after the other, then the raw-deflate structure document and the
// trailer. The counterpart of TKivUnpack, used by the show tool and by tests.

#include "IniDocument.h"
#include "PackedShowReader.h"
#include "Streams.h"

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace kiv {

// The "kivversion" our tools write.
inline constexpr std::u16string_view kKivPackVersion = u"1.0 kivviewer";

class TKivPacker {
public:
  // out receives the show from its current position on; positions are recorded relative to the stream's
  // start, so a show written behind a prefix that is not itself stored needs form B or a shift.
  explicit TKivPacker(TStream& out) : out_(out) {}

  // Stores size bytes of source from its position under name (the name as the project refers to it;
  // brackets are replaced in the structure). Raises kiv::Exception for a duplicate or unusable name and
  // when the show outgrows the 32-bit positions of the structure.
  void Add(std::u16string_view name, TStream& source, int64_t size, uint8_t method);
  void Add(std::u16string_view name, std::span<const uint8_t> data, uint8_t method);

  // Writes the structure block and the trailer.
  void Finish(TTrailerForm form, std::u16string_view version = kKivPackVersion);

private:
  TIniSection& NewSection(std::u16string_view name);
  void Record(TIniSection& section, int64_t position, int64_t size, uint8_t method);

  TStream& out_;
  TIniFile doc_;
};

} // namespace kiv

#pragma once
// The packed show: a trailer at the end of a file points to a raw-deflate structure document that lists
// every stored file with its position, size and packing method. TKivUnpack reads one such container and
// opens its stored files as streams.

#include "IniDocument.h"
#include "ObjectBase.h"
#include "PositionedFileStream.h"
#include "Streams.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

namespace kiv {

// The structure document of an open container; shared by reference, read-only once loaded.
class TUnpackStruc : public TRefObj {
public:
  TUnpackStruc() = default;
  // Parses the inflated structure text.
  void LoadFromStream(TStream& stream) { doc_.LoadFromStream(stream); }
  const TIniFile& Doc() const { return doc_; }

private:
  TIniFile doc_;
};

enum class TTrailerForm { None, A, B };

// Where a stored file lies, in absolute file positions.
struct TKivEntryInfo {
  bool found = false; // the section exists and has a usable position and size
  int64_t position = -1;
  int64_t size = -1;
  uint8_t method = 0; // 0 stored, 1 raw deflate, 2 XOR with the show key
};

// The trailer as found at the end of a file.
struct TKivTrailer {
  TTrailerForm form = TTrailerForm::None;
  int64_t end = 0;       // E: where the magic ends
  int64_t baseShift = 0; // S0: moves the recorded structure position to the actual one
};

inline constexpr char kKivMagic[4] = {'.', 'd', 'n', 'e'};
inline constexpr std::u16string_view kProtectionSection = u"$protection$";

// Reads the trailer of a stream; form None when there is none.
TKivTrailer FindTrailer(TStream& stream);

// "[" -> "<" and "]" -> ">": the form under which a name stands in the structure document.
std::u16string ToStructureName(std::u16string_view name);

class TKivUnpack : public TObj {
public:
  // The key of packing method 2, used as the byte values of its 32 characters.
  static constexpr std::string_view kKey = "5E3A0C7D91B24F68A0D3C5E71F8B2946";
  // Inflating into memory is bounded so that a few bytes of damaged or hostile data cannot claim the
  // machine's memory. Genuine deflate data never expands more than about 1032 times.
  static constexpr int64_t kMaxStructureSize = int64_t{64} << 20;
  static constexpr int64_t kMaxEntrySize = int64_t{1} << 30;
  static constexpr int64_t kMaxInflateRatio = 1100;

  // Opens and checks the container; see IsOpen and Message. Damaged deflate data in the structure block
  // raises EInflateError, as the zlib binding does.
  explicit TKivUnpack(std::string fileName);

  bool IsOpen() const noexcept { return file_ != nullptr; }
  // "Slideshow File not Found", "Slide-show File Damaged", or empty (not a packed show, or open).
  const std::string& Message() const noexcept { return message_; }
  const std::u16string& Version() const noexcept { return version_; }
  const std::string& FileName() const noexcept { return fileName_; }
  int64_t End() const noexcept { return trailer_.end; }
  TTrailerForm Form() const noexcept { return trailer_.form; }
  int64_t BaseShift() const noexcept { return trailer_.baseShift; }
  // Added to every recorded position: how far the stored files moved since the show was written.
  int64_t Shift() const noexcept { return shift_; }
  // A: the absolute position of the structure block.
  int64_t StrucPosition() const noexcept { return strucPosition_; }
  TRef<TUnpackStruc> Struc() const { return struc_; }

  // The section named by name (brackets replaced); found only with a usable position and size.
  TKivEntryInfo EntryInfo(std::u16string_view name) const;
  // The same for one section of the structure document (which may be one of several of the same name).
  TKivEntryInfo EntryInfo(const TIniSection& section) const;
  // A fresh read-only stream over the stored file, or nullptr when the entry is missing or incomplete.
  // It reads the file opened here, with positioned reads and a position of its own, so a show replaced on
  // disk meanwhile is never read with this one's positions; it may outlive this object. Stream errors
  // ("Insufficient Source Size", EInflateError) pass to the caller. Safe to call from several threads at
  // once; method-1 entries inflate on the calling thread, under no lock.
  TStreamPtr OpenEntry(std::u16string_view name) const;
  TStreamPtr OpenEntry(std::string_view utf8Name) const;

  // The stored file's limit when inflated into memory.
  static int64_t InflateLimit(int64_t storedSize);

private:
  void Open();
  TKivEntryInfo Info(const TIniSection& section) const;

  std::string fileName_;
  std::shared_ptr<const TSharedFile> file_; // the container, set once when it opens; nullptr when not open
  TKivTrailer trailer_;
  int64_t shift_ = 0;
  int64_t strucPosition_ = 0;
  TRef<TUnpackStruc> struc_;
  std::u16string version_;
  std::string message_;
  mutable std::mutex lookupLock_; // lookups only; reading runs outside it on per-entry positions
};

// Opens a container only to read its "kivversion". Any failure means "not a packed show".
bool ReadShowVersion(const std::string& fileName, std::u16string& version);

} // namespace kiv

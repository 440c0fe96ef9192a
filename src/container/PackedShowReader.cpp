#include "PackedShowReader.h"

#include "StreamViews.h"
#include "Utf8Conversion.h"

#include <algorithm>
#include <charconv>
#include <cstring>

namespace kiv {
namespace {

constexpr std::string_view kNotFound = "Slideshow File not Found";
constexpr std::string_view kDamaged = "Slide-show File Damaged";

int64_t ReadInt64At(TStream& stream, int64_t position) {
  uint8_t bytes[8];
  stream.SetPosition(position);
  stream.ReadBuffer(bytes, 8);
  uint64_t value = 0;
  for (int i = 7; i >= 0; --i)
    value = (value << 8) | bytes[i];
  return static_cast<int64_t>(value);
}

bool MagicAt(TStream& stream, int64_t position) {
  char bytes[4];
  stream.SetPosition(position);
  return stream.Read(bytes, 4) == 4 && std::memcmp(bytes, kKivMagic, 4) == 0;
}

// "strucpos" as a 64-bit decimal integer with an optional sign; nothing else may follow.
bool ParseStrucPos(std::u16string_view text, int64_t& value) {
  std::string ascii;
  for (char16_t c : text) {
    if (c > 0x7F) return false;
    ascii += static_cast<char>(c);
  }
  std::string_view digits = ascii;
  if (!digits.empty() && digits.front() == '+') digits.remove_prefix(1);
  if (digits.empty()) return false;
  auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
  return ec == std::errc() && end == digits.data() + digits.size();
}

} // namespace

TKivTrailer FindTrailer(TStream& stream) {
  TKivTrailer trailer;
  const int64_t size = stream.GetSize();
  if (size >= 4 && MagicAt(stream, size - 4)) {
    trailer.form = TTrailerForm::A;
    trailer.end = size;
  } else if (size >= 12 && MagicAt(stream, size - 12)) {
    const int64_t written = ReadInt64At(stream, size - 8);
    trailer.end = size - 8;
    trailer.form = TTrailerForm::B;
    // A recorded end beyond any reach saturates, so that the structure position check rejects it.
    if (__builtin_sub_overflow(trailer.end, written, &trailer.baseShift))
      trailer.baseShift = written < 0 ? INT64_MAX : INT64_MIN;
  }
  return trailer;
}

std::u16string ToStructureName(std::u16string_view name) {
  std::u16string result(name);
  std::replace(result.begin(), result.end(), u'[', u'<');
  std::replace(result.begin(), result.end(), u']', u'>');
  return result;
}

TKivUnpack::TKivUnpack(std::string fileName) : fileName_(std::move(fileName)) {
  Open();
}

void TKivUnpack::Open() {
  std::shared_ptr<const TSharedFile> file;
  try {
    file = TSharedFile::Open(fileName_);
  } catch (const EStreamError&) {
    message_ = kNotFound;
    return;
  }
  TPositionedFileStream stream(file);
  int64_t start = 0;
  try {
    trailer_ = FindTrailer(stream);
    if (trailer_.form == TTrailerForm::None) return;
    // The structure block must lie inside the file, before the recorded position it is found through.
    const int64_t recorded = trailer_.end >= 12 ? ReadInt64At(stream, trailer_.end - 12) : -1;
    if (__builtin_add_overflow(recorded, trailer_.baseShift, &start) || start < 0 ||
        start > trailer_.end - 12) {
      message_ = kDamaged;
      return;
    }
  } catch (const EStreamError&) {
    message_ = kNotFound; // the file could be opened but not read
    return;
  }
  strucPosition_ = start;

  TMemoryStream text;
  stream.SetPosition(start);
  InflateRaw(stream, trailer_.end - 12 - start, text, kMaxStructureSize);
  text.SetPosition(0);
  struc_ = TRef<TUnpackStruc>::Make();
  struc_->LoadFromStream(text);

  const TIniFile& doc = struc_->Doc();
  const std::u16string strucPos = doc.ReadString(kProtectionSection, u"strucpos", u"");
  if (!strucPos.empty() && strucPos != Utf8ToUtf16(std::to_string(start))) {
    int64_t written = 0;
    // A negative value would move the stored files past the end of any file (and overflow the shift).
    if (!ParseStrucPos(strucPos, written) || written > start || written < 0) {
      message_ = kDamaged;
      struc_.reset();
      return;
    }
    shift_ = start - written;
  }
  version_ = doc.ReadString(kProtectionSection, u"kivversion", u"");
  file_ = std::move(file);
}

TKivEntryInfo TKivUnpack::EntryInfo(std::u16string_view name) const {
  if (!IsOpen()) return {};
  const std::u16string key = ToStructureName(name);
  std::lock_guard lock(lookupLock_);
  const TIniSection* section = struc_->Doc().FindSection(key);
  return section ? Info(*section) : TKivEntryInfo{};
}

TKivEntryInfo TKivUnpack::EntryInfo(const TIniSection& section) const {
  std::lock_guard lock(lookupLock_);
  return Info(section);
}

TKivEntryInfo TKivUnpack::Info(const TIniSection& section) const {
  TKivEntryInfo info;
  const int32_t position = section.ReadInteger(u"_ps", -1);
  const int32_t size = section.ReadInteger(u"_sz", -1);
  info.method = static_cast<uint8_t>(section.ReadInteger(u"_pm", 0));
  // Checked before the shift: a missing position of -1 plus a shift would look valid.
  if (position < 0 || size < 0) return info;
  info.found = true;
  info.position = position + shift_;
  info.size = size;
  return info;
}

int64_t TKivUnpack::InflateLimit(int64_t storedSize) {
  return std::min(kMaxEntrySize, std::max<int64_t>(int64_t{1} << 16, storedSize * kMaxInflateRatio));
}

TStreamPtr TKivUnpack::OpenEntry(std::u16string_view name) const {
  const TKivEntryInfo info = EntryInfo(name);
  if (!info.found) return nullptr;
  auto window = MakeOwned<TPartialStream>(MakeOwned<TPositionedFileStream>(file_), info.position, info.size);
  switch (info.method) {
  case 1: {
    auto memory = MakeOwned<TMemoryStream>();
    InflateRaw(*window, info.size, *memory, InflateLimit(info.size));
    memory->SetPosition(0);
    return memory;
  }
  case 2:
    return MakeOwned<TCryptStream>(std::move(window), std::string(kKey));
  default:
    return window;
  }
}

TStreamPtr TKivUnpack::OpenEntry(std::string_view utf8Name) const {
  return OpenEntry(Utf8ToUtf16(utf8Name));
}

bool ReadShowVersion(const std::string& fileName, std::u16string& version) {
  try {
    TKivUnpack unpack(fileName);
    if (!unpack.IsOpen()) return false;
    version = unpack.Version();
    return true;
  } catch (...) {
    return false;
  }
}

} // namespace kiv

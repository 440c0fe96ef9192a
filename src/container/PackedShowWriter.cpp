#include "PackedShowWriter.h"

#include "StreamViews.h"
#include "Utf8Conversion.h"

#include <algorithm>
#include <limits>
#include <vector>

namespace kiv {
namespace {

std::u16string Decimal(int64_t value) {
  return Utf8ToUtf16(std::to_string(value));
}

void WriteInt64(TStream& out, int64_t value) {
  uint8_t bytes[8];
  for (int i = 0; i < 8; ++i)
    bytes[i] = static_cast<uint8_t>(static_cast<uint64_t>(value) >> (8 * i));
  out.WriteBuffer(bytes, 8);
}

// The structure records positions and sizes as signed 32-bit numbers.
void CheckFits(int64_t value) {
  if (value > std::numeric_limits<int32_t>::max()) throw Exception("The show is too large for its structure");
}

} // namespace

TIniSection& TKivPacker::NewSection(std::u16string_view name) {
  const std::u16string structureName = ToStructureName(name);
  // A name the section header cannot hold unchanged could not be found again.
  const bool blankEdge =
      !structureName.empty() && (structureName.front() <= u' ' || structureName.back() <= u' ');
  const bool control =
      std::any_of(structureName.begin(), structureName.end(), [](char16_t c) { return c < u' '; });
  if (structureName.empty() || blankEdge || control || structureName == kProtectionSection)
    throw Exception("Unusable entry name \"" + Utf16ToUtf8(name) + "\"");
  if (doc_.FindSection(structureName)) throw Exception("Duplicate entry name \"" + Utf16ToUtf8(name) + "\"");
  return *doc_.AddSection(structureName);
}

void TKivPacker::Record(TIniSection& section, int64_t position, int64_t size, uint8_t method) {
  CheckFits(position);
  CheckFits(size);
  section.WriteString(u"_ps", Decimal(position));
  section.WriteString(u"_sz", Decimal(size));
  section.WriteString(u"_pm", Decimal(method));
}

void TKivPacker::Add(std::u16string_view name, TStream& source, int64_t size, uint8_t method) {
  TIniSection& section = NewSection(name);
  const int64_t position = out_.GetPosition();
  CheckFits(position);
  if (method == 1) {
    std::vector<uint8_t> data(static_cast<size_t>(size));
    source.ReadBuffer(data.data(), size);
    const std::vector<uint8_t> packed = DeflateRaw(data.data(), data.size());
    out_.WriteBuffer(packed.data(), static_cast<int64_t>(packed.size()));
    Record(section, position, static_cast<int64_t>(packed.size()), method);
    return;
  }
  CheckFits(size);
  const std::vector<uint8_t> pattern =
      method == 2 ? TCryptStream::MakePattern(std::string(TKivUnpack::kKey)) : std::vector<uint8_t>();
  std::vector<uint8_t> chunk(static_cast<size_t>(std::clamp<int64_t>(size, 1, 1 << 20)));
  for (int64_t done = 0; done < size;) {
    const int64_t n = std::min<int64_t>(size - done, static_cast<int64_t>(chunk.size()));
    source.ReadBuffer(chunk.data(), n);
    if (method == 2) TCryptStream::Apply(chunk.data(), n, done, pattern, TKivUnpack::kKey.size());
    out_.WriteBuffer(chunk.data(), n);
    done += n;
  }
  Record(section, position, size, method);
}

void TKivPacker::Add(std::u16string_view name, std::span<const uint8_t> data, uint8_t method) {
  TMemoryStream source(std::vector<uint8_t>(data.begin(), data.end()));
  Add(name, source, static_cast<int64_t>(data.size()), method);
}

void TKivPacker::Finish(TTrailerForm form, std::u16string_view version) {
  const int64_t strucPos = out_.GetPosition();
  doc_.WriteString(kProtectionSection, u"kivversion", version);
  doc_.WriteString(kProtectionSection, u"strucpos", Decimal(strucPos));
  TMemoryStream text;
  if (!doc_.SaveToStream(text)) throw Exception("Cannot write the structure document");
  const std::vector<uint8_t> packed = DeflateRaw(text.Data().data(), text.Data().size());
  out_.WriteBuffer(packed.data(), static_cast<int64_t>(packed.size()));
  WriteInt64(out_, strucPos);
  out_.WriteBuffer(kKivMagic, 4);
  if (form == TTrailerForm::B) WriteInt64(out_, out_.GetPosition());
}

} // namespace kiv

#include "CompositeMusic.h"

#include "IniLineText.h"
#include "Utf8Conversion.h"

#include <algorithm>

namespace kiv {

namespace {

std::u16string Number(int64_t value) {
  return Utf8ToUtf16(std::to_string(value));
}

int32_t Int32Of(int64_t value) {
  return static_cast<int32_t>(std::clamp<int64_t>(value, INT32_MIN, INT32_MAX));
}

int64_t ReadMs(const TIniStorage& document, std::u16string_view section, std::u16string_view key) {
  return std::clamp<int64_t>(document.ReadInteger(section, key, 0), -kCompositeMaxMs, kCompositeMaxMs);
}

} // namespace

bool TCompositeParams::Parse(std::string_view utf8Text) {
  std::u16string text;
  if (!TryUtf8ToUtf16(utf8Text, text)) text = Utf8ToUtf16(utf8Text);
  return Parse(std::u16string_view(text));
}

bool TCompositeParams::Parse(std::u16string_view text) {
  items_.clear();
  mainVolumes.Clear();
  duration = 0;
  for (const std::u16string_view line : SplitCompositeTexts(text)) {
    // A text that cannot be read adds nothing; the texts after it still follow the ones before.
    ParseOne(line, duration);
  }
  return duration > 0 && !items_.empty();
}

bool TCompositeParams::ParseOne(std::u16string_view line, int64_t shift) {
  TIniFile document;
  if (!TIni2Str::FromLine(line, document)) return false;
  const TEnvelopeSections sections(document);
  const int64_t length =
      std::clamp<int64_t>(document.ReadInteger(u"Main", u"Duration", 0), 0, kCompositeMaxMs);
  for (int32_t n = 0;; ++n) {
    const std::u16string section = Number(n);
    const std::u16string name = document.ReadString(section, u"FileName", u"");
    if (name.empty()) break;
    TCompositeItem& item = AddItem(Utf16ToUtf8(name), shift + ReadMs(document, section, u"TimeLine"));
    item.beginTime = std::max<int64_t>(0, ReadMs(document, section, u"BeginTime"));
    // A negative duration reads as 0: to the end of the file.
    item.duration = std::max<int64_t>(0, ReadMs(document, section, u"Duration"));
    // A list that cannot be read leaves the member with the automatic envelope alone.
    if (!item.volumes.ReadFrom(document, sections, section, section)) item.volumes.Clear();
  }
  TVolumeParamsList main(false);
  if (main.ReadFrom(document, sections, u"MainVolume", u"MainVolume") && main.Count() > 0) {
    // A later text's envelopes over the whole replace an earlier one's, unshifted.
    mainVolumes = main;
  }
  duration = std::min(duration + length, kCompositeMaxMs);
  return true;
}

TCompositeItem& TCompositeParams::AddItem(const std::string& fileName, int64_t timeLine) {
  items_.push_back(NewItem());
  items_.back()->fileName = fileName;
  items_.back()->timeLine = timeLine;
  return *items_.back();
}

std::u16string TCompositeParams::ToText() const {
  TIniStorage document;
  document.WriteInteger(u"Main", u"Duration", Int32Of(duration));
  for (size_t n = 0; n < items_.size(); ++n) {
    const TCompositeItem& item = *items_[n];
    const std::u16string section = Number(static_cast<int64_t>(n));
    document.WriteString(section, u"FileName", Utf8ToUtf16(item.fileName));
    document.WriteInteger(section, u"TimeLine", Int32Of(item.timeLine));
    document.WriteInteger(section, u"BeginTime", Int32Of(item.beginTime));
    document.WriteInteger(section, u"Duration", Int32Of(item.duration));
    item.volumes.WriteTo(document, section, section);
  }
  if (mainVolumes.WrittenCount() > 0) mainVolumes.WriteTo(document, u"MainVolume", u"MainVolume");
  return CompositeTextOf(document);
}

void TCompositeParams::Describe(TMediaInfo& info) const {
  info = TMediaInfo();
  info.type = TMediaType::Composite;
  info.duration = static_cast<uint32_t>(std::clamp<int64_t>(duration, 0, kCompositeMaxMs));
  info.waveFormat = StandardWaveFormat();
  info.dataSize = static_cast<uint32_t>(std::min<int64_t>(StandardBytesAt(duration), UINT32_MAX));
}

} // namespace kiv

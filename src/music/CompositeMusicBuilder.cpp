#include "CompositeMusicBuilder.h"

#include "IniDocument.h"
#include "IniLineText.h"
#include "IniValueSyntax.h"
#include "RoundHalfEven.h"
#include "Utf8Conversion.h"

#include <charconv>
#include <cmath>

namespace kiv {
namespace {

std::u16string NumberText(double value) {
  if (!std::isfinite(value)) value = 0;
  if (value == std::trunc(value) && std::fabs(value) < 9.0e15)
    return Utf8ToUtf16(std::to_string(static_cast<int64_t>(value)));
  char buffer[64];
  const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value);
  return Utf8ToUtf16(std::string_view(buffer, ec == std::errc() ? static_cast<size_t>(end - buffer) : 0));
}

std::u16string_view Trimmed(std::u16string_view text) {
  while (!text.empty() && (text.front() == u' ' || text.front() == u'\t'))
    text.remove_prefix(1);
  while (!text.empty() && (text.back() == u' ' || text.back() == u'\t'))
    text.remove_suffix(1);
  return text;
}

// "FadeCount" in the owner section and one section per point, named prefix + k + "_" + j.
void WriteEnvelopes(TIniStorage& document, std::u16string_view ownerSection, std::u16string_view prefix,
                    const std::vector<TVolumeEnvelope>& envelopes) {
  int written = 0;
  for (const TVolumeEnvelope& envelope : envelopes) {
    if (envelope.empty()) continue;
    const std::u16string envelopeName = std::u16string(prefix) + NumberText(written) + u"_";
    for (size_t j = 0; j < envelope.size(); ++j) {
      const std::u16string section = envelopeName + NumberText(static_cast<double>(j));
      document.WriteString(section, u"0", NumberText(envelope[j].time));
      document.WriteString(section, u"1", NumberText(envelope[j].volume));
    }
    ++written;
  }
  document.WriteString(ownerSection, u"FadeCount", NumberText(written));
}

} // namespace

TVolumeEnvelope VolumeParamsEnvelope(std::u16string_view text, double beginTime) {
  TVolumeEnvelope envelope;
  size_t start = 0;
  while (start <= text.size()) {
    size_t comma = text.find(u',', start);
    if (comma == std::u16string_view::npos) comma = text.size();
    const std::u16string_view pair = text.substr(start, comma - start);
    start = comma + 1;
    const size_t colon = pair.find(u':');
    if (colon == std::u16string_view::npos) continue;
    double position = 0;
    double volume = 0;
    if (!ParseIniFloat(Trimmed(pair.substr(0, colon)), position) ||
        !ParseIniFloat(Trimmed(pair.substr(colon + 1)), volume) || !std::isfinite(position) ||
        !std::isfinite(volume))
      continue;
    TVolumePoint point{RoundEven(position / 44100.0 * 1000.0) - beginTime,
                       RoundEven(volume / 65536.0 * 1000.0)};
    if (!envelope.empty() && point.time <= envelope.back().time) point.time = envelope.back().time + 1;
    envelope.push_back(point);
  }
  return envelope;
}

TCompositeMember& TCompositeMusicBuilder::AddItem(std::u16string fileName, double timeLine) {
  TCompositeMember& member = members_.emplace_back();
  member.fileName = std::move(fileName);
  member.timeLine = timeLine;
  return member;
}

TVolumeEnvelope& TCompositeMusicBuilder::AddMainEnvelope() {
  return mainEnvelopes_.emplace_back();
}

std::u16string TCompositeMusicBuilder::ToText() const {
  TIniStorage document;
  document.WriteString(u"Main", u"Duration", NumberText(duration_));
  int number = 0;
  for (const TCompositeMember& member : members_) {
    if (member.fileName.empty()) continue;
    const std::u16string section = NumberText(number);
    document.WriteString(section, u"FileName", member.fileName);
    document.WriteString(section, u"TimeLine", NumberText(member.timeLine));
    document.WriteString(section, u"BeginTime", NumberText(member.beginTime));
    document.WriteString(section, u"Duration", NumberText(member.duration));
    WriteEnvelopes(document, section, u"Vol_" + section + u"_", member.envelopes);
    ++number;
  }
  bool anyMain = false;
  for (const TVolumeEnvelope& envelope : mainEnvelopes_)
    anyMain = anyMain || !envelope.empty();
  if (anyMain) WriteEnvelopes(document, u"MainVolume", u"Vol_MainVolume_", mainEnvelopes_);
  return CompositeTextOf(document);
}

} // namespace kiv

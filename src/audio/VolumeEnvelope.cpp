#include "VolumeEnvelope.h"

#include "RoundHalfEven.h"
#include "Utf8Conversion.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>

namespace kiv {

namespace {

constexpr int64_t kDeclickMs = 10;

std::u16string FoldAscii(std::u16string_view text) {
  std::u16string folded(text);
  for (char16_t& c : folded)
    if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
  return folded;
}

std::u16string Number(int64_t value) {
  return Utf8ToUtf16(std::to_string(value));
}

std::u16string PointSection(std::u16string_view prefix, int64_t envelope, int64_t point) {
  return u"Vol_" + std::u16string(prefix) + u"_" + Number(envelope) + u"_" + Number(point);
}

// A decimal number without sign; false for anything else.
bool ParseCount(std::u16string_view text, int32_t& value) {
  if (text.empty() || text.size() > 9) return false;
  value = 0;
  for (const char16_t c : text) {
    if (c < u'0' || c > u'9') return false;
    value = value * 10 + (c - u'0');
  }
  return true;
}

bool ParseNumber(std::u16string_view text, double& value) {
  std::string narrow;
  for (const char16_t c : text) {
    if (c == u' ' || c == u'\t') continue;
    if (c > 127) return false;
    narrow += static_cast<char>(c);
  }
  if (narrow.empty()) return false;
  const char* end = narrow.data() + narrow.size();
  const auto result = std::from_chars(narrow.data(), end, value);
  return result.ec == std::errc() && result.ptr == end && std::isfinite(value);
}

int32_t ClampToInt(double value) {
  return static_cast<int32_t>(std::clamp(value, double(std::numeric_limits<int32_t>::min()),
                                         double(std::numeric_limits<int32_t>::max())));
}

} // namespace

int64_t StandardBytesAt(int64_t ms) {
  // 44.1 frames per ms, rounded down (also below 0), 4 bytes per frame.
  const int64_t tenths = ms * 441;
  const int64_t frames = tenths >= 0 ? tenths / 10 : -((-tenths + 9) / 10);
  return frames * 4;
}

// TVolumeParams ------------------------------------------------------------------------------------------

void TVolumeParams::Compile(int64_t durationMs) {
  std::vector<TVolumeItem> points = points_;
  std::stable_sort(points.begin(), points.end(),
                   [](const TVolumeItem& a, const TVolumeItem& b) { return a.time < b.time; });
  const int32_t endVolume = points.empty() ? 1000 : points.back().volume;
  points.push_back({static_cast<int32_t>(std::clamp<int64_t>(durationMs, std::numeric_limits<int32_t>::min(),
                                                             std::numeric_limits<int32_t>::max())),
                    endVolume});
  std::stable_sort(points.begin(), points.end(),
                   [](const TVolumeItem& a, const TVolumeItem& b) { return a.time < b.time; });
  // Of points at the same time the later one counts.
  std::vector<TVolumeItem> kept;
  for (size_t i = 0; i < points.size(); ++i)
    if (i + 1 == points.size() || points[i + 1].time != points[i].time) kept.push_back(points[i]);
  segments_.clear();
  for (size_t i = 0; i < kept.size(); ++i) {
    TVolumeItem2 segment;
    segment.position = StandardBytesAt(kept[i].time);
    segment.gain = kept[i].volume / 1000.0;
    if (i > 0) {
      const int64_t bytes = segment.position - segments_.back().position;
      const double change = double(kept[i].volume) - double(kept[i - 1].volume);
      segment.flat = kept[i].volume == kept[i - 1].volume;
      segment.step = bytes > 0 ? change / (double(bytes) * 250.0) : 0.0;
    }
    segments_.push_back(segment);
  }
  segments_.back().last = true;
  cached_ = 0;
  SetGain(segments_.front().gain);
}

size_t TVolumeParams::SegmentAt(int64_t bytes) {
  const size_t n = segments_.size();
  auto holds = [&](size_t i) {
    return i < n && bytes <= segments_[i].position && (i == 0 || bytes > segments_[i - 1].position);
  };
  if (holds(cached_)) return cached_;
  if (holds(cached_ + 1)) return ++cached_;
  const auto found = std::lower_bound(segments_.begin(), segments_.end(), bytes,
                                      [](const TVolumeItem2& s, int64_t b) { return s.position < b; });
  const size_t index = static_cast<size_t>(found - segments_.begin());
  if (index < n) cached_ = index;
  return index;
}

void TVolumeParams::SetPosition(int64_t bytes) {
  if (segments_.empty()) return SetGain(1.0);
  if (bytes < 0) return SetGain(segments_.front().gain);
  const size_t i = SegmentAt(bytes);
  if (i >= segments_.size()) return SetGain(segments_.back().gain);
  const TVolumeItem2& s = segments_[i];
  SetGain(s.gain - double(s.position - bytes) / 4.0 * s.step);
}

TVolumeParams::TStep TVolumeParams::Step(int64_t bytes) {
  if (segments_.empty()) return {0, true, true};
  if (bytes < 0) {
    SetGain(segments_.front().gain);
    return {0, false, true};
  }
  const size_t i = SegmentAt(bytes);
  if (i >= segments_.size()) return {0, true, true};
  return {segments_[i].step, false, segments_[i].flat};
}

void TVolumeParams::SetGain(double gain) {
  gain_ = gain;
  unity_ = gain > 0.99 && gain < 1.01;
}

// TEnvelopeSections --------------------------------------------------------------------------------------

TEnvelopeSections::TEnvelopeSections(const TIniStorage& document) {
  for (const TIniSection* s = document.FirstSection(); s; s = document.NextSection(s)) {
    const std::u16string_view name = s->NameView();
    if (name.size() < 4 || FoldAscii(name.substr(0, 4)) != u"vol_") continue;
    const std::u16string_view rest = name.substr(4);
    const size_t lastBar = rest.rfind(u'_');
    if (lastBar == std::u16string_view::npos || lastBar == 0) continue;
    const size_t middleBar = rest.rfind(u'_', lastBar - 1);
    if (middleBar == std::u16string_view::npos) continue;
    int32_t envelope = 0, point = 0;
    if (!ParseCount(rest.substr(middleBar + 1, lastBar - middleBar - 1), envelope) ||
        !ParseCount(rest.substr(lastBar + 1), point))
      continue;
    envelopes_[FoldAscii(rest.substr(0, middleBar))].insert(envelope);
  }
}

const std::set<int32_t>* TEnvelopeSections::EnvelopesOf(std::u16string_view owner) const {
  const auto found = envelopes_.find(FoldAscii(owner));
  return found == envelopes_.end() ? nullptr : &found->second;
}

// TVolumeParamsList --------------------------------------------------------------------------------------

TVolumeParamsList::TVolumeParamsList(const TVolumeParamsList& other) : declick_(other.declick_) {
  *this = other;
}

TVolumeParamsList& TVolumeParamsList::operator=(const TVolumeParamsList& other) {
  if (this == &other) return *this;
  declick_ = other.declick_;
  envelopes_.clear();
  for (const auto& e : other.envelopes_)
    envelopes_.push_back(std::make_unique<TVolumeParams>(*e));
  return *this;
}

TVolumeParams& TVolumeParamsList::Add() {
  envelopes_.push_back(std::make_unique<TVolumeParams>());
  return *envelopes_.back();
}

size_t TVolumeParamsList::WrittenCount() const {
  return static_cast<size_t>(
      std::count_if(envelopes_.begin(), envelopes_.end(), [](const auto& e) { return !e->Automatic(); }));
}

void TVolumeParamsList::Compile(int64_t durationMs) {
  durationMs = std::max<int64_t>(durationMs, 0);
  std::erase_if(envelopes_, [](const auto& e) { return e->Automatic(); });
  if (declick_) {
    auto declick = std::make_unique<TVolumeParams>(true);
    const int32_t d =
        static_cast<int32_t>(std::min<int64_t>(durationMs, std::numeric_limits<int32_t>::max()));
    declick->AddPoint(0, 0);
    declick->AddPoint(static_cast<int32_t>(kDeclickMs), 1000);
    declick->AddPoint(d - static_cast<int32_t>(kDeclickMs), 1000);
    declick->AddPoint(d, 0);
    envelopes_.push_back(std::move(declick));
  }
  for (auto& e : envelopes_)
    e->Compile(durationMs);
}

void TVolumeParamsList::SetPosition(int64_t bytes) {
  for (auto& e : envelopes_)
    e->SetPosition(bytes);
}

bool TVolumeParamsList::Step(int64_t bytes) {
  bool finished = true;
  for (auto& e : envelopes_) {
    const TVolumeParams::TStep step = e->Step(bytes);
    if (!step.flat) e->SetGain(e->Gain() + step.step);
    finished = finished && step.finished;
  }
  return finished;
}

double TVolumeParamsList::GetGain(bool& allUnity) const {
  double gain = 1.0;
  allUnity = true;
  for (const auto& e : envelopes_) {
    if (e->Unity()) continue;
    allUnity = false;
    gain *= e->Gain();
  }
  return gain;
}

bool TVolumeParamsList::ReadFrom(const TIniStorage& document, const TEnvelopeSections& sections,
                                 std::u16string_view ownerSection, std::u16string_view prefix) {
  const int32_t count = document.ReadInteger(ownerSection, u"FadeCount", 0);
  if (count < 0 || count > 1000000) return false;
  const std::set<int32_t>* present = sections.EnvelopesOf(prefix);
  if (!present) return true;
  for (const int32_t k : *present) {
    if (k >= count) break;
    auto envelope = std::make_unique<TVolumeParams>();
    for (int32_t j = 0;; ++j) {
      const std::u16string section = PointSection(prefix, k, j);
      const int32_t volume = document.ReadInteger(section, u"1", -1);
      if (volume == -1) break;
      envelope->AddPoint(document.ReadInteger(section, u"0", 0), volume);
    }
    if (!envelope->Points().empty()) envelopes_.push_back(std::move(envelope));
  }
  return true;
}

void TVolumeParamsList::WriteTo(TIniStorage& document, std::u16string_view ownerSection,
                                std::u16string_view prefix) const {
  int32_t k = 0;
  for (const auto& e : envelopes_) {
    if (e->Automatic()) continue;
    for (size_t j = 0; j < e->Points().size(); ++j) {
      const std::u16string section = PointSection(prefix, k, static_cast<int64_t>(j));
      document.WriteInteger(section, u"0", e->Points()[j].time);
      document.WriteInteger(section, u"1", e->Points()[j].volume);
    }
    ++k;
  }
  if (k > 0) document.WriteInteger(ownerSection, u"FadeCount", k);
}

void TVolumeParamsList::AddPairsText(std::u16string_view text, int32_t beginTimeMs) {
  auto envelope = std::make_unique<TVolumeParams>();
  bool any = false;
  double previous = 0;
  size_t start = 0;
  while (start <= text.size()) {
    size_t comma = text.find(u',', start);
    if (comma == std::u16string_view::npos) comma = text.size();
    const std::u16string_view pair = text.substr(start, comma - start);
    start = comma + 1;
    const size_t colon = pair.find(u':');
    double position = 0, volume = 0;
    if (colon == std::u16string_view::npos || !ParseNumber(pair.substr(0, colon), position) ||
        !ParseNumber(pair.substr(colon + 1), volume))
      continue;
    double time = std::clamp(RoundEven(position / 44100.0 * 1000.0) - beginTimeMs, -2e9, 2e9);
    if (any && time <= previous) time = previous + 1;
    previous = time;
    any = true;
    envelope->AddPoint(ClampToInt(time), ClampToInt(RoundEven(volume / 65536.0 * 1000.0)));
  }
  if (any) envelopes_.push_back(std::move(envelope));
}

} // namespace kiv

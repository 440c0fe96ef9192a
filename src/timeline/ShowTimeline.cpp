#include "ShowTimeline.h"

#include "Assert.h"
#include "CaseFolding.h"
#include "ShowPaths.h"
#include "OpenedShow.h"
#include "SlideOrder.h"
#include "Utf8Conversion.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <chrono>
#include <cmath>
#include <limits>
#include <set>
#include <tuple>

namespace kiv {
namespace {

constexpr int32_t kMissing = std::numeric_limits<int32_t>::min();

const TIniIdentList& EmptySection() {
  static const TIniSection empty(u"main");
  return empty;
}

// Switches written as text: only "1" is on.
bool TextFlag(const TIniIdentList& keys, std::u16string_view name, bool defaultValue) {
  return keys.ReadString(name, defaultValue ? u"1" : u"0") == u"1";
}

// Integers held as fractions (smooth line in thousandths, broom offset in hundredths); a key that is
// absent or malformed keeps the current value.
float ReadScaled(const TIniIdentList& keys, std::u16string_view name, float divisor, float current) {
  const int32_t value = keys.ReadInteger(name, kMissing);
  return value == kMissing ? current : static_cast<float>(value) / divisor;
}

float ReadSingle(const TIniIdentList& keys, std::u16string_view name, float current) {
  return static_cast<float>(keys.ReadFloat(name, current));
}

TBGRColor ReadColor(const TIniIdentList& keys, std::u16string_view name, TBGRColor current) {
  const int32_t value = keys.ReadInteger(name, kMissing);
  return value == kMissing ? current : ColorFromRef(value);
}

bool EndsWithScr(const std::string& fileName) {
  const std::u16string lower = LowerCase(Utf8ToUtf16(fileName));
  return lower.size() >= 4 && lower.compare(lower.size() - 4, 4, u".scr") == 0;
}

// The custom transitions that group 19 selects: every integer of its comma-separated text below the
// custom count. Items that are not integers select nothing.
std::set<int> SelectedCustomEffects(std::u16string_view text, int customCount) {
  std::set<int> selected;
  const std::string utf8 = Utf16ToUtf8(text);
  size_t start = 0;
  while (start <= utf8.size()) {
    size_t end = utf8.find(',', start);
    if (end == std::string::npos) end = utf8.size();
    std::string_view item(utf8.data() + start, end - start);
    while (!item.empty() && item.front() == ' ')
      item.remove_prefix(1);
    while (!item.empty() && item.back() == ' ')
      item.remove_suffix(1);
    int k = 0;
    const auto [ptr, ec] = std::from_chars(item.data(), item.data() + item.size(), k);
    if (ec == std::errc() && ptr == item.data() + item.size() && !item.empty() && k >= 0 && k < customCount)
      selected.insert(k);
    start = end + 1;
  }
  return selected;
}

std::u16string Number(int64_t value) {
  return Utf8ToUtf16(std::to_string(value));
}

// Play positions are 32-bit; times far enough in the future saturate instead of wrapping.
int32_t PositionOf(double pass, int32_t count, int32_t index) {
  const double position = pass * count + index;
  if (position >= static_cast<double>(std::numeric_limits<int32_t>::max()))
    return std::numeric_limits<int32_t>::max();
  return static_cast<int32_t>(position);
}

// The smallest pass k >= 0 with passMax + k * total >= time, for total > 0.
double FirstPassReaching(double passMax, double total, double time) {
  double k = std::max(0.0, std::ceil((time - passMax) / total));
  // The division may land one off; settle on the exact comparison.
  if (k > 0 && passMax + (k - 1) * total >= time) k -= 1;
  if (passMax + k * total < time) k += 1;
  return k;
}

} // namespace

std::u16string SlideIdFromPicture(std::u16string_view picture) {
  if (!picture.empty() && picture.back() == u'\\') picture.remove_suffix(1);
  const size_t slash = picture.rfind(u'\\');
  if (slash != std::u16string_view::npos) picture.remove_prefix(slash + 1);
  const size_t dot = picture.rfind(u'.');
  if (dot != std::u16string_view::npos) picture = picture.substr(0, dot);
  return std::u16string(picture);
}

TBGRColor ColorFromRef(int64_t colorRef) noexcept {
  return {static_cast<uint8_t>((colorRef >> 16) & 0xFF), static_cast<uint8_t>((colorRef >> 8) & 0xFF),
          static_cast<uint8_t>(colorRef & 0xFF)};
}

int EffectTypeOf(char16_t c) noexcept {
  if (c >= u'1' && c <= u'8') return c - u'1' + 1;
  if (c >= u'A' && c <= u'H') return c - u'A' + 9;
  if (c >= u'a' && c <= u'h') return c - u'a' + 9;
  return 1;
}

TKivSource::TKivSource(TRef<TFileAccessor> accessor, TIniFile& document, TRef<TSlideOrderRegistry> orders)
    : accessor_(std::move(accessor)), document_(&document),
      orders_(orders ? std::move(orders) : TRef<TSlideOrderRegistry>::Make()) {
  Read();
}

TKivSource::TKivSource(TRef<TFileAccessor> accessor, std::unique_ptr<TIniFile> document,
                       TRef<TSlideOrderRegistry> orders)
    : accessor_(std::move(accessor)), ownedDocument_(std::move(document)), document_(ownedDocument_.get()),
      orders_(orders ? std::move(orders) : TRef<TSlideOrderRegistry>::Make()) {
  Read();
}

void TKivSource::Read() {
  RY_ASSERT(accessor_ && document_);
  generator_.seed(static_cast<std::mt19937::result_type>(
      std::chrono::high_resolution_clock::now().time_since_epoch().count()));
  ApplyScreenSaverMode();
  main_ = document_->FindSection(u"main");
  ReadShowOptions();
  ReadTransitionDefaults();
  BuildTimingTable();
}

void TKivSource::BuildTimingTable() {
  const TIniIdentList& keys = main_ ? *main_ : EmptySection();
  timings_.assign(static_cast<size_t>(slideCount_), TSlideInfo{});
  maxVisibleUntil_.assign(static_cast<size_t>(slideCount_), 0);
  // The transition out of a slide is the one into the next position: ask for each time once.
  std::vector<double> effectTimes(static_cast<size_t>(slideCount_) + 1);
  for (int i = 0; i <= slideCount_; ++i)
    effectTimes[static_cast<size_t>(i)] = GetEffectTime(i);
  double previousEnd = 0;
  double maxVisible = 0;
  for (int i = 0; i < slideCount_; ++i) {
    TSlideInfo& info = timings_[static_cast<size_t>(i)];
    info.start = previousEnd;
    info.end = keys.ReadInteger(u"opt_synchpos" + Number(i + 1), 0);
    if (info.end < previousEnd) throw Exception("Incorrect time");
    info.effectIn = std::min(effectTimes[static_cast<size_t>(i)], info.end - info.start);
    info.effectOut = effectTimes[static_cast<size_t>(i) + 1];
    info.visibleUntil = info.end + info.effectOut;
    if (const TIniSection* section = GetSlideSection(i)) {
      info.slideId = section->ReadString(u"slideid", u"");
      if (info.slideId.empty()) info.slideId = SlideIdFromPicture(section->ReadString(u"picture", u""));
    }
    maxVisible = std::max(maxVisible, std::nearbyint(info.visibleUntil));
    maxVisibleUntil_[static_cast<size_t>(i)] = maxVisible;
    previousEnd = info.end;
  }
  totalDuration_ = previousEnd;
}

TSlideInfo TKivSource::GetSlideTiming(int32_t position) const {
  TSlideInfo info;
  if (position < -1) {
    info.start = kFarPastStart;
    info.end = info.visibleUntil = kBeforeShowStart;
  } else if (position == -1) {
    info.start = kBeforeShowStart;
    info.effectOut = info.visibleUntil = timings_.empty() ? 0 : timings_.front().effectIn;
  } else if (!timings_.empty()) {
    const auto n = static_cast<int32_t>(timings_.size());
    info = timings_[static_cast<size_t>(position % n)];
    const double shift = static_cast<double>(position / n) * totalDuration_;
    info.start += shift;
    info.end += shift;
    info.visibleUntil += shift;
  }
  return info;
}

int32_t TKivSource::FindSlideAt(double time) const {
  if (!(time > 0) || timings_.empty()) return -1;
  const auto n = static_cast<int32_t>(timings_.size());
  // A show of length 0 has one pass: nothing later can hold the time.
  double pass = 0;
  if (totalDuration_ > 0) pass = FirstPassReaching(totalDuration_, totalDuration_, time);
  const double shift = pass * totalDuration_;
  const auto found = std::partition_point(timings_.begin(), timings_.end(),
                                          [&](const TSlideInfo& info) { return info.end + shift < time; });
  if (found == timings_.end()) return n - 1;
  return PositionOf(pass, n, static_cast<int32_t>(found - timings_.begin()));
}

int32_t TKivSource::FindFirstVisible(double time) const {
  if (std::isnan(time)) return -1;
  const double t = std::nearbyint(time);
  if (t <= kBeforeShowStart) return -2;
  if (std::nearbyint(GetSlideTiming(-1).visibleUntil) >= t || timings_.empty()) return -1;
  const auto n = static_cast<int32_t>(timings_.size());
  // Transitions out of a slide may outlast the slides after it, so visible-until is not monotonic: the
  // search runs over its running maximum, which finds the first position that is still drawn.
  double pass = 0;
  if (totalDuration_ > 0) pass = FirstPassReaching(maxVisibleUntil_.back(), totalDuration_, t);
  const double shift = pass * totalDuration_;
  const auto found = std::partition_point(maxVisibleUntil_.begin(), maxVisibleUntil_.end(),
                                          [&](double visible) { return visible + shift < t; });
  if (found == maxVisibleUntil_.end()) return n - 1;
  return PositionOf(pass, n, static_cast<int32_t>(found - maxVisibleUntil_.begin()));
}

void TKivSource::ApplyScreenSaverMode() {
  screenSaver_ = EndsWithScr(ProgramFileName());
  // Later readers of these keys (cursor, navigation panel, window) see the screen-saver values.
  if (screenSaver_) {
    document_->WriteString(u"main", u"opt_ssaver", u"1");
    document_->WriteString(u"main", u"opt_fcp", u"0");
    document_->WriteString(u"main", u"opt_hidecursor", u"1");
    document_->WriteString(u"main", u"opt_scr_full", u"1");
    document_->WriteString(u"main", u"opt_repeat", u"repeat");
  } else {
    document_->WriteString(u"main", u"opt_ssaver", u"0");
  }
}

void TKivSource::ReadShowOptions() {
  const TIniIdentList& keys = main_ ? *main_ : EmptySection();
  pauseWhenInactive_ = keys.ReadBool(u"opt_pausewheninactive", true);
  static constexpr std::u16string_view kRepeatNames[] = {u"repeat", u"close", u"stop"};
  repeatMode_ = static_cast<TRepeatMode>(keys.ReadEnum(u"opt_repeat", kRepeatNames, 0));
  slideCount_ = ReadSlideCount(keys);
  hiderColor_ = ColorFromRef(keys.ReadInteger(u"opt_scr_hidercolor", 0));
  unsharpAmount_ = static_cast<float>(keys.ReadFloat(u"opt_scr_unsharpamount", 0));
  // Kept in a byte: shows that wrote a larger value have always played with its low byte.
  unsharpThreshold_ = static_cast<uint8_t>(keys.ReadInteger(u"opt_scr_unsharpthreshold", 0) & 0xFF);
  manualShow_ = keys.ReadString(u"opt_manualshow", u"") == u"1";
  random_ = keys.ReadBool(u"opt_random", false);
  screenMode_ = keys.ReadInteger(u"opt_scr_full", 1);
  runOnExit_.mode = keys.ReadInteger(u"opt_runapponexit", 0);
  runOnExit_.ifLastSlide = keys.ReadBool(u"opt_runapponexitiflastslide", true);
  runOnExit_.fileName = keys.ReadString(u"opt_runapponexitfn", u"");
}

void TKivSource::ReadTransitionDefaults() {
  const TIniIdentList& keys = main_ ? *main_ : EmptySection();
  TEffectParams& p = defaultParams_;
  const bool enabled = keys.ReadBool(u"opt_fx_enable", false);
  effectTime_ = keys.ReadInteger(u"opt_fx_time", 0);
  // A time of 0 switches transitions off; a negative one cannot be played either.
  transitionsEnabled_ = enabled && effectTime_ > 0;
  p.smoothLine = ReadScaled(keys, u"opt_fx_smoothline", 1000, 0);
  if (!transitionsEnabled_) return;

  p.broomOffset = ReadScaled(keys, u"opt_fx_broomoffset", 100, 0);
  p.rollDiameter = ReadScaled(keys, u"opt_fx_rolldiameter", 1000, 0);
  const std::u16string rollVariants = keys.ReadString(u"opt_fx_rollvariants", u"1");
  p.rollVariants = rollVariants == u"1";
  rollVariantsDrawn_ = rollVariants == u"3";
  p.rollUseBackColor = TextFlag(keys, u"opt_fx_rollusebackcolor", false);
  p.roll3D = TextFlag(keys, u"opt_fx_roll3d", false);
  p.rollCurving = ReadSingle(keys, u"opt_fx_rollcurving", 0.125f);
  p.flipCurving = ReadSingle(keys, u"opt_fx_flipcurving", 0.5f);
  p.flipCenter = TextFlag(keys, u"opt_fx_flipcenter", false);
  p.flipSmooth = TextFlag(keys, u"opt_fx_flipsmooth", true);
  p.swapDepth = ReadSingle(keys, u"opt_fx_swapdepth", 4);
  p.swapWidth = ReadSingle(keys, u"opt_fx_swapwidth", 1);
  p.swapMaxAngle = ReadSingle(keys, u"opt_fx_swapmaxangle", 60);
  if (p.rollUseBackColor) p.rollBackColor = ColorFromRef(keys.ReadInteger(u"opt_fx_rollbackcolor", 0));
  p.mosaicDX = keys.ReadInteger(u"opt_fx_mosaic_dx", 1);
  p.mosaicDY = keys.ReadInteger(u"opt_fx_mosaic_dy", 1);
  p.mosaicSC = keys.ReadInteger(u"opt_fx_mosaic_sc", 0);
  p.centerX = keys.ReadInteger(u"opt_fx_center_x", 50);
  p.centerY = keys.ReadInteger(u"opt_fx_center_y", 50);
  customCount_ = keys.ReadInteger(u"opt_fx_custom_count", 0);
  ReadEffectGroups();
}

void TKivSource::ReadEffectGroups() {
  const TIniIdentList& keys = main_ ? *main_ : EmptySection();
  activeGroups_.clear();
  for (int i = 0; i < kEffGroupCount; ++i) {
    TEffGroup& group = effGroups_[static_cast<size_t>(i)];
    group.text = keys.ReadString(u"opt_fx_eff" + Number(i + 1), u"");
    for (char16_t c : group.text)
      group.types |= 1u << EffectTypeOf(c);
    group.count = static_cast<int>(group.text.size());
    if (group.types != 0) activeGroups_.push_back(i);
  }
  // Group 19 doubles as the list of custom transitions that random draws of the custom class choose from.
  std::u16string customSet;
  customSelected_.clear();
  for (int k : SelectedCustomEffects(effGroups_[kEffGroupCount - 1].text, customCount_)) {
    customSelected_.push_back(k);
    if (!customSet.empty()) customSet += u'|';
    customSet += keys.ReadString(u"opt_fx_custom" + Number(k), u"");
  }
  defaultParams_.customDescription = std::move(customSet);
  sortedGroups_ = activeGroups_;
  if (activeGroups_.empty()) {
    transitionsEnabled_ = false;
    return;
  }
  ShuffleActiveGroups();
}

void TKivSource::ShuffleActiveGroups() {
  const size_t n = activeGroups_.size();
  for (size_t i = 0; i + 1 < n; ++i) {
    std::uniform_int_distribution<size_t> pick(0, n - i - 1);
    std::swap(activeGroups_[i], activeGroups_[pick(generator_)]);
  }
}

TIniSection* TKivSource::GetSlideSection(int position) const {
  return orders_->GetSlideSection(*document_, position);
}

int TKivSource::SlideNumberAt(int position) const {
  return orders_->GetSlideNumber(*document_, position);
}

TEndAction TKivSource::GetEndAction(int position) const {
  const TEndAction fallback = manualShow_ ? TEndAction::Pause : TEndAction::None;
  const TIniSection* section = GetSlideSection(position);
  if (!section || !section->ReadBool(u"UsePersonal", false)) return fallback;
  const std::u16string action = section->ReadString(u"Pers_EndAction", u"");
  if (action.empty()) return fallback;
  if (action == u"pause") return TEndAction::Pause;
  if (action == u"loop") return TEndAction::Loop;
  return TEndAction::None;
}

TEndAction TKivSource::GetEndAction(int position, double& loopTime) const {
  const TEndAction action = GetEndAction(position);
  if (action == TEndAction::Loop) {
    const TSlideInfo info = GetSlideTiming(position);
    loopTime = info.end - info.start - info.effectIn;
  }
  return action;
}

bool TKivSource::GetRunApp(int position, std::u16string& fileName) const {
  const TIniSection* section = GetSlideSection(position);
  if (!section || !section->ReadBool(u"UsePersonal", false) || !section->ReadBool(u"Pers_RunApp", false))
    return false;
  fileName = section->ReadString(u"RunAppFN", u"");
  return true;
}

TEffectParams TKivSource::SlideEffectParams(int position) const {
  TEffectParams p = defaultParams_;
  const TIniSection* section = GetSlideSection(position);
  if (!section || !section->ReadBool(u"UsePersonal", false) || !section->ReadBool(u"Pers_Effect", false))
    return p;
  if (section->ReadBool(u"EffectUseSmoothline", false))
    p.smoothLine = ReadScaled(*section, u"EffectSmoothline", 1000, p.smoothLine);
  const int effectClass = section->ReadInteger(u"Effect_Class", 0);
  if (effectClass == -1 || effectClass == 0 || effectClass == kCustomEffectClass) return p;
  p.broomOffset = ReadScaled(*section, u"EffectBroomOffset", 100, p.broomOffset);
  p.rollDiameter = ReadScaled(*section, u"EffectRollDiameter", 1000, p.rollDiameter);
  p.rollVariants = TextFlag(*section, u"EffectRollVariants", p.rollVariants);
  p.rollUseBackColor = TextFlag(*section, u"EffectRollUseBackColor", p.rollUseBackColor);
  p.rollBackColor =
      p.rollUseBackColor ? ReadColor(*section, u"EffectRollBackColor", p.rollBackColor) : TBGRColor{};
  p.roll3D = TextFlag(*section, u"EffectRoll3D", p.roll3D);
  p.rollCurving = ReadSingle(*section, u"EffectRollCurving", p.rollCurving);
  p.flipCenter = TextFlag(*section, u"EffectFlipCenter", p.flipCenter);
  p.flipCurving = ReadSingle(*section, u"EffectFlipCurving", p.flipCurving);
  p.flipSmooth = TextFlag(*section, u"EffectFlipSmooth", p.flipSmooth);
  p.swapDepth = ReadSingle(*section, u"EffectSwapDepth", p.swapDepth);
  p.swapWidth = ReadSingle(*section, u"EffectSwapWidth", p.swapWidth);
  p.swapMaxAngle = ReadSingle(*section, u"EffectSwapMaxAngle", p.swapMaxAngle);
  p.centerX = section->ReadInteger(u"EffectCenterX", p.centerX);
  p.centerY = section->ReadInteger(u"EffectCenterY", p.centerY);
  p.mosaicDX = section->ReadInteger(u"EffectMosaicDX", p.mosaicDX);
  p.mosaicDY = section->ReadInteger(u"EffectMosaicDY", p.mosaicDY);
  p.mosaicSC = section->ReadInteger(u"EffectMosaicSC", p.mosaicSC);
  return p;
}

std::vector<int> TKivSource::ActiveGroups() const {
  std::lock_guard guard(drawLock_);
  return activeGroups_;
}

void TKivSource::SetDeterministic(bool deterministic, int32_t seed) {
  std::lock_guard guard(drawLock_);
  deterministic_ = deterministic;
  seed_ = seed;
}

std::pair<int, int> TKivSource::DrawRandomEffect(int position) {
  const size_t n = activeGroups_.size();
  // A slide asking for a random transition in a show without active groups gets none.
  if (n == 0) return {0, 0};
  int groupNumber = 0;
  if (deterministic_) {
    // The shuffled list differs from run to run; a repeatable choice takes the groups in number order.
    groupNumber = sortedGroups_[static_cast<size_t>(position) % n];
  } else {
    const size_t g = drawCounter_++ % n;
    if (g == 0) ShuffleActiveGroups();
    groupNumber = activeGroups_[g];
  }
  const TEffGroup& group = effGroups_[static_cast<size_t>(groupNumber)];
  const auto count = static_cast<uint32_t>(group.count);
  uint32_t t = 0;
  if (deterministic_) {
    t = (static_cast<uint32_t>(position) ^ static_cast<uint32_t>(seed_)) % count;
    const uint32_t wanted = (static_cast<uint32_t>(position) ^ (alternation_ ? 1u : 0u)) & 1u;
    if ((t & 1u) != wanted) t = (t + 1) % count;
  } else {
    t = std::uniform_int_distribution<uint32_t>(0, count - 1)(generator_);
    // Consecutive random transitions alternate between odd and even characters of the group.
    if ((t & 1u) == (alternation_ ? 1u : 0u)) t = (t + 1) % count;
    alternation_ = !alternation_;
  }
  return {groupNumber, EffectTypeOf(group.text[t])};
}

TEffectChoice TKivSource::GetEffect(int position) {
  RY_ASSERT(slideCount_ > 0);
  const int index = ((position % slideCount_) + slideCount_) % slideCount_;
  TEffectChoice choice;
  if (!transitionsEnabled_) return choice;
  std::lock_guard guard(drawLock_);
  choice.time = effectTime_;
  choice.params = defaultParams_;
  if (rollVariantsDrawn_) {
    if (deterministic_)
      choice.params.rollVariants = std::popcount(static_cast<uint32_t>(seed_ ^ index)) % 2 == 0;
    else
      choice.params.rollVariants =
          (std::uniform_int_distribution<int>(0, 999)(generator_) > 500) != alternation_;
  }
  const TIniSection* section = GetSlideSection(index);
  const bool personal =
      section && section->ReadBool(u"UsePersonal", false) && section->ReadBool(u"Pers_Effect", false);
  const int personalClass = personal ? section->ReadInteger(u"Effect_Class", 0) : -1;
  if (!personal || personalClass == -1) {
    std::tie(choice.effectClass, choice.effectType) = DrawRandomEffect(index);
    if (personal) choice.time = section->ReadInteger(u"EffectTime", 0);
    if (personal && section->ReadBool(u"EffectUseSmoothline", false))
      choice.params.smoothLine = ReadScaled(*section, u"EffectSmoothline", 1000, choice.params.smoothLine);
    if (choice.effectClass == kCustomEffectClass && !customSelected_.empty()) {
      // The custom transition itself is chosen with the draw, so that the record names the one that plays.
      const auto count = static_cast<uint32_t>(customSelected_.size());
      const uint32_t pick = deterministic_
                                ? (static_cast<uint32_t>(index) ^ static_cast<uint32_t>(seed_)) % count
                                : std::uniform_int_distribution<uint32_t>(0, count - 1)(generator_);
      choice.customNumber = customSelected_[pick];
      choice.params.customDescription =
          main_->ReadString(u"opt_fx_custom" + Number(choice.customNumber), u"");
    }
  } else if (personalClass == kCustomEffectClass) {
    choice.effectClass = kCustomEffectClass;
    choice.time = section->ReadInteger(u"EffectTime", 0);
    choice.params = SlideEffectParams(index);
    const std::u16string type = section->ReadString(u"Effect_Type", u"");
    const std::u16string name = u"opt_fx_custom" + type;
    choice.params.customDescription = main_ ? main_->ReadString(name, u"") : std::u16string();
    const std::string digits = Utf16ToUtf8(type);
    int number = -1;
    const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), number);
    if (ec == std::errc() && end == digits.data() + digits.size() && number >= 0)
      choice.customNumber = number;
  } else if (personalClass != 0) {
    choice.effectClass = personalClass;
    const std::u16string type = section->ReadString(u"Effect_Type", u"");
    choice.effectType = type.empty() ? 1 : EffectTypeOf(type.front());
    choice.time = section->ReadInteger(u"EffectTime", 0);
    choice.params = SlideEffectParams(index);
  }
  if (choice.effectClass == 0) return TEffectChoice{};
  if (deterministic_) {
    choice.params.seed = static_cast<int32_t>(static_cast<uint32_t>(seed_) ^ static_cast<uint32_t>(index));
  } else {
    std::uniform_int_distribution<int32_t> part(0, 4095);
    choice.params.seed = part(generator_) * 4096 + part(generator_);
  }
  return choice;
}

int TKivSource::GetEffectTime(int position) {
  if (!transitionsEnabled_ || slideCount_ == 0) return 0;
  if (position >= slideCount_ && repeatMode_ != TRepeatMode::Repeat) return 0;
  return GetEffect(position).time;
}

TKivSource& Options(TKivShowLocator& locator) {
  if (!locator.OptionsSlot()) {
    RY_ASSERT(locator.EditableProject() != nullptr);
    auto source = MakeOwned<TKivSource>(locator.AccessorRef(), *locator.EditableProject());
    source->SetStartSlideIndex(0);
    locator.SetOptionsSlot(std::move(source));
  }
  auto* source = dynamic_cast<TKivSource*>(locator.OptionsSlot());
  RY_ASSERT(source != nullptr);
  return *source;
}

} // namespace kiv

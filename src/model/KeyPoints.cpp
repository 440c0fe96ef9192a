#include "KeyPoints.h"

#include "IniValueSyntax.h"
#include "RoundHalfEven.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>
#include <numeric>

namespace kiv {

namespace {

// Values compared at 4 decimals: smaller moves are no change.
bool Differs(double a, double b) {
  return RoundEven(a * 10000.0) != RoundEven(b * 10000.0);
}

bool Differs(const T2DVector& a, const T2DVector& b) {
  return Differs(a.x, b.x) || Differs(a.y, b.y);
}

bool ValuesDiffer(const TKeyValues& a, const TKeyValues& b) {
  return Differs(a.opacity, b.opacity) || Differs(a.angle, b.angle) || Differs(a.scaleX, b.scaleX) ||
         Differs(a.scaleY, b.scaleY) || Differs(a.position, b.position) || Differs(a.depth, b.depth) ||
         Differs(a.center, b.center) || Differs(a.angleX, b.angleX) || Differs(a.angleY, b.angleY) ||
         Differs(a.blur, b.blur) || a.colorOff != b.colorOff || Differs(a.colorAmount, b.colorAmount) ||
         a.color != b.color;
}

int32_t RoundedTime(double time) {
  double r = RoundEven(time);
  if (!(r > std::numeric_limits<int32_t>::min())) return std::numeric_limits<int32_t>::min();
  if (r > std::numeric_limits<int32_t>::max()) return std::numeric_limits<int32_t>::max();
  return static_cast<int32_t>(r);
}

float Lerp(float a, float b, float f) {
  return a + (b - a) * f;
}

T2DVector Lerp(const T2DVector& a, const T2DVector& b, float f) {
  return {Lerp(a.x, b.x, f), Lerp(a.y, b.y, f)};
}

uint8_t LerpChannel(uint8_t a, uint8_t b, float f) {
  return static_cast<uint8_t>(std::clamp<int64_t>(Round(Lerp(a, b, f)), 0, 255));
}

std::u16string_view Trim(std::u16string_view text) {
  while (!text.empty() && (text.front() == u' ' || text.front() == u'\t'))
    text.remove_prefix(1);
  while (!text.empty() && (text.back() == u' ' || text.back() == u'\t'))
    text.remove_suffix(1);
  return text;
}

void AppendNumber(std::u16string& out, double value) {
  char buffer[64];
  auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed);
  if (ec != std::errc()) end = buffer; // cannot happen for finite values of the curve
  out.append(buffer, end);
  out.push_back(u';');
}

void AppendNumber(std::u16string& out, int64_t value) {
  std::string text = std::to_string(value);
  out.append(text.begin(), text.end());
  out.push_back(u';');
}

} // namespace

// ---- TKeyPoint ----

TKeyPoint::TKeyPoint(TKeyPointList* owner, uint8_t anchor, double offset)
    : owner_(owner), anchor_(anchor), offset_(offset) {}

void TKeyPoint::SetAnchor(uint8_t anchor) {
  if (anchor == anchor_) return;
  anchor_ = anchor;
  changed_ = true;
  if (owner_) owner_->KeyTimesChanged();
}

void TKeyPoint::SetOffset(double offset) {
  if (!Differs(offset, offset_)) return;
  offset_ = offset;
  changed_ = true;
  if (owner_) owner_->KeyTimesChanged();
}

double TKeyPoint::AbsoluteTime() const {
  return (owner_ ? owner_->GetAnchorTime(anchor_) : 0.0) + offset_;
}

void TKeyPoint::SetValues(const TKeyValues& values) {
  TKeyValues held = values;
  held.scaleX = std::max(held.scaleX, kMinScale);
  held.scaleY = std::max(held.scaleY, kMinScale);
  if (ValuesDiffer(held, values_)) changed_ = true;
  values_ = held;
}

// ---- TSpeedStorage ----

void TSpeedStorage::SetKeyTimes(std::vector<int32_t> keyTimes) {
  keyTimes_ = std::move(keyTimes);
  Changed();
}

void TSpeedStorage::AddInterval(const TInterval& interval) {
  intervals_.push_back(interval);
  Changed();
}

void TSpeedStorage::ClearIntervals() {
  intervals_.clear();
  Changed();
}

void TSpeedStorage::Reset() {
  keyTimes_.assign(1, 0);
  intervals_.clear();
  default0_ = 0;
  default1_ = 1;
  Changed();
}

bool TSpeedStorage::LoadFromText(std::u16string_view text) {
  // Every field is ended by ";"; anything after the last one must be blank.
  std::vector<std::u16string_view> fields;
  size_t start = 0;
  for (size_t semicolon; (semicolon = text.find(u';', start)) != std::u16string_view::npos;
       start = semicolon + 1)
    fields.push_back(Trim(text.substr(start, semicolon - start)));
  bool ok = Trim(text.substr(start)).empty();

  size_t next = 0;
  auto readInt = [&](int32_t& value) {
    ok = ok && next < fields.size() && ParseIniInteger(fields[next++], value);
    return ok;
  };
  auto readFloat = [&](double& value) {
    ok = ok && next < fields.size() && ParseIniFloat(fields[next++], value) && std::isfinite(value);
    return ok;
  };

  std::vector<int32_t> keyTimes;
  std::vector<TInterval> intervals;
  double d0 = 0, d1 = 1;
  int32_t n = 0, m = 0;
  if (readInt(n) && n >= 0 && n <= kMaxCount) {
    keyTimes.resize(static_cast<size_t>(n));
    for (int32_t& t : keyTimes)
      readInt(t);
  } else {
    ok = false;
  }
  if (ok && readInt(m) && m >= 0 && m <= kMaxCount) {
    for (int32_t i = 0; i < m && ok; ++i) {
      TInterval interval;
      readInt(interval.first);
      readInt(interval.last);
      readFloat(interval.r1);
      readFloat(interval.r2);
      if (ok && !(interval.first == interval.last && n > 1)) intervals.push_back(interval);
    }
  } else {
    ok = false;
  }
  if (ok && next < fields.size()) {
    readFloat(d0);
    readFloat(d1);
  }
  if (ok && next != fields.size()) ok = false;

  if (!ok) {
    Reset();
    return false;
  }
  keyTimes_ = std::move(keyTimes);
  intervals_ = std::move(intervals);
  default0_ = d0;
  default1_ = d1;
  Changed();
  return true;
}

std::u16string TSpeedStorage::SaveToText() const {
  std::u16string text;
  AppendNumber(text, static_cast<int64_t>(keyTimes_.size()));
  for (int32_t t : keyTimes_)
    AppendNumber(text, int64_t{t});
  AppendNumber(text, static_cast<int64_t>(intervals_.size()));
  for (const TInterval& interval : intervals_) {
    AppendNumber(text, int64_t{interval.first});
    AppendNumber(text, int64_t{interval.last});
    AppendNumber(text, interval.r1);
    AppendNumber(text, interval.r2);
  }
  AppendNumber(text, default0_);
  AppendNumber(text, default1_);
  return text;
}

void TSpeedStorage::RemapIndices(const std::vector<int32_t>& oldToNew) {
  auto remap = [&](int32_t& index) {
    if (index >= 0 && static_cast<size_t>(index) < oldToNew.size())
      index = oldToNew[static_cast<size_t>(index)];
  };
  for (TInterval& interval : intervals_) {
    remap(interval.first);
    remap(interval.last);
  }
  Changed();
}

// ---- TSmoother ----

void TSmoother::SetupSmoother(double duration, double r1, double r2) {
  accel_ = r1 * duration;
  steady_ = (r2 - r1) * duration;
  decel_ = (1 - r2) * duration;
}

double TSmoother::Smooth(double a, double b, double elapsed) const {
  const double e = accel_, d = steady_, q = decel_;
  const double total = e + d + q;
  // e + 2d + q is 0 for r1 = 1, r2 = 0 even though the span is not: no speed then, the value jumps at
  // the end instead of dividing by zero.
  const double divisor = e + 2 * d + q;
  const double m = (total == 0 || divisor == 0) ? 0 : (b - a) / divisor;
  const double s = elapsed;
  if (s <= 0) return a;
  if (s >= total) return b;
  if (s < e) return a + m * e * (s / e) * (s / e);
  if (s <= e + d) return a + m * e + 2 * m * (s - e);
  const double u = 1 - (s - e - d) / q;
  return a + m * (e + 2 * d) + m * q * (1 - u * u);
}

// ---- TKeyPointList ----

TKeyPointList::TKeyPointList() = default;
TKeyPointList::~TKeyPointList() = default;

double TKeyPointList::GetAnchorTime(uint8_t /*anchor*/) const {
  return 0;
}

TKeyPoint& TKeyPointList::AddKeyPoint(uint8_t anchor, double offset) {
  points_.push_back(MakeOwned<TKeyPoint>(this, anchor, offset));
  TKeyPoint& added = *points_.back();
  KeyTimesChanged();
  return added;
}

void TKeyPointList::Clear() {
  points_.clear();
  pan_.reset();
  zoom_.reset();
  rotate_.reset();
  curveChanged_ = true;
}

void TKeyPointList::SetScale(float scaleX, float scaleY) {
  current_.scaleX = scaleX;
  current_.scaleY = scaleY;
}

std::vector<int32_t> TKeyPointList::RoundedTimes() const {
  std::vector<int32_t> times;
  times.reserve(points_.size());
  for (const auto& point : points_)
    times.push_back(RoundedTime(point->AbsoluteTime()));
  return times;
}

void TKeyPointList::Sort() {
  std::vector<double> times;
  times.reserve(points_.size());
  for (const auto& point : points_)
    times.push_back(point->AbsoluteTime());
  std::vector<int32_t> order(points_.size()); // order[new] = old
  std::iota(order.begin(), order.end(), 0);
  std::stable_sort(order.begin(), order.end(), [&](int32_t a, int32_t b) {
    return times[static_cast<size_t>(a)] < times[static_cast<size_t>(b)];
  });
  std::vector<int32_t> oldToNew(points_.size());
  std::vector<TOwned<TKeyPoint>> sorted(points_.size());
  bool moved = false;
  for (size_t i = 0; i < order.size(); ++i) {
    auto old = static_cast<size_t>(order[i]);
    oldToNew[old] = static_cast<int32_t>(i);
    moved = moved || old != i;
    sorted[i] = std::move(points_[old]);
  }
  points_ = std::move(sorted);
  if (!moved) return;
  for (TOwned<TSpeedStorage>* curve : {&pan_, &zoom_, &rotate_})
    if (*curve) (*curve)->RemapIndices(oldToNew);
}

void TKeyPointList::KeyTimesChanged() {
  Sort();
  if (!pan_ && !zoom_ && !rotate_) return;
  std::vector<int32_t> times = RoundedTimes();
  for (TOwned<TSpeedStorage>* curve : {&pan_, &zoom_, &rotate_})
    if (*curve) (*curve)->SetKeyTimes(times);
}

TSpeedStorage& TKeyPointList::GetCurve(TOwned<TSpeedStorage>& curve) {
  if (!curve) {
    curve = MakeOwned<TSpeedStorage>();
    curve->SetKeyTimes(RoundedTimes());
    curve->SetOnChange([this] { curveChanged_ = true; });
    curveChanged_ = true;
  }
  return *curve;
}

bool TKeyPointList::HasChangedKeyPoints() const {
  if (curveChanged_) return true;
  return std::any_of(points_.begin(), points_.end(), [](const auto& point) { return point->Changed(); });
}

void TKeyPointList::ClearChanged() {
  curveChanged_ = false;
  for (auto& point : points_)
    point->ClearChanged();
}

void TKeyPointList::TakeValues(const TKeyPoint& keyPoint) {
  current_ = keyPoint.Values();
  if (current_.colorOff) current_.colorAmount = 0;
}

bool TKeyPointList::FindEasedInterval(const TSpeedStorage* curve, double time, int& first, int& last,
                                      const TInterval*& interval) const {
  if (!curve) return false;
  for (const TInterval& candidate : curve->Intervals()) {
    // Indices come from the show file: ignore those outside the key points or running backwards.
    if (candidate.first < 0 || candidate.last >= Count() || candidate.first > candidate.last) continue;
    const double t1 = KeyPoint(candidate.first).AbsoluteTime();
    const double t2 = KeyPoint(candidate.last).AbsoluteTime();
    if (time < t1) return false;
    if (time <= t2 && (RoundEven(candidate.r1 * 100) != 0 || RoundEven((1 - candidate.r2) * 100) != 0)) {
      first = candidate.first;
      last = candidate.last;
      interval = &candidate;
      return true;
    }
  }
  return false;
}

namespace {

// g' = g k / (1 - g (1 - k)) with k = s1 / s2; fractions outside (0, 1) and a zero end scale stay.
bool CorrectPerspective(double g, float s1, float s2, double& corrected) {
  if (!(g > 0 && g < 1) || s2 == 0) return false;
  const double k = static_cast<double>(s1) / s2;
  const double divisor = 1 - g * (1 - k);
  if (divisor == 0) return false;
  corrected = g * k / divisor;
  return true;
}

} // namespace

double TKeyPointList::EasedElapsed(const TKeyPoint& first, const TKeyPoint& last, double time) const {
  const double t1 = first.AbsoluteTime();
  const double t2 = last.AbsoluteTime();
  const double start = RoundEven(t1);
  double corrected = 0;
  if (perspective_ && t2 > t1 &&
      CorrectPerspective((time - t1) / (t2 - t1), first.Values().scaleX, last.Values().scaleX, corrected))
    return t1 + (t2 - t1) * corrected - start;
  return time - start;
}

float TKeyPointList::CorrectedFraction(const TKeyPoint& p, const TKeyPoint& n, double time, float f) const {
  const double t1 = p.AbsoluteTime();
  const double t2 = n.AbsoluteTime();
  double corrected = 0;
  if (perspective_ && t2 > t1 &&
      CorrectPerspective((time - t1) / (t2 - t1), p.Values().scaleX, n.Values().scaleX, corrected))
    return static_cast<float>(corrected);
  return f;
}

void TKeyPointList::Interpolate(double time) {
  time_ = time;
  active_ = GetAnchorTime(kAnchorSlideBegin) <= time && time <= GetAnchorTime(kAnchorSlideEnd);
  if (points_.empty()) return;

  size_t next = 0;
  while (next < points_.size() && !(points_[next]->AbsoluteTime() > time))
    ++next;
  if (next == points_.size()) return TakeValues(*points_.back());
  if (next == 0) return TakeValues(*points_.front());

  const TKeyPoint& prev = *points_[next - 1];
  const TKeyPoint& nextPoint = *points_[next];
  const TKeyValues& p = prev.Values();
  const TKeyValues& n = nextPoint.Values();
  const double tP = prev.AbsoluteTime();
  const double tN = nextPoint.AbsoluteTime();
  const float f = tN == tP ? 0.0f : static_cast<float>(time - tP) / static_cast<float>(tN - tP);

  current_.opacity = Lerp(p.opacity, n.opacity, f);
  current_.blur = Lerp(p.blur, n.blur, f);
  current_.center = Lerp(p.center, n.center, f);

  if (p.colorOff && n.colorOff) {
    current_.colorOff = true;
    current_.colorAmount = 0;
    current_.color = p.color;
  } else {
    current_.colorOff = false;
    current_.colorAmount = Lerp(p.colorOff ? 0.0f : p.colorAmount, n.colorOff ? 0.0f : n.colorAmount, f);
    const TIniRGB& c1 = p.colorOff ? n.color : p.color;
    const TIniRGB& c2 = n.colorOff ? p.color : n.color;
    current_.color = TIniRGB{LerpChannel(c1.blue, c2.blue, f), LerpChannel(c1.green, c2.green, f),
                             LerpChannel(c1.red, c2.red, f)};
  }

  int first = 0, last = 0;
  const TInterval* interval = nullptr;
  auto setupEased = [&] {
    const TKeyPoint& k1 = KeyPoint(first);
    const TKeyPoint& k2 = KeyPoint(last);
    SetupSmoother(RoundEven(k2.AbsoluteTime()) - RoundEven(k1.AbsoluteTime()), interval->r1, interval->r2);
  };
  auto smooth = [&](float a, float b, double elapsed) { return static_cast<float>(Smooth(a, b, elapsed)); };

  if (FindEasedInterval(rotate_.get(), time, first, last, interval)) {
    setupEased();
    const TKeyValues& a = KeyPoint(first).Values();
    const TKeyValues& b = KeyPoint(last).Values();
    const double s = time - RoundEven(KeyPoint(first).AbsoluteTime());
    current_.angle = smooth(a.angle, b.angle, s);
    current_.angleX = smooth(a.angleX, b.angleX, s);
    current_.angleY = smooth(a.angleY, b.angleY, s);
  } else {
    current_.angle = Lerp(p.angle, n.angle, f);
    current_.angleX = Lerp(p.angleX, n.angleX, f);
    current_.angleY = Lerp(p.angleY, n.angleY, f);
  }

  const float fc = CorrectedFraction(prev, nextPoint, time, f);

  if (FindEasedInterval(zoom_.get(), time, first, last, interval)) {
    setupEased();
    const TKeyValues& a = KeyPoint(first).Values();
    const TKeyValues& b = KeyPoint(last).Values();
    const double s = EasedElapsed(KeyPoint(first), KeyPoint(last), time);
    current_.scaleX = smooth(a.scaleX, b.scaleX, s);
    current_.scaleY = smooth(a.scaleY, b.scaleY, s);
  } else {
    current_.scaleX = Lerp(p.scaleX, n.scaleX, fc);
    current_.scaleY = Lerp(p.scaleY, n.scaleY, fc);
  }

  if (FindEasedInterval(pan_.get(), time, first, last, interval)) {
    setupEased();
    const TKeyValues& a = KeyPoint(first).Values();
    const TKeyValues& b = KeyPoint(last).Values();
    const double s = EasedElapsed(KeyPoint(first), KeyPoint(last), time);
    current_.position = {smooth(a.position.x, b.position.x, s), smooth(a.position.y, b.position.y, s)};
    current_.depth = smooth(a.depth, b.depth, s);
  } else {
    current_.position = Lerp(p.position, n.position, fc);
    current_.depth = Lerp(p.depth, n.depth, fc);
  }
}

} // namespace kiv

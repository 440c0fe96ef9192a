#pragma once
// Key points and their interpolation: a key point pins an object's animated values to a time relative to
// one of the slide's four anchor moments; a key point list interpolates the current values at any time,
// optionally along eased speed curves and with perspective-corrected zoom and movement.

#include "IniDocument.h"
#include "Vectors.h"
#include "ObjectBase.h"

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace kiv {

class TKeyPointList;

// Anchors of a key point's time.
inline constexpr uint8_t kAnchorSlideBegin = 0;
inline constexpr uint8_t kAnchorPrevEffectEnd = 1;
inline constexpr uint8_t kAnchorNextEffectBegin = 2;
inline constexpr uint8_t kAnchorSlideEnd = 3;

// The animated values: one snapshot of a key point, or the current values of a list.
struct TKeyValues {
  float opacity = 100; // percent
  float angle = 0;     // radians
  float scaleX = 100;  // percent, never below kMinScale in a key point
  float scaleY = 100;
  T2DVector position;
  float depth = 0;
  T2DVector center;
  float angleX = 0; // radians
  float angleY = 0;
  float blur = 0;
  bool colorOff = true;
  float colorAmount = 0;        // 0..1
  TIniRGB color{255, 255, 255}; // white
  bool operator==(const TKeyValues&) const = default;
};

inline constexpr float kMinScale = 0.001f;

class TKeyPoint : public TObj {
public:
  TKeyPoint(TKeyPointList* owner, uint8_t anchor, double offset);

  TKeyPointList* Owner() const noexcept { return owner_; }
  uint8_t Anchor() const noexcept { return anchor_; }
  double Offset() const noexcept { return offset_; }
  // Both re-sort the owner's key points.
  void SetAnchor(uint8_t anchor);
  void SetOffset(double offset);
  // The owner's anchor time plus the offset.
  double AbsoluteTime() const;

  const TKeyValues& Values() const noexcept { return values_; }
  // Scales below kMinScale are held as kMinScale. Marks the key point changed when a value moves by
  // 0.0001 or more (compared at 4 decimals).
  void SetValues(const TKeyValues& values);

  bool Changed() const noexcept { return changed_; }
  void ClearChanged() noexcept { changed_ = false; }

private:
  TKeyPointList* owner_;
  uint8_t anchor_;
  double offset_;
  TKeyValues values_;
  bool changed_ = true; // a new key point is a change
};

// One eased span of a speed curve: key point indices and the ease-in end and ease-out start as fractions
// of the span's duration.
struct TInterval {
  int32_t first = 0;
  int32_t last = 0;
  double r1 = 0;
  double r2 = 1;
  bool operator==(const TInterval&) const = default;
};

// A speed curve: key times (whole ms, one per key point, informational), intervals and a default pair.
class TSpeedStorage : public TObj {
public:
  static constexpr int32_t kMaxCount = 10000;

  TSpeedStorage() { Reset(); }

  const std::vector<int32_t>& KeyTimes() const noexcept { return keyTimes_; }
  const std::vector<TInterval>& Intervals() const noexcept { return intervals_; }
  double DefaultFrom() const noexcept { return default0_; }
  double DefaultTo() const noexcept { return default1_; }

  void SetKeyTimes(std::vector<int32_t> keyTimes);
  void AddInterval(const TInterval& interval);
  void ClearIntervals();
  // One key time 0, no intervals, the default pair (0, 1).
  void Reset();

  // "N;t1;..;tN;M;first;last;r1;r2;..;[d0;d1;]". Malformed text resets the curve and answers false.
  bool LoadFromText(std::u16string_view text);
  std::u16string SaveToText() const;

  // Intervals follow their key points when the owner's order changes: oldToNew[i] is the new index of
  // the key point that was at i. Indices outside the map are left alone (playback ignores them).
  void RemapIndices(const std::vector<int32_t>& oldToNew);

  // Told whenever the curve changes.
  void SetOnChange(std::function<void()> onChange) { onChange_ = std::move(onChange); }

private:
  void Changed() {
    if (onChange_) onChange_();
  }

  std::vector<int32_t> keyTimes_;
  std::vector<TInterval> intervals_;
  double default0_ = 0;
  double default1_ = 1;
  std::function<void()> onChange_;
};

// The eased-motion evaluator: a trapezoidal speed profile over a span of D ms, accelerating over r1 * D,
// at constant speed up to r2 * D, decelerating to the end.
class TSmoother : public TObj {
public:
  void SetupSmoother(double duration, double r1, double r2);
  // The value between a (start) and b (end) after `elapsed` ms.
  double Smooth(double a, double b, double elapsed) const;

private:
  double accel_ = 0;  // e
  double steady_ = 0; // d
  double decel_ = 0;  // q
};

class TKeyPointList : public TSmoother {
public:
  TKeyPointList();
  ~TKeyPointList() override;

  int Count() const noexcept { return static_cast<int>(points_.size()); }
  // In order of absolute time.
  TKeyPoint& KeyPoint(int index) const { return *points_.at(static_cast<size_t>(index)); }

  // A key point with default values at its place in time.
  TKeyPoint& AddKeyPoint(uint8_t anchor, double offset);
  // Removes every key point and drops the speed curves.
  void Clear();

  // The current values, filled by Interpolate; loading reads a key point's keys into them first.
  const TKeyValues& Current() const noexcept { return current_; }
  TKeyValues& MutableCurrent() noexcept { return current_; }
  void ApplyCurrentValues(TKeyPoint& keyPoint) const { keyPoint.SetValues(current_); }
  void SetScale(float scaleX, float scaleY);

  // Sets the current time, the active flag and every current value.
  void Interpolate(double time);
  double CurrentTime() const noexcept { return time_; }
  // Current time between slide begin and slide end, both included.
  bool Active() const noexcept { return active_; }

  bool PerspectiveCorrection() const noexcept { return perspective_; }
  void SetPerspectiveCorrection(bool on) { perspective_ = on; }

  // Created from the key points on first use: one key time per key point, no intervals.
  TSpeedStorage& GetPanCurve() { return GetCurve(pan_); }
  TSpeedStorage& GetZoomCurve() { return GetCurve(zoom_); }
  TSpeedStorage& GetRotateCurve() { return GetCurve(rotate_); }
  // Without creating: nullptr while absent.
  const TSpeedStorage* PanCurve() const noexcept { return pan_.get(); }
  const TSpeedStorage* ZoomCurve() const noexcept { return zoom_.get(); }
  const TSpeedStorage* RotateCurve() const noexcept { return rotate_.get(); }

  // Re-sorts after anchor times or offsets moved; intervals keep their key points and the curves' key
  // times become the key points' rounded times.
  void KeyTimesChanged();

  // Any key point (or curve) changed since the last ClearChanged.
  bool HasChangedKeyPoints() const;
  void ClearChanged();

  // Absolute time of an anchor; without an owner every anchor is at 0.
  virtual double GetAnchorTime(uint8_t anchor) const;

private:
  TSpeedStorage& GetCurve(TOwned<TSpeedStorage>& curve);
  std::vector<int32_t> RoundedTimes() const;
  void Sort();
  // The eased interval of a curve that covers `time`, as key point indices.
  bool FindEasedInterval(const TSpeedStorage* curve, double time, int& first, int& last,
                         const TInterval*& interval) const;
  // Elapsed time into an eased interval, perspective-corrected when on.
  double EasedElapsed(const TKeyPoint& first, const TKeyPoint& last, double time) const;
  float CorrectedFraction(const TKeyPoint& p, const TKeyPoint& n, double time, float f) const;
  void TakeValues(const TKeyPoint& keyPoint);

  std::vector<TOwned<TKeyPoint>> points_;
  TKeyValues current_;
  double time_ = 0;
  bool active_ = false;
  bool perspective_ = false;
  bool curveChanged_ = false;
  TOwned<TSpeedStorage> pan_;    // position and depth
  TOwned<TSpeedStorage> zoom_;   // scale x and y
  TOwned<TSpeedStorage> rotate_; // angle, angle x, angle y
};

} // namespace kiv

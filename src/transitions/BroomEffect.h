#pragma once
// The broom: the picture is swept in by a long arm turning about a pivot outside the frame, one of the
// frame's edges or corners; the arm's leading edge is soft over a small angle.

#include "DrawFilter.h"

#include <array>
#include <vector>

namespace kiv {

// The sweep's geometry for one direction: where the pivot lies and the range of angles (radians from
// straight up, clockwise) over which the arm crosses the frame.
class TBroom : public TObj {
public:
  static constexpr int kSamples = 1000; // angle steps round the circle

  TBroom(const TRect& frame, float offset, float smooth);
  // Fills pivot, soft angle and the angle range.
  virtual void Init() = 0;

  // One triangle of the sweep: the pivot and two points on the circle, with their transparencies
  // (0 shows the picture, 255 hides it).
  struct TFan {
    TFloatPoint pivot, from, to;
    float pivotValue, fromValue, toValue;
  };
  // The fans for the arm at `angle`, those that hide everything left out.
  std::vector<TFan> Fans(double angle) const;
  // The transparency at a sample angle.
  float SampleValue(double sampleAngle, double angle) const;
  float Radius() const { return width + height + offset; }

  float top, height, left, width;
  TFloatPoint pivot;
  double softAngle = 0;
  double currentAngle = 0;
  double startAngle = 0, endAngle = 0;
  float offset;
  float smooth;

protected:
  // Sample angles below this are counted a full turn later.
  virtual double WrapBelow() const { return 0; }
};

class TBroomUp final : public TBroom {
public:
  using TBroom::TBroom;
  void Init() override;
};
class TBroomRight final : public TBroom {
public:
  using TBroom::TBroom;
  void Init() override;
};
class TBroomDown final : public TBroom {
public:
  using TBroom::TBroom;
  void Init() override;

protected:
  double WrapBelow() const override;
};
class TBroomLeft final : public TBroom {
public:
  using TBroom::TBroom;
  void Init() override;
};
class TBroomUpRight final : public TBroom {
public:
  using TBroom::TBroom;
  void Init() override;
};
class TBroomDownRight final : public TBroom {
public:
  using TBroom::TBroom;
  void Init() override;
};
class TBroomDownLeft final : public TBroom {
public:
  using TBroom::TBroom;
  void Init() override;
};
class TBroomUpLeft final : public TBroom {
public:
  using TBroom::TBroom;
  void Init() override;
};

// The broom of a direction (1 .. 8: up, right, down, left, up-right, down-right, down-left, up-left).
TOwned<TBroom> MakeBroom(int32_t direction, const TRect& frame, float offset, float smooth);

class TBroomEffect final : public TDrawFilter {
public:
  // Kinds above 8 are the directions 1 .. 8 swept backwards; an unknown direction sweeps up.
  TBroomEffect(int32_t kind, float broomOffset);
  void DrawWith(TEffController& controller) override;
  // start + (end - start) x t, or x (1 - t) when reversed.
  double SweepAngle() const;
  const TBroom& Broom(); // made on first use

  int32_t direction;
  float offset; // pixels
  double startAngle = 0, angleRange = 0;

private:
  TOwned<TBroom> broom_;
};

} // namespace kiv

#pragma once
// The roll: the incoming slide lies rolled up on a cylinder beyond its start edge and unrolls across the
// frame as the roll line advances; flat, or with the curl coming towards the eye. The slide is cut into
// strips parallel to the roll line, fine near the curl, and drawn in depth with the slide texture.

#include "DrawFilter.h"

#include <algorithm>
#include <vector>

namespace kiv {

// The roll's geometry over one rectangle. Positions "along" are measured along the roll direction.
class TRoller3 final : public TObj {
public:
  static constexpr float kMinBrightness = 50, kMaxBrightness = 255;

  // `diameter` in pixels (its integer part is the radius, at least 2); the curl wraps half a turn, three
  // quarters with `variants`; depth only with `in3D` and a curving that is not 0.
  TRoller3(TFloatPoint direction, const TRect& frame, float diameter, bool variants, bool in3D,
           float curving);

  float Along(float x, float y) const { return x * dx + y * dy; }
  // Where a point of the slide lands, with its depth (negative towards the eye).
  T3DPoint Place(float x, float y) const;
  // The wrap angle beyond which the curl shows its back.
  double SplitAngle() const;
  // 50 .. 255 by the wrap angle at an along position; 255 on the flat part.
  float Brightness(double along) const;
  // How far the line still lies behind the start edge (0 once past it).
  double Behind() const { return std::max(0.0, startEdge - line); }

  float dx, dy;              // unit direction of the roll
  double startEdge, endEdge; // along positions of the frame's first and last points
  float left, top, width, height;
  double line = 0; // along position of the roll line
  double radius;
  double maxWrap;
  int32_t fineStep;
  bool in3D;
  float curving;
};

class TRollEffect2 final : public TDrawFilter {
public:
  // Class 14 (straight) or 15 (diagonal); kinds 1 .. 8, those above 4 reversed. Unknown classes and kinds
  // roll from the left (or from the top-left corner).
  TRollEffect2(int32_t effectClassValue, int32_t kind, const TEffectParams& options);
  void DrawWith(TEffController& controller) override;

  // The roll direction of a class and kind.
  static TFloatPoint Direction(int32_t effectClassValue, int32_t kind);
  // Along positions where the line starts and ends (known from the first draw on).
  double StartLine() const { return start_; }
  double EndLine() const { return end_; }
  const TRoller3* Roller() const { return roller_.get(); }

  int32_t rollClass, rollKind;
  bool variants, useBackColor, in3D;
  TBGRColor backColor;
  float curving;
  float diameter; // pixels

private:
  void Prepare(const TRect& rect);

  TOwned<TRoller3> roller_;
  double start_ = 0, end_ = 0;
  TRect preparedFor_;
};

} // namespace kiv

#include "BroomEffect.h"

#include "EffectCurves.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace kiv {

namespace {

constexpr double kPi = std::numbers::pi;

double Arccot(double v) {
  return std::atan(1 / v);
}

} // namespace

TBroom::TBroom(const TRect& frame, float offsetValue, float smoothValue)
    : top(float(frame.top)), height(float(frame.Height())), left(float(frame.left)),
      width(float(frame.Width())), offset(offsetValue), smooth(smoothValue) {}

float TBroom::SampleValue(double a, double angle) const {
  if (a < WrapBelow()) a += 2 * kPi;
  if (a < angle) return 0;
  if (a >= angle + softAngle) return 255;
  const long index = std::lround((a - angle) * 255 / softAngle);
  return float(EdgeCurve()[static_cast<size_t>(std::clamp(index, 0L, 255L))]);
}

std::vector<TBroom::TFan> TBroom::Fans(double angle) const {
  std::vector<TFan> fans;
  const double r = Radius();
  auto sample = [&](int i) { return double(i) * 2 * kPi / kSamples; };
  auto point = [&](double a) {
    return TFloatPoint{float(pivot.x + r * std::sin(a)), float(pivot.y - r * std::cos(a))};
  };
  // Whether the angles between two samples reach into the soft band, a full turn either way.
  auto touchesBand = [&](double a, double b) {
    for (const double shift : {0.0, -2 * kPi, 2 * kPi}) {
      const double from = angle + shift, to = angle + softAngle + shift;
      if (a <= to && b >= from) return true;
    }
    return false;
  };
  for (int i = 0; i < kSamples;) {
    int j = std::min(i + 10, kSamples);
    if (touchesBand(sample(i), sample(j))) j = i + 1;
    const float vi = SampleValue(sample(i), angle), vj = SampleValue(sample(j), angle);
    if (vi < 255 || vj < 255)
      fans.push_back({pivot, point(sample(i)), point(sample(j)), (vi + vj) / 2, vi, vj});
    i = j;
  }
  return fans;
}

void TBroomUp::Init() {
  pivot = {left + width / 2, top - offset};
  softAngle = 2 * Arccot(2 * (offset + height / 2) / smooth);
  startAngle = kPi / 2 - softAngle + std::atan(2 * offset / width);
  endAngle = 3 * kPi / 2 - std::atan(2 * offset / width);
}

void TBroomRight::Init() {
  pivot = {left + width + offset, top + height / 2};
  softAngle = 2 * Arccot(2 * (offset + width / 2) / smooth);
  startAngle = kPi - softAngle + std::atan(2 * offset / height);
  endAngle = 2 * kPi - std::atan(2 * offset / height);
}

void TBroomDown::Init() {
  pivot = {left + width / 2, top + height + offset};
  softAngle = 2 * Arccot(2 * (offset + height / 2) / smooth);
  startAngle = 3 * kPi / 2 - softAngle + std::atan(2 * offset / width);
  endAngle = 5 * kPi / 2 - std::atan(2 * offset / width);
}

double TBroomDown::WrapBelow() const {
  return kPi;
}

void TBroomLeft::Init() {
  pivot = {left - offset, top + height / 2};
  softAngle = 2 * Arccot(2 * (offset + width / 2) / smooth);
  startAngle = std::atan(2 * offset / height) - softAngle;
  endAngle = kPi - std::atan(2 * offset / height);
}

namespace {

double CornerSoftAngle(const TBroom& b) {
  const double d = std::hypot(b.offset + b.width / 2, b.offset + b.height / 2);
  return 2 * Arccot(2 * d / b.smooth);
}

} // namespace

void TBroomUpRight::Init() {
  pivot = {left + width + offset, top - offset};
  softAngle = CornerSoftAngle(*this);
  startAngle = kPi - softAngle + std::atan(offset / (offset + height));
  endAngle = 3 * kPi / 2 - std::atan(offset / (offset + width));
}

void TBroomDownRight::Init() {
  pivot = {left + width + offset, top + height + offset};
  softAngle = CornerSoftAngle(*this);
  startAngle = 3 * kPi / 2 - softAngle + std::atan(offset / (offset + width));
  endAngle = 2 * kPi - std::atan(offset / (offset + height));
}

void TBroomDownLeft::Init() {
  pivot = {left - offset, top + height + offset};
  softAngle = CornerSoftAngle(*this);
  startAngle = std::atan(offset / (offset + height)) - softAngle;
  endAngle = kPi / 2 - std::atan(offset / (offset + width));
}

void TBroomUpLeft::Init() {
  pivot = {left - offset, top - offset};
  softAngle = CornerSoftAngle(*this);
  startAngle = kPi / 2 - softAngle + std::atan(offset / (offset + width));
  endAngle = kPi - std::atan(offset / (offset + height));
}

TOwned<TBroom> MakeBroom(int32_t direction, const TRect& frame, float offset, float smooth) {
  TOwned<TBroom> broom;
  switch (direction) {
  case 2:
    broom = MakeOwned<TBroomRight>(frame, offset, smooth);
    break;
  case 3:
    broom = MakeOwned<TBroomDown>(frame, offset, smooth);
    break;
  case 4:
    broom = MakeOwned<TBroomLeft>(frame, offset, smooth);
    break;
  case 5:
    broom = MakeOwned<TBroomUpRight>(frame, offset, smooth);
    break;
  case 6:
    broom = MakeOwned<TBroomDownRight>(frame, offset, smooth);
    break;
  case 7:
    broom = MakeOwned<TBroomDownLeft>(frame, offset, smooth);
    break;
  case 8:
    broom = MakeOwned<TBroomUpLeft>(frame, offset, smooth);
    break;
  default:
    broom = MakeOwned<TBroomUp>(frame, offset, smooth);
    break;
  }
  broom->Init();
  return broom;
}

TBroomEffect::TBroomEffect(int32_t kind, float broomOffset)
    : direction(kind > 8 ? kind - 8 : kind), offset(broomOffset) {
  reverse = kind > 8 ? 1 : 0;
  if (direction < 1 || direction > 8) direction = 1; // kinds come from show data
}

const TBroom& TBroomEffect::Broom() {
  if (!broom_) {
    broom_ = MakeBroom(direction, frameRect, offset, smoothWidth);
    startAngle = broom_->startAngle;
    angleRange = broom_->endAngle - broom_->startAngle;
  }
  return *broom_;
}

double TBroomEffect::SweepAngle() const {
  const double t = NormalizedPosition();
  return startAngle + angleRange * (reverse ? 1 - t : t);
}

void TBroomEffect::DrawWith(TEffController& controller) {
  Broom();
  broom_->currentAngle = SweepAngle();
  const std::vector<TBroom::TFan> fans = broom_->Fans(broom_->currentAngle);
  if (fans.empty()) return;
  TMultiTile tile(controller);
  tile.BeginTiles(true, false);
  auto at = [this](TFloatPoint p, float value) {
    const TFloatPoint mapped = Map(p.x, p.y);
    return TAlphaPoint{mapped.x, mapped.y, 255 - value};
  };
  for (const TBroom::TFan& fan : fans)
    tile.AddAlphaTriangle(
        {at(fan.pivot, fan.pivotValue), at(fan.from, fan.fromValue), at(fan.to, fan.toValue)});
  tile.EndTiles();
}

} // namespace kiv

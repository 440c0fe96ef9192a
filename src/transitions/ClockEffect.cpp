#include "ClockEffect.h"

#include "ConvexClipping.h"
#include "EffectCurves.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace kiv {

namespace {

constexpr double kPi = std::numbers::pi;
constexpr int kStrips = 10; // per soft band

} // namespace

TArrow::TArrow(const TRect& frame, float smooth)
    : top_(float(frame.top)), height_(float(frame.Height())), left_(float(frame.left)),
      frameWidth_(float(frame.Width())), cx_(float(static_cast<int32_t>(frame.left + frame.Width() * 0.5))),
      cy_(float(static_cast<int32_t>(frame.top + frame.Height() * 0.5))),
      width_(smooth > 0 ? smooth : 0.001f) {}

float TArrow::Value(double angle, float x, float y) const {
  const std::array<int32_t, 256>& k = EdgeCurve();
  auto curve = [&](double distance) {
    const double index = std::clamp((distance + width_ / 2) * 255 / width_, 0.0, 255.0);
    return double(k[static_cast<size_t>(index)]);
  };
  // The start ray's inside is to its right; the hand's is behind it, where it came from.
  const double start = curve(x - cx_);
  const double hand = curve(-(x - cx_) * std::cos(angle) - (y - cy_) * std::sin(angle));
  const double m = std::min(start, hand), big = std::max(start, hand);
  double value;
  if (angle < 0.9 * kPi) {
    const double q = (0.9 * kPi - angle) / (0.9 * kPi);
    value = m + (big - 255) * q * q;
  } else if (angle < kPi) {
    value = m;
  } else if (angle <= 1.1 * kPi) {
    value = big;
  } else {
    const double q = (angle - 1.1 * kPi) / (0.9 * kPi);
    value = big + m * q * q;
  }
  return static_cast<float>(std::clamp(value, 0.0, 255.0));
}

std::vector<std::vector<TAlphaPoint>> TArrow::Polygons(double angle) const {
  std::vector<std::vector<TAlphaPoint>> polygons;
  const float right = left_ + frameWidth_, bottom = top_ + height_;
  if (angle <= 1e-9) return polygons;
  if (std::abs(angle - 2 * kPi) < 1e-6) {
    polygons.push_back({{left_, top_, 255}, {right, top_, 255}, {right, bottom, 255}, {left_, bottom, 255}});
    return polygons;
  }
  // The frame cut along the strip borders of both soft bands; the value is linear inside each piece.
  std::vector<TConvexPiece> pieces{{{left_, top_}, {right, top_}, {right, bottom}, {left_, bottom}}};
  const TFloatPoint normals[2] = {{1, 0}, {float(-std::cos(angle)), float(-std::sin(angle))}};
  for (const TFloatPoint n : normals) {
    const float base = n.x * cx_ + n.y * cy_;
    for (int i = 0; i <= kStrips; ++i) {
      const float offset = base - width_ / 2 + width_ * float(i) / kStrips;
      std::vector<TConvexPiece> next;
      for (const TConvexPiece& piece : pieces)
        SplitByLine(piece, n, offset, next);
      pieces = std::move(next);
    }
  }
  for (const TConvexPiece& piece : pieces) {
    std::vector<TAlphaPoint> polygon;
    bool any = false;
    for (const TFloatPoint p : piece) {
      const float v = Value(angle, p.x, p.y);
      any = any || v > 0;
      polygon.push_back({p.x, p.y, v});
    }
    if (any) polygons.push_back(std::move(polygon));
  }
  return polygons;
}

TClockEffect::TClockEffect(bool anticlockwiseTurn) : anticlockwise(anticlockwiseTurn) {
  centerX = 0.5f;
  centerY = 0.5f;
}

double TClockEffect::HandAngle() const {
  double angle = double(NormalizedPosition()) * 2 * kPi;
  if (std::abs(angle - kPi) < 1e-6) angle = 3.1415915;
  return angle;
}

void TClockEffect::DrawWith(TEffController& controller) {
  if (!arrow_) arrow_ = MakeOwned<TArrow>(frameRect, smoothWidth);
  const std::vector<std::vector<TAlphaPoint>> polygons = arrow_->Polygons(HandAngle());
  if (polygons.empty()) return;
  TMultiTile tile(controller);
  tile.BeginTiles(true, false);
  const float mirror = float(frameRect.left + frameRect.right);
  for (std::vector<TAlphaPoint> polygon : polygons) {
    if (anticlockwise) {
      for (TAlphaPoint& p : polygon)
        p.x = mirror - p.x;
      std::reverse(polygon.begin(), polygon.end());
    }
    for (TAlphaPoint& p : polygon) {
      const TFloatPoint at = Map(p.x, p.y);
      p.x = at.x;
      p.y = at.y;
    }
    tile.AddAlphaPolygon(polygon);
  }
  tile.EndTiles();
}

} // namespace kiv

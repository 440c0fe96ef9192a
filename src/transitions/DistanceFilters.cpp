#include "DistanceFilters.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace kiv {

float SmoothCurve(float x) {
  if (x < 127.5f) return x * x / 128.0f;
  return 255.0f - (255.0f - x) * (255.0f - x) / 128.0f;
}

std::vector<TDistanceBand> DistanceBands(float r, float s, float reach) {
  std::vector<TDistanceBand> bands;
  if (r <= 0) return bands;
  if (r - s > 0) bands.push_back({0, r - s, 255, 255, true});
  float inner = r - s;
  float d = 0;
  if (inner < 0) {
    d = SmoothCurve(-inner * 255.0f / s);
    inner = 0;
  }
  float b = inner;
  for (int i = 1; i <= 14; ++i) {
    const float x = static_cast<float>(i) * 255.0f / 14.0f;
    const float f = (r - s) + x * s / 255.0f;
    if (f > 0 && b < reach && (i == 14 || f - b > 2)) {
      bands.push_back({b, f, 255.0f - d, 255.0f - SmoothCurve(x), false});
      d = SmoothCurve(x);
      b = f;
    }
  }
  return bands;
}

// ---- the common filter ----

TCommonFilter::TCommonFilter(float cx, float cy, bool reversed) {
  centerX = cx;
  centerY = cy;
  reverse = reversed ? 1 : 0;
}

void TCommonFilter::Setup(const TRect& frame, float smooth, float lengthValue) {
  TDrawFilter::Setup(frame, smooth, lengthValue);
  q_ = {frame.left + frame.Width() * centerX, frame.top + frame.Height() * centerY};
  reach_ = ComputeReach() + smoothWidth;
}

float TCommonFilter::FrontRadius() const {
  const float t = NormalizedPosition();
  return reverse ? reach_ - t * reach_ : t * reach_;
}

void TCommonFilter::DrawWith(TEffController& controller) {
  const std::vector<TDistanceBand> bands = DistanceBands(FrontRadius(), smoothWidth, reach_);
  if (bands.empty()) return;
  TMultiTile tile(controller);
  tile.BeginTiles(true, false);
  for (const TDistanceBand& band : bands) {
    if (band.solid)
      EmitSolid(tile, band.to);
    else
      EmitBand(tile, band);
  }
  tile.EndTiles();
}

void TCommonFilter::Emit(TMultiTile& tile, std::vector<TAlphaPoint> points) {
  for (TAlphaPoint& p : points) {
    const TFloatPoint mapped = Map(p.x, p.y);
    p.x = mapped.x;
    p.y = mapped.y;
  }
  tile.AddAlphaPolygon(points);
}

void TCommonFilter::Emit(TMultiTile& tile, std::initializer_list<TAlphaPoint> points) {
  Emit(tile, std::vector<TAlphaPoint>(points));
}

// ---- circle ----

float TCircleFilter::ComputeReach() {
  const TRect& f = frameRect;
  const float nx = std::clamp(q_.x, float(f.left), float(f.right));
  const float ny = std::clamp(q_.y, float(f.top), float(f.bottom));
  gap_ = std::hypot(q_.x - nx, q_.y - ny);
  float farthest = 0;
  for (const float x : {float(f.left), float(f.right)})
    for (const float y : {float(f.top), float(f.bottom)})
      farthest = std::max(farthest, std::hypot(x - q_.x, y - q_.y));
  return farthest - gap_;
}

void TCircleFilter::EmitSolid(TMultiTile& tile, float d) {
  const float radius = d + gap_;
  const int n = Segments();
  std::vector<TAlphaPoint> disc;
  disc.reserve(static_cast<size_t>(n));
  for (int k = 0; k < n; ++k) {
    const double angle = 2 * std::numbers::pi * k / n;
    disc.push_back({q_.x + radius * float(std::cos(angle)), q_.y + radius * float(std::sin(angle)), 255});
  }
  Emit(tile, std::move(disc));
}

void TCircleFilter::EmitBand(TMultiTile& tile, const TDistanceBand& band) {
  const float inner = band.from + gap_, outer = band.to + gap_;
  const int n = Segments();
  float c0 = 1, s0 = 0;
  for (int k = 1; k <= n; ++k) {
    const double angle = 2 * std::numbers::pi * k / n;
    const float c1 = k == n ? 1.0f : float(std::cos(angle)), s1 = k == n ? 0.0f : float(std::sin(angle));
    Emit(tile, {{q_.x + inner * c0, q_.y + inner * s0, band.alphaFrom},
                {q_.x + outer * c0, q_.y + outer * s0, band.alphaTo},
                {q_.x + outer * c1, q_.y + outer * s1, band.alphaTo},
                {q_.x + inner * c1, q_.y + inner * s1, band.alphaFrom}});
    c0 = c1;
    s0 = s1;
  }
}

// ---- lines ----

float THLines::ComputeReach() {
  return std::max(std::abs(q_.x - frameRect.left), std::abs(q_.x - frameRect.right));
}

void THLines::EmitSolid(TMultiTile& tile, float d) {
  const float top = float(frameRect.top), bottom = float(frameRect.bottom);
  Emit(tile, {{q_.x - d, top, 255}, {q_.x + d, top, 255}, {q_.x + d, bottom, 255}, {q_.x - d, bottom, 255}});
}

void THLines::EmitBand(TMultiTile& tile, const TDistanceBand& band) {
  const float top = float(frameRect.top), bottom = float(frameRect.bottom);
  const float b = band.from, f = band.to, ab = band.alphaFrom, af = band.alphaTo;
  Emit(tile, {{q_.x - f, top, af}, {q_.x - b, top, ab}, {q_.x - b, bottom, ab}, {q_.x - f, bottom, af}});
  Emit(tile, {{q_.x + b, top, ab}, {q_.x + f, top, af}, {q_.x + f, bottom, af}, {q_.x + b, bottom, ab}});
}

float TVLines::ComputeReach() {
  return std::max(std::abs(q_.y - frameRect.top), std::abs(q_.y - frameRect.bottom));
}

void TVLines::EmitSolid(TMultiTile& tile, float d) {
  const float left = float(frameRect.left), right = float(frameRect.right);
  Emit(tile, {{left, q_.y - d, 255}, {right, q_.y - d, 255}, {right, q_.y + d, 255}, {left, q_.y + d, 255}});
}

void TVLines::EmitBand(TMultiTile& tile, const TDistanceBand& band) {
  const float left = float(frameRect.left), right = float(frameRect.right);
  const float b = band.from, f = band.to, ab = band.alphaFrom, af = band.alphaTo;
  Emit(tile, {{left, q_.y - f, af}, {right, q_.y - f, af}, {right, q_.y - b, ab}, {left, q_.y - b, ab}});
  Emit(tile, {{left, q_.y + b, ab}, {right, q_.y + b, ab}, {right, q_.y + f, af}, {left, q_.y + f, af}});
}

// ---- rhomb ----

float TRhombFilter::ComputeReach() {
  return static_cast<float>((frameRect.Width() + frameRect.Height()) / 2);
}

void TRhombFilter::EmitSolid(TMultiTile& tile, float d) {
  Emit(tile, {{q_.x, q_.y - d, 255}, {q_.x + d, q_.y, 255}, {q_.x, q_.y + d, 255}, {q_.x - d, q_.y, 255}});
}

void TRhombFilter::EmitBand(TMultiTile& tile, const TDistanceBand& band) {
  const float b = band.from, f = band.to, ab = band.alphaFrom, af = band.alphaTo;
  // Quadrants clockwise from the top corner to the right one.
  const float dx[4] = {0, 1, 0, -1}, dy[4] = {-1, 0, 1, 0};
  for (int k = 0; k < 4; ++k) {
    const int n = (k + 1) % 4;
    Emit(tile, {{q_.x + dx[k] * b, q_.y + dy[k] * b, ab},
                {q_.x + dx[k] * f, q_.y + dy[k] * f, af},
                {q_.x + dx[n] * f, q_.y + dy[n] * f, af},
                {q_.x + dx[n] * b, q_.y + dy[n] * b, ab}});
  }
}

// ---- square ----

float TSquareFilter::ComputeReach() {
  return frameRect.Width() / 2.0f;
}

void TSquareFilter::EmitSolid(TMultiTile& tile, float d) {
  const float w = frameRect.Width() > 0 ? float(frameRect.Height()) / float(frameRect.Width()) : 1.0f;
  const float hx = d, hy = d * w;
  Emit(tile, {{q_.x - hx, q_.y - hy, 255},
              {q_.x + hx, q_.y - hy, 255},
              {q_.x + hx, q_.y + hy, 255},
              {q_.x - hx, q_.y + hy, 255}});
}

void TSquareFilter::EmitBand(TMultiTile& tile, const TDistanceBand& band) {
  const float k = frameRect.Width() > 0 ? float(frameRect.Height()) / float(frameRect.Width()) : 1.0f;
  const float bx = band.from, by = band.from * k, fx = band.to, fy = band.to * k;
  const float ab = band.alphaFrom, af = band.alphaTo;
  const float x = q_.x, y = q_.y;
  Emit(tile, {{x - fx, y - fy, af}, {x + fx, y - fy, af}, {x + bx, y - by, ab}, {x - bx, y - by, ab}}); // top
  Emit(tile,
       {{x + bx, y - by, ab}, {x + fx, y - fy, af}, {x + fx, y + fy, af}, {x + bx, y + by, ab}}); // right
  Emit(tile,
       {{x - bx, y + by, ab}, {x + bx, y + by, ab}, {x + fx, y + fy, af}, {x - fx, y + fy, af}}); // bottom
  Emit(tile,
       {{x - fx, y - fy, af}, {x - bx, y - by, ab}, {x - bx, y + by, ab}, {x - fx, y + fy, af}}); // left
}

// ---- diagonals ----

TDiagLines::TDiagLines(TStart startAt, bool mirroredLines, bool reversed)
    : TCommonFilter(0, 0, reversed), start(startAt), mirrored(mirroredLines) {}

float TDiagLines::o1() const {
  const int32_t w = frameRect.Width(), h = frameRect.Height();
  switch (start) {
  case TStart::Corner:
    return 0;
  case TStart::Middle:
    return static_cast<float>((w + h) / 2);
  case TStart::FarCorner:
    break;
  }
  return static_cast<float>(w + h);
}

float TDiagLines::ComputeReach() {
  const int32_t w = frameRect.Width(), h = frameRect.Height();
  return start == TStart::Middle ? static_cast<float>((w + h) / 2) : static_cast<float>(w + h);
}

void TDiagLines::Between(TMultiTile& tile, float d1, float d2, float a1, float a2) {
  const float top = float(frameRect.top), bottom = float(frameRect.bottom);
  const float left = float(frameRect.left);
  float topOffset = o1(), bottomOffset = o1() - frameRect.Height();
  if (mirrored) std::swap(topOffset, bottomOffset);
  Emit(tile, {{left + topOffset + d1, top, a1},
              {left + topOffset + d2, top, a2},
              {left + bottomOffset + d2, bottom, a2},
              {left + bottomOffset + d1, bottom, a1}});
}

void TDiagLines::EmitSolid(TMultiTile& tile, float d) {
  switch (start) {
  case TStart::Corner:
    Between(tile, 0, d, 255, 255);
    break;
  case TStart::Middle:
    Between(tile, -d, d, 255, 255);
    break;
  case TStart::FarCorner:
    Between(tile, -d, 0, 255, 255);
    break;
  }
}

void TDiagLines::EmitBand(TMultiTile& tile, const TDistanceBand& band) {
  if (start != TStart::FarCorner) Between(tile, band.from, band.to, band.alphaFrom, band.alphaTo);
  if (start != TStart::Corner) Between(tile, -band.to, -band.from, band.alphaTo, band.alphaFrom);
}

} // namespace kiv

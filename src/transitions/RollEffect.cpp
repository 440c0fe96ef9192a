#include "RollEffect.h"

#include "ConvexClipping.h"
#include "PolygonSlicing.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace kiv {

namespace {

constexpr double kPi = std::numbers::pi;
constexpr float kDiagonal = 0.70710677f;
constexpr double kCoarseStep = 50;

} // namespace

// ---- roller ----

TRoller3::TRoller3(TFloatPoint direction, const TRect& frame, float diameter, bool variants, bool depth,
                   float curvingValue)
    : dx(direction.x), dy(direction.y), left(float(frame.left)), top(float(frame.top)),
      width(float(frame.Width())), height(float(frame.Height())), curving(curvingValue) {
  const float xs[2] = {left, left + width}, ys[2] = {top, top + height};
  startEdge = endEdge = Along(xs[0], ys[0]);
  for (const float x : xs)
    for (const float y : ys) {
      startEdge = std::min<double>(startEdge, Along(x, y));
      endEdge = std::max<double>(endEdge, Along(x, y));
    }
  const int32_t d = diameter > 0 && diameter < 1e9f ? static_cast<int32_t>(diameter) : 0;
  radius = std::max(2, d);
  fineStep = d >= 100 ? 8 : std::max(3, d / 10);
  // The full turn that the variants ask for would show the curl through itself: three quarters at most.
  maxWrap = variants ? 3 * kPi / 2 : kPi;
  // Without curving the depth cannot be told apart from the flat roll (and would be divided by).
  in3D = depth && curving != 0;
}

T3DPoint TRoller3::Place(float x, float y) const {
  const double along = Along(x, y);
  const double e = in3D ? Behind() : 0;
  const double origin = e > 0 ? startEdge : line;
  const double u = along - origin;
  if (u <= 0) return {x, y, 0};
  const double phi = std::min(u / radius, maxWrap);
  double placed = origin + radius * std::sin(phi) + std::cos(phi) * (u - phi * radius);
  double z = in3D ? -(1 - std::cos(phi)) * radius * curving : 0;
  if (e > 0) {
    // Still behind the start edge: the wrapped page turns up about that edge by the rest of the way.
    const double a = placed - startEdge, flat = z / curving;
    const double rho = std::hypot(a, flat);
    const double alpha = std::atan2(-flat, a) + e / radius;
    placed = startEdge + rho * std::cos(alpha);
    z = -rho * std::sin(alpha) * curving;
  }
  const double shift = placed - along;
  return {float(x + shift * dx), float(y + shift * dy), float(z)};
}

double TRoller3::SplitAngle() const {
  if (!in3D) return kPi / 2;
  const double e = Behind();
  const double axis = e > 0 ? startEdge - radius * std::sin(e / radius) : line;
  const double h = e > 0 ? radius * std::cos(e / radius) : radius;
  const double x = axis - (startEdge + endEdge) / 2;
  const double y = height / curving + radius - h;
  const double g = x * x + y * y - 2 * y * radius;
  if (g < 0) return kPi / 2;
  auto arccot = [](double v) { return std::atan(1 / v); };
  const double root = std::sqrt(g);
  return std::min(kPi - 2 * arccot((-x - root) / (2 * radius - y)),
                  kPi - 2 * arccot((root - x) / (2 * radius - y)));
}

float TRoller3::Brightness(double along) const {
  const double phi = std::clamp((along - line) / radius, 0.0, maxWrap);
  return float(kMinBrightness + std::abs(std::cos(phi)) * (kMaxBrightness - kMinBrightness));
}

// ---- filter ----

TFloatPoint TRollEffect2::Direction(int32_t effectClassValue, int32_t kind) {
  const bool diagonal = effectClassValue == 15;
  switch (kind) {
  case 2:
  case 8:
    return diagonal ? TFloatPoint{-kDiagonal, kDiagonal} : TFloatPoint{0, 1};
  case 3:
  case 5:
    return diagonal ? TFloatPoint{-kDiagonal, -kDiagonal} : TFloatPoint{-1, 0};
  case 4:
  case 6:
    return diagonal ? TFloatPoint{kDiagonal, -kDiagonal} : TFloatPoint{0, -1};
  default:
    return diagonal ? TFloatPoint{kDiagonal, kDiagonal} : TFloatPoint{1, 0};
  }
}

TRollEffect2::TRollEffect2(int32_t effectClassValue, int32_t kind, const TEffectParams& options)
    : rollClass(effectClassValue), rollKind(kind), variants(options.rollVariants),
      useBackColor(options.rollUseBackColor), in3D(options.roll3D), backColor(options.rollBackColor),
      curving(options.rollCurving), diameter(options.rollDiameter) {
  reverse = kind > 4 ? 1 : 0;
  edgeExtension = 1;
}

void TRollEffect2::Prepare(const TRect& rect) {
  if (roller_ && rect == preparedFor_) return;
  preparedFor_ = rect;
  roller_ = MakeOwned<TRoller3>(Direction(rollClass, rollKind), rect, diameter, variants, in3D, curving);
  const double k = roller_->in3D ? kPi / 2 : 1;
  start_ = roller_->startEdge - k * roller_->radius;
  end_ = roller_->endEdge;
  if (reverse) std::swap(start_, end_);
}

void TRollEffect2::DrawWith(TEffController& controller) {
  const TRect rect = controller.Rect();
  if (rect.IsEmpty()) return;
  Prepare(rect);
  TRoller3& roller = *roller_;
  const double t = NormalizedPosition();
  roller.line = start_ + (end_ - start_) * t;
  const double r = roller.radius;
  const double split = roller.line + roller.SplitAngle() * r;
  const double wrapEnd = roller.line + roller.maxWrap * r;

  // Strips from the start edge to the end edge, each with its group (front or back) and cut into cells.
  const T2DSeparator separator(controller.ColumnBounds(), controller.RowBounds());
  const int columns = separator.Columns(), rows = separator.Rows();
  std::vector<std::vector<TPolygon>> groups[2]; // front, back; per cell
  for (auto& g : groups)
    g.resize(size_t(columns) * size_t(rows));
  const TConvexPiece frame{{roller.left, roller.top},
                           {roller.left + roller.width, roller.top},
                           {roller.left + roller.width, roller.top + roller.height},
                           {roller.left, roller.top + roller.height}};
  const TFloatPoint n{roller.dx, roller.dy};
  for (double from = roller.startEdge; from < roller.endEdge;) {
    const double step = from < roller.line - kCoarseStep || from > wrapEnd ? kCoarseStep : roller.fineStep;
    double to = std::min(from + step, roller.endEdge);
    if (from < split && to > split) to = split;
    const TConvexPiece strip = ClipToSlab(frame, n, float(from), float(to));
    if (!strip.empty()) {
      const float b0 = roller.Brightness(from), b1 = roller.Brightness(to);
      TPolygon polygon;
      for (const TFloatPoint p : strip) {
        const double f = to > from ? (roller.Along(p.x, p.y) - from) / (to - from) : 0;
        polygon.push_back({p.x, p.y, float(b0 + (b1 - b0) * std::clamp(f, 0.0, 1.0))});
      }
      std::vector<TPolygon> cells = separator.Cut(polygon);
      auto& group = groups[from >= split ? 1 : 0];
      for (size_t c = 0; c < cells.size(); ++c)
        if (cells[c].size() >= 3) group[c].push_back(std::move(cells[c]));
    }
    from = to;
  }

  // Cells in the direction of the roll: columns by the direction's x, rows by its y.
  std::vector<int> columnOrder(static_cast<size_t>(columns)), rowOrder(static_cast<size_t>(rows));
  for (int i = 0; i < columns; ++i)
    columnOrder[size_t(i)] = roller.dx < 0 ? columns - 1 - i : i;
  for (int i = 0; i < rows; ++i)
    rowOrder[size_t(i)] = roller.dy < 0 ? rows - 1 - i : i;
  for (int g = 0; g < 2; ++g) {
    const bool coloured = g == 1 && useBackColor;
    for (const int column : columnOrder)
      for (const int row : rowOrder) {
        const std::vector<TPolygon>& polygons = groups[g][size_t(row) * size_t(columns) + size_t(column)];
        if (polygons.empty()) continue;
        TEffTile& tile = controller.GetTile(column, row);
        tile.BeginTiles(!coloured, true);
        for (const TPolygon& polygon : polygons) {
          auto texture = [&](size_t k) { return TTexturePoint{polygon[k].x, polygon[k].y, polygon[k].z}; };
          auto place = [&](size_t k) { return roller.Place(polygon[k].x, polygon[k].y); };
          auto colour = [&](size_t k) {
            const auto v = static_cast<uint32_t>(std::lround(polygon[k].z));
            return 0xFF000000u | (backColor.red * v / 256) << 16 | (backColor.green * v / 256) << 8 |
                   (backColor.blue * v / 256);
          };
          for (size_t k = 1; k + 1 < polygon.size(); ++k) {
            if (coloured)
              tile.AddColourTriangle3D({place(0), place(k), place(k + 1)},
                                       {colour(0), colour(k), colour(k + 1)});
            else
              tile.AddTexturedTriangle3D({texture(0), texture(k), texture(k + 1)},
                                         {place(0), place(k), place(k + 1)});
          }
        }
        tile.EndTiles();
      }
  }
}

} // namespace kiv

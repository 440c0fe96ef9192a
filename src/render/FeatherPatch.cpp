// Feathered edges: a quad with a one-pixel ring around it whose outer points fade to clear. The ring is
// measured on the screen and carried back onto the quad's plane, so it stays one pixel wide in any pose.

#include "Screen.h"

#include "Assert.h"

#include <array>
#include <cmath>

namespace kiv {

namespace {

// Colour of a grid point of a feather patch: the corner nearest to it.
int CornerIndex(int column, int row) {
  const bool right = column >= 2, bottom = row >= 2;
  return (bottom ? 2 : 0) + (right ? 1 : 0);
}

double Det3(const double m[3][3]) {
  return m[0][0] * (m[1][1] * m[2][2] - m[1][2] * m[2][1]) -
         m[0][1] * (m[1][0] * m[2][2] - m[1][2] * m[2][0]) +
         m[0][2] * (m[1][0] * m[2][1] - m[1][1] * m[2][0]);
}

} // namespace

void T3DScreen::BuildFeatherPatch(const TQuadPlacement& placement, const TFloatRect& rect,
                                  const TEdgeFlags& edges, TFeatherPatch& patch) const {
  patch.rect = rect;
  const float us[2] = {rect.left, rect.right}, vs[2] = {rect.top, rect.bottom};
  // Inner points first; every outer point starts on its nearest corner (a ring of zero width).
  for (int row = 0; row < 4; ++row)
    for (int column = 0; column < 4; ++column) {
      const float u = us[column >= 2 ? 1 : 0], v = vs[row >= 2 ? 1 : 0];
      patch.points[static_cast<size_t>(row * 4 + column)] = PlacePoint(placement, u, v);
      patch.coords[static_cast<size_t>(row * 4 + column)] = {u, v};
    }
  const TSize logical = LogicalSize();
  const float w = static_cast<float>(logical.width), h = static_cast<float>(logical.height);
  if (w <= 0 || h <= 0) return;
  // The ring is one screen pixel wide, whatever the view's scale.
  const TRect view = ViewRect();
  const double pixelX = view.Width() > 0 ? w / view.Width() : 1,
               pixelY = view.Height() > 0 ? h / view.Height() : 1;

  // Projected corners in order around the quad: left-top, right-top, right-bottom, left-bottom; edge k runs
  // from corner k to corner k + 1: top, right, bottom, left.
  const int cornerIndex[4] = {5, 6, 10, 9};
  TFloatPoint s[4];
  for (int k = 0; k < 4; ++k)
    s[k] = Project(patch.points[static_cast<size_t>(cornerIndex[k])]);
  double dir[4][2], len[4];
  for (int k = 0; k < 4; ++k) {
    const TFloatPoint& a = s[k];
    const TFloatPoint& b = s[(k + 1) % 4];
    dir[k][0] = b.x - a.x;
    dir[k][1] = b.y - a.y;
    len[k] = std::hypot(dir[k][0], dir[k][1]);
    if (!(len[k] > 0.1)) return;
    dir[k][0] /= len[k];
    dir[k][1] /= len[k];
  }
  for (int k = 0; k < 4; ++k) {
    const int next = (k + 1) % 4;
    if (dir[k][0] * dir[next][0] + dir[k][1] * dir[next][1] > 0.9) return;
  }
  // Outward unit normals, judged against the centre so that either facing works.
  const double cx = (s[0].x + s[1].x + s[2].x + s[3].x) / 4.0, cy = (s[0].y + s[1].y + s[2].y + s[3].y) / 4.0;
  double normal[4][2];
  for (int k = 0; k < 4; ++k) {
    double nx = dir[k][1], ny = -dir[k][0];
    const double mx = (s[k].x + s[(k + 1) % 4].x) / 2.0 - cx, my = (s[k].y + s[(k + 1) % 4].y) / 2.0 - cy;
    if (nx * mx + ny * my < 0) {
      nx = -nx;
      ny = -ny;
    }
    normal[k][0] = nx;
    normal[k][1] = ny;
  }
  // Edge flags come as left, top, right, bottom; our edges run top, right, bottom, left.
  const double feather[4] = {edges[1] ? 1.0 : 0.0, edges[2] ? 1.0 : 0.0, edges[3] ? 1.0 : 0.0,
                             edges[0] ? 1.0 : 0.0};
  enum { kTop = 0, kRight = 1, kBottom = 2, kLeft = 3 };
  auto along = [&](int edge) -> std::array<double, 2> {
    return {normal[edge][0] * feather[edge], normal[edge][1] * feather[edge]};
  };
  // At a corner the offset has one pixel along each of the two normals (or none where not feathered).
  auto corner = [&](int e1, int e2) -> std::array<double, 2> {
    const double a = normal[e1][0], b = normal[e1][1], c = normal[e2][0], d = normal[e2][1];
    const double det = a * d - b * c;
    if (std::abs(det) < 1e-9) return {along(e1)[0] + along(e2)[0], along(e1)[1] + along(e2)[1]};
    const double f1 = feather[e1], f2 = feather[e2];
    return {(f1 * d - b * f2) / det, (a * f2 - c * f1) / det};
  };
  struct TOuter {
    int column, row;
    std::array<double, 2> offset;
  };
  const TOuter outer[12] = {
      {0, 0, corner(kLeft, kTop)},  {1, 0, along(kTop)},    {2, 0, along(kTop)},
      {3, 0, corner(kTop, kRight)}, {0, 1, along(kLeft)},   {3, 1, along(kRight)},
      {0, 2, along(kLeft)},         {3, 2, along(kRight)},  {0, 3, corner(kBottom, kLeft)},
      {1, 3, along(kBottom)},       {2, 3, along(kBottom)}, {3, 3, corner(kRight, kBottom)},
  };
  // Back onto the quad's plane: intersect the eye ray through the screen point with the plane.
  const T3DPoint base = PlacePoint(placement, 0, 0);
  const T3DPoint& X = placement.xAxis;
  const T3DPoint& Y = placement.yAxis;
  const double ex = w / 2.0, ey = h / 2.0, ez = -h;
  for (const TOuter& o : outer) {
    if (o.offset[0] == 0 && o.offset[1] == 0) continue;
    const size_t index = static_cast<size_t>(o.row * 4 + o.column);
    const TFloatPoint from = Project(patch.points[index]);
    const double sx = from.x + o.offset[0] * pixelX, sy = from.y + o.offset[1] * pixelY;
    const double dx = sx - ex, dy = sy - ey, dz = h;
    // a X + b Y - t D = E - base
    const double rx = ex - base.x, ry = ey - base.y, rz = ez - base.z;
    const double m[3][3] = {{X.x, Y.x, -dx}, {X.y, Y.y, -dy}, {X.z, Y.z, -dz}};
    const double det = Det3(m);
    if (std::abs(det) < 1e-12) continue;
    const double ma[3][3] = {{rx, Y.x, -dx}, {ry, Y.y, -dy}, {rz, Y.z, -dz}};
    const double mb[3][3] = {{X.x, rx, -dx}, {X.y, ry, -dy}, {X.z, rz, -dz}};
    const float a = static_cast<float>(Det3(ma) / det), b = static_cast<float>(Det3(mb) / det);
    patch.points[index] = PlacePoint(placement, a, b);
    patch.coords[index] = {a, b};
  }
}

void T3DScreen::DrawPatch(std::span<TCustomTexture* const> layers, int layerCount,
                          const TPatchColorFunc& colorFunc, const TQuadColors& colors,
                          const TFeatherPatch& patch, int batchLayerCount,
                          std::span<const TFloatRect> layerRects) {
  RY_ASSERT(layerCount >= 0 && layerCount <= kMaxLayers);
  if (!IsReady()) return;
  const TFloatRect& r = patch.rect;
  auto coordFor = [&](int layer, size_t index) -> TFloatPoint {
    const TFloatPoint c = patch.coords[index];
    if (static_cast<size_t>(layer) >= layerRects.size()) return c;
    const TFloatRect& to = layerRects[static_cast<size_t>(layer)];
    const float sx = r.right != r.left ? (to.right - to.left) / (r.right - r.left) : 0;
    const float sy = r.bottom != r.top ? (to.bottom - to.top) / (r.bottom - r.top) : 0;
    return {to.left + (c.x - r.left) * sx, to.top + (c.y - r.top) * sy};
  };
  auto colorAt = [&](int column, int row) {
    const uint32_t c = colors[static_cast<size_t>(CornerIndex(column, row))];
    const bool inner = column >= 1 && column <= 2 && row >= 1 && row <= 2;
    if (inner) return c;
    return colorFunc ? colorFunc(c) : (c & 0x00FFFFFFu);
  };
  batch->BeginBatch(layers, batchLayerCount);
  batch->is3D = true;
  for (int row = 0; row < 3; ++row)
    for (int column = 0; column < 3; ++column) {
      const int lt[2] = {column, row}, rt[2] = {column + 1, row}, lb[2] = {column, row + 1},
                rb[2] = {column + 1, row + 1};
      const int* tris[2][3] = {{lb, lt, rb}, {rb, lt, rt}};
      for (const auto& tri : tris) {
        std::array<T3DPoint, 3> points;
        std::array<uint32_t, 3> cols;
        std::array<std::array<TFloatPoint, 3>, kMaxLayers> coords{};
        for (int v = 0; v < 3; ++v) {
          const size_t index = static_cast<size_t>(tri[v][1] * 4 + tri[v][0]);
          points[static_cast<size_t>(v)] = patch.points[index];
          cols[static_cast<size_t>(v)] = colorAt(tri[v][0], tri[v][1]);
          for (int k = 0; k < layerCount; ++k)
            coords[static_cast<size_t>(k)][static_cast<size_t>(v)] = coordFor(k, index);
        }
        batch->AddTriangle(points, cols, std::span(coords.data(), static_cast<size_t>(layerCount)));
      }
    }
  batch->is3D = false;
  batch->Flush();
}

} // namespace kiv

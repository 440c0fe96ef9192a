#pragma once
// A controller whose tiles only remember what the filters gave them, and a software look-up of the alpha
// that the recorded triangles put at a point, so that filter geometry can be checked without a device.

#include "EffectTiles.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <optional>
#include <utility>
#include <vector>

namespace kiv::test {

struct TRecordedTriangle {
  std::array<TAlphaPoint, 3> points;
};
struct TRecordedTexturedTriangle {
  std::array<TTexturePoint, 3> texture;
  std::array<TFloatPoint, 3> positions;
};
struct TRecordedDepthTriangle {
  std::array<TTexturePoint, 3> texture; // empty brightness for coloured ones
  std::array<T3DPoint, 3> positions;
  std::array<uint32_t, 3> colors{};
  bool textured = true;
  int batch = 0; // which batch of the tile it came in (1 for the first)
};

class TRecordingTile final : public TEffTile {
public:
  using TEffTile::TEffTile;
  void BeginTiles(bool withPicture, bool in3D) override {
    EXPECT_FALSE(open) << "BeginTiles twice";
    open = true;
    lastTextured = withPicture;
    last3D = in3D;
    ++batches;
  }
  void AddAlphaTriangle(const std::array<TAlphaPoint, 3>& points) override {
    EXPECT_TRUE(open);
    alpha.push_back({points});
  }
  void AddColourTriangle(const std::array<TFloatPoint, 3>& points,
                         const std::array<uint32_t, 3>& colors) override {
    EXPECT_TRUE(open);
    flatColours.push_back({points, colors});
  }
  void AddTexturedTriangle(const std::array<TTexturePoint, 3>& texture,
                           const std::array<TFloatPoint, 3>& positions) override {
    EXPECT_TRUE(open);
    textured.push_back({texture, positions});
  }
  void AddColourTriangle3D(const std::array<T3DPoint, 3>& points,
                           const std::array<uint32_t, 3>& colors) override {
    EXPECT_TRUE(open);
    EXPECT_TRUE(last3D);
    depth.push_back({{}, points, colors, false, batches});
  }
  void AddTexturedTriangle3D(const std::array<TTexturePoint, 3>& texture,
                             const std::array<T3DPoint, 3>& positions) override {
    EXPECT_TRUE(open);
    EXPECT_TRUE(last3D);
    depth.push_back({texture, positions, {}, true, batches});
  }
  void EndTiles() override {
    EXPECT_TRUE(open) << "EndTiles without BeginTiles";
    open = false;
  }

  bool open = false;
  bool lastTextured = false, last3D = false;
  int batches = 0;
  std::vector<TRecordedTriangle> alpha;
  std::vector<TRecordedTexturedTriangle> textured;
  std::vector<std::pair<std::array<TFloatPoint, 3>, std::array<uint32_t, 3>>> flatColours;
  std::vector<TRecordedDepthTriangle> depth;
};

class TRecordingController final : public TEffController {
public:
  // One cell over the rectangle, or a grid with the given boundaries.
  explicit TRecordingController(const TRect& rect) {
    SetGrid({float(rect.left), float(rect.right)}, {float(rect.top), float(rect.bottom)});
  }
  TRecordingController(std::vector<float> xs, std::vector<float> ys) {
    SetGrid(std::move(xs), std::move(ys));
  }
  TRecordingTile& Tile(int column, int row) { return static_cast<TRecordingTile&>(GetTile(column, row)); }
  // Every alpha triangle of every cell.
  std::vector<TRecordedTriangle> AllAlpha() {
    std::vector<TRecordedTriangle> all;
    for (int r = 0; r < Rows(); ++r)
      for (int c = 0; c < Columns(); ++c)
        for (const auto& t : Tile(c, r).alpha)
          all.push_back(t);
    return all;
  }

protected:
  TOwned<TEffTile> CreateTile(const TRect& cellRect, TPoint cellIndex) override {
    return MakeOwned<TRecordingTile>(this, cellRect, cellIndex);
  }
};

// The alpha the triangles give the point: interpolated in the first triangle that holds it; none when no
// triangle does (nothing of the picture is drawn there).
inline std::optional<float> AlphaAt(const std::vector<TRecordedTriangle>& triangles, float x, float y) {
  for (const TRecordedTriangle& t : triangles) {
    const TAlphaPoint& a = t.points[0];
    const TAlphaPoint& b = t.points[1];
    const TAlphaPoint& c = t.points[2];
    const float det = (b.y - c.y) * (a.x - c.x) + (c.x - b.x) * (a.y - c.y);
    if (std::abs(det) < 1e-6f) continue;
    const float l1 = ((b.y - c.y) * (x - c.x) + (c.x - b.x) * (y - c.y)) / det;
    const float l2 = ((c.y - a.y) * (x - c.x) + (a.x - c.x) * (y - c.y)) / det;
    const float l3 = 1 - l1 - l2;
    constexpr float kSlack = -1e-5f;
    if (l1 < kSlack || l2 < kSlack || l3 < kSlack) continue;
    return l1 * a.alpha + l2 * b.alpha + l3 * c.alpha;
  }
  return std::nullopt;
}

} // namespace kiv::test

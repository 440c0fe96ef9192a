#include "EffectTiles.h"

#include "Assert.h"

#include <cmath>

namespace kiv {

namespace {

int32_t Cut(float value) {
  return static_cast<int32_t>(value);
}

} // namespace

void TEffController::SetGrid(std::vector<float> columnBounds, std::vector<float> rowBounds) {
  xs_ = std::move(columnBounds);
  ys_ = std::move(rowBounds);
  tiles_.clear();
  tiles_.resize(static_cast<size_t>(Columns()) * static_cast<size_t>(Rows()));
}

TEffTile& TEffController::GetTile(int column, int row) {
  RY_ASSERT(column >= 0 && column < Columns() && row >= 0 && row < Rows());
  TOwned<TEffTile>& tile = tiles_[static_cast<size_t>(row) * static_cast<size_t>(Columns()) + column];
  if (!tile) {
    const auto c = static_cast<size_t>(column), r = static_cast<size_t>(row);
    tile = CreateTile({Cut(xs_[c]), Cut(ys_[r]), Cut(xs_[c + 1]), Cut(ys_[r + 1])}, {column, row});
  }
  return *tile;
}

TRect TEffController::OuterRect() const {
  if (xs_.empty() || ys_.empty()) return {};
  return {Cut(xs_.front()), Cut(ys_.front()), Cut(xs_.back()), Cut(ys_.back())};
}

void FillCellsBlack(TEffController& controller) {
  constexpr uint32_t kOpaqueBlack = 0xFF000000u;
  for (int row = 0; row < controller.Rows(); ++row)
    for (int column = 0; column < controller.Columns(); ++column) {
      TEffTile& tile = controller.GetTile(column, row);
      const TRect& c = tile.cell;
      const TFloatPoint lt{float(c.left), float(c.top)}, rt{float(c.right), float(c.top)},
          lb{float(c.left), float(c.bottom)}, rb{float(c.right), float(c.bottom)};
      tile.BeginTiles(false, false);
      tile.AddColourTriangle({lt, rt, lb}, {kOpaqueBlack, kOpaqueBlack, kOpaqueBlack});
      tile.AddColourTriangle({rb, lb, rt}, {kOpaqueBlack, kOpaqueBlack, kOpaqueBlack});
      tile.EndTiles();
    }
}

TMultiTile::TMultiTile(TEffController& owner)
    : TEffTile(&owner, owner.OuterRect(), {0, 0}), separator_(owner.ColumnBounds(), owner.RowBounds()) {}

void TMultiTile::BeginTiles(bool textured, bool in3D) {
  for (int row = 0; row < controller->Rows(); ++row)
    for (int column = 0; column < controller->Columns(); ++column)
      controller->GetTile(column, row).BeginTiles(textured, in3D);
}

void TMultiTile::EndTiles() {
  for (int row = 0; row < controller->Rows(); ++row)
    for (int column = 0; column < controller->Columns(); ++column)
      controller->GetTile(column, row).EndTiles();
}

void TMultiTile::AddAlphaTriangle(const std::array<TAlphaPoint, 3>& points) {
  AddAlphaPolygon(points);
}

void TMultiTile::AddAlphaPolygon(std::span<const TAlphaPoint> points) {
  if (points.size() < 3) return;
  TPolygon polygon;
  polygon.reserve(points.size());
  for (const TAlphaPoint& p : points)
    polygon.push_back({p.x, p.y, p.alpha});
  const std::vector<TPolygon> cells = separator_.Cut(polygon);
  const int columns = separator_.Columns();
  for (size_t i = 0; i < cells.size(); ++i) {
    const TPolygon& piece = cells[i];
    if (piece.size() < 3) continue;
    TEffTile& tile = controller->GetTile(static_cast<int>(i) % columns, static_cast<int>(i) / columns);
    auto at = [&piece](size_t k) { return TAlphaPoint{piece[k].x, piece[k].y, piece[k].z}; };
    for (size_t k = 1; k + 1 < piece.size(); ++k)
      tile.AddAlphaTriangle({at(0), at(k), at(k + 1)});
  }
}

void TMultiTile::AddColourTriangle(const std::array<TFloatPoint, 3>&, const std::array<uint32_t, 3>&) {
  RY_ASSERT_MSG(false, "Not Supported Yet");
}
void TMultiTile::AddTexturedTriangle(const std::array<TTexturePoint, 3>&, const std::array<TFloatPoint, 3>&) {
  RY_ASSERT_MSG(false, "Not Supported Yet");
}
void TMultiTile::AddColourTriangle3D(const std::array<T3DPoint, 3>&, const std::array<uint32_t, 3>&) {
  RY_ASSERT_MSG(false, "Not Supported Yet");
}
void TMultiTile::AddTexturedTriangle3D(const std::array<TTexturePoint, 3>&, const std::array<T3DPoint, 3>&) {
  RY_ASSERT_MSG(false, "Not Supported Yet");
}

} // namespace kiv

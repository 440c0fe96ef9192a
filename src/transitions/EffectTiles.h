#pragma once
// The grid through which transition filters emit their triangles: a controller divides a rectangle into
// cells, each with a lazily made tile that draws what it is given; the multi tile spans the whole grid and
// cuts alpha polygons into the cells.

#include "PolygonSlicing.h"
#include "Screen.h"

#include <array>
#include <cstdint>
#include <span>
#include <vector>

namespace kiv {

class TEffController;

// A point of an alpha polygon: where it lies and the alpha (0..255) of the picture there.
struct TAlphaPoint {
  float x = 0, y = 0;
  float alpha = 0;
};
// A point of the picture (in the picture's pixels) with the brightness (0..255) it is drawn with.
struct TTexturePoint {
  float x = 0, y = 0;
  float brightness = 255;
};

class TEffTile : public TObj {
public:
  TEffTile(TEffController* owner, const TRect& cellRect, TPoint cellIndex)
      : controller(owner), cell(cellRect), index(cellIndex) {}

  // Starts a batch: textured with the slide picture or plain colours, flat or in depth.
  virtual void BeginTiles(bool textured, bool in3D) = 0;
  // The picture at the points, with their alphas.
  virtual void AddAlphaTriangle(const std::array<TAlphaPoint, 3>& points) = 0;
  virtual void AddColourTriangle(const std::array<TFloatPoint, 3>& points,
                                 const std::array<uint32_t, 3>& colors) = 0;
  // The picture's points drawn at the positions.
  virtual void AddTexturedTriangle(const std::array<TTexturePoint, 3>& texture,
                                   const std::array<TFloatPoint, 3>& positions) = 0;
  virtual void AddColourTriangle3D(const std::array<T3DPoint, 3>& points,
                                   const std::array<uint32_t, 3>& colors) = 0;
  virtual void AddTexturedTriangle3D(const std::array<TTexturePoint, 3>& texture,
                                     const std::array<T3DPoint, 3>& positions) = 0;
  // Draws the batch.
  virtual void EndTiles() = 0;

  TEffController* controller;
  TRect cell;   // the cell's boundaries cut to integers
  TPoint index; // column, row
};

class TEffController : public TObj {
public:
  // Column boundaries (x) and row boundaries (y); frees the tiles made so far.
  void SetGrid(std::vector<float> columnBounds, std::vector<float> rowBounds);
  int Columns() const { return xs_.empty() ? 0 : static_cast<int>(xs_.size()) - 1; }
  int Rows() const { return ys_.empty() ? 0 : static_cast<int>(ys_.size()) - 1; }
  const std::vector<float>& ColumnBounds() const { return xs_; }
  const std::vector<float>& RowBounds() const { return ys_; }
  // The tile of a cell, made on first use; a cell outside the grid is a contract violation.
  TEffTile& GetTile(int column, int row);
  // (first x, first y, last x, last y), each cut to an integer.
  TRect OuterRect() const;
  // The rectangle the filters map their geometry into; the grid's outer rectangle unless said otherwise.
  virtual TRect Rect() const { return OuterRect(); }

protected:
  virtual TOwned<TEffTile> CreateTile(const TRect& cellRect, TPoint cellIndex) = 0;

private:
  std::vector<float> xs_, ys_;
  std::vector<TOwned<TEffTile>> tiles_; // row by row
};

// Every cell of the controller filled with opaque black, each in a batch of its own.
void FillCellsBlack(TEffController& controller);

// A tile over the whole grid: alpha polygons only, cut along the grid and handed to the cell tiles as fans.
class TMultiTile final : public TEffTile {
public:
  explicit TMultiTile(TEffController& owner);

  void BeginTiles(bool textured, bool in3D) override;
  void AddAlphaTriangle(const std::array<TAlphaPoint, 3>& points) override;
  // A convex polygon, points in order.
  void AddAlphaPolygon(std::span<const TAlphaPoint> points);
  void AddColourTriangle(const std::array<TFloatPoint, 3>&, const std::array<uint32_t, 3>&) override;
  void AddTexturedTriangle(const std::array<TTexturePoint, 3>&, const std::array<TFloatPoint, 3>&) override;
  void AddColourTriangle3D(const std::array<T3DPoint, 3>&, const std::array<uint32_t, 3>&) override;
  void AddTexturedTriangle3D(const std::array<TTexturePoint, 3>&, const std::array<T3DPoint, 3>&) override;
  void EndTiles() override;

private:
  T2DSeparator separator_;
};

} // namespace kiv

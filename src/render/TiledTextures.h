#pragma once
// Pictures carried to the device: a picture is cut into overlapping tiles taken from six pools of tile
// shapes; every tile repeats the edge pixels of what it covers, so bilinear filtering and mip levels never
// mix in foreign pixels. Frame grids are read through a view with a transparent one-pixel gutter around
// every frame. The white texture of antialiased boxes lives here too.

#include "Screen.h"

#include <array>
#include <atomic>
#include <mutex>
#include <string>
#include <vector>

namespace kiv {

// Vertex colours modulate every texture layer while it lives.
class TModulateScope {
public:
  explicit TModulateScope(T3DScreen& screen) : batch_(*screen.batch), was_(batch_.modulate) {
    batch_.modulate = true;
  }
  ~TModulateScope() {
    batch_.Flush();
    batch_.modulate = was_;
  }
  TModulateScope(const TModulateScope&) = delete;
  TModulateScope& operator=(const TModulateScope&) = delete;

private:
  TVertexBuffer& batch_;
  bool was_;
};

// Read access to 32-bit pixels that tiles are cut from.
class TPixelSource {
public:
  virtual ~TPixelSource() = default;
  virtual int32_t Width() const = 0;
  virtual int32_t Height() const = 0;
  // `count` pixels of row y from column x; reading outside the size is a contract violation.
  virtual void GetPixels(int32_t x, int32_t y, int32_t count, uint32_t* out) const = 0;
};

// A rectangle of a 32-bit bitmap, read in place.
class TCropSource final : public TPixelSource {
public:
  TCropSource(const TDevBitmap& bitmap, const TRect& rect);
  int32_t Width() const override { return rect_.Width(); }
  int32_t Height() const override { return rect_.Height(); }
  void GetPixels(int32_t x, int32_t y, int32_t count, uint32_t* out) const override;

private:
  const TDevBitmap& bitmap_;
  TRect rect_;
};

// A frame grid with a gutter around every frame: the gutter repeats the frame's edge pixel with alpha 0.
class TTileBitmap final : public TPixelSource {
public:
  TTileBitmap(const TDevBitmap& source, int32_t columns, int32_t rows);
  int32_t Width() const override { return width_; }
  int32_t Height() const override { return height_; }
  void GetPixels(int32_t x, int32_t y, int32_t count, uint32_t* out) const override;
  int32_t FrameWidth() const { return frameWidth_; }
  int32_t FrameHeight() const { return frameHeight_; }
  bool IsGutterColumn(int32_t x) const { return gutter_[static_cast<size_t>(x)]; }
  // Top-left of frame (column, row) in this bitmap.
  TPoint CellOrigin(int32_t column, int32_t row) const {
    return {column * (frameWidth_ + 2) + 1, row * (frameHeight_ + 2) + 1};
  }

private:
  int32_t SourceCoord(int32_t v, int32_t frame, int32_t& cell) const;
  const TDevBitmap& source_;
  int32_t columns_, rows_, frameWidth_, frameHeight_, width_, height_;
  std::vector<bool> gutter_;
};

// ---- pure rules of tiling ----
inline constexpr std::array<TSize, 6> kTileShapes = {
    {{256, 256}, {256, 128}, {256, 64}, {128, 256}, {64, 256}, {64, 64}}};

// Index of the tile shape for a request of w x h among the shapes still available (all when empty).
int ChooseTileShape(int32_t w, int32_t h, std::span<const bool> available = {});

struct TTilePlacement {
  TPoint offset; // in the picture, may be -1
  TSize used;    // at most the tile shape
  int shape = 0;
};
// How a picture of the given size is covered, in the order the tiles are taken.
std::vector<TTilePlacement> LayoutTiles(int32_t width, int32_t height);

// Texture store key of an image drawn with the given reduction, grid and premultiplied flag.
std::string MultiTextureKey(int32_t reductionLevel, int32_t columns, int32_t rows, bool premultiplied);

class TTextureManager6;
class TTileManager;
class TMultiTexture6;

class TTextureTile final : public TCustomTexture {
public:
  TTextureTile(T3DScreen* screen, TTileManager* owner, TSize tileSize);
  void FillLevel0(std::span<TDevBitmap* const> levels) override;
  // Uploads when dirty; answers whether the content is now on the device.
  bool Upload();
  void PreLoadTile();

  TTileManager* pool;              // the pool the tile returns to
  TMultiTexture6* owner = nullptr; // while in use
  TPoint offset{-1, -1};           // in the owner's picture
  TSize used;                      // part of the tile that is covered
  bool dirty = true;               // content must be uploaded
  bool preloaded = false;
  const TPixelSource* source = nullptr; // set while in use

private:
  bool filled_ = false; // set by FillLevel0 when the load callback let it run
};

class TTileManager final : public TObj {
public:
  TTileManager(TTextureManager6* manager, TSize tileSize) : textureManager(manager), size(tileSize) {}
  TTextureManager6* textureManager;
  TSize size;
  std::vector<TOwned<TTextureTile>> freeTiles; // last returned last; guarded by the manager's lock
};

// Shared by the drawer and every multi-texture cut through it: a picture may keep its textures after the
// drawer went, and the pools they return their tiles to go with the last of them.
class TTextureManager6 final : public TRefObj {
public:
  explicit TTextureManager6(T3DScreen* screen);
  ~TTextureManager6() override;
  // A tile for a region of w x h, its used size set; none once the screen went.
  TOwned<TTextureTile> GetTile(int32_t w, int32_t h);
  void ReturnTile(TOwned<TTextureTile> tile);
  // The drawer and its screen go: pooled tiles are freed while the screen still lives, and tiles returned
  // later are freed rather than pooled.
  void DetachScreen();
  // Drawing with a multi-texture runs under the drawer lock, as does DetachScreen, so a screen read there
  // stays alive while it draws.
  T3DScreen* Screen() const;

  // Made and dropped on the loader thread and the drawing thread alike.
  std::atomic<int32_t> liveMultiTextures{0};
  std::vector<TOwned<TTileManager>> pools; // none where a pool was dropped; guarded by lock_

protected:
  void BeforeDestruction() override;

private:
  mutable std::mutex lock_;
  T3DScreen* screen_; // guarded by lock_; cleared by DetachScreen
};

class TMultiTexture6 final : public TObj {
public:
  explicit TMultiTexture6(TRef<TTextureManager6> manager);
  ~TMultiTexture6() override;

  // The bitmap must stay alive while the multi-texture uses it.
  void SetBitmap(const TDevBitmap& bitmap, bool premultipliedBitmap, int32_t columns, int32_t rows,
                 const TRect& sourceRect);
  void Upload();
  void PreLoad();
  // Source rectangle in the cut bitmap's coordinates.
  void Draw(const T3DPoint& placement, TFloatPoint pivot, const TFloatRect& source, const T3DPoint& xAxis,
            const T3DPoint& yAxis);
  void DrawWhole(const T3DPoint& placement, TFloatPoint pivot, const T3DPoint& xAxis, const T3DPoint& yAxis);
  int32_t Width() const { return cut_ ? cut_->Width() : 0; }
  int32_t Height() const { return cut_ ? cut_->Height() : 0; }
  const TTileBitmap* Grid() const { return dynamic_cast<const TTileBitmap*>(cut_.get()); }
  size_t TileCount() const { return tiles.size(); }
  void ReleaseTiles();

  const TRef<TTextureManager6> manager; // kept while the multi-texture lives
  std::vector<TOwned<TTextureTile>> tiles;
  TRect sourceRect;
  bool premultiplied = false;
  uint8_t opacity = 255;
  bool pointFilter = false;
  bool mipMapped = false;
  float lodBias = 0;
  bool antialiased = false;
  bool tintOn = false;
  std::array<uint8_t, 3> tintColor{};    // blue, green, red
  TCustomTexture* secondLayer = nullptr; // a render target drawn together with every tile
  TFloatPoint secondOffset;              // where the picture's (0, 0) lies in the second layer

private:
  void Cut();
  void Prepare();
  std::unique_ptr<TPixelSource> cut_;
};

// Lives in a picture's attachment list: the picture's multi-textures by key.
class TTextureStore2 final : public TObj {
public:
  struct TTextureWrapper {
    std::string key;
    TOwned<TMultiTexture6> texture;
  };
  TMultiTexture6* Find(const std::string& key) const; // exact, first match
  TMultiTexture6* Add(std::string key, TOwned<TMultiTexture6> texture);
  std::vector<TTextureWrapper> entries;
};

class TBoxAntiTexture final : public TCustomTexture {
public:
  explicit TBoxAntiTexture(T3DScreen* screen);
  void FillLevel0(std::span<TDevBitmap* const> levels) override;
};

class TBoxAntialiaser final : public TObj {
public:
  explicit TBoxAntialiaser(T3DScreen* screen);
  void DrawBox(const T3DPoint& placement, const T3DPoint& yAxis, const TEdgeFlags& edges,
               const TQuadColors& colors, const T3DPoint& xAxis, TFloatPoint size);
  T3DScreen* screen;
  TOwned<TBoxAntiTexture> texture;
};

} // namespace kiv

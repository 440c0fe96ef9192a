#include "TiledTextures.h"

#include "LoadYield.h"
#include "Assert.h"

#include <algorithm>
#include <chrono>
#include <thread>

namespace kiv {

namespace {

void CheckRead(const TPixelSource& source, int32_t x, int32_t y, int32_t count, const char* className) {
  const std::string name(className);
  RY_ASSERT_MSG(x >= 0 && y >= 0 && x < source.Width() && y < source.Height(),
                name + ".GetPixels (X,Y) out of Bitmap.Size");
  RY_ASSERT_MSG(count >= 0 && x + count <= source.Width(), name + ".GetPixels - Offset out of Bounds");
}

} // namespace

// ---- sources ----

TCropSource::TCropSource(const TDevBitmap& bitmap, const TRect& rect) : bitmap_(bitmap), rect_(rect) {
  RY_ASSERT(bitmap.Format() == TPixelFormat::pf32bit);
}

void TCropSource::GetPixels(int32_t x, int32_t y, int32_t count, uint32_t* out) const {
  CheckRead(*this, x, y, count, "TCropSource");
  const auto* row = reinterpret_cast<const uint32_t*>(bitmap_.ScanLine(rect_.top + y)) + rect_.left + x;
  std::copy(row, row + count, out);
}

TTileBitmap::TTileBitmap(const TDevBitmap& source, int32_t columns, int32_t rows)
    : source_(source), columns_(columns), rows_(rows) {
  RY_ASSERT(columns > 0 && rows > 0);
  RY_ASSERT_MSG(source.Format() == TPixelFormat::pf32bit, "TTileBitmap: pixel size");
  frameWidth_ = source.Width() / columns;
  frameHeight_ = source.Height() / rows;
  // A grid finer than the picture would leave frames without pixels to repeat.
  RY_ASSERT(frameWidth_ > 0 && frameHeight_ > 0);
  width_ = source.Width() + 2 * columns;
  height_ = source.Height() + 2 * rows;
  gutter_.resize(static_cast<size_t>(width_));
  for (int32_t x = 0; x < width_; ++x) {
    const int32_t m = x % (frameWidth_ + 2);
    gutter_[static_cast<size_t>(x)] = m == 0 || m == frameWidth_ + 1;
  }
}

// The source coordinate of a coordinate of ours along one axis; `cell` says whether it was on a gutter.
int32_t TTileBitmap::SourceCoord(int32_t v, int32_t frame, int32_t& cell) const {
  const int32_t index = v / (frame + 2), m = v % (frame + 2);
  cell = (m == 0 || m == frame + 1) ? 0 : 1;
  const int32_t inside = std::clamp(m - 1, 0, frame - 1);
  return index * frame + inside;
}

void TTileBitmap::GetPixels(int32_t x, int32_t y, int32_t count, uint32_t* out) const {
  CheckRead(*this, x, y, count, "TTileBitmap");
  int32_t rowInside = 0;
  const int32_t sy = SourceCoord(y, frameHeight_, rowInside);
  const auto* row = reinterpret_cast<const uint32_t*>(source_.ScanLine(std::min(sy, source_.Height() - 1)));
  for (int32_t i = 0; i < count; ++i) {
    int32_t columnInside = 0;
    const int32_t sx = SourceCoord(x + i, frameWidth_, columnInside);
    const uint32_t pixel = row[std::min(sx, source_.Width() - 1)];
    out[i] = (rowInside && columnInside) ? pixel : (pixel & 0x00FFFFFFu);
  }
}

// ---- pure rules ----

int ChooseTileShape(int32_t w, int32_t h, std::span<const bool> available) {
  int best = -1;
  int64_t bestArea = -1, bestWaste = 0;
  for (size_t i = 0; i < kTileShapes.size(); ++i) {
    if (!available.empty() && !available[i]) continue;
    const TSize s = kTileShapes[i];
    const int64_t area = int64_t{std::min(w, s.width)} * std::min(h, s.height);
    const int64_t waste = int64_t{s.width} * s.height - area;
    if (area > bestArea || (area == bestArea && waste < bestWaste)) {
      best = static_cast<int>(i);
      bestArea = area;
      bestWaste = waste;
    }
  }
  return best;
}

namespace {

template <class TakeTile> void Cover(int32_t x, int32_t y, int32_t w, int32_t h, const TakeTile& take) {
  if (w <= 0) return;
  while (h > 0) {
    const TSize used = take(TPoint{x - 1, y - 1}, w + 2, h + 2);
    if (used.width - 2 < w) Cover(x + used.width - 2, y, w - used.width + 2, used.height - 2, take);
    y += used.height - 2;
    h -= used.height - 2;
  }
}

} // namespace

std::vector<TTilePlacement> LayoutTiles(int32_t width, int32_t height) {
  std::vector<TTilePlacement> out;
  Cover(0, 0, width, height, [&](TPoint offset, int32_t w, int32_t h) {
    const int shape = ChooseTileShape(w, h);
    const TSize s = kTileShapes[static_cast<size_t>(shape)];
    const TSize used{std::min(w, s.width), std::min(h, s.height)};
    out.push_back({offset, used, shape});
    return used;
  });
  return out;
}

std::string MultiTextureKey(int32_t reductionLevel, int32_t columns, int32_t rows, bool premultiplied) {
  return "MultiTexID: " + std::to_string(reductionLevel) + ":" + std::to_string(columns) + ":" +
         std::to_string(rows) + ":" + (premultiplied ? "True" : "False");
}

// ---- tiles ----

TTextureTile::TTextureTile(T3DScreen* screen, TTileManager* tilePool, TSize tileSize)
    : TCustomTexture(screen), pool(tilePool) {
  SetSize(tileSize);
}

void TTextureTile::FillLevel0(std::span<TDevBitmap* const> levels) {
  filled_ = false;
  if (!source || levels.empty() || used.width <= 0 || used.height <= 0) return;
  if (!LoadCallBack()) return;
  TDevBitmap& target = *levels[0];
  const int32_t sw = source->Width(), sh = source->Height();
  // Tile pixels outside the picture (and past the used size) repeat the nearest covered pixel.
  const int32_t lo = std::clamp(offset.x, 0, sw - 1);
  const int32_t hi = std::clamp(offset.x + used.width - 1, lo, sw - 1);
  std::vector<uint32_t> line(static_cast<size_t>(hi - lo + 1));
  const int32_t columns = std::min(width, target.Width());
  for (int32_t y = 0; y < std::min(height, target.Height()); ++y) {
    if (y > 0 && (y & 31) == 0 && !LoadCallBack()) return;
    const int32_t sy = std::clamp(offset.y + std::min(y, used.height - 1), 0, sh - 1);
    source->GetPixels(lo, sy, hi - lo + 1, line.data());
    auto* out = reinterpret_cast<uint32_t*>(target.ScanLine(y));
    for (int32_t x = 0; x < columns; ++x) {
      const int32_t sx = std::clamp(offset.x + std::min(x, used.width - 1), lo, hi);
      out[x] = line[static_cast<size_t>(sx - lo)];
    }
  }
  filled_ = true;
}

bool TTextureTile::Upload() {
  if (!dirty && texture) return true;
  filled_ = false;
  if (!texture) {
    if (!GetTexture()) return false; // creation uploads
  } else {
    UploadContent();
  }
  dirty = !filled_;
  return filled_;
}

void TTextureTile::PreLoadTile() {
  if (dirty || !texture) Upload();
  if (texture) texture->PreLoad();
  std::this_thread::sleep_for(std::chrono::milliseconds(1));
  preloaded = true;
}

// ---- pools ----

TTextureManager6::TTextureManager6(T3DScreen* owner) : screen_(owner) {
  for (const TSize& shape : kTileShapes)
    pools.push_back(MakeOwned<TTileManager>(this, shape));
}

TTextureManager6::~TTextureManager6() = default;

void TTextureManager6::BeforeDestruction() {
  const int32_t live = liveMultiTextures.load();
  RY_ASSERT_MSG(live == 0, "Error: Multi Textures Count = " + std::to_string(live));
  TRefObj::BeforeDestruction();
}

T3DScreen* TTextureManager6::Screen() const {
  std::lock_guard lock(lock_);
  return screen_;
}

void TTextureManager6::DetachScreen() {
  std::vector<TOwned<TTextureTile>> pooled;
  {
    std::lock_guard lock(lock_);
    screen_ = nullptr;
    for (auto& pool : pools)
      if (pool) {
        for (auto& tile : pool->freeTiles)
          pooled.push_back(std::move(tile));
        pool->freeTiles.clear();
      }
  }
  // Freed outside the lock: each one leaves the screen's resource list.
}

TOwned<TTextureTile> TTextureManager6::GetTile(int32_t w, int32_t h) {
  std::lock_guard lock(lock_);
  if (!screen_) return nullptr;
  std::array<bool, kTileShapes.size()> available{};
  for (size_t i = 0; i < pools.size(); ++i)
    available[i] = pools[i] != nullptr;
  for (;;) {
    const int index = ChooseTileShape(w, h, available);
    RY_ASSERT_MSG(index >= 0, "TTextureManager6.GetTile: no tile pool left");
    TTileManager& pool = *pools[static_cast<size_t>(index)];
    TOwned<TTextureTile> tile;
    if (!pool.freeTiles.empty()) {
      tile = std::move(pool.freeTiles.back());
      pool.freeTiles.pop_back();
    } else {
      try {
        tile = MakeOwned<TTextureTile>(screen_, &pool, pool.size);
      } catch (const std::bad_alloc&) {
        // This pool cannot give tiles: drop it and choose again among the rest.
        pools[static_cast<size_t>(index)].reset();
        available[static_cast<size_t>(index)] = false;
        continue;
      }
    }
    tile->used = {std::min(w, pool.size.width), std::min(h, pool.size.height)};
    return tile;
  }
}

void TTextureManager6::ReturnTile(TOwned<TTextureTile> tile) {
  if (!tile) return;
  tile->owner = nullptr;
  tile->source = nullptr;
  tile->dirty = true;
  tile->preloaded = false;
  std::lock_guard lock(lock_);
  if (!screen_) return; // the screen went: the tile goes
  for (auto& pool : pools)
    if (pool.get() == tile->pool) {
      pool->freeTiles.push_back(std::move(tile));
      return;
    }
  // Its pool was dropped: the tile goes.
}

// ---- multi-textures ----

TMultiTexture6::TMultiTexture6(TRef<TTextureManager6> owner) : manager(std::move(owner)) {
  RY_ASSERT(manager);
  ++manager->liveMultiTextures;
}

TMultiTexture6::~TMultiTexture6() {
  ReleaseTiles();
  --manager->liveMultiTextures;
}

void TMultiTexture6::ReleaseTiles() {
  for (auto& tile : tiles)
    manager->ReturnTile(std::move(tile));
  tiles.clear();
}

void TMultiTexture6::SetBitmap(const TDevBitmap& bitmap, bool premultipliedBitmap, int32_t columns,
                               int32_t rows, const TRect& rect) {
  RY_ASSERT(!rect.IsEmpty() && rect.left >= 0 && rect.top >= 0 && rect.right <= bitmap.Width() &&
            rect.bottom <= bitmap.Height());
  ReleaseTiles();
  cut_.reset();
  sourceRect = rect;
  premultiplied = premultipliedBitmap;
  if (columns == 1 && rows == 1)
    cut_ = std::make_unique<TCropSource>(bitmap, rect);
  else
    cut_ = std::make_unique<TTileBitmap>(bitmap, columns, rows);
}

void TMultiTexture6::Cut() {
  if (!tiles.empty() || !cut_) return;
  bool cutOff = false; // the screen went while cutting
  Cover(0, 0, cut_->Width(), cut_->Height(), [&](TPoint offset, int32_t w, int32_t h) {
    TOwned<TTextureTile> tile = manager->GetTile(w, h);
    if (!tile) {
      cutOff = true;
      return TSize{std::min(w, kTileShapes[0].width), std::min(h, kTileShapes[0].height)};
    }
    tile->owner = this;
    tile->offset = offset;
    tile->source = cut_.get();
    tile->dirty = true;
    const TSize used = tile->used;
    tiles.push_back(std::move(tile));
    return used;
  });
  if (cutOff) ReleaseTiles();
}

void TMultiTexture6::Prepare() {
  Cut();
  for (auto& tile : tiles) {
    tile->SetMipMapped(mipMapped);
    tile->lodBias = lodBias;
    if (tile->premultiplied != premultiplied) {
      tile->SetPremultiplied(premultiplied);
    }
    tile->pointFilter = pointFilter;
    if (tile->dirty || !tile->texture) tile->Upload();
  }
}

void TMultiTexture6::Upload() {
  Cut();
  for (auto& tile : tiles)
    if (tile->dirty || !tile->texture) tile->Upload();
}

void TMultiTexture6::PreLoad() {
  Cut();
  for (auto& tile : tiles)
    tile->PreLoadTile();
}

void TMultiTexture6::DrawWhole(const T3DPoint& placement, TFloatPoint pivot, const T3DPoint& xAxis,
                               const T3DPoint& yAxis) {
  Draw(placement, pivot, {0, 0, static_cast<float>(Width()), static_cast<float>(Height())}, xAxis, yAxis);
}

void TMultiTexture6::Draw(const T3DPoint& placement, TFloatPoint pivot, const TFloatRect& source,
                          const T3DPoint& xAxis, const T3DPoint& yAxis) {
  if (opacity == 0) return;
  T3DScreen* screen = manager->Screen();
  if (!screen || !screen->IsReady()) return;
  Prepare();
  TModulateScope modulate(*screen);
  const uint32_t rgb =
      tintOn ? (uint32_t{tintColor[2]} << 16 | uint32_t{tintColor[1]} << 8 | tintColor[0]) : 0x00FFFFFFu;
  const uint32_t color = uint32_t{opacity} << 24 | rgb;
  const TQuadColors colors{color, color, color, color};
  for (auto& tile : tiles) {
    if (!tile->texture) continue;
    const float ox = static_cast<float>(tile->offset.x), oy = static_cast<float>(tile->offset.y);
    const float uw = static_cast<float>(tile->used.width), uh = static_cast<float>(tile->used.height);
    const TFloatRect moved{source.left - ox, source.top - oy, source.right - ox, source.bottom - oy};
    const TFloatRect clipped{std::max(moved.left, 1.f), std::max(moved.top, 1.f),
                             std::min(moved.right, uw - 1), std::min(moved.bottom, uh - 1)};
    if (clipped.right <= clipped.left || clipped.bottom <= clipped.top) continue;
    TQuadPlacement where;
    where.origin = placement;
    where.pivot = {pivot.x - ox, pivot.y - oy};
    where.xAxis = xAxis;
    where.yAxis = yAxis;
    TCustomTexture* layers[2] = {tile.get(), secondLayer};
    if (!antialiased) {
      if (!secondLayer) {
        const TFloatRect rects[1] = {clipped};
        screen->DrawQuad(std::span(layers, 1), 1, colors, rects, where, 1);
        continue;
      }
      // The second layer is addressed by where each corner lands on the flat screen.
      std::array<T3DPoint, 4> p;
      std::array<TFloatPoint, 4> t0, t1;
      const float us[2] = {clipped.left, clipped.right}, vs[2] = {clipped.top, clipped.bottom};
      for (int i = 0; i < 4; ++i) {
        const float u = us[i & 1], v = vs[i >> 1];
        p[static_cast<size_t>(i)] = PlacePoint(where, u, v);
        t0[static_cast<size_t>(i)] = {u, v};
        t1[static_cast<size_t>(i)] = {p[static_cast<size_t>(i)].x + secondOffset.x,
                                      p[static_cast<size_t>(i)].y + secondOffset.y};
      }
      auto tri = [&](int a, int b, int c) {
        const std::array<std::array<TFloatPoint, 3>, 2> coords = {
            {{t0[size_t(a)], t0[size_t(b)], t0[size_t(c)]}, {t1[size_t(a)], t1[size_t(b)], t1[size_t(c)]}}};
        screen->batch->AddTriangle({p[size_t(a)], p[size_t(b)], p[size_t(c)]}, {color, color, color}, coords);
      };
      screen->batch->BeginBatch(std::span(layers, 2), 2);
      tri(2, 0, 3);
      tri(3, 0, 1);
      screen->batch->Flush();
      continue;
    }
    // Only the picture's own edges are feathered, never the seams between tiles.
    const TEdgeFlags edges{moved.left >= 1, moved.top >= 1, uw - 1 >= moved.right, uh - 1 >= moved.bottom};
    TFeatherPatch patch;
    screen->BuildFeatherPatch(where, clipped, edges, patch);
    for (TFloatPoint& c : patch.coords) {
      c.x = std::clamp(c.x, 0.f, uw);
      c.y = std::clamp(c.y, 0.f, uh);
    }
    screen->DrawPatch(std::span(layers, 1), 1, nullptr, colors, patch, 1);
  }
}

// ---- texture store ----

TMultiTexture6* TTextureStore2::Find(const std::string& key) const {
  for (const auto& entry : entries)
    if (entry.key == key) return entry.texture.get();
  return nullptr;
}

TMultiTexture6* TTextureStore2::Add(std::string key, TOwned<TMultiTexture6> texture) {
  entries.push_back({std::move(key), std::move(texture)});
  return entries.back().texture.get();
}

// ---- antialiased boxes ----

TBoxAntiTexture::TBoxAntiTexture(T3DScreen* screen) : TCustomTexture(screen) {
  SetSize({256, 256});
}

void TBoxAntiTexture::FillLevel0(std::span<TDevBitmap* const> levels) {
  TDevBitmap& target = *levels[0];
  for (int32_t y = 0; y < std::min(height, target.Height()); ++y)
    std::fill_n(reinterpret_cast<uint32_t*>(target.ScanLine(y)), std::min(width, target.Width()),
                0xFFFFFFFFu);
}

TBoxAntialiaser::TBoxAntialiaser(T3DScreen* owner)
    : screen(owner), texture(MakeOwned<TBoxAntiTexture>(owner)) {}

void TBoxAntialiaser::DrawBox(const T3DPoint& placement, const T3DPoint& yAxis, const TEdgeFlags& edges,
                              const TQuadColors& colors, const T3DPoint& xAxis, TFloatPoint size) {
  if (!(size.x > 0) || !(size.y > 0)) return;
  // The white texture spans the box: object units are texels, the axes scaled to match.
  TQuadPlacement where;
  where.origin = placement;
  where.xAxis = {xAxis.x * size.x / 256, xAxis.y * size.x / 256, xAxis.z * size.x / 256};
  where.yAxis = {yAxis.x * size.y / 256, yAxis.y * size.y / 256, yAxis.z * size.y / 256};
  TFeatherPatch patch;
  screen->BuildFeatherPatch(where, {0, 0, 256, 256}, edges, patch);
  for (TFloatPoint& c : patch.coords) {
    c.x = std::clamp(c.x, 0.f, 256.f);
    c.y = std::clamp(c.y, 0.f, 256.f);
  }
  TCustomTexture* layers[1] = {texture.get()};
  TModulateScope modulate(*screen);
  screen->DrawPatch(layers, 1, nullptr, colors, patch, 1);
}

} // namespace kiv

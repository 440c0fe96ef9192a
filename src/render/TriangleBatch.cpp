// The screen's triangle batch (TVertexBuffer): triangles that share one set of texture layers are
// gathered in screen pixels, turned into device coordinates and drawn by one call when the batch is flushed.

#include "Screen.h"

#include "Assert.h"

#include <algorithm>

namespace kiv {

TVertexBuffer::TVertexBuffer(T3DScreen* screen) : TScreenResource(screen) {}

TVertexBuffer::~TVertexBuffer() {
  TDeviceLockGuard lock(DeviceLock());
  list.reset();
}

bool TVertexBuffer::EnsureList(int32_t triangles) {
  if (list && list->store && capacity >= triangles) return true;
  if (!screen_ || !screen_->IsReady()) return false;
  list.reset();
  // Every coordinate set: a batch may carry up to seven layers.
  list = screen_->renderer->CreateVertexList(triangles * 3, kVertexDiffuse, 8);
  capacity = list ? triangles : 0;
  if (list)
    list->OnKilled = [this] {
      capacity = 0;
      if (screen_)
        screen_->Bury(TOwned<TObj>(list.release()));
      else
        list.reset();
    };
  return list != nullptr;
}

void TVertexBuffer::SetCapacity(int32_t triangles, int) {
  RY_ASSERT(triangles > 0);
  EnsureList(std::max(triangles, capacity));
  limit = triangles;
}

void TVertexBuffer::BeginBatch(std::span<TCustomTexture* const> textures, int count) {
  RY_ASSERT(count >= 0 && count <= kMaxLayers && static_cast<size_t>(count) <= textures.size());
  if (list && list->store)
    Flush();
  else if (EnsureList(std::max(capacity, 1024)) && limit <= 0)
    limit = 1024;
  if (limit <= 0) limit = 32;
  pending.assign(static_cast<size_t>(limit) * 3, T3DVertex{});
  pendingCount = 0;
  layers.fill(nullptr);
  for (int i = 0; i < count; ++i)
    layers[static_cast<size_t>(i)] = textures[static_cast<size_t>(i)];
  layerCount = count;
}

void TVertexBuffer::AddTriangle(const std::array<T3DPoint, 3>& points, const std::array<uint32_t, 3>& colors,
                                std::span<const std::array<TFloatPoint, 3>> texCoords) {
  RY_ASSERT(screen_);
  RY_ASSERT(layerCount <= kMaxLayers);
  bool premultiplied = false;
  bool first = true;
  for (int i = 0; i < layerCount; ++i) {
    const TCustomTexture* layer = layers[static_cast<size_t>(i)];
    if (!layer) continue;
    RY_ASSERT(first || layer->premultiplied == premultiplied);
    premultiplied = layer->premultiplied;
    first = false;
  }
  if (pendingCount >= limit) {
    RY_ASSERT(layerCount <= 1);
    Flush();
  }
  if (pending.size() < static_cast<size_t>(limit) * 3) pending.resize(static_cast<size_t>(limit) * 3);
  const TSize logical = screen_->LogicalSize();
  const float w = static_cast<float>(logical.width), h = static_cast<float>(logical.height);
  if (w <= 0 || h <= 0) return;
  const size_t sets = std::min(texCoords.size(), static_cast<size_t>(layerCount));
  for (int v = 0; v < 3; ++v) {
    T3DVertex& out = pending[static_cast<size_t>(pendingCount) * 3 + static_cast<size_t>(v)];
    out = T3DVertex{};
    const T3DPoint& p = points[static_cast<size_t>(v)];
    out.x = 2 * p.x / w - 1;
    out.y = 1 - 2 * p.y / h;
    out.z = p.z / h;
    const uint32_t color = colors[static_cast<size_t>(v)];
    out.color = premultiplied ? PremultiplyColor(color) : color;
    for (size_t k = 0; k < sets; ++k) {
      const TCustomTexture* layer = layers[k];
      if (!layer) continue;
      const TFloatPoint& t = texCoords[k][static_cast<size_t>(v)];
      out.tex[k][0] = static_cast<float>(t.x * layer->invTexWidth);
      out.tex[k][1] = static_cast<float>(t.y * layer->invTexHeight);
    }
  }
  ++pendingCount;
}

void TVertexBuffer::Flush() {
  const int32_t count = pendingCount;
  pendingCount = 0;
  if (!count || !screen_ || !screen_->IsReady() || !list || !list->store) return;
  TDeviceLockGuard lock(DeviceLock());
  if (!list->Fill(0, std::span<const T3DVertex>(pending.data(), static_cast<size_t>(count) * 3))) return;
  list->SetPrimitive(0, count, static_cast<uint8_t>(TPrimitive::TriangleList));
  std::array<T3DTexture*, kMaxLayers> bound{};
  bool anyPremultiplied = false;
  for (int i = 0; i < layerCount; ++i) {
    TCustomTexture* layer = layers[static_cast<size_t>(i)];
    if (!layer) continue;
    anyPremultiplied |= layer->premultiplied;
    T3DTexture* t = layer->GetTexture();
    if (!t) continue;
    t->SetAddressMode(kAddressClamp, kAddressClamp);
    t->SetFilter(layer->pointFilter ? kFilterPoint : kFilterLinear);
    t->SetMipMapped(layer->mipMapped);
    t->SetLodBias(layer->lodBias);
    t->premultiplied = layer->premultiplied;
    bound[static_cast<size_t>(i)] = t;
  }
  // Creating a texture above may have lost the device.
  if (!screen_->IsReady() || !list->store) return;
  screen_->renderer->DrawVertexList(
      std::span<T3DTexture* const>(bound.data(), static_cast<size_t>(layerCount)),
      BatchDrawFlags(layerCount, is3D, anyPremultiplied) |
          (modulate && layerCount > 0 ? kDrawModulateColor | kDrawModulateAlpha : 0u),
      list.get());
}

void TVertexBuffer::Release() {
  TDeviceLockGuard lock(DeviceLock());
  list.reset();
  capacity = 0;
  pendingCount = 0;
}

} // namespace kiv

#include "RenderTargetPool.h"

#include "Assert.h"

namespace kiv {

int32_t PoolDimension(int32_t size) {
  if (size <= 0) return 0;
  int32_t result = 1;
  while (result < size && result < (1 << 30))
    result <<= 1;
  return result;
}

void TRenderTargetDeleter::operator()(TRenderTargetTexture* texture) const noexcept {
  if (!texture) return;
  TRenderTargetManager* pool = texture->pool;
  if (pool && texture->width == pool->size.width && texture->height == pool->size.height) {
    pool->Take(texture);
    return;
  }
  // A target of an old size (the pool was resized meanwhile) is simply freed.
  if (pool) pool->out_.erase(texture);
  texture->pool = nullptr;
  TObjDeleter()(texture);
}

TRenderTargetManager::~TRenderTargetManager() {
  for (TRenderTargetTexture* texture : out_)
    texture->pool = nullptr;
  out_.clear();
}

void TRenderTargetManager::SetSize(TSize wanted) {
  const TSize rounded{PoolDimension(wanted.width), PoolDimension(wanted.height)};
  if (rounded != size) freeTextures.clear();
  size = rounded;
}

TRenderTargetHandle TRenderTargetManager::Acquire(T3DScreen* screen, bool premultiplied) {
  RY_ASSERT(screen);
  TOwned<TRenderTargetTexture> texture;
  if (!freeTextures.empty()) {
    texture = std::move(freeTextures.back());
    freeTextures.pop_back();
  } else {
    texture = MakeOwned<TRenderTargetTexture>(screen);
    texture->SetSize(size);
  }
  texture->pool = this;
  texture->SetPremultiplied(premultiplied);
  out_.insert(texture.get());
  texture->GetTexture();
  return TRenderTargetHandle(texture.release());
}

void TRenderTargetManager::Return(TRenderTargetHandle texture) {
  if (!texture) return;
  RY_ASSERT(texture->width == size.width && texture->height == size.height);
  texture->pool = this;
  texture.reset();
}

void TRenderTargetManager::Take(TRenderTargetTexture* texture) {
  out_.erase(texture);
  texture->pool = nullptr;
  freeTextures.emplace_back(texture);
}

void TRenderTargetManager::Clear() {
  freeTextures.clear();
}

} // namespace kiv

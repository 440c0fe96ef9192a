#pragma once
// Pools of screen-sized render-target textures, so that such targets are not created every frame. A size
// change empties the pool.

#include "Screen.h"

#include <set>
#include <vector>

namespace kiv {

// Next power of two at least `size` (0 for a non-positive size).
int32_t PoolDimension(int32_t size);

class TRenderTargetManager final : public TObj {
public:
  ~TRenderTargetManager() override;

  std::vector<TOwned<TRenderTargetTexture>> freeTextures; // most recently returned last
  TSize size;                                             // both powers of two

  void SetSize(TSize wanted);
  // The most recently returned texture, or a new one of the pool size, with its device texture made.
  TRenderTargetHandle Acquire(T3DScreen* screen, bool premultiplied);
  // A texture of another size is a contract violation.
  void Return(TRenderTargetHandle texture);
  void Clear();
  size_t Outstanding() const { return out_.size(); }

private:
  friend struct TRenderTargetDeleter;
  void Take(TRenderTargetTexture* texture);
  std::set<TRenderTargetTexture*> out_; // handed out; told when the pool goes first
};

} // namespace kiv

#pragma once
// What the transition filters draw with: the effecter renders a slide into a pooled screen-sized texture
// (premultiplied), repeats its last column and row beyond its edge so that filtering at the border reads
// the slide's own pixels, and hands out a controller whose tile turns the filters' triangles into textured
// or coloured triangles in its batches. Slide-based effects get both slides as textures.

#include "EdgeExtension.h"
#include "EffectTiles.h"
#include "RenderTargetPool.h"
#include "ScreenDrawer.h"

#include <functional>
#include <vector>

namespace kiv {

class TCustomD3DEffecter;

// One cell over the effecter's whole frame.
class TD3DTriController final : public TEffController {
public:
  explicit TD3DTriController(TCustomD3DEffecter& owner) : effecter(owner) {}
  // The effecter's update rectangle.
  TRect Rect() const override;
  TCustomD3DEffecter& effecter;

protected:
  TOwned<TEffTile> CreateTile(const TRect& cellRect, TPoint cellIndex) override;
};

class TD3DTriTile final : public TEffTile {
public:
  TD3DTriTile(TD3DTriController* owner, TCustomD3DEffecter& effecterOf, const TRect& cellRect,
              TPoint cellIndex)
      : TEffTile(owner, cellRect, cellIndex), effecter(effecterOf) {}

  // A second BeginTiles before EndTiles, and EndTiles without a batch, are contract violations.
  void BeginTiles(bool textured, bool in3D) override;
  // Texture coordinates are the positions; points on the frame's left or top edge move 2 pixels out.
  void AddAlphaTriangle(const std::array<TAlphaPoint, 3>& points) override;
  void AddColourTriangle(const std::array<TFloatPoint, 3>& points,
                         const std::array<uint32_t, 3>& colors) override;
  // Texture coordinates are the texture points relative to the cell's top-left.
  void AddTexturedTriangle(const std::array<TTexturePoint, 3>& texture,
                           const std::array<TFloatPoint, 3>& positions) override;
  void AddColourTriangle3D(const std::array<T3DPoint, 3>& points,
                           const std::array<uint32_t, 3>& colors) override;
  void AddTexturedTriangle3D(const std::array<TTexturePoint, 3>& texture,
                             const std::array<T3DPoint, 3>& positions) override;
  void EndTiles() override;

  TCustomD3DEffecter& effecter;
  TVertexBuffer* batch = nullptr; // taken by BeginTiles, none after EndTiles

private:
  void AddTextured(const std::array<TTexturePoint, 3>& texture, const std::array<T3DPoint, 3>& positions);
};

class TCustomD3DEffecter final : public TObj {
public:
  static constexpr int32_t kStagingSide = 256;
  static constexpr size_t kMaxQueuedCopies = 20;
  static constexpr int32_t kSlideExtension = 32;

  TCustomD3DEffecter(T3DScreen& screen, TRenderTargetManager& pool);
  ~TCustomD3DEffecter() override;

  // Stores the frame and resets the controller to the single cell over it.
  void Resize(const TRect& frame);
  void SetUpdateRect(const TRect& rect) { updateRect_ = rect; }
  const TRect& FrameRect() const { return frame_; }
  const TRect& UpdateRect() const { return updateRect_; }

  // Texture A from the pool when missing, and B too when both are asked.
  void AcquireSlideTextures(bool both);
  // A and B back to the pool.
  void ReleaseSlideTextures();
  void ToggleSlideTexture() { toggle_ = !toggle_; }
  // At the end of every transition frame, also one abandoned half way by an error: the textures go back,
  // the batches and the tiles let go of what they held, the toggle selects A again.
  void ResetFrameState();
  TRenderTargetTexture* SlideTextureA() const { return a_.get(); }
  TRenderTargetTexture* SlideTextureB() const { return b_.get(); }

  // Renders the item into A, cleared to transparent black, for the filters; with the flag the picture gets
  // one more column and row. The picture lies where it lies on the screen.
  TEffController& RenderForFilter(bool edgeExtension, const std::function<void()>& draw);
  // Renders the item into A or B (by the toggle), with its last column and row repeated up to 32 times.
  // `origin` (screen pixels) lands at the texture's top-left, so the picture of a frame starts at (0, 0).
  void RenderSlide(const std::function<void()>& draw, TPoint origin);

  // The textured batch (texture A its one layer) or the untextured one.
  TVertexBuffer* TakeBatch(bool textured);
  void FlushBatch(TVertexBuffer* batch);

  T3DScreen& Screen() const { return screen_; }
  TD3DTriController& Controller() { return controller_; }

private:
  // Renders into the texture pushed at `origin`; the picture covered `picture` (texture pixels).
  void Render(TRenderTargetTexture& target, TPoint origin, const std::function<void()>& draw);
  // Repeats the picture's edge inside the texture; skipped when a target cannot be had.
  void Extend(TRenderTargetTexture& target, const TRect& picture, int32_t limit);
  void QueueCopy(T3DSurface* surface, const TRectCopy& copy);
  void FlushCopies(T3DSurface* surface);

  T3DScreen& screen_;
  TRenderTargetManager& pool_;
  TRect frame_;      // the drawer's bounds
  TRect updateRect_; // screen pixels
  TOwned<TVertexBuffer> textured_, plain_;
  TD3DTriController controller_;
  TRenderTargetHandle a_, b_;
  TRenderTargetHandle staging_; // made on first use
  bool toggle_ = false;         // B for the next slide render when set
  TStagingArea stagingArea_{kStagingSide};
  std::vector<TRectCopy> queued_; // source -> staging place, staging place -> destination
};

// The effecter of a drawer, made on first use and sized to its bounds and update rectangle.
TCustomD3DEffecter& EffecterOf(T3DDrawer& drawer);

} // namespace kiv

#include "TriangleEffecter.h"

#include "Assert.h"

#include <algorithm>
#include <cmath>

namespace kiv {

namespace {

constexpr uint32_t kTransparent = 0x00000000;

uint32_t Grey(float value) {
  const auto g = static_cast<uint32_t>(std::clamp(value, 0.0f, 255.0f));
  return 0xFF000000u | g << 16 | g << 8 | g;
}

} // namespace

// ---- controller and tile ----

TRect TD3DTriController::Rect() const {
  return effecter.UpdateRect();
}

TOwned<TEffTile> TD3DTriController::CreateTile(const TRect& cellRect, TPoint cellIndex) {
  return MakeOwned<TD3DTriTile>(this, effecter, cellRect, cellIndex);
}

void TD3DTriTile::BeginTiles(bool textured, bool in3D) {
  RY_ASSERT(batch == nullptr);
  batch = effecter.TakeBatch(textured);
  batch->is3D = in3D;
}

void TD3DTriTile::EndTiles() {
  RY_ASSERT(batch != nullptr);
  TVertexBuffer* done = batch;
  batch = nullptr;
  effecter.FlushBatch(done);
  done->is3D = false;
}

void TD3DTriTile::AddAlphaTriangle(const std::array<TAlphaPoint, 3>& points) {
  RY_ASSERT(batch != nullptr);
  const TRect& frame = effecter.FrameRect();
  std::array<T3DPoint, 3> at;
  std::array<uint32_t, 3> colors;
  std::array<TFloatPoint, 3> coords;
  for (size_t i = 0; i < 3; ++i) {
    float x = points[i].x, y = points[i].y;
    // The first row and column would otherwise lose half a pixel of coverage to the rasteriser's rules.
    if (x == static_cast<float>(frame.left)) x -= 2;
    if (y == static_cast<float>(frame.top)) y -= 2;
    at[i] = {x, y, 0};
    coords[i] = {x - frame.left, y - frame.top};
    const auto alpha = static_cast<uint32_t>(std::clamp(points[i].alpha, 0.0f, 255.0f));
    colors[i] = alpha << 24 | 0x00FFFFFFu;
  }
  const std::array<TFloatPoint, 3> sets[1] = {coords};
  batch->AddTriangle(at, colors, sets);
}

void TD3DTriTile::AddColourTriangle(const std::array<TFloatPoint, 3>& points,
                                    const std::array<uint32_t, 3>& colors) {
  AddColourTriangle3D({T3DPoint{points[0].x, points[0].y, 0}, T3DPoint{points[1].x, points[1].y, 0},
                       T3DPoint{points[2].x, points[2].y, 0}},
                      colors);
}

void TD3DTriTile::AddColourTriangle3D(const std::array<T3DPoint, 3>& points,
                                      const std::array<uint32_t, 3>& colors) {
  RY_ASSERT(batch != nullptr && batch->layerCount == 0);
  batch->AddTriangle(points, colors, {});
}

void TD3DTriTile::AddTexturedTriangle(const std::array<TTexturePoint, 3>& texture,
                                      const std::array<TFloatPoint, 3>& positions) {
  AddTextured(texture,
              {T3DPoint{positions[0].x, positions[0].y, 0}, T3DPoint{positions[1].x, positions[1].y, 0},
               T3DPoint{positions[2].x, positions[2].y, 0}});
}

void TD3DTriTile::AddTexturedTriangle3D(const std::array<TTexturePoint, 3>& texture,
                                        const std::array<T3DPoint, 3>& positions) {
  AddTextured(texture, positions);
}

void TD3DTriTile::AddTextured(const std::array<TTexturePoint, 3>& texture,
                              const std::array<T3DPoint, 3>& positions) {
  RY_ASSERT(batch != nullptr);
  std::array<uint32_t, 3> colors;
  std::array<TFloatPoint, 3> coords;
  for (size_t i = 0; i < 3; ++i) {
    coords[i] = {texture[i].x - cell.left, texture[i].y - cell.top};
    colors[i] = Grey(texture[i].brightness);
  }
  const std::array<TFloatPoint, 3> sets[1] = {coords};
  batch->AddTriangle(positions, colors, sets);
}

// ---- effecter ----

TCustomD3DEffecter::TCustomD3DEffecter(T3DScreen& screen, TRenderTargetManager& pool)
    : screen_(screen), pool_(pool), textured_(MakeOwned<TVertexBuffer>(&screen)),
      plain_(MakeOwned<TVertexBuffer>(&screen)), controller_(*this) {}

TCustomD3DEffecter::~TCustomD3DEffecter() {
  ReleaseSlideTextures();
}

void TCustomD3DEffecter::Resize(const TRect& frame) {
  if (frame == frame_ && controller_.Columns() == 1) return;
  frame_ = frame;
  controller_.SetGrid({float(frame.left), float(frame.right)}, {float(frame.top), float(frame.bottom)});
}

void TCustomD3DEffecter::AcquireSlideTextures(bool both) {
  if (!a_) a_ = pool_.Acquire(&screen_, true);
  if (both && !b_) b_ = pool_.Acquire(&screen_, true);
}

void TCustomD3DEffecter::ReleaseSlideTextures() {
  a_.reset();
  b_.reset();
}

void TCustomD3DEffecter::ResetFrameState() {
  for (TVertexBuffer* batch : {textured_.get(), plain_.get()}) {
    batch->pendingCount = 0;
    batch->is3D = false;
  }
  for (int row = 0; row < controller_.Rows(); ++row)
    for (int column = 0; column < controller_.Columns(); ++column)
      static_cast<TD3DTriTile&>(controller_.GetTile(column, row)).batch = nullptr;
  toggle_ = false;
  ReleaseSlideTextures();
}

void TCustomD3DEffecter::Render(TRenderTargetTexture& target, TPoint origin,
                                const std::function<void()>& draw) {
  screen_.batch->Flush();
  screen_.PushRenderTarget(&target, origin.x, origin.y);
  // The whole texture: clears stop at the viewport, which covers only what the screen covers.
  screen_.SetViewport({0, 0, target.width, target.height}, 0, 1);
  screen_.Clear(kTransparent, true);
  screen_.ApplyTargetProjection();
  draw();
  screen_.batch->Flush();
  screen_.PopRenderTarget();
}

TEffController& TCustomD3DEffecter::RenderForFilter(bool edgeExtension, const std::function<void()>& draw) {
  if (!a_ || !a_->GetTexture()) return controller_; // device lost: the next frame retries
  const TPoint origin{frame_.left, frame_.top};
  Render(*a_, origin, draw);
  if (edgeExtension) {
    const TRect placed{frame_.left, frame_.top, frame_.left + a_->width, frame_.top + a_->height};
    const TRect picture = IntersectRect(placed, updateRect_.IsEmpty() ? frame_ : updateRect_);
    Extend(*a_,
           {picture.left - origin.x, picture.top - origin.y, picture.right - origin.x,
            picture.bottom - origin.y},
           1);
  }
  return controller_;
}

void TCustomD3DEffecter::RenderSlide(const std::function<void()>& draw, TPoint origin) {
  TRenderTargetTexture* target = toggle_ ? b_.get() : a_.get();
  if (!target || !target->GetTexture()) return;
  Render(*target, origin, draw);
  const TRect area = updateRect_.IsEmpty() ? frame_ : updateRect_;
  Extend(*target, {area.left - origin.x, area.top - origin.y, area.right - origin.x, area.bottom - origin.y},
         kSlideExtension);
}

void TCustomD3DEffecter::Extend(TRenderTargetTexture& target, const TRect& picture, int32_t limit) {
  const std::vector<std::vector<TRectCopy>> steps =
      EdgeExtensionSteps({target.width, target.height}, picture, limit);
  if (steps.empty()) return;
  if (!staging_) {
    auto staging = MakeOwned<TRenderTargetTexture>(&screen_);
    staging->SetSize({kStagingSide, kStagingSide});
    staging_ = TRenderTargetHandle(staging.release());
  }
  T3DTexture* texture = target.GetTexture();
  T3DTexture* staging = staging_->GetTexture();
  if (!texture || !staging) return;
  T3DSurface* surface = texture->GetSurface(0);
  if (!surface || !staging->GetSurface(0)) return;
  for (const std::vector<TRectCopy>& step : steps) {
    for (const TRectCopy& copy : step)
      for (const TRectCopy& piece : SplitCopy(copy, kStagingSide))
        QueueCopy(surface, piece);
    // The next step reads what this one wrote.
    FlushCopies(surface);
  }
}

void TCustomD3DEffecter::QueueCopy(T3DSurface* surface, const TRectCopy& copy) {
  TRect place;
  if (!stagingArea_.Place({copy.from.Width(), copy.from.Height()}, place)) {
    FlushCopies(surface);
    if (!stagingArea_.Place({copy.from.Width(), copy.from.Height()}, place)) return;
  }
  queued_.push_back({copy.from, place});
  queued_.push_back({place, copy.to});
  if (queued_.size() >= 2 * kMaxQueuedCopies) FlushCopies(surface);
}

void TCustomD3DEffecter::FlushCopies(T3DSurface* surface) {
  if (!queued_.empty() && screen_.renderer && staging_ && staging_->texture) {
    T3DSurface* staging = staging_->texture->GetSurface(0);
    std::vector<TRect> sources, places, targets;
    for (size_t i = 0; i + 1 < queued_.size(); i += 2) {
      sources.push_back(queued_[i].from);
      places.push_back(queued_[i].to);
      targets.push_back(queued_[i + 1].to);
    }
    TDeviceLockGuard lock(DeviceLock());
    if (staging && screen_.renderer->StretchRects(surface, staging, sources, places))
      screen_.renderer->StretchRects(staging, surface, places, targets);
  }
  queued_.clear();
  stagingArea_.Reset();
}

TVertexBuffer* TCustomD3DEffecter::TakeBatch(bool textured) {
  // What the drawer gathered so far lies below the filter's picture.
  screen_.batch->Flush();
  TVertexBuffer* batch = textured ? textured_.get() : plain_.get();
  if (batch->limit < 1024) batch->SetCapacity(1024, 1);
  TCustomTexture* layers[1] = {a_.get()};
  batch->BeginBatch(layers, textured && a_ ? 1 : 0);
  return batch;
}

void TCustomD3DEffecter::FlushBatch(TVertexBuffer* batch) {
  if (batch) batch->Flush();
}

TCustomD3DEffecter& EffecterOf(T3DDrawer& drawer) {
  auto* effecter = dynamic_cast<TCustomD3DEffecter*>(drawer.Effecter());
  if (!effecter) {
    auto made = MakeOwned<TCustomD3DEffecter>(drawer.Screen(), drawer.FullPool());
    effecter = made.get();
    drawer.SetEffecter(std::move(made));
  }
  effecter->Resize(drawer.bounds);
  effecter->SetUpdateRect(drawer.GetUpdateRect());
  return *effecter;
}

} // namespace kiv

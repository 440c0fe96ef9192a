// The drawer's video frames: plane textures that the decoder writes straight into, and drawing them through
// the YUV, chroma-key and mask shaders.

#include "ScreenDrawer.h"

#include "Assert.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace kiv {

namespace {

uint32_t TintColor(const std::array<uint8_t, 3>& bgr, uint8_t alpha) {
  return uint32_t{alpha} << 24 | uint32_t{bgr[2]} << 16 | uint32_t{bgr[1]} << 8 | bgr[0];
}

} // namespace

// ---- video frames ----

int32_t PaddedVideoSize(int32_t size) {
  if (size <= 0) return 0;
  return std::min(size + 8, static_cast<int32_t>(std::bit_ceil(static_cast<uint32_t>(size))));
}

TPlaneTexture::TPlaneTexture(T3DScreen* screen, T3DYUV* owner, uint8_t textureKind, TSize size)
    : TCustomTexture(screen), video(owner) {
  kind = textureKind;
  SetSize(size);
}

void TPlaneTexture::Release() {
  if (texture && video) video->textureLost = true;
  TCustomTexture::Release();
}

namespace {

unsigned VideoRequest(bool mask, bool alpha, bool threePlanes) {
  if (threePlanes) return 0;
  if (alpha && !mask) return kYUVRGBA;
  if (mask) return kYUVLumaOnly;
  return kYUVGrey16;
}

} // namespace

T3DYUV::T3DYUV(T3DDrawer* owner, int32_t w, int32_t h, bool mask, bool alpha, bool threePlanes)
    : TDeviceYUVImage(w, h, VideoRequest(mask, alpha, threePlanes)), drawer(owner), width(w), height(h),
      paddedWidth(PaddedVideoSize(w)), paddedHeight(PaddedVideoSize(h)) {
  RY_ASSERT(w > 0 && h > 0);
  maskMode = mask;
  withAlpha = alpha;
  T3DScreen* screen = &owner->Screen();
  if (threePlanes) {
    y = MakeOwned<TVideoTexture>(screen, this, TSize{paddedWidth, paddedHeight});
    const TSize half{PaddedVideoSize(w / 2), PaddedVideoSize(h / 2)};
    u = MakeOwned<TVideoTexture>(screen, this, half);
    v = MakeOwned<TVideoTexture>(screen, this, half);
  } else if (alpha && !mask) {
    rgba = MakeOwned<TRGBATexture>(screen, this, TSize{paddedWidth, paddedHeight});
  } else if (mask) {
    y = MakeOwned<TVideoTexture>(screen, this, TSize{paddedWidth, paddedHeight});
  } else {
    greyForm = true;
    grey = MakeOwned<TGrayScaleTexture>(screen, this, TSize{paddedWidth, paddedHeight});
  }
}

T3DYUV::~T3DYUV() {
  ReleaseTextures();
}

TPlaneTexture* T3DYUV::Texture(int plane) const {
  switch (plane) {
  case 0:
    return y.get();
  case 1:
    return u.get();
  case 2:
    return v.get();
  case 3:
    return grey.get();
  case 4:
    return rgba.get();
  default:
    RY_ASSERT_MSG(false, "T3DYUV: plane out of range");
  }
  return nullptr;
}

TSize T3DYUV::PlaneSize(int plane) const {
  Texture(plane);
  if (plane == 1 || plane == 2) return {width / 2, height / 2};
  return {width, height};
}

int32_t T3DYUV::PlanesOut() {
  std::lock_guard count(countLock_);
  return planesOut_;
}

TYUVPlane T3DYUV::GetPlane(int plane) {
  Texture(plane);
  Enter();
  TPlaneTexture* texture = Texture(plane);
  const size_t index = static_cast<size_t>(plane);
  if (disabled || !texture || out_[index] || texture->width <= 0 || texture->height <= 0) {
    Leave();
    return {};
  }
  const int bpp = texture->kind == kTextureKindL8 ? 1 : texture->kind == kTextureKindR5G6B5 ? 2 : 4;
  stagedPitch_[index] = texture->width * bpp;
  staged_[index].resize(static_cast<size_t>(stagedPitch_[index]) * static_cast<size_t>(texture->height));
  out_[index] = true;
  {
    std::lock_guard count(countLock_);
    ++planesOut_;
  }
  const TSize size = PlaneSize(plane);
  return {staged_[index].data(), stagedPitch_[index], size.width * bpp, size.height};
}

void T3DYUV::PutPlane(int plane, const TYUVPlane& /*written*/) {
  Texture(plane);
  RY_ASSERT_MSG(PlanesOut() > 0, "T3DYUV.PutPlane: no plane out");
  const size_t index = static_cast<size_t>(plane);
  if (!out_[index]) return; // this plane was never handed out
  out_[index] = false;
  TPlaneTexture* texture = Texture(plane);
  const TSize size = PlaneSize(plane);
  const int32_t pitch = stagedPitch_[index];
  const int32_t rows = texture ? texture->height : 0;
  const int bpp = texture && rows > 0 ? pitch / texture->width : 1;
  const int32_t w = std::min(size.width, pitch / bpp), h = std::min(size.height, rows);
  uint8_t* bits = staged_[index].data();
  if (w > 0 && h > 0) {
    for (int32_t row = 0; row < h; ++row) {
      uint8_t* line = bits + static_cast<size_t>(row) * pitch;
      for (int32_t x = w; x < pitch / bpp; ++x)
        std::memcpy(line + static_cast<size_t>(x) * bpp, line + static_cast<size_t>(w - 1) * bpp,
                    static_cast<size_t>(bpp));
    }
    for (int32_t row = h; row < rows; ++row)
      std::memcpy(bits + static_cast<size_t>(row) * pitch, bits + static_cast<size_t>(h - 1) * pitch,
                  static_cast<size_t>(pitch));
  }
  dirty_[index] = true;
  {
    std::lock_guard count(countLock_);
    --planesOut_;
  }
  Leave();
  planesBack_.notify_all();
}

void T3DYUV::Done() {}

void T3DYUV::UploadPlanes() {
  if (disabled) return;
  // A texture the device dropped comes back empty: everything staged goes up again.
  const bool lost = std::exchange(textureLost, false);
  TDeviceLockGuard device(DeviceLock());
  for (int plane = 0; plane < 5; ++plane) {
    const size_t index = static_cast<size_t>(plane);
    TPlaneTexture* texture = Texture(plane);
    if (!texture || staged_[index].empty() || out_[index] || !(dirty_[index] || lost)) continue;
    T3DTexture* deviceTexture = texture->GetTexture();
    T3DSurface* surface = deviceTexture ? deviceTexture->GetSurface(0) : nullptr;
    // The whole plane is replaced: nothing of the texture needs reading first.
    if (!surface || !surface->Write({0, 0, texture->width, texture->height}, staged_[index].data(),
                                    stagedPitch_[index])) {
      textureLost = true;
      continue;
    }
    dirty_[index] = false;
  }
}

void T3DYUV::ReleaseTextures() {
  {
    std::unique_lock count(countLock_);
    planesBack_.wait(count, [&] { return planesOut_ == 0; });
  }
  TMonitorLock hold(*this);
  TDeviceLockGuard device(DeviceLock());
  y.reset();
  u.reset();
  v.reset();
  rgba.reset();
  grey.reset();
}

void T3DYUV::Detach() {
  ReleaseTextures();
  TMonitorLock hold(*this);
  disabled = true;
  drawer = nullptr;
}

// ---- video ----

TDeviceYUVImage* T3DDrawer::CreateVideoImage(int32_t width, int32_t height, bool maskMode, bool withAlpha) {
  std::lock_guard lock(resourceLock_);
  const bool threePlanes = ShaderLevel() != 0 && !maskMode && !withAlpha;
  videos_.push_back(TRef<T3DYUV>::Make(this, width, height, maskMode, withAlpha, threePlanes));
  return videos_.back().get();
}

void T3DDrawer::FreeVideoImage(TDeviceYUVImage* video) {
  std::lock_guard lock(resourceLock_);
  std::erase_if(videos_, [&](const TRef<T3DYUV>& item) { return item.get() == video; });
}

void T3DDrawer::DrawVideo(TDeviceYUVImage& image, const T3DPoint& placement, const TVideoParams& params,
                          const T3DPoint& xAxis, const T3DPoint& yAxis, TFloatPoint pivot) {
  auto* video = dynamic_cast<T3DYUV*>(&image);
  RY_ASSERT_MSG(video != nullptr, "T3DDrawer.DrawVideo: not a video image of this drawer");
  RY_ASSERT_MSG(params.deinterlace <= 2, "T3DDrawer.DrawVideo: deinterlace mode out of range");
  TMonitorLock hold(*video);
  if (video->disabled) return;
  video->UploadPlanes();
  const uint32_t color = TintColor(params.tintColor, TruncOpacityByte(params.opacity));
  const TQuadColors colors{color, color, color, color};
  const TQuadPlacement where = DrawPlacement(placement, pivot, xAxis, yAxis, offset);
  TFloatRect source = params.sourceRect;
  if (source.right <= source.left || source.bottom <= source.top)
    source = {0, 0, float(video->width), float(video->height)};
  TrackQuad(where, source);
  auto draw = [&](std::span<TCustomTexture* const> layers, std::span<const TFloatRect> rects) {
    TModulateScope modulate(*screen_);
    const int n = static_cast<int>(layers.size());
    if (params.antialiased) {
      TFeatherPatch patch;
      screen_->BuildFeatherPatch(where, rects[0], {true, true, true, true}, patch);
      screen_->DrawPatch(layers, n, nullptr, colors, patch, n, rects);
    } else {
      screen_->DrawQuad(layers, n, colors, rects, where, n);
    }
  };
  if (video->u && video->v) {
    const float fieldY = params.deinterlace == 2 ? -1.f : 0.f, fieldX = params.deinterlace == 2 ? 1.f : 0.f;
    const bool keyed = params.chromaTolerance > 0 || params.colorization > 0;
    const char* name = keyed ? (params.deinterlace ? "chroma_deinter" : "chromakey")
                             : (params.deinterlace ? "yuv_deinterlace_lum" : "yuv_lum");
    TShader* shader = Shader(name);
    if (!shader || !shader->GetShader()) return;
    const float h = float(video->y->texHeight);
    const float tol = params.chromaTolerance;
    float c[32] = {};
    const float fixed[5] = {1.596f, 0.813f, 0.391f, 2.018f, 1.1643835f};
    for (int r = 0; r < 5; ++r)
      for (int k = 0; k < 4; ++k)
        c[r * 4 + k] = fixed[r];
    c[20] = h;
    c[21] = 1 / h;
    c[24] = fieldX;
    c[25] = fieldY;
    c[26] = tol;
    c[27] = tol > 0 ? 1 / tol : 0;
    c[28] = params.colorization;
    c[29] = params.keyU;
    c[30] = params.keyV;
    screen_->renderer->SetShader(shader->GetShader());
    screen_->renderer->SetShaderConstants(0, c, 8, false);
    TCustomTexture* layers[3] = {video->y.get(), video->u.get(), video->v.get()};
    const TFloatRect halfRect{source.left / 2, source.top / 2, source.right / 2, source.bottom / 2};
    const TFloatRect rects[3] = {source, halfRect, halfRect};
    draw(layers, rects);
  } else if (video->maskMode && video->y) {
    TShader* shader = Shader("videomask");
    if (!shader || !shader->GetShader()) return;
    const float invert[4] = {params.maskInvert ? 1.f : 0.f, 0, 0, 0};
    screen_->renderer->SetShader(shader->GetShader());
    screen_->renderer->SetShaderConstants(0, invert, 1, false);
    TCustomTexture* layers[1] = {video->y.get()};
    const TFloatRect rects[1] = {source};
    draw(layers, rects);
  } else {
    TCustomTexture* plane = video->rgba ? static_cast<TCustomTexture*>(video->rgba.get()) : video->grey.get();
    if (!plane) return;
    TCustomTexture* layers[1] = {plane};
    const TFloatRect rects[1] = {source};
    draw(layers, rects);
    return;
  }
  screen_->batch->Flush();
  screen_->renderer->SetShader(nullptr);
}

} // namespace kiv

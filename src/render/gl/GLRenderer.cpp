#include "GLRenderer.h"

#include "Assert.h"
#include "GLContext.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>

namespace kiv {

using gl::TGLDevice;

namespace {

GLint WrapOf(uint8_t address) {
  switch (address) {
  case kAddressClamp:
    return GL_CLAMP_TO_EDGE;
  case kAddressMirror:
    return GL_MIRRORED_REPEAT;
  default:
    return GL_REPEAT;
  }
}

GLenum ModeOf(uint8_t type) {
  static constexpr GLenum kModes[] = {GL_POINTS,    GL_LINES,          GL_LINE_STRIP,
                                      GL_TRIANGLES, GL_TRIANGLE_STRIP, GL_TRIANGLE_FAN};
  RY_ASSERT(type <= 5);
  return kModes[type];
}

int64_t VerticesFor(uint8_t type, int64_t primitives) {
  switch (type) {
  case 0:
    return primitives;
  case 1:
    return primitives * 2;
  case 2:
    return primitives + 1;
  case 3:
    return primitives * 3;
  default:
    return primitives + 2;
  }
}

int FullChainLevels(int32_t width, int32_t height) {
  int levels = 1;
  for (int32_t size = std::max(width, height); size > 1; size >>= 1)
    ++levels;
  return levels;
}

} // namespace

T3DRendererGL::T3DRendererGL(T3DEngineGL* engine, TDrawDevice* device)
    : engine_(TRef<T3DEngineGL>::Share(engine)) {
  drawDevice = device;
  device->renderer = this;
}

TGLDevice* T3DRendererGL::Device() const {
  return store_ && store_->device ? static_cast<TGLDevice*>(store_->device.get()) : nullptr;
}

void T3DRendererGL::ForgetStore(TDevStore* store) {
  if (store != store_) return;
  store_ = nullptr;
  // The device's objects go with it; none of these may be used again.
  currentTarget_ = nullptr;
  backBuffer_.reset();
  backBufferName_ = unitQuadVbo_ = unitQuadVao_ = 0;
  pixelShader_ = vertexShader_ = nullptr;
}

void T3DRendererGL::ForgetShader(const T3DShaderGL* shader) {
  if (pixelShader_ == shader) pixelShader_ = nullptr;
  if (vertexShader_ == shader) vertexShader_ = nullptr;
}

void T3DRendererGL::Dispose() {
  TDeviceLockGuard lock(DeviceLock());
  if (pendingInit_) pendingInit_->renderer = nullptr;
  pendingInit_.reset();
  if (TGLDevice* device = Device()) {
    backBuffer_.reset();
    device->Delete(TGLDevice::TName::Texture, backBufferName_);
    device->Delete(TGLDevice::TName::VertexArray, unitQuadVao_);
    device->Delete(TGLDevice::TName::Buffer, unitQuadVbo_);
  }
  backBuffer_.reset();
  if (fullScreenAtCreation_ && store_) {
    auto* wrapper = drawDevice ? drawDevice->FindAttachment<TRectangleWrapper>() : nullptr;
    const TRect rect = wrapper ? wrapper->rect : (drawDevice ? drawDevice->bounds : TRect{});
    DevLog("Dispose FullScreen, R= " + RectText(rect));
    TPlatformWindow* window = drawDevice ? drawDevice->window : nullptr;
    const TScreenRect placement{rect.left, rect.top, rect.right, rect.bottom};
    if (MultiThreaded() && !IsMainThread()) {
      // The main thread lets the device go once it holds the last reference, then restores the window.
      TRef<TRefObj> device = store_->device;
      TRef<T3DEngineGL> engine = engine_;
      DevLog("T3DRenderer9.Dispose: exclusive mode, not main thread");
      PostToMainThread([device, window, placement, engine]() mutable {
        // Bounded: a reference somebody never gives back must not hang the main thread.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (device->RefCount() > 1 && std::chrono::steady_clock::now() < deadline)
          std::this_thread::yield();
        device.reset();
        if (window && engine->IsDeviceAvailable()) window->SetPlacement(placement);
      });
      store_->device.reset();
    } else {
      store_->device.reset();
      if (window) window->SetPlacement(placement);
    }
  }
  if (drawDevice && drawDevice->renderer == this) drawDevice->renderer = nullptr;
}

bool T3DRendererGL::Fail(uint32_t raw) {
  lastError = ClassifyResult(raw, errorKind);
  DeviceLossCheck();
  return false;
}

bool T3DRendererGL::Enter(TGLDevice*& device) {
  device = Device();
  if (!device) {
    errorKind = kErrorKindLost;
    return false;
  }
  if (!device->Bind()) return Fail(kRawFailed);
  return EnsureSwapChain(device);
}

bool T3DRendererGL::Leave(TGLDevice* device, bool ok, bool checkReset) {
  if (const uint32_t raw = device->TakeError(checkReset); raw != kRawOk) {
    lastError = ClassifyResult(raw, errorKind);
    ok = false;
  }
  DeviceLossCheck();
  return ok;
}

void T3DRendererGL::DeviceLossCheck() {
  if (errorKind != kErrorKindLost || !store_) return;
  if (drawDevice)
    if (auto* wrapper = drawDevice->FindAttachment<TRectangleWrapper>())
      wrapper->avoidExclusive = engine_->IsDeviceAvailable() || !exclusive_;
  DevLog("T3DRenderer9: DEVICE LOST!");
  TDevStore* store = store_;
  TOwned<TObj> owned = drawDevice ? drawDevice->Detach(store) : nullptr;
  if (owned)
    owned.reset(); // tells us through ForgetStore
  else
    ForgetStore(store);
}

bool T3DRendererGL::EnsureSwapChain(TGLDevice* device) {
  if (backBufferName_) return true;
  // The swap chain: an X8R8G8B8 picture of the back buffer's size that Present shows in the window.
  glGenTextures(1, &backBufferName_);
  glActiveTexture(GL_TEXTURE0);
  glBindTexture(GL_TEXTURE_2D, backBufferName_);
  glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, backBufferSize_.width, backBufferSize_.height, 0, GL_BGRA,
               GL_UNSIGNED_INT_8_8_8_8_REV, nullptr);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAX_LEVEL, 0);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
  glBindTexture(GL_TEXTURE_2D, 0);
  backBuffer_ = MakeOwned<T3DSurfaceRT>(nullptr, this, backBufferName_, 0, backBufferSize_, kTextureKindRTX);

  // The unit quad of SetDefaultStates: XYZ + diffuse, transparent black, a tiny square at the origin.
  struct TQuadVertex {
    float x, y, z;
    uint32_t color;
  };
  const TQuadVertex quad[4] = {
      {-0.05f, -0.05f, 0, 0}, {-0.05f, -0.0f, 0, 0}, {-0.0f, -0.05f, 0, 0}, {0, 0, 0, 0}};
  glGenVertexArrays(1, &unitQuadVao_);
  glGenBuffers(1, &unitQuadVbo_);
  glBindVertexArray(unitQuadVao_);
  glBindBuffer(GL_ARRAY_BUFFER, unitQuadVbo_);
  glBufferData(GL_ARRAY_BUFFER, sizeof quad, quad, GL_STATIC_DRAW);
  glEnableVertexAttribArray(0);
  glVertexAttribPointer(0, 3, GL_FLOAT, GL_FALSE, sizeof(TQuadVertex), nullptr);
  glEnableVertexAttribArray(1);
  glVertexAttribPointer(1, GL_BGRA, GL_UNSIGNED_BYTE, GL_TRUE, sizeof(TQuadVertex),
                        reinterpret_cast<const void*>(static_cast<uintptr_t>(12)));
  glBindVertexArray(0);
  glBindBuffer(GL_ARRAY_BUFFER, 0);
  if (const uint32_t raw = device->TakeError(); raw != kRawOk) return Fail(raw);
  return true;
}

void T3DRendererGL::BindTarget(TGLDevice*) {
  T3DSurfaceGL* target = currentTarget_ ? currentTarget_ : backBuffer_.get();
  glBindFramebuffer(GL_FRAMEBUFFER, target->Framebuffer());
  glViewport(viewport_.left, viewport_.top, viewport_.Width(), viewport_.Height());
  glDepthRange(minZ_, maxZ_);
}

void T3DRendererGL::UpdatePanelBounds() {
  // The SDL window is the device window itself: there is no child panel to move.
  if (drawDevice) DevLog("Set DxPanel bounds: " + RectText(drawDevice->bounds));
}

bool T3DRendererGL::BeginScene() {
  TDeviceLockGuard lock(DeviceLock());
  if (!Device()) {
    errorKind = kErrorKindLost;
    return false;
  }
  if (ExclusiveModeAllowed() && drawDevice) {
    const bool isActive = drawDevice->IsActive();
    // Activated again after running inactive (or created windowed): drop the device so that the next
    // scene creates it again in exclusive mode.
    if (isActive && !active_ && drawDevice->fullScreen) {
      active_ = isActive;
      TOwned<TObj> owned = drawDevice->Detach(store_);
      owned.reset();
      return false;
    }
    active_ = isActive;
  }
  TGLDevice* device;
  if (!Enter(device)) return false;
  if (const uint32_t raw = device->TakeError(true); raw != kRawOk) return Fail(raw);
  BindTarget(device);
  const bool ok = SetDefaultStates();
  if (!Device()) return false;
  return Leave(device, ok);
}

bool T3DRendererGL::EndScene() {
  TDeviceLockGuard lock(DeviceLock());
  TGLDevice* device;
  if (!Enter(device)) return false;
  return Leave(device, true);
}

bool T3DRendererGL::Present(std::span<const TRect> sourceRects, std::span<const TRect> destRects) {
  TDevClock& clock = DevClock();
  const uint32_t now = clock.NowMs();
  const uint32_t wait = PresentWaitMs(refreshRate_, now - LastPresentTime());
  SetLastPresentTime(now);
  clock.SleepMs(wait);

  TDeviceLockGuard lock(DeviceLock());
  TGLDevice* device;
  if (!Enter(device)) return false;
  TGLContext& context = device->Context();
  if (!context.IsHeadless()) {
    int width = 0, height = 0;
    context.GetDrawableSize(width, height);
    TRect source{0, 0, backBufferSize_.width, backBufferSize_.height};
    TRect dest{0, 0, width, height};
    if (!exclusive_ && !sourceRects.empty()) source = sourceRects[0];
    if (!exclusive_ && !destRects.empty()) dest = destRects[0];
    glBindFramebuffer(GL_READ_FRAMEBUFFER, backBuffer_->Framebuffer());
    glBindFramebuffer(GL_DRAW_FRAMEBUFFER, 0);
    glDisable(GL_SCISSOR_TEST);
    // The window's row 0 is its bottom row; ours is the top, so the blit turns the picture over.
    const bool sameSize = source.Width() == dest.Width() && source.Height() == dest.Height();
    glBlitFramebuffer(source.left, source.top, source.right, source.bottom, dest.left, height - dest.top,
                      dest.right, height - dest.bottom, GL_COLOR_BUFFER_BIT,
                      sameSize ? GL_NEAREST : GL_LINEAR);
    context.SwapBuffers();
  } else {
    glFlush();
  }
  SetLastPresentTime(clock.NowMs());
  return Leave(device, true, true);
}

bool T3DRendererGL::Clear(std::span<const TRect> rects, uint32_t flags, uint32_t color, float depth) {
  TDeviceLockGuard lock(DeviceLock());
  TGLDevice* device;
  if (!Enter(device)) return false;
  BindTarget(device);
  GLbitfield mask = 0;
  if (flags & kClearTarget) {
    mask |= GL_COLOR_BUFFER_BIT;
    glClearColor(((color >> 16) & 0xFF) / 255.0f, ((color >> 8) & 0xFF) / 255.0f, (color & 0xFF) / 255.0f,
                 (color >> 24) / 255.0f);
  }
  if ((flags & kClearDepth) && depthFormat_) {
    mask |= GL_DEPTH_BUFFER_BIT;
    glClearDepth(depth);
  }
  // Direct3D 9 clips clears to the viewport.
  glEnable(GL_SCISSOR_TEST);
  const TRect whole[1] = {viewport_};
  for (const TRect& rect : rects.empty() ? std::span<const TRect>(whole) : rects) {
    const TRect area = IntersectRect(rect, viewport_);
    if (area.IsEmpty() || !mask) continue;
    glScissor(area.left, area.top, area.Width(), area.Height());
    glClear(mask);
  }
  glDisable(GL_SCISSOR_TEST);
  return Leave(device, true);
}

bool T3DRendererGL::SetDefaultStates() {
  TDeviceLockGuard lock(DeviceLock());
  TGLDevice* device;
  if (!Enter(device)) return false;
  glEnable(GL_BLEND);
  glBlendEquation(GL_FUNC_ADD);
  glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
  const bool ok = DrawArrays(device, {}, kDrawModulateColor, unitQuadVao_, 4, 0, 2, 4, false);
  if (!Device()) return false;
  return Leave(device, ok);
}

T3DSurface* T3DRendererGL::GetRenderTarget() {
  TDeviceLockGuard lock(DeviceLock());
  return currentTarget_ ? currentTarget_ : backBuffer_.get();
}

bool T3DRendererGL::GetBackBuffer(T3DSurface*& surface) {
  TDeviceLockGuard lock(DeviceLock());
  surface = nullptr;
  TGLDevice* device;
  if (!Enter(device)) return false;
  surface = backBuffer_.get();
  return Leave(device, true);
}

bool T3DRendererGL::SetRenderTarget(T3DSurface* surface) {
  TDeviceLockGuard lock(DeviceLock());
  TGLDevice* device;
  if (!Enter(device)) return false;
  auto* target =
      surface ? dynamic_cast<T3DSurfaceRT*>(surface) : static_cast<T3DSurfaceGL*>(backBuffer_.get());
  if (!target || target->Device() != device) return Fail(kRawInvalidOperation);
  currentTarget_ = target == backBuffer_.get() ? nullptr : target;
  // As in Direct3D 9, a new target gets a viewport over all of it.
  viewport_ = {0, 0, target->GetSize().width, target->GetSize().height};
  minZ_ = 0;
  maxZ_ = 1;
  return Leave(device, true);
}

bool T3DRendererGL::SetViewport(const TRect& rect, float minZ, float maxZ) {
  TDeviceLockGuard lock(DeviceLock());
  TGLDevice* device;
  if (!Enter(device)) return false;
  T3DSurfaceGL* target = currentTarget_ ? currentTarget_ : backBuffer_.get();
  if (!RectInside(rect, target->GetSize()) || minZ < 0 || maxZ > 1 || minZ > maxZ)
    return Fail(kRawInvalidValue);
  viewport_ = rect;
  minZ_ = minZ;
  maxZ_ = maxZ;
  return Leave(device, true);
}

bool T3DRendererGL::DrawVertexList(std::span<T3DTexture* const> textures, uint32_t flags,
                                   T3DVertexList* list) {
  TDeviceLockGuard lock(DeviceLock());
  RY_ASSERT(list);
  RY_ASSERT(textures.size() <= gl::kMaxStages);
  TGLDevice* device;
  if (!Enter(device)) return false;
  auto* glList = dynamic_cast<T3DVertexListGL*>(list);
  if (!glList || glList->Device() != device) return Fail(kRawInvalidOperation);
  for (T3DTexture* texture : textures)
    if (texture && static_cast<T3DTextureGL*>(texture)->Device() != device) return Fail(kRawInvalidOperation);
  const bool ok =
      DrawArrays(device, textures, flags, glList->VertexArray(), glList->primitiveType,
                 glList->primitiveStart, glList->primitiveCount, glList->vertexCount, glList->hasDiffuse);
  if (!Device()) return false;
  return Leave(device, ok);
}

bool T3DRendererGL::DrawArrays(TGLDevice* device, std::span<T3DTexture* const> textures, uint32_t flags,
                               GLuint vao, uint8_t type, int32_t start, int32_t count, int32_t available,
                               bool hasDiffuse) {
  const GLenum mode = ModeOf(type);
  const int64_t vertices = VerticesFor(type, count);
  if (start < 0 || count < 0 || start + vertices > available) return Fail(kRawInvalidValue);
  if (count == 0) return true;
  BindTarget(device);

  const bool textured = (flags & kDrawTextured) != 0;
  const auto layers = textured ? textures : std::span<T3DTexture* const>{};
  gl::TStageKey key;
  key.layers = static_cast<uint8_t>(layers.size());
  key.modulateColor = (flags & kDrawModulateColor) != 0;
  key.modulateAlpha = (flags & kDrawModulateAlpha) != 0;
  key.lighting = (flags & kDrawLighting) != 0;
  bool anyPremultiplied = false;
  for (size_t i = 0; i < layers.size(); ++i) {
    T3DTexture* texture = layers[i];
    if (!texture) continue;
    anyPremultiplied |= texture->premultiplied;
    // Render targets without (or with plain) alpha take the vertex alpha alone.
    if (texture->kind == kTextureKindRTX || (texture->kind == kTextureKindRTA && !texture->premultiplied))
      key.vertexAlphaOnly |= static_cast<uint8_t>(1u << i);
  }
  const gl::TGLProgram* program = device->Program(vertexShader_ ? vertexShader_->Name() : 0,
                                                  pixelShader_ ? pixelShader_->Name() : 0, key);
  if (!program) return Fail(kRawFailed);
  glUseProgram(program->program);
  if (program->mvp >= 0) {
    const T3DMatrix mvp =
        transforms_[kTransformWorld] * transforms_[kTransformView] * transforms_[kTransformProjection];
    glUniformMatrix4fv(program->mvp, 1, GL_FALSE, &mvp.m[0][0]);
  }
  if (program->constants >= 0) glUniform4fv(program->constants, gl::kPixelConstants, pixelConstants_.data());
  if (program->vertexConstants >= 0)
    glUniform4fv(program->vertexConstants, gl::kVertexConstants, vertexConstants_.data());

  for (size_t i = 0; i < layers.size(); ++i) {
    glActiveTexture(GL_TEXTURE0 + static_cast<GLenum>(i));
    auto* texture = static_cast<T3DTextureGL*>(layers[i]);
    if (!texture) {
      glBindTexture(GL_TEXTURE_2D, device->WhiteTexture());
      continue;
    }
    glBindTexture(GL_TEXTURE_2D, texture->Name());
    T3DTextureGL::TSampler want;
    want.wrapS = WrapOf(texture->addressU);
    want.wrapT = WrapOf(texture->addressV);
    want.anisotropy = 1;
    want.lodBias = 0;
    if (texture->filter == kFilterPoint) {
      want.minFilter = want.magFilter = GL_NEAREST;
    } else if (anisotropySupported_ && texture->mipMapped) {
      want.magFilter = GL_LINEAR;
      want.minFilter = GL_LINEAR_MIPMAP_LINEAR;
      want.anisotropy = static_cast<float>(anisotropyLevel_);
      if (lodBiasSupported_) want.lodBias = texture->lodBias;
    } else {
      want.minFilter = want.magFilter = GL_LINEAR;
    }
    T3DTextureGL::TSampler& have = texture->applied;
    if (have.wrapS != want.wrapS) glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, want.wrapS);
    if (have.wrapT != want.wrapT) glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, want.wrapT);
    if (have.minFilter != want.minFilter)
      glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, want.minFilter);
    if (have.magFilter != want.magFilter)
      glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, want.magFilter);
    if (have.anisotropy != want.anisotropy)
      glTexParameterf(GL_TEXTURE_2D, GL_TEXTURE_MAX_ANISOTROPY, want.anisotropy);
    if (have.lodBias != want.lodBias) glTexParameterf(GL_TEXTURE_2D, GL_TEXTURE_LOD_BIAS, want.lodBias);
    have = want;
  }

  glEnable(GL_BLEND);
  if (blendMode_ == 1) {
    glBlendEquation(GL_MAX);
  } else {
    glBlendEquation(GL_FUNC_ADD);
    const T3DSurfaceGL* target = currentTarget_;
    if (anyPremultiplied)
      glBlendFunc(GL_ONE, GL_ONE_MINUS_SRC_ALPHA);
    else if (target && target->Premultiplied())
      glBlendFuncSeparate(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA, GL_ONE, GL_ONE_MINUS_SRC_ALPHA);
    else
      glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
  }
  // With y turned over, Direct3D's clockwise on screen is GL's counter-clockwise in window coordinates:
  // front faces are GL_CCW, and Direct3D's counter-clockwise culling culls GL's back faces.
  if (cullNone_) {
    glDisable(GL_CULL_FACE);
  } else {
    glEnable(GL_CULL_FACE);
    glFrontFace(GL_CCW);
    glCullFace(GL_BACK);
  }
  glDisable(GL_DEPTH_TEST);

  glBindVertexArray(vao);
  // A list without diffuse colour draws opaque white, as Direct3D's default vertex colour.
  if (!hasDiffuse) glVertexAttrib4f(1, 1, 1, 1, 1);
  glDrawArrays(mode, start, static_cast<GLsizei>(vertices));
  glBindVertexArray(0);
  for (size_t i = layers.size(); i-- > 0;) {
    glActiveTexture(GL_TEXTURE0 + static_cast<GLenum>(i));
    glBindTexture(GL_TEXTURE_2D, 0);
  }
  return true;
}

TOwned<T3DTexture> T3DRendererGL::CreateTexture(uint8_t kind, int32_t width, int32_t height, bool mipMapped) {
  RY_ASSERT(kind <= kTextureKindR5G6B5);
  TDeviceLockGuard lock(DeviceLock());
  TGLDevice* device;
  if (!Enter(device)) return nullptr;
  if (width <= 0 || height <= 0) {
    Fail(kRawInvalidValue);
    return nullptr;
  }
  const bool target = kind == kTextureKindRTX || kind == kTextureKindRTA;
  const int levels = !target && mipMapped && anisotropySupported_ ? FullChainLevels(width, height) : 1;
  auto texture = MakeOwned<T3DTextureGL>(store_, TRef<TGLDevice>::Share(device), kind, width, height, levels);
  texture->mipMapped = mipMapped;
  texture->Create();
  if (const uint32_t raw = device->TakeError(); raw != kRawOk) {
    lastError = ClassifyResult(raw, errorKind);
    texture->lastError = lastError;
    device->Delete(TGLDevice::TName::Texture, texture->Name());
    DeviceLossCheck();
    return nullptr;
  }
  store_->Add(texture.get());
  return texture;
}

TOwned<T3DVertexList> T3DRendererGL::CreateVertexList(int32_t count, uint32_t formatFlags, int32_t texSets) {
  TDeviceLockGuard lock(DeviceLock());
  TGLDevice* device;
  if (!Enter(device)) return nullptr;
  if (count <= 0) {
    Fail(kRawInvalidValue);
    return nullptr;
  }
  auto list = MakeOwned<T3DVertexListGL>(store_, TRef<TGLDevice>::Share(device));
  list->Create(count, formatFlags, texSets);
  if (const uint32_t raw = device->TakeError(); raw != kRawOk) {
    lastError = ClassifyResult(raw, errorKind);
    DeviceLossCheck();
    return nullptr; // the list frees nothing: its names die with the context or stay unused
  }
  store_->Add(list.get());
  return list;
}

bool T3DRendererGL::StretchRects(T3DSurface* source, T3DSurface* dest, std::span<const TRect> sourceRects,
                                 std::span<const TRect> destRects) {
  TDeviceLockGuard lock(DeviceLock());
  TGLDevice* device;
  if (!Enter(device)) return false;
  auto* from = dynamic_cast<T3DSurfaceGL*>(source);
  auto* to = dynamic_cast<T3DSurfaceGL*>(dest);
  if (!from || !to || from->Device() != device || to->Device() != device ||
      sourceRects.size() != destRects.size())
    return Fail(kRawInvalidOperation);
  const TRect wholeFrom[1] = {{0, 0, from->GetSize().width, from->GetSize().height}};
  const TRect wholeTo[1] = {{0, 0, to->GetSize().width, to->GetSize().height}};
  if (sourceRects.empty()) {
    sourceRects = wholeFrom;
    destRects = wholeTo;
  }
  for (size_t i = 0; i < sourceRects.size(); ++i)
    if (!RectInside(sourceRects[i], from->GetSize()) || !RectInside(destRects[i], to->GetSize()))
      return Fail(kRawInvalidValue);
  // Both framebuffers exist before either is bound: creating one binds it.
  const GLuint readFbo = from->Framebuffer(), drawFbo = to->Framebuffer();
  glBindFramebuffer(GL_READ_FRAMEBUFFER, readFbo);
  glBindFramebuffer(GL_DRAW_FRAMEBUFFER, drawFbo);
  glDisable(GL_SCISSOR_TEST);
  for (size_t i = 0; i < sourceRects.size(); ++i) {
    const TRect& s = sourceRects[i];
    const TRect& d = destRects[i];
    glBlitFramebuffer(s.left, s.top, s.right, s.bottom, d.left, d.top, d.right, d.bottom, GL_COLOR_BUFFER_BIT,
                      GL_NEAREST);
  }
  return Leave(device, true);
}

void T3DRendererGL::SetBlendMode(uint8_t mode) {
  blendMode_ = mode;
}

bool T3DRendererGL::SetTransform(int which, const T3DMatrix& matrix) {
  RY_ASSERT(which >= kTransformWorld && which <= kTransformProjection);
  TDeviceLockGuard lock(DeviceLock());
  if (!Device()) {
    errorKind = kErrorKindLost;
    return false;
  }
  transforms_[static_cast<size_t>(which)] = matrix;
  return true;
}

bool T3DRendererGL::SetCullNone(bool cullNone) {
  TDeviceLockGuard lock(DeviceLock());
  if (!Device()) {
    errorKind = kErrorKindLost;
    return false;
  }
  cullNone_ = cullNone;
  return true;
}

TOwned<T3DShader> T3DRendererGL::CreateShader(std::string_view code, bool isVertexShader) {
  TDeviceLockGuard lock(DeviceLock());
  TGLDevice* device;
  if (!Enter(device)) return nullptr;
  auto shader = MakeOwned<T3DShaderGL>(store_, TRef<TGLDevice>::Share(device));
  if (!shader->Create(code, isVertexShader)) {
    Fail(kRawInvalidOperation);
    device->TakeError();
    return nullptr;
  }
  if (const uint32_t raw = device->TakeError(); raw != kRawOk) {
    Fail(raw);
    return nullptr;
  }
  store_->Add(shader.get());
  return shader;
}

bool T3DRendererGL::SetShader(T3DShader* shader) {
  TDeviceLockGuard lock(DeviceLock());
  TGLDevice* device;
  if (!Enter(device)) return false;
  if (!shader) {
    pixelShader_ = vertexShader_ = nullptr;
    return Leave(device, true);
  }
  auto* glShader = dynamic_cast<T3DShaderGL*>(shader);
  if (!glShader || !glShader->valid || glShader->Device() != device) return Fail(kRawInvalidOperation);
  (glShader->isVertexShader ? vertexShader_ : pixelShader_) = glShader;
  return Leave(device, true);
}

bool T3DRendererGL::SetShaderConstants(int firstRegister, const float* values, int registerCount,
                                       bool isVertexShader) {
  TDeviceLockGuard lock(DeviceLock());
  if (!Device()) {
    errorKind = kErrorKindLost;
    return false;
  }
  const int limit = isVertexShader ? gl::kVertexConstants : gl::kPixelConstants;
  if (firstRegister < 0 || registerCount < 0 || firstRegister + registerCount > limit ||
      (!values && registerCount))
    return Fail(kRawInvalidValue);
  float* target = isVertexShader ? vertexConstants_.data() : pixelConstants_.data();
  if (registerCount) std::memcpy(target + 4 * firstRegister, values, sizeof(float) * 4 * registerCount);
  return true;
}

void T3DRendererGL::SimulateDeviceLoss() {
  TDeviceLockGuard lock(DeviceLock());
  if (TGLDevice* device = Device()) device->SimulateLoss();
}

void T3DRendererGL::ReleaseContext() {
  TDeviceLockGuard lock(DeviceLock());
  if (TGLDevice* device = Device()) device->Unbind();
}

} // namespace kiv

#include "GLResources.h"

#include "Assert.h"
#include "GLRenderer.h"

#include <algorithm>
#include <cstring>

namespace kiv {

using gl::TGLDevice;

namespace {

struct TGLFormat {
  GLint internal;
  GLenum format;
  GLenum type;
};

// Upload and read-back formats keep Direct3D's memory layout: A8R8G8B8 is the 32-bit word 0xAARRGGBB
// (bytes B, G, R, A), R5G6B5 the 16-bit word with red on top, L8 one byte.
TGLFormat FormatOf(uint8_t kind) {
  switch (kind) {
  case kTextureKindL8:
    return {GL_R8, GL_RED, GL_UNSIGNED_BYTE};
  case kTextureKindR5G6B5:
    return {GL_RGB565, GL_RGB, GL_UNSIGNED_SHORT_5_6_5};
  default:
    return {GL_RGBA8, GL_BGRA, GL_UNSIGNED_INT_8_8_8_8_REV};
  }
}

TPixelFormat PixelFormatOf(uint8_t kind) {
  switch (kind) {
  case kTextureKindL8:
    return TPixelFormat::pf8bit;
  case kTextureKindR5G6B5:
    return TPixelFormat::pf16bit565;
  default:
    return TPixelFormat::pf32bit;
  }
}

TDevBitmap* AsBitmap(const TOwned<TDevBitmap>& owned) {
  return owned.get();
}

} // namespace

// ================= surfaces =================

T3DSurfaceGL::T3DSurfaceGL(T3DTextureGL* texture, T3DRendererGL* renderer, GLuint name, int level, TSize size,
                           uint8_t kind)
    : texture_(texture), renderer_(renderer), name_(name), level_(level), size_(size), kind_(kind) {}

T3DSurfaceGL::~T3DSurfaceGL() {
  TDeviceLockGuard lock(DeviceLock());
  if (fbo_ && fboDevice_ && Store()) fboDevice_->Delete(TGLDevice::TName::Framebuffer, fbo_);
}

TDevStore* T3DSurfaceGL::Store() const {
  if (texture_) return texture_->store;
  return renderer_ ? renderer_->Store() : nullptr;
}

TGLDevice* T3DSurfaceGL::Device() const {
  if (texture_) return texture_->Device();
  return renderer_ ? renderer_->Device() : nullptr;
}

bool T3DSurfaceGL::Premultiplied() const {
  return texture_ && texture_->premultiplied;
}

TPixelFormat T3DSurfaceGL::GetPixelFormat() {
  return PixelFormatOf(kind_);
}

GLuint T3DSurfaceGL::Framebuffer() {
  if (!fbo_) {
    TGLDevice* device = Device();
    glGenFramebuffers(1, &fbo_);
    glBindFramebuffer(GL_FRAMEBUFFER, fbo_);
    glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, name_, level_);
    fboDevice_ = TRef<TGLDevice>::Share(device);
  }
  return fbo_;
}

bool T3DSurfaceGL::Enter(TGLDevice*& device) {
  device = Device();
  uint8_t& kind = texture_ ? texture_->errorKind : renderer_->errorKind;
  uint8_t& error = texture_ ? texture_->lastError : renderer_->lastError;
  if (!device) {
    kind = kErrorKindLost;
    return false;
  }
  if (!device->Bind()) {
    error = ClassifyResult(kRawFailed, kind);
    return false;
  }
  return true;
}

bool T3DSurfaceGL::Leave(TGLDevice* device) {
  const uint32_t raw = device->TakeError();
  if (raw == kRawOk) return true;
  uint8_t& kind = texture_ ? texture_->errorKind : renderer_->errorKind;
  (texture_ ? texture_->lastError : renderer_->lastError) = ClassifyResult(raw, kind);
  return false;
}

void T3DSurfaceGL::ReadRect(const TRect& rect, uint8_t* bits, int pitch) {
  const TGLFormat format = FormatOf(kind_);
  const int bpp = BytesPerPixel(PixelFormatOf(kind_));
  glBindFramebuffer(GL_READ_FRAMEBUFFER, Framebuffer());
  glReadBuffer(GL_COLOR_ATTACHMENT0);
  glPixelStorei(GL_PACK_ROW_LENGTH, pitch / bpp);
  // Rows come back from row rect.top down, which is the picture's top: no flip needed (see the vertex
  // stage in GLPrograms.cpp).
  glReadPixels(rect.left, rect.top, rect.Width(), rect.Height(), format.format, format.type, bits);
  glPixelStorei(GL_PACK_ROW_LENGTH, 0);
  // X8R8G8B8 surfaces have no alpha: what GL keeps there is not part of the picture.
  if (kind_ == kTextureKindRTX)
    for (int32_t y = 0; y < rect.Height(); ++y)
      for (int32_t x = 0; x < rect.Width(); ++x)
        bits[static_cast<size_t>(y) * pitch + x * 4 + 3] = 0xFF;
}

bool T3DSurfaceGL::CopyToBitmap(TDevBitmap& target) {
  TDeviceLockGuard lock(DeviceLock());
  TGLDevice* device;
  if (!Enter(device)) return false;
  target.SetSize(size_.width, size_.height, GetPixelFormat());
  ReadRect({0, 0, size_.width, size_.height}, target.ScanLine(0), target.Pitch());
  // Leave takes GL's error queue: its answer is the only word on whether the read-back worked.
  return Leave(device);
}

TDevBitmap* T3DSurfaceGL::Lock(const TRect* rect, bool readOnly) {
  TDeviceLockGuard lock(DeviceLock());
  const TRect area = rect ? *rect : TRect{0, 0, size_.width, size_.height};
  if (locked_ || !RectInside(area, size_)) return nullptr;
  TGLDevice* device;
  if (!Enter(device)) return nullptr;
  locked_ = MakeOwned<TDevBitmap>(area.Width(), area.Height(), GetPixelFormat());
  lockRect_ = area;
  lockReadOnly_ = readOnly;
  // A level nobody wrote yet has nothing to read back; uploads of fresh textures skip the read.
  const bool written = !texture_ || kind_ == kTextureKindRTX || kind_ == kTextureKindRTA ||
                       texture_->levelWritten[static_cast<size_t>(level_)];
  if (written) ReadRect(area, locked_->ScanLine(0), locked_->Pitch());
  if (!Leave(device)) {
    locked_.reset(); // what a failed read-back left in the bitmap is not the surface
    return nullptr;
  }
  return AsBitmap(locked_);
}

void T3DSurfaceGL::Unlock(TDevBitmap* bitmap) {
  TDeviceLockGuard lock(DeviceLock());
  if (!locked_ || bitmap != locked_.get()) return;
  TOwned<TDevBitmap> done = std::move(locked_);
  if (lockReadOnly_) return;
  TGLDevice* device;
  if (!Enter(device)) return;
  const TGLFormat format = FormatOf(kind_);
  glActiveTexture(GL_TEXTURE0);
  glBindTexture(GL_TEXTURE_2D, name_);
  glPixelStorei(GL_UNPACK_ROW_LENGTH, done->Pitch() / BytesPerPixel(done->Format()));
  glTexSubImage2D(GL_TEXTURE_2D, level_, lockRect_.left, lockRect_.top, lockRect_.Width(), lockRect_.Height(),
                  format.format, format.type, done->ScanLine(0));
  glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
  glBindTexture(GL_TEXTURE_2D, 0);
  if (texture_) texture_->levelWritten[static_cast<size_t>(level_)] = true;
  Leave(device);
}

bool T3DSurfaceGL::Write(const TRect& rect, const uint8_t* bits, int32_t pitch) {
  TDeviceLockGuard lock(DeviceLock());
  if (locked_ || !name_ || !texture_ || !RectInside(rect, size_)) return false;
  TGLDevice* device;
  if (!Enter(device)) return false;
  const TGLFormat format = FormatOf(kind_);
  glActiveTexture(GL_TEXTURE0);
  glBindTexture(GL_TEXTURE_2D, name_);
  glPixelStorei(GL_UNPACK_ROW_LENGTH, pitch / BytesPerPixel(PixelFormatOf(kind_)));
  glTexSubImage2D(GL_TEXTURE_2D, level_, rect.left, rect.top, rect.Width(), rect.Height(), format.format,
                  format.type, bits);
  glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
  glBindTexture(GL_TEXTURE_2D, 0);
  texture_->levelWritten[static_cast<size_t>(level_)] = true;
  return Leave(device);
}

// ================= textures =================

T3DTextureGL::T3DTextureGL(TDevStore* owner, TRef<TGLDevice> device, uint8_t textureKind, int32_t width,
                           int32_t height, int levels)
    : device_(std::move(device)), width_(width), height_(height), levels_(levels) {
  (void)owner;
  kind = textureKind;
  levelWritten.assign(static_cast<size_t>(levels), false);
}

T3DTextureGL::~T3DTextureGL() {
  TDeviceLockGuard lock(DeviceLock());
  surfaces_.clear();
  if (store) {
    if (store->drawDevice)
      if (auto* renderer = dynamic_cast<T3DRendererGL*>(store->drawDevice->renderer))
        if (T3DSurface* target = renderer->GetRenderTarget();
            target && static_cast<T3DSurfaceGL*>(target)->Texture() == this)
          renderer->SetRenderTarget(nullptr);
    store->Remove(this);
    device_->Delete(TGLDevice::TName::Texture, name_);
  }
}

TSize T3DTextureGL::LevelSize(int level) const {
  return {std::max(1, width_ >> level), std::max(1, height_ >> level)};
}

bool T3DTextureGL::Create() {
  const TGLFormat format = FormatOf(kind);
  glGenTextures(1, &name_);
  glActiveTexture(GL_TEXTURE0);
  glBindTexture(GL_TEXTURE_2D, name_);
  // Every level is allocated and the level range set, or GL would sample an incomplete texture as black.
  for (int level = 0; level < levels_; ++level) {
    const TSize size = LevelSize(level);
    glTexImage2D(GL_TEXTURE_2D, level, format.internal, size.width, size.height, 0, format.format,
                 format.type, nullptr);
  }
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_BASE_LEVEL, 0);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAX_LEVEL, levels_ - 1);
  if (kind == kTextureKindRTX) glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_SWIZZLE_A, GL_ONE);
  if (kind == kTextureKindL8) {
    const GLint swizzle[] = {GL_RED, GL_RED, GL_RED, GL_ONE};
    glTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_SWIZZLE_RGBA, swizzle);
  }
  glBindTexture(GL_TEXTURE_2D, 0);
  return true;
}

T3DSurface* T3DTextureGL::GetSurface(int level) {
  TDeviceLockGuard lock(DeviceLock());
  if (level < 0 || level >= levels_ || !store) return nullptr;
  if (surfaces_.empty()) surfaces_.resize(static_cast<size_t>(levels_));
  auto& surface = surfaces_[static_cast<size_t>(level)];
  if (!surface) {
    const bool target = kind == kTextureKindRTX || kind == kTextureKindRTA;
    if (target)
      surface = MakeOwned<T3DSurfaceRT>(this, nullptr, name_, level, LevelSize(level), kind);
    else
      surface = MakeOwned<T3DSurfaceGL>(this, nullptr, name_, level, LevelSize(level), kind);
  }
  return surface.get();
}

void T3DTextureGL::SetAddressMode(uint8_t u, uint8_t v) {
  addressU = u;
  addressV = v;
}

void T3DTextureGL::GetAddressMode(uint8_t& u, uint8_t& v) {
  u = addressU;
  v = addressV;
}

// ================= vertex lists =================

T3DVertexListGL::T3DVertexListGL(TDevStore* owner, TRef<TGLDevice> device) : device_(std::move(device)) {
  (void)owner;
}

T3DVertexListGL::~T3DVertexListGL() {
  TDeviceLockGuard lock(DeviceLock());
  if (store) {
    store->Remove(this);
    device_->Delete(TGLDevice::TName::VertexArray, vao_);
    device_->Delete(TGLDevice::TName::Buffer, vbo_);
  }
}

bool T3DVertexListGL::Create(int32_t count, uint32_t formatFlags, int32_t sets) {
  RY_ASSERT(sets >= 0 && sets <= 8);
  hasDiffuse = (formatFlags & kVertexDiffuse) != 0;
  texSets = sets;
  fvf =
      0x002 | (hasDiffuse ? 0x040u : 0u) | (static_cast<uint32_t>(sets) << 8); // D3DFVF_XYZ, _DIFFUSE, _TEXn
  stride = 12 + (hasDiffuse ? 4 : 0) + 8 * sets;
  diffuseOffset = hasDiffuse ? 12 : 0;
  texOffset = 12 + (hasDiffuse ? 4 : 0);
  vertexCount = count;
  glGenVertexArrays(1, &vao_);
  glGenBuffers(1, &vbo_);
  glBindVertexArray(vao_);
  glBindBuffer(GL_ARRAY_BUFFER, vbo_);
  glBufferData(GL_ARRAY_BUFFER, static_cast<GLsizeiptr>(count) * stride, nullptr, GL_DYNAMIC_DRAW);
  glEnableVertexAttribArray(0);
  glVertexAttribPointer(0, 3, GL_FLOAT, GL_FALSE, stride, nullptr);
  if (hasDiffuse) {
    // 32-bit ARGB words are B, G, R, A in memory: GL_BGRA reads them as they are.
    glEnableVertexAttribArray(1);
    glVertexAttribPointer(1, GL_BGRA, GL_UNSIGNED_BYTE, GL_TRUE, stride,
                          reinterpret_cast<const void*>(static_cast<uintptr_t>(diffuseOffset)));
  }
  for (int32_t i = 0; i < sets; ++i) {
    glEnableVertexAttribArray(static_cast<GLuint>(2 + i));
    glVertexAttribPointer(static_cast<GLuint>(2 + i), 2, GL_FLOAT, GL_FALSE, stride,
                          reinterpret_cast<const void*>(static_cast<uintptr_t>(texOffset + 8 * i)));
  }
  glBindVertexArray(0);
  return true;
}

void T3DVertexListGL::SetPrimitive(int32_t start, int32_t count, uint8_t type) {
  primitiveStart = start;
  primitiveCount = count;
  primitiveType = type;
}

bool T3DVertexListGL::Fill(int32_t firstVertex, std::span<const T3DVertex> vertices) {
  TDeviceLockGuard lock(DeviceLock());
  TGLDevice* device = Device();
  if (!device) return false;
  if (firstVertex < 0 || firstVertex + static_cast<int64_t>(vertices.size()) > vertexCount) {
    lastError = kResultInvalidCall;
    return false;
  }
  if (vertices.empty()) return true;
  if (!device->Bind()) return false;
  staging_.resize(vertices.size() * static_cast<size_t>(stride));
  uint8_t* out = staging_.data();
  for (const T3DVertex& v : vertices) {
    std::memcpy(out, &v.x, 12);
    if (hasDiffuse) std::memcpy(out + diffuseOffset, &v.color, 4);
    if (texSets) std::memcpy(out + texOffset, v.tex, static_cast<size_t>(8 * texSets));
    out += stride;
  }
  glBindBuffer(GL_ARRAY_BUFFER, vbo_);
  // Whole-list fills let GL drop the old storage instead of waiting for draws that still read it.
  if (firstVertex == 0 && static_cast<int32_t>(vertices.size()) == vertexCount)
    glBufferData(GL_ARRAY_BUFFER, static_cast<GLsizeiptr>(staging_.size()), staging_.data(), GL_DYNAMIC_DRAW);
  else
    glBufferSubData(GL_ARRAY_BUFFER, static_cast<GLintptr>(firstVertex) * stride,
                    static_cast<GLsizeiptr>(staging_.size()), staging_.data());
  glBindBuffer(GL_ARRAY_BUFFER, 0);
  uint8_t kind = 0;
  if (const uint32_t raw = device->TakeError(); raw != kRawOk) {
    lastError = ClassifyResult(raw, kind);
    return false;
  }
  return true;
}

// ================= shaders =================

T3DShaderGL::T3DShaderGL(TDevStore* owner, TRef<TGLDevice> device) : device_(std::move(device)) {
  (void)owner;
}

T3DShaderGL::~T3DShaderGL() {
  TDeviceLockGuard lock(DeviceLock());
  if (store) {
    if (store->drawDevice)
      if (auto* renderer = dynamic_cast<T3DRendererGL*>(store->drawDevice->renderer))
        renderer->ForgetShader(this);
    store->Remove(this);
    if (device_->IsCurrentHere() || device_->Bind()) device_->ForgetShader(name_);
    device_->Delete(TGLDevice::TName::Shader, name_);
  }
}

bool T3DShaderGL::Create(std::string_view code, bool vertex) {
  isVertexShader = vertex;
  name_ = gl::CompileShader(vertex ? GL_VERTEX_SHADER : GL_FRAGMENT_SHADER,
                            vertex ? gl::WrapVertexShader(code) : gl::WrapPixelShader(code));
  valid = name_ != 0;
  return valid;
}

} // namespace kiv

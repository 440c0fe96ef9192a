#pragma once
// What a GL renderer creates and draws with: surfaces (texture levels and back buffers), textures, vertex
// lists and shaders. Each holds the device it was made on and answers failure once its store is gone.

#include "DeviceLayer.h"
#include "GLDevice.h"

#include <span>
#include <string_view>
#include <vector>

namespace kiv {

class T3DRendererGL;
class T3DTextureGL;

// A surface: one level of a texture, or the back buffer of a renderer.
class T3DSurfaceGL : public T3DSurface {
public:
  T3DSurfaceGL(T3DTextureGL* texture, T3DRendererGL* renderer, GLuint name, int level, TSize size,
               uint8_t kind);
  ~T3DSurfaceGL() override;

  bool CopyToBitmap(TDevBitmap& target) override;
  TSize GetSize() override { return size_; }
  TPixelFormat GetPixelFormat() override;
  TDevBitmap* Lock(const TRect* rect, bool readOnly) override;
  void Unlock(TDevBitmap* bitmap) override;
  bool Write(const TRect& rect, const uint8_t* bits, int32_t pitch) override;

  gl::TGLDevice* Device() const; // none once the device is gone
  TDevStore* Store() const;
  GLuint Framebuffer();       // created on first use, with this surface as colour attachment 0
  bool Premultiplied() const; // the surface of a premultiplied texture
  T3DTextureGL* Texture() const { return texture_; }
  uint8_t Kind() const { return kind_; }

private:
  bool Enter(gl::TGLDevice*& device);
  bool Leave(gl::TGLDevice* device); // false (and lastError set) when GL reported an error
  void ReadRect(const TRect& rect, uint8_t* bits, int pitch);

  T3DTextureGL* texture_;   // owner, or none for a back buffer
  T3DRendererGL* renderer_; // owner of a back buffer
  GLuint name_;
  int level_;
  TSize size_;
  uint8_t kind_;
  GLuint fbo_ = 0;
  TRef<gl::TGLDevice> fboDevice_; // the context the framebuffer belongs to
  TOwned<TDevBitmap> locked_;
  TRect lockRect_;
  bool lockReadOnly_ = false;
};

// A surface that can be a render target: render-target texture levels and back buffers.
class T3DSurfaceRT final : public T3DSurfaceGL {
public:
  using T3DSurfaceGL::T3DSurfaceGL;
};

class T3DTextureGL final : public T3DTexture {
public:
  T3DTextureGL(TDevStore* store, TRef<gl::TGLDevice> device, uint8_t kind, int32_t width, int32_t height,
               int levels);
  ~T3DTextureGL() override;

  T3DSurface* GetSurface(int level) override;
  int GetLevelCount() override { return levels_; }
  void PreLoad() override {}
  void SetAddressMode(uint8_t u, uint8_t v) override;
  void GetAddressMode(uint8_t& u, uint8_t& v) override;
  void SetFilter(uint8_t value) override { filter = value; }
  uint8_t GetFilter() override { return filter; }
  void SetMipMapped(bool value) override { mipMapped = value; }
  void SetLodBias(float value) override { lodBias = value; }

  bool Create(); // allocates every level; false with lastError set
  GLuint Name() const { return name_; }
  gl::TGLDevice* Device() const { return store ? device_.get() : nullptr; }
  TSize LevelSize(int level) const;
  std::vector<bool> levelWritten; // levels whose contents a lock must read back first

  // Sampler settings last given to GL, so that draws only change what differs.
  struct TSampler {
    GLint wrapS = -1, wrapT = -1, minFilter = -1, magFilter = -1;
    float anisotropy = -1, lodBias = -1;
  } applied;

private:
  TRef<gl::TGLDevice> device_;
  GLuint name_ = 0;
  int32_t width_, height_;
  int levels_;
  std::vector<TOwned<T3DSurfaceGL>> surfaces_;
};

class T3DVertexListGL final : public T3DVertexList {
public:
  T3DVertexListGL(TDevStore* store, TRef<gl::TGLDevice> device);
  ~T3DVertexListGL() override;

  void SetPrimitive(int32_t start, int32_t count, uint8_t type) override;
  bool Fill(int32_t firstVertex, std::span<const T3DVertex> vertices) override;

  bool Create(int32_t count, uint32_t formatFlags, int32_t sets);
  gl::TGLDevice* Device() const { return store ? device_.get() : nullptr; }
  GLuint VertexArray() const { return vao_; }
  uint8_t lastError = 0;

private:
  TRef<gl::TGLDevice> device_;
  GLuint vbo_ = 0, vao_ = 0;
  std::vector<uint8_t> staging_;
};

class T3DShaderGL final : public T3DShader {
public:
  T3DShaderGL(TDevStore* store, TRef<gl::TGLDevice> device);
  ~T3DShaderGL() override;
  bool Create(std::string_view code, bool vertex);
  GLuint Name() const { return name_; }
  gl::TGLDevice* Device() const { return store ? device_.get() : nullptr; }

private:
  TRef<gl::TGLDevice> device_;
  GLuint name_ = 0;
};

} // namespace kiv

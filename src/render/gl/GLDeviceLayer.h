#pragma once
// The device layer on OpenGL 3.3 core, in place of the Direct3D 9 family: engine, renderer, surfaces,
// textures, vertex lists and shaders. Contexts and monitors come from the platform's backend table
// (headless EGL for draw devices without a window, SDL2 for windows). Every GL call runs under DeviceLock
// with the store's context bound on the calling thread.

#include "DeviceLayer.h"
#include "GLBackends.h"
#include "GLDevice.h"

#include <array>
#include <memory>
#include <optional>
#include <vector>

namespace kiv {

class T3DRendererGL;
class T3DTextureGL;
class T3DShaderGL;

struct TGLEngineOptions {
  // Used when no backend knows a display (headless): one adapter of this size and refresh rate.
  TRect headlessMonitor{0, 0, 1920, 1080};
  int32_t headlessRefreshRate = 60;
  // Where contexts and displays come from, tried in order; empty: the platform's table (GLBackends()).
  std::vector<const TGLBackend*> backends;
};

class T3DEngineGL final : public T3DEngine {
public:
  explicit T3DEngineGL(const TGLEngineOptions& options);

  int32_t AdapterForRect(const TRect& rect) override;
  int32_t GetCap(std::u16string_view name, int32_t adapter) override;
  bool GetDisplayMode(int32_t adapter, TDisplayMode& mode) override;
  TOwned<T3DRenderer> CreateRenderer(TDrawDevice* device, const TDisplayMode& mode) override;
  bool IsDeviceAvailable() override;
  int32_t ShaderLevel(int32_t adapter) override;

  // Test hook standing in for an unusable session or a lost probe device.
  void SetDeviceAvailableOverride(std::optional<bool> available) { availableOverride_ = available; }

  // The creation itself, on the main thread under the lock; false leaves the renderer without store.
  bool InternalCreateRenderer(T3DRendererGL* renderer, const TDisplayMode& mode);

protected:
  void Dispose() override;

private:
  std::vector<TRect> Monitors(std::vector<int32_t>* refreshRates = nullptr) const;
  bool ReadCaps(int32_t adapter, TCapsWrapper& caps);

  TGLEngineOptions options_;
  std::vector<TCapsWrapper> caps_; // read once per adapter
  TRef<gl::TGLDevice> probe_;      // headless probe context, created on the main thread
  std::optional<bool> availableOverride_;
};

// Registers the GL engine as the process-wide engine factory (call once at start-up).
void RegisterGLEngine(const TGLEngineOptions& options = {});

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

// Posted creation request; the renderer clears `renderer` when it goes first.
struct TInitData {
  T3DRendererGL* renderer = nullptr;
  TDisplayMode mode;
};

class T3DRendererGL final : public T3DRenderer {
public:
  explicit T3DRendererGL(T3DEngineGL* engine, TDrawDevice* device);

  void ForgetStore(TDevStore* store) override;
  void UpdatePanelBounds() override;
  bool BeginScene() override;
  bool EndScene() override;
  bool Present(std::span<const TRect> sourceRects, std::span<const TRect> destRects) override;
  bool Clear(std::span<const TRect> rects, uint32_t flags, uint32_t color, float depth) override;
  bool SetDefaultStates() override;
  bool SetRenderTarget(T3DSurface* surface) override;
  T3DSurface* GetRenderTarget() override;
  bool GetBackBuffer(T3DSurface*& surface) override;
  bool SetViewport(const TRect& rect, float minZ, float maxZ) override;
  bool DrawVertexList(std::span<T3DTexture* const> textures, uint32_t flags, T3DVertexList* list) override;
  TOwned<T3DTexture> CreateTexture(uint8_t kind, int32_t width, int32_t height, bool mipMapped) override;
  TOwned<T3DVertexList> CreateVertexList(int32_t count, uint32_t formatFlags, int32_t texSets) override;
  bool StretchRects(T3DSurface* source, T3DSurface* dest, std::span<const TRect> sourceRects,
                    std::span<const TRect> destRects) override;
  void SetBlendMode(uint8_t mode) override;
  bool SetTransform(int which, const T3DMatrix& matrix) override;
  bool SetCullNone(bool cullNone) override;
  // Direct3D 9 needs half a pixel here to line texel centres up with pixel centres; GL's pixel centres
  // already sit at i + 0.5, so the correction terms of the callers' matrices must vanish.
  TFloatPoint GetTexelOffset() override { return {0, 0}; }
  TOwned<T3DShader> CreateShader(std::string_view code, bool isVertexShader) override;
  bool SetShader(T3DShader* shader) override;
  bool SetShaderConstants(int firstRegister, const float* values, int registerCount,
                          bool isVertexShader) override;

  // Test hook: the device reports itself lost at the next checked call, as after a driver reset.
  void SimulateDeviceLoss();
  // Lets go of the GL context on the calling thread so that another thread may draw.
  void ReleaseContext();

  void ForgetShader(const T3DShaderGL* shader); // a shader being freed

  TDevStore* Store() const { return store_; }
  gl::TGLDevice* Device() const;
  bool Exclusive() const { return exclusive_; }
  int32_t RefreshRate() const { return refreshRate_; }
  T3DSurfaceGL* BackBuffer() { return backBuffer_.get(); }

protected:
  void Dispose() override;

private:
  friend class T3DEngineGL;
  bool Enter(gl::TGLDevice*& device);
  bool Leave(gl::TGLDevice* device, bool ok, bool checkReset = false);
  bool Fail(uint32_t raw);
  void DeviceLossCheck();
  bool EnsureSwapChain(gl::TGLDevice* device);
  void BindTarget(gl::TGLDevice* device);
  bool DrawArrays(gl::TGLDevice* device, std::span<T3DTexture* const> textures, uint32_t flags, GLuint vao,
                  uint8_t type, int32_t start, int32_t count, int32_t available, bool hasDiffuse);

  // Set at creation (main thread), read by the drawing thread.
  TRef<T3DEngineGL> engine_; // the renderer keeps its engine alive
  TDevStore* store_ = nullptr;
  bool exclusive_ = false;
  int32_t anisotropyLevel_ = 1;
  bool anisotropySupported_ = false;
  bool lodBiasSupported_ = false;
  int32_t depthFormat_ = 0;
  bool l8Supported_ = false;
  int32_t refreshRate_ = 60;
  bool active_ = false;
  bool fullScreenAtCreation_ = false;
  TSize backBufferSize_;
  std::shared_ptr<TInitData> pendingInit_;

  // Drawing state, written by the drawing thread.
  T3DSurfaceGL* currentTarget_ = nullptr;
  TOwned<T3DSurfaceGL> backBuffer_;
  GLuint backBufferName_ = 0;
  GLuint unitQuadVbo_ = 0, unitQuadVao_ = 0;
  uint8_t blendMode_ = 0;
  bool cullNone_ = false;
  TRect viewport_;
  float minZ_ = 0, maxZ_ = 1;
  std::array<T3DMatrix, 3> transforms_{T3DMatrix::Identity(), T3DMatrix::Identity(), T3DMatrix::Identity()};
  T3DShaderGL* pixelShader_ = nullptr;
  T3DShaderGL* vertexShader_ = nullptr;
  std::array<float, 4 * gl::kPixelConstants> pixelConstants_{};
  std::array<float, 4 * gl::kVertexConstants> vertexConstants_{};
};

} // namespace kiv

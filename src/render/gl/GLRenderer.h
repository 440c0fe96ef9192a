#pragma once
// The GL renderer: scenes, clears, presents, render targets and drawing through the generated stage
// programs, with Direct3D 9's error and device-loss behaviour.

#include "DeviceLayer.h"
#include "GLDevice.h"
#include "GLEngine.h"
#include "GLResources.h"

#include <array>
#include <memory>

namespace kiv {

class T3DRendererGL;

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

#pragma once
// Shared set-up for the GL device tests: a headless engine, an offscreen draw device and a renderer, and
// quads placed in pixels.

#include "GLContext.h"
#include "GLDeviceLayer.h"
#include "Exceptions.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kiv::test {

// Maps pixels (x right, y down) to clip space, as the screen layer's matrices do with a texel offset of 0.
inline T3DMatrix PixelMatrix(int width, int height) {
  T3DMatrix m = T3DMatrix::Identity();
  m.m[0][0] = 2.0f / width;
  m.m[1][1] = -2.0f / height;
  m.m[3][0] = -1;
  m.m[3][1] = 1;
  return m;
}

// Two triangles covering [left, right) x [top, bottom) with texture coordinates u0..u1, v0..v1 on set 0.
inline std::vector<T3DVertex> Quad(float left, float top, float right, float bottom, uint32_t color,
                                   float u0 = 0, float v0 = 0, float u1 = 1, float v1 = 1) {
  auto vertex = [color](float x, float y, float u, float v) {
    T3DVertex result;
    result.x = x;
    result.y = y;
    result.color = color;
    result.tex[0][0] = u;
    result.tex[0][1] = v;
    return result;
  };
  const T3DVertex lt = vertex(left, top, u0, v0), rt = vertex(right, top, u1, v0);
  const T3DVertex lb = vertex(left, bottom, u0, v1), rb = vertex(right, bottom, u1, v1);
  return {lb, lt, rb, rb, lt, rt};
}

class GLFixture : public ::testing::Test {
protected:
  static constexpr int kWidth = 64, kHeight = 48;

  void SetUp() override {
    std::string whyNot;
    if (!HeadlessGLAvailable(&whyNot))
      GTEST_SKIP() << "no headless EGL display, GL tests skipped: " << whyNot;
    SetMainThread(std::this_thread::get_id());
    engine = TRef<T3DEngineGL>::Make(TGLEngineOptions{});
    device = MakeOwned<TDrawDevice>();
    device->bounds = {0, 0, kWidth, kHeight};
    TDisplayMode mode;
    ASSERT_TRUE(engine->GetDisplayMode(0, mode));
    renderer = engine->CreateRenderer(device.get(), mode);
    ASSERT_TRUE(renderer);
    gl = static_cast<T3DRendererGL*>(renderer.get());
    ASSERT_TRUE(renderer->BeginScene());
    renderer->SetCullNone(true);
    renderer->SetTransform(kTransformWorld, PixelMatrix(kWidth, kHeight));
  }

  void TearDown() override {
    renderer.reset();
    device.reset();
    engine.reset();
    SetDevLogHook(nullptr);
  }

  // Draws vertices as a triangle list with the given textures and flags.
  bool Draw(const std::vector<T3DVertex>& vertices, std::vector<T3DTexture*> textures, uint32_t flags,
            int sets = 1) {
    auto list = renderer->CreateVertexList(static_cast<int32_t>(vertices.size()), kVertexDiffuse, sets);
    if (!list || !list->Fill(0, vertices)) return false;
    list->SetPrimitive(0, static_cast<int32_t>(vertices.size() / 3), 3);
    return renderer->DrawVertexList(textures, flags, list.get());
  }

  // Fills level `level` of a texture with 32-bit pixels (rows top-down).
  static void Upload(T3DTexture& texture, int level, const std::vector<uint32_t>& pixels) {
    T3DSurface* surface = texture.GetSurface(level);
    ASSERT_NE(surface, nullptr);
    TDevBitmap* bits = surface->Lock(nullptr, false);
    ASSERT_NE(bits, nullptr);
    for (int y = 0; y < bits->Height(); ++y)
      for (int x = 0; x < bits->Width(); ++x)
        bits->SetPixel32(x, y, pixels[static_cast<size_t>(y * bits->Width() + x)]);
    surface->Unlock(bits);
  }

  TDevBitmap ReadTarget() {
    TDevBitmap bitmap;
    EXPECT_TRUE(renderer->GetRenderTarget()->CopyToBitmap(bitmap));
    return bitmap;
  }

  TRef<T3DEngineGL> engine;
  TOwned<TDrawDevice> device;
  TOwned<T3DRenderer> renderer;
  T3DRendererGL* gl = nullptr;
};

// Channel-wise comparison with a tolerance.
inline ::testing::AssertionResult NearColor(uint32_t actual, uint32_t expected, int tolerance = 2) {
  for (int shift = 0; shift < 32; shift += 8) {
    const int a = (actual >> shift) & 0xFF, e = (expected >> shift) & 0xFF;
    if (std::abs(a - e) > tolerance) {
      char text[64];
      std::snprintf(text, sizeof text, "got %08X, expected %08X", actual, expected);
      return ::testing::AssertionFailure() << text;
    }
  }
  return ::testing::AssertionSuccess();
}

} // namespace kiv::test

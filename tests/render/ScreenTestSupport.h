#pragma once
// A screen on an offscreen draw device through the process-wide GL engine, and a texture filled from a
// bitmap, for the screen's drawing tests.

#include "Screen.h"
#include "RenderTargetPool.h"
#include "GLContext.h"
#include "GLDeviceLayer.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <random>
#include <vector>

namespace kiv::test {

// A texture whose level 0 is a copy of a bitmap (32-bit ARGB or 8-bit, rows top-down).
class TBitmapTexture final : public TCustomTexture {
public:
  TBitmapTexture(T3DScreen* screen, TDevBitmap picture, uint8_t textureKind = kTextureKindARGB)
      : TCustomTexture(screen), bitmap(std::move(picture)) {
    kind = textureKind;
    SetSize({bitmap.Width(), bitmap.Height()});
  }
  void FillLevel0(std::span<TDevBitmap* const> levels) override {
    TDevBitmap& target = *levels[0];
    const size_t bytes = static_cast<size_t>(bitmap.Width()) * BytesPerPixel(bitmap.Format());
    for (int y = 0; y < bitmap.Height(); ++y)
      std::memcpy(target.ScanLine(y), bitmap.ScanLine(y), bytes);
  }
  TDevBitmap bitmap;
};

inline TDevBitmap MakeBitmap(int width, int height, const std::function<uint32_t(int, int)>& pixel) {
  TDevBitmap bitmap(width, height, TPixelFormat::pf32bit);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x)
      bitmap.SetPixel32(x, y, pixel(x, y));
  return bitmap;
}

inline TDevBitmap MakePlane(int width, int height, uint32_t seed) {
  std::mt19937 random(seed);
  TDevBitmap bitmap(width, height, TPixelFormat::pf8bit);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x)
      bitmap.ScanLine(y)[x] = static_cast<uint8_t>(random());
  return bitmap;
}

// A flat placement: object pixel (u, v) at screen pixel (x + u, y + v).
inline TQuadPlacement At(float x, float y) {
  TQuadPlacement placement;
  placement.origin = {x, y, 0};
  return placement;
}

inline constexpr TQuadColors kWhite = {0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF};

class ScreenFixture : public ::testing::Test {
protected:
  static constexpr int kWidth = 64, kHeight = 48;

  void SetUp() override {
    std::string whyNot;
    if (!HeadlessGLAvailable(&whyNot))
      GTEST_SKIP() << "no headless EGL display, GL tests skipped: " << whyNot;
    SetMainThread(std::this_thread::get_id());
    RegisterGLEngine();
    device = MakeOwned<TDrawDevice>();
    device->bounds = {0, 0, kWidth, kHeight};
    screen = MakeOwned<T3DScreen>();
    screen->AssignDevice(device.get());
    ASSERT_TRUE(screen->IsReady());
    ASSERT_TRUE(screen->BeginScene());
  }

  void TearDown() override {
    screen.reset();
    device.reset();
    FreeEngine();
    SetDevLogHook(nullptr);
  }

  TDevBitmap ReadScreen() {
    TDevBitmap bitmap;
    EXPECT_TRUE(screen->renderer->GetRenderTarget()->CopyToBitmap(bitmap));
    return bitmap;
  }
  static TDevBitmap ReadTexture(TCustomTexture& texture, int level = 0) {
    TDevBitmap bitmap;
    T3DTexture* t = texture.GetTexture();
    EXPECT_NE(t, nullptr);
    if (t) {
      EXPECT_TRUE(t->GetSurface(level)->CopyToBitmap(bitmap));
    }
    return bitmap;
  }

  TOwned<TDrawDevice> device;
  TOwned<T3DScreen> screen;
};

inline int ChannelDistance(uint32_t a, uint32_t b) {
  int worst = 0;
  for (int shift = 0; shift < 32; shift += 8)
    worst = std::max(worst, std::abs(int((a >> shift) & 0xFF) - int((b >> shift) & 0xFF)));
  return worst;
}

} // namespace kiv::test

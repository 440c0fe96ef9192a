#pragma once
// A slide drawer on an offscreen draw device, items made of lambdas, and pictures made from functions, for
// the drawer's tests and benchmark.

#include "ScreenDrawer.h"
#include "GLContext.h"
#include "GLDeviceLayer.h"
#include "ScreenTestSupport.h"

#include <gtest/gtest.h>

#include <functional>
#include <vector>

namespace kiv::test {

class TLambdaItem final : public TDrawItem {
public:
  explicit TLambdaItem(std::function<void(TDeviceDrawer&)> body, float blurValue = 0)
      : draw(std::move(body)), blur(blurValue) {}
  void Draw(TDeviceDrawer& drawer) override { draw(drawer); }
  float GetBlur() const override { return blur; }
  void FrameDone(TDeviceDrawer&) override { ++framesDone; }
  std::function<void(TDeviceDrawer&)> draw;
  float blur;
  int framesDone = 0;
};

inline TRef<TMemoryImage> MakeImage(int width, int height, const std::function<uint32_t(int, int)>& pixel) {
  TDevBitmap bitmap(width, height, TPixelFormat::pf32bit);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x)
      bitmap.SetPixel32(x, y, pixel(x, y));
  return TRef<TMemoryImage>::Make(std::move(bitmap));
}

// Owns the device and the drawer; pictures made through it are released before the drawer goes.
class TDrawerRig {
public:
  TDrawerRig(int width, int height) {
    SetMainThread(std::this_thread::get_id());
    RegisterGLEngine();
    device = MakeOwned<TDrawDevice>();
    device->bounds = {0, 0, width, height};
    drawer = MakeOwned<T3DDrawer>(MakeOwned<T3DScreen>());
    drawer->OnNotify = [this](TDeviceDrawer&, TDrawItem* item, int code) {
      notes.push_back({item, code});
      return true;
    };
    drawer->mode = 1;
    drawer->Init(device.get());
  }
  ~TDrawerRig() {
    for (auto& image : images)
      drawer->ReleaseImage(*image);
    images.clear();
    drawer.reset();
    device.reset();
    FreeEngine();
  }
  TMemoryImage& Image(int width, int height, const std::function<uint32_t(int, int)>& pixel) {
    images.push_back(MakeImage(width, height, pixel));
    return *images.back();
  }
  // Draws one frame of the body and reads it back.
  TDevBitmap Frame(const std::function<void(TDeviceDrawer&)>& body, uint32_t background = 0xFF000000,
                   float blur = 0) {
    TLambdaItem root([&](TDeviceDrawer& d) {
      d.Clear(background, true);
      if (blur == 0) {
        body(d);
        return;
      }
      TLambdaItem inner(body, blur);
      d.DrawItem(inner);
    });
    drawer->DrawItem(root);
    auto shot = drawer->GetScreenshot();
    EXPECT_TRUE(shot.has_value());
    return shot ? std::move(*shot) : TDevBitmap();
  }

  struct TNote {
    TDrawItem* item;
    int code;
  };
  std::vector<TNote> notes;
  TOwned<TDrawDevice> device;
  TOwned<T3DDrawer> drawer;
  std::vector<TRef<TMemoryImage>> images;
};

inline constexpr T3DPoint kX{1, 0, 0}, kY{0, 1, 0};

inline int Channel(uint32_t pixel, int shift) {
  return static_cast<int>((pixel >> shift) & 0xFF);
}

} // namespace kiv::test

// A slide frame through the drawer at 1920 x 1080 offscreen: 20 tiled pictures (600 x 400, so six tiles
// each) at various opacities and scales, and one blurred group. Pacing is off and each frame ends with a
// read-back of one pixel, so the time covers llvmpipe's work.

#include "ScreenDrawer.h"
#include "GLContext.h"
#include "GLDeviceLayer.h"

#include <benchmark/benchmark.h>

#include <vector>

namespace kiv {
namespace {

class NoSleepClock final : public TDevClock {
public:
  uint32_t NowMs() override { return now++; }
  void SleepMs(uint32_t) override {}
  uint32_t now = 0;
};

class TBenchItem final : public TDrawItem {
public:
  TBenchItem(std::function<void(TDeviceDrawer&)> body, float blurValue)
      : draw(std::move(body)), blur(blurValue) {}
  void Draw(TDeviceDrawer& drawer) override { draw(drawer); }
  float GetBlur() const override { return blur; }
  std::function<void(TDeviceDrawer&)> draw;
  float blur;
};

void DrawerFrame(benchmark::State& state) {
  if (!HeadlessGLAvailable()) {
    state.SkipWithError("no headless EGL display");
    return;
  }
  constexpr int kWidth = 1920, kHeight = 1080, kPictures = 20;
  const bool withBlur = state.range(0) != 0;
  NoSleepClock clock;
  SetDevClock(&clock);
  SetMainThread(std::this_thread::get_id());
  RegisterGLEngine();
  {
    auto device = MakeOwned<TDrawDevice>();
    device->bounds = {0, 0, kWidth, kHeight};
    auto drawer = MakeOwned<T3DDrawer>(MakeOwned<T3DScreen>());
    drawer->OnNotify = [](TDeviceDrawer&, TDrawItem*, int) { return true; };
    drawer->mode = 1;
    drawer->Init(device.get());
    std::vector<TRef<TMemoryImage>> pictures;
    for (int i = 0; i < kPictures; ++i) {
      TDevBitmap bitmap(600, 400, TPixelFormat::pf32bit);
      for (int y = 0; y < 400; ++y)
        for (int x = 0; x < 600; ++x)
          bitmap.SetPixel32(x, y,
                            0xFF000000u | uint32_t((x + i * 13) & 0xFF) << 16 | uint32_t(y & 0xFF) << 8 |
                                uint32_t(i * 12));
      pictures.push_back(TRef<TMemoryImage>::Make(std::move(bitmap)));
    }
    auto drawPicture = [&](TDeviceDrawer& d, int i) {
      TImageParams params;
      params.opacity = 40.f + 3 * float(i);
      params.antialiased = i % 2 == 0;
      const float s = 0.6f + 0.05f * float(i % 5);
      d.DrawImage(*pictures[size_t(i)],
                  {float((i * 97) % (kWidth - 400)), float((i * 61) % (kHeight - 300)), 0}, params, {s, 0, 0},
                  {0, s, 0}, {0, 0});
    };
    TBenchItem blurred([&](TDeviceDrawer& d) { drawPicture(d, 0); }, withBlur ? 20.f : 0.f);
    TBenchItem root(
        [&](TDeviceDrawer& d) {
          d.Clear(0xFF000000, true);
          d.DrawItem(blurred);
          for (int i = 1; i < kPictures; ++i)
            drawPicture(d, i);
        },
        0);
    auto syncOnePixel = [&] {
      T3DSurface* back = nullptr;
      if (drawer->Screen().renderer && drawer->Screen().renderer->GetBackBuffer(back) && back) {
        const TRect one{0, 0, 1, 1};
        if (TDevBitmap* bits = back->Lock(&one, true)) back->Unlock(bits);
      }
    };
    drawer->DrawItem(root); // uploads every tile once
    for (auto _ : state) {
      drawer->DrawItem(root);
      syncOnePixel();
    }
    for (auto& picture : pictures)
      drawer->ReleaseImage(*picture);
  }
  FreeEngine();
  SetDevClock(nullptr);
}
BENCHMARK(DrawerFrame)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace
} // namespace kiv

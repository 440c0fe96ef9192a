// One transition frame offscreen for each family, at 1920 x 1080 and at 1280 x 720: two slides, each a
// full-frame picture under four smaller ones, drawn by the drawer through the installed transition filters
// half way through the transition. Pacing is off and each frame ends with a read-back of one pixel, so the
// time covers llvmpipe's work (rendering the incoming slide into its texture included).

#include "DrawerTransitions.h"
#include "GLContext.h"
#include "GLDeviceLayer.h"
#include "ScreenDrawer.h"

#include <benchmark/benchmark.h>

#include <functional>
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
  explicit TBenchItem(std::function<void(TDeviceDrawer&)> body) : draw(std::move(body)) {}
  void Draw(TDeviceDrawer& drawer) override { draw(drawer); }
  std::function<void(TDeviceDrawer&)> draw;
};

// Class and kind of each family: mosaic, fade, circle, rhomb, square, lines, diagonals, wipe, corner, push,
// slide, clock, broom, roll (flat and in depth), diagonal roll, flip, swap; then the incoming slide alone,
// as a cut draws it, for comparison.
constexpr int kFamilies[][2] = {{1, 1},  {2, 1},  {4, 2},  {5, 2},  {6, 1}, {7, 3},  {8, 2},
                                {9, 2},  {10, 1}, {12, 1}, {13, 4}, {3, 1}, {11, 2}, {14, 1},
                                {14, 2}, {15, 1}, {16, 1}, {17, 1}, {0, 0}};
constexpr const char* kNames[] = {"mosaic", "fade",     "circle", "rhomb", "square", "lines", "diagonals",
                                  "wipe",   "corner",   "push",   "slide", "clock",  "broom", "roll",
                                  "roll3d", "diagroll", "flip",   "swap",  "cut"};

TRef<TMemoryImage> Picture(int width, int height, uint32_t seed) {
  TDevBitmap bitmap(width, height, TPixelFormat::pf32bit);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x)
      bitmap.SetPixel32(
          x, y, 0xFF000000u | uint32_t((x + seed * 40) & 0xFF) << 16 | uint32_t(y & 0xFF) << 8 | seed * 50);
  return TRef<TMemoryImage>::Make(std::move(bitmap));
}

void TransitionFrame(benchmark::State& state) {
  if (!HeadlessGLAvailable()) {
    state.SkipWithError("no headless EGL display");
    return;
  }
  const int family = static_cast<int>(state.range(0));
  const int width = static_cast<int>(state.range(1)), height = width * 9 / 16;
  state.SetLabel(kNames[family]);
  NoSleepClock clock;
  SetDevClock(&clock);
  SetMainThread(std::this_thread::get_id());
  RegisterGLEngine();
  {
    auto device = MakeOwned<TDrawDevice>();
    device->bounds = {0, 0, width, height};
    auto drawer = MakeOwned<T3DDrawer>(MakeOwned<T3DScreen>());
    drawer->OnNotify = [](TDeviceDrawer&, TDrawItem*, int) { return true; };
    drawer->mode = 1;
    drawer->Init(device.get());
    InstallTransitions(*drawer);
    std::vector<TRef<TMemoryImage>> pictures;
    for (uint32_t i = 0; i < 2; ++i)
      pictures.push_back(Picture(1024, 576, i));
    for (uint32_t i = 0; i < 4; ++i)
      pictures.push_back(Picture(400, 300, i + 2));
    auto slide = [&](int background) {
      return [&, background](TDeviceDrawer& d) {
        TImageParams params;
        const float s = float(width) / 1024;
        d.DrawImage(*pictures[size_t(background)], {0, 0, 0}, params, {s, 0, 0}, {0, s, 0}, {0, 0});
        for (int i = 0; i < 4; ++i) {
          params.antialiased = true;
          d.DrawImage(*pictures[size_t(2 + i)],
                      {float(60 + i * width / 5), float(80 + (i % 2) * height / 3), 0}, params,
                      {0.9f, 0.1f * float(background), 0}, {-0.1f * float(background), 0.9f, 0}, {0, 0});
        }
      };
    };
    TBenchItem first(slide(0)), second(slide(1));
    TTransitionParams params;
    params.effectClass = kFamilies[family][0];
    params.effectKind = kFamilies[family][1];
    params.duration = 1000;
    params.progress = 500;
    params.effectParams.smoothLine = 0.05f;
    params.effectParams.mosaicDX = 16;
    params.effectParams.mosaicDY = 9;
    params.effectParams.mosaicSC = 50;
    // A curl a tenth of the frame wide; the second roll comes towards the eye.
    params.effectParams.rollDiameter = 0.1f;
    params.effectParams.roll3D = family == 14;
    TBenchItem root([&](TDeviceDrawer& d) {
      d.Clear(0xFF000000, true);
      d.DrawTransition(first, second, &params);
    });
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
    params.filter.reset();
    for (auto& picture : pictures)
      drawer->ReleaseImage(*picture);
  }
  FreeEngine();
  SetDevClock(nullptr);
}

void Families(benchmark::internal::Benchmark* bench) {
  for (const int width : {1920, 1280})
    for (int family = 0; family < static_cast<int>(std::size(kFamilies)); ++family)
      bench->Args({family, width});
}
BENCHMARK(TransitionFrame)->Apply(Families)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace
} // namespace kiv

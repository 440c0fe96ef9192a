// Drawing throughput of the GL device layer: 10,000 textured quads a frame at 1920 x 1080 offscreen, in
// batches, as the screen layer sends them. Pacing is off (a clock that never sleeps) and each frame ends
// with a read-back of one pixel, so the time covers the GPU's (llvmpipe's) work.

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

void TexturedQuads(benchmark::State& state) {
  if (!HeadlessGLAvailable()) {
    state.SkipWithError("no headless EGL display");
    return;
  }
  constexpr int kWidth = 1920, kHeight = 1080, kQuads = 10000;
  const int quadsPerBatch = static_cast<int>(state.range(0));
  NoSleepClock clock;
  SetDevClock(&clock);
  SetMainThread(std::this_thread::get_id());
  {
    auto engine = TRef<T3DEngineGL>::Make(TGLEngineOptions{});
    auto device = MakeOwned<TDrawDevice>();
    device->bounds = {0, 0, kWidth, kHeight};
    TDisplayMode mode;
    engine->GetDisplayMode(0, mode);
    auto renderer = engine->CreateRenderer(device.get(), mode);
    auto texture = renderer->CreateTexture(kTextureKindARGB, 64, 64, false);
    {
      TDevBitmap* bits = texture->GetSurface(0)->Lock(nullptr, false);
      for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 64; ++x)
          bits->SetPixel32(x, y, 0xC0000000u | static_cast<uint32_t>(x * 4 << 16 | y * 4));
      texture->GetSurface(0)->Unlock(bits);
    }
    texture->SetFilter(kFilterLinear);
    texture->SetAddressMode(kAddressClamp, kAddressClamp);
    auto list = renderer->CreateVertexList(quadsPerBatch * 6, kVertexDiffuse, 2);

    // Screen pixels to clip space.
    T3DMatrix world = T3DMatrix::Identity();
    world.m[0][0] = 2.0f / kWidth;
    world.m[1][1] = -2.0f / kHeight;
    world.m[3][0] = -1;
    world.m[3][1] = 1;

    std::vector<T3DVertex> batch(static_cast<size_t>(quadsPerBatch) * 6);
    T3DTexture* layers[] = {texture.get()};
    TDevBitmap pixel;
    for (auto _ : state) {
      renderer->BeginScene();
      renderer->SetCullNone(true);
      renderer->SetTransform(kTransformWorld, world);
      renderer->Clear({}, kClearTarget, 0xFF000000, 1);
      for (int first = 0; first < kQuads; first += quadsPerBatch) {
        for (int i = 0; i < quadsPerBatch; ++i) {
          const int q = first + i;
          const float x = static_cast<float>((q * 37) % (kWidth - 64)),
                      y = static_cast<float>((q * 53) % (kHeight - 64));
          auto corner = [&](float dx, float dy) {
            T3DVertex v;
            v.x = x + dx;
            v.y = y + dy;
            v.color = 0xFFFFFFFF;
            v.tex[0][0] = dx / 64;
            v.tex[0][1] = dy / 64;
            return v;
          };
          T3DVertex* out = &batch[static_cast<size_t>(i) * 6];
          out[0] = corner(0, 64);
          out[1] = corner(0, 0);
          out[2] = corner(64, 64);
          out[3] = out[2];
          out[4] = out[1];
          out[5] = corner(64, 0);
        }
        list->Fill(0, batch);
        list->SetPrimitive(0, quadsPerBatch * 2, 3);
        renderer->DrawVertexList(layers, kDrawTextured | kDrawModulateAlpha, list.get());
      }
      renderer->EndScene();
      renderer->Present({}, {});
      const TRect one{0, 0, 1, 1};
      if (TDevBitmap* bits = renderer->GetRenderTarget()->Lock(&one, true))
        renderer->GetRenderTarget()->Unlock(bits);
    }
    state.counters["fps"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
    state.counters["quads"] = kQuads;
  }
  SetDevClock(nullptr);
}
// 16 quads: the screen layer's 32-triangle batch; 512 quads: its 1024-triangle vertex list.
BENCHMARK(TexturedQuads)->Arg(16)->Arg(512)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace
} // namespace kiv

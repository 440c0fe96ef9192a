// Frames of the demo show (build/demo/demo.KvShow, packed by the demo_show target) drawn offscreen at
// 1280 x 720 through the frame renderer, with the read-back of every frame:
// - ShowFramesSpread: 100 frames spread evenly over one pass of the show, so the slides are built, their
//   pictures decoded and uploaded as the time reaches them;
// - ShowFrameSteady: 100 frames of one slide half-way through its animation: drawing alone.
// Counters: fps (frames per second of wall time) and peak_rss_mb (the process's peak resident size while
// the benchmark ran).
// KIV_DEMO_SHOW names another show.

#include "CacheImageDecoder.h"
#include "GLContext.h"
#include "OffscreenFrame.h"
#include "OpenedShow.h"
#include "PeakMemory.h"
#include "ShowTimeline.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>

namespace kiv {
namespace {

namespace fs = std::filesystem;

constexpr TSize kSize{1280, 720};
constexpr int kFrames = 100;

std::string DemoShowPath() {
  if (const char* named = std::getenv("KIV_DEMO_SHOW")) return named;
  // kivbench lives in build/bench, the packed demo in build/demo.
  std::error_code error;
  const fs::path program = fs::read_symlink("/proc/self/exe", error);
  return error ? std::string() : (program.parent_path().parent_path() / "demo" / "demo.KvShow").string();
}

// Draws kFrames frames per iteration at the times timeOf(frame, duration) gives.
template <class TTimeOf> void RenderFrames(benchmark::State& state, TTimeOf timeOf) {
  bench::ResetOwnPeakResident();
  InstallImageDecoder();
  std::string whyNot;
  if (!HeadlessGLAvailable(&whyNot)) {
    state.SkipWithError(("no headless EGL display: " + whyNot).c_str());
    return;
  }
  const std::string path = DemoShowPath();
  std::string message;
  std::unique_ptr<TKivShowLocator> locator = fs::exists(path) ? OpenPackedShow(path, message) : nullptr;
  if (!locator) {
    state.SkipWithError(("no demo show at " + path + " (build the demo_show target)").c_str());
    return;
  }
  TKivSource& source = Options(*locator);
  std::unique_ptr<TFrameRenderer> renderer = TFrameRenderer::Create(source, kSize, &whyNot);
  if (!renderer) {
    state.SkipWithError(whyNot.c_str());
    return;
  }
  const double duration = source.TotalDuration();
  int64_t frames = 0;
  std::chrono::duration<double> spent{};
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < kFrames; ++i) {
      std::optional<TDevBitmap> frame = renderer->Render(timeOf(i, duration));
      if (!frame) {
        state.SkipWithError("the drawer could not draw a frame");
        return;
      }
      benchmark::DoNotOptimize(frame->Pixel32(kSize.width / 2, kSize.height / 2));
    }
    spent += std::chrono::steady_clock::now() - start;
    frames += kFrames;
  }
  state.counters["fps"] = spent.count() > 0 ? static_cast<double>(frames) / spent.count() : 0;
  state.counters["peak_rss_mb"] = bench::OwnPeakResidentMb();
  renderer.reset();
}

void ShowFramesSpread(benchmark::State& state) {
  RenderFrames(state, [](int i, double duration) { return duration * i / kFrames; });
}

void ShowFrameSteady(benchmark::State& state) {
  // Slide 2 of the demo, its picture on the way in.
  RenderFrames(state, [](int, double) { return 4750.0; });
}

BENCHMARK(ShowFramesSpread)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(ShowFrameSteady)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace
} // namespace kiv

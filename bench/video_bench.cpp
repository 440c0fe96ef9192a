// A 720p H.264 clip (25 fps) on a 1280 x 720 slide over 10 s of show time, drawn as playback draws it:
// the show time is the wall clock since the start, the drawer never waits for the decoder (it shows the
// nearest frame at hand), and the clip's worker decodes on its own thread.
// - VideoPlayback/paced: one frame every 1/60 s, as the engine paces; shows whether playback keeps up.
// - VideoPlayback/unpaced: frames back to back; the drawer competes with the decoder for the processor.
// Counters: fps (frames drawn per second of wall time), late (frames whose picture was more than one clip
// frame from the wanted one), inexact (frames not showing exactly the wanted clip frame), decoded (frames
// the worker decoded), draw_ms (mean time of one frame's drawing, read-back of a pixel included).

#include "ContentObjects.h"
#include "GLContext.h"
#include "GLDeviceLayer.h"
#include "IniDocument.h"
#include "ScreenDrawer.h"
#include "ShowFileAccess.h"
#include "Slide.h"
#include "Streams.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

namespace kiv {
namespace {

constexpr int kWidth = 1280, kHeight = 720;
constexpr double kShowMs = 10000;

class NoSleepClock final : public TDevClock {
public:
  uint32_t NowMs() override { return now++; }
  void SleepMs(uint32_t) override {}
  uint32_t now = 0;
};

void VideoPlayback(benchmark::State& state) {
  if (!HeadlessGLAvailable()) {
    state.SkipWithError("no headless EGL display");
    return;
  }
  const bool paced = state.range(0) != 0;
  RegisterContentKinds();
  NoSleepClock clock;
  SetDevClock(&clock);
  SetMainThread(std::this_thread::get_id());
  RegisterGLEngine();
  {
    const std::string folder = std::string(KIV_TEST_MEDIA) + "/generated/";
    auto source = TRef<TFileSource>::Adopt(new TMappedFileSource(folder));
    auto accessor = TRef<TFileAccessor>::Make(source, folder);
    TSlideHostCallbacks callbacks;
    callbacks.frameRect = [] { return TRect{0, 0, kWidth, kHeight}; };
    callbacks.camera = [] { return T3DVector{kWidth / 2.0f, kHeight / 2.0f, -float(kHeight)}; };
    callbacks.findSection = [](std::u16string_view) { return nullptr; };
    auto host = TRef<TKivSlideHost>::Make(accessor.get(), std::move(callbacks), u"Buttons", false);
    const std::string text =
        "\xEF\xBB\xBF[s]\nobject v: Video\n  FileName=clip_h264_720p.mp4\n  Duration=10000\n"
        "  AntialiasedBorder=0\nend\n";
    TMemoryStream stream(std::vector<uint8_t>(text.begin(), text.end()));
    TIniFile document;
    document.LoadFromStream(stream);

    auto device = MakeOwned<TDrawDevice>();
    device->bounds = {0, 0, kWidth, kHeight};
    auto drawer = MakeOwned<T3DDrawer>(MakeOwned<T3DScreen>());
    drawer->OnNotify = [](TDeviceDrawer&, TDrawItem*, int) { return true; };
    drawer->mode = 0; // playback: frames are presented, never waited for
    drawer->Init(device.get());
    auto syncOnePixel = [&] {
      T3DSurface* back = nullptr;
      if (drawer->Screen().renderer && drawer->Screen().renderer->GetBackBuffer(back) && back) {
        const TRect one{0, 0, 1, 1};
        if (TDevBitmap* bits = back->Lock(&one, true)) back->Unlock(bits);
      }
    };

    for (auto _ : state) {
      auto slide = MakeOwned<TKivSlide>(host, 0);
      slide->SetSize(kWidth, kHeight);
      slide->SetBaseOrigin({kWidth / 2.0f, kHeight / 2.0f, 0});
      slide->SetTimes(0, kShowMs, 0, 0);
      slide->LoadChildren(*document.FindSection(u"s"), false);
      auto* video = dynamic_cast<TKivVideo*>(&slide->Child(0));
      slide->SetTime(true, 0);
      slide->Prepare(*drawer);
      if (!video || !video->ClipWrapper() || !video->ClipWrapper()->Extractor()) {
        state.SkipWithError("the clip cannot be opened (libkivffmpeg.so not built?)");
        break;
      }
      TKivVideoExtractor& extractor = *video->ClipWrapper()->Extractor();
      const int64_t decodedBefore = extractor.DecodeCount();
      int frames = 0, late = 0, inexact = 0;
      double drawing = 0;
      const auto start = std::chrono::steady_clock::now();
      for (;;) {
        const auto now = std::chrono::steady_clock::now();
        const double showMs = std::chrono::duration<double, std::milli>(now - start).count();
        if (showMs >= kShowMs) break;
        slide->SetTime(true, showMs);
        slide->UpdateGeometry(true);
        drawer->DrawItem(*slide);
        syncOnePixel();
        const auto drawn = std::chrono::steady_clock::now();
        drawing += std::chrono::duration<double, std::milli>(drawn - now).count();
        ++frames;
        const int64_t off = video->ShownFrame() - video->WantedFrame();
        inexact += off != 0;
        late += off > 1 || off < -1;
        if (paced)
          std::this_thread::sleep_until(start + std::chrono::microseconds(int64_t(frames * 1e6 / 60)));
      }
      const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
      state.counters["fps"] = frames / wall;
      state.counters["late"] = late;
      state.counters["inexact"] = inexact;
      state.counters["decoded"] = double(extractor.DecodeCount() - decodedBefore);
      state.counters["draw_ms"] = frames ? drawing / frames : 0;
      slide->FrameDone(*drawer);
      slide.reset();
    }
    drawer->Close();
  }
  FreeEngine();
  SetDevClock(nullptr);
}
BENCHMARK(VideoPlayback)
    ->ArgName("paced")
    ->Arg(1)
    ->Arg(0)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

} // namespace
} // namespace kiv

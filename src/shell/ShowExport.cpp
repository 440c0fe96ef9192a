#include "ShowExport.h"

#include "ContentObjects.h"
#include "FFMpegConverter.h"
#include "GLContext.h"
#include "GLDeviceLayer.h"
#include "Log.h"
#include "MixerWaveOutDevice.h"
#include "OffscreenFrame.h"
#include "OpenedShow.h"
#include "QueuedApplication.h"
#include "ShowViewer.h"
#include "ShowMusicPlayer.h"
#include "Utf8Conversion.h"
#include "VirtualHost.h"
#include "offline/OfflineSoundOutput.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <unistd.h>

namespace kiv {

namespace {

constexpr double kSoundFramesPerMs = TMediaEncoder::kSoundRate / 1000.0;
// Virtual time a show may spend loading, beyond its own length, before the export gives up on it.
constexpr int64_t kLoadAllowanceMs = 120000;

// The window of an export: an offscreen device of the export's size that never moves.
class TOffscreenWindow final : public TViewerWindow {
public:
  explicit TOffscreenWindow(TSize size) : size_(size) {}
  TOwned<TSysDevice> CreateDevice() override {
    auto device = MakeOwned<TSysDevice>();
    device->bounds = {0, 0, size_.width, size_.height};
    return device;
  }
  std::vector<TRect> Monitors() override { return {{0, 0, size_.width, size_.height}}; }
  TSize FrameExtra(int) override { return {}; }
  void Place(const TWindowPlacement&, TDrawDevice&) override {}
  void FirstFrame() override {}

private:
  TSize size_;
};

class TProgressBar {
public:
  explicit TProgressBar(bool shown) : shown_(shown && isatty(STDERR_FILENO)) {}
  ~TProgressBar() { Done(); }

  void Update(double fraction, double showMs, int64_t frames) {
    if (!shown_) return;
    const auto now = std::chrono::steady_clock::now();
    if (now - last_ < std::chrono::milliseconds(100) && fraction < 1) return;
    last_ = now;
    const double seconds = std::chrono::duration<double>(now - start_).count();
    const int width = 30;
    const int filled = static_cast<int>(fraction * width);
    std::string bar(static_cast<size_t>(filled), '#');
    bar.resize(width, ' ');
    std::fprintf(stderr, "\r[%s] %3d%%  %8.0f ms  %6.1f fps", bar.c_str(), static_cast<int>(fraction * 100),
                 showMs, seconds > 0 ? static_cast<double>(frames) / seconds : 0.0);
    std::fflush(stderr);
    drawn_ = true;
  }
  void Done() {
    if (!drawn_) return;
    std::fprintf(stderr, "\r%60s\r", "");
    std::fflush(stderr);
    drawn_ = false;
  }

private:
  bool shown_;
  bool drawn_ = false;
  std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
  std::chrono::steady_clock::time_point last_{};
};

int Fail(const std::string& text) {
  std::fprintf(stderr, "kivviewer: %s\n", text.c_str());
  return 1;
}

// A name beside the output for the file being written.
std::string PartName(const std::string& output) {
  const std::filesystem::path path(output);
  return (path.parent_path() / ("." + path.filename().string() + "." + std::to_string(getpid()) + ".part"))
      .string();
}

} // namespace

int ExportShow(TKivShowLocator& locator, const TExportOptions& options) {
  TKivSource& show = Options(locator);
  if (show.SlideCount() <= 0) return Fail("No Slides in Presentation");
  if (!locator.Project()) return Fail("the show has no project");
  const TSize size = options.size.width > 0 ? options.size : DesignFrameSize(show);
  const bool video = options.container != TExportContainer::Wav;
  double to = options.to >= 0 ? options.to : show.TotalDuration();
  // A show that does not repeat stops at its end; there is nothing to export behind it.
  if (show.RepeatMode() != TRepeatMode::Repeat) to = std::min(to, show.TotalDuration());
  if (to <= options.from)
    return Fail("nothing to export between " + LogFloatText(options.from) + " and " + LogFloatText(to) +
                " ms");
  const double span = to - options.from;
  const double period = 1000.0 / options.fps;
  const int64_t frameCount =
      video ? std::max<int64_t>(1, static_cast<int64_t>(std::ceil(span / period - 1e-9))) : 0;
  const int64_t soundWanted = std::llround(span * kSoundFramesPerMs);

  std::string whyNot;
  if (video && !HeadlessGLAvailable(&whyNot))
    return Fail("cannot export pictures without a headless GL display: " + whyNot);

  const std::string part = PartName(options.output);
  std::unique_ptr<TMediaEncoder> encoder =
      TMediaEncoder::Open(part, options.container, size, options.fps, whyNot);
  if (!encoder) {
    std::filesystem::remove(part);
    return Fail(whyNot);
  }

  int result = 0;
  int64_t framesWritten = 0;
  {
    std::vector<int16_t> sound; // kept, not yet encoded
    int64_t soundKept = 0;
    TVirtualHost host;
    TOfflineSoundOutput output({441, true});
    output.AttachTo(host);
    // The show's music opens its device on the offline output; the video library decodes what our own
    // decoders do not.
    TConverterFactory converters;
    RegisterVideoLibraryDecoders(converters);
    TQueuedApplication app;
    std::unique_ptr<TMainThreadClaim> mainThread;
    std::unique_ptr<TEngineShare> engineShare;
    if (video) {
      RegisterContentKinds();
      if (!EngineFactoryRegistered()) RegisterGLEngine();
      mainThread = std::make_unique<TMainThreadClaim>();
      engineShare = std::make_unique<TEngineShare>();
    }
    TPlaybackContext context;
    context.host = &host;
    context.application = &app;
    context.music = MusicPlayerFactory(MixerWaveOutDeviceFactory(host, output.Factory()), converters);
    context.desktop = size;
    context.drawOnDemand = true;
    context.exactClock = true;
    context.stillPanel = true;
    context.barriersHold = false;
    context.yieldLoads = false;
    // An export shows the transitions that -render draws for the same times, and the same ones every run.
    context.repeatableDraws = true;
    context.drawerMode = 1;
    TOffscreenWindow window(size);
    bool ended = false;
    {
      TKivShowViewer viewer(context, window);
      viewer.OnPosition = [&ended](TKivShowViewer&, int32_t, bool end) { ended = ended || end; };
      viewer.OnAction = [](TKivShowViewer&, const TKivActionInfo& action) {
        // Programs, links and other shows are not run from an export.
        LogLine("export: action " + std::to_string(static_cast<int>(action.Kind)) + " " +
                Utf16ToUtf8(action.Text) + " not run");
      };
      viewer.SetActionsEnabled(true);
      viewer.Open(locator.AccessorRef(), *locator.Project(), options.from);
      viewer.SetPaused(false);
      TKivEngine& engine = *viewer.Engine();

      // The sound of every millisecond in which the show time moved, in order.
      const int hook = host.AddTickHook([&](int64_t) {
        std::vector<int16_t> tick = output.TakeRecorded();
        if (!engine.IsActive() || soundKept >= soundWanted) return;
        const int64_t take =
            std::min<int64_t>(static_cast<int64_t>(tick.size() / 2), soundWanted - soundKept);
        sound.insert(sound.end(), tick.begin(), tick.begin() + 2 * take);
        soundKept += take;
      });

      TProgressBar progress(options.progress);
      bool started = false;
      std::unique_ptr<TDevBitmap> lastFrame;
      const int64_t budget = static_cast<int64_t>(span) + kLoadAllowanceMs;
      while (result == 0 && (framesWritten < frameCount || soundKept < soundWanted)) {
        if (host.Clock().NowMs() > budget) {
          result = Fail("the show stopped playing at " + LogFloatText(engine.CurrentTime()) + " ms");
          break;
        }
        host.Advance(1);
        app.ProcessEvents();
        if (!started) {
          if (!engine.IsActive()) continue;
          started = true;
        }
        const double clock =
            engine.Loader() ? engine.Loader()->ShowClock().CurrentTime() : engine.CurrentTime();
        while (framesWritten < frameCount &&
               clock >= options.from + static_cast<double>(framesWritten) * period) {
          // A still stretch of the show is drawn once and its frame repeated.
          bool unchanged = false;
          std::optional<TDevBitmap> frame = engine.DrawFrameNow(lastFrame ? &unchanged : nullptr);
          if (!unchanged) {
            if (!frame) {
              result = Fail("the drawer could not draw the frame at " + LogFloatText(clock) + " ms");
              break;
            }
            lastFrame = std::make_unique<TDevBitmap>(std::move(*frame));
          }
          if (!encoder->AddFrame(*lastFrame, whyNot)) {
            result = Fail(whyNot);
            break;
          }
          ++framesWritten;
        }
        if (ended && !engine.IsActive() && soundKept < soundWanted) {
          // The show's own end: what is left of the sound is silence.
          sound.resize(sound.size() + static_cast<size_t>(2 * (soundWanted - soundKept)), 0);
          soundKept = soundWanted;
        }
        if (!sound.empty()) {
          if (!encoder->AddSound(sound, whyNot)) result = Fail(whyNot);
          sound.clear();
        }
        progress.Update(std::min(1.0, (clock - options.from) / span), clock, framesWritten);
      }
      progress.Done();
      host.RemoveTickHook(hook);
      viewer.Stop();
    }
  }
  if (result == 0 && !encoder->Finish(whyNot)) result = Fail(whyNot);
  encoder.reset();
  if (result == 0) {
    std::error_code error;
    std::filesystem::rename(part, options.output, error);
    if (error) result = Fail("cannot write \"" + options.output + "\": " + error.message());
  }
  if (result != 0) {
    std::filesystem::remove(part);
    return result;
  }
  const long long spanMs = std::llround(span);
  if (video)
    std::printf("exported: %s (%lld ms, %lld frames)\n", options.output.c_str(), spanMs,
                static_cast<long long>(framesWritten));
  else
    std::printf("exported: %s (%lld ms)\n", options.output.c_str(), spanMs);
  std::fflush(stdout);
  return 0;
}

} // namespace kiv

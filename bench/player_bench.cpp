// The player as a whole, on shows made at bench time (pictures generated with ffmpeg, packed with kivpack;
// nothing big is kept in the repository):
// - ExportDemo: `kivviewer -export` of the demo show to .mp4 at 1280 x 720, 30 fps: frames per second of
//   wall time and the exporting process's peak resident size.
// - EngineFrameCost: the engine drawing the demo show at 1280 x 720 on the headless GL (llvmpipe here), a
//   frame every 1000/60 ms of show time through one pass: median and 99th percentile of a frame's drawing
//   (read back, so that GL has finished it).
// - StartToFirstFrame: a packed show of 50 slides: the time from exec to a finished process (kivviewer
//   --version) plus the time from locating the show to the engine's first frame (target: 250 ms together).
// - PeakRss100Photos: a show of 100 slides of 12-megapixel photos played by the engine at 1920 x 1080 in
//   a process of its own (this program again, running PlayShowInProcess), a frame drawn and read back every
//   100 ms of show time: that process's peak resident size (target: 400 MB). The same show exported to .mp4
//   beside it, encoder included.
// - ExportBesideFfmpeg: 10 still pictures as a show of 3 s each with half-second fades, exported at
//   1280 x 720, 30 fps, beside ffmpeg's xfade slide show of the same pictures in the same run: frames per
//   second of both.
// - ExportShowSound: `kivviewer -export OUT.wav` of a 10-minute show (60 slides of 10 s) with a 3-minute
//   MP3 track repeating under it and a 5-second Ogg comment on every slide: times faster than real time and
//   the exporting process's peak resident size.
// KIV_DEMO_SHOW names another demo show.

#include "CacheImageDecoder.h"
#include "ContentObjects.h"
#include "GLContext.h"
#include "GLDeviceLayer.h"
#include "MixerWaveOutDevice.h"
#include "ShowMusicPlayer.h"
#include "OpenedShow.h"
#include "QueuedApplication.h"
#include "ShowViewer.h"
#include "ThreadHost.h"
#include "VirtualHost.h"
#include "null/NullSoundOutput.h"
#include "offline/OfflineSoundOutput.h"

#include "PeakMemory.h"
#include "TestEnvironment.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>

extern char** environ;

namespace kiv {
namespace {

namespace fs = std::filesystem;
using TClockPoint = std::chrono::steady_clock::time_point;

fs::path BuildDir() {
  std::error_code error;
  const fs::path program = fs::read_symlink("/proc/self/exe", error);
  return error ? fs::path() : program.parent_path().parent_path();
}

std::string DemoShowPath() {
  if (const char* named = std::getenv("KIV_DEMO_SHOW")) return named;
  return (BuildDir() / "demo" / "demo.KvShow").string();
}
std::string Viewer() {
  return (BuildDir() / "src" / "shell" / "kivviewer").string();
}
std::string Packer() {
  return (BuildDir() / "tools" / "kivpack" / "kivpack").string();
}

double Seconds(TClockPoint start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

struct TChildRun {
  int status = -1;
  double seconds = 0;
  double peakRssMb = 0;
};

// Runs a program (no shell) with its output thrown away: exit status, wall time and peak resident size.
TChildRun RunMeasured(std::vector<std::string> argv) {
  TChildRun run;
  std::vector<char*> args;
  for (std::string& a : argv)
    args.push_back(a.data());
  args.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  const TClockPoint start = std::chrono::steady_clock::now();
  pid_t pid = -1;
  const int spawned = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) return run;
  // The high-water mark is read while the child runs: once it has ended its memory map is gone.
  int status = 0;
  while (waitpid(pid, &status, WNOHANG) == 0) {
    run.peakRssMb = std::max(run.peakRssMb, bench::PeakResidentMb(pid));
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  run.seconds = Seconds(start);
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

bool Shell(const std::string& command) {
  int code = -1;
  kivtest::CommandOutput(command + " >/dev/null 2>&1", code);
  return code == 0;
}

// A show of one picture per slide (pictures\NNN.jpg), each slide slideMs long with its photo slowly
// zooming (or, with fadeMs, still pictures that fade into one another), packed into show.KvShow beside the
// project folder.
std::string PackPictureShow(const fs::path& folder, int slides, int slideMs, int width, int height, int fadeMs = 0) {
  std::string text = "\xEF\xBB\xBF[main]\r\nKivVersion=bench\r\nopt_exefn=bench.exe\r\nopt_scr_full=0\r\n"
                     "opt_scr_width=" +
                     std::to_string(width) + "\r\nopt_scr_height=" + std::to_string(height) +
                     "\r\nopt_slidescount=" + std::to_string(slides) + "\r\n";
  if (fadeMs > 0)
    text += "opt_fx_enable=1\r\nopt_fx_time=" + std::to_string(fadeMs) + "\r\nopt_fx_eff1=1\r\n";
  for (int i = 1; i <= slides; ++i)
    text += "opt_synchpos" + std::to_string(i) + "=" + std::to_string(i * slideMs) + "\r\n";
  for (int i = 1; i <= slides; ++i) {
    char name[16];
    std::snprintf(name, sizeof name, "%03d.jpg", i);
    if (fadeMs > 0) {
      text += "[Slide" + std::to_string(i) + "]\r\n" +
              (i > 1 ? "UsePersonal=1\r\nPers_Effect=1\r\nEffect_Class=2\r\nEffect_Type=1\r\nEffectTime=" +
                           std::to_string(fadeMs) + "\r\n"
                     : std::string()) +
              "object Photo: Image\r\n  ImageName=pictures\\" + name + "\r\nend\r\n";
      continue;
    }
    text += "[Slide" + std::to_string(i) + "]\r\nobject Photo: Image\r\n  ImageName=pictures\\" + name +
            "\r\n  object : KeyPoint\r\n    Time=0\r\n    ScaleX=100\r\n    ScaleY=100\r\n  end\r\n"
            "  object : KeyPoint\r\n    Time=" +
            std::to_string(slideMs) + "\r\n    ScaleX=110\r\n    ScaleY=110\r\n  end\r\nend\r\n";
  }
  std::ofstream(folder / "Project.kiv", std::ios::binary) << text;
  const std::string show = (folder.parent_path() / "show.KvShow").string();
  if (!Shell("'" + Packer() + "' create '" + folder.string() + "' -o '" + show + "'")) return {};
  return show;
}

// count distinct pictures (frames of ffmpeg's test pattern) of the size into folder/pictures/001.jpg ...
bool MakePictures(const fs::path& folder, int count, int width, int height) {
  fs::create_directories(folder / "pictures");
  return Shell("ffmpeg -v error -y -f lavfi -i testsrc2=size=" + std::to_string(width) + "x" +
               std::to_string(height) + ":rate=1 -frames:v " + std::to_string(count) + " -q:v 3 '" +
               (folder / "pictures" / "%03d.jpg").string() + "'");
}

bool Prerequisites(benchmark::State& state, bool needFfmpeg) {
  std::string whyNot;
  if (!HeadlessGLAvailable(&whyNot)) {
    state.SkipWithError(("no headless EGL display: " + whyNot).c_str());
    return false;
  }
  if (!fs::exists(Viewer()) || !fs::exists(Packer())) {
    state.SkipWithError("build kivviewer and kivpack first");
    return false;
  }
  if (needFfmpeg && !Shell("command -v ffmpeg")) {
    state.SkipWithError("ffmpeg is needed to make the pictures");
    return false;
  }
  return true;
}

void ExportDemo(benchmark::State& state) {
  if (!Prerequisites(state, false)) return;
  if (!fs::exists(DemoShowPath())) {
    state.SkipWithError("no demo show (build the demo_show target)");
    return;
  }
  const fs::path dir = kivtest::FreshTempDir("bench_export_demo");
  TChildRun run;
  for (auto _ : state)
    run = RunMeasured({Viewer(), "-export", (dir / "demo.mp4").string(), "-size", "1280x720", "-fps", "30",
                       DemoShowPath()});
  if (run.status != 0) {
    state.SkipWithError("the export failed");
    return;
  }
  // One pass of the demo: 16 s at 30 fps.
  state.counters["fps"] = 480 / run.seconds;
  state.counters["seconds"] = run.seconds;
  state.counters["peak_rss_mb"] = run.peakRssMb;
}
BENCHMARK(ExportDemo)->Iterations(1)->Unit(benchmark::kSecond);

// A window that is an offscreen device of a fixed size.
class TBenchWindow final : public TViewerWindow {
public:
  explicit TBenchWindow(TSize size) : size_(size) {}
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

void EngineFrameCost(benchmark::State& state) {
  if (!Prerequisites(state, false)) return;
  InstallImageDecoder();
  RegisterContentKinds();
  std::string message;
  std::unique_ptr<TKivShowLocator> locator = OpenPackedShow(DemoShowPath(), message);
  if (!locator || !locator->Project()) {
    state.SkipWithError("no demo show (build the demo_show target)");
    return;
  }
  std::vector<double> frameMs;
  for (auto _ : state) {
    TVirtualHost host;
    TOfflineSoundOutput output;
    output.AttachTo(host);
    TQueuedApplication app;
    if (!EngineFactoryRegistered()) RegisterGLEngine();
    TMainThreadClaim mainThread;
    TEngineShare share;
    TPlaybackContext context;
    context.host = &host;
    context.application = &app;
    context.music = MusicPlayerFactory(MixerWaveOutDeviceFactory(host, output.Factory()));
    context.desktop = {1280, 720};
    context.drawOnDemand = true;
    context.drawerMode = 1;
    TBenchWindow window({1280, 720});
    TKivShowViewer viewer(context, window);
    viewer.Open(locator->AccessorRef(), *locator->Project(), 0);
    viewer.SetPaused(false);
    TKivEngine& engine = *viewer.Engine();
    while (!engine.IsActive() && host.Clock().NowMs() < 10000)
      host.Advance(1);
    const double length = engine.ShowLength();
    for (int frame = 0; frame * 1000.0 / 60 < length; ++frame) {
      while (engine.Loader()->ShowClock().CurrentTime() < frame * 1000.0 / 60)
        host.Advance(1);
      // Read back, so that the time includes the drawing itself and not only the queueing of GL commands.
      const TClockPoint start = std::chrono::steady_clock::now();
      benchmark::DoNotOptimize(engine.DrawFrameNow());
      frameMs.push_back(Seconds(start) * 1000);
    }
    viewer.Stop();
  }
  if (frameMs.empty()) return;
  std::sort(frameMs.begin(), frameMs.end());
  state.counters["frames"] = static_cast<double>(frameMs.size());
  state.counters["median_ms"] = frameMs[frameMs.size() / 2];
  state.counters["p99_ms"] = frameMs[std::min(frameMs.size() - 1, frameMs.size() * 99 / 100)];
}
BENCHMARK(EngineFrameCost)->Iterations(1)->Unit(benchmark::kSecond);

void StartToFirstFrame(benchmark::State& state) {
  if (!Prerequisites(state, true)) return;
  InstallImageDecoder();
  RegisterContentKinds();
  const fs::path dir = kivtest::FreshTempDir("bench_first_frame");
  if (!MakePictures(dir / "show", 50, 1600, 1200)) {
    state.SkipWithError("ffmpeg could not make the pictures");
    return;
  }
  const std::string show = PackPictureShow(dir / "show", 50, 3000, 1280, 720);
  if (show.empty()) {
    state.SkipWithError("kivpack could not pack the show");
    return;
  }
  double execMs = 0, firstFrameMs = 0;
  for (auto _ : state) {
    execMs = RunMeasured({Viewer(), "--version"}).seconds * 1000;
    // The window's path on the real host, with an offscreen device in place of the window.
    const TClockPoint start = std::chrono::steady_clock::now();
    std::string message;
    std::unique_ptr<TKivShowLocator> locator = OpenPackedShow(show, message);
    if (!locator || !locator->Project()) {
      state.SkipWithError(message.c_str());
      return;
    }
    TThreadHost host;
    TQueuedApplication app;
    if (!EngineFactoryRegistered()) RegisterGLEngine();
    TEngineShare share;
    TPlaybackContext context;
    context.host = &host;
    context.application = &app;
    context.music = MusicPlayerFactory(MixerWaveOutDeviceFactory(host, NullSoundOutputFactory()));
    context.desktop = {1280, 720};
    context.releaseDrawingContext = [] { gl::ReleaseCurrentGLContext(); };
    TBenchWindow window({1280, 720});
    bool first = false;
    {
      TKivShowViewer viewer(context, window);
      viewer.Open(locator->AccessorRef(), *locator->Project(), 0);
      viewer.Engine()->OnFirstFrame = [&first](TCustomKivEngine&) { first = true; };
      viewer.SetPaused(false);
      while (!first && Seconds(start) < 30) {
        app.WaitForEvents(5);
        app.ProcessEvents();
      }
      firstFrameMs = Seconds(start) * 1000;
      viewer.Stop();
    }
    if (!first) state.SkipWithError("no first frame within 30 s");
  }
  state.counters["exec_ms"] = execMs;
  state.counters["open_to_first_frame_ms"] = firstFrameMs;
  state.counters["exec_to_first_frame_ms"] = execMs + firstFrameMs;
}
BENCHMARK(StartToFirstFrame)->Iterations(1)->Unit(benchmark::kMillisecond);

void PeakRss100Photos(benchmark::State& state) {
  if (!Prerequisites(state, true)) return;
  const fs::path dir = kivtest::FreshTempDir("bench_photos");
  if (!MakePictures(dir / "show", 100, 4000, 3000)) {
    state.SkipWithError("ffmpeg could not make the pictures");
    return;
  }
  const std::string show = PackPictureShow(dir / "show", 100, 500, 1920, 1080);
  fs::remove_all(dir / "show");
  if (show.empty()) {
    state.SkipWithError("kivpack could not pack the show");
    return;
  }
  std::error_code error;
  const std::string self = fs::read_symlink("/proc/self/exe", error).string();
  TChildRun play, exported;
  for (auto _ : state) {
    setenv("KIV_PLAY_SHOW", show.c_str(), 1);
    play = RunMeasured({self, "--benchmark_filter=PlayShowInProcess"});
    unsetenv("KIV_PLAY_SHOW");
    exported = RunMeasured(
        {Viewer(), "-export", (dir / "photos.mp4").string(), "-size", "1920x1080", "-fps", "2", show});
  }
  if (play.status != 0 || exported.status != 0) {
    state.SkipWithError(play.status != 0 ? "playing failed" : "the export failed");
    return;
  }
  state.counters["play_peak_rss_mb"] = play.peakRssMb;
  state.counters["play_seconds"] = play.seconds;
  state.counters["export_peak_rss_mb"] = exported.peakRssMb;
}
BENCHMARK(PeakRss100Photos)->Iterations(1)->Unit(benchmark::kSecond);

// The show named by KIV_PLAY_SHOW played through once at 1920 x 1080, a frame every 100 ms of show time;
// run by PeakRss100Photos in a process of its own.
void PlayShowInProcess(benchmark::State& state) {
  const char* show = std::getenv("KIV_PLAY_SHOW");
  if (!show) {
    state.SkipWithError("run by PeakRss100Photos (KIV_PLAY_SHOW names the show)");
    return;
  }
  InstallImageDecoder();
  RegisterContentKinds();
  std::string message;
  std::unique_ptr<TKivShowLocator> locator = OpenPackedShow(show, message);
  if (!locator || !locator->Project()) {
    state.SkipWithError(message.c_str());
    return;
  }
  for (auto _ : state) {
    TVirtualHost host;
    TOfflineSoundOutput output;
    output.AttachTo(host);
    TQueuedApplication app;
    if (!EngineFactoryRegistered()) RegisterGLEngine();
    TMainThreadClaim mainThread;
    TEngineShare share;
    TPlaybackContext context;
    context.host = &host;
    context.application = &app;
    context.music = MusicPlayerFactory(MixerWaveOutDeviceFactory(host, output.Factory()));
    context.desktop = {1920, 1080};
    context.drawOnDemand = true;
    context.drawerMode = 1;
    TBenchWindow window({1920, 1080});
    TKivShowViewer viewer(context, window);
    viewer.Open(locator->AccessorRef(), *locator->Project(), 0);
    viewer.SetPaused(false);
    TKivEngine& engine = *viewer.Engine();
    while (!engine.IsActive() && host.Clock().NowMs() < 60000)
      host.Advance(1);
    for (double t = 0; t < engine.ShowLength(); t += 100) {
      while (engine.Loader()->ShowClock().CurrentTime() < t && host.Clock().NowMs() < 600000)
        host.Advance(1);
      benchmark::DoNotOptimize(engine.DrawFrameNow());
    }
    viewer.Stop();
  }
}
BENCHMARK(PlayShowInProcess)->Iterations(1)->Unit(benchmark::kSecond);

void ExportBesideFfmpeg(benchmark::State& state) {
  if (!Prerequisites(state, true)) return;
  const fs::path dir = kivtest::FreshTempDir("bench_beside_ffmpeg");
  if (!MakePictures(dir / "show", 10, 1920, 1080)) {
    state.SkipWithError("ffmpeg could not make the pictures");
    return;
  }
  // The same slide show on both sides: still pictures, 3 s each, half-second fades between them, at
  // 1280 x 720 and 30 fps.
  const std::string show = PackPictureShow(dir / "show", 10, 3000, 1280, 720, 500);
  std::vector<std::string> ffmpeg{"ffmpeg", "-v", "error", "-y"};
  std::string graph;
  for (int i = 1; i <= 10; ++i) {
    char name[16];
    std::snprintf(name, sizeof name, "%03d.jpg", i);
    for (const char* arg : {"-loop", "1", "-framerate", "30", "-t", "3.5", "-i"})
      ffmpeg.emplace_back(arg);
    ffmpeg.push_back((dir / "show" / "pictures" / name).string());
    graph += "[" + std::to_string(i - 1) + ":v]scale=1280:720,setsar=1,format=yuv420p[s" +
             std::to_string(i - 1) + "];";
  }
  std::string last = "s0";
  for (int i = 1; i < 10; ++i) {
    const std::string out = "x" + std::to_string(i);
    graph += "[" + last + "][s" + std::to_string(i) +
             "]xfade=transition=fade:duration=0.5:offset=" + std::to_string(3 * i) + "[" + out + "];";
    last = out;
  }
  graph.pop_back();
  for (const std::string& arg :
       {std::string("-filter_complex"), graph, std::string("-map"), "[" + last + "]", std::string("-c:v"),
        std::string("libx264"), std::string("-preset"), std::string("medium"), std::string("-crf"),
        std::string("18"), std::string("-r"), std::string("30"), (dir / "ffmpeg.mp4").string()})
    ffmpeg.push_back(arg);
  TChildRun ours, theirs;
  for (auto _ : state) {
    ours = RunMeasured(
        {Viewer(), "-export", (dir / "kiv.mp4").string(), "-size", "1280x720", "-fps", "30", show});
    theirs = RunMeasured(ffmpeg);
  }
  if (ours.status != 0 || theirs.status != 0) {
    state.SkipWithError(ours.status != 0 ? "the export failed" : "ffmpeg failed");
    return;
  }
  // 30 s of pictures at 30 fps, and ffmpeg's 30.5 s.
  state.counters["kivviewer_fps"] = 900 / ours.seconds;
  state.counters["ffmpeg_fps"] = 915 / theirs.seconds;
  state.counters["kivviewer_peak_rss_mb"] = ours.peakRssMb;
  state.counters["ffmpeg_peak_rss_mb"] = theirs.peakRssMb;
}
BENCHMARK(ExportBesideFfmpeg)->Iterations(1)->Unit(benchmark::kSecond);

void ExportShowSound(benchmark::State& state) {
  if (!fs::exists(Viewer()) || !fs::exists(Packer())) {
    state.SkipWithError("build kivviewer and kivpack first");
    return;
  }
  if (!Shell("command -v ffmpeg")) {
    state.SkipWithError("ffmpeg is needed to make the sound files");
    return;
  }
  const fs::path dir = kivtest::FreshTempDir("bench_export_sound");
  const fs::path folder = dir / "show";
  fs::create_directories(folder);
  if (!Shell("ffmpeg -v error -y -f lavfi -i sine=frequency=440:duration=180 -ac 2 -b:a 192k '" +
             (folder / "music.mp3").string() + "'") ||
      !Shell("ffmpeg -v error -y -f lavfi -i sine=frequency=660:duration=5 -ac 2 -c:a libvorbis '" +
             (folder / "comment.ogg").string() + "'")) {
    state.SkipWithError("ffmpeg could not make the sound files");
    return;
  }
  constexpr int kSlides = 60, kSlideMs = 10000;
  std::string text = "[main]\r\nopt_scr_width=640\r\nopt_scr_height=360\r\nopt_repeat=close\r\nopt_slidescount=" +
                     std::to_string(kSlides) +
                     "\r\nopt_syncmode=1\r\nopt_usemusic=1\r\nopt_repeatmusic=1\r\nopt_music_count=1\r\n"
                     "opt_music1=music.mp3\r\nopt_lengthlist1=180000\r\n";
  for (int i = 1; i <= kSlides; ++i)
    text += "opt_synchpos" + std::to_string(i) + "=" + std::to_string(i * kSlideMs) + "\r\n";
  for (int i = 1; i <= kSlides; ++i)
    text += "[Slide" + std::to_string(i) + "]\r\nSound=comment.ogg\r\nSoundLength=5000\r\n";
  std::ofstream(folder / "Project.kiv", std::ios::binary) << text;
  const std::string show = (dir / "sound.KvShow").string();
  if (!Shell("'" + Packer() + "' create '" + folder.string() + "' -o '" + show + "'")) {
    state.SkipWithError("kivpack could not pack the show");
    return;
  }
  TChildRun run;
  for (auto _ : state)
    run = RunMeasured({Viewer(), "-export", (dir / "sound.wav").string(), show});
  if (run.status != 0) {
    state.SkipWithError("the export failed");
    return;
  }
  state.counters["times_real_time"] = kSlides * kSlideMs / 1000.0 / run.seconds;
  state.counters["seconds"] = run.seconds;
  state.counters["peak_rss_mb"] = run.peakRssMb;
}
BENCHMARK(ExportShowSound)->Iterations(1)->Unit(benchmark::kSecond);

} // namespace
} // namespace kiv

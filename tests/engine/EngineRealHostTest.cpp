// The viewer and the engine on real threads (engine, slide loader, music player and its loader, sound
// output) with a show whose music and comments are files: the show plays, a seek and a pause reach the engine, and the reports come back on the test's thread. Times only within
// generous bounds; the exact behaviour is the virtual host's tests'. Run under ThreadSanitizer in CI, so
// without GL: the software GL driver's own threads are not instrumented and would be reported (the window
// test draws on real threads).

#include "../audio/ChannelTestSupport.h"
#include "EngineTestSupport.h"

#include "MixerWaveOutDevice.h"
#include "QueuedApplication.h"
#include "ShowViewer.h"
#include "ShowMusicPlayer.h"
#include "TestEnvironment.h"
#include "ThreadHost.h"
#include "null/NullSoundOutput.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <thread>

namespace kiv {
namespace {

using namespace kiv::test;

class TOffscreenWindow final : public TViewerWindow {
public:
  TOwned<TSysDevice> CreateDevice() override {
    auto device = MakeOwned<TSysDevice>();
    device->bounds = {0, 0, 64, 48};
    return device;
  }
  std::vector<TRect> Monitors() override { return {{0, 0, 64, 48}}; }
  TSize FrameExtra(int) override { return {}; }
  void Place(const TWindowPlacement&, TDrawDevice&) override {}
  void FirstFrame() override {}
};

TEST(EngineOnThreads, PlaysSeeksAndPausesWithReportsOnTheCallersThread) {
  TProbeObject::Register();

  TThreadHost host;
  TQueuedApplication app;
  TPlaybackContext context;
  context.host = &host;
  context.application = &app;
  context.music = MusicPlayerFactory(MixerWaveOutDeviceFactory(host, NullSoundOutputFactory()));
  context.desktop = {64, 48};
  TOffscreenWindow window;
  int32_t position = -1;
  const std::thread::id caller = std::this_thread::get_id();
  bool everyReportHere = true;
  {
    TKivShowViewer viewer(context, window);
    viewer.OnPosition = [&](TKivShowViewer&, int32_t at, bool) {
      position = at;
      everyReportHere = everyReportHere && std::this_thread::get_id() == caller;
    };
    // Main music in step with the show, and a comment on every slide.
    const std::string dir = kivtest::FreshTempDir("engine-threads").string();
    for (const char* name : {"/music.wav", "/comment.wav"}) {
      const std::vector<uint8_t> wave = channeltest::DcWave(name[1] == 'm' ? 4000 : 600, 1000);
      std::ofstream(dir + name, std::ios::binary)
          .write(reinterpret_cast<const char*>(wave.data()), static_cast<std::streamsize>(wave.size()));
    }
    std::string text = ShowText(4, 1000, "opt_syncmode=1\r\nopt_usemusic=1\r\nopt_music_count=1\r\nopt_music1=" + dir +
                                             "/music.wav\r\nopt_lengthlist1=4000\r\n");
    for (int slide = 1; slide <= 4; ++slide) {
      const std::string section = "[Slide" + std::to_string(slide) + "]\r\n";
      text.insert(text.find(section) + section.size(), "Sound=" + dir + "/comment.wav\r\nSoundLength=500\r\n");
    }
    auto source = MakeSource(text);
    viewer.Open(PlainAccessor(), source->Document(), 0);
    viewer.SetPaused(false);
    auto runUntil = [&](const std::function<bool()>& done) {
      const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
      while (!done() && std::chrono::steady_clock::now() < deadline) {
        app.WaitForEvents(5);
        app.ProcessEvents();
      }
      return done();
    };
    EXPECT_TRUE(runUntil([&] { return position >= 200; })) << position;

    viewer.SetPosition(2500);
    EXPECT_TRUE(runUntil([&] { return position >= 2500 && position < 3500; })) << position;

    viewer.SetPaused(true);
    EXPECT_TRUE(runUntil([&] { return !viewer.Engine()->IsActive(); }));
    app.ProcessEvents();
    const int32_t held = position;
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    app.ProcessEvents();
    EXPECT_LE(std::abs(position - held), 30) << "a paused show stays where it is";
    EXPECT_GE(held, 2500);
    viewer.Stop();
  }
  EXPECT_TRUE(everyReportHere);
}

} // namespace
} // namespace kiv

#pragma once
// The engine on the virtual host, as the tests drive it: an offscreen device on headless GL, the offline
// sound device under the show's music player (or a music the test steers), and the user-interface side that
// records what the engine reports.

#include "EngineTestSupport.h"

#include "Engine.h"
#include "GLContext.h"
#include "GLDeviceLayer.h"
#include "MixerWaveOutDevice.h"
#include "QueuedApplication.h"
#include "ShowViewer.h"
#include "ShowMusicPlayer.h"
#include "VirtualHost.h"
#include "offline/OfflineSoundOutput.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

namespace kiv::test {

// Music whose clock is the host's and whose readiness the test decides.
class TSteeredMusic final : public TShowMusic {
public:
  explicit TSteeredMusic(TWorkerHost& host) : TShowMusic(host, "steered music", 5, kOrderMusicPlayer) {}

  void SetPlaying(bool playing) override {
    if (playing == playing_) return;
    playing_ = playing;
    base_ = Now() - base_;
  }
  void SetTime(double endLimit, double time) override {
    ++setTimes;
    if (endLimit >= 0) endLimit_ = endLimit;
    if (time >= 0) {
      playing_ = false;
      base_ = time;
      ready_ = readyAfterSetTime;
    }
  }
  double GetShowTime() override { return std::min(playing_ ? Now() - base_ : base_, endLimit_); }
  bool IsReady() override { return ready_ || playing_; }
  double LastEndLimit() const override { return endLimit_; }
  float GetVolume() override { return volume_; }
  void SetVolume(float volume) override { volume_ = volume; }

  bool Playing() const { return playing_; }
  void SetReady(bool ready) { ready_ = ready; }
  bool readyAfterSetTime = true;
  int setTimes = 0;

protected:
  void Step() override {}

private:
  double Now() { return static_cast<double>(Host().Clock().NowMs()); }
  bool playing_ = false;
  bool ready_ = true;
  double base_ = 0;
  double endLimit_ = kNoEndLimit;
  float volume_ = 1;
};

struct TPositionReport {
  int64_t at; // host ms
  int32_t position;
  bool ended;
};

class TEngineRig {
public:
  static constexpr TSize kSize{64, 48};

  // steered: the music is a TSteeredMusic (Music() reaches it) instead of the silent music.
  explicit TEngineRig(bool steered = false) {
    output.AttachTo(host);
    context.host = &host;
    context.application = &app;
    context.desktop = kSize;
    if (steered)
      context.music = [this](TWorkerHost& h, TKivSource&) -> TOwned<TShowMusic> {
        auto music = MakeOwned<TSteeredMusic>(h);
        steered_ = music.get();
        return music;
      };
    else
      context.music = MusicPlayerFactory(MixerWaveOutDeviceFactory(host, output.Factory()));
  }

  ~TEngineRig() {
    if (engine) engine->Stop();
    engine.reset();
    app.ProcessEvents();
  }

  // Headless GL for the drawing; false (the test skips) where the machine has none.
  static bool HaveGL(std::string& whyNot) {
    if (!HeadlessGLAvailable(&whyNot)) return false;
    SetMainThread(std::this_thread::get_id());
    if (!EngineFactoryRegistered()) RegisterGLEngine();
    TProbeObject::Register();
    return true;
  }

  void Create(bool paused = true) {
    auto device = MakeOwned<TSysDevice>();
    device->bounds = {0, 0, kSize.width, kSize.height};
    deviceRaw = device.get();
    engine = MakeOwned<TKivEngine>(context, device.release(), 0, paused, true);
    engine->OnFirstFrame = [this](TCustomKivEngine&) { firstFrames.push_back(host.Clock().NowMs()); };
    engine->OnPosition = [this](TCustomKivEngine&, int32_t position, bool ended, int32_t) {
      positions.push_back({host.Clock().NowMs(), position, ended});
    };
    engine->OnEvent = [this](TCustomKivEngine&, TKivEventData& record) {
      if (record.EventNumber() == kEvImage) {
        if (auto* image = dynamic_cast<TDevBitmap*>(record.Data()))
          images.emplace_back(image->Width(), image->Height());
        return;
      }
      if (record.EventNumber() != kEvAction) return;
      TKivActionInfo action{static_cast<TActionKind>(record.Integer(0)), record.Integer(1), {}};
      if (auto* text = dynamic_cast<TStrValue*>(record.Data())) action.Text = text->Value;
      actions.push_back({host.Clock().NowMs(), action});
    };
  }

  // Opens directly and starts the engine thread, as the viewer's first open does.
  void Open(const std::string& show, double position = 0, bool paused = false) {
    if (!engine) Create(true);
    engine->Open(PlainAccessor(), Document(show), position);
    engine->Start();
    if (!paused) Post(kEvPauseMode, MakeOwned<TModeData>(false));
  }

  template <class T> void Post(int number, TOwned<T> data) { engine->Events().Post(number, std::move(data)); }
  void Post(int number) { engine->Events().Post(number); }
  // A seek as the viewer posts it; returns its sequence number.
  int32_t Seek(double position) {
    const int32_t sequence = engine->NextSequence();
    Post(kEvOpen, MakeOwned<TOpenParams>(sequence, position));
    return sequence;
  }
  void Pause(bool paused) { Post(kEvPauseMode, MakeOwned<TModeData>(paused)); }

  // Runs the host for ms, delivering the engine's reports after every millisecond.
  void Run(int64_t ms) {
    for (int64_t i = 0; i < ms; ++i) {
      host.Advance(1);
      app.ProcessEvents();
    }
  }
  // Runs until the engine's clock has reached the time, at most limitMs. True when it got there.
  bool RunUntilTime(double time, int64_t limitMs = 10000) {
    for (int64_t i = 0; i < limitMs; ++i) {
      if (ClockTime() >= time) return true;
      Run(1);
    }
    return ClockTime() >= time;
  }
  double ClockTime() const {
    return engine->Loader() ? engine->Loader()->ShowClock().CurrentTime() : engine->CurrentTime();
  }
  int64_t Now() { return host.Clock().NowMs(); }
  TSteeredMusic* Music() const { return steered_; }

  TVirtualHost host;
  TQueuedApplication app;
  TOfflineSoundOutput output;
  TPlaybackContext context;
  TOwned<TKivEngine> engine;
  TSysDevice* deviceRaw = nullptr;
  std::vector<int64_t> firstFrames;
  std::vector<TPositionReport> positions;
  std::vector<std::pair<int64_t, TKivActionInfo>> actions;
  std::vector<std::pair<int, int>> images; // sizes of the still images received

private:
  TSteeredMusic* steered_ = nullptr;
};

#define KIV_REQUIRE_GL()                                                                                     \
  do {                                                                                                       \
    std::string whyNot;                                                                                      \
    if (!TEngineRig::HaveGL(whyNot))                                                                         \
      GTEST_SKIP() << "no headless EGL display, engine tests skipped: " << whyNot;                           \
  } while (0)

// A show of count slides of slideMs each with extra keys in "main" and per slide (index from 1).
inline std::string EngineShow(int count, int slideMs, const std::string& extraMain,
                              const std::vector<std::string>& slideKeys = {}) {
  std::string text =
      "[main]\r\nMinorVersion=21\r\nopt_scr_width=64\r\nopt_scr_height=48\r\nopt_slidescount=" +
      std::to_string(count) + "\r\n" + extraMain;
  for (int i = 1; i <= count; ++i)
    text += "opt_synchpos" + std::to_string(i) + "=" + std::to_string(i * slideMs) + "\r\n";
  for (int i = 1; i <= count; ++i) {
    text += "[Slide" + std::to_string(i) + "]\r\n";
    if (static_cast<size_t>(i - 1) < slideKeys.size()) text += slideKeys[i - 1];
    text += "object Probe: probe\r\nend\r\n";
  }
  return text;
}

} // namespace kiv::test

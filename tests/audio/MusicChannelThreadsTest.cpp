// Channels on real threads (the null output consumes real time; refills, the clock and the killer run on
// threads of their own): ends are reported once, and seeks, stops, volume changes and channels going away
// from several threads at once neither deadlock nor leave streams open. No timing is checked here; the
// waits only bound a hang.

#include "ChannelTestSupport.h"
#include "ThreadHost.h"
#include "null/NullSoundOutput.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

namespace kiv {
namespace {

using channeltest::DcWave;
using channeltest::SineWave;
using channeltest::TMemoryFiles;

using namespace std::chrono_literals;

struct TThreadRig {
  TThreadRig() {
    player = CreateMusicPlayer(host, MixerWaveOutDeviceFactory(host, NullSoundOutputFactory()),
                               TConverterFactory());
    if (player) files.Serve(*player);
  }
  ~TThreadRig() { player = nullptr; }

  // Waits until the condition holds; false after the guard time (a hang).
  template <class F> bool WaitUntil(F condition, std::chrono::milliseconds guard = 20s) {
    const auto until = std::chrono::steady_clock::now() + guard;
    while (!condition()) {
      if (std::chrono::steady_clock::now() > until) return false;
      std::this_thread::sleep_for(2ms);
    }
    return true;
  }

  TThreadHost host;
  TMemoryFiles files;
  TOwned<TMusicPlayerClass> player;
};

TEST(MusicChannelThreads, AChannelThatPlaysToTheEndReportsItOnceAndReleasesItsVoice) {
  TThreadRig rig;
  ASSERT_TRUE(rig.player);
  rig.files.Add("short.wav", DcWave(200, 1000));
  TOwned<TChannelMusic> channel(rig.player->CreateChannel("short.wav", -1));
  ASSERT_TRUE(channel);
  std::atomic<int> ends{0};
  channel->SetOnEnd([&](TChannel&) { ++ends; });
  ASSERT_TRUE(channel->Play(10));
  ASSERT_TRUE(rig.WaitUntil([&] { return ends.load() > 0; }));
  ASSERT_TRUE(rig.WaitUntil([&] { return channel->VoiceCount() == 0; }));
  EXPECT_EQ(ends.load(), 1);
  EXPECT_FALSE(channel->IsPlaying());
  EXPECT_GT(rig.player->GetTime(), -1.0);
}

TEST(MusicChannelThreads, ChannelsUsedAndFreedFromSeveralThreadsNeitherHangNorLeakStreams) {
  TThreadRig rig;
  ASSERT_TRUE(rig.player);
  rig.files.Add("sine.wav", SineWave(3000, 300, 4000));
  rig.files.Add("short.wav", DcWave(150, 500));
  std::vector<TChannelMusic*> channels;
  for (const char* name : {"sine.wav", "sine.wav", "short.wav"})
    channels.push_back(rig.player->CreateChannel(name, 0));
  for (TChannelMusic* c : channels)
    ASSERT_TRUE(c);
  // An end handler that takes its time while other threads use and free channels.
  std::atomic<int> ends{0};
  channels[2]->SetOnEnd([&](TChannel& ended) {
    ++ends;
    std::this_thread::sleep_for(5ms);
    ended.SetVolume(0.5f);
  });
  for (TChannelMusic* c : channels)
    c->Play(10);
  std::atomic<bool> stop{false};
  std::thread volumes([&] {
    for (int i = 0; !stop; ++i) {
      rig.player->SetVolume(i % 2 ? 0.5f : 1.0f);
      std::this_thread::sleep_for(3ms);
    }
  });
  for (int round = 0; round < 12; ++round) {
    channels[0]->SetPosition(round * 200);
    if (round % 3 == 0) channels[1]->Stop(10);
    if (round % 3 == 1) channels[1]->Play(10);
    channels[2]->GetPosition();
    std::this_thread::sleep_for(15ms);
  }
  ASSERT_TRUE(rig.WaitUntil([&] { return ends.load() > 0; }));
  // Freed while fading, while idle and while sounding.
  channels[1]->Stop(10);
  for (TChannelMusic* c : channels)
    TObj::Free(c);
  stop = true;
  volumes.join();
  EXPECT_EQ(rig.player->ChannelCount(), 0);
  ASSERT_TRUE(rig.WaitUntil([&] { return rig.player->Killer().AdoptedCount() == 0; }));
  EXPECT_EQ(rig.files.OpenNow(), 0);
  // A player going away with channels still sounding.
  TChannelMusic* last = rig.player->CreateChannel("sine.wav", -1);
  ASSERT_TRUE(last);
  last->Play(10);
  std::this_thread::sleep_for(20ms);
  rig.player = nullptr;
  EXPECT_EQ(rig.files.OpenNow(), 0);
}

} // namespace
} // namespace kiv

// The audio clock on the offline output under a virtual clock: start, stop and resume, wraps of the silent
// buffer and the 1 ms steering toward the output's position.

#include "Exceptions.h"
#include "MixerTimerChannel.h"

#include "SoundTestRig.h"

#include <gtest/gtest.h>

#include <vector>

namespace kiv {
namespace {

using soundtest::TOfflineRig;

TMixerTimerChannel& Mixed(const TOwned<TTimerChannel>& channel) {
  return static_cast<TMixerTimerChannel&>(*channel);
}

// GetTime after every further ms up to the given time.
std::vector<double> TimesUntil(TOfflineRig& rig, TTimerChannel& channel, int64_t until) {
  std::vector<double> times;
  while (rig.host.Clock().NowMs() < until) {
    rig.host.Advance(1);
    times.push_back(channel.GetTime());
  }
  return times;
}

TEST(TimerChannel, ReadsZeroAfterStartUntilThePlayPositionLeavesZeroThenGoesOnFromTheSetTime) {
  TOfflineRig rig;
  auto channel = rig.device->CreateTimerChannel();
  EXPECT_EQ(channel->GetTime(), 0);
  EXPECT_FALSE(channel->IsStarted());
  channel->SetTime(5000);
  channel->Start();
  EXPECT_TRUE(channel->IsStarted());
  const std::vector<double> times = TimesUntil(rig, *channel, 30);
  // The clock worker reads the position every 10 ms: at 10 ms it has left 0.
  for (int ms = 1; ms <= 9; ++ms)
    EXPECT_EQ(times[ms - 1], 0) << ms;
  EXPECT_EQ(times[9], 5000);
  EXPECT_EQ(times[10], 5001);
  EXPECT_EQ(times[29], 5020);
}

TEST(TimerChannel, WaitsForAnOutputThatHasNotBegunToPlay) {
  TOfflineRig rig(false);
  auto channel = rig.device->CreateTimerChannel();
  channel->SetTime(300);
  channel->Start();
  rig.host.Advance(200);
  EXPECT_EQ(channel->GetTime(), 0);
  rig.output.AttachTo(rig.host);
  rig.host.Advance(10);
  EXPECT_EQ(channel->GetTime(), 300);
  rig.host.Advance(50);
  EXPECT_EQ(channel->GetTime(), 350);
}

TEST(TimerChannel, StopSavesTheOutputsTimeAndTheNextStartResumesThere) {
  TOfflineRig rig;
  auto channel = rig.device->CreateTimerChannel();
  channel->Start();
  rig.host.Advance(5000);
  EXPECT_EQ(Mixed(channel).DeviceTime(), 5000);
  EXPECT_EQ(channel->GetTime(), 4990) << "behind the output by the 10 ms it took to leave 0";
  channel->Stop();
  EXPECT_FALSE(channel->IsStarted());
  EXPECT_EQ(Mixed(channel).DeviceTime(), 5000);
  EXPECT_FALSE(Mixed(channel).SoundBuffer().IsPlaying());
  rig.host.Advance(700);
  EXPECT_EQ(Mixed(channel).DeviceTime(), 5000) << "a stopped clock keeps its time";
  channel->Start();
  const std::vector<double> times = TimesUntil(rig, *channel, 5720);
  EXPECT_EQ(times[8], 0);
  EXPECT_EQ(times[9], 5000);
  EXPECT_EQ(times[19], 5010);
}

TEST(TimerChannel, EveryTurnOfTheSilentBufferAddsExactlyTwoSeconds) {
  TOfflineRig rig;
  auto channel = rig.device->CreateTimerChannel();
  channel->Start();
  for (int64_t at : {1990, 2000, 2010, 3990, 4000, 6500}) {
    rig.host.Advance(at - rig.host.Clock().NowMs());
    EXPECT_EQ(Mixed(channel).DeviceTime(), at);
    EXPECT_EQ(channel->GetTime(), at - 10);
  }
}

TEST(TimerChannel, TheSmoothClockMovesAtMostOneMsPerTenMsTowardTheOutput) {
  struct TCase {
    const char* what;
    int64_t leadMs; // how far the output gets ahead (or behind) at 1000 ms
  };
  const TCase cases[] = {{"the output jumps ahead", 50}, {"the output stalls", -30}};
  for (const TCase& c : cases) {
    TOfflineRig rig;
    auto channel = rig.device->CreateTimerChannel();
    channel->Start();
    rig.host.Advance(1000);
    if (c.leadMs > 0) {
      rig.output.AdvanceFrames(c.leadMs * 441 / 10);
    } else {
      rig.output.Detach();
      rig.host.Advance(-c.leadMs);
      rig.output.AttachTo(rig.host);
    }
    double last = channel->GetTime();
    int64_t lastAt = rig.host.Clock().NowMs();
    while (rig.host.Clock().NowMs() < 2500) {
      rig.host.Advance(10);
      const double now = channel->GetTime();
      const int64_t at = rig.host.Clock().NowMs();
      EXPECT_GE(now - last, static_cast<double>(at - lastAt - 1)) << c.what << " at " << at;
      EXPECT_LE(now - last, static_cast<double>(at - lastAt + 1)) << c.what << " at " << at;
      last = now;
      lastAt = at;
    }
    EXPECT_EQ(channel->GetTime(), 2500 - 10 + c.leadMs) << c.what << ": caught up";
    EXPECT_EQ(Mixed(channel).DeviceTime(), 2500 + c.leadMs) << c.what;
  }
}

TEST(TimerChannel, WithoutASoundOutputThereIsNoTimerChannel) {
  TVirtualHost host;
  TSoundOutputFactory none;
  none.Add("broken", [](TSoundMixer&, TWorkerHost&, std::string& whyNot) -> std::unique_ptr<TSoundOutput> {
    whyNot = "no device";
    return nullptr;
  });
  TMixerWaveOutDevice device(host, none);
  EXPECT_FALSE(device.IsValid());
  EXPECT_FALSE(device.CreateBuffer(StandardWaveFormat()));
  try {
    device.CreateTimerChannel();
    ADD_FAILURE() << "no exception";
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(), "SoundBuffer = nil");
  }
}

} // namespace
} // namespace kiv

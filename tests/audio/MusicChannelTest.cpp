// Channels and voices on the offline output under a virtual clock: fade lengths and shapes, stops and
// seeks without a sample jump, voices freed by the killer only after their sound has played, end
// notifications, positions, volumes, channels going away while they sound, and composite texts played as
// one channel.

#include "ChannelTestSupport.h"
#include "CompositeConverter.h"
#include "MusicVoice.h"
#include "SoundMixer.h"
#include "Utf8Conversion.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <vector>

namespace kiv {
namespace {

using channeltest::DcWave;
using channeltest::FramesOfMs;
using channeltest::RampWave;
using channeltest::SineWave;
using channeltest::TPlayerRig;

constexpr int kLevel = 8000;

// The largest change between neighbouring frames from `from` on.
int LargestJump(const std::vector<int>& left, size_t from = 1) {
  int largest = 0;
  for (size_t i = std::max<size_t>(from, 1); i < left.size(); ++i)
    largest = std::max(largest, std::abs(left[i] - left[i - 1]));
  return largest;
}

// The index of the last frame that is not silent, or -1.
int64_t LastSound(const std::vector<int>& left) {
  for (size_t i = left.size(); i-- > 0;)
    if (left[i] != 0) return static_cast<int64_t>(i);
  return -1;
}

TEST(MusicChannel, AFadeInRampsFromZeroOverItsLengthInFrames) {
  for (const int fadeMs : {0, 10, 100}) {
    TPlayerRig rig;
    ASSERT_TRUE(rig.player);
    rig.files.Add("dc.wav", DcWave(3000, kLevel));
    TOwned<TChannelMusic> channel(rig.player->CreateChannel("dc.wav", -1));
    ASSERT_TRUE(channel);
    ASSERT_TRUE(channel->Play(fadeMs));
    rig.host.Advance(300);
    const std::vector<int> left = rig.Left();
    const int64_t length = std::max<int64_t>(1, FramesOfMs(fadeMs));
    for (int64_t k = 0; k < length + 200; ++k) {
      const double expected = k < length ? kLevel * double(k) / double(length) : kLevel;
      ASSERT_NEAR(left[k], expected, 1.0) << fadeMs << " ms, frame " << k;
    }
  }
}

// Plays a constant level, stops it with a fade after `stopAtMs` and returns the recording.
struct TStopped {
  std::vector<int> left;
  int64_t firstLower = -1; // the first frame below the level after the stop
};
TStopped PlayAndStop(int fadeInMs, int64_t stopAtMs, int fadeOutMs) {
  TPlayerRig rig;
  rig.files.Add("dc.wav", DcWave(5000, kLevel));
  TOwned<TChannelMusic> channel(rig.player->CreateChannel("dc.wav", -1));
  EXPECT_TRUE(channel->Play(fadeInMs));
  rig.host.Advance(stopAtMs);
  EXPECT_TRUE(channel->Stop(fadeOutMs));
  rig.host.Advance(1000);
  TStopped stopped;
  stopped.left = rig.Left();
  int previous = -1;
  for (size_t i = static_cast<size_t>(FramesOfMs(stopAtMs)); i < stopped.left.size(); ++i) {
    if (stopped.left[i] < previous) {
      stopped.firstLower = static_cast<int64_t>(i);
      break;
    }
    previous = stopped.left[i];
  }
  return stopped;
}

TEST(MusicChannel, AStopFadesTheQueuedSoundLinearlyToSilenceAfterTheRewriteMargin) {
  for (const int fadeMs : {0, 10, 50}) {
    const TStopped s = PlayAndStop(0, 1000, fadeMs);
    ASSERT_GT(s.firstLower, 0) << fadeMs;
    const int64_t top = s.firstLower - 1; // the last frame at full level
    // The rewrite begins a mix period and 25 ms past the play position of the next refill step.
    EXPECT_GE(top, FramesOfMs(1000) + 441 + 1102) << fadeMs;
    EXPECT_LE(top, FramesOfMs(1002) + 441 + 1102) << fadeMs;
    const int64_t length = std::max<int64_t>(1, FramesOfMs(fadeMs));
    for (int64_t j = 0; j <= length; ++j)
      ASSERT_NEAR(s.left[top + j], kLevel * (1.0 - double(j) / double(length)), 1.0) << fadeMs << " +" << j;
    EXPECT_EQ(LastSound(s.left), top + length - 1) << fadeMs;
  }
}

TEST(MusicChannel, AStopDuringAFadeInFadesOutFromTheLevelReachedWithoutAJump) {
  // The fade-in (1 s) runs past the queued sound when the stop (100 ms fade) comes.
  const TStopped s = PlayAndStop(1000, 200, 100);
  ASSERT_GT(s.firstLower, 0);
  const int64_t top = s.firstLower - 1;
  const auto fadeIn = [](int64_t n) { return std::min(1.0, double(n) / FramesOfMs(1000)); };
  EXPECT_NEAR(s.left[top], kLevel * fadeIn(top), 1.0);
  // From there the fade-in's level falls linearly to silence over the fade-out's 4410 frames.
  for (int64_t j = 0; j <= 4410; j += 105)
    EXPECT_NEAR(s.left[top + j], kLevel * fadeIn(top + j) * (1.0 - j / 4410.0), 2.0) << j; // rounded twice
  for (size_t i = static_cast<size_t>(top) + 1; i < s.left.size(); ++i)
    ASSERT_LE(s.left[i], s.left[i - 1] + 1) << "rises again at " << i;
  EXPECT_LE(LastSound(s.left), top + 4410);
}

TEST(MusicChannel, ASeekWhilePlayingCrossFadesWithoutASampleJump) {
  TPlayerRig rig;
  // 250 Hz: the seek below lands half a cycle off, where a cut would jump by twice the amplitude.
  rig.files.Add("sine.wav", SineWave(8000, 250, kLevel));
  TOwned<TChannelMusic> channel(rig.player->CreateChannel("sine.wav", -1));
  ASSERT_TRUE(channel->Play(0));
  rig.host.Advance(1000);
  channel->SetPosition(3002);
  EXPECT_EQ(channel->VoiceCount(), 2) << "the old voice fades while the new one plays";
  EXPECT_TRUE(channel->IsPlaying());
  rig.host.Advance(1000);
  EXPECT_EQ(channel->VoiceCount(), 1) << "the old voice is freed once drained";
  const std::vector<int> left = rig.Left();
  const int natural = static_cast<int>(std::ceil(kLevel * 2 * 3.14159265 * 250 / 44100)) + 1; // 286
  EXPECT_LE(LargestJump(left), 2 * natural + 2 * kLevel / 441 + 2);
  // The new voice plays from the new position: at 1500 ms the sine is 3502 ms in.
  const int64_t n = FramesOfMs(1500);
  const double expected =
      kLevel * std::sin(2 * 3.14159265358979 * 250 * double(n - FramesOfMs(1000) + FramesOfMs(3002)) / 44100);
  EXPECT_NEAR(left[n], expected, 1.0);
  EXPECT_EQ(channel->GetPosition(), 4002) << "1000 ms after the seek to 3002";
}

TEST(MusicChannel, AStoppedVoiceIsFreedTwentyMsAfterItsFadeHasPlayed) {
  TPlayerRig rig;
  rig.files.Add("dc.wav", DcWave(5000, kLevel));
  TOwned<TChannelMusic> channel(rig.player->CreateChannel("dc.wav", -1));
  ASSERT_TRUE(channel->Play(0));
  rig.host.Advance(500);
  ASSERT_TRUE(channel->Stop(10));
  int64_t freedAt = -1;
  for (int ms = 0; ms < 1000 && freedAt < 0; ++ms) {
    rig.host.Advance(1);
    if (channel->VoiceCount() == 0) freedAt = rig.host.Clock().NowMs();
  }
  ASSERT_GT(freedAt, 0);
  const int64_t lastSound = LastSound(rig.Left());
  // The delay is the queued sound up to the fade's end plus 20 ms; the killer looks every 10 ms.
  const double afterSound = double(freedAt) - double(lastSound + 1) / 44.1;
  EXPECT_GE(afterSound, 20.0);
  EXPECT_LE(afterSound, 20.0 + 10.0 + 2.0);
  EXPECT_EQ(rig.player->Killer().WaitingCount(), 0);
  EXPECT_EQ(static_cast<TMixerWaveOutDevice*>(rig.player->Device())->Mixer().BufferCount(), 0);
}

TEST(MusicChannel, TheEndIsReportedOnceAfterTheQueuedSoundHasPlayed) {
  TPlayerRig rig;
  rig.files.Add("short.wav", DcWave(300, kLevel));
  TOwned<TChannelMusic> channel(rig.player->CreateChannel("short.wav", -1));
  std::vector<int64_t> ends;
  channel->SetOnEnd([&](TChannel& ended) {
    EXPECT_EQ(&ended, channel.get());
    ends.push_back(rig.host.Clock().NowMs());
  });
  ASSERT_TRUE(channel->Play(0));
  rig.host.Advance(4000);
  ASSERT_EQ(ends.size(), 1u);
  const std::vector<int> left = rig.Left();
  EXPECT_EQ(LastSound(left), FramesOfMs(300) - 1);
  // Released after everything queued behind the data (silence up to the end of the last refill) + 20 ms.
  EXPECT_GE(double(ends[0]), 300 + 20.0);
  EXPECT_FALSE(channel->IsPlaying());
  EXPECT_EQ(channel->VoiceCount(), 0);
  rig.host.Advance(3000);
  EXPECT_EQ(ends.size(), 1u);
  // Playing again after the end makes a new voice from the saved position: the end comes again once.
  ASSERT_TRUE(channel->Play(0));
  rig.host.Advance(4000);
  EXPECT_EQ(ends.size(), 2u);
}

TEST(MusicChannel, PlayAndStopAnswerWhetherTheyChangedAnything) {
  TPlayerRig rig;
  rig.files.Add("dc.wav", DcWave(3000, kLevel));
  TOwned<TChannelMusic> channel(rig.player->CreateChannel("dc.wav", -1));
  EXPECT_FALSE(channel->IsPlaying());
  EXPECT_FALSE(channel->Stop(10)) << "not playing";
  EXPECT_TRUE(channel->Play(10));
  EXPECT_FALSE(channel->Play(10)) << "already playing";
  EXPECT_EQ(channel->VoiceCount(), 1);
  EXPECT_TRUE(channel->IsPlaying());
  rig.host.Advance(100);
  EXPECT_TRUE(channel->Stop(10));
  EXPECT_FALSE(channel->Stop(10)) << "already stopping";
  EXPECT_FALSE(channel->IsPlaying());
}

TEST(MusicChannel, PlayingAgainAfterAStopResumesWhereItStopped) {
  TPlayerRig rig;
  rig.files.Add("ramp.wav", RampWave(5000));
  TOwned<TChannelMusic> channel(rig.player->CreateChannel("ramp.wav", -1));
  ASSERT_TRUE(channel->Play(10));
  rig.host.Advance(1000);
  ASSERT_TRUE(channel->Stop(10));
  EXPECT_EQ(channel->GetPosition(), 1000);
  rig.host.Advance(30);
  EXPECT_EQ(channel->VoiceCount(), 1) << "still fading";
  EXPECT_EQ(channel->GetPosition(), 1000);
  rig.host.Advance(470);
  EXPECT_EQ(channel->VoiceCount(), 0) << "the stopped voice has been released";
  EXPECT_EQ(channel->GetPosition(), 1000) << "its fade and drain do not move the position on";
  ASSERT_TRUE(channel->Play(10));
  rig.host.Advance(100);
  const std::vector<int> left = rig.Left();
  const int64_t k = 1000; // past the 10 ms fade-in
  EXPECT_NEAR(left[FramesOfMs(1500) + k], (FramesOfMs(1000) + k) / 4, 1);
}

TEST(MusicChannel, AStartPositionPreparesTheFirstVoiceThere) {
  const std::pair<int, int> cases[] = {{-1, 0}, {0, 0}, {700, 700}, {2500, 2500}};
  for (const auto& [start, position] : cases) {
    TPlayerRig rig;
    rig.files.Add("ramp.wav", RampWave(3000));
    TOwned<TChannelMusic> channel(rig.player->CreateChannel("ramp.wav", start));
    ASSERT_TRUE(channel);
    EXPECT_EQ(channel->GetPosition(), position) << start;
    EXPECT_EQ(channel->GetDuration(), 3000);
    ASSERT_TRUE(channel->Play(0));
    rig.host.Advance(50);
    EXPECT_NEAR(rig.Left()[1000], (FramesOfMs(position) + 1000) / 4, 1) << start;
  }
}

TEST(MusicChannel, TheBufferVolumeIsTheChannelVolumeTimesTheMasterVolume) {
  struct TCase {
    float channel, masterBefore, masterAfter;
  };
  const TCase cases[] = {{1, 1, 1}, {0.5f, 1, 1}, {1, 0.5f, 0.5f}, {0.5f, 0.5f, 0.25f}, {0.5f, 1, 0.1f}};
  for (const TCase& c : cases) {
    TPlayerRig rig;
    rig.files.Add("dc.wav", DcWave(3000, kLevel));
    rig.player->SetVolume(c.masterBefore);
    TOwned<TChannelMusic> channel(rig.player->CreateChannel("dc.wav", -1));
    EXPECT_FLOAT_EQ(channel->GetMasterVolume(), c.masterBefore);
    channel->SetVolume(c.channel);
    rig.player->SetVolume(c.masterAfter);
    EXPECT_FLOAT_EQ(rig.player->GetVolume(), c.masterAfter);
    ASSERT_TRUE(channel->Play(0));
    const float volume = c.channel * c.masterAfter;
    EXPECT_FLOAT_EQ(channel->CurrentVoice()->Buffer()->GetVolume(), volume);
    rig.host.Advance(100);
    const int32_t attenuation =
        volume >= 1 ? 0 : static_cast<int32_t>(std::nearbyint(600 * std::log2(double(volume))));
    EXPECT_NEAR(rig.Left()[2000], kLevel * SoundVolumeGain(attenuation), 1.0) << volume;
  }
}

TEST(MusicChannel, AChannelFreedWhileSoundingFadesOutWithoutWaitingForTheKiller) {
  TPlayerRig rig;
  rig.files.Add("dc.wav", DcWave(5000, kLevel));
  TChannelMusic* channel = rig.player->CreateChannel("dc.wav", -1);
  ASSERT_TRUE(channel->Play(0));
  rig.host.Advance(500);
  EXPECT_EQ(rig.player->ChannelCount(), 1);
  // On this host the killer steps on this very thread: a destructor that waited for it would never end.
  TObj::Free(channel);
  EXPECT_EQ(rig.player->ChannelCount(), 0);
  EXPECT_EQ(rig.player->Killer().AdoptedCount(), 1);
  rig.host.Advance(500);
  EXPECT_EQ(rig.player->Killer().AdoptedCount(), 0);
  EXPECT_EQ(static_cast<TMixerWaveOutDevice*>(rig.player->Device())->Mixer().BufferCount(), 0);
  EXPECT_EQ(rig.files.OpenNow(), 0);
  const std::vector<int> left = rig.Left();
  EXPECT_LE(LargestJump(left, 2), kLevel / 441 + 1) << "faded over 10 ms, not cut";
}

TEST(MusicChannel, AnEndHandlerMayFreeAnotherChannel) {
  TPlayerRig rig;
  rig.files.Add("short.wav", DcWave(200, kLevel));
  rig.files.Add("long.wav", DcWave(5000, kLevel));
  TOwned<TChannelMusic> first(rig.player->CreateChannel("short.wav", -1));
  TChannelMusic* second = rig.player->CreateChannel("long.wav", -1);
  int ends = 0;
  first->SetOnEnd([&](TChannel&) {
    ++ends;
    TObj::Free(second);
  });
  ASSERT_TRUE(first->Play(0));
  ASSERT_TRUE(second->Play(0));
  rig.host.Advance(3000);
  EXPECT_EQ(ends, 1);
  EXPECT_EQ(rig.player->ChannelCount(), 1);
  rig.host.Advance(500);
  EXPECT_EQ(rig.player->Killer().AdoptedCount(), 0);
}

TEST(MusicChannel, APlayerGoingFirstFreesItsChannelsAndClosesTheirStreams) {
  TPlayerRig rig;
  rig.files.Add("dc.wav", DcWave(5000, kLevel));
  TChannelMusic* playing = rig.player->CreateChannel("dc.wav", -1);
  TChannelMusic* idle = rig.player->CreateChannel("dc.wav", 100);
  ASSERT_TRUE(playing && idle);
  playing->Play(0);
  rig.host.Advance(200);
  playing->Stop(10); // fading when the player goes
  EXPECT_EQ(rig.files.OpenNow(), 2);
  rig.player = nullptr;
  EXPECT_EQ(rig.files.OpenNow(), 0);
}

TEST(MusicChannel, NoChannelIsMadeForWhatCannotBeDescribedOrOpened) {
  TPlayerRig rig;
  rig.files.Add("garbage.wav", std::vector<uint8_t>(1000, 7));
  TCompositeParams empty;
  empty.duration = 0;
  empty.AddItem("dc.wav", 0);
  const std::string names[] = {"missing.wav", "garbage.wav", Utf16ToUtf8(empty.ToText())};
  for (const std::string& name : names)
    EXPECT_EQ(rig.player->CreateChannel(name, -1), nullptr) << name;
  EXPECT_EQ(rig.player->ChannelCount(), 0);
  EXPECT_EQ(rig.files.OpenNow(), 0);
}

TEST(MusicChannel, ACompositeTextPlaysAsOneChannel) {
  TPlayerRig rig;
  rig.files.Add("a.wav", DcWave(2000, 3000));
  rig.files.Add("b.wav", RampWave(2000));
  TCompositeParams composite;
  composite.duration = 2500;
  composite.AddItem("a.wav", 0).duration = 1500;
  TCompositeItem& b = composite.AddItem("b.wav", 1000);
  b.beginTime = 200;
  b.volumes.Add().AddPoint(0, 500);
  const std::string text = Utf16ToUtf8(composite.ToText());
  TOwned<TChannelMusic> channel(rig.player->CreateChannel(text, -1));
  ASSERT_TRUE(channel);
  EXPECT_EQ(channel->GetDuration(), 2500);
  EXPECT_EQ(channel->Info().type, TMediaType::Composite);
  int ends = 0;
  channel->SetOnEnd([&](TChannel&) { ++ends; });
  ASSERT_TRUE(channel->Play(0));
  rig.host.Advance(5000);
  EXPECT_EQ(ends, 1);
  // What the channel played is what the converter mixes.
  channeltest::TMemorySource source(rig.files);
  TCompositeConverter converter(text, source);
  TMediaInfo info;
  composite.Describe(info);
  ASSERT_TRUE(converter.Open(info));
  converter.Seek(0);
  converter.Fill(FramesOfMs(2500) * 4);
  const std::vector<int16_t> played = rig.output.Recorded();
  const uint8_t* mixed = converter.Output().Data();
  for (int64_t n = 1; n < FramesOfMs(2500); ++n) {
    int16_t s[2];
    std::memcpy(s, mixed + 4 * n, 4);
    ASSERT_EQ(played[2 * n], s[0]) << n;
    ASSERT_EQ(played[2 * n + 1], s[1]) << n;
  }
  EXPECT_EQ(rig.files.OpenNow(), 0) << "the members are closed";
}

TEST(MusicChannel, TheAudioClockStartsOnFirstUse) {
  TPlayerRig rig;
  EXPECT_EQ(rig.player->GetTime(), 0);
  rig.host.Advance(500);
  EXPECT_GT(rig.player->GetTime(), 400);
}

TEST(MusicChannel, APlayerWithoutSoundOutputIsNotMade) {
  TVirtualHost host;
  EXPECT_EQ(
      CreateMusicPlayer(host, MixerWaveOutDeviceFactory(host, TSoundOutputFactory()), TConverterFactory()),
      nullptr);
  EXPECT_EQ(CreateMusicPlayer(host, TWaveOutDeviceFactory(), TConverterFactory()), nullptr);
}

} // namespace
} // namespace kiv

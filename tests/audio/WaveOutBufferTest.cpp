// Voice output buffers on the offline output under a virtual clock: sizes, first fill, refills, rewrites,
// queued bytes, played time and volume, each at exact times.

#include "Log.h"
#include "SoundTestRig.h"

#include "TestEnvironment.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <vector>

namespace kiv {
namespace {

using soundtest::FirstMismatch;
using soundtest::PcmFormat;
using soundtest::TNumberedFrames;
using soundtest::TOfflineRig;

constexpr uint32_t kStandardSize = 352800;

TEST(WaveOutBuffer, SizesAreTwoSecondsThreeQuartersHalfASecondAndTwentyFiveMsInWholeFrames) {
  struct TCase {
    uint32_t rate;
    uint16_t channels, bits;
    uint32_t size, initialFill, maxRefill, rewriteMargin;
  };
  const TCase cases[] = {
      {44100, 2, 16, 352800, 264600, 88200, 4408}, // 25 ms is 1102.5 frames
      {22050, 1, 16, 88200, 66150, 22050, 1102},
      {11025, 2, 16, 88200, 66148, 22048, 1100}, // three quarters and a half are no whole frames here
      {11025, 1, 8, 22050, 16537, 5512, 275},
      {48000, 2, 16, 384000, 288000, 96000, 4800},
      {8000, 1, 8, 16000, 12000, 4000, 200},
      {44100, 6, 16, 1058400, 793800, 264600, 13224},
  };
  TOfflineRig rig;
  for (const TCase& c : cases) {
    auto buffer = rig.device->CreateBuffer(PcmFormat(c.rate, c.channels, c.bits));
    ASSERT_TRUE(buffer) << c.rate;
    auto& mixed = rig.Buffer(buffer);
    EXPECT_EQ(mixed.BufferSize(), c.size) << c.rate << "/" << c.channels << "/" << c.bits;
    EXPECT_EQ(mixed.SoundBuffer().Size(), c.size);
    EXPECT_EQ(buffer->GetInitialFillSize(), c.initialFill) << c.rate << "/" << c.channels << "/" << c.bits;
    EXPECT_EQ(mixed.MaxRefill(), c.maxRefill) << c.rate << "/" << c.channels << "/" << c.bits;
    EXPECT_EQ(mixed.RewriteMargin(), c.rewriteMargin) << c.rate << "/" << c.channels << "/" << c.bits;
  }
}

TEST(WaveOutBuffer, CreateBufferRefusesFormatsThatCannotBePlayed) {
  auto change = [](auto edit) {
    TWaveFormat format = PcmFormat(44100, 2, 16);
    edit(format);
    return format;
  };
  const TWaveFormat bad[] = {
      change([](TWaveFormat& f) { f.channels = 0; }),
      change([](TWaveFormat& f) { f.samplesPerSec = 0; }),
      change([](TWaveFormat& f) { f.avgBytesPerSec = 0; }),
      change([](TWaveFormat& f) { f.blockAlign = 0; }),
      change([](TWaveFormat& f) { f.avgBytesPerSec = 3; }),           // less than two frames in two seconds
      change([](TWaveFormat& f) { f.avgBytesPerSec = 4000000000u; }), // a broken header, not 15 GB of buffer
  };
  TOfflineRig rig;
  for (const TWaveFormat& format : bad)
    EXPECT_FALSE(rig.device->CreateBuffer(format));
  EXPECT_EQ(rig.device->Mixer().BufferCount(), 0);
}

TEST(WaveOutBuffer, TheFirstFillHandsThreeQuartersAndPlaysFromTheStart) {
  TOfflineRig rig;
  auto buffer = rig.device->CreateBuffer(StandardWaveFormat());
  std::vector<uint32_t> fills;
  buffer->OnFirstFill = [&](TWaveOutBuffer& b, uint8_t*, uint32_t bytes) {
    EXPECT_EQ(&b, buffer.get());
    fills.push_back(bytes);
    EXPECT_EQ(b.GetQueuedBytes(), kStandardSize) << "play position and block end both at 0";
  };
  EXPECT_FALSE(rig.Buffer(buffer).SoundBuffer().IsPlaying());
  buffer->Start();
  EXPECT_EQ(fills, std::vector<uint32_t>{264600});
  EXPECT_EQ(rig.Buffer(buffer).WritePosition(), 264600u);
  EXPECT_TRUE(rig.Buffer(buffer).SoundBuffer().IsPlaying());
  buffer->Start();
  rig.host.Advance(1000);
  EXPECT_EQ(fills.size(), 1u) << "a second Start changes nothing";
}

TEST(WaveOutBuffer, PlaysTheRefilledStreamWithoutGapsRepeatsOrOverwrites) {
  TOfflineRig rig;
  auto buffer = rig.device->CreateBuffer(StandardWaveFormat());
  TNumberedFrames source;
  buffer->OnFirstFill = [&](TWaveOutBuffer&, uint8_t* data, uint32_t bytes) { source.Fill(data, bytes); };
  buffer->OnRefill = buffer->OnFirstFill;
  buffer->Start();
  rig.host.Advance(5000); // two and a half turns of the buffer
  const std::vector<int16_t> recorded = rig.output.Recorded();
  ASSERT_EQ(recorded.size(), 5000u * 441 / 10 * 2);
  EXPECT_EQ(FirstMismatch(recorded), -1);
}

TEST(WaveOutBuffer, RefillsEveryHundredMsUpToHalfASecondEndingAtThePlayPosition) {
  TOfflineRig rig;
  auto buffer = rig.device->CreateBuffer(StandardWaveFormat());
  std::vector<std::pair<int64_t, uint32_t>> refills;
  buffer->OnRefill = [&](TWaveOutBuffer&, uint8_t*, uint32_t bytes) {
    refills.emplace_back(rig.host.Clock().NowMs(), bytes);
  };
  buffer->Start();
  rig.host.Advance(500);
  // At 100 ms the free space is 105840 bytes (a half second is less); at 200 ms it ends at the play
  // position (200 ms = 35280 bytes); from then on each refill is the 100 ms just played.
  EXPECT_EQ(refills, (std::vector<std::pair<int64_t, uint32_t>>{
                         {100, 88200}, {200, 35280}, {300, 17640}, {400, 17640}, {500, 17640}}));
}

TEST(WaveOutBuffer, EveryRefillIsTheFreeSpaceUpToHalfASecondSplitAtTheBufferEnd) {
  TOfflineRig rig(false);
  auto buffer = rig.device->CreateBuffer(StandardWaveFormat());
  auto& mixed = rig.Buffer(buffer);
  struct TRegion {
    uint32_t bytes, queued;
  };
  std::vector<TRegion> regions;
  buffer->OnRefill = [&](TWaveOutBuffer& b, uint8_t*, uint32_t bytes) {
    regions.push_back({bytes, b.GetQueuedBytes()});
  };
  buffer->Start();
  auto forward = [](uint32_t a, uint32_t b) { return b >= a ? b - a : kStandardSize - a + b; };
  uint32_t random = 12345;
  int splits = 0, full = 0;
  for (int round = 0; round < 300; ++round) {
    random = random * 1103515245u + 12345u;
    rig.output.AdvanceFrames((random >> 8) % 4 == 0 ? 0 : (random >> 12) % 30000);
    uint32_t play = 0;
    mixed.SoundBuffer().GetCurrentPosition(&play, nullptr);
    const uint32_t before = mixed.WritePosition();
    regions.clear();
    rig.host.Advance(100); // one refill step; the play position stays
    const uint32_t block = play == before ? 0 : std::min(forward(before, play), 88200u);
    const uint32_t end = (before + block) % kStandardSize;
    EXPECT_EQ(mixed.WritePosition(), end) << round;
    if (block == 0) {
      EXPECT_TRUE(regions.empty());
      ++full;
      continue;
    }
    if (before + block > kStandardSize) {
      ++splits;
      ASSERT_EQ(regions.size(), 2u) << round;
      EXPECT_EQ(regions[0].bytes, kStandardSize - before);
      EXPECT_EQ(regions[1].bytes, end);
      // Both regions count the whole block as queued, the second one included.
      EXPECT_EQ(regions[0].queued, play == end ? kStandardSize : forward(play, end));
      EXPECT_EQ(regions[1].queued, regions[0].queued);
    } else {
      ASSERT_EQ(regions.size(), 1u) << round;
      EXPECT_EQ(regions[0].bytes, block);
      EXPECT_EQ(regions[0].queued, play == end ? kStandardSize : forward(play, end)) << "equal is full";
    }
  }
  EXPECT_GT(splits, 5);
  EXPECT_GT(full, 5);
}

TEST(WaveOutBuffer, PlayedTimeFollowsThePlayPositionInExactMillisecondsAndEachTurnAddsTwoSeconds) {
  struct TFormat {
    uint32_t rate;
    uint16_t channels, bits;
  };
  // 11025 Hz mono 8-bit: 11025 / 100 in integers would make a second 1002.27 ms, 22 frames off; 50 Hz
  // would divide by 0.
  const TFormat formats[] = {{44100, 2, 16}, {22050, 1, 16}, {11025, 1, 8}, {48000, 2, 16}, {50, 1, 8}};
  const std::pair<int64_t, double> expected[] = {{50, 0},      {1000, 1000}, {1050, 1050}, {1999, 1999},
                                                 {2000, 2000}, {2100, 2100}, {4300, 4300}};
  for (const TFormat& f : formats) {
    TOfflineRig rig;
    auto buffer = rig.device->CreateBuffer(PcmFormat(f.rate, f.channels, f.bits));
    ASSERT_TRUE(buffer);
    buffer->Start();
    for (const auto& [at, played] : expected) {
      rig.host.Advance(at - rig.host.Clock().NowMs());
      // Exact up to the frame being played (a whole number of frames need not fit into at ms).
      EXPECT_NEAR(buffer->GetPlayedTime(), played, 1000.0 / f.rate) << f.rate << " Hz at " << at << " ms";
    }
  }
}

TEST(WaveOutBuffer, ARewriteBeginsTwentyFiveMsPastTheWriteCursorAndEndsAtTheWritePosition) {
  // d: frames from the write cursor to the write position. The margin is 1102 frames (25 ms in whole
  // frames); the write cursor is 441 frames (one mix period) past the play position.
  struct TCase {
    int d;
    uint32_t rewritten;
  };
  const TCase cases[] = {
      {1103, 4},                 // one frame beyond the margin
      {5000, (5000 - 1102) * 4}, // the queued sound beyond the margin
      {1102, 0},                 // exactly 25 ms ahead: nothing
      {1101, 0},
      {500, 0},  // less than 25 ms past the cursor: nothing, not the whole buffer round to it
      {-200, 0}, // the write position already behind the cursor
  };
  for (const TCase& c : cases) {
    TOfflineRig rig(false);
    auto buffer = rig.device->CreateBuffer(StandardWaveFormat());
    auto& mixed = rig.Buffer(buffer);
    std::vector<uint32_t> rewrites;
    buffer->OnRewrite = [&](TWaveOutBuffer& b, uint8_t*, uint32_t bytes) {
      rewrites.push_back(bytes);
      EXPECT_EQ(b.GetQueuedBytes(), (441u + 1102u) * 4) << "measured to the region's start";
    };
    buffer->Start();
    const int64_t written = mixed.WritePosition() / 4;
    rig.output.AdvanceFrames(written - 441 - c.d);
    uint32_t play = 0, cursor = 0;
    mixed.SoundBuffer().GetCurrentPosition(&play, &cursor);
    ASSERT_EQ(cursor, play + 441 * 4);
    buffer->RewriteQueued();
    EXPECT_EQ(rig.host.RunReady(), 1);
    // Every request is answered once, with no bytes when nothing can be rewritten.
    ASSERT_EQ(rewrites.size(), 1u) << c.d;
    EXPECT_EQ(rewrites[0], c.rewritten) << c.d;
  }
}

TEST(WaveOutBuffer, ARewriteFadesOnlySoundThatHasNotBeenMixedYet) {
  TOfflineRig rig;
  auto buffer = rig.device->CreateBuffer(StandardWaveFormat());
  TNumberedFrames source;
  buffer->OnFirstFill = [&](TWaveOutBuffer&, uint8_t* data, uint32_t bytes) { source.Fill(data, bytes); };
  buffer->OnRefill = buffer->OnFirstFill;
  std::vector<uint32_t> rewrites;
  buffer->OnRewrite = [&](TWaveOutBuffer&, uint8_t* data, uint32_t bytes) {
    rewrites.push_back(bytes);
    std::fill(data, data + bytes, 0);
  };
  buffer->Start();
  rig.host.Advance(500);
  buffer->RewriteQueued();
  rig.host.Advance(2500);
  // At 501 ms the play position is frame 22094, the write cursor 441 frames on, the rewrite starts 1102
  // frames later (23637) and runs round the buffer to the write position of the 500 ms refill (frame
  // 22050 of the next turn, 110250 in all).
  EXPECT_EQ(rewrites, (std::vector<uint32_t>{(88200 - 23637) * 4, 22050 * 4}));
  const std::vector<int16_t> recorded = rig.output.Recorded();
  ASSERT_EQ(recorded.size(), 3000u * 441 / 10 * 2);
  for (size_t n = 0; n < recorded.size() / 2; ++n) {
    const bool faded = n >= 23637 && n < 110250;
    const int16_t left = faded ? 0 : TNumberedFrames::Left(static_cast<int64_t>(n));
    if (recorded[2 * n] != left) {
      ADD_FAILURE() << "frame " << n << " is " << recorded[2 * n] << ", expected " << left;
      break;
    }
  }
}

TEST(WaveOutBuffer, VolumeIsSixHundredTimesLog2InHundredthsOfADecibelAndGetVolumeItsInverse) {
  struct TSet {
    float volume;
    int32_t attenuation;
    float readBack;
  };
  const TSet sets[] = {
      {0.0f, -10000, 0.0f},   {0.5f, -600, 0.5f},    {1.0f, 0, 1.0f},
      {2.0f, 0, 2.0f},        {0.25f, -1200, 0.25f}, {0.1f, -1993, 0.1f},
      {1e-6f, -10000, 1e-6f}, {-1.0f, -10000, 0.0f}, // a negative volume is not kept: the buffer's is read
                                                     // back
  };
  TOfflineRig rig;
  for (const TSet& s : sets) {
    auto buffer = rig.device->CreateBuffer(StandardWaveFormat());
    buffer->SetVolume(s.volume);
    int32_t attenuation = 1;
    rig.Buffer(buffer).SoundBuffer().GetVolume(attenuation);
    EXPECT_EQ(attenuation, s.attenuation) << s.volume;
    EXPECT_FLOAT_EQ(buffer->GetVolume(), s.readBack) << s.volume;
  }
  const std::pair<int32_t, float> reads[] = {
      {0, 1.0f}, {-600, 0.5f}, {-1200, 0.25f}, {-10000, 0.0f}, {-300, static_cast<float>(std::sqrt(0.5))}};
  for (const auto& [attenuation, volume] : reads) {
    auto buffer = rig.device->CreateBuffer(StandardWaveFormat());
    rig.Buffer(buffer).SoundBuffer().SetVolume(attenuation);
    EXPECT_FLOAT_EQ(buffer->GetVolume(), volume) << attenuation;
  }
}

TEST(WaveOutBuffer, ABufferLostBeforePlayingIsRestoredAndPlayedTenMsLater) {
  TOfflineRig rig;
  auto buffer = rig.device->CreateBuffer(StandardWaveFormat());
  auto& mixed = rig.Buffer(buffer);
  TNumberedFrames source;
  buffer->OnFirstFill = [&](TWaveOutBuffer&, uint8_t* data, uint32_t bytes) {
    source.Fill(data, bytes);
    mixed.SoundBuffer().MarkLost();
  };
  std::vector<int64_t> refills;
  buffer->OnRefill = [&](TWaveOutBuffer&, uint8_t* data, uint32_t bytes) {
    refills.push_back(rig.host.Clock().NowMs());
    source.Fill(data, bytes);
  };
  buffer->Start();
  EXPECT_FALSE(mixed.SoundBuffer().IsPlaying());
  rig.host.Advance(9);
  EXPECT_FALSE(mixed.SoundBuffer().IsPlaying());
  rig.host.Advance(1);
  EXPECT_TRUE(mixed.SoundBuffer().IsPlaying());
  rig.host.Advance(300);
  EXPECT_EQ(refills, (std::vector<int64_t>{110, 210, 310})) << "back to 100 ms once playing";
  // Silence up to the 10 ms tick, then the first fill from its first frame.
  std::vector<int16_t> recorded = rig.output.Recorded();
  for (size_t i = 0; i < 441 * 2; ++i)
    ASSERT_EQ(recorded[i], 0) << i;
  recorded.erase(recorded.begin(), recorded.begin() + 441 * 2);
  EXPECT_EQ(FirstMismatch(recorded), -1);
}

TEST(WaveOutBuffer, CallsIntoTheSoundLayerAreBracketedInTheLogAndFailuresMarked) {
  const std::string path = (kivtest::FreshTempDir("sound-log") / "sound.log").string();
  ASSERT_TRUE(InstallFileLog(path));
  {
    TOfflineRig rig;
    auto buffer = rig.device->CreateBuffer(StandardWaveFormat());
    buffer->OnFirstFill = [&](TWaveOutBuffer&, uint8_t*, uint32_t) {
      rig.Buffer(buffer).SoundBuffer().MarkLost();
    };
    buffer->Start();
  }
  CloseLog();
  std::ifstream file(path, std::ios::binary);
  std::stringstream text;
  text << file.rdbuf();
  std::vector<std::string> lines;
  for (std::string line; std::getline(text, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.find("TSoundBuffer.Play") != std::string::npos ||
        line.find("TSoundBuffer.Restore") != std::string::npos)
      lines.push_back(line.substr(0, line.find(" (MixerWaveOutBuffer.cpp:")));
  }
  EXPECT_EQ(lines, (std::vector<std::string>{"-> TSoundBuffer.Play", "<- TSoundBuffer.Play",
                                             "!!! buffer lost from TSoundBuffer.Play",
                                             "-> TSoundBuffer.Restore", "<- TSoundBuffer.Restore"}));
}

TEST(WaveOutBuffer, ACallbackThatRaisesSilencesItsBufferForGood) {
  TOfflineRig rig;
  auto buffer = rig.device->CreateBuffer(StandardWaveFormat());
  int refills = 0;
  buffer->OnRefill = [&](TWaveOutBuffer&, uint8_t*, uint32_t) {
    ++refills;
    throw std::runtime_error("decoder failed");
  };
  buffer->Start();
  rig.host.Advance(500);
  EXPECT_EQ(refills, 1);
  EXPECT_FALSE(rig.Buffer(buffer).SoundBuffer().IsPlaying());
}

TEST(WaveOutBuffer, FreeingAPlayingBufferEndsItsWorkerAndLeavesTheMixer) {
  TOfflineRig rig;
  auto buffer = rig.device->CreateBuffer(StandardWaveFormat());
  auto unstarted = rig.device->CreateBuffer(StandardWaveFormat());
  buffer->Start();
  rig.host.Advance(250);
  EXPECT_EQ(rig.host.WorkerCount(), 1);
  EXPECT_EQ(rig.device->Mixer().BufferCount(), 2);
  buffer.reset();
  unstarted.reset();
  EXPECT_EQ(rig.host.WorkerCount(), 0);
  EXPECT_EQ(rig.device->Mixer().BufferCount(), 0);
  rig.host.Advance(250);
}

} // namespace
} // namespace kiv

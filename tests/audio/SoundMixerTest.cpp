// The software mixer: resampling, volume, sums, locked regions and cursors.

#include "SoundMixer.h"

#include "SoundTestRig.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace kiv {
namespace {

using soundtest::PcmFormat;

std::unique_ptr<TSoundBuffer> BufferOf(TSoundMixer& mixer, const TWaveFormat& format,
                                       const std::vector<int16_t>& samples) {
  auto buffer = mixer.CreateBuffer(format, static_cast<uint32_t>(samples.size() * 2));
  EXPECT_TRUE(buffer);
  TSoundRegions regions;
  EXPECT_EQ(buffer->Lock(0, buffer->Size(), regions), TSoundResult::Ok);
  std::memcpy(regions.data1, samples.data(), regions.bytes1);
  EXPECT_EQ(buffer->Unlock(regions), TSoundResult::Ok);
  return buffer;
}

std::vector<int16_t> MixFrames(TSoundMixer& mixer, int frames) {
  std::vector<int16_t> out(static_cast<size_t>(frames) * 2);
  mixer.Mix(out.data(), frames);
  return out;
}

std::vector<int16_t> Lefts(const std::vector<int16_t>& stereo) {
  std::vector<int16_t> left;
  for (size_t i = 0; i < stereo.size(); i += 2)
    left.push_back(stereo[i]);
  return left;
}

TEST(SoundMixer, ResamplesEveryBufferLinearlyFromItsOwnRate) {
  struct TCase {
    uint32_t rate;
    std::vector<int16_t> expected;
  };
  const TCase cases[] = {
      {44100, {0, 1000, 2000, 3000, 4000, 5000}},
      {22050, {0, 500, 1000, 1500, 2000, 2500}},
      {11025, {0, 250, 500, 750, 1000, 1250}},
      {88200, {0, 2000, 4000, 6000, 8000, 10000}},
  };
  for (const TCase& c : cases) {
    auto mixer = TSoundMixer::Create();
    std::vector<int16_t> ramp;
    for (int i = 0; i < 64; ++i)
      ramp.push_back(static_cast<int16_t>(i * 1000));
    auto buffer = BufferOf(*mixer, PcmFormat(c.rate, 1, 16), ramp);
    ASSERT_EQ(buffer->Play(true), TSoundResult::Ok);
    const std::vector<int16_t> out = MixFrames(*mixer, 6);
    EXPECT_EQ(Lefts(out), c.expected) << c.rate << " Hz";
    for (size_t i = 0; i < out.size(); i += 2)
      EXPECT_EQ(out[i], out[i + 1]) << "mono goes to both sides";
  }
}

TEST(SoundMixer, VolumeInHundredthsOfADecibelIsAGainOfTenToVOverTwoThousand) {
  struct TCase {
    int32_t volume;
    int32_t stored;
    int16_t sample;
  };
  const TCase cases[] = {
      {0, 0, 20000},        {-600, -600, 10024}, // 20000 * 10^-0.3 = 10023.7
      {-2000, -2000, 2000}, {-10000, -10000, 0}, {300, 0, 20000}, {-20000, -10000, 0},
  };
  for (const TCase& c : cases) {
    auto mixer = TSoundMixer::Create();
    auto buffer = BufferOf(*mixer, PcmFormat(44100, 1, 16), std::vector<int16_t>(64, 20000));
    ASSERT_EQ(buffer->SetVolume(c.volume), TSoundResult::Ok);
    int32_t stored = 1;
    buffer->GetVolume(stored);
    EXPECT_EQ(stored, c.stored);
    buffer->Play(true);
    EXPECT_EQ(MixFrames(*mixer, 1)[0], c.sample) << c.volume;
  }
}

TEST(SoundMixer, SumsThePlayingBuffersAndClampsToSixteenBits) {
  struct TCase {
    int16_t a, b, sum;
  };
  const TCase cases[] = {{1000, 2000, 3000}, {30000, 30000, 32767}, {-30000, -30000, -32768}, {-5, 5, 0}};
  for (const TCase& c : cases) {
    auto mixer = TSoundMixer::Create();
    auto a = BufferOf(*mixer, PcmFormat(44100, 1, 16), std::vector<int16_t>(64, c.a));
    auto b = BufferOf(*mixer, PcmFormat(44100, 1, 16), std::vector<int16_t>(64, c.b));
    auto stopped = BufferOf(*mixer, PcmFormat(44100, 1, 16), std::vector<int16_t>(64, 7));
    a->Play(true);
    b->Play(true);
    EXPECT_EQ(MixFrames(*mixer, 1)[0], c.sum);
  }
}

TEST(SoundMixer, EightBitAndStereoFramesKeepTheirSides) {
  auto mixer = TSoundMixer::Create();
  auto stereo = BufferOf(*mixer, PcmFormat(44100, 2, 16), std::vector<int16_t>{100, -200, 300, -400});
  auto eight = mixer->CreateBuffer(PcmFormat(44100, 2, 8), 4);
  TSoundRegions regions;
  ASSERT_EQ(eight->Lock(0, 4, regions), TSoundResult::Ok);
  const uint8_t bytes[4] = {0xC0, 0x40, 0x80, 0x81};
  std::memcpy(regions.data1, bytes, 4);
  eight->Unlock(regions);
  stereo->Play(true);
  eight->Play(true);
  EXPECT_EQ(MixFrames(*mixer, 2),
            (std::vector<int16_t>{100 + 64 * 256, -200 - 64 * 256, 300 + 0, -400 + 256}));
}

TEST(SoundMixer, LockedRangesWrapIntoTwoRegionsAndUnlockPutsThemBack) {
  auto mixer = TSoundMixer::Create();
  auto buffer = mixer->CreateBuffer(PcmFormat(44100, 2, 16), 64);
  TSoundRegions regions;
  ASSERT_EQ(buffer->Lock(48, 32, regions), TSoundResult::Ok);
  EXPECT_EQ(regions.bytes1, 16u);
  EXPECT_EQ(regions.bytes2, 16u);
  TSoundRegions again;
  EXPECT_EQ(buffer->Lock(0, 4, again), TSoundResult::Busy);
  std::memset(regions.data1, 0x11, regions.bytes1);
  std::memset(regions.data2, 0x22, regions.bytes2);
  ASSERT_EQ(buffer->Unlock(regions), TSoundResult::Ok);
  ASSERT_EQ(buffer->Lock(0, 64, regions), TSoundResult::Ok);
  EXPECT_EQ(regions.bytes2, 0u);
  std::vector<uint8_t> content(regions.data1, regions.data1 + 64);
  buffer->Unlock(regions);
  for (int i = 0; i < 64; ++i)
    EXPECT_EQ(content[i], i < 16 ? 0x22 : i < 48 ? 0 : 0x11) << i;
  EXPECT_EQ(buffer->Lock(64, 4, regions), TSoundResult::Invalid);
  EXPECT_EQ(buffer->Lock(0, 65, regions), TSoundResult::Invalid);
}

TEST(SoundMixer, ALostBufferStopsAndRefusesLockAndPlayUntilRestored) {
  auto mixer = TSoundMixer::Create();
  auto buffer = BufferOf(*mixer, PcmFormat(44100, 1, 16), std::vector<int16_t>(64, 1000));
  buffer->Play(true);
  buffer->MarkLost();
  EXPECT_FALSE(buffer->IsPlaying());
  EXPECT_EQ(MixFrames(*mixer, 1)[0], 0);
  TSoundRegions regions;
  EXPECT_EQ(buffer->Lock(0, 4, regions), TSoundResult::Lost);
  EXPECT_EQ(buffer->Play(true), TSoundResult::Lost);
  EXPECT_EQ(buffer->Restore(), TSoundResult::Ok);
  EXPECT_EQ(buffer->Play(true), TSoundResult::Ok);
  EXPECT_EQ(MixFrames(*mixer, 1)[0], 1000);
}

TEST(SoundMixer, ThePlayCursorIsWhatWasMixedAndTheWriteCursorRunsOneMixPeriodAhead) {
  struct TCase {
    uint32_t rate;
    uint16_t channels;
    int mixed;
    uint32_t play, write; // bytes
  };
  // Period 441 output frames: 441 frames at 44100 Hz, 221 (rounded up) at 22050 Hz, 480 at 48000 Hz.
  const TCase cases[] = {
      {44100, 2, 100, 400, (100 + 441) * 4},
      {22050, 1, 100, 50 * 2, (50 + 221) * 2},
      {48000, 2, 441, 480 * 4, (480 + 480) * 4},
      {44100, 2, 1000 + 9, 9 * 4, (9 + 441) * 4}, // one turn of the 1000-frame ring
  };
  for (const TCase& c : cases) {
    auto mixer = TSoundMixer::Create();
    mixer->SetPeriodFrames(441);
    auto buffer = mixer->CreateBuffer(PcmFormat(c.rate, c.channels, 16), 1000u * c.channels * 2);
    uint32_t play = 1, write = 1;
    buffer->GetCurrentPosition(&play, &write);
    EXPECT_EQ(play, 0u);
    EXPECT_EQ(write, 0u) << "a stopped buffer has both cursors together";
    buffer->Play(true);
    MixFrames(*mixer, c.mixed);
    buffer->GetCurrentPosition(&play, &write);
    EXPECT_EQ(play, c.play) << c.rate;
    EXPECT_EQ(write, c.write) << c.rate;
  }
}

TEST(SoundMixer, ABufferPlayedOnceStopsAtItsEnd) {
  auto mixer = TSoundMixer::Create();
  auto buffer = BufferOf(*mixer, PcmFormat(44100, 1, 16), {10, 20, 30});
  buffer->Play(false);
  EXPECT_EQ(Lefts(MixFrames(*mixer, 5)), (std::vector<int16_t>{10, 20, 30, 0, 0}));
  EXPECT_FALSE(buffer->IsPlaying());
}

TEST(SoundMixer, RefusesFormatsItCannotPlayWithoutDividingByThem) {
  auto field = [](auto change) {
    TWaveFormat format = PcmFormat(44100, 2, 16);
    change(format);
    return format;
  };
  const TWaveFormat bad[] = {
      field([](TWaveFormat& f) { f.channels = 0; }),
      field([](TWaveFormat& f) { f.samplesPerSec = 0; }),
      field([](TWaveFormat& f) { f.avgBytesPerSec = 0; }),
      field([](TWaveFormat& f) { f.blockAlign = 0; }),
      field([](TWaveFormat& f) { f.blockAlign = 2; }),
      field([](TWaveFormat& f) { f.bitsPerSample = 24; }),
      field([](TWaveFormat& f) { f.formatTag = 3; }),
      field([](TWaveFormat& f) { f.samplesPerSec = 1u << 31; }),
  };
  auto mixer = TSoundMixer::Create();
  for (const TWaveFormat& format : bad) {
    std::string why;
    EXPECT_FALSE(mixer->CreateBuffer(format, 64, &why));
    EXPECT_FALSE(why.empty());
  }
  EXPECT_FALSE(mixer->CreateBuffer(PcmFormat(44100, 2, 16), 66)) << "no whole number of frames";
  EXPECT_EQ(mixer->BufferCount(), 0);
}

} // namespace
} // namespace kiv

// The composite converter: members at their places on the time line, cut by begin time and duration,
// shaped by their envelopes (with the automatic 10 ms fades) and the main envelopes, summed and clamped;
// seeking into a member; members opened at most five seconds ahead and closed when they end; members that
// cannot be opened skipped while the rest plays.

#include "CompositeConverter.h"
#include "ChannelTestSupport.h"
#include "Utf8Conversion.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

namespace kiv {
namespace {

using channeltest::DcWave;
using channeltest::FramesOfMs;
using channeltest::RampWave;
using channeltest::StereoFrames;
using channeltest::TMemoryFiles;
using channeltest::TMemorySource;
using channeltest::WaveFile;

struct TRendered {
  std::vector<int> left, right;
};

// The composite's mix from fromMs, `frames` frames long.
TRendered Render(TMemoryFiles& files, const TCompositeParams& composite, double fromMs, int64_t frames) {
  TMemorySource source(files);
  TCompositeConverter converter(Utf16ToUtf8(composite.ToText()), source);
  TMediaInfo info;
  composite.Describe(info);
  TRendered out;
  EXPECT_TRUE(converter.Open(info));
  converter.Seek(fromMs);
  converter.Fill(frames * 4);
  const uint8_t* data = converter.Output().Data();
  for (int64_t n = 0; n < frames; ++n) {
    int16_t s[2];
    std::memcpy(s, data + 4 * n, 4);
    out.left.push_back(s[0]);
    out.right.push_back(s[1]);
  }
  return out;
}

// Gains within one percent of 1 count as 1, envelope by envelope and for the product.
double Mixed(double gain) {
  return gain > 0.99 && gain < 1.01 ? 1.0 : gain;
}

// The automatic envelope of a member that sounds durationMs: 10 ms up from 0, 10 ms down to 0.
double Declick(int64_t frame, int64_t durationMs) {
  const int64_t end = FramesOfMs(durationMs);
  if (frame < 0 || frame > end) return 0;
  return std::min({1.0, frame / 441.0, (end - frame) / 441.0});
}

TEST(CompositeConverter, AMemberSoundsAtItsPlaceCutToItsBeginTimeAndDurationWithTenMsFades) {
  TMemoryFiles files;
  files.Add("ramp.wav", RampWave(2000));
  TCompositeParams composite;
  composite.duration = 3000;
  TCompositeItem& member = composite.AddItem("ramp.wav", 1000);
  member.beginTime = 100;
  member.duration = 500;
  const TRendered mix = Render(files, composite, 0, FramesOfMs(3000));
  const int64_t start = FramesOfMs(1000), begin = FramesOfMs(100);
  int mismatches = 0;
  for (int64_t n = 0; n < FramesOfMs(3000); ++n) {
    const int64_t m = n - start;
    const double gain = Mixed(Declick(m, 500));
    const int expected = gain == 0 ? 0 : int(std::lround(gain * ((begin + m) / 4)));
    const int expectedRight = gain == 0 ? 0 : int(std::lround(gain * -1000));
    if (std::abs(mix.left[n] - expected) > 1 || std::abs(mix.right[n] - expectedRight) > 1) {
      if (++mismatches <= 5) ADD_FAILURE() << "frame " << n << ": " << mix.left[n] << " for " << expected;
    }
  }
  EXPECT_EQ(mix.left[start], 0) << "the fade begins at 0";
  EXPECT_NE(mix.left[start + 441], 0);
  EXPECT_EQ(mix.left[start + 500 * 441 / 10 + 1], 0) << "nothing past the duration";
}

TEST(CompositeConverter, ALaterMemberIsOpenedFiveSecondsAheadAndStartsAtItsExactBytePosition) {
  TMemoryFiles files;
  files.Add("a.wav", DcWave(3000, 1000));
  files.Add("b.wav", DcWave(3000, 2000));
  TCompositeParams composite;
  composite.duration = 12000;
  composite.AddItem("a.wav", 0).duration = 2000;
  composite.AddItem("b.wav", 10000).duration = 1000;
  TMemorySource source(files);
  TCompositeConverter converter(Utf16ToUtf8(composite.ToText()), source);
  std::vector<int64_t> opensOfB;
  int mostOpen = 0;
  files.onOpen = [&](const std::string& name) {
    if (name == "b.wav") opensOfB.push_back(converter.OutputPosition());
  };
  TMediaInfo info;
  composite.Describe(info);
  ASSERT_TRUE(converter.Open(info));
  converter.Seek(0);
  std::vector<int> left;
  while (left.size() < size_t(FramesOfMs(12000))) {
    converter.Fill(40000);
    mostOpen = std::max(mostOpen, files.OpenNow());
    for (int64_t i = 0; i < 10000; ++i) {
      int16_t s;
      std::memcpy(&s, converter.Output().Data() + 4 * i, 2);
      left.push_back(s);
    }
    converter.Output().Consume(40000);
    if (left.size() == 140000) {
      EXPECT_EQ(files.OpenNow(), 0) << "a is closed after its end";
    }
  }
  // b is described and then opened in the block that takes the output past 5000 ms (882000 bytes).
  ASSERT_EQ(opensOfB.size(), 2u);
  EXPECT_EQ(opensOfB[0], 890000);
  EXPECT_EQ(opensOfB[1], 890000);
  EXPECT_EQ(mostOpen, 1) << "a and b are never open together";
  const int64_t start = FramesOfMs(10000);
  EXPECT_EQ(left[start - 1], 0);
  EXPECT_EQ(left[start], 0);
  EXPECT_EQ(left[start + 1], std::lround(2000 / 441.0));
  EXPECT_EQ(left[start + 441], 2000);
  EXPECT_EQ(left[FramesOfMs(1000)], 1000);
  EXPECT_EQ(left[FramesOfMs(2000) + 1], 0);
}

TEST(CompositeConverter, EnvelopesOfTheMemberAndOfTheWholeMultiply) {
  TMemoryFiles files;
  files.Add("dc.wav", DcWave(2000, 10000));
  TCompositeParams composite;
  composite.duration = 1000;
  TCompositeItem& member = composite.AddItem("dc.wav", 0);
  member.duration = 1000;
  TVolumeParams& down = member.volumes.Add();
  down.AddPoint(0, 1000);
  down.AddPoint(1000, 0);
  TVolumeParams& half = composite.AddMainEnvelope();
  half.AddPoint(0, 500);
  const TRendered mix = Render(files, composite, 0, FramesOfMs(1000));
  for (int64_t n :
       {int64_t(100), int64_t(441), int64_t(10000), int64_t(22050), int64_t(40000), int64_t(43600)}) {
    const double memberGain = Mixed(Mixed(Declick(n, 1000)) * Mixed(1.0 - n / 44100.0));
    const double expected = 0.5 * std::lround(memberGain * 10000);
    EXPECT_NEAR(mix.left[n], expected, 1.0) << n;
    EXPECT_NEAR(mix.right[n], -expected, 1.0) << n;
  }
}

TEST(CompositeConverter, AMainGainBelowAThousandthSilencesTheSum) {
  TMemoryFiles files;
  files.Add("dc.wav", DcWave(2000, 30000));
  TCompositeParams composite;
  composite.duration = 1000;
  composite.AddItem("dc.wav", 0).duration = 1000;
  composite.AddMainEnvelope().AddPoint(0, 0);
  const TRendered mix = Render(files, composite, 0, FramesOfMs(1000));
  EXPECT_TRUE(std::all_of(mix.left.begin(), mix.left.end(), [](int s) { return s == 0; }));
}

TEST(CompositeConverter, SumsOfFullScaleMembersAreClampedNotWrapped) {
  TMemoryFiles files;
  files.Add("loud.wav", DcWave(1000, 30000));
  TCompositeParams composite;
  composite.duration = 1000;
  composite.AddItem("loud.wav", 0).duration = 1000;
  composite.AddItem("loud.wav", 0).duration = 1000;
  const TRendered mix = Render(files, composite, 0, FramesOfMs(1000));
  EXPECT_EQ(mix.left[20000], 32767);
  EXPECT_EQ(mix.right[20000], -32768);
  // In the fades the sum passes full scale without wrapping.
  for (int64_t n = 0; n < 441; ++n)
    EXPECT_EQ(mix.left[n], std::min<long>(32767, 2 * std::lround(30000 * n / 441.0))) << n;
}

TEST(CompositeConverter, SeekingIntoAMemberStartsItAtBeginTimePlusTheOffsetWithItsEnvelopeThere) {
  TMemoryFiles files;
  files.Add("ramp.wav", RampWave(6000, 16));
  TCompositeParams composite;
  composite.duration = 8000;
  TCompositeItem& member = composite.AddItem("ramp.wav", 2000);
  member.beginTime = 300;
  member.duration = 3000;
  TVolumeParams& rise = member.volumes.Add();
  rise.AddPoint(0, 0);
  rise.AddPoint(3000, 1000);
  const struct { double from; } cases[] = {{3500}, {2000}, {4990}, {2005}};
  for (const auto& c : cases) {
    const TRendered mix = Render(files, composite, c.from, 1000);
    for (int64_t k : {int64_t(0), int64_t(1), int64_t(500), int64_t(999)}) {
      const int64_t m = FramesOfMs(int64_t(c.from)) - FramesOfMs(2000) + k;
      const double gain = Mixed(Mixed(Declick(m, 3000)) * Mixed(m / double(FramesOfMs(3000))));
      const double expected = gain * double((FramesOfMs(300) + m) / 16);
      EXPECT_NEAR(mix.left[k], expected, 1.0) << c.from << " +" << k;
    }
  }
}

TEST(CompositeConverter, AMemberOfDurationZeroPlaysToTheEndOfItsFile) {
  TMemoryFiles files;
  files.Add("short.wav", RampWave(300));
  TCompositeParams composite;
  composite.duration = 1000;
  composite.AddItem("short.wav", 100); // duration 0
  const TRendered mix = Render(files, composite, 0, FramesOfMs(1000));
  const int64_t start = FramesOfMs(100);
  // Faded in, then at full level up to the file's last frame, then silent.
  EXPECT_EQ(mix.left[start + 6000], 1500);
  EXPECT_EQ(mix.left[start + FramesOfMs(300) - 1], (FramesOfMs(300) - 1) / 4);
  EXPECT_EQ(mix.left[start + FramesOfMs(300) + 10], 0);
  EXPECT_EQ(mix.left[FramesOfMs(900)], 0);
}

TEST(CompositeConverter, AMemberOfDurationZeroIsJudgedByItsFilesLengthWhenSeeking) {
  // A long file at 8 kHz mono: the member still sounds 15 s in.
  TMemoryFiles files;
  std::vector<int16_t> samples(30 * 8000, 4000);
  files.Add("long.wav", WaveFile(samples, 1, 8000));
  TCompositeParams composite;
  composite.duration = 60000;
  composite.AddItem("long.wav", 0);
  const TRendered mix = Render(files, composite, 15000, 2000);
  EXPECT_NEAR(mix.left[1000], 4000, 1);
  EXPECT_NEAR(mix.right[1000], 4000, 1);
  // Past its end plus the margin it is finished without being opened.
  TMemorySource source(files);
  TCompositeConverter converter(Utf16ToUtf8(composite.ToText()), source);
  TMediaInfo info;
  composite.Describe(info);
  ASSERT_TRUE(converter.Open(info));
  converter.Seek(40000); // 30 s of file and 10 s of margin
  EXPECT_EQ(converter.Finished().size(), 1u);
  EXPECT_EQ(files.OpenNow(), 0);
}

TEST(CompositeConverter, AMemberThatCannotBeOpenedIsSkippedAndLaterMembersStillPlay) {
  TMemoryFiles files;
  files.Add("b.wav", DcWave(1000, 3000));
  TCompositeParams composite;
  composite.duration = 10000;
  composite.AddItem("missing.wav", 0).duration = 1000;
  composite.AddItem("b.wav", 8000).duration = 500;
  const TRendered mix = Render(files, composite, 0, FramesOfMs(10000));
  EXPECT_EQ(mix.left[FramesOfMs(500)], 0);
  EXPECT_EQ(mix.left[FramesOfMs(8000) + 1000], 3000);
  EXPECT_EQ(files.OpenNow(), 0);
}

TEST(CompositeConverter, AMemberAppearingLateJoinsWhereTheMixStands) {
  TMemoryFiles files;
  files.Add("a.wav", DcWave(100, 1));
  TCompositeParams composite;
  composite.duration = 4000;
  composite.AddItem("late.wav", 1000).duration = 2000;
  composite.AddItem("a.wav", 0).duration = 100;
  TMemorySource source(files);
  TCompositeConverter converter(Utf16ToUtf8(composite.ToText()), source);
  TMediaInfo info;
  composite.Describe(info);
  ASSERT_TRUE(converter.Open(info));
  converter.Seek(0);
  converter.Fill(FramesOfMs(1500) * 4);
  converter.Output().Clear();
  files.Add("late.wav", DcWave(3000, 5000));
  converter.Fill(FramesOfMs(1000) * 4);
  ASSERT_EQ(converter.Playing().size(), 1u);
  int16_t s;
  std::memcpy(&s, converter.Output().Data() + 4 * FramesOfMs(500), 2);
  EXPECT_EQ(s, 5000);
}

TEST(CompositeConverter, TheLastBlockReportsTheEnd) {
  TMemoryFiles files;
  files.Add("a.wav", DcWave(2000, 100));
  TCompositeParams composite;
  composite.duration = 1000; // 176400 bytes: the 18th block passes it
  composite.AddItem("a.wav", 0);
  TMemorySource source(files);
  TCompositeConverter converter(Utf16ToUtf8(composite.ToText()), source);
  TMediaInfo info;
  composite.Describe(info);
  ASSERT_TRUE(converter.Open(info));
  converter.Seek(0);
  TLocalBuffer unused;
  int blocks = 0;
  while (converter.Convert(unused))
    ++blocks;
  EXPECT_EQ(blocks, 17);
  EXPECT_EQ(converter.OutputPosition(), 180000);
}

} // namespace
} // namespace kiv

// The resampler to the output format: how many frames a block gives, blocks of any size joining without a
// seam, how each source width is read, 5.1 folding and the interpolation itself.

#include "PcmResampler.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <vector>

using namespace kiv;

namespace {

TWaveFormat Pcm(uint32_t rate, uint16_t channels, uint16_t bits, uint16_t tag = 1) {
  TWaveFormat f;
  f.formatTag = tag;
  f.channels = channels;
  f.samplesPerSec = rate;
  f.bitsPerSample = bits;
  f.blockAlign = static_cast<uint16_t>(channels * bits / 8);
  f.avgBytesPerSec = rate * f.blockAlign;
  return f;
}

std::vector<uint8_t> Resampled(TPcmResampler& r, const std::vector<uint8_t>& input) {
  std::vector<uint8_t> out(static_cast<size_t>(r.OutputSize(int64_t(input.size()))));
  const int64_t written = r.Resample(input.data(), int64_t(input.size()), out.data());
  EXPECT_EQ(written, int64_t(out.size())) << "OutputSize must be what Resample writes";
  out.resize(static_cast<size_t>(written));
  return out;
}

std::vector<int16_t> AsSamples(const std::vector<uint8_t>& bytes) {
  std::vector<int16_t> s(bytes.size() / 2);
  std::memcpy(s.data(), bytes.data(), s.size() * 2);
  return s;
}

std::vector<uint8_t> Sine16(int frames, int channels, double cyclesPerFrame, double amplitude) {
  std::vector<uint8_t> bytes;
  for (int i = 0; i < frames; ++i)
    for (int c = 0; c < channels; ++c) {
      const int16_t v = static_cast<int16_t>(std::lrint(amplitude * std::sin(2 * M_PI * cyclesPerFrame * i) *
                                                        (c == 0 ? 1.0 : -0.5)));
      bytes.push_back(uint8_t(v));
      bytes.push_back(uint8_t(uint16_t(v) >> 8));
    }
  return bytes;
}

struct TLengthCase {
  uint32_t from, to;
  int64_t frames, expected;
};

class ResamplerLength : public testing::TestWithParam<TLengthCase> {};

TEST_P(ResamplerLength, OneSecondOfInputGivesOneSecondOfOutput) {
  const TLengthCase c = GetParam();
  TPcmResampler r;
  r.SetSource(Pcm(c.from, 2, 16));
  r.SetTarget(Pcm(c.to, 2, 16));
  ASSERT_TRUE(r.IsReady());
  EXPECT_EQ(r.OutputSize(c.frames * 4), c.expected * 4);
  // However the input is cut, the total is the same.
  std::mt19937 random(c.from);
  int64_t total = 0;
  for (int64_t left = c.frames; left > 0;) {
    const int64_t block = std::min<int64_t>(left, std::uniform_int_distribution<int64_t>(1, 3000)(random));
    std::vector<uint8_t> input(static_cast<size_t>(block * 4));
    total += int64_t(Resampled(r, input).size()) / 4;
    left -= block;
  }
  EXPECT_EQ(total, c.expected);
}

INSTANTIATE_TEST_SUITE_P(Rates, ResamplerLength,
                         testing::Values(TLengthCase{48000, 44100, 48000, 44100},
                                         TLengthCase{44100, 44100, 44100, 44100},
                                         TLengthCase{22050, 44100, 22050, 44100},
                                         TLengthCase{8000, 44100, 8000, 44100},
                                         TLengthCase{96000, 44100, 96000, 44100},
                                         TLengthCase{11025, 44100, 11025, 44100},
                                         // Not whole seconds: ceil(frames * to / from).
                                         TLengthCase{48000, 44100, 1000, 919},
                                         TLengthCase{32000, 44100, 7, 10}));

TEST(Resampler, BlocksOfAnySizeJoinWithoutASeam) {
  const TWaveFormat source = Pcm(48000, 2, 16);
  const TWaveFormat target = Pcm(44100, 2, 16);
  const std::vector<uint8_t> input = Sine16(20000, 2, 997.0 / 48000, 20000);
  TPcmResampler whole;
  whole.SetSource(source);
  whole.SetTarget(target);
  const std::vector<uint8_t> expected = Resampled(whole, input);

  TPcmResampler pieces;
  pieces.SetSource(source);
  pieces.SetTarget(target);
  std::mt19937 random(7);
  std::vector<uint8_t> joined;
  for (size_t at = 0; at < input.size();) {
    const size_t frames = std::uniform_int_distribution<size_t>(1, 700)(random);
    const size_t bytes = std::min(frames * 4, input.size() - at);
    const std::vector<uint8_t> block(input.begin() + std::ptrdiff_t(at), input.begin() + std::ptrdiff_t(at + bytes));
    const std::vector<uint8_t> out = Resampled(pieces, block);
    joined.insert(joined.end(), out.begin(), out.end());
    at += bytes;
  }
  EXPECT_EQ(joined, expected);
}

TEST(Resampler, ResetForgetsTheCarriedFrames) {
  TPcmResampler r;
  r.SetSource(Pcm(44100, 1, 16));
  r.SetTarget(Pcm(44100, 2, 16));
  Resampled(r, {0x00, 0x40, 0x00, 0x40});
  r.Reset();
  // After a reset the first output frame is the silent history again, not the last input.
  const std::vector<int16_t> out = AsSamples(Resampled(r, {0x10, 0x00}));
  ASSERT_EQ(out.size(), 2u);
  EXPECT_EQ(out[0], 0);
  EXPECT_EQ(out[1], 0);
}

TEST(Resampler, AtTheSameRateTheOutputIsTheInputOneFrameLate) {
  TPcmResampler r;
  r.SetSource(Pcm(44100, 1, 16));
  r.SetTarget(Pcm(44100, 2, 16));
  const std::vector<uint8_t> input = Sine16(500, 1, 0.013, 30000);
  const std::vector<int16_t> in = AsSamples(input);
  const std::vector<int16_t> out = AsSamples(Resampled(r, input));
  ASSERT_EQ(out.size(), 2 * in.size());
  EXPECT_EQ(out[0], 0);
  EXPECT_EQ(out[1], 0);
  for (size_t j = 1; j < in.size(); ++j) {
    ASSERT_EQ(out[2 * j], in[j - 1]) << j;
    ASSERT_EQ(out[2 * j + 1], in[j - 1]) << j; // mono goes to both sides at full level
  }
}

struct TSampleCase {
  const char* what;
  TWaveFormat source;
  std::vector<uint8_t> frame;
  int16_t left, right;
};

class ResamplerReads : public testing::TestWithParam<TSampleCase> {};

// At the same rate the second output frame is the first input frame as the working values read it.
TEST_P(ResamplerReads, SourceSamplesBecomeSixteenBitValues) {
  const TSampleCase& c = GetParam();
  TPcmResampler r;
  r.SetSource(c.source);
  r.SetTarget(Pcm(c.source.samplesPerSec, 2, 16));
  ASSERT_TRUE(r.IsReady()) << c.what;
  std::vector<uint8_t> input = c.frame;
  input.insert(input.end(), c.frame.begin(), c.frame.end());
  const std::vector<int16_t> out = AsSamples(Resampled(r, input));
  ASSERT_EQ(out.size(), 4u) << c.what;
  EXPECT_EQ(out[2], c.left) << c.what;
  EXPECT_EQ(out[3], c.right) << c.what;
}

std::vector<uint8_t> FloatBytes(std::vector<float> values) {
  std::vector<uint8_t> b(values.size() * 4);
  std::memcpy(b.data(), values.data(), b.size());
  return b;
}

INSTANTIATE_TEST_SUITE_P(
    Widths, ResamplerReads,
    testing::Values(
        TSampleCase{"8-bit zero is the most negative", Pcm(44100, 1, 8), {0x00}, -32768, -32768},
        TSampleCase{"8-bit 255", Pcm(44100, 1, 8), {0xFF}, 32512, 32512},
        TSampleCase{"8-bit stereo", Pcm(44100, 2, 8), {0x80, 0xC0}, 0, 16384},
        TSampleCase{"24-bit keeps its top 16 bits", Pcm(44100, 1, 24), {0x56, 0x34, 0x12}, 0x1234, 0x1234},
        TSampleCase{"24-bit negative", Pcm(44100, 2, 24), {0xFF, 0xFF, 0xFF, 0x00, 0x00, 0x80}, -1, -32768},
        TSampleCase{"32-bit PCM is integer", Pcm(44100, 1, 32), {0x00, 0x00, 0xFF, 0x7F}, 32767, 32767},
        TSampleCase{"32-bit PCM negative", Pcm(44100, 1, 32), {0xFF, 0xFF, 0x00, 0xC0}, -16384, -16384},
        TSampleCase{"float half", Pcm(44100, 2, 32, 3), FloatBytes({0.5f, -1.0f}), 16384, -32767},
        TSampleCase{"float beyond full scale is clamped", Pcm(44100, 2, 32, 3), FloatBytes({2.0f, -3.0f}), 32767,
                    -32768},
        TSampleCase{"float NaN is silence", Pcm(44100, 1, 32, 3), FloatBytes({std::nanf("")}), 0, 0}));

TEST(Resampler, SurroundFoldsByPlainSumsAndClamps) {
  const TWaveFormat source = Pcm(44100, 6, 16);
  struct TCase {
    int16_t s[6];
    int16_t left, right;
  } cases[] = {
      {{1, 2, 3, 4, 5, 6}, 1 + 2 + 4 + 6, 2 + 3 + 5 + 6},
      {{100, -50, 7, 0, -7, 1000}, 100 - 50 + 0 + 1000, -50 + 7 - 7 + 1000},
      {{20000, 20000, 0, 0, 0, 0}, 32767, 20000},
      {{-20000, -20000, -20000, 0, 0, 0}, -32768, -32768},
  };
  for (const TCase& c : cases) {
    TPcmResampler r;
    r.SetSource(source);
    r.SetTarget(Pcm(44100, 2, 16));
    std::vector<uint8_t> input(24);
    std::memcpy(input.data(), c.s, 12);
    std::memcpy(input.data() + 12, c.s, 12);
    const std::vector<int16_t> out = AsSamples(Resampled(r, input));
    ASSERT_EQ(out.size(), 4u);
    EXPECT_EQ(out[2], c.left) << c.s[0];
    EXPECT_EQ(out[3], c.right) << c.s[0];
  }
}

TEST(Resampler, NarrowTargetsTakeTheMeanAndTheTopByte) {
  TPcmResampler r;
  r.SetSource(Pcm(44100, 2, 16));
  r.SetTarget(Pcm(44100, 1, 8));
  // Frames (1000, 3001) and (-32768, 32767); the second output frame is the first input frame.
  const std::vector<uint8_t> out = Resampled(r, {0xE8, 0x03, 0xB9, 0x0B, 0x00, 0x80, 0xFF, 0x7F});
  ASSERT_EQ(out.size(), 2u);
  EXPECT_EQ(out[0], 128);
  EXPECT_EQ(out[1], (1000 + 3001) / 2 / 256 + 128);
  TPcmResampler mono16;
  mono16.SetSource(Pcm(44100, 2, 16));
  mono16.SetTarget(Pcm(44100, 1, 16));
  const std::vector<int16_t> m = AsSamples(Resampled(mono16, {0xFF, 0xFF, 0xFE, 0xFF, 0, 0, 0, 0}));
  ASSERT_EQ(m.size(), 2u);
  EXPECT_EQ(m[1], -1); // (-1 + -2) / 2 truncated toward zero
}

TEST(Resampler, UpsamplingFollowsASlowSineClosely) {
  // The parabola through three neighbours reproduces a slowly changing signal almost exactly, one source
  // frame late.
  const double cycles = 100.0 / 22050;
  TPcmResampler r;
  r.SetSource(Pcm(22050, 1, 16));
  r.SetTarget(Pcm(44100, 2, 16));
  const std::vector<int16_t> out = AsSamples(Resampled(r, Sine16(4000, 1, cycles, 30000)));
  ASSERT_EQ(out.size(), 2u * 8000);
  int worst = 0;
  for (int j = 4; j < 8000; ++j) {
    const double sourcePosition = j / 2.0 - 1.0;
    const double ideal = 30000 * std::sin(2 * M_PI * cycles * sourcePosition);
    worst = std::max(worst, int(std::fabs(out[2 * j] - ideal)));
  }
  EXPECT_LE(worst, 3);
}

TEST(Resampler, UnusableFormatsProduceNothing) {
  const TWaveFormat good = Pcm(44100, 2, 16);
  const TWaveFormat bad[] = {Pcm(0, 2, 16), Pcm(44100, 0, 16), Pcm(44100, 2, 12), Pcm(50, 2, 16),
                             Pcm(500000, 2, 16), Pcm(44100, 3, 16), Pcm(44100, 2, 64, 3), Pcm(44100, 6, 24)};
  for (const TWaveFormat& f : bad) {
    TPcmResampler r;
    r.SetSource(f);
    r.SetTarget(good);
    EXPECT_FALSE(r.IsReady()) << f.samplesPerSec << " " << f.channels << " " << f.bitsPerSample;
    EXPECT_EQ(r.OutputSize(4096), 0);
    TPcmResampler writer;
    writer.SetSource(good);
    writer.SetTarget(f);
    EXPECT_FALSE(writer.IsReady());
  }
}

} // namespace

// The wave converter on files built byte by byte: what Fill answers at the end of the data, formats that
// must be refused before anything divides by them, pass-through, seeking, integer and float 32-bit
// samples, and 5.1 frames that straddle reads.

#include "AdpcmConverter.h"
#include "ConverterFactory.h"
#include "WavConverter.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

using namespace kiv;

namespace {

using TBytes = std::vector<uint8_t>;

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

// A description of data lying at offset 0 of a stream holding nothing else.
TMediaInfo Described(TMediaType type, const TWaveFormat& format, size_t dataBytes) {
  TMediaInfo info;
  info.type = type;
  info.waveFormat = format;
  info.dataOffset = 0;
  info.dataSize = static_cast<uint32_t>(dataBytes);
  info.duration = format.avgBytesPerSec ? uint32_t(dataBytes * 1000 / format.avgBytesPerSec) : 0;
  return info;
}

TBytes Ramp(size_t bytes) {
  TBytes b(bytes);
  for (size_t i = 0; i < bytes; ++i)
    b[i] = static_cast<uint8_t>(i * 7 + i / 256);
  return b;
}

TEST(WavConverter, FillAtTheEndGivesTheLastSoundOnceThenSilence) {
  struct TCase {
    uint16_t bits;
    uint8_t silence;
  } cases[] = {{16, 0}, {8, 128}};
  for (const TCase& c : cases) {
    const TBytes data = Ramp(1000);
    TMemoryStream stream(data);
    TWavConverter converter(&stream);
    ASSERT_TRUE(converter.Open(Described(TMediaType::PcmWave, Pcm(44100, 2, c.bits), data.size())));
    EXPECT_FALSE(converter.HasResampler());

    ASSERT_TRUE(converter.Fill(4096)) << "the last sound comes with a true answer";
    TLocalBuffer& out = converter.Output();
    ASSERT_EQ(out.Length(), 4096);
    EXPECT_EQ(converter.PaddingBytes(), 4096 - 1000);
    EXPECT_EQ(std::memcmp(out.Data(), data.data(), data.size()), 0);
    for (int64_t i = 1000; i < 4096; ++i) ASSERT_EQ(out.Data()[i], c.silence) << i;

    out.Clear();
    EXPECT_FALSE(converter.Fill(4096)) << "then the end";
    ASSERT_EQ(out.Length(), 4096);
    for (int64_t i = 0; i < 4096; ++i) ASSERT_EQ(out.Data()[i], c.silence) << i;
    EXPECT_FALSE(converter.Failed());
  }
}

TEST(WavConverter, StereoCdFormatPassesThroughUnchanged) {
  const TBytes data = Ramp(30000);
  TMemoryStream stream(data);
  TWavConverter converter(&stream);
  ASSERT_TRUE(converter.Open(Described(TMediaType::PcmWave, StandardWaveFormat(), data.size())));
  EXPECT_FALSE(converter.HasResampler());
  TBytes got;
  EXPECT_TRUE(converter.DecodeToEnd([&](const uint8_t* p, int64_t n) { got.insert(got.end(), p, p + n); }));
  EXPECT_EQ(got, data);
  EXPECT_NEAR(converter.CurrentTime(), 30000 * 1000.0 / 176400, 1e-6);
}

TEST(WavConverter, SeekStartsAtTheBlockOfThatTime) {
  const TBytes data = Ramp(176400 * 2);
  TMemoryStream stream(data);
  TWavConverter converter(&stream);
  ASSERT_TRUE(converter.Open(Described(TMediaType::PcmWave, StandardWaveFormat(), data.size())));
  // 0.25 s is 44100 bytes; 1.2345 s rounds to 217765.8 bytes, down to the block at 217764.
  for (auto [ms, offset] : {std::pair{250.0, 44100}, std::pair{1234.5, 217764}}) {
    converter.Seek(ms);
    EXPECT_EQ(converter.CurrentTime(), ms);
    ASSERT_TRUE(converter.Fill(400));
    EXPECT_EQ(std::memcmp(converter.Output().Data(), data.data() + offset, 400), 0) << ms;
  }
}

TEST(WavConverter, ThirtyTwoBitPcmIsIntegerAndOnlyTagThreeIsFloat) {
  // The bytes of the float 0.25 read as integer PCM are 0x3E80 in the top half.
  float quarter = 0.25f;
  TBytes frame(8);
  std::memcpy(frame.data(), &quarter, 4);
  std::memcpy(frame.data() + 4, &quarter, 4);
  TBytes data = frame;
  data.insert(data.end(), frame.begin(), frame.end());
  struct TCase {
    TMediaType type;
    uint16_t tag;
    int16_t expected;
  } cases[] = {{TMediaType::PcmWave, 1, 0x3E80}, {TMediaType::FloatWave, 3, 8192}};
  for (const TCase& c : cases) {
    TMemoryStream stream(data);
    TWavConverter converter(&stream);
    ASSERT_TRUE(converter.Open(Described(c.type, Pcm(44100, 2, 32, c.tag), data.size())));
    EXPECT_TRUE(converter.HasResampler()) << "32-bit sources are converted to the standard format";
    EXPECT_EQ(converter.Output().format, StandardWaveFormat());
    ASSERT_TRUE(converter.Fill(8));
    int16_t second[2];
    std::memcpy(second, converter.Output().Data() + 4, 4);
    EXPECT_EQ(second[0], c.expected) << c.tag;
    EXPECT_EQ(second[1], c.expected) << c.tag;
  }
}

TEST(WavConverter, SurroundFramesAcrossReadsAreAllFolded) {
  // 12-byte frames do not divide the 4096-byte reads: a frame split between reads would shift every
  // frame after it.
  constexpr int kFrames = 5000;
  TBytes data;
  for (int i = 0; i < kFrames; ++i)
    for (int c = 0; c < 6; ++c) {
      const int16_t v = static_cast<int16_t>((i % 500) * (c + 1) - 1000);
      data.push_back(uint8_t(v));
      data.push_back(uint8_t(uint16_t(v) >> 8));
    }
  TMemoryStream stream(data);
  TWavConverter converter(&stream);
  ASSERT_TRUE(converter.Open(Described(TMediaType::PcmWave, Pcm(44100, 6, 16), data.size())));
  std::vector<int16_t> out;
  ASSERT_TRUE(converter.DecodeToEnd([&](const uint8_t* p, int64_t n) {
    const size_t at = out.size();
    out.resize(at + size_t(n) / 2);
    std::memcpy(out.data() + at, p, size_t(n));
  }));
  ASSERT_EQ(out.size(), 2u * kFrames);
  for (int i = 1; i < kFrames; ++i) {
    const int base = (i - 1) % 500;
    auto s = [&](int c) { return base * (c + 1) - 1000; };
    ASSERT_EQ(out[2 * i], std::clamp(s(0) + s(1) + s(3) + s(5), -32768, 32767)) << i;
    ASSERT_EQ(out[2 * i + 1], std::clamp(s(1) + s(2) + s(4) + s(5), -32768, 32767)) << i;
  }
}

struct TBadFormat {
  const char* what;
  TMediaType type;
  TWaveFormat format;
};

TWaveFormat With(TWaveFormat f, void (*change)(TWaveFormat&)) {
  change(f);
  return f;
}

TWaveFormat Adpcm(uint16_t channels, uint16_t blockAlign) {
  TWaveFormat f;
  f.formatTag = 2;
  f.channels = channels;
  f.samplesPerSec = 22050;
  f.avgBytesPerSec = 11155;
  f.blockAlign = blockAlign;
  f.bitsPerSample = 4;
  f.extraSize = 32;
  return f;
}

class WavConverterRefuses : public testing::TestWithParam<TBadFormat> {};

TEST_P(WavConverterRefuses, FormatsThatWouldDivideByZeroOrStall) {
  const TBadFormat& c = GetParam();
  const TBytes data = Ramp(8192);
  TMemoryStream stream(data);
  TMediaInfo info = Described(c.type, c.format, data.size());
  // Coefficients fit for MS ADPCM, so that only the format is at fault.
  const uint8_t extension[] = {0xF4, 0x07, 2, 0, 0, 1, 0, 0, 0, 2, 0, 0xFF};
  std::memcpy(info.formatExtension, extension, sizeof(extension));
  TConverterFactory factory;
  EXPECT_EQ(factory.CreateOpened(&stream, "bad.wav", info), nullptr) << c.what;
}

INSTANTIATE_TEST_SUITE_P(
    Bad, WavConverterRefuses,
    testing::Values(
        TBadFormat{"no channels", TMediaType::PcmWave, With(Pcm(44100, 2, 16), [](TWaveFormat& f) { f.channels = 0; })},
        TBadFormat{"rate 0", TMediaType::PcmWave, With(Pcm(44100, 2, 16), [](TWaveFormat& f) { f.samplesPerSec = 0; })},
        TBadFormat{"rate 50", TMediaType::PcmWave, Pcm(50, 2, 16)},
        TBadFormat{"rate 500000", TMediaType::PcmWave, Pcm(500000, 2, 16)},
        TBadFormat{"block align 0", TMediaType::PcmWave, With(Pcm(44100, 2, 16), [](TWaveFormat& f) { f.blockAlign = 0; })},
        TBadFormat{"average bytes 0", TMediaType::PcmWave,
                   With(Pcm(44100, 2, 16), [](TWaveFormat& f) { f.avgBytesPerSec = 0; })},
        TBadFormat{"12 bits", TMediaType::PcmWave, Pcm(44100, 2, 12)},
        TBadFormat{"0 bits", TMediaType::PcmWave, With(Pcm(44100, 2, 16), [](TWaveFormat& f) { f.bitsPerSample = 0; })},
        TBadFormat{"block align not the frame", TMediaType::PcmWave,
                   With(Pcm(44100, 2, 16), [](TWaveFormat& f) { f.blockAlign = 3; })},
        TBadFormat{"three channels", TMediaType::PcmWave, Pcm(44100, 3, 16)},
        TBadFormat{"64-bit float", TMediaType::FloatWave, Pcm(44100, 2, 64, 3)},
        TBadFormat{"ADPCM block smaller than its header", TMediaType::AdpcmWave, Adpcm(2, 13)},
        TBadFormat{"ADPCM with three channels", TMediaType::AdpcmWave, Adpcm(3, 1024)}));

TEST(AdpcmConverter, RefusesCoefficientCountsOutsideOneToSeven) {
  const TBytes data = Ramp(4096);
  for (uint8_t count : {0, 8, 200}) {
    TMemoryStream stream(data);
    TMediaInfo info = Described(TMediaType::AdpcmWave, Adpcm(1, 256), data.size());
    info.formatExtension[0] = 0xF4; // 500 samples per block
    info.formatExtension[1] = 0x01;
    info.formatExtension[2] = count;
    TAdpcmConverter converter(&stream);
    EXPECT_FALSE(converter.Open(info)) << int(count);
  }
}

// One mono MS ADPCM block of 16 bytes: 20 samples.
TBytes AdpcmBlock(uint8_t predictor, int16_t delta, int16_t newer, int16_t older, uint8_t nibbles) {
  TBytes b = {predictor};
  for (int16_t v : {delta, newer, older}) {
    b.push_back(uint8_t(v));
    b.push_back(uint8_t(uint16_t(v) >> 8));
  }
  b.resize(16, nibbles);
  return b;
}

TEST(AdpcmConverter, ABlockWithAPredictorBeyondTheTableEndsTheData) {
  TBytes data = AdpcmBlock(0, 16, 100, 50, 0x00);
  const TBytes bad = AdpcmBlock(2, 16, 0, 0, 0x00);
  data.insert(data.end(), bad.begin(), bad.end());
  TMemoryStream stream(data);
  TMediaInfo info = Described(TMediaType::AdpcmWave, Adpcm(1, 16), data.size());
  // 20 samples per block, two coefficient pairs: (256, 0) and (512, -256).
  const uint8_t extension[] = {20, 0, 2, 0, 0, 1, 0, 0, 0, 2, 0, 0xFF};
  std::memcpy(info.formatExtension, extension, sizeof(extension));
  TAdpcmConverter converter(&stream);
  ASSERT_TRUE(converter.Open(info));
  std::vector<int16_t> samples;
  EXPECT_FALSE(converter.DecodeToEnd([&](const uint8_t* p, int64_t n) {
    const size_t at = samples.size();
    samples.resize(at + size_t(n) / 2);
    std::memcpy(samples.data() + at, p, size_t(n));
  }));
  EXPECT_TRUE(converter.Failed());
  // The good block is all there: the older header sample first, then the newer, then the prediction
  // (256 * 100 / 256 = 100) held by zero nibbles.
  ASSERT_EQ(samples.size(), 20u);
  EXPECT_EQ(samples[0], 50);
  EXPECT_EQ(samples[1], 100);
  for (size_t i = 2; i < samples.size(); ++i) EXPECT_EQ(samples[i], 100) << i;
}

} // namespace

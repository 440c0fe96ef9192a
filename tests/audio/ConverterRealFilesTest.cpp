// The converters on real files of tests/media, compared with ffmpeg's decode of the same files made at run
// time: every kind of wave data, MS ADPCM with blocks of any size, MPEG layers II and III of all three
// versions, Ogg Vorbis. Also what Fill answers at the end for each decoder, and MPEG seeking.

#include "Assert.h"
#include "ConverterFactory.h"
#include "OggConverter.h"
#include "SoundComparison.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

using namespace kiv;
using namespace kivtest;

namespace {

std::string Media(const std::string& relative) {
  return std::string(KIV_TEST_MEDIA) + "/" + relative;
}

void Append(TSamples& samples, const uint8_t* data, int64_t bytes) {
  const size_t at = samples.size();
  samples.resize(at + size_t(bytes) / 2);
  std::memcpy(samples.data() + at, data, size_t(bytes) / 2 * 2);
}

struct TDecoded {
  std::string kind;
  TWaveFormat format; // of what came out
  TSamples samples;
  bool complete = false;
};

// Describes the file under the given name as the player does and decodes it whole, converted to the
// standard format when asked.
TDecoded DecodeFile(const std::string& path, const std::string& name, bool standard) {
  TDecoded d;
  TFileStream stream(path, TFileMode::OpenRead);
  TConverterFactory factory;
  TMediaInfo info;
  if (!factory.Describe(stream, name, info)) return d;
  TOwned<TWavConverter> converter = factory.CreateOpened(&stream, name, info);
  if (!converter) return d;
  if (standard) converter->SetTarget(StandardWaveFormat());
  d.kind = converter->KindName();
  d.format = converter->Output().format;
  d.complete = converter->DecodeToEnd([&](const uint8_t* p, int64_t n) { Append(d.samples, p, n); });
  return d;
}

struct TFileCase {
  const char* file;
  const char* name;     // the name a show would give it ("" for the file's own)
  const char* kind;     // the converter expected
  int channels;         // of the source
  int lengthTolerance;  // output frames by which the length may differ from ffmpeg's
  int exactLag;         // -1: resampled or lossy, compared by correlation; else equal within 1 at this lag
};

void PrintTo(const TFileCase& c, std::ostream* os) {
  *os << c.file;
}

class ConverterRealFile : public testing::TestWithParam<TFileCase> {
protected:
  void SetUp() override {
    if (!HaveFfmpeg()) GTEST_SKIP() << "the ffmpeg command line is not installed";
  }
};

TEST_P(ConverterRealFile, DecodesToTheStandardFormatLikeFfmpeg) {
  const TFileCase& c = GetParam();
  const std::string path = Media(c.file);
  const TDecoded ours = DecodeFile(path, *c.name ? c.name : path, true);
  ASSERT_EQ(ours.kind, c.kind);
  EXPECT_TRUE(ours.complete);
  EXPECT_EQ(ours.format, StandardWaveFormat());
  const TSamples reference = FfmpegStandardDecode(path, c.channels);
  ASSERT_FALSE(reference.empty());
  const int64_t oursFrames = int64_t(ours.samples.size()) / 2;
  const int64_t referenceFrames = int64_t(reference.size()) / 2;
  EXPECT_LE(std::abs(oursFrames - referenceFrames), c.lengthTolerance)
      << "ours " << oursFrames << ", ffmpeg's " << referenceFrames;
  const TSoundMatch match = BestMatch(ours.samples, reference, 2, 8);
  if (c.exactLag >= 0) {
    EXPECT_EQ(match.lag, c.exactLag);
    EXPECT_LE(match.maxDifference, 1);
  } else {
    // Another resampler (or decoder) than ffmpeg's: the same sound, up to interpolation.
    EXPECT_GE(match.correlation, 0.99) << "lag " << match.lag;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Media, ConverterRealFile,
    testing::Values(
        // 44.1 kHz lossless sources; the resampler puts out each frame one frame late.
        TFileCase{"generated/lena_s16_stereo.wav", "", "wav", 2, 0, 0},
        TFileCase{"generated/lena_u8.wav", "", "wav", 1, 0, 1},
        TFileCase{"generated/lena_s24.wav", "", "wav", 1, 0, 1},
        TFileCase{"audio/wav-scipy/test-44100Hz-le-1ch-4bytes.wav", "", "wav", 1, 0, 1},
        TFileCase{"audio/wav-scipy/test-44100Hz-2ch-32bit-float-le.wav", "", "wav", 2, 0, 1},
        TFileCase{"generated/lena_msadpcm_sox.wav", "", "adpcm", 1, 0, 1},
        // Other rates.
        TFileCase{"generated/lena_f32_48k_stereo.wav", "", "wav", 2, 2, -1},
        TFileCase{"audio/wav-pcm16/Front_Center.wav", "", "wav", 1, 2, -1},
        TFileCase{"audio/wav-msadpcm/sample.wav", "", "adpcm", 1, 2, -1},
        TFileCase{"generated/lena_msadpcm_block4096_sox.wav", "", "adpcm", 2, 2, -1},
        TFileCase{"generated/lena_msadpcm_block1536_sox.wav", "", "adpcm", 2, 2, -1},
        // MPEG: lengths agree with gapless trimming; one codec frame of slack.
        TFileCase{"audio/lena/lena.mp3", "", "mpeg", 1, 1152, -1},
        TFileCase{"audio/mp3-mpg123/sweep.mp3", "", "mpeg", 2, 1152, -1},
        TFileCase{"generated/lena_mpeg1_layer3_vbr_xing_id3v2.mp3", "", "mpeg", 1, 1152, -1},
        TFileCase{"generated/lena_mpeg2_layer3_22k_mono.mp3", "", "mpeg", 1, 1152, -1},
        TFileCase{"generated/lena_mpeg25_layer3_8k_mono.mp3", "", "mpeg", 1, 3176, -1},
        TFileCase{"generated/lena_mpeg1_layer2_48k_stereo.mp2", "", "mpeg", 2, 1059, -1},
        TFileCase{"generated/lena_mpeg2_layer2_22k_mono.mp2", "", "mpeg", 1, 2304, -1},
        // Ogg Vorbis, also under the name a show gives an ".oga" file.
        TFileCase{"audio/lena/lena.ogg", "", "ogg", 1, 0, -1},
        TFileCase{"audio/ogg-vorbis/phone-outgoing-busy.oga", "busy.ogg", "ogg", 1, 6, -1}));

struct TNativeCase {
  const char* file;
  const char* name; // the name a show would give it ("" for the file's own)
  const char* kind;
  bool exact;       // equal samples; else the same sound from another decoder
};

void PrintTo(const TNativeCase& c, std::ostream* os) {
  *os << c.file;
}

class ConverterNative : public testing::TestWithParam<TNativeCase> {
protected:
  void SetUp() override {
    if (!HaveFfmpeg()) GTEST_SKIP() << "the ffmpeg command line is not installed";
  }
};

// Without a target, MS ADPCM and Ogg Vorbis come out at their own rate and channels. MS ADPCM samples are
// ffmpeg's exactly, whatever the block size (2048-byte reads used to drop blocks larger than 2048 bytes or
// not dividing it); Vorbis is the same sound from another decoder.
TEST_P(ConverterNative, SamplesAtTheSourceRateAreFfmpegs) {
  const TNativeCase& c = GetParam();
  const std::string path = Media(c.file);
  const TDecoded ours = DecodeFile(path, *c.name ? c.name : path, false);
  ASSERT_EQ(ours.kind, c.kind);
  EXPECT_TRUE(ours.complete);
  const TSamples reference = FfmpegNativeDecode(path);
  ASSERT_FALSE(reference.empty());
  ASSERT_EQ(ours.samples.size(), reference.size());
  if (c.exact) {
    EXPECT_TRUE(ours.samples == reference);
  } else {
    const TSoundMatch match = BestMatch(ours.samples, reference, ours.format.channels, 0);
    EXPECT_GE(match.correlation, 0.9999);
    EXPECT_LE(match.maxDifference, 2);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Sources, ConverterNative,
    testing::Values(TNativeCase{"generated/lena_msadpcm_block4096_sox.wav", "", "adpcm", true},
                    TNativeCase{"generated/lena_msadpcm_block1536_sox.wav", "", "adpcm", true},
                    TNativeCase{"generated/lena_msadpcm_sox.wav", "", "adpcm", true},
                    TNativeCase{"audio/wav-msadpcm/sample.wav", "", "adpcm", true},
                    TNativeCase{"audio/ogg-vorbis/camera-shutter.oga", "camera-shutter.ogg", "ogg", false},
                    TNativeCase{"audio/ogg-vorbis/complete.oga", "complete.ogg", "ogg", false}));

// Each decoder's end: Fill answers true while sound remains, then false with silence.
TEST(Converters, FillReportsTheEndOfEveryDecoder) {
  const char* files[][2] = {{"generated/lena_s24.wav", "wav"},
                            {"generated/lena_msadpcm_block1536_sox.wav", "adpcm"},
                            {"audio/lena/lena.mp3", "mpeg"},
                            {"audio/lena/lena.ogg", "ogg"}};
  for (const auto& [file, kind] : files) {
    const std::string path = Media(file);
    TFileStream stream(path, TFileMode::OpenRead);
    TConverterFactory factory;
    TMediaInfo info;
    ASSERT_TRUE(factory.Describe(stream, path, info)) << file;
    TOwned<TWavConverter> converter = factory.CreateOpened(&stream, path, info);
    ASSERT_NE(converter, nullptr) << file;
    EXPECT_STREQ(converter->KindName(), kind);
    converter->Seek(info.duration - 200.0);
    TLocalBuffer& out = converter->Output();
    const int64_t second = out.format.avgBytesPerSec;
    EXPECT_TRUE(converter->Fill(second)) << file;
    EXPECT_EQ(out.Length(), second);
    EXPECT_GT(converter->PaddingBytes(), 0) << file;
    EXPECT_LT(converter->PaddingBytes(), second) << file;
    out.Clear();
    EXPECT_FALSE(converter->Fill(4000)) << file;
    EXPECT_EQ(out.Length(), 4000);
    EXPECT_EQ(converter->PaddingBytes(), 4000);
    EXPECT_FALSE(converter->Failed()) << file;
  }
}

struct TSeekCase {
  const char* file;
  double ms;
};

class MpegSeek : public testing::TestWithParam<TSeekCase> {};

// After a seek the sound is the whole decode's from the time the converter reports, within a few
// samples: the lead-in decoded before the target and the trimmed start are both accounted for.
TEST_P(MpegSeek, LandsWhereTheWholeDecodeIsAtThatTime) {
  const TSeekCase& c = GetParam();
  const std::string path = Media(c.file);
  const TDecoded whole = DecodeFile(path, path, false);
  ASSERT_TRUE(whole.complete);
  TFileStream stream(path, TFileMode::OpenRead);
  TConverterFactory factory;
  TMediaInfo info;
  ASSERT_TRUE(factory.Describe(stream, path, info));
  TOwned<TWavConverter> converter = factory.CreateOpened(&stream, path, info);
  ASSERT_NE(converter, nullptr);
  converter->Seek(c.ms);
  const double reported = converter->CurrentTime();
  // Sound starts at the first frame at or after the target.
  EXPECT_GE(reported, c.ms - 0.5);
  EXPECT_LE(reported, c.ms + info.frameTime + 0.5);
  const int channels = whole.format.channels;
  const int64_t rate = whole.format.samplesPerSec;
  const int64_t frames = rate / 5;
  ASSERT_TRUE(converter->Fill(frames * channels * 2));
  TSamples after;
  Append(after, converter->Output().Data(), frames * channels * 2);
  // The whole decode from a little before the reported time; ours must line up near the middle.
  const int64_t slack = rate / 200; // 5 ms
  const int64_t start = std::llround(reported * rate / 1000.0) - slack;
  ASSERT_GE(start, 0);
  ASSERT_LE(size_t((start + frames + 2 * slack) * channels), whole.samples.size());
  const TSamples expected(whole.samples.begin() + start * channels,
                          whole.samples.begin() + (start + frames + 2 * slack) * channels);
  // expected[f] is ours[f - slack]: find the lag of expected against ours.
  const TSoundMatch match = BestMatch(expected, after, channels, int(2 * slack));
  EXPECT_GE(match.correlation, 0.99) << "the lead-in has filled the bit reservoir";
  EXPECT_NEAR(match.lag, slack, rate / 1000.0) << "within a millisecond of the reported time";
}

INSTANTIATE_TEST_SUITE_P(Times, MpegSeek,
                         testing::Values(TSeekCase{"audio/lena/lena.mp3", 50}, TSeekCase{"audio/lena/lena.mp3", 5000},
                                         TSeekCase{"generated/lena_mpeg1_layer3_vbr_xing_id3v2.mp3", 50},
                                         TSeekCase{"generated/lena_mpeg1_layer3_vbr_xing_id3v2.mp3", 5000},
                                         TSeekCase{"generated/lena_mpeg2_layer3_22k_mono.mp3", 3333},
                                         TSeekCase{"generated/lena_mpeg25_layer3_8k_mono.mp3", 7000},
                                         TSeekCase{"audio/mp3-mpg123/sweep.mp3", 500},
                                         TSeekCase{"generated/lena_mpeg1_layer2_48k_stereo.mp2", 1500}));

TEST(OggConverter, DescribesVorbisWhateverTheName) {
  TFileStream stream(Media("audio/ogg-vorbis/camera-shutter.oga"), TFileMode::OpenRead);
  TMediaInfo info;
  ASSERT_TRUE(TOggConverter::Describe(stream, info));
  EXPECT_EQ(info.type, TMediaType::OggPlugin);
  const TWaveFormat format = info.waveFormat; // packed fields are read by copy
  EXPECT_EQ(uint32_t{format.samplesPerSec}, 96000u);
  EXPECT_EQ(int{format.channels}, 2);
  EXPECT_EQ(int{format.bitsPerSample}, 16);
  EXPECT_NEAR(info.duration, 872, 1);
  // Not Vorbis: a wave file.
  TFileStream wave(Media("generated/lena_u8.wav"), TFileMode::OpenRead);
  EXPECT_FALSE(TOggConverter::Describe(wave, info));
  EXPECT_EQ(info.type, TMediaType::Unknown);
}

TEST(ConverterFactory, LeavesWhatNoDecoderReadsUndescribed) {
  // Without a library probe, ".oga" and ".wma" are nobody's; ".ogg" is tried as Vorbis.
  TConverterFactory factory;
  TMediaInfo info;
  TFileStream vorbis(Media("audio/ogg-vorbis/bell.oga"), TFileMode::OpenRead);
  EXPECT_FALSE(factory.Describe(vorbis, "bell.oga", info));
  EXPECT_TRUE(factory.Describe(vorbis, "bell.ogg", info));
  EXPECT_EQ(info.type, TMediaType::OggPlugin);
  TFileStream wma(Media("generated/lena_wmav2.wma"), TFileMode::OpenRead);
  EXPECT_FALSE(factory.Describe(wma, "lena.wma", info));
  // Types whose plug-ins this program never loads get no converter.
  for (TMediaType type : {TMediaType::WmaPlugin, TMediaType::ApePlugin, TMediaType::AacPlugin,
                          TMediaType::VideoLibrary}) {
    info = TMediaInfo();
    info.type = type;
    info.waveFormat = StandardWaveFormat();
    EXPECT_EQ(factory.Create(&wma, "x", info), nullptr);
  }
}

std::string gAssertionText; // written by the sink below, on the test's thread

TEST(ConverterFactory, AnUnknownTypeIsAnAssertionAndNoConverter) {
  const TAssertionSink previous = SetAssertionSink([](const std::string& text) { gAssertionText = text; });
  gAssertionText.clear();
  TConverterFactory factory;
  TMemoryStream stream;
  TMediaInfo info;
  info.type = static_cast<TMediaType>(42);
  EXPECT_EQ(factory.Create(&stream, "x", info), nullptr);
  SetAssertionSink(previous);
  EXPECT_NE(gAssertionText.find("Assertion failure"), std::string::npos) << gAssertionText;
}

} // namespace

// Sound through the video decoder library: WMA, Opus and a clip's AAC described and decoded to the
// standard format like ffmpeg's own decode, the stream number suffix of a name, and the factory that
// knows these files only once the library's decoders are registered with it.

#include "ConverterFactory.h"
#include "FFMpegConverter.h"
#include "MediaTestSupport.h"
#include "SoundComparison.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace kiv;
using namespace kivtest;

namespace {

class VideoLibrarySound : public testing::Test {
protected:
  void SetUp() override {
    if (!HaveFfmpeg()) GTEST_SKIP() << "the ffmpeg command line is not installed";
    if (!TFFMpegDll::TryAcquire()) GTEST_SKIP() << "libkivffmpeg.so was not built (no FFmpeg development files)";
    RegisterVideoLibraryDecoders(factory_);
  }

  // Describes the file under name and decodes it whole to the standard format.
  TSamples Decode(const std::string& path, const std::string& name, std::string* kind = nullptr) {
    TFileStream stream(path, TFileMode::OpenRead);
    TMediaInfo info;
    if (!factory_.Describe(stream, name, info)) return {};
    TOwned<TWavConverter> converter = factory_.CreateOpened(&stream, name, info);
    if (!converter) return {};
    converter->SetTarget(StandardWaveFormat());
    if (kind) *kind = converter->KindName();
    TSamples samples;
    const bool complete = converter->DecodeToEnd([&](const uint8_t* p, int64_t n) {
      const size_t at = samples.size();
      samples.resize(at + size_t(n) / 2);
      std::memcpy(samples.data() + at, p, size_t(n));
    });
    EXPECT_TRUE(complete) << name;
    return samples;
  }

  TConverterFactory factory_;
};

struct TLibraryCase {
  const char* file;
  int channels;
  bool exact; // a 44.1 kHz source: ffmpeg's samples one frame late; else the same sound
};

class VideoLibraryFile : public VideoLibrarySound, public testing::WithParamInterface<TLibraryCase> {};

TEST_P(VideoLibraryFile, DecodesToTheStandardFormatLikeFfmpeg) {
  const TLibraryCase& c = GetParam();
  const std::string path = MediaPath(c.file);
  std::string kind;
  const TSamples ours = Decode(path, path, &kind);
  EXPECT_EQ(kind, "ffmpeg");
  const TSamples reference = FfmpegStandardDecode(path, c.channels);
  ASSERT_FALSE(ours.empty());
  ASSERT_FALSE(reference.empty());
  EXPECT_LE(std::abs(int64_t(ours.size()) - int64_t(reference.size())) / 2, c.exact ? 0 : 2);
  const TSoundMatch match = BestMatch(ours, reference, 2, 8);
  if (c.exact) {
    EXPECT_EQ(match.lag, 1);
    EXPECT_LE(match.maxDifference, 1);
  } else {
    EXPECT_GE(match.correlation, 0.99);
  }
}

INSTANTIATE_TEST_SUITE_P(Media, VideoLibraryFile,
                         testing::Values(TLibraryCase{"generated/lena_wmav2.wma", 1, true},
                                         TLibraryCase{"generated/lena_wmav1.wma", 1, true},
                                         TLibraryCase{"audio/lena/lena.opus", 1, false},
                                         TLibraryCase{"generated/clip_h264_aac.mp4", 1, false}));

TEST_F(VideoLibrarySound, DescribesWhatOnlyTheLibraryReads) {
  TFileStream stream(MediaPath("generated/lena_wmav2.wma"), TFileMode::OpenRead);
  TMediaInfo info;
  // A stored name with a stream suffix describes the same file.
  ASSERT_TRUE(factory_.Describe(stream, "music\\lena.wma?0", info));
  EXPECT_EQ(info.type, TMediaType::VideoLibrary);
  EXPECT_EQ(info.waveFormat, StandardWaveFormat());
  EXPECT_NEAR(info.duration, 3018, 30);
  // An ".oga" is Vorbis, but only ".ogg" names go to the Vorbis decoder: the library reads the rest.
  TFileStream vorbis(MediaPath("audio/ogg-vorbis/bell.oga"), TFileMode::OpenRead);
  ASSERT_TRUE(factory_.Describe(vorbis, "bell.oga", info));
  EXPECT_EQ(info.type, TMediaType::VideoLibrary);
  ASSERT_TRUE(factory_.Describe(vorbis, "bell.ogg", info));
  EXPECT_EQ(info.type, TMediaType::OggPlugin);
  // Text is no sound at all.
  TMemoryStream text(std::vector<uint8_t>(4000, 'x'));
  EXPECT_FALSE(factory_.Describe(text, "notes.wma", info));
  EXPECT_EQ(info.type, TMediaType::Unknown);
}

// Zero crossings per second of the left channel: twice the frequency of a pure tone.
double ToneFrequency(const TSamples& stereo) {
  int crossings = 0;
  for (size_t i = 2; i < stereo.size(); i += 2)
    if ((stereo[i - 2] < 0) != (stereo[i] < 0)) ++crossings;
  return crossings / 2.0 / (double(stereo.size() / 2) / 44100.0);
}

TEST_F(VideoLibrarySound, ANameSuffixPicksTheAudioStream) {
  const std::string file = (ScratchDir("sound-streams") / "tones.mka").string();
  bool made = false;
  RunCommand("ffmpeg -nostdin -v error -y -f lavfi -i sine=frequency=300:duration=1 -f lavfi -i "
             "sine=frequency=1000:duration=1 -f lavfi -i sine=frequency=3000:duration=1 -map 0 -map 1 -map 2 "
             "-c:a pcm_s16le " +
                 Quote(file),
             &made);
  ASSERT_TRUE(made);
  struct TCase {
    const char* suffix;
    double frequency;
  } cases[] = {{"", 300}, {"?0", 300}, {"?1", 1000}, {"?2", 3000}};
  for (const TCase& c : cases) {
    const TSamples tone = Decode(file, file + c.suffix);
    ASSERT_GT(tone.size(), 2u * 40000) << c.suffix;
    EXPECT_NEAR(ToneFrequency(tone), c.frequency, c.frequency * 0.02) << c.suffix;
  }
  // A stream the file does not have: no converter.
  TFileStream stream(file, TFileMode::OpenRead);
  TMediaInfo info;
  ASSERT_TRUE(factory_.Describe(stream, file + "?3", info));
  EXPECT_EQ(factory_.CreateOpened(&stream, file + "?3", info), nullptr);
}

TEST(VideoLibraryNames, SuffixSplitsAtTheLastQuestionMark) {
  struct TCase {
    const char* name;
    const char* file;
    int stream;
  } cases[] = {{"a/b.mka?2", "a/b.mka", 2},   {"x.wma", "x.wma", 0},          {"what?.mp4?1", "what?.mp4", 1},
               {"x.mp4?abc", "x.mp4", 0},     {"x.mp4?", "x.mp4", 0},         {"x.mp4?99999999999", "x.mp4", 0}};
  for (const TCase& c : cases) {
    EXPECT_EQ(NameBeforeSuffix(c.name), c.file) << c.name;
    EXPECT_EQ(StreamNumberOfSuffix(c.name), c.stream) << c.name;
  }
}

TEST(VideoLibraryRegistration, FactoriesWithoutItKnowNoSuchFiles) {
  // Registration is per factory: a player that registers nothing never reaches the library.
  TConverterFactory plain;
  TConverterFactory registered;
  RegisterVideoLibraryDecoders(registered);
  EXPECT_FALSE(plain.HasLibraryProbe());
  EXPECT_TRUE(registered.HasLibraryProbe());
  TMediaInfo info;
  info.type = TMediaType::VideoLibrary;
  info.waveFormat = StandardWaveFormat();
  TMemoryStream nothing;
  EXPECT_EQ(plain.Create(&nothing, "x.wma", info), nullptr);
  if (TFFMpegDll::TryAcquire()) {
    TOwned<TWavConverter> converter = registered.Create(&nothing, "x.wma", info);
    ASSERT_NE(converter, nullptr);
    EXPECT_STREQ(converter->KindName(), "ffmpeg");
    EXPECT_FALSE(converter->Open(info)) << "an empty stream is no media file";
  }
}

} // namespace

// kivpack decode as an author or a test runs it: files of every decoder written as standard WAV files
// that sound like ffmpeg's decode, a file stored in a show, and failures that leave nothing behind.

#include "PackedShowWriter.h"
#include "SoundComparison.h"
#include "Streams.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

using namespace kiv;
using namespace kivtest;

namespace fs = std::filesystem;

namespace {

const std::string kKivpack = std::string(KIV_BINARY_DIR) + "/tools/kivpack/kivpack";

std::string Media(const std::string& relative) {
  return std::string(KIV_TEST_MEDIA) + "/" + relative;
}

struct TRun {
  int code = -1;
  std::string out;
  std::string err;
};

TRun Kivpack(const std::string& args) {
  TRun run;
  const fs::path errors = FreshTempDir("kivpack-stderr") / "stderr.txt";
  run.out = CommandOutput(kKivpack + " " + args + " 2>" + ShellQuote(errors.string()), run.code);
  std::vector<uint8_t> bytes;
  if (ReadWholeFile(errors.string(), bytes)) run.err.assign(bytes.begin(), bytes.end());
  return run;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// The samples of a WAV file kivpack wrote, after checking its header says the standard format.
TSamples ReadStandardWave(const fs::path& path) {
  std::vector<uint8_t> bytes;
  EXPECT_TRUE(ReadWholeFile(path.string(), bytes));
  if (bytes.size() < 44) return {};
  static const uint8_t kFormat[] = {'W', 'A', 'V', 'E', 'f', 'm', 't', ' ', 16, 0,    0, 0, 1,  0,  2,  0,
                                    0x44, 0xAC, 0, 0, 0x10, 0xB1, 2, 0, 4, 0, 16, 0, 'd', 'a', 't', 'a'};
  EXPECT_EQ(std::memcmp(bytes.data() + 8, kFormat, sizeof(kFormat)), 0) << "PCM, 2 channels, 44100 Hz, 16 bits";
  uint32_t dataBytes = 0;
  std::memcpy(&dataBytes, bytes.data() + 40, 4);
  EXPECT_EQ(dataBytes, bytes.size() - 44);
  uint32_t riffBytes = 0;
  std::memcpy(&riffBytes, bytes.data() + 4, 4);
  EXPECT_EQ(riffBytes, bytes.size() - 8);
  return SamplesOf(std::string(bytes.begin() + 44, bytes.end()));
}

class KivpackDecode : public testing::Test {
protected:
  void SetUp() override {
    ASSERT_TRUE(fs::exists(kKivpack)) << "kivpack is built with the tests";
    if (!HaveFfmpeg()) GTEST_SKIP() << "the ffmpeg command line is not installed";
    dir_ = FreshTempDir("kivpack-decode");
  }

  fs::path dir_;
};

struct TDecodeCase {
  const char* file;
  const char* converter;
  int channels;
  int lengthTolerance; // frames
  int exactLag;        // -1: compared by correlation
};

void PrintTo(const TDecodeCase& c, std::ostream* os) {
  *os << c.file;
}

class KivpackDecodeFile : public KivpackDecode, public testing::WithParamInterface<TDecodeCase> {};

TEST_P(KivpackDecodeFile, WritesTheStandardFormatThatFfmpegHears) {
  const TDecodeCase& c = GetParam();
  const fs::path out = dir_ / "out.wav";
  const TRun run = Kivpack("decode " + ShellQuote(Media(c.file)) + " -o " + ShellQuote(out.string()));
  ASSERT_EQ(run.code, 0) << run.err;
  const TSamples ours = ReadStandardWave(out);
  const std::vector<std::string> lines = Lines(run.out);
  ASSERT_EQ(lines.size(), 2u) << run.out;
  EXPECT_EQ(lines[0], std::string("converter: ") + c.converter);
  EXPECT_EQ(lines[1], "frames: " + std::to_string(ours.size() / 2));

  const TSamples reference = FfmpegStandardDecode(Media(c.file), c.channels);
  ASSERT_FALSE(reference.empty());
  EXPECT_LE(std::abs(int64_t(ours.size() / 2) - int64_t(reference.size() / 2)), c.lengthTolerance);
  const TSoundMatch match = BestMatch(ours, reference, 2, 8);
  if (c.exactLag >= 0) {
    EXPECT_EQ(match.lag, c.exactLag);
    EXPECT_LE(match.maxDifference, 1);
  } else {
    EXPECT_GE(match.correlation, 0.99);
  }
  // Only the result is left in the folder.
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 1);
}

INSTANTIATE_TEST_SUITE_P(
    Media, KivpackDecodeFile,
    testing::Values(TDecodeCase{"generated/lena_s16_stereo.wav", "wav", 2, 0, 0},
                    TDecodeCase{"generated/lena_s24.wav", "wav", 1, 0, 1},
                    TDecodeCase{"generated/lena_f32_48k_stereo.wav", "wav", 2, 2, -1},
                    TDecodeCase{"generated/lena_msadpcm_sox.wav", "adpcm", 1, 0, 1},
                    TDecodeCase{"generated/lena_msadpcm_block4096_sox.wav", "adpcm", 2, 2, -1},
                    TDecodeCase{"generated/lena_mpeg1_layer3_vbr_xing_id3v2.mp3", "mpeg", 1, 1152, -1},
                    TDecodeCase{"generated/lena_mpeg2_layer3_22k_mono.mp3", "mpeg", 1, 1152, -1},
                    TDecodeCase{"audio/lena/lena.ogg", "ogg", 1, 0, -1},
                    TDecodeCase{"generated/lena_wmav2.wma", "ffmpeg", 1, 0, 1}));

TEST_F(KivpackDecode, DecodesAFileStoredInAShow) {
  std::vector<uint8_t> music;
  ASSERT_TRUE(ReadWholeFile(Media("generated/lena_mpeg2_layer3_22k_mono.mp3"), music));
  const fs::path show = dir_ / "music.KvShow";
  {
    TFileStream file(show.string(), TFileMode::Create);
    TKivPacker packer(file);
    packer.Add(u"Project.kiv", std::span<const uint8_t>(), 0);
    packer.Add(u"music\\lena.mp3", music, 2);
    packer.Finish(TTrailerForm::A);
  }
  const fs::path stored = dir_ / "stored.wav";
  const fs::path loose = dir_ / "loose.wav";
  const TRun fromShow =
      Kivpack("decode " + ShellQuote(show.string()) + " 'music\\lena.mp3' -o " + ShellQuote(stored.string()));
  ASSERT_EQ(fromShow.code, 0) << fromShow.err;
  const TRun fromFile = Kivpack("decode -o " + ShellQuote(loose.string()) + " " +
                                ShellQuote(Media("generated/lena_mpeg2_layer3_22k_mono.mp3")));
  ASSERT_EQ(fromFile.code, 0) << fromFile.err;
  EXPECT_EQ(fromShow.out, fromFile.out);
  std::vector<uint8_t> a, b;
  ASSERT_TRUE(ReadWholeFile(stored.string(), a));
  ASSERT_TRUE(ReadWholeFile(loose.string(), b));
  EXPECT_TRUE(a == b);
}

TEST_F(KivpackDecode, FailuresWriteNothing) {
  const fs::path notes = dir_ / "notes.mp3";
  const fs::path badWave = dir_ / "bad.wav";
  {
    TFileStream text(notes.string(), TFileMode::Create);
    const std::string words(5000, 'x');
    text.WriteBuffer(words.data(), int64_t(words.size()));
    // A wave file with no channels and no byte rate.
    static const uint8_t kBad[] = {'R', 'I', 'F', 'F', 44, 0, 0, 0, 'W', 'A', 'V', 'E', 'f', 'm', 't', ' ',
                                   16,  0,   0,   0,   1,  0, 0, 0, 0x44, 0xAC, 0, 0, 0, 0, 0, 0,
                                   0,   0,   16,  0,   'd', 'a', 't', 'a', 8, 0, 0, 0, 1, 2, 3, 4, 5, 6, 7, 8};
    TFileStream wave(badWave.string(), TFileMode::Create);
    wave.WriteBuffer(kBad, sizeof(kBad));
  }
  const fs::path outDir = FreshTempDir("kivpack-decode-out");
  const fs::path out = outDir / "out.wav";
  const std::string o = " -o " + ShellQuote(out.string());
  const std::string cases[] = {
      "decode " + ShellQuote(notes.string()) + o,
      "decode " + ShellQuote(badWave.string()) + o,
      "decode " + ShellQuote((dir_ / "missing.wav").string()) + o,
      "decode " + ShellQuote(notes.string()) + " 'music\\lena.mp3'" + o,
  };
  for (const std::string& args : cases) {
    const TRun run = Kivpack(args);
    EXPECT_EQ(run.code, 2) << args;
    EXPECT_EQ(Lines(run.err).size(), 1u) << args << "\n" << run.err;
    EXPECT_TRUE(run.out.empty()) << args;
    EXPECT_TRUE(fs::is_empty(outDir)) << args;
  }
}

TEST_F(KivpackDecode, UsageErrorsExitOne) {
  const std::string file = ShellQuote(Media("generated/lena_u8.wav"));
  const fs::path out = dir_ / "out.wav";
  const std::string cases[] = {
      "decode",
      "decode " + file,
      "decode " + file + " -o",
      "decode -o " + ShellQuote(out.string()),
      "decode a b c -o " + ShellQuote(out.string()),
      "decode " + file + " -o " + ShellQuote(out.string()) + " -o " + ShellQuote(out.string()),
  };
  for (const std::string& args : cases) {
    EXPECT_EQ(Kivpack(args).code, 1) << args;
    EXPECT_FALSE(fs::exists(out)) << args;
  }
}

} // namespace

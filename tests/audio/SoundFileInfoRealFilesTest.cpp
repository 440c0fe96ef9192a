// Descriptions of the real sound files in the media folder against ffprobe's reading of them: formats
// exactly, durations within one frame (MPEG) or one block (ADPCM).

#include "SoundFileInfo.h"
#include "MediaTestSupport.h"

#include <gtest/gtest.h>

#include <cctype>
#include <map>
#include <sstream>

using namespace kiv;
using namespace kivtest;

namespace {

std::map<std::string, std::string> Probe(const std::string& path) {
  std::map<std::string, std::string> values;
  const std::string out =
      RunCommand("ffprobe -v quiet -select_streams a:0 -show_entries "
                 "stream=codec_tag,sample_rate,channels,duration,bits_per_sample -of default=nw=1 " +
                 Quote(path));
  std::istringstream lines(out);
  for (std::string line; std::getline(lines, line);) {
    const size_t eq = line.find('=');
    if (eq != std::string::npos) values.emplace(line.substr(0, eq), line.substr(eq + 1));
  }
  return values;
}

struct TRealFile {
  const char* path;
  TMediaType type;
  const char* note;
};

class RealSoundFile : public testing::TestWithParam<TRealFile> {};

TEST_P(RealSoundFile, MatchesFfprobe) {
  const TRealFile& c = GetParam();
  if (!HaveTool("ffprobe")) GTEST_SKIP() << "ffprobe not installed";
  const std::string path = MediaPath(c.path);
  const auto probe = Probe(path);
  ASSERT_TRUE(probe.count("duration")) << path;
  TFileStream stream(path, TFileMode::OpenRead);
  TMediaInfo info;
  ASSERT_TRUE(TMediaInfoExtractor::Extract(stream, path, info)) << c.note;
  EXPECT_EQ(info.type, c.type) << c.note;
  EXPECT_EQ(std::to_string(info.waveFormat.channels), probe.at("channels"));
  EXPECT_EQ(std::to_string(info.waveFormat.samplesPerSec), probe.at("sample_rate"));
  double tolerance = 1.0; // ms rounding
  if (info.type == TMediaType::Mpeg) {
    // An Info frame at the start counts as audio here, not for ffprobe: one frame.
    tolerance += info.frameTime;
    EXPECT_EQ(probe.at("codec_tag"), "0x0000");
  } else {
    char tag[8];
    std::snprintf(tag, sizeof(tag), "0x%04x", info.waveFormat.formatTag);
    EXPECT_EQ(probe.at("codec_tag"), tag);
    EXPECT_EQ(std::to_string(info.waveFormat.bitsPerSample), probe.at("bits_per_sample"));
    if (info.type == TMediaType::AdpcmWave) {
      const int samplesPerBlock = info.formatExtension[0] | (info.formatExtension[1] << 8);
      tolerance += 1000.0 * samplesPerBlock / info.waveFormat.samplesPerSec;
    }
  }
  EXPECT_NEAR(double(info.duration), std::stod(probe.at("duration")) * 1000.0, tolerance) << c.note;
}

INSTANTIATE_TEST_SUITE_P(
    Files, RealSoundFile,
    testing::Values(
        TRealFile{"audio/lena/lena.mp3", TMediaType::Mpeg, "CBR with Info tag, ID3v2.4"},
        TRealFile{"audio/mp3-mpg123/sweep.mp3", TMediaType::Mpeg, "Xing VBR, ID3v2.3 and ID3v1"},
        TRealFile{"generated/lena_mpeg1_layer3_vbr_xing_id3v2.mp3", TMediaType::Mpeg, "Xing VBR"},
        TRealFile{"generated/lena_mpeg2_layer3_22k_mono.mp3", TMediaType::Mpeg, "MPEG-2 layer III"},
        TRealFile{"generated/lena_mpeg25_layer3_8k_mono.mp3", TMediaType::Mpeg, "MPEG-2.5 layer III"},
        TRealFile{"generated/lena_mpeg1_layer2_48k_stereo.mp2", TMediaType::Mpeg, "MPEG-1 layer II"},
        TRealFile{"generated/lena_mpeg2_layer2_22k_mono.mp2", TMediaType::Mpeg, "MPEG-2 layer II"},
        TRealFile{"audio/wav-pcm16/Front_Center.wav", TMediaType::PcmWave, "16-bit"},
        TRealFile{"generated/lena_u8.wav", TMediaType::PcmWave, "8-bit"},
        TRealFile{"generated/lena_s24.wav", TMediaType::PcmWave, "24-bit"},
        TRealFile{"audio/wav-scipy/test-44100Hz-le-1ch-4bytes.wav", TMediaType::PcmWave, "32-bit integer"},
        TRealFile{"audio/wav-scipy/test-8000Hz-le-2ch-1byteu.wav", TMediaType::PcmWave, "8-bit stereo"},
        TRealFile{"audio/wav-scipy/test-44100Hz-2ch-32bit-float-le.wav", TMediaType::FloatWave, "float"},
        TRealFile{"audio/wav-msadpcm/sample.wav", TMediaType::AdpcmWave, "MS ADPCM"},
        TRealFile{"generated/lena_msadpcm.wav", TMediaType::AdpcmWave, "MS ADPCM with a wrong byte rate"},
        TRealFile{"generated/lena_msadpcm_sox.wav", TMediaType::AdpcmWave, "MS ADPCM from sox"}),
    [](const testing::TestParamInfo<TRealFile>& p) {
      std::string name = p.param.path;
      name = name.substr(name.rfind('/') + 1);
      for (char& ch : name)
        if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
      return name;
    });

TEST(RealSoundFile, TruncatedWaveIsClampedToWhatItHolds) {
  // The header claims 17640 bytes of data; the file ends after 944 of them.
  TFileStream stream(MediaPath("audio/wav-scipy/test-44100Hz-le-1ch-4bytes-early-eof.wav"),
                     TFileMode::OpenRead);
  TMediaInfo info;
  ASSERT_TRUE(TMediaInfoExtractor::Extract(stream, "early-eof.wav", info));
  EXPECT_EQ(info.dataOffset + info.dataSize, uint32_t(stream.GetSize()));
  EXPECT_EQ(info.duration, 5u); // 944 / 176400 s
}

TEST(RealSoundFile, UnplayableWavesAreLeftToTheFallback) {
  for (const char* file :
       {"test-44100Hz-le-1ch-4bytes-early-eof-no-data.wav", "test-44100Hz-le-1ch-4bytes-incomplete-chunk.wav",
        "test-48000Hz-2ch-64bit-float-le-wavex.wav", "test-8000Hz-le-3ch-5S-24bit.wav",
        "test-8000Hz-le-1ch-1byte-ulaw.wav", "test-8000Hz-le-5ch-9S-5bit.wav",
        "test-44100Hz-2ch-32bit-float-be.wav"}) {
    TFileStream stream(MediaPath(std::string("audio/wav-scipy/") + file), TFileMode::OpenRead);
    TMediaInfo info;
    EXPECT_FALSE(TMediaInfoExtractor::Extract(stream, file, info)) << file;
    EXPECT_EQ(info.type, TMediaType::Unknown) << file;
  }
}

} // namespace

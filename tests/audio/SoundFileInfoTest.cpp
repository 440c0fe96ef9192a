// Media descriptions of wave and MPEG files built byte by byte: odd chunk layouts, bad formats, tags,
// VBR headers and layer I frames that no encoder here writes.

#include "SoundFileInfo.h"
#include "MpegAudioInfo.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

using namespace kiv;

namespace {

using TBytes = std::vector<uint8_t>;

void Put16(TBytes& b, uint16_t v) {
  b.push_back(uint8_t(v));
  b.push_back(uint8_t(v >> 8));
}
void Put32(TBytes& b, uint32_t v) {
  for (int i = 0; i < 4; ++i)
    b.push_back(uint8_t(v >> (8 * i)));
}
void PutId(TBytes& b, const char* id) {
  for (int i = 0; i < 4; ++i)
    b.push_back(uint8_t(id[i]));
}
void PutChunk(TBytes& b, const char* id, const TBytes& body, bool pad = true) {
  PutId(b, id);
  Put32(b, uint32_t(body.size()));
  b.insert(b.end(), body.begin(), body.end());
  if (pad && (body.size() & 1)) b.push_back(0);
}

struct TFmt {
  uint16_t tag = 1, channels = 2;
  uint32_t rate = 44100, avg = 176400;
  uint16_t align = 4, bits = 16;
};

TBytes FmtBody(const TFmt& f) {
  TBytes b;
  Put16(b, f.tag);
  Put16(b, f.channels);
  Put32(b, f.rate);
  Put32(b, f.avg);
  Put16(b, f.align);
  Put16(b, f.bits);
  return b;
}

// RIFF header around the chunks; the RIFF size is not read, so it may be anything.
TBytes Riff(const TBytes& chunks) {
  TBytes b;
  PutId(b, "RIFF");
  Put32(b, uint32_t(chunks.size() + 4));
  PutId(b, "WAVE");
  b.insert(b.end(), chunks.begin(), chunks.end());
  return b;
}

bool Describe(const TBytes& bytes, const std::string& name, TMediaInfo& info) {
  TMemoryStream stream(bytes);
  return TMediaInfoExtractor::Extract(stream, name, info);
}

TEST(WaveInfo, ChunksBeforeFmtAreSkippedIncludingOddOnes) {
  TBytes chunks;
  PutChunk(chunks, "LIST", TBytes(13, 'x')); // odd size, padded as the format asks
  PutChunk(chunks, "JUNK", TBytes(28, 0));
  PutChunk(chunks, "fmt ", FmtBody({}));
  PutChunk(chunks, "bext", TBytes(7, 1), /*pad=*/false); // a writer that forgot the pad byte
  PutChunk(chunks, "data", TBytes(17640, 0));
  TMediaInfo info;
  ASSERT_TRUE(Describe(Riff(chunks), "a.wav", info));
  EXPECT_EQ(info.type, TMediaType::PcmWave);
  EXPECT_EQ(info.dataOffset, 12u + (8 + 14) + (8 + 28) + (8 + 16) + (8 + 7) + 8);
  EXPECT_EQ(info.dataSize, 17640u);
  EXPECT_EQ(info.duration, 100u);
  EXPECT_TRUE(info.waveFormat == StandardWaveFormat());
}

TEST(WaveInfo, FmtChunkBeyondTheEndFails) {
  TBytes chunks;
  PutId(chunks, "LIST");
  Put32(chunks, 1000); // claims more than the file holds
  chunks.resize(chunks.size() + 20);
  TMediaInfo info;
  EXPECT_FALSE(Describe(Riff(chunks), "a.wav", info));
  EXPECT_EQ(info.type, TMediaType::Unknown);
}

TEST(WaveInfo, StreamedDataSizeIsClampedToTheFile) {
  TBytes chunks;
  PutChunk(chunks, "fmt ", FmtBody({}));
  PutId(chunks, "data");
  Put32(chunks, 0xFFFFFFFF);
  chunks.resize(chunks.size() + 1764);
  TMediaInfo info;
  ASSERT_TRUE(Describe(Riff(chunks), "live.wav", info));
  EXPECT_EQ(info.dataSize, 1764u);
  EXPECT_EQ(info.duration, 10u);
}

TEST(WaveInfo, MsAdpcmKeepsItsExtension) {
  TBytes fmt = FmtBody({2, 1, 22050, 11155, 512, 4});
  Put16(fmt, 32);   // the file's extra size
  Put16(fmt, 1012); // samples per block
  Put16(fmt, 7);    // coefficient count
  const int16_t coefficients[14] = {256, 0, 512, -256, 0, 0, 192, 64, 240, 0, 460, -208, 392, -232};
  for (int16_t c : coefficients)
    Put16(fmt, uint16_t(c));
  ASSERT_EQ(fmt.size(), 50u);
  TBytes chunks;
  PutChunk(chunks, "fmt ", fmt);
  TBytes fact;
  Put32(fact, 1012 * 4);
  PutChunk(chunks, "fact", fact);
  PutChunk(chunks, "data", TBytes(512 * 4, 0));
  TMediaInfo info;
  ASSERT_TRUE(Describe(Riff(chunks), "speech.wav", info));
  EXPECT_EQ(info.type, TMediaType::AdpcmWave);
  EXPECT_EQ(+info.waveFormat.extraSize, 32);
  EXPECT_EQ(info.dataOffset, 12u + 58 + 12 + 8);
  EXPECT_EQ(info.formatExtension[0] | (info.formatExtension[1] << 8), 1012);
  EXPECT_EQ(std::memcmp(info.formatExtension + 4, fmt.data() + 22, 28), 0);
  // Four blocks of 1012 samples at 22050 Hz.
  EXPECT_NEAR(info.duration, 4 * 1012 * 1000.0 / 22050, 1.0);
}

// A block layout whose byte rate does not fit the format's 32 bits (rate x block align / samples per block)
// is no file to play, not one with a wrapped rate.
TEST(WaveInfo, MsAdpcmWhoseByteRateDoesNotFitIsRejected) {
  TBytes fmt = FmtBody({2, 2, 384000, 1, 65535, 4});
  Put16(fmt, 32); // extra size
  Put16(fmt, 2);  // samples per block
  Put16(fmt, 7);  // coefficient count
  fmt.resize(50, 0);
  TBytes chunks;
  PutChunk(chunks, "fmt ", fmt);
  PutChunk(chunks, "data", TBytes(400, 0));
  TMediaInfo info;
  EXPECT_FALSE(Describe(Riff(chunks), "speech.wav", info));
  EXPECT_EQ(info.type, TMediaType::Unknown);
}

struct TBadFormat {
  const char* what;
  TFmt fmt;
};

class BadWaveFormat : public testing::TestWithParam<TBadFormat> {};

TEST_P(BadWaveFormat, IsRejectedAtDescriptionTime) {
  TBytes chunks;
  PutChunk(chunks, "fmt ", FmtBody(GetParam().fmt));
  PutChunk(chunks, "data", TBytes(400, 0));
  TMediaInfo info;
  EXPECT_FALSE(Describe(Riff(chunks), "bad.wav", info)) << GetParam().what;
  EXPECT_EQ(info.type, TMediaType::Unknown);
  EXPECT_EQ(info.duration, 0u);
}

INSTANTIATE_TEST_SUITE_P(Cases, BadWaveFormat,
                         testing::Values(TBadFormat{"no channels", {1, 0, 44100, 176400, 4, 16}},
                                         TBadFormat{"rate 0", {1, 2, 0, 176400, 4, 16}},
                                         TBadFormat{"absurd rate", {1, 2, 4000000, 176400, 4, 16}},
                                         TBadFormat{"average bytes 0", {1, 2, 44100, 0, 4, 16}},
                                         TBadFormat{"block align 0", {1, 2, 44100, 176400, 0, 16}},
                                         TBadFormat{"12-bit", {1, 2, 44100, 132300, 3, 12}},
                                         TBadFormat{"64-bit float", {3, 2, 44100, 705600, 16, 64}},
                                         TBadFormat{"three channels", {1, 3, 44100, 264600, 6, 16}},
                                         TBadFormat{"mu-law", {7, 1, 8000, 8000, 1, 8}}));

TEST(WaveInfo, FailedRiffGetsTheFallback) {
  TBytes chunks;
  PutChunk(chunks, "fmt ", FmtBody({7, 1, 8000, 8000, 1, 8}));
  PutChunk(chunks, "data", TBytes(400, 0));
  int calls = 0;
  std::string lastName;
  TMediaInfoExtractor::SetFallback([&](TStream&, const std::string& name, TMediaInfo& info) {
    ++calls;
    lastName = name;
    info.type = TMediaType::VideoLibrary;
    info.duration = 50;
    return true;
  });
  TMediaInfo info;
  EXPECT_TRUE(Describe(Riff(chunks), "ulaw.wav", info));
  EXPECT_EQ(info.type, TMediaType::VideoLibrary);
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(lastName, "ulaw.wav");
  // Unknown extensions go there too; MPEG extensions never do.
  EXPECT_TRUE(Describe(TBytes(100, 0), "clip.ogg", info));
  EXPECT_FALSE(Describe(TBytes(100, 0), "song.mp3", info));
  EXPECT_EQ(calls, 2);
  TMediaInfoExtractor::SetFallback({});
  EXPECT_FALSE(Describe(TBytes(100, 0), "clip.ogg", info));
  EXPECT_FALSE(Describe(TBytes(7, 0), "short.wav", info));
}

// MPEG-1 layer III, 128 kbit/s, 44.1 kHz, stereo, no CRC: 417-byte frames (418 padded).
const uint8_t kMp3Header[4] = {0xFF, 0xFB, 0x90, 0x00};

TBytes CbrFrames(const uint8_t header[4], int frameLength, int64_t totalBytes) {
  TBytes b;
  while (int64_t(b.size()) + frameLength <= totalBytes) {
    b.insert(b.end(), header, header + 4);
    b.resize(b.size() + frameLength - 4, 0);
  }
  b.resize(size_t(totalBytes), 0);
  return b;
}

TEST(MpegInfo, CbrDurationFromSizeAndRate) {
  TMediaInfo info;
  ASSERT_TRUE(Describe(CbrFrames(kMp3Header, 417, 1000000), "song.MP3", info));
  EXPECT_EQ(info.type, TMediaType::Mpeg);
  EXPECT_EQ(info.dataOffset, 0u);
  EXPECT_EQ(info.dataSize, 1000000u);
  EXPECT_EQ(info.duration, 62500u);
  EXPECT_EQ(info.frameLength, 417u);
  EXPECT_NEAR(info.frameTime, 62500.0 / 1000000 * 417, 1e-9);
  EXPECT_EQ(info.formatExtension[1], 0);
  EXPECT_EQ(+info.waveFormat.channels, 2);
  EXPECT_EQ(+info.waveFormat.avgBytesPerSec, 176400u);
}

TEST(MpegInfo, Id3TagsMoveTheDataAndCutItsEnd) {
  TBytes b = {'I', 'D', '3', 4, 0, 0, 0, 0, 0x20, 0x00}; // 4096 bytes of tag
  b.resize(4106, 0);
  b.insert(b.end(), {0x12, 0xFF, 0x00}); // junk, and a 0xFF that starts no header
  const TBytes frames = CbrFrames(kMp3Header, 417, 417 * 20);
  b.insert(b.end(), frames.begin(), frames.end());
  TBytes tag(128, 0);
  std::memcpy(tag.data(), "TAG", 3);
  b.insert(b.end(), tag.begin(), tag.end());
  TMediaInfo info;
  ASSERT_TRUE(Describe(b, "tagged.mp3", info));
  EXPECT_EQ(info.dataOffset, 4106u + 3);
  EXPECT_EQ(info.dataSize, 417u * 20);
}

TEST(MpegInfo, LayerOneFramesAre136Bytes) {
  // Layer I, 128 kbit/s, 44.1 kHz, no CRC; 384 samples a frame.
  const uint8_t header[4] = {0xFF, 0xFF, 0x40, 0x00};
  TMediaInfo info;
  ASSERT_TRUE(Describe(CbrFrames(header, 136, 136 * 50), "old.mp1", info));
  EXPECT_EQ(info.frameLength, 136u);
  EXPECT_EQ(ParseMpegHeader(header).SamplesPerFrame(), 384);
  const uint8_t padded[4] = {0xFF, 0xFF, 0x42, 0x00};
  EXPECT_EQ(ParseMpegHeader(padded).FrameLength(), 140);
}

TEST(MpegInfo, FrameLengthsOfEveryVersion) {
  struct TCase {
    uint8_t b1, b2;
    int length, samples;
  };
  // MPEG-1 layer II 192k/48k; MPEG-2 layer III 64k/22.05k; MPEG-2.5 layer III 16k/8k; MPEG-2 layer II
  // 64k/22.05k.
  for (const TCase& c : {TCase{0xFD, 0xA4, 576, 1152}, TCase{0xF3, 0x80, 208, 576},
                         TCase{0xE3, 0x28, 144, 576}, TCase{0xF5, 0x80, 417, 1152}}) {
    const uint8_t h[4] = {0xFF, c.b1, c.b2, 0xC0};
    ASSERT_TRUE(IsValidMpegHeader(h)) << std::hex << int(c.b1) << " " << int(c.b2);
    EXPECT_EQ(ParseMpegHeader(h).FrameLength(), c.length) << std::hex << int(c.b1);
    EXPECT_EQ(ParseMpegHeader(h).SamplesPerFrame(), c.samples) << std::hex << int(c.b1);
  }
  const uint8_t reservedVersion[4] = {0xFF, 0xEB, 0x90, 0x00};
  const uint8_t freeFormat[4] = {0xFF, 0xFB, 0x00, 0x00};
  const uint8_t badRate[4] = {0xFF, 0xFB, 0x9C, 0x00};
  const uint8_t badEmphasis[4] = {0xFF, 0xFB, 0x90, 0x02};
  for (const uint8_t* h : {reservedVersion, freeFormat, badRate, badEmphasis})
    EXPECT_FALSE(IsValidMpegHeader(h));
}

TBytes VbrFrame(const char* tag, uint32_t frames, uint32_t bytes) {
  TBytes b(kMp3Header, kMp3Header + 4);
  b.resize(417, 0);
  if (std::strcmp(tag, "Xing") == 0) {
    std::memcpy(&b[36], "Xing", 4);
    b[43] = 0x0F; // frames, bytes, TOC, quality
    for (int i = 0; i < 4; ++i)
      b[44 + i] = uint8_t(frames >> (24 - 8 * i));
    for (int i = 0; i < 4; ++i)
      b[48 + i] = uint8_t(bytes >> (24 - 8 * i));
    b[36 + 119] = 57;
    std::memcpy(&b[36 + 120], "LAME3.99", 8);
  } else {
    std::memcpy(&b[36], "VBRI", 4);
    b[36 + 9] = 75;
    for (int i = 0; i < 4; ++i)
      b[36 + 10 + i] = uint8_t(bytes >> (24 - 8 * i));
    for (int i = 0; i < 4; ++i)
      b[36 + 14 + i] = uint8_t(frames >> (24 - 8 * i));
  }
  return b;
}

TEST(MpegInfo, XingAndVbriHeadersGiveTheDuration) {
  for (const char* tag : {"Xing", "VBRI"}) {
    SCOPED_TRACE(tag);
    TBytes b = VbrFrame(tag, 100, 41700);
    const TBytes rest = CbrFrames(kMp3Header, 417, 417 * 5);
    b.insert(b.end(), rest.begin(), rest.end());
    TMpegInfo mpeg;
    TMediaInfo info;
    TMemoryStream stream(b);
    ASSERT_TRUE(mpeg.Parse(stream, 0, 0, info));
    EXPECT_EQ(+mpeg.vbr.frames, 100u);
    EXPECT_EQ(+mpeg.vbr.bytes, 41700u);
    EXPECT_EQ(+mpeg.vbr.quality, std::string(tag) == "Xing" ? 57 : 75);
    EXPECT_EQ(info.formatExtension[1], 1);
    EXPECT_EQ(info.duration, 2612u); // 100 x 1152 / 44100 s
    EXPECT_EQ(info.streamLength, info.duration);
    EXPECT_NEAR(info.frameTime, 26.12, 0.001);
  }
  TMpegInfo mpeg;
  TMemoryStream stream(VbrFrame("Xing", 100, 41700));
  TMediaInfo info;
  ASSERT_TRUE(mpeg.Parse(stream, 0, 0, info));
  EXPECT_EQ(std::string(mpeg.vbr.encoder, 8), "LAME3.99");
}

TEST(MpegInfo, HugeXingFrameCountIsClampedNotWrapped) {
  TMediaInfo info;
  ASSERT_TRUE(Describe(VbrFrame("Xing", 0xFFFFFFFF, 1000), "huge.mp3", info));
  EXPECT_EQ(info.duration, 0xFFFFFFFFu);
}

TEST(MpegInfo, FileShorterThanTheProbeStillParses) {
  TBytes b(kMp3Header, kMp3Header + 4);
  b.resize(300, 0);
  TMediaInfo info;
  ASSERT_TRUE(Describe(b, "short.mp3", info));
  EXPECT_EQ(info.dataSize, 300u);
  EXPECT_EQ(info.duration, 19u); // 300 x 8 / 128
}

TEST(MpegInfo, NoHeaderAnywhereFails) {
  TMediaInfo info;
  EXPECT_FALSE(Describe(TBytes(5000, 0xFF), "noise.mp3", info)); // 0xFF 0xFF 0xFF: bit rate index 15
  EXPECT_EQ(info.type, TMediaType::Unknown);
}

TEST(MpegInfo, MpegInsideRiffWithoutAByteRate) {
  TBytes chunks;
  PutChunk(chunks, "fmt ", FmtBody({0x55, 2, 44100, 0, 1, 0}));
  PutChunk(chunks, "data", CbrFrames(kMp3Header, 417, 417 * 30));
  PutChunk(chunks, "LIST", TBytes(40, 'z'));
  TMediaInfo info;
  ASSERT_TRUE(Describe(Riff(chunks), "mp3.wav", info));
  EXPECT_EQ(info.type, TMediaType::Mpeg);
  EXPECT_EQ(info.mpegInRiff, 1);
  EXPECT_EQ(info.dataOffset, 12u + 24 + 8);
  EXPECT_EQ(info.dataSize, 417u * 30);
  // Rate 0 in the RIFF header: the frame header's 128 kbit/s stands in.
  EXPECT_EQ(info.duration, static_cast<uint32_t>(std::nearbyint(417.0 * 30 * 8 / 128)));
}

TEST(MediaExtension, LastDotLowerCased) {
  EXPECT_EQ(MediaExtension("Song.MP3"), ".mp3");
  EXPECT_EQ(MediaExtension("dir.v2/track"), "");
  EXPECT_EQ(MediaExtension("a.b.mp2"), ".mp2");
  EXPECT_EQ(MediaExtension("clip.avi?2"), ".avi?2");
}

} // namespace

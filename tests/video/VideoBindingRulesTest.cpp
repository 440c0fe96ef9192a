// Rules of the video binding that need no decoding: rate normalisation, aspect, frame counts, the grey
// table, container names, and loading the library.

#include "DecoderLibrary.h"
#include "DecoderFrameSource.h"

#include <gtest/gtest.h>

#include <filesystem>

using namespace kiv;

namespace {

struct TFakeMedia {
  TKivMedia media{};
  TVideoDataEx data;
  TFakeMedia() {
    media.userData = &data;
    media.videoStream = 0;
  }
};

struct TRateCase {
  const char* what;
  TContainerKind container;
  int codec;
  int rateNum, rateDen, avgNum, avgDen;
  int wantNum, wantDen;
  bool keep;
};

class RateNormalisation : public testing::TestWithParam<TRateCase> {};

TEST_P(RateNormalisation, GivesTheRateTheClipMeans) {
  const TRateCase& c = GetParam();
  TFakeMedia m;
  m.data.container = c.container;
  m.media.videoCodec = c.codec;
  m.media.frameRateNum = c.rateNum;
  m.media.frameRateDen = c.rateDen;
  m.media.avgFrameRateNum = c.avgNum;
  m.media.avgFrameRateDen = c.avgDen;
  TFFMpegDll::NormaliseFrameRate(&m.media);
  EXPECT_EQ(m.media.frameRateNum, c.wantNum) << c.what;
  EXPECT_EQ(m.media.frameRateDen, c.wantDen) << c.what;
  EXPECT_EQ(m.data.keepFrameRate, c.keep) << c.what;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RateNormalisation,
    testing::Values(
        TRateCase{"NTSC stays", TContainerKind::Mov, KIV_CODEC_H264, 30000, 1001, 30000, 1001, 30000, 1001,
                  false},
        TRateCase{"film average wins", TContainerKind::Mov, KIV_CODEC_H264, 48, 1, 2997, 125, 24000, 1001,
                  false},
        TRateCase{"NTSC average wins", TContainerKind::Avi, KIV_CODEC_MJPEG - 0, 60, 1, 2997, 100, 30000,
                  1001, false},
        TRateCase{"MPEG program average", TContainerKind::Mpeg, KIV_CODEC_MPEG2, 50, 1, 25, 1, 25, 1, false},
        TRateCase{"MPEG average above 130 ignored", TContainerKind::MpegTs, KIV_CODEC_MPEG2, 25, 1, 200, 1,
                  25, 1, false},
        TRateCase{"unknown average ignored", TContainerKind::Flv, KIV_CODEC_MPEG2, 25, 1, 0, 0, 25, 1, false},
        TRateCase{"MP4 keeps its own rate", TContainerKind::Mov, KIV_CODEC_H264, 25, 1, 50, 1, 25, 1, false},
        TRateCase{"MS-MPEG-4 keeps", TContainerKind::Avi, KIV_CODEC_MSMPEG4V3, 60, 1, 2997, 100, 60, 1, true},
        TRateCase{"MPEG-4 in AVI keeps", TContainerKind::Avi, KIV_CODEC_MPEG4, 60, 1, 2997, 100, 60, 1, true},
        TRateCase{"fast H.264 in TS keeps", TContainerKind::MpegTs, KIV_CODEC_H264, 50, 1, 50, 1, 50, 1,
                  true},
        TRateCase{"above 100 keeps", TContainerKind::Mov, KIV_CODEC_H264, 120, 1, 24, 1, 120, 1, true},
        TRateCase{"MPEG-2 never keeps", TContainerKind::Mpeg, KIV_CODEC_MPEG2, 120, 1, 50, 1, 50, 1, false}));

TEST(FrameCount, UnknownDurationOrRateIsZeroNotGarbage) {
  EXPECT_EQ(FrameCountOf(10'000'000, 25, 1), 250);
  EXPECT_EQ(FrameCountOf(1'001'000, 30000, 1001), 30);
  EXPECT_EQ(FrameCountOf(0, 25, 1), 0);
  EXPECT_EQ(FrameCountOf(10'000'000, 0, 0), 0);
  EXPECT_EQ(FrameCountOf(10'000'000, 25, 0), 0);
}

TEST(FrameNumbers, UnknownTimestampOrTimeBaseIsMinusOne) {
  TFakeMedia m;
  m.media.frameRateNum = 25;
  m.media.frameRateDen = 1;
  m.media.videoTimeBaseNum = 1;
  m.media.videoTimeBaseDen = 90000;
  m.media.startTime = 1'400'000;
  EXPECT_EQ(TFFMpegDll::FrameOfTimestamp(&m.media, 126000), 0); // 1.4 s: the first frame
  EXPECT_EQ(TFFMpegDll::FrameOfTimestamp(&m.media, 126000 + 3600 * 7), 7);
  EXPECT_EQ(TFFMpegDll::FrameOfTimestamp(&m.media, KIV_NO_PTS), -1);
  m.media.videoTimeBaseDen = 0;
  EXPECT_EQ(TFFMpegDll::FrameOfTimestamp(&m.media, 126000), -1);
}

struct TAspectCase {
  int width, height, sarNum, sarDen, codec;
  TAspectKind want;
};

class Aspect : public testing::TestWithParam<TAspectCase> {};

TEST_P(Aspect, KindFromPictureAndSampleAspect) {
  const TAspectCase& c = GetParam();
  TKivMedia media{};
  media.width = c.width;
  media.height = c.height;
  media.sampleAspectNum = c.sarNum;
  media.sampleAspectDen = c.sarDen;
  media.videoCodec = c.codec;
  EXPECT_EQ(TFFMpegDll::AspectKind(&media), c.want)
      << c.width << "x" << c.height << " " << c.sarNum << ":" << c.sarDen;
}

INSTANTIATE_TEST_SUITE_P(Cases, Aspect,
                         testing::Values(TAspectCase{1440, 1080, 0, 0, 28, TAspectKind::Ratio16x9},
                                         TAspectCase{1440, 1080, 1, 1, 28, TAspectKind::Ratio16x9},
                                         TAspectCase{1440, 1080, 4, 3, 28, TAspectKind::Ratio16x9},
                                         TAspectCase{1920, 1080, 1, 1, 28, TAspectKind::Ratio16x9},
                                         TAspectCase{720, 576, 16, 15, 2, TAspectKind::Ratio4x3},
                                         TAspectCase{720, 576, 64, 45, 2, TAspectKind::Ratio16x9},
                                         TAspectCase{640, 480, 1, 1, 28, TAspectKind::Ratio4x3},
                                         TAspectCase{388, 300, 1, 1, 28, TAspectKind::Other},
                                         TAspectCase{320, 240, 0, 0, 8, TAspectKind::Ratio4x3},
                                         TAspectCase{320, 240, 0, 0, 64, TAspectKind::Ratio16x9},
                                         TAspectCase{320, 240, 0, 0, 28, TAspectKind::Other}));

TEST(GreyTable, StudioRangeInRgb565) {
  const auto& table = GreyTable();
  // Luma 0 is grey level 16, luma 255 level 235; both spread over 6-bit green and 5-bit red and blue.
  EXPECT_EQ(table[0], (16 * 64 / 256) * 32 + (16 * 32 / 256) * 2049);
  EXPECT_EQ(table[255], (235 * 64 / 256) * 32 + (235 * 32 / 256) * 2049);
  for (int i = 1; i < 256; ++i)
    EXPECT_GE(table[i] & 0x7E0, table[i - 1] & 0x7E0) << i;
  // Red and blue always carry the same 5 bits.
  for (int i = 0; i < 256; ++i)
    EXPECT_EQ(table[i] >> 11, table[i] & 31) << i;
}

TEST(ContainerKinds, FromFormatNames) {
  EXPECT_EQ(ContainerKindOf("avi"), TContainerKind::Avi);
  EXPECT_EQ(ContainerKindOf("matroska,webm"), TContainerKind::Matroska);
  EXPECT_EQ(ContainerKindOf("mov,mp4,m4a,3gp,3g2,mj2"), TContainerKind::Mov);
  EXPECT_EQ(ContainerKindOf("mpeg"), TContainerKind::Mpeg);
  EXPECT_EQ(ContainerKindOf("mpegvideo"), TContainerKind::Mpeg);
  EXPECT_EQ(ContainerKindOf("flv"), TContainerKind::Flv);
  EXPECT_EQ(ContainerKindOf("mpegts"), TContainerKind::MpegTs);
  EXPECT_EQ(ContainerKindOf("asf"), TContainerKind::Asf);
  EXPECT_EQ(ContainerKindOf("ogg"), TContainerKind::Other);
  EXPECT_EQ(CodecName(2), "MPEG2");
  EXPECT_EQ(CodecName(13), "MPEG4");
  EXPECT_EQ(CodecName(28), "H264");
  EXPECT_EQ(CodecName(63), "XVID");
  EXPECT_EQ(CodecName(1139), "OTHER");
}

class LibraryLoading : public testing::Test {
protected:
  void TearDown() override {
    TFFMpegDll::SetConfiguredPath("");
    TFFMpegDll::SetSearchOnlyConfigured(false);
  }
};

TEST_F(LibraryLoading, MissingLibraryMeansNoVideo) {
  TFFMpegDll::SetSearchOnlyConfigured(true);
  TFFMpegDll::SetConfiguredPath("/nonexistent/libkivffmpeg.so");
  EXPECT_THROW(TFFMpegDll::Acquire(), EFFMpegDllError);
  EXPECT_EQ(TFFMpegDll::TryAcquire(), nullptr);
  TMemoryStream stream(std::vector<uint8_t>(100, 0));
  EXPECT_EQ(MakeWinVideoSource(&stream, false, "clip.mp4"), nullptr);
}

TEST_F(LibraryLoading, LibraryWithoutTheFunctionsIsRefused) {
  // Any shared library without our functions will do; the C library is always there.
  TFFMpegDll::SetSearchOnlyConfigured(true);
  for (const char* path :
       {"/lib/x86_64-linux-gnu/libc.so.6", "/usr/lib/x86_64-linux-gnu/libc.so.6", "/lib64/libc.so.6"}) {
    if (!std::filesystem::exists(path)) continue;
    TFFMpegDll::SetConfiguredPath(path);
    try {
      TFFMpegDll::Acquire();
      ADD_FAILURE() << "loaded " << path;
    } catch (const EFFMpegDllError& e) {
      EXPECT_NE(e.Detail().find("missing function OpenMediaFile"), std::string::npos) << e.Detail();
    }
    return;
  }
  GTEST_SKIP() << "no C library found at the usual paths";
}

TEST_F(LibraryLoading, SearchesBesideTheProgramThenItsInstalledFolderThenItsRunPathThenTheConfiguredFile) {
  TFFMpegDll::SetConfiguredPath("/opt/decoders/libkivffmpeg.so");
  const std::vector<std::string> paths = TFFMpegDll::SearchPaths();
  ASSERT_EQ(paths.size(), 4u);
  // Beside the program: an absolute file name ending in the library's name.
  EXPECT_EQ(paths[0].front(), '/');
  const std::filesystem::path beside(paths[0]);
  EXPECT_EQ(beside.filename(), "libkivffmpeg.so");
  // The installed layout: bin/PROGRAM and lib/kivviewer/libkivffmpeg.so under one prefix.
  EXPECT_EQ(paths[1],
            (beside.parent_path().parent_path() / "lib" / "kivviewer" / "libkivffmpeg.so").lexically_normal().string());
  // The bare name, which dlopen looks up along the program's run path and never in the current folder.
  EXPECT_EQ(paths[2], "libkivffmpeg.so");
  EXPECT_EQ(paths[3], "/opt/decoders/libkivffmpeg.so");
  TFFMpegDll::SetSearchOnlyConfigured(true);
  EXPECT_EQ(TFFMpegDll::SearchPaths(), std::vector<std::string>{"/opt/decoders/libkivffmpeg.so"});
}

TEST_F(LibraryLoading, VersionLineNamesTheReleaseAndTheFileOrWhyThereIsNone) {
  if (TFFMpegDll::TryAcquire()) {
    const std::string line = DecoderVersionLine();
    EXPECT_EQ(line.rfind("FFmpeg ", 0), 0u) << line;
    EXPECT_NE(line.find("(video decoder /"), std::string::npos) << line;
    EXPECT_EQ(line.find("release unknown"), std::string::npos) << line;
  }
  TFFMpegDll::SetSearchOnlyConfigured(true);
  TFFMpegDll::SetConfiguredPath("/nonexistent/libkivffmpeg.so");
  EXPECT_EQ(DecoderVersionLine(), "FFmpeg: no video decoder, not found: /nonexistent/libkivffmpeg.so");
}

TEST_F(LibraryLoading, BuiltLibraryIsSharedByItsUsers) {
  auto first = TFFMpegDll::TryAcquire();
  if (!first) GTEST_SKIP() << "libkivffmpeg.so was not built (no FFmpeg development files)";
  auto second = TFFMpegDll::Acquire();
  EXPECT_EQ(first.get(), second.get());
}

} // namespace

// Frames decoded by number against ffmpeg's own decode of the same clip: forward steps, jumps ahead and
// backward seeks, on real and generated clips of the codecs shows use.

#include "DecoderFrameSource.h"
#include "MediaTestSupport.h"
#include "FrameSourceFactory.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>

using namespace kiv;
using namespace kivtest;

namespace {

struct TReference {
  int width = 0, height = 0;
  std::vector<std::vector<uint8_t>> frames; // yuv420p, in decode output order
  std::vector<int64_t> timestamps;          // best-effort time stamp of each
};

// ffmpeg's decode of every picture (no frame-rate conversion), cropped like the player crops.
bool DecodeReference(const std::string& clip, int width, int height, TReference& ref) {
  const std::filesystem::path raw =
      ScratchDir("reference") / (std::filesystem::path(clip).filename().string() + ".yuv");
  bool ok = false;
  RunCommand("ffmpeg -v error -y -i " + Quote(clip) +
                 " -map 0:v:0 -fps_mode passthrough -vf crop=" + std::to_string(width) + ":" +
                 std::to_string(height) + ":0:0 -pix_fmt yuv420p -f rawvideo " + Quote(raw.string()),
             &ok);
  if (!ok) return false;
  const std::string stamps =
      RunCommand("ffprobe -v error -select_streams v:0 -show_entries frame=best_effort_timestamp "
                 "-of default=nw=1 " +
                     Quote(clip),
                 &ok);
  if (!ok) return false;
  std::istringstream lines(stamps);
  const std::string key = "best_effort_timestamp=";
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind(key, 0) != 0) continue;
    const std::string value = line.substr(key.size());
    ref.timestamps.push_back(value == "N/A" ? KIV_NO_PTS : std::stoll(value));
  }
  std::ifstream in(raw, std::ios::binary);
  const size_t frameBytes = size_t(width) * height * 3 / 2;
  std::vector<uint8_t> all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  for (size_t at = 0; at + frameBytes <= all.size(); at += frameBytes)
    ref.frames.emplace_back(all.begin() + static_cast<std::ptrdiff_t>(at),
                            all.begin() + static_cast<std::ptrdiff_t>(at + frameBytes));
  ref.width = width;
  ref.height = height;
  return !ref.frames.empty() && ref.frames.size() == ref.timestamps.size();
}

double Psnr(const uint8_t* a, const uint8_t* b, size_t n) {
  double sum = 0;
  for (size_t i = 0; i < n; ++i) {
    const double d = double(a[i]) - double(b[i]);
    sum += d * d;
  }
  if (sum == 0) return 99.0;
  return 10.0 * std::log10(255.0 * 255.0 / (sum / double(n)));
}

// Y, U and V of the image packed like ffmpeg's raw output.
std::vector<uint8_t> Packed(const TMemoryYUVImage& image) {
  const int w = image.Width(), h = image.Height(), cw = (w + 1) / 2, ch = (h + 1) / 2;
  std::vector<uint8_t> out;
  auto add = [&](int index, int rowBytes, int rows) {
    const auto& bytes = image.PlaneBytes(index);
    for (int y = 0; y < rows; ++y) {
      const auto begin = bytes.begin() + static_cast<std::ptrdiff_t>(y) * image.PlanePitch(index);
      out.insert(out.end(), begin, begin + rowBytes);
    }
  };
  add(kPlaneY, w, h);
  add(kPlaneU, cw, ch);
  add(kPlaneV, cw, ch);
  return out;
}

struct TClip {
  std::string name;
  std::string path;
};

class FramesByNumber : public testing::TestWithParam<TClip> {};

std::string GeneratedClip(const std::string& file, const std::string& encodeArgs) {
  const std::filesystem::path path = ScratchDir("clips") / file;
  if (!std::filesystem::exists(path)) {
    bool ok = false;
    RunCommand("ffmpeg -v error -y " + encodeArgs + " " + Quote(path.string()), &ok);
    if (!ok) return {};
  }
  return path.string();
}

std::string ClipPath(const TClip& clip) {
  if (clip.path == "gen:h264") {
    return GeneratedClip("h264_bframes.mp4",
                         "-f lavfi -i testsrc=size=320x240:rate=25 -frames:v 90 -c:v libx264 "
                         "-bf 3 -g 30 -pix_fmt yuv420p");
  }
  if (clip.path == "gen:mpeg2") {
    return GeneratedClip("mpeg2.mpg",
                         "-f lavfi -i testsrc=size=352x288:rate=25 -frames:v 90 -c:v mpeg2video -bf 2 "
                         "-g 15 -q:v 2");
  }
  if (clip.path == "gen:vp8") {
    return GeneratedClip("vp8.webm",
                         "-f lavfi -i testsrc=size=320x240:rate=30 -frames:v 90 -c:v libvpx -g 30 -b:v 1M");
  }
  if (clip.path == "gen:1088") {
    return GeneratedClip("h264_1088.mp4",
                         "-f lavfi -i testsrc=size=1920x1088:rate=25 -frames:v 4 -c:v libx264 "
                         "-preset ultrafast -pix_fmt yuv420p");
  }
  return MediaPath(clip.path);
}

TEST_P(FramesByNumber, MatchFfmpegForwardAndBackward) {
  const TClip& clip = GetParam();
  if (!HaveTool("ffmpeg") || !HaveTool("ffprobe")) GTEST_SKIP() << "ffmpeg/ffprobe not installed";
  const std::string path = ClipPath(clip);
  ASSERT_FALSE(path.empty()) << "could not generate " << clip.name;
  ASSERT_TRUE(std::filesystem::exists(path)) << path;
  if (!TFFMpegDll::TryAcquire()) GTEST_SKIP() << "libkivffmpeg.so not built";

  auto source = MakeWinVideoSource(new TFileStream(path, TFileMode::OpenRead), true, path);
  ASSERT_NE(source, nullptr) << path;
  TReference ref;
  ASSERT_TRUE(DecodeReference(path, source->width, source->height, ref)) << path;

  // The player's number of every reference picture.
  std::map<int64_t, size_t> indexOfNumber;
  for (size_t i = 0; i < ref.timestamps.size(); ++i)
    indexOfNumber.emplace(TFFMpegDll::FrameOfTimestamp(source->Media(), ref.timestamps[i]), i);
  const int64_t last = indexOfNumber.rbegin()->first;
  ASSERT_GE(last, 20) << "clip too short";

  std::vector<int64_t> requests;
  for (int64_t n = 0; n < 12; ++n)
    requests.push_back(n); // one decode each
  for (int64_t n : {int64_t(20), int64_t(5), last, last / 2, int64_t(1), last / 2 + 29, last / 2 + 29 + 31,
                    int64_t(0), last - 1, int64_t(3)})
    requests.push_back(std::clamp<int64_t>(n, 0, last));

  TRef<TMemoryYUVImage> imageRef = TRef<TMemoryYUVImage>::Make(source->width, source->height);
  TMemoryYUVImage& image = *imageRef;
  for (int64_t n : requests) {
    SCOPED_TRACE("frame " + std::to_string(n) + " of " + clip.name);
    ASSERT_TRUE(source->GetFrame(n, image));
    // The first picture numbered n or more.
    const auto expected = indexOfNumber.lower_bound(n);
    ASSERT_NE(expected, indexOfNumber.end());
    EXPECT_EQ(source->LastReached(), expected->first);
    const auto got = Packed(image);
    const auto& want = ref.frames[expected->second];
    ASSERT_EQ(got.size(), want.size());
    EXPECT_GT(Psnr(got.data(), want.data(), got.size()), 40.0);
  }
}

INSTANTIATE_TEST_SUITE_P(Clips, FramesByNumber,
                         testing::Values(TClip{"h264_bframes", "gen:h264"}, TClip{"mpeg2", "gen:mpeg2"},
                                         TClip{"vp8_generated", "gen:vp8"},
                                         TClip{"vp8_real", "video/test.webm"},
                                         TClip{"mpeg4_avi", "generated/clip_mpeg4_mp3.avi"},
                                         TClip{"h264_ts_start_1400ms", "video/test-segment.ts"},
                                         TClip{"h264_mp4", "generated/clip_h264_aac.mp4"}),
                         [](const testing::TestParamInfo<TClip>& p) { return p.param.name; });

TEST(VideoSource, TallStreamIsCroppedTo1080Lines) {
  if (!HaveTool("ffmpeg") || !HaveTool("ffprobe")) GTEST_SKIP() << "ffmpeg/ffprobe not installed";
  if (!TFFMpegDll::TryAcquire()) GTEST_SKIP() << "libkivffmpeg.so not built";
  const std::string path = ClipPath({"1088", "gen:1088"});
  ASSERT_FALSE(path.empty());
  auto source = MakeWinVideoSource(new TFileStream(path, TFileMode::OpenRead), true, path);
  ASSERT_NE(source, nullptr);
  EXPECT_EQ(source->width, 1920);
  EXPECT_EQ(source->height, 1080);
  EXPECT_EQ(source->aspectKind, TAspectKind::Ratio16x9);
  TReference ref;
  ASSERT_TRUE(DecodeReference(path, 1920, 1080, ref));
  auto imageRef = TRef<TMemoryYUVImage>::Make(1920, 1080);
  TMemoryYUVImage& image = *imageRef;
  ASSERT_TRUE(source->GetFrame(2, image));
  const auto got = Packed(image);
  EXPECT_GT(Psnr(got.data(), ref.frames[2].data(), got.size()), 40.0);
}

// Y, U and V of the top-left w x h of an image, packed like ffmpeg's raw output; `outside` counts the
// bytes beyond that corner that are not zero.
std::vector<uint8_t> Corner(const TMemoryYUVImage& image, int w, int h, int& outside) {
  std::vector<uint8_t> out;
  outside = 0;
  for (int index : {kPlaneY, kPlaneU, kPlaneV}) {
    const int cw = index == kPlaneY ? w : (w + 1) / 2, ch = index == kPlaneY ? h : (h + 1) / 2;
    const int pitch = image.PlanePitch(index);
    const auto& bytes = image.PlaneBytes(index);
    for (size_t i = 0; i < bytes.size(); ++i) {
      const int x = static_cast<int>(i % static_cast<size_t>(pitch)), y = static_cast<int>(i / pitch);
      if (x < cw && y < ch)
        out.push_back(bytes[i]);
      else if (bytes[i] != 0)
        ++outside;
    }
  }
  return out;
}

// Two pieces of stream of different sizes back to back, as a recording cut and joined gives: the header
// says 320 x 240, the pictures after the join are 160 x 96. Those are copied by their own size (the rest
// of the image stays as it was); before the join the pictures are whole.
TEST(VideoSource, PicturesAfterAChangeOfSizeInsideTheClipAreCopiedByTheirOwnSize) {
  if (!HaveTool("ffmpeg") || !HaveTool("ffprobe")) GTEST_SKIP() << "ffmpeg/ffprobe not installed";
  if (!TFFMpegDll::TryAcquire()) GTEST_SKIP() << "libkivffmpeg.so not built";
  const std::string encode = " -frames:v 10 -c:v libx264 -bf 0 -g 5 -pix_fmt yuv420p -f mpegts";
  const std::string first =
      GeneratedClip("size_before.ts", "-f lavfi -i testsrc=size=320x240:rate=25" + encode);
  const std::string second = GeneratedClip(
      "size_after.ts", "-f lavfi -i testsrc=size=160x96:rate=25 -output_ts_offset 0.4" + encode);
  ASSERT_FALSE(first.empty());
  ASSERT_FALSE(second.empty());
  const std::string joined = (ScratchDir("clips") / "size_change.ts").string();
  {
    std::ofstream out(joined, std::ios::binary);
    for (const std::string& part : {first, second})
      out << std::ifstream(part, std::ios::binary).rdbuf();
  }
  TReference before, after;
  ASSERT_TRUE(DecodeReference(first, 320, 240, before));
  ASSERT_TRUE(DecodeReference(second, 160, 96, after));

  auto source = MakeWinVideoSource(TStreamPtr(new TFileStream(joined, TFileMode::OpenRead)), joined);
  ASSERT_NE(source, nullptr);
  ASSERT_EQ(source->width, 320);
  ASSERT_EQ(source->height, 240);
  // Forward across the join, then seeks back before it and ahead behind it.
  for (int n : {8, 9, 10, 12, 17, 3, 15}) {
    SCOPED_TRACE(n);
    auto image = TRef<TMemoryYUVImage>::Make(320, 240);
    ASSERT_TRUE(source->GetFrame(n, *image));
    if (n < 10) {
      const auto got = Packed(*image);
      EXPECT_GT(Psnr(got.data(), before.frames[n].data(), got.size()), 40.0);
    } else {
      int outside = 0;
      const auto got = Corner(*image, 160, 96, outside);
      EXPECT_GT(Psnr(got.data(), after.frames[n - 10].data(), got.size()), 40.0);
      EXPECT_EQ(outside, 0);
    }
  }
  for (unsigned request : {unsigned(kYUVLumaOnly), unsigned(kYUVGrey16)}) {
    auto image = TRef<TMemoryYUVImage>::Make(320, 240, request);
    EXPECT_TRUE(source->GetFrame(13, *image));
  }
  TRGBImage rgb;
  ASSERT_TRUE(source->GetFrame24(14, rgb));
  EXPECT_EQ(rgb.width, 320);
  EXPECT_EQ(rgb.height, 240);
}

TEST(VideoSource, DescribesClipsLikeFfprobe) {
  if (!TFFMpegDll::TryAcquire()) GTEST_SKIP() << "libkivffmpeg.so not built";
  struct TCase {
    const char* file;
    int width, height;
    double fps;
    const char* codec;
    int64_t frames;
  };
  // Frame counts: ffprobe -count_frames gives 134, 45 and 46 decoded pictures.
  for (const TCase& c : {TCase{"video/test-segment.ts", 388, 300, 15.0, "H264", 134},
                         TCase{"generated/clip_h264_aac.mp4", 320, 240, 15.0, "H264", 45},
                         TCase{"generated/clip_mpeg4_mp3.avi", 320, 240, 15.0, "XVID", 46},
                         TCase{"video/test.webm", 320, 240, 2500.0 / 83, "OTHER", 182}}) {
    SCOPED_TRACE(c.file);
    const std::string path = MediaPath(c.file);
    auto source = MakeWinVideoSource(new TFileStream(path, TFileMode::OpenRead), true, path);
    ASSERT_NE(source, nullptr);
    EXPECT_EQ(source->width, c.width);
    EXPECT_EQ(source->height, c.height);
    EXPECT_NEAR(source->frameRate, c.fps, 1e-6);
    EXPECT_EQ(source->codecName, c.codec);
    EXPECT_NEAR(double(source->frameCount), double(c.frames), 1.0);
    EXPECT_FALSE(source->interlaced);
  }
}

TEST(VideoSource, LumaOnlyAndGreyRequestsFillTheirPlane) {
  if (!TFFMpegDll::TryAcquire()) GTEST_SKIP() << "libkivffmpeg.so not built";
  const std::string path = MediaPath("generated/clip_h264_aac.mp4");
  auto source = MakeWinVideoSource(new TFileStream(path, TFileMode::OpenRead), true, path);
  ASSERT_NE(source, nullptr);
  auto fullRef = TRef<TMemoryYUVImage>::Make(source->width, source->height, 0u);
  auto lumaRef = TRef<TMemoryYUVImage>::Make(source->width, source->height, unsigned(kYUVLumaOnly));
  auto greyRef = TRef<TMemoryYUVImage>::Make(source->width, source->height, unsigned(kYUVGrey16));
  TMemoryYUVImage& full = *fullRef;
  TMemoryYUVImage& luma = *lumaRef;
  TMemoryYUVImage& grey = *greyRef;
  ASSERT_TRUE(source->GetFrame(7, full));
  ASSERT_TRUE(source->GetFrame(7, luma));
  ASSERT_TRUE(source->GetFrame(7, grey));
  EXPECT_EQ(luma.PlaneBytes(kPlaneY), full.PlaneBytes(kPlaneY));
  EXPECT_EQ(luma.PutCount(kPlaneU), 0);
  EXPECT_EQ(grey.PutCount(kPlaneGrey), 1);
  EXPECT_EQ(grey.DoneCount(), 1);
  const auto& y = full.PlaneBytes(kPlaneY);
  const auto* g = reinterpret_cast<const uint16_t*>(grey.PlaneBytes(kPlaneGrey).data());
  for (size_t i = 0; i < y.size(); i += 97)
    ASSERT_EQ(g[i], GreyTable()[y[i]]) << i;
}

TEST(VideoSource, AudioOnlyFileOpensMediaButGivesNoFrames) {
  auto dll = TFFMpegDll::TryAcquire();
  if (!dll) GTEST_SKIP() << "libkivffmpeg.so not built";
  TFileStream stream(MediaPath("audio/lena/lena.ogg"), TFileMode::OpenRead);
  TKivMedia* media = dll->OpenMedia("lena.ogg", stream);
  ASSERT_NE(media, nullptr);
  EXPECT_LT(media->videoStream, 0);
  EXPECT_EQ(media->audioStreamCount, 1);
  EXPECT_EQ(media->frameCount, 0);
  dll->CloseMedia(media);
  EXPECT_EQ(MakeWinVideoSource(new TFileStream(MediaPath("audio/lena/lena.ogg"), TFileMode::OpenRead), true,
                               "lena.ogg"),
            nullptr);
}

class VideoAudio : public testing::TestWithParam<const char*> {};

TEST_P(VideoAudio, DecodesWholeTrackInPiecesAndSeeksByTime) {
  auto dll = TFFMpegDll::TryAcquire();
  if (!dll) GTEST_SKIP() << "libkivffmpeg.so not built";
  const std::string path = MediaPath(GetParam());
  TFileStream stream(path, TFileMode::OpenRead);
  TKivMedia* media = dll->OpenMedia(path, stream);
  ASSERT_NE(media, nullptr);
  TKivAudioInfo info{};
  ASSERT_TRUE(dll->GetAudioInfo(media, 0, info));
  ASSERT_TRUE(dll->OpenAudio(media, 0));
  int64_t total = 0;
  for (int bytes; (bytes = dll->NextAudio(media)) > 0;) {
    ASSERT_LE(bytes, KIV_AUDIO_BUFFER_SIZE);
    total += bytes;
  }
  if (HaveTool("ffmpeg")) {
    // As many samples as ffmpeg decodes from the same track, give or take 20 ms.
    const std::string reference = RunCommand("ffmpeg -v error -i " + Quote(path) + " -map 0:a:0 -ac " +
                                             std::to_string(info.channels) + " -f s16le - | wc -c");
    const double bytesPerMs = info.sampleRate * info.channels * 2 / 1000.0;
    EXPECT_NEAR(double(total), std::stod(reference), 20 * bytesPerMs);
  }
  // Back to 1.5 s of media time (the start time is not counted twice).
  ASSERT_TRUE(dll->SeekAudio(media, 1500));
  ASSERT_GT(dll->NextAudio(media), 0);
  const int64_t pts = dll->Api().GetCurrentPts(media, media->audioStream);
  const double at = double(pts) * media->audioTimeBaseNum / media->audioTimeBaseDen - media->startTime / 1e6;
  EXPECT_NEAR(at, 1.5, 0.2);
  dll->CloseAudio(media);
  dll->CloseMedia(media);
}

INSTANTIATE_TEST_SUITE_P(Files, VideoAudio,
                         testing::Values("audio/lena/lena.flac", "generated/clip_h264_vorbis.mkv",
                                         "generated/clip_wmv2_wma.wmv", "video/test-segment.ts",
                                         "generated/clip_h264_aac.mp4"));

} // namespace

namespace {

TEST(VideoSourceCache, KeepsParametersOncePerFileAndDate) {
  if (!TFFMpegDll::TryAcquire()) GTEST_SKIP() << "libkivffmpeg.so not built";
  const std::string path = MediaPath("video/test.webm");
  const int before = VideoParamsCount();
  for (int i = 0; i < 2; ++i) {
    auto source = OpenVideoSource(new TFileStream(path, TFileMode::OpenRead), true, path);
    ASSERT_NE(source, nullptr);
  }
  const std::string key = VideoParamsKey(path);
  ASSERT_FALSE(key.empty());
  EXPECT_EQ(key.substr(0, path.size() + 1), path + ":");
  EXPECT_EQ(key.size(), path.size() + 11); // ":DD.MM.YYYY"
  TVideoClipParams params;
  ASSERT_TRUE(FindVideoParams(key, params));
  EXPECT_EQ(params.width, 320);
  EXPECT_EQ(params.height, 240);
  EXPECT_EQ(params.fileSize, int64_t(std::filesystem::file_size(path)));
  EXPECT_LE(VideoParamsCount(), before + 1);
  // A stream the library cannot open gives no source (and its stream is freed with the failed one).
  EXPECT_EQ(OpenVideoSource(new TMemoryStream(std::vector<uint8_t>(64, 0)), true, "nothing.avi"), nullptr);
}

} // namespace

// Pictures a decoder gives as R, G, B, A bytes land in the RGBA plane as 0xAARRGGBB words.
TEST(VideoSource, RgbaPicturesKeepRedAndBlue) {
  if (!HaveTool("ffmpeg")) GTEST_SKIP() << "ffmpeg not installed";
  if (!TFFMpegDll::TryAcquire()) GTEST_SKIP() << "libkivffmpeg.so not built";
  const std::string path = GeneratedClip(
      "png_rgba.mov", "-f lavfi -i color=c=0xFF8000:size=64x48:rate=25 -frames:v 10 -c:v png -pix_fmt rgba");
  ASSERT_FALSE(path.empty());
  auto source = MakeWinVideoSource(new TFileStream(path, TFileMode::OpenRead), true, path);
  ASSERT_NE(source, nullptr);
  auto imageRef = TRef<TMemoryYUVImage>::Make(64, 48, kYUVRGBA);
  TMemoryYUVImage& image = *imageRef;
  ASSERT_TRUE(source->GetFrame(3, image));
  const auto& bytes = image.PlaneBytes(kPlaneRGBA);
  const int pitch = image.PlanePitch(kPlaneRGBA);
  for (const auto& [x, y] : {std::pair{0, 0}, std::pair{63, 47}, std::pair{20, 30}}) {
    const uint8_t* pixel = bytes.data() + static_cast<size_t>(y) * pitch + 4 * x;
    EXPECT_NEAR(pixel[0], 0x00, 2) << x << "," << y;   // blue
    EXPECT_NEAR(pixel[1], 0x80, 2) << x << "," << y;   // green
    EXPECT_NEAR(pixel[2], 0xFF, 2) << x << "," << y;   // red
    EXPECT_EQ(pixel[3], 0xFF) << x << "," << y;
  }
}

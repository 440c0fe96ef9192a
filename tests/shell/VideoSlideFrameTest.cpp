// A packed show with a real clip drawn by `kivviewer -render`: the video area is ffmpeg's own decode of
// the frame of that clip time, and what a viewport's mask leaves out shows the slide's background.

#include "DecoderLibrary.h"
#include "GoldenImage.h"
#include "ShowTestSupport.h"
#include "ShowTimeline.h"
#include "TestEnvironment.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <vector>

namespace kiv {
namespace {

namespace fs = std::filesystem;
using namespace testing_support;

// 640 x 480, two slides on a green background. The first shows a clip of the container over the whole slide
// (320 x 240 placed into it at twice its size) from 400 ms into the clip for 2000 ms; the second shows the
// clip from its start in a viewport whose mask covers only the left half.
constexpr const char* kProject =
    "[main]\nKivVersion=video test\nopt_exefn=video.exe\nopt_scr_width=640\nopt_scr_height=480\n"
    "opt_slidescount=2\nopt_synchpos1=5000\nopt_synchpos2=10000\nopt_bstyle=1\nopt_bname=65280\n"
    "object : VideoBoss\n"
    "  object clip: VideoClip\n    GUID={6B1D}\n    FileName=clip.mp4\n    StartVideoTime=400\n"
    "    Duration=2000\n  end\n"
    "end\n"
    "[Slide1]\n"
    "object v: Video\n  ClipGUID={6B1D}\n  AntialiasedBorder=0\nend\n"
    "[Slide2]\n"
    "object vp: ViewPort\n  Size=640,480\n"
    "  object v: Video\n    FileName=clip.mp4\n    Duration=3000\n    AntialiasedBorder=0\n  end\n"
    "  object m: Mask\n    ImageName=half.bmp\n  end\n"
    "end\n";

class VideoSlideFrame : public ::testing::Test {
protected:
  static void SetUpTestSuite() {
    root_ = kivtest::FreshTempDir("video_slide_frame");
    fs::create_directories(root_ / "show");
    WriteProjectText(root_ / "show" / "Project.kiv", kProject);
    fs::copy_file(Clip(), root_ / "show" / "clip.mp4");
    // 64 x 48: white on the left half, black on the right.
    WriteBmp(root_ / "show" / "half.bmp", 64, 48, [](int x, int) {
      return x < 32 ? TRgb{255, 255, 255} : TRgb{};
    });
    packed_ = PackShow(root_ / "show", Show());
  }
  static void TearDownTestSuite() { fs::remove_all(root_); }
  void SetUp() override {
    std::string whyNot;
    if (!HeadlessGLAvailable(&whyNot))
      GTEST_SKIP() << "no headless EGL display, GL tests skipped: " << whyNot;
    if (!TFFMpegDll::TryAcquire()) GTEST_SKIP() << "libkivffmpeg.so not built: clips cannot be decoded";
    int code = -1;
    kivtest::CommandOutput("command -v ffmpeg", code);
    if (code != 0) GTEST_SKIP() << "no ffmpeg to decode the reference frames";
    ASSERT_TRUE(packed_);
  }

  static std::string Clip() { return std::string(KIV_TEST_MEDIA) + "/generated/clip_h264_aac.mp4"; }
  static std::string Show() { return (root_ / "video.KvShow").string(); }

  // ffmpeg's decode of every frame of the clip scaled to 640 x 480, as 0xAARRGGBB pixels; decoded once.
  static const std::vector<std::vector<uint32_t>>& References() {
    static std::vector<std::vector<uint32_t>> frames;
    if (!frames.empty()) return frames;
    const std::string out = (root_ / "reference.rgb").string();
    int code = -1;
    kivtest::CommandOutput("ffmpeg -v error -y -i '" + Clip() +
                               "' -vf scale=640:480:flags=bilinear -f rawvideo -pix_fmt rgb24 '" + out + "'",
                           code);
    std::ifstream in(out, std::ios::binary);
    const std::vector<unsigned char> bytes((std::istreambuf_iterator<char>(in)),
                                           std::istreambuf_iterator<char>());
    constexpr size_t kFrameBytes = 640u * 480u * 3u;
    for (size_t at = 0; code == 0 && at + kFrameBytes <= bytes.size(); at += kFrameBytes) {
      std::vector<uint32_t>& pixels = frames.emplace_back();
      for (size_t i = at; i < at + kFrameBytes; i += 3)
        pixels.push_back(0xFF000000u | uint32_t(bytes[i]) << 16 | uint32_t(bytes[i + 1]) << 8 | bytes[i + 2]);
    }
    return frames;
  }

  static int RgbDistance(uint32_t a, uint32_t b) {
    int worst = 0;
    for (int shift : {0, 8, 16})
      worst = std::max(worst, std::abs(int(a >> shift & 0xFF) - int(b >> shift & 0xFF)));
    return worst;
  }

  // `kivviewer -render` of the show at a time.
  static bool Render(double time, TDevBitmap& frame) {
    const std::string png = (root_ / ("frame" + std::to_string(int(time)) + ".png")).string();
    int code = -1;
    const std::string output =
        kivtest::CommandOutput("'" + std::string(KIVVIEWER_PATH) + "' -render '" + png + "' -time " +
                                   std::to_string(int(time)) + " '" + Show() + "'",
                               code);
    EXPECT_EQ(code, 0) << output;
    return code == 0 && test::ReadPng(png, frame);
  }

  // PSNR in dB of the frame against the reference over columns [left, right).
  static double Psnr(const TDevBitmap& frame, const std::vector<uint32_t>& reference, int left, int right) {
    double sum = 0;
    int64_t count = 0;
    for (int y = 0; y < 480; ++y)
      for (int x = left; x < right; ++x) {
        const uint32_t a = frame.Pixel32(x, y), b = reference[size_t(y) * 640 + size_t(x)];
        for (int shift : {0, 8, 16}) {
          const double d = double(int(a >> shift & 0xFF) - int(b >> shift & 0xFF));
          sum += d * d;
          ++count;
        }
      }
    const double mse = sum / double(count);
    return mse == 0 ? 99 : 10 * std::log10(255.0 * 255.0 / mse);
  }

  static inline fs::path root_;
  static inline bool packed_ = false;
};

TEST_F(VideoSlideFrame, TheVideoAreaIsTheFrameOfThatClipTime) {
  // Show time -> clip time (400 ms in, held at 2400 after 2000 ms) -> frame at 15 per second. The clip
  // holds runs of equal pictures: the cases lie in runs of their own (0-6, 17-24, 29-32, 33-36).
  const struct {
    double time;
    int frame;
  } cases[] = {{0, 6}, {1000, 21}, {1700, 32}, {4000, 36}};
  const auto& references = References();
  ASSERT_EQ(references.size(), 45u);
  for (const auto& c : cases) {
    SCOPED_TRACE("at " + std::to_string(int(c.time)) + " ms");
    TDevBitmap frame;
    ASSERT_TRUE(Render(c.time, frame));
    ASSERT_EQ(frame.Width(), 640);
    const double self = Psnr(frame, references[size_t(c.frame)], 0, 640);
    EXPECT_GT(self, 30);
    // No other picture of the clip is nearer: the frame is that one.
    for (size_t k = 0; k < references.size(); ++k)
      EXPECT_LE(Psnr(frame, references[k], 0, 640), self + 0.5) << "frame " << k;
  }
}

TEST_F(VideoSlideFrame, OneRendererShowsEachTimesOwnFrame) {
  // Frames drawn one after another keep pictures in the clip's pool: each still must still be its own
  // moment, not the nearest picture at hand.
  std::string message;
  std::unique_ptr<TKivShowLocator> locator = OpenPackedShow(Show(), message);
  ASSERT_TRUE(locator) << message;
  std::string whyNot;
  std::unique_ptr<TFrameRenderer> renderer = TFrameRenderer::Create(Options(*locator), {640, 480}, &whyNot);
  ASSERT_TRUE(renderer) << whyNot;
  const auto& references = References();
  ASSERT_EQ(references.size(), 45u);
  const struct {
    double time;
    int frame;
  } cases[] = {{0, 6}, {800, 18}, {1700, 32}, {1900, 34}, {1000, 21}};
  for (const auto& c : cases) {
    const std::optional<TDevBitmap> frame = renderer->Render(c.time);
    ASSERT_TRUE(frame) << c.time;
    const double self = Psnr(*frame, references[size_t(c.frame)], 0, 640);
    EXPECT_GT(self, 30) << c.time;
    for (size_t k = 0; k < references.size(); ++k)
      EXPECT_LE(Psnr(*frame, references[k], 0, 640), self + 0.5) << c.time << " ms, frame " << k;
  }
  renderer.reset();
}

TEST_F(VideoSlideFrame, TheExportedVideoShowsTheClipFrameOfEachTime) {
  // The engine plays the clip through its own frames: frame k of the export (10 per second) is the clip's
  // picture of show time k x 100 ms.
  const std::string video = (root_ / "export.mkv").string();
  int code = -1;
  const std::string printed = kivtest::CommandOutput(
      "env -u DISPLAY '" + std::string(KIVVIEWER_PATH) + "' -export '" + video + "' -fps 10 -to 2000 '" + Show() + "' 2>&1",
      code);
  ASSERT_EQ(code, 0) << printed;
  const auto& references = References();
  ASSERT_EQ(references.size(), 45u);
  const struct {
    int k;
    int frame;
  } cases[] = {{0, 6}, {8, 18}, {10, 21}, {17, 32}};
  for (const auto& c : cases) {
    const std::string png = (root_ / ("export" + std::to_string(c.k) + ".png")).string();
    kivtest::CommandOutput("ffmpeg -v error -y -i '" + video + "' -vf 'select=eq(n\\," + std::to_string(c.k) +
                               ")' -frames:v 1 '" + png + "'",
                           code);
    ASSERT_EQ(code, 0) << c.k;
    TDevBitmap frame;
    ASSERT_TRUE(test::ReadPng(png, frame)) << c.k;
    const double self = Psnr(frame, references[size_t(c.frame)], 0, 640);
    EXPECT_GT(self, 30) << "export frame " << c.k;
    for (size_t k = 0; k < references.size(); ++k)
      EXPECT_LE(Psnr(frame, references[k], 0, 640), self + 0.5) << "export frame " << c.k << ", clip frame " << k;
  }
}

TEST_F(VideoSlideFrame, WhatTheMaskLeavesOutShowsTheBackground) {
  // 1000 ms into the second slide: frame 15 on the left, the green background on the right.
  TDevBitmap frame;
  ASSERT_TRUE(Render(6000, frame));
  ASSERT_EQ(References().size(), 45u);
  const std::vector<uint32_t>& wanted = References()[15];
  // The mask's edge lies at x = 320, softened over its texels (10 pixels each).
  EXPECT_GT(Psnr(frame, wanted, 0, 305), 30);
  int notGreen = 0;
  for (int y = 0; y < 480; y += 3)
    for (int x = 336; x < 640; x += 3)
      notGreen += RgbDistance(frame.Pixel32(x, y), 0xFF00FF00) > 3;
  EXPECT_EQ(notGreen, 0);
}

} // namespace
} // namespace kiv

// An animated GIF on a slide without animation keys of its own plays frame by frame at the file's delays,
// drawn offscreen as -render draws it.

#include "CacheImageDecoder.h"
#include "ImageLevels.h"
#include "ShowTestSupport.h"
#include "ShowTimeline.h"
#include "TestEnvironment.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace kiv {
namespace {

namespace fs = std::filesystem;

using namespace testing_support;

// Four frames of 80 x 112 (the digits 1 to 4) lasting 250, 500, 750 and 1000 ms; the slide is one frame
// large and the picture fills it.
constexpr const char* kProject =
    "\xEF\xBB\xBF[main]\r\nKivVersion=gif test\r\nopt_exefn=gif.exe\r\nopt_scr_width=80\r\n"
    "opt_scr_height=112\r\nopt_slidescount=1\r\nopt_synchpos1=10000\r\n"
    "[Slide1]\r\n"
    "object Counter: Image\r\n  ImageName=count.gif\r\n"
    "  object : KeyPoint\r\n    Time=0\r\n  end\r\n"
    "end\r\n";

class AnimatedPicture : public TShowFrameTest {
protected:
  static void SetUpTestSuite() {
    InstallImageDecoder();
    root_ = kivtest::FreshTempDir("animated_picture");
    fs::create_directories(root_ / "show");
    std::ofstream(root_ / "show" / "Project.kiv", std::ios::binary) << kProject;
    fs::copy_file(Gif(), root_ / "show" / "count.gif");
    packed_ = PackShow(root_ / "show", Show());
  }
  static void TearDownTestSuite() { fs::remove_all(root_); }
  void SetUp() override { OpenShow(Show(), packed_); }

  static std::string Show() { return (root_ / "gif.KvShow").string(); }
  static std::string Gif() { return std::string(KIV_TEST_MEDIA) + "/images/gif/misc/countIncreasingDelay.gif"; }

  static inline fs::path root_;
  static inline bool packed_ = false;
};

TEST_F(AnimatedPicture, PlaysTheFilesFramesAtItsDelays) {
  if (IsSkipped() || HasFatalFailure()) return;
  TOwned<TImage> strip = LoadImageFile(Gif());
  ASSERT_TRUE(strip);
  ASSERT_EQ(strip->Params().frameCount, 4);
  TRef<TBitmap> frames = strip->GetMipLevel(0, TBitmapFormat::Pf32bit);
  ASSERT_EQ(frames->Width(), 320);

  std::string whyNot;
  renderer_ = TFrameRenderer::Create(Options(*locator_), {80, 112}, &whyNot);
  ASSERT_TRUE(renderer_) << whyNot;
  // The frame whose pixels a drawn picture is closest to.
  auto nearestFrame = [&](const TDevBitmap& drawn) {
    int best = -1;
    double bestDiff = 1e300;
    for (int k = 0; k < 4; ++k) {
      double diff = 0;
      for (int y = 0; y < 112; ++y)
        for (int x = 0; x < 80; ++x)
          diff += std::abs(PixelRgb(drawn, x, y).g - int(frames->Pixel32(80 * k + x, y) >> 8 & 0xFF));
      if (diff < bestDiff) bestDiff = diff, best = k;
    }
    return best;
  };
  // Frame ends at 250, 750, 1500 and 2500 ms; then the file plays again.
  const struct {
    double time;
    int frame;
  } cases[] = {{100, 0}, {400, 1}, {1000, 2}, {2000, 3}, {2600, 0}, {2900, 1}};
  for (const auto& c : cases) {
    const std::optional<TDevBitmap> drawn = renderer_->Render(c.time);
    ASSERT_TRUE(drawn) << c.time;
    EXPECT_EQ(nearestFrame(*drawn), c.frame) << "at " << c.time << " ms";
  }
}

} // namespace
} // namespace kiv

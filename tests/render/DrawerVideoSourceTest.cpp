// Real clips decoded by the video library straight into the drawer's video image, drawn, and compared with
// a BT.601 conversion of the same decoded planes done on the processor.

#include "DrawerTestSupport.h"
#include "DecoderFrameSource.h"
#include "MediaTestSupport.h"

#include <algorithm>
#include <cmath>
#include <filesystem>

namespace kiv::test {
namespace {

// The chroma texture is sampled bilinearly at half resolution; so is the reference.
double Chroma(const TMemoryYUVImage& image, int plane, int width, int height, int x, int y) {
  const auto& bytes = image.PlaneBytes(plane);
  const int pitch = image.PlanePitch(plane);
  auto at = [&](int cx, int cy) {
    cx = std::clamp(cx, 0, width - 1);
    cy = std::clamp(cy, 0, height - 1);
    return double(bytes[size_t(cy) * size_t(pitch) + size_t(cx)]);
  };
  const double u = (x + 0.5) / 2 - 0.5, v = (y + 0.5) / 2 - 0.5;
  const int u0 = int(std::floor(u)), v0 = int(std::floor(v));
  const double fu = u - u0, fv = v - v0;
  const double top = at(u0, v0) * (1 - fu) + at(u0 + 1, v0) * fu;
  const double bottom = at(u0, v0 + 1) * (1 - fu) + at(u0 + 1, v0 + 1) * fu;
  return (top * (1 - fv) + bottom * fv) / 255.0;
}

uint32_t Bt601(double luma, double u, double v) {
  const double l = 1.1643835 * (luma / 255.0 - 16.0 / 255);
  u -= 0.5;
  v -= 0.5;
  auto byte = [](double value) { return uint32_t(std::lround(std::clamp(value, 0.0, 1.0) * 255)); };
  return 0xFF000000u | byte(l + 1.596 * v) << 16 | byte(l - 0.813 * v - 0.391 * u) << 8 | byte(l + 2.018 * u);
}

class DrawerVideoSource : public ::testing::TestWithParam<const char*> {};

TEST_P(DrawerVideoSource, DecodedFramesLandInTheDrawersPlanes) {
  std::string whyNot;
  if (!HeadlessGLAvailable(&whyNot)) GTEST_SKIP() << "no headless EGL display, GL tests skipped: " << whyNot;
  const std::string path = kivtest::MediaPath(GetParam());
  if (!std::filesystem::exists(path)) GTEST_SKIP() << "no clip at " << path;
  if (!TFFMpegDll::TryAcquire()) GTEST_SKIP() << "libkivffmpeg.so not built";
  auto source = MakeWinVideoSource(new TFileStream(path, TFileMode::OpenRead), true, path);
  ASSERT_NE(source, nullptr) << path;
  const int w = source->width, h = source->height;

  TDrawerRig rig(w + 4, h + 4);
  if (rig.drawer->ShaderLevel() == 0) GTEST_SKIP() << "no shaders: frames are drawn by the processor";
  TDeviceYUVImage* video = rig.drawer->CreateVideoImage(w, h, false, false);
  ASSERT_NE(video, nullptr);
  EXPECT_EQ(video->Request(), 0u); // three planes, converted by the shaders
  auto memory = TRef<TMemoryYUVImage>::Make(w, h);

  uint32_t firstFrameCentre = 0;
  for (int64_t n : {0, 7, 15}) {
    SCOPED_TRACE("frame " + std::to_string(n));
    ASSERT_TRUE(source->GetFrame(n, *video));
    ASSERT_TRUE(source->GetFrame(n, *memory));
    const TDevBitmap shot = rig.Frame([&](TDeviceDrawer& d) {
      d.DrawVideo(*video, {2, 2, 0}, TVideoParams{}, kX, kY, {0, 0});
    });
    const auto& luma = memory->PlaneBytes(kPlaneY);
    int bad = 0;
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        const uint8_t l = luma[size_t(y) * size_t(memory->PlanePitch(kPlaneY)) + size_t(x)];
        const double u = Chroma(*memory, kPlaneU, w / 2, h / 2, x, y);
        const double v = Chroma(*memory, kPlaneV, w / 2, h / 2, x, y);
        const uint32_t expected = Bt601(l, u, v);
        const uint32_t got = shot.Pixel32(x + 2, y + 2);
        // The device filters the 8-bit chroma texels to 8-bit precision: its sample may lie half a level
        // from the exact one, which the 2.018 of blue turns into one more level.
        bool near = false;
        for (double du : {-0.5, 0.0, 0.5})
          for (double dv : {-0.5, 0.0, 0.5})
            near = near || ChannelDistance(got, Bt601(l, u + du / 255, v + dv / 255)) <= 2;
        if (!near && ++bad <= 3)
          ADD_FAILURE() << x << "," << y << std::hex << ": " << got << " vs " << expected;
      }
    EXPECT_EQ(bad, 0);
    // Nothing outside the frame.
    EXPECT_EQ(shot.Pixel32(1, 1), 0xFF000000u);
    EXPECT_EQ(shot.Pixel32(w + 2, h + 2), 0xFF000000u);
    if (n == 0)
      firstFrameCentre = shot.Pixel32(w / 2, h / 2);
    else
      EXPECT_EQ(video->PlaneSize(kPlaneU), (TSize{w / 2, h / 2}));
  }
  EXPECT_NE(firstFrameCentre, 0u);
  rig.drawer->FreeVideoImage(video);
}

INSTANTIATE_TEST_SUITE_P(Clips, DrawerVideoSource,
                         ::testing::Values("video/test.webm", "video/test-segment.ts"),
                         [](const ::testing::TestParamInfo<const char*>& p) {
                           return std::string(p.index == 0 ? "vp8_webm" : "h264_ts");
                         });

} // namespace
} // namespace kiv::test

// The slide drawer on llvmpipe: frames and notifications, tiled pictures without seams, boxes, opacity,
// video frames against a BT.601 reference, masks, blur and sharpen against goldens, transitions.

#include "DrawerTestSupport.h"
#include "GoldenImage.h"
#include "LoadYield.h"
#include "Assert.h"

#include <atomic>
#include <cmath>
#include <cstring>
#include <random>
#include <thread>

namespace kiv::test {
namespace {

class DrawerTest : public ::testing::Test {
protected:
  void SetUp() override {
    std::string whyNot;
    if (!HeadlessGLAvailable(&whyNot))
      GTEST_SKIP() << "no headless EGL display, GL tests skipped: " << whyNot;
  }
  void Make(int width, int height) { rig = std::make_unique<TDrawerRig>(width, height); }
  void TearDown() override { rig.reset(); }
  std::unique_ptr<TDrawerRig> rig;
};

uint32_t Noise(int x, int y) {
  uint32_t h = uint32_t(x) * 73856093u ^ uint32_t(y) * 19349663u;
  h ^= h >> 13;
  h *= 0x5bd1e995u;
  return 0xFF000000u | (h & 0x00FFFFFFu);
}

TEST_F(DrawerTest, FrameNotifiesAndCallsFrameDoneOnce) {
  Make(32, 32);
  TLambdaItem child([](TDeviceDrawer&) {});
  TLambdaItem root([&](TDeviceDrawer& d) { EXPECT_TRUE(d.DrawItem(child)); });
  EXPECT_TRUE(rig->drawer->DrawItem(root));
  std::vector<std::pair<TDrawItem*, int>> got;
  for (const auto& n : rig->notes)
    got.push_back({n.item, n.code});
  const std::vector<std::pair<TDrawItem*, int>> expected = {{nullptr, 0}, {&root, 1}, {&child, 1},
                                                            {&child, 2},  {&root, 2}, {nullptr, 3}};
  EXPECT_EQ(got, expected);
  EXPECT_EQ(root.framesDone, 1);
  EXPECT_EQ(child.framesDone, 0);
  EXPECT_EQ(rig->drawer->depth, 0);
}

TEST_F(DrawerTest, FailingItemStillGetsFrameDone) {
  Make(32, 32);
  TLambdaItem root([](TDeviceDrawer&) { throw std::runtime_error("bad picture"); });
  EXPECT_THROW(rig->drawer->DrawItem(root), std::runtime_error);
  EXPECT_EQ(root.framesDone, 1);
  EXPECT_EQ(rig->drawer->depth, 0);
  // The next frame draws again.
  root.draw = [](TDeviceDrawer&) {};
  EXPECT_TRUE(rig->drawer->DrawItem(root));
}

TEST_F(DrawerTest, FrameAfterAFailureInsideATargetDrawsOnTheScreen) {
  Make(32, 32);
  TBoxParams box;
  box.color1 = 0xFF00FF00;
  box.width = box.height = 8;
  struct TCase {
    const char* name;
    std::function<void(TDeviceDrawer&)> failing;
  } cases[] = {
      {"sharpen",
       [](TDeviceDrawer& d) {
         d.BeginSharpen();
         throw std::runtime_error("bad picture");
       }},
      {"blur",
       [](TDeviceDrawer& d) {
         TLambdaItem blurred([](TDeviceDrawer&) { throw std::runtime_error("bad picture"); }, 50);
         d.DrawItem(blurred);
       }},
  };
  for (const TCase& c : cases) {
    TLambdaItem root(c.failing);
    EXPECT_THROW(rig->drawer->DrawItem(root), std::runtime_error) << c.name;
    const TDevBitmap shot = rig->Frame([&](TDeviceDrawer& d) { d.DrawBox({4, 4, 0}, {0, 0}, box, kX, kY); });
    EXPECT_EQ(shot.Pixel32(6, 6), 0xFF00FF00u) << c.name;
    EXPECT_EQ(rig->drawer->Screen().targetStack.size(), 1u) << c.name;
  }
}

TEST_F(DrawerTest, NoCallbackIsAContractViolation) {
  Make(16, 16);
  rig->drawer->OnNotify = nullptr;
  TLambdaItem root([](TDeviceDrawer&) {});
  EXPECT_THROW(rig->drawer->DrawItem(root), EAssertion);
}

TEST_F(DrawerTest, LargePictureHasNoSeams) {
  Make(1000, 700);
  TMemoryImage& noise = rig->Image(1000, 700, Noise);
  for (bool antialiased : {false, true}) {
    TImageParams params;
    params.antialiased = antialiased;
    params.linearFilter = false;
    const TDevBitmap shot = rig->Frame([&](TDeviceDrawer& d) {
      d.DrawImage(noise, {0, 0, 0}, params, kX, kY, {0, 0});
    });
    int bad = 0;
    // The outermost ring is feathered when antialiased.
    const int from = antialiased ? 1 : 0;
    for (int y = from; y < 700 - from; ++y)
      for (int x = from; x < 1000 - from; ++x)
        if (ChannelDistance(shot.Pixel32(x, y), Noise(x, y)) > 2 && ++bad <= 3)
          ADD_FAILURE() << "antialiased " << antialiased << " at " << x << "," << y << std::hex << ": "
                        << shot.Pixel32(x, y) << " vs " << Noise(x, y);
    EXPECT_EQ(bad, 0);
  }
  // Scaled down with filtering and mip levels: a smooth gradient stays smooth across tile borders.
  auto gradient = [](int x, int y) {
    return 0xFF000000u | uint32_t(x * 255 / 999) << 16 | uint32_t(y * 255 / 699) << 8 | 0x40u;
  };
  TMemoryImage& smooth = rig->Image(1000, 700, gradient);
  const float s = 0.37f;
  TImageParams params;
  const TDevBitmap shot = rig->Frame(
      [&](TDeviceDrawer& d) {
        d.DrawImage(smooth, {10, 10, 0}, params, {s, 0, 0}, {0, s, 0}, {0, 0});
      },
      0xFFFF00FF);
  int bad = 0;
  for (int y = 12; y < 10 + int(700 * s) - 2; ++y)
    for (int x = 12; x < 10 + int(1000 * s) - 2; ++x) {
      const double u = (x + 0.5 - 10) / s - 0.5, v = (y + 0.5 - 10) / s - 0.5;
      const uint32_t expected = gradient(int(std::lround(u)), int(std::lround(v)));
      if (ChannelDistance(shot.Pixel32(x, y), expected) > 4 && ++bad <= 3)
        ADD_FAILURE() << "scaled at " << x << "," << y << std::hex << ": " << shot.Pixel32(x, y) << " vs "
                      << expected;
    }
  EXPECT_EQ(bad, 0);
}

TEST_F(DrawerTest, RefusedUploadIsRetriedAtTheNextDraw) {
  Make(32, 32);
  TMemoryImage& picture = rig->Image(300, 20, [](int, int) { return 0xFFFF0000u; });
  TImageParams params;
  SetLoadCallBackMode(kLoadStop);
  rig->drawer->PrepareImage(picture, params);
  TMultiTexture6* texture = rig->drawer->ImageTexture(picture, params);
  ASSERT_NE(texture, nullptr);
  ASSERT_EQ(texture->TileCount(), 2u); // 256 wide, then the rest
  for (const auto& tile : texture->tiles)
    EXPECT_TRUE(tile->dirty);
  SetLoadCallBackMode(kLoadContinue);
  const TDevBitmap shot = rig->Frame([&](TDeviceDrawer& d) {
    d.DrawImage(picture, {0, 0, 0}, params, kX, kY, {0, 0});
  });
  for (const auto& tile : texture->tiles)
    EXPECT_FALSE(tile->dirty);
  EXPECT_EQ(shot.Pixel32(20, 10), 0xFFFF0000u);
  // The same key finds the same texture; releasing the picture drops it.
  EXPECT_EQ(rig->drawer->ImageTexture(picture, params), texture);
  rig->drawer->ReleaseImage(picture);
  EXPECT_EQ(picture.FindAttachment<TTextureStore2>(), nullptr);
}

TEST_F(DrawerTest, PictureWithItsOwnTextureSkipsTheTiles) {
  Make(64, 48);
  TMemoryImage& picture = rig->Image(20, 10, Noise);
  TCustomTexture* own = rig->drawer->AttachTexture(picture);
  ASSERT_NE(own, nullptr);
  EXPECT_EQ(rig->drawer->AttachTexture(picture), own);
  struct TCase {
    float opacity;
    TFloatRect source;
    int alpha; // expected vertex alpha
  } cases[] = {
      {100, {}, 255},            // the whole picture
      {50, {}, 127},             // integer part of 50 x 2.55
      {100, {5, 2, 15, 8}, 255}, // a part of it
  };
  for (const TCase& c : cases) {
    TImageParams params;
    params.opacity = c.opacity;
    params.linearFilter = false;
    params.sourceRect = c.source;
    const TDevBitmap shot = rig->Frame([&](TDeviceDrawer& d) {
      d.DrawImage(picture, {30, 20, 0}, params, kX, kY, {0, 0});
    });
    // The part keeps its place in the picture's own coordinates.
    const int left = int(c.source.left), top = int(c.source.top);
    const int right = c.source.right > 0 ? int(c.source.right) : 20,
              bottom = c.source.bottom > 0 ? int(c.source.bottom) : 10;
    int bad = 0;
    for (int y = top; y < bottom; ++y)
      for (int x = left; x < right; ++x) {
        const uint32_t p = Noise(x, y);
        uint32_t expected = 0xFF000000u;
        for (int shift : {0, 8, 16})
          expected |= uint32_t(Channel(p, shift) * c.alpha / 255) << shift;
        if (ChannelDistance(shot.Pixel32(30 + x, 20 + y), expected) > 2 && ++bad <= 3)
          ADD_FAILURE() << c.opacity << " at " << x << "," << y << std::hex << ": "
                        << shot.Pixel32(30 + x, 20 + y) << " vs " << expected;
      }
    EXPECT_EQ(bad, 0);
    EXPECT_EQ(shot.Pixel32(30 + right, 20 + top), 0xFF000000u);
    EXPECT_EQ(shot.Pixel32(29 + left, 20 + top + 1), 0xFF000000u);
    EXPECT_EQ(shot.Pixel32(30 + left + 1, 20 + bottom), 0xFF000000u);
  }
  EXPECT_EQ(picture.FindAttachment<TTextureStore2>(), nullptr); // never cut into tiles
  rig->drawer->ReleaseImage(picture);
  EXPECT_EQ(picture.FindAttachment<TCustomTexture>(), nullptr);

  // A texture that cannot be made (an empty picture's) is not ready: the picture goes through its tiles.
  auto empty = TRef<TMemoryImage>::Make(TDevBitmap());
  TMemoryImage& other = rig->Image(8, 8, [](int, int) { return 0xFF00FF00u; });
  other.attachments.push_back(MakeOwned<TImageTexture>(&rig->drawer->Screen(), *empty));
  const TDevBitmap shot = rig->Frame([&](TDeviceDrawer& d) {
    d.DrawImage(other, {0, 0, 0}, {}, kX, kY, {0, 0});
  });
  EXPECT_EQ(shot.Pixel32(4, 4), 0xFF00FF00u);
  EXPECT_NE(other.FindAttachment<TTextureStore2>(), nullptr);
  rig->drawer->ReleaseImage(other);
  // Too large for one texture: stays tiled.
  TMemoryImage& wide = rig->Image(T3DDrawer::kMaxOwnTexture + 1, 1, Noise);
  EXPECT_EQ(rig->drawer->AttachTexture(wide), nullptr);
}

TEST_F(DrawerTest, LoaderThreadUploadsWhileFramesDraw) {
  Make(64, 64);
  std::vector<TMemoryImage*> pictures;
  for (int i = 0; i < 6; ++i)
    pictures.push_back(&rig->Image(300, 300, [i](int x, int y) {
      return 0xFF000000u | uint32_t(i * 40) << 16 | (uint32_t(x ^ y) & 0xFF);
    }));
  TImageParams params;
  std::atomic<bool> done{false};
  std::thread loader([&] {
    for (TMemoryImage* picture : pictures)
      rig->drawer->PrepareImage(*picture, params);
    done = true;
  });
  int frames = 0;
  while (!done || frames < 3) {
    const TDevBitmap shot = rig->Frame([&](TDeviceDrawer& d) {
      d.DrawImage(*pictures[0], {0, 0, 0}, params, {0.2f, 0, 0}, {0, 0.2f, 0}, {0, 0});
    });
    EXPECT_EQ(shot.Width(), 64);
    ++frames;
  }
  loader.join();
  params.linearFilter = false;
  const TDevBitmap shot = rig->Frame([&](TDeviceDrawer& d) {
    d.DrawImage(*pictures[5], {0, 0, 0}, params, kX, kY, {0, 0});
  });
  EXPECT_EQ(shot.Pixel32(3, 1), 0xFFC80002u);
}

TEST_F(DrawerTest, BoxGradientsAndEdges) {
  Make(96, 64);
  TBoxParams box;
  box.fillType = 6; // c1 left, c2 right
  box.color1 = 0xFFFF0000;
  box.color2 = 0xFF0000FF;
  box.width = 80;
  box.height = 20;
  TBoxParams vertical = box;
  vertical.fillType = 5; // c1 top, c2 bottom
  vertical.color1 = 0xFF00FF00;
  vertical.color2 = 0xFF000000;
  vertical.width = 20;
  vertical.height = 20;
  vertical.antialias = {true, true, true, true};
  const TDevBitmap shot = rig->Frame([&](TDeviceDrawer& d) {
    d.DrawBox({8, 4, 0}, {0, 0}, box, kX, kY);
    d.DrawBox({20, 40, 0}, {0, 0}, vertical, kX, kY);
  });
  struct TProbe {
    int x, y;
    uint32_t expected;
    int tolerance;
  } probes[] = {
      {8, 14, 0xFFFF0000, 6},  {48, 14, 0xFF800080, 6},  {87, 14, 0xFF0000FF, 6}, // left, middle, right
      {7, 14, 0xFF000000, 0},                                                     // outside, no feathering
      {30, 40, 0xFF00FF00, 8}, {30, 59, 0xFF000000, 16}, {30, 50, 0xFF008000, 8}, // top to bottom
  };
  for (const TProbe& p : probes)
    EXPECT_LE(ChannelDistance(shot.Pixel32(p.x, p.y), p.expected), p.tolerance)
        << p.x << "," << p.y << std::hex << " got " << shot.Pixel32(p.x, p.y);
  // The feathered left edge of the second box fades over one pixel outside it.
  const int fringe = Channel(shot.Pixel32(19, 45), 8);
  EXPECT_GT(fringe, 40);
  EXPECT_LT(fringe, 220);
  EXPECT_EQ(Channel(shot.Pixel32(17, 45), 8), 0);
}

TEST_F(DrawerTest, OpacityFramesAndRectangles) {
  Make(64, 64);
  TMemoryImage& white = rig->Image(16, 16, [](int, int) { return 0xFFFFFFFFu; });
  TImageParams half;
  half.opacity = 50;
  TBoxParams zero;
  zero.opacity = 0;
  zero.color1 = 0xFFFFFFFF;
  zero.width = zero.height = 64;
  const TDevBitmap shot = rig->Frame([&](TDeviceDrawer& d) {
    d.DrawImage(white, {0, 0, 0}, half, kX, kY, {0, 0});
    d.DrawBox({0, 0, 0}, {0, 0}, zero, kX, kY); // draws nothing
    d.DrawFrame({30, 30, 0}, {0, 0}, false, 100, 0xFF00FF00, {20, 20}, {2, 3}, kX, kY);
    d.DrawRectangle({40, 0}, {32, 8}, 0xFF0000FF);
  });
  EXPECT_LE(ChannelDistance(shot.Pixel32(8, 8), 0xFF808080), 2);
  EXPECT_EQ(shot.Pixel32(20, 20), 0xFF000000u);
  EXPECT_EQ(shot.Pixel32(30, 40), 0xFF00FF00u); // left band
  EXPECT_EQ(shot.Pixel32(40, 31), 0xFF00FF00u); // top band, 3 high
  EXPECT_EQ(shot.Pixel32(40, 33), 0xFF000000u); // inside the frame
  EXPECT_EQ(shot.Pixel32(49, 40), 0xFF00FF00u); // right band
  EXPECT_EQ(shot.Pixel32(36, 4), 0xFF0000FFu);
}

double Sat(double v) {
  return std::clamp(v, 0.0, 1.0);
}

TEST_F(DrawerTest, VideoFrameMatchesBt601) {
  Make(64, 48);
  auto* video = rig->drawer->CreateVideoImage(61, 41, false, false);
  ASSERT_NE(video, nullptr);
  EXPECT_EQ(video->PlaneSize(1), (TSize{30, 20}));
  if (rig->drawer->ShaderLevel() == 0) GTEST_SKIP() << "no shaders: frames are drawn by the processor";
  std::mt19937 random(5);
  struct TCase {
    uint8_t u, v;
  } cases[] = {{128, 128}, {40, 200}, {220, 30}, {16, 240}};
  for (const TCase& c : cases) {
    TDevBitmap planeY(61, 41, TPixelFormat::pf8bit);
    const TYUVPlane y = video->GetPlane(0);
    ASSERT_NE(y.data, nullptr);
    for (int row = 0; row < 41; ++row)
      for (int x = 0; x < 61; ++x)
        planeY.ScanLine(row)[x] = y.Row(row)[x] = uint8_t(16 + random() % 220);
    video->PutPlane(0, y);
    for (int plane : {1, 2}) {
      const TYUVPlane bits = video->GetPlane(plane);
      ASSERT_NE(bits.data, nullptr);
      ASSERT_EQ(bits.width, 30);
      ASSERT_EQ(bits.height, 20);
      for (int row = 0; row < 20; ++row)
        std::fill_n(bits.Row(row), 30, plane == 1 ? c.u : c.v);
      video->PutPlane(plane, bits);
    }
    video->Done();
    TVideoParams params;
    const TDevBitmap shot = rig->Frame([&](TDeviceDrawer& d) {
      d.DrawVideo(*video, {1, 2, 0}, params, kX, kY, {0, 0});
    });
    int bad = 0;
    for (int row = 0; row < 41; ++row)
      for (int x = 0; x < 61; ++x) {
        const double l = 1.1643835 * (planeY.ScanLine(row)[x] / 255.0 - 16.0 / 255);
        const double u = c.u / 255.0 - 0.5, v = c.v / 255.0 - 0.5;
        auto byte = [](double value) { return uint32_t(std::lround(Sat(value) * 255)); };
        const uint32_t expected = 0xFF000000u | byte(l + 1.596 * v) << 16 |
                                  byte(l - 0.813 * v - 0.391 * u) << 8 | byte(l + 2.018 * u);
        if (ChannelDistance(shot.Pixel32(x + 1, row + 2), expected) > 2 && ++bad <= 3)
          ADD_FAILURE() << x << "," << row << std::hex << ": " << shot.Pixel32(x + 1, row + 2) << " vs "
                        << expected;
      }
    EXPECT_EQ(bad, 0) << int(c.u) << "," << int(c.v);
  }
  rig->drawer->FreeVideoImage(video);
}

TEST_F(DrawerTest, VideoFormsFilledByTheProcessor) {
  Make(32, 32);
  struct TCase {
    bool mask, alpha, invert;
    int plane;
    uint32_t fill; // one pixel of the plane, in its own format
    uint32_t expected;
  } cases[] = {
      {false, true, false, 4, 0x80FF0000u, 0xFF800000u}, // RGBA, half alpha over black
      {true, false, false, 0, 235, 0xFFFFFFFFu},         // mask: full-range white luma
      {true, false, true, 0, 235, 0xFF000000u},          // inverted
      {false, false, false, 3, 0x07E0u, 0xFF00FF00u},    // grey form: a R5G6B5 word
  };
  for (const TCase& c : cases) {
    // The grey form is what a device without shaders gets; build it directly.
    TRef<T3DYUV> own;
    TDeviceYUVImage* video = nullptr;
    if (c.plane == 3)
      video = (own = TRef<T3DYUV>::Make(rig->drawer.get(), 20, 10, false, false, false)).get();
    else
      video = rig->drawer->CreateVideoImage(20, 10, c.mask, c.alpha);
    const TYUVPlane bits = video->GetPlane(c.plane);
    ASSERT_NE(bits.data, nullptr) << c.plane;
    const int bpp = bits.width / 20;
    for (int y = 0; y < 10; ++y)
      for (int x = 0; x < 20; ++x)
        std::memcpy(bits.Row(y) + x * bpp, &c.fill, size_t(bpp));
    video->PutPlane(c.plane, bits);
    video->Done();
    TVideoParams params;
    params.maskInvert = c.invert;
    const TDevBitmap shot = rig->Frame([&](TDeviceDrawer& d) {
      d.DrawVideo(*video, {2, 2, 0}, params, kX, kY, {0, 0});
    });
    EXPECT_LE(ChannelDistance(shot.Pixel32(10, 6), c.expected), 3)
        << c.plane << std::hex << " got " << shot.Pixel32(10, 6);
    EXPECT_EQ(shot.Pixel32(25, 6), 0xFF000000u);
    if (!own) rig->drawer->FreeVideoImage(video);
  }
  auto* video = rig->drawer->CreateVideoImage(8, 8, false, false);
  EXPECT_THROW(video->GetPlane(5), EAssertion);
  TVideoParams bad;
  bad.deinterlace = 3;
  TLambdaItem root([&](TDeviceDrawer& d) { d.DrawVideo(*video, {0, 0, 0}, bad, kX, kY, {0, 0}); });
  EXPECT_THROW(rig->drawer->DrawItem(root), EAssertion);
}

TEST_F(DrawerTest, VideoKeyingAndDeinterlacing) {
  Make(32, 32);
  if (rig->drawer->ShaderLevel() == 0) GTEST_SKIP() << "no shaders";
  auto* video = rig->drawer->CreateVideoImage(16, 16, false, false);
  const uint8_t fills[3] = {180, 60, 200}; // a saturated red-orange
  for (int plane = 0; plane < 3; ++plane) {
    const TYUVPlane bits = video->GetPlane(plane);
    ASSERT_NE(bits.data, nullptr);
    const TSize size = video->PlaneSize(plane);
    for (int y = 0; y < size.height; ++y)
      std::fill_n(bits.Row(y), size.width, fills[plane]);
    video->PutPlane(plane, bits);
  }
  video->Done();
  struct TCase {
    float tolerance, keyU, keyV;
    uint8_t deinterlace;
    bool visible;
  } cases[] = {
      {0, 0, 0, 0, true},                        // plain
      {0, 0, 0, 1, true},                        // deinterlaced, same field offsets
      {0, 0, 0, 2, true},                        // deinterlaced, shifted fields
      {0.1f, 60 / 255.f, 200 / 255.f, 0, false}, // keyed out
      {0.1f, 60 / 255.f, 200 / 255.f, 2, false}, // keyed out while deinterlacing
      {0.1f, 200 / 255.f, 200 / 255.f, 0, true}, // another key leaves it
  };
  const TDevBitmap reference = rig->Frame([&](TDeviceDrawer& d) {
    d.DrawVideo(*video, {0, 0, 0}, {}, kX, kY, {0, 0});
  });
  for (const TCase& c : cases) {
    TVideoParams params;
    params.chromaTolerance = c.tolerance;
    params.keyU = c.keyU;
    params.keyV = c.keyV;
    params.deinterlace = c.deinterlace;
    const TDevBitmap shot = rig->Frame([&](TDeviceDrawer& d) {
      d.DrawVideo(*video, {0, 0, 0}, params, kX, kY, {0, 0});
    });
    const uint32_t expected = c.visible ? reference.Pixel32(8, 8) : 0xFF000000u;
    EXPECT_LE(ChannelDistance(shot.Pixel32(8, 8), expected), 2)
        << c.tolerance << " " << int(c.deinterlace) << std::hex << " got " << shot.Pixel32(8, 8);
  }
  EXPECT_GT(Channel(reference.Pixel32(8, 8), 16), 200);
  rig->drawer->FreeVideoImage(video);
}

TEST_F(DrawerTest, UpdateRectangleOutsideAndOffset) {
  Make(64, 64);
  rig->drawer->SetUpdateRect({8, 8, 56, 56});
  TBoxParams box;
  box.color1 = 0xFF00FF00;
  box.width = box.height = 4;
  const TDevBitmap shot = rig->Frame([&](TDeviceDrawer& d) {
    d.FillOutside(0x000000FF); // made opaque
    d.SetOffset({10, 20});
    EXPECT_TRUE(d.offsetSet);
    d.DrawBox({20, 20, 0}, {0, 0}, box, kX, kY);
    EXPECT_FALSE(d.SetOffset({0, 0}));
  });
  EXPECT_EQ(shot.Pixel32(2, 30), 0xFF0000FFu);  // left band
  EXPECT_EQ(shot.Pixel32(60, 30), 0xFF0000FFu); // right band
  EXPECT_EQ(shot.Pixel32(30, 2), 0xFF0000FFu);  // above
  EXPECT_EQ(shot.Pixel32(30, 60), 0xFF0000FFu); // below
  EXPECT_EQ(shot.Pixel32(30, 30), 0xFF000000u); // the update rectangle is left to the items
  EXPECT_EQ(shot.Pixel32(31, 41), 0xFF00FF00u); // the box, moved by the offset
  EXPECT_EQ(shot.Pixel32(21, 21), 0xFF000000u);
}

TEST_F(DrawerTest, MaskedFastPathEqualsGeneralPath) {
  Make(80, 60);
  TMemoryImage& content = rig->Image(80, 60, Noise);
  TMemoryImage& mask = rig->Image(40, 30, [](int x, int y) {
    return uint32_t(std::min(255, x * 7)) << 24 | (0x00FFFFFFu ^ uint32_t(y * 5) << 8);
  });
  TLambdaItem item([&](TDeviceDrawer& d) { d.DrawImage(content, {0, 0, 0}, {}, kX, kY, {0, 0}); });
  TMaskLayer layer;
  layer.image = &mask;
  layer.placement = {20, 15, 0};
  layer.imageParams.linearFilter = false;
  std::vector<TDevBitmap> shots;
  for (int fast = 0; fast < 2; ++fast) {
    rig->drawer->maskFastPathAllowed = fast == 1;
    shots.push_back(
        rig->Frame([&](TDeviceDrawer& d) { d.DrawMasked(item, std::span(&layer, 1), nullptr, 0); }));
  }
  int bad = 0;
  for (int y = 0; y < 60; ++y)
    for (int x = 0; x < 80; ++x)
      if (ChannelDistance(shots[0].Pixel32(x, y), shots[1].Pixel32(x, y)) > 2 && ++bad <= 3)
        ADD_FAILURE() << x << "," << y << std::hex << ": " << shots[0].Pixel32(x, y) << " vs "
                      << shots[1].Pixel32(x, y);
  EXPECT_EQ(bad, 0);
  // Outside the mask nothing of the content shows; inside, the content shows through the mask's alpha.
  EXPECT_EQ(shots[0].Pixel32(5, 5), 0xFF000000u);
  EXPECT_GT(ChannelDistance(shots[0].Pixel32(55, 20), 0xFF000000u), 0);
}

TEST_F(DrawerTest, BlurAndSharpenMatchGoldens) {
  Make(128, 96);
  TMemoryImage& picture =
      rig->Image(48, 48, [](int x, int y) { return ((x / 8 + y / 8) % 2) ? 0xFFFFFFFFu : 0xFF2040C0u; });
  auto scene = [&](TDeviceDrawer& d) {
    TBoxParams box;
    box.color1 = 0xFFFFC000;
    box.width = 40;
    box.height = 30;
    d.DrawBox({70, 20, 0}, {0, 0}, box, kX, kY);
    TImageParams params;
    params.linearFilter = false;
    d.DrawImage(picture, {16, 24, 0}, params, kX, kY, {0, 0});
  };
  struct TCase {
    float blur;
    const char* golden;
  } cases[] = {
      {100, "drawer_blur_100"}, {400, "drawer_blur_400"}, {5, "drawer_blur_mix"}, {-20, "drawer_sharpen_20"}};
  const TDevBitmap sharp = rig->Frame(scene);
  for (const TCase& c : cases) {
    const TDevBitmap shot = rig->Frame(scene, 0xFF000000, c.blur);
    EXPECT_TRUE(MatchesGolden(shot, c.golden, 3)) << c.golden;
    if (c.blur >= 100) {
      // A hard edge of the checker is softened.
      EXPECT_GT(ChannelDistance(shot.Pixel32(24, 40), sharp.Pixel32(24, 40)), 8) << c.golden;
    }
  }
}

class TFakeFilter final : public TTransitionFilter {
public:
  TFakeFilter(TFilterKind k, std::vector<TDrawItem*>* log) : kind(k), drawn(log) {}
  double Length() const override { return 100; }
  void SetPosition(double p) override { position = std::clamp(p, 0.0, 100.0); }
  double Position() const override { return position; }
  TFilterKind Kind() const override { return kind; }
  void DrawThrough(T3DDrawer& drawer, TDrawItem& item) override {
    drawn->push_back(&item);
    drawer.DrawItem(item);
  }
  TFilterKind kind;
  double position = 0;
  std::vector<TDrawItem*>* drawn;
};

TEST_F(DrawerTest, TransitionsDispatchThroughTheFilter) {
  Make(16, 16);
  std::vector<TDrawItem*> through;
  TLambdaItem first([](TDeviceDrawer&) {}), second([](TDeviceDrawer&) {});
  rig->drawer->SetTransitionFactory([&](const TRect&, const TTransitionParams& p, TDrawItem&) {
    return TOwned<TTransitionFilter>(new TFakeFilter(TFilterKind(p.effectKind), &through));
  });
  struct TCase {
    TFilterKind kind;
    double progress;
    std::vector<TDrawItem*> drawn; // in the order of notification 1
    std::vector<TDrawItem*> throughFilter;
  } cases[] = {
      {TFilterKind::Plain, 30, {&first, &second}, {&second}},
      {TFilterKind::Overturn, 70, {&second}, {&second}},
      {TFilterKind::TwoSlides, 20, {&second, &first}, {&second, &first}},
      {TFilterKind::Plain, 100, {&second}, {}}, // past the length: the second alone
      {TFilterKind::Plain, -1, {&second}, {}},
  };
  for (const TCase& c : cases) {
    TTransitionParams params;
    params.effectKind = int(c.kind);
    params.duration = 100;
    params.progress = c.progress;
    through.clear();
    rig->notes.clear();
    TLambdaItem root([&](TDeviceDrawer& d) { d.DrawTransition(first, second, &params); });
    rig->drawer->DrawItem(root);
    std::vector<TDrawItem*> drawn;
    for (const auto& n : rig->notes)
      if (n.code == 1 && n.item != &root) drawn.push_back(n.item);
    EXPECT_EQ(drawn, c.drawn) << int(c.kind) << " " << c.progress;
    EXPECT_EQ(through, c.throughFilter) << int(c.kind) << " " << c.progress;
  }
  // Parameters of another kind: the first item alone.
  TFilterParams plain;
  rig->notes.clear();
  TLambdaItem root([&](TDeviceDrawer& d) { d.DrawTransition(first, second, &plain); });
  rig->drawer->DrawItem(root);
  ASSERT_EQ(rig->notes.size(), 6u);
  EXPECT_EQ(rig->notes[2].item, &first);
}

TEST_F(DrawerTest, FixedSizeAndScreenshotInModeZero) {
  Make(1024, 768);
  rig->drawer->SetFixedSize({800, 600});
  EXPECT_EQ(rig->drawer->frameArea, (TRect{112, 84, 912, 684}));
  rig->drawer->mode = 0;
  TDevBitmap bitmap(4, 4, TPixelFormat::pf32bit);
  EXPECT_TRUE(rig->drawer->CopyTo(bitmap)); // nothing copied on the screen
}

} // namespace
} // namespace kiv::test

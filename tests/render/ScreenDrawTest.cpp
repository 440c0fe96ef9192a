// The screen on llvmpipe: quads through the camera, clears, the render-target stack and round trips,
// feathered edges, mip uploads, re-creation of the renderer after a size change or a loss, and two
// golden pictures.

#include "GoldenImage.h"
#include "ScreenTestSupport.h"
#include "Exceptions.h"

#include <cmath>

namespace kiv::test {
namespace {

using ScreenDraw = ScreenFixture;

TDevBitmap RandomPicture(int width, int height, uint32_t seed, bool opaque = true) {
  std::mt19937 random(seed);
  return MakeBitmap(width, height, [&](int, int) { return opaque ? (random() | 0xFF000000u) : random(); });
}

TEST_F(ScreenDraw, QuadReproducesEveryTexelOneToOne) {
  TBitmapTexture texture(screen.get(), RandomPicture(16, 16, 3));
  TCustomTexture* layers[] = {&texture};
  const TFloatRect rects[] = {{0, 0, 16, 16}};
  for (bool point : {true, false}) {
    texture.pointFilter = point;
    screen->Clear(0xFF000000, false);
    screen->DrawQuad(layers, 1, kWhite, rects, At(5, 3), 1);
    const TDevBitmap shot = ReadScreen();
    for (int y = 0; y < 16; ++y)
      for (int x = 0; x < 16; ++x)
        ASSERT_EQ(shot.Pixel32(5 + x, 3 + y), texture.bitmap.Pixel32(x, y))
            << x << "," << y << " point " << point;
    EXPECT_EQ(shot.Pixel32(4, 3), 0xFF000000u);
    EXPECT_EQ(shot.Pixel32(21, 3), 0xFF000000u);
    EXPECT_EQ(shot.Pixel32(5, 19), 0xFF000000u);
  }
}

TEST_F(ScreenDraw, TrianglesAndClearsCoverWholePixels) {
  screen->Clear(0xFF102030, true);
  screen->DrawTriangles({10, 10, 0}, {30, 10, 0}, {10, 20, 0}, {30, 20, 0},
                        {0xFFFF0000, 0xFFFF0000, 0xFFFF0000, 0xFFFF0000});
  screen->ClearRect(0xFF00FF00, {40, 30, 50, 40});
  const TDevBitmap shot = ReadScreen();
  const struct {
    int x, y;
    uint32_t color;
  } probes[] = {{0, 0, 0xFF102030},   {10, 10, 0xFFFF0000}, {29, 19, 0xFFFF0000}, {30, 19, 0xFF102030},
                {29, 20, 0xFF102030}, {9, 10, 0xFF102030},  {40, 30, 0xFF00FF00}, {49, 39, 0xFF00FF00},
                {50, 39, 0xFF102030}, {63, 47, 0xFF102030}};
  for (const auto& p : probes)
    EXPECT_EQ(shot.Pixel32(p.x, p.y), p.color) << p.x << "," << p.y;
}

TEST_F(ScreenDraw, VertexColoursArePremultipliedForPremultipliedLayers) {
  TBitmapTexture texture(screen.get(), MakeBitmap(8, 8, [](int, int) { return 0xFFFFFFFFu; }));
  texture.SetPremultiplied(true);
  texture.pointFilter = true;
  TCustomTexture* layers[] = {&texture};
  const TFloatRect rects[] = {{0, 0, 8, 8}};
  const uint32_t half = 0x80FF8040; // premultiplied: 0x80804020
  screen->Clear(0xFF000000, false);
  screen->DrawQuad(layers, 1, {half, half, half, half}, rects, At(0, 0), 1);
  // ONE, ONE_MINUS_SRC_ALPHA over black: the premultiplied colour itself.
  EXPECT_LE(ChannelDistance(ReadScreen().Pixel32(4, 4) & 0xFFFFFF, 0x804020), 1);
}

TEST_F(ScreenDraw, RenderTargetStackRestoresTheScreen) {
  TRenderTargetManager pool;
  pool.SetSize({kWidth, kHeight});
  T3DSurface* own = screen->renderer->GetRenderTarget();
  auto first = pool.Acquire(screen.get(), false);
  auto second = pool.Acquire(screen.get(), false);
  ASSERT_NE(first->GetTexture(), nullptr);
  EXPECT_EQ(first->texWidth, 64);
  EXPECT_EQ(first->texHeight, 64);
  screen->PushRenderTarget(first.get());
  screen->PushRenderTarget(second.get(), 8, 4);
  EXPECT_EQ(screen->renderer->GetRenderTarget(), second->GetTexture()->GetSurface(0));
  EXPECT_EQ(screen->GetTargetRect(), (TRect{8, 4, 72, 68}));
  screen->PopRenderTarget();
  EXPECT_EQ(screen->renderer->GetRenderTarget(), first->GetTexture()->GetSurface(0));
  screen->PopRenderTarget();
  EXPECT_EQ(screen->renderer->GetRenderTarget(), own);
  EXPECT_EQ(screen->targetOffset, (TPoint{0, 0}));
  EXPECT_EQ(screen->GetTargetRect(), (TRect{0, 0, kWidth, kHeight}));
  screen->PopRenderTarget(); // only the screen's own entry left: it stays
  EXPECT_EQ(screen->targetStack.size(), 1u);
  EXPECT_EQ(screen->renderer->GetRenderTarget(), own);
}

TEST_F(ScreenDraw, RenderTargetRoundTripWithOffset) {
  TBitmapTexture texture(screen.get(), RandomPicture(16, 16, 11));
  texture.pointFilter = true;
  TRenderTargetManager pool;
  pool.SetSize({32, 32});
  auto target = pool.Acquire(screen.get(), false);
  // The target stands for the screen area from (10, 5): what is drawn at (12, 7) lands at its (2, 2).
  screen->PushRenderTarget(target.get(), 10, 5);
  screen->Clear(0x00000000, false);
  TCustomTexture* layers[] = {&texture};
  const TFloatRect rects[] = {{0, 0, 16, 16}};
  screen->DrawQuad(layers, 1, kWhite, rects, At(12, 7), 1);
  screen->PopRenderTarget();
  const TDevBitmap inTarget = ReadTexture(*target);
  EXPECT_EQ(inTarget.Pixel32(2, 2), texture.bitmap.Pixel32(0, 0));
  EXPECT_EQ(inTarget.Pixel32(17, 17), texture.bitmap.Pixel32(15, 15));
  EXPECT_EQ(inTarget.Pixel32(1, 1), 0u);

  screen->Clear(0xFF000000, false);
  target->pointFilter = true;
  // Object point (2, 2) of the target lands at (20, 10).
  screen->DrawRenderTarget(target.get(), At(18, 8), {2, 2, 18, 18});
  const TDevBitmap shot = ReadScreen();
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 16; ++x)
      ASSERT_EQ(shot.Pixel32(20 + x, 10 + y), texture.bitmap.Pixel32(x, y)) << x << "," << y;
  EXPECT_EQ(shot.Pixel32(19, 10), 0xFF000000u);

  target->opacity = 0; // nothing at all
  screen->Clear(0xFF000000, false);
  screen->DrawRenderTarget(target.get(), At(18, 8), {2, 2, 18, 18});
  EXPECT_EQ(ReadScreen().Pixel32(25, 15), 0xFF000000u);
}

TEST_F(ScreenDraw, PoolReusesReturnedTargetsAndEmptiesOnResize) {
  std::vector<std::string> lines;
  SetDevLogHook([&lines](std::string_view line) { lines.emplace_back(line); });
  TRenderTargetManager pool;
  pool.SetSize({40, 30});
  auto target = pool.Acquire(screen.get(), true);
  EXPECT_TRUE(target->premultiplied);
  EXPECT_EQ(target->kind, kTextureKindRTA);
  EXPECT_NE(std::find(lines.begin(), lines.end(), "Rt Create First Attempt Ok= True"), lines.end());
  TRenderTargetTexture* raw = target.get();
  target.reset(); // dropping the handle returns it
  EXPECT_EQ(pool.freeTextures.size(), 1u);
  auto again = pool.Acquire(screen.get(), false);
  EXPECT_EQ(again.get(), raw);
  EXPECT_FALSE(again->premultiplied);
  pool.Return(std::move(again));
  pool.SetSize({40, 30}); // same power-of-two size: kept
  EXPECT_EQ(pool.freeTextures.size(), 1u);
  pool.SetSize({100, 30});
  EXPECT_TRUE(pool.freeTextures.empty());
  EXPECT_EQ(pool.size, (TSize{128, 32}));

  auto stale = pool.Acquire(screen.get(), false);
  pool.SetSize({40, 30});
  EXPECT_THROW(pool.Return(std::move(stale)), EAssertion); // another size: freed, not pooled
  EXPECT_TRUE(pool.freeTextures.empty());
}

// A white quad over black with all edges feathered: opaque inside, a ring fading over one pixel outside.
TEST_F(ScreenDraw, FeatheredEdgesFadeOverOnePixel) {
  const TQuadPlacement placement = At(20, 14);
  for (bool feathered : {false, true}) {
    screen->Clear(0xFF000000, false);
    TFeatherPatch patch;
    screen->BuildFeatherPatch(placement, {0, 0, 20, 16}, {feathered, feathered, feathered, feathered}, patch);
    screen->DrawPatch({}, 0, nullptr, kWhite, patch, 0);
    const TDevBitmap shot = ReadScreen();
    auto grey = [&](int x, int y) { return int(shot.Pixel32(x, y) & 0xFF); };
    EXPECT_EQ(grey(20, 14), 255);
    EXPECT_EQ(grey(39, 29), 255);
    EXPECT_EQ(grey(18, 20), 0);
    EXPECT_EQ(grey(41, 20), 0);
    if (feathered) {
      // Pixel centres half a pixel outside: about half way.
      for (auto [x, y] : {std::pair{19, 20}, {40, 20}, {30, 13}, {30, 30}})
        EXPECT_NEAR(grey(x, y), 128, 3) << x << "," << y;
    } else {
      for (auto [x, y] : {std::pair{19, 20}, {40, 20}, {30, 13}, {30, 30}})
        EXPECT_EQ(grey(x, y), 0) << x << "," << y;
    }
  }
}

TEST_F(ScreenDraw, MipLevelsAreReducedFromTheLevelAbove) {
  TBitmapTexture texture(screen.get(), RandomPicture(50, 30, 5, false));
  texture.SetMipMapped(true);
  T3DTexture* made = texture.GetTexture();
  ASSERT_NE(made, nullptr);
  ASSERT_GE(made->GetLevelCount(), 3);
  const TDevBitmap level0 = ReadTexture(texture, 0), level1 = ReadTexture(texture, 1),
                   level2 = ReadTexture(texture, 2);
  // 50 x 30 -> 25 x 15 is an exact half: 2 x 2 averages.
  for (int y = 0; y < 15; ++y)
    for (int x = 0; x < 25; ++x) {
      uint32_t expected = 0;
      for (int shift = 0; shift < 32; shift += 8) {
        int sum = 0;
        for (int dy = 0; dy < 2; ++dy)
          for (int dx = 0; dx < 2; ++dx)
            sum += (level0.Pixel32(2 * x + dx, 2 * y + dy) >> shift) & 0xFF;
        expected |= uint32_t(sum / 4) << shift;
      }
      ASSERT_EQ(level1.Pixel32(x, y), expected) << x << "," << y;
    }
  // 25 x 15 -> 12 x 7 is not: the corners are the corners of the level above.
  EXPECT_EQ(level2.Pixel32(0, 0), level1.Pixel32(0, 0));
  EXPECT_EQ(level2.Pixel32(11, 6), level1.Pixel32(24, 14));
  EXPECT_EQ(level2.Pixel32(11, 0), level1.Pixel32(24, 0));
}

// A wide strip whose height reaches zero after one halving still gets every level: minified, it is white.
TEST_F(ScreenDraw, WideStripKeepsOneRowInEveryLevel) {
  TBitmapTexture texture(screen.get(), MakeBitmap(256, 2, [](int, int) { return 0xFFFFFFFFu; }));
  texture.SetMipMapped(true);
  TCustomTexture* layers[] = {&texture};
  const TFloatRect rects[] = {{0, 0, 256, 2}};
  TQuadPlacement placement = At(8, 8);
  placement.xAxis = {1.0f / 8, 0, 0};
  placement.yAxis = {0, 8, 0};
  screen->Clear(0xFF000000, false);
  screen->DrawQuad(layers, 1, kWhite, rects, placement, 1);
  const TDevBitmap shot = ReadScreen();
  // Near the top edge, where the minified levels read their first row only.
  EXPECT_GE(int(shot.Pixel32(20, 11) & 0xFF), 250);
  EXPECT_GE(int(shot.Pixel32(30, 11) & 0xFF), 250);
}

TEST_F(ScreenDraw, SizeChangeRecreatesTheRendererAndKeepsTextures) {
  int released = 0;
  screen->OnRendererReleased = [&released](T3DScreen*) { ++released; };
  TBitmapTexture texture(screen.get(), RandomPicture(8, 8, 1));
  ASSERT_NE(texture.GetTexture(), nullptr);
  const T3DTexture* before = texture.texture.get();
  device->bounds = {0, 0, 80, 60};
  ASSERT_TRUE(screen->BeginScene());
  EXPECT_EQ(released, 1);
  EXPECT_EQ(screen->screenRect, (TRect{0, 0, 80, 60}));
  EXPECT_EQ(screen->renderer->GetRenderTarget()->GetSize(), (TSize{80, 60}));
  EXPECT_EQ(texture.texture.get(), before); // windowed, same device: resources stay
  ASSERT_TRUE(screen->BeginScene());
  EXPECT_EQ(released, 1); // nothing changed
}

TEST_F(ScreenDraw, LossDropsEverythingAndTheNextSceneRebuilds) {
  TBitmapTexture texture(screen.get(), RandomPicture(16, 16, 9));
  texture.pointFilter = true;
  TShader shader(screen.get(), TShader::kPixel, "void main() { oC0 = vec4(1.0, 0.0, 0.0, 1.0); }\n");
  ASSERT_NE(texture.GetTexture(), nullptr);
  ASSERT_NE(shader.shader, nullptr);
  static_cast<T3DRendererGL*>(screen->renderer.get())->SimulateDeviceLoss();
  screen->Clear(0xFF000000, false); // notices the loss
  EXPECT_FALSE(screen->IsReady());
  EXPECT_EQ(texture.texture, nullptr);
  EXPECT_EQ(shader.shader, nullptr);
  TCustomTexture* layers[] = {&texture};
  const TFloatRect rects[] = {{0, 0, 16, 16}};
  screen->DrawQuad(layers, 1, kWhite, rects, At(0, 0), 1); // draws nothing, fails nothing

  ASSERT_TRUE(screen->BeginScene());
  EXPECT_NE(shader.shader, nullptr); // re-created with the first scene
  screen->Clear(0xFF000000, false);
  screen->DrawQuad(layers, 1, kWhite, rects, At(4, 4), 1); // texture re-created and re-uploaded
  EXPECT_EQ(ReadScreen().Pixel32(9, 9), texture.bitmap.Pixel32(5, 5));
}

TEST_F(ScreenDraw, DeviceGoingAwayClearsTheScreensReferences) {
  device.reset();
  EXPECT_EQ(screen->drawDevice, nullptr);
  EXPECT_EQ(screen->messenger, nullptr);
  EXPECT_FALSE(screen->IsReady());
  EXPECT_FALSE(screen->BeginScene());
  auto other = MakeOwned<TDrawDevice>();
  other->bounds = {0, 0, 32, 32};
  screen->AssignDevice(other.get());
  EXPECT_TRUE(screen->BeginScene());
  EXPECT_NE(screen->messenger, nullptr);
  screen.reset(); // the screen goes first: the device keeps working without its messenger
  EXPECT_EQ(other->FindAttachment<TDeviceKilledMessenger>(), nullptr);
}

TEST_F(ScreenDraw, AssignDeviceRefusesNothingAndSkipsTheSameState) {
  std::vector<std::string> lines;
  SetDevLogHook([&lines](std::string_view line) { lines.emplace_back(line); });
  T3DRenderer* before = screen->renderer.get();
  screen->AssignDevice(device.get());
  EXPECT_EQ(screen->renderer.get(), before);
  EXPECT_NE(std::find(lines.begin(), lines.end(),
                      "T3DScreen.AssignDevice, Exit By Same FullScreen Or Same Windowed"),
            lines.end());
  EXPECT_THROW(screen->AssignDevice(nullptr), EAssertion);
}

// ---- golden pictures ----

TEST_F(ScreenDraw, GoldenTiltedFeatheredQuadOverGradient) {
  screen->Clear(0xFF000000, false);
  screen->DrawTriangles({0, 0, 0}, {64, 0, 0}, {0, 48, 0}, {64, 48, 0},
                        {0xFF203060, 0xFF206030, 0xFF602030, 0xFF606060});
  TBitmapTexture texture(screen.get(), MakeBitmap(32, 32, [](int x, int y) {
                           return ((x / 8 + y / 8) % 2) ? 0xFFF0E0C0u : 0xFF3050A0u;
                         }));
  TQuadPlacement placement;
  placement.origin = {32, 24, 10};
  placement.pivot = {16, 16};
  const float a = 0.7f;
  placement.xAxis = {std::cos(a), 0.2f, std::sin(a)};
  placement.yAxis = {-0.15f, 1, 0};
  TFeatherPatch patch;
  screen->BuildFeatherPatch(placement, {0, 0, 32, 32}, {true, true, true, true}, patch);
  TCustomTexture* layers[] = {&texture};
  screen->DrawPatch(layers, 1, nullptr, kWhite, patch, 1);
  EXPECT_TRUE(MatchesGolden(ReadScreen(), "screen_tilted_feathered_quad"));
}

TEST_F(ScreenDraw, GoldenRenderTargetComposite) {
  TRenderTargetManager pool;
  pool.SetSize({kWidth, kHeight});
  auto target = pool.Acquire(screen.get(), false);
  screen->PushRenderTarget(target.get());
  screen->Clear(0x00000000, false);
  screen->DrawTriangles({8, 8, 0}, {40, 8, 0}, {8, 40, 0}, {40, 40, 0},
                        {0xFFFF0000, 0x8000FF00, 0x800000FF, 0x00FFFFFF});
  screen->PopRenderTarget();
  screen->Clear(0xFF404040, false);
  target->opacity = 200;
  screen->DrawRenderTarget(target.get(), At(12, 4), {0, 0, 48, 44});
  EXPECT_TRUE(MatchesGolden(ReadScreen(), "screen_render_target_composite"));
}

} // namespace
} // namespace kiv::test

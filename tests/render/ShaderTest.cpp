// Each pixel shader of the screen drawn 1:1 on llvmpipe into a transparent A8R8G8B8 target and compared
// with a reference computed here, within 1/255 per channel. Normal blending over transparent black leaves
// (colour x alpha, alpha x alpha) in the target.

#include "PixelShaders.h"
#include "ScreenTestSupport.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace kiv::test {
namespace {

constexpr int kSize = 32;

struct TRgba {
  double r = 0, g = 0, b = 0, a = 1;
};

double Sat(double v) {
  return std::clamp(v, 0.0, 1.0);
}

uint32_t Composite(const TRgba& c) {
  const double a = Sat(c.a);
  auto byte = [](double v) { return uint32_t(std::lround(Sat(v) * 255)); };
  return byte(a * a) << 24 | byte(Sat(c.r) * a) << 16 | byte(Sat(c.g) * a) << 8 | byte(Sat(c.b) * a);
}

class ShaderTest : public ScreenFixture {
protected:
  void SetUp() override {
    ScreenFixture::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    pool.SetSize({kSize, kSize});
    y = Plane(kSize, 21);
    u = Plane(kSize / 2, 22);
    v = Plane(kSize / 2, 23);
    picture = Picture(31);
    other = Picture(32);
  }
  void TearDown() override {
    y.reset();
    u.reset();
    v.reset();
    picture.reset();
    other.reset();
    pool.Clear();
    ScreenFixture::TearDown();
  }

  TOwned<TBitmapTexture> Plane(int size, uint32_t seed) {
    auto t = MakeOwned<TBitmapTexture>(screen.get(), MakePlane(size, size, seed), kTextureKindL8);
    t->pointFilter = true;
    return t;
  }
  TOwned<TBitmapTexture> Picture(uint32_t seed) {
    std::mt19937 random(seed);
    auto t =
        MakeOwned<TBitmapTexture>(screen.get(), MakeBitmap(kSize, kSize, [&](int, int) { return random(); }));
    t->pointFilter = true;
    return t;
  }

  double Y(int x, int yy) const {
    return y->bitmap.ScanLine(std::clamp(yy, 0, kSize - 1))[std::clamp(x, 0, kSize - 1)] / 255.0;
  }
  double U(int x, int yy) const { return u->bitmap.ScanLine(yy / 2)[x / 2] / 255.0; }
  double V(int x, int yy) const { return v->bitmap.ScanLine(yy / 2)[x / 2] / 255.0; }
  static TRgba Texel(const TBitmapTexture& t, int x, int yy) {
    const uint32_t p = t.bitmap.Pixel32(std::clamp(x, 0, kSize - 1), std::clamp(yy, 0, kSize - 1));
    return {((p >> 16) & 0xFF) / 255.0, ((p >> 8) & 0xFF) / 255.0, (p & 0xFF) / 255.0, (p >> 24) / 255.0};
  }

  // Draws the shader over the whole target with the given layers and constants; answers the target.
  TDevBitmap Run(std::string_view name, std::vector<TCustomTexture*> layers, std::vector<TFloatRect> rects,
                 const std::vector<std::array<float, 4>>& constants, uint32_t vertexColor) {
    TShader shader(screen.get(), TShader::kPixel, std::string(PixelShaderCode(name)));
    EXPECT_NE(shader.GetShader(), nullptr) << name;
    auto target = pool.Acquire(screen.get(), false);
    screen->PushRenderTarget(target.get());
    screen->Clear(0x00000000, false);
    screen->renderer->SetShader(shader.GetShader());
    screen->renderer->SetShaderConstants(0, constants[0].data(), int(constants.size()), false);
    const int n = int(layers.size());
    screen->DrawQuad(layers, n, {vertexColor, vertexColor, vertexColor, vertexColor}, rects, At(0, 0), n);
    screen->renderer->SetShader(nullptr);
    screen->PopRenderTarget();
    return ReadTexture(*target);
  }

  void Expect(const TDevBitmap& actual, const std::function<TRgba(int, int)>& reference,
              std::string_view what) {
    ASSERT_EQ(actual.Width(), kSize);
    int failures = 0;
    for (int yy = 0; yy < kSize; ++yy)
      for (int x = 0; x < kSize; ++x) {
        const uint32_t expected = Composite(reference(x, yy));
        if (ChannelDistance(actual.Pixel32(x, yy), expected) > 1 && ++failures <= 3)
          ADD_FAILURE() << what << " at " << x << "," << yy << ": got " << std::hex << actual.Pixel32(x, yy)
                        << ", expected " << expected;
      }
  }

  std::vector<TCustomTexture*> Yuv() { return {y.get(), u.get(), v.get()}; }
  static std::vector<TFloatRect> YuvRects() {
    return {{0, 0, kSize, kSize}, {0, 0, kSize / 2, kSize / 2}, {0, 0, kSize / 2, kSize / 2}};
  }

  TRenderTargetManager pool;
  TOwned<TBitmapTexture> y, u, v, picture, other;
};

constexpr float kCrv = 1.596f, kCgv = 0.813f, kCgu = 0.391f, kCbu = 2.018f, kScy = 1.1643835f;
const std::vector<std::array<float, 4>> kYuvConstants = {{kCrv, kCrv, kCrv, kCrv},
                                                         {kCgv, kCgv, kCgv, kCgv},
                                                         {kCgu, kCgu, kCgu, kCgu},
                                                         {kCbu, kCbu, kCbu, kCbu},
                                                         {kScy, kScy, kScy, kScy}};

TRgba YuvToRgb(double Y, double U, double V, double& luma) {
  luma = kScy * (Y - 1.0 / 16);
  return {Sat(luma + kCrv * (V - 0.5)), Sat(luma - kCgv * (V - 0.5) - kCgu * (U - 0.5)),
          Sat(luma + kCbu * (U - 0.5)), 1};
}

TEST_F(ShaderTest, EveryShaderCompiles) {
  ASSERT_EQ(PixelShaderSources().size(), 10u);
  for (const TShaderSource& source : PixelShaderSources()) {
    TShader shader(screen.get(), TShader::kPixel, std::string(source.code));
    EXPECT_NE(shader.GetShader(), nullptr) << source.name;
  }
  EXPECT_TRUE(PixelShaderCode("no such shader").empty());
}

TEST_F(ShaderTest, YuvLum) {
  const uint32_t color = 0xC8FFFFFF;
  Expect(
      Run("yuv_lum", Yuv(), YuvRects(), kYuvConstants, color),
      [&](int x, int yy) {
        double luma;
        TRgba c = YuvToRgb(Y(x, yy), U(x, yy), V(x, yy), luma);
        c.a = 200 / 255.0;
        return c;
      },
      "yuv_lum");
}

// The field line interpolation of both deinterlacing shaders, for both field offsets.
double FieldY(const ShaderTest& t, int x, int yy, double offX, double offY,
              const std::function<double(int, int)>& plane) {
  (void)t;
  const double r = (yy + 0.5) + offY;
  const double f = 2 * std::floor(r / 2);
  const double a = plane(x, int(std::floor(f + offX + 2.5)));
  const double b = plane(x, int(std::floor(f + offX + 0.5)));
  const double w = (r - (f + 0.5)) / 2;
  return w * a + (1 - w) * b;
}

TEST_F(ShaderTest, YuvDeinterlaceLum) {
  for (const auto& [offX, offY] : {std::pair{0.0f, 0.0f}, {1.0f, -1.0f}}) {
    auto constants = kYuvConstants;
    constants.push_back({float(kSize), 1.0f / kSize, 0, 0});
    constants.push_back({offX, offY, 0, 0});
    Expect(
        Run("yuv_deinterlace_lum", Yuv(), YuvRects(), constants, 0xFFFFFFFF),
        [&](int x, int yy) {
          const double fy = FieldY(*this, x, yy, offX, offY, [&](int px, int py) { return Y(px, py); });
          double luma;
          return YuvToRgb(fy, U(x, yy), V(x, yy), luma);
        },
        "yuv_deinterlace_lum offsets " + std::to_string(offX) + "," + std::to_string(offY));
  }
}

TRgba Keyed(const TRgba& c, double luma, double U, double V, uint32_t color, double degree, double keyU,
            double keyV, double tolerance) {
  const double vr = ((color >> 16) & 0xFF) / 255.0, vg = ((color >> 8) & 0xFF) / 255.0,
               vb = (color & 0xFF) / 255.0, va = (color >> 24) / 255.0;
  TRgba out{c.r + degree * (2 * luma * vr - c.r), c.g + degree * (2 * luma * vg - c.g),
            c.b + degree * (2 * luma * vb - c.b), va};
  const double d = 0.5 * std::abs((U - keyU) + (V - keyV));
  if (d - tolerance < 0) out.a = va * d * d / (tolerance * tolerance);
  return out;
}

TEST_F(ShaderTest, ChromaKeyAndChromaDeinter) {
  const uint32_t color = 0xE0C08040;
  const float degree = 0.3f, keyU = 0.45f, keyV = 0.55f, tolerance = 0.1013f;
  for (bool deinterlace : {false, true}) {
    auto constants = kYuvConstants;
    constants.push_back({float(kSize), 1.0f / kSize, 0, 0});
    constants.push_back({deinterlace ? 1.0f : 0.0f, deinterlace ? -1.0f : 0.0f, tolerance, 1 / tolerance});
    constants.push_back({degree, keyU, keyV, 0});
    Expect(
        Run(deinterlace ? "chroma_deinter" : "chromakey", Yuv(), YuvRects(), constants, color),
        [&](int x, int yy) {
          const double fy =
              deinterlace ? FieldY(*this, x, yy, 1, -1, [&](int px, int py) { return Y(px, py); }) : Y(x, yy);
          double luma;
          const TRgba c = YuvToRgb(fy, U(x, yy), V(x, yy), luma);
          return Keyed(c, luma, U(x, yy), V(x, yy), color, degree, keyU, keyV, tolerance);
        },
        deinterlace ? "chroma_deinter" : "chromakey");
  }
}

TEST_F(ShaderTest, VideoMask) {
  for (float invert : {0.0f, 1.0f}) {
    Expect(
        Run("videomask", {y.get()}, {{0, 0, kSize, kSize}}, {{invert, invert, invert, invert}}, 0xE0FFFFFF),
        [&](int x, int yy) {
          const double m = (1 - 2 * invert) * 1.16438 * (Y(x, yy) - 0.0625) + invert;
          return TRgba{m, m, m, m * (0xE0 / 255.0)};
        },
        invert ? "videomask inverted" : "videomask");
  }
}

TEST_F(ShaderTest, Unsharp) {
  // Half way between two reachable differences (multiples of 1/4080), so no pixel sits on the threshold.
  const float threshold = 82.5f / 4080, amount = 1.5f;
  Expect(
      Run("unsharp", {picture.get()}, {{0, 0, kSize, kSize}},
          {{1.0f / kSize, 1.0f / kSize, 0, 0}, {threshold, 0, 0, 0}, {amount, 0, 0, 0}}, 0xFFFFFFFF),
      [&](int x, int yy) {
        const TRgba c = Texel(*picture, x, yy);
        TRgba blur{0, 0, 0, 0};
        for (int dy = -1; dy <= 1; ++dy)
          for (int dx = -1; dx <= 1; ++dx) {
            const double w = (dx == 0 ? 2 : 1) * (dy == 0 ? 2 : 1) / 16.0;
            const TRgba s = Texel(*picture, x + dx, yy + dy);
            blur.r += w * s.r;
            blur.g += w * s.g;
            blur.b += w * s.b;
          }
        auto sharpen = [&](double centre, double blurred) {
          const double d = centre - blurred;
          return std::abs(d) - threshold >= 0 ? centre + amount * d : centre;
        };
        return TRgba{sharpen(c.r, blur.r), sharpen(c.g, blur.g), sharpen(c.b, blur.b), c.a};
      },
      "unsharp");
}

TEST_F(ShaderTest, GaussianPassesAlongEachAxis) {
  const std::array<float, 4> weights = {0.065722f, 0.108356f, 0.17865f, 0.294544f};
  const int step = 2;
  for (bool vertical : {false, true}) {
    Expect(
        Run(vertical ? "gauss_blur_v7" : "gauss_blur_h7", {picture.get()}, {{0, 0, kSize, kSize}},
            {weights, {float(step) / kSize, 0, 0, 0}}, 0xFFFFFFFF),
        [&](int x, int yy) {
          TRgba sum{0, 0, 0, 0};
          for (int k = -3; k <= 3; ++k) {
            const double w = weights[size_t(3 - std::abs(k))];
            const TRgba s = vertical ? Texel(*picture, x, yy + k * step) : Texel(*picture, x + k * step, yy);
            sum.r += w * s.r;
            sum.g += w * s.g;
            sum.b += w * s.b;
            sum.a += w * s.a;
          }
          return sum;
        },
        vertical ? "gauss_blur_v7" : "gauss_blur_h7");
  }
}

TEST_F(ShaderTest, GaussMix) {
  const float alpha = 0.3f;
  Expect(
      Run("gauss_mix", {picture.get(), other.get()}, {{0, 0, kSize, kSize}, {0, 0, kSize, kSize}},
          {{alpha, alpha, alpha, alpha}}, 0xFFFFFFFF),
      [&](int x, int yy) {
        const TRgba big = Texel(*picture, x, yy), small = Texel(*other, x, yy);
        return TRgba{small.r * alpha + big.r * (1 - alpha), small.g * alpha + big.g * (1 - alpha),
                     small.b * alpha + big.b * (1 - alpha), small.a * alpha + big.a * (1 - alpha)};
      },
      "gauss_mix");
}

TEST_F(ShaderTest, ColorCorrection) {
  const float degree = 0.6f;
  const uint32_t color = 0xB0A0C0E0;
  const double vr = 0xA0 / 255.0, vg = 0xC0 / 255.0, vb = 0xE0 / 255.0, va = 0xB0 / 255.0;
  Expect(
      Run("color_correction", {picture.get()}, {{0, 0, kSize, kSize}}, {{degree, degree, degree, degree}},
          color),
      [&](int x, int yy) {
        const TRgba c = Texel(*picture, x, yy);
        const double l = 0.2126 * c.r + 0.7152 * c.g + 0.0722 * c.b;
        return TRgba{c.r + degree * (2 * l * vr - c.r), c.g + degree * (2 * l * vg - c.g),
                     c.b + degree * (2 * l * vb - c.b), c.a * va};
      },
      "color_correction");
}

} // namespace
} // namespace kiv::test

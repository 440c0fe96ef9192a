// Drop shadow pictures: names, working sizes, blur extent, contours and tint.

#include "GeneratedGolden.h"
#include "ShadowGenerator.h"
#include "Utf8Conversion.h"

#include <cmath>

namespace kiv {
namespace {

uint32_t AlphaAt(const TCachedBitmap& b, int x, int y) {
  return b.Pixel(x, y) >> 24;
}

TShadowParams Rectangle(int w, int h, double blur, double opacity = 100) {
  TShadowParams p;
  p.right = w;
  p.bottom = h;
  p.fillAlpha = 0;
  p.blurSize = blur;
  p.opacity = opacity;
  return p;
}

TEST(DropShadow, NamesRoundTripAndBadFieldsTakeDefaultsWithinBounds) {
  TShadowParams p;
  p.sourceName = u"pics\\a:b.png";
  p.left = 1, p.top = 2, p.right = 300, p.bottom = 200, p.marginX = 5, p.marginY = 6, p.fillAlpha = 0;
  p.blurSize = 4.25, p.spread = 7, p.boxAlpha1 = 10, p.boxAlpha2 = 20, p.boxGradient = 5;
  p.blue = 30, p.green = 40, p.red = 50, p.opacity = 59.5, p.level = 2;
  const std::u16string name = EncodeShadowParams(p);
  EXPECT_EQ(Utf16ToUtf8(name), "1:2:300:200:5:6:0:4.25:7:5:10:20:30:40:50:59.50:2:pics\\a:b.png");
  EXPECT_EQ(ParseShadowParams(name), p);

  const TShadowParams bad =
      ParseShadowParams(u"x:-5:99999999:y:-1:2000000000:z:nan:q:12:300:-3:1:2:3:500:-7:N\\A");
  EXPECT_EQ(bad.left, 0);
  EXPECT_EQ(bad.top, 0);
  EXPECT_EQ(bad.right, kMaxShadowPart);
  EXPECT_EQ(bad.bottom, 0);
  EXPECT_EQ(bad.marginX, 0);
  EXPECT_EQ(bad.marginY, kMaxShadowMargin);
  EXPECT_EQ(bad.fillAlpha, 255);
  EXPECT_EQ(bad.blurSize, 0);
  EXPECT_EQ(bad.boxGradient, 8);
  EXPECT_EQ(bad.boxAlpha1, 255);
  EXPECT_EQ(bad.boxAlpha2, 0);
  EXPECT_EQ(bad.opacity, 100);
  EXPECT_EQ(bad.level, 0);
  EXPECT_TRUE(bad.IsRectangle());
  // Too few fields: the rest take their defaults.
  const TShadowParams shortName = ParseShadowParams(u"1:2");
  EXPECT_EQ(shortName.top, 2);
  EXPECT_EQ(shortName.fillAlpha, 255);
  EXPECT_EQ(shortName.boxGradient, 8);
}

TEST(DropShadow, WorkingSizeIsReducedAndBordered) {
  const struct {
    int w, h, mx, my;
    double blur;
    int width, height, reduction, border;
  } cases[] = {
      // part + margins; reduced while above 700000 pixels, then while a side is above 10000
      {100, 50, 10, 5, 8, 120, 60, 1, 23},      // s = 9, p = ceil(22.5)
      {2000, 1000, 0, 0, 16, 1000, 500, 2, 23}, // 2 000 000 pixels: halved once, s = 16 / 2 + 1
      {20000, 10, 0, 0, 0, 10000, 5, 2, 3},     // a side above 10000
      {5000, 5000, 0, 0, 100, 625, 625, 8, 34}, // halved three times, s = 100 / 8 + 1 = 13.5
      {10, 10, 0, 0, 1e9, 10, 10, 1, 640},      // the blur's reduction is bounded (s = 256)
  };
  for (const auto& c : cases) {
    TShadowParams p = Rectangle(c.w, c.h, c.blur);
    p.marginX = c.mx;
    p.marginY = c.my;
    const TShadowLayout layout = ShadowLayoutFor(p, c.w, c.h);
    EXPECT_EQ(layout.width, c.width) << c.w << "x" << c.h;
    EXPECT_EQ(layout.height, c.height) << c.w << "x" << c.h;
    EXPECT_EQ(layout.reduction, c.reduction) << c.w << "x" << c.h;
    EXPECT_EQ(layout.border, c.border) << c.w << "x" << c.h;
  }
}

TEST(DropShadow, RectangleBlurStaysWithinTheBorderAndIsSymmetric) {
  // 40 x 20 with blur 8: s = 9, a border of 23 on every side.
  TRef<TCachedBitmap> b = TShadowGenerator().Generate(Rectangle(40, 20, 8), nullptr);
  ASSERT_TRUE(b);
  ASSERT_EQ(b->Width(), 86);
  ASSERT_EQ(b->Height(), 66);
  // The picture's own edges are clear; the middle is nearly solid.
  for (int x = 0; x < 86; ++x) {
    EXPECT_LE(AlphaAt(*b, x, 0), 1u) << x;
    EXPECT_LE(AlphaAt(*b, x, 65), 1u) << x;
  }
  EXPECT_GT(AlphaAt(*b, 43, 33), 150u);
  // Softened: the rectangle's edge is no longer a step, and the blur reaches beyond it.
  EXPECT_LT(AlphaAt(*b, 23, 33), AlphaAt(*b, 43, 33));
  EXPECT_GT(AlphaAt(*b, 18, 33), 0u);
  // Mirror images left to right and top to bottom.
  for (int y = 0; y < 66; ++y)
    for (int x = 0; x < 86; ++x) {
      ASSERT_NEAR(double(AlphaAt(*b, x, y)), double(AlphaAt(*b, 85 - x, y)), 1) << x << "," << y;
      ASSERT_NEAR(double(AlphaAt(*b, x, y)), double(AlphaAt(*b, x, 65 - y)), 1) << x << "," << y;
    }
  // Falls off monotonically from the middle outwards along the middle row.
  for (int x = 1; x <= 43; ++x)
    EXPECT_LE(AlphaAt(*b, x - 1, 33), AlphaAt(*b, x, 33)) << x;
}

TEST(DropShadow, TintIsTheColourWithAlphaScaledByTheOpacity) {
  TShadowParams full = Rectangle(30, 30, 4, 100);
  full.red = 200, full.green = 100, full.blue = 50;
  TShadowParams half = full;
  half.opacity = 50; // A = int(50 * 255 / 100) = 127
  TRef<TCachedBitmap> a = TShadowGenerator().Generate(full, nullptr);
  TRef<TCachedBitmap> b = TShadowGenerator().Generate(half, nullptr);
  ASSERT_EQ(a->Pixels().size(), b->Pixels().size());
  for (size_t i = 0; i < a->Pixels().size(); ++i) {
    EXPECT_EQ(a->Pixels()[i] & 0xFFFFFF, 0xC86432u);
    EXPECT_EQ(b->Pixels()[i] & 0xFFFFFF, 0xC86432u);
    ASSERT_EQ(b->Pixels()[i] >> 24, (a->Pixels()[i] >> 24) * 127 / 255) << i;
  }
  // Opacity 100 in black: fully black and opaque in the middle of a large unblurred rectangle.
  TRef<TCachedBitmap> solid = TShadowGenerator().Generate(Rectangle(100, 100, 0), nullptr);
  EXPECT_EQ(solid->Pixel(53, 53), 0xFF000000u);
}

TEST(DropShadow, ContoursMapTheirControlPoints) {
  const std::array<uint8_t, 256> linear = ContourTable(0), cone = ContourTable(1), cove = ContourTable(3),
                                 unknown = ContourTable(42);
  for (int i = 0; i < 256; ++i) {
    EXPECT_EQ(linear[size_t(i)], i);
    EXPECT_EQ(unknown[size_t(i)], i);
  }
  EXPECT_EQ(cone[0], 0);
  EXPECT_EQ(cone[128], 255);
  EXPECT_EQ(cone[255], 0);
  EXPECT_GT(cone[64], 60);
  EXPECT_LT(cone[64], 200);
  // Before the first point its output holds; after the last, the last output.
  EXPECT_EQ(cove[0], 63);
  EXPECT_EQ(cove[1], 63);
  EXPECT_EQ(cove[148], 110);
  EXPECT_EQ(cove[192], 255);
  EXPECT_EQ(cove[255], 255);
  const std::array<uint8_t, 256> doubleRing = ContourTable(8);
  for (auto [x, y] : {std::pair{0, 0}, {48, 255}, {105, 0}, {158, 253}, {214, 1}, {255, 255}})
    EXPECT_EQ(doubleRing[size_t(x)], y) << x;
}

TEST(DropShadow, ConesClearTheCoreOrTheEdge) {
  TShadowParams p = Rectangle(80, 80, 6);
  TRef<TCachedBitmap> plain = TShadowGenerator().Generate(p, nullptr);
  p.spread = 1;
  TRef<TCachedBitmap> cone = TShadowGenerator().Generate(p, nullptr);
  p.spread = 2;
  TRef<TCachedBitmap> inverted = TShadowGenerator().Generate(p, nullptr);
  const int c = plain->Width() / 2;
  // Where the plain shadow is about half strong: its edge.
  int edge = 0;
  while (edge < c && AlphaAt(*plain, edge, c) < 128)
    ++edge;
  EXPECT_GT(AlphaAt(*plain, c, c), 250u);
  // Cone: the core (full alpha) maps to 0, the edge (half) to full, outside stays clear.
  EXPECT_LT(AlphaAt(*cone, c, c), 5u);
  EXPECT_GT(AlphaAt(*cone, edge, c), 240u);
  EXPECT_LT(AlphaAt(*cone, 0, 0), 5u);
  // Cone - Inverted by its points: the core and the outside opaque, the edge clear.
  EXPECT_GT(AlphaAt(*inverted, c, c), 250u);
  EXPECT_LT(AlphaAt(*inverted, edge, c), 15u);
  EXPECT_GT(AlphaAt(*inverted, 0, 0), 250u);
}

TEST(DropShadow, PictureShadowsFollowTheAlphaShape) {
  // A 40 x 40 picture, opaque only in its left half: the shadow's right half stays clear.
  std::vector<uint32_t> pixels(40 * 40);
  for (int y = 0; y < 40; ++y)
    for (int x = 0; x < 40; ++x)
      pixels[size_t(y) * 40 + x] = x < 20 ? 0xFF336699u : 0x00336699u;
  TRef<TCachedBitmap> source = TRef<TCachedBitmap>::Make(40, 40, pixels);
  TShadowParams p;
  p.sourceName = u"half.png";
  p.right = 40;
  p.bottom = 40;
  p.fillAlpha = 0;
  p.blurSize = 2;
  p.opacity = 100;
  TRef<TCachedBitmap> shadow = TShadowGenerator().Generate(p, source.get());
  ASSERT_TRUE(shadow);
  const int border = (shadow->Width() - 40) / 2;
  EXPECT_GT(AlphaAt(*shadow, border + 8, border + 20), 200u);
  EXPECT_EQ(AlphaAt(*shadow, border + 36, border + 20), 0u);
  // A picture without alpha casts the shadow of its rectangle.
  std::vector<uint32_t> opaque(40 * 40, 0xFF808080u);
  TRef<TCachedBitmap> photo = TRef<TCachedBitmap>::Make(40, 40, opaque);
  TShadowParams rect = Rectangle(40, 40, 2);
  EXPECT_EQ(TShadowGenerator().Generate(p, photo.get())->Pixels(),
            TShadowGenerator().Generate(rect, nullptr)->Pixels());
  // A part beyond the picture is cut to it; no source picture gives no shadow.
  p.right = 4000;
  EXPECT_EQ(TShadowGenerator().Generate(p, source.get())->Width(), shadow->Width());
  EXPECT_FALSE(TShadowGenerator().Generate(p, nullptr));
}

TEST(DropShadow, BoxGradientAlphasRunAlongTheirDirection) {
  TShadowParams p = Rectangle(60, 60, 0);
  p.boxAlpha1 = 255;
  p.boxAlpha2 = 0;
  p.boxGradient = 6; // left to right
  TRef<TCachedBitmap> b = TShadowGenerator().Generate(p, nullptr);
  const int border = (b->Width() - 60) / 2;
  EXPECT_GT(AlphaAt(*b, border + 5, border + 30), AlphaAt(*b, border + 55, border + 30) + 150);
  p.boxGradient = 5; // top to bottom
  b = TShadowGenerator().Generate(p, nullptr);
  EXPECT_GT(AlphaAt(*b, border + 30, border + 5), AlphaAt(*b, border + 30, border + 55) + 150);
}

} // namespace
} // namespace kiv

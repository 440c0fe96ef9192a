// Preset mask shapes: names, the feathered band, the ellipse and the rounded rectangle.

#include "GeneratedGolden.h"
#include "MaskGenerator.h"
#include "Utf8Conversion.h"

#include <cmath>

namespace kiv {
namespace {

uint8_t Grey(const TCachedBitmap& b, int x, int y) {
  const uint32_t p = b.Pixel(x, y);
  EXPECT_EQ(p >> 24, 255u);
  EXPECT_TRUE((p >> 16 & 255) == (p & 255) && (p >> 8 & 255) == (p & 255)) << "not grey at " << x << "," << y;
  return static_cast<uint8_t>(p & 255);
}

// The smooth step of the band, written out again here from its definition.
int ExpectedGrey(double d, double r, double f) {
  if (d < r - f) return 255;
  if (d > r) return 0;
  const double t = (f + d - r) / f;
  const double e = t < 0.5 ? 2 * t * t : 1 - 2 * (1 - t) * (1 - t);
  return 255 - static_cast<int>(std::nearbyint(255 * e));
}

TEST(PresetMask, NamesParseWithDefaultsAndBounds) {
  const struct {
    const char* name;
    TPresetMaskParams expected;
  } cases[] = {
      {"320:200:1:25.5:10", {320, 200, 1, 25.5, 10}},
      {" 64: 32: 0: 5: 50", {64, 32, 0, 5, 50}},
      {"x:100:1:0:0", {512, 100, 1, 0, 0}},
      {"", {512, 512, 0, 0, 0}},
      {"100:100:5:10:10", {100, 100, 0, 10, 10}},
      {"0:-4:1:-5:400", {1, 1, 1, 0, 100}},
      {"99999999:3000000000:1:nan:inf", {kMaxPresetMaskSide, kMaxPresetMaskSide, 1, 0, 0}},
  };
  for (const auto& c : cases)
    EXPECT_EQ(ParsePresetMask(Utf8ToUtf16(c.name)), c.expected) << c.name;
  const TPresetMaskParams params{640, 480, 1, 12.5, 7};
  EXPECT_EQ(ParsePresetMask(EncodePresetMask(params)), params);
}

TEST(PresetMask, EllipseFeatheredBandFollowsTheSmoothStep) {
  // 101 x 51: cx = 50, cy = 25, m = 25; feather 40 gives F = 10; rows scale by 101 / 51.
  TRef<TCachedBitmap> b = TMaskGenerator().Generate({101, 51, 1, 40, 0});
  ASSERT_TRUE(b);
  ASSERT_EQ(b->Width(), 101);
  ASSERT_EQ(b->Height(), 51);
  for (int x = 0; x <= 100; ++x)
    EXPECT_EQ(Grey(*b, x, 25), ExpectedGrey(std::abs(x - 50.0), 50, 10)) << "middle row, x " << x;
  for (int y = 0; y <= 50; ++y)
    EXPECT_EQ(Grey(*b, 50, y), ExpectedGrey(std::abs(y - 25.0) * 101 / 51, 50, 10))
        << "middle column, y " << y;
  // The band really is soft: strictly between black and white somewhere on the row.
  EXPECT_EQ(Grey(*b, 45, 25), 255);
  EXPECT_GT(Grey(*b, 5, 25), 0);
  EXPECT_LT(Grey(*b, 5, 25), 255);
}

TEST(PresetMask, HardDiscTouchesTheFourEdges) {
  TRef<TCachedBitmap> b = TMaskGenerator().Generate({65, 65, 1, 0, 0});
  EXPECT_EQ(Grey(*b, 32, 32), 255);
  for (auto [x, y] : {std::pair{0, 32}, {64, 32}, {32, 0}, {32, 64}})
    EXPECT_EQ(Grey(*b, x, y), 255) << x << "," << y;
  for (auto [x, y] : {std::pair{0, 0}, {64, 0}, {0, 64}, {64, 64}, {5, 5}})
    EXPECT_EQ(Grey(*b, x, y), 0) << x << "," << y;
}

TEST(PresetMask, RoundedRectangleCornersBandsAndMiddle) {
  // 80 x 60: m = 30, corner 50 gives C = 15, feather 40 gives F = 7.
  TRef<TCachedBitmap> b = TMaskGenerator().Generate({80, 60, 0, 40, 50});
  const double cx = 39.5, cy = 29.5, c = 15, f = 7;
  for (int y = 0; y < 60; ++y)
    for (int x = 0; x < 80; ++x) {
      const bool left = (x < c), right = (x > 80 - c - 1), top = (y < c), bottom = (y > 60 - c - 1);
      int expected = 255;
      if ((left || right) && (top || bottom))
        expected = ExpectedGrey(std::hypot(x - (left ? c : 80 - c - 1), y - (top ? c : 60 - c - 1)), c, f);
      else if (top || bottom)
        expected = ExpectedGrey(std::abs(y - cy), cy, f);
      else if (left || right)
        expected = ExpectedGrey(std::abs(x - cx), cx, f);
      ASSERT_EQ(Grey(*b, x, y), expected) << x << "," << y;
    }
  EXPECT_EQ(Grey(*b, 0, 0), 0);
  EXPECT_EQ(Grey(*b, 40, 30), 255);
  EXPECT_EQ(Grey(*b, 40, 0), 0);
  EXPECT_GT(Grey(*b, 40, 3), 0);
}

TEST(PresetMask, UnknownKindIsARoundedRectangleAndCornerZeroIsAllWhite) {
  TRef<TCachedBitmap> zero = TMaskGenerator().Generate(ParsePresetMask(u"40:30:5:50:0"));
  for (int y = 0; y < 30; ++y)
    for (int x = 0; x < 40; ++x)
      ASSERT_EQ(Grey(*zero, x, y), 255) << x << "," << y;
  TRef<TCachedBitmap> five = TMaskGenerator().Generate(ParsePresetMask(u"40:30:5:20:60"));
  TRef<TCachedBitmap> rounded = TMaskGenerator().Generate(ParsePresetMask(u"40:30:0:20:60"));
  EXPECT_EQ(five->Pixels(), rounded->Pixels());
}

TEST(PresetMask, AStopRequestLeavesTheRemainingRowsBlack) {
  int rows = 0;
  TRef<TCachedBitmap> b = TMaskGenerator([&rows] { return ++rows < 3; }).Generate({20, 10, 0, 0, 0});
  EXPECT_EQ(Grey(*b, 10, 2), 255);
  EXPECT_EQ(Grey(*b, 10, 3), 0);
}

TEST(PresetMask, BothShapesMatchTheirGoldens) {
  test::ExpectMatchesGolden(*TMaskGenerator().Generate(ParsePresetMask(u"96:64:1:30:0")),
                            "preset_mask_ellipse");
  test::ExpectMatchesGolden(*TMaskGenerator().Generate(ParsePresetMask(u"96:64:0:60:40")),
                            "preset_mask_rounded_rectangle");
}

} // namespace
} // namespace kiv

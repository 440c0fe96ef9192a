// The copies that repeat a rendered slide's last column and row beyond its edge: how many, how wide,
// never outside the texture, and how copies are routed through the staging target in pieces.

#include "EdgeExtension.h"

#include <gtest/gtest.h>

namespace kiv {
namespace {

// Columns (or rows) written beyond the edge by the steps, in order.
std::vector<int32_t> StepWidths(const std::vector<std::vector<TRectCopy>>& steps, bool columns) {
  std::vector<int32_t> widths;
  for (const auto& step : steps)
    for (const TRectCopy& copy : step) {
      const bool isColumns = copy.from.top == copy.to.top;
      if (isColumns == columns) widths.push_back(columns ? copy.to.Width() : copy.to.Height());
    }
  return widths;
}

TEST(EdgeExtension, RepeatsTheLastColumnAndRowByDoubling) {
  const struct {
    const char* what;
    TSize texture;
    TRect picture;
    int32_t limit;
    std::vector<int32_t> columns, rows;
  } cases[] = {
      {"40 free columns: 31 repeated", {512, 256}, {0, 0, 472, 200}, 32, {1, 2, 4, 8, 16}, {1, 2, 4, 8, 16}},
      {"the picture reaches the right edge", {512, 256}, {0, 0, 512, 250}, 32, {}, {1, 2}},
      {"and the bottom edge too", {512, 256}, {0, 0, 512, 256}, 32, {}, {}},
      {"one free column", {512, 256}, {0, 0, 511, 100}, 32, {1}, {1, 2, 4, 8, 16}},
      {"three free", {512, 256}, {0, 0, 509, 253}, 32, {1, 2}, {1, 2}},
      {"the filters' single column and row", {512, 256}, {10, 20, 300, 200}, 1, {1}, {1}},
      {"a single column at the edge", {512, 256}, {10, 20, 512, 200}, 1, {}, {1}},
      {"a picture reaching past the texture", {256, 256}, {0, 0, 300, 300}, 32, {}, {}},
  };
  for (const auto& c : cases) {
    const auto steps = EdgeExtensionSteps(c.texture, c.picture, c.limit);
    EXPECT_EQ(StepWidths(steps, true), c.columns) << c.what;
    EXPECT_EQ(StepWidths(steps, false), c.rows) << c.what;
    const TRect inside = IntersectRect(c.picture, {0, 0, c.texture.width, c.texture.height});
    int32_t right = inside.right;
    for (const auto& step : steps)
      for (const TRectCopy& copy : step) {
        EXPECT_TRUE(RectInside(copy.from, c.texture)) << c.what;
        EXPECT_TRUE(RectInside(copy.to, c.texture)) << c.what;
        EXPECT_EQ(copy.from.Width(), copy.to.Width());
        EXPECT_EQ(copy.from.Height(), copy.to.Height());
        if (copy.from.top == copy.to.top) {
          // A column step reads from the picture's last column and writes right after what repeats so far.
          EXPECT_EQ(copy.from.left, inside.right - 1) << c.what;
          EXPECT_EQ(copy.to.left, right) << c.what;
          right = copy.to.right;
        } else {
          // Row steps cover the widened width.
          EXPECT_EQ(copy.from.right, right) << c.what;
          EXPECT_EQ(copy.from.top, inside.bottom - 1) << c.what;
        }
      }
  }
}

TEST(EdgeExtension, StagingPlacesTallPiecesLeftToRightAndWidePiecesTopToBottom) {
  TStagingArea area(256);
  TRect place;
  ASSERT_TRUE(area.Place({1, 256}, place));
  EXPECT_EQ(place, (TRect{0, 0, 1, 256}));
  ASSERT_TRUE(area.Place({4, 200}, place)); // narrower than tall: beside the first
  EXPECT_EQ(place, (TRect{1, 0, 5, 200}));
  ASSERT_TRUE(area.Place({100, 8}, place)); // wider than tall: takes the top of what is left
  EXPECT_EQ(place, (TRect{5, 0, 105, 8}));
  ASSERT_TRUE(area.Place({30, 16}, place));
  EXPECT_EQ(place, (TRect{5, 8, 35, 24}));
  EXPECT_FALSE(area.Place({252, 2}, place)); // wider than what is free
  EXPECT_FALSE(area.Place({0, 5}, place));
  area.Reset();
  EXPECT_TRUE(area.Place({256, 256}, place));
  EXPECT_FALSE(area.Place({1, 1}, place));
}

TEST(EdgeExtension, LargeCopiesGoInPiecesOfAtMostTheStagingSide) {
  const TRectCopy copy{{10, 0, 26, 600}, {26, 0, 42, 600}};
  const std::vector<TRectCopy> pieces = SplitCopy(copy, 256);
  ASSERT_EQ(pieces.size(), 3u);
  EXPECT_EQ(pieces[0], (TRectCopy{{10, 0, 26, 256}, {26, 0, 42, 256}}));
  EXPECT_EQ(pieces[1], (TRectCopy{{10, 256, 26, 512}, {26, 256, 42, 512}}));
  EXPECT_EQ(pieces[2], (TRectCopy{{10, 512, 26, 600}, {26, 512, 42, 600}}));
  EXPECT_EQ(SplitCopy({{0, 0, 600, 3}, {0, 3, 600, 6}}, 256).size(), 3u);
  EXPECT_TRUE(SplitCopy({{0, 0, 0, 3}, {0, 3, 0, 6}}, 256).empty());
}

} // namespace
} // namespace kiv

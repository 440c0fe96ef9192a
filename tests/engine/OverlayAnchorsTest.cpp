// The nine anchors of the overlay's pictures, their names and the logo's position numbers.
#include "OverlayAnchors.h"

#include <cmath>

#include <gtest/gtest.h>

namespace kiv {
namespace {

// A 198 x 60 item in an 800 x 600 area inset by 10 percent: 40 and 30 pixels from the edges (10 percent
// of the half area), or centred.
TEST(OverlayAnchors, NineAnchorsPlaceAnItemInsetFromTheirEdge) {
  const struct {
    TAnchor anchor;
    std::u16string_view name;
    int32_t left, top;
  } cases[] = {
      {TAnchor::LeftTop, u"Left-Top", 40, 30},
      {TAnchor::Top, u"Top", 301, 30},
      {TAnchor::RightTop, u"Right-Top", 562, 30},
      {TAnchor::Right, u"Right", 562, 270},
      {TAnchor::RightBottom, u"Right-Bottom", 562, 510},
      {TAnchor::Bottom, u"Bottom", 301, 510},
      {TAnchor::LeftBottom, u"Left-Bottom", 40, 510},
      {TAnchor::Left, u"Left", 40, 270},
      {TAnchor::Center, u"Center", 301, 270},
  };
  for (const auto& c : cases) {
    const TRect placed = PlaceAtAnchor({0, 0, 800, 600}, 198, 60, c.anchor, 10);
    EXPECT_EQ(placed, (TRect{c.left, c.top, c.left + 198, c.top + 60})) << static_cast<int>(c.anchor);
    // The same in an area that does not start at the origin.
    EXPECT_EQ(PlaceAtAnchor({100, 50, 900, 650}, 198, 60, c.anchor, 10),
              (TRect{c.left + 100, c.top + 50, c.left + 298, c.top + 110}));
    EXPECT_EQ(AnchorFromName(c.name), c.anchor);
  }
}

TEST(OverlayAnchors, NamesIgnoreLetterCaseAndUnknownOnesCentre) {
  EXPECT_EQ(AnchorFromName(u"right-BOTTOM"), TAnchor::RightBottom);
  EXPECT_EQ(AnchorFromName(u"left-top"), TAnchor::LeftTop);
  EXPECT_EQ(AnchorFromName(u"Bottom-Left"), TAnchor::Center);
  EXPECT_EQ(AnchorFromName(u""), TAnchor::Center);
}

TEST(OverlayAnchors, LogoPositionNumbers) {
  const TAnchor expected[] = {TAnchor::Left,       TAnchor::Top,     TAnchor::Right,    TAnchor::Bottom,
                              TAnchor::Center,     TAnchor::LeftTop, TAnchor::RightTop, TAnchor::RightBottom,
                              TAnchor::LeftBottom, TAnchor::Center};
  for (int32_t position = 0; position < 10; ++position)
    EXPECT_EQ(AnchorFromLogoPosition(position), expected[position]) << position;
  EXPECT_EQ(AnchorFromLogoPosition(-1), TAnchor::Center);
}

// Halves go to the even neighbour, and insets and sizes from show data cannot overflow the rectangle.
TEST(OverlayAnchors, RoundingAndExtremeInsets) {
  // Centre of a 101-wide area: round(50.5) = 50; item 3 wide: round(1.5) = 2.
  EXPECT_EQ(PlaceAtAnchor({0, 0, 101, 101}, 3, 3, TAnchor::Center, 0).left, 48);
  const TRect far = PlaceAtAnchor({0, 0, 800, 600}, 10, 10, TAnchor::LeftTop, 1e300);
  EXPECT_LT(far.left, far.right);
  const TRect nan = PlaceAtAnchor({0, 0, 800, 600}, 10, 10, TAnchor::Right, std::nan(""));
  EXPECT_EQ(nan.right - nan.left, 10);
}

} // namespace
} // namespace kiv

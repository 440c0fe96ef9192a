// The show viewer: where a show's window goes, and the window's first placement before the engine lays
// slides out.

#include "ShowViewer.h"

#include <gtest/gtest.h>

namespace kiv {
namespace {

const std::vector<TRect> kOneMonitor{{0, 0, 1024, 768}};
const std::vector<TRect> kTwoMonitors{{0, 0, 1920, 1080}, {1920, 0, 3200, 1024}};

TEST(ShowWindowPlacement, FrameSizeAndPlaceFollowTheModeAndTheOptions) {
  struct TCase {
    const char* what;
    int width, height, mode;
    std::vector<TRect> monitors;
    TPlacementOptions options;
    TWindowPlacement expected;
  };
  const TSize extra{10, 30};
  const TCase cases[] = {
      {"a window without a border, centred",
       640,
       480,
       kWindowModeNoBorder,
       kOneMonitor,
       {},
       {0, {192, 144, 832, 624}, {0, 0, 640, 480}, false}},
      {"a window with a fixed frame",
       640,
       480,
       kWindowModeBorder,
       kOneMonitor,
       {},
       {5, {187, 129, 837, 639}, {0, 0, 640, 480}, false}},
      {"a frame the user may resize",
       640,
       480,
       kWindowModeBorder,
       kOneMonitor,
       {true, false, 0},
       {1, {187, 129, 837, 639}, {0, 0, 640, 480}, false}},
      {"too wide: scaled to fit with the frame, aspect kept",
       1280,
       720,
       kWindowModeBorder,
       kOneMonitor,
       {},
       {5, {0, 84, 1024, 684}, {0, 0, 1014, 570}, false}},
      {"full screen fills its monitor",
       640,
       480,
       kWindowModeFullScreen,
       kTwoMonitors,
       {false, false, 2},
       {0, {1920, 0, 3200, 1024}, {0, 0, 1280, 1024}, true}},
      {"a display that does not exist: the primary",
       800,
       600,
       kWindowModeNoBorder,
       kTwoMonitors,
       {false, false, 3},
       {0, {560, 240, 1360, 840}, {0, 0, 800, 600}, false}},
      {"desktop align: centred on all monitors",
       800,
       600,
       kWindowModeNoBorder,
       kTwoMonitors,
       {false, true, 0},
       {0, {1200, 240, 2000, 840}, {0, 0, 800, 600}, false}},
  };
  for (const TCase& c : cases) {
    const TWindowPlacement got = PlaceShowWindow(c.width, c.height, c.mode, c.monitors, c.options, extra);
    EXPECT_EQ(got.frameStyle, c.expected.frameStyle) << c.what;
    EXPECT_EQ(got.window, c.expected.window) << c.what;
    EXPECT_EQ(got.client, c.expected.client) << c.what;
    EXPECT_EQ(got.fullScreen, c.expected.fullScreen) << c.what;
  }
}

} // namespace
} // namespace kiv

// The device layer takes contexts and monitors from a table of platform backends: a fake backend with two
// monitors and counted contexts stands in for a windowed platform; with no displays the configured headless
// monitor is the only adapter.

#include "GLBackends.h"
#include "GLDeviceLayer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <thread>
#include <vector>

namespace kiv {
namespace {

int gContextsMade = 0;

bool Available(std::string*) {
  return true;
}
// Headless contexts from the real EGL backend, counted.
std::unique_ptr<TGLContext> CountedHeadless(TPlatformWindow* window, std::string* whyNot) {
  if (window) return nullptr;
  ++gContextsMade;
  return CreateHeadlessGLContext(whyNot);
}
std::vector<TDisplayInfo> TwoMonitors() {
  return {{{0, 0, 1280, 1024}, 75}, {{1280, 0, 3200, 1080}, 0}};
}
std::vector<TDisplayInfo> NoMonitors() {
  return {};
}

const TGLBackend kTwoMonitors{"two monitors", kGLBackendHeadless, &Available, &CountedHeadless, &TwoMonitors};
const TGLBackend kNoMonitors{"no monitors", kGLBackendHeadless, &Available, &CountedHeadless, &NoMonitors};

class GLBackendTable : public ::testing::Test {
protected:
  void SetUp() override {
    std::string whyNot;
    if (!HeadlessGLAvailable(&whyNot))
      GTEST_SKIP() << "no headless EGL display, GL tests skipped: " << whyNot;
    SetMainThread(std::this_thread::get_id());
    gContextsMade = 0;
  }
};

TEST_F(GLBackendTable, AdaptersAndContextsComeFromTheFirstBackendThatHasThem) {
  TGLEngineOptions options;
  options.backends = {&kNoMonitors, &kTwoMonitors};
  auto engine = TRef<T3DEngineGL>::Make(options);
  EXPECT_EQ(gContextsMade, 1); // the probe, from the first backend that makes headless contexts
  const struct {
    int32_t adapter;
    bool known;
    TRect monitor;
    int32_t refreshRate;
  } cases[] = {{0, true, {0, 0, 1280, 1024}, 75},
               {1, true, {1280, 0, 3200, 1080}, 60}, // an unknown rate counts as 60 Hz
               {2, false, {}, 0}};
  for (const auto& c : cases) {
    TDisplayMode mode;
    ASSERT_EQ(engine->GetDisplayMode(c.adapter, mode), c.known) << c.adapter;
    if (!c.known) continue;
    EXPECT_EQ(mode.monitor, c.monitor) << c.adapter;
    EXPECT_EQ(mode.refreshRate, c.refreshRate) << c.adapter;
  }
  EXPECT_EQ(engine->AdapterForRect({1500, 100, 1600, 200}), 1);
  EXPECT_EQ(engine->GetCap(u"maxtexwidth", 1), engine->GetCap(u"maxtexwidth", 0));

  auto device = MakeOwned<TDrawDevice>();
  device->bounds = {0, 0, 8, 8};
  TDisplayMode mode;
  ASSERT_TRUE(engine->GetDisplayMode(0, mode));
  auto renderer = engine->CreateRenderer(device.get(), mode);
  ASSERT_TRUE(renderer);
  EXPECT_EQ(gContextsMade, 2);
  EXPECT_TRUE(renderer->BeginScene());
  renderer.reset();
  device.reset();
}

TEST_F(GLBackendTable, WithoutDisplaysTheHeadlessMonitorIsTheOnlyAdapter) {
  TGLEngineOptions options;
  options.backends = {&kNoMonitors};
  options.headlessMonitor = {0, 0, 640, 480};
  options.headlessRefreshRate = 50;
  auto engine = TRef<T3DEngineGL>::Make(options);
  TDisplayMode mode;
  ASSERT_TRUE(engine->GetDisplayMode(0, mode));
  EXPECT_EQ(mode.monitor, (TRect{0, 0, 640, 480}));
  EXPECT_EQ(mode.refreshRate, 50);
  EXPECT_FALSE(engine->GetDisplayMode(1, mode));
}

TEST_F(GLBackendTable, NoBackendForTheKindLeavesTheRendererUncreated) {
  TGLEngineOptions options;
  options.backends = {&kNoMonitors};
  auto engine = TRef<T3DEngineGL>::Make(options);
  gContextsMade = 0;
  // A windowed draw device: the table has nothing that draws into windows.
  struct TNoWindow final : TPlatformWindow {
    void SetPlacement(const TScreenRect&) override {}
    void GetDrawableSize(int& width, int& height) const override { width = height = 8; }
    void* NativeHandle() const override { return nullptr; }
  } window;
  auto device = MakeOwned<TDrawDevice>();
  device->window = &window;
  device->bounds = {0, 0, 8, 8};
  std::vector<std::string> lines;
  SetDevLogHook([&lines](std::string_view line) { lines.emplace_back(line); });
  TDisplayMode mode;
  ASSERT_TRUE(engine->GetDisplayMode(0, mode));
  EXPECT_FALSE(engine->CreateRenderer(device.get(), mode));
  SetDevLogHook(nullptr);
  EXPECT_EQ(gContextsMade, 0);
  EXPECT_NE(std::find(lines.begin(), lines.end(), "GL context: no GL backend makes such contexts"),
            lines.end());
  device.reset();
}

// The platform's own table: SDL for windows and displays first, then headless EGL, which knows no monitor.
TEST_F(GLBackendTable, PlatformTableListsSdlThenHeadlessEgl) {
  const TGLBackendTable table = GLBackends();
  ASSERT_EQ(table.size(), 2u);
  EXPECT_STREQ(table[0]->name, "sdl");
  EXPECT_EQ(table[0]->caps, kGLBackendWindows);
  EXPECT_STREQ(table[1]->name, "egl");
  EXPECT_EQ(table[1]->caps, kGLBackendHeadless);
  EXPECT_TRUE(table[1]->available(nullptr));
  EXPECT_TRUE(table[1]->displays().empty());
  EXPECT_TRUE(CreateGLContext(table, nullptr));
}

} // namespace
} // namespace kiv

// The device layer's pure rules: presentation pacing, capability names, shader levels, adapter choice and
// error classification.

#include "DeviceLayer.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

namespace kiv {
namespace {

struct PacingCase {
  int32_t refreshRate;
  uint32_t elapsed;
  uint32_t wait;
};

TEST(PresentPacing, WaitsUntilThreeMillisecondsBeforeTheNextRefresh) {
  const PacingCase cases[] = {
      {60, 5, 8},   // period 16: 11 ms left, minus 3
      {60, 20, 1},  // already late: at least 1 ms
      {60, 0, 13},  // right after a present
      {60, 13, 1},  // 3 ms left, minus 3 is 0: still 1 ms
      {60, 12, 1},  // 4 ms left: 1 ms
      {100, 2, 5},  // period 10
      {0, 5, 8},    // unknown refresh rate paces as 60 Hz instead of dividing by zero
      {2000, 0, 1}, // period 0 never waits longer than 1 ms
  };
  for (const PacingCase& c : cases)
    EXPECT_EQ(PresentWaitMs(c.refreshRate, c.elapsed), c.wait)
        << c.refreshRate << " Hz, " << c.elapsed << " ms";
}

TEST(Capabilities, NamesAreFoundInAnyLetterCase) {
  TCapsWrapper caps;
  caps.pixelShaderVersion = PixelShaderVersion(2, 0);
  caps.maxTextureWidth = 4096;
  caps.maxTextureHeight = 2048;
  caps.maxAnisotropy = 16;
  caps.rasterCaps = kRasterAnisotropy | kRasterMipMapLodBias;
  caps.vendorId = 0x10DE;
  const struct {
    std::u16string name;
    int32_t value;
  } cases[] = {
      {u"MaxAnisotropy", 16},
      {u"maxanisotropy", 16},
      {u"MAXTEXWIDTH", 4096},
      {u"maxTexHeight", 2048},
      {u"PixelShaderVersion", static_cast<int32_t>(PixelShaderVersion(2, 0))},
      {u"Raster", static_cast<int32_t>(kRasterAnisotropy | kRasterMipMapLodBias)},
      {u"vendor", 0x10DE},
      {u"maxtexdepth", 0},
      {u"", 0},
  };
  for (const auto& c : cases)
    EXPECT_EQ(CapValue(caps, c.name), c.value);
}

TEST(Capabilities, ShaderLevelFollowsVendorAndPixelShaderVersion) {
  const struct {
    uint32_t vendor;
    uint32_t version;
    int32_t level;
  } cases[] = {
      {0x8086, PixelShaderVersion(2, 0), 1}, {0x8086, PixelShaderVersion(3, 0), 2},
      {0x8086, PixelShaderVersion(1, 4), 0}, {0x1002, PixelShaderVersion(1, 4), 0},
      {0x1002, PixelShaderVersion(2, 0), 2}, {0, PixelShaderVersion(2, 0), 2},
      {0x10DE, PixelShaderVersion(3, 0), 2}, {0x8086, 0, 0},
  };
  for (const auto& c : cases)
    EXPECT_EQ(ShaderLevelFor(c.vendor, c.version), c.level) << std::hex << c.vendor << " " << c.version;
}

TEST(Adapters, LargestOverlapWinsAndTiesGoToTheLowerNumber) {
  const std::vector<TRect> monitors = {{0, 0, 1920, 1080}, {1920, 0, 3840, 1080}, {-1280, 0, 0, 1024}};
  const struct {
    TRect rect;
    int32_t adapter;
  } cases[] = {
      {{100, 100, 500, 500}, 0},     // inside the first
      {{1800, 0, 2400, 600}, 1},     // spans two, more on the second
      {{1500, 0, 2000, 600}, 0},     // spans two, more on the first
      {{1820, 0, 2020, 600}, 0},     // equal overlap: the lower adapter number
      {{-200, 0, 200, 100}, 0},      // equal overlap with the third: 0 is lower
      {{-1000, 0, -10, 10}, 2},      // only the third
      {{5000, 5000, 5100, 5100}, 0}, // no monitor at all
      {{100, 100, 100, 500}, 0},     // empty rectangle
  };
  for (const auto& c : cases)
    EXPECT_EQ(AdapterForRectIn(monitors, c.rect), c.adapter) << RectText(c.rect);
}

TEST(ErrorClassification, MapsOutcomesToResultsAndLogsFailures) {
  std::vector<std::string> lines;
  SetDevLogHook([&lines](std::string_view line) { lines.emplace_back(line); });
  const struct {
    uint32_t raw;
    uint8_t result;
    uint8_t kindAfter; // starting from 7, the marker for "unchanged"
  } cases[] = {
      {kRawOk, kResultOk, 7},
      {kRawOutOfMemory, kResultOutOfMemory, 7},
      {kRawContextLost, kResultFailed, kErrorKindLost},
      {kRawInvalidOperation, kResultInvalidCall, 7},
      {kRawInvalidValue, kResultInvalidCall, 7},
      {kRawInvalidEnum, kResultInvalidCall, 7},
      {kRawInvalidFramebufferOperation, kResultInvalidCall, 7},
      {kRawFailed, kResultFailed, 7},
      {0x0503 /* stack overflow */, kResultFailed, 7},
  };
  for (const auto& c : cases) {
    lines.clear();
    uint8_t kind = 7;
    EXPECT_EQ(ClassifyResult(c.raw, kind), c.result) << std::hex << c.raw;
    EXPECT_EQ(kind, c.kindAfter) << std::hex << c.raw;
    if (c.raw == kRawOk)
      EXPECT_TRUE(lines.empty());
    else
      EXPECT_EQ(lines, std::vector<std::string>{"Dx Error = " + std::to_string(c.result)});
  }
  SetDevLogHook(nullptr);
}

TEST(Rectangles, IntersectionOfDisjointRectanglesIsEmpty) {
  EXPECT_EQ(IntersectRect({0, 0, 10, 10}, {5, 5, 20, 20}), (TRect{5, 5, 10, 10}));
  EXPECT_TRUE(IntersectRect({0, 0, 10, 10}, {10, 0, 20, 10}).IsEmpty());
}

// Device work posted from a worker while no dispatcher is installed must not run on the worker: GL objects
// made there would belong to the wrong thread. The main thread runs it when it drains the queue.
TEST(MainThreadJobs, WorkPostedFromAWorkerWaitsForTheMainThread) {
  SetMainThread(std::this_thread::get_id());
  std::vector<std::thread::id> ranOn;
  auto record = [&ranOn] { ranOn.push_back(std::this_thread::get_id()); };
  int drainedByWorker = -1;
  std::thread worker([&] {
    PostToMainThread(record);
    drainedByWorker = RunMainThreadJobs();
  });
  worker.join();
  EXPECT_TRUE(ranOn.empty());
  EXPECT_EQ(drainedByWorker, 0);
  EXPECT_EQ(RunMainThreadJobs(), 1);
  EXPECT_EQ(ranOn, std::vector{std::this_thread::get_id()});
  EXPECT_EQ(RunMainThreadJobs(), 0);
  PostToMainThread(record); // on the main thread itself: at once
  EXPECT_EQ(ranOn.size(), 2u);
}

// A dispatcher installed later takes over what waited for the main thread.
TEST(MainThreadJobs, ADispatcherTakesOverWaitingWork) {
  SetMainThread(std::this_thread::get_id());
  struct TCollect final : TMainThreadDispatcher {
    void Post(std::function<void()> job) override { jobs.push_back(std::move(job)); }
    std::vector<std::function<void()>> jobs;
  } dispatcher;
  int runs = 0;
  std::thread([&runs] { PostToMainThread([&runs] { ++runs; }); }).join();
  SetMainThreadDispatcher(&dispatcher);
  SetMainThreadDispatcher(nullptr);
  ASSERT_EQ(dispatcher.jobs.size(), 1u);
  EXPECT_EQ(RunMainThreadJobs(), 0);
  dispatcher.jobs.front()();
  EXPECT_EQ(runs, 1);
}

// Renderers on several threads read the pacing time and the main thread while others write them; a
// thread sanitizer reports any of these that is not atomic.
TEST(MainThreadRole, RoleAndPacingTimeAreReadWhileWritten) {
  const std::thread::id self = std::this_thread::get_id();
  SetMainThread(self);
  std::thread writer([self] {
    for (uint32_t i = 1; i <= 2000; ++i) {
      SetLastPresentTime(i);
      SetMainThread(self);
    }
  });
  uint32_t last = 0;
  bool ordered = true, alwaysMain = true;
  for (int i = 0; i < 2000; ++i) {
    const uint32_t now = LastPresentTime();
    ordered = ordered && now >= last;
    last = now;
    alwaysMain = alwaysMain && IsMainThread();
  }
  writer.join();
  EXPECT_TRUE(ordered);
  EXPECT_TRUE(alwaysMain);
  EXPECT_EQ(LastPresentTime(), 2000u);
}

TEST(MainThreadRole, AClaimNeverTakesTheRoleFromItsOwner) {
  SetMainThread(std::this_thread::get_id());
  bool claimed = true, workerIsMain = true;
  std::thread([&] {
    TMainThreadClaim claim;
    claimed = claim.Claimed();
    workerIsMain = IsMainThread();
  }).join();
  EXPECT_FALSE(claimed);
  EXPECT_FALSE(workerIsMain);
  EXPECT_TRUE(IsMainThread());
}

} // namespace
} // namespace kiv

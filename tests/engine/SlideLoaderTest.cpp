// The slide loader under the virtual host: which slides it keeps prepared as the show time moves, how
// fast it prepares them, and the lists it hands the engine.

#include "EngineTestSupport.h"

#include "QueuedApplication.h"
#include "VirtualHost.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kiv {
namespace {

using namespace kiv::test;
using TPositions = std::vector<int32_t>;

TPositions CachePositions(const TSlideCache& cache) {
  TPositions positions;
  for (const auto& c : cache.Containers())
    positions.push_back(c->Position());
  return positions;
}

struct TLoaderRig {
  explicit TLoaderRig(const std::string& show)
      : engine(MakeOwned<TTestEngine>(host, app)),
        loader(MakeOwned<TKivSlideLoader>(host, *MakeSource(show).release(), 3, true, TSize{64, 48})) {
    loader->SetScreen(false);
    loader->SetTarget(&engine->Events(), kEvSlideList);
    loader->OnPreload = [this](TDrawContainer& c) {
      built.push_back(std::to_string(host.Clock().NowMs()) + ":" + std::to_string(c.Position()));
    };
    engine->onSlideList = [this](const std::vector<TTestEngine::THeld>&) {
      const TPositions list = engine->HeldPositions();
      lists.push_back(list);
      // The list is the cache as it is after the change.
      EXPECT_EQ(list, CachePositions(loader->Cache()));
    };
    engine->Start();
    loader->Start();
  }
  ~TLoaderRig() {
    // The engine's stop procedure, then the engine; the loader goes before the slides it owns are needed.
    engine->StopWorker(*loader);
    engine->Stop();
  }
  // Moves the show time, then lets the host run for ms.
  void PlayAt(double showTime, int64_t ms) {
    loader->ShowClock().SetTime(showTime);
    host.Advance(ms);
  }

  TVirtualHost host;
  TQueuedApplication app;
  TOwned<TTestEngine> engine;
  TOwned<TKivSlideLoader> loader;
  std::vector<std::string> built; // "host ms:position"
  std::vector<TPositions> lists;
};

TEST(SlideLoader, PreparesAheadReleasesBehindOneSlideEveryTenMilliseconds) {
  TProbeObject::Register();
  TLoaderRig rig(ShowText(6, 100));

  // From the time before the show: three slides, one per step of 10 ms.
  rig.PlayAt(0, 45);
  EXPECT_EQ(rig.built, (std::vector<std::string>{"10:-1", "20:0", "30:1"}));
  EXPECT_EQ(rig.lists, (std::vector<TPositions>{{-1}, {-1, 0}, {-1, 0, 1}}));

  // Into slide 2 (position 1): the two behind go before the next one is built, all in one step.
  rig.built.clear();
  rig.lists.clear();
  rig.PlayAt(150, 20);
  EXPECT_EQ(rig.built, (std::vector<std::string>{"50:2", "60:3"}));
  EXPECT_EQ(rig.lists, (std::vector<TPositions>{{0, 1}, {1}, {1, 2}, {1, 2, 3}}));

  // A jump: the last prepared slide stays until the new window has one of its own.
  rig.built.clear();
  rig.lists.clear();
  rig.PlayAt(450, 40);
  EXPECT_EQ(rig.built, (std::vector<std::string>{"70:4", "80:5", "90:6"}));
  EXPECT_EQ(rig.lists, (std::vector<TPositions>{{2, 3}, {3}, {3, 4}, {4}, {4, 5}, {4, 5, 6}}));

  // Nothing moves while the time stands.
  rig.lists.clear();
  rig.PlayAt(450, 100);
  EXPECT_TRUE(rig.lists.empty());
  EXPECT_EQ(rig.engine->HeldPositions(), (TPositions{4, 5, 6}));
  EXPECT_FALSE(rig.engine->heldDeadSlide) << "the engine held a slide after the cache freed it";
  EXPECT_TRUE(rig.engine->HeldAreAlive());
}

TEST(SlideLoader, NeverHandsMoreThanThreeSlidesAndTheEngineOnlyHoldsLiveOnes) {
  TProbeObject::Register();
  TLoaderRig rig(ShowText(5, 40));
  // Times that move forward, jump back, stand and jump far into later passes.
  const double times[] = {0, 30, 60, 90, 10, 130, 400, 400, 170, 1000, 5, 20000, 20000};
  for (double t : times)
    rig.PlayAt(t, 35);
  ASSERT_FALSE(rig.lists.empty());
  for (const TPositions& list : rig.lists) {
    EXPECT_GE(list.size(), 1u);
    EXPECT_LE(list.size(), 3u);
    for (size_t i = 1; i < list.size(); ++i)
      EXPECT_LT(list[i - 1], list[i]) << "in increasing play order";
  }
  EXPECT_FALSE(rig.engine->heldDeadSlide);
  EXPECT_EQ(rig.engine->HeldPositions(), CachePositions(rig.loader->Cache()));
  // 20000 ms ends pass 99 of the 200 ms show, the last slide of it (position 499) included.
  EXPECT_EQ(rig.engine->HeldPositions(), (TPositions{499, 500, 501}));
}

TEST(SlideLoader, WithoutATargetItPreparesSlidesAndSendsNothing) {
  TProbeObject::Register();
  TVirtualHost host;
  TQueuedApplication app;
  auto engine = MakeOwned<TTestEngine>(host, app);
  auto loader =
      MakeOwned<TKivSlideLoader>(host, *MakeSource(ShowText(3, 100)).release(), 2, true, TSize{64, 48});
  loader->SetScreen(false);
  engine->Start();
  loader->Start();
  host.Advance(40);
  EXPECT_EQ(CachePositions(loader->Cache()), (TPositions{-1, 0}));
  EXPECT_EQ(engine->lists, 0);
  engine->StopWorker(*loader);
  EXPECT_FALSE(loader->Running());
}

} // namespace
} // namespace kiv

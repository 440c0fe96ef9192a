// The texture manager's lifetime: multi-textures keep it alive, so a picture's textures may outlive the
// drawer, and they are counted exactly whichever thread makes or drops them.

#include "DrawerTestSupport.h"
#include "TiledTextures.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

namespace kiv {
namespace {

// The loader makes multi-textures while the drawing thread drops the ones it was handed, as when pictures
// are replaced during a show.
TEST(TextureManagerLifetime, MultiTexturesMadeAndDroppedOnTwoThreadsAreCountedExactly) {
  auto screen = MakeOwned<T3DScreen>();
  auto manager = TRef<TTextureManager6>::Make(screen.get());
  constexpr int kCount = 1000000, kBatch = 64;
  std::mutex handOverLock;
  std::vector<TOwned<TMultiTexture6>> handOver; // guarded by handOverLock
  std::atomic<bool> loaderDone{false};
  std::thread loader([&] {
    std::vector<TOwned<TMultiTexture6>> made;
    for (int i = 0; i < kCount; ++i) {
      made.push_back(MakeOwned<TMultiTexture6>(manager));
      if (made.size() == kBatch || i == kCount - 1) {
        std::lock_guard lock(handOverLock);
        for (auto& texture : made)
          handOver.push_back(std::move(texture));
        made.clear();
      }
    }
    loaderDone = true;
  });
  std::vector<TOwned<TMultiTexture6>> dropping;
  for (bool last = false; !last;) {
    last = loaderDone.load();
    {
      std::lock_guard lock(handOverLock);
      dropping.swap(handOver);
    }
    dropping.clear();
  }
  loader.join();
  EXPECT_EQ(manager->liveMultiTextures.load(), 0);
  // Kept ones count too.
  std::vector<TOwned<TMultiTexture6>> kept;
  for (int i = 0; i < 3; ++i)
    kept.push_back(MakeOwned<TMultiTexture6>(manager));
  EXPECT_EQ(manager->liveMultiTextures.load(), 3);
  EXPECT_EQ(manager->RefCount(), 4);
  kept.clear();
  EXPECT_EQ(manager->RefCount(), 1);
}

class TextureManagerWithDrawer : public ::testing::Test {
protected:
  void SetUp() override {
    std::string whyNot;
    if (!HeadlessGLAvailable(&whyNot))
      GTEST_SKIP() << "no headless EGL display, GL tests skipped: " << whyNot;
  }
};

uint32_t Stripes(int x, int) {
  return x % 2 ? 0xFF2080C0u : 0xFFC08020u;
}

TEST_F(TextureManagerWithDrawer, PicturesKeepTheirTexturesAfterTheDrawerAndTheManagerGoesWithTheLast) {
  test::TDrawerRig rig(64, 32);
  // Pictures that the model still holds when the drawer goes.
  TRef<TMemoryImage> first = test::MakeImage(300, 20, Stripes), second = test::MakeImage(40, 40, Stripes);
  TImageParams params;
  params.linearFilter = false;
  const TDevBitmap shot = rig.Frame([&](TDeviceDrawer& d) {
    d.DrawImage(*first, {0, 0, 0}, params, test::kX, test::kY, {0, 0});
  });
  EXPECT_EQ(shot.Pixel32(3, 5), Stripes(3, 5));
  EXPECT_EQ(shot.Pixel32(40, 5), Stripes(40, 5));
  TMultiTexture6* firstTexture = rig.drawer->ImageTexture(*first, params);
  TMultiTexture6* secondTexture = rig.drawer->ImageTexture(*second, params);
  ASSERT_NE(firstTexture, nullptr);
  ASSERT_NE(secondTexture, nullptr);
  ASSERT_EQ(firstTexture->TileCount(), 2u);
  TRef<TTextureManager6> manager = firstTexture->manager; // watches it go
  EXPECT_EQ(manager->RefCount(), 4);

  rig.drawer.reset();
  EXPECT_EQ(manager->RefCount(), 3);
  EXPECT_EQ(manager->Screen(), nullptr);
  // Still usable, without a device: nothing is uploaded, drawn or cut.
  EXPECT_EQ(firstTexture->Width(), 300);
  firstTexture->Upload();
  firstTexture->DrawWhole({0, 0, 0}, {0, 0}, test::kX, test::kY);
  for (const auto& tile : firstTexture->tiles)
    EXPECT_EQ(tile->texture, nullptr);
  secondTexture->Upload();
  EXPECT_EQ(secondTexture->TileCount(), 0u);
  firstTexture->SetBitmap(first->Bitmap(), false, 1, 1, {0, 0, 100, 20});
  firstTexture->Upload();
  EXPECT_EQ(firstTexture->TileCount(), 0u);

  first->RemoveAttachments([](TObj*) { return true; });
  EXPECT_EQ(manager->RefCount(), 2);
  second.reset(); // the picture goes with its textures
  EXPECT_EQ(manager->liveMultiTextures.load(), 0);
  EXPECT_EQ(manager->RefCount(), 1); // ours alone: it goes with it
}

} // namespace
} // namespace kiv

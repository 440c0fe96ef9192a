// The store and the registry: levels, caching, conversion, loader choice.

#include "ImagingTestSupport.h"
#include "Assert.h"
#include "ImageLevels.h"

#include <atomic>
#include <thread>

namespace kiv {
namespace {

TEST(MipLevelFor, LastHalvingThatStillCoversTheTarget) {
  struct Case {
    int w, h, tw, th, level;
  } cases[] = {
      {1000, 1000, 300, 300, 1}, // 500 still covers 300; 250 would not
      {1000, 1000, 1000, 1000, 0}, {1000, 1000, 5000, 5000, 0}, {1000, 1000, 499, 499, 1},
      {1000, 1000, 250, 250, 1},   {1000, 1000, 249, 249, 2},   {1000, 1000, 1, 1, 9},
      {1001, 1001, 501, 501, 0},   {1001, 1001, 500, 500, 1}, // 1001 halves up to 501
      {4000, 3000, 100, 3000, 0},                             // the height already fits
  };
  for (const Case& c : cases)
    EXPECT_EQ(MipLevelFor(c.w, c.h, c.tw, c.th), c.level)
        << c.w << "x" << c.h << " -> " << c.tw << "x" << c.th;
}

TEST(MipLevelFor, ZeroTargetIsAnAssertion) {
  EXPECT_THROW(MipLevelFor(100, 100, 0, 10), EAssertion);
  EXPECT_THROW(MipLevelFor(100, 100, 10, 0), EAssertion);
}

TEST(NormalizeExtension, StarsDotsAndControlCharacters) {
  EXPECT_EQ(NormalizeExtension("*.jpg"), ".jpg");
  EXPECT_EQ(NormalizeExtension("jpg"), ".jpg");
  EXPECT_EQ(NormalizeExtension(".jpg"), ".jpg");
  EXPECT_EQ(NormalizeExtension(" \t*png"), ".png");
}

// A store that counts its decodes and can make levels up to 2.
class TCountingStore : public TBitmapStore {
public:
  TCountingStore() : TBitmapStore(64, 32, TBitmapFormat::Pf24bit) {}
  int MaxLevel() const noexcept override { return 2; }
  std::atomic<int> decodes{0};
  int giveLevel = -1; // -1: the level asked

protected:
  TRef<TBitmap> DecodeLevel(int level, TBitmapFormat, const TImageProgress&, int& realLevel) override {
    ++decodes;
    realLevel = giveLevel < 0 ? level : giveLevel;
    auto b = TRef<TBitmap>::Make(8 >> level, 4 >> level, TBitmapFormat::Pf24bit);
    std::fill(b->Data().begin(), b->Data().end(), uint8_t(10 + level));
    return b;
  }
};

TEST(BitmapStore, DecodesEachLevelOnceAndCachesConversions) {
  auto store = TRef<TCountingStore>::Make();
  TRef<TBitmap> a = store->GetMipLevel(1, TBitmapFormat::None);
  TRef<TBitmap> b = store->GetMipLevel(1, TBitmapFormat::Pf24bit);
  EXPECT_EQ(a.get(), b.get());
  TRef<TBitmap> c = store->GetMipLevel(1, TBitmapFormat::Pf32bit);
  ASSERT_TRUE(c);
  EXPECT_EQ(c->Format(), TBitmapFormat::Pf32bit);
  EXPECT_EQ(c->Pixel32(0, 0), 0xFF0B0B0Bu);
  EXPECT_EQ(store->GetMipLevel(1, TBitmapFormat::Pf32bit).get(), c.get());
  EXPECT_EQ(store->decodes, 1);
}

TEST(BitmapStore, LevelsBeyondTheStoreAreClampedAndReported) {
  auto store = TRef<TCountingStore>::Make();
  int real = -1;
  TRef<TBitmap> b = store->GetMipLevel(7, TBitmapFormat::None, {}, &real);
  EXPECT_EQ(real, 2);
  EXPECT_EQ(b->Width(), 2);
  TImage image(store);
  EXPECT_EQ(image.MipLevelFor(1, 1), 2);
}

TEST(BitmapStore, DecoderGivingAnotherLevelIsAnAssertion) {
  auto store = TRef<TCountingStore>::Make();
  store->giveLevel = 0;
  EXPECT_THROW(store->GetMipLevel(1, TBitmapFormat::None), EAssertion);
}

TEST(BitmapStore, ConcurrentRequestsDecodeOnce) {
  auto store = TRef<TCountingStore>::Make();
  std::vector<std::thread> threads;
  for (int i = 0; i < 4; ++i)
    threads.emplace_back([&] { store->GetMipLevel(0, TBitmapFormat::Pf32bit); });
  for (auto& t : threads)
    t.join();
  EXPECT_EQ(store->decodes, 1);
}

TEST(Image, NeedsAStoreAndSharesIt) {
  EXPECT_THROW(TImage(nullptr), EAssertion);
  auto store = TRef<TCountingStore>::Make();
  {
    TImage image(store);
    EXPECT_EQ(store->RefCount(), 2);
    TOwned<TImage> clone = image.Clone();
    EXPECT_EQ(&clone->Store(), store.get());
    EXPECT_EQ(store->RefCount(), 3);
    image.Extras().push_back(MakeOwned<TObj>());
  }
  EXPECT_EQ(store->RefCount(), 1);
}

std::vector<uint8_t> TinyPng() {
  // 1x1 opaque red, made by hand.
  return {0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A, 0x00, 0x00, 0x00, 0x0D, 0x49, 0x48,
          0x44, 0x52, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x01, 0x08, 0x02, 0x00, 0x00,
          0x00, 0x90, 0x77, 0x53, 0xDE, 0x00, 0x00, 0x00, 0x0C, 0x49, 0x44, 0x41, 0x54, 0x78,
          0x9C, 0x63, 0xF8, 0xCF, 0xC0, 0x00, 0x00, 0x03, 0x01, 0x01, 0x00, 0xC9, 0xFE, 0x92,
          0xEF, 0x00, 0x00, 0x00, 0x00, 0x49, 0x45, 0x4E, 0x44, 0xAE, 0x42, 0x60, 0x82};
}

TEST(LoadImage, PngNamedBmpGoesToThePngLoaderWhenThereIsOne) {
  TMemoryStream stream(TinyPng());
  TOwned<TImage> image = LoadImage(stream, u"picture.bmp");
  ASSERT_TRUE(image);
  EXPECT_EQ(image->GetMipLevel(0, TBitmapFormat::Pf32bit)->Pixel32(0, 0), 0xFFFF0000u);

  TLoaderRegistry noPng;
  RegisterBuiltinLoaders(noPng);
  TMemoryStream again(TinyPng());
  again.SetPosition(0);
  EXPECT_FALSE(LoadImage(again, u"picture.bmp", &noPng));
  EXPECT_EQ(again.GetPosition(), 0);
}

TEST(LoadImage, ExtensionPicksTheLoadersAndNoNameTriesAll) {
  TMemoryStream stream(TinyPng());
  EXPECT_FALSE(LoadImage(stream, u"picture.jpg")); // the JPEG loader alone declines a PNG
  EXPECT_EQ(stream.GetPosition(), 0);
  EXPECT_TRUE(LoadImage(stream, u""));
  stream.SetPosition(0);
  EXPECT_TRUE(LoadImage(stream, u"PICTURE.PNG"));
}

TEST(LoadImage, GarbageYieldsNothingAndOwnedStreamsAreFreed) {
  std::vector<uint8_t> junk(100, 0x42);
  TMemoryStream stream(junk);
  EXPECT_FALSE(LoadImage(stream, u"x.gif"));
  EXPECT_FALSE(LoadImage(TOwned<TStream>(new TMemoryStream(junk)), u"x"));
  EXPECT_FALSE(LoadImageFile("/nonexistent/picture.png"));
}

} // namespace
} // namespace kiv

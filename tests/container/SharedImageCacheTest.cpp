// The shared image cache: one decode per file and source, providers first, rotation lists, error text.

#include "AccessorFixture.h"
#include "ShowBuilder.h"

#include "SharedImageCache.h"
#include "OpenedShow.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace kiv {
namespace {

using namespace kiv::test;

// "WxH" text files decode to pictures whose pixel (x, y) is 16 * y + x.
std::atomic<int> gDecodes{0};
TRef<TCachedBitmap> DecodeSizeText(TStream& stream, const TImageDecodeRequest&) {
  ++gDecodes;
  const std::string text = ReadAll(&stream);
  int w = 0, h = 0;
  if (std::sscanf(text.c_str(), "%dx%d", &w, &h) != 2) return nullptr;
  std::vector<uint32_t> pixels;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      pixels.push_back(static_cast<uint32_t>(16 * y + x));
  return TRef<TCachedBitmap>::Make(w, h, std::move(pixels));
}

class ImageCache : public ::testing::Test {
protected:
  void SetUp() override {
    SetImageDecoder(DecodeSizeText);
    gDecodes = 0;
    const std::string project = "\xEF\xBB\xBF[main]\r\n[RotationState]\r\n;\"r6.txt\"=6\r\n;\"r8.txt\"=8\r\n"
                                ";\"r3.txt\"=3\r\n;\"r6big.txt\"=6\r\n";
    file_ = std::make_unique<TTempFile>(PackedShow({{u"Project.kiv", Bytes(project), 0},
                                                    {u"plain.txt", Bytes("3x2"), 0},
                                                    {u"r6.txt", Bytes("3x2"), 2},
                                                    {u"r8.txt", Bytes("3x2"), 1},
                                                    {u"r3.txt", Bytes("3x2"), 0},
                                                    {u"big.txt", Bytes("40x30"), 0},
                                                    {u"r6big.txt", Bytes("40x20"), 0},
                                                    {u"bad.txt", Bytes("garbage"), 0}},
                                                   TTrailerForm::A),
                                        "images");
    std::string message;
    locator_ = OpenPackedShow(file_->Path(), message);
    ASSERT_TRUE(locator_);
  }
  void TearDown() override {
    const TRef<TImageCache> cache = locator_ ? TRef<TImageCache>::Share(&Images()) : nullptr;
    locator_.reset();
    SetImageDecoder(nullptr);
    SetErrorPictureMaker(nullptr);
    if (cache) {
      EXPECT_EQ(cache->LiveHandles(), 0u);
    }
  }
  TImageCache& Images() const { return locator_->Accessor().Source().Images(); }
  std::size_t LiveImageHandles() const { return Images().LiveHandles(); }

  std::unique_ptr<TTempFile> file_;
  std::unique_ptr<TKivShowLocator> locator_;
};

// Rows of the picture, each pixel as 16 * y + x of the stored picture.
std::vector<std::vector<uint32_t>> Rows(const TCachedBitmap& bitmap) {
  std::vector<std::vector<uint32_t>> rows(static_cast<size_t>(bitmap.Height()));
  for (int y = 0; y < bitmap.Height(); ++y)
    for (int x = 0; x < bitmap.Width(); ++x)
      rows[static_cast<size_t>(y)].push_back(bitmap.Pixel(x, y));
  return rows;
}

// Two shows open at once keep their pictures apart; a picture still held after its show was closed stays
// whole, and letting it go afterwards finds its cache (kept by the handle) still there.
TEST_F(ImageCache, EachSourceHasItsOwnHandlesAndPicturesOutliveTheirShow) {
  std::string message;
  auto other = OpenPackedShow(file_->Path(), message);
  ASSERT_TRUE(other);
  TOwned<TKivImage> mine = LoadSharedImage(locator_->Accessor(), u"big.txt");
  TOwned<TKivImage> theirs = LoadSharedImage(other->Accessor(), u"big.txt");
  ASSERT_TRUE(mine && theirs);
  EXPECT_NE(&mine->Handle(), &theirs->Handle());
  EXPECT_NE(&Images(), &other->Accessor().Source().Images());
  EXPECT_EQ(LiveImageHandles(), 1u);

  const TRef<TImageCache> theirCache = TRef<TImageCache>::Share(&other->Accessor().Source().Images());
  other.reset(); // the show is closed while its picture is shown
  EXPECT_EQ(theirCache->RefCount(), 2); // ours and the handle's
  EXPECT_EQ(theirCache->LiveHandles(), 1u);
  EXPECT_EQ(theirs->Bitmap().Width(), 40);
  EXPECT_EQ(theirs->Bitmap().Pixel(3, 2), 35u);
  TOwned<TKivImage> again = theirs->Clone();
  theirs.reset();
  EXPECT_EQ(again->FullSize(), (TPictureSize{40, 30}));
  again.reset();
  EXPECT_EQ(theirCache->LiveHandles(), 0u);
  EXPECT_EQ(theirCache->RefCount(), 1); // the handle gave its reference back
  EXPECT_EQ(LiveImageHandles(), 1u);    // the other show's picture is untouched
}

TEST_F(ImageCache, RotationListTurnsPicturesAsExifSays) {
  using TRows = std::vector<std::vector<uint32_t>>;
  // Stored: 0 1 2 / 16 17 18.
  const struct {
    std::u16string name;
    TRows rows;
  } cases[] = {
      {u"plain.txt", {{0, 1, 2}, {16, 17, 18}}},
      {u"r3.txt", {{18, 17, 16}, {2, 1, 0}}},
      {u"r6.txt", {{16, 0}, {17, 1}, {18, 2}}}, // a quarter turn clockwise
      {u"r8.txt", {{2, 18}, {1, 17}, {0, 16}}}, // a quarter turn counter-clockwise
  };
  for (const auto& c : cases) {
    TOwned<TKivImage> image = LoadSharedImage(locator_->Accessor(), c.name);
    ASSERT_TRUE(image);
    EXPECT_EQ(Rows(image->Bitmap()), c.rows) << std::string(c.name.begin(), c.name.end());
  }
}

TEST_F(ImageCache, DecodesOncePerSourceAndSharesUntilTheLastImageGoes) {
  TOwned<TKivImage> first = LoadSharedImage(locator_->Accessor(), u"plain.txt");
  TOwned<TKivImage> second = LoadSharedImage(locator_->Accessor(), u"PLAIN.TXT");
  TOwned<TKivImage> clone = first->Clone();
  EXPECT_EQ(gDecodes, 1);
  EXPECT_EQ(&first->Bitmap(), &second->Bitmap());
  EXPECT_EQ(&clone->Handle(), &first->Handle());
  EXPECT_EQ(LiveImageHandles(), 1u);

  std::string message;
  auto other = OpenPackedShow(file_->Path(), message); // another source: its own decode
  TOwned<TKivImage> third = LoadSharedImage(other->Accessor(), u"plain.txt");
  EXPECT_EQ(gDecodes, 2);
  EXPECT_EQ(LiveImageHandles(), 1u); // each source counts its own
  EXPECT_EQ(other->Accessor().Source().Images().LiveHandles(), 1u);
  first.reset();
  second.reset();
  clone.reset();
  third.reset();
  EXPECT_EQ(LiveImageHandles(), 0u);
  EXPECT_EQ(other->Accessor().Source().Images().LiveHandles(), 0u);
  first = LoadSharedImage(locator_->Accessor(), u"plain.txt");
  EXPECT_EQ(gDecodes, 3);
}

TEST_F(ImageCache, ThreadsAskingForOnePictureDecodeItOnce) {
  TOwned<TKivImage> images[4];
  std::thread threads[4];
  for (int t = 0; t < 4; ++t)
    threads[t] = std::thread([&, t] { images[t] = LoadSharedImage(locator_->Accessor(), u"r6.txt"); });
  for (auto& thread : threads)
    thread.join();
  EXPECT_EQ(gDecodes, 1);
  for (const auto& image : images)
    EXPECT_EQ(&image->Bitmap(), &images[0]->Bitmap());
}

TEST_F(ImageCache, ProvidersComeFirstAndLeaveWithTheirHandle) {
  TFileSource& source = locator_->Accessor().Source();
  auto handle = AddImageProvider(source, [](TFileSource&, std::u16string_view name) {
    return name == u"virtual.png" ? TRef<TCachedBitmap>::Make(7, 1) : nullptr;
  });
  TOwned<TKivImage> provided = LoadSharedImage(locator_->Accessor(), u"virtual.png");
  ASSERT_TRUE(provided);
  EXPECT_EQ(provided->Bitmap().Width(), 7);
  EXPECT_EQ(gDecodes, 0);
  provided.reset();
  handle.reset();
  EXPECT_FALSE(LoadSharedImage(locator_->Accessor(), u"virtual.png"));
}

TEST_F(ImageCache, AnErrorPictureIsMadeOnceAndKeptLikeAnyPicture) {
  std::vector<std::vector<std::u16string>> asked;
  SetErrorPictureMaker([&asked](const std::vector<std::u16string>& lines) {
    asked.push_back(lines);
    return TRef<TCachedBitmap>::Make(5, 4, std::vector<uint32_t>(20, 0xFF0000FFu));
  });
  TFileAccessor& accessor = locator_->Accessor();
  TOwned<TKivImage> missing = LoadSharedImage(accessor, u"gone.txt");
  ASSERT_TRUE(missing);
  EXPECT_TRUE(missing->IsErrorPicture());
  EXPECT_EQ(missing->FullSize().width, 5);
  // Any size, any spelling: the same picture, not made again.
  TOwned<TKivImage> again = LoadSharedImage(accessor, u"GONE.TXT", TPictureSize{2, 2});
  ASSERT_TRUE(again);
  EXPECT_EQ(&again->Bitmap(), &missing->Bitmap());
  ASSERT_EQ(asked.size(), 1u);
  EXPECT_EQ(asked[0][0], u"Image not found:");

  TOwned<TKivImage> bad = LoadSharedImage(accessor, u"bad.txt");
  ASSERT_TRUE(bad);
  EXPECT_TRUE(bad->IsErrorPicture());
  TOwned<TKivImage> badAgain = LoadSharedImage(accessor, u"bad.txt");
  EXPECT_EQ(gDecodes, 1); // the file is not decoded again
  ASSERT_EQ(asked.size(), 2u);
  EXPECT_EQ(asked[1][0], u"Image load error:");

  TOwned<TKivImage> plain = LoadSharedImage(accessor, u"plain.txt");
  ASSERT_TRUE(plain);
  EXPECT_FALSE(plain->IsErrorPicture());

  // Without a maker a picture that cannot be had is none.
  missing.reset();
  again.reset();
  SetErrorPictureMaker(nullptr);
  EXPECT_FALSE(LoadSharedImage(accessor, u"gone.txt"));
}

TEST_F(ImageCache, TheFilesOwnAnimationComesWithEveryLevel) {
  SetImageDecoder([](TStream& stream, const TImageDecodeRequest& request) {
    TDecodedImage decoded(DecodeSizeText(stream, request));
    if (request.name == u"big.txt") decoded.frameCount = 4, decoded.frameDelays = "10,20,30,40";
    return decoded;
  });
  TOwned<TKivImage> full = LoadSharedImage(locator_->Accessor(), u"big.txt");
  ASSERT_TRUE(full);
  EXPECT_EQ(full->Animation().frameCount, 4);
  EXPECT_EQ(full->Animation().frameDelays, "10,20,30,40");
  TOwned<TKivImage> small = LoadSharedImage(locator_->Accessor(), u"big.txt", TPictureSize{10, 8});
  ASSERT_TRUE(small);
  EXPECT_GT(small->Level(), 0);
  EXPECT_EQ(small->Animation().frameDelays, "10,20,30,40");
  TOwned<TKivImage> still = LoadSharedImage(locator_->Accessor(), u"plain.txt");
  EXPECT_EQ(still->Animation().frameCount, 1);
  EXPECT_EQ(still->Animation().frameDelays, "");
}

TEST(PictureLevels, LastHalvingStillLargerThanTheWantedSize) {
  const struct {
    TPictureSize full, wanted;
    int level;
    TPictureSize size;
  } cases[] = {
      {{4000, 3000}, {400, 300}, 3, {500, 375}},
      {{1000, 800}, {300, 300}, 1, {500, 400}},   // not level 2: 250 would be smaller than wanted
      {{4000, 3000}, {500, 375}, 2, {1000, 750}}, // a level exactly the wanted size is not taken
      {{300, 200}, {400, 300}, 0, {300, 200}},    // smaller than wanted: full size
      {{4000, 100}, {400, 300}, 0, {4000, 100}},  // larger one way only
      {{4000, 3000}, {0, 300}, 0, {4000, 3000}},  // no wanted size
      {{3, 3}, {1, 1}, 1, {2, 2}},                // odd sides round up
  };
  for (const auto& c : cases) {
    const int level = PictureLevelFor(c.full, c.wanted);
    EXPECT_EQ(level, c.level) << c.full.width << "x" << c.full.height << " for " << c.wanted.width;
    EXPECT_EQ(PictureLevelSize(c.full, level), c.size) << c.full.width << "x" << c.full.height;
  }
}

TEST(PictureLevels, HalvingWeighsColoursByAlpha) {
  // Opaque red, transparent green, opaque white / opaque red, opaque red, opaque black.
  const auto bitmap = TRef<TCachedBitmap>::Make(
      3, 2, std::vector<uint32_t>{0xFFFF0000, 0x0000FF00, 0xFFFFFFFF, 0xFFFF0000, 0xFFFF0000, 0xFF000000});
  TRef<TCachedBitmap> half = HalveCachedBitmap(*bitmap);
  ASSERT_EQ(half->Width(), 2);
  ASSERT_EQ(half->Height(), 1);
  EXPECT_EQ(half->Pixel(0, 0), 0xBFFF0000u); // the transparent green adds no green
  EXPECT_EQ(half->Pixel(1, 0), 0xFF808080u); // the odd column: its own two pixels
}

TEST_F(ImageCache, EachLevelIsKeptOnceAndCoarserOnesAreHalvedFromAFinerOne) {
  TFileAccessor& accessor = locator_->Accessor();
  TOwned<TKivImage> small = LoadSharedImage(accessor, u"big.txt", TPictureSize{4, 3});
  ASSERT_TRUE(small);
  EXPECT_EQ(small->Level(), 3);
  EXPECT_EQ(small->Bitmap().Width(), 5);
  EXPECT_EQ(small->Bitmap().Height(), 4);
  EXPECT_EQ(small->FullSize(), (TPictureSize{40, 30}));
  TOwned<TKivImage> same = LoadSharedImage(accessor, u"BIG.TXT", TPictureSize{4, 3});
  EXPECT_EQ(&same->Bitmap(), &small->Bitmap());
  EXPECT_EQ(gDecodes, 1);
  EXPECT_EQ(small->Handle().CachedLevels(), 1);

  // A finer level is decoded; a level between the two is halved from the finer one.
  TOwned<TKivImage> full = LoadSharedImage(accessor, u"big.txt", TPictureSize{20, 15});
  EXPECT_EQ(full->Level(), 0);
  EXPECT_EQ(full->Bitmap().Width(), 40);
  EXPECT_EQ(gDecodes, 2);
  TOwned<TKivImage> half = LoadSharedImage(accessor, u"big.txt", TPictureSize{10, 8});
  EXPECT_EQ(half->Level(), 1);
  EXPECT_EQ(half->Bitmap().Width(), 20);
  EXPECT_EQ(half->Bitmap().Height(), 15);
  EXPECT_EQ(half->Bitmap().Pixel(1, 1), (34u + 35 + 50 + 51 + 2) / 4); // stored pixels (2..3, 2..3)
  EXPECT_EQ(gDecodes, 2);
  EXPECT_EQ(&half->Handle(), &small->Handle());
  EXPECT_EQ(small->Handle().CachedLevels(), 3);
  EXPECT_EQ(LiveImageHandles(), 1u);

  // A level goes with its last view; the file stays while other levels are used.
  small.reset();
  same.reset();
  EXPECT_EQ(full->Handle().CachedLevels(), 2);
  EXPECT_EQ(LiveImageHandles(), 1u);

  // A picture smaller than wanted comes at full size; no size at all is full size too.
  TOwned<TKivImage> plain = LoadSharedImage(accessor, u"plain.txt", TPictureSize{400, 300});
  EXPECT_EQ(plain->Level(), 0);
  EXPECT_EQ(plain->Bitmap().Width(), 3);
  EXPECT_EQ(LoadSharedImage(accessor, u"big.txt")->Level(), 0);
}

// "WxH" pictures decoded as a scaling decoder would: at most one halving, whatever is asked for.
std::vector<int> gAsked;
TDecodedImage DecodeScaledSizeText(TStream& stream, const TImageDecodeRequest& request) {
  const std::string text = ReadAll(&stream);
  int w = 0, h = 0;
  if (std::sscanf(text.c_str(), "%dx%d", &w, &h) != 2) return {};
  const int asked = request.chooseLevel ? request.chooseLevel(w, h) : 0;
  gAsked.push_back(asked);
  const int made = std::min(asked, 1);
  const TPictureSize size = PictureLevelSize({w, h}, made);
  TDecodedImage decoded(TRef<TCachedBitmap>::Make(
      size.width, size.height, std::vector<uint32_t>(static_cast<size_t>(size.width) * size.height)));
  decoded.level = made;
  decoded.storedWidth = w;
  decoded.storedHeight = h;
  return decoded;
}

TEST_F(ImageCache, DecodersAreAskedForTheLevelOfTheShownSizeAndTheRestIsHalved) {
  SetImageDecoder(DecodeScaledSizeText);
  gAsked.clear();
  TOwned<TKivImage> image = LoadSharedImage(locator_->Accessor(), u"big.txt", TPictureSize{4, 3});
  ASSERT_TRUE(image);
  EXPECT_EQ(image->Level(), 3);
  EXPECT_EQ(image->Bitmap().Width(), 5);
  EXPECT_EQ(image->Bitmap().Height(), 4);

  // Stored 40 x 20 on its side: shown 20 x 40, and the level is chosen for the shown size.
  TOwned<TKivImage> turned = LoadSharedImage(locator_->Accessor(), u"r6big.txt", TPictureSize{4, 9});
  ASSERT_TRUE(turned);
  EXPECT_EQ(turned->FullSize(), (TPictureSize{20, 40}));
  EXPECT_EQ(turned->Level(), 2);
  EXPECT_EQ(turned->Bitmap().Width(), 5);
  EXPECT_EQ(turned->Bitmap().Height(), 10);
  EXPECT_EQ(gAsked, (std::vector<int>{3, 2}));

  // The wanted size may depend on the full size; it is asked once the file's size is known.
  // The wanted size may depend on the full size; it is asked once per load, when the file's size is
  // known (here from the level held, then by a decode of the finer level it needs).
  TPictureSize seen;
  int calls = 0;
  const auto eighth = [&](TPictureSize full) {
    seen = full;
    ++calls;
    return TPictureSize{full.width / 8, full.height / 8};
  };
  TOwned<TKivImage> asked = LoadSharedImage(locator_->Accessor(), u"big.txt", eighth);
  EXPECT_EQ(seen, (TPictureSize{40, 30}));
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(asked->Level(), 2);
  EXPECT_EQ(asked->Bitmap().Width(), 10);
  EXPECT_EQ(gAsked.back(), 2);
}

TEST_F(ImageCache, MissingOrUndecodablePicturesGiveNoImage) {
  EXPECT_FALSE(LoadSharedImage(locator_->Accessor(), u"missing.jpg"));
  EXPECT_FALSE(LoadSharedImage(locator_->Accessor(), u"bad.txt"));
  EXPECT_EQ(ErrorPictureLines(TMediaKind::Image, false, u"C:\\show\\pics\\a.jpg"),
            (std::vector<std::u16string>{u"Image not found:", u"a.jpg", u"Path:", u"C:\\show\\pics"}));
  EXPECT_EQ(ErrorPictureLines(TMediaKind::Video, true, u"clip.avi")[0], u"Video load error:");
}

} // namespace
} // namespace kiv

// The shared image cache: one decode per file and source, providers first, rotation lists, error text.

#include "AccessorFixture.h"
#include "ShowBuilder.h"

#include "ryKivImageCache.h"
#include "ryKivShowLocator.h"

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
                                ";\"r3.txt\"=3\r\n";
    file_ = std::make_unique<TTempFile>(PackedShow({{u"Project.kiv", Bytes(project), 0},
                                                    {u"plain.txt", Bytes("3x2"), 0},
                                                    {u"r6.txt", Bytes("3x2"), 2},
                                                    {u"r8.txt", Bytes("3x2"), 1},
                                                    {u"r3.txt", Bytes("3x2"), 0},
                                                    {u"bad.txt", Bytes("garbage"), 0}},
                                                   TTrailerForm::A),
                                        "images");
    std::string message;
    locator_ = OpenPackedShow(file_->Path(), message);
    ASSERT_TRUE(locator_);
  }
  void TearDown() override {
    locator_.reset();
    SetImageDecoder(nullptr);
    EXPECT_EQ(LiveImageHandles(), 0u);
  }

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
  EXPECT_EQ(LiveImageHandles(), 2u);
  first.reset();
  second.reset();
  clone.reset();
  third.reset();
  EXPECT_EQ(LiveImageHandles(), 0u);
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

TEST_F(ImageCache, MissingOrUndecodablePicturesGiveNoImage) {
  EXPECT_FALSE(LoadSharedImage(locator_->Accessor(), u"missing.jpg"));
  EXPECT_FALSE(LoadSharedImage(locator_->Accessor(), u"bad.txt"));
  EXPECT_EQ(ErrorPictureLines(TMediaKind::Image, false, u"C:\\show\\pics\\a.jpg"),
            (std::vector<std::u16string>{u"Image not found:", u"a.jpg", u"Path:", u"C:\\show\\pics"}));
  EXPECT_EQ(ErrorPictureLines(TMediaKind::Video, true, u"clip.avi")[0], u"Video load error:");
}

} // namespace
} // namespace kiv

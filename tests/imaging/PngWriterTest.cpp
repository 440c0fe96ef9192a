// The PNG writer: what it writes reads back through our own PNG reader, with the alpha kept or dropped,
// and a write that fails leaves nothing under the name asked for nor beside it.

#include "ImagingTestSupport.h"
#include "ImageFileIO.h"
#include "PngLoader.h"

#include <filesystem>
#include <fstream>
#include <unistd.h>

namespace kiv {
namespace {

namespace fs = std::filesystem;

class PngWriter : public ::testing::Test {
protected:
  void SetUp() override {
    folder_ = fs::temp_directory_path() / ("kiv_png_writer_" + std::to_string(::getpid()));
    fs::remove_all(folder_);
    fs::create_directories(folder_);
  }
  void TearDown() override { fs::remove_all(folder_); }
  std::vector<std::string> Entries() const {
    std::vector<std::string> entries;
    for (const auto& entry : fs::directory_iterator(folder_))
      entries.push_back(entry.path().filename().string());
    return entries;
  }

  fs::path folder_;
};

// 3 x 2 pixels in rows of 4 words: the fourth word of each row is padding the writer must skip.
constexpr int kWidth = 3, kHeight = 2, kStride = 4;
constexpr uint32_t kPixels[kHeight * kStride] = {0xFFFF0000, 0x8000FF00, 0x000000FF, 0xDEADBEEF,
                                                 0x40123456, 0xFFFFFFFF, 0x01FEDCBA, 0xDEADBEEF};

TEST_F(PngWriter, ReadsBackWithTheAlphaKeptOrDropped) {
  for (const bool withAlpha : {true, false}) {
    SCOPED_TRACE(withAlpha ? "RGBA" : "RGB");
    const std::string path = (folder_ / "out.png").string();
    std::string error;
    ASSERT_TRUE(WritePngFile(path, kWidth, kHeight, kPixels, kStride, withAlpha, &error)) << error;
    const TRef<TBitmap> read = ReadPng(test::FileBytes(path));
    ASSERT_TRUE(read);
    ASSERT_EQ(read->Width(), kWidth);
    ASSERT_EQ(read->Height(), kHeight);
    ASSERT_EQ(read->Format(), withAlpha ? TBitmapFormat::Pf32bit : TBitmapFormat::Pf24bit);
    for (int y = 0; y < kHeight; ++y)
      for (int x = 0; x < kWidth; ++x) {
        const uint32_t want = kPixels[y * kStride + x];
        const uint8_t* got = read->Row(y) + x * (withAlpha ? 4 : 3);
        uint32_t argb = uint32_t(got[2]) << 16 | uint32_t(got[1]) << 8 | got[0];
        if (withAlpha) argb |= uint32_t(got[3]) << 24;
        EXPECT_EQ(argb, withAlpha ? want : want & 0xFFFFFF) << x << "," << y;
      }
    // Only the picture is left in the folder, written over the one before.
    EXPECT_EQ(Entries(), std::vector<std::string>{"out.png"});
  }
}

TEST_F(PngWriter, AFailedWriteLeavesNoFile) {
  fs::create_directories(folder_ / "taken.png");
  const struct {
    const char* what;
    fs::path path;
    int width;
  } cases[] = {
      {"a folder that does not exist", folder_ / "none" / "out.png", kWidth},
      {"a name a folder holds", folder_ / "taken.png", kWidth},
      {"an empty picture", folder_ / "empty.png", 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::string error;
    EXPECT_FALSE(WritePngFile(c.path.string(), c.width, kHeight, kPixels, kStride, true, &error));
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(Entries(), std::vector<std::string>{"taken.png"}) << "a temporary file was left behind";
    EXPECT_TRUE(fs::is_directory(folder_ / "taken.png"));
  }
}

TEST_F(PngWriter, AFailedWriteKeepsTheEarlierPicture) {
  const std::string path = (folder_ / "keep.png").string();
  ASSERT_TRUE(WritePngFile(path, kWidth, kHeight, kPixels, kStride, true));
  const std::vector<uint8_t> before = test::FileBytes(path);
  // Wider than libpng writes by default: it fails once the file has been started.
  const int wide = 1'000'001;
  const std::vector<uint32_t> row(wide, 0xFF808080);
  std::string error;
  EXPECT_FALSE(WritePngFile(path, wide, 1, row.data(), wide, true, &error));
  EXPECT_NE(error.find("PNG: "), std::string::npos) << error;
  EXPECT_EQ(test::FileBytes(path), before);
  EXPECT_EQ(Entries(), std::vector<std::string>{"keep.png"});
}

} // namespace
} // namespace kiv

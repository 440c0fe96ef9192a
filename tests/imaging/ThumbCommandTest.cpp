// kivpack thumb, driven as a person would: a picture file or a stored picture of a show, to a PNG.

#include "ImageFileIO.h"
#include "ImagingTestSupport.h"
#include "PngLoader.h"
#include "TestEnvironment.h"

#include <array>
#include <filesystem>
#include <sys/wait.h>

namespace kiv {
namespace {

namespace fs = std::filesystem;

int RunKivpack(const std::string& args, std::string* errors = nullptr) {
  std::vector<uint8_t> out;
  const std::string errFile = (fs::temp_directory_path() / "thumb_test_stderr.txt").string();
  const int rc = std::system((std::string(KIVPACK_PATH) + " " + args + " 2>" + errFile).c_str());
  if (errors) {
    const std::vector<uint8_t> e = test::FileBytes(errFile);
    errors->assign(e.begin(), e.end());
  }
  return WEXITSTATUS(rc);
}

class ThumbCommand : public ::testing::Test {
protected:
  void SetUp() override {
    dir_ = kivtest::FreshTempDir("thumb_test");
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
  }
  fs::path dir_;
};

TEST_F(ThumbCommand, PictureFileAtALevel) {
  const std::string out = (dir_ / "tower.png").string();
  ASSERT_EQ(
      RunKivpack("thumb '" + test::MediaDir() + "/images/jpeg/misc/tower.jpg' -o '" + out + "' --level 2"),
      0);
  TRef<TBitmap> b = ReadPng(test::FileBytes(out));
  ASSERT_TRUE(b);
  EXPECT_EQ(b->Format(), TBitmapFormat::Pf32bit); // always RGBA
  EXPECT_EQ(b->Width(), 128);                     // 512 x 512 at a quarter
  EXPECT_EQ(b->Height(), 128);
}

TEST_F(ThumbCommand, StoredPictureOfAShowAndAnimatedStrip) {
  // A project folder with one GIF, packed by the tool itself.
  fs::create_directories(dir_ / "project");
  fs::copy_file(test::MediaDir() + "/images/gif/gdk-pixbuf-gif-test-suite/dispose-keep.gif",
                dir_ / "project" / "anim.gif");
  std::vector<uint8_t> project = {'[', 'm', 'a', 'i', 'n', ']', '\r', '\n'};
  TFileStream(dir_ / "project" / "Project.kiv", TFileMode::Create).WriteBuffer(project.data(), 8);
  const std::string show = (dir_ / "show.kvs").string();
  ASSERT_EQ(RunKivpack("create '" + (dir_ / "project").string() + "' -o '" + show + "'"), 0);
  const std::string out = (dir_ / "anim.png").string();
  ASSERT_EQ(RunKivpack("thumb '" + show + "' anim.gif -o '" + out + "'"), 0);
  TRef<TBitmap> b = ReadPng(test::FileBytes(out));
  ASSERT_TRUE(b);
  EXPECT_EQ(b->Width(), 8); // four 2x2 frames side by side
  EXPECT_EQ(b->Height(), 2);
}

TEST_F(ThumbCommand, StoredPictureTurnedByTheShowsRotationMap) {
  // 150 x 103 pictures; the map turns one a quarter (6) and one half (3), the third is not listed.
  fs::create_directories(dir_ / "project" / "pics");
  const std::string source = test::MediaDir() + "/images/jpeg/go-stdlib/video-001.jpeg";
  for (const char* name : {"quarter.jpg", "half.jpg", "plain.jpg"})
    fs::copy_file(source, dir_ / "project" / "pics" / name);
  const std::string project = "[main]\r\n\r\n[RotationState]\r\n;\"pics\\Quarter.jpg\"=6\r\n"
                              ";\"pics\\half.jpg\"=3\r\n";
  TFileStream(dir_ / "project" / "Project.kiv", TFileMode::Create)
      .WriteBuffer(project.data(), static_cast<int64_t>(project.size()));
  const std::string show = (dir_ / "show.kvs").string();
  ASSERT_EQ(RunKivpack("create '" + (dir_ / "project").string() + "' -o '" + show + "'"), 0);

  auto thumb = [&](const char* name) {
    const std::string out = (dir_ / "out.png").string();
    fs::remove(out);
    EXPECT_EQ(RunKivpack("thumb '" + show + "' '" + name + "' -o '" + out + "'"), 0) << name;
    return ReadPng(test::FileBytes(out));
  };
  TRef<TBitmap> plain = thumb("pics\\plain.jpg");
  TRef<TBitmap> quarter = thumb("pics\\quarter.jpg");
  TRef<TBitmap> half = thumb("pics\\half.jpg");
  ASSERT_TRUE(plain && quarter && half);
  EXPECT_EQ(plain->Width(), 150);
  EXPECT_EQ(plain->Height(), 103);
  EXPECT_EQ(quarter->Width(), 103); // sides exchanged
  EXPECT_EQ(quarter->Height(), 150);
  ASSERT_EQ(half->Width(), 150);
  ASSERT_EQ(half->Height(), 103);
  // Half a turn: the first pixel is the plain picture's last.
  auto pixel = [](const TBitmap& b, int x, int y) {
    const uint8_t* p = b.Row(y) + 4 * x;
    return std::array<int, 3>{p[0], p[1], p[2]};
  };
  const auto a = pixel(*half, 0, 0), b = pixel(*plain, 149, 102);
  for (int c = 0; c < 3; ++c)
    EXPECT_NEAR(a[c], b[c], 1);
}

TEST_F(ThumbCommand, UndecodablePictureExitsTwoWithAMessage) {
  std::string errors;
  EXPECT_EQ(RunKivpack("thumb '" + test::MediaDir() + "/images/png/go-misc/invalid-zlib.png' -o '" +
                           (dir_ / "x.png").string() + "'",
                       &errors),
            2);
  EXPECT_NE(errors.find("cannot decode picture"), std::string::npos) << errors;
  EXPECT_FALSE(fs::exists(dir_ / "x.png"));
  EXPECT_EQ(RunKivpack("thumb onlyone"), 1); // no -o
}

TEST_F(ThumbCommand, GeneratedPicturesOfAShow) {
  // A theme of one 30 x 20 picture and a 32 x 32 picture with alpha.
  fs::create_directories(dir_ / "project" / "buttons" / "plain");
  fs::copy_file(test::MediaDir() + "/images/png/libpng-pngsuite/basn6a08.png",
                dir_ / "project" / "alpha.png");
  const std::string theme =
      "[NormalState]\r\nLeftTop=b.png,0,0,8,6\r\nTop=b.png,8,0,22,6\r\n"
      "RightTop=b.png,22,0,30,6\r\nRight=b.png,22,6,30,14\r\nRightBottom=b.png,22,14,30,20\r\n"
      "Bottom=b.png,8,14,22,20\r\nLeftBottom=b.png,0,14,8,20\r\nLeft=b.png,0,6,8,14\r\n"
      "Center=b.png,8,6,22,14\r\n";
  TFileStream(dir_ / "project" / "buttons" / "plain" / "theme.ini", TFileMode::Create)
      .WriteBuffer(theme.data(), static_cast<int64_t>(theme.size()));
  const std::string project = "[main]\r\n";
  TFileStream(dir_ / "project" / "Project.kiv", TFileMode::Create)
      .WriteBuffer(project.data(), static_cast<int64_t>(project.size()));
  const std::string show = (dir_ / "show.kvs").string();
  const std::string out = (dir_ / "out.png").string();
  auto thumb = [&](const std::string& name) {
    fs::remove(out);
    std::string errors;
    EXPECT_EQ(RunKivpack("thumb '" + show + "' '" + name + "' -o '" + out + "'", &errors), 0)
        << name << ": " << errors;
    return ReadPng(test::FileBytes(out));
  };

  // A 30 x 20 picture cut from the 32 x 32 one serves as the theme's picture.
  {
    TRef<TBitmap> big =
        ReadPng(test::FileBytes(test::MediaDir() + "/images/png/libpng-pngsuite/basn2c08.png"));
    ASSERT_TRUE(big);
    std::vector<uint32_t> pixels(30 * 20);
    for (int y = 0; y < 20; ++y)
      for (int x = 0; x < 30; ++x)
        pixels[size_t(y) * 30 + x] = ConvertBitmap(*big, TBitmapFormat::Pf32bit)->Pixel32(x, y);
    ASSERT_TRUE(WritePngFile((dir_ / "project" / "buttons" / "plain" / "b.png").string(), 30, 20,
                             pixels.data(), 30, true));
  }
  ASSERT_EQ(RunKivpack("create '" + (dir_ / "project").string() + "' -o '" + show + "'"), 0);

  TRef<TBitmap> mask = thumb("PresetedMask:64:48:1:20:0");
  ASSERT_TRUE(mask);
  EXPECT_EQ(mask->Width(), 64);
  EXPECT_EQ(mask->Height(), 48);
  EXPECT_EQ(mask->Pixel32(32, 24), 0xFFFFFFFFu);
  EXPECT_EQ(mask->Pixel32(0, 0), 0xFF000000u);

  TRef<TBitmap> button = thumb("Button: buttons\\plain:0:100:0:0:0");
  ASSERT_TRUE(button);
  EXPECT_EQ(button->Width(), 100);
  EXPECT_EQ(button->Height(), 20);

  // The picture's alpha shape, blurred: 32 x 32 plus a border of ceil(2.5 * (2 + 1)) = 8 on each side.
  TRef<TBitmap> shadow = thumb("Shadow: 0:0:32:32:0:0:0:2:0:8:255:255:0:0:0:100.00:0:alpha.png");
  ASSERT_TRUE(shadow);
  EXPECT_EQ(shadow->Width(), 48);
  EXPECT_EQ(shadow->Height(), 48);
  EXPECT_EQ(shadow->Pixel32(0, 0) >> 24, 0u);
  EXPECT_EQ(shadow->Pixel32(24, 24) & 0xFFFFFF, 0u);

  TRef<TBitmap> box = thumb("Shadow: 0:0:40:20:0:0:0:4:0:8:255:255:0:0:255:50.00:0:N\\A");
  ASSERT_TRUE(box);
  EXPECT_EQ(box->Width(), 40 + 2 * 13);
  EXPECT_EQ(box->Pixel32(33, 23) & 0xFFFFFF, 0xFF0000u);
  EXPECT_NEAR(double(box->Pixel32(33, 23) >> 24), 127, 12);

  std::string errors;
  EXPECT_EQ(
      RunKivpack("thumb '" + show + "' 'Button: buttons\\missing:0:100:0:0:0' -o '" + out + "'", &errors), 2);
  EXPECT_NE(errors.find("cannot make"), std::string::npos) << errors;
}

} // namespace
} // namespace kiv

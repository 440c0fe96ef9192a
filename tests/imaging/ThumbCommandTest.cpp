// kivpack thumb, driven as a person would: a picture file or a stored picture of a show, to a PNG.

#include "ImagingTestSupport.h"
#include "TestEnvironment.h"
#include "PngLoader.h"

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

} // namespace
} // namespace kiv

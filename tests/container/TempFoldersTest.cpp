// Temporary folders: private, uniquely named, deleted without following links, and a base that takes no
// folders ends the search.

#include "AccessorFixture.h"

#include "TempFolders.h"

#include <gtest/gtest.h>

#include <regex>
#include <sys/stat.h>

namespace kiv {
namespace {

using namespace kiv::test;
namespace fs = std::filesystem;

TEST(TempManager, MakesPrivateGuidFoldersAndDeletesThemWithoutFollowingLinks) {
  TScratchFolder base("tempbase");
  TScratchFolder outside("outside");
  const std::string keep = outside.Write("keep.txt", "keep");
  std::string a, b;
  {
    TTempManager manager(base.Path());
    a = manager.NewFolder(true);
    b = manager.NewFolder(false);
    EXPECT_NE(a, b + "/");
    EXPECT_TRUE(std::regex_match(
        fs::path(b).filename().string(),
        std::regex(R"(\[[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}\])")));
    EXPECT_EQ(a.back(), '/');
    struct stat info;
    ASSERT_EQ(::stat(b.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);
    fs::create_directories(a + "sub");
    std::ofstream(a + "sub/file.dll") << "x";
    fs::create_directory_symlink(outside.Path(), a + "link");
  }
  EXPECT_FALSE(fs::exists(a));
  EXPECT_FALSE(fs::exists(b));
  EXPECT_TRUE(fs::exists(keep));
}

TEST(TempManager, GivesUpOnABaseThatTakesNoFolders) {
  TScratchFolder base("badbase");
  const std::string file = base.Write("not-a-folder", "x");
  TTempManager missing(base.Path() + "missing");
  TTempManager notFolder(file);
  EXPECT_THROW(missing.NewFolder(true), ETempFolderError);
  EXPECT_THROW(notFolder.NewFolder(true), ETempFolderError);
}

TEST(TempManager, ProcessWideFoldersAreNewAndLieUnderTheBase) {
  const std::string folder = NewTempFolder(true);
  EXPECT_TRUE(fs::is_directory(folder));
  EXPECT_TRUE(fs::is_empty(folder));
  EXPECT_EQ(fs::path(folder).parent_path().parent_path(), fs::path(ChooseTempBase()));
}

} // namespace
} // namespace kiv

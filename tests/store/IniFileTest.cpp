// Loading and saving documents through streams and files.

#include "StoreTestUtil.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace kiv;
using namespace kivtest;
namespace fs = std::filesystem;

namespace {

// Takes at most `limit` bytes in all, then refuses.
class TShortStream : public TMemoryStream {
public:
  explicit TShortStream(int64_t limit) : limit_(limit) {}
  int64_t Write(const void* buffer, int64_t count) override {
    int64_t n = std::min(count, limit_);
    limit_ -= n;
    return TMemoryStream::Write(buffer, n);
  }

private:
  int64_t limit_;
};

std::vector<std::string> FolderEntries(const fs::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder))
    names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

} // namespace

TEST(IniFile, UnchangedDocumentRoundTripsEveryByte) {
  std::string original = ReadFileBytes(Fixture("roundtrip.ini"));
  TIniFile doc;
  ASSERT_TRUE(doc.LoadFromFile(Fixture("roundtrip.ini")));
  EXPECT_EQ(doc.FileName(), Fixture("roundtrip.ini"));
  EXPECT_TRUE(doc.Loaded());
  EXPECT_EQ(SaveBytes(doc), original);
}

TEST(IniFile, InvalidUtf8AbortsTheLoadKeepingWhatWasParsed) {
  TIniFile doc;
  EXPECT_FALSE(doc.LoadFromFile(Fixture("invalid_utf8.ini")));
  EXPECT_FALSE(doc.Loaded());
  EXPECT_EQ(doc.FileName(), "");
  ASSERT_TRUE(doc.SectionExists(u"A"));
  EXPECT_EQ(doc.FindSection(u"A")->FindIdent(u"key"), nullptr);
}

TEST(IniFile, LoadClearsTheDocumentAndFailsOnMissingFiles) {
  TIniFile doc;
  doc.WriteString(u"old", u"k", u"v");
  EXPECT_FALSE(doc.LoadFromFile("/nonexistent/kiv/file.ini"));
  EXPECT_TRUE(doc.IsEmpty());
  ASSERT_TRUE(LoadUtf8(doc, "[new]\n"));
  EXPECT_FALSE(doc.SectionExists(u"old"));
  EXPECT_TRUE(doc.SectionExists(u"new"));
}

TEST(IniFile, StreamTakingFewerBytesFailsTheSave) {
  TIniFile doc;
  for (int i = 0; i < 5000; ++i)
    doc.WriteString(u"s", U("key" + std::to_string(i)), u"some value");
  for (int64_t limit : {0, 2, 100, 40000}) {
    TShortStream stream(limit);
    EXPECT_FALSE(doc.SaveToStream(stream)) << limit;
  }
  TShortStream enough(1 << 24);
  EXPECT_TRUE(doc.SaveToStream(enough));
}

TEST(IniFile, SaveToFileReplacesTheOldFileWhole) {
  TTempDir dir;
  fs::path file = dir / "Project.kiv";
  WriteFileBytes(file, std::string(100000, 'x')); // longer than the new text: nothing of it may remain
  ::chmod(file.c_str(), 0640);
  TIniFile doc;
  doc.WriteString(u"Main", u"Title", u"New");
  ASSERT_TRUE(doc.SaveToFile(file.string()));
  EXPECT_EQ(ReadFileBytes(file), "\xEF\xBB\xBF[Main]\r\nTitle=New\r\n");
  EXPECT_EQ(fs::status(file).permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  EXPECT_EQ(FolderEntries(dir.Path()), std::vector<std::string>{"Project.kiv"});

  // A link stays a link; the file it points to is replaced.
  fs::path link = dir / "link.kiv";
  fs::create_symlink(file, link);
  doc.WriteString(u"Main", u"Title", u"Linked");
  ASSERT_TRUE(doc.SaveToFile(link.string()));
  EXPECT_TRUE(fs::is_symlink(link));
  EXPECT_EQ(ReadFileBytes(file), "\xEF\xBB\xBF[Main]\r\nTitle=Linked\r\n");
}

TEST(IniFile, FailedSaveKeepsTheOldFile) {
  TTempDir dir;
  fs::path file = dir / "Project.kiv";
  const std::string old = "\xEF\xBB\xBF[Main]\r\nTitle=Old\r\n";
  WriteFileBytes(file, old);

  // Fails half-way: a high surrogate followed by a letter cannot be written, after many good lines.
  TIniFile doc;
  for (int i = 0; i < 20000; ++i)
    doc.WriteString(u"s", U("k" + std::to_string(i)), u"value");
  doc.WriteString(u"t", u"bad", u"\xD800x");
  EXPECT_FALSE(doc.SaveToFile(file.string()));
  EXPECT_EQ(ReadFileBytes(file), old);
  EXPECT_EQ(FolderEntries(dir.Path()), std::vector<std::string>{"Project.kiv"});

  // The target names a folder.
  fs::create_directory(dir / "folder");
  EXPECT_FALSE(doc.SaveToFile((dir / "folder").string()));

  // A folder that cannot be written into (root may write anywhere: nothing to learn then).
  if (::geteuid() != 0) {
    TIniFile good;
    good.WriteString(u"Main", u"Title", u"New");
    fs::permissions(dir.Path(), fs::perms::owner_read | fs::perms::owner_exec);
    EXPECT_FALSE(good.SaveToFile(file.string()));
    fs::permissions(dir.Path(), fs::perms::owner_all);
    EXPECT_EQ(ReadFileBytes(file), old);
  }
}

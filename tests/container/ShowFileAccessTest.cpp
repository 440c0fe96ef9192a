// File sources and the accessor: file maps, rotation lists, disk names written the Windows way, and the
// streams that packed shows hand out.

#include "AccessorFixture.h"
#include "ShowBuilder.h"

#include "ShowFileAccess.h"
#include "ShowPaths.h"
#include "OpenedShow.h"
#include "StreamViews.h"
#include "Utf8Conversion.h"

#include <gtest/gtest.h>

#include <thread>

namespace kiv {
namespace {

using namespace kiv::test;

TEST(FileMapLine, SplitsAtTheFirstEqualsOutsideQuotesAndIgnoresIncompleteLines) {
  struct TCase {
    std::u16string line;
    bool ok;
    std::u16string name, target;
  };
  const TCase cases[] = {
      {u"a.jpg=b.rygf", true, u"a.jpg", u"b.rygf"},
      {u"  ;a.jpg = b.rygf  ", true, u"a.jpg", u"b.rygf"},
      {u"\"x=y.jpg\"=\"C:\\out\\z.rygf\"", true, u"x=y.jpg", u"C:\\out\\z.rygf"},
      {u"a.jpg=", false, u"", u""},
      {u"=b.rygf", false, u"", u""},
      {u"\"\"=b.rygf", false, u"", u""},
      {u"no equals here", false, u"", u""},
  };
  for (const TCase& c : cases) {
    std::u16string name, target;
    SCOPED_TRACE(Utf16ToUtf8(c.line));
    ASSERT_EQ(ParseFileMapLine(c.line, name, target), c.ok);
    if (c.ok) {
      EXPECT_EQ(name, c.name);
      EXPECT_EQ(target, c.target);
    }
  }
}

TEST(RotationLine, AcceptsOnlyCommentedQuotedNamesWithKnownOrientations) {
  struct TCase {
    std::u16string line;
    int orientation; // 0: refused
  };
  const TCase cases[] = {
      {u";\"p\\a.jpg\"=6", 6}, {u" ; \"a.jpg\" = 8", 8}, {u";\"a.jpg\"=3", 3},
      {u";\"a.jpg\"=1", 1},    {u";\"a.jpg\"=2", 0},     {u";\"a.jpg\"=66", 0},
      {u"\"a.jpg\"=6", 0},     {u";a.jpg=6", 0},         {u";\"\"=6", 0},
  };
  for (const TCase& c : cases) {
    std::u16string name;
    int orientation = 0;
    SCOPED_TRACE(Utf16ToUtf8(c.line));
    EXPECT_EQ(ParseRotationLine(c.line, name, orientation) ? orientation : 0, c.orientation);
  }
}

TEST(MappedSource, FollowsChainsAndNeverTheMappedNameItself) {
  TScratchFolder folder("map");
  folder.Write("final.bin", "final");
  folder.Write("direct.bin", "direct");
  folder.Write("shadowed.jpg", "the mapped name itself");
  auto source = TRef<TMappedFileSource>::Make(folder.Path());
  const std::u16string base = Utf8ToUtf16(folder.Path());
  source->AddMapping(u"a.jpg", u"b.jpg");
  source->AddMapping(u"b.jpg", base + u"final.bin");
  source->AddMapping(u"one.jpg", base + u"direct.bin");
  source->AddMapping(u"one.jpg", base + u"final.bin"); // a second target is kept but not used
  source->AddMapping(base + u"shadowed.jpg", u"missing.bin");
  source->AddMapping(u"loop1.jpg", u"loop2.jpg");
  source->AddMapping(u"loop2.jpg", u"loop1.jpg");
  source->AddMapping(u"self.jpg", u"self.jpg");
  auto accessor = TRef<TFileAccessor>::Make(TRef<TFileSource>(source), folder.Path());

  struct TCase {
    std::u16string name;
    std::string expected;
  };
  const TCase cases[] = {
      {u"A.JPG", "final"},       {u"one.jpg", "direct"},  {base + u"shadowed.jpg", "<none>"},
      {u"loop1.jpg", "<none>"},  {u"self.jpg", "<none>"}, {u"direct.bin", "direct"},
      {u"DIRECT.BIN", "direct"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(Utf16ToUtf8(c.name));
    EXPECT_EQ(ReadAll(Open(*accessor, c.name).get()), c.expected);
  }
  EXPECT_EQ(source->FileMap().FindFirst(u"ONE.JPG")->target, base + u"direct.bin");
}

TEST(MappedSource, LoadsItsMapsFromTheProject) {
  TIniFile project;
  TMemoryStream text(Bytes("[FileMap]\r\n;\"a b.jpg\"=c.rygf\r\nd.jpg = e.rygf\r\nbroken line\r\n"
                           "[RotationState]\r\n;\"up.jpg\"=6\r\n;\"left.jpg\"=8\r\nx.jpg=6\r\n"));
  ASSERT_TRUE(project.LoadFromStream(text));
  auto source = TRef<TMappedFileSource>::Make();
  EXPECT_FALSE(source->ImageDecodeHook());
  source->LoadMaps(project);
  EXPECT_EQ(source->FileMap().Count(), 2u);
  EXPECT_EQ(source->FileMap().FindFirst(u"A B.JPG")->target, u"c.rygf");
  ASSERT_TRUE(source->ImageDecodeHook());
  EXPECT_EQ(source->ImageDecodeHook()(u"UP.jpg"), 6);
  EXPECT_EQ(source->ImageDecodeHook()(u"left.jpg"), 8);
  EXPECT_EQ(source->ImageDecodeHook()(u"x.jpg"), 1); // only comment lines count
}

TEST(DiskNames, ResolveTheWindowsWayOntoThisFileSystem) {
  TScratchFolder folder("disk");
  const std::string picture = folder.Write("Pictures/Sunrise.JPG", "sun");
  auto accessor = TRef<TFileAccessor>::Make(TRef<TFileSource>(TRef<TRealFileSource>::Make()),
                                            folder.Path() + "Pictures/");
  const std::u16string base = Utf8ToUtf16(folder.Path());
  struct TCase {
    std::u16string name;
    bool found;
  };
  const TCase cases[] = {
      {base + u"Pictures\\Sunrise.JPG", true}, // backslashes
      {base + u"pictures/sunrise.jpg", true},  // letter case as on the author's system
      {base + u"Pictures\\..\\Pictures\\Sunrise.JPG", true},
      {u"D:\\Shows\\Trip\\sunrise.jpg", true}, // the author's drive: the show folder's file
      {u"D:\\Shows\\Trip\\sunset.jpg", false},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(Utf16ToUtf8(c.name));
    std::u16string name = c.name;
    ASSERT_EQ(ResolveDiskFile(*accessor, name), c.found);
    if (!c.found) continue;
    EXPECT_EQ(std::filesystem::canonical(Utf16ToUtf8(name)), std::filesystem::canonical(picture));
    EXPECT_EQ(ReadAll(OpenDiskFile(*accessor, c.name).get()), "sun");
  }
}

TEST(DiskNames, StylesMacroLooksBesideTheProgramThenInTheUserDataFolder) {
  TScratchFolder folder("styles");
  folder.Write("bin/All/Themes/blue/nav.ini", "program");
  folder.Write("data/Brask/Styles/green/nav.ini", "user");
  SetProgramFileName(folder.Path() + "bin/kivviewer");
  ::setenv("XDG_DATA_HOME", (folder.Path() + "data").c_str(), 1);
  EXPECT_EQ(ExpandPathMacros("%STYLES%\\blue\\nav.ini"), folder.Path() + "bin/All/Themes\\blue\\nav.ini");
  EXPECT_EQ(ExpandPathMacros("%styles%\\green\\nav.ini"),
            folder.Path() + "data/Brask/Styles\\green\\nav.ini");
  EXPECT_EQ(ExpandPathMacros("%other%\\x.ini"), "%other%\\x.ini");
  auto source = TRef<TRealFileSource>::Make();
  {
    std::lock_guard lock(source->Lock());
    EXPECT_EQ(ReadAll(source->OpenFile(u"%styles%\\green\\nav.ini").get()), "user");
  }
  SetProgramFileName("");
  ::unsetenv("XDG_DATA_HOME");
}

class PackedShowFiles : public ::testing::Test {
protected:
  void SetUp() override {
    entries_ = SampleEntries();
    entries_[0].data = Bytes("\xEF\xBB\xBF[Main]\r\nKivVersion=7.1\r\n[FileMap]\r\nalias.bin=raw.dat\r\n");
    file_ = std::make_unique<TTempFile>(PackedShow(entries_, TTrailerForm::A), "accessor");
    std::string message;
    locator_ = OpenPackedShow(file_->Path(), message);
    ASSERT_TRUE(locator_) << message;
  }
  const std::vector<uint8_t>& Data(size_t i) const { return entries_[i].data; }

  std::vector<TTestEntry> entries_;
  std::unique_ptr<TTempFile> file_;
  std::unique_ptr<TKivShowLocator> locator_;
};

TEST_F(PackedShowFiles, EveryPackingMethodReadsBackThroughWindowsThatCallTheLoadCallBack) {
  for (size_t i = 0; i < entries_.size(); ++i) {
    SCOPED_TRACE(Utf16ToUtf8(entries_[i].name));
    TOwned<TStream> stream = Open(locator_->Accessor(), entries_[i].name);
    ASSERT_TRUE(stream);
    auto* window = dynamic_cast<TPartialStream*>(stream.get());
    ASSERT_TRUE(window);
    EXPECT_EQ(window->ChunkSize(), TPartialStream::kCallbackChunkSize);
    EXPECT_EQ(ReadAll(stream.get()), std::string(Data(i).begin(), Data(i).end()));
  }
  EXPECT_EQ(ReadAll(Open(locator_->Accessor(), u"ALIAS.BIN").get()),
            std::string(Data(3).begin(), Data(3).end()));
  // A packed show does not reach for disk files of the same name.
  EXPECT_FALSE(Open(locator_->Accessor(), Utf8ToUtf16(file_->Path())));
}

TEST_F(PackedShowFiles, XorEntryReadFromTheMiddleMatchesTheStoredBytes) {
  const std::vector<uint8_t>& data = Data(1); // method 2, 100000 bytes
  for (int64_t start : {int64_t{1}, int64_t{31}, int64_t{32}, int64_t{4097}, int64_t{99990}}) {
    TOwned<TStream> stream = Open(locator_->Accessor(), entries_[1].name);
    stream->SetPosition(start);
    std::vector<uint8_t> got(static_cast<size_t>(stream->GetSize() - start));
    ASSERT_EQ(stream->Read(got.data(), static_cast<int64_t>(got.size())), static_cast<int64_t>(got.size()));
    EXPECT_TRUE(std::equal(got.begin(), got.end(), data.begin() + start)) << start;
  }
}

TEST_F(PackedShowFiles, TwoThreadsOpeningOnePictureGetIndependentStreams) {
  std::string results[2];
  std::thread threads[2];
  for (int t = 0; t < 2; ++t)
    threads[t] = std::thread([&, t] {
      TOwned<TStream> stream = Open(locator_->Accessor(), u"pictures\\forest [1].bmp");
      results[t] = ReadAll(stream.get());
    });
  for (auto& thread : threads)
    thread.join();
  const std::string expected(Data(2).begin(), Data(2).end());
  EXPECT_EQ(results[0], expected);
  EXPECT_EQ(results[1], expected);
}

TEST(Accessor, FilterReplacesStreamsAndFallbackAnswersForMissingFiles) {
  TScratchFolder folder("filter");
  folder.Write("a.txt", "disk");
  auto accessor =
      TRef<TFileAccessor>::Make(TRef<TFileSource>(TRef<TMappedFileSource>::Make()), folder.Path());
  accessor->SetStreamFilter([](std::u16string_view name, TOwned<TStream>& stream) {
    if (name.ends_with(u"a.txt")) stream = MakeOwned<TMemoryStream>(Bytes("filtered"));
  });
  accessor->SetFallbackOpener(
      [](std::u16string_view) -> TOwned<TStream> { return MakeOwned<TMemoryStream>(Bytes("fallback")); });
  const std::u16string base = Utf8ToUtf16(folder.Path());
  EXPECT_EQ(ReadAll(Open(*accessor, base + u"a.txt").get()), "filtered");
  EXPECT_EQ(ReadAll(Open(*accessor, base + u"none.txt").get()), "fallback");
  TRef<TFileAccessor> clone = accessor->Clone();
  EXPECT_EQ(&clone->Source(), &accessor->Source());
  EXPECT_EQ(clone->ShowFolder(), folder.Path());
  EXPECT_EQ(ReadAll(Open(*clone, base + u"none.txt").get()), "<none>");
}

} // namespace
} // namespace kiv

// Show locators over packed shows and project files, the replace pair, and the start-up window project.

#include "AccessorFixture.h"
#include "ShowBuilder.h"

#include "OpenedShow.h"
#include "Utf8Conversion.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>

namespace kiv {
namespace {

using namespace kiv::test;

std::vector<TTestEntry> ShowWithProject(const std::string& project) {
  return {{u"Project.kiv", Bytes("\xEF\xBB\xBF" + project), 1}, {u"pictures\\a.bmp", Bytes("AAAA"), 2}};
}

TEST(OpenPackedShow, ReportsTheContainersComplaintOrAMissingProject) {
  TScratchFolder folder("locate");
  const std::string plain = folder.Write("plain.bin", std::string(100, 'x'));
  TTempFile noProject(PackedShow({{u"other.txt", Bytes("x"), 0}}, TTrailerForm::B), "noproject");
  struct TCase {
    std::string file;
    std::string message;
  };
  const TCase cases[] = {
      {folder.Path() + "missing.exe", "Slideshow File not Found"},
      {plain, ""},
      {noProject.Path(), "Executable SlideShow Open Error"},
  };
  for (const TCase& c : cases) {
    std::string message = "stale";
    EXPECT_FALSE(OpenPackedShow(c.file, message)) << c.file;
    EXPECT_EQ(message, c.message) << c.file;
  }
}

TEST(OpenPackedShow, ReadsVersionAndUsesTheFilesFolderAsShowFolder) {
  TTempFile show(PackedShow(ShowWithProject("[main]\r\nKivVersion=5.6 test\r\n"), TTrailerForm::A), "ok");
  std::string message;
  auto locator = OpenPackedShow(show.Path(), message);
  ASSERT_TRUE(locator);
  EXPECT_EQ(locator->KivVersion(), u"5.6 test");
  EXPECT_EQ(locator->ProjectFileName(), u"Project.kiv");
  EXPECT_EQ(locator->Accessor().ShowFolder(),
            std::filesystem::path(show.Path()).parent_path().string() + "/");
  // The show options are made by the timeline on first use; the locator only keeps them.
  EXPECT_EQ(locator->OptionsSlot(), nullptr);
}

TEST(OpenProjectFile, ShowFolderFollowsTheAuthoredProgramOrElseTheProject) {
  TScratchFolder folder("project");
  folder.Write("pictures/a.bmp", "picture");
  const std::string withExe = folder.Write("with.kiv", "[Main]\r\nopt_exefn=C:\\Shows\\trip.exe\r\n");
  const std::string withoutExe = folder.Write("without.kiv", "[main]\r\nKivVersion=2\r\n");
  auto a = OpenProjectFile(withExe);
  auto b = OpenProjectFile(withoutExe);
  ASSERT_TRUE(a && b);
  EXPECT_EQ(a->Accessor().ShowFolder(), "C:/Shows/");
  EXPECT_EQ(b->Accessor().ShowFolder(), folder.Path());
  EXPECT_EQ(b->KivVersion(), u"2");
  // Project-relative names find their files whatever the current folder.
  EXPECT_EQ(ReadAll(Open(b->Accessor(), u"pictures\\a.bmp").get()), "picture");
  EXPECT_FALSE(OpenProjectFile(folder.Path() + "none.kiv"));
}

// Switches the working folder for one test and back.
class TWorkingFolder {
public:
  explicit TWorkingFolder(const std::string& folder) : previous_(std::filesystem::current_path()) {
    std::filesystem::current_path(folder);
  }
  ~TWorkingFolder() { std::filesystem::current_path(previous_); }
  TWorkingFolder(const TWorkingFolder&) = delete;
  TWorkingFolder& operator=(const TWorkingFolder&) = delete;

private:
  std::filesystem::path previous_;
};

// The player runs in a folder holding files of the same names as the show's: the show's are read.
TEST(OpenProjectFile, RelativeNamesAreTheProjectsNeverTheWorkingFolders) {
  TScratchFolder folder("decoys");
  folder.Write("show/Project.kiv", "[main]\r\nopt_exefn=bin\\trip.exe\r\n");
  folder.Write("show/pictures/a.bmp", "show");
  folder.Write("show/bin/clip.avi", "show");
  for (const char* decoy :
       {"work/pictures/a.bmp", "work/clip.avi", "work/bin/clip.avi", "work/show/bin/clip.avi"})
    folder.Write(decoy, "decoy");
  // As the working folder reports it, links resolved.
  const std::string root = std::filesystem::canonical(folder.Path()).string() + "/";
  const std::string work = root + "work";

  struct TCase {
    std::string what;
    std::string project; // as named when opened
    std::string openedIn;
  };
  const TCase cases[] = {
      {"absolute project name", root + "show/Project.kiv", work},
      {"project named relative to where it was opened", "show/Project.kiv", root},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.what);
    std::unique_ptr<TKivShowLocator> locator;
    {
      TWorkingFolder openedIn(c.openedIn);
      locator = OpenProjectFile(c.project);
    }
    ASSERT_TRUE(locator);
    TWorkingFolder running(work);
    EXPECT_EQ(ReadAll(Open(locator->Accessor(), u"pictures\\a.bmp").get()), "show");
    // The relative program name is the project's neighbour.
    EXPECT_EQ(locator->Accessor().ShowFolder(), root + "show/bin/");
    std::u16string clip = u"clip.avi";
    ASSERT_TRUE(ResolveDiskFile(locator->Accessor(), clip));
    EXPECT_EQ(Utf16ToUtf8(clip), root + "show/bin/clip.avi");
    EXPECT_EQ(ReadAll(OpenDiskFile(locator->Accessor(), u"clip.avi").get()), "show");
  }
}

TEST(ReplacePair, OpeningTheAuthoredProgramOpensItsProject) {
  TScratchFolder folder("replace");
  const std::string project = folder.Write("show.kiv", "[main]\r\nKivVersion=from project\r\n");
  SetReplacePair({"C:\\Shows\\Trip.exe", project});
  std::string message;
  auto locator = OpenPackedShow("c:/shows/trip.EXE", message);
  ASSERT_TRUE(locator) << message;
  EXPECT_EQ(locator->KivVersion(), u"from project");
  SetReplacePair({"C:\\Shows\\Trip.exe", ""});
  EXPECT_FALSE(OpenPackedShow("c:/shows/trip.EXE", message));
  SetReplacePair({});
}

constexpr const char* kShowWithStartup =
    "[Main]\r\nKivVersion=1\r\nopt_scr_full=1\r\nopt_lockf1=0\r\nopt_customdialogscount=3\r\n"
    "custom_dialog1=Info\r\nstw_caption=Welcome\r\nopt_startupwidth=320\r\n"
    "  object Music:TMusic\r\n    FileName=a.mp3\r\n  end\r\n"
    "  object music:TMusic\r\n    FileName=b.mp3\r\n  end\r\n"
    "[slide1]\r\nEffect_Type=1\r\n[dialog_startup]\r\nStartupKey=1\r\n[dialog_1_]\r\nk=1\r\n"
    "[dialog_3_]\r\nk=3\r\n[dialog_help]\r\nh=1\r\n[FileMap]\r\na.jpg=b.rygf\r\n";

TEST(StartupProject, BecomesAOneSlideProjectWithoutMusic) {
  TIniFile project;
  TMemoryStream text(Bytes(kShowWithStartup));
  ASSERT_TRUE(project.LoadFromStream(text));
  std::unique_ptr<TIniFile> startup = MakeStartupProject(project);
  ASSERT_TRUE(startup);
  std::vector<std::u16string> sections;
  startup->GetSectionNames(sections);
  EXPECT_EQ(sections, (std::vector<std::u16string>{u"main", u"slide1", u"FileMap", u"dialog_help",
                                                   u"dialog_1_", u"dialog_3_"}));
  EXPECT_EQ(startup->ReadString(u"slide1", u"StartupKey", u""), u"1");
  const struct {
    std::u16string key, value;
  } expected[] = {
      {u"KivVersion", u"1"},
      {u"opt_scr_full", u"0"},
      {u"opt_repeat", u"stop"},
      {u"opt_scr_width", u"320"},
      {u"opt_scr_height", u"480"},
      {u"opt_scr_caption", u"Welcome"},
      {u"opt_slidescount", u"1"},
      {u"opt_lockf1", u"0"},
      {u"opt_runapponexitfn", u""},
      {u"custom_dialog1", u"Info"},
      {u"custom_dialog3", u"NotFound"},
      {u"opt_synchpos1", u"1000"},
  };
  for (const auto& e : expected)
    EXPECT_EQ(startup->ReadString(u"main", e.key, u"<absent>"), e.value) << Utf16ToUtf8(e.key);
  // Only the first music object goes.
  const TIniSection* main = startup->FindSection(u"main");
  ASSERT_TRUE(main->FirstObject());
  EXPECT_EQ(main->FirstObject()->GetName(), u"music");
  EXPECT_FALSE(main->NextObject(main->FirstObject()));
}

TEST(StartupProject, FilterAppliesOnlyInStartupModeAndOnlyToShowsThatHaveOne) {
  TTempFile withStartup(PackedShow(ShowWithProject(kShowWithStartup), TTrailerForm::A), "stw");
  TTempFile without(PackedShow(ShowWithProject("[main]\r\nopt_scr_full=1\r\n"), TTrailerForm::A), "nostw");
  std::string message;
  SetStartupWindowMode(true);
  auto converted = OpenPackedShow(withStartup.Path(), message);
  auto unchanged = OpenPackedShow(without.Path(), message);
  SetStartupWindowMode(false);
  auto normal = OpenPackedShow(withStartup.Path(), message);
  ASSERT_TRUE(converted && unchanged && normal);
  EXPECT_EQ(converted->Project()->ReadString(u"main", u"opt_scr_full", u""), u"0");
  EXPECT_TRUE(converted->Project()->SectionExists(u"slide1"));
  EXPECT_FALSE(converted->Project()->SectionExists(u"dialog_startup"));
  EXPECT_EQ(unchanged->Project()->ReadString(u"main", u"opt_scr_full", u""), u"1");
  EXPECT_EQ(normal->Project()->ReadString(u"main", u"opt_scr_full", u""), u"1");
  // Other files pass the filter untouched; letter case of the project name matters.
  EXPECT_EQ(ReadAll(Open(converted->Accessor(), u"pictures\\a.bmp").get()), "AAAA");
  TStreamFilter filter = StartupWindowFilter(u"Project.kiv");
  TOwned<TStream> stream = MakeOwned<TMemoryStream>(Bytes(std::string("\xEF\xBB\xBF") + kShowWithStartup));
  TStream* before = stream.get();
  filter(u"project.kiv", stream);
  EXPECT_EQ(stream.get(), before);
}

} // namespace
} // namespace kiv

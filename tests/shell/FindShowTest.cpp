// Locating shows: the ".KvShow" retry and its or-joined error, bundles, project files and the names a
// show is known by.

#include "ErrorBox.h"
#include "FindShow.h"
#include "PackedShowWriter.h"
#include "ShowPaths.h"
#include "Utf8Conversion.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <unistd.h>

namespace kiv {
namespace {

namespace fs = std::filesystem;

class ShowLocation : public ::testing::Test {
protected:
  void SetUp() override {
    root_ = fs::temp_directory_path() / ("kiv_locate_" + std::to_string(::getpid()));
    fs::remove_all(root_);
    fs::create_directories(root_);
    SetErrorBoxHandler([this](const std::string& text) { boxes_.push_back(text); });
    SetReplacePair({});
  }
  void TearDown() override {
    SetErrorBoxHandler(nullptr);
    SetReplacePair({});
    fs::remove_all(root_);
  }
  std::string Path(const std::string& relative) const { return (root_ / relative).string(); }
  std::string WriteText(const std::string& relative, const std::string& text) const {
    fs::create_directories(fs::path(Path(relative)).parent_path());
    std::ofstream(Path(relative), std::ios::binary) << text;
    return Path(relative);
  }
  // A packed show whose project holds the given main keys.
  std::string WriteShow(const std::string& relative, const std::string& mainKeys) const {
    TMemoryStream out;
    TKivPacker packer(out);
    const std::string project = "\xEF\xBB\xBF[main]\r\n" + mainKeys;
    packer.Add(u"Project.kiv", std::span(reinterpret_cast<const uint8_t*>(project.data()), project.size()),
               1);
    packer.Finish(TTrailerForm::A);
    fs::create_directories(fs::path(Path(relative)).parent_path());
    TFileStream file(Path(relative), TFileMode::Create);
    file.WriteBuffer(out.Data().data(), static_cast<int64_t>(out.Data().size()));
    return Path(relative);
  }

  fs::path root_;
  std::vector<std::string> boxes_;
};

TEST_F(ShowLocation, APackedShowIsFoundUnderItsNameOrWithTheKvShowExtension) {
  WriteShow("direct.exe", "KivVersion=direct\r\n");
  WriteShow("beside.KvShow", "KivVersion=beside\r\n");
  WriteText("beside.exe", "a program without a show");
  const struct {
    std::string name;
    std::string version;
  } cases[] = {{"direct.exe", "direct"}, {"beside.exe", "beside"}, {"beside", "beside"}};
  for (const auto& c : cases) {
    auto locator = LocateShow(Path(c.name), true);
    ASSERT_TRUE(locator) << c.name;
    EXPECT_EQ(Utf16ToUtf8(locator->KivVersion()), c.version);
  }
  EXPECT_TRUE(boxes_.empty());
}

TEST_F(ShowLocation, WithNeitherFileOneBoxNamesBothJoinedByOr) {
  WriteText("plain.exe", "not a show");
  EXPECT_FALSE(LocateShow(Path("nothing.exe"), true));
  EXPECT_FALSE(LocateShow(Path("plain.exe"), true));
  WriteText("plain.KvShow", "not a show either");
  EXPECT_FALSE(LocateShow(Path("plain.exe"), true));
  ASSERT_EQ(boxes_.size(), 3u);
  EXPECT_EQ(boxes_[0], "Slideshow File not Found\r\"" + Path("nothing.exe") + "\" or \"" +
                           Path("nothing.KvShow") + "\"");
  EXPECT_EQ(boxes_[1],
            "Slideshow File not Found\r\"" + Path("plain.exe") + "\" or \"" + Path("plain.KvShow") + "\"");
  EXPECT_EQ(boxes_[2], "Can`t Load Show\r\"" + Path("plain.exe") + "\" or \"" + Path("plain.KvShow") + "\"");
  EXPECT_EQ(DisplayText(boxes_[2]),
            "Can`t Load Show\n\"" + Path("plain.exe") + "\" or \"" + Path("plain.KvShow") + "\"");
}

TEST_F(ShowLocation, AnAppBundleOpensItsSlideshowDataWhenItHasSome) {
  WriteShow("Trip.app/Contents/Resources/slideshow.dat", "KivVersion=bundle\r\n");
  fs::create_directories(Path("Empty.app/Contents/Resources"));
  fs::create_directories(Path("Trip.APP/Contents/Resources"));
  EXPECT_EQ(ApplyBundleRule(Path("Trip.app")), Path("Trip.app/Contents/Resources/slideshow.dat"));
  EXPECT_EQ(ApplyBundleRule(Path("Trip.app/")), Path("Trip.app/Contents/Resources/slideshow.dat"));
  EXPECT_EQ(ApplyBundleRule(Path("Empty.app")), Path("Empty.app"));
  EXPECT_EQ(ApplyBundleRule(Path("Trip.APP")), Path("Trip.APP")); // the extension must be exactly ".app"
  auto locator = LocateShow(Path("Trip.app"), true);
  ASSERT_TRUE(locator);
  EXPECT_EQ(locator->KivVersion(), u"bundle");
  EXPECT_FALSE(LocateShow(Path("Empty.app"), true));
  ASSERT_EQ(boxes_.size(), 1u);
  EXPECT_EQ(boxes_[0],
            "Slideshow File not Found\r\"" + Path("Empty.app") + "\" or \"" + Path("Empty.KvShow") + "\"");
}

TEST_F(ShowLocation, AProjectFileAuthoredForAProgramStandsInForThatProgram) {
  const std::string project =
      WriteText("work/Project.kiv", "[Main]\r\nKivVersion=authoring\r\nopt_exefn=C:\\Shows\\Trip.exe\r\n");
  auto locator = LocateShow(project, false);
  ASSERT_TRUE(locator);
  const TShowNames names = ShowNames(*locator, project, true);
  EXPECT_EQ(names.fileName, "C:\\Shows\\Trip.exe");
  EXPECT_EQ(names.folder, "C:\\Shows");
  EXPECT_EQ(ReplacePair().projectFile, project);
  // Later requests for the authored program open the project, bundle rule or not.
  auto again = LocateShow("C:\\SHOWS\\trip.exe", true);
  ASSERT_TRUE(again);
  EXPECT_EQ(again->KivVersion(), u"authoring");
  EXPECT_TRUE(boxes_.empty());
}

TEST_F(ShowLocation, ARelativeAuthoredProgramIsTheProjectsNeighbourWhateverTheWorkingFolder) {
  const std::string project = WriteText("work/Project.kiv", "[Main]\r\nopt_exefn=bin\\Trip.exe\r\n");
  fs::create_directories(Path("elsewhere"));
  const fs::path previous = fs::current_path();
  fs::current_path(Path("elsewhere"));
  auto locator = LocateShow(project, false);
  const TShowNames names = locator ? ShowNames(*locator, project, true) : TShowNames{};
  fs::current_path(previous);
  ASSERT_TRUE(locator);
  EXPECT_EQ(names.fileName, Path("work/bin/Trip.exe"));
  EXPECT_EQ(names.folder, Path("work/bin"));
  EXPECT_EQ(ReplacePair().exeName, Path("work/bin/Trip.exe"));
  EXPECT_TRUE(boxes_.empty());
}

TEST_F(ShowLocation, APackedShowWithoutAuthoredProgramIsReportedAndUsed) {
  const std::string show = WriteShow("show.exe", "KivVersion=1\r\n");
  auto locator = LocateShow(show, true);
  ASSERT_TRUE(locator);
  const TShowNames names = ShowNames(*locator, show, false);
  EXPECT_EQ(names.fileName, show);
  EXPECT_EQ(names.folder, root_.string());
  EXPECT_EQ(boxes_, std::vector<std::string>{"opt_exefn - Empty"});
  EXPECT_TRUE(ReplacePair().projectFile.empty());
}

TEST_F(ShowLocation, AProjectFileThatCannotBeReadIsReported) {
  EXPECT_FALSE(LocateShow(Path("missing\\Project.kiv"), false));
  EXPECT_EQ(boxes_,
            std::vector<std::string>{"Can`t Load .kiv File\r\"" + Path("missing/Project.kiv") + "\""});
}

TEST_F(ShowLocation, HooksRunOnceTheShowIsLocated) {
  const std::string show = WriteShow("hooked.exe", "opt_exefn=x.exe\r\n");
  std::vector<std::string> calls;
  SetExclusiveModeHook([&](TKivShowLocator* l) { calls.push_back(l ? "exclusive" : "exclusive-none"); });
  SetVideoLibraryHook([&](TKivShowLocator* l) { calls.push_back(l ? "video" : "video-none"); });
  EXPECT_TRUE(LocateShow(show, true));
  EXPECT_FALSE(LocateShow(Path("none.exe"), true));
  EXPECT_FALSE(LocateShow(Path("none.kiv"), false));
  SetExclusiveModeHook(nullptr);
  SetVideoLibraryHook(nullptr);
  EXPECT_EQ(calls, (std::vector<std::string>{"exclusive", "video", "video-none"}));
}

} // namespace
} // namespace kiv

// Moving between shows: command texts naming a show and where it starts, the run stack (bounded when
// shows open one another in a circle), what closing runs instead of ending, and where a named show lies.

#include "IniDocument.h"
#include "MainKeys.h"
#include "ShowSwitching.h"
#include "TestEnvironment.h"

#include <gtest/gtest.h>

#include <fstream>

namespace kiv {
namespace {

namespace fs = std::filesystem;

TEST(ShowSwitching, ACommandNamesTheShowAndItsStart) {
  const struct {
    const char* text;
    const char* file;
    int64_t position;
    bool byTime;
  } cases[] = {
      {"\"/shows/a b/trip.KvShow\" -slide 3", "/shows/a b/trip.KvShow", 2, false},
      {"other.exe -time 1500", "other.exe", 1500, true},
      {"C:\\Shows\\intro.exe", "C:/Shows/intro.exe", 0, false},
      {"-slide 2 next.exe", "", 1, false}, // values after an option are the option's
  };
  for (const auto& c : cases) {
    const TShowCommand command = ParseShowCommand(c.text);
    EXPECT_EQ(command.fileName, c.file) << c.text;
    EXPECT_EQ(command.start.position, c.position) << c.text;
    EXPECT_EQ(command.start.byTime, c.byTime) << c.text;
  }
  // What the run stack keeps reads back as the same show and slide.
  const TShowCommand back = ParseShowCommand(RunStackEntry("/shows/a b/trip.KvShow", 4));
  EXPECT_EQ(back.fileName, "/shows/a b/trip.KvShow");
  EXPECT_EQ(back.start.position, 4);
  EXPECT_EQ(RunStackEntry("/x/t.exe", 0), "\"/x/t.exe\" -slide 1");
}

TEST(ShowSwitching, TheRunStackReturnsTheLatestFirstAndStaysBounded) {
  TRunStack stack;
  EXPECT_EQ(stack.Pop(), "");
  stack.Push("a");
  stack.Push("b");
  EXPECT_EQ(stack.Pop(), "b");
  EXPECT_EQ(stack.Pop(), "a");
  EXPECT_TRUE(stack.Empty());
  // Two shows that open each other with return, for ever.
  for (int i = 0; i < 1000; ++i)
    stack.Push(i % 2 ? "a" : "b");
  EXPECT_EQ(stack.Size(), TRunStack::kMaxDepth);
  EXPECT_EQ(stack.Pop(), "a") << "the most recent stays";
}

TEST(ShowSwitching, ClosingRunsTheExitChoiceOnlyWhenTheShowSaysSo) {
  const struct {
    const char* keys;
    bool endedAtLastSlide, userExit;
    int mode;
  } cases[] = {
      {"", true, true, 0},
      {"opt_runapponexit=2", true, true, 2},
      {"opt_runapponexit=2", false, true, 0},  // Escape in the middle of the show: not at the last slide
      {"opt_runapponexit=1\nopt_runapponexitiflastslide=0", false, true, 1},
      {"opt_runapponexit=1\nopt_runapponexitiflastslide=0", false, false, 0}, // closed by the system
      {"opt_runapponexit=7", true, true, 0},
  };
  for (const auto& c : cases) {
    TIniFile project;
    kivtest::WriteMainKeys(project, c.keys);
    EXPECT_EQ(RunOnExitMode(project, c.endedAtLastSlide, c.userExit), c.mode)
        << c.keys << " ended " << c.endedAtLastSlide << " user " << c.userExit;
  }
}

TEST(ShowSwitching, ANamedShowIsFoundBesideTheCurrentOneWhenItMoved) {
  const fs::path root = kivtest::FreshTempDir("show_switching");
  fs::create_directories(root / "now" / "more");
  for (const char* name : {"now/more/b.exe", "now/c.exe", "here.exe"})
    std::ofstream(root / name) << "x";
  const std::string folder = (root / "now").string();
  const struct {
    std::string file;
    std::string want;
  } cases[] = {
      {(root / "here.exe").string(), (root / "here.exe").string()},
      // Authored beside C:\Shows\trip.exe: the same place relative to where the show is now.
      {"C:\\Shows\\more\\b.exe", (root / "now/more/b.exe").string()},
      {"D:\\elsewhere\\c.exe", (root / "now/c.exe").string()},
      {"D:\\elsewhere\\none.exe", "D:/elsewhere/none.exe"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(ResolveOtherShow(c.file, "C:\\Shows\\trip.exe", folder), c.want) << c.file;
}

} // namespace
} // namespace kiv

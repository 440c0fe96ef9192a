// Tokenising, the option store, and the show and start position the command line chooses.

#include "CommandLine.h"
#include "ShowPaths.h"

#include <gtest/gtest.h>

namespace kiv {
namespace {

using TTokens = std::vector<std::string>;

TEST(Tokenize, SplitsAtControlsAndBlanksOutsideQuotesAndDropsTheQuotes) {
  const struct {
    std::string text;
    TTokens tokens;
  } cases[] = {
      {"a b\tc\r\nd", {"a", "b", "c", "d"}},
      {"  \"C:\\My Shows\\x.exe\"  -slide 3 ", {"C:\\My Shows\\x.exe", "-slide", "3"}},
      {"-exename ab\"c d\"e", {"-exename", "abc de"}},
      {"\"\" x", {"", "x"}},
      {"\"unterminated quote", {"unterminated quote"}},
      {"", {}},
  };
  for (const auto& c : cases)
    EXPECT_EQ(TokenizeCommandLine(c.text), c.tokens) << c.text;
}

TEST(CommandsStorage, ValuesBelongToTheOptionBeforeThemAndNamesAreExactLowerCase) {
  const TCommandLine line(TTokens{"prog", "-slide", "3", "extra", "-Time", "50", "-cover", "-slide", "9",
                                  "-exename", "-startup"});
  EXPECT_EQ(line.OptionValue(""), "prog");
  EXPECT_EQ(line.OptionValue("slide"), "3"); // the first occurrence's first value
  EXPECT_EQ(line.OptionValue("SLIDE"), "3"); // looked up in lower case...
  EXPECT_FALSE(line.HasOption("time"));      // ...so an option written with capitals is never found
  EXPECT_TRUE(line.HasOption("cover"));
  EXPECT_EQ(line.OptionValue("cover"), "");
  EXPECT_EQ(line.OptionValue("exename"), ""); // a following option is no value
  EXPECT_EQ(line.OptionValue("missing"), "");
  EXPECT_TRUE(line.HasRawToken("-startup"));
  EXPECT_FALSE(line.HasRawToken("-STARTUP"));
  EXPECT_FALSE(line.HasRawToken("startup"));
}

TEST(StartPosition, SlideBeforeTimeAndNonNumbersCountAsAbsent) {
  const struct {
    std::string args;
    int64_t position;
    bool byTime;
  } cases[] = {
      {"", 0, false},
      {"-slide 3", 2, false},
      {"-slide 1", 0, false},
      {"-slide 0", 0, false},
      {"-slide -3", 0, false}, // "-3" is an option of its own: slide has no value
      {"-slide x", 0, false},
      {"-slide 3x", 0, false},
      {"-Slide 3", 0, false},
      {"-time 1500", 1500, true},
      {"-slide 2 -time 1500", 1, false},
      {"-slide 0 -time 1500", 0, false},
      {"-slide abc -time 1500", 1500, true},
      {"-time -5", 0, false},
      {"-time 1.5", 0, false},
  };
  for (const auto& c : cases) {
    const TStartPosition start = StartPosition(TCommandLine::FromText("prog " + c.args));
    EXPECT_EQ(start.position, c.position) << c.args;
    EXPECT_EQ(start.byTime, c.byTime) << c.args;
  }
}

TEST(ShowToPlay, ProjectFileThenPackedShowThenTheProgramRelativeToItsFolder) {
  SetProgramFileName("/opt/shows/bin/player");
  const struct {
    std::string args;
    std::string file;
    bool isProject;
  } cases[] = {
      {"", "/opt/shows/bin/player", false},
      {"-exename trip.exe", "/opt/shows/bin/trip.exe", false},
      {"-exename ..\\trips\\trip.exe", "/opt/shows/trips/trip.exe", false},
      {"-exename /data/trip.exe", "/data/trip.exe", false},
      {"-filename ../p/Project.kiv -exename trip.exe", "/opt/shows/p/Project.kiv", true},
      {"-filename", "/opt/shows/bin/player", false},
  };
  for (const auto& c : cases) {
    const TShowToPlay show = ShowToPlay(TCommandLine::FromText("player " + c.args));
    EXPECT_EQ(show.fileName, c.file) << c.args;
    EXPECT_EQ(show.isProjectFile, c.isProject) << c.args;
  }
  SetProgramFileName("");
}

} // namespace
} // namespace kiv

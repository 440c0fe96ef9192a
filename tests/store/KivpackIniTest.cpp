// "kivpack ini" as a black box: the built tool, its output bytes and exit codes.

#include "StoreTestUtil.h"

#include <gtest/gtest.h>
#include <sys/wait.h>

using namespace kivtest;
namespace fs = std::filesystem;

namespace {

struct TRun {
  int code = -1;
  std::string out, err;
};

std::string Quote(std::string_view arg) {
  std::string quoted = "'";
  for (char c : arg)
    quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

TRun Kivpack(const std::vector<std::string>& args) {
  TTempDir dir;
  std::string command = Quote(KIVPACK_PATH);
  for (const std::string& arg : args)
    command += " " + Quote(arg);
  command += " >" + Quote((dir / "out").string()) + " 2>" + Quote((dir / "err").string());
  int status = std::system(command.c_str());
  TRun run;
  run.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  run.out = ReadFileBytes(dir / "out");
  run.err = ReadFileBytes(dir / "err");
  return run;
}

} // namespace

TEST(KivpackIni, PrintsEveryEncodingAsUtf8WithCrLf) {
  for (const char* name : {"utf16le", "utf16be", "utf8", "cp1252", "utf8_nomark"}) {
    TRun run = Kivpack({"ini", Fixture(std::string(name) + ".ini")});
    EXPECT_EQ(run.code, 0) << name << run.err;
    EXPECT_EQ(run.out, ReadFileBytes(Fixture(std::string(name) + ".expected"))) << name;
    EXPECT_EQ(run.err, "") << name;
  }
  TRun same = Kivpack({"ini", Fixture("roundtrip.ini")});
  EXPECT_EQ(same.out, ReadFileBytes(Fixture("roundtrip.ini")));
}

TEST(KivpackIni, QueriesPrintTheValueInUtf8) {
  struct Case {
    const char* file;
    const char* section;
    const char* key;
    int code;
    const char* out;
  } cases[] = {
      {"utf16le.ini", "Extra", "Smile", 0, "\xF0\x9F\x98\x80 \xE4\xB8\xAD\xE6\x96\x87\n"},
      {"utf16be.ini", "main", "TITLE", 0, "Caf\xC3\xA9 \xE2\x82\xAC\n"},
      {"utf8.ini", "Extra", "Greek", 0, "\xCE\xB1\xCE\xB2\xCE\xB3\n"},
      {"cp1252.ini", "extra", "greeting", 0,
       "Gr\xC3\xBC\xC3\x9F"
       "e \xE2\x80\x98quoted\xE2\x80\x99 \xE2\x80\x93 \xC5\x92uvre\n"},
      {"utf8.ini", "Main", "Count", 0, "3\n"},
      {"utf8.ini", "slide1", "FitMode", 2, ""}, // keys of objects are not the section's
      {"utf8.ini", "Nope", "Count", 2, ""},
      {"utf8.ini", "Main", "Nope", 2, ""},
  };
  for (const Case& c : cases) {
    TRun run = Kivpack({"ini", Fixture(c.file), c.section, c.key});
    EXPECT_EQ(run.code, c.code) << c.file << " " << c.key;
    EXPECT_EQ(run.out, c.out) << c.file << " " << c.key;
    if (c.code != 0) {
      EXPECT_NE(run.err, "");
    }
  }
}

TEST(KivpackIni, SetWritesTheFileOrOut) {
  TTempDir dir;
  fs::path file = dir / "show.ini";
  const std::string original = ReadFileBytes(Fixture("utf16le.ini"));
  WriteFileBytes(file, original);

  fs::path out = dir / "out.ini";
  TRun run = Kivpack({"ini", file.string(), "--set", "Main", "Count",
                      "\xC3\xA9"
                      "4",
                      "-o", out.string()});
  ASSERT_EQ(run.code, 0) << run.err;
  EXPECT_EQ(ReadFileBytes(file), original);
  std::string expected = ReadFileBytes(Fixture("utf16le.expected"));
  std::string edited = expected;
  edited.replace(edited.find("Count=3"), 7,
                 "Count=\xC3\xA9"
                 "4");
  EXPECT_EQ(ReadFileBytes(out), edited);

  run = Kivpack({"ini", file.string(), "--set", "New Section", "Key", "v w"});
  ASSERT_EQ(run.code, 0) << run.err;
  EXPECT_EQ(ReadFileBytes(file), expected + "\r\n[New Section]\r\nKey=v w\r\n");
  EXPECT_EQ(Kivpack({"ini", file.string(), "new section", "key"}).out, "v w\n");
}

TEST(KivpackIni, ParseErrorsAreReportedButDoNotFail) {
  std::string file = Fixture("errors.ini");
  TRun run = Kivpack({"ini", file});
  EXPECT_EQ(run.code, 0);
  EXPECT_EQ(run.err, file + ":3:1: error 2\n" + file + ":4:1: error 0\n" + file + ":6:3: error 1\n");
  EXPECT_EQ(run.out, "\xEF\xBB\xBF[A]\r\nkey=1\r\nobject O: T\r\n  x=1\r\n");
}

TEST(KivpackIni, FailuresAndUsage) {
  TTempDir dir;
  fs::path copy = dir / "bad.ini";
  WriteFileBytes(copy, ReadFileBytes(Fixture("invalid_utf8.ini")));
  struct Case {
    std::vector<std::string> args;
    int code;
  } cases[] = {
      {{"ini", Fixture("invalid_utf8.ini")}, 2},
      {{"ini", copy.string(), "--set", "A", "k", "v"}, 2},
      {{"ini", (dir / "missing.ini").string()}, 2},
      {{"ini", dir.Path().string()}, 2},
      {{"ini"}, 1},
      {{"ini", Fixture("utf8.ini"), "Main"}, 1},
      {{"ini", Fixture("utf8.ini"), "Main", "Count", "extra"}, 1},
      {{"ini", Fixture("utf8.ini"), "--set", "Main", "Count"}, 1},
      {{"ini", Fixture("utf8.ini"), "--set", "Main", "Count", "1", "-x", "out"}, 1},
      {{"ini", Fixture("utf8.ini"), "--set", "Main", "Count", "1", "-o"}, 1},
  };
  for (const Case& c : cases) {
    TRun run = Kivpack(c.args);
    EXPECT_EQ(run.code, c.code) << c.args.size();
    EXPECT_EQ(run.out, "");
    EXPECT_NE(run.err, "");
  }
  // A load that failed never writes the file back.
  EXPECT_EQ(ReadFileBytes(copy), ReadFileBytes(Fixture("invalid_utf8.ini")));

  TRun help = Kivpack({"ini", "--help"});
  EXPECT_EQ(help.code, 0);
  EXPECT_NE(help.out.find("--set SECTION KEY VALUE"), std::string::npos);
  EXPECT_NE(help.out.find("FILE:LINE:COLUMN: error CODE"), std::string::npos);
}

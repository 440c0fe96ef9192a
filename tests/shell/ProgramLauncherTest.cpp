// Programs, documents and links started from a show: how command texts become argument lists, which
// commands are refused, the fall-backs when a program is not found, real children started without a
// shell, addresses handed whole to xdg-open, and a child run and waited for.

#include "ProgramLauncher.h"
#include "ErrorBox.h"
#include "TestEnvironment.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace kiv {
namespace {

namespace fs = std::filesystem;

using TArgv = std::vector<std::string>;

// What a launcher asked for, answering each call from a script of results (Started once it runs out).
class TRecordingSpawner final : public TProcessSpawner {
public:
  struct TCall {
    std::string file;
    TArgv arguments;
    std::string folder;
    bool address = false;
  };
  std::vector<TStartResult> answers;
  std::vector<TCall> calls;

  TStartResult Open(const std::string& file, const TArgv& arguments, const std::string& folder) override {
    calls.push_back({file, arguments, folder, false});
    return Next();
  }
  TStartResult OpenAddress(const std::string& address) override {
    calls.push_back({address, {}, "", true});
    return Next();
  }

private:
  TStartResult Next() {
    if (calls.size() <= answers.size()) return answers[calls.size() - 1];
    return TStartResult::Started;
  }
};

// Boxes go to a list while the test runs.
class BoxCapture {
public:
  BoxCapture() {
    SetErrorBoxHandler([this](const std::string& text) { texts.push_back(text); });
  }
  ~BoxCapture() { SetErrorBoxHandler({}); }
  std::vector<std::string> texts;
};

// The program and arguments each command of a text starts with, when every program is found.
std::vector<TArgv> Started(const std::string& text) {
  TRecordingSpawner spawner;
  TProgramLauncher launcher(spawner);
  EXPECT_TRUE(launcher.RunCommands(text, "/show"));
  std::vector<TArgv> started;
  for (const auto& call : spawner.calls) {
    TArgv argv{call.file};
    argv.insert(argv.end(), call.arguments.begin(), call.arguments.end());
    started.push_back(argv);
  }
  return started;
}

TEST(CommandTexts, SplitIntoProgramsAndArgumentsByTheirQuotes) {
  const std::string longArgument(200000, 'x');
  const struct {
    std::string text;
    std::vector<TArgv> started;
  } cases[] = {
      {"", {}},
      {"   ", {}},
      {"viewer", {{"viewer"}}},
      {"viewer  notes.txt  ", {{"viewer", "notes.txt"}}},
      // A lone command is not trimmed before the first blank splits it: the program is empty.
      {"  viewer notes.txt", {}},
      {"x.sh,  viewer  notes.txt  ", {{"x.sh"}, {"viewer", "notes.txt"}}},
      {"viewer Read Me.txt", {{"viewer", "Read", "Me.txt"}}},
      // A quoted program keeps its blanks; quoted parameters stay one argument.
      {"\"/opt/my tools/view.sh\" \"Read Me.txt\"", {{"/opt/my tools/view.sh", "Read Me.txt"}}},
      // Any quote in the parameters quotes all of them: they go as one argument.
      {"\"/opt/x y/a\" -v \"b c\"", {{"/opt/x y/a", "-v b c"}}},
      {"tool \"\"", {{"tool", ""}}},
      // Commas outside quotes separate commands; empty ones start nothing.
      {"a.sh x, b.sh \"y,z\"", {{"a.sh", "x"}, {"b.sh", "y,z"}}},
      {"a.sh,,b.sh,", {{"a.sh"}, {"b.sh"}}},
      // Unbalanced quotes run to the end of the text.
      {"run.sh \"unclosed argument", {{"run.sh", "unclosed argument"}}},
      {"\"/x y/run.sh", {{"/x y/run.sh"}}},
      // With several commands, one whose quote is never closed is dropped.
      {"a.sh, \"b.sh,c.sh", {{"a.sh"}}},
      // Shell syntax means nothing: it reaches the program as it is written.
      {"echo.sh $(id) ; id `id` &&", {{"echo.sh", "$(id)", ";", "id", "`id`", "&&"}}},
      {"long.sh " + longArgument, {{"long.sh", longArgument}}},
  };
  for (const auto& c : cases)
    EXPECT_EQ(Started(c.text), c.started) << c.text.substr(0, 60);
}

TEST(CommandTexts, ProgramAndParametersKeepTheirQuoting) {
  const TCommandParts parts = SplitProgram("\"C:\\Program Files\\x.exe\" \"my file.txt\"");
  EXPECT_EQ(parts.program, "\"C:\\Program Files\\x.exe\"");
  EXPECT_EQ(parts.parameters, "\"my file.txt\"");
  const TCommandParts plain = SplitProgram("notepad  readme.txt ");
  EXPECT_EQ(plain.program, "notepad");
  EXPECT_EQ(plain.parameters, "readme.txt");
}

TEST(CommandRefusal, EveryDangerousNameIsRefusedHoweverItIsWritten) {
  const char* names[] = {">",        "at",       "attrib", "call",   "cmd",     "command", "copy",  "del",
                         "deltree",  "erase",    "for",    "format", "fdisk",   "runonce", "move",  "net",
                         "runas",    "net1",     "ren",    "rename", "replace", "rmdir",   "rd",    "recover",
                         "regedit",  "rundll",   "qstart", "start",  "sys",     "type",    "xcopy", "regsrv",
                         "regedt32", "regsvr32", "rcp",    "ftp",    "tftp",    "sh",      "bash",  "dash",
                         "zsh",      "sudo",     "su",     "pkexec", "rm",      "dd",      "mkfs",  "chmod",
                         "chown",    "env",      "xargs"};
  for (const std::string name : names) {
    if (name == ">") continue;
    std::string upper = name;
    for (char& c : upper)
      c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    for (const std::string& command :
         {name, name + " -x y", "/usr/bin/" + name + " z", "C:\\WINDOWS\\" + upper + ".EXE /c", "@" + name,
          "\"/bin/" + name + "\" a", "  \t" + name + ".ext4 /dev/sda", "c:/windows/" + name})
      EXPECT_FALSE(IsCommandAllowed(command)) << command;
  }
  EXPECT_FALSE(IsCommandAllowed("notepad > out.txt"));
}

TEST(CommandRefusal, OnlyTheFirstWordNamesTheCommand) {
  const struct {
    const char* command;
    bool allowed;
  } cases[] = {
      {"notepad readme.txt", true},
      {"notepad rm", true},
      {"notepad |format c:", true}, // a bar later in the command leaves the first word
      {"|format c:", false},        // the bar is removed before the name is taken
      {"@cmd /c dir", false},
      {"\"/usr/local/bin/my sh\" x", true}, // blanks inside quotes belong to the name
      {"rmdir2", true},
      {"shred -u x", true},
      {"RM.EXE", false},
      {"", true},
  };
  for (const auto& c : cases)
    EXPECT_EQ(IsCommandAllowed(c.command), c.allowed) << c.command;
}

TEST(CommandRefusal, ARefusedCommandStopsTheWholeTextWithTheBox) {
  const struct {
    const char* text;
    bool runs;
  } cases[] = {
      {"a.sh, b.sh", true},
      {"a.sh, del *.*", false},
      {"rm -rf /tmp/x", false},
      {"a.sh x, \"/bin/bash\" -c id", false},
  };
  for (const auto& c : cases) {
    BoxCapture boxes;
    TRecordingSpawner spawner;
    TProgramLauncher launcher(spawner);
    EXPECT_EQ(launcher.RunCommands(c.text, "/show"), c.runs) << c.text;
    if (c.runs) {
      EXPECT_EQ(spawner.calls.size(), 2u) << c.text;
      EXPECT_TRUE(boxes.texts.empty()) << c.text;
    } else {
      EXPECT_TRUE(spawner.calls.empty()) << c.text;
      EXPECT_EQ(
          boxes.texts,
          std::vector<std::string>{"Command line contains prohibited command and will not be performed."})
          << c.text;
    }
  }
}

TEST(ProgramFallbacks, ANotFoundProgramIsTriedAgainAsTheRulesSay) {
  using R = TStartResult;
  const struct {
    const char* text;
    std::vector<R> answers;
    std::vector<TRecordingSpawner::TCall> calls;
  } cases[] = {
      {"found.sh a", {}, {{"found.sh", {"a"}, ""}}},
      // With parameters: once more with both unquoted.
      {"\"my prog.sh\" \"a b c d\"",
       {R::NotFound, R::NotFound},
       {{"my prog.sh", {"a b c d"}, ""}, {"my prog.sh", {"a", "b", "c", "d"}, ""}}},
      // Without: the file name in the show's folder, then the folder joined with the name.
      {"sub\\notes.txt",
       {R::NotFound, R::NotFound, R::NotFound},
       {{"sub\\notes.txt", {}, ""}, {"notes.txt", {}, "/show"}, {"/show/sub/notes.txt", {}, ""}}},
      {"notes.txt", {R::NotFound}, {{"notes.txt", {}, ""}, {"notes.txt", {}, "/show"}}},
      // An address nothing opens is not looked for as a file.
      {"https://example.org/notes.txt", {R::NotFound}, {{"https://example.org/notes.txt", {}, ""}}},
      // A program that was there but could not start is not tried elsewhere.
      {"broken.sh", {R::Failed}, {{"broken.sh", {}, ""}}},
  };
  for (const auto& c : cases) {
    TRecordingSpawner spawner;
    spawner.answers = c.answers;
    TProgramLauncher launcher(spawner);
    launcher.RunCommands(c.text, "/show");
    ASSERT_EQ(spawner.calls.size(), c.calls.size()) << c.text;
    for (size_t i = 0; i < c.calls.size(); ++i) {
      EXPECT_EQ(spawner.calls[i].file, c.calls[i].file) << c.text << " call " << i;
      EXPECT_EQ(spawner.calls[i].arguments, c.calls[i].arguments) << c.text << " call " << i;
      EXPECT_EQ(spawner.calls[i].folder, c.calls[i].folder) << c.text << " call " << i;
    }
  }
}

TEST(Links, AddressesGetTheirSchemeAndGoWhole) {
  const struct {
    const char* text;
    std::string web, mail;
  } cases[] = {
      {"www.example.com", "http://www.example.com", "mailto:www.example.com"},
      {"https://example.com/a", "https://example.com/a", "mailto:https://example.com/a"},
      {"HTTP://EXAMPLE.COM", "http://HTTP://EXAMPLE.COM", "mailto:HTTP://EXAMPLE.COM"},
      {"mailto:a@b.org", "http://mailto:a@b.org", "mailto:a@b.org"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(WebAddress(c.text), c.web);
    EXPECT_EQ(MailAddress(c.text), c.mail);
  }
  // Commas and blanks stay inside the one address.
  for (const std::string& address : {std::string("mailto:a@x.org,b@y.org?subject=Hello there"),
                                     std::string("http://example.com/a b,c?d=\"e\"")}) {
    TRecordingSpawner spawner;
    TProgramLauncher launcher(spawner);
    EXPECT_TRUE(launcher.OpenLink(address));
    ASSERT_EQ(spawner.calls.size(), 1u);
    EXPECT_TRUE(spawner.calls[0].address);
    EXPECT_EQ(spawner.calls[0].file, address);
  }
}

// Real children: scripts of the test's own, and xdg-open replaced on PATH by one that records.
class DesktopStart : public ::testing::Test {
protected:
  void SetUp() override {
    dir_ = kivtest::FreshTempDir("program_launcher");
    bin_ = dir_ / "bin";
    show_ = dir_ / "show folder";
    fs::create_directories(bin_);
    fs::create_directories(show_);
    WriteScript(bin_ / "xdg-open",
                "#!/bin/sh\nprintf '%s\\n' \"$#\" \"$@\" >> '" + (dir_ / "opened").string() + "'\n");
    WriteScript(show_ / "record.sh", "#!/bin/sh\nprintf '%s\\n' \"$#\" \"$@\" \"$(pwd -P)\" >> '" +
                                         (dir_ / "recorded").string() + "'\n");
    const char* path = std::getenv("PATH");
    oldPath_ = path ? path : "";
    setenv("PATH", (bin_.string() + ":" + oldPath_).c_str(), 1);
  }
  void TearDown() override { setenv("PATH", oldPath_.c_str(), 1); }

  static void WriteScript(const fs::path& file, const std::string& text) {
    std::ofstream(file) << text;
    chmod(file.c_str(), 0755);
  }
  // The lines a recorder wrote; "" when it never ran.
  std::string Read(const std::string& name) const {
    std::ifstream in(dir_ / name);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }

  fs::path dir_, bin_, show_;
  std::string oldPath_;
};

TEST_F(DesktopStart, ProgramsRunWithTheirArgumentsAndDocumentsAndLinksGoToXdgOpen) {
  std::ofstream(show_ / "notes.txt") << "text";
  TDesktopSpawner spawner;
  TProgramLauncher launcher(spawner);
  const std::string script = (show_ / "record.sh").string();
  // One at a time, so that the records come in order.
  auto run = [&](const std::string& text) {
    EXPECT_TRUE(launcher.RunCommands(text, show_.string())) << text;
    spawner.WaitForChildren();
  };
  run("\"" + script + "\" \"first arg\"");
  // Names beside the show are found there, with or without parameters; they run in our folder.
  run("record.sh");
  run("record.sh one two");
  run("notes.txt");
  run("https://example.org/x");
  EXPECT_TRUE(launcher.OpenLink(WebAddress("example.com/a b,c")));
  spawner.WaitForChildren();
  const std::string here = fs::current_path().string();
  EXPECT_EQ(Read("recorded"), "1\nfirst arg\n" + here + "\n0\n" + here + "\n2\none\ntwo\n" + here + "\n");
  EXPECT_EQ(Read("opened"), "1\n" + (show_ / "notes.txt").string() +
                                "\n1\nhttps://example.org/x\n1\nhttp://example.com/a b,c\n");
}

TEST_F(DesktopStart, NothingGoesThroughAShell) {
  BoxCapture boxes;
  const fs::path victim = dir_ / "victim";
  std::ofstream(victim) << "keep";
  // A script without an interpreter line would run in a shell if one were asked.
  WriteScript(show_ / "plain.sh", "touch '" + (dir_ / "shell ran").string() + "'\n");
  TDesktopSpawner spawner;
  TProgramLauncher launcher(spawner);
  EXPECT_FALSE(launcher.RunCommands("rm -f " + victim.string(), show_.string()));
  EXPECT_FALSE(launcher.RunCommands("/bin/sh -c \"rm " + victim.string() + "\"", show_.string()));
  EXPECT_TRUE(launcher.RunCommands("\"" + (show_ / "plain.sh").string() + "\"", show_.string()));
  EXPECT_TRUE(launcher.RunCommands("\"" + (show_ / "record.sh").string() + "\" ; rm " + victim.string() +
                                       " $(touch " + (dir_ / "substituted").string() + ")",
                                   show_.string()));
  spawner.WaitForChildren();
  EXPECT_TRUE(fs::exists(victim));
  EXPECT_FALSE(fs::exists(dir_ / "shell ran"));
  EXPECT_FALSE(fs::exists(dir_ / "substituted"));
  EXPECT_EQ(Read("recorded"), "5\n;\nrm\n" + victim.string() + "\n$(touch\n" +
                                  (dir_ / "substituted").string() + ")\n" + fs::current_path().string() +
                                  "\n");
  EXPECT_EQ(boxes.texts.size(), 2u);
}

TEST_F(DesktopStart, AChildIsWaitedForWithItsExitStatusWhileEventsArePumped) {
  const struct {
    const char* body;
    int code;
  } cases[] = {{"exit 1", 1}, {"exit 0", 0}, {"exit 7", 7}, {"kill -TERM $$", 128 + 15}};
  for (const auto& c : cases) {
    const fs::path child = dir_ / "child.sh";
    WriteScript(child, std::string("#!/bin/sh\nprintf '%s\\n' \"$@\" > '") + (dir_ / "child.args").string() +
                           "'\n" + c.body + "\n");
    int pumps = 0, code = -5;
    EXPECT_TRUE(RunAndWait({child.string(), "-exename", "/a b/show.KvShow", "-startup"}, code, [&] {
      ++pumps;
      return true;
    })) << c.body;
    EXPECT_EQ(code, c.code) << c.body;
    EXPECT_GE(pumps, 1) << c.body;
    EXPECT_EQ(Read("child.args"), "-exename\n/a b/show.KvShow\n-startup\n") << c.body;
  }
  int code = 0;
  EXPECT_FALSE(RunAndWait({(dir_ / "missing").string()}, code, [] { return true; }));
  EXPECT_EQ(code, -1);
  // The program ending stops the wait: the child is left to itself.
  const fs::path stop = dir_ / "stop";
  WriteScript(dir_ / "waits.sh",
              "#!/bin/sh\nwhile [ -e \"$0\" ] && [ ! -e '" + stop.string() + "' ]; do sleep 0.05; done\n");
  EXPECT_FALSE(RunAndWait({(dir_ / "waits.sh").string()}, code, [] { return false; }));
  EXPECT_EQ(code, -1);
  std::ofstream(stop) << "";
}

TEST(StartupWindowCommand, NamesThisProgramTheShowAndTheDisplay) {
  const std::string here = fs::current_path().string();
  EXPECT_EQ(StartupWindowCommand("/usr/bin/kivviewer", "/shows/a b.KvShow", false, ""),
            (TArgv{"/usr/bin/kivviewer", "-exename", "/shows/a b.KvShow", "-startup"}));
  EXPECT_EQ(
      StartupWindowCommand("/usr/bin/kivviewer", "shows/Project.kiv", true, "2"),
      (TArgv{"/usr/bin/kivviewer", "-filename", here + "/shows/Project.kiv", "-startup", "-display", "2"}));
}

} // namespace
} // namespace kiv

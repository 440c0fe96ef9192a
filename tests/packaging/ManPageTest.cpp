// The installed manual pages: groff formats them without a warning, man reads them, and every option or
// command that a program's --help lists is described in its page.

#include "PackagingTestSupport.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

namespace kiv {
namespace {

namespace fs = std::filesystem;
using kivtest::HaveTool;
using kivtest::InstalledPrefix;
using kivtest::RunCommand;
using kivtest::ShellQuote;

struct TPage {
  const char* name;
  const char* program;
};
constexpr TPage kPages[] = {{"kivviewer", KIVVIEWER_PATH}, {"kivpack", KIVPACK_PATH}};

fs::path PagePath(const char* name) {
  return InstalledPrefix() / "share" / "man" / "man1" / (std::string(name) + ".1");
}

// The page as man shows it, in plain ASCII without emphasis.
std::string PageText(const char* name) {
  return RunCommand("LC_ALL=C MANWIDTH=100 man -P cat -l " + ShellQuote(PagePath(name).string())).out;
}

TEST(ManPage, FormatsWithoutWarnings) {
  if (!HaveTool("groff") || !HaveTool("man")) GTEST_SKIP() << "groff or man missing (groff-base, man-db)";
  for (const TPage& page : kPages) {
    const std::string path = ShellQuote(PagePath(page.name).string());
    const auto groff = RunCommand("LC_ALL=C.UTF-8 groff -ww -man -Tutf8 -z " + path);
    EXPECT_EQ(groff.code, 0) << page.name;
    EXPECT_EQ(groff.out, "") << page.name;
    const auto man = RunCommand("LC_ALL=C MANWIDTH=100 man -P cat -l " + path + " >/dev/null");
    EXPECT_EQ(man.code, 0) << page.name;
    EXPECT_EQ(man.out, "") << page.name;
    const std::string text = PageText(page.name);
    for (const char* section : {"NAME", "SYNOPSIS", "DESCRIPTION", "EXIT STATUS", "ENVIRONMENT", "FILES",
                                "EXAMPLES", "SEE ALSO"})
      EXPECT_NE(text.find("\n" + std::string(section) + "\n"), std::string::npos) << page.name << ": " << section;
    EXPECT_NE(text.find("kivviewer " KIV_PROJECT_VERSION), std::string::npos) << page.name << " names no version";
  }
}

TEST(ManPage, DescribesEveryOptionTheHelpLists) {
  if (!HaveTool("man")) GTEST_SKIP() << "man missing (man-db)";
  for (const TPage& page : kPages) {
    const auto help = RunCommand(ShellQuote(page.program) + " --help");
    ASSERT_EQ(help.code, 0) << page.name;
    const std::string text = PageText(page.name);
    std::istringstream lines(help.out);
    int listed = 0;
    for (std::string line; std::getline(lines, line);) {
      // Option and command lines: two spaces, then the name.
      if (line.size() < 3 || line.compare(0, 2, "  ") != 0 || line[2] == ' ') continue;
      const std::string name = line.substr(2, line.find(' ', 2) - 2);
      ++listed;
      const bool described = text.find("\n       " + name) != std::string::npos ||
                             text.find(", " + name) != std::string::npos;
      EXPECT_TRUE(described) << page.name << "'s page does not describe " << name;
    }
    EXPECT_GE(listed, 10) << page.name << "'s help lists too few options:\n" << help.out;
  }
}

} // namespace
} // namespace kiv

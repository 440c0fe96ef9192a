#include "Log.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <thread>
#include <unistd.h>
#include <vector>

namespace kiv {
namespace {

namespace fs = std::filesystem;

const std::string kEq(64, '=');
const std::string kDash(64, '-');

class LogTest : public ::testing::Test {
protected:
  void SetUp() override {
    path_ = (fs::temp_directory_path() /
             ("kiv_log_" + std::to_string(::getpid()) + "_" +
              ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".log"))
                .string();
    SetLogClock({[this] { return ticks_; }, [this] { return now_; }});
  }
  void TearDown() override {
    CloseLog();
    SetLogClock({});
    fs::remove(path_);
  }

  static std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
  }
  // The entries between header and footer, without line ends. Fails when any line lacks its CR LF.
  std::vector<std::string> Entries() {
    CloseLog();
    std::string text = ReadAll(path_);
    EXPECT_EQ(text.substr(0, 3), "\xEF\xBB\xBF");
    text.erase(0, 3);
    std::vector<std::string> lines;
    for (std::size_t pos = 0; pos < text.size();) {
      std::size_t end = text.find("\r\n", pos);
      EXPECT_NE(end, std::string::npos) << "unterminated line";
      if (end == std::string::npos) break;
      lines.push_back(text.substr(pos, end - pos));
      pos = end + 2;
    }
    EXPECT_GE(lines.size(), 7u);
    if (lines.size() < 7) return {};
    return {lines.begin() + 4, lines.end() - 3};
  }

  std::string path_;
  int64_t ticks_ = 1000;
  TLogDateTime now_{2024, 3, 5, 14, 7, 9};
};

TEST_F(LogTest, FileHasMarkHeaderEntriesAndFooterWithCrLf) {
  ASSERT_TRUE(InstallFileLog(path_));
  LogLine("first entry");
  ticks_ = 2234;
  now_ = {2024, 12, 31, 9, 0, 5};
  CloseLog();
  const std::string expected = "\xEF\xBB\xBF" + kEq + "\r\nProgram : " + ProgramPath() +
                               "\r\nstarted : 05.03.2024 14:07:09\r\n" + kEq + "\r\nfirst entry\r\n" + kDash +
                               "\r\nProgram stoped : 31.12.2024 09:00:05 (work time : 1234 ms)\r\n" + kDash +
                               "\r\n";
  EXPECT_EQ(ReadAll(path_), expected);
  EXPECT_FALSE(LogActive());
  LogLine("after close"); // goes nowhere
  EXPECT_EQ(ReadAll(path_), expected);
}

TEST_F(LogTest, FileIsCreatedAnew) {
  { std::ofstream(path_, std::ios::binary) << "old content that must go\r\n"; }
  ASSERT_TRUE(InstallFileLog(path_));
  EXPECT_EQ(Entries(), std::vector<std::string>{});
}

TEST_F(LogTest, PrefixesFollowFlags) {
  struct Case {
    unsigned flags;
    const char* pattern; // for the entry written at 250 ms after installing
  };
  const Case cases[] = {
      {0, "^entry$"},
      {kLogTime, "^\\[250\\] entry$"},
      {kLogThreadId, "^#([0-9A-F]{4,}) entry$"},
      {kLogThreadId | kLogTime, "^#([0-9A-F]{4,}) \\[250\\] entry$"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.flags);
    ticks_ = 1000;
    ASSERT_TRUE(InstallFileLog(path_, c.flags));
    ticks_ = 1250;
    LogLine("entry");
    auto lines = Entries();
    ASSERT_EQ(lines.size(), 1u);
    std::smatch m;
    ASSERT_TRUE(std::regex_match(lines[0], m, std::regex(c.pattern))) << lines[0];
    if (m.size() > 1) {
      EXPECT_EQ(std::stoull(m[1].str(), nullptr, 16), CurrentThreadId());
    }
  }
}

TEST_F(LogTest, HelperForms) {
  ASSERT_TRUE(InstallFileLog(path_));
  LogInt("Count = ", -42);
  LogInt("Big: ", int64_t{1} << 40);
  LogFloat("Time: ", 1.5);
  LogFloat("Sum: ", 0.1 + 0.2);
  LogFloat("Small: ", 2.5e-7);
  LogBool("Active: ", true);
  LogBool("Active: ", false);
  LogNumbers("Sizes: ", {1, 2, 3});
  LogNumbers("Scales: ", std::vector<double>{0.5, 2, -1.25});
  LogNumbers("None: ", std::vector<int>{});
  LogPoint("Pos", 1, 2.5);
  LogRect("Bounds", 0, -10, 640, 480);
  LogLine(u"Name: \u00c4rger \u65e5");
  EXPECT_EQ(Entries(), (std::vector<std::string>{
                           "Count = -42",
                           "Big: 1099511627776",
                           "Time: 1.5",
                           "Sum: 0.3",
                           "Small: 2.5e-07",
                           "Active: True",
                           "Active: False",
                           "Sizes: 1, 2, 3",
                           "Scales: 0.5, 2, -1.25",
                           "None: ",
                           "Pos(1, 2.5)",
                           "Bounds(0, -10, 640, 480)",
                           "Name: \xC3\x84rger \xE6\x97\xA5",
                       }));
}

TEST_F(LogTest, StderrLogWritesPlainLines) {
  ::testing::internal::CaptureStderr();
  InstallStderrLog(kLogTime);
  ticks_ = 1007;
  LogBool("Ready: ", true);
  CloseLog();
  const std::string text = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(text, kEq + "\nProgram : " + ProgramPath() + "\nstarted : 05.03.2024 14:07:09\n" + kEq +
                      "\n[7] Ready: True\n" + kDash +
                      "\nProgram stoped : 05.03.2024 14:07:09 (work time : 7 ms)\n" + kDash + "\n");
}

TEST_F(LogTest, NothingIsWrittenWithoutALog) {
  EXPECT_FALSE(LogActive());
  LogLine("x");
  LogInt("x", 1);
  LogRect("x", 1, 2, 3, 4);
  CloseLog(); // no footer without a log
  EXPECT_FALSE(fs::exists(path_));
}

TEST_F(LogTest, FailedInstallKeepsThePreviousLog) {
  ASSERT_TRUE(InstallFileLog(path_));
  EXPECT_FALSE(InstallFileLog("/nonexistent-kiv-dir/sub/x.log"));
  EXPECT_FALSE(InstallFileLog(std::string()));
  EXPECT_TRUE(LogActive());
  LogLine("still here");
  EXPECT_EQ(Entries(), std::vector<std::string>{"still here"});
}

TEST_F(LogTest, InstallingAnotherLogClosesTheFirst) {
  const std::string second = path_ + ".second";
  ASSERT_TRUE(InstallFileLog(path_));
  LogLine("one");
  ticks_ = 1100;
  ASSERT_TRUE(InstallFileLog(second));
  LogLine("two");
  const std::string first = ReadAll(path_);
  EXPECT_NE(
      first.find("one\r\n" + kDash + "\r\nProgram stoped : 05.03.2024 14:07:09 (work time : 100 ms)\r\n"),
      std::string::npos);
  EXPECT_EQ(first.find("two"), std::string::npos);
  CloseLog();
  EXPECT_NE(ReadAll(second).find("two\r\n"), std::string::npos);
  fs::remove(second);
}

TEST_F(LogTest, DefaultPathIsTheProgramWithLogExtension) {
  const std::string program = ProgramPath();
  ASSERT_FALSE(program.empty());
  EXPECT_TRUE(fs::equivalent(program, "/proc/self/exe"));
  // The test program has no extension of its own.
  EXPECT_EQ(DefaultLogPath(), program + ".log");
}

TEST_F(LogTest, LinesFromManyThreadsStayWhole) {
  ASSERT_TRUE(InstallFileLog(path_, kLogThreadId));
  constexpr int kThreads = 4, kLines = 200;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([t] {
      for (int i = 0; i < kLines; ++i)
        LogInt("thread " + std::to_string(t) + " line ", i);
    });
  for (auto& th : threads)
    th.join();
  auto lines = Entries();
  ASSERT_EQ(lines.size(), static_cast<std::size_t>(kThreads * kLines));
  std::vector<int> next(kThreads, 0);
  const std::regex form("^#[0-9A-F]{4,} thread ([0-9]) line ([0-9]+)$");
  for (const auto& line : lines) {
    std::smatch m;
    ASSERT_TRUE(std::regex_match(line, m, form)) << line;
    int t = std::stoi(m[1].str());
    EXPECT_EQ(std::stoi(m[2].str()), next[t]++); // each thread's lines in its own order
  }
}

} // namespace
} // namespace kiv

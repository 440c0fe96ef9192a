// kivviewer playing the demo show in a window on a virtual X display: the first slide shows, Right moves
// to the next slide, Escape ends the program with status 0. A show with a password asks for it first;
// one with a start-up window shows it first in a child; programs named by slides and objects run. A
// click on the video-style bar's time track moves the show there. A dialog maps one window only, the one
// that takes its keys.

#include "GoldenImage.h"
#include "ShowTestSupport.h"
#include "TestEnvironment.h"

#include <X11/Xlib.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <set>
#include <spawn.h>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace kiv {
namespace {

namespace fs = std::filesystem;

std::string Quote(const std::string& text) {
  return "'" + text + "'";
}

bool HaveTool(const char* name) {
  int code = -1;
  kivtest::CommandOutput(std::string("command -v ") + name + " >/dev/null", code);
  return code == 0;
}

// A child process with extra environment entries; killed by the owner when it is still running.
class TChild {
public:
  TChild(std::vector<std::string> argv, std::vector<std::string> extraEnv, const fs::path& output) {
    std::vector<std::string> env = std::move(extraEnv);
    for (char** e = environ; *e; ++e)
      env.emplace_back(*e);
    std::vector<char*> args, envp;
    for (std::string& a : argv)
      args.push_back(a.data());
    args.push_back(nullptr);
    for (std::string& e : env)
      envp.push_back(e.data());
    envp.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, output.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
    if (posix_spawn(&pid_, args[0], &actions, nullptr, args.data(), envp.data()) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
  }
  // Asked to end first, so that an X server takes its socket and lock file along.
  ~TChild() {
    if (pid_ <= 0 || ended_) return;
    kill(pid_, SIGTERM);
    if (WaitExit(std::chrono::seconds(10)) < 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
  }
  pid_t Pid() const { return pid_; }
  // The exit status once the process ended within the wait; -1 when it did not.
  int WaitExit(std::chrono::seconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < deadline) {
      int status = 0;
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        ended_ = true;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return -1;
  }

private:
  pid_t pid_ = -1;
  bool ended_ = false;
};

// Polls until the check holds, at most the limit (the processes under test start in their own time).
bool Eventually(const std::function<bool()>& check, std::chrono::seconds limit = std::chrono::seconds(30)) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (std::chrono::steady_clock::now() < deadline) {
    if (check()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
  }
  return false;
}

// Mean squared difference of two pictures of one size on a coarse grid of cell averages, so that small
// motion inside a slide matters little and a change of slide much.
double GridDistance(const TDevBitmap& a, const TDevBitmap& b) {
  if (a.Width() != b.Width() || a.Height() != b.Height() || a.Width() < 16 || a.Height() < 12) return 1e9;
  constexpr int kColumns = 16, kRows = 12;
  double sum = 0;
  for (int row = 0; row < kRows; ++row)
    for (int column = 0; column < kColumns; ++column) {
      double ca[3] = {}, cb[3] = {};
      const int x0 = column * a.Width() / kColumns, x1 = (column + 1) * a.Width() / kColumns;
      const int y0 = row * a.Height() / kRows, y1 = (row + 1) * a.Height() / kRows;
      for (int y = y0; y < y1; ++y)
        for (int x = x0; x < x1; ++x)
          for (int c = 0; c < 3; ++c) {
            ca[c] += (a.Pixel32(x, y) >> (8 * c)) & 0xFF;
            cb[c] += (b.Pixel32(x, y) >> (8 * c)) & 0xFF;
          }
      const double n = static_cast<double>((x1 - x0) * (y1 - y0));
      for (int c = 0; c < 3; ++c)
        sum += std::pow((ca[c] - cb[c]) / n, 2);
    }
  return sum / (kColumns * kRows * 3);
}

class ShowWindow : public ::testing::Test {
protected:
  void SetUp() override {
    for (const char* tool : {"Xvfb", "xdotool", "ffmpeg"})
      if (!HaveTool(tool))
        GTEST_SKIP() << tool
                     << " is missing: the window test needs a virtual X display, xdotool and ffmpeg "
                        "(scripts/setup.sh installs them)";
    dir_ = kivtest::FreshTempDir("show_window");
    // A display number nobody uses.
    for (int n = 90 + getpid() % 100;; ++n)
      if (!fs::exists("/tmp/.X11-unix/X" + std::to_string(n)) &&
          !fs::exists("/tmp/.X" + std::to_string(n) + "-lock")) {
        display_ = ":" + std::to_string(n);
        socket_ = "/tmp/.X11-unix/X" + std::to_string(n);
        break;
      }
    int code = -1;
    const std::string xvfb = kivtest::CommandOutput("command -v Xvfb", code);
    xvfb_ =
        std::make_unique<TChild>(std::vector<std::string>{xvfb.substr(0, xvfb.find('\n')), display_,
                                                          "-screen", "0", "1280x1024x24", "-nolisten", "tcp",
                                                          // a server without clients must not reset under
                                                          // the next program that connects
                                                          "-noreset"},
                                 std::vector<std::string>{}, dir_ / "xvfb.log");
    ASSERT_GT(xvfb_->Pid(), 0);
    ASSERT_TRUE(Eventually([this] { return fs::exists(socket_); })) << "Xvfb did not start";
  }

  // What the programs under test printed, when the test failed: their logs go with the temporary folder.
  void TearDown() override {
    if (!HasFailure() || dir_.empty()) return;
    for (const auto& entry : fs::directory_iterator(dir_))
      if (entry.path().extension() == ".log") {
        std::ifstream in(entry.path());
        std::cerr << "== " << entry.path().filename().string() << "\n" << in.rdbuf() << "\n";
      }
  }

  std::string Command(const std::string& command, int& code) const {
    return kivtest::CommandOutput("DISPLAY=" + display_ + " " + command, code);
  }

  // The visible window of the process that has the name, once it shows.
  bool WindowNamed(pid_t pid, const std::string& name, std::string& window) const {
    return Eventually([&] {
      int code = -1;
      const std::string found = Command("xdotool search --onlyvisible --pid " + std::to_string(pid), code);
      if (code != 0) return false;
      for (size_t at = 0; at < found.size();) {
        const size_t end = found.find('\n', at);
        const std::string id = found.substr(at, end - at);
        at = end == std::string::npos ? found.size() : end + 1;
        if (Command("xdotool getwindowname " + id, code) == name + "\n" && code == 0) {
          window = id;
          return true;
        }
      }
      return false;
    });
  }

  // The window's picture, as the X server shows it.
  bool Screenshot(const std::string& window, TDevBitmap& picture, const std::string& name) const {
    int code = -1;
    const std::string geometry = Command("xdotool getwindowgeometry --shell " + window, code);
    if (code != 0) return false;
    auto value = [&geometry](const std::string& key) {
      const size_t at = geometry.find(key + "=");
      return at == std::string::npos ? -1 : std::atoi(geometry.c_str() + at + key.size() + 1);
    };
    const int x = value("X"), y = value("Y"), width = value("WIDTH"), height = value("HEIGHT");
    if (width <= 0 || height <= 0) return false;
    const fs::path file = dir_ / name;
    Command("ffmpeg -v error -y -f x11grab -video_size " + std::to_string(width) + "x" +
                std::to_string(height) + " -i " + display_ + "+" + std::to_string(x) + "," +
                std::to_string(y) + " -frames:v 1 " + Quote(file.string()),
            code);
    return code == 0 && test::ReadPng(file.string(), picture);
  }

  TDevBitmap Render(double time, int width, int height) const {
    const fs::path file = dir_ / ("render" + std::to_string(static_cast<int>(time)) + ".png");
    int code = -1;
    kivtest::CommandOutput(Quote(KIVVIEWER_PATH) + " -render " + Quote(file.string()) + " -time " +
                               std::to_string(time) + " -size " + std::to_string(width) + "x" +
                               std::to_string(height) + " " + Quote(Demo()) + " >/dev/null",
                           code);
    TDevBitmap picture;
    EXPECT_EQ(code, 0);
    EXPECT_TRUE(test::ReadPng(file.string(), picture));
    return picture;
  }

  static std::string Demo() { return std::string(KIV_BINARY_DIR) + "/demo/demo.KvShow"; }

  // Packs a one-slide show of 320 x 240 into dir_/name.KvShow.
  void PackOneSlideShow(const std::string& name, const std::string& mainKeys, const std::string& sections,
                        int slideMs = 60000) {
    const fs::path folder = dir_ / name;
    fs::create_directories(folder);
    testing_support::WriteProjectText(folder / "Project.kiv",
                                      "[main]\nKivVersion=window test\nMinorVersion=21\nopt_exefn=" + name +
                                          ".exe\nopt_scr_width=320\nopt_scr_height=240\nopt_scr_full=0\n"
                                          "opt_slidescount=1\nopt_synchpos1=" + std::to_string(slideMs) + "\n" +
                                          mainKeys + sections);
    ASSERT_TRUE(testing_support::PackShow(folder, (dir_ / (name + ".KvShow")).string()));
  }

  // A script beside the shows that adds its arguments, one a line after their count, to dir_/name.
  void WriteRecorder(const std::string& script, const std::string& name) const {
    const fs::path file = dir_ / script;
    std::ofstream(file) << "#!/bin/sh\nprintf '%s\\n' \"$#\" \"$@\" >> " + Quote((dir_ / name).string()) + "\n";
    fs::permissions(file, fs::perms::owner_all, fs::perm_options::add);
  }

  std::string Read(const fs::path& file) const {
    std::ifstream in(file);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }

  fs::path dir_;
  std::string display_, socket_;
  std::unique_ptr<TChild> xvfb_;
};

TEST_F(ShowWindow, PlaysTheDemoShowGoesToTheNextSlideOnRightAndEndsOnEscape) {
  ASSERT_TRUE(fs::exists(Demo())) << "the build packs the demo show";
  // The slides of the demo start every 4000 ms: the palace, the spider, the cat. Its window is 800 x 600.
  const TDevBitmap first = Render(1500, 800, 600);
  const TDevBitmap second = Render(5500, 800, 600);
  const TDevBitmap third = Render(9500, 800, 600);
  ASSERT_GT(GridDistance(first, second), 1000) << "the slides must look different for this test";
  ASSERT_GT(GridDistance(second, third), 1000) << "the slides must look different for this test";

  TChild viewer({KIVVIEWER_PATH, Demo()}, {"DISPLAY=" + display_}, dir_ / "viewer.log");
  ASSERT_GT(viewer.Pid(), 0);

  // Found by its process: xdotool cannot match SDL's UTF-8 titles by name.
  std::string window;
  ASSERT_TRUE(Eventually([&] {
    int code = -1;
    const std::string found =
        Command("xdotool search --onlyvisible --pid " + std::to_string(viewer.Pid()), code);
    window = found.substr(0, found.find('\n'));
    return code == 0 && !window.empty();
  })) << "no window";

  TDevBitmap shot;
  ASSERT_TRUE(Eventually([&] {
    return Screenshot(window, shot, "first.png") &&
           GridDistance(shot, first) * 4 < GridDistance(shot, second);
  })) << "the first slide did not show";

  int code = -1;
  Command("xdotool windowfocus --sync " + window + " key --clearmodifiers Right", code);
  EXPECT_EQ(code, 0);
  EXPECT_TRUE(Eventually([&] {
    return Screenshot(window, shot, "second.png") &&
           GridDistance(shot, second) * 4 < GridDistance(shot, first) &&
           GridDistance(shot, second) * 4 < GridDistance(shot, third);
  })) << "Right did not show the next slide";

  Command("xdotool windowfocus --sync " + window + " key --clearmodifiers Escape", code);
  EXPECT_EQ(viewer.WaitExit(std::chrono::seconds(30)), 0);
}

TEST_F(ShowWindow, APasswordProtectedShowOpensOnlyWithItsPassword) {
  const fs::path folder = dir_ / "guarded";
  fs::create_directories(folder);
  testing_support::WriteProjectText(folder / "Project.kiv",
                                    "[main]\nKivVersion=window test\nopt_exefn=guarded.exe\nopt_scr_width=320\nopt_scr_height=240\nopt_scr_full=0\n"
                                    "opt_scr_caption=Guarded\nopt_usepass=1\nopt_pass=Sesam\n"
                                    "opt_slidescount=1\nopt_synchpos1=60000\n[Slide1]\n");
  const std::string show = (dir_ / "guarded.KvShow").string();
  ASSERT_TRUE(testing_support::PackShow(folder, show));

  const struct {
    const char* typed;
    bool opens;
  } cases[] = {{"sesam", false}, {"Sesam", true}};
  for (const auto& c : cases) {
    TChild viewer({KIVVIEWER_PATH, show}, {"DISPLAY=" + display_}, dir_ / "guarded.log");
    ASSERT_GT(viewer.Pid(), 0);
    std::string dialog;
    ASSERT_TRUE(WindowNamed(viewer.Pid(), "Password required", dialog)) << c.typed << ": no password dialog";
    int code = -1;
    Command("xdotool windowfocus --sync " + dialog + " type --delay 20 " + Quote(c.typed), code);
    Command("xdotool windowfocus --sync " + dialog + " key --clearmodifiers Return", code);
    if (!c.opens) {
      EXPECT_EQ(viewer.WaitExit(std::chrono::seconds(30)), 0) << "a wrong password ends the program quietly";
      continue;
    }
    std::string window;
    ASSERT_TRUE(WindowNamed(viewer.Pid(), "Guarded", window)) << "the right password opens the show";
    Command("xdotool windowfocus --sync " + window + " key --clearmodifiers Escape", code);
    EXPECT_EQ(viewer.WaitExit(std::chrono::seconds(30)), 0);
  }
}

TEST_F(ShowWindow, ADialogMapsOnlyTheWindowThatTakesItsKeys) {
  // SDL may replace a window by another when it first draws into it; a window seen before that is gone
  // by the time someone types into it. The main window is still hidden while the password is asked for.
  PackOneSlideShow("asking", "opt_scr_caption=Asking\nopt_usepass=1\nopt_pass=Sesam\n", "[Slide1]\n");
  Display* observer = XOpenDisplay(display_.c_str());
  ASSERT_NE(observer, nullptr);
  XSelectInput(observer, DefaultRootWindow(observer), SubstructureNotifyMask);
  XSync(observer, False);

  TChild viewer({KIVVIEWER_PATH, (dir_ / "asking.KvShow").string()}, {"DISPLAY=" + display_},
                dir_ / "asking.log");
  ASSERT_GT(viewer.Pid(), 0);
  std::string dialog;
  const bool shown = WindowNamed(viewer.Pid(), "Password required", dialog);
  int code = -1;
  if (shown) Command("xdotool windowfocus --sync " + dialog + " key --clearmodifiers Escape", code);
  const int exitCode = viewer.WaitExit(std::chrono::seconds(30));

  XSync(observer, False);
  std::set<Window> mapped;
  while (XPending(observer) > 0) {
    XEvent event;
    XNextEvent(observer, &event);
    if (event.type == MapNotify) mapped.insert(event.xmap.window);
  }
  XCloseDisplay(observer);
  ASSERT_TRUE(shown) << "no password dialog";
  EXPECT_EQ(exitCode, 0) << "Escape on the dialog ends the program quietly";
  EXPECT_EQ(mapped.size(), 1u) << "windows the program showed";
}

TEST_F(ShowWindow, AShowThatEndsOpensTheShowItNamesInTheSameWindow) {
  // The first show closes at its end and names the second to run then; the second ends on Escape.
  const struct {
    const char* name;
    const char* keys;
  } shows[] = {
      {"first", "opt_scr_caption=First\nopt_repeat=close\nopt_synchpos1=800\nopt_runapponexit=2\n"
                "opt_runapponexitfn=second.KvShow\n"},
      {"second", "opt_scr_caption=Second\nopt_synchpos1=60000\n"},
  };
  for (const auto& show : shows) {
    const fs::path folder = dir_ / show.name;
    fs::create_directories(folder);
    testing_support::WriteProjectText(folder / "Project.kiv",
                                      std::string("[main]\nKivVersion=window test\nopt_exefn=") + show.name +
                                          ".exe\nopt_scr_width=320\nopt_scr_height=240\nopt_scr_full=0\n"
                                          "opt_slidescount=1\n" + show.keys + "[Slide1]\n");
    ASSERT_TRUE(testing_support::PackShow(folder, (dir_ / (std::string(show.name) + ".KvShow")).string()));
  }
  TChild viewer({KIVVIEWER_PATH, (dir_ / "first.KvShow").string()}, {"DISPLAY=" + display_}, dir_ / "first.log");
  ASSERT_GT(viewer.Pid(), 0);
  std::string window;
  ASSERT_TRUE(WindowNamed(viewer.Pid(), "First", window)) << "the first show plays";
  ASSERT_TRUE(WindowNamed(viewer.Pid(), "Second", window)) << "its end opened the second show";
  EXPECT_EQ(viewer.WaitExit(std::chrono::seconds(1)), -1) << "the program goes on with it";
  int code = -1;
  Command("xdotool windowfocus --sync " + window + " key --clearmodifiers Escape", code);
  EXPECT_EQ(viewer.WaitExit(std::chrono::seconds(30)), 0);
}

// A box over one half of a 320 x 240 slide with the action given.
std::string HalfBox(const std::string& name, bool left, const std::string& action) {
  return "object " + name + ": Box\n  Size=160,240\n  FillMode=Solid\n  Color1=255,0,0\n  Action=" + action +
         "\n  object : KeyPoint\n    Position=" + (left ? "-50" : "50") + ",0\n  end\nend\n";
}

TEST_F(ShowWindow, ASlideAndClickedObjectsRunTheirProgramsAndOpenTheirLinks) {
  // The slide starts the recorder once; the left box starts it again when clicked, the right one opens
  // an address through xdg-open, which a recorder on PATH stands in for.
  WriteRecorder("record.sh", "recorded");
  fs::create_directories(dir_ / "bin");
  WriteRecorder("bin/xdg-open", "opened");
  PackOneSlideShow("linked", "opt_scr_caption=Linked\n",
                   "[Slide1]\nUsePersonal=1\nPers_RunApp=1\nRunAppFN=record.sh started\n" +
                       HalfBox("Go", true, "runapp(\"record.sh clicked\")") +
                       HalfBox("Web", false, "openwebsite(\"example.org/a b,c\")"));
  const char* path = std::getenv("PATH");
  TChild viewer({KIVVIEWER_PATH, (dir_ / "linked.KvShow").string()},
                {"DISPLAY=" + display_, "PATH=" + (dir_ / "bin").string() + ":" + (path ? path : "")},
                dir_ / "linked.log");
  ASSERT_GT(viewer.Pid(), 0);
  std::string window;
  ASSERT_TRUE(WindowNamed(viewer.Pid(), "Linked", window));
  ASSERT_TRUE(Eventually([&] { return Read(dir_ / "recorded") == "1\nstarted\n"; }))
      << "the slide did not start its program: " << Read(dir_ / "recorded");
  // Clicks in the first second are not taken: click until one is.
  int code = -1;
  auto clickUntil = [&](int x, const std::string& file) {
    return Eventually([&] {
      Command("xdotool mousemove --window " + window + " " + std::to_string(x) + " 120 click 1", code);
      std::this_thread::sleep_for(std::chrono::milliseconds(500));
      return !Read(dir_ / file).empty() && Read(dir_ / file) != "1\nstarted\n";
    });
  };
  ASSERT_TRUE(clickUntil(80, "recorded")) << "a click on the box did not start its program";
  const std::string recorded = Read(dir_ / "recorded");
  EXPECT_EQ(recorded.substr(0, 20), "1\nstarted\n1\nclicked\n");
  EXPECT_EQ(recorded.find("started", 10), std::string::npos) << "the slide's program ran more than once";
  ASSERT_TRUE(clickUntil(240, "opened")) << "a click on the link did not open it";
  EXPECT_EQ(Read(dir_ / "opened").substr(0, 27), "1\nhttp://example.org/a b,c\n");
  Command("xdotool windowfocus --sync " + window + " key --clearmodifiers Escape", code);
  EXPECT_EQ(viewer.WaitExit(std::chrono::seconds(30)), 0);
}

TEST_F(ShowWindow, AShowOpenedWithReturnGoesBackToTheFirstOnEscape) {
  PackOneSlideShow("outer", "opt_scr_caption=Outer\n",
                   "[Slide1]\n" + HalfBox("Go", true, "runpresentationandreturn(\"inner.KvShow\")") +
                       HalfBox("Go2", false, "runpresentationandreturn(\"inner.KvShow\")"));
  PackOneSlideShow("inner", "opt_scr_caption=Inner\n", "[Slide1]\n");
  TChild viewer({KIVVIEWER_PATH, (dir_ / "outer.KvShow").string()}, {"DISPLAY=" + display_}, dir_ / "outer.log");
  ASSERT_GT(viewer.Pid(), 0);
  std::string window;
  ASSERT_TRUE(WindowNamed(viewer.Pid(), "Outer", window));
  int code = -1;
  ASSERT_TRUE(Eventually([&] {
    Command("xdotool mousemove --window " + window + " 160 120 click 1", code);
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    return Command("xdotool getwindowname " + window, code) == "Inner\n";
  })) << "a click did not open the other show";
  Command("xdotool windowfocus --sync " + window + " key --clearmodifiers Escape", code);
  ASSERT_TRUE(WindowNamed(viewer.Pid(), "Outer", window)) << "Escape went back to the first show";
  EXPECT_EQ(viewer.WaitExit(std::chrono::seconds(1)), -1) << "the program goes on with it";
  Command("xdotool windowfocus --sync " + window + " key --clearmodifiers Escape", code);
  EXPECT_EQ(viewer.WaitExit(std::chrono::seconds(30)), 0);
}

TEST_F(ShowWindow, ASlideThatNamesRmRunsNothingAndSaysSo) {
  const fs::path victim = dir_ / "victim";
  std::ofstream(victim) << "keep";
  PackOneSlideShow("refused", "opt_scr_caption=Refused\n",
                   "[Slide1]\nUsePersonal=1\nPers_RunApp=1\nRunAppFN=rm -f " + victim.string() + "\n");
  TChild viewer({KIVVIEWER_PATH, (dir_ / "refused.KvShow").string(), "-log"}, {"DISPLAY=" + display_},
                dir_ / "refused.log");
  ASSERT_GT(viewer.Pid(), 0);
  ASSERT_TRUE(Eventually([&] { return Read(dir_ / "refused.log").find("refused") != std::string::npos; }))
      << "the refusal was not logged";
  // The refusal box: SDL draws it with the X core fonts, which the virtual display lacks, so its text goes
  // to stderr instead. The show goes on and ends on Escape.
  EXPECT_TRUE(Eventually([&] {
    return Read(dir_ / "refused.log").find("Command line contains prohibited command and will not be performed.") !=
           std::string::npos;
  }));
  std::string window;
  ASSERT_TRUE(WindowNamed(viewer.Pid(), "Refused", window));
  int code = -1;
  Command("xdotool windowfocus --sync " + window + " key --clearmodifiers Escape", code);
  EXPECT_EQ(viewer.WaitExit(std::chrono::seconds(30)), 0);
  EXPECT_TRUE(fs::exists(victim));
}

TEST_F(ShowWindow, AShowThatEndsRunsTheProgramItNamesAndTheProgramEnds) {
  WriteRecorder("record.sh", "recorded");
  PackOneSlideShow("ending", "opt_scr_caption=Ending\nopt_repeat=close\nopt_runapponexit=1\n"
                   "opt_runapponexitfn=record.sh \"at the end\"\n", "[Slide1]\n", 800);
  TChild viewer({KIVVIEWER_PATH, (dir_ / "ending.KvShow").string()}, {"DISPLAY=" + display_}, dir_ / "ending.log");
  ASSERT_GT(viewer.Pid(), 0);
  EXPECT_EQ(viewer.WaitExit(std::chrono::seconds(30)), 0);
  EXPECT_TRUE(Eventually([&] { return Read(dir_ / "recorded") == "1\nat the end\n"; })) << Read(dir_ / "recorded");
}

TEST_F(ShowWindow, AStartUpWindowRunsTheShowOnEnterAndEndsBothProgramsOnEscape) {
  PackOneSlideShow("welcome", "opt_scr_caption=Main Show\nstw_show=1\nstw_caption=Welcome\n",
                   "[dialog_startup]\n[Slide1]\n");
  const struct {
    const char* key;
    bool runs;
  } cases[] = {{"Return", true}, {"Escape", false}};
  for (const auto& c : cases) {
    TChild viewer({KIVVIEWER_PATH, (dir_ / "welcome.KvShow").string()}, {"DISPLAY=" + display_},
                  dir_ / "welcome.log");
    ASSERT_GT(viewer.Pid(), 0);
    // The start-up window belongs to a child of the program, the one run with -startup: the program has
    // other children for a while (D-Bus's autolaunch forks one when there is no session bus).
    pid_t child = 0;
    ASSERT_TRUE(Eventually([&] {
      int code = -1;
      child = std::atoi(
          kivtest::CommandOutput("pgrep -P " + std::to_string(viewer.Pid()) + " -f ' -startup( |$)'", code)
              .c_str());
      return code == 0 && child > 0;
    })) << c.key << ": no start-up process";
    std::string startup, window;
    ASSERT_TRUE(WindowNamed(child, "Welcome", startup)) << c.key << ": no start-up window";
    int code = -1;
    Command("xdotool windowfocus --sync " + startup + " key --clearmodifiers " + c.key, code);
    if (!c.runs) {
      EXPECT_EQ(viewer.WaitExit(std::chrono::seconds(30)), 0) << "leaving the start-up window ends the program";
      continue;
    }
    ASSERT_TRUE(WindowNamed(viewer.Pid(), "Main Show", window)) << "Enter runs the show";
    Command("xdotool windowfocus --sync " + window + " key --clearmodifiers Escape", code);
    EXPECT_EQ(viewer.WaitExit(std::chrono::seconds(30)), 0);
  }
}

} // namespace
} // namespace kiv

namespace kiv {
namespace {

// The log lines "main window: position N ms" of a log file, N in order.
std::vector<int> LoggedPositions(const fs::path& log) {
  std::ifstream in(log);
  std::vector<int> positions;
  const std::string key = "main window: position ";
  for (std::string line; std::getline(in, line);)
    if (const size_t at = line.find(key); at != std::string::npos)
      positions.push_back(std::atoi(line.c_str() + at + key.size()));
  return positions;
}

TEST_F(ShowWindow, AClickOnTheVideoBarsTrackSeeksTheShow) {
  const std::string show = std::string(KIV_BINARY_DIR) + "/demo/video.KvShow";
  ASSERT_TRUE(fs::exists(show)) << "the build packs the video demo show";
  // The video demo: 640 x 360, slides of 20 s in red, green and blue. Its bar (40 high at the bottom, a
  // backward and a forward button) has the time track from x 114 to 406 with a 14-pixel knob: the
  // knob's centre travels 278 pixels from 121. x 353 is 60000 x 232 / 278 = 50072 ms, in the blue slide.
  const fs::path log = dir_ / "video.log";
  TChild viewer({KIVVIEWER_PATH, "-log", show}, {"DISPLAY=" + display_}, log);
  ASSERT_GT(viewer.Pid(), 0);
  std::string window;
  ASSERT_TRUE(Eventually([&] {
    int code = -1;
    const std::string found = Command("xdotool search --onlyvisible --pid " + std::to_string(viewer.Pid()), code);
    window = found.substr(0, found.find('\n'));
    return code == 0 && !window.empty();
  })) << "no window";

  auto centre = [&](TDevBitmap& shot, const char* name) {
    return Screenshot(window, shot, name) ? testing_support::PixelRgb(shot, shot.Width() / 2, shot.Height() / 3)
                                          : testing_support::TRgb{-1, -1, -1};
  };
  TDevBitmap shot;
  ASSERT_TRUE(Eventually([&] {
    const auto c = centre(shot, "red.png");
    return c.r > 150 && c.b < 100;
  })) << "the red slide did not show";

  int code = -1;
  // The bar fades in when the mouse moves and takes clicks once it shows; on a busy machine that can take
  // longer than the pause before the click, so the click is made again until the show moves.
  EXPECT_TRUE(Eventually([&] {
    Command("xdotool mousemove --window " + window + " 350 338 mousemove --window " + window +
                " 353 340 sleep 0.5 click 1",
            code);
    return Eventually(
        [&] {
          const std::vector<int> positions = LoggedPositions(log);
          return std::any_of(positions.begin(), positions.end(), [](int p) { return p >= 50000 && p < 59000; });
        },
        std::chrono::seconds(3));
  })) << "the position report did not move to about 50 s";
  EXPECT_TRUE(Eventually([&] {
    const auto c = centre(shot, "blue.png");
    return c.b > 150 && c.r < 100;
  })) << "the blue slide did not show";

  Command("xdotool windowfocus --sync " + window + " key --clearmodifiers Escape", code);
  EXPECT_EQ(viewer.WaitExit(std::chrono::seconds(30)), 0);
}

} // namespace
} // namespace kiv

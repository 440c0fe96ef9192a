// The kivviewer program as a user starts it: shows packed by the kivpack tool, found in each of the ways
// the program knows, reported through -info or drawn to a PNG with -render; failures reported on stderr
// with exit code 1.

#include "GLContext.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace kiv {
namespace {

namespace fs = std::filesystem;

struct TRun {
  int code = -1;
  std::string out;
  std::string err;
};

std::string Quote(const std::string& text) {
  return "'" + text + "'";
}

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

class KivViewerProgram : public ::testing::Test {
protected:
  void SetUp() override {
    root_ = fs::temp_directory_path() / ("kiv_viewer_" + std::to_string(::getpid()));
    fs::remove_all(root_);
    fs::create_directories(root_ / "project" / "pictures");
    Write("project/Project.kiv",
          "\xEF\xBB\xBF[Main]\r\nKivVersion=5.6 test\r\nopt_exefn=C:\\Shows\\trip.exe\r\n[slide1]\r\n");
    Write("project/pictures/a.bmp", "BM picture");
    Write("bare/Project.kiv", "[main]\r\nKivVersion=bare\r\n");
  }
  void TearDown() override { fs::remove_all(root_); }

  std::string Path(const std::string& relative) const { return (root_ / relative).string(); }
  void Write(const std::string& relative, const std::string& text) const {
    fs::create_directories(fs::path(Path(relative)).parent_path());
    std::ofstream(Path(relative), std::ios::binary) << text;
  }
  // Runs a command line without a display, so that error boxes go to stderr.
  TRun Run(const std::string& command) const {
    const std::string err = Path("stderr.txt");
    const std::string full = "env -u DISPLAY -u WAYLAND_DISPLAY " + command + " 2>" + Quote(err);
    TRun run;
    FILE* pipe = ::popen(full.c_str(), "r");
    if (!pipe) return run;
    char buffer[4096];
    for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
      run.out.append(buffer, n);
    const int status = ::pclose(pipe);
    run.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.err = ReadFile(err);
    return run;
  }
  void Pack(const std::string& dir, const std::string& out, const std::string& extra = "") const {
    fs::create_directories(fs::path(Path(out)).parent_path());
    ASSERT_EQ(
        Run(Quote(KIVPACK_PATH) + " create " + Quote(Path(dir)) + " -o " + Quote(Path(out)) + " " + extra)
            .code,
        0);
  }
  // The options lines default to those of the fixture projects: no slides, no transitions.
  static std::string Info(const std::string& show, const std::string& version, const std::string& project,
                          const std::string& start, const std::string& options = kNoOptions) {
    return "show: " + show + "\nversion: " + version + "\nproject: " + project + "\nstart: " + start + "\n" +
           options;
  }
  static constexpr const char* kNoOptions =
      "slides: 0\nrepeat: repeat\ntransitions: off\ntransition time: 0\nscreensaver: no\norder: \n"
      "slide transitions: \n";
  // The lines after "start:".
  static std::string OptionLines(const std::string& out) {
    const size_t start = out.find("\nslides: ");
    return start == std::string::npos ? "" : out.substr(start + 1);
  }

  fs::path root_;
};

TEST_F(KivViewerProgram, AProgramWithItsShowAppendedFindsItWithoutArguments) {
  Pack("project", "myshow", "--prefix " + Quote(KIVVIEWER_PATH));
  const TRun run = Run(Quote(Path("myshow")) + " -info");
  EXPECT_EQ(run.code, 0) << run.err;
  EXPECT_EQ(run.out, Info(Path("myshow"), "5.6 test", "Project.kiv", "slide 1"));
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(Run(Quote(Path("myshow")) + " -info -time 2500").out,
            Info(Path("myshow"), "5.6 test", "Project.kiv", "time 2500"));
}

TEST_F(KivViewerProgram, PackedShowsAreFoundByNameBesideAProgramAndInBundles) {
  Pack("project", "trip.KvShow");
  Pack("project", "Trip.app/Contents/Resources/slideshow.dat");
  fs::copy_file(Path("trip.KvShow"), Path("named.show"));
  const struct { std::string name; } cases[] = {{"named.show"}, {"missing-program.exe"}, {"Trip.app"}};
  fs::copy_file(Path("trip.KvShow"), Path("missing-program.KvShow"));
  for (const auto& c : cases) {
    const TRun run = Run(Quote(KIVVIEWER_PATH) + " -exename " + Quote(Path(c.name)) + " -slide 3 -info");
    EXPECT_EQ(run.code, 0) << c.name << run.err;
    EXPECT_EQ(run.out, Info(Path(c.name), "5.6 test", "Project.kiv", "slide 3")) << c.name;
  }
}

TEST_F(KivViewerProgram, AProjectFileOnDiskStandsForTheProgramItWasAuthoredFor) {
  const TRun run = Run(Quote(KIVVIEWER_PATH) + " -filename " + Quote(Path("project/Project.kiv")) + " -info");
  EXPECT_EQ(run.code, 0) << run.err;
  EXPECT_EQ(run.out, Info("C:\\Shows\\trip.exe", "5.6 test", Path("project/Project.kiv"), "slide 1"));
}

TEST_F(KivViewerProgram, FailuresPrintTheirTextsAndEndWithCode1) {
  const struct {
    std::string args;
    std::string err;
  } cases[] = {
      {"-exename " + Quote(Path("none.exe")),
       "Slideshow File not Found\n\"" + Path("none.exe") + "\" or \"" + Path("none.KvShow") + "\"\n"},
      {"-filename " + Quote(Path("none/Project.kiv")),
       "Can`t Load .kiv File\n\"" + Path("none/Project.kiv") + "\"\n"},
  };
  for (const auto& c : cases) {
    const TRun run = Run(Quote(KIVVIEWER_PATH) + " " + c.args + " -info");
    EXPECT_EQ(run.code, 1) << c.args;
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, c.err);
  }
  // The program itself carries no show.
  const TRun bare = Run(Quote(KIVVIEWER_PATH));
  EXPECT_EQ(bare.code, 1);
  EXPECT_NE(bare.err.find("\" or \""), std::string::npos) << bare.err;
}

// A damaged show is refused with its message, however it was damaged, before anything plays.
TEST_F(KivViewerProgram, ADamagedShowIsRefusedWithItsMessage) {
  Write("damaged/Project.kiv", "[main]\r\nopt_exefn=d.exe\r\nopt_slidescount=1\r\n");
  Pack("damaged", "whole.KvShow");
  std::ifstream in(Path("whole.KvShow"), std::ios::binary);
  const std::string whole((std::istreambuf_iterator<char>(in)), {});
  ASSERT_GT(whole.size(), 40u);
  std::string flipped = whole;
  for (size_t i = whole.size() / 2; i < whole.size() / 2 + 8; ++i)
    flipped[i] = 'X';
  const struct {
    const char* name;
    std::string bytes;
    std::string message;
  } cases[] = {
      {"cut.KvShow", whole.substr(0, whole.size() - 5), "Can`t Load Show"},
      {"flipped.KvShow", flipped, "Slide-show File Damaged"},
      {"noise.KvShow", std::string(3000, '\x5a'), "Can`t Load Show"},
  };
  for (const auto& c : cases) {
    Write(c.name, c.bytes);
    for (const char* mode : {" -info ", " "}) {
      const TRun run = Run(Quote(KIVVIEWER_PATH) + mode + Quote(Path(c.name)));
      EXPECT_EQ(run.code, 1) << c.name << mode;
      EXPECT_EQ(run.out, "") << c.name << mode;
      EXPECT_EQ(run.err, c.message + "\n\"" + Path(c.name) + "\" or \"" + Path(c.name) + "\"\n")
          << c.name << mode;
    }
  }
}

TEST_F(KivViewerProgram, WithoutADisplayPlayingSaysSoInOneLine) {
  Pack("project", "packed/trip.KvShow");
  const std::string show = Quote(Path("packed/trip.KvShow"));
  // Run() takes the display away; the second case names one that is not there.
  const struct {
    std::string prefix;
    std::string err;
  } cases[] = {
      {"", "kivviewer: no display: neither DISPLAY nor WAYLAND_DISPLAY is set\n"},
      {"env DISPLAY=:4711 ", "kivviewer: cannot open the display \":4711\"\n"},
  };
  for (const auto& c : cases) {
    const TRun run = Run(c.prefix + Quote(KIVVIEWER_PATH) + " " + show);
    EXPECT_EQ(run.code, 1) << c.prefix;
    EXPECT_EQ(run.err, c.err) << c.prefix;
  }
  // What needs no display keeps working.
  EXPECT_EQ(Run(Quote(KIVVIEWER_PATH) + " -info " + show).code, 0);
}

TEST_F(KivViewerProgram, APackedShowWithoutAuthoredProgramIsReportedAndStillOpens) {
  Pack("bare", "bare.KvShow");
  const TRun run = Run(Quote(KIVVIEWER_PATH) + " -exename " + Quote(Path("bare.KvShow")) + " -info");
  EXPECT_EQ(run.code, 0);
  EXPECT_EQ(run.err, "opt_exefn - Empty\n");
  EXPECT_EQ(run.out, Info(Path("bare.KvShow"), "bare", "Project.kiv", "slide 1"));
}

TEST_F(KivViewerProgram, InfoPrintsTheShowsOptions) {
  const struct {
    std::string keys;
    std::string lines;
  } cases[] = {
      {"opt_slidescount=3\r\nopt_repeat=stop\r\nopt_fx_enable=1\r\nopt_fx_time=1200\r\nopt_fx_eff3=1A\r\n",
       "slides: 3\nrepeat: stop\ntransitions: on\ntransition time: 1200\nscreensaver: no\norder: 1 2 3\n"
       // Random draws are those of -render and -export, the same every run: by position through the
       // group's characters.
       "slide transitions: 1:fade/9 2:fade 3:fade/9\n"},
      // Only the lower-case word counts; enabled transitions with a time of 0 are off.
      {"opt_slidescount=2\r\nopt_repeat=Close\r\nopt_fx_enable=1\r\nopt_fx_time=0\r\nopt_fx_eff3=1\r\n",
       "slides: 2\nrepeat: repeat\ntransitions: off\ntransition time: 0\nscreensaver: no\norder: 1 2\n"
       "slide transitions: 1:none 2:none\n"},
      {"opt_slidescount=1\r\nopt_repeat=close\r\nopt_fx_enable=0\r\nopt_fx_time=900\r\nopt_fx_eff3=1\r\n",
       "slides: 1\nrepeat: close\ntransitions: off\ntransition time: 0\nscreensaver: no\norder: 1\n"
       "slide transitions: 1:none\n"},
      // Each slide's own: none, a class with its type letter, a custom transition by its number.
      {"opt_slidescount=5\r\nopt_fx_enable=1\r\nopt_fx_time=700\r\nopt_fx_eff3=1\r\n"
       "opt_fx_custom_count=1\r\nopt_fx_custom0=fx\\swirl.kiv\r\n"
       "[Slide1]\r\nUsePersonal=1\r\nPers_Effect=1\r\nEffect_Class=0\r\n"
       "[Slide2]\r\nUsePersonal=1\r\nPers_Effect=1\r\nEffect_Class=2\r\nEffectTime=500\r\n"
       "[Slide3]\r\nUsePersonal=1\r\nPers_Effect=1\r\nEffect_Class=12\r\nEffect_Type=3\r\nEffectTime=500\r\n"
       "[Slide4]\r\nUsePersonal=1\r\nPers_Effect=1\r\nEffect_Class=18\r\nEffect_Type=0\r\nEffectTime=500\r\n"
       "[Slide5]\r\nUsePersonal=1\r\nPers_Effect=1\r\nEffect_Class=16\r\nEffect_Type=C\r\nEffectTime=500\r\n",
       "slides: 5\nrepeat: repeat\ntransitions: on\ntransition time: 700\nscreensaver: no\norder: 1 2 3 4 5\n"
       "slide transitions: 1:none 2:fade 3:push/3 4:custom/0 5:flip/11\n"},
  };
  for (const auto& c : cases) {
    Write("options/Project.kiv", "[main]\r\nKivVersion=o\r\nopt_exefn=show.exe\r\n" + c.keys);
    Pack("options", "options.KvShow");
    const TRun run = Run(Quote(KIVVIEWER_PATH) + " -exename " + Quote(Path("options.KvShow")) + " -info");
    EXPECT_EQ(run.code, 0) << run.err;
    EXPECT_EQ(OptionLines(run.out), c.lines) << c.keys;
  }
}

TEST_F(KivViewerProgram, ARandomOrderPlaysEverySlideOnce) {
  Write("random/Project.kiv", "[main]\r\nopt_exefn=r.exe\r\nProjectFilePath=C:\\Shows\\r.kiv\r\nopt_"
                              "slidescount=12\r\nopt_random=1\r\n");
  Pack("random", "random.KvShow");
  const TRun run = Run(Quote(KIVVIEWER_PATH) + " -exename " + Quote(Path("random.KvShow")) + " -info");
  EXPECT_EQ(run.code, 0) << run.err;
  const std::string lines = OptionLines(run.out);
  const size_t order = lines.find("order: ");
  ASSERT_NE(order, std::string::npos) << run.out;
  std::istringstream numbers(lines.substr(order + 7));
  std::vector<int> slides;
  for (int n; numbers >> n;)
    slides.push_back(n);
  std::sort(slides.begin(), slides.end());
  EXPECT_EQ(slides, (std::vector<int>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12})) << lines;
}

TEST_F(KivViewerProgram, AProgramNamedScrRunsItsShowAsAScreenSaver) {
  Write("saver/Project.kiv", "[main]\r\nopt_exefn=s.exe\r\nopt_slidescount=2\r\nopt_repeat=stop\r\n");
  Pack("saver", "Saver.SCR", "--prefix " + Quote(KIVVIEWER_PATH));
  const TRun run = Run(Quote(Path("Saver.SCR")) + " /s -info");
  EXPECT_EQ(run.code, 0) << run.err;
  EXPECT_EQ(OptionLines(run.out),
            "slides: 2\nrepeat: repeat\ntransitions: off\ntransition time: 0\nscreensaver: yes\norder: 1 2\n"
            "slide transitions: 1:none 2:none\n");
  // Started without "/s" (say, opened from a file manager) it ends at once without a word; with "/s" it
  // goes on to play, which needs a display here.
  const TRun opened = Run(Quote(Path("Saver.SCR")));
  EXPECT_EQ(opened.code, 0);
  EXPECT_EQ(opened.err, "");
  const TRun started = Run(Quote(Path("Saver.SCR")) + " /s");
  EXPECT_EQ(started.code, 1);
  EXPECT_EQ(started.err, "kivviewer: no display: neither DISPLAY nor WAYLAND_DISPLAY is set\n");
}

TEST_F(KivViewerProgram, HelpAndVersion) {
  const TRun help = Run(Quote(KIVVIEWER_PATH) + " --help");
  EXPECT_EQ(help.code, 0);
  EXPECT_EQ(help.out.rfind("usage: kivviewer", 0), 0u);
  const TRun version = Run(Quote(KIVVIEWER_PATH) + " --version");
  EXPECT_EQ(version.code, 0);
  EXPECT_EQ(version.out.rfind("kivviewer ", 0), 0u);
  // Each library that matters on a line of its own, with a release number.
  for (const char* library : {"SDL", "FFmpeg", "libjpeg-turbo", "FreeType", "libpng", "zlib"})
    EXPECT_TRUE(std::regex_search(version.out, std::regex("\n" + std::string(library) + " [0-9]+\\.[0-9]+")))
        << library << " missing from:\n" << version.out;
}

// Width and height from a PNG's header; (0, 0) when the file is no PNG.
std::pair<int, int> PngSize(const std::string& path) {
  const std::string bytes = ReadFile(path);
  if (bytes.size() < 24 || bytes.compare(0, 8, "\x89PNG\r\n\x1a\n") != 0) return {0, 0};
  auto word = [&](size_t at) {
    int value = 0;
    for (size_t i = 0; i < 4; ++i)
      value = value << 8 | static_cast<unsigned char>(bytes[at + i]);
    return value;
  };
  return {word(16), word(20)};
}

constexpr const char* kDrawnProject =
    "[main]\r\nopt_exefn=d.exe\r\nopt_scr_width=160\r\nopt_scr_height=120\r\n"
    "opt_slidescount=2\r\nopt_synchpos1=1000\r\nopt_synchpos2=2000\r\n"
    "[Slide1]\r\nobject B: Box\r\n  Size=10,10\r\nend\r\n";

TEST_F(KivViewerProgram, RenderWritesTheFrameOfTheShowFoundAsForPlaying) {
  std::string whyNot;
  if (!HeadlessGLAvailable(&whyNot)) GTEST_SKIP() << "no headless EGL display, GL tests skipped: " << whyNot;
  Write("drawn/Project.kiv", kDrawnProject);
  Write("nosize/Project.kiv", "[main]\r\nopt_exefn=n.exe\r\nMinorVersion=12\r\nopt_slidescount=1\r\n"
                              "opt_synchpos1=1000\r\n[Slide1]\r\n");
  Pack("drawn", "prog", "--prefix " + Quote(KIVVIEWER_PATH));
  Pack("drawn", "drawn.KvShow");
  Pack("nosize", "nosize.KvShow");
  const std::string viewer = Quote(KIVVIEWER_PATH);
  const struct {
    std::string command;
    int width, height;
  } cases[] = {
      // A show program draws its own show, at the show's design size.
      {Quote(Path("prog")) + " -render " + Quote(Path("out.png")), 160, 120},
      {viewer + " -render " + Quote(Path("out.png")) + " -time 1500 -size 64x48 " + Quote(Path("prog")), 64,
       48},
      {viewer + " -render " + Quote(Path("out.png")) + " -exename " + Quote(Path("drawn")) + " -slide 2", 160,
       120},
      {viewer + " -render " + Quote(Path("out.png")) + " " + Quote(Path("drawn/Project.kiv")), 160, 120},
      // A show without a design size (of an old version, which allows it).
      {viewer + " -render " + Quote(Path("out.png")) + " " + Quote(Path("nosize.KvShow")), 800, 600},
      // One number: the longer side, the proportions of the design size kept (as thumbnailers ask).
      {viewer + " -render " + Quote(Path("out.png")) + " -size 80 " + Quote(Path("drawn.KvShow")), 80, 60},
      {viewer + " -render " + Quote(Path("out.png")) + " -size 100 " + Quote(Path("nosize.KvShow")), 100, 75},
  };
  for (const auto& c : cases) {
    fs::remove(Path("out.png"));
    const TRun run = Run(c.command);
    EXPECT_EQ(run.code, 0) << c.command << "\n" << run.err;
    EXPECT_EQ(run.err, "") << c.command;
    EXPECT_EQ(run.out.rfind("rendered: " + Path("out.png") + " (", 0), 0u) << run.out;
    EXPECT_EQ(PngSize(Path("out.png")), std::make_pair(c.width, c.height)) << c.command;
  }
  const TRun self = Run(Quote(Path("prog")) + " -render " + Quote(Path("self.png")) + " -time 250");
  EXPECT_EQ(self.out, "rendered: " + Path("self.png") + " (160 x 120, 250 ms)\n");
}

TEST_F(KivViewerProgram, RenderRefusesBadArgumentsAndReportsShowFailures) {
  Write("drawn/Project.kiv", kDrawnProject);
  Pack("drawn", "drawn.KvShow");
  const std::string render = Quote(KIVVIEWER_PATH) + " -render " + Quote(Path("out.png"));
  const std::string show = " " + Quote(Path("drawn.KvShow"));
  const struct {
    std::string command;
    std::string err; // the start of stderr
  } cases[] = {
      {Quote(KIVVIEWER_PATH) + " -render", "kivviewer: -render wants the name of the PNG file to write\n"},
      {render + " -size 0x10" + show, "kivviewer: -size wants WIDTHxHEIGHT"},
      {render + " -size 0" + show, "kivviewer: -size wants WIDTHxHEIGHT"},
      {render + " -size 9000" + show, "kivviewer: -size wants WIDTHxHEIGHT"},
      {render + " -size 64px" + show, "kivviewer: -size wants WIDTHxHEIGHT"},
      {render + " -size 9000x10" + show, "kivviewer: -size wants WIDTHxHEIGHT"},
      {render + " -time soon" + show, "kivviewer: -time wants milliseconds"},
      {render + " -time -5" + show, "kivviewer: -time wants milliseconds"},
      {render + show + " " + Quote(Path("other.KvShow")), "kivviewer: -render takes one show"},
      {render + " " + Quote(Path("none.KvShow")),
       "Slideshow File not Found\n\"" + Path("none.KvShow") + "\""},
      {render + " " + Quote(Path("none/Project.kiv")), "Can`t Load .kiv File\n"},
  };
  for (const auto& c : cases) {
    const TRun run = Run(c.command);
    EXPECT_EQ(run.code, 1) << c.command;
    EXPECT_EQ(run.err.rfind(c.err, 0), 0u) << c.command << "\n" << run.err;
    EXPECT_EQ(run.out, "") << c.command;
    EXPECT_FALSE(fs::exists(Path("out.png"))) << c.command;
  }
}

TEST_F(KivViewerProgram, RenderFailuresAfterTheShowOpenedLeaveNoPicture) {
  std::string whyNot;
  if (!HeadlessGLAvailable(&whyNot)) GTEST_SKIP() << "no headless EGL display, GL tests skipped: " << whyNot;
  Write("empty/Project.kiv", "[main]\r\nopt_exefn=e.exe\r\nopt_scr_width=64\r\nopt_scr_height=48\r\n");
  Write("drawn/Project.kiv", kDrawnProject);
  Pack("empty", "empty.KvShow");
  Pack("drawn", "drawn.KvShow");
  const struct {
    std::string out, show, err;
  } cases[] = {
      {Path("out.png"), Path("empty.KvShow"), "No Slides in Presentation\n"},
      {Path("no-such-folder/out.png"), Path("drawn.KvShow"),
       "kivviewer: cannot write \"" + Path("no-such-folder/out.png") + "\"\n"},
  };
  for (const auto& c : cases) {
    const TRun run = Run(Quote(KIVVIEWER_PATH) + " -render " + Quote(c.out) + " " + Quote(c.show));
    EXPECT_EQ(run.code, 1) << c.show;
    EXPECT_EQ(run.err, c.err);
    EXPECT_EQ(run.out, "");
    EXPECT_FALSE(fs::exists(c.out));
  }
}

} // namespace
} // namespace kiv

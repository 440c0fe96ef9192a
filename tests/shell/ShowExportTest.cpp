// kivviewer -export on a show packed with kivpack: every frame of the lossless video is the still that
// -render draws at that frame's time, the video and its sound last as long as the show, and failures
// leave nothing behind.

#include "../audio/ChannelTestSupport.h"
#include "GoldenImage.h"
#include "ShowTestSupport.h"
#include "TestEnvironment.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <set>

namespace kiv {
namespace {

namespace fs = std::filesystem;
using namespace kiv::testing_support;

// Three slides of 400 ms in three colours; on each a white box crosses the slide, so that every frame
// shows the time it was drawn at.
constexpr const char* kProject = R"([main]
KivVersion=export test
opt_exefn=export.exe
opt_scr_width=320
opt_scr_height=240
opt_slidescount=3
opt_repeat=close
opt_synchpos1=400
opt_synchpos2=800
opt_synchpos3=1200
[Slide1]
UsePersonal=1
Pers_Fon=1
bstyle=1
bname=3942430
object Runner: Box
  Size=40,40
  FillMode=Solid
  Color1=255,255,255
  object : KeyPoint
    Time=0
    ScaleX=30
    ScaleY=30
    Position=-80,0
  end
  object : KeyPoint
    Time=400
    ScaleX=30
    ScaleY=30
    Position=80,0
  end
end
[Slide2]
UsePersonal=1
Pers_Fon=1
bstyle=1
bname=2626650
object Runner: Box
  Size=40,40
  FillMode=Solid
  Color1=255,255,0
  object : KeyPoint
    Time=0
    ScaleX=30
    ScaleY=30
    Position=0,-80
  end
  object : KeyPoint
    Time=400
    ScaleX=30
    ScaleY=30
    Position=0,80
  end
end
[Slide3]
UsePersonal=1
Pers_Fon=1
bstyle=1
bname=5263360
object Runner: Box
  Size=40,40
  FillMode=Solid
  Color1=0,255,255
  object : KeyPoint
    Time=0
    ScaleX=30
    ScaleY=30
    Position=80,80
  end
  object : KeyPoint
    Time=400
    ScaleX=30
    ScaleY=30
    Position=-80,-80
  end
end
)";

struct TRun {
  int code = -1;
  std::string out;
  std::string err;
};

std::string Quote(const std::string& text) {
  return "'" + text + "'";
}

TRun Viewer(const fs::path& dir, const std::string& arguments) {
  const fs::path err = dir / "stderr.txt";
  const std::string command = "env -u DISPLAY -u WAYLAND_DISPLAY " + Quote(KIVVIEWER_PATH) + " " + arguments +
                              " 2>" + Quote(err.string());
  TRun run;
  run.out = kivtest::CommandOutput(command, run.code);
  std::ifstream in(err, std::ios::binary);
  run.err.assign(std::istreambuf_iterator<char>(in), {});
  fs::remove(err);
  return run;
}

bool HaveTool(const char* name) {
  int code = -1;
  kivtest::CommandOutput(std::string("command -v ") + name + " >/dev/null", code);
  return code == 0;
}

// Peak signal-to-noise ratio of two 32-bit pictures over their red, green and blue channels.
double Psnr(const TDevBitmap& a, const TDevBitmap& b) {
  if (a.Width() != b.Width() || a.Height() != b.Height()) return 0;
  double sum = 0;
  for (int y = 0; y < a.Height(); ++y)
    for (int x = 0; x < a.Width(); ++x) {
      const uint32_t p = a.Pixel32(x, y), q = b.Pixel32(x, y);
      for (int shift : {0, 8, 16}) {
        const double d = static_cast<double>((p >> shift) & 0xFF) - static_cast<double>((q >> shift) & 0xFF);
        sum += d * d;
      }
    }
  const double mse = sum / (3.0 * a.Width() * a.Height());
  return mse == 0 ? 99 : 10 * std::log10(255.0 * 255.0 / mse);
}

double ProbeDuration(const fs::path& file) {
  int code = -1;
  const std::string out = kivtest::CommandOutput(
      "ffprobe -v error -show_entries format=duration -of default=nw=1:nk=1 " + Quote(file.string()), code);
  return code == 0 ? std::atof(out.c_str()) : -1;
}

std::set<std::string> Listing(const fs::path& dir) {
  std::set<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir))
    names.insert(entry.path().filename().string());
  return names;
}

class ShowExport : public ::testing::Test {
protected:
  static void SetUpTestSuite() {
    root_ = kivtest::FreshTempDir("show_export");
    const fs::path show = root_ / "show";
    fs::create_directories(show);
    WriteProjectText(show / "Project.kiv", kProject);
    packed_ = PackShow(show, Show());
  }
  static std::string Show() { return (root_ / "export.KvShow").string(); }

  void SetUp() override {
    std::string whyNot;
    if (!HeadlessGLAvailable(&whyNot))
      GTEST_SKIP() << "no headless EGL display, export tests skipped: " << whyNot;
    if (!HaveTool("ffmpeg") || !HaveTool("ffprobe"))
      GTEST_SKIP()
          << "ffmpeg and ffprobe are needed to read the exported files (scripts/setup.sh installs them)";
    ASSERT_TRUE(packed_);
    dir_ = kivtest::FreshTempDir("show_export_case");
  }

  // The project text packed as NAME.KvShow in the case's folder; empty when packing failed.
  std::string PackProject(const std::string& name, const std::string& project) const {
    const fs::path folder = dir_ / name;
    fs::create_directories(folder);
    WriteProjectText(folder / "Project.kiv", project);
    const std::string show = (dir_ / (name + ".KvShow")).string();
    return PackShow(folder, show) ? show : std::string();
  }

  static inline fs::path root_;
  static inline bool packed_ = false;
  fs::path dir_;
};

TEST_F(ShowExport, EveryFrameOfTheLosslessVideoIsTheStillAtItsTime) {
  const fs::path video = dir_ / "show.mkv";
  const TRun run =
      Viewer(dir_, "-export " + Quote(video.string()) + " -fps 20 -size 160x120 " + Quote(Show()));
  ASSERT_EQ(run.code, 0) << run.err;
  EXPECT_EQ(run.out, "exported: " + video.string() + " (1200 ms, 24 frames)\n");
  EXPECT_EQ(run.err, "");
  EXPECT_NEAR(ProbeDuration(video), 1.2, 0.001) << "as long as the show";

  // Frames at the start, inside slides, just after each change of slide, and the last one.
  for (int k : {0, 3, 7, 8, 12, 16, 17, 23}) {
    const double time = k * 50.0;
    const fs::path frame = dir_ / ("frame" + std::to_string(k) + ".png");
    const fs::path still = dir_ / ("still" + std::to_string(k) + ".png");
    int code = -1;
    kivtest::CommandOutput("ffmpeg -v error -y -i " + Quote(video.string()) + " -vf 'select=eq(n\\," +
                               std::to_string(k) + ")' -frames:v 1 " + Quote(frame.string()),
                           code);
    ASSERT_EQ(code, 0) << k;
    const TRun render = Viewer(dir_, "-render " + Quote(still.string()) + " -time " + std::to_string(time) +
                                         " -size 160x120 " + Quote(Show()));
    ASSERT_EQ(render.code, 0) << render.err;
    TDevBitmap exported, drawn;
    ASSERT_TRUE(test::ReadPng(frame.string(), exported)) << k;
    ASSERT_TRUE(test::ReadPng(still.string(), drawn)) << k;
    EXPECT_GT(Psnr(exported, drawn), 35) << "frame " << k << " at " << time << " ms";
  }
  // A frame is not any frame: the box moved between two frames of one slide.
  TDevBitmap first, later;
  ASSERT_TRUE(test::ReadPng((dir_ / "frame0.png").string(), first));
  ASSERT_TRUE(test::ReadPng((dir_ / "frame3.png").string(), later));
  EXPECT_LT(Psnr(first, later), 30);
}

// The engine draws a transition as -render does: the same show with a fade of 200 ms into its second
// slide, exported, shows the mix of both slides half way through the fade.
TEST_F(ShowExport, AFrameInsideATransitionIsTheStillAtItsTime) {
  std::string project = kProject;
  project.replace(project.find("opt_slidescount=3"), 17, "opt_slidescount=3\nopt_fx_enable=1\nopt_fx_time=200\nopt_fx_eff1=1");
  const size_t slide2 = project.find("[Slide2]\n") + 9;
  project.insert(slide2, "Pers_Effect=1\nEffect_Class=2\nEffect_Type=1\nEffectTime=200\n");
  const std::string show = PackProject("fade", project);
  ASSERT_FALSE(show.empty());

  const fs::path video = dir_ / "fade.mkv";
  const TRun run = Viewer(dir_, "-export " + Quote(video.string()) + " -fps 20 -size 160x120 " + Quote(show));
  ASSERT_EQ(run.code, 0) << run.err;
  TDevBitmap frames[3], stills[3];
  const int ks[3] = {7, 10, 13}; // before the fade, half way, after it
  for (int i = 0; i < 3; ++i) {
    const fs::path frame = dir_ / ("fade_frame" + std::to_string(ks[i]) + ".png");
    const fs::path still = dir_ / ("fade_still" + std::to_string(ks[i]) + ".png");
    int code = -1;
    kivtest::CommandOutput("ffmpeg -v error -y -i " + Quote(video.string()) + " -vf 'select=eq(n\\," +
                               std::to_string(ks[i]) + ")' -frames:v 1 " + Quote(frame.string()),
                           code);
    ASSERT_EQ(code, 0);
    const TRun render = Viewer(dir_, "-render " + Quote(still.string()) + " -time " +
                                         std::to_string(ks[i] * 50) + " -size 160x120 " + Quote(show));
    ASSERT_EQ(render.code, 0) << render.err;
    ASSERT_TRUE(test::ReadPng(frame.string(), frames[i]));
    ASSERT_TRUE(test::ReadPng(still.string(), stills[i]));
    EXPECT_GT(Psnr(frames[i], stills[i]), 35) << "frame " << ks[i];
  }
  // A corner the boxes never reach: the first slide's colour, half of each, then the second's. A cut
  // would show one of them half way.
  auto near = [](uint32_t pixel, int r, int g, int b) {
    return std::abs(int((pixel >> 16) & 0xFF) - r) <= 8 && std::abs(int((pixel >> 8) & 0xFF) - g) <= 8 &&
           std::abs(int(pixel & 0xFF) - b) <= 8;
  };
  EXPECT_TRUE(near(frames[0].Pixel32(2, 2), 30, 40, 60)) << std::hex << frames[0].Pixel32(2, 2);
  EXPECT_TRUE(near(frames[1].Pixel32(2, 2), 60, 30, 50)) << std::hex << frames[1].Pixel32(2, 2);
  EXPECT_TRUE(near(frames[2].Pixel32(2, 2), 90, 20, 40)) << std::hex << frames[2].Pixel32(2, 2);
}

// A frame wider than the show's design leaves bands beside the slide in the show's band colour, and a
// show that asks for sharpening gets it: the export and the still agree on both.
TEST_F(ShowExport, BandsAndSharpeningAreThoseOfTheStill) {
  std::string project = kProject;
  // Bands in red (a colour reference: red in its low byte); strong sharpening.
  project.replace(
      project.find("opt_slidescount=3"), 17,
      "opt_slidescount=3\nopt_scr_hidercolor=255\nopt_scr_unsharpamount=3\nopt_scr_unsharpthreshold=0");
  const std::string show = PackProject("bands", project);
  ASSERT_FALSE(show.empty());
  const fs::path plainFolder = dir_ / "plain";
  fs::create_directories(plainFolder);
  WriteProjectText(plainFolder / "Project.kiv", kProject);

  const fs::path video = dir_ / "bands.mkv";
  const TRun run =
      Viewer(dir_, "-export " + Quote(video.string()) + " -fps 10 -to 400 -size 240x120 " + Quote(show));
  ASSERT_EQ(run.code, 0) << run.err;
  const fs::path frame = dir_ / "bands_frame.png", still = dir_ / "bands_still.png",
                 plain = dir_ / "plain.png";
  int code = -1;
  kivtest::CommandOutput("ffmpeg -v error -y -i " + Quote(video.string()) +
                             " -vf 'select=eq(n\\,2)' -frames:v 1 " + Quote(frame.string()),
                         code);
  ASSERT_EQ(code, 0);
  ASSERT_EQ(Viewer(dir_, "-render " + Quote(still.string()) + " -time 200 -size 240x120 " + Quote(show)).code,
            0);
  ASSERT_EQ(Viewer(dir_, "-render " + Quote(plain.string()) + " -time 200 -size 240x120 " +
                             Quote((plainFolder / "Project.kiv").string()))
                .code,
            0);
  TDevBitmap exported, drawn, unsharpened;
  ASSERT_TRUE(test::ReadPng(frame.string(), exported));
  ASSERT_TRUE(test::ReadPng(still.string(), drawn));
  ASSERT_TRUE(test::ReadPng(plain.string(), unsharpened));
  EXPECT_GT(Psnr(exported, drawn), 35);
  // The 4:3 slide fills 160 of the 240 columns: the bands lie left and right of it.
  for (const TDevBitmap* picture : {&exported, &drawn}) {
    EXPECT_EQ(picture->Pixel32(5, 60) & 0xFFFFFF, 0xFF0000u) << std::hex << picture->Pixel32(5, 60);
    EXPECT_EQ(picture->Pixel32(234, 60) & 0xFFFFFF, 0xFF0000u) << std::hex << picture->Pixel32(234, 60);
  }
  EXPECT_EQ(unsharpened.Pixel32(5, 60) & 0xFFFFFF, 0u) << "bands are black unless the show says otherwise";
  // Sharpening raises the contrast at the box's edges: the still is no longer the plain slide.
  EXPECT_LT(Psnr(drawn, unsharpened), 40);
}

// A slide without a transition of its own draws one at random from the show's groups: an export draws
// the one that still pictures of the same times show, run after run.
TEST_F(ShowExport, ARandomTransitionIsTheOneStillPicturesShow) {
  std::string project = kProject;
  project.replace(project.find("opt_slidescount=3"), 17,
                  "opt_slidescount=3\nopt_fx_enable=1\nopt_fx_time=200\nopt_fx_eff10=1234\nopt_fx_eff13=1234\n"
                  "opt_fx_eff14=1234");
  const std::string show = PackProject("random", project);
  ASSERT_FALSE(show.empty());

  for (const int k : {10, 18}) { // half way into the second slide, and into the third
    const fs::path still = dir_ / ("random_still" + std::to_string(k) + ".png");
    const TRun render = Viewer(dir_, "-render " + Quote(still.string()) + " -time " + std::to_string(k * 50) +
                                         " -size 160x120 " + Quote(show));
    ASSERT_EQ(render.code, 0) << render.err;
    TDevBitmap expected;
    ASSERT_TRUE(test::ReadPng(still.string(), expected));
    for (int run = 0; run < 2; ++run) {
      const fs::path video = dir_ / ("random" + std::to_string(run) + ".mkv");
      if (!fs::exists(video)) {
        const TRun exported =
            Viewer(dir_, "-export " + Quote(video.string()) + " -fps 20 -size 160x120 " + Quote(show));
        ASSERT_EQ(exported.code, 0) << exported.err;
      }
      const fs::path frame = dir_ / ("random_frame" + std::to_string(run) + "_" + std::to_string(k) + ".png");
      int code = -1;
      kivtest::CommandOutput("ffmpeg -v error -y -i " + Quote(video.string()) + " -vf 'select=eq(n\\," +
                                 std::to_string(k) + ")' -frames:v 1 " + Quote(frame.string()),
                             code);
      ASSERT_EQ(code, 0);
      TDevBitmap actual;
      ASSERT_TRUE(test::ReadPng(frame.string(), actual));
      EXPECT_GT(Psnr(actual, expected), 35) << "export " << run << ", frame " << k;
    }
  }
}

// Sound and picture in step: the second and third slides begin with a click; at 100 frames per second
// the frame where the colour flips and the click lie within one frame period of each other.
TEST_F(ShowExport, AClickAtAChangeOfSlideSoundsWithTheFrameThatShowsIt) {
  std::string project = kProject;
  for (const char* slide : {"[Slide2]\n", "[Slide3]\n"})
    project.insert(project.find(slide) + std::string(slide).size(), "Sound=click.wav\nSoundLength=100\n");
  const fs::path folder = dir_ / "clicks";
  fs::create_directories(folder);
  WriteProjectText(folder / "Project.kiv", project);
  const std::vector<uint8_t> click = channeltest::DcWave(20, 20000);
  std::ofstream(folder / "click.wav", std::ios::binary)
      .write(reinterpret_cast<const char*>(click.data()), static_cast<std::streamsize>(click.size()));
  const std::string show = (dir_ / "clicks.KvShow").string();
  ASSERT_TRUE(PackShow(folder, show));

  const fs::path video = dir_ / "clicks.mkv";
  const TRun run = Viewer(dir_, "-export " + Quote(video.string()) + " -fps 100 -size 32x24 " + Quote(show));
  ASSERT_EQ(run.code, 0) << run.err;
  int code = -1;
  const std::string pixels = kivtest::CommandOutput(
      "ffmpeg -v error -i " + Quote(video.string()) + " -f rawvideo -pix_fmt rgb24 -", code);
  ASSERT_EQ(code, 0);
  const std::string sound = kivtest::CommandOutput(
      "ffmpeg -v error -i " + Quote(video.string()) + " -f s16le -ac 2 -ar 44100 -", code);
  ASSERT_EQ(code, 0);
  const size_t frameBytes = 32 * 24 * 3;
  ASSERT_EQ(pixels.size(), 120 * frameBytes) << "1.2 s at 100 frames per second";
  ASSERT_GE(sound.size(), size_t(1200 * 441 / 10 * 4));

  // The top left corner, which the boxes never reach, shows the slide's own colour.
  auto red = [&](size_t frame) { return static_cast<uint8_t>(pixels[frame * frameBytes]); };
  auto left = [&](size_t frame) {
    return static_cast<int16_t>(static_cast<uint8_t>(sound[frame * 4]) | static_cast<uint8_t>(sound[frame * 4 + 1]) << 8);
  };
  size_t frame = 0, sample = 0;
  for (const double change : {400.0, 800.0}) {
    const uint8_t before = red(frame);
    while (frame + 1 < 120 && std::abs(red(frame) - before) < 10)
      ++frame;
    while (sample * 4 + 4 <= sound.size() && std::abs(left(sample)) < 5000)
      ++sample;
    const double flipMs = frame * 10.0, clickMs = sample / 44.1;
    EXPECT_NEAR(flipMs, change, 10.0) << "the slide changes at " << change;
    EXPECT_NEAR(clickMs, flipMs, 10.0) << "the click sounds within one frame of the change at " << change;
    sample += 100 * 441 / 10; // past this click
  }
}

TEST_F(ShowExport, AStretchOfTheShowStartsAtItsFirstTime) {
  const fs::path video = dir_ / "part.mkv";
  const TRun run = Viewer(dir_, "-export " + Quote(video.string()) +
                                    " -fps 10 -from 500 -to 900 -size 160x120 " + Quote(Show()));
  ASSERT_EQ(run.code, 0) << run.err;
  EXPECT_EQ(run.out, "exported: " + video.string() + " (400 ms, 4 frames)\n");
  EXPECT_NEAR(ProbeDuration(video), 0.4, 0.001);
  const fs::path frame = dir_ / "first.png", still = dir_ / "still.png";
  int code = -1;
  kivtest::CommandOutput(
      "ffmpeg -v error -y -i " + Quote(video.string()) + " -frames:v 1 " + Quote(frame.string()), code);
  ASSERT_EQ(code, 0);
  ASSERT_EQ(
      Viewer(dir_, "-render " + Quote(still.string()) + " -time 500 -size 160x120 " + Quote(Show())).code, 0);
  TDevBitmap exported, drawn;
  ASSERT_TRUE(test::ReadPng(frame.string(), exported));
  ASSERT_TRUE(test::ReadPng(still.string(), drawn));
  EXPECT_GT(Psnr(exported, drawn), 35);
}

TEST_F(ShowExport, TheSoundAloneLastsAsLongAsTheShow) {
  const fs::path sound = dir_ / "show.wav";
  const TRun run = Viewer(dir_, "-export " + Quote(sound.string()) + " " + Quote(Show()));
  ASSERT_EQ(run.code, 0) << run.err;
  EXPECT_EQ(run.out, "exported: " + sound.string() + " (1200 ms)\n");
  int code = -1;
  const std::string format = kivtest::CommandOutput(
      "ffprobe -v error -show_entries stream=codec_name,sample_rate,channels,duration_ts -of "
      "default=nw=1 " +
          Quote(sound.string()),
      code);
  ASSERT_EQ(code, 0);
  // The standard format, 1.2 s of it exactly.
  EXPECT_EQ(format, "codec_name=pcm_s16le\nsample_rate=44100\nchannels=2\nduration_ts=52920\n");
}

// What a user shares: the lossy containers carry their codecs, the show's length and its pictures.
TEST_F(ShowExport, TheLossyContainersHoldTheirCodecsAndTheShow) {
  const struct {
    const char* name;
    const char* streams;
  } cases[] = {
      {"show.mp4", "codec_name=h264\nwidth=160\nheight=120\ncodec_name=aac\n"},
      {"show.webm", "codec_name=vp9\nwidth=160\nheight=120\ncodec_name=opus\n"},
  };
  for (const auto& c : cases) {
    const fs::path video = dir_ / c.name;
    const TRun run =
        Viewer(dir_, "-export " + Quote(video.string()) + " -fps 20 -size 160x120 " + Quote(Show()));
    ASSERT_EQ(run.code, 0) << c.name << ": " << run.err;
    EXPECT_EQ(run.out, "exported: " + video.string() + " (1200 ms, 24 frames)\n");
    int code = -1;
    const std::string streams = kivtest::CommandOutput(
        "ffprobe -v error -show_entries stream=codec_name,width,height -of default=nw=1 " +
            Quote(video.string()),
        code);
    ASSERT_EQ(code, 0) << c.name;
    EXPECT_EQ(streams, c.streams);
    // Sound encoders add a frame of their own at either end.
    EXPECT_NEAR(ProbeDuration(video), 1.2, 0.05) << c.name;

    const fs::path frame = dir_ / "lossy.png", still = dir_ / "still.png";
    kivtest::CommandOutput("ffmpeg -v error -y -i " + Quote(video.string()) +
                               " -vf 'select=eq(n\\,12)' -frames:v 1 " + Quote(frame.string()),
                           code);
    ASSERT_EQ(code, 0) << c.name;
    ASSERT_EQ(
        Viewer(dir_, "-render " + Quote(still.string()) + " -time 600 -size 160x120 " + Quote(Show())).code,
        0);
    TDevBitmap exported, drawn;
    ASSERT_TRUE(test::ReadPng(frame.string(), exported)) << c.name;
    ASSERT_TRUE(test::ReadPng(still.string(), drawn));
    EXPECT_GT(Psnr(exported, drawn), 35) << c.name;
  }
}

TEST_F(ShowExport, FailuresSayWhyInOneLineAndLeaveNothingBehind) {
  struct TCase {
    const char* what;
    std::string arguments;
    std::string message;
  };
  const std::string show = " " + Quote(Show());
  const TCase cases[] = {
      {"an unknown container", "-export " + Quote((dir_ / "show.avi").string()) + show,
       "kivviewer: -export writes"},
      {"a folder that does not exist", "-export " + Quote((dir_ / "none" / "show.mkv").string()) + show,
       "kivviewer: cannot write"},
      {"no frames per second", "-export " + Quote((dir_ / "show.mkv").string()) + " -fps 0" + show,
       "kivviewer: -fps wants"},
      {"an empty stretch", "-export " + Quote((dir_ / "show.mkv").string()) + " -from 900 -to 900" + show,
       "kivviewer: nothing to export"},
      {"a show that is not there",
       "-export " + Quote((dir_ / "show.mkv").string()) + " " + Quote((dir_ / "missing.KvShow").string()),
       "kivviewer: Slideshow File not Found"},
  };
  const std::set<std::string> before = Listing(dir_);
  for (const TCase& c : cases) {
    const TRun run = Viewer(dir_, c.arguments);
    EXPECT_EQ(run.code, 1) << c.what;
    EXPECT_EQ(run.out, "") << c.what;
    EXPECT_EQ(run.err.rfind(c.message, 0), 0u) << c.what << ": " << run.err;
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << c.what << ": " << run.err;
    EXPECT_EQ(Listing(dir_), before) << c.what;
  }
}

} // namespace
} // namespace kiv

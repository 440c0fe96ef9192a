// Transitions drawn through the show pipeline (kivpack, show source, slide producer, drawer with the
// transitions installed): each family at a quarter and three quarters of its way against stored
// goldens, points whose slide follows from the keys, the cross-fade at half way as the average of the two
// slides, the outgoing slide at a transition's start and the incoming one at its end, a custom transition
// project playing over both slides, the same frames drawn by `kivviewer -render`, and the families as
// `kivviewer -info` names them.

#include "GoldenImage.h"
#include "ShowTestSupport.h"

#include "../support/TestEnvironment.h"
#include "CacheImageDecoder.h"
#include "OpenedShow.h"
#include "ShowTimeline.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

namespace kiv {
namespace {

namespace fs = std::filesystem;

using namespace testing_support;

constexpr int kWidth = 160, kHeight = 120;

// Slide pictures: sky over grass with a red square and a yellow bar; a purple grid with an orange disc.
TRgb Meadow(int x, int y) {
  if (x >= 20 && x < 60 && y >= 20 && y < 60) return {220, 30, 30};
  if (x >= 120 && x < 130) return {250, 220, 40};
  return y < 70 ? TRgb{110, 170, 235} : TRgb{50, 150, 60};
}
TRgb Grid(int x, int y) {
  const int dx = x - 80, dy = y - 60;
  if (dx * dx + dy * dy < 30 * 30) return {245, 140, 20};
  if (x % 20 == 0 || y % 20 == 0) return {235, 235, 235};
  return {70, 30, 100};
}

// The transition into slide n + 1 for n = 1 .. 17 (so that odd slides show the meadow, even ones the grid),
// then a custom transition into slide 19.
struct TFamily {
  const char* name;
  int effectClass, kind;
  const char* extra; // further keys of the incoming slide
};
constexpr TFamily kFamilies[] = {
    {"mosaic", 1, 1, "EffectMosaicDX=8\nEffectMosaicDY=6\nEffectMosaicSC=50\n"},
    {"fade", 2, 1, ""},
    {"circle", 4, 2, "EffectCenterX=30\nEffectCenterY=40\n"},
    {"rhomb", 5, 2, ""},
    {"square", 6, 1, ""},
    {"lines", 7, 3, ""},
    {"diagonals", 8, 2, ""},
    {"wipe", 9, 2, ""},
    {"corner", 10, 1, ""},
    {"push", 12, 1, ""},
    {"slide", 13, 4, ""},
    {"clock", 3, 1, ""},
    {"broom", 11, 2, "EffectBroomOffset=20\n"},
    {"roll", 14, 1, "EffectRollDiameter=150\n"},
    // In depth, with a back colour (orange) on the curl's back.
    {"diagroll", 15, 2,
     "EffectRollDiameter=150\nEffectRoll3D=1\nEffectRollCurving=0.5\nEffectRollUseBackColor=1\n"
     "EffectRollBackColor=33023\n"},
    {"flip", 16, 1, ""},
    {"swap", 17, 1, ""},
};
constexpr int kFamilyCount = static_cast<int>(std::size(kFamilies));
constexpr int kSlides = kFamilyCount + 2;
constexpr double kSlideLength = 1000, kEffectTime = 400;

std::string Project() {
  std::string text = "[main]\nKivVersion=transition golden test\nopt_exefn=fx.exe\n"
                     "opt_scr_width=160\nopt_scr_height=120\nMinorVersion=21\n"
                     "opt_fx_enable=1\nopt_fx_time=400\nopt_fx_eff3=1\n"
                     "opt_fx_custom_count=1\nopt_fx_custom0=fx\\split.kiv\n"
                     "opt_slidescount=" +
                     std::to_string(kSlides) + "\n";
  for (int n = 1; n <= kSlides; ++n)
    text += "opt_synchpos" + std::to_string(n) + "=" + std::to_string(int(n * kSlideLength)) + "\n";
  for (int n = 1; n <= kSlides; ++n) {
    text += "[Slide" + std::to_string(n) + "]\nUsePersonal=1\nPers_Effect=1\nPers_Fon=1\nbstyle=1\n";
    // Solid red behind the meadow, blue behind the grid: only a custom transition shows them.
    text += n % 2 ? "bname=200\n" : "bname=13107200\n";
    if (n == 1) {
      text += "Effect_Class=0\n";
    } else if (n <= kFamilyCount + 1) {
      const TFamily& f = kFamilies[n - 2];
      text += "Effect_Class=" + std::to_string(f.effectClass) + "\nEffect_Type=" + std::to_string(f.kind) +
              "\nEffectTime=400\nEffectUseSmoothline=1\nEffectSmoothline=150\n" + f.extra;
    } else {
      text += "Effect_Class=18\nEffect_Type=0\nEffectTime=400\n";
    }
    text += std::string("object Picture: Image\n  ImageName=pictures\\") +
            (n % 2 ? "meadow.bmp" : "grid.bmp") + "\n  Antialiased=0\n  object : KeyPoint\n  end\nend\n";
  }
  return text;
}

// The custom transition: the outgoing slide at half size on the left, the incoming one on the right, over
// the outgoing slide's background mixed with the incoming one's.
constexpr const char* kSplit = R"([main]
opt_scr_width=160
opt_scr_height=120
MinorVersion=21
opt_slidescount=1
opt_synchpos1=2000
[Slide1]
CustomEffBg=3
object Out: Image
  ImageName=SlideEffectBuffer
  ReplaceWithEffectBuffer=1
  Antialiased=0
  object : KeyPoint
    ScaleX=50
    ScaleY=50
    Position=-50,0
  end
end
object In: Image
  ImageName=SlideEffectBuffer
  ReplaceWithEffectBuffer=2
  Antialiased=0
  object : KeyPoint
    ScaleX=50
    ScaleY=50
    Position=50,0
  end
end
)";

class TransitionGolden : public TShowFrameTest {
protected:
  static void SetUpTestSuite() {
    InstallImageDecoder();
    root_ = kivtest::FreshTempDir("transition_golden");
    const fs::path show = root_ / "show";
    fs::create_directories(show / "pictures");
    fs::create_directories(show / "fx");
    WriteProjectText(show / "Project.kiv", Project());
    WriteProjectText(show / "fx" / "split.kiv", kSplit);
    WriteBmp(show / "pictures" / "meadow.bmp", kWidth, kHeight, Meadow);
    WriteBmp(show / "pictures" / "grid.bmp", kWidth, kHeight, Grid);
    packed_ = PackShow(show, Show());
  }
  static void TearDownTestSuite() { fs::remove_all(root_); }

  void SetUp() override {
    OpenShow(Show(), packed_);
    if (IsSkipped() || HasFatalFailure()) return;
    std::string whyNot;
    renderer_ = TFrameRenderer::Create(Options(*locator_), {kWidth, kHeight}, &whyNot);
    ASSERT_TRUE(renderer_) << whyNot;
  }
  static std::string Show() { return (root_ / "fx.KvShow").string(); }

  TDevBitmap Frame(double time) {
    std::optional<TDevBitmap> frame = renderer_->Render(time);
    EXPECT_TRUE(frame) << time;
    return frame ? std::move(*frame) : TDevBitmap();
  }
  // The transition into slide n + 2 (the family's number from 0) at a fraction of its way.
  TDevBitmap FamilyFrame(int family, double fraction) {
    return Frame((family + 1) * kSlideLength + fraction * kEffectTime);
  }
  // A slide alone (from 1), half way through its still time.
  TDevBitmap SlideFrame(int slide) { return Frame((slide - 1) * kSlideLength + 700); }

  static inline fs::path root_;
  static inline bool packed_ = false;
};

int Difference(TRgb a, TRgb b) {
  return std::max({std::abs(a.r - b.r), std::abs(a.g - b.g), std::abs(a.b - b.b)});
}

TEST_F(TransitionGolden, EveryFamilyAtAQuarterAndThreeQuartersMatchesItsGolden) {
  for (int family = 0; family < kFamilyCount; ++family)
    for (const int percent : {25, 75}) {
      const TDevBitmap frame = FamilyFrame(family, percent / 100.0);
      ASSERT_EQ(frame.Width(), kWidth);
      EXPECT_TRUE(test::MatchesGolden(frame, std::string("show_transition_") + kFamilies[family].name + "_" +
                                                 std::to_string(percent)))
          << kFamilies[family].name << " at " << percent << " %";
    }
}

// Which slide shows at points where the keys alone decide it, so that goldens refreshed from a faulty
// drawing do not go unnoticed. The smooth line is 24 pixels. The points lie a few pixels away from the
// edges inside the pictures, which their tiles draw a little soft.
TEST_F(TransitionGolden, PointsShowTheSlideTheirFamilyPutsThere) {
  enum TWhich { kOutgoing, kIncoming };
  const struct {
    const char* family;
    double fraction;
    int x, y;
    TWhich which;
    int dx = 0, dy = 0; // where the point lies in that slide, relative to the frame point
  } cases[] = {
      // Wipe from the right: reach 184, front 46 at a quarter, solid up to 22 pixels from the right edge.
      {"wipe", 0.25, 150, 60, kIncoming},
      {"wipe", 0.25, 45, 30, kOutgoing},
      // Lines from the horizontal centre line (kind 3 reversed): the outgoing slide shrinks to a band, 18
      // pixels either side solid at half way.
      {"lines", 0.5, 80, 60, kOutgoing},
      {"lines", 0.5, 80, 5, kIncoming},
      // Circle about (48, 48): reach 133 + 24, front 39 at a quarter.
      {"circle", 0.25, 48, 48, kIncoming},
      {"circle", 0.25, 150, 110, kOutgoing},
      // Square shrinking (kind 1): at three quarters only a small rectangle of the outgoing slide remains.
      {"square", 0.75, 80, 60, kOutgoing},
      {"square", 0.75, 10, 10, kIncoming},
      // Corner from the top left: reach 280 + 24, front 228 at three quarters.
      {"corner", 0.75, 10, 10, kIncoming},
      {"corner", 0.75, 155, 115, kOutgoing},
      // Push from the left at a quarter: the incoming slide's last 40 columns, the outgoing moved right
      // by 40.
      {"push", 0.25, 20, 60, kIncoming, 120, 0},
      {"push", 0.25, 105, 50, kOutgoing, -40, 0},
      // Slide from the bottom at three quarters: the incoming slide 30 pixels down, over the outgoing one.
      {"slide", 0.75, 70, 45, kIncoming, 0, -30},
      {"slide", 0.75, 80, 20, kOutgoing},
      // Clock at a quarter turn: the top-right quarter about (80, 60) swept, 12 pixels either side of
      // each edge soft.
      {"clock", 0.25, 140, 20, kIncoming},
      {"clock", 0.25, 20, 100, kOutgoing},
      {"clock", 0.25, 40, 20, kOutgoing},
      // Roll from the left (radius 24) at three quarters: its line at -24 + 184 x 0.75 = 114, flat
      // behind it, the curl up to 138, the outgoing slide beyond.
      {"roll", 0.75, 40, 40, kIncoming},
      {"roll", 0.75, 100, 100, kIncoming},
      {"roll", 0.75, 150, 60, kOutgoing},
  };
  for (const auto& c : cases) {
    int family = 0;
    while (std::string(kFamilies[family].name) != c.family)
      ++family;
    // Slide family + 1 goes out, family + 2 comes in; odd slides show the meadow.
    const int slide = family + 1 + (c.which == kIncoming ? 1 : 0);
    const TRgb wanted = slide % 2 ? Meadow(c.x + c.dx, c.y + c.dy) : Grid(c.x + c.dx, c.y + c.dy);
    const TRgb got = PixelRgb(FamilyFrame(family, c.fraction), c.x, c.y);
    EXPECT_LE(Difference(got, wanted), 8)
        << c.family << " at " << c.fraction << ", (" << c.x << ", " << c.y << "): " << got.r << "," << got.g
        << "," << got.b << ", wanted " << wanted.r << "," << wanted.g << "," << wanted.b;
  }
}

TEST_F(TransitionGolden, TheCrossFadeAtHalfWayIsTheAverageOfItsSlides) {
  const int fade = 1; // from slide 2 (grid) into slide 3 (meadow)
  const TDevBitmap outgoing = SlideFrame(2), incoming = SlideFrame(3);
  const TDevBitmap half = FamilyFrame(fade, 0.5);
  int worst = 0;
  for (int y = 0; y < kHeight; ++y)
    for (int x = 0; x < kWidth; ++x) {
      const TRgb a = PixelRgb(outgoing, x, y), b = PixelRgb(incoming, x, y);
      worst = std::max(worst,
                       Difference(PixelRgb(half, x, y), {(a.r + b.r) / 2, (a.g + b.g) / 2, (a.b + b.b) / 2}));
    }
  EXPECT_LE(worst, 3);
}

TEST_F(TransitionGolden, ATransitionStartsOnTheOutgoingSlideAndEndsOnTheIncomingOne) {
  std::vector<TDevBitmap> slides;
  for (int slide = 1; slide <= kFamilyCount + 1; ++slide)
    slides.push_back(SlideFrame(slide));
  for (int family = 0; family < kFamilyCount; ++family) {
    const TDevBitmap start = FamilyFrame(family, 0), end = FamilyFrame(family, 1);
    EXPECT_EQ(renderer_->LastDrawn().first, family);
    EXPECT_EQ(renderer_->LastDrawn().drawn, family + 1);
    int startWorst = 0, endWorst = 0;
    for (int y = 0; y < kHeight; ++y)
      for (int x = 0; x < kWidth; ++x) {
        startWorst =
            std::max(startWorst, Difference(PixelRgb(start, x, y), PixelRgb(slides[size_t(family)], x, y)));
        endWorst =
            std::max(endWorst, Difference(PixelRgb(end, x, y), PixelRgb(slides[size_t(family) + 1], x, y)));
      }
    EXPECT_LE(startWorst, 1) << kFamilies[family].name;
    EXPECT_LE(endWorst, 1) << kFamilies[family].name;
  }
}

TEST_F(TransitionGolden, ACustomTransitionPlaysItsProjectOverBothSlides) {
  // Slide 18 (grid, blue background) goes out, slide 19 (meadow, red background) comes in.
  const TDevBitmap frame = Frame((kFamilyCount + 1) * kSlideLength + 0.5 * kEffectTime);
  const struct {
    int x, y;
    TRgb wanted;
    const char* what;
  } cases[] = {
      {40, 60, Grid(80, 60), "the outgoing slide's centre, at half size on the left"},
      {15, 45, Grid(30, 30), "the outgoing slide's purple, at half size"},
      {120, 60, Meadow(80, 60), "the incoming slide's centre, at half size on the right"},
      {92, 42, Meadow(24, 24), "the incoming slide's red square"},
  };
  for (const auto& c : cases) {
    const TRgb got = PixelRgb(frame, c.x, c.y);
    EXPECT_LE(Difference(got, c.wanted), 8)
        << c.what << ": (" << c.x << ", " << c.y << ") is " << got.r << "," << got.g << "," << got.b;
  }
  // Above the pictures: the outgoing slide's blue background with the incoming one's red over it.
  const TRgb mixed = PixelRgb(frame, 80, 10);
  EXPECT_GE(mixed.r, 20) << "red " << mixed.r;
  EXPECT_GE(mixed.b, 20) << "blue " << mixed.b;
  EXPECT_LE(mixed.g, 5) << "green " << mixed.g;
}

TEST_F(TransitionGolden, KivviewerRenderDrawsTheSameTransitionFrames) {
  const struct {
    const char* family;
    double fraction;
  } cases[] = {{"circle", 0.25}, {"roll", 0.25}, {"diagroll", 0.75}, {"flip", 0.25}, {"swap", 0.75}};
  for (const auto& c : cases) {
    int family = 0;
    while (std::string(kFamilies[family].name) != c.family)
      ++family;
    const double time = (family + 1) * kSlideLength + c.fraction * kEffectTime;
    const TDevBitmap expected = Frame(time);
    const fs::path out = root_ / (std::string(c.family) + ".png");
    int code = -1;
    const std::string command = std::string("'") + KIVVIEWER_PATH + "' -render '" + out.string() +
                                "' -time " + std::to_string(int(time)) + " '" + Show() + "'";
    kivtest::CommandOutput(command, code);
    ASSERT_EQ(code, 0) << command;
    TDevBitmap written;
    ASSERT_TRUE(test::ReadPng(out.string(), written));
    ASSERT_EQ(written.Width(), kWidth);
    int worst = 0;
    for (int y = 0; y < kHeight; ++y)
      for (int x = 0; x < kWidth; ++x)
        worst = std::max(worst, Difference(PixelRgb(written, x, y), PixelRgb(expected, x, y)));
    EXPECT_LE(worst, 1) << c.family;
  }
}

TEST_F(TransitionGolden, KivviewerInfoNamesEveryFamily) {
  int code = -1;
  const std::string output =
      kivtest::CommandOutput(std::string("'") + KIVVIEWER_PATH + "' -info '" + Show() + "'", code);
  ASSERT_EQ(code, 0) << output;
  EXPECT_NE(output.find("slide transitions: 1:none 2:mosaic 3:fade 4:circle/2 5:rhomb/2 6:square 7:lines/3 "
                        "8:diagonals/2 9:wipe/2 10:corner 11:push 12:slide/4 13:clock 14:broom/2 15:roll "
                        "16:diagroll/2 17:flip 18:swap 19:custom/0\n"),
            std::string::npos)
      << output;
}

} // namespace
} // namespace kiv

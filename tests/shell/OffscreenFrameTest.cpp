// Frames of a show drawn offscreen, checked at probe pixels: objects where their key points put them at a
// time, a box's colour, text pixels inside a text box, a picture stored on its side turned upright, the
// cut to the next slide, the repeat of the show, and black outside the slide frame. The show is packed by
// kivpack from a folder the test writes.

#include "GLContext.h"
#include "OffscreenFrame.h"
#include "ShowTestSupport.h"
#include "CacheImageDecoder.h"
#include "OpenedShow.h"
#include "GLDeviceLayer.h"
#include "ShowTimeline.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <thread>
#include <unistd.h>

namespace kiv {
namespace {

namespace fs = std::filesystem;

using namespace testing_support;

// A 200 x 150 show of two slides of 1000 ms, repeated.
// Slide 1 (black): a red 40 x 30 picture moving from position -50 to 50 (percent) over the first second;
// a blue 40 x 30 box at (50, -50); a white text in a 100 x 30 box at (0, 50). Objects fit their parent
// at scale 100 (PlaceInto), so a 40 x 30 object keeps its size in a 200 x 150 slide at scale 20.
// Slide 2 (grey background): a picture stored on its side (orientation 6) whose upright form is red above
// green, 40 x 30, at the centre.
constexpr const char* kProject =
    "\xEF\xBB\xBF[main]\r\nKivVersion=render test\r\nopt_exefn=render.exe\r\nopt_scr_width=200\r\n"
    "opt_scr_height=150\r\nopt_slidescount=2\r\nopt_synchpos1=1000\r\nopt_synchpos2=2000\r\n"
    "[RotationState]\r\n;\"pictures\\side.bmp\"=6\r\n"
    "[Slide1]\r\n"
    "object Mover: Image\r\n  ImageName=pictures\\red.bmp\r\n"
    "  object : KeyPoint\r\n    Time=0\r\n    ScaleX=20\r\n    ScaleY=20\r\n    Position=-50,0\r\n  end\r\n"
    "  object : KeyPoint\r\n    Time=1000\r\n    ScaleX=20\r\n    ScaleY=20\r\n    Position=50,0\r\n  end\r\n"
    "end\r\n"
    "object Blue: Box\r\n  Size=40,30\r\n  Color1=0,0,255\r\n"
    "  object : KeyPoint\r\n    ScaleX=20\r\n    ScaleY=20\r\n    Position=50,-50\r\n  end\r\nend\r\n"
    "object Words: Text\r\n  Text=MMMM\r\n  TextColor=255,255,255\r\n  BlackBoxSize=100,30\r\n"
    "  ShadowEnable=0\r\n"
    "  object : KeyPoint\r\n    ScaleX=50\r\n    ScaleY=50\r\n    Position=0,50\r\n  end\r\nend\r\n"
    "[Slide2]\r\nUsePersonal=1\r\nPers_Fon=1\r\nbstyle=1\r\nbname=4210752\r\n"
    "object Side: Image\r\n  ImageName=pictures\\side.bmp\r\n"
    "  object : KeyPoint\r\n    ScaleX=20\r\n    ScaleY=20\r\n  end\r\nend\r\n";

class RenderFrame : public TShowFrameTest {
protected:
  static void SetUpTestSuite() {
    InstallImageDecoder();
    root_ = fs::temp_directory_path() / ("kiv_render_" + std::to_string(::getpid()));
    fs::remove_all(root_);
    fs::create_directories(root_ / "show" / "pictures");
    std::ofstream(root_ / "show" / "Project.kiv", std::ios::binary) << kProject;
    WriteBmp(root_ / "show" / "pictures" / "red.bmp", 40, 30, [](int, int) { return TRgb{230, 20, 20}; });
    // Upright it is 40 wide: red above green. Stored turned a quarter to the left, the top lies on the left.
    WriteBmp(root_ / "show" / "pictures" / "side.bmp", 30, 40, [](int x, int) {
      return x < 15 ? TRgb{230, 20, 20} : TRgb{20, 200, 20};
    });
    packed_ = PackShow(root_ / "show", Show());
  }
  static void TearDownTestSuite() { fs::remove_all(root_); }

  void SetUp() override { OpenShow(Show(), packed_); }
  static std::string Show() { return (root_ / "render.KvShow").string(); }

  TFrameRenderer& Renderer(TSize size = {200, 150}) {
    std::string whyNot;
    renderer_ = TFrameRenderer::Create(Options(*locator_), size, &whyNot);
    EXPECT_TRUE(renderer_) << whyNot;
    return *renderer_;
  }
  static ::testing::AssertionResult Near(const TRgb& got, const TRgb& want, int x, int y) {
    constexpr int kTolerance = 40;
    if (std::abs(got.r - want.r) <= kTolerance && std::abs(got.g - want.g) <= kTolerance &&
        std::abs(got.b - want.b) <= kTolerance)
      return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure()
           << "pixel (" << x << ", " << y << ") is " << got.r << "," << got.g << "," << got.b << ", wanted "
           << want.r << "," << want.g << "," << want.b;
  }

  static inline fs::path root_;
  static inline bool packed_ = false;
};

constexpr TRgb kBlack{0, 0, 0}, kRed{230, 20, 20}, kGreen{20, 200, 20}, kBlue{0, 0, 255}, kGrey{64, 64, 64};

TEST_F(RenderFrame, ObjectsSitWhereTheirKeyPointsPutThemAtTheTime) {
  TFrameRenderer& renderer = Renderer();
  ASSERT_EQ(renderer.FrameRect(), (TRect{0, 0, 200, 150}));
  // The picture's centre runs from x = 50 at 0 ms to x = 150 at 1000 ms; it is 40 pixels wide. The show
  // repeats, so 2250 ms is 250 ms into its second pass.
  const struct {
    double time;
    int x;
    TRgb color;
  } cases[] = {{0, 50, kRed},    {0, 100, kBlack},  {500, 100, kRed}, {500, 50, kBlack},
               {750, 125, kRed}, {750, 90, kBlack}, {2250, 75, kRed}, {2250, 100, kBlack}};
  for (const auto& c : cases) {
    const std::optional<TDevBitmap> frame = renderer.Render(c.time);
    ASSERT_TRUE(frame) << c.time;
    ASSERT_EQ(frame->Width(), 200);
    ASSERT_EQ(frame->Height(), 150);
    EXPECT_TRUE(Near(PixelRgb(*frame, c.x, 75), c.color, c.x, 75)) << "at " << c.time << " ms";
  }
}

TEST_F(RenderFrame, ABoxShowsItsColourAtItsPlace) {
  const std::optional<TDevBitmap> frame = Renderer().Render(300);
  ASSERT_TRUE(frame);
  // Position (50, -50) percent puts the 40 x 30 box's centre at (150, 37.5).
  for (const auto& [x, y] : {std::pair{150, 37}, {133, 25}, {167, 50}})
    EXPECT_TRUE(Near(PixelRgb(*frame, x, y), kBlue, x, y));
  for (const auto& [x, y] : {std::pair{150, 60}, {120, 37}, {180, 37}})
    EXPECT_TRUE(Near(PixelRgb(*frame, x, y), kBlack, x, y));
}

TEST_F(RenderFrame, TextDrawsOpaquePixelsInsideItsBox) {
  const std::optional<TDevBitmap> frame = Renderer().Render(300);
  ASSERT_TRUE(frame);
  // The text box spans x 50..150, y 97.5..127.5.
  int inside = 0, outside = 0;
  for (int y = 0; y < 150; ++y)
    for (int x = 0; x < 200; ++x) {
      const TRgb c = PixelRgb(*frame, x, y);
      if (c.r < 160 || c.g < 160 || c.b < 160) continue;
      const bool inBox = x >= 49 && x <= 151 && y >= 96 && y <= 129;
      (inBox ? inside : outside)++;
    }
  EXPECT_GT(inside, 60) << "no text pixels in the text box";
  EXPECT_EQ(outside, 0) << "white pixels outside the text box";
}

TEST_F(RenderFrame, APictureStoredOnItsSideComesOutUpright) {
  const std::optional<TDevBitmap> frame = Renderer().Render(1500);
  ASSERT_TRUE(frame);
  // 40 x 30 upright at the centre: red above green.
  EXPECT_TRUE(Near(PixelRgb(*frame, 100, 67), kRed, 100, 67));
  EXPECT_TRUE(Near(PixelRgb(*frame, 100, 83), kGreen, 100, 83));
  EXPECT_TRUE(Near(PixelRgb(*frame, 85, 67), kRed, 85, 67));
  EXPECT_TRUE(Near(PixelRgb(*frame, 115, 83), kGreen, 115, 83));
  // Turned the wrong way it would be 30 wide.
  EXPECT_FALSE(Near(PixelRgb(*frame, 82, 75), kGrey, 82, 75));
}

TEST_F(RenderFrame, TheNextSlideTakesOverAtItsStart) {
  TFrameRenderer& renderer = Renderer();
  const struct {
    double time;
    TRgb corner;
    int32_t drawn;
  } cases[] = {{999, kBlack, 0}, {1000, kGrey, 1}, {1999, kGrey, 1}, {2001, kBlack, 2}, {1200, kGrey, 1}};
  for (const auto& c : cases) {
    const std::optional<TDevBitmap> frame = renderer.Render(c.time);
    ASSERT_TRUE(frame);
    EXPECT_TRUE(Near(PixelRgb(*frame, 5, 5), c.corner, 5, 5)) << "at " << c.time << " ms";
    EXPECT_EQ(renderer.LastDrawn().drawn, c.drawn) << "at " << c.time << " ms";
  }
}

TEST_F(RenderFrame, OutsideTheSlideFrameIsBlack) {
  // A 4:3 show in a 300 x 150 picture: the frame is 200 x 150 in the middle.
  TFrameRenderer& renderer = Renderer({300, 150});
  EXPECT_EQ(renderer.FrameRect(), (TRect{50, 0, 250, 150}));
  const std::optional<TDevBitmap> frame = renderer.Render(1500);
  ASSERT_TRUE(frame);
  EXPECT_EQ(frame->Width(), 300);
  for (const int x : {0, 48, 251, 299})
    EXPECT_TRUE(Near(PixelRgb(*frame, x, 5), kBlack, x, 5));
  for (const int x : {52, 150, 247})
    EXPECT_TRUE(Near(PixelRgb(*frame, x, 5), kGrey, x, 5));
}

// Engines made by the process's factory while a test counts them.
int gEnginesMade = 0;
TRef<T3DEngine> CountedGLEngine() {
  ++gEnginesMade;
  return TRef<T3DEngineGL>::Make(TGLEngineOptions{});
}

// Renderers of one process share its engine: neither frees it under the other, and the last one gives it
// back.
TEST_F(RenderFrame, RenderersAliveTogetherShareOneEngineThatOutlivesEither) {
  FreeEngine();
  gEnginesMade = 0;
  RegisterEngineFactory(&CountedGLEngine);
  struct TRestore {
    ~TRestore() { RegisterGLEngine(); }
  } restore;
  std::string whyNot;
  auto first = TFrameRenderer::Create(Options(*locator_), {200, 150}, &whyNot);
  auto second = TFrameRenderer::Create(Options(*locator_), {200, 150}, &whyNot);
  ASSERT_TRUE(first && second) << whyNot;
  ASSERT_TRUE(first->Render(500));
  ASSERT_TRUE(second->Render(500));
  first.reset();
  const std::optional<TDevBitmap> frame = second->Render(500);
  ASSERT_TRUE(frame);
  EXPECT_TRUE(Near(PixelRgb(*frame, 100, 75), kRed, 100, 75));
  EXPECT_EQ(gEnginesMade, 1);
  second.reset();
  auto third = TFrameRenderer::Create(Options(*locator_), {200, 150}, &whyNot);
  ASSERT_TRUE(third) << whyNot;
  const std::optional<TDevBitmap> fresh = third->Render(500);
  third.reset();
  ASSERT_TRUE(fresh);
  EXPECT_TRUE(Near(PixelRgb(*fresh, 100, 75), kRed, 100, 75));
  EXPECT_EQ(gEnginesMade, 2);
}

// Collects posted work; the test thread plays the owner's event loop.
class QueueDispatcher final : public TMainThreadDispatcher {
public:
  void Post(std::function<void()> job) override {
    std::lock_guard lock(mutex_);
    jobs_.push_back(std::move(job));
  }
  void RunAll() {
    std::deque<std::function<void()>> pending;
    {
      std::lock_guard lock(mutex_);
      pending.swap(jobs_);
    }
    for (auto& job : pending)
      job();
  }

private:
  std::mutex mutex_;
  std::deque<std::function<void()>> jobs_;
};

// A still picture drawn on a worker while the program's main thread runs its loop: device creation goes to
// the main thread, which keeps its role throughout.
TEST_F(RenderFrame, ARendererOnAnotherThreadLeavesTheMainThreadToItsOwner) {
  SetMainThread(std::this_thread::get_id());
  QueueDispatcher dispatcher;
  SetMainThreadDispatcher(&dispatcher);
  std::atomic<bool> done{false};
  std::optional<TDevBitmap> frame;
  bool workerWasMain = true;
  std::string whyNot;
  std::thread worker([&] {
    auto renderer = TFrameRenderer::Create(Options(*locator_), {200, 150}, &whyNot);
    workerWasMain = IsMainThread();
    if (std::optional<TDevBitmap> rendered = renderer ? renderer->Render(500) : std::nullopt)
      frame.emplace(std::move(*rendered));
    renderer.reset();
    done = true;
  });
  bool ownerKeptRole = true;
  while (!done) {
    dispatcher.RunAll();
    ownerKeptRole = ownerKeptRole && IsMainThread();
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  worker.join();
  dispatcher.RunAll();
  SetMainThreadDispatcher(nullptr);
  EXPECT_TRUE(ownerKeptRole);
  EXPECT_FALSE(workerWasMain);
  ASSERT_TRUE(frame) << whyNot;
  EXPECT_TRUE(Near(PixelRgb(*frame, 100, 75), kRed, 100, 75));
}

} // namespace
} // namespace kiv

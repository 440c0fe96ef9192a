// From play positions to built slides: the presentation frame on the screen, slides and dialog pages built
// at its size, the slides visible at a time, containers with their pass, and the cache that keeps the
// slides around the current time.

#include "TimelineTestUtil.h"

#include "Assert.h"
#include "SlideProducer.h"
#include "Log.h"
#include "ObjectFactory.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <limits>
#include <sstream>
#include <unistd.h>

namespace kiv {
namespace {

using namespace kiv::test;

std::unique_ptr<TKivSource> Source(const std::string& text) {
  return std::make_unique<TKivSource>(PlainAccessor(), Document(text));
}

// A plain object kind of the tests' own, so that slides here do not depend on the content kinds.
TOwned<TKivObject> MakePanel(TKivObject* parent, std::u16string guid) {
  return MakeOwned<TKivObject>(parent, std::move(guid));
}

// A producer on a show it owns, on a screen.
struct TProducerFixture {
  explicit TProducerFixture(const std::string& text, TSize screen = {1920, 1080})
      : producer(MakeOwned<TSlideProducer>(Source(text).release(), true)) {
    RegisterKivObjectKind(u"testpanel", &MakePanel);
    producer->SetScreen(screen, false, 100, 100);
  }
  TOwned<TSlideProducer> producer;
};

std::string ErrorOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const std::exception& e) {
    return e.what();
  }
  return "";
}

// Assertions would write to stderr; the tests only look at the exception.
class QuietAssertions : public ::testing::Test {
protected:
  void SetUp() override {
    previous_ = SetAssertionSink([](const std::string&) {});
  }
  void TearDown() override { SetAssertionSink(previous_); }

private:
  TAssertionSink previous_ = nullptr;
};

// ---- frame geometry ----

TEST(FrameSize, FitsCoversScalesAndEvensOut) {
  const struct {
    const char* what;
    TSize screen;
    bool cover;
    float scaleX, scaleY;
    double ratio;
    TSize design;
    bool fixed;
    TSize frame;
    TRect rect;
  } cases[] = {
      {"4:3 on 16:9",
       {1920, 1080},
       false,
       100,
       100,
       4.0 / 3,
       {800, 600},
       false,
       {1440, 1080},
       {240, 0, 1680, 1080}},
      {"fixed design stays",
       {1920, 1080},
       false,
       100,
       100,
       4.0 / 3,
       {800, 600},
       true,
       {800, 600},
       {560, 240, 1360, 840}},
      {"fixed design shrinks to the width",
       {1920, 1080},
       false,
       100,
       100,
       2,
       {2000, 1000},
       true,
       {1920, 960},
       {0, 60, 1920, 1020}},
      {"fixed without a design size is fitted",
       {1920, 1080},
       false,
       100,
       100,
       4.0 / 3,
       {0, 0},
       true,
       {1440, 1080},
       {240, 0, 1680, 1080}},
      {"odd width grows",
       {1920, 1080},
       false,
       100,
       100,
       1439.0 / 1080,
       {1439, 1080},
       false,
       {1440, 1080},
       {240, 0, 1680, 1080}},
      {"odd width as wide as the screen stays",
       {1439, 1080},
       false,
       100,
       100,
       1439.0 / 1080,
       {1439, 1080},
       false,
       {1439, 1080},
       {0, 0, 1439, 1080}},
      {"cover fills and crops",
       {1920, 1080},
       true,
       100,
       100,
       4.0 / 3,
       {800, 600},
       false,
       {1920, 1440},
       {0, 0, 1920, 1080}},
      {"wide ratio on a square screen",
       {1000, 1000},
       false,
       100,
       100,
       1.5,
       {0, 0},
       false,
       {1000, 668},
       {0, 166, 1000, 834}},
      {"half horizontal scale",
       {1920, 1080},
       false,
       50,
       100,
       4.0 / 3,
       {800, 600},
       false,
       {720, 1080},
       {600, 0, 1320, 1080}},
      {"scale 0 is taken at 100",
       {1920, 1080},
       false,
       0,
       0,
       4.0 / 3,
       {800, 600},
       false,
       {1440, 1080},
       {240, 0, 1680, 1080}},
      {"negative design width",
       {1920, 1080},
       false,
       100,
       100,
       -4.0 / 3,
       {-800, 600},
       false,
       {0, 0},
       {0, 0, 0, 0}},
      {"no screen", {0, 0}, false, 100, 100, 4.0 / 3, {800, 600}, false, {0, 0}, {0, 0, 0, 0}},
      {"no screen, cover", {0, 0}, true, 100, 100, 4.0 / 3, {800, 600}, false, {0, 0}, {0, 0, 0, 0}},
  };
  for (const auto& c : cases) {
    const TSize frame = ComputeFrameSize({c.screen, c.cover, c.scaleX, c.scaleY, c.ratio, c.design, c.fixed});
    EXPECT_EQ(frame, c.frame) << c.what << ": " << frame.width << "x" << frame.height;
    EXPECT_EQ(CenteredFrameRect(c.screen, frame), c.rect) << c.what;
  }
}

TEST(FrameSize, TheRatioIsTheDesignsFromMinorVersion13) {
  const struct {
    std::string keys;
    TSize screen;
    double ratio;
  } cases[] = {
      {"opt_scr_width=800\r\nopt_scr_height=600\r\n", {1920, 1080}, 800.0 / 600},
      {"MinorVersion=21\r\nopt_scr_width=1000\r\nopt_scr_height=500\r\nopt_scr_ratio=1.25\r\n",
       {1920, 1080},
       2},
      {"MinorVersion=12\r\nopt_scr_width=1000\r\nopt_scr_height=500\r\n", {1920, 1080}, 1920.0 / 1080},
      {"MinorVersion=12\r\nopt_scr_ratio=1.25\r\n", {1920, 1080}, 1.25},
      {"MinorVersion=12\r\n", {1920, 0}, 1.333333333},
  };
  for (const auto& c : cases) {
    const auto document = Document("[main]\r\n" + c.keys);
    EXPECT_DOUBLE_EQ(PresentationAspectRatio(*document->FindSection(u"main"), c.screen), c.ratio) << c.keys;
  }
  for (const std::string keys :
       {"opt_scr_width=800\r\n", "MinorVersion=21\r\nopt_scr_width=8\r\nopt_scr_height=-1\r\n"}) {
    const auto document = Document("[main]\r\n" + keys);
    EXPECT_EQ(ErrorOf([&] {
                PresentationAspectRatio(*document->FindSection(u"main"), {1920, 1080});
              }),
              "ZeroSize of Presentation!")
        << keys;
  }
}

TEST(FrameSize, TheProducerPlacesTheFrameAndTheCamera) {
  TProducerFixture f(
      "[main]\r\nMinorVersion=21\r\nopt_scr_width=800\r\nopt_scr_height=600\r\nopt_slidescount=1\r\n"
      "[Slide1]\r\n");
  EXPECT_EQ(f.producer->FrameSize(), (TSize{1440, 1080}));
  EXPECT_EQ(f.producer->GetFrameRect(), (TRect{240, 0, 1680, 1080}));
  EXPECT_EQ(f.producer->Host().FrameRect(), (TRect{240, 0, 1680, 1080}));
  const T3DVector camera = f.producer->Host().CameraPosition();
  EXPECT_FLOAT_EQ(camera.x, 960);
  EXPECT_FLOAT_EQ(camera.y, 540);
  EXPECT_FLOAT_EQ(camera.z, -1080);
  EXPECT_EQ(f.producer->Host().DesignSize(), (TSize{800, 600}));

  TProducerFixture fixed("[main]\r\nopt_scr_width=800\r\nopt_scr_height=600\r\nopt_scr_fullfixedsize=1\r\n");
  EXPECT_EQ(fixed.producer->FrameSize(), (TSize{800, 600}));
  EXPECT_EQ(ErrorOf([] { TProducerFixture bad("[main]\r\nopt_scr_width=800\r\n"); }),
            "ZeroSize of Presentation!");
}

// ---- slides ----

// Two slides with their own transitions (500 and 4000 ms) on a 4:3 design.
const std::string kTwoSlides =
    "[main]\r\nMinorVersion=21\r\nopt_scr_width=800\r\nopt_scr_height=600\r\nopt_slidescount=2\r\n"
    "opt_repeat=stop\r\nopt_synchpos1=1000\r\nopt_synchpos2=3000\r\n"
    "opt_fx_enable=1\r\nopt_fx_time=800\r\nopt_fx_eff2=1\r\n"
    "[Slide1]\r\nUsePersonal=1\r\nPers_Effect=1\r\nEffect_Class=5\r\nEffect_Type=3\r\nEffectTime=500\r\n"
    "Pers_Fon=1\r\nbstyle=1\r\nbname=255\r\n"
    "object Frame: testpanel\r\nend\r\n"
    "[Slide2]\r\nUsePersonal=1\r\nPers_Effect=1\r\nEffect_Class=2\r\nEffect_Type=A\r\nEffectTime=4000\r\n";

TEST(SlideProducer, ASlideFillsTheFrameAndCarriesItsTransition) {
  TProducerFixture f(kTwoSlides, {1920, 1080});
  f.producer->SetScreen({1920, 1080}, false, 50, 50);
  auto slide = f.producer->BuildSlide(3, 1);
  ASSERT_TRUE(slide);
  EXPECT_EQ(slide->SlideIndex(), 1);
  EXPECT_EQ(slide->Pass(), 1);
  // Frame 1440 x 1080 at half scale: the slide has twice the pixels, drawn at half size.
  EXPECT_FLOAT_EQ(slide->Size().x, 2880);
  EXPECT_FLOAT_EQ(slide->Size().y, 2160);
  EXPECT_FLOAT_EQ(slide->Values().scaleX, 50);
  EXPECT_FLOAT_EQ(slide->Values().scaleY, 50);
  EXPECT_EQ(slide->Begin(), 1000);
  EXPECT_EQ(slide->End(), 3000);
  EXPECT_EQ(slide->EffectIn(), 2000); // capped to the slide's length
  EXPECT_EQ(slide->EffectOut(), 0);   // the show stops after it
  EXPECT_EQ(slide->Filter().effectClass, 2);
  EXPECT_EQ(slide->Filter().effectKind, 9);
  EXPECT_EQ(slide->Filter().duration, 4000);
}

TEST(SlideProducer, SlidesHoldTheContentKinds) {
  TProducerFixture f(
      "[main]\r\nopt_scr_width=4\r\nopt_scr_height=3\r\nopt_slidescount=1\r\n"
      "[Slide1]\r\nobject Band: Box\r\n  Size=800,110\r\nend\r\nobject Note: TextComment\r\nend\r\n");
  auto slide = f.producer->BuildSlide(0, 0);
  ASSERT_TRUE(slide);
  ASSERT_EQ(slide->ChildCount(), 2);
  EXPECT_EQ(slide->Child(0).ObjectType(), u"box");
  EXPECT_EQ(slide->Child(1).ObjectType(), u"textcomment");
}

TEST(SlideProducer, TheSlideBeforeTheShowHasOnlyTheFirstSlidesBackground) {
  TProducerFixture f(kTwoSlides);
  auto first = f.producer->BuildSlide(0, 0);
  ASSERT_TRUE(first);
  EXPECT_EQ(first->ChildCount(), 1);
  auto before = f.producer->BuildSlide(-1, 0);
  ASSERT_TRUE(before);
  EXPECT_EQ(before->ChildCount(), 0);
  EXPECT_EQ(before->Begin(), kBeforeShowStart);
  EXPECT_EQ(before->End(), 0);
  EXPECT_EQ(before->EffectIn(), 0);
  EXPECT_EQ(before->EffectOut(), 500);
  EXPECT_EQ(before->Background(), first->Background());
  EXPECT_EQ(before->Background().color1, 255u);
  EXPECT_FLOAT_EQ(before->Size().x, 1440);
}

// An object kind whose loading always fails.
class TBrokenObject : public TKivObject {
public:
  using TKivObject::TKivObject;
  void LoadFromNode(const TCommonIniSection&, bool) override { throw Exception("cannot load"); }
};
TOwned<TKivObject> MakeBroken(TKivObject* parent, std::u16string guid) {
  return MakeOwned<TBrokenObject>(parent, std::move(guid));
}

TEST(SlideProducer, AMissingOrFailingSlideGivesNone) {
  const auto previous = RegisterKivObjectKind(u"brokenkind", &MakeBroken);
  TProducerFixture f("[main]\r\nopt_slidescount=3\r\nopt_scr_width=4\r\nopt_scr_height=3\r\n"
                     "[Slide1]\r\n[Slide2]\r\nobject Bad: brokenkind\r\nend\r\n");
  EXPECT_TRUE(f.producer->BuildSlide(0, 0));
  EXPECT_FALSE(f.producer->BuildSlide(1, 0)); // fails to load
  EXPECT_FALSE(f.producer->BuildSlide(2, 0)); // no section
  EXPECT_FALSE(f.producer->BuildSlide(-2, 0));
  RegisterKivObjectKind(u"brokenkind", previous);

  TProducerFixture empty("[main]\r\nopt_scr_width=4\r\nopt_scr_height=3\r\n");
  for (int32_t position : {0, -1})
    EXPECT_EQ(ErrorOf([&] { empty.producer->BuildSlide(position, 0); }), "No Slides in Presentation");
}

TEST(SlideProducer, DialogsAreFoundThroughTheirCustomEntriesOrTheirName) {
  TProducerFixture f("[main]\r\nopt_scr_width=800\r\nopt_scr_height=600\r\nopt_customdialogscount=2\r\n"
                     "custom_dialog1=Help\r\ncustom_dialog2=About\r\n"
                     "[dialog_2_]\r\nDialogPause=1\r\nobject Panel: testpanel\r\nend\r\n"
                     "[dialog_Help]\r\n"
                     "[dialog_Extra]\r\n");
  auto about = f.producer->BuildDialog(u"About");
  ASSERT_TRUE(about);
  EXPECT_EQ(about->DialogName(), u"About");
  EXPECT_TRUE(about->DialogPause());
  EXPECT_EQ(about->SlideIndex(), -1);
  EXPECT_EQ(about->ChildCount(), 1);
  EXPECT_EQ(about->Begin(), 0);
  EXPECT_EQ(about->End(), 0);
  EXPECT_FLOAT_EQ(about->Size().x, 1440);
  // A page is built at time 0 and fades in with the time its owner gives it.
  EXPECT_FLOAT_EQ(about->Child(0).GetOpacity(), 0);
  about->SetDialogTime(40);
  EXPECT_FLOAT_EQ(about->Child(0).GetOpacity(), 40);

  auto extra = f.producer->BuildDialog(u"Extra");
  ASSERT_TRUE(extra);
  EXPECT_FALSE(extra->DialogPause());
  // "Help" is entry 1: its page is dialog_1_, which the show lacks; the entries compare case-sensitively.
  EXPECT_FALSE(f.producer->BuildDialog(u"Help"));
  EXPECT_FALSE(f.producer->BuildDialog(u"about"));
  EXPECT_FALSE(f.producer->BuildDialog(u"Nothing"));
}

TEST(SlideProducer, AHugeDialogCountEndsTheSearch) {
  TProducerFixture f("[main]\r\nopt_scr_width=4\r\nopt_scr_height=3\r\nopt_customdialogscount=2147483647\r\n"
                     "[dialog_Late]\r\n");
  EXPECT_TRUE(f.producer->BuildDialog(u"Late"));
}

// ---- visible slides ----

TEST(SlideProducer, VisibleSlidesFollowTransitionsThatOutlastTheNextSlide) {
  TProducerFixture f(kTwoSlides);
  const struct {
    double time;
    int32_t first, last;
  } cases[] = {
      {-100, -1, -1}, {0, -1, 0},   {500, -1, 0}, {500.4, -1, 0}, {500.6, 0, 0}, {999, 0, 0},
      {999.6, 0, 1},  {1000, 0, 1}, {2000, 0, 1}, {3000, 0, 1},   {3001, 0, 0},  {5000, 0, 0},
  };
  for (const auto& c : cases) {
    const auto [first, last] = f.producer->FindVisibleSlides(c.time);
    EXPECT_EQ(first, c.first) << c.time;
    EXPECT_EQ(last, c.last) << c.time;
    EXPECT_EQ(f.producer->Cursor(), c.first);
  }
}

TEST(SlideProducer, VisibleSlidesAreFoundAtOnceFarIntoTheShowAndInAShowOfNoLength) {
  TProducerFixture repeat("[main]\r\nopt_scr_width=4\r\nopt_scr_height=3\r\nopt_slidescount=3\r\n"
                          "opt_synchpos1=3000\r\nopt_synchpos2=6000\r\nopt_synchpos3=9000\r\n");
  // 10^6 passes of 9000 ms, then 4000 ms into the second slide.
  EXPECT_EQ(repeat.producer->FindVisibleSlides(9e9 + 4000), std::make_pair(3000001, 3000001));
  // On the boundary the last slide of a pass is still drawn as the next one starts.
  EXPECT_EQ(repeat.producer->FindVisibleSlides(9e9), std::make_pair(2999999, 3000000));
  const auto [far, farLast] = repeat.producer->FindVisibleSlides(std::numeric_limits<double>::infinity());
  EXPECT_EQ(far, std::numeric_limits<int32_t>::max());
  EXPECT_EQ(farLast, far);

  TProducerFixture flat("[main]\r\nopt_scr_width=4\r\nopt_scr_height=3\r\nopt_slidescount=3\r\n");
  EXPECT_EQ(flat.producer->FindVisibleSlides(1e6), std::make_pair(2, 2));
  TProducerFixture none("[main]\r\nopt_scr_width=4\r\nopt_scr_height=3\r\n");
  EXPECT_EQ(none.producer->FindVisibleSlides(1e6), std::make_pair(-1, -1));
}

// ---- containers ----

TEST(SlideProducer, AContainerNeedsTheCurrentTimingAndLogsItsPosition) {
  TProducerFixture f("[main]\r\nopt_scr_width=4\r\nopt_scr_height=3\r\nopt_slidescount=2\r\n"
                     "opt_synchpos1=1000\r\nopt_synchpos2=3000\r\n[Slide1]\r\n[Slide2]\r\n");
  EXPECT_EQ(ErrorOf([&] { f.producer->MakeContainer(0); }), "TSlideProducer.CurrentTiming not Assigned");

  const std::filesystem::path log =
      std::filesystem::temp_directory_path() / ("kiv_producer_" + std::to_string(::getpid()) + ".log");
  ASSERT_TRUE(InstallFileLog(log.string()));
  f.producer->SetCurrentTiming(TRef<TTiming>::Make());
  auto container = f.producer->MakeContainer(5);
  CloseLog();
  std::stringstream text;
  text << std::ifstream(log, std::ios::binary).rdbuf();
  std::filesystem::remove(log);
  EXPECT_NE(text.str().find("\r\n" + std::string(39, '.') + " 5\r\n"), std::string::npos);

  // Position 5 is slide 2 in pass 2.
  ASSERT_TRUE(container->Slide());
  EXPECT_EQ(container->Position(), 5);
  EXPECT_EQ(container->PassOffset(), 6000);
  EXPECT_EQ(container->Timing().start, 7000);
  EXPECT_EQ(container->Timing().end, 9000);
  EXPECT_EQ(container->Slide()->Pass(), 2);
  container->SetTime(7250);
  EXPECT_EQ(container->Slide()->KeyPoints().CurrentTime(), 1250);
  EXPECT_EQ(container->Slide()->Filter().progress, 250);
}

TEST(SlideProducer, AContainerOfAMissingSlideIsEmpty) {
  TProducerFixture f("[main]\r\nopt_scr_width=4\r\nopt_scr_height=3\r\nopt_slidescount=2\r\n[Slide1]\r\n");
  f.producer->SetCurrentTiming(TRef<TTiming>::Make());
  auto container = f.producer->MakeContainer(1);
  EXPECT_EQ(container->Slide(), nullptr);
  container->SetTime(10); // nothing to move, nothing to fail
}

// ---- cache ----

class SlideCache : public QuietAssertions {};

TEST_F(SlideCache, CapacityIsOneToThree) {
  TProducerFixture f("[main]\r\nopt_scr_width=4\r\nopt_scr_height=3\r\n");
  for (int32_t capacity : {0, 4, -1}) {
    const std::string error = ErrorOf([&] { TSlideCache cache(f.producer.get(), capacity, false); });
    EXPECT_NE(error.find("Assertion failure"), std::string::npos) << capacity << ": " << error;
  }
  for (int32_t capacity : {1, 3})
    EXPECT_EQ(ErrorOf([&] { TSlideCache cache(f.producer.get(), capacity, false); }), "") << capacity;
}

std::vector<int32_t> Positions(const std::vector<TOwned<TDrawContainer>>& containers) {
  std::vector<int32_t> positions;
  for (const auto& c : containers)
    positions.push_back(c->Position());
  return positions;
}

TEST_F(SlideCache, PassingIntoTheNextSlideFreesTheOldestAndBuildsOneAhead) {
  auto producer = MakeOwned<TSlideProducer>(
      Source("[main]\r\nopt_scr_width=4\r\nopt_scr_height=3\r\nopt_slidescount=4\r\nopt_synchpos1=1000\r\n"
             "opt_synchpos2=2000\r\nopt_synchpos3=3000\r\nopt_synchpos4=4000\r\n"
             "[Slide1]\r\n[Slide2]\r\n[Slide3]\r\n[Slide4]\r\n")
          .release(),
      true);
  producer->SetScreen({640, 480}, false, 100, 100);
  producer->SetCurrentTiming(TRef<TTiming>::Make());
  TSlideCache cache(producer.release(), 2, true);
  std::vector<int32_t> created;
  std::vector<std::vector<int32_t>> changes;
  cache.OnCreated = [&](TDrawContainer& c) { created.push_back(c.Position()); };
  cache.OnChanged = [&](const std::vector<TOwned<TDrawContainer>>& list) {
    changes.push_back(Positions(list));
  };

  // One container per call until the window is full.
  EXPECT_TRUE(cache.Prepare(1500));
  EXPECT_TRUE(cache.Prepare(1500));
  EXPECT_FALSE(cache.Prepare(1500));
  EXPECT_EQ(Positions(cache.Containers()), (std::vector<int32_t>{1, 2}));
  EXPECT_EQ(created, (std::vector<int32_t>{1, 2}));

  // Into the third slide: the second goes and the fourth comes, in one call.
  created.clear();
  changes.clear();
  EXPECT_TRUE(cache.Prepare(2500));
  EXPECT_EQ(created, (std::vector<int32_t>{3}));
  EXPECT_EQ(changes, (std::vector<std::vector<int32_t>>{{2}, {2, 3}}));
  EXPECT_FALSE(cache.Prepare(2500));

  // A jump far ahead keeps one old container until the new window has its first.
  changes.clear();
  EXPECT_TRUE(cache.Prepare(9500)); // position 9
  EXPECT_EQ(changes, (std::vector<std::vector<int32_t>>{{3}, {3, 9}}));
  EXPECT_TRUE(cache.Prepare(9500));
  EXPECT_EQ(Positions(cache.Containers()), (std::vector<int32_t>{9, 10}));
  EXPECT_EQ(cache.Containers().front()->PassOffset(), 8000);
}

TEST(Timing, IsSharedByItsHolders) {
  auto timing = TRef<TTiming>::Make();
  TRef<TTiming> other = timing;
  timing->SetTime(1234.5);
  const ICurrentTime& now = *other;
  EXPECT_EQ(now.CurrentTime(), 1234.5);
}

} // namespace
} // namespace kiv

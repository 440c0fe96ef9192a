// The records of the engine's events, the application queue that brings engine reports to the
// user-interface thread, and how the engine turns them into its callbacks there.

#include "EngineTestSupport.h"

#include "Assert.h"
#include "QueuedApplication.h"
#include "VirtualHost.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

namespace kiv {
namespace {

using namespace kiv::test;

// Counts how many of its kind were freed.
class TTracked : public TObj {
public:
  explicit TTracked(int* freed, int value = 0) : tag(value), freed_(freed) {}
  ~TTracked() override { ++*freed_; }
  int tag;

private:
  int* freed_;
};

TEST(EngineRecords, AnEventRecordFreesOnlyTheDataItOwns) {
  int freed = 0;
  TTracked borrowed(&freed);
  {
    TKivEventData owning(kEvImage, {}, MakeOwned<TTracked>(&freed));
    TKivEventData lending(kEvAction, {4, 7}, &borrowed, false);
    EXPECT_TRUE(owning.OwnsData());
    EXPECT_FALSE(lending.OwnsData());
    EXPECT_EQ(lending.Integer(1), 7);
    EXPECT_EQ(lending.Integer(2), 0) << "missing integers read as 0";
    EXPECT_EQ(lending.TakeData(), nullptr) << "borrowed data cannot be handed on";
    EXPECT_EQ(lending.Data(), &borrowed);
  }
  EXPECT_EQ(freed, 1);

  // Taking owned data hands the freeing to the taker.
  auto record = MakeOwned<TKivEventData>(kEvImage, std::vector<int32_t>{}, MakeOwned<TTracked>(&freed, 5));
  TOwned<TObj> image = record->TakeData();
  record.reset();
  EXPECT_EQ(freed, 1);
  ASSERT_TRUE(image);
  EXPECT_EQ(dynamic_cast<TTracked&>(*image).tag, 5);
  image.reset();
  EXPECT_EQ(freed, 2);
}

TEST(EngineRecords, AssigningAnOpenRequestMovesItsShowAlong) {
  TOpenParams open(3, 2500, PlainAccessor(), Document("[main]\r\nprojectname=A\r\n"));
  open.Paused = true;
  ASSERT_TRUE(open.IsOpen());
  TOpenParams pending;
  pending.Assign(open);
  EXPECT_TRUE(pending.IsOpen());
  EXPECT_TRUE(pending.Accessor);
  EXPECT_TRUE(pending.Paused);
  EXPECT_EQ(pending.Sequence, 3);
  EXPECT_EQ(pending.Position, 2500);
  EXPECT_EQ(pending.Document->ReadString(u"main", u"projectname", u""), u"A");
  EXPECT_FALSE(open.IsOpen()) << "the show is in one request only";
  EXPECT_FALSE(open.Accessor);

  // A seek carries no show: assigning it leaves none behind.
  TOpenParams seek(4, 100);
  pending.Assign(seek);
  EXPECT_FALSE(pending.IsOpen());
  EXPECT_EQ(pending.Sequence, 4);
  pending.Assign(pending);
  EXPECT_EQ(pending.Sequence, 4);
}

TEST(EngineRecords, ASlideListHoldsAtMostThreeSlidesInOrder) {
  TProbeObject::Register();
  TSlideProducer producer(MakeSource(ShowText(5, 100)).release(), true);
  producer.SetScreen({64, 48}, false, 100, 100);
  producer.SetCurrentTiming(TRef<TTiming>::Make());
  std::vector<TOwned<TDrawContainer>> containers;
  for (int32_t p = 0; p < 5; ++p)
    containers.push_back(producer.MakeContainer(p));
  for (size_t n : {0u, 1u, 3u, 5u}) {
    std::vector<TOwned<TDrawContainer>> some;
    for (size_t i = 0; i < n; ++i)
      some.push_back(std::move(containers[i]));
    TSlideData list(some);
    EXPECT_EQ(list.Count(), static_cast<int>(std::min<size_t>(n, 3)));
    for (int i = 0; i < list.Count(); ++i)
      EXPECT_EQ(list.Slide(i), some[static_cast<size_t>(i)].get());
    EXPECT_EQ(list.Slide(list.Count()), nullptr);
    EXPECT_EQ(list.Slide(-1), nullptr);
    for (size_t i = 0; i < n; ++i)
      containers[i] = std::move(some[i]);
  }
}

// ---- the application queue ----

TEST(QueuedApplication, DeliversInPostingOrderToTheHandlerOfEachNumber) {
  TQueuedApplication app;
  std::vector<std::string> trace;
  const int a = app.AllocateEventNumber([&](int number, TKivEventData& r) {
    trace.push_back("a" + std::to_string(number == 0) + std::to_string(r.EventNumber()));
  });
  const int b = app.AllocateEventNumber([&](int, TKivEventData& r) {
    trace.push_back("b" + std::to_string(r.EventNumber()));
    if (r.EventNumber() == 3) throw std::runtime_error("handler fails");
  });
  ASSERT_NE(a, b);
  app.PostEvent(a, MakeOwned<TKivEventData>(1));
  app.PostEvent(b, MakeOwned<TKivEventData>(2));
  app.PostEvent(b, MakeOwned<TKivEventData>(3));
  app.PostEvent(a, MakeOwned<TKivEventData>(4));
  EXPECT_TRUE(app.WaitForEvents(0));
  EXPECT_EQ(app.ProcessEvents(), 4);
  EXPECT_EQ(trace, (std::vector<std::string>{"a01", "b2", "b3", "a04"})) << "a failing handler stops nothing";
  EXPECT_TRUE(app.IsEmpty());
  EXPECT_FALSE(app.WaitForEvents(0));
}

TEST(QueuedApplication, RecordsOfAReleasedNumberOrAfterShutdownAreFreedUndelivered) {
  int freed = 0;
  int delivered = 0;
  auto app = std::make_unique<TQueuedApplication>();
  const int number = app->AllocateEventNumber([&](int, TKivEventData&) { ++delivered; });
  app->PostEvent(number, MakeOwned<TKivEventData>(14, std::vector<int32_t>{}, MakeOwned<TTracked>(&freed)));
  app->ReleaseEventNumber(number);
  EXPECT_EQ(app->ProcessEvents(), 1);
  EXPECT_EQ(delivered, 0);
  EXPECT_EQ(freed, 1);

  const int other = app->AllocateEventNumber([&](int, TKivEventData&) { ++delivered; });
  app->PostEvent(other, MakeOwned<TKivEventData>(14, std::vector<int32_t>{}, MakeOwned<TTracked>(&freed)));
  app->Shutdown();
  EXPECT_EQ(freed, 2) << "queued records go with the shutdown";
  app->PostEvent(other, MakeOwned<TKivEventData>(14, std::vector<int32_t>{}, MakeOwned<TTracked>(&freed)));
  EXPECT_EQ(freed, 3) << "later posts are freed at once";
  EXPECT_EQ(app->ProcessEvents(), 0);

  // Destroying the application frees what it still holds.
  app = std::make_unique<TQueuedApplication>();
  const int last = app->AllocateEventNumber([&](int, TKivEventData&) { ++delivered; });
  app->PostEvent(last, MakeOwned<TKivEventData>(14, std::vector<int32_t>{}, MakeOwned<TTracked>(&freed)));
  app.reset();
  EXPECT_EQ(freed, 4);
  EXPECT_EQ(delivered, 0);
}

// ---- engine reports on the user-interface thread ----

TEST(EngineReports, PositionsAnswerOnlyTheLatestRequestAndOtherEventsGoToOnEvent) {
  TVirtualHost host;
  TQueuedApplication app;
  auto engine = MakeOwned<TTestEngine>(host, app);
  std::vector<std::string> trace;
  engine->OnFirstFrame = [&](TCustomKivEngine& e) {
    EXPECT_EQ(&e, engine.get());
    trace.push_back("first frame");
  };
  engine->OnPosition = [&](TCustomKivEngine&, int32_t position, bool ended, int32_t length) {
    trace.push_back("position " + std::to_string(position) + (ended ? " end " : " ") +
                    std::to_string(length));
  };
  engine->OnEvent = [&](TCustomKivEngine&, TKivEventData& r) {
    std::string text = "event " + std::to_string(r.EventNumber());
    if (auto* s = dynamic_cast<TStrValue*>(r.Data()))
      text += " " + std::string(s->Value.begin(), s->Value.end());
    trace.push_back(text);
  };

  EXPECT_EQ(engine->Sequence(), 0);
  EXPECT_EQ(engine->NextSequence(), 1);
  const struct {
    int number;
    std::vector<int32_t> integers;
    bool nextSequenceAfter;
  } posts[] = {
      {kEvPosition, {0, 100, 9000, 0}, false},  // answers a request older than the latest: dropped
      {kEvPosition, {1, 520, 9000, 0}, false},  // the latest
      {kEvFirstFrame, {}, true},                // then the user seeks again (sequence 2)
      {kEvPosition, {1, 560, 9000, 0}, false},  // produced before that seek: dropped
      {kEvPosition, {2, 9000, 9000, 1}, false}, // the end of the show
      {kEvPosition, {2, 9000, 9000}, false},    // without its end flag it answers nothing
      {kEvWindowMode, {640, 480, kWindowModeNoBorder}, false},
      {kEvPosition, {3, 10, 9000, 0}, false}, // a request not made yet
  };
  for (const auto& p : posts) {
    engine->PostToUI(p.number, p.integers);
    if (p.nextSequenceAfter) {
      // The viewer takes the number on the user-interface thread: everything queued before is older.
      app.ProcessEvents();
      engine->NextSequence();
    }
  }
  engine->PostToUI(kEvAction, {10, 0}, MakeOwned<TStrValue>(u"calc"));
  app.ProcessEvents();
  EXPECT_EQ(trace, (std::vector<std::string>{"position 520 9000", "first frame", "position 9000 end 9000",
                                             "event 17", "event 12 calc"}));
}

TEST(EngineReports, RecordsOfAFreedEngineAreDroppedAndItsQueueFreesWhatIsPostedAfterItStopped) {
  TVirtualHost host;
  TQueuedApplication app;
  int freed = 0;
  int calls = 0;
  {
    auto engine = MakeOwned<TTestEngine>(host, app);
    engine->OnEvent = [&](TCustomKivEngine&, TKivEventData&) { ++calls; };
    engine->Start();
    engine->Stop();
    EXPECT_FALSE(engine->Running());
    engine->Events().Post(kEvMouse, MakeOwned<TTracked>(&freed));
    EXPECT_EQ(freed, 1) << "posting to a stopped engine frees the data at once";
    EXPECT_TRUE(engine->Events().IsEmpty());
    engine->Events().Send(kEvRenderImage); // returns at once
    engine->PostToUI(kEvImage, {}, MakeOwned<TTracked>(&freed));
  }
  app.ProcessEvents();
  EXPECT_EQ(calls, 0);
  EXPECT_EQ(freed, 2);
}

// ---- the window a show asks for ----

TEST(SlideLoaderWindow, SizeCaptionAndModeFollowTheProject) {
  const TSize desktop{1280, 1024};
  const struct {
    const char* what;
    std::string main;
    int screenMode;
    TSize size;
    std::u16string caption;
    bool border;
    int windowMode;
  } cases[] = {
      {"nothing said", "", 1, desktop, u"KivShow", false, kWindowModeFullScreen},
      {"full screen ignores the window's caption and size",
       "projectname=Trip\r\nopt_scr_full=1\r\nopt_scr_caption=Other\r\nopt_withoutborder=0\r\nopt_scr_width="
       "800\r\n",
       1, desktop, u"Trip", false, kWindowModeFullScreen},
      {"a window without width",
       "projectname=Trip\r\nopt_scr_full=0\r\nopt_scr_caption=Other\r\n",
       0,
       {640, 480},
       u"Trip",
       false,
       kWindowModeNoBorder},
      {"a window with a frame takes its caption",
       "projectname=Trip\r\nopt_scr_full=0\r\nopt_withoutborder=0\r\nopt_scr_caption=Holiday 2024\r\n"
       "opt_scr_width=1024\r\nopt_scr_height=600\r\n",
       0,
       {1024, 600},
       u"Holiday 2024",
       true,
       kWindowModeBorder},
      {"a frame without a caption keeps the project's name",
       "projectname=Trip\r\nopt_scr_full=0\r\nopt_withoutborder=0\r\n",
       0,
       {640, 480},
       u"Trip",
       true,
       kWindowModeBorder},
      {"mode 3 takes the show's size",
       "opt_scr_full=3\r\nopt_scr_width=800\r\nopt_scr_height=500\r\n",
       3,
       {800, 500},
       u"KivShow",
       false,
       kWindowModeNoBorder},
      {"another mode is a window of the desktop's size", "opt_scr_full=2\r\nopt_withoutborder=0\r\n", 2,
       desktop, u"KivShow", true, kWindowModeBorder},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    TVirtualHost host;
    auto loader =
        MakeOwned<TKivSlideLoader>(host, *MakeSource("[main]\r\n" + c.main).release(), 3, true, desktop);
    EXPECT_EQ(loader->ScreenMode(), c.screenMode);
    EXPECT_EQ(loader->Size, c.size);
    EXPECT_EQ(loader->Caption, c.caption);
    EXPECT_EQ(loader->HasBorder, c.border);
    EXPECT_EQ(loader->WindowMode(), c.windowMode);
    EXPECT_TRUE(loader->OwnsSource());
    EXPECT_EQ(&loader->Project(), &loader->Source().Document());
  }
}

TEST(SlideLoaderWindow, AWindowWithoutWidthPreparesSlidesFor640x480) {
  TProbeObject::Register();
  TVirtualHost host;
  // MinorVersion 12 takes the aspect from the slide area, so the frame fills it.
  auto loader = MakeOwned<TKivSlideLoader>(host,
                                           *MakeSource("[main]\r\nMinorVersion=12\r\nopt_scr_full=0\r\nopt_"
                                                       "slidescount=1\r\nopt_synchpos1=100\r\n[Slide1]\r\n")
                                                .release(),
                                           3, true);
  loader->SetScreen(false);
  EXPECT_EQ(loader->Cache().Producer().ScreenSize(), (TSize{640, 480}));
  EXPECT_EQ(loader->DisplayRect(), (TRect{0, 0, 640, 480}));
  loader->ShowClock().SetTime(50);
  loader->Start();
  host.Advance(20); // the time before the show, then the slide
  ASSERT_EQ(loader->Cache().Containers().size(), 2u);
  const TKivSlide* slide = loader->Cache().Containers()[1]->Slide();
  ASSERT_TRUE(slide);
  EXPECT_FLOAT_EQ(slide->Size().x, 640);
  EXPECT_FLOAT_EQ(slide->Size().y, 480);
  loader->Stop();
}

TEST(SlideLoaderWindow, CoverFillsTheSlideAreaInsteadOfFittingInIt) {
  TVirtualHost host;
  auto loader = MakeOwned<TKivSlideLoader>(
      host, *MakeSource("[main]\r\nMinorVersion=21\r\nopt_scr_width=800\r\nopt_scr_height=600\r\n").release(),
      3, true);
  ASSERT_EQ(loader->Size, kHeadlessDesktopSize);
  loader->SetScreen(false);
  EXPECT_EQ(loader->DisplayRect(), (TRect{240, 0, 1680, 1080}));
  loader->SetScreen(true);
  EXPECT_EQ(loader->DisplayRect(), (TRect{0, 0, 1920, 1080}));
  // The engine puts its device's size into the slide area before it lays slides out.
  loader->Size = {1000, 1000};
  loader->SetScreen(false);
  EXPECT_EQ(loader->DisplayRect(), (TRect{0, 125, 1000, 875}));
}

TEST(SlideLoaderWindow, AWindowOfMoreThanThreeSlidesIsRefused) {
  const TAssertionSink previous = SetAssertionSink([](const std::string&) {});
  TVirtualHost host;
  for (int32_t size : {0, 4}) {
    std::string error;
    try {
      TKivSlideLoader loader(host, *MakeSource("[main]\r\n").release(), size, true);
    } catch (const std::exception& e) {
      error = e.what();
    }
    EXPECT_NE(error.find("Assertion failure"), std::string::npos) << size << ": " << error;
  }
  SetAssertionSink(previous);
}

} // namespace
} // namespace kiv

// The per-clip extractor: frame numbers of clip times, which slot the worker fills and which one the
// drawer gets, the order of requests during playback under the virtual host, and a worker that died.

#include "VideoExtractor.h"
#include "Exceptions.h"
#include "ThreadHost.h"
#include "VirtualHost.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include <stdexcept>
#include <vector>

namespace kiv {
namespace {

// A clip of `count` frames whose frame n is a picture whose first luma byte is n (mod 256).
class TCountingSource : public TFrameSource {
public:
  TCountingSource(double rate, int64_t count) {
    width = 4;
    height = 4;
    frameRate = rate;
    frameCount = count;
  }
  bool GetFrame(int64_t n, TYUVImage& image) override {
    decoded.push_back(n);
    if (throwAt == n) throw std::runtime_error("decoder crashed");
    if (failAt == n) return false;
    const TYUVPlane y = image.GetPlane(kPlaneY);
    if (y.data) y.data[0] = static_cast<uint8_t>(n);
    image.PutPlane(kPlaneY, y);
    image.Done();
    return true;
  }
  bool GetFrame24(int64_t, TRGBImage&) override { return false; }

  std::vector<int64_t> decoded;
  int64_t failAt = -100;
  int64_t throwAt = -100;
};

int ShownFrame(const TExtractorSlot& slot) {
  return static_cast<TMemoryYUVImage&>(*slot.image).PlaneBytes(kPlaneY)[0];
}

struct TRig {
  explicit TRig(double rate = 25, int64_t count = 100, int images = 2) : source(rate, count) {
    extractor = TRef<TKivVideoExtractor>::Make(host, &source);
    for (int i = 0; i < images; ++i)
      extractor->AddImage(TRef<TMemoryYUVImage>::Make(4, 4, kYUVLumaOnly));
    host.RunReady();
  }
  ~TRig() { extractor->Stop(); }
  // Asks for the frame at ms and lets the worker deliver it.
  void Decoded(double ms) {
    extractor->Request(false, ms);
    host.RunReady();
  }
  TVirtualHost host;
  TCountingSource source;
  TRef<TKivVideoExtractor> extractor;
};

TEST(VideoExtractor, FrameNumbersOfClipTimes) {
  const struct {
    double rate;
    int64_t count;
    bool repeat;
    double ms;
    int64_t frame;
  } cases[] = {
      {25, 100, false, 1000, 25},     {25, 100, false, -10, 0},
      {25, 100, false, 20, 0}, // 0.5: half to even
      {25, 100, false, 60, 2},        {25, 100, false, 3999, 99},
      {25, 100, false, 1e30, 99},     {25, 100, true, 5000, 25},
      {25, 100, true, 4000, 0},       {25, 0, false, 8000, 200}, // count unknown
      {0, 100, false, 1000, 25}, // a rate the source does not know: 25 per second
      {29.97, 1000, false, 1001, 30},
  };
  for (const auto& c : cases) {
    TRig rig(c.rate, c.count);
    rig.extractor->SetRepeat(c.repeat);
    EXPECT_EQ(rig.extractor->FrameAt(c.ms), c.frame) << c.rate << " fps, " << c.ms << " ms";
  }
  TRig rig(25, 100);
  EXPECT_DOUBLE_EQ(rig.extractor->FrameWindow(25).from, 980);
  EXPECT_DOUBLE_EQ(rig.extractor->FrameWindow(25).to, 1020);
}

TEST(VideoExtractor, WorkerFillsTheSlotFarthestFromTheRequestTiesAfterIt) {
  TRig rig;
  rig.Decoded(400);  // frame 10 into an empty slot
  rig.Decoded(1200); // frame 30 into the other empty one
  rig.Decoded(800);  // frame 20: 10 and 30 lie as far; the one after goes
  EXPECT_EQ(rig.source.decoded, (std::vector<int64_t>{10, 30, 20}));
  EXPECT_EQ(rig.extractor->PoolFrames(), (std::vector<int64_t>{10, 20}));
  EXPECT_EQ(rig.extractor->Requested(), kNoVideoFrame);
  // A frame a slot holds is not asked for again.
  rig.Decoded(400);
  EXPECT_EQ(rig.source.decoded.size(), 3u);
}

TEST(VideoExtractor, TakeGivesTheNearestSlotAndAsksForTheNextDisplayFrame) {
  const struct {
    double displayRate;
    int64_t requested;
  } cases[] = {{50, 14},  // the frame at 540 ms
               {100, 14}, // the frame at 530 ms is 13 again: the one after it
               {0, 14}};  // no display rate: the one after
  for (const auto& c : cases) {
    TRig rig;
    rig.Decoded(400); // 10
    rig.Decoded(480); // 12
    rig.Decoded(640); // 16 replaces 10, the farthest
    ASSERT_EQ(rig.extractor->PoolFrames(), (std::vector<int64_t>{12, 16}));
    std::optional<TTakenFrame> taken = rig.extractor->Take(c.displayRate, 520); // frame 13
    ASSERT_TRUE(taken);
    // 12 and 16: 12 is nearer. Of equal distances the one before would win.
    EXPECT_EQ(taken->slot.frame, 12);
    EXPECT_EQ(taken->slot.asked, 13);
    EXPECT_FALSE(taken->exact);
    EXPECT_EQ(ShownFrame(taken->slot), 12);
    EXPECT_EQ(rig.extractor->Requested(), c.requested) << c.displayRate;
    rig.extractor->Return(std::move(taken->slot));
  }
  TRig tie;
  tie.Decoded(400);                                                // 10
  tie.Decoded(480);                                                // 12
  std::optional<TTakenFrame> taken = tie.extractor->Take(60, 440); // 11: 10 and 12 as far
  ASSERT_TRUE(taken);
  EXPECT_EQ(taken->slot.frame, 10);
  tie.extractor->Return(std::move(taken->slot));
}

TEST(VideoExtractor, PlaybackDecodesEachFrameOnceAheadOfTheDrawer) {
  // A 25 fps clip shown at 60 frames per second for two seconds, the worker stepping between frames.
  TRig rig(25, 100);
  rig.extractor->Request(true, 0);
  int waits = 0;
  for (int frame = 0; frame < 120; ++frame) {
    const double ms = frame * 1000.0 / 60;
    std::optional<TTakenFrame> taken = rig.extractor->Take(60, ms);
    ASSERT_TRUE(taken);
    if (!taken->exact) ++waits;
    EXPECT_EQ(ShownFrame(taken->slot), taken->slot.frame);
    rig.extractor->Return(std::move(taken->slot));
    rig.host.Advance(16);
  }
  EXPECT_EQ(waits, 0);
  // Frames 0 to 50 were shown; the last Take asked for 51.
  std::vector<int64_t> expected;
  for (int64_t n = 0; n <= 51; ++n)
    expected.push_back(n);
  EXPECT_EQ(rig.source.decoded, expected);
}

TEST(VideoExtractor, TheLastFrameOfAClipThatDoesNotRepeatIsNotAskedPast) {
  TRig rig(25, 10);
  rig.Decoded(360); // frame 9, the last
  std::optional<TTakenFrame> taken = rig.extractor->Take(60, 5000);
  ASSERT_TRUE(taken);
  EXPECT_TRUE(taken->exact);
  EXPECT_EQ(rig.extractor->Requested(), kNoVideoFrame);
  rig.extractor->Return(std::move(taken->slot));
  rig.extractor->SetRepeat(true);
  taken = rig.extractor->Take(60, 360);
  ASSERT_TRUE(taken);
  EXPECT_EQ(rig.extractor->Requested(), 0); // on to the start again
  rig.extractor->Return(std::move(taken->slot));
}

TEST(VideoExtractor, LostAndFailedPicturesAreDecodedAgain) {
  TRig rig;
  rig.Decoded(400); // 10
  rig.Decoded(480); // 12
  // The image holding 12 lost its texture: 12 is asked for again and decoded into a slot.
  std::optional<TTakenFrame> taken = rig.extractor->Take(0, 480);
  ASSERT_TRUE(taken);
  TRef<TYUVImage> image = taken->slot.image;
  rig.extractor->Return(std::move(taken->slot));
  image->ContentLost();
  EXPECT_TRUE(image->Invalid());
  EXPECT_EQ(rig.extractor->Requested(), 12);
  rig.host.RunReady();
  EXPECT_EQ(rig.source.decoded.back(), 12);
  EXPECT_FALSE(image->Invalid());

  // A frame that fails to decode is held but marked; a request with waiting tries it again.
  rig.source.failAt = 20;
  rig.Decoded(800);
  taken = rig.extractor->Take(0, 800);
  ASSERT_TRUE(taken);
  EXPECT_EQ(taken->slot.frame, 20);
  EXPECT_TRUE(taken->slot.image->Invalid());
  rig.extractor->Return(std::move(taken->slot));
  rig.source.failAt = -100;
  rig.extractor->Request(true, 800);
  EXPECT_EQ(rig.source.decoded.back(), 20);
  taken = rig.extractor->Take(0, 800);
  ASSERT_TRUE(taken);
  EXPECT_TRUE(taken->exact);
  EXPECT_FALSE(taken->slot.image->Invalid());
  rig.extractor->Return(std::move(taken->slot));
}

TEST(VideoExtractor, WaitingEndsWhenTheWorkerDiesOrCannotWork) {
  {
    // On real threads: the worker raises while decoding and ends; the wait ends with it.
    TThreadHost host;
    TCountingSource source(25, 100);
    source.throwAt = 5;
    auto extractor = TRef<TKivVideoExtractor>::Make(host, &source);
    extractor->AddImage(TRef<TMemoryYUVImage>::Make(4, 4));
    extractor->Request(true, 200);
    // The wait may end as soon as the worker takes the request, before its decode raises; the worker
    // then ends on its own.
    for (int i = 0; i < 10'000 && !extractor->WorkerFinished(); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ASSERT_TRUE(extractor->WorkerFinished());
    // Later requests with waiting return at once instead of waiting for a worker that is gone.
    extractor->Request(true, 400);
    extractor->Stop();
  }
  {
    // Every image taken out: nobody but the caller could make a slot free.
    TRig rig;
    rig.Decoded(0);
    std::optional<TTakenFrame> a = rig.extractor->Take(0, 0);
    std::optional<TTakenFrame> b = rig.extractor->Take(0, 0);
    ASSERT_TRUE(a && b);
    EXPECT_FALSE(rig.extractor->Take(0, 0));
    rig.extractor->Request(true, 2000);
    EXPECT_EQ(rig.extractor->Requested(), 50);
    rig.extractor->Return(std::move(a->slot));
    rig.extractor->Return(std::move(b->slot));
  }
}

TEST(VideoExtractor, RealThreadDeliversTheRequestedFrameBeforeTheWaitEnds) {
  TThreadHost host;
  TCountingSource source(25, 100);
  auto extractor = TRef<TKivVideoExtractor>::Make(host, &source);
  extractor->AddImage(TRef<TMemoryYUVImage>::Make(4, 4, kYUVLumaOnly));
  extractor->AddImage(TRef<TMemoryYUVImage>::Make(4, 4, kYUVLumaOnly));
  for (const double ms : {0.0, 1000.0, 40.0}) {
    extractor->Request(true, ms);
    std::optional<TTakenFrame> taken = extractor->Take(0, ms);
    ASSERT_TRUE(taken);
    EXPECT_TRUE(taken->exact) << ms;
    EXPECT_EQ(ShownFrame(taken->slot), extractor->FrameAt(ms));
    extractor->Return(std::move(taken->slot));
  }
  extractor->Stop();
  EXPECT_TRUE(extractor->WorkerFinished());
}

TEST(ActiveMonitor, RunWantsAMethodAndStartsOneWorker) {
  TVirtualHost host;
  auto owner = TRef<TActiveMonitor>::Make(host);
  TActiveMonitor& monitor = *owner;
  EXPECT_THROW(monitor.Run(false, nullptr), EAssertion);
  const int before = TActiveMonitor::RunningWorkers();
  int rounds = 0;
  EXPECT_TRUE(monitor.Run(true, [&] { ++rounds; }));
  EXPECT_FALSE(monitor.Run(false, [] {}));
  EXPECT_EQ(monitor.State(), TActiveState::Running);
  EXPECT_EQ(TActiveMonitor::RunningWorkers(), before + 1);
  host.RunReady();
  EXPECT_EQ(rounds, 1);
  monitor.EndWorker();
  EXPECT_TRUE(monitor.WorkerFinished());
  EXPECT_EQ(TActiveMonitor::RunningWorkers(), before);
}

} // namespace
} // namespace kiv

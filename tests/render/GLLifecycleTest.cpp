// Engine, renderer creation and release, device loss through the test hook, posted creation, pacing and
// windows.

#include "GLTestSupport.h"

#include <cstdlib>
#include <deque>

namespace kiv::test {
namespace {

using LifecycleTest = GLFixture;

TEST_F(LifecycleTest, EngineAnswersCapabilitiesForTheHeadlessAdapter) {
  EXPECT_GE(engine->GetCap(u"MaxTexWidth", 0), 2048);
  EXPECT_EQ(engine->GetCap(u"maxtexwidth", 0), engine->GetCap(u"MAXTEXHEIGHT", 0));
  EXPECT_EQ(engine->GetCap(u"PixelShaderVersion", 0), static_cast<int32_t>(PixelShaderVersion(2, 0)));
  EXPECT_EQ(engine->GetCap(u"vendor", 0), 0);
  EXPECT_EQ(engine->GetCap(u"nonsense", 0), 0);
  EXPECT_EQ(engine->GetCap(u"maxtexwidth", 5), 0); // no such adapter
  EXPECT_EQ(engine->ShaderLevel(0), 2);
  EXPECT_EQ(engine->AdapterForRect({100, 100, 200, 200}), 0);
  TDisplayMode mode;
  ASSERT_TRUE(engine->GetDisplayMode(0, mode));
  EXPECT_EQ(mode.monitor, (TRect{0, 0, 1920, 1080}));
  EXPECT_EQ(mode.refreshRate, 60);
  EXPECT_FALSE(engine->GetDisplayMode(1, mode));
  EXPECT_TRUE(engine->IsDeviceAvailable());
}

TEST_F(LifecycleTest, HeadlessAdapterSizeIsConfigurable) {
  TGLEngineOptions options;
  options.headlessMonitor = {0, 0, 800, 600};
  options.headlessRefreshRate = 50;
  auto other = TRef<T3DEngineGL>::Make(options);
  TDisplayMode mode;
  ASSERT_TRUE(other->GetDisplayMode(0, mode));
  EXPECT_EQ(mode.monitor, (TRect{0, 0, 800, 600}));
  EXPECT_EQ(mode.refreshRate, 50);
}

TEST_F(LifecycleTest, LostDeviceFreesTheStoreTellsEveryoneAndCanBeCreatedAgain) {
  std::vector<std::string> lines;
  SetDevLogHook([&lines](std::string_view line) { lines.emplace_back(line); });
  int rendererKilled = 0, textureKilled = 0;
  renderer->OnDeviceKilled = [&rendererKilled](T3DRenderer*) { ++rendererKilled; };
  auto texture = renderer->CreateTexture(kTextureKindARGB, 8, 8, false);
  ASSERT_TRUE(texture);
  texture->OnKilled = [&textureKilled] { ++textureKilled; };
  ASSERT_NE(device->FindAttachment<TDevStore>(), nullptr);

  gl->SimulateDeviceLoss();
  EXPECT_FALSE(renderer->Clear({}, kClearTarget, 0, 1));
  EXPECT_EQ(renderer->errorKind, kErrorKindLost);
  EXPECT_EQ(renderer->lastError, kResultFailed);
  EXPECT_EQ(rendererKilled, 1);
  EXPECT_EQ(textureKilled, 1);
  EXPECT_EQ(device->FindAttachment<TDevStore>(), nullptr);
  EXPECT_EQ(texture->store, nullptr);
  EXPECT_NE(std::find(lines.begin(), lines.end(), "T3DRenderer9: DEVICE LOST!"), lines.end());
  EXPECT_NE(std::find(lines.begin(), lines.end(), "Dx Error = 3"), lines.end());
  // Windowed: the next renderer need not avoid exclusive mode... but a lost device while available sets it.
  EXPECT_TRUE(device->FindAttachment<TRectangleWrapper>()->avoidExclusive);

  // Everything answers failure now, without touching GL.
  EXPECT_FALSE(renderer->BeginScene());
  EXPECT_FALSE(renderer->CreateTexture(kTextureKindARGB, 4, 4, false));
  EXPECT_EQ(texture->GetSurface(0), nullptr);
  texture.reset(); // a dead texture frees quietly

  // The owner drops the renderer and asks for a new one.
  renderer.reset();
  TDisplayMode mode;
  ASSERT_TRUE(engine->GetDisplayMode(0, mode));
  renderer = engine->CreateRenderer(device.get(), mode);
  ASSERT_TRUE(renderer);
  EXPECT_EQ(renderer->errorKind, 0);
  ASSERT_TRUE(renderer->BeginScene());
  ASSERT_TRUE(renderer->Clear({}, kClearTarget, 0xFF00FF00, 1));
  TDevBitmap bitmap;
  ASSERT_TRUE(renderer->GetRenderTarget()->CopyToBitmap(bitmap));
  EXPECT_EQ(bitmap.Pixel32(3, 3), 0xFF00FF00u);
}

TEST_F(LifecycleTest, WindowedRenderersShareTheStoreDevice) {
  auto texture = renderer->CreateTexture(kTextureKindARGB, 4, 4, false);
  ASSERT_TRUE(texture);
  TDevStore* store = device->FindAttachment<TDevStore>();
  renderer.reset();
  EXPECT_EQ(device->FindAttachment<TDevStore>(), store);
  EXPECT_EQ(texture->store, store);
  TDisplayMode mode;
  engine->GetDisplayMode(0, mode);
  renderer = engine->CreateRenderer(device.get(), mode);
  ASSERT_TRUE(renderer && renderer->BeginScene());
  renderer->SetCullNone(true);
  renderer->SetTransform(kTransformWorld, PixelMatrix(kWidth, kHeight));
  Upload(*texture, 0, std::vector<uint32_t>(16, 0xFF123456));
  ASSERT_TRUE(Draw(Quad(0, 0, 4, 4, 0xFFFFFFFF), {texture.get()}, kDrawTextured));
  EXPECT_EQ(ReadTarget().Pixel32(1, 1), 0xFF123456u);
}

TEST_F(LifecycleTest, FreeingTheDrawDeviceKillsTheRendererStore) {
  int killed = 0;
  renderer->OnDeviceKilled = [&killed](T3DRenderer*) { ++killed; };
  device.reset();
  EXPECT_EQ(killed, 1);
  EXPECT_EQ(renderer->drawDevice, nullptr);
  EXPECT_FALSE(renderer->BeginScene());
  EXPECT_EQ(renderer->errorKind, kErrorKindLost);
}

TEST_F(LifecycleTest, FullScreenDeviceCreatedWindowedOnceAfterALossIsRecreated) {
  TDisplayMode mode;
  engine->GetDisplayMode(0, mode);
  renderer.reset();
  device->fullScreen = true;
  device->FindAttachment<TRectangleWrapper>()->avoidExclusive = true; // as left by a loss
  renderer = engine->CreateRenderer(device.get(), mode);
  ASSERT_TRUE(renderer);
  auto* first = static_cast<T3DRendererGL*>(renderer.get());
  EXPECT_FALSE(first->Exclusive());
  EXPECT_FALSE(device->FindAttachment<TRectangleWrapper>()->avoidExclusive); // one shot
  // Active while created windowed: the device is dropped so the next one is exclusive.
  EXPECT_FALSE(renderer->BeginScene());
  EXPECT_EQ(device->FindAttachment<TDevStore>(), nullptr);
  renderer.reset();
  renderer = engine->CreateRenderer(device.get(), mode);
  ASSERT_TRUE(renderer);
  EXPECT_TRUE(static_cast<T3DRendererGL*>(renderer.get())->Exclusive());
  EXPECT_TRUE(renderer->BeginScene());
  // The back buffer has the monitor's size.
  T3DSurface* backBuffer = nullptr;
  ASSERT_TRUE(renderer->GetBackBuffer(backBuffer));
  EXPECT_EQ(backBuffer->GetSize(), (TSize{1920, 1080}));
}

// FreeEngine drops only the process's reference: a renderer made from the engine still asks it, here when
// the device is lost.
TEST(EngineLifetime, RenderersKeepTheProcessEngineAfterFreeEngine) {
  std::string whyNot;
  if (!HeadlessGLAvailable(&whyNot)) GTEST_SKIP() << "no headless EGL display, GL tests skipped: " << whyNot;
  SetMainThread(std::this_thread::get_id());
  RegisterGLEngine();
  FreeEngine();
  T3DEngine* engine = Engine();
  ASSERT_NE(engine, nullptr);
  auto device = MakeOwned<TDrawDevice>();
  device->bounds = {0, 0, 16, 16};
  TDisplayMode mode;
  ASSERT_TRUE(engine->GetDisplayMode(0, mode));
  auto renderer = engine->CreateRenderer(device.get(), mode);
  ASSERT_TRUE(renderer);
  FreeEngine();
  static_cast<T3DRendererGL*>(renderer.get())->SimulateDeviceLoss();
  EXPECT_FALSE(renderer->Clear({}, kClearTarget, 0, 1));
  EXPECT_EQ(renderer->errorKind, kErrorKindLost);
  // Set from the engine's answer that the device is available again.
  EXPECT_TRUE(device->FindAttachment<TRectangleWrapper>()->avoidExclusive);
  renderer.reset();
  device.reset();
}

// Collects posted work; the test plays the main thread's event loop.
class QueueDispatcher final : public TMainThreadDispatcher {
public:
  void Post(std::function<void()> job) override {
    std::lock_guard lock(mutex);
    jobs.push_back(std::move(job));
  }
  void RunAll() {
    std::deque<std::function<void()>> pending;
    {
      std::lock_guard lock(mutex);
      pending.swap(jobs);
    }
    for (auto& job : pending)
      job();
  }
  std::mutex mutex;
  std::deque<std::function<void()>> jobs;
};

TEST_F(LifecycleTest, OtherThreadsPostCreationToTheMainThread) {
  QueueDispatcher dispatcher;
  SetMainThreadDispatcher(&dispatcher);
  renderer.reset();
  TDisplayMode mode;
  engine->GetDisplayMode(0, mode);
  TOwned<T3DRenderer> posted, abandoned;
  auto freshDevice = MakeOwned<TDrawDevice>();
  freshDevice->bounds = {0, 0, 16, 16};
  auto otherDevice = MakeOwned<TDrawDevice>();
  otherDevice->bounds = {0, 0, 16, 16};
  std::thread worker([&] {
    posted = engine->CreateRenderer(freshDevice.get(), mode);
    abandoned = engine->CreateRenderer(otherDevice.get(), mode);
    // Not created yet: the renderer answers failure until the main thread has run the request.
    EXPECT_FALSE(posted->BeginScene());
    abandoned.reset();
  });
  worker.join();
  ASSERT_TRUE(posted);
  EXPECT_EQ(freshDevice->FindAttachment<TDevStore>(), nullptr);
  EXPECT_EQ(dispatcher.jobs.size(), 2u);
  dispatcher.RunAll();
  ASSERT_NE(freshDevice->FindAttachment<TDevStore>(), nullptr);
  EXPECT_EQ(otherDevice->FindAttachment<TDevStore>(), nullptr); // freed before its turn
  // The worker draws with the context the main thread created.
  bool drew = false;
  uint32_t pixel = 0;
  std::thread drawer([&] {
    drew = posted->BeginScene() && posted->Clear({}, kClearTarget, 0xFF445566, 1);
    TDevBitmap bitmap;
    if (drew && posted->GetRenderTarget()->CopyToBitmap(bitmap)) pixel = bitmap.Pixel32(0, 0);
    static_cast<T3DRendererGL*>(posted.get())->ReleaseContext();
  });
  drawer.join();
  EXPECT_TRUE(drew);
  EXPECT_EQ(pixel, 0xFF445566u);
  SetMainThreadDispatcher(nullptr);
  posted.reset();
}

class FakeClock final : public TDevClock {
public:
  uint32_t NowMs() override { return now; }
  void SleepMs(uint32_t ms) override {
    sleeps.push_back(ms);
    now += ms;
  }
  uint32_t now = 1000;
  std::vector<uint32_t> sleeps;
};

TEST_F(LifecycleTest, PresentPacesToTheRefreshRate) {
  FakeClock clock;
  SetDevClock(&clock);
  ASSERT_TRUE(renderer->Present({}, {}));
  clock.sleeps.clear();
  clock.now += 5; // 5 ms after the previous present
  ASSERT_TRUE(renderer->Present({}, {}));
  clock.now += 20;
  ASSERT_TRUE(renderer->Present({}, {}));
  EXPECT_EQ(clock.sleeps, (std::vector<uint32_t>{8, 1}));
  SetDevClock(nullptr);
}

// The pacing is per process: a present on another thread counts as this renderer's last one.
TEST_F(LifecycleTest, PresentPacesAgainstTheLastPresentOfAnyThread) {
  FakeClock clock;
  SetDevClock(&clock);
  std::thread([&clock] { SetLastPresentTime(clock.now - 5); }).join();
  ASSERT_TRUE(renderer->Present({}, {}));
  EXPECT_EQ(clock.sleeps, (std::vector<uint32_t>{8}));
  EXPECT_EQ(LastPresentTime(), clock.now);
  SetDevClock(nullptr);
}

TEST_F(LifecycleTest, LossAtPresentIsReported) {
  gl->SimulateDeviceLoss();
  FakeClock clock;
  SetDevClock(&clock);
  EXPECT_FALSE(renderer->Present({}, {}));
  SetDevClock(nullptr);
  EXPECT_EQ(renderer->errorKind, kErrorKindLost);
  EXPECT_EQ(device->FindAttachment<TDevStore>(), nullptr);
}

// An SDL window with its own GL context. SDL's offscreen driver gives one without a display.
TEST(WindowedDevice, DrawsAndPresentsIntoAnSdlWindow) {
  if (!std::getenv("SDL_VIDEODRIVER")) setenv("SDL_VIDEODRIVER", "offscreen", 0);
  std::string whyNot;
  auto window = CreateSdlWindow("kivviewer test", {0, 0, 32, 24}, true, &whyNot);
  if (!window) GTEST_SKIP() << "no SDL window: " << whyNot;
  SetMainThread(std::this_thread::get_id());
  auto engine = TRef<T3DEngineGL>::Make(TGLEngineOptions{});
  {
    auto device = MakeOwned<TDrawDevice>();
    device->window = window.get();
    device->bounds = {0, 0, 32, 24};
    TDisplayMode mode;
    ASSERT_TRUE(engine->GetDisplayMode(0, mode));
    EXPECT_GT(mode.monitor.Width(), 0);
    int created = 0;
    device->OnRendererCreated = [&created](T3DRenderer*) { ++created; };
    auto renderer = engine->CreateRenderer(device.get(), mode);
    ASSERT_TRUE(renderer);
    EXPECT_EQ(created, 1);
    ASSERT_TRUE(renderer->BeginScene());
    ASSERT_TRUE(renderer->Clear({}, kClearTarget, 0xFF204060, 1));
    FakeClock clock;
    SetDevClock(&clock);
    const TRect whole[] = {{0, 0, 32, 24}};
    EXPECT_TRUE(renderer->Present(whole, whole));
    SetDevClock(nullptr);
    TDevBitmap bitmap;
    ASSERT_TRUE(renderer->GetRenderTarget()->CopyToBitmap(bitmap));
    EXPECT_EQ(bitmap.Pixel32(31, 23), 0xFF204060u);
    renderer.reset();
  }
}

} // namespace
} // namespace kiv::test

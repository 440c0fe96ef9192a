#include "OffscreenFrame.h"

#include "ScreenDrawer.h"
#include "GLContext.h"
#include "GLDeviceLayer.h"
#include "Exceptions.h"
#include "ImageFileIO.h"
#include "ContentObjects.h"
#include "SlideProducer.h"
#include "ShowTimeline.h"

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace kiv {
namespace {

constexpr TSize kFallbackSize{800, 600};
constexpr uint32_t kOutsideColor = 0xFF000000;
// The first and the last of a transition's pair are all a frame needs.
constexpr int32_t kCachedSlides = 2;
constexpr auto kCreationWait = std::chrono::seconds(10);

// The frame's root: black everywhere, the slide, then black again over whatever of the slide reaches
// outside its frame (backgrounds are drawn a little larger than the frame).
class TFrameItem final : public TDrawItem {
public:
  TFrameItem(TKivSlide* slide, const TRect& frame, const TRect& bounds)
      : slide_(slide), frame_(frame), bounds_(bounds) {}
  void Draw(TDeviceDrawer& drawer) override {
    drawer.Clear(kOutsideColor, true);
    if (!slide_) return;
    drawer.DrawItem(*slide_);
    const TRect bands[] = {{bounds_.left, bounds_.top, bounds_.right, frame_.top},
                           {bounds_.left, frame_.bottom, bounds_.right, bounds_.bottom},
                           {bounds_.left, frame_.top, frame_.left, frame_.bottom},
                           {frame_.right, frame_.top, bounds_.right, frame_.bottom}};
    for (const TRect& band : bands)
      if (!band.IsEmpty()) drawer.ClearRect(kOutsideColor, band);
  }

private:
  TKivSlide* slide_;
  TRect frame_;
  TRect bounds_;
};

} // namespace

TSize DesignFrameSize(const TKivSource& source) {
  const TIniSection* main = source.MainSection();
  if (!main) return kFallbackSize;
  const TSize design{main->ReadInteger(u"opt_scr_width", 0), main->ReadInteger(u"opt_scr_height", 0)};
  return design.width > 0 && design.height > 0 ? design : kFallbackSize;
}

// Declared in the order they are freed backwards: the slides (and the pictures they prepared on the
// drawer) go before the drawer, the drawer before the engine share and the main-thread claim.
struct TFrameRenderer::TState {
  explicit TState(TKivSource& show) : source(show) {}
  ~TState() {
    cache.reset();
    producer.reset();
    if (drawer) drawer->Close();
    drawer.reset();
    device.reset();
  }

  TMainThreadClaim mainThread;
  TEngineShare engine;
  TKivSource& source;
  TOwned<TDrawDevice> device;
  TOwned<T3DDrawer> drawer;
  TRef<TTiming> timing;
  TOwned<TSlideProducer> producer;
  TOwned<TSlideCache> cache;

  // Device creation posted to the main thread's owner: set there, waited for here.
  std::mutex createdMutex;
  std::condition_variable createdChanged;
  bool created = false;
};

std::unique_ptr<TFrameRenderer> TFrameRenderer::Create(TKivSource& source, TSize size, std::string* whyNot) {
  if (!HeadlessGLAvailable(whyNot)) return nullptr;
  auto renderer = std::unique_ptr<TFrameRenderer>(new TFrameRenderer(source, size));
  TState& s = *renderer->state_;
  if (IsMainThread()) return renderer; // created at once, or not at all: Render answers for both
  // The main thread's owner creates the device when its loop comes round; a loop that never does must
  // not hold this thread for ever.
  std::unique_lock lock(s.createdMutex);
  if (!s.createdChanged.wait_for(lock, kCreationWait, [&s] { return s.created; })) {
    if (whyNot) *whyNot = "the main thread did not create the GL device";
    return nullptr;
  }
  return renderer;
}

TFrameRenderer::TFrameRenderer(TKivSource& source, TSize size) : size_(size) {
  RegisterContentKinds();
  // A viewer that registered its engine keeps it; the renderer then shares the viewer's.
  if (!EngineFactoryRegistered()) RegisterGLEngine();
  state_ = std::make_unique<TState>(source);
  TState& s = *state_;
  s.device = MakeOwned<TDrawDevice>();
  s.device->bounds = {0, 0, size.width, size.height};
  s.device->OnRendererCreated = [&s](T3DRenderer*) {
    std::lock_guard lock(s.createdMutex);
    s.created = true;
    s.createdChanged.notify_all();
  };
  s.drawer = MakeOwned<T3DDrawer>(MakeOwned<T3DScreen>());
  s.drawer->OnNotify = [](TDeviceDrawer&, TDrawItem*, int) { return true; };
  s.drawer->mode = 1; // drawn to be read back, never presented
  s.drawer->Init(s.device.get());

  s.timing = TRef<TTiming>::Make();
  s.producer = MakeOwned<TSlideProducer>(&source, false);
  s.producer->SetCurrentTiming(s.timing);
  s.producer->SetScreen(size, false, 100, 100);
  s.cache = MakeOwned<TSlideCache>(s.producer.get(), kCachedSlides, false);
}

TFrameRenderer::~TFrameRenderer() = default;

TRect TFrameRenderer::FrameRect() const {
  return state_->producer->GetFrameRect();
}

std::optional<TDevBitmap> TFrameRenderer::Render(double time) {
  TState& s = *state_;
  // Positions wrap modulo the slide count, which must not be 0.
  if (s.source.SlideCount() <= 0) throw Exception("No Slides in Presentation");
  s.timing->SetTime(time);
  while (s.cache->Prepare(time)) {
  }
  const auto [first, last] = s.producer->FindVisibleSlides(time);
  // Until transitions draw, a slide change is a cut to the incoming slide.
  int32_t wanted = first;
  if (last != first && time >= s.producer->Source().GetSlideTiming(last).start) wanted = last;
  lastDrawn_ = {first, last, wanted};

  TKivSlide* slide = nullptr;
  for (const TOwned<TDrawContainer>& container : s.cache->Containers()) {
    if (!container || container->Position() != wanted) continue;
    container->SetTime(time);
    slide = container->Slide();
    break;
  }
  if (slide) {
    slide->UpdateGeometry(true);
    if (s.drawer->IsReady()) slide->Prepare(*s.drawer);
    // Pictures loaded by Prepare give their objects a size only now: place them again.
    slide->UpdateGeometry(true);
  }
  TFrameItem root(slide, FrameRect(), s.drawer->bounds);
  if (!s.drawer->DrawItem(root)) return std::nullopt;
  return s.drawer->GetScreenshot();
}

bool WriteFramePng(const std::string& path, const TDevBitmap& frame) {
  if (frame.Format() != TPixelFormat::pf32bit) return false;
  // The screen is opaque; its alpha channel is the drawer's bookkeeping. A failed write leaves no
  // half-written picture under the name asked for.
  return WritePngFile(path, frame.Width(), frame.Height(),
                      reinterpret_cast<const uint32_t*>(frame.ScanLine(0)), frame.Pitch() / 4, false);
}

} // namespace kiv

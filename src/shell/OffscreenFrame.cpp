#include "OffscreenFrame.h"

#include "ScreenDrawer.h"
#include "DrawerTransitions.h"
#include "GLContext.h"
#include "GLDeviceLayer.h"
#include "Exceptions.h"
#include "ImageFileIO.h"
#include "ContentObjects.h"
#include "Clock.h"
#include "Overlay.h"
#include "SlideProducer.h"
#include "ShowTimeline.h"

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace kiv {
namespace {

constexpr TSize kFallbackSize{800, 600};
// The first and the last of a transition's pair are all a frame needs.
constexpr int32_t kCachedSlides = 2;
constexpr auto kCreationWait = std::chrono::seconds(10);

// Black over whatever of the slide reaches outside its frame (backgrounds are drawn a little larger
// than the frame).
void ClearOutside(TDeviceDrawer& drawer, const TRect& frame, const TRect& bounds, uint32_t color) {
  const TRect bands[] = {{bounds.left, bounds.top, bounds.right, frame.top},
                         {bounds.left, frame.bottom, bounds.right, bounds.bottom},
                         {bounds.left, frame.top, frame.left, frame.bottom},
                         {frame.right, frame.top, bounds.right, frame.bottom}};
  for (const TRect& band : bands)
    if (!band.IsEmpty()) drawer.ClearRect(color, band);
}

// The frame's root, as the engine's: the show's band colour everywhere, the slide (or two slides through
// the transition between them) sharpened as the show asks, then the overlay, which clears the bands
// outside the frame before its panel; without an overlay the bands are cleared after the slides.
class TFrameItem final : public TDrawItem {
public:
  TFrameItem(TKivSlide* slide, TThirdSlide* overlay, const TRect& frame, const TRect& bounds,
             const TKivSource& show)
      : slide_(slide), overlay_(overlay), frame_(frame), bounds_(bounds),
        background_(show.HiderColor().Argb()), sharpenAmount_(show.UnsharpAmount()),
        sharpenThreshold_(show.UnsharpThreshold()) {}
  // The outgoing slide and the incoming one with its transition record.
  void SetTransition(TKivSlide* outgoing, TKivFilter* filter) {
    outgoing_ = outgoing;
    filter_ = filter;
  }
  void Draw(TDeviceDrawer& drawer) override {
    drawer.Clear(background_, true);
    const bool sharpen = sharpenAmount_ > 0;
    if (sharpen) drawer.BeginSharpen();
    if (slide_ && outgoing_ && filter_)
      drawer.DrawTransition(*outgoing_, *slide_, filter_);
    else if (slide_)
      drawer.DrawItem(*slide_);
    if (sharpen) drawer.EndSharpen(sharpenThreshold_, sharpenAmount_);
    if (overlay_)
      drawer.DrawItem(*overlay_);
    else
      ClearOutside(drawer, frame_, bounds_, background_);
  }
  // The slides' videos give their pictures back, and the transition ends its frame.
  void FrameDone(TDeviceDrawer& drawer) override {
    if (slide_) slide_->FrameDone(drawer);
    if (outgoing_) outgoing_->FrameDone(drawer);
    if (filter_ && filter_->filter) filter_->filter->FrameDone();
  }

private:
  TKivSlide* slide_;
  TThirdSlide* overlay_;
  TRect frame_;
  TRect bounds_;
  uint32_t background_;
  float sharpenAmount_;
  uint8_t sharpenThreshold_;
  TKivSlide* outgoing_ = nullptr;
  TKivFilter* filter_ = nullptr;
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
    overlay.reset();
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
  // The logo and the panel as the engine draws them, the panel shown; its fades never run here.
  TManualClock overlayClock;
  TOwned<TThirdSlide> overlay;

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
  InstallTransitions(*s.drawer);
  // A still and a video frame at the same time are the same picture: random transitions (and the mosaic's
  // cells) are chosen the same way every time.
  source.SetDeterministic(true, 0);

  s.timing = TRef<TTiming>::Make();
  s.producer = MakeOwned<TSlideProducer>(&source, false);
  s.producer->SetCurrentTiming(s.timing);
  s.producer->SetScreen(size, false, 100, 100);
  s.cache = MakeOwned<TSlideCache>(s.producer.get(), kCachedSlides, false);

  if (const TIniSection* main = source.MainSection()) {
    TThirdSlideParams params;
    params.accessor = &source.Accessor();
    params.displayRect = FrameRect();
    params.areaSize = size;
    params.fillOutside = [frame = params.displayRect, color = source.HiderColor().Argb()](
                             TDeviceDrawer& drawer) { ClearOutside(drawer, frame, drawer.bounds, color); };
    params.callbacks.isPlaying = [] { return true; };
    // A video-style bar shows the show's length and the music at its full volume.
    params.showLength = source.TotalDuration();
    params.volume = 1;
    params.clock = &s.overlayClock;
    s.overlay = MakeOwned<TThirdSlide>(*main, std::move(params));
    s.overlay->ShowPanelNow();
  }
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
  // Once the next slide has begun it is the one drawn, through its transition while the one before it is
  // still visible.
  int32_t wanted = first;
  if (last != first && time >= s.producer->Source().GetSlideTiming(last).start) wanted = last;
  lastDrawn_ = {first, last, wanted};

  auto slideAt = [&s, time](int32_t position) -> TKivSlide* {
    for (const TOwned<TDrawContainer>& container : s.cache->Containers()) {
      if (!container || container->Position() != position) continue;
      container->SetTime(time);
      TKivSlide* slide = container->Slide();
      if (slide) {
        slide->UpdateGeometry(true);
        if (s.drawer->IsReady()) slide->Prepare(*s.drawer);
        // Pictures loaded by Prepare give their objects a size only now: place them again.
        slide->UpdateGeometry(true);
      }
      return slide;
    }
    return nullptr;
  };
  TKivSlide* slide = slideAt(wanted);
  TKivSlide* outgoing = wanted != first ? slideAt(first) : nullptr;
  // The overlay follows the time: a video-style bar's knob and digits show it.
  if (s.overlay) s.overlay->SetTime(time);
  TFrameItem root(slide, s.overlay.get(), FrameRect(), s.drawer->bounds, s.source);
  // A cut where the incoming slide has no transition.
  if (slide && outgoing && slide->Filter().duration > 0) root.SetTransition(outgoing, &slide->Filter());
  // As the engine does: the frame is the part drawn, and the transitions' geometry lies in it.
  s.drawer->SetUpdateRect(FrameRect());
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

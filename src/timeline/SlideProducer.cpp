#include "SlideProducer.h"

#include "Assert.h"
#include "ContentObjects.h"
#include "SlideOrder.h"
#include "Log.h"
#include "Utf8Conversion.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace kiv {
namespace {

const TIniSection& EmptyMain() {
  static const TIniSection empty(u"main");
  return empty;
}

// A project without "main" reads every key at its default.
const TIniSection& MainOf(const TKivSource& source) {
  const TIniSection* main = source.MainSection();
  return main ? *main : EmptyMain();
}

// Halves to even, saturating: frame sizes come from show data and screen sizes.
int32_t RoundToInt(double value) {
  if (std::isnan(value)) return 0;
  const double rounded = std::nearbyint(value);
  if (rounded >= static_cast<double>(std::numeric_limits<int32_t>::max()))
    return std::numeric_limits<int32_t>::max();
  if (rounded <= static_cast<double>(std::numeric_limits<int32_t>::min()))
    return std::numeric_limits<int32_t>::min();
  return static_cast<int32_t>(rounded);
}

// A ratio in single precision, 0 when the divisor is 0.
float Ratio(int32_t a, int32_t b) {
  return b == 0 ? 0.0f : static_cast<float>(a) / static_cast<float>(b);
}

// A scale of 0 or less would divide by zero; such a screen is taken at 100 percent.
float UsableScale(float scale) {
  return scale > 0 && std::isfinite(scale) ? scale : 100.0f;
}

// Dialog keys come from the show file; a count past this is not a real list and would only spin.
constexpr int32_t kMaxCustomDialogs = kMaxSlideCount;

} // namespace

// ---- TKivDialog ----

void TKivDialog::SetDialogTime(double time) {
  time_ = time;
}

// ---- frame geometry ----

double PresentationAspectRatio(const TIniIdentList& main, TSize screen) {
  if (main.ReadInteger(u"MinorVersion", 13) > 12) {
    const int32_t width = main.ReadInteger(u"opt_scr_width", 0);
    const int32_t height = main.ReadInteger(u"opt_scr_height", 0);
    if (height <= 0) throw Exception("ZeroSize of Presentation!");
    return static_cast<double>(width) / height;
  }
  double ratio = screen.height > 0 ? static_cast<double>(screen.width) / screen.height : 1.333333333;
  if (main.FindIdent(u"opt_scr_ratio")) ratio = static_cast<float>(main.ReadFloat(u"opt_scr_ratio", ratio));
  return ratio;
}

TSize ComputeFrameSize(const TFrameSizeInput& in) {
  const TSize screen = in.screen;
  const TSize design = in.design;
  // A fixed size keeps the design, shrunk to the screen with its aspect but never enlarged. A design
  // without a size has nothing to keep and is fitted like any other.
  if (in.fixedSize && design.width > 0 && design.height > 0) {
    TSize frame;
    if (static_cast<int64_t>(screen.width) * design.height >=
        static_cast<int64_t>(design.width) * screen.height) {
      frame.height = std::min(design.height, screen.height);
      frame.width = RoundToInt(static_cast<double>(frame.height) * design.width / design.height);
    } else {
      frame.width = std::min(design.width, screen.width);
      frame.height = RoundToInt(static_cast<double>(frame.width) * design.height / design.width);
    }
    return frame;
  }

  const float scaleX = UsableScale(in.scaleX);
  const float scaleY = UsableScale(in.scaleY);
  const TSize virtualScreen{RoundToInt(screen.width / static_cast<double>(scaleX) * 100),
                            RoundToInt(screen.height / static_cast<double>(scaleY) * 100)};
  // A design of no or negative width gives no frame rather than a mirrored one.
  const double ratio = in.ratio > 0 ? in.ratio : 0;
  TSize frame{RoundToInt(virtualScreen.height * ratio), virtualScreen.height};
  float k = 0;
  if (!in.cover) {
    k = std::min(Ratio(virtualScreen.width, frame.width), Ratio(virtualScreen.height, frame.height));
  } else {
    const float inverse =
        std::min(Ratio(frame.width, virtualScreen.width), Ratio(frame.height, virtualScreen.height));
    k = inverse == 0 ? 0.0f : 1.0f / inverse;
  }
  if (k != 1) {
    frame = {RoundToInt(static_cast<double>(k) * frame.width),
             RoundToInt(static_cast<double>(k) * frame.height)};
  }
  frame = {RoundToInt(frame.width * static_cast<double>(scaleX) / 100),
           RoundToInt(frame.height * static_cast<double>(scaleY) / 100)};
  // Even sizes centre on whole pixels.
  if (frame.width % 2 != 0 && frame.width < screen.width) ++frame.width;
  if (frame.height % 2 != 0 && frame.height < screen.height) ++frame.height;
  return frame;
}

TRect CenteredFrameRect(TSize screen, TSize frame) {
  const int32_t left = RoundToInt(screen.width / 2.0 - frame.width / 2.0);
  const int32_t top = RoundToInt(screen.height / 2.0 - frame.height / 2.0);
  const TRect rect{left, top, left + frame.width, top + frame.height};
  return IntersectRect(rect, TRect{0, 0, screen.width, screen.height});
}

// ---- TDrawContainer ----

TDrawContainer::TDrawContainer(TRef<TTiming> timing, TOwned<TKivSlide> slide, TSlideInfo info,
                               double passOffset, int32_t position)
    : timing_(std::move(timing)), slide_(std::move(slide)), info_(std::move(info)), passOffset_(passOffset),
      position_(position) {
  RY_ASSERT(timing_);
}

void TDrawContainer::SetTime(double showTime) {
  if (!slide_) return;
  slide_->SetTime(true, showTime - passOffset_);
  slide_->Filter().progress = showTime - info_.start;
}

// ---- TSlideProducer ----

TSlideProducer::TSlideProducer(TKivSource* source, bool ownsSource)
    : source_(source), state_(std::make_shared<TScreenState>()) {
  RY_ASSERT(source_ != nullptr);
  if (ownsSource) ownedSource_.reset(source_);
  // Slides of any show may hold images, texts, buttons, boxes and frames.
  RegisterContentKinds();

  const TIniSection& keys = MainOf(*source_);
  design_ = {keys.ReadInteger(u"opt_scr_width", 0), keys.ReadInteger(u"opt_scr_height", 0)};
  fixedSize_ = keys.ReadBool(u"opt_scr_fullfixedsize", false);

  // The callbacks hold the shared state, not the producer: a slide kept past the producer finds nothing.
  TSlideHostCallbacks callbacks;
  std::shared_ptr<TScreenState> state = state_;
  callbacks.frameRect = [state] {
    std::lock_guard guard(state->lock);
    return state->frameRect;
  };
  callbacks.camera = [state] {
    std::lock_guard guard(state->lock);
    const auto w = static_cast<float>(state->screen.width);
    const auto h = static_cast<float>(state->screen.height);
    return T3DVector{w / 2, h / 2, -h};
  };
  callbacks.findSection = [state](std::u16string_view name) -> const TCommonIniSection* {
    std::lock_guard guard(state->lock);
    return state->project ? FindSlideSection(*state->project, name) : nullptr;
  };
  host_ = TRef<TKivSlideHost>::Make(&source_->Accessor(), std::move(callbacks),
                                    keys.ReadString(u"PathToButtons", u""), false);
  host_->SetSlideCount(source_->SlideCount());
  host_->SetDesignSize(design_);
  state_->project = &source_->Document();
}

TSlideProducer::~TSlideProducer() {
  std::lock_guard guard(state_->lock);
  state_->project = nullptr;
}

void TSlideProducer::SetScreen(TSize screen, bool cover, float scaleX, float scaleY) {
  ratio_ = PresentationAspectRatio(MainOf(*source_), screen);
  screen_ = screen;
  cover_ = cover;
  scaleX_ = UsableScale(scaleX);
  scaleY_ = UsableScale(scaleY);
  frameSize_ = ComputeFrameSize({screen, cover, scaleX_, scaleY_, ratio_, design_, fixedSize_});
  center_ = {static_cast<float>(screen.width) / 2, static_cast<float>(screen.height) / 2};
  std::lock_guard guard(state_->lock);
  state_->screen = screen;
  state_->frameRect = CenteredFrameRect(screen, frameSize_);
}

void TSlideProducer::SetCurrentTiming(TRef<TTiming> timing) {
  timing_ = std::move(timing);
}

TRect TSlideProducer::GetFrameRect() const {
  std::lock_guard guard(state_->lock);
  return state_->frameRect;
}

void TSlideProducer::PlaceSlide(TKivSlide& slide) const {
  const int32_t width = RoundToInt(frameSize_.width / static_cast<double>(scaleX_) * 100);
  const int32_t height = RoundToInt(frameSize_.height / static_cast<double>(scaleY_) * 100);
  slide.SetSize(static_cast<float>(width), static_cast<float>(height));
  // The key-point scale makes the slide's own pixels fill the frame.
  const float scaleX = width > 0 ? static_cast<float>(frameSize_.width * 100.0 / width) : 100.0f;
  const float scaleY = height > 0 ? static_cast<float>(frameSize_.height * 100.0 / height) : 100.0f;
  slide.KeyPoints().SetScale(scaleX, scaleY);
  slide.SetPosition(0, 0);
  slide.SetBaseOrigin({center_.x, center_.y, 0});
}

TOwned<TKivSlide> TSlideProducer::BuildSlide(int32_t position, int32_t pass) {
  const int32_t n = source_->SlideCount();
  if (n <= 0) throw Exception("No Slides in Presentation");
  if (position == -1) return BuildSlideBeforeShow();
  if (position < -1) return nullptr;
  const int32_t index = position % n;
  const TIniSection* section = source_->GetSlideSection(index);
  if (!section) return nullptr;
  try {
    auto slide = MakeOwned<TKivSlide>(host_, pass);
    slide->SetSlideIndex(index);
    PlaceSlide(*slide);
    const TSlideInfo info = source_->GetSlideTiming(index);
    slide->LoadSlide(MainOf(*source_), section, false, info.effectOut, info.effectIn, index);
    const TEffectChoice effect = source_->GetEffect(index);
    TKivFilter& filter = slide->Filter();
    filter.effectClass = effect.effectClass;
    filter.effectKind = effect.effectType;
    filter.duration = effect.time;
    filter.effectParams = effect.params;
    return slide;
  } catch (const std::exception& e) {
    // A broken slide is skipped; the show goes on.
    if (LogActive())
      LogLine("TSlideProducer.BuildSlide: slide " + std::to_string(index) + " skipped: " + e.what());
    return nullptr;
  }
}

TOwned<TKivSlide> TSlideProducer::BuildSlideBeforeShow() {
  const TSlideInfo before = source_->GetSlideTiming(-1);
  try {
    auto slide = MakeOwned<TKivSlide>(host_, 0);
    slide->SetSlideIndex(-1);
    PlaceSlide(*slide);
    slide->SetTimes(before.start, before.end, 0, before.effectOut);
    slide->ReadBackground(MainOf(*source_), source_->GetSlideSection(0));
    return slide;
  } catch (const std::exception& e) {
    if (LogActive())
      LogLine(std::string("TSlideProducer.BuildSlide: the slide before the show failed: ") + e.what());
    return nullptr;
  }
}

TOwned<TKivDialog> TSlideProducer::BuildDialog(std::u16string_view name) {
  const TIniSection& keys = MainOf(*source_);
  const int32_t count = std::min(keys.ReadInteger(u"opt_customdialogscount", 0), kMaxCustomDialogs);
  std::u16string suffix(name);
  for (int32_t k = 1; k <= count; ++k) {
    const std::u16string number = Utf8ToUtf16(std::to_string(k));
    if (keys.ReadString(u"custom_dialog" + number, u"NotFound") == name) {
      suffix = number + u"_";
      break;
    }
  }
  const TIniSection* section = source_->Document().FindSection(u"dialog_" + suffix);
  if (!section) return nullptr;
  try {
    auto dialog =
        MakeOwned<TKivDialog>(host_, std::u16string(name), section->ReadBool(u"DialogPause", false));
    PlaceSlide(*dialog);
    dialog->SetTimes(0, 0, 0, 0);
    dialog->LoadSlide(keys, section, false, 0, 0, -1);
    dialog->SetTime(true, 0);
    return dialog;
  } catch (const std::exception& e) {
    if (LogActive())
      LogLine("TSlideProducer.BuildDialog: " + Utf16ToUtf8(name) + " failed: " + std::string(e.what()));
    return nullptr;
  }
}

TOwned<TDrawContainer> TSlideProducer::MakeContainer(int32_t position) {
  if (!timing_) throw Exception("TSlideProducer.CurrentTiming not Assigned");
  LogInt(std::string(39, '.') + " ", position);
  const int32_t n = source_->SlideCount();
  const int32_t pass = position >= 0 && n > 0 ? position / n : 0;
  TOwned<TKivSlide> slide = BuildSlide(position, pass);
  return MakeOwned<TDrawContainer>(timing_, std::move(slide), source_->GetSlideTiming(position),
                                   pass * source_->TotalDuration(), position);
}

std::pair<int32_t, int32_t> TSlideProducer::FindVisibleSlides(double time) {
  const int32_t first = source_->FindFirstVisible(time);
  cursor_ = first;
  int32_t last = first;
  // Past the last slide of a show without slides there is nothing to come in.
  const bool hasNext =
      first < std::numeric_limits<int32_t>::max() && (first + 1 < 0 || source_->SlideCount() > 0);
  if (hasNext) {
    const TSlideInfo next = source_->GetSlideTiming(first + 1);
    const double t = std::nearbyint(time);
    if (t >= std::nearbyint(next.start) && std::nearbyint(next.visibleUntil) >= t) last = first + 1;
  }
  return {first, last};
}

// ---- TSlideCache ----

TSlideCache::TSlideCache(TSlideProducer* producer, int32_t capacity, bool ownsProducer)
    : producer_(producer), capacity_(capacity) {
  RY_ASSERT(capacity >= 1 && capacity <= 3);
  RY_ASSERT(producer_ != nullptr);
  if (ownsProducer) ownedProducer_.reset(producer_);
}

TSlideCache::~TSlideCache() {
  // Slides call back into the producer through their host: they go first.
  containers_.clear();
}

bool TSlideCache::Prepare(double time) {
  const int32_t first = producer_->FindVisibleSlides(time).first;
  const int64_t windowEnd =
      std::min<int64_t>(static_cast<int64_t>(first) + capacity_ - 1, std::numeric_limits<int32_t>::max());
  const auto outside = [&](const TOwned<TDrawContainer>& c) {
    return c->Position() < first || c->Position() > windowEnd;
  };
  // Keep at least one container, so that there is always something to draw.
  for (size_t i = 0; i < containers_.size() && containers_.size() >= 2;) {
    if (outside(containers_[i])) {
      TOwned<TDrawContainer> gone = std::move(containers_[i]);
      containers_.erase(containers_.begin() + static_cast<std::ptrdiff_t>(i));
      // Whoever holds the previous list (the engine) learns of the removal before the slide is freed.
      if (OnChanged) OnChanged(containers_);
    } else {
      ++i;
    }
  }
  for (int64_t p = first; p <= windowEnd; ++p) {
    const auto position = static_cast<int32_t>(p);
    const auto at =
        std::lower_bound(containers_.begin(), containers_.end(), position,
                         [](const TOwned<TDrawContainer>& c, int32_t pos) { return c->Position() < pos; });
    if (at != containers_.end() && (*at)->Position() == position) continue;
    TOwned<TDrawContainer> container = producer_->MakeContainer(position);
    if (OnCreated) OnCreated(*container);
    // The notification may not move the list, but find the place again to be safe.
    const auto place =
        std::lower_bound(containers_.begin(), containers_.end(), position,
                         [](const TOwned<TDrawContainer>& c, int32_t pos) { return c->Position() < pos; });
    containers_.insert(place, std::move(container));
    if (OnChanged) OnChanged(containers_);
    return true;
  }
  return false;
}

} // namespace kiv

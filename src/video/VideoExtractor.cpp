#include "VideoExtractor.h"

#include "Assert.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>

namespace kiv {

namespace {

// Leaves the monitor for the life of the scope (the decode), and enters it again.
class TMonitorUnlock {
public:
  explicit TMonitorUnlock(TMonitor& monitor) : monitor_(monitor) { monitor_.Leave(); }
  ~TMonitorUnlock() { monitor_.Enter(); }
  TMonitorUnlock(const TMonitorUnlock&) = delete;
  TMonitorUnlock& operator=(const TMonitorUnlock&) = delete;

private:
  TMonitor& monitor_;
};

int64_t Distance(int64_t a, int64_t b) {
  // Lost and empty slots lie far from every real frame; the difference never overflows for them.
  return a > b ? a - b : b - a;
}

} // namespace

TKivVideoExtractor::TKivVideoExtractor(TWorkerHost& host, std::unique_ptr<TFrameSource> source)
    : TActiveMonitor(host), owned_(std::move(source)), source_(owned_.get()) {
  Start();
}

TKivVideoExtractor::TKivVideoExtractor(TWorkerHost& host, TFrameSource* source)
    : TActiveMonitor(host), source_(source) {
  Start();
}

void TKivVideoExtractor::Start() {
  RY_ASSERT(source_ != nullptr);
  // A source that does not know its rate still plays: at the rate most clips without one have.
  rate_ =
      std::isfinite(source_->frameRate) && source_->frameRate > 0 ? source_->frameRate : kDefaultFrameRate;
  count_ = std::max<int64_t>(source_->frameCount, 0);
  pool_.reserve(4);
  // The worker would run one step below normal priority until its first frame; threads here share the
  // process's priority, and lowering one could not be undone without privileges.
  Run(
      false, [this] { Decode(); }, "TKivVideoExtractor");
}

TKivVideoExtractor::~TKivVideoExtractor() {
  // The worker runs this class's method: it must end before the class goes.
  Stop();
}

void TKivVideoExtractor::AddImage(TRef<TYUVImage> image) {
  if (!image) return;
  image->SetReleaseCallback([this](TYUVImage& lost) { ImageLost(lost); });
  TMonitorLock lock(*this);
  if (stopped_) {
    image->SetReleaseCallback(nullptr);
    return;
  }
  images_.push_back(image);
  pool_.push_back({std::move(image), kNoVideoFrame, kNoVideoFrame});
  if (requested_ != kNoVideoFrame) WakeWorker();
}

int64_t TKivVideoExtractor::Normalise(int64_t n) const {
  if (n < 0) return 0;
  if (count_ > 0 && n >= count_) return Repeat() ? n % count_ : count_ - 1;
  return n;
}

int64_t TKivVideoExtractor::FrameAt(double ms) const {
  const double exact = ms * rate_ / 1000;
  // Times from show data can be anything: far beyond any clip they only need to stay past its end.
  constexpr double kLimit = 1e15;
  if (!(exact > 0)) return 0;
  return Normalise(static_cast<int64_t>(std::nearbyint(std::min(exact, kLimit))));
}

TFrameWindowMs TKivVideoExtractor::FrameWindow(int64_t n) const {
  const double frame = 1000 / rate_;
  return {(static_cast<double>(n) - 0.5) * frame, (static_cast<double>(n) + 0.5) * frame};
}

bool TKivVideoExtractor::Holds(int64_t n) const {
  return std::any_of(pool_.begin(), pool_.end(), [n](const TExtractorSlot& slot) { return slot.frame == n; });
}

void TKivVideoExtractor::Request(bool wait, double ms) {
  TMonitorLock lock(*this);
  if (stopped_) return;
  for (TExtractorSlot& slot : pool_)
    if (slot.image->Invalid()) slot.frame = kLostVideoFrame;
  const int64_t n = FrameAt(ms);
  if (Holds(n)) return;
  requested_ = n;
  WakeWorker();
  if (!wait) return;
  // Nothing can be decoded while every image is out: only this thread could give one back.
  WaitForWorker([&] { return requested_ != n || Finishing() || pool_.empty(); });
}

std::optional<TTakenFrame> TKivVideoExtractor::Take(double displayRate, double ms) {
  const int64_t n = FrameAt(ms);
  TMonitorLock lock(*this);
  if (pool_.empty() || stopped_) return std::nullopt;
  auto best = pool_.begin();
  for (auto it = pool_.begin(); it != pool_.end(); ++it) {
    const int64_t d = Distance(it->frame, n), bestD = Distance(best->frame, n);
    // Of two at the same distance the one before n: it is the one being shown already.
    if (d < bestD || (d == bestD && it->frame < best->frame)) best = it;
  }
  TTakenFrame taken{std::move(*best), false};
  pool_.erase(best);
  taken.slot.asked = n;
  taken.exact = taken.slot.frame == n;

  int64_t next = displayRate > 0 ? FrameAt(ms + 1000 / displayRate) : Normalise(n + 1);
  if (next == n) next = Normalise(n + 1);
  // Past the end of a clip that does not repeat, the next frame is this one again: nothing to ask for.
  if (next != taken.slot.frame && !Holds(next)) {
    requested_ = next;
    WakeWorker();
  }
  return taken;
}

void TKivVideoExtractor::Return(TExtractorSlot slot) {
  if (!slot.image) return;
  TMonitorLock lock(*this);
  if (stopped_) {
    slot.image->SetReleaseCallback(nullptr);
    return;
  }
  pool_.push_back(std::move(slot));
  if (requested_ != kNoVideoFrame) WakeWorker();
}

void TKivVideoExtractor::ImageLost(TYUVImage& image) {
  TMonitorLock lock(*this);
  for (TExtractorSlot& slot : pool_) {
    if (slot.image.get() != &image) continue;
    if (slot.frame >= 0) {
      requested_ = slot.frame;
      WakeWorker();
    }
    slot.frame = kNoVideoFrame;
  }
}

void TKivVideoExtractor::Decode() {
  TMonitorLock lock(*this);
  if (Finishing() || stopped_ || requested_ == kNoVideoFrame || pool_.empty()) return;
  const int64_t r = requested_;
  if (Holds(r)) {
    requested_ = kNoVideoFrame;
    return;
  }
  auto worst = pool_.begin();
  for (auto it = pool_.begin(); it != pool_.end(); ++it) {
    const int64_t d = Distance(it->frame, r), worstD = Distance(worst->frame, r);
    // Of two at the same distance the one after r: the one before may still be on the screen.
    if (d > worstD || (d == worstD && it->frame > worst->frame)) worst = it;
  }
  TExtractorSlot slot = std::move(*worst);
  pool_.erase(worst);
  bool decoded = false;
  try {
    TMonitorUnlock unlocked(*this);
    decoded = source_->GetFrame(r, *slot.image);
  } catch (...) {
    // The image stays with the pool; the worker ends (the monitor's thread logs why).
    slot.image->SetInvalid(true);
    slot.frame = r;
    pool_.push_back(std::move(slot));
    throw;
  }
  // A frame that failed keeps the image as it was, marked: the next Take asks for it again.
  slot.image->SetInvalid(!decoded);
  slot.frame = r;
  pool_.push_back(std::move(slot));
  ++decodes_;
  if (requested_ == r) requested_ = kNoVideoFrame;
  if (requested_ != kNoVideoFrame) WakeWorker();
}

void TKivVideoExtractor::Stop() {
  EndWorker();
  TMonitorLock lock(*this);
  stopped_ = true;
  requested_ = kNoVideoFrame;
  for (const TRef<TYUVImage>& image : images_)
    image->SetReleaseCallback(nullptr);
  images_.clear();
  pool_.clear();
}

int64_t TKivVideoExtractor::Requested() {
  TMonitorLock lock(*this);
  return requested_;
}

std::vector<int64_t> TKivVideoExtractor::PoolFrames() {
  TMonitorLock lock(*this);
  std::vector<int64_t> frames;
  for (const TExtractorSlot& slot : pool_)
    frames.push_back(slot.frame);
  return frames;
}

int64_t TKivVideoExtractor::DecodeCount() {
  TMonitorLock lock(*this);
  return decodes_;
}

} // namespace kiv

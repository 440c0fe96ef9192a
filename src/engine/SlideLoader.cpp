#include "SlideLoader.h"

namespace kiv {

TKivSlideLoader::TKivSlideLoader(TWorkerHost& host, TKivSource& source, int32_t windowSize, bool ownsSource,
                                 TSize desktop)
    : TSlideShowParams(host, "slide loader", kStepPeriodMs, kOrderSlideLoader, source, ownsSource, desktop),
      clock_(TRef<TTiming>::Make()) {
  auto producer = MakeOwned<TSlideProducer>(&source, false);
  producer->SetCurrentTiming(clock_);
  cache_ = MakeOwned<TSlideCache>(producer.get(), windowSize, true);
  producer.release(); // the cache owns it now
  cache_->OnCreated = [this](TDrawContainer& container) {
    if (OnPreload) OnPreload(container);
  };
  cache_->OnChanged = [this](const std::vector<TOwned<TDrawContainer>>& containers) { SlidesChanged(containers); };

  const TIniFile& project = Project();
  Caption = project.ReadString(u"main", u"projectname", Caption);
  screenMode_ = project.ReadInteger(u"main", u"opt_scr_full", 1);
  if (screenMode_ == 1) {
    HasBorder = false;
  } else {
    HasBorder = !project.ReadBool(u"main", u"opt_withoutborder", true);
    if (HasBorder) Caption = project.ReadString(u"main", u"opt_scr_caption", Caption);
  }
  if (screenMode_ == 0 || screenMode_ == 3)
    Size = {project.ReadInteger(u"main", u"opt_scr_width", 640), project.ReadInteger(u"main", u"opt_scr_height", 480)};
}

TKivSlideLoader::~TKivSlideLoader() {
  // Slides read the clock and call back into the producer: the cache goes first.
  cache_.reset();
}

int TKivSlideLoader::WindowMode() const noexcept {
  if (screenMode_ == 1) return kWindowModeFullScreen;
  return HasBorder ? kWindowModeBorder : kWindowModeNoBorder;
}

void TKivSlideLoader::SetScreen(bool cover) { cache_->Producer().SetScreen(Size, cover, 100, 100); }

TRect TKivSlideLoader::DisplayRect() const { return cache_->Producer().GetFrameRect(); }

void TKivSlideLoader::SetTarget(TThreadEventList* target, int eventNumber) {
  target_ = target;
  eventNumber_ = eventNumber;
}

void TKivSlideLoader::Step() {
  // One slide at most per step; the period keeps the loader's share of the processor small.
  cache_->Prepare(clock_->CurrentTime());
}

void TKivSlideLoader::SlidesChanged(const std::vector<TOwned<TDrawContainer>>& containers) {
  if (!target_) return;
  TSlideData list(containers);
  target_->Send(eventNumber_, &list);
}

} // namespace kiv

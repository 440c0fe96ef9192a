#pragma once
// TKivSlideLoader: the worker that prepares slides ahead of the play position. Every 10 ms it asks its
// slide cache to bring the window of prepared slides up to date for the shared clock's current time (at
// most one slide built per step), and after every change it sends the engine the list of prepared slides
// and waits until the engine has taken it, so the engine never holds a slide the cache has freed.

#include "EngineEvents.h"
#include "SlideProducer.h"
#include "SlideShowParams.h"

#include <functional>

namespace kiv {

class TKivSlideLoader : public TSlideShowParams {
public:
  static constexpr int64_t kStepPeriodMs = 10;

  // windowSize: how many slides the cache keeps prepared (1..3, "Assertion failure" otherwise; the engine
  // uses 3). desktop: the size of the screen the show would fill.
  TKivSlideLoader(TWorkerHost& host, TKivSource& source, int32_t windowSize, bool ownsSource,
                  TSize desktop = kHeadlessDesktopSize);
  ~TKivSlideLoader() override;

  // opt_scr_full: 1 full screen, 0 a window, 3 a window that takes the show's size.
  int ScreenMode() const noexcept { return screenMode_; }
  // The mode of event 17: full screen, a window with a frame, or one without.
  int WindowMode() const noexcept;

  // Lays slides out for the slide area Size, filling it and cropping with cover, at 100 percent. Before
  // the worker starts.
  void SetScreen(bool cover);
  // Where a slide lies in the slide area.
  TRect DisplayRect() const;

  // The shared play clock: the engine writes it, the loader and every prepared slide read it. (Clock() is
  // the host's millisecond clock.)
  TTiming& ShowClock() const noexcept { return *clock_; }
  const TRef<TTiming>& ShowClockRef() const noexcept { return clock_; }
  TSlideCache& Cache() const noexcept { return *cache_; }

  // Where slide lists go, and under which number; without a target nothing is sent. Before the worker
  // starts.
  void SetTarget(TThreadEventList* target, int eventNumber = kEvSlideList);
  TThreadEventList* Target() const noexcept { return target_; }
  int EventNumber() const noexcept { return eventNumber_; }

  // Called on the loader's thread for each newly built slide before it joins the list. Set before the
  // worker starts.
  std::function<void(TDrawContainer& container)> OnPreload;

protected:
  void Step() override;

private:
  void SlidesChanged(const std::vector<TOwned<TDrawContainer>>& containers);

  int screenMode_ = 1;
  TRef<TTiming> clock_;              // shared with the producer, its slides and the engine
  TOwned<TSlideCache> cache_;        // owns the producer; touched only by the loader's thread once started
  TThreadEventList* target_ = nullptr; // set before start
  int eventNumber_ = 0;              // set before start
};

} // namespace kiv

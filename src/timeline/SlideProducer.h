#pragma once
// From a play position to a slide ready to draw: the producer builds slides and custom dialog pages at
// the size of the presentation frame, containers carry a built slide with its timings, and the cache keeps
// the few slides around the current time built in advance. TTiming is the clock value the loader advances
// and every slide reads.

#include "DeviceLayer.h"
#include "Slide.h"
#include "ShowTimeline.h"
#include "ObjectBase.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kiv {

class ICurrentTime {
public:
  virtual ~ICurrentTime() = default;
  virtual double CurrentTime() const = 0;
};

// The current show time: written by the slide loader's thread, read by the producer and every container.
class TTiming : public TRefObj, public ICurrentTime {
public:
  double CurrentTime() const override { return time_.load(std::memory_order_acquire); }
  void SetTime(double t) { time_.store(t, std::memory_order_release); }

private:
  std::atomic<double> time_{0};
};

// A custom dialog page: a slide with a name, a pause flag and its own time.
class TKivDialog : public TKivSlide {
public:
  TKivDialog(TRef<TKivSlideHost> host, std::u16string name, bool pause)
      : TKivSlide(std::move(host), 0), name_(std::move(name)), pause_(pause) {}

  const std::u16string& DialogName() const noexcept { return name_; }
  // DialogPause of the dialog's section: the show pauses while the page is up.
  bool DialogPause() const noexcept { return pause_; }
  // Set by whoever shows the page; the page fades in with it.
  double DialogTime() const noexcept { return time_; }
  void SetDialogTime(double time);
  float OpacityFactor() const override { return static_cast<float>(time_); }

private:
  std::u16string name_;
  bool pause_ = false;
  double time_ = 0;
};

// ---- frame geometry ----

// The aspect ratio of the presentation: the design's (MinorVersion above 12; a design height of 0 or less
// stops with "ZeroSize of Presentation!"), else the screen's, replaced by opt_scr_ratio when given.
double PresentationAspectRatio(const TIniIdentList& main, TSize screen);

struct TFrameSizeInput {
  TSize screen;
  bool cover = false; // fill the screen and crop, instead of fitting inside it
  float scaleX = 100; // percent
  float scaleY = 100;
  double ratio = 0;
  TSize design;           // opt_scr_width, opt_scr_height
  bool fixedSize = false; // opt_scr_fullfixedsize
};
// The size of the presentation frame on the screen.
TSize ComputeFrameSize(const TFrameSizeInput& input);
// The frame centred on the screen, cut to it (all zeros when they do not meet).
TRect CenteredFrameRect(TSize screen, TSize frame);

// ---- containers ----

// One built slide with the timings of its play position.
class TDrawContainer : public TObj {
public:
  TDrawContainer(TRef<TTiming> timing, TOwned<TKivSlide> slide, TSlideInfo info, double passOffset,
                 int32_t position);

  // nullptr when the slide's section is missing or failed to load.
  TKivSlide* Slide() const noexcept { return slide_.get(); }
  // Shifted to the container's pass.
  const TSlideInfo& Timing() const noexcept { return info_; }
  int32_t Position() const noexcept { return position_; }
  // Pass number times the show's total duration.
  double PassOffset() const noexcept { return passOffset_; }
  const ICurrentTime& CurrentTime() const noexcept { return *timing_; }
  // The slide gets its time within its pass, its transition the time since the container's start.
  void SetTime(double showTime);

private:
  TRef<TTiming> timing_;
  TOwned<TKivSlide> slide_;
  TSlideInfo info_;
  double passOffset_ = 0;
  int32_t position_ = 0;
};

// ---- producer ----

// Builds slides of one show. Slides it builds call back into it through their host, so they must be freed
// before it; once it is gone, a slide's section lookups find nothing and its frame is empty.
class TSlideProducer : public TObj {
public:
  TSlideProducer(TKivSource* source, bool ownsSource);
  ~TSlideProducer() override;

  // The screen or window size and the scales in percent; computes the aspect ratio and the frame.
  void SetScreen(TSize screen, bool cover, float scaleX, float scaleY);
  void SetCurrentTiming(TRef<TTiming> timing);
  const TRef<TTiming>& CurrentTiming() const noexcept { return timing_; }

  // A slide for position mod n built for the given pass; -1 builds the empty slide before the show.
  // nullptr when the section is absent or fails to load. A show without slides has nothing to build
  // ("No Slides in Presentation").
  TOwned<TKivSlide> BuildSlide(int32_t position, int32_t pass);
  // The custom dialog page called name; nullptr when the show has none or it fails to load.
  TOwned<TKivDialog> BuildDialog(std::u16string_view name);
  // Needs the current timing ("TSlideProducer.CurrentTiming not Assigned").
  TOwned<TDrawContainer> MakeContainer(int32_t position);
  // The first and last position drawn at time: equal, or two consecutive ones during a transition.
  std::pair<int32_t, int32_t> FindVisibleSlides(double time);
  // The last first position FindVisibleSlides found.
  int32_t Cursor() const noexcept { return cursor_; }

  TRect GetFrameRect() const;
  TSize FrameSize() const noexcept { return frameSize_; }
  TSize ScreenSize() const noexcept { return screen_; }
  double AspectRatio() const noexcept { return ratio_; }
  TKivSlideHost& Host() const noexcept { return *host_; }
  TKivSource& Source() const noexcept { return *source_; }

private:
  // What the host's callbacks read; they hold it, so slides that outlive the producer stay safe. Written
  // by the producer's owner (SetScreen), read by whichever thread places or draws a slide.
  struct TScreenState {
    mutable std::mutex lock;
    TSize screen;
    TRect frameRect;
    const TIniStorage* project = nullptr; // cleared when the producer goes
  };

  // Size, key-point scale and centre that make a slide fill the frame.
  void PlaceSlide(TKivSlide& slide) const;
  TOwned<TKivSlide> BuildSlideBeforeShow();

  TKivSource* source_;
  TOwned<TKivSource> ownedSource_; // set when the producer owns the source
  std::shared_ptr<TScreenState> state_;
  TRef<TKivSlideHost> host_;
  TRef<TTiming> timing_;
  TSize screen_;
  float scaleX_ = 100;
  float scaleY_ = 100;
  double ratio_ = 0;
  bool cover_ = false;
  TSize design_;
  bool fixedSize_ = false;
  TSize frameSize_;
  T2DVector center_;
  int32_t cursor_ = 0;
};

// ---- cache ----

// The containers of the positions around the current time, built ahead one at a time.
class TSlideCache : public TObj {
public:
  // capacity 1..3 ("Assertion failure" otherwise).
  TSlideCache(TSlideProducer* producer, int32_t capacity, bool ownsProducer);
  ~TSlideCache() override;

  // Frees containers that left the window and builds at most one missing one: true when it built one, so
  // the caller calls again until false or time runs short.
  bool Prepare(double time);
  // Sorted by play position.
  const std::vector<TOwned<TDrawContainer>>& Containers() const noexcept { return containers_; }
  int32_t Capacity() const noexcept { return capacity_; }
  TSlideProducer& Producer() const noexcept { return *producer_; }

  // A new container, before it joins the list.
  std::function<void(TDrawContainer&)> OnCreated;
  // After each removal and each insertion, with the list as it is now. A removed container is freed only
  // after this returns, so a holder of the previous list can let go of it first.
  std::function<void(const std::vector<TOwned<TDrawContainer>>&)> OnChanged;

private:
  TSlideProducer* producer_;
  TOwned<TSlideProducer> ownedProducer_;
  int32_t capacity_;
  std::vector<TOwned<TDrawContainer>> containers_;
};

} // namespace kiv

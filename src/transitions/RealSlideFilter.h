#pragma once
// A custom transition: a small slide project stored in the show, played over the two slides. Its first
// slide runs from its begin to its end as the transition goes from 0 to 1; its pictures marked to stand
// for the slides show the outgoing (1) or the incoming (2) slide, and its background may be theirs.

#include "ShowPicture.h"
#include "SlideEffectFilter.h"
#include "SlideProducer.h"

#include <memory>
#include <string_view>
#include <vector>

namespace kiv {

class TKivImageObject;

class TRealSlideFilter final : public TSlideEffFilter {
public:
  // The transition of the show file `fileName`, for a frame of that size (screen pixels) and slides shown
  // at those scales (percent); none when the file is missing, is no project or has no first slide.
  static TOwned<TRealSlideFilter> Create(TFileAccessor& accessor, std::u16string_view fileName, TSize frame,
                                         float scaleX, float scaleY);
  ~TRealSlideFilter() override;

  void AttachSlideTextures(TCustomD3DEffecter& effecter) override;
  void DetachSlideTextures() override;
  void PrepareContent(TDeviceDrawer& drawer) override;
  // The slide's time: begin + (end - begin) x x.
  void SetEffectPosition(double x) override;
  // The backgrounds, as CustomEffBg asks: 1 the outgoing slide's, 2 the incoming one's, 3 the outgoing
  // one's with the incoming one's over it by the progress.
  void PrepareEffect(TDrawItem& first, TDrawItem& second) override;

  TKivSlide& TransitionSlide() const { return *slide_; }
  double SlideTime() const { return slideTime_; }
  double Progress() const { return progress_; }
  bool CoverMode() const { return cover_; }
  bool TransparentBackground() const { return transparentBg_; }
  int32_t BackgroundMode() const { return backgroundMode_; }
  // The pictures standing for the outgoing and the incoming slide.
  TKivPicture& OutgoingPicture() const { return *outgoing_; }
  TKivPicture& IncomingPicture() const { return *incoming_; }

private:
  TRealSlideFilter() = default;
  // Builds the first slide and binds the pictures of the objects that stand for the slides.
  bool Start();

  TOwned<TKivSource> source_; // owns the transition's project
  TOwned<TSlideProducer> producer_;
  TOwned<TKivSlide> slide_;
  TSize frame_;
  float scaleX_ = 100, scaleY_ = 100;
  bool cover_ = false;
  bool transparentBg_ = false;
  int32_t backgroundMode_ = 0; // CustomEffBg
  double progress_ = 0;
  double slideTime_ = 0;
  TRef<TKivPicture> outgoing_, incoming_;
};

// The filter of a custom transition: the description is split at "|" (empty names left out); no name plays
// the cross-fade (none is made), several choose one by the seed; a file missing from the show makes none.
// The scales are those of the outgoing slide.
TOwned<TDrawFilter> CreateCustomTransition(const TRect& frame, TDrawItem* first, const TEffectParams& params);

} // namespace kiv

#pragma once
// A slide: the root of its object tree, with its times in the show, its backgrounds, the camera's depth
// factor and the resolution planning of its pictures.

#include "ShowPicture.h"
#include "SlideHost.h"
#include "SlideObject.h"
#include "TransitionRecord.h"

#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace kiv {

// A slide background as read from the project: kind 0 solid, 1 left-to-right and 2 top-to-bottom
// gradients, 3 a picture tiled about the centre.
struct TSlideBackground {
  int32_t kind = 0;
  uint32_t color1 = 0; // colour references (0x00BBGGRR)
  uint32_t color2 = 0;
  std::u16string picture;
  float size = 100; // tile size in percent of the slide
  bool operator==(const TSlideBackground&) const = default;
};

// Tile size of a background picture w x h on a slide W x H (size in percent): the picture covers the
// slide at 100, cut on its longer side. 0 x 0 when nothing can be tiled.
T2DVector BackgroundTileSize(float slideWidth, float slideHeight, float pictureWidth, float pictureHeight,
                             float size);
// The size (a, c) a w x h picture is halved to for tiles tw x th; stops when a halving changes nothing.
TSize HalvedBackgroundSize(int32_t width, int32_t height, float tileWidth, float tileHeight);
// Key of a scaled background picture in a slide's list: "SlideBg: " + size + ":" + file name.
std::u16string BackgroundPictureKey(float size, std::u16string_view fileName);
// Alpha of the first background for a mix (the second gets 255 - it).
uint8_t FirstBackgroundAlpha(float mix);

// The root of a slide's tree: anchor times, background, the camera's depth factor and resolution planning.
class TKivSlide : public TKivObject {
public:
  TKivSlide(TRef<TKivSlideHost> host, int32_t pass);
  ~TKivSlide() override;

  TKivSlideHost* GetHost() const override { return host_.get(); }
  int32_t Pass() const noexcept { return pass_; }

  // Times from "main" (unless keepTimes), effects, background, name and objects from the section.
  void LoadSlide(const TCommonIniSection& main, const TCommonIniSection* section, bool keepTimes,
                 double effectOut, double effectIn, int32_t index);
  // From the section's own keys when it says so ("UsePersonal" and "Pers_Fon" both "1"), else from
  // main's "opt_" keys.
  void ReadBackground(const TCommonIniSection& main, const TCommonIniSection* section);
  // The background taken from another slide (a custom transition shows the slides' backgrounds).
  void SetBackground(const TSlideBackground& background);
  // The custom transition's second background and its weight (0..1).
  void SetSecondBackground(const TSlideBackground& background, float mix);
  const TSlideBackground& Background() const noexcept { return background_; }
  const TSlideBackground& SecondBackground() const noexcept { return secondBackground_; }
  float BackgroundMix() const noexcept { return mix_; }

  // Play position modulo the slide count; -1 for dialogs.
  void SetSlideIndex(int32_t index) { slideIndex_ = index; }
  int32_t SlideIndex() const noexcept { return slideIndex_; }
  const std::u16string& SlideName() const noexcept { return slideName_; }
  TKivFilter& Filter() noexcept { return filter_; }
  // The current position value; the producer sets (0, 0) and puts the frame's origin at the screen centre.
  void SetPosition(float x, float y);

  // Begin and end of the slide in its pass, the transitions into it and into the next one (ms).
  void SetTimes(double begin, double end, double effectIn, double effectOut);
  double Begin() const noexcept { return begin_; }
  double End() const noexcept { return end_; }
  double EffectIn() const noexcept { return effectIn_; }
  double EffectOut() const noexcept { return effectOut_; }
  double GetAnchorTime(uint8_t anchor) const override;

  // Percent applied to every object's opacity; dialog pages fade with their own time.
  virtual float OpacityFactor() const { return 100; }
  float DepthFactor() const noexcept { return depthFactor_; }
  bool Planning() const noexcept { return planning_; }

  // Depth factor from the camera, resolution planning when key points changed, then placement.
  void UpdateGeometry(bool recursive) override;
  // Visits every distinct key point time of the tree and keeps each object's largest extent.
  void PlanResolution();
  // The slide's scale times its size.
  T2DVector OnScreenSize() const override;

  // The picture a background is drawn with: from the list when kept there, else loaded and, when it is
  // far larger than its tiles, halved and kept (at most two). nullptr for other kinds or no picture.
  TRef<TKivPicture> GetBackgroundPicture(const TSlideBackground& background);
  int BackgroundPictureCount() const noexcept { return static_cast<int>(pictures_.size()); }

protected:
  void DrawContent(TDeviceDrawer& drawer) override;
  void PrepareContent(TDeviceDrawer& drawer) override;

private:
  struct TKeptPicture {
    std::u16string key;
    TRef<TKivPicture> picture;
  };
  void DrawBackground(TDeviceDrawer& drawer, const TSlideBackground& background, uint8_t alpha);

  TRef<TKivSlideHost> host_;
  int32_t pass_;
  int32_t slideIndex_ = -1;
  double begin_ = 0;
  double end_ = 0;
  double effectIn_ = 0;
  double effectOut_ = 0;
  std::u16string slideName_;
  TSlideBackground background_;
  TSlideBackground secondBackground_;
  float mix_ = 0;
  std::mutex picturesLock_;            // the loader prepares while the engine draws
  std::vector<TKeptPicture> pictures_; // oldest first, at most two
  TKivFilter filter_;
  float depthFactor_ = 1;
  bool planning_ = false;
};

} // namespace kiv

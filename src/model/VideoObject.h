#pragma once
// Videos on a slide: the video kind ("video", "mainvideo") and the video used as a mask. A video shows the
// frame of its clip's time, which follows the show time (start in the show, start in the clip, speed,
// duration); the clip's extractor decodes ahead on a worker, shared by every object showing the clip.

#include "ImageObject.h"
#include "VideoClips.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>

namespace kiv {

enum class TDeinterlaceType : uint8_t { Auto = 0, Wave = 1, BobEven = 2, BobOdd = 3 };

// The drawer's deinterlace mode (0 none, 1 and 2 the two field offsets); firstHalf: the clip time lies
// before the middle of the shown frame's window.
uint8_t DeinterlaceMode(TDeinterlaceType type, bool interlaced, bool bottomFieldFirst, bool firstHalf);
// How much wider than its pixels a w x h picture of this aspect kind is shown.
float VideoPixelFactor(TAspectKind aspect, int width, int height);
// The U and V (0..1, as the shaders sample them) of a key colour given as red, green, blue: from 0 to 1,
// or from 0 to 255 when any of them is above 1.
std::array<float, 2> ChromaKeyUV(const std::array<float, 3>& rgb);

class TKivVideo : public TKivObject {
public:
  TKivVideo(TKivObject* parent, std::u16string guid);
  ~TKivVideo() override;

  const std::u16string& ClipGUID() const noexcept { return clipGuid_; }
  // The clip of the container the object was linked to, if any.
  const std::optional<TVideoClip2>& Clip() const noexcept { return clip_; }
  bool Mute() const noexcept { return mute_; }
  const std::u16string& FileName() const noexcept { return fileName_; }
  bool LoadFromDisk() const noexcept { return loadFromDisk_; }
  const TClipTiming& Timing() const noexcept { return timing_; }
  TDeinterlaceType Deinterlace() const noexcept { return deinterlace_; }
  bool WaitForConvert() const noexcept { return waitForConvert_; }
  const std::optional<int32_t>& ImageIndex() const noexcept { return imageIndex_; }
  const TBorderParams& Border() const noexcept { return border_; }

  // The clip time at the object's current time (ms inside the video).
  double ClipTime() const noexcept { return clipTime_; }
  // The frame that time wants, and the frame last shown; -2 before the clip is open or shown.
  int64_t WantedFrame() const;
  int64_t ShownFrame() const noexcept { return shownFrame_; }
  TExtractorWrapper* ClipWrapper() const noexcept { return wrapper_.get(); }
  // The picture shown instead when the file cannot be opened or decoded.
  TKivPicture* ErrorPicture() const noexcept { return errorPicture_.get(); }
  const TFloatRect& SourceRect() const noexcept { return sourceRect_; }

  // Opens the clip on first call; false when it cannot be shown (the error picture stands in).
  bool OpenClip();
  // The frame as a mask layer for a viewport whose opacity is given; false when there is nothing to draw.
  bool MakeMaskLayer(TDeviceDrawer& drawer, float viewportOpacity, TMaskLayer& layer);

  void LoadFromNode(const TCommonIniSection& node, bool reload) override;
  void SetTimeOnly(bool recursive, double time) override;
  void DrawContent(TDeviceDrawer& drawer) override;
  void FrameDone(TDeviceDrawer& drawer) override;

protected:
  void PrepareContent(TDeviceDrawer& drawer) override;
  // A video casts the shadow of its rectangle.
  bool MakeShadowRequest(TShadowRequest& request) const override {
    if (!(Size().x > 0 && Size().y > 0)) return false;
    request = RectangleShadow(Shadow(), Size().x, Size().y, 1.1f);
    return true;
  }
  // The kind's own keys; the object base's follow.
  virtual void ReadVideoKeys(const TCommonIniSection& node);
  virtual bool MaskMode() const { return false; }
  virtual bool Inverted() const { return false; }
  void SetAntialiasedBorder(bool on) noexcept { antialiasedBorder_ = on; }
  // The picture of this frame, shared with the clip's other objects; nullptr when there is none.
  const TExtractorSlot* TakePicture(TDeviceDrawer& drawer);
  void ReleasePicture();
  TVideoParams MakeVideoParams() const;
  // Where the picture's top-left lands, its axes (x stretched by the pixel factor) and the pivot.
  void PicturePlacement(T3DPoint& at, T3DPoint& xAxis, T3DPoint& yAxis, TFloatPoint& pivot) const;

private:
  void UpdateVideoGeometry();
  void UnlinkClip();

  std::u16string clipGuid_;
  std::optional<TVideoClip2> clip_;
  bool mute_ = false;
  std::u16string fileName_;
  bool loadFromDisk_ = false;
  TClipTiming timing_;
  bool antialiasedBorder_ = true;
  TBorderParams border_;
  TDeinterlaceType deinterlace_ = TDeinterlaceType::Auto;
  bool waitForConvert_ = false;
  std::array<float, 3> chromaKey_{};
  float chromaDelta_ = 0;
  std::optional<int32_t> imageIndex_;

  TVideoClipUse wrapper_;
  TRef<TKivPicture> errorPicture_;
  double clipTime_ = 0;
  int64_t shownFrame_ = kNoVideoFrame;
  bool held_ = false;  // drawing thread: this frame's picture is taken from the wrapper
  bool shown_ = false; // a frame has been shown
  float pixelFactor_ = 1;
  TFloatRect sourceRect_;
  float borderPixels_ = 0;
};

// A video used as a mask: its brightness is the coverage (inverted on request); drawn only by a viewport.
class TKivVideoMask : public TKivVideo {
public:
  TKivVideoMask(TKivObject* parent, std::u16string guid);
  bool Invert() const noexcept { return invert_; }
  void DrawContent(TDeviceDrawer&) override {}

protected:
  void ReadVideoKeys(const TCommonIniSection& node) override;
  bool MaskMode() const override { return true; }
  bool Inverted() const override { return invert_; }
  // A mask only cuts: it casts no shadow.
  bool MakeShadowRequest(TShadowRequest&) const override { return false; }

private:
  bool invert_ = false;
};

} // namespace kiv

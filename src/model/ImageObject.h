#pragma once
// Pictures on a slide: the image kind, with sprite-sheet animation, crop, aspect framing and border. The
// rules that need no host or drawer (visible source rectangle, sprite frames) are free functions so that
// they can be checked alone.

#include "ShowPicture.h"
#include "Slide.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace kiv {

struct TBorderParams {
  uint8_t enableBorder = 0;
  uint8_t enableCrop = 0;
  uint8_t enableAspect = 0;
  float borderWidth = 3.4f;          // percent of the visible height
  uint32_t borderColor = 0xFFFFFFFF; // 0xAARRGGBB
  TIniFloatRect cropRect;            // percent
  TIniFloatPoint cropPoint;
  float aspectRatio = 0;
  float aspectZoom = 0;   // percent
  float aspectShiftX = 0; // percent
  float aspectShiftY = 0; // percent
};

// EnableBorder, EnableCrop, EnableAspect, BorderWidth, BorderColor, CropRect and AspectParams.
TBorderParams ReadBorderParams(const TIniIdentList& node);
// The part of a w x h picture that shows, in picture pixels (aspect framing, then crop).
TFloatRect VisibleSourceRect(float width, float height, const TBorderParams& border);
// The border width in pixels for a visible height.
float BorderPixels(float visibleHeight, const TBorderParams& border);

// Frames are bounded so that counts from show data cannot allocate without limit.
inline constexpr int32_t kMaxAnimGrid = 16384;   // columns or rows
inline constexpr int32_t kMaxAnimFrames = 65536; // frames of one sheet

struct TImageAnimationParams {
  int32_t columns = 1;
  int32_t rows = 1;
  int32_t count = 1;                   // frames used, 1 .. columns x rows
  int32_t repeatCount = 0;             // passes before the last frame is held; 0 or less: for ever
  float offset = 0;                    // ms after the slide's begin
  std::vector<int32_t> intervals{100}; // ms, one per frame

  bool Animated() const noexcept { return columns * int64_t{rows} > 1; }
};

// Columns, rows and count as read, bounded; intervals from the listed numbers: the frames after the last
// listed one take its value, and with none listed every frame lasts 100 ms.
TImageAnimationParams MakeAnimationParams(int32_t columns, int32_t rows, int32_t count, int32_t repeatCount,
                                          float offset, std::span<const int32_t> listed);
// The timing of an animated picture file: `frameCount` frames side by side, delays in hundredths of a
// second joined by "," (a delay of 0 or one missing lasts 100 ms, as browsers show such files); the repeat
// count and offset of the keys apply.
TImageAnimationParams PictureFileAnimation(int32_t frameCount, std::string_view delays, int32_t repeatCount,
                                           float offset);
// The frame showing `elapsed` ms after the animation started.
int32_t AnimationFrameAt(const TImageAnimationParams& animation, double elapsed);
// The source rectangle of a frame in the drawer's tile bitmap of a w x h sheet, gutters skipped.
TFloatRect SpriteFrameRect(int32_t width, int32_t height, int32_t columns, int32_t rows, int32_t frame);

enum class TImageFiltering : uint8_t { Nearest = 0, Bilinear = 1, Default = 2 };

// Pictures are scaled to fit a rectangle of the content keeping their shape, centred.
void FitPicture(float pictureW, float pictureH, float boxW, float boxH, float& scale, float& offsetX,
                float& offsetY);

class TKivImageObject : public TKivObject {
public:
  TKivImageObject(TKivObject* parent, std::u16string guid);
  ~TKivImageObject() override;

  bool Antialiased() const noexcept { return antialiased_; }
  TImageFiltering Filtering() const noexcept { return filtering_; }
  const std::u16string& ImageName() const noexcept { return imageName_; }
  float MipLodBias() const noexcept { return mipLodBias_; }
  int32_t ReplaceWithEffectBuffer() const noexcept { return replaceWithEffectBuffer_; }
  const TBorderParams& Border() const noexcept { return border_; }
  const TImageAnimationParams& Animation() const noexcept { return animation_; }
  const std::optional<int32_t>& ImageIndex() const noexcept { return imageIndex_; }

  // The picture shown now: the previous one until a new one has loaded.
  TKivPicture* Picture() const noexcept { return picture_.get(); }
  // Binds a picture from outside (the transition buffer) instead of the named one.
  void SetPicture(TRef<TKivPicture> picture);
  // Loads the picture the keys name when it is not the one shown, at the level its planned on-screen size
  // needs; loads a finer level of the picture shown when that size has grown. False when none could be had.
  bool LoadContent();
  // The size to load at, from resolution planning and the host's pixel density.
  TSize LoadResolution() const;
  const TFloatRect& SourceRect() const noexcept { return sourceRect_; }
  float BorderWidthPixels() const noexcept { return borderPixels_; }
  int32_t CurrentFrame() const noexcept { return currentFrame_; }

  void LoadFromNode(const TCommonIniSection& node, bool reload) override;
  void SetTimeOnly(bool recursive, double time) override;
  void DrawContent(TDeviceDrawer& drawer) override;

protected:
  void PrepareContent(TDeviceDrawer& drawer) override;
  // The kind's own keys, in the order the kind reads them; the object base's keys follow.
  virtual void ReadContentKeys(const TCommonIniSection& node);
  void ReadImageKeys(const TCommonIniSection& node);
  // The name of the picture to load; texts and buttons generate theirs. Empty: no picture.
  virtual std::u16string PictureName() const { return imageName_; }
  // Size, source rectangle and border from the picture shown.
  virtual void UpdateContentGeometry();
  TImageParams MakeImageParams() const;
  // Where content pixel (0, 0) lies, and the content axes.
  void ContentPlacement(T3DPoint& topLeft, T3DPoint& xAxis, T3DPoint& yAxis) const;
  void SetAntialiased(bool on) noexcept { antialiased_ = on; }
  // One still picture whatever the keys or the file say.
  void DisableAnimation();
  void SetMipLodBias(float bias) noexcept { mipLodBias_ = bias; }
  // The name the picture shown was loaded for; empty for a bound picture.
  const std::u16string& LoadedName() const noexcept { return loadedName_; }
  // Whether the picture shown has any pixel that is not opaque.
  bool PictureHasAlpha() const;
  bool MakeShadowRequest(TShadowRequest& request) const override;

private:
  // The size a file of this full size is wanted at: its content size is taken from it first and the slide
  // planned again when that changes it. {0, 0} (full size) while planning has measured nothing.
  TPictureSize WantedSize(TPictureSize full);
  // The size a picture of this full size is wanted at for the planned on-screen size of the object;
  // {0, 0} when nothing was measured.
  TPictureSize PlannedSize(TPictureSize full) const;
  // A finer level of the picture shown when the planned size has outgrown its level.
  void RefineLevel(TKivSlideHost& host);

  bool antialiased_ = true;
  TImageFiltering filtering_ = TImageFiltering::Default;
  std::u16string imageName_;
  float mipLodBias_ = 0;
  int32_t replaceWithEffectBuffer_ = 0;
  TBorderParams border_;
  TImageAnimationParams animation_;    // in force: the keys', or the picture file's own
  TImageAnimationParams keyAnimation_; // as the keys give it
  bool animationKeys_ = false;         // the keys name a sheet or its timing: they win over the file's
  std::optional<int32_t> imageIndex_;

  TRef<TKivPicture> picture_;
  TPictureSize pendingFull_;  // while a file loads: the full size its content size is taken from
  std::u16string loadedName_; // the name picture_ was loaded for
  bool attempted_ = false;    // loadedName_ was tried (a failed name is not tried again)
  bool bound_ = false;        // picture_ came from SetPicture
  TFloatRect sourceRect_;
  float borderPixels_ = 0;
  int32_t currentFrame_ = 0;
  mutable const TKivPicture* alphaTested_ = nullptr; // the picture alphaFound_ was found for
  mutable bool alphaFound_ = false;
};

} // namespace kiv

#pragma once
// The content kinds of a slide: pictures (with sprite-sheet animation, crop, aspect framing and border),
// texts rendered into pictures, themed buttons, and filled boxes and frames. Each reads its keys, decides
// its content size and hands its content to the drawer. The rules that need no host or drawer (visible
// source rectangle, sprite frames, fill types) are free functions so that they can be checked alone.

#include "Slide.h"
#include "ShowPicture.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kiv {

// ---- pure rules ----

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
// The frame showing `elapsed` ms after the animation started.
int32_t AnimationFrameAt(const TImageAnimationParams& animation, double elapsed);
// The source rectangle of a frame in the drawer's tile bitmap of a w x h sheet, gutters skipped.
TFloatRect SpriteFrameRect(int32_t width, int32_t height, int32_t columns, int32_t rows, int32_t frame);

enum class TBoxFillMode : uint8_t { Solid, HGradient, VGradient, TLBRGradient, TRBLGradient };
// The drawer's fill type for a fill mode: 8, 6, 5, 0, 1.
uint8_t BoxFillType(TBoxFillMode mode);

enum class TImageFiltering : uint8_t { Nearest = 0, Bilinear = 1, Default = 2 };

// What a generated text picture is made from; the name after "Text: " carries all of it.
struct TTextPictureParams {
  std::u16string text;       // lines separated by line breaks
  std::u16string fontName;   // "Arial" when empty
  int32_t fontStyle = 0;     // TFontStyle bits
  uint32_t color = 0xFFFFFF; // Windows colour reference 0x00BBGGRR
  int32_t align = 1;         // 0 left, 1 centre, 2 right
  int32_t lineSpacing = 0;   // percent of a line
  int32_t height = 0;        // pixels of the whole text block

  bool operator==(const TTextPictureParams&) const = default;
};
std::u16string EncodeTextPicture(const TTextPictureParams& params);
// False for a name that is not an encoding.
bool DecodeTextPicture(std::u16string_view encoded, TTextPictureParams& params);
// The picture of a text; nullptr when no font can be opened or the text is empty.
TRef<TCachedBitmap> MakeTextPicture(const TTextPictureParams& params);
// "B", "I", "U" and "S" in any case and order; other letters are ignored.
int32_t ParseFontStyleLetters(std::u16string_view letters);

// ---- content kinds ----

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
  void SetMipLodBias(float bias) noexcept { mipLodBias_ = bias; }

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
  TImageAnimationParams animation_;
  std::optional<int32_t> imageIndex_;

  TRef<TKivPicture> picture_;
  TPictureSize pendingFull_;  // while a file loads: the full size its content size is taken from
  std::u16string loadedName_; // the name picture_ was loaded for
  bool attempted_ = false;    // loadedName_ was tried (a failed name is not tried again)
  bool bound_ = false;        // picture_ came from SetPicture
  TFloatRect sourceRect_;
  float borderPixels_ = 0;
  int32_t currentFrame_ = 0;
};

enum class TTextAlignment : uint8_t { Left = 0, Center = 1, Right = 2 };

// The keys of a text, shared by texts and button captions.
struct TTextKeys {
  std::u16string text = u"Text"; // may hold macros
  TIniRGB color{255, 255, 255};
  TIniRGB hoverColor{255, 255, 255};
  TIniRGB clickColor{255, 255, 255};
  std::u16string fontName = u"Arial";
  std::u16string fontStyle; // style letters
  TTextAlignment align = TTextAlignment::Center;
  int32_t lineSpacing = 0;
  bool rasterize = false;
  std::u16string rasterizedGuid;
  TIniPoint blackBox; // the text block size
  float shiftX = 0;
  float shiftY = 0;

  void Read(const TCommonIniSection& node);
  // The picture parameters for a text (after expansion) in a colour at a block height in pixels.
  TTextPictureParams PictureParams(std::u16string shownText, TIniRGB shownColor, int32_t height) const;
};

// Pictures are scaled to fit a rectangle of the content keeping their shape, centred.
void FitPicture(float pictureW, float pictureH, float boxW, float boxH, float& scale, float& offsetX,
                float& offsetY);

class TKivText : public TKivImageObject {
public:
  TKivText(TKivObject* parent, std::u16string guid);

  const TTextKeys& TextKeys() const noexcept { return keys_; }
  const std::u16string& Text() const noexcept { return keys_.text; }
  TIniRGB TextColor() const noexcept { return keys_.color; }
  const std::u16string& FontName() const noexcept { return keys_.fontName; }
  TTextAlignment TextAlign() const noexcept { return keys_.align; }
  TIniPoint BlackBoxSize() const noexcept { return keys_.blackBox; }
  bool IsComment() const noexcept { return ObjectType() == u"textcomment"; }

  // The text after macro expansion. Macros are not expanded yet: the text is shown as written.
  virtual std::u16string ExpandedText() const { return keys_.text; }
  // The parameters of the picture the text shows now.
  TTextPictureParams PictureParams() const;

  void DrawContent(TDeviceDrawer& drawer) override;

protected:
  void ReadContentKeys(const TCommonIniSection& node) override;
  std::u16string PictureName() const override;
  void UpdateContentGeometry() override;
  bool DefaultShadowEnable() const override { return true; }

private:
  TTextKeys keys_;
};

// The theme description's file name inside a theme folder.
inline constexpr std::u16string_view kButtonThemeFile = u"theme.ini";
inline constexpr std::u16string_view kFallbackTheme = u"aqua";

class TKivButton : public TKivImageObject {
public:
  TKivButton(TKivObject* parent, std::u16string guid);

  const std::u16string& Theme() const noexcept { return theme_; }
  float BtnOpacity() const noexcept { return btnOpacity_; }
  float TxtOpacity() const noexcept { return txtOpacity_; }
  int32_t Hue() const noexcept { return hue_; }
  int32_t Saturation() const noexcept { return saturation_; }
  int32_t Lightness() const noexcept { return lightness_; }
  float BtnMinWidth() const noexcept { return btnMinWidth_; }
  float BtnOffsetX() const noexcept { return btnOffsetX_; }
  const TTextKeys& TextKeys() const noexcept { return textKeys_; }

  // The theme folder found in the show (the named theme, else "aqua"); empty when neither exists.
  const std::u16string& ThemePath() const noexcept { return themePath_; }
  // "Button: " + theme path, state, width, hue, saturation and lightness; empty without a theme.
  std::u16string BodyName() const;
  TKivPicture* Caption() const noexcept { return caption_.get(); }
  // Caption text after macro expansion (not expanded yet, as for texts).
  virtual std::u16string ExpandedText() const { return textKeys_.text; }

  void DrawContent(TDeviceDrawer& drawer) override;

protected:
  void ReadContentKeys(const TCommonIniSection& node) override;
  std::u16string PictureName() const override { return BodyName(); }
  void UpdateContentGeometry() override;
  void PrepareContent(TDeviceDrawer& drawer) override;

private:
  void FindTheme();
  TTextPictureParams CaptionParams() const;

  std::u16string theme_;
  float btnOpacity_ = 100;
  float txtOpacity_ = 100;
  int32_t hue_ = 0;
  int32_t saturation_ = 0;
  int32_t lightness_ = 0;
  float btnMinWidth_ = 0;
  float btnOffsetX_ = 100;
  TTextKeys textKeys_;
  bool textColorWritten_ = false; // else the theme's caption colour wins

  std::u16string themePath_;
  TSize themeSize_;                   // the theme's nominal size
  std::optional<TIniRGB> themeColor_; // the caption colour the theme gives
  TRef<TKivPicture> caption_;
  std::u16string captionName_;
};

class TKivBox : public TKivObject {
public:
  TKivBox(TKivObject* parent, std::u16string guid);

  TIniPoint BoxSize() const noexcept { return size_; }
  TBoxFillMode FillMode() const noexcept { return fillMode_; }
  TIniRGB Color1() const noexcept { return color1_; }
  TIniRGB Color2() const noexcept { return color2_; }
  int32_t Alpha1() const noexcept { return alpha1_; }
  int32_t Alpha2() const noexcept { return alpha2_; }
  bool Antialiased() const noexcept { return antialiased_; }
  // The request the box hands to the drawer.
  TBoxParams MakeBoxParams() const;

  void LoadFromNode(const TCommonIniSection& node, bool reload) override;
  void DrawContent(TDeviceDrawer& drawer) override;

protected:
  void ReadBoxKeys(const TCommonIniSection& node);

private:
  TIniPoint size_;
  TBoxFillMode fillMode_ = TBoxFillMode::Solid;
  TIniRGB color1_{0, 0, 0};
  TIniRGB color2_{0, 0, 0};
  int32_t alpha1_ = 255;
  int32_t alpha2_ = 255;
  bool antialiased_ = false;
};

class TKivFrame : public TKivBox {
public:
  TKivFrame(TKivObject* parent, std::u16string guid);
  void LoadFromNode(const TCommonIniSection& node, bool reload) override;
};

// Registers "image", "mainimage", "text", "textcomment", "button", "box" and "frame" with the object
// factory and the "Text: " and "Button: " picture producers. Calling it again changes nothing.
void RegisterContentKinds();

} // namespace kiv

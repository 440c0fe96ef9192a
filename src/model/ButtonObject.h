#pragma once
// Themed buttons on a slide: a body picture generated from the show's theme ("Button: ...") and a text
// caption over it.

#include "TextObject.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kiv {

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
  // The caption's picture parameters: its text in the colour of the pointer state.
  TTextPictureParams CaptionParams() const;
  // Caption text after macro expansion, as for texts.
  virtual std::u16string ExpandedText() const { return ExpandSlideText(*this, textKeys_.text, macroCache_); }

  void DrawContent(TDeviceDrawer& drawer) override;

protected:
  void ReadContentKeys(const TCommonIniSection& node) override;
  std::u16string PictureName() const override { return BodyName(); }
  void UpdateContentGeometry() override;
  void PrepareContent(TDeviceDrawer& drawer) override;
  bool MakeShadowRequest(TShadowRequest& request) const override;

private:
  void FindTheme();

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
  bool hoverColorWritten_ = false;
  bool clickColorWritten_ = false;

  std::u16string themePath_;
  TSize themeSize_;                   // the theme's nominal size
  std::optional<TIniRGB> themeColor_; // the caption colour the theme gives
  bool themeNearest_ = false;         // the theme asks for its caption unfiltered
  TRef<TKivPicture> caption_;
  std::u16string captionName_;
  mutable TMacroMetadata macroCache_; // the loader thread's, while it builds the slide
};

} // namespace kiv

#pragma once
// Texts on a slide: the text kind shows a picture generated from its keys ("Text: " and the encoded
// parameters), which button captions use too.

#include "ImageObject.h"
#include "TextMacros.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace kiv {

// Generated text pictures are bounded: a block taller than this gains nothing on any screen.
inline constexpr int32_t kMaxTextHeight = 2048;
// Pixels per line of a text without a block size or planning result.
inline constexpr int32_t kDefaultLineHeight = 32;

// What a generated text picture is made from; the name after "Text: " carries all of it.
struct TTextPictureParams {
  std::u16string text;       // lines separated by line breaks
  std::u16string fontName;   // "Arial" when empty
  int32_t fontStyle = 0;     // TFontStyle bits
  uint32_t color = 0xFFFFFF; // Windows colour reference 0x00BBGGRR
  int32_t align = 1;         // 0 left, 1 centre, 2 right
  int32_t lineSpacing = 0;   // percent of a line
  int32_t height = 0;        // pixels of the whole text block
  std::u16string layout;     // the show file holding the text's stored layout (RasterizedGUID); may be empty

  bool operator==(const TTextPictureParams&) const = default;
};
std::u16string EncodeTextPicture(const TTextPictureParams& params);
// False for a name that is not an encoding.
bool DecodeTextPicture(std::u16string_view encoded, TTextPictureParams& params);
// The picture of a text, drawn from a stored layout when one is given, else laid out from the installed
// fonts; nullptr when no font can be opened or the text is empty.
TRef<TCachedBitmap> MakeTextPicture(const TTextPictureParams& params, TVectorText* stored = nullptr);
// "B", "I", "U" and "S" in any case and order; other letters are ignored.
int32_t ParseFontStyleLetters(std::u16string_view letters);

// Number fields of generated picture names (texts and button bodies): appended in decimal; read as a
// decimal integer of at most nine digits at pos, up to the terminator (false otherwise).
void AppendNameNumber(std::u16string& out, int64_t value);
bool ParseNameNumber(std::u16string_view text, size_t& pos, char16_t terminator, int32_t& value);

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
  // The colour in a pointer state: pressed takes the click colour, else hover the hover colour.
  TIniRGB ColorFor(bool hover, bool pressed) const;
  // The picture parameters for a text (after expansion) in a colour at a block height in pixels.
  TTextPictureParams PictureParams(std::u16string shownText, TIniRGB shownColor, int32_t height) const;
};

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

  // The text after macro expansion (slide facts and the main picture's metadata).
  virtual std::u16string ExpandedText() const { return ExpandSlideText(*this, keys_.text, macroCache_); }
  // The parameters of the picture the text shows now.
  TTextPictureParams PictureParams() const;

  void DrawContent(TDeviceDrawer& drawer) override;

protected:
  void ReadContentKeys(const TCommonIniSection& node) override;
  std::u16string PictureName() const override;
  void UpdateContentGeometry() override;
  bool DefaultShadowEnable() const override { return true; }
  bool MakeShadowRequest(TShadowRequest& request) const override;
  // Where the picture lies in the block: its scale and offset, kept to the side it is aligned to.
  bool PicturePlacement(float& scale, float& offsetX, float& offsetY) const;

private:
  TTextKeys keys_;
  mutable TMacroMetadata macroCache_; // the loader thread's, while it builds the slide
};

} // namespace kiv

#pragma once
// Renders a vector text into a 32-bit picture: lays out its lines, fills every glyph outline with
// anti-aliasing, adds underline and strike-out, and colours it.

#include "StoredGlyphs.h"
#include "ImageLevels.h"

namespace kiv {

enum class TTextAlign { Left = 0, Center = 1, Right = 2 };

struct TTextRect {
  double left, top, right, bottom; // pixels in the produced picture
};

class TTextProducer : public TObj {
public:
  // owns: the producer frees the text with itself.
  void SetText(TVectorText* text, bool owns);
  void SetAlignment(TTextAlign align) noexcept { align_ = align; }
  // Extra space between lines in percent of a line's height: 100 adds half a line.
  void SetLineSpacing(double percent) noexcept { lineSpacing_ = percent; }
  // Called after every line and row; false cancels the picture.
  void SetProgress(TImageProgress progress) { progress_ = std::move(progress); }

  // Colours are Windows colour references (0x00BBGGRR). scale: pixels per font unit. nullptr without a
  // text or when cancelled. origin, when given, receives where the first line's baseline starts.
  TOwned<TImage> Produce(uint32_t color, uint32_t color2, bool strikeOut, bool underline, double scale,
                         double* originX = nullptr, double* originY = nullptr);

  // The boxes of the laid-out lines of the last picture, for hit testing.
  const std::vector<TTextRect>& LineRects() const noexcept { return lineRects_; }

private:
  TVectorText* text_ = nullptr;
  TOwned<TVectorText> owned_;
  TTextAlign align_ = TTextAlign::Left;
  double lineSpacing_ = 0;
  TImageProgress progress_;
  std::vector<TTextRect> lineRects_;
};

// Fills a path (pixels, y down) with non-zero winding into an 8-bit coverage buffer (max of coverages).
void FillPath(const std::vector<TGlyphPoint>& points, std::vector<uint8_t>& coverage, int width, int height);

} // namespace kiv

namespace kiv {

// The picture shown instead of a picture that could not be had: its lines (ErrorPictureLines) in yellow
// on an opaque blue box, from the installed fonts. nullptr when no font can be opened.
TOwned<TImage> MakeErrorPicture(const std::vector<std::u16string>& lines, double pixelsPerLine = 20);

} // namespace kiv

#pragma once
// Drop shadow pictures ("Shadow: " names): a blurred, tinted copy of a picture's alpha shape, or of a
// rectangle, shaped by a spread contour.

#include "CachedBitmap.h"

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace kiv {

// The source name of a rectangle's shadow.
inline constexpr std::u16string_view kShadowRectangleSource = u"N\\A";

// Bounds for values read from a generated name, which come from show data.
inline constexpr int32_t kMaxShadowPart = 1 << 16;   // pixels of the part, each way
inline constexpr int32_t kMaxShadowMargin = 1 << 14; // pixels on each side
inline constexpr double kMaxShadowScale = 256;       // the blur's reduction factor

struct TShadowParams {
  std::u16string sourceName{kShadowRectangleSource};
  int32_t left = 0, top = 0, right = 0, bottom = 0; // the part that casts the shadow, level pixels
  int32_t marginX = 0, marginY = 0;                 // room added on each side
  int32_t fillAlpha = 255;
  double blurSize = 0;
  int32_t spread = 0;
  uint8_t boxAlpha1 = 255, boxAlpha2 = 255;
  int32_t boxGradient = 8; // 0..7 a direction, 8 plain
  uint8_t blue = 0, green = 0, red = 0;
  double opacity = 0; // percent
  int32_t level = 0;
  bool shadow3D = false; // drawing only; not part of the name

  bool IsRectangle() const { return sourceName == kShadowRectangleSource; }
  bool operator==(const TShadowParams&) const = default;
};

// The name after "Shadow: ".
std::u16string EncodeShadowParams(const TShadowParams& params);
// Fields that do not parse take their defaults; every value is brought into its range.
TShadowParams ParseShadowParams(std::u16string_view rest);

// The sizes a shadow is made at.
struct TShadowLayout {
  int32_t width = 1, height = 1; // working picture: part + margins, reduced
  int32_t reduction = 1;         // r: working pixels per part pixel, a power of 2
  double scale = 1;              // s: the blur's reduction
  int32_t border = 0;            // p: pixels added around the working picture
  int32_t BorderedWidth() const { return width + 2 * border; }
  int32_t BorderedHeight() const { return height + 2 * border; }
};
// For a part of that size (the rectangle's own part, or the source's part as cut).
TShadowLayout ShadowLayoutFor(const TShadowParams& params, int32_t partWidth, int32_t partHeight);

// The 256 outputs of a spread contour (index 0..9); an unknown index is the linear one.
std::array<uint8_t, 256> ContourTable(int32_t spread);
// Separable resampling of 8-bit values with the cubic B-spline over a support of 2.
std::vector<float> ResampleBSpline(const std::vector<float>& values, int32_t width, int32_t height,
                                   int32_t newWidth, int32_t newHeight);

class TShadowGenerator {
public:
  // Asked after every row of the colouring; false stops it there.
  using TCancelFunc = std::function<bool()>;
  explicit TShadowGenerator(TCancelFunc cancel = nullptr) : cancel_(std::move(cancel)) {}

  // source: the picture at params.level (ignored for a rectangle); nullptr for a missing source picture.
  TRef<TCachedBitmap> Generate(const TShadowParams& params, const TCachedBitmap* source) const;
  // The layout the result of Generate was made with.
  static TShadowLayout Layout(const TShadowParams& params, const TCachedBitmap* source);

private:
  TCancelFunc cancel_;
};

} // namespace kiv

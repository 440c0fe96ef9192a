#pragma once
// Preset mask shapes drawn from their description ("PresetedMask:" names): an ellipse or a rounded
// rectangle, white inside, black outside, with a feathered band between.

#include "CachedBitmap.h"

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace kiv {

// Sides are bounded: the numbers come from show data, and a mask finer than this gains nothing.
inline constexpr int32_t kMaxPresetMaskSide = 4096;

struct TPresetMaskParams {
  int32_t width = 512;
  int32_t height = 512;
  int32_t kind = 0;   // 0 rounded rectangle, 1 ellipse; any other value counts as 0
  double feather = 0; // percent
  double corner = 0;  // percent

  bool operator==(const TPresetMaskParams&) const = default;
};

// width:height:kind:feather:corner, as it follows the prefix. Blanks before a field are skipped; a field
// that does not parse takes its default. Sides are clamped to 1 .. kMaxPresetMaskSide, feather and corner
// to 0 .. 100.
TPresetMaskParams ParsePresetMask(std::u16string_view rest);
std::u16string EncodePresetMask(const TPresetMaskParams& params);

// The grey of a pixel at distance d from an edge reference of radius R with a soft band of width F.
uint8_t FeatheredGrey(double d, double radius, double feather);

class TMaskGenerator {
public:
  // Asked after every row; false stops the drawing, leaving the remaining rows black.
  using TCancelFunc = std::function<bool()>;
  explicit TMaskGenerator(TCancelFunc cancel = nullptr) : cancel_(std::move(cancel)) {}

  // Opaque grey pixels (red = green = blue).
  TRef<TCachedBitmap> Generate(const TPresetMaskParams& params) const;

private:
  TCancelFunc cancel_;
};

} // namespace kiv

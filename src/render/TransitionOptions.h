#pragma once
// The transition options of a slide, as the transitions read them. Filled from the show's options and the
// slide's own keys; carried by the transition record between two slides.

#include <cstdint>
#include <string>

namespace kiv {

// A colour as the transitions want it: blue, green, red.
struct TBGRColor {
  uint8_t blue = 0;
  uint8_t green = 0;
  uint8_t red = 0;
  // Opaque, as the drawer's clears take it.
  uint32_t Argb() const noexcept { return 0xFF000000u | uint32_t{red} << 16 | uint32_t{green} << 8 | blue; }
  friend bool operator==(const TBGRColor&, const TBGRColor&) = default;
};

// The transition options record that the transitions read.
struct TEffectParams {
  float smoothLine = 0;   // opt_fx_smoothline / 1000
  float broomOffset = 0;  // opt_fx_broomoffset / 100
  float rollDiameter = 0; // opt_fx_rolldiameter / 1000
  bool rollVariants = true;
  bool rollUseBackColor = false;
  TBGRColor rollBackColor; // black unless the back colour is used
  bool roll3D = false;
  float rollCurving = 0.125f;
  bool flipCenter = false;
  float flipCurving = 0.5f;
  bool flipSmooth = true;
  float swapDepth = 4;
  float swapWidth = 1;
  float swapMaxAngle = 60;
  int32_t centerX = 50; // percent
  int32_t centerY = 50; // percent
  int32_t mosaicDX = 1;
  int32_t mosaicDY = 1;
  int32_t mosaicSC = 0;
  int32_t seed = 0;                 // per slide, set with the transition choice
  std::u16string customDescription; // custom transitions to choose from, joined with "|"
};

} // namespace kiv

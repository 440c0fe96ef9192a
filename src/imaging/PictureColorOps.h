#pragma once
// Colour operations on 32-bit pictures, in place; other pixel formats are left as they are. Used for
// button pictures and navigation panels.

#include "Bitmap.h"

namespace kiv {

// Turns hue (degrees), saturation and lightness (percent) in an HSL space on a 0..255 scale. Nothing
// happens when all three are 0. Asks the load callback after every row and stops when it refuses.
void TintPicture(TBitmap& picture, int hue, int saturation, int lightness);
// Every pixel's red, green and blue become their integer mean; alpha stays.
void GreyPicture(TBitmap& picture);
// As GreyPicture, with alpha divided by 4.
void DisabledPicture(TBitmap& picture);

// One pixel through the tint (0xAARRGGBB), for callers that tint colours rather than pictures.
uint32_t TintColor(uint32_t argb, int hue, int saturation, int lightness);

} // namespace kiv

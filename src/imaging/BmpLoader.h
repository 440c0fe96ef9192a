#pragma once
// BMP/DIB files: the loader for ".bmp"/".dib" and the reader the packed image format uses.

#include "ImageLevels.h"

#include <span>

namespace kiv {

// Colour of palette entries a file does not hold.
inline constexpr uint8_t kMissingPaletteBlue = 0, kMissingPaletteGreen = 0, kMissingPaletteRed = 0;

// A BMP file in memory: 24-bit pixels for 1, 4, 8, 16 and 24 bits, 32-bit pixels for 32 bits; nullptr for
// anything refused (run-length compression, unknown depths, sizes past the cap, truncated pixel data).
TRef<TBitmap> ReadBmp(std::span<const uint8_t> file);

TRef<TBitmapStore> LoadBitmapImage(TStream& stream, std::u16string_view name, TOwned<TStream>* owned,
                                   const TImageProgress& progress);

} // namespace kiv

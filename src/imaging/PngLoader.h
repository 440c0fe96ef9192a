#pragma once
// PNG through libpng, in the slot the external image library takes: registered for ".png" after our own
// loaders, so that packed images named ".png" still go to the packed-image loader first.

#include "ImageLevels.h"

#include <span>

namespace kiv {

// A PNG in memory as 24-bit pixels (no alpha) or 32-bit (alpha or a transparent colour); 16-bit samples
// are scaled with rounding; no gamma is applied. nullptr for a damaged file (CRC, zlib, truncation, no end,
// indices past the palette).
TRef<TBitmap> ReadPng(std::span<const uint8_t> file);

// The library decodes the whole picture when it opens it: a file that cannot be read is declined at load
// time rather than showing as an empty picture later.
class TImageLibStore : public TWrapperBitmapStore {
public:
  using TWrapperBitmapStore::TWrapperBitmapStore;
};

TRef<TBitmapStore> LoadPngImage(TStream& stream, std::u16string_view name, TOwned<TStream>* owned,
                                const TImageProgress& progress);

} // namespace kiv

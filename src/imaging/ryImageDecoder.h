#pragma once
// The bridge between the show's shared image cache and our loaders: decodes a stored picture at the level
// that its wanted size calls for and hands it over as 32-bit pixels.

#include "ryImage.h"
#include "ryKivImageCache.h"

namespace kiv {

// 32-bit copy of a bitmap for the cache (24-bit pictures become opaque).
TRef<TCachedBitmap> ToCachedBitmap(const TBitmap& bitmap);

// Decodes one picture for the cache: the level is chosen from request.width × height (0: full size).
TRef<TCachedBitmap> DecodeCachedImage(TStream& stream, const TImageDecodeRequest& request);

// Installs DecodeCachedImage as the process-wide decoder of the image cache.
void InstallImageDecoder();

} // namespace kiv

#pragma once
// The bridge between the show's shared image cache and our loaders: decodes a stored picture at the level
// that its wanted size calls for and hands it over as 32-bit pixels.

#include "ImageLevels.h"
#include "SharedImageCache.h"

namespace kiv {

// 32-bit copy of a bitmap for the cache (24-bit pictures become opaque).
TRef<TCachedBitmap> ToCachedBitmap(const TBitmap& bitmap);

// Decodes one picture for the cache at the level request.chooseLevel asks for once the header is read (else
// the level for request.width x height; 0: full size), as far as the store can make it: JPEGs through DCT
// scaling down to 1/8, other formats only at full size.
TDecodedImage DecodeCachedImage(TStream& stream, const TImageDecodeRequest& request);

// The error picture of the cache as 32-bit pixels (MakeErrorPicture); none when no font can be opened.
TRef<TCachedBitmap> MakeErrorBitmap(const std::vector<std::u16string>& lines);

// Installs DecodeCachedImage and MakeErrorBitmap as the image cache's process-wide decoder and error
// picture maker.
void InstallImageDecoder();

} // namespace kiv

#include "CacheImageDecoder.h"

#include "TextRasterizer.h"

#include <algorithm>
#include <cstring>

namespace kiv {

TRef<TCachedBitmap> ToCachedBitmap(const TBitmap& bitmap) {
  std::vector<uint32_t> pixels(static_cast<size_t>(bitmap.Width()) * bitmap.Height());
  const bool alpha = bitmap.Format() == TBitmapFormat::Pf32bit;
  size_t i = 0;
  for (int y = 0; y < bitmap.Height(); ++y) {
    const uint8_t* p = bitmap.Row(y);
    for (int x = 0; x < bitmap.Width(); ++x, ++i) {
      if (alpha) {
        std::memcpy(&pixels[i], p, 4);
        p += 4;
      } else {
        pixels[i] = 0xFF000000u | (uint32_t{p[2]} << 16) | (uint32_t{p[1]} << 8) | p[0];
        p += 3;
      }
    }
  }
  return TRef<TCachedBitmap>::Make(bitmap.Width(), bitmap.Height(), std::move(pixels));
}

TDecodedImage DecodeCachedImage(TStream& stream, const TImageDecodeRequest& request) {
  TOwned<TImage> image = LoadImage(stream, request.name);
  if (!image) return {};
  int level = 0;
  if (request.chooseLevel)
    level = request.chooseLevel(image->Width(), image->Height());
  else if (request.width > 0 && request.height > 0)
    level = MipLevelFor(image->Width(), image->Height(), request.width, request.height);
  int made = 0;
  TRef<TBitmap> bitmap = image->GetMipLevel(std::max(level, 0), TBitmapFormat::None, {}, &made);
  if (!bitmap) return {};
  TDecodedImage decoded(ToCachedBitmap(*bitmap));
  decoded.level = made;
  decoded.storedWidth = image->Width();
  decoded.storedHeight = image->Height();
  const TImageAnimation& animation = image->Params();
  decoded.frameCount = animation.frameCount;
  decoded.frameDelays = animation.animationTimes;
  return decoded;
}

TRef<TCachedBitmap> MakeErrorBitmap(const std::vector<std::u16string>& lines) {
  TOwned<TImage> image = MakeErrorPicture(lines);
  if (!image) return nullptr;
  TRef<TBitmap> bitmap = image->GetMipLevel(0, TBitmapFormat::Pf32bit);
  return bitmap ? ToCachedBitmap(*bitmap) : nullptr;
}

void InstallImageDecoder() {
  SetImageDecoder(&DecodeCachedImage);
  SetErrorPictureMaker(&MakeErrorBitmap);
}

} // namespace kiv

#include "GeneratedPictures.h"

#include "MaskGenerator.h"
#include "ShadowGenerator.h"
#include "SharedImageCache.h"
#include "ShowFileAccess.h"

namespace kiv {

TRef<TCachedBitmap> MakePresetMaskPicture(std::u16string_view rest, TGeneratorCancelFunc cancel) {
  return TMaskGenerator(std::move(cancel)).Generate(ParsePresetMask(rest));
}

TRef<TCachedBitmap> MakeShadowPicture(TFileAccessor* accessor, std::u16string_view rest,
                                      TGeneratorCancelFunc cancel) {
  const TShadowParams params = ParseShadowParams(rest);
  TShadowGenerator generator(std::move(cancel));
  if (params.IsRectangle()) return generator.Generate(params, nullptr);
  if (!accessor || params.sourceName.empty()) return nullptr;
  // The level the name gives: wanted just below that level's size, so that the cache halves that often.
  const int level = params.level;
  TOwned<TKivImage> image = LoadSharedImage(*accessor, params.sourceName, [level](TPictureSize full) {
    return level > 0 ? PictureLevelSize(full, level + 1) : TPictureSize{};
  });
  if (!image || image->IsErrorPicture()) return nullptr;
  TRef<TCachedBitmap> source = TRef<TCachedBitmap>::Share(&image->Bitmap());
  for (int got = image->Level(); got < level; ++got)
    source = HalveCachedBitmap(*source);
  return generator.Generate(params, source.get());
}

std::unique_ptr<TButtonProducerHost> MakeButtonProducerHost(TFileAccessor* accessor,
                                                            TGeneratorCancelFunc cancel) {
  auto open = [accessor](std::u16string_view name) -> TOwned<TStream> {
    return accessor ? Open(*accessor, name) : nullptr;
  };
  auto pictures = [accessor](std::u16string_view name) -> TRef<TCachedBitmap> {
    if (!accessor) return nullptr;
    TOwned<TKivImage> image = LoadSharedImage(*accessor, name);
    if (!image || image->IsErrorPicture()) return nullptr;
    return TRef<TCachedBitmap>::Share(&image->Bitmap());
  };
  return std::make_unique<TButtonProducerHost>(std::move(open), std::move(pictures), std::move(cancel));
}

} // namespace kiv

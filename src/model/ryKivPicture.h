#pragma once
// Show pictures as the drawer draws them: a decoded picture of the shared image cache (or a generated one)
// seen as a drawer image.

#include "ryCachedBitmap.h"
#include "ryDrawManager2.h"
#include "ryKivImageCache.h"
#include "ryObjects.h"

#include <string>
#include <string_view>
#include <vector>

namespace kiv {

class TKivSlideHost;

// A show picture as the drawer draws it (32-bit 0xAARRGGBB, rows top down).
class TKivPicture : public TDrawImage {
public:
  explicit TKivPicture(TRef<TCachedBitmap> bitmap);
  // A view of the shared cache: the cache keeps the decoded file while the picture lives.
  explicit TKivPicture(TOwned<TKivImage> image);

  const TDevBitmap& Bitmap() const override { return pixels_; }
  int Width() const noexcept { return pixels_.Width(); }
  int Height() const noexcept { return pixels_.Height(); }
  // What it was made from: the cache's picture, a generated one or the error picture.
  const TRef<TCachedBitmap>& Source() const noexcept { return bitmap_; }

private:
  TOwned<TKivImage> view_; // or none
  TRef<TCachedBitmap> bitmap_;
  TDevBitmap pixels_; // the drawer reads its own kind of bitmap: a copy made once
};

// A show picture from a bitmap of the drawer's kind (resampled backgrounds).
TRef<TKivPicture> MakeKivPicture(const TDevBitmap& pixels);

// A file of the show through the host's accessor and the shared image cache, or a generated picture when the
// name starts with a generated prefix; a missing picture gives the error picture; nullptr when not even that.
TRef<TKivPicture> LoadKivPicture(TKivSlideHost& host, std::u16string_view name);

// The picture shown instead of one that could not be had, from its lines; nullptr when no font can draw it.
TRef<TCachedBitmap> MakeErrorBitmap(const std::vector<std::u16string>& lines);

} // namespace kiv

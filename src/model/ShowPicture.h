#pragma once
// Show pictures as the drawer draws them: a decoded picture of the shared image cache (or a generated one)
// seen as a drawer image.

#include "CachedBitmap.h"
#include "DrawTree.h"
#include "SharedImageCache.h"
#include "ObjectBase.h"

#include <string>
#include <string_view>
#include <vector>

namespace kiv {

class TKivSlideHost;

// A show picture as the drawer draws it (32-bit 0xAARRGGBB, rows top down). A picture loaded for a small
// wanted size holds the full picture halved Level() times; its size stays that of the full picture, so that
// the objects showing it measure and cut it in full-picture pixels.
class TKivPicture : public TDrawImage {
public:
  explicit TKivPicture(TRef<TCachedBitmap> bitmap);
  // A view of the shared cache: the cache keeps the decoded file while the picture lives.
  explicit TKivPicture(TOwned<TKivImage> image);
  // A picture of that size without pixels of its own: it shows only through a texture attached to it (a
  // slide rendered for a custom transition).
  struct TStandIn {};
  TKivPicture(TStandIn, int width, int height);

  // The pixels: the full picture halved Level() times (the drawer's reductionLevel).
  const TDevBitmap& Bitmap() const override { return pixels_; }
  // The full picture's size.
  int Width() const noexcept { return width_; }
  int Height() const noexcept { return height_; }
  int Level() const noexcept { return level_; }
  // What it was made from: the cache's picture, a generated one or the error picture.
  const TRef<TCachedBitmap>& Source() const noexcept { return bitmap_; }
  // The strip of frames the file describes itself (an animated GIF); one frame otherwise.
  const TPictureAnimation& Animation() const noexcept { return animation_; }

private:
  TOwned<TKivImage> view_; // or none
  TRef<TCachedBitmap> bitmap_;
  TDevBitmap pixels_; // the drawer reads its own kind of bitmap: a copy made once
  int width_ = 0;
  int height_ = 0;
  int level_ = 0;
  TPictureAnimation animation_;
};

// A show picture from a bitmap of the drawer's kind (resampled backgrounds).
TRef<TKivPicture> MakeKivPicture(const TDevBitmap& pixels);

// A file of the show through the host's accessor and the shared image cache, or a generated picture when the
// name starts with a generated prefix; a missing picture gives the error picture; nullptr when not even that.
// Files come at full size.
TRef<TKivPicture> LoadKivPicture(TKivSlideHost& host, std::u16string_view name);
// As above, a file at the level its wanted size allows (asked once its full size is known); generated and
// error pictures come as they are.
TRef<TKivPicture> LoadKivPicture(TKivSlideHost& host, std::u16string_view name,
                                 const TWantedSizeFunc& wanted);

} // namespace kiv

#include "ShowPicture.h"

#include "Assert.h"
#include "CacheImageDecoder.h"
#include "ShowFileAccess.h"
#include "SlideHost.h"
#include "TextRasterizer.h"

#include <cstring>

namespace kiv {

namespace {

void CopyPixels(const TCachedBitmap& bitmap, TDevBitmap& pixels) {
  pixels.SetSize(bitmap.Width(), bitmap.Height(), TPixelFormat::pf32bit);
  const size_t rowBytes = static_cast<size_t>(bitmap.Width()) * 4;
  for (int y = 0; y < bitmap.Height(); ++y)
    std::memcpy(pixels.ScanLine(y), bitmap.Pixels().data() + static_cast<size_t>(y) * bitmap.Width(),
                rowBytes);
}

TRef<TKivPicture> ErrorPicture(TFileAccessor* accessor, std::u16string_view name) {
  const bool opened = accessor && Open(*accessor, name) != nullptr;
  TRef<TCachedBitmap> bitmap = MakeErrorBitmap(ErrorPictureLines(TMediaKind::Image, opened, name));
  return bitmap ? TRef<TKivPicture>::Make(std::move(bitmap)) : nullptr;
}

} // namespace

TKivPicture::TKivPicture(TRef<TCachedBitmap> bitmap) : bitmap_(std::move(bitmap)) {
  RY_ASSERT(bitmap_);
  CopyPixels(*bitmap_, pixels_);
  width_ = bitmap_->Width();
  height_ = bitmap_->Height();
}

TKivPicture::TKivPicture(TOwned<TKivImage> image) : view_(std::move(image)) {
  RY_ASSERT(view_);
  bitmap_ = TRef<TCachedBitmap>::Share(&view_->Bitmap());
  CopyPixels(*bitmap_, pixels_);
  level_ = view_->Level();
  animation_ = view_->Animation();
  const TPictureSize full = view_->FullSize();
  // A view without a known full size is its own full size.
  const bool known = full.width > 0 && full.height > 0;
  width_ = known ? full.width : bitmap_->Width();
  height_ = known ? full.height : bitmap_->Height();
  if (!known) level_ = 0;
}

TKivPicture::TKivPicture(TStandIn, int width, int height)
    : bitmap_(TRef<TCachedBitmap>::Make(0, 0)), width_(width), height_(height) {}

TRef<TKivPicture> MakeKivPicture(const TDevBitmap& pixels) {
  RY_ASSERT(pixels.Format() == TPixelFormat::pf32bit);
  std::vector<uint32_t> words(static_cast<size_t>(pixels.Width()) * static_cast<size_t>(pixels.Height()));
  for (int32_t y = 0; y < pixels.Height(); ++y)
    std::memcpy(words.data() + static_cast<size_t>(y) * pixels.Width(), pixels.ScanLine(y),
                static_cast<size_t>(pixels.Width()) * 4);
  return TRef<TKivPicture>::Make(
      TRef<TCachedBitmap>::Make(pixels.Width(), pixels.Height(), std::move(words)));
}

TRef<TKivPicture> LoadKivPicture(TKivSlideHost& host, std::u16string_view name,
                                 const TWantedSizeFunc& wanted) {
  const bool generated = IsGeneratedPictureName(name);
  TFileAccessor* accessor = host.Accessor();
  // The effect buffer changes with every transition: the shared cache must not keep it.
  if (generated && (!accessor || name.starts_with(kEffectBufferPictureName))) {
    TRef<TCachedBitmap> bitmap = host.GetGeneratedPicture(name);
    return bitmap ? TRef<TKivPicture>::Make(std::move(bitmap)) : nullptr;
  }
  if (!accessor) return ErrorPicture(nullptr, name);
  // Generated pictures are made to measure: they are never asked for at a level.
  // A generated picture that cannot be made is simply absent; a show file gets the error picture, which
  // the cache keeps like any picture.
  if (TOwned<TKivImage> image = LoadSharedImage(*accessor, name, generated ? TWantedSizeFunc{} : wanted))
    return generated && image->IsErrorPicture() ? nullptr : TRef<TKivPicture>::Make(std::move(image));
  return generated ? nullptr : ErrorPicture(accessor, name);
}

TRef<TKivPicture> LoadKivPicture(TKivSlideHost& host, std::u16string_view name) {
  return LoadKivPicture(host, name, TWantedSizeFunc{});
}

} // namespace kiv

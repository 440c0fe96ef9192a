#include "ryKivImageCache.h"

#include "rkLoadCallBack.h"
#include "ryHashLists.h"
#include "ryKivPaths.h"
#include "ryUTF8.h"

namespace kiv {
namespace {

struct TImageCache {
  std::mutex lock; // finds, creates and releases handles; never held while a handle loads
  THashList<TImageHandle*> handles{kImageCacheBuckets};
  std::size_t live = 0;
  TImageDecoder decoder;
};

TImageCache* gCache = new TImageCache;

// Images may outlive static destruction order (a picture held by a global); the cache goes only when
// nothing uses it any more.
struct TCacheReaper {
  ~TCacheReaper() {
    bool empty;
    {
      std::lock_guard lock(gCache->lock);
      empty = gCache->live == 0;
    }
    if (empty) {
      delete gCache;
      gCache = nullptr;
    }
  }
} gReaper;

// Every reference to a handle is given up here, under the cache lock, so that its destructor can take it
// out of the list without a second thread finding it half gone.
void ReleaseHandle(TImageHandle* handle) {
  std::lock_guard lock(gCache->lock);
  handle->_Release();
}

TRef<TCachedBitmap> Decode(TFileAccessor& accessor, std::u16string_view name, TImageDecoder& decoder,
                           bool& opened) {
  TOwned<TStream> stream = Open(accessor, name);
  opened = stream != nullptr;
  if (!stream || !decoder) return nullptr;
  TImageDecodeRequest request;
  request.name = name;
  if (const TImageDecodeHook& hook = accessor.Source().ImageDecodeHook()) request.orientation = hook(name);
  if (SwapsSides(request.orientation)) std::swap(request.width, request.height);
  return OrientBitmap(decoder(*stream, request), request.orientation);
}

} // namespace

TImageHandle::~TImageHandle() {
  // Runs inside ReleaseHandle, with the cache lock held.
  gCache->handles.RemoveIf(name_, [this](TImageHandle* h) { return h == this; });
  --gCache->live;
}

TKivImage::TKivImage(TImageHandle& handle) : handle_(&handle) {
  handle_->_AddRef();
}

TKivImage::~TKivImage() {
  ReleaseHandle(handle_);
}

void SetImageDecoder(TImageDecoder decoder) {
  std::lock_guard lock(gCache->lock);
  gCache->decoder = std::move(decoder);
}

std::vector<std::u16string> ErrorPictureLines(TMediaKind kind, bool opened, std::u16string_view name) {
  const bool video = kind == TMediaKind::Video;
  std::u16string message = opened ? (video ? u"Video load error:" : u"Image load error:")
                                  : (video ? u"Video not found:" : u"Image not found:");
  const std::string file = Utf16ToUtf8(name);
  return {std::move(message), Utf8ToUtf16(ExtractFileName(file)), u"Path:",
          Utf8ToUtf16(ExtractFileDir(file))};
}

TOwned<TKivImage> LoadSharedImage(TFileAccessor& accessor, std::u16string_view name) {
  TFileSource& source = accessor.Source();
  TImageHandle* handle = nullptr;
  TImageDecoder decoder;
  {
    std::lock_guard lock(gCache->lock);
    if (std::vector<TImageHandle*>* list = gCache->handles.Find(name))
      for (TImageHandle* h : *list)
        if (h->SourceNumber() == source.Number()) handle = h;
    if (handle) {
      handle->_AddRef();
    } else {
      handle = new TImageHandle(std::u16string(name), source.Number()); // our reference
      gCache->handles.Add(name, handle);
      ++gCache->live;
    }
    decoder = gCache->decoder;
  }

  {
    std::lock_guard lock(handle->lock_);
    if (!handle->loaded_) {
      TRef<TCachedBitmap> bitmap;
      bool opened = true;
      try {
        for (const TImageProviderFunc& provider : source.ImageProviders())
          if ((bitmap = provider(source, name))) break;
        if (!bitmap) bitmap = Decode(accessor, name, decoder, opened);
      } catch (const std::exception&) {
        bitmap = nullptr; // bad media yields no picture
      }
      if (bitmap) {
        bitmap->SetLoadCallBack(LoadCallBack);
      } else {
        handle->errorLines_ = ErrorPictureLines(TMediaKind::Image, opened, name);
      }
      handle->bitmap_ = std::move(bitmap);
      handle->loaded_ = true;
    }
  }

  TOwned<TKivImage> image;
  if (handle->Bitmap()) image = MakeOwned<TKivImage>(*handle);
  ReleaseHandle(handle);
  return image;
}

std::size_t LiveImageHandles() {
  std::lock_guard lock(gCache->lock);
  return gCache->live;
}

} // namespace kiv

#include "SharedImageCache.h"

#include "LoadYield.h"
#include "NameHashList.h"
#include "ShowPaths.h"
#include "Utf8Conversion.h"

#include <algorithm>
#include <cstdint>

namespace kiv {
namespace {

// Installed once at start-up, read by loader threads.
struct TImageFunctions {
  std::mutex lock;
  TImageDecoder decoder;         // under lock
  TErrorPictureMaker errorMaker; // under lock
};

TImageFunctions& Functions() {
  static TImageFunctions* functions = new TImageFunctions; // for the whole run: loaders may outlast statics
  return *functions;
}

// Pictures are never larger than this many halvings of a 32-bit side.
constexpr int kMaxLevel = 31;

int LevelFor(TPictureSize full, const TWantedSizeFunc& wanted) {
  return wanted ? PictureLevelFor(full, wanted(full)) : 0;
}

TRef<TCachedBitmap> Halved(TRef<TCachedBitmap> bitmap, int times) {
  for (int i = 0; i < times && bitmap; ++i)
    bitmap = HalveCachedBitmap(*bitmap);
  return bitmap;
}

} // namespace

int PictureLevelFor(TPictureSize full, TPictureSize wanted) {
  if (wanted.width <= 0 || wanted.height <= 0) return 0;
  int64_t w = full.width, h = full.height;
  int level = -1;
  while (wanted.width < w && h > wanted.height) {
    ++level;
    w = (w + 1) / 2;
    h = (h + 1) / 2;
  }
  return std::max(level, 0);
}

TPictureSize PictureLevelSize(TPictureSize full, int level) {
  int64_t w = full.width, h = full.height;
  for (int i = 0; i < level && (w > 1 || h > 1); ++i) {
    w = (w + 1) / 2;
    h = (h + 1) / 2;
  }
  return {static_cast<int>(w), static_cast<int>(h)};
}

TRef<TCachedBitmap> HalveCachedBitmap(const TCachedBitmap& bitmap) {
  const int w = bitmap.Width(), h = bitmap.Height();
  const int hw = (w + 1) / 2, hh = (h + 1) / 2;
  std::vector<uint32_t> out(static_cast<size_t>(hw) * static_cast<size_t>(hh));
  const uint32_t* pixels = bitmap.Pixels().data();
  for (int y = 0; y < hh; ++y) {
    const uint32_t* row0 = pixels + static_cast<size_t>(2 * y) * w;
    const uint32_t* row1 = 2 * y + 1 < h ? row0 + w : nullptr;
    uint32_t* target = out.data() + static_cast<size_t>(y) * hw;
    for (int x = 0; x < hw; ++x) {
      uint32_t quad[4];
      uint32_t n = 0;
      quad[n++] = row0[2 * x];
      if (2 * x + 1 < w) quad[n++] = row0[2 * x + 1];
      if (row1) {
        quad[n++] = row1[2 * x];
        if (2 * x + 1 < w) quad[n++] = row1[2 * x + 1];
      }
      if (n == 4 && (quad[0] & quad[1] & quad[2] & quad[3]) >> 24 == 0xFF) {
        // Four opaque pixels, the common case: all channels at once, two to a word.
        uint32_t redBlue = 0, alphaGreen = 0;
        for (const uint32_t p : quad) {
          redBlue += p & 0x00FF00FF;
          alphaGreen += (p >> 8) & 0x00FF00FF;
        }
        target[x] = ((redBlue + 0x00020002) >> 2 & 0x00FF00FF) | ((alphaGreen + 0x00020002) >> 2 & 0x00FF00FF)
                                                                     << 8;
        continue;
      }
      // Colours weighted by alpha, so that the colour of transparent pixels does not bleed into the edge.
      uint32_t sumA = 0, sum[3] = {}, weighted[3] = {};
      for (uint32_t i = 0; i < n; ++i) {
        const uint32_t p = quad[i], a = p >> 24;
        sumA += a;
        for (int c = 0; c < 3; ++c) {
          const uint32_t v = (p >> (16 - 8 * c)) & 0xFF;
          sum[c] += v;
          weighted[c] += v * a;
        }
      }
      const bool opaque = sumA == 255 * n;
      uint32_t pixel = (sumA + n / 2) / n << 24;
      for (int c = 0; c < 3; ++c) {
        const uint32_t v = opaque || sumA == 0 ? (sum[c] + n / 2) / n : (weighted[c] + sumA / 2) / sumA;
        pixel |= v << (16 - 8 * c);
      }
      target[x] = pixel;
    }
  }
  return TRef<TCachedBitmap>::Make(hw, hh, std::move(out));
}

void TImageCache::ReleaseHandle(TImageHandle* handle) {
  const TRef<TImageCache> cache = handle->cache_; // outlives the handle and the lock
  std::lock_guard lock(cache->lock_);
  handle->_Release();
}

std::size_t TImageCache::LiveHandles() const {
  std::lock_guard lock(lock_);
  return live_;
}

TImageHandle::~TImageHandle() {
  // Runs inside TImageCache::ReleaseHandle, with the cache lock held.
  cache_->handles_.RemoveIf(name_, [this](TImageHandle* h) { return h == this; });
  --cache_->live_;
}

TPictureSize TImageHandle::FullSize() const {
  std::lock_guard lock(levelsLock_);
  return full_;
}

int TImageHandle::CachedLevels() const {
  std::lock_guard lock(levelsLock_);
  return static_cast<int>(
      std::count_if(levels_.begin(), levels_.end(), [](const TLevel& l) { return l.bitmap; }));
}

TOwned<TKivImage> TImageHandle::View(int level, TRef<TCachedBitmap> bitmap) {
  return MakeOwned<TKivImage>(*this, level, std::move(bitmap));
}

TOwned<TKivImage> TImageHandle::ErrorView(const TErrorPictureMaker& errorMaker) {
  if (!errorMaker) return nullptr;
  {
    std::lock_guard lock(levelsLock_);
    if (fixed_ && !error_) return nullptr; // a provided picture held before is not replaced
    for (const TLevel& level : levels_)
      if (level.bitmap && !error_) return nullptr;
  }
  TRef<TCachedBitmap> bitmap;
  try {
    bitmap = errorMaker(errorLines_);
  } catch (const std::exception&) {
    bitmap = nullptr;
  }
  if (!bitmap) return nullptr;
  {
    std::lock_guard lock(levelsLock_);
    fixed_ = true;
    error_ = true;
    full_ = {bitmap->Width(), bitmap->Height()};
  }
  bitmap->SetLoadCallBack(LoadCallBack);
  return View(0, std::move(bitmap));
}

TOwned<TKivImage> TImageHandle::Load(TFileAccessor& accessor, std::u16string_view name,
                                     const TImageDecoder& decoder, const TErrorPictureMaker& errorMaker,
                                     const TWantedSizeFunc& wanted) {
  TPictureSize full;
  bool fixed;
  TRef<TCachedBitmap> finer; // the nearest finer level held, to halve from
  int finerLevel = 0;
  int level = 0;
  {
    std::lock_guard lock(levelsLock_);
    full = full_;
    fixed = fixed_;
    if (fixed && !levels_.empty()) finer = levels_[0].bitmap;
  }
  if (fixed && finer) return View(0, std::move(finer));
  // The wanted size is asked once per load: it may run the caller's code (no lock held).
  const bool known = !fixed && full.width > 0 && full.height > 0;
  const TPictureSize wantedNow = known && wanted ? wanted(full) : TPictureSize{};
  if (known) {
    level = std::min(PictureLevelFor(full, wantedNow), kMaxLevel);
    std::lock_guard lock(levelsLock_);
    for (int k = std::min(level, static_cast<int>(levels_.size()) - 1); k >= 0; --k)
      if (levels_[static_cast<size_t>(k)].bitmap) {
        finer = levels_[static_cast<size_t>(k)].bitmap;
        finerLevel = k;
        break;
      }
  }
  if (finer) {
    // The level itself, or a finer one halved (cheaper than decoding again).
    if (level == finerLevel) return View(level, std::move(finer));
    TRef<TCachedBitmap> bitmap = Halved(std::move(finer), level - finerLevel);
    bitmap->SetLoadCallBack(LoadCallBack);
    return View(level, std::move(bitmap));
  }

  // Levels held serve even after a later decode failed; the failure itself is not tried again while the
  // handle lives (threads that waited for it get nothing at once).
  if (failed_) return ErrorView(errorMaker);
  TFileSource& source = accessor.Source();
  bool opened = true;
  TRef<TCachedBitmap> bitmap;
  try {
    for (const TImageProviderFunc& provider : source.ImageProviders())
      if ((bitmap = provider(source, name))) break;
    if (bitmap) {
      // Made to measure: the same picture for every size.
      level = 0;
      std::lock_guard lock(levelsLock_);
      fixed_ = true;
      full_ = {bitmap->Width(), bitmap->Height()};
    } else if (TOwned<TStream> stream = Open(accessor, name); !stream) {
      opened = false;
    } else if (decoder) {
      TImageDecodeRequest request;
      request.name = name;
      if (const TImageDecodeHook& hook = accessor.Source().ImageDecodeHook())
        request.orientation = hook(name);
      const bool swaps = SwapsSides(request.orientation);
      const auto shown = [swaps](int w, int h) { return swaps ? TPictureSize{h, w} : TPictureSize{w, h}; };
      int chosen = -1;
      if (known) {
        request.width = swaps ? wantedNow.height : wantedNow.width;
        request.height = swaps ? wantedNow.width : wantedNow.height;
      }
      const auto levelFor = [&](TPictureSize shownFull) {
        return std::min(known ? PictureLevelFor(shownFull, wantedNow) : LevelFor(shownFull, wanted),
                        kMaxLevel);
      };
      request.chooseLevel = [&](int storedWidth, int storedHeight) {
        chosen = levelFor(shown(storedWidth, storedHeight));
        return chosen;
      };
      TDecodedImage decoded = decoder(*stream, request);
      if (decoded.bitmap) {
        const int made = std::clamp(decoded.level, 0, kMaxLevel);
        TPictureSize stored{decoded.storedWidth, decoded.storedHeight};
        if (stored.width <= 0 || stored.height <= 0) {
          // Without the stored size the bitmap stands for it, as closely as its level tells.
          stored = {decoded.bitmap->Width(), decoded.bitmap->Height()};
          for (int i = 0; i < made; ++i)
            stored = {stored.width * 2, stored.height * 2};
        }
        const TPictureSize shownFull = shown(stored.width, stored.height);
        if (chosen < 0) chosen = levelFor(shownFull);
        level = std::max(chosen, made); // a decoder that made less than asked is taken at its word
        bitmap = Halved(OrientBitmap(decoded.bitmap, request.orientation), level - made);
        std::lock_guard lock(levelsLock_);
        full_ = shownFull;
        animation_ = {std::max(decoded.frameCount, 1), std::move(decoded.frameDelays)};
      }
    }
  } catch (const std::exception&) {
    bitmap = nullptr; // bad media yields no picture
  }
  if (!bitmap) {
    errorLines_ = ErrorPictureLines(TMediaKind::Image, opened, name);
    failed_ = true;
    return ErrorView(errorMaker);
  }
  bitmap->SetLoadCallBack(LoadCallBack);
  return View(level, std::move(bitmap));
}

TKivImage::TKivImage(TImageHandle& handle, int level, TRef<TCachedBitmap> bitmap)
    : handle_(&handle), level_(level) {
  handle_->_AddRef();
  std::lock_guard lock(handle_->levelsLock_);
  if (handle_->levels_.size() <= static_cast<size_t>(level))
    handle_->levels_.resize(static_cast<size_t>(level) + 1);
  TImageHandle::TLevel& entry = handle_->levels_[static_cast<size_t>(level)];
  if (!entry.bitmap) entry.bitmap = std::move(bitmap);
  bitmap_ = entry.bitmap;
  ++entry.views;
  full_ = handle_->full_;
  error_ = handle_->error_;
  animation_ = handle_->animation_;
}

TKivImage::~TKivImage() {
  TRef<TCachedBitmap> dropped; // freed outside the lock
  {
    std::lock_guard lock(handle_->levelsLock_);
    TImageHandle::TLevel& entry = handle_->levels_[static_cast<size_t>(level_)];
    if (--entry.views == 0) dropped = std::move(entry.bitmap);
  }
  TImageCache::ReleaseHandle(handle_);
}

void SetImageDecoder(TImageDecoder decoder) {
  TImageFunctions& f = Functions();
  std::lock_guard lock(f.lock);
  f.decoder = std::move(decoder);
}

void SetErrorPictureMaker(TErrorPictureMaker maker) {
  TImageFunctions& f = Functions();
  std::lock_guard lock(f.lock);
  f.errorMaker = std::move(maker);
}

std::vector<std::u16string> ErrorPictureLines(TMediaKind kind, bool opened, std::u16string_view name) {
  const bool video = kind == TMediaKind::Video;
  std::u16string message = opened ? (video ? u"Video load error:" : u"Image load error:")
                                  : (video ? u"Video not found:" : u"Image not found:");
  const std::string file = Utf16ToUtf8(name);
  return {std::move(message), Utf8ToUtf16(ExtractFileName(file)), u"Path:",
          Utf8ToUtf16(ExtractFileDir(file))};
}

TOwned<TKivImage> LoadSharedImage(TFileAccessor& accessor, std::u16string_view name,
                                  const TWantedSizeFunc& wanted) {
  TFileSource& source = accessor.Source();
  TImageHandle* handle = nullptr;
  TImageDecoder decoder;
  TErrorPictureMaker errorMaker;
  {
    TImageFunctions& f = Functions();
    std::lock_guard lock(f.lock);
    decoder = f.decoder;
    errorMaker = f.errorMaker;
  }
  TImageCache& cache = source.Images();
  {
    std::lock_guard lock(cache.lock_);
    if (std::vector<TImageHandle*>* list = cache.handles_.Find(name))
      for (TImageHandle* h : *list)
        if (h->SourceNumber() == source.Number()) handle = h;
    if (handle) {
      handle->_AddRef();
    } else {
      // Our reference.
      handle = new TImageHandle(std::u16string(name), source.Number(), TRef<TImageCache>::Share(&cache));
      cache.handles_.Add(name, handle);
      ++cache.live_;
    }
  }

  TOwned<TKivImage> image;
  {
    std::lock_guard lock(handle->loadLock_);
    image = handle->Load(accessor, name, decoder, errorMaker, wanted);
  }
  TImageCache::ReleaseHandle(handle);
  return image;
}

TOwned<TKivImage> LoadSharedImage(TFileAccessor& accessor, std::u16string_view name, TPictureSize wanted) {
  return LoadSharedImage(accessor, name, [wanted](TPictureSize) { return wanted; });
}

TOwned<TKivImage> LoadSharedImage(TFileAccessor& accessor, std::u16string_view name) {
  return LoadSharedImage(accessor, name, TWantedSizeFunc{});
}

} // namespace kiv

#pragma once
// Pictures with levels of detail. A bitmap store decodes lazily, level by level (level n is the picture
// halved n times), and keeps what it decoded; TImage is a light handle on a store. Loaders are plain
// functions in a registry keyed by file extension.

#include "Bitmap.h"
#include "ObjectBase.h"
#include "Streams.h"

#include <functional>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kiv {

// Progress of a decode, 0..1; answers false to stop it. Decoders call it between rows.
using TImageProgress = std::function<bool(double fraction)>;
// Asks the process-wide load callback (and ignores the fraction).
TImageProgress DefaultImageProgress();

// Copied into every TImage made from a store.
struct TImageAnimation {
  int frameCount = 1;         // frames side by side in an animated strip
  std::string animationTimes; // frame delays joined by "," (hundredths of a second, as stored)
};

class TBitmapStore : public TRefObj {
public:
  TBitmapStore(int width, int height, TBitmapFormat format)
      : width_(width), height_(height), format_(format) {}

  int Width() const noexcept { return width_; }
  int Height() const noexcept { return height_; }
  TBitmapFormat Format() const noexcept { return format_; }
  const TImageAnimation& Params() const noexcept { return params_; }
  // The highest level this store can make.
  virtual int MaxLevel() const noexcept { return 0; }

  // The bitmap of a level in a pixel format (None: as decoded). Levels above MaxLevel are clamped; the
  // level given back is in realLevel. nullptr only when the progress callback stopped the decode.
  // Shared: callers copy before changing pixels. Safe from any thread.
  TRef<TBitmap> GetMipLevel(int level, TBitmapFormat format, const TImageProgress& progress = {},
                            int* realLevel = nullptr);

protected:
  // Decodes one level (0..MaxLevel); sets realLevel to the level it made. nullptr: stopped or failed.
  virtual TRef<TBitmap> DecodeLevel(int level, TBitmapFormat format, const TImageProgress& progress,
                                    int& realLevel) = 0;
  // Whether a cached bitmap serves a request.
  virtual bool Pick(const TBitmap& bitmap, TBitmapFormat format) const {
    return format == TBitmapFormat::None || bitmap.Format() == format;
  }

  TImageAnimation params_; // set by the loader before the store is shared

private:
  struct TLevelCache {
    std::vector<TRef<TBitmap>> bitmaps; // as decoded, then conversions
  };
  int width_;
  int height_;
  TBitmapFormat format_;
  std::mutex lock_; // GetMipLevel, whole run: loader and drawing threads may ask at once
  std::vector<TLevelCache> levels_;
};

// A picture that is already decoded (BMP/DIB, GIF, PNG): only level 0.
class TWrapperBitmapStore : public TBitmapStore {
public:
  explicit TWrapperBitmapStore(TRef<TBitmap> bitmap, TImageAnimation params = {});

protected:
  TRef<TBitmap> DecodeLevel(int level, TBitmapFormat format, const TImageProgress& progress,
                            int& realLevel) override;

private:
  TRef<TBitmap> bitmap_;
};

class TImage : public TObj {
public:
  // A store is required (assertion otherwise); the handle holds its own reference.
  explicit TImage(TRef<TBitmapStore> store);

  TBitmapStore& Store() const noexcept { return *store_; }
  const TRef<TBitmapStore>& StoreRef() const noexcept { return store_; }
  int Width() const noexcept { return store_->Width(); }
  int Height() const noexcept { return store_->Height(); }
  const TImageAnimation& Params() const noexcept { return params_; }

  TRef<TBitmap> GetMipLevel(int level, TBitmapFormat format, const TImageProgress& progress = {},
                            int* realLevel = nullptr) const {
    return store_->GetMipLevel(level, format, progress, realLevel);
  }
  // MipLevelFor of this picture, clamped to the levels its store makes.
  int MipLevelFor(int targetWidth, int targetHeight) const;

  TOwned<TImage> Clone() const { return MakeOwned<TImage>(store_); }

  // Objects that ride along with the picture (made on first use, freed with the handle).
  std::vector<TOwned<TObj>>& Extras();

private:
  TRef<TBitmapStore> store_;
  TImageAnimation params_;
  std::unique_ptr<std::vector<TOwned<TObj>>> extras_;
};

// The level for showing a width × height picture at a target size: the last halving that still covers
// the target. Targets must be above 0 (assertion).
int MipLevelFor(int width, int height, int targetWidth, int targetHeight);

// Loaders: given the stream and the name; may take the stream from *owned when they succeed (owned is
// nullptr when the caller keeps it). A loader that declines leaves the stream where it found it.
using TImageLoader = TRef<TBitmapStore> (*)(TStream& stream, std::u16string_view name, TOwned<TStream>* owned,
                                            const TImageProgress& progress);

// "*.jpg", "jpg" and ".jpg" all give ".jpg".
std::string NormalizeExtension(std::string_view extension);

class TLoaderRegistry {
public:
  struct TEntry {
    TImageLoader loader;
    std::vector<std::string> extensions;
  };
  TLoaderRegistry() { entries_.reserve(8); }
  void RegisterLoader(TImageLoader loader, std::initializer_list<std::string_view> extensions);
  const std::vector<TEntry>& Entries() const noexcept { return entries_; }

private:
  std::vector<TEntry> entries_;
};

// Our own loaders in their order: packed image, BMP/DIB, JPEG, GIF.
void RegisterBuiltinLoaders(TLoaderRegistry& registry);
// The PNG library in the external-library slot, for ".png".
void RegisterPngLoader(TLoaderRegistry& registry);
// The process-wide registry: built-in loaders, then PNG. Filled on first use; read without a lock after.
const TLoaderRegistry& ImageLoaders();

// The first loader that accepts the stream wins; nothing when all decline. Never raises.
TOwned<TImage> LoadImage(TStream& stream, std::u16string_view name,
                         const TLoaderRegistry* registry = nullptr);
// As above, owning the stream: a store may keep it, otherwise it is freed.
TOwned<TImage> LoadImage(TOwned<TStream> stream, std::u16string_view name,
                         const TLoaderRegistry* registry = nullptr);
// A picture file on disk (UTF-8 path); nothing when it is missing or cannot be read.
TOwned<TImage> LoadImageFile(const std::string& path);

// Whether the animated GIF loader composes every frame into a strip (default true).
void SetGifAnimation(bool enabled) noexcept;
bool GifAnimation() noexcept;

} // namespace kiv

#pragma once
// The cache of decoded show pictures that each file source owns: each file of the source is decoded once
// per level (the picture halved as often as its wanted size allows), by the first thread that asks, and
// shared by every slide that shows it.

#include "CachedBitmap.h"
#include "NameHashList.h"
#include "ShowFileAccess.h"
#include "ObjectBase.h"

#include <cstddef>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace kiv {

// A picture's size in pixels.
struct TPictureSize {
  int width = 0;
  int height = 0;
  bool operator==(const TPictureSize&) const = default;
};

// How many times a full-size picture is halved to show it at a wanted size: the last halving (each side
// (s + 1) div 2) that is still larger than the wanted size in both directions; 0 when the picture is not
// larger, or when a wanted side is not above 0.
int PictureLevelFor(TPictureSize full, TPictureSize wanted);
// Each side of a picture halved `level` times.
TPictureSize PictureLevelSize(TPictureSize full, int level);
// A picture halved once: every pixel the alpha-weighted mean of the 2 x 2 (fewer at odd edges) it covers.
TRef<TCachedBitmap> HalveCachedBitmap(const TCachedBitmap& bitmap);

// Given the full picture's size as shown (after turning), the size it is wanted at; a side of 0: full size.
using TWantedSizeFunc = std::function<TPictureSize(TPictureSize full)>;

// What a decoder is asked for: the file's name, how it is stored, and the size wanted when it is known
// beforehand (0: as stored; for quarter turns already exchanged).
struct TImageDecodeRequest {
  std::u16string_view name;
  int orientation = kOrientNormal;
  int width = 0;
  int height = 0;
  // To be asked once the stored size is known: the level to decode (times halved). Empty: level 0.
  std::function<int(int storedWidth, int storedHeight)> chooseLevel;
};
// What a decoder gives: the stored picture halved `level` times (at most the level asked for), not yet
// turned, and the stored full size. A plain bitmap is a full-size decode.
struct TDecodedImage {
  TDecodedImage() = default;
  // Implicit: a decoder that only decodes full size answers its bitmap.
  TDecodedImage(TRef<TCachedBitmap> decoded) : bitmap(std::move(decoded)) {}
  TRef<TCachedBitmap> bitmap;
  int level = 0;
  int storedWidth = 0; // 0: the bitmap's own size (level 0)
  int storedHeight = 0;
  // An animated picture comes as a strip of frameCount frames side by side; its frame delays joined by
  // "," (hundredths of a second, as stored).
  int frameCount = 1;
  std::string frameDelays;
};

// The animation a picture file carries itself (an animated GIF's strip).
struct TPictureAnimation {
  int frameCount = 1;
  std::string frameDelays;
};
// Decodes one stream; no bitmap when it cannot. The result is turned afterwards as orientation says.
using TImageDecoder = std::function<TDecodedImage(TStream& stream, const TImageDecodeRequest& request)>;

// Makes the picture shown instead of a picture that could not be had, from its lines (ErrorPictureLines);
// none when it cannot.
using TErrorPictureMaker = std::function<TRef<TCachedBitmap>(const std::vector<std::u16string>& lines)>;

class TKivImage;
class TImageHandle;

// The pictures of one file source (TFileSource::Images), found by file name. Every handle holds a
// reference to its cache, so a picture still shown after its show was closed keeps what it needs.
class TImageCache : public TRefObj {
public:
  // Handles alive in this cache.
  std::size_t LiveHandles() const;

private:
  friend class TImageHandle;
  friend class TKivImage;
  friend TOwned<TKivImage> LoadSharedImage(TFileAccessor& accessor, std::u16string_view name,
                                           const TWantedSizeFunc& wanted);
  // Every reference to a handle is given up here, under the cache lock, so that its destructor can take it
  // out of the list without a second thread finding it half gone.
  static void ReleaseHandle(TImageHandle* handle);

  mutable std::mutex lock_; // finds, creates and releases handles; never held while a handle loads
  THashList<TImageHandle*> handles_{kImageCacheBuckets}; // under lock_; each handle takes itself out
  std::size_t live_ = 0;                                 // under lock_
};

// One cached file of one source, with the levels of it that images use. Lives while images use it; the
// last one removes it from the cache.
class TImageHandle : public TRefObj {
public:
  TImageHandle(std::u16string name, int sourceNumber, TRef<TImageCache> cache)
      : name_(std::move(name)), sourceNumber_(sourceNumber), cache_(std::move(cache)) {}
  ~TImageHandle() override;

  int SourceNumber() const noexcept { return sourceNumber_; }
  // The full picture's size as shown; {0, 0} until something has loaded.
  TPictureSize FullSize() const;
  // Levels whose picture is held now.
  int CachedLevels() const;
  // The text of the error picture when no picture could be had ("Image not found:" ...).
  const std::vector<std::u16string>& ErrorLines() const noexcept { return errorLines_; }

private:
  friend class TKivImage;
  friend class TImageCache;
  friend TOwned<TKivImage> LoadSharedImage(TFileAccessor& accessor, std::u16string_view name,
                                           const TWantedSizeFunc& wanted);
  struct TLevel {
    TRef<TCachedBitmap> bitmap; // held while views use it
    int views = 0;
  };
  TOwned<TKivImage> Load(TFileAccessor& accessor, std::u16string_view name, const TImageDecoder& decoder,
                         const TErrorPictureMaker& errorMaker, const TWantedSizeFunc& wanted);
  // The error picture as this handle's one picture for every size; none when no maker is installed or
  // when a level of the real picture is held (those keep serving). Called under loadLock_.
  TOwned<TKivImage> ErrorView(const TErrorPictureMaker& errorMaker);
  // A view of a level, the bitmap stored there when the level holds none.
  TOwned<TKivImage> View(int level, TRef<TCachedBitmap> bitmap);

  std::mutex loadLock_;           // held while loading, so that a level is decoded once
  mutable std::mutex levelsLock_; // levels_, full_ and fixed_; held briefly (views come and go under it)
  std::u16string name_;
  int sourceNumber_;
  const TRef<TImageCache> cache_; // the cache that lists this handle; kept until the handle goes
  std::vector<TLevel> levels_; // by level
  TPictureSize full_;          // written under both locks
  bool fixed_ = false;         // a provided picture: one picture for every size; written under both locks
  bool error_ = false;         // the fixed picture is the error picture; written under both locks
  TPictureAnimation animation_; // written under both locks with full_
  bool failed_ = false;        // under loadLock_: no picture could be had
  std::vector<std::u16string> errorLines_;
};

// A view of one level of a cached picture.
class TKivImage : public TObj {
public:
  TKivImage(TImageHandle& handle, int level, TRef<TCachedBitmap> bitmap); // takes its own references
  ~TKivImage() override;

  TCachedBitmap& Bitmap() const noexcept { return *bitmap_; }
  TImageHandle& Handle() const noexcept { return *handle_; }
  // Bitmap() is the full picture halved this many times.
  int Level() const noexcept { return level_; }
  // The full picture's size as shown, whatever the level.
  TPictureSize FullSize() const noexcept { return full_; }
  // Another view on the same level.
  TOwned<TKivImage> Clone() const { return MakeOwned<TKivImage>(*handle_, level_, bitmap_); }
  // The picture stands for a file that could not be opened or decoded.
  bool IsErrorPicture() const noexcept { return error_; }
  // The strip of frames the file itself describes; one frame for a still picture.
  const TPictureAnimation& Animation() const noexcept { return animation_; }

private:
  TImageHandle* handle_; // counted; released under its cache's lock
  int level_;
  TRef<TCachedBitmap> bitmap_;
  TPictureSize full_;
  bool error_ = false;
  TPictureAnimation animation_;
};

// Process-wide, as stateless functions set once at start-up by the imaging layer (no show state in them).
// The decoder; none until the imaging subsystem installs one.
void SetImageDecoder(TImageDecoder decoder);
// The error picture maker; without one a picture that cannot be had comes as none.
void SetErrorPictureMaker(TErrorPictureMaker maker);

enum class TMediaKind { Image, Video };
// message, file name, "Path:", folder: the lines of the picture shown instead of a missing one.
std::vector<std::u16string> ErrorPictureLines(TMediaKind kind, bool opened, std::u16string_view name);

// The shared picture of a show file, from the cache of the accessor's source: asks the source's image providers, else opens and decodes the file.
// When neither gives a picture: the error picture (IsErrorPicture), made once and kept by the handle like
// any picture, so later lookups neither reopen the file nor draw the text again; nullptr without an error
// picture maker (the handle keeps the error text until it goes). Decoded files come
// at the level PictureLevelFor gives for the wanted size (asked once the full size is known), each level
// decoded once per file and source and shared; provided pictures come as they are.
TOwned<TKivImage> LoadSharedImage(TFileAccessor& accessor, std::u16string_view name,
                                  const TWantedSizeFunc& wanted);
// At a size known beforehand (a side of 0: full size).
TOwned<TKivImage> LoadSharedImage(TFileAccessor& accessor, std::u16string_view name, TPictureSize wanted);
// At full size.
TOwned<TKivImage> LoadSharedImage(TFileAccessor& accessor, std::u16string_view name);

} // namespace kiv

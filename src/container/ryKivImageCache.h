#pragma once
// The process-wide cache of decoded show pictures: each file of each source is decoded once, by the first
// thread that asks, and shared by every slide that shows it.

#include "ryCachedBitmap.h"
#include "ryKivFileAccessor2.h"
#include "ryObjects.h"

#include <cstddef>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace kiv {

// One cached file of one source. Lives while images use it; the last one removes it from the cache.
class TImageHandle : public TRefObj {
public:
  TImageHandle(std::u16string name, int sourceNumber) : name_(std::move(name)), sourceNumber_(sourceNumber) {}
  ~TImageHandle() override;

  int SourceNumber() const noexcept { return sourceNumber_; }
  // Set once under the handle's lock while loading; read-only afterwards.
  TCachedBitmap* Bitmap() const noexcept { return bitmap_.get(); }
  // The text of the error picture when no picture could be had ("Image not found:" ...).
  const std::vector<std::u16string>& ErrorLines() const noexcept { return errorLines_; }

private:
  friend TOwned<class TKivImage> LoadSharedImage(TFileAccessor& accessor, std::u16string_view name);
  std::mutex lock_; // held while loading, so that a picture is decoded once
  std::u16string name_;
  int sourceNumber_;
  TRef<TCachedBitmap> bitmap_;
  bool loaded_ = false;
  std::vector<std::u16string> errorLines_;
};

// A view of a cached picture.
class TKivImage : public TObj {
public:
  explicit TKivImage(TImageHandle& handle); // takes its own reference
  ~TKivImage() override;

  TCachedBitmap& Bitmap() const noexcept { return *handle_->Bitmap(); }
  TImageHandle& Handle() const noexcept { return *handle_; }
  // Another view on the same handle.
  TOwned<TKivImage> Clone() const { return MakeOwned<TKivImage>(*handle_); }

private:
  TImageHandle* handle_; // counted; released under the cache lock
};

// What a decoder is asked for: the file's name, how it is stored, and the size wanted (0: as stored).
// For quarter turns the size is already exchanged.
struct TImageDecodeRequest {
  std::u16string_view name;
  int orientation = kOrientNormal;
  int width = 0;
  int height = 0;
};
// Decodes one stream; nullptr when it cannot. The result is turned afterwards as orientation says.
using TImageDecoder = std::function<TRef<TCachedBitmap>(TStream& stream, const TImageDecodeRequest& request)>;
// The process-wide decoder; none until the imaging subsystem installs one.
void SetImageDecoder(TImageDecoder decoder);

enum class TMediaKind { Image, Video };
// message, file name, "Path:", folder: the lines of the picture shown instead of a missing one.
std::vector<std::u16string> ErrorPictureLines(TMediaKind kind, bool opened, std::u16string_view name);

// The shared picture of a show file: asks the source's image providers, else opens and decodes the file.
// nullptr when neither gives a picture (the handle keeps the error text until it goes).
TOwned<TKivImage> LoadSharedImage(TFileAccessor& accessor, std::u16string_view name);

// Handles alive in the cache.
std::size_t LiveImageHandles();

} // namespace kiv

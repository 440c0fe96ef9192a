#pragma once
// GIF: one picture, or for an animated GIF ("NETSCAPE2.0" block) every frame composed with its
// disposal into one horizontal strip of frame count × width.

#include "ImageLevels.h"

#include <span>

namespace kiv {

// Limits on what a file can make us hold.
inline constexpr int kMaxGifFrames = 4096;

struct TGifPicture {
  int width = 0; // logical screen
  int height = 0;
  bool animated = false;
  std::vector<TRef<TBitmap>> frames; // composed canvases, 32-bit
  std::vector<int> delays;           // per frame, hundredths of a second as stored
};

// Decodes all frames of an animated GIF, or only its first when allFrames is false. A GIF without the
// animation block is one picture: all its images drawn over each other. False when the
// file is not a GIF or its first image cannot be decoded; a later broken frame ends the animation there.
// progress runs after every decoded row; when it answers false the load stops and gives no picture.
bool ReadGif(std::span<const uint8_t> file, bool allFrames, TGifPicture& out,
             const TImageProgress& progress = {});

// The strip of all frames side by side; nullptr when it would pass the picture limits.
TRef<TBitmap> GifStrip(const TGifPicture& picture);

TRef<TBitmapStore> LoadGifImage(TStream& stream, std::u16string_view name, TOwned<TStream>* owned,
                                const TImageProgress& progress);

} // namespace kiv

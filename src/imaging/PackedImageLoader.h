#pragma once
// The packed image format "RYGF": a small header of text fields and a zlib-wrapped BMP file, so that a
// player needs no image library for the PNG, GIF and BMP pictures of a show.

#include "ImageLevels.h"

#include <map>
#include <string>

namespace kiv {

// Picture shown when a packed image's payload cannot be read: opaque light grey.
inline constexpr uint32_t kGfxFailedFill = 0xFFC0C0C0;

class TGfxBitmapStore : public TBitmapStore {
public:
  TGfxBitmapStore(int width, int height, std::map<std::string, std::string> fields,
                  std::vector<uint8_t> packed);

  const std::map<std::string, std::string>& Fields() const noexcept { return fields_; }

protected:
  TRef<TBitmap> DecodeLevel(int level, TBitmapFormat format, const TImageProgress& progress,
                            int& realLevel) override;

private:
  std::map<std::string, std::string> fields_;
  std::vector<uint8_t> packed_; // the zlib stream; released once level 0 exists
};

// Inflates a zlib stream, stopping with false past maxBytes of output or when progress refuses.
bool InflateZlib(std::span<const uint8_t> packed, std::vector<uint8_t>& out, size_t maxBytes,
                 const TImageProgress& progress = {});

TRef<TBitmapStore> LoadGfxImage(TStream& stream, std::u16string_view name, TOwned<TStream>* owned,
                                const TImageProgress& progress);

} // namespace kiv

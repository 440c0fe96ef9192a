#pragma once
// JPEG through libjpeg(-turbo): levels 0 to 3 come straight from the decoder's DCT scaling (1/1, 1/2,
// 1/4, 1/8), so a picture shown small is never decoded at full size.

#include "ImageLevels.h"

namespace kiv {

class TJpegBitmapStore : public TBitmapStore {
public:
  TJpegBitmapStore(int width, int height, std::vector<uint8_t> file);
  int MaxLevel() const noexcept override { return 3; }

protected:
  TRef<TBitmap> DecodeLevel(int level, TBitmapFormat format, const TImageProgress& progress,
                            int& realLevel) override;

private:
  std::vector<uint8_t> file_; // read-only after construction; every level decodes from it
};

// The size of a JPEG held in memory; false when libjpeg cannot read its header.
bool ReadJpegSize(std::span<const uint8_t> file, int& width, int& height);
// One level (0..3) of a JPEG in memory as 24-bit pixels. A decode that fails part-way keeps the rows it
// made; nullptr when nothing could be decoded or progress stopped it.
TRef<TBitmap> DecodeJpeg(std::span<const uint8_t> file, int level, const TImageProgress& progress = {});

TRef<TBitmapStore> LoadJpegImage(TStream& stream, std::u16string_view name, TOwned<TStream>* owned,
                                 const TImageProgress& progress);

} // namespace kiv

#include "DecoderFrameSource.h"

#include "Log.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <utility>

namespace kiv {

std::string CodecName(int codecNumber) {
  switch (codecNumber) {
  case KIV_CODEC_MPEG2:
    return "MPEG2";
  case KIV_CODEC_MPEG4:
    return "MPEG4";
  case KIV_CODEC_H264:
    return "H264";
  case KIV_CODEC_XVID:
    return "XVID";
  default:
    return "OTHER";
  }
}

const std::array<uint16_t, 256>& GreyTable() {
  static const std::array<uint16_t, 256> table = [] {
    std::array<uint16_t, 256> t{};
    for (int i = 0; i < 256; ++i) {
      const int e = static_cast<int>(std::nearbyint(i * 0.8588235294117647 + 16));
      t[static_cast<size_t>(i)] = static_cast<uint16_t>((e * 64 / 256) * 32 + (e * 32 / 256) * 2049);
    }
    return t;
  }();
  return table;
}

namespace {

bool IsPackedRgba(int format) {
  return format == KIV_PIX_BGRA || format == KIV_PIX_RGBA;
}

// Copies rows of rowBytes from a source plane of `rows` rows; both clipped to the target plane.
void CopyRows(TYUVImage& image, int index, const uint8_t* source, int pitch, int rowBytes, int rows,
              bool swapRedBlue = false) {
  const TYUVPlane plane = image.GetPlane(index);
  if (!plane.data) return;
  // A stride narrower than a row would read the next row's bytes (or before the plane when negative).
  const int bytes = std::min({rowBytes, plane.width, std::abs(pitch)});
  for (int y = 0; y < std::min(rows, plane.height); ++y) {
    uint8_t* row = plane.Row(y);
    std::memcpy(row, source + static_cast<int64_t>(y) * pitch, static_cast<size_t>(std::max(bytes, 0)));
    if (swapRedBlue)
      for (int x = 0; x + 3 < bytes; x += 4)
        std::swap(row[x], row[x + 2]);
  }
  image.PutPlane(index, plane);
}

} // namespace

bool CopyPictureToImage(const TKivFrameBuffer& picture, TYUVImage& image) {
  const unsigned request = image.Request();
  const int format = picture.pixelFormat;
  const int width = std::max(picture.width, 0);
  const int height = std::max(picture.height, 0);
  if (request & kYUVRGBA) {
    if (!IsPackedRgba(format) || !picture.data[0]) {
      LogLine("RGBA data not found");
      return false;
    }
    // The plane holds 0xAARRGGBB words (bytes B, G, R, A); a decoder giving R, G, B, A bytes would
    // otherwise come out with red and blue exchanged.
    CopyRows(image, kPlaneRGBA, picture.data[0], picture.linesize[0], width * 4, height,
             format == KIV_PIX_RGBA);
    return true;
  }
  if (!picture.data[0]) {
    LogLine(request & (kYUVLumaOnly | kYUVGrey16) ? "Y data not found" : "YUV data not found");
    return false;
  }
  if (format != KIV_PIX_YUV420P) {
    LogLine("YUV data not found");
    return false;
  }
  if (request & kYUVLumaOnly) {
    CopyRows(image, kPlaneY, picture.data[0], picture.linesize[0], width, height);
  } else if (request & kYUVGrey16) {
    const TYUVPlane plane = image.GetPlane(kPlaneGrey);
    if (plane.data) {
      const auto& table = GreyTable();
      const int columns = std::min({width, plane.width / 2, std::abs(picture.linesize[0])});
      for (int y = 0; y < std::min(height, plane.height); ++y) {
        const uint8_t* source = picture.data[0] + static_cast<int64_t>(y) * picture.linesize[0];
        auto* target = reinterpret_cast<uint16_t*>(plane.Row(y));
        for (int x = 0; x < columns; ++x)
          target[x] = table[source[x]];
      }
      image.PutPlane(kPlaneGrey, plane);
    }
  } else {
    if (!picture.data[1] || !picture.data[2]) {
      LogLine("YUV data not found");
      return false;
    }
    CopyRows(image, kPlaneY, picture.data[0], picture.linesize[0], width, height);
    CopyRows(image, kPlaneU, picture.data[1], picture.linesize[1], (width + 1) / 2, (height + 1) / 2);
    CopyRows(image, kPlaneV, picture.data[2], picture.linesize[2], (width + 1) / 2, (height + 1) / 2);
  }
  return true;
}

TWinVideoSource::TWinVideoSource(TStreamPtr stream, const std::string& fileName)
    : TWinVideoSource(std::move(stream), nullptr, fileName) {}

TWinVideoSource::TWinVideoSource(TStream& stream, const std::string& fileName)
    : TWinVideoSource(TStreamPtr(), &stream, fileName) {}

TWinVideoSource::TWinVideoSource(TStream* stream, bool ownsStream, const std::string& fileName)
    : TWinVideoSource(TStreamPtr(ownsStream ? stream : nullptr), ownsStream ? nullptr : stream, fileName) {}

TWinVideoSource::TWinVideoSource(TStreamPtr owned, TStream* borrowed, const std::string& fileName)
    : owned_(std::move(owned)), stream_(owned_ ? owned_.get() : borrowed), fileName_(fileName) {
  try {
    Open();
  } catch (const std::exception& e) {
    // A stream that fails under the library (a seek refused, a read error) means no video, as a file the
    // library cannot read does.
    LogLine("TWinVideoSource: cannot open " + fileName_ + ": " + e.what());
    Close();
  }
}

void TWinVideoSource::Open() {
  if (!stream_) return;
  dll_ = TFFMpegDll::TryAcquire();
  if (!dll_) return;
  media_ = dll_->OpenMedia(fileName_, *stream_);
  if (!media_) return;
  if (media_->videoStream < 0) return; // audio only: no pictures, but the handle stays for the caller
  width = media_->width;
  height = media_->height;
  frameRate = media_->frameRateNum > 0 && media_->frameRateDen > 0
                  ? double(media_->frameRateNum) / media_->frameRateDen
                  : 0;
  frameCount = media_->frameCount;
  aspectKind = dll_->AspectKind(media_);
  bool topFirst = false;
  dll_->IsInterlaced(media_, interlaced, topFirst);
  bottomFieldFirst = interlaced && !topFirst;
  codecName = CodecName(media_->videoCodec);
  const TVideoLibraryApi& api = dll_->Api();
  const int native = media_->nativePixelFormat;
  native_ = api.AllocBuffer(media_, native);
  directFormat = IsPackedRgba(native);
  if (native != KIV_PIX_YUV420P && !directFormat) yuv_ = api.AllocBufferWithData(media_, KIV_PIX_YUV420P);
}

void TWinVideoSource::Close() noexcept {
  if (!dll_) return;
  const TVideoLibraryApi& api = dll_->Api();
  api.FreeBuffer(std::exchange(yuv_, nullptr));
  api.FreeBuffer(std::exchange(native_, nullptr));
  api.FreeBuffer(std::exchange(rgb_, nullptr));
  try {
    dll_->CloseMedia(std::exchange(media_, nullptr));
  } catch (const std::exception&) {
    // Only taking the media lock can fail here; the handle is lost either way.
  }
}

TWinVideoSource::~TWinVideoSource() {
  Close();
}

bool TWinVideoSource::Decode(int64_t n) {
  if (!media_ || !native_) return false;
  if (n == lastFrame_) return true;
  const int64_t reached = dll_->GetFrame(media_, n, native_);
  if (reached < 0) {
    LogLine("GetFrame " + std::to_string(n) + " of file " + fileName_ + " Error= " + std::to_string(reached));
    lastFrame_ = -1;
    return false;
  }
  // The decoder may change its format inside a clip as it may change its size: whatever is not copied
  // directly goes through the converted picture.
  const int format = native_->pixelFormat;
  converted_ = format != KIV_PIX_YUV420P && !IsPackedRgba(format);
  if (converted_) {
    const TVideoLibraryApi& api = dll_->Api();
    if (!yuv_) yuv_ = api.AllocBufferWithData(media_, KIV_PIX_YUV420P);
    if (!yuv_ || api.ConvertFrame(media_, native_, yuv_, format, KIV_PIX_YUV420P) < 0) {
      lastFrame_ = -1;
      return false;
    }
  }
  lastFrame_ = n;
  lastReached_ = reached;
  return true;
}

bool TWinVideoSource::GetFrame(int64_t n, TYUVImage& image) {
  if (!Decode(n) || !CopyPictureToImage(*Picture(), image)) return false;
  image.Done();
  return true;
}

bool TWinVideoSource::GetFrame24(int64_t n, TRGBImage& image) {
  if (!media_ || !native_) return false;
  const TVideoLibraryApi& api = dll_->Api();
  if (!rgb_) rgb_ = api.AllocBufferWithData(media_, KIV_PIX_RGB24);
  if (!rgb_) return false;
  if (n != lastRgbFrame_) {
    if (!Decode(n)) {
      LogLine("GetFrame24 Error");
      return false;
    }
    TKivFrameBuffer* source = Picture();
    if (api.ConvertFrame(media_, source, rgb_, source->pixelFormat, KIV_PIX_RGB24) < 0) {
      LogLine("GetFrame24 Error");
      return false;
    }
    lastRgbFrame_ = n;
  }
  if (!rgb_->data[0]) {
    LogLine("RGB data not found");
    return false;
  }
  // rgb_ has the header's size whatever the picture's: the conversion fits the picture into it.
  const int rows = std::min(height, rgb_->height);
  const int columns = std::min({width, rgb_->width, rgb_->linesize[0] / 3});
  image.width = columns;
  image.height = rows;
  image.pixels.assign(static_cast<size_t>(columns) * rows * 4, 0);
  for (int y = 0; y < rows; ++y) {
    const uint8_t* source = rgb_->data[0] + static_cast<int64_t>(y) * rgb_->linesize[0];
    uint8_t* target = image.pixels.data() + static_cast<size_t>(y) * columns * 4;
    for (int x = 0; x < columns; ++x) {
      target[4 * x] = source[3 * x];
      target[4 * x + 1] = source[3 * x + 1];
      target[4 * x + 2] = source[3 * x + 2];
      target[4 * x + 3] = 255;
    }
  }
  return true;
}

namespace {

std::unique_ptr<TWinVideoSource> Opened(std::unique_ptr<TWinVideoSource> source) {
  if (!source->IsOpen() || source->Media()->videoStream < 0) return nullptr;
  return source;
}

} // namespace

std::unique_ptr<TWinVideoSource> MakeWinVideoSource(TStreamPtr stream, const std::string& fileName) {
  return Opened(std::make_unique<TWinVideoSource>(std::move(stream), fileName));
}

std::unique_ptr<TWinVideoSource> MakeWinVideoSource(TStream& stream, const std::string& fileName) {
  return Opened(std::make_unique<TWinVideoSource>(stream, fileName));
}

std::unique_ptr<TWinVideoSource> MakeWinVideoSource(TStream* stream, bool ownsStream,
                                                    const std::string& fileName) {
  return Opened(std::make_unique<TWinVideoSource>(stream, ownsStream, fileName));
}

} // namespace kiv

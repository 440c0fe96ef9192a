#include "DecoderFrameSource.h"

#include "Log.h"

#include <cmath>
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

TWinVideoSource::TWinVideoSource(TStream* stream, bool ownsStream, const std::string& fileName)
    : stream_(stream), ownsStream_(ownsStream), fileName_(fileName) {
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
  if (native == KIV_PIX_BGRA || native == KIV_PIX_RGBA) directFormat = true;
  if (native != KIV_PIX_YUV420P && !directFormat) yuv_ = api.AllocBufferWithData(media_, KIV_PIX_YUV420P);
}

TWinVideoSource::~TWinVideoSource() {
  if (dll_) {
    const TVideoLibraryApi& api = dll_->Api();
    api.FreeBuffer(yuv_);
    api.FreeBuffer(native_);
    api.FreeBuffer(rgb_);
    dll_->CloseMedia(media_);
  }
  if (ownsStream_ && stream_) TObj::Free(stream_);
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
  if (yuv_ &&
      dll_->Api().ConvertFrame(media_, native_, yuv_, media_->nativePixelFormat, KIV_PIX_YUV420P) < 0) {
    lastFrame_ = -1;
    return false;
  }
  lastFrame_ = n;
  lastReached_ = reached;
  return true;
}

bool TWinVideoSource::GetFrame(int64_t n, TYUVImage& image) {
  if (!Decode(n)) return false;
  TKivFrameBuffer* picture = Picture();
  const unsigned request = image.Request();
  const int rows = std::min(height, image.Height());
  const int columns = std::min(width, image.Width());
  auto copyRows = [&](int index, const uint8_t* source, int pitch, int rowBytes, int rowCount,
                      bool swapRedBlue = false) {
    const TYUVPlane plane = image.GetPlane(index);
    if (!plane.data) return;
    const int bytes = std::min(rowBytes, plane.width);
    for (int y = 0; y < std::min(rowCount, plane.height); ++y) {
      uint8_t* row = plane.Row(y);
      std::memcpy(row, source + static_cast<int64_t>(y) * pitch, static_cast<size_t>(bytes));
      if (swapRedBlue)
        for (int x = 0; x + 3 < bytes; x += 4)
          std::swap(row[x], row[x + 2]);
    }
    image.PutPlane(index, plane);
  };
  if (request & kYUVRGBA) {
    if (!directFormat || !picture->data[0]) {
      LogLine("RGBA data not found");
      return false;
    }
    // The plane holds 0xAARRGGBB words (bytes B, G, R, A); a decoder giving R, G, B, A bytes would
    // otherwise come out with red and blue exchanged.
    copyRows(kPlaneRGBA, picture->data[0], picture->linesize[0], columns * 4, rows,
             media_->nativePixelFormat == KIV_PIX_RGBA);
  } else if (!picture->data[0]) {
    LogLine(request & (kYUVLumaOnly | kYUVGrey16) ? "Y data not found" : "YUV data not found");
    return false;
  } else if (directFormat) {
    LogLine("YUV data not found");
    return false;
  } else if (request & kYUVLumaOnly) {
    copyRows(kPlaneY, picture->data[0], picture->linesize[0], columns, rows);
  } else if (request & kYUVGrey16) {
    const TYUVPlane plane = image.GetPlane(kPlaneGrey);
    if (plane.data) {
      const auto& table = GreyTable();
      for (int y = 0; y < std::min(rows, plane.height); ++y) {
        const uint8_t* source = picture->data[0] + static_cast<int64_t>(y) * picture->linesize[0];
        auto* target = reinterpret_cast<uint16_t*>(plane.Row(y));
        for (int x = 0; x < std::min(columns, plane.width / 2); ++x)
          target[x] = table[source[x]];
      }
      image.PutPlane(kPlaneGrey, plane);
    }
  } else {
    if (!picture->data[1] || !picture->data[2]) {
      LogLine("YUV data not found");
      return false;
    }
    copyRows(kPlaneY, picture->data[0], picture->linesize[0], columns, rows);
    copyRows(kPlaneU, picture->data[1], picture->linesize[1], (columns + 1) / 2, (rows + 1) / 2);
    copyRows(kPlaneV, picture->data[2], picture->linesize[2], (columns + 1) / 2, (rows + 1) / 2);
  }
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
    TKivFrameBuffer* source = yuv_ ? yuv_ : native_;
    const int sourceFormat = yuv_ ? KIV_PIX_YUV420P : media_->nativePixelFormat;
    if (api.ConvertFrame(media_, source, rgb_, sourceFormat, KIV_PIX_RGB24) < 0) {
      LogLine("GetFrame24 Error");
      return false;
    }
    lastRgbFrame_ = n;
  }
  if (!rgb_->data[0]) {
    LogLine("RGB data not found");
    return false;
  }
  image.width = width;
  image.height = height;
  image.pixels.resize(static_cast<size_t>(width) * height * 4);
  for (int y = 0; y < height; ++y) {
    const uint8_t* source = rgb_->data[0] + static_cast<int64_t>(y) * rgb_->linesize[0];
    uint8_t* target = image.pixels.data() + static_cast<size_t>(y) * width * 4;
    for (int x = 0; x < width; ++x) {
      target[4 * x] = source[3 * x];
      target[4 * x + 1] = source[3 * x + 1];
      target[4 * x + 2] = source[3 * x + 2];
      target[4 * x + 3] = 255;
    }
  }
  return true;
}

std::unique_ptr<TWinVideoSource> MakeWinVideoSource(TStream* stream, bool ownsStream,
                                                 const std::string& fileName) {
  auto source = std::make_unique<TWinVideoSource>(stream, ownsStream, fileName);
  if (!source->IsOpen() || source->Media()->videoStream < 0) return nullptr;
  return source;
}

} // namespace kiv

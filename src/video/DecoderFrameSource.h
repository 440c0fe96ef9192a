#pragma once
// Frame sources: frame n of a clip as Y, U and V planes (or RGB) in an image the renderer supplies.

#include "DecoderLibrary.h"
#include "ObjectBase.h"
#include "Streams.h"
#include "YuvFrame.h"

#include <array>
#include <cstdint>
#include <memory>
#include <string>

namespace kiv {

// A picture of 32-bit pixels, bytes R G B A, rows packed.
struct TRGBImage {
  int width = 0;
  int height = 0;
  std::vector<uint8_t> pixels;
};

class TFrameSource : public TObj {
public:
  virtual bool GetFrame(int64_t n, TYUVImage& image) = 0;
  virtual bool GetFrame24(int64_t n, TRGBImage& image) = 0;

  int width = 0;
  int height = 0;
  TAspectKind aspectKind = TAspectKind::Other;
  bool interlaced = false;
  bool bottomFieldFirst = false;
  double frameRate = 0; // 0 = unknown
  bool directFormat = false;
  int64_t frameCount = 0; // 0 = unknown
  std::string codecName;  // "MPEG2", "MPEG4", "H264", "XVID" or "OTHER"
};

std::string CodecName(int codecNumber);
// Entry i: RGB565 grey for luma i (studio range spread over the 5- and 6-bit channels).
const std::array<uint16_t, 256>& GreyTable();

class TWinVideoSource : public TFrameSource {
public:
  // Opens the media on the stream; IsOpen tells whether it worked. ownsStream: the stream is freed with
  // the source. Never raises.
  TWinVideoSource(TStream* stream, bool ownsStream, const std::string& fileName);
  ~TWinVideoSource() override;

  bool IsOpen() const noexcept { return media_ != nullptr; }
  TKivMedia* Media() const noexcept { return media_; }
  TFFMpegDll* Binding() const noexcept { return dll_.get(); }
  int64_t LastFrame() const noexcept { return lastFrame_; }
  // Number of the picture the last decode reached (may be above the one asked for in a gap).
  int64_t LastReached() const noexcept { return lastReached_; }

  bool GetFrame(int64_t n, TYUVImage& image) override;
  bool GetFrame24(int64_t n, TRGBImage& image) override;

private:
  bool Decode(int64_t n);
  TKivFrameBuffer* Picture() const { return yuv_ ? yuv_ : native_; }

  TStream* stream_;
  bool ownsStream_;
  std::string fileName_;
  std::shared_ptr<TFFMpegDll> dll_;
  TKivMedia* media_ = nullptr;
  TKivFrameBuffer* yuv_ = nullptr;    // converted picture, when the native format is not used directly
  TKivFrameBuffer* native_ = nullptr; // decoder's picture by reference
  TKivFrameBuffer* rgb_ = nullptr;
  int64_t lastFrame_ = -1;
  int64_t lastReached_ = -1;
  int64_t lastRgbFrame_ = -1;
};

// A frame source for the stream, or nullptr when the library is missing or cannot open it.
std::unique_ptr<TWinVideoSource> MakeWinVideoSource(TStream* stream, bool ownsStream,
                                                 const std::string& fileName);

} // namespace kiv

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

// Copies a decoded picture into the planes the image asks for. The picture's own size, strides and format
// (KIV_PIX_YUV420P, or BGRA/RGBA for the RGBA plane) decide what is read: after a change of resolution
// inside a clip it is not the size the clip's header gives. Each plane is clipped to the image's; what
// the picture does not cover keeps what the image held. false (and a log line) when the picture lacks
// what the image asks for. Done() is the caller's.
bool CopyPictureToImage(const TKivFrameBuffer& picture, TYUVImage& image);

class TWinVideoSource : public TFrameSource {
public:
  // Opens the media on the stream; IsOpen tells whether it worked. Never raises. The first form owns the
  // stream, the second borrows one that outlives the source, the third owns it when ownsStream.
  TWinVideoSource(TStreamPtr stream, const std::string& fileName);
  TWinVideoSource(TStream& stream, const std::string& fileName);
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
  // Reads the owned stream when there is one, else the borrowed one.
  TWinVideoSource(TStreamPtr owned, TStream* borrowed, const std::string& fileName);
  void Open();
  void Close() noexcept;
  bool Decode(int64_t n);
  // The picture of the last decode: the decoder's own, or converted when its format is none we copy.
  TKivFrameBuffer* Picture() const { return converted_ ? yuv_ : native_; }

  TStreamPtr owned_; // freed after the media is closed (the destructor's body closes it)
  TStream* stream_;
  std::string fileName_;
  std::shared_ptr<TFFMpegDll> dll_;
  TKivMedia* media_ = nullptr;
  TKivFrameBuffer* yuv_ = nullptr;    // converted picture, when the decoder's format is not copied directly
  TKivFrameBuffer* native_ = nullptr; // decoder's picture by reference
  TKivFrameBuffer* rgb_ = nullptr;
  bool converted_ = false; // the last decode went through yuv_
  int64_t lastFrame_ = -1;
  int64_t lastReached_ = -1;
  int64_t lastRgbFrame_ = -1;
};

// A frame source for the stream, or nullptr when the library is missing or cannot open it. The forms own
// the stream as TWinVideoSource's do (a stream owned is freed at once when no source is made).
std::unique_ptr<TWinVideoSource> MakeWinVideoSource(TStreamPtr stream, const std::string& fileName);
std::unique_ptr<TWinVideoSource> MakeWinVideoSource(TStream& stream, const std::string& fileName);
std::unique_ptr<TWinVideoSource> MakeWinVideoSource(TStream* stream, bool ownsStream,
                                                    const std::string& fileName);

} // namespace kiv

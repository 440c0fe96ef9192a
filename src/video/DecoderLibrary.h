#pragma once
// The binding of the video decoder library (libkivffmpeg.so): loading it at run time, and what the player
// adds on top of its functions: frame-rate normalisation, frames by number, audio seeking by time,
// interlace and aspect detection.

#include "MediaRecord.h"
#include "kivffmpeg.h"
#include "Exceptions.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace kiv {

// The library or one of its functions is missing.
class EFFMpegDllError : public TCommonException {
public:
  explicit EFFMpegDllError(std::string detail)
      : TCommonException("EFFMpegDllError"), detail_(std::move(detail)) {}
  const std::string& Detail() const noexcept { return detail_; }

private:
  std::string detail_;
};

enum class TContainerKind : int {
  Other = 0,
  Avi = 1,
  Matroska = 2,
  Mov = 3,
  Mpeg = 4,
  Flv = 5,
  MpegTs = 6,
  Asf = 7
};
TContainerKind ContainerKindOf(const std::string& formatName);

enum class TAudioSeekMethod : int { Unknown = 0, Timestamp = 1, Stepping = 2, TimestampThenStepping = 3 };

// The player's record attached to each media handle (userData). Written by the thread that uses the handle.
struct TVideoDataEx {
  TContainerKind container = TContainerKind::Other;
  int64_t firstFrame = 0; // number of the first decoded picture, found by the interlace probe
  TAudioSeekMethod audioSeek = TAudioSeekMethod::Unknown;
  bool keepFrameRate = false;
  // Frame numbers the picture in the frame buffer stands for; -1 when it stands for none.
  int64_t rangeStart = -1;
  int64_t rangeEnd = -1;
};

enum class TAspectKind : int { Other = 0, Ratio4x3 = 1, Ratio16x9 = 2 };

struct TVideoLibraryApi {
  TOpenMediaFile OpenMediaFile;
  TOpenMediaFile2 OpenMediaFile2;
  TCloseMediaFile CloseMediaFile;
  TAllocBuffer AllocBuffer;
  TAllocBufferWithData AllocBufferWithData;
  TFreeBuffer FreeBuffer;
  TConvertFrame ConvertFrame;
  TGetNextVideoFrame GetNextVideoFrame;
  TSeekFile SeekFile;
  TGetFormatName GetFormatName;
  TFlush Flush;
  TFlushVideo FlushVideo;
  TGetFrameInfo GetFrameInfo;
  TGetDtsPts GetDtsPts;
  TGetDtsPts2 GetDtsPts2;
  TGetAudioInfo GetAudioInfo;
  TOpenAudioStream OpenAudioStream;
  TCloseAudioStream CloseAudioStream;
  TGetNextAudioFrame GetNextAudioFrame;
  TAfterAudioSeek AfterAudioSeek;
  TGetCurrentPts GetCurrentPts;
  TCreateVideoFile CreateVideoFile;
  TCreateAudioFile CreateAudioFile;
  TCreateVideoAudioFile CreateVideoAudioFile;
};

class TFFMpegDll {
public:
  // The shared binding, loaded on first demand and unloaded when the last holder lets go.
  // Raises EFFMpegDllError when the library or any of its 24 functions is missing.
  static std::shared_ptr<TFFMpegDll> Acquire();
  // Acquire, or nullptr (video unavailable) instead of the exception.
  static std::shared_ptr<TFFMpegDll> TryAcquire() noexcept;

  // Where the library is looked for, in order: beside the program, the bare name (found through the
  // program's run path, where an installed program keeps it), then the configured path. Paths of a show's
  // own files never go here: native code from show data is not run.
  static std::vector<std::string> SearchPaths();
  // Replaces the configured path (the one after the program's folder); "" restores the built-in one.
  static void SetConfiguredPath(const std::string& path);
  // Only the configured path is searched while set (tests that must not find the library beside them).
  static void SetSearchOnlyConfigured(bool only);

  explicit TFFMpegDll(const std::string& path); // raises EFFMpegDllError
  ~TFFMpegDll();
  TFFMpegDll(const TFFMpegDll&) = delete;
  TFFMpegDll& operator=(const TFFMpegDll&) = delete;

  // The file the library was loaded from, also when found by its bare name.
  const std::string& Path() const noexcept { return path_; }
  // The FFmpeg release the library runs on; "" when it does not say.
  std::string FFmpegVersion() const;
  const TVideoLibraryApi& Api() const noexcept { return api_; }

  // nullptr when the library cannot open the stream or it holds neither video nor audio.
  TKivMedia* OpenMedia(const std::string& name, TStream& stream);
  void CloseMedia(TKivMedia* media);
  // Decodes frame n into the buffer; the number of the picture reached, negative on failure.
  int64_t GetFrame(TKivMedia* media, int64_t n, TKivFrameBuffer* buffer);
  bool SeekToFrame(TKivMedia* media, int64_t n);
  bool SeekAudio(TKivMedia* media, double ms);
  bool OpenAudio(TKivMedia* media, int streamNumber);
  void CloseAudio(TKivMedia* media);
  // Bytes of 16-bit samples now in media->audioBuffer; 0 at the end.
  int NextAudio(TKivMedia* media);
  bool GetAudioInfo(TKivMedia* media, int streamNumber, TKivAudioInfo& info);
  // The frame number of the last decoded picture; -1 when unknown.
  int64_t CurrentFrameNumber(TKivMedia* media);
  void IsInterlaced(TKivMedia* media, bool& interlaced, bool& topFieldFirst);
  static TAspectKind AspectKind(const TKivMedia* media);
  // Frame number of a video time stamp; -1 for none.
  static int64_t FrameOfTimestamp(const TKivMedia* media, int64_t timestamp);
  // Replaces a stream's rate with the one it most likely means (film and NTSC rates, MPEG averages);
  // needs the media's TVideoDataEx.
  static void NormaliseFrameRate(TKivMedia* media);

  static TVideoDataEx& DataOf(TKivMedia* media) { return *static_cast<TVideoDataEx*>(media->userData); }

private:
  int64_t AudioPositionMs(TKivMedia* media);

  std::string path_;
  std::unique_ptr<void, int (*)(void*)> handle_;
  TVideoLibraryApi api_{};
  TRef<TStreamWrapperClass> streamHelper_; // kept while loaded: the library reads through it
};

// Opening and closing of media and audio streams, process-wide.
std::recursive_mutex& MediaLock();

// Frame count for a duration and rate; 0 (unknown) when either is unknown.
int64_t FrameCountOf(int64_t durationUs, int rateNum, int rateDen);

// One line for --version: the FFmpeg release and the decoder library's file, or why there is none.
std::string DecoderVersionLine();

} // namespace kiv

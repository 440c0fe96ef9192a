#include "DecoderLibrary.h"

#include "Log.h"

#include <dlfcn.h>
#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <numeric>

#ifndef KIV_FFMPEG_LIBRARY_PATH
#define KIV_FFMPEG_LIBRARY_PATH ""
#endif

namespace kiv {
namespace {

constexpr const char* kLibraryName = "libkivffmpeg.so";
constexpr double kFilmRate = 24000.0 / 1001.0;
constexpr double kNtscRate = 30000.0 / 1001.0;

std::mutex& BindingLock() {
  static std::mutex lock;
  return lock;
}

struct TPathConfig {
  std::string configured = KIV_FFMPEG_LIBRARY_PATH;
  bool onlyConfigured = false;
};
TPathConfig& PathConfig() {
  static TPathConfig config;
  return config;
}

bool FileExists(const std::string& path) {
  struct stat st {};
  return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool Near(double a, double b) {
  return std::fabs(a - b) < 0.001;
}

double Rate(int num, int den) {
  return num > 0 && den > 0 ? double(num) / den : 0.0;
}

template <class F> void Bind(void* handle, F& slot, const char* name) {
  void* symbol = ::dlsym(handle, name);
  if (!symbol) throw EFFMpegDllError(std::string("missing function ") + name);
  slot = reinterpret_cast<F>(symbol);
}

} // namespace

std::recursive_mutex& MediaLock() {
  static std::recursive_mutex lock;
  return lock;
}

TContainerKind ContainerKindOf(const std::string& name) {
  if (name == "avi") return TContainerKind::Avi;
  if (name == "matroska,webm") return TContainerKind::Matroska;
  if (name == "mov,mp4,m4a,3gp,3g2,mj2") return TContainerKind::Mov;
  if (name == "mpeg" || name == "mpegvideo") return TContainerKind::Mpeg;
  if (name == "flv") return TContainerKind::Flv;
  if (name == "mpegts") return TContainerKind::MpegTs;
  if (name == "asf") return TContainerKind::Asf;
  return TContainerKind::Other;
}

int64_t FrameCountOf(int64_t durationUs, int rateNum, int rateDen) {
  if (durationUs <= 0 || rateNum <= 0 || rateDen <= 0) return 0;
  return static_cast<int64_t>(std::nearbyint(double(durationUs) / rateDen * rateNum / 1000000.0));
}

std::vector<std::string> TFFMpegDll::SearchPaths() {
  std::lock_guard guard(BindingLock());
  std::vector<std::string> paths;
  const TPathConfig& config = PathConfig();
  if (!config.onlyConfigured) {
    const std::string program = ProgramPath();
    const size_t slash = program.rfind('/');
    if (slash != std::string::npos) {
      const std::string folder = program.substr(0, slash + 1);
      paths.push_back(folder + kLibraryName);
      // Where an installation puts it. Named in full rather than left to the run path: dlopen calls that a
      // sanitizer or preloaded library intercepts no longer see the program's run path.
      paths.push_back(
          (std::filesystem::path(folder) / ".." / "lib" / "kivviewer" / kLibraryName).lexically_normal().string());
    }
    paths.push_back(kLibraryName);
  }
  if (!config.configured.empty()) paths.push_back(config.configured);
  return paths;
}

void TFFMpegDll::SetConfiguredPath(const std::string& path) {
  std::lock_guard guard(BindingLock());
  PathConfig().configured = path.empty() ? std::string(KIV_FFMPEG_LIBRARY_PATH) : path;
}

void TFFMpegDll::SetSearchOnlyConfigured(bool only) {
  std::lock_guard guard(BindingLock());
  PathConfig().onlyConfigured = only;
}

std::shared_ptr<TFFMpegDll> TFFMpegDll::Acquire() {
  static std::weak_ptr<TFFMpegDll> shared;
  const std::vector<std::string> paths = SearchPaths();
  std::lock_guard guard(BindingLock());
  if (auto existing = shared.lock()) return existing;
  std::string tried;
  for (const std::string& path : paths) {
    if (path.find('/') == std::string::npos) {
      // A bare name: dlopen looks along the program's run path (never the current folder).
      void* probe = ::dlopen(path.c_str(), RTLD_LAZY | RTLD_LOCAL);
      if (!probe) {
        tried += " " + path + " (run path)";
        continue;
      }
      ::dlclose(probe);
    } else if (!FileExists(path)) {
      tried += " " + path;
      continue;
    }
    auto dll = std::make_shared<TFFMpegDll>(path);
    shared = dll;
    return dll;
  }
  throw EFFMpegDllError("not found:" + tried);
}

std::shared_ptr<TFFMpegDll> TFFMpegDll::TryAcquire() noexcept {
  try {
    return Acquire();
  } catch (const EFFMpegDllError& e) {
    LogLine("TFFMpegDll: video unavailable, " + e.Detail());
  } catch (const std::exception&) {
  }
  return nullptr;
}

TFFMpegDll::TFFMpegDll(const std::string& path) : path_(path), handle_(nullptr, &::dlclose) {
  // Kept mapped after the last user: FFmpeg's dependencies set up process-wide state (threads, atexit
  // handlers) that unloading would leave dangling.
  handle_.reset(::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE));
  if (!handle_) {
    const char* error = ::dlerror();
    throw EFFMpegDllError(error ? error : "cannot load " + path);
  }
  void* h = handle_.get();
  Bind(h, api_.OpenMediaFile, "OpenMediaFile");
  Bind(h, api_.OpenMediaFile2, "OpenMediaFile2");
  Bind(h, api_.CloseMediaFile, "CloseMediaFile");
  Bind(h, api_.AllocBuffer, "AllocBuffer");
  Bind(h, api_.AllocBufferWithData, "AllocBufferWithData");
  Bind(h, api_.FreeBuffer, "FreeBuffer");
  Bind(h, api_.ConvertFrame, "ConvertFrame");
  Bind(h, api_.GetNextVideoFrame, "GetNextVideoFrame");
  Bind(h, api_.SeekFile, "SeekFile");
  Bind(h, api_.GetFormatName, "GetFormatName");
  Bind(h, api_.Flush, "Flush");
  Bind(h, api_.FlushVideo, "FlushVideo");
  Bind(h, api_.GetFrameInfo, "GetFrameInfo");
  Bind(h, api_.GetDtsPts, "GetDtsPts");
  Bind(h, api_.GetDtsPts2, "GetDtsPts2");
  Bind(h, api_.GetAudioInfo, "GetAudioInfo");
  Bind(h, api_.OpenAudioStream, "OpenAudioStream");
  Bind(h, api_.CloseAudioStream, "CloseAudioStream");
  Bind(h, api_.GetNextAudioFrame, "GetNextAudioFrame");
  Bind(h, api_.AfterAudioSeek, "AfterAudioSeek");
  Bind(h, api_.GetCurrentPts, "GetCurrentPts");
  Bind(h, api_.CreateVideoFile, "CreateVideoFile");
  Bind(h, api_.CreateAudioFile, "CreateAudioFile");
  Bind(h, api_.CreateVideoAudioFile, "CreateVideoAudioFile");
  // The file dlopen chose, for a library found by its bare name.
  Dl_info info{};
  if (::dladdr(reinterpret_cast<void*>(api_.OpenMediaFile), &info) && info.dli_fname && *info.dli_fname)
    path_ = std::filesystem::path(info.dli_fname).lexically_normal().string();
  streamHelper_ = StreamWrapperRef();
}

std::string TFFMpegDll::FFmpegVersion() const {
  auto version = reinterpret_cast<TKivFFmpegVersion>(::dlsym(handle_.get(), "KivFFmpegVersion"));
  const char* text = version ? version() : nullptr;
  return text ? text : "";
}

std::string DecoderVersionLine() {
  try {
    auto dll = TFFMpegDll::Acquire();
    const std::string version = dll->FFmpegVersion();
    return "FFmpeg " + (version.empty() ? std::string("(release unknown)") : version) + " (video decoder " +
           dll->Path() + ")";
  } catch (const EFFMpegDllError& e) {
    return "FFmpeg: no video decoder, " + e.Detail();
  }
}

TFFMpegDll::~TFFMpegDll() = default;

TKivMedia* TFFMpegDll::OpenMedia(const std::string& name, TStream& stream) {
  std::lock_guard guard(MediaLock());
  // Made first: nothing below may raise once the library holds the media.
  auto record = std::make_unique<TVideoDataEx>();
  StreamWrapper().Seek(stream, 0, 0);
  TKivMedia* media = api_.OpenMediaFile(name.c_str(), &stream,
                                        reinterpret_cast<const TKivStreamCallbacks*>(&StreamCallbacks()));
  if (!media) return nullptr;
  if (media->videoStream < 0 && media->audioStreamCount <= 0) {
    api_.CloseMediaFile(media);
    return nullptr;
  }
  if (media->height == 1088) media->height = 1080;
  TVideoDataEx* data = record.release();
  media->userData = data;
  char format[128] = {};
  api_.GetFormatName(media, format, sizeof(format), 0);
  data->container = ContainerKindOf(format);
  NormaliseFrameRate(media);
  media->frameCount = FrameCountOf(media->duration, media->frameRateNum, media->frameRateDen);
  if (media->startTime < 0) media->startTime = 0; // none (the top bit alone) included
  return media;
}

void TFFMpegDll::NormaliseFrameRate(TKivMedia* media) {
  TVideoDataEx& data = DataOf(media);
  if (media->videoStream < 0) return;
  const int codec = media->videoCodec;
  const double rate = Rate(media->frameRateNum, media->frameRateDen);
  double average = Rate(media->avgFrameRateNum, media->avgFrameRateDen);
  if (media->ticksPerFrame > 0) average /= media->ticksPerFrame;
  if (codec != KIV_CODEC_MPEG2) {
    data.keepFrameRate =
        rate > 100 || codec == KIV_CODEC_MSMPEG4V1 || codec == KIV_CODEC_MSMPEG4V2 ||
        codec == KIV_CODEC_MSMPEG4V3 || codec == KIV_CODEC_MSVIDEO1 ||
        (data.container == TContainerKind::Avi && codec == KIV_CODEC_MPEG4) ||
        (data.container == TContainerKind::MpegTs && codec == KIV_CODEC_H264 && average >= 50);
  }
  if (data.keepFrameRate) return;
  if (Near(rate, kFilmRate) || Near(rate, kNtscRate)) return;
  if (Near(average, kFilmRate)) {
    media->frameRateNum = 24000;
    media->frameRateDen = 1001;
  } else if (Near(average, kNtscRate)) {
    media->frameRateNum = 30000;
    media->frameRateDen = 1001;
  } else if ((data.container == TContainerKind::Mpeg || data.container == TContainerKind::Flv ||
              data.container == TContainerKind::MpegTs) &&
             average > 0 && average <= 130) {
    media->frameRateNum = media->avgFrameRateNum;
    media->frameRateDen = media->avgFrameRateDen * std::max(1, media->ticksPerFrame);
  }
}

void TFFMpegDll::CloseMedia(TKivMedia* media) {
  if (!media) return;
  std::lock_guard guard(MediaLock());
  delete static_cast<TVideoDataEx*>(media->userData);
  media->userData = nullptr;
  api_.CloseMediaFile(media);
}

int64_t TFFMpegDll::FrameOfTimestamp(const TKivMedia* media, int64_t timestamp) {
  if (timestamp == KIV_NO_PTS || media->videoTimeBaseDen <= 0 || media->frameRateDen <= 0 ||
      media->frameRateNum <= 0)
    return -1;
  const double us = double(timestamp) * media->videoTimeBaseNum / media->videoTimeBaseDen * 1000000.0 -
                    double(media->startTime);
  return static_cast<int64_t>(std::nearbyint(us / 1000000.0 * media->frameRateNum / media->frameRateDen));
}

int64_t TFFMpegDll::CurrentFrameNumber(TKivMedia* media) {
  if (!media || media->videoStream < 0) return -1;
  return FrameOfTimestamp(media, api_.GetCurrentPts(media, media->videoStream));
}

bool TFFMpegDll::SeekToFrame(TKivMedia* media, int64_t n) {
  if (!media || media->videoStream < 0 || media->frameRateNum <= 0 || media->videoTimeBaseNum <= 0)
    return false;
  // The library takes the stream's own time stamps, which start at the media's start time in every
  // container, MPEG-TS included: without the start time the real TS clip (1.4 s) seeks to the wrong frame.
  const double us =
      double(n) * media->frameRateDen / media->frameRateNum * 1000000.0 + double(media->startTime);
  const auto timestamp = static_cast<int64_t>(
      std::nearbyint(us / 1000000.0 / media->videoTimeBaseNum * media->videoTimeBaseDen));
  return api_.SeekFile(media, media->videoStream, timestamp, KIV_SEEK_ACCURATE) >= 0;
}

int64_t TFFMpegDll::GetFrame(TKivMedia* media, int64_t n, TKivFrameBuffer* buffer) {
  if (!media || media->videoStream < 0) return -1;
  TVideoDataEx& data = DataOf(media);
  // The picture held is the first one numbered n or more, so a request for its own number (the range's
  // end) is served by it too: decoding one more there would hand out the frame after the one asked for
  // (on an MPEG-4 AVI clip every frame came one late, against ffmpeg's pictures).
  if (data.rangeEnd >= 0 && n >= data.rangeStart && n <= data.rangeEnd) return data.rangeEnd;

  int64_t last = -1;
  if (data.rangeEnd >= 0 && n > data.rangeEnd && n - data.rangeEnd < 30) {
    // Close ahead: decode through. Numbers may repeat or skip, so stop on reaching n (not only once past
    // it: the picture past n is a frame later than the one asked for) rather than counting.
    const int64_t limit = 2 * (n - data.rangeEnd) + 2;
    for (int64_t i = 0; i < limit; ++i) {
      last = FrameOfTimestamp(media, api_.GetNextVideoFrame(media, buffer, 0));
      if (last < 0 || last >= n) break;
    }
  } else {
    api_.FlushVideo(media);
    if (!SeekToFrame(media, std::max<int64_t>(n, 0))) {
      data.rangeStart = data.rangeEnd = -1;
      return -1;
    }
    // The seek lands on or before n: decode up to the first picture numbered n or more.
    int64_t previous = -2;
    for (;;) {
      last = FrameOfTimestamp(media, api_.GetNextVideoFrame(media, buffer, 0));
      if (last < 0 || last >= n || last == previous) break;
      previous = last;
    }
  }
  if (last < 0) {
    data.rangeStart = data.rangeEnd = -1;
    return -1;
  }
  data.rangeStart = std::min(n, last);
  data.rangeEnd = last;
  return last;
}

int64_t TFFMpegDll::AudioPositionMs(TKivMedia* media) {
  const int64_t pts = api_.GetCurrentPts(media, media->audioStream);
  if (pts == KIV_NO_PTS || media->audioTimeBaseDen <= 0) return -1;
  return static_cast<int64_t>(double(pts) * media->audioTimeBaseNum / media->audioTimeBaseDen * 1000.0 -
                              double(media->startTime) / 1000.0);
}

bool TFFMpegDll::SeekAudio(TKivMedia* media, double ms) {
  if (!media || media->audioStream < 0 || media->audioTimeBaseNum <= 0) return false;
  TVideoDataEx& data = DataOf(media);
  auto timestampOf = [&](double t) {
    const double us = t * 1000.0 + double(media->startTime);
    return static_cast<int64_t>(
        std::nearbyint(us / 1000000.0 / media->audioTimeBaseNum * media->audioTimeBaseDen));
  };
  auto seekByTimestamp = [&](double t) {
    return api_.SeekFile(media, media->audioStream, timestampOf(t), KIV_SEEK_AUDIO) >= 0;
  };
  if (data.audioSeek == TAudioSeekMethod::Unknown) {
    if (data.container == TContainerKind::Matroska)
      data.audioSeek = TAudioSeekMethod::Stepping;
    else if (data.container == TContainerKind::Asf)
      data.audioSeek = TAudioSeekMethod::TimestampThenStepping;
    else
      data.audioSeek = seekByTimestamp(0) ? TAudioSeekMethod::Timestamp : TAudioSeekMethod::Stepping;
  }
  api_.Flush(media);
  switch (data.audioSeek) {
  case TAudioSeekMethod::Timestamp:
  case TAudioSeekMethod::Unknown:
    return seekByTimestamp(ms);
  case TAudioSeekMethod::Stepping: {
    double target = ms;
    for (int i = 0; i < 100; ++i) {
      if (!seekByTimestamp(target)) return false;
      api_.AfterAudioSeek(media, 0);
      const int64_t at = AudioPositionMs(media);
      if (at >= 0 && at <= ms) break;
      target *= 0.99;
    }
    int64_t previous = AudioPositionMs(media);
    for (int stuck = 0; stuck < 100 && previous >= 0 && previous < ms - 1;) {
      api_.AfterAudioSeek(media, 0);
      const int64_t at = AudioPositionMs(media);
      stuck = at == previous ? stuck + 1 : 0;
      previous = at;
    }
    return true;
  }
  case TAudioSeekMethod::TimestampThenStepping: {
    if (!seekByTimestamp(ms)) return false;
    api_.AfterAudioSeek(media, 0);
    int64_t previous = -2;
    for (int i = 0; i < 10000; ++i) {
      const int64_t at = AudioPositionMs(media);
      if (at < 0 || at >= ms || at == previous) break;
      previous = at;
      api_.AfterAudioSeek(media, 1);
    }
    return true;
  }
  }
  return false;
}

bool TFFMpegDll::OpenAudio(TKivMedia* media, int streamNumber) {
  if (!media) return false;
  std::lock_guard guard(MediaLock());
  if (api_.OpenAudioStream(media, streamNumber) <= 0) return false;
  // Position 0 of the media: the start time is added once, inside SeekAudio.
  SeekAudio(media, 0);
  if (!media->audioBuffer) media->audioBuffer = static_cast<uint8_t*>(std::calloc(KIV_AUDIO_BUFFER_SIZE, 1));
  return media->audioBuffer != nullptr;
}

void TFFMpegDll::CloseAudio(TKivMedia* media) {
  if (!media) return;
  std::lock_guard guard(MediaLock());
  api_.CloseAudioStream(media);
  std::free(media->audioBuffer);
  media->audioBuffer = nullptr;
}

int TFFMpegDll::NextAudio(TKivMedia* media) {
  if (!media || !media->audioBuffer) return 0;
  int bytes = 0;
  if (api_.GetNextAudioFrame(media, media->audioBuffer, &bytes) < 0) return 0;
  return std::clamp(bytes, 0, KIV_AUDIO_BUFFER_SIZE);
}

bool TFFMpegDll::GetAudioInfo(TKivMedia* media, int streamNumber, TKivAudioInfo& info) {
  info = TKivAudioInfo{};
  return media && api_.GetAudioInfo(media, streamNumber, &info) >= 0;
}

void TFFMpegDll::IsInterlaced(TKivMedia* media, bool& interlaced, bool& topFieldFirst) {
  interlaced = false;
  topFieldFirst = false;
  if (!media || media->videoStream < 0) return;
  TVideoDataEx& data = DataOf(media);
  const std::string tag(media->codecTag, strnlen(media->codecTag, sizeof(media->codecTag)));
  if (tag == "Brask_ITFA") {
    interlaced = topFieldFirst = true;
    return;
  }
  if (tag == "Brask_ITFB") {
    interlaced = true;
    return;
  }
  if (data.container == TContainerKind::Avi || data.container == TContainerKind::Matroska) return;
  TKivFrameBuffer* buffer = api_.AllocBuffer(media, media->nativePixelFormat);
  if (!buffer) return;
  api_.FlushVideo(media);
  SeekToFrame(media, 0);
  for (int i = 0; i < 3; ++i) {
    const int64_t timestamp = api_.GetNextVideoFrame(media, buffer, 0);
    if (timestamp == KIV_NO_PTS) break;
    if (i == 0) data.firstFrame = std::max<int64_t>(0, FrameOfTimestamp(media, timestamp));
    api_.GetFrameInfo(buffer);
    if (buffer->interlaced) {
      interlaced = true;
      topFieldFirst = buffer->topFieldFirst != 0;
      break;
    }
  }
  api_.FreeBuffer(buffer);
  // The decoder moved: the next frame request seeks.
  data.rangeStart = data.rangeEnd = -1;
}

TAspectKind TFFMpegDll::AspectKind(const TKivMedia* media) {
  if (!media || media->width <= 0 || media->height <= 0) return TAspectKind::Other;
  const bool haveSar = media->sampleAspectNum > 0 && media->sampleAspectDen > 0;
  if (media->width == 1440 && media->height == 1080 &&
      (!haveSar || media->sampleAspectNum == media->sampleAspectDen))
    return TAspectKind::Ratio16x9;
  if (haveSar) {
    int64_t num = int64_t(media->width) * media->sampleAspectNum;
    int64_t den = int64_t(media->height) * media->sampleAspectDen;
    const int64_t g = std::gcd(num, den);
    num /= g;
    den /= g;
    const double ratio = double(num) / double(den);
    if (Near(ratio, 16.0 / 9.0)) return TAspectKind::Ratio16x9;
    if (Near(ratio, 4.0 / 3.0)) return TAspectKind::Ratio4x3;
    return TAspectKind::Other;
  }
  switch (media->videoCodec) {
  case 8:
  case 10:
  case 16:
  case 59:
  case 256:
    return TAspectKind::Ratio4x3;
  case 32:
  case 40:
  case 64:
  case 118:
    return TAspectKind::Ratio16x9;
  default:
    return TAspectKind::Other;
  }
}

} // namespace kiv

#include "FFMpegConverter.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace kiv {

std::string NameBeforeSuffix(const std::string& fileName) {
  const size_t mark = fileName.rfind('?');
  return mark == std::string::npos ? fileName : fileName.substr(0, mark);
}

int StreamNumberOfSuffix(const std::string& fileName) {
  const size_t mark = fileName.rfind('?');
  if (mark == std::string::npos || mark + 1 >= fileName.size() || fileName.size() - mark > 6) return 0;
  int number = 0;
  for (size_t i = mark + 1; i < fileName.size(); ++i) {
    if (fileName[i] < '0' || fileName[i] > '9') return 0;
    number = number * 10 + (fileName[i] - '0');
  }
  return number;
}

TFFMpegConverter::TFFMpegConverter(TStream* stream, std::string fileName)
    : TWavConverter(stream), fileName_(std::move(fileName)) {}

TFFMpegConverter::~TFFMpegConverter() {
  CloseAll();
}

void TFFMpegConverter::CloseAll() noexcept {
  if (!dll_) return;
  if (media_) {
    if (audioOpen_) dll_->CloseAudio(media_);
    dll_->CloseMedia(media_);
  }
  media_ = nullptr;
  audioOpen_ = false;
}

bool TFFMpegConverter::Describe(TStream& stream, const std::string& fileName, TMediaInfo& info) {
  info = TMediaInfo();
  auto dll = TFFMpegDll::TryAcquire();
  if (!dll) return false;
  TKivMedia* media = dll->OpenMedia("qwe" + NameBeforeSuffix(fileName), stream);
  if (!media) return false;
  info.type = TMediaType::VideoLibrary;
  info.duration = static_cast<uint32_t>(std::clamp<int64_t>(media->duration / 1000, 0, UINT32_MAX));
  info.waveFormat = StandardWaveFormat();
  dll->CloseMedia(media);
  return true;
}

bool TFFMpegConverter::Open(const TMediaInfo& info) {
  CloseAll();
  if (!TWavConverter::Open(info)) return false;
  dll_ = TFFMpegDll::TryAcquire();
  if (!dll_) return false;
  media_ = dll_->OpenMedia(NameBeforeSuffix(fileName_), *stream_);
  if (!media_ || media_->audioStreamCount < 1) {
    CloseAll();
    return false;
  }
  audioStream_ = StreamNumberOfSuffix(fileName_);
  TKivAudioInfo audio{};
  if (!dll_->GetAudioInfo(media_, audioStream_, audio) || !dll_->OpenAudio(media_, audioStream_)) {
    CloseAll();
    return false;
  }
  audioOpen_ = true;
  const int bits = audio.bitsPerSample < 8 ? 16 : audio.bitsPerSample;
  decoded_.format = info.waveFormat;
  decoded_.Reserve(KIV_AUDIO_BUFFER_SIZE);
  if (!resampler_) output_.format = decoded_.format;
  // The library delivers 16-bit samples at the stream's own rate and channels.
  TWaveFormat source;
  source.formatTag = 1;
  source.channels = static_cast<uint16_t>(std::max(audio.channels, 0));
  source.samplesPerSec = static_cast<uint32_t>(std::max(audio.sampleRate, 0));
  source.bitsPerSample = static_cast<uint16_t>(bits);
  source.blockAlign = static_cast<uint16_t>(source.channels * bits / 8);
  source.avgBytesPerSec = source.samplesPerSec * source.blockAlign;
  const TWaveFormat standard = StandardWaveFormat();
  resample_ = source.samplesPerSec != standard.samplesPerSec || source.channels != standard.channels ||
              source.bitsPerSample != standard.bitsPerSample;
  if (resample_) {
    libraryResampler_.SetSource(source);
    libraryResampler_.SetTarget(decoded_.format);
    if (!libraryResampler_.IsReady()) {
      CloseAll();
      return false;
    }
  }
  ended_ = false;
  return true;
}

bool TFFMpegConverter::ReadInput() {
  // The library reads by itself; the data ends with its last sample.
  return media_ != nullptr && !ended_;
}

bool TFFMpegConverter::Convert(TLocalBuffer& input) {
  input.Clear();
  if (!media_) return false;
  const int n = dll_->NextAudio(media_);
  if (n <= 0) {
    ended_ = true;
  } else if (resample_) {
    decoded_.Reserve(libraryResampler_.OutputSize(n));
    decoded_.Commit(libraryResampler_.Resample(media_->audioBuffer, n, decoded_.End()));
  } else {
    decoded_.Append(media_->audioBuffer, n);
  }
  AddDecoded(decoded_);
  return true;
}

void TFFMpegConverter::Seek(double ms) {
  input_.Clear();
  output_.Clear();
  decoded_.Clear();
  padding_ = 0;
  failed_ = false;
  ended_ = false;
  if (resampler_) resampler_->Reset();
  libraryResampler_.Reset();
  if (!(ms > 0)) ms = 0;
  if (media_) dll_->SeekAudio(media_, ms);
  currentTime_ = ms;
}

void RegisterVideoLibraryDecoders(TConverterFactory& factory) {
  factory.Register(TMediaType::VideoLibrary,
                   [](TStream* stream, const std::string& fileName) -> TOwned<TWavConverter> {
                     if (!TFFMpegDll::TryAcquire()) return nullptr;
                     return MakeOwned<TFFMpegConverter>(stream, fileName);
                   });
  factory.SetLibraryProbe(&TFFMpegConverter::Describe);
}

} // namespace kiv

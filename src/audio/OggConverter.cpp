#include "OggConverter.h"

#define OV_EXCLUDE_STATIC_CALLBACKS
#include <vorbis/vorbisfile.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace kiv {
namespace {

size_t ReadCallback(void* buffer, size_t size, size_t count, void* source) {
  if (size == 0 || count == 0) return 0;
  const int64_t got = StreamWrapper().Read(*static_cast<TStream*>(source), buffer, int64_t(size * count));
  return got > 0 ? static_cast<size_t>(got) / size : 0;
}

int SeekCallback(void* source, ogg_int64_t offset, int whence) {
  TStream& stream = *static_cast<TStream*>(source);
  TStreamWrapperClass& helper = StreamWrapper();
  try {
    switch (whence) {
    case SEEK_SET:
      helper.Seek(stream, 0, offset);
      return 0;
    case SEEK_CUR:
      helper.Seek(stream, 1, offset);
      return 0;
    case SEEK_END:
      helper.Seek(stream, 2, -offset); // the helper counts backwards from the end
      return 0;
    default:
      return -1;
    }
  } catch (const std::exception&) {
    return -1;
  }
}

long TellCallback(void* source) {
  return static_cast<long>(StreamWrapper().Position(*static_cast<TStream*>(source)));
}

bool ChannelsFoldable(int channels) {
  return channels == 1 || channels == 2 || channels == 6;
}

TWaveFormat PcmFormat(int channels, long rate) {
  TWaveFormat f;
  f.formatTag = 1;
  f.channels = static_cast<uint16_t>(channels);
  f.samplesPerSec = static_cast<uint32_t>(rate);
  f.bitsPerSample = 16;
  f.blockAlign = static_cast<uint16_t>(channels * 2);
  f.avgBytesPerSec = f.samplesPerSec * f.blockAlign;
  return f;
}

// Vorbis orders 5.1 as front left, centre, front right, rear left, rear right, LFE; wave files as front
// left, front right, centre, LFE, rear left, rear right.
void ReorderSurround(uint8_t* data, int64_t bytes) {
  int16_t* s = reinterpret_cast<int16_t*>(data);
  for (int64_t i = 0; i + 6 <= bytes / 2; i += 6) {
    const int16_t v[6] = {s[i], s[i + 1], s[i + 2], s[i + 3], s[i + 4], s[i + 5]};
    s[i + 1] = v[2];
    s[i + 2] = v[1];
    s[i + 3] = v[5];
    s[i + 4] = v[3];
    s[i + 5] = v[4];
  }
}

} // namespace

struct TOggConverter::TVorbisFile {
  OggVorbis_File file{};
  bool open = false;

  bool Open(TStream& stream) {
    const ov_callbacks callbacks = {&ReadCallback, &SeekCallback, nullptr, &TellCallback};
    StreamWrapper().Seek(stream, 0, 0);
    open = ov_open_callbacks(&stream, &file, nullptr, 0, callbacks) == 0;
    return open;
  }
  ~TVorbisFile() {
    if (open) ov_clear(&file);
  }
};

TOggConverter::TOggConverter(TStream* stream) : TWavConverter(stream) {}

TOggConverter::~TOggConverter() = default;

bool TOggConverter::Describe(TStream& stream, TMediaInfo& info) {
  info = TMediaInfo();
  try {
    TVorbisFile vorbis;
    if (!vorbis.Open(stream)) return false;
    const vorbis_info* vi = ov_info(&vorbis.file, -1);
    if (!vi || !ChannelsFoldable(vi->channels) || vi->rate < 100 || vi->rate > 384000) return false;
    info.type = TMediaType::OggPlugin;
    info.waveFormat = PcmFormat(vi->channels, vi->rate);
    info.dataOffset = 0;
    info.dataSize = static_cast<uint32_t>(std::clamp<int64_t>(StreamWrapper().Size(stream), 0, UINT32_MAX));
    const ogg_int64_t samples = ov_pcm_total(&vorbis.file, -1);
    if (samples > 0)
      info.duration = static_cast<uint32_t>(
          std::min(std::nearbyint(double(samples) * 1000.0 / double(vi->rate)), 4294967295.0));
    return true;
  } catch (const std::exception&) {
    info = TMediaInfo();
    return false;
  }
}

bool TOggConverter::Open(const TMediaInfo& info) {
  if (!TWavConverter::Open(info)) return false;
  file_ = std::make_unique<TVorbisFile>();
  if (!file_->Open(*stream_)) {
    file_.reset();
    return false;
  }
  const vorbis_info* vi = ov_info(&file_->file, -1);
  if (!vi || vi->channels != info.waveFormat.channels || vi->rate != long(info.waveFormat.samplesPerSec)) {
    file_.reset();
    return false;
  }
  decoded_.format = PcmFormat(vi->channels, vi->rate);
  decoded_.Reserve(chunkSize_);
  if (!resampler_) output_.format = decoded_.format;
  link_ = 0;
  ended_ = false;
  return true;
}

bool TOggConverter::ReadInput() {
  // The decoder reads by itself; the data ends with its last sample.
  return file_ != nullptr && !ended_;
}

bool TOggConverter::Convert(TLocalBuffer& input) {
  input.Clear();
  if (!file_) return false;
  const int frameBytes = decoded_.format.blockAlign;
  bool ok = true;
  for (int holes = 0; !ended_ && decoded_.Length() < chunkSize_;) {
    decoded_.Reserve(int64_t(frameBytes) * 1024);
    const int request = static_cast<int>(std::min<int64_t>(decoded_.FreeBytes(), 65536) / frameBytes * frameBytes);
    int link = link_;
    const long got = ov_read(&file_->file, reinterpret_cast<char*>(decoded_.End()), request, 0, 2, 1, &link);
    if (got == OV_HOLE && ++holes < 64) continue; // a gap in the pages: decoding goes on behind it
    if (got < 0) {
      ok = false;
      break;
    }
    if (got == 0) {
      ended_ = true;
      break;
    }
    if (link != link_) {
      // A chained stream: a link in another format cannot follow in this output.
      const vorbis_info* vi = ov_info(&file_->file, link);
      if (!vi || !(PcmFormat(vi->channels, vi->rate) == decoded_.format)) {
        ended_ = true;
        break;
      }
      link_ = link;
    }
    if (decoded_.format.channels == 6) ReorderSurround(decoded_.End(), got);
    decoded_.Commit(got);
  }
  AddDecoded(decoded_);
  return ok;
}

void TOggConverter::Seek(double ms) {
  input_.Clear();
  output_.Clear();
  decoded_.Clear();
  padding_ = 0;
  failed_ = false;
  ended_ = false;
  if (resampler_) resampler_->Reset();
  if (!(ms > 0)) ms = 0;
  currentTime_ = ms;
  if (!file_) return;
  const double rate = decoded_.format.samplesPerSec;
  const ogg_int64_t total = ov_pcm_total(&file_->file, -1);
  ogg_int64_t sample = static_cast<ogg_int64_t>(std::nearbyint(ms * rate / 1000.0));
  if (total >= 0) sample = std::min(sample, total);
  if (ov_pcm_seek(&file_->file, sample) != 0) {
    ended_ = true;
    return;
  }
  currentTime_ = double(ov_pcm_tell(&file_->file)) * 1000.0 / rate;
}

} // namespace kiv

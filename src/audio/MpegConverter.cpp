#include "MpegConverter.h"

#include "MpegAudioInfo.h"

#include <mpg123.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <mutex>
#include <vector>

namespace kiv {
namespace {

// Samples by which libmpg123's synthesis lags the frames; its gapless trimming removes them with the
// encoder delay.
constexpr int kDecoderDelay = 529;

// The frames fed are already walked header by header; the library's own look-ahead at the next header
// adds nothing, and on some garbage it searches for tens of seconds.
constexpr long kDecoderFlags = MPG123_QUIET | MPG123_NO_READAHEAD;

// No MPEG frame is shorter than this (MPEG-2 layer III at 8 kbit/s and 24 kHz).
constexpr int64_t kShortestFrame = 24;

uint32_t BigEndian32(const uint8_t* p) {
  return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
}

// Bytes of the frame whose header starts at p; 0 when no usable header starts there.
int FrameLengthOf(const uint8_t* p) {
  if (!IsValidMpegHeader(p)) return 0;
  const int length = ParseMpegHeader(p).FrameLength();
  return length >= 4 ? length : 0;
}

// Whether the frame starting at p (count bytes of it at hand) carries a Xing, Info or VBRI tag instead of
// sound.
bool IsTagFrame(const uint8_t* p, int64_t count) {
  if (count < 4 || !IsValidMpegHeader(p)) return false;
  const int64_t side = ParseMpegHeader(p).SideInfoEnd();
  if (side + 4 <= count && (std::memcmp(p + side, "Xing", 4) == 0 || std::memcmp(p + side, "Info", 4) == 0))
    return true;
  return 40 <= count && std::memcmp(p + 36, "VBRI", 4) == 0;
}

void InitialiseLibrary() {
  // Process-wide: libmpg123's own tables, set up once for every decoder.
  static std::once_flag once;
  std::call_once(once, [] { mpg123_init(); });
}

} // namespace

void TMpegConverter::TDecoderDeleter::operator()(mpg123_handle_struct* handle) const noexcept {
  mpg123_delete(handle);
}

TMpegConverter::TMpegConverter(TStream* stream) : TWavConverter(stream) {}

TMpegConverter::~TMpegConverter() = default;

int64_t TMpegConverter::ChunkFor(const TMediaInfo& info) const {
  if (info.formatExtension[1]) return 4096;
  // Six frames a read keeps the first sound close; long frames read 4096 bytes at a time.
  const int64_t chunk = 6 * int64_t(info.frameLength);
  if (chunk > 4097) return 4096;
  return std::max<int64_t>(chunk, 4);
}

bool TMpegConverter::Open(const TMediaInfo& info) {
  if (!TWavConverter::Open(info)) return false;
  TWaveFormat& pcm = decoded_.format;
  pcm = TWaveFormat();
  pcm.formatTag = 1;
  pcm.channels = info.waveFormat.channels;
  pcm.samplesPerSec = info.waveFormat.samplesPerSec;
  pcm.bitsPerSample = 16;
  pcm.blockAlign = static_cast<uint16_t>(pcm.channels * 2);
  pcm.avgBytesPerSec = pcm.samplesPerSec * pcm.blockAlign;
  decoded_.Reserve(chunkSize_);
  if (!resampler_) output_.format = pcm;
  carry_ = 0;
  uint8_t head[64] = {};
  const int64_t got = ReadAt(info.dataOffset, head, sizeof(head));
  layer_ = got >= 4 && IsValidMpegHeader(head) ? ParseMpegHeader(head).layer : 0;
  // A Xing or Info tag claiming more frames than the data can hold is broken: the library spends
  // minutes on a count in the billions. Such a tag is decoded as a plain frame, without gapless trimming.
  flags_ = kDecoderFlags;
  if (layer_ != 0) {
    const int64_t side = ParseMpegHeader(head).SideInfoEnd();
    if (side + 12 <= got && (std::memcmp(head + side, "Xing", 4) == 0 || std::memcmp(head + side, "Info", 4) == 0) &&
        (BigEndian32(head + side + 4) & 1) && BigEndian32(head + side + 8) > info.dataSize / kShortestFrame + 1)
      flags_ |= MPG123_IGNORE_INFOFRAME;
  }
  StreamWrapper().Seek(*stream_, 0, info.dataOffset);
  gaplessDelay_ = -1;
  return StartDecoder(true);
}

bool TMpegConverter::StartDecoder(bool fromStart) {
  InitialiseLibrary();
  int error = MPG123_OK;
  decoder_.reset(mpg123_new(nullptr, &error));
  mpg123_handle* h = decoder_.get();
  if (!h) return false;
  // Only the stream's first frame may be a tag; one met behind it is sound (or garbage) to decode.
  mpg123_param(h, MPG123_ADD_FLAGS, fromStart ? flags_ : flags_ | MPG123_IGNORE_INFOFRAME, 0);
  // One output format for the whole stream: a stream that changes rate or channels is converted to the
  // first frame's.
  mpg123_format_none(h);
  const int channels = decoded_.format.channels == 1 ? MPG123_MONO : MPG123_STEREO;
  if (mpg123_format(h, long(decoded_.format.samplesPerSec), channels, MPG123_ENC_SIGNED_16) != MPG123_OK ||
      mpg123_open_feed(h) != MPG123_OK) {
    decoder_.reset();
    return false;
  }
  return true;
}

int TMpegConverter::GaplessDelay() {
  if (gaplessDelay_ >= 0) return gaplessDelay_;
  gaplessDelay_ = 0;
  // The decoder reads the LAME tag of the first frame: let a decoder of its own see the first frames.
  std::vector<uint8_t> head(16384);
  TStreamWrapperClass& helper = StreamWrapper();
  const int64_t here = helper.Position(*stream_);
  const int64_t got = ReadAt(info_.dataOffset, head.data(), std::min<int64_t>(int64_t(head.size()), info_.dataSize));
  helper.Seek(*stream_, 0, here);
  mpg123_handle* probe = mpg123_new(nullptr, nullptr);
  if (!probe) return gaplessDelay_;
  mpg123_param(probe, MPG123_ADD_FLAGS, flags_, 0);
  long delay = -1;
  if (got > 0 && mpg123_open_feed(probe) == MPG123_OK &&
      mpg123_feed(probe, head.data(), static_cast<size_t>(got)) == MPG123_OK) {
    for (int frames = 0; frames < 4; ++frames) {
      off_t number = 0;
      unsigned char* audio = nullptr;
      size_t bytes = 0;
      const int result = mpg123_decode_frame(probe, &number, &audio, &bytes);
      if (result != MPG123_OK && result != MPG123_NEW_FORMAT) break;
    }
    mpg123_getstate(probe, MPG123_ENC_DELAY, &delay, nullptr);
  }
  mpg123_delete(probe);
  if (delay >= 0) gaplessDelay_ = static_cast<int>(delay) + kDecoderDelay;
  return gaplessDelay_;
}

int64_t TMpegConverter::ReadAt(int64_t position, uint8_t* buffer, int64_t count) {
  TStreamWrapperClass& helper = StreamWrapper();
  helper.Seek(*stream_, 0, position);
  return helper.Read(*stream_, buffer, count);
}

bool TMpegConverter::ReadInput() {
  const int64_t start = input_.Length();
  if (!TWavConverter::ReadInput()) return false;
  Resynchronise(start);
  return true;
}

void TMpegConverter::Resynchronise(int64_t start) {
  TStreamWrapperClass& helper = StreamWrapper();
  int64_t at = start + carry_;
  carry_ = 0;
  for (;;) {
    const int64_t length = input_.Length();
    if (at >= length) {
      carry_ = at - length;
      return;
    }
    const int64_t have = length - at;
    if (have < 4) {
      // A header across the end of the read: peek at the bytes behind it.
      uint8_t head[4];
      std::memcpy(head, input_.Data() + at, static_cast<size_t>(have));
      const int64_t here = helper.Position(*stream_);
      const int64_t wanted = std::min<int64_t>(4 - have, DataEnd() - here);
      const int64_t peeked = wanted > 0 ? helper.Read(*stream_, head + have, wanted) : 0;
      helper.Seek(*stream_, 0, here);
      const int frame = have + peeked == 4 ? FrameLengthOf(head) : 0;
      if (frame > 0) {
        carry_ = at + frame - length;
        return;
      }
      // No frame starts here: the next read searches again from these bytes on.
      input_.Truncate(at);
      if (here < DataEnd()) helper.Seek(*stream_, 0, here - have);
      return;
    }
    const int frame = FrameLengthOf(input_.Data() + at);
    if (frame > 0) {
      at += frame;
      continue;
    }
    int64_t next = -1;
    for (int64_t q = at + 1; q + 4 <= length; ++q)
      if (FrameLengthOf(input_.Data() + q) > 0) {
        next = q;
        break;
      }
    if (next < 0) {
      // Nothing but garbage: drop it, keeping the last three bytes for a header they may begin.
      const int64_t keep = std::min<int64_t>(3, have);
      const int64_t here = helper.Position(*stream_);
      input_.Truncate(at);
      if (here < DataEnd()) helper.Seek(*stream_, 0, here - keep);
      return;
    }
    // Cut the garbage out and read on behind what is left, so the read is full again.
    std::memmove(input_.Data() + at, input_.Data() + next, static_cast<size_t>(length - next));
    input_.Truncate(at + (length - next));
    input_.ReadFrom(*stream_, DataEnd());
  }
}

bool TMpegConverter::Convert(TLocalBuffer& input) {
  mpg123_handle* h = decoder_.get();
  if (!h) return false;
  bool ok = true;
  if (input.Length() > 0 &&
      mpg123_feed(h, input.Data(), static_cast<size_t>(input.Length())) != MPG123_OK)
    ok = false;
  input.Clear();
  while (ok) {
    off_t frame = 0;
    unsigned char* audio = nullptr;
    size_t bytes = 0;
    const int result = mpg123_decode_frame(h, &frame, &audio, &bytes);
    if (audio && bytes > 0) decoded_.Append(audio, static_cast<int64_t>(bytes));
    if (result == MPG123_OK || result == MPG123_NEW_FORMAT) continue;
    if (result != MPG123_NEED_MORE && result != MPG123_DONE) ok = false;
    break;
  }
  AddDecoded(decoded_);
  // A read that gave no whole frame yet is no error: the next one completes it.
  return ok;
}

int64_t TMpegConverter::PositionFor(double ms, double& correction) {
  correction = 0;
  int64_t start = info_.dataOffset;
  const int64_t end = DataEnd();
  if (!(ms > 0)) return start;
  // A tag frame holds no sound: time 0 is the frame behind it.
  {
    std::vector<uint8_t> first(512);
    const int64_t got = ReadAt(start, first.data(), int64_t(first.size()));
    if (IsTagFrame(first.data(), got)) start += FrameLengthOf(first.data());
  }
  if (info_.formatExtension[1]) {
    // A VBR file: count frames of the stated length from the start.
    double remaining = ms;
    int64_t at = start;
    std::vector<uint8_t> window(4096);
    while (remaining > 0 && at + 4 <= end) {
      uint8_t head[4];
      if (ReadAt(at, head, 4) != 4) break;
      const int frame = FrameLengthOf(head);
      if (frame > 0) {
        remaining -= info_.frameTime;
        at += frame;
        continue;
      }
      // Skip bytes that hold no frame.
      const int64_t got = ReadAt(at + 1, window.data(), int64_t(window.size()));
      int64_t skip = got - 3;
      for (int64_t i = 0; i + 4 <= got; ++i)
        if (FrameLengthOf(window.data() + i) > 0) {
          skip = i;
          break;
        }
      if (skip < 0) break;
      at += 1 + skip;
    }
    correction = std::nearbyint(remaining);
    return at;
  }
  if (info_.duration == 0 || info_.frameLength == 0 || end <= start) return start;
  const int64_t from = std::min<int64_t>(
      end, start + static_cast<int64_t>(std::nearbyint(double(info_.dataSize) / info_.duration * ms)));
  // Forward to a frame of the recorded length that another frame follows.
  const int64_t span = std::min<int64_t>(end - from, 4 * int64_t(info_.frameLength) + 8);
  if (span < 4) return from;
  std::vector<uint8_t> window(static_cast<size_t>(span));
  const int64_t got = ReadAt(from, window.data(), span);
  for (int64_t i = 0; i + 4 <= got; ++i) {
    const int frame = FrameLengthOf(window.data() + i);
    if (frame == 0 || std::abs(frame - int(info_.frameLength)) > 1) continue;
    if (i + frame + 4 <= got && FrameLengthOf(window.data() + i + frame) == 0) continue;
    correction = -std::nearbyint(double(i) / info_.frameLength * info_.frameTime);
    return from + i;
  }
  return from;
}

void TMpegConverter::Seek(double ms) {
  const TWaveFormat& out = output_.format;
  if (info_.waveFormat.avgBytesPerSec == 0 || out.avgBytesPerSec == 0) return;
  if (!(ms > 0)) ms = 0;
  // Decoding from a frame needs the frames before it: start early and drop what comes before ms. 100 ms
  // covers the synthesis overlap and, at common rates, layer III's bit reservoir; the reservoir reaches
  // back 511 bytes, which at low bit rates spans more frames than 100 ms hold.
  double lead = 100.0;
  if (layer_ == 3 && info_.frameLength > 0)
    lead = std::max(lead, (std::ceil(511.0 / info_.frameLength) + 1) * info_.frameTime);
  lead = std::min(ms, lead);
  double correction = 0;
  const int64_t position = PositionFor(ms - lead, correction);
  input_.Clear();
  output_.Clear();
  decoded_.Clear();
  carry_ = 0;
  padding_ = 0;
  failed_ = false;
  if (resampler_) resampler_->Reset();
  StreamWrapper().Seek(*stream_, 0, position);
  const bool fromStart = position == int64_t(info_.dataOffset);
  if (!StartDecoder(fromStart)) failed_ = true;
  // A decoder that starts behind the first frame never sees the LAME tag and trims nothing: drop the delay
  // that trimming removes from the start.
  double dropMs = lead;
  if (!fromStart) dropMs += GaplessDelay() * 1000.0 / info_.waveFormat.samplesPerSec;
  const int64_t dropBytes = static_cast<int64_t>(dropMs * out.samplesPerSec / 1000.0) * out.blockAlign;
  if (dropBytes > 0) Fill(dropBytes);
  output_.Consume(std::min(dropBytes, output_.Length()));
  currentTime_ = ms - correction;
}

} // namespace kiv

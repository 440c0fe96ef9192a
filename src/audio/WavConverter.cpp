#include "WavConverter.h"

#include "Assert.h"
#include "WaveInfo.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace kiv {

TWavConverter::TWavConverter(TStream* stream) : stream_(stream) {}

TWavConverter::~TWavConverter() = default;

bool TWavConverter::Open(const TMediaInfo& info) {
  info_ = info;
  failed_ = false;
  const TWaveFormat& f = info.waveFormat;
  const TMediaType kind = info.type == TMediaType::AdpcmWave || info.type == TMediaType::FloatWave
                              ? info.type
                              : TMediaType::PcmWave;
  // A description made elsewhere may carry any numbers: refuse what would divide by zero or stall.
  if (!stream_ || !IsUsableWaveFormat(f, kind)) return false;
  chunkSize_ = ChunkFor(info);
  input_.format = f;
  output_.format = f;
  input_.Reserve(chunkSize_);
  output_.Reserve(chunkSize_);
  TWavConverter::Seek(0);
  // Float, 24- and 32-bit and more than two channels are what the output cannot take as they are.
  if (kind == TMediaType::FloatWave || f.bitsPerSample == 24 || f.bitsPerSample == 32 || f.channels > 2)
    SetTarget(StandardWaveFormat());
  return true;
}

int64_t TWavConverter::ChunkFor(const TMediaInfo& info) const {
  const TWaveFormat& f = info.waveFormat;
  const int64_t chunk = f.bitsPerSample == 24 ? 12288 : 4096;
  // Whole frames only, so that no frame is split between two reads.
  return std::max<int64_t>(f.blockAlign, chunk / f.blockAlign * f.blockAlign);
}

void TWavConverter::Seek(double ms) {
  input_.Clear();
  output_.Clear();
  padding_ = 0;
  failed_ = false;
  if (resampler_) resampler_->Reset();
  if (!(ms > 0)) ms = 0;
  const TWaveFormat& f = info_.waveFormat;
  if (stream_ && f.blockAlign > 0 && f.avgBytesPerSec > 0) {
    const double bytes = std::min(std::nearbyint(ms / 1000.0 * f.avgBytesPerSec), double(info_.dataSize));
    const int64_t offset = static_cast<int64_t>(bytes) / f.blockAlign * f.blockAlign;
    StreamWrapper().Seek(*stream_, 0, int64_t(info_.dataOffset) + offset);
  }
  currentTime_ = ms;
}

bool TWavConverter::ReadInput() {
  return input_.ReadFrom(*stream_, DataEnd());
}

bool TWavConverter::Convert(TLocalBuffer& input) {
  const int64_t before = output_.Length();
  if (resampler_ && !(input.format == target_)) {
    resampler_->SetSource(input.format);
    if (!resampler_->IsReady()) {
      input.Clear();
      return false;
    }
    output_.Reserve(resampler_->OutputSize(input.Length()));
    output_.Commit(resampler_->Resample(input.Data(), input.Length(), output_.End()));
    // A partial frame stays for the next block.
    input.Consume(input.Length() / input.format.blockAlign * input.format.blockAlign);
  } else {
    output_.Reserve(input.Length());
    output_.AppendFrom(input);
  }
  if (output_.format.avgBytesPerSec > 0)
    currentTime_ += double(output_.Length() - before) * 1000.0 / output_.format.avgBytesPerSec;
  return true;
}

void TWavConverter::PadTo(int64_t n) {
  const int64_t missing = n - output_.Length();
  if (missing <= 0) return;
  output_.Reserve(missing);
  std::memset(output_.End(), SilenceByte(), static_cast<size_t>(missing));
  output_.Commit(missing);
  padding_ += missing;
}

bool TWavConverter::Fill(int64_t n) {
  if (output_.Length() >= n) return true;
  if (failed_) {
    PadTo(n);
    return false;
  }
  while (output_.Length() < n) {
    if (!ReadInput()) {
      const bool held = output_.Length() > 0;
      PadTo(n);
      return held;
    }
    if (!Convert(input_)) {
      failed_ = true;
      PadTo(n);
      return false;
    }
  }
  return true;
}

void TWavConverter::SetTarget(const TWaveFormat& format) {
  RY_ASSERT(TPcmResampler::CanWrite(format));
  if (!resampler_) resampler_ = std::make_unique<TPcmResampler>();
  target_ = format;
  resampler_->SetTarget(format);
  output_.format = format;
}

bool TWavConverter::DecodeToEnd(const std::function<void(const uint8_t* data, int64_t bytes)>& sink) {
  constexpr int64_t kPiece = 65536;
  for (;;) {
    const bool more = Fill(kPiece);
    const int64_t sound = output_.Length() - PaddingBytes();
    if (sound > 0) sink(output_.Data(), sound);
    const bool ended = !more || padding_ > 0;
    output_.Clear();
    padding_ = 0;
    if (ended) return !failed_;
  }
}

} // namespace kiv

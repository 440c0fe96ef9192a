#include "PcmResampler.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace kiv {
namespace {

constexpr uint16_t kTagPcm = 1;
constexpr uint16_t kTagFloat = 3;
constexpr uint32_t kLowestRate = 100;
constexpr uint32_t kHighestRate = 384000;

bool RateUsable(uint32_t rate) {
  return rate >= kLowestRate && rate <= kHighestRate;
}

int16_t Le16(const uint8_t* p) {
  return static_cast<int16_t>(p[0] | (p[1] << 8));
}

// Nearest integer, halves to even, as lrint in the default rounding mode, for |x| < 2^31; without the
// library call that lrint is here.
int32_t RoundToInt(double x) {
  const double shifted = x + 6755399441055744.0; // 2^52 + 2^51: the integer lands in the low mantissa bits
  int64_t bits;
  std::memcpy(&bits, &shifted, sizeof(bits));
  return static_cast<int32_t>(bits);
}

int32_t Clamp16(int32_t v) {
  return std::clamp<int32_t>(v, -32768, 32767);
}

// Working values of one frame: first (left) and second (right). Mono feeds both; 5.1 folds by plain sums.
template <int kChannels, class TSample> struct TReader {
  static void Read(const uint8_t* p, int32_t& first, int32_t& second) {
    if constexpr (kChannels == 1) {
      first = second = TSample::Get(p);
    } else if constexpr (kChannels == 2) {
      first = TSample::Get(p);
      second = TSample::Get(p + TSample::kBytes);
    } else {
      static_assert(kChannels == 6);
      constexpr int b = TSample::kBytes;
      const int32_t s0 = TSample::Get(p), s1 = TSample::Get(p + b), s2 = TSample::Get(p + 2 * b);
      const int32_t s3 = TSample::Get(p + 3 * b), s4 = TSample::Get(p + 4 * b), s5 = TSample::Get(p + 5 * b);
      first = s0 + s1 + s3 + s5;
      second = s1 + s2 + s4 + s5;
    }
  }
};

struct TUnsigned8 {
  static constexpr int kBytes = 1;
  static int32_t Get(const uint8_t* p) { return (int32_t(p[0]) - 128) * 256; }
};
struct TSigned16 {
  static constexpr int kBytes = 2;
  static int32_t Get(const uint8_t* p) { return Le16(p); }
};
struct TSigned24 {
  static constexpr int kBytes = 3;
  static int32_t Get(const uint8_t* p) { return Le16(p + 1); } // the top 16 bits
};
struct TSigned32 {
  static constexpr int kBytes = 4;
  static int32_t Get(const uint8_t* p) { return Le16(p + 2); }
};
struct TFloat32 {
  static constexpr int kBytes = 4;
  static int32_t Get(const uint8_t* p) {
    float f;
    std::memcpy(&f, p, 4);
    // Out-of-range and NaN samples must not reach the integer conversion; the result is clamped later.
    const float bounded = std::isnan(f) ? 0.0f : std::clamp(f, -4.0f, 4.0f);
    return RoundToInt(double(bounded * 32767.0f));
  }
};

} // namespace

bool TPcmResampler::CanRead(const TWaveFormat& f) {
  if (!RateUsable(f.samplesPerSec)) return false;
  if (f.formatTag == kTagFloat) {
    if (f.bitsPerSample != 32) return false;
  } else if (f.formatTag != kTagPcm || (f.bitsPerSample != 8 && f.bitsPerSample != 16 &&
                                        f.bitsPerSample != 24 && f.bitsPerSample != 32)) {
    return false;
  }
  const bool channelsOk = f.channels == 1 || f.channels == 2 ||
                          (f.channels == 6 && f.formatTag == kTagPcm && f.bitsPerSample == 16);
  return channelsOk && f.blockAlign == f.channels * f.bitsPerSample / 8;
}

bool TPcmResampler::CanWrite(const TWaveFormat& f) {
  return f.formatTag == kTagPcm && RateUsable(f.samplesPerSec) && (f.channels == 1 || f.channels == 2) &&
         (f.bitsPerSample == 8 || f.bitsPerSample == 16) && f.blockAlign == f.channels * f.bitsPerSample / 8;
}

void TPcmResampler::SetSource(const TWaveFormat& format) {
  if (format == source_) return;
  source_ = format;
  Update();
}

void TPcmResampler::SetTarget(const TWaveFormat& format) {
  if (format == target_) return;
  target_ = format;
  Update();
}

void TPcmResampler::Update() noexcept {
  ready_ = CanRead(source_) && CanWrite(target_);
  Reset();
}

void TPcmResampler::Reset() noexcept {
  first0_ = first1_ = second0_ = second1_ = 0;
  phase_ = 0;
}

int64_t TPcmResampler::OutputSize(int64_t inputBytes) const {
  if (!ready_ || inputBytes <= 0) return 0;
  // Output frames fall at phase_ + m * source rate (in target-rate units) for m = 0, 1, ... while that
  // lies before the block's end.
  const int64_t end = inputBytes / source_.blockAlign * int64_t(target_.samplesPerSec);
  if (phase_ >= end) return 0;
  const int64_t step = source_.samplesPerSec;
  return (end - phase_ + step - 1) / step * target_.blockAlign;
}

int64_t TPcmResampler::Resample(const uint8_t* input, int64_t inputBytes, uint8_t* out) {
  if (!ready_ || inputBytes <= 0) return 0;
  const int64_t frames = inputBytes / source_.blockAlign;
  const int channels = source_.channels;
  if (source_.formatTag == kTagFloat)
    return channels == 1 ? Run<TReader<1, TFloat32>>(input, frames, out)
                         : Run<TReader<2, TFloat32>>(input, frames, out);
  switch (source_.bitsPerSample) {
  case 8:
    return channels == 1 ? Run<TReader<1, TUnsigned8>>(input, frames, out)
                         : Run<TReader<2, TUnsigned8>>(input, frames, out);
  case 16:
    if (channels == 6) return Run<TReader<6, TSigned16>>(input, frames, out);
    return channels == 1 ? Run<TReader<1, TSigned16>>(input, frames, out)
                         : Run<TReader<2, TSigned16>>(input, frames, out);
  case 24:
    return channels == 1 ? Run<TReader<1, TSigned24>>(input, frames, out)
                         : Run<TReader<2, TSigned24>>(input, frames, out);
  default:
    return channels == 1 ? Run<TReader<1, TSigned32>>(input, frames, out)
                         : Run<TReader<2, TSigned32>>(input, frames, out);
  }
}

template <class TRead> int64_t TPcmResampler::Run(const uint8_t* input, int64_t frames, uint8_t* out) {
  const int stride = source_.blockAlign;
  const bool stereo = target_.channels == 2;
  const bool wide = target_.bitsPerSample == 16;
  const int64_t unit = target_.samplesPerSec; // one source frame
  const int64_t step = source_.samplesPerSec;
  const double perUnit = 1.0 / double(unit);
  uint8_t* w = out;
  int32_t f0 = first0_, f1 = first1_, s0 = second0_, s1 = second1_;
  int64_t p = phase_;
  for (int64_t k = 1; k <= frames; ++k, input += stride) {
    int32_t f2, s2;
    TRead::Read(input, f2, s2);
    while (k * unit > p) {
      // The three frames sit at t = 0, 1 and 2; the output lies at 1 <= t < 2. Twice the parabola's
      // value is rounded, then halved toward zero.
      const double t = double(p - (k - 2) * unit) * perUnit;
      const double c0 = (t - 1.0) * (t - 2.0);
      const double c1 = -2.0 * t * (t - 2.0);
      const double c2 = t * (t - 1.0);
      const int32_t a = Clamp16(RoundToInt(c0 * f0 + c1 * f1 + c2 * f2) / 2);
      const int32_t b = Clamp16(RoundToInt(c0 * s0 + c1 * s1 + c2 * s2) / 2);
      if (wide) {
        if (stereo) {
          const uint32_t pair = uint32_t(uint16_t(a)) | (uint32_t(uint16_t(b)) << 16);
          std::memcpy(w, &pair, 4);
          w += 4;
        } else {
          const int16_t m = static_cast<int16_t>((a + b) / 2);
          std::memcpy(w, &m, 2);
          w += 2;
        }
      } else if (stereo) {
        *w++ = static_cast<uint8_t>(a / 256 + 128);
        *w++ = static_cast<uint8_t>(b / 256 + 128);
      } else {
        *w++ = static_cast<uint8_t>((a + b) / 2 / 256 + 128);
      }
      p += step;
    }
    f0 = f1;
    f1 = f2;
    s0 = s1;
    s1 = s2;
  }
  first0_ = f0;
  first1_ = f1;
  second0_ = s0;
  second1_ = s1;
  phase_ = p - frames * unit;
  return w - out;
}

} // namespace kiv

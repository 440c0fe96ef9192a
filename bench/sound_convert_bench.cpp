// Sound conversion to the standard format (PCM, 2 channels, 44100 Hz, 16 bits): whole files decoded and
// converted through the converters the player uses, and our resampler beside libswresample on the same
// input. The "x_realtime" counter is seconds of sound per second of work.

#include "ConverterFactory.h"
#include "PcmResampler.h"
#include "Streams.h"

#include <benchmark/benchmark.h>

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/samplefmt.h>
#include <libswresample/swresample.h>
}

#include <algorithm>
#include <cmath>
#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace {

using namespace kiv;

std::string Media(const std::string& relative) {
  return std::string(KIV_TEST_MEDIA) + "/" + relative;
}

const std::vector<uint8_t>& FileBytes(const std::string& relative) {
  static std::map<std::string, std::vector<uint8_t>> cache;
  std::vector<uint8_t>& bytes = cache[relative];
  if (bytes.empty()) ReadWholeFile(Media(relative), bytes);
  return bytes;
}

// Decodes the file (held in memory) whole to the standard format, as kivpack decode does.
void DecodeWhole(benchmark::State& state, const std::string& relative) {
  const std::vector<uint8_t>& bytes = FileBytes(relative);
  if (bytes.empty()) {
    state.SkipWithError("test media missing");
    return;
  }
  TConverterFactory factory;
  double seconds = 0;
  for (auto _ : state) {
    TMemoryStream stream(bytes);
    TMediaInfo info;
    if (!factory.Describe(stream, relative, info)) {
      state.SkipWithError("cannot describe");
      return;
    }
    TOwned<TWavConverter> converter = factory.CreateOpened(&stream, relative, info);
    converter->SetTarget(StandardWaveFormat());
    int64_t produced = 0;
    converter->DecodeToEnd([&](const uint8_t* data, int64_t n) {
      benchmark::DoNotOptimize(data);
      produced += n;
    });
    seconds += double(produced) / StandardWaveFormat().avgBytesPerSec;
  }
  state.counters["x_realtime"] = benchmark::Counter(seconds, benchmark::Counter::kIsRate);
}

void BM_DecodeMp3ToStandard(benchmark::State& state) {
  DecodeWhole(state, "audio/lena/lena.mp3"); // 44.1 kHz mono, 128 kbit/s
}
BENCHMARK(BM_DecodeMp3ToStandard)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_DecodeMp3At22kToStandard(benchmark::State& state) {
  DecodeWhole(state, "generated/lena_mpeg2_layer3_22k_mono.mp3"); // resampled to 44.1 kHz
}
BENCHMARK(BM_DecodeMp3At22kToStandard)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_DecodeFloatWav48kToStandard(benchmark::State& state) {
  DecodeWhole(state, "generated/lena_f32_48k_stereo.wav");
}
BENCHMARK(BM_DecodeFloatWav48kToStandard)->Unit(benchmark::kMillisecond)->UseRealTime();

// The same input for both resamplers: 48 kHz float stereo (the data of the float wave file, repeated to
// ten seconds), or 22.05 kHz 16-bit mono, to 44.1 kHz 16-bit stereo in pieces of 1024 frames.
struct TResampleInput {
  std::vector<uint8_t> bytes;
  TWaveFormat format;
  int64_t frames = 0;
};

const TResampleInput& FloatInput() {
  static const TResampleInput input = [] {
    TResampleInput in;
    const std::vector<uint8_t>& file = FileBytes("generated/lena_f32_48k_stereo.wav");
    // The data chunk follows the 58-byte header sox writes for float files; only its size matters here.
    const size_t header = 58;
    if (file.size() <= header) return in;
    for (int i = 0; i < 10; ++i) in.bytes.insert(in.bytes.end(), file.begin() + header, file.end());
    in.bytes.resize(in.bytes.size() / 8 * 8);
    in.format.formatTag = 3;
    in.format.channels = 2;
    in.format.samplesPerSec = 48000;
    in.format.bitsPerSample = 32;
    in.format.blockAlign = 8;
    in.format.avgBytesPerSec = 384000;
    in.frames = int64_t(in.bytes.size()) / 8;
    return in;
  }();
  return input;
}

const TResampleInput& ShortInput() {
  static const TResampleInput input = [] {
    TResampleInput in;
    in.frames = 22050 * 10;
    in.bytes.resize(size_t(in.frames) * 2);
    for (int64_t i = 0; i < in.frames; ++i) {
      const int16_t v = static_cast<int16_t>(12000 * std::sin(i * 0.031) + 6000 * std::sin(i * 0.47));
      std::memcpy(&in.bytes[size_t(i) * 2], &v, 2);
    }
    in.format.formatTag = 1;
    in.format.channels = 1;
    in.format.samplesPerSec = 22050;
    in.format.bitsPerSample = 16;
    in.format.blockAlign = 2;
    in.format.avgBytesPerSec = 44100;
    return in;
  }();
  return input;
}

constexpr int64_t kPieceFrames = 1024;

void OursResample(benchmark::State& state, const TResampleInput& in) {
  if (in.frames == 0) {
    state.SkipWithError("test media missing");
    return;
  }
  TPcmResampler resampler;
  resampler.SetSource(in.format);
  resampler.SetTarget(StandardWaveFormat());
  std::vector<uint8_t> out(size_t(resampler.OutputSize(kPieceFrames * in.format.blockAlign)) + 64);
  double seconds = 0;
  for (auto _ : state) {
    resampler.Reset();
    for (int64_t at = 0; at < in.frames; at += kPieceFrames) {
      const int64_t bytes = std::min(kPieceFrames, in.frames - at) * in.format.blockAlign;
      const int64_t written = resampler.Resample(in.bytes.data() + at * in.format.blockAlign, bytes, out.data());
      benchmark::DoNotOptimize(written);
    }
    seconds += double(in.frames) / in.format.samplesPerSec;
  }
  state.counters["x_realtime"] = benchmark::Counter(seconds, benchmark::Counter::kIsRate);
}

void SwrResample(benchmark::State& state, const TResampleInput& in) {
  if (in.frames == 0) {
    state.SkipWithError("test media missing");
    return;
  }
  AVChannelLayout inLayout, outLayout;
  av_channel_layout_default(&inLayout, in.format.channels);
  av_channel_layout_default(&outLayout, 2);
  const AVSampleFormat inFormat = in.format.formatTag == 3 ? AV_SAMPLE_FMT_FLT : AV_SAMPLE_FMT_S16;
  SwrContext* swr = nullptr;
  if (swr_alloc_set_opts2(&swr, &outLayout, AV_SAMPLE_FMT_S16, 44100, &inLayout, inFormat,
                          int(in.format.samplesPerSec), 0, nullptr) < 0 ||
      swr_init(swr) < 0) {
    swr_free(&swr);
    state.SkipWithError("libswresample refused the formats");
    return;
  }
  std::vector<uint8_t> out(size_t(swr_get_out_samples(swr, int(kPieceFrames)) + 256) * 4);
  double seconds = 0;
  for (auto _ : state) {
    swr_init(swr); // a fresh start, like our Reset
    for (int64_t at = 0; at < in.frames; at += kPieceFrames) {
      const int frames = int(std::min(kPieceFrames, in.frames - at));
      const uint8_t* source = in.bytes.data() + at * in.format.blockAlign;
      uint8_t* target = out.data();
      const int written = swr_convert(swr, &target, int(out.size() / 4), &source, frames);
      benchmark::DoNotOptimize(written);
    }
    seconds += double(in.frames) / in.format.samplesPerSec;
  }
  swr_free(&swr);
  state.counters["x_realtime"] = benchmark::Counter(seconds, benchmark::Counter::kIsRate);
}

void BM_ResampleFloat48kOurs(benchmark::State& state) {
  OursResample(state, FloatInput());
}
BENCHMARK(BM_ResampleFloat48kOurs)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_ResampleFloat48kSwresample(benchmark::State& state) {
  SwrResample(state, FloatInput());
}
BENCHMARK(BM_ResampleFloat48kSwresample)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_ResampleMono22kOurs(benchmark::State& state) {
  OursResample(state, ShortInput());
}
BENCHMARK(BM_ResampleMono22kOurs)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_ResampleMono22kSwresample(benchmark::State& state) {
  SwrResample(state, ShortInput());
}
BENCHMARK(BM_ResampleMono22kSwresample)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

// Video frames by number: 300 frames of a 1280x720 H.264 clip in sequence, and 50 random frames (each a
// seek), through the frame source into a memory YUV image. Also MPEG audio description.

#include "DecoderFrameSource.h"
#include "SoundFileInfo.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>

namespace {

using namespace kiv;

// Made once with ffmpeg's test source; empty when ffmpeg is missing.
const std::string& Clip720() {
  static const std::string path = [] {
    const std::filesystem::path dir = std::filesystem::temp_directory_path() / "kiv_media_bench";
    std::filesystem::create_directories(dir);
    const std::filesystem::path clip = dir / "testsrc_720p_h264.mp4";
    if (!std::filesystem::exists(clip)) {
      const std::string command =
          "ffmpeg -v error -y -f lavfi -i testsrc=size=1280x720:rate=30 -frames:v 360 "
          "-c:v libx264 -preset veryfast -bf 3 -g 60 -pix_fmt yuv420p '" +
          clip.string() + "'";
      if (std::system(command.c_str()) != 0) return std::string();
    }
    return clip.string();
  }();
  return path;
}

std::unique_ptr<TWinVideoSource> OpenClip(benchmark::State& state) {
  if (Clip720().empty()) {
    state.SkipWithError("ffmpeg could not make the clip");
    return nullptr;
  }
  auto source = MakeWinVideoSource(new TFileStream(Clip720(), TFileMode::OpenRead), true, Clip720());
  if (!source) state.SkipWithError("libkivffmpeg.so not available");
  return source;
}

void BM_VideoSequential300(benchmark::State& state) {
  auto source = OpenClip(state);
  if (!source) return;
  auto image = TRef<TMemoryYUVImage>::Make(source->width, source->height, 0u);
  int64_t frames = 0;
  for (auto _ : state) {
    for (int64_t n = 0; n < 300; ++n) {
      if (!source->GetFrame(n, *image)) state.SkipWithError("decode failed");
      ++frames;
    }
    source->GetFrame(330, *image); // far away: the next round starts with a seek back to 0
  }
  state.counters["fps"] = benchmark::Counter(double(frames), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_VideoSequential300)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_VideoRandom50(benchmark::State& state) {
  auto source = OpenClip(state);
  if (!source) return;
  auto image = TRef<TMemoryYUVImage>::Make(source->width, source->height, 0u);
  std::mt19937 random(1234);
  std::uniform_int_distribution<int64_t> pick(0, 299);
  int64_t frames = 0;
  for (auto _ : state) {
    for (int i = 0; i < 50; ++i) {
      if (!source->GetFrame(pick(random), *image)) state.SkipWithError("decode failed");
      ++frames;
    }
  }
  state.counters["fps"] = benchmark::Counter(double(frames), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_VideoRandom50)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_DescribeCbrMp3(benchmark::State& state) {
  // 1 MB of 128 kbit/s frames behind a 4 KB ID3v2 tag.
  std::vector<uint8_t> bytes = {'I', 'D', '3', 4, 0, 0, 0, 0, 0x20, 0x00};
  bytes.resize(4106, 0);
  while (bytes.size() < 1'000'000) {
    bytes.insert(bytes.end(), {0xFF, 0xFB, 0x90, 0x00});
    bytes.resize(bytes.size() + 413, 0);
  }
  TMemoryStream stream(std::move(bytes));
  TMediaInfo info;
  for (auto _ : state)
    benchmark::DoNotOptimize(TMediaInfoExtractor::Extract(stream, "song.mp3", info));
}
BENCHMARK(BM_DescribeCbrMp3);

} // namespace

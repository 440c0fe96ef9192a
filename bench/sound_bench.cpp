// The software mixer: one second of output (44100 frames, mixed 441 at a time as the null and offline
// outputs do) from N voices, at the output rate and resampled from 22050 Hz.

#include "SoundMixer.h"

#include <benchmark/benchmark.h>

#include <vector>

namespace {

using namespace kiv;

void MixOneSecond(benchmark::State& state, uint32_t rate) {
  auto mixer = TSoundMixer::Create();
  TWaveFormat format;
  format.formatTag = 1;
  format.channels = 2;
  format.samplesPerSec = rate;
  format.blockAlign = 4;
  format.avgBytesPerSec = rate * 4;
  format.bitsPerSample = 16;
  std::vector<std::unique_ptr<TSoundBuffer>> voices;
  for (int i = 0; i < state.range(0); ++i) {
    voices.push_back(mixer->CreateBuffer(format, 2 * format.avgBytesPerSec));
    voices.back()->SetVolume(-600);
    voices.back()->Play(true);
  }
  std::vector<int16_t> out(441 * 2);
  for (auto _ : state) {
    for (int chunk = 0; chunk < 100; ++chunk)
      mixer->Mix(out.data(), 441);
    benchmark::DoNotOptimize(out.data());
  }
  state.SetItemsProcessed(state.iterations() * 44100);
}

void BM_MixSecondAtOutputRate(benchmark::State& state) {
  MixOneSecond(state, 44100);
}
void BM_MixSecondFrom22050(benchmark::State& state) {
  MixOneSecond(state, 22050);
}

BENCHMARK(BM_MixSecondAtOutputRate)->Arg(1)->Arg(8)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_MixSecondFrom22050)->Arg(1)->Arg(8)->Unit(benchmark::kMicrosecond);

} // namespace

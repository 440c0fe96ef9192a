// Reading a large stored picture or clip in place: a 200 MB method-2 entry through OpenEntry.

#include "PackedShowReader.h"
#include "PackedShowWriter.h"
#include "StreamViews.h"

#include <benchmark/benchmark.h>

#include <filesystem>
#include <unistd.h>

namespace {

using namespace kiv;

constexpr int64_t kEntrySize = 200 << 20;

// The show is built once, in a temporary file, and removed at exit.
class TBenchShow {
public:
  TBenchShow() {
    path_ = (std::filesystem::temp_directory_path() / ("kiv_bench_" + std::to_string(::getpid()) + ".KvShow"))
                .string();
    std::vector<uint8_t> data(static_cast<size_t>(kEntrySize));
    for (size_t i = 0; i < data.size(); ++i)
      data[i] = static_cast<uint8_t>(i * 2654435761u >> 13);
    TFileStream file(path_, TFileMode::Create);
    TKivPacker packer(file);
    packer.Add(u"media\\clip.bin", data, 2);
    packer.Finish(TTrailerForm::A);
  }
  ~TBenchShow() { std::filesystem::remove(path_); }
  const std::string& Path() const { return path_; }

private:
  std::string path_;
};

void BM_ReadMethod2Entry(benchmark::State& state) {
  static TBenchShow show;
  TKivUnpack unpack(show.Path());
  std::vector<uint8_t> buffer(static_cast<size_t>(state.range(0)));
  for (auto _ : state) {
    TOwned<TStream> stream = unpack.OpenEntry(u"media\\clip.bin");
    int64_t total = 0;
    for (int64_t n; (n = stream->Read(buffer.data(), static_cast<int64_t>(buffer.size()))) > 0;)
      total += n;
    if (total != kEntrySize) state.SkipWithError("short read");
    benchmark::DoNotOptimize(buffer.data());
  }
  state.SetBytesProcessed(state.iterations() * kEntrySize);
}
BENCHMARK(BM_ReadMethod2Entry)->Arg(1 << 16)->Arg(1 << 20)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_XorInPlace(benchmark::State& state) {
  const auto pattern = TCryptStream::MakePattern(std::string(TKivUnpack::kKey));
  std::vector<uint8_t> data(1 << 20, 0x5A);
  int64_t position = 0;
  for (auto _ : state) {
    TCryptStream::Apply(data.data(), static_cast<int64_t>(data.size()), position++, pattern, 32);
    benchmark::DoNotOptimize(data.data());
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(data.size()));
}
BENCHMARK(BM_XorInPlace);

} // namespace

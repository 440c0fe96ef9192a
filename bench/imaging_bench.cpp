// Decoding a 24-megapixel JPEG at full size and through DCT scaling at 1/4 and 1/8, beside djpeg on the
// same file. The picture is made in the set-up by scaling a real photo up with ffmpeg.

#include "ImageLevels.h"
#include "JpegLoader.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

std::string MediaDir() {
  // The repository's copy of the real media.
  const std::string self = __FILE__;
  return self.substr(0, self.rfind('/')) + "/../tests/media";
}

// 6000 x 4000 from a real photo; made once per run in the temporary folder.
const std::string& BigJpeg() {
  static const std::string path = [] {
    const char* tmp = std::getenv("TMPDIR");
    std::string out = std::string(tmp ? tmp : "/tmp") + "/kiv_bench_24mp.jpg";
    const std::string command = "ffmpeg -v error -y -i '" + MediaDir() + "/images/jpeg/misc/pelagrina.jpg'" +
                                " -vf scale=6000:4000 -q:v 3 '" + out + "' 2>/dev/null";
    if (std::system(command.c_str()) != 0) out.clear();
    return out;
  }();
  return path;
}

const std::vector<uint8_t>& BigJpegBytes() {
  static const std::vector<uint8_t> bytes = [] {
    std::vector<uint8_t> data;
    if (!BigJpeg().empty()) kiv::ReadWholeFile(BigJpeg(), data);
    return data;
  }();
  return bytes;
}

void BM_JpegDecode(benchmark::State& state) {
  const std::vector<uint8_t>& file = BigJpegBytes();
  if (file.empty()) {
    state.SkipWithError("could not make the 24-megapixel JPEG (ffmpeg and the shared media are needed)");
    return;
  }
  const int level = static_cast<int>(state.range(0));
  for (auto _ : state) {
    kiv::TRef<kiv::TBitmap> bitmap = kiv::DecodeJpeg(file, level);
    benchmark::DoNotOptimize(bitmap.get());
  }
  state.SetLabel("1/" + std::to_string(1 << level));
}
BENCHMARK(BM_JpegDecode)->Arg(0)->Arg(2)->Arg(3)->Unit(benchmark::kMillisecond)->UseRealTime();

// The reference: djpeg writing to /dev/null, process start included (a few milliseconds).
void BM_DjpegScale(benchmark::State& state) {
  if (BigJpeg().empty() || std::system("command -v djpeg >/dev/null 2>&1") != 0) {
    state.SkipWithError("djpeg or the 24-megapixel JPEG missing");
    return;
  }
  const int level = static_cast<int>(state.range(0));
  const std::string command =
      "djpeg -scale 1/" + std::to_string(1 << level) + " -bmp '" + BigJpeg() + "' > /dev/null";
  for (auto _ : state)
    if (std::system(command.c_str()) != 0) state.SkipWithError("djpeg failed");
  state.SetLabel("djpeg -scale 1/" + std::to_string(1 << level));
}
BENCHMARK(BM_DjpegScale)->Arg(0)->Arg(2)->Arg(3)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

// Loading a 4000 x 3000 picture for a slide object shown at 400 x 300 pixels: at full size, as every picture
// loaded before levels of detail, and at the level that size needs (500 x 375). The JPEG is made in the
// set-up by scaling a real photo with ffmpeg, else drawn with libjpeg; the BMP of the same size shows the
// formats that decode only at full size and are halved afterwards. Counters: the bytes the cache and the
// drawer's copy keep per picture, and the level.

#include "../tests/support/TestBmp.h"
#include "CacheImageDecoder.h"
#include "ShowFileAccess.h"
#include "SharedImageCache.h"
#include "Slide.h"
#include "ShowPicture.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <jpeglib.h>

namespace {

using namespace kiv;

constexpr int kWidth = 4000, kHeight = 3000;

std::string MediaDir() {
  // The repository's copy of the real media.
  const std::string self = __FILE__;
  return self.substr(0, self.rfind('/')) + "/../tests/media";
}

// A smooth synthetic picture, for machines without ffmpeg or the media.
bool DrawJpeg(const std::string& path) {
  jpeg_compress_struct cinfo{};
  jpeg_error_mgr errors{};
  cinfo.err = jpeg_std_error(&errors);
  jpeg_create_compress(&cinfo);
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (!file) return false;
  jpeg_stdio_dest(&cinfo, file);
  cinfo.image_width = kWidth;
  cinfo.image_height = kHeight;
  cinfo.input_components = 3;
  cinfo.in_color_space = JCS_RGB;
  jpeg_set_defaults(&cinfo);
  jpeg_set_quality(&cinfo, 90, TRUE);
  jpeg_start_compress(&cinfo, TRUE);
  std::vector<uint8_t> row(size_t{kWidth} * 3);
  while (cinfo.next_scanline < cinfo.image_height) {
    const unsigned y = cinfo.next_scanline;
    for (unsigned x = 0; x < kWidth; ++x) {
      row[x * 3] = static_cast<uint8_t>(x * 255 / kWidth);
      row[x * 3 + 1] = static_cast<uint8_t>(y * 255 / kHeight);
      row[x * 3 + 2] = static_cast<uint8_t>((x ^ y) & 0xFF);
    }
    JSAMPROW line = row.data();
    jpeg_write_scanlines(&cinfo, &line, 1);
  }
  jpeg_finish_compress(&cinfo);
  jpeg_destroy_compress(&cinfo);
  return std::fclose(file) == 0;
}

void WriteBmp(const std::string& path) {
  test_files::WriteBmpFile(path, kWidth, kHeight, [](int x, int y) {
    return uint32_t((x + y) & 0xFF) << 16 | uint32_t(y & 0xFF) << 8 | uint32_t(x & 0xFF);
  });
}

// The folder of the pictures, made once per run; empty when they could not be made.
const std::string& PictureFolder() {
  static const std::string folder = [] {
    const char* tmp = std::getenv("TMPDIR");
    const std::string dir = std::string(tmp ? tmp : "/tmp") + "/kiv_model_bench/";
    std::filesystem::create_directories(dir);
    const std::string jpeg = dir + "big.jpg";
    const std::string command = "ffmpeg -v error -y -i '" + MediaDir() + "/images/jpeg/misc/pelagrina.jpg'" +
                                " -vf scale=4000:3000 -q:v 3 '" + jpeg + "' 2>/dev/null";
    if (std::system(command.c_str()) != 0 && !DrawJpeg(jpeg)) return std::string();
    WriteBmp(dir + "big.bmp");
    InstallImageDecoder();
    return dir;
  }();
  return folder;
}

TRef<TFileAccessor> Accessor() {
  return TRef<TFileAccessor>::Make(TRef<TFileSource>::Adopt(new TMappedFileSource(PictureFolder())),
                                   PictureFolder());
}

const char16_t* FileName(int64_t format) {
  return format == 0 ? u"big.jpg" : u"big.bmp";
}

// Arguments: format (0 JPEG, 1 BMP), wanted width (0: full size; the height keeps the shape).
TPictureSize Wanted(const benchmark::State& state) {
  const int width = static_cast<int>(state.range(1));
  return {width, width * kHeight / kWidth};
}

void Label(benchmark::State& state, int level, int64_t bytes) {
  state.counters["level"] = level;
  state.counters["kept_MB"] = static_cast<double>(bytes) / 1e6;
  state.SetLabel(std::string(state.range(0) == 0 ? "JPEG" : "BMP") +
                 (state.range(1) == 0 ? " full size" : " for " + std::to_string(state.range(1)) + " wide"));
}

// The shared cache alone: each round decodes anew, since the last view takes the entry with it.
void BM_LoadSharedPicture(benchmark::State& state) {
  if (PictureFolder().empty()) {
    state.SkipWithError("could not make the pictures");
    return;
  }
  TRef<TFileAccessor> accessor = Accessor();
  int level = 0;
  int64_t bytes = 0;
  for (auto _ : state) {
    TOwned<TKivImage> image = LoadSharedImage(*accessor, FileName(state.range(0)), Wanted(state));
    if (!image) {
      state.SkipWithError("no picture");
      return;
    }
    level = image->Level();
    bytes = int64_t{image->Bitmap().Width()} * image->Bitmap().Height() * 4;
  }
  Label(state, level, bytes);
}
BENCHMARK(BM_LoadSharedPicture)
    ->Args({0, 0})
    ->Args({0, 400})
    ->Args({1, 0})
    ->Args({1, 400})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// As a slide object gets it: through the host, with the drawer's copy of the pixels.
void BM_LoadKivPicture(benchmark::State& state) {
  if (PictureFolder().empty()) {
    state.SkipWithError("could not make the pictures");
    return;
  }
  TRef<TFileAccessor> accessor = Accessor();
  TSlideHostCallbacks callbacks;
  callbacks.frameRect = [] { return TRect{0, 0, 400, 300}; };
  callbacks.camera = [] { return T3DVector{200, 150, -300}; };
  callbacks.findSection = [](std::u16string_view) { return nullptr; };
  auto host = TRef<TKivSlideHost>::Make(accessor.get(), std::move(callbacks), u"Buttons", false);
  const TPictureSize wanted = Wanted(state);
  int level = 0;
  int64_t bytes = 0;
  for (auto _ : state) {
    TRef<TKivPicture> picture =
        LoadKivPicture(*host, FileName(state.range(0)), [wanted](TPictureSize) { return wanted; });
    if (!picture) {
      state.SkipWithError("no picture");
      return;
    }
    level = picture->Level();
    // The cache's bitmap and the drawer's copy.
    bytes = 2 * int64_t{picture->Bitmap().Width()} * picture->Bitmap().Height() * 4;
  }
  Label(state, level, bytes);
}
BENCHMARK(BM_LoadKivPicture)->Args({0, 0})->Args({0, 400})->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

namespace {

// One halving of a 4000 x 3000 picture as the cache makes levels a decoder cannot.
void BM_HalvePicture(benchmark::State& state) {
  std::vector<uint32_t> pixels(size_t{kWidth} * kHeight);
  for (size_t i = 0; i < pixels.size(); ++i)
    pixels[i] = 0xFF000000u | static_cast<uint32_t>(i * 2654435761u >> 8);
  const auto bitmap = TRef<TCachedBitmap>::Make(kWidth, kHeight, std::move(pixels));
  for (auto _ : state)
    benchmark::DoNotOptimize(HalveCachedBitmap(*bitmap).get());
}
BENCHMARK(BM_HalvePicture)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

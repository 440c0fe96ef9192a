// Loading and writing back a project description of about 5 MB.

#include "IniDocument.h"
#include "Streams.h"

#include <benchmark/benchmark.h>

#include <memory>

#include <string>
#include <vector>

namespace {

// A project description as the authoring tool writes it: slides with keys, images and key points.
const std::vector<uint8_t>& ProjectText() {
  static const std::vector<uint8_t> text = [] {
    std::string s = "\xEF\xBB\xBF; Project description\r\n\r\n[main]\r\nopt_scr_full=1\r\nopt_loop=0\r\n";
    for (int slide = 0; s.size() < 5 * 1024 * 1024; ++slide) {
      std::string n = std::to_string(slide);
      s += "\r\n[slide" + n + "]\r\nEffect_Type=" + std::to_string(slide % 40) +
           "\r\nDuration=" + std::to_string(3000 + slide) + "\r\nCaption=Slide n\xC2\xB0 " + n +
           " \xE2\x80\x93 caf\xC3\xA9\r\n";
      for (int image = 0; image < 3; ++image) {
        s += "object Image" + std::to_string(image) +
             ": Image\r\n  FitMode=PlaceInto\r\n  FileName=pictures\\img" + n + "_" + std::to_string(image) +
             ".jpg\r\n  ShadowOpacity=50\r\n  Color=255,128,0\r\n";
        for (int key = 0; key < 3; ++key)
          s += "  object : KeyPoint\r\n    Time=" + std::to_string(key * 1000) +
               "\r\n    Position=10.5,20.25\r\n    Scale=100\r\n    Rotation=0,0,45\r\n  end\r\n";
        s += "end\r\n";
      }
    }
    return std::vector<uint8_t>(s.begin(), s.end());
  }();
  return text;
}

void BM_IniLoad(benchmark::State& state) {
  const auto& text = ProjectText();
  for (auto _ : state) {
    kiv::TMemoryStream stream(text);
    auto doc = std::make_unique<kiv::TIniFile>();
    bool ok = doc->LoadFromStream(stream);
    benchmark::DoNotOptimize(ok);
    // Freeing some 400 000 line items is measured by BM_IniLoadAndFree.
    state.PauseTiming();
    doc.reset();
    state.ResumeTiming();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(text.size()));
}
BENCHMARK(BM_IniLoad)->Unit(benchmark::kMillisecond);

void BM_IniLoadAndFree(benchmark::State& state) {
  const auto& text = ProjectText();
  for (auto _ : state) {
    kiv::TMemoryStream stream(text);
    kiv::TIniFile doc;
    bool ok = doc.LoadFromStream(stream);
    benchmark::DoNotOptimize(ok);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(text.size()));
}
BENCHMARK(BM_IniLoadAndFree)->Unit(benchmark::kMillisecond);

void BM_IniSave(benchmark::State& state) {
  const auto& text = ProjectText();
  kiv::TMemoryStream source(text);
  kiv::TIniFile doc;
  if (!doc.LoadFromStream(source)) state.SkipWithError("load failed");
  for (auto _ : state) {
    kiv::TMemoryStream out;
    out.Data().reserve(text.size());
    bool ok = doc.SaveToStream(out);
    benchmark::DoNotOptimize(ok);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(text.size()));
}
BENCHMARK(BM_IniSave)->Unit(benchmark::kMillisecond);

void BM_IniLookup(benchmark::State& state) {
  const auto& text = ProjectText();
  kiv::TMemoryStream source(text);
  kiv::TIniFile doc;
  if (!doc.LoadFromStream(source)) state.SkipWithError("load failed");
  int slide = 0;
  for (auto _ : state) {
    std::u16string name = u"Slide" + std::u16string(1, static_cast<char16_t>(u'0' + slide++ % 10));
    benchmark::DoNotOptimize(doc.ReadInteger(name, u"Duration", 0));
  }
}
BENCHMARK(BM_IniLookup);

} // namespace

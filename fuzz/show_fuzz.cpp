// Reads arbitrary bytes as a project document and builds every section's object tree with the slide
// model, as the producer does: load, then place at a few times, plan resolutions, hit-test and reload.
// No device: pictures and texts are only described, never drawn.

#include "ContentObjects.h"
#include "IniDocument.h"
#include "Slide.h"
#include "Streams.h"

#include <cstdint>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace kiv;
  static const bool registered = (RegisterContentKinds(), true);
  (void)registered;
  constexpr float kWidth = 800, kHeight = 600;
  constexpr int kMaxSlides = 8;

  TMemoryStream input(std::vector<uint8_t>(data, data + size));
  TIniFile doc;
  doc.LoadFromStream(input);
  auto host = TRef<TKivSlideHost>::Make([] { return T3DVector{kWidth / 2, kHeight / 2, -kHeight}; });
  host->SetSlideCount(kMaxSlides);
  const TIniSection* main = doc.FindSection(u"main");
  int index = 0;
  for (const TIniSection* section = doc.FirstSection(); section && index < kMaxSlides;
       section = doc.NextSection(section), ++index) {
    try {
      auto slide = MakeOwned<TKivSlide>(host, 0);
      slide->SetSize(kWidth, kHeight);
      slide->SetBaseOrigin({kWidth / 2, kHeight / 2, 0});
      if (main) {
        slide->LoadSlide(*main, section, false, 500, 300, index);
      } else {
        slide->SetTimes(0, 10000, 300, 500);
        slide->LoadChildren(*section, false);
      }
      for (double time : {0.0, 1000.0, 5000.0, 12000.0}) {
        slide->SetTime(true, time);
        slide->UpdateGeometry(true);
        slide->FindObjectAt(kWidth / 2, kHeight / 2);
      }
      slide->PlanResolution();
      slide->LoadChildren(*section, true);
      slide->UpdateGeometry(true);
    } catch (const Exception&) {
      // Show data may be refused, never crash.
    }
  }
  return 0;
}

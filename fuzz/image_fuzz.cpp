// Decodes arbitrary bytes through every picture loader (first byte picks the name it is given) and asks
// for every level; also reads them as glyph-cache and cached-text streams.

#include "StoredGlyphs.h"
#include "ImageLevels.h"

#include <cstdint>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace kiv;
  if (size < 1) return 0;
  static const char16_t* const kNames[] = {u"", u"a.jpg", u"a.png", u"a.gif", u"a.bmp", u"a.rygfx"};
  const char16_t* name = kNames[data[0] % 6];
  std::vector<uint8_t> bytes(data + 1, data + size);
  TMemoryStream stream(bytes);
  if (TOwned<TImage> image = LoadImage(stream, name))
    for (int level = 0; level <= 4; ++level)
      image->GetMipLevel(level, TBitmapFormat::Pf32bit);

  auto fonts = TRef<TFontCache>::Make();
  TMemoryStream glyphs(bytes);
  fonts->Load(glyphs);
  TMemoryStream text(bytes);
  if (TOwned<TCachedVectorText> t = LoadCachedVectorText(text, *fonts))
    for (int line = 0; line < t->LineCount(); ++line)
      t->LineMetrics(line);
  return 0;
}

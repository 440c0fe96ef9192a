#pragma once
// Skins and pictures held in memory for the panel and overlay tests: a document text per name and
// solid-coloured pictures made in the test, so that painted bars can be checked pixel by pixel.

#include "NavigationPanel.h"
#include "Streams.h"

#include <map>
#include <memory>
#include <string>
#include <vector>

namespace kiv::testing_support {

inline std::unique_ptr<TIniFile> IniText(const std::string& text) {
  auto document = std::make_unique<TIniFile>();
  TMemoryStream stream(std::vector<uint8_t>(text.begin(), text.end()));
  document->LoadFromStream(stream);
  return document;
}

// A picture filled by pixel(x, y) -> 0xAARRGGBB.
template <class F> TRef<TBitmap> Picture(int width, int height, F pixel) {
  auto picture = TRef<TBitmap>::Make(width, height, TBitmapFormat::Pf32bit);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x)
      picture->SetPixel32(x, y, pixel(x, y));
  return picture;
}
inline TRef<TBitmap> Solid(int width, int height, uint32_t argb) {
  return Picture(width, height, [argb](int, int) { return argb; });
}

// Files by name as the show would name them; names compare exactly.
struct TMemoryFiles {
  std::map<std::u16string, std::string> documents;
  std::map<std::u16string, TRef<TBitmap>> pictures;
  std::vector<std::u16string> picturesAsked;

  TSkinFiles Files() {
    TSkinFiles files;
    files.document = [this](std::u16string_view name) -> std::unique_ptr<TIniFile> {
      const auto found = documents.find(std::u16string(name));
      return found == documents.end() ? nullptr : IniText(found->second);
    };
    files.picture = [this](std::u16string_view name) -> TRef<TBitmap> {
      picturesAsked.emplace_back(name);
      const auto found = pictures.find(std::u16string(name));
      return found == pictures.end() ? nullptr : found->second;
    };
    return files;
  }
};

// Colours of the test skin.
inline constexpr uint32_t kPlateLeft = 0xFF402010, kPlateMiddle = 0xFF204060, kPlateRight = 0xFF106020;
inline constexpr uint32_t kButtonBack = 0xFF303030;
inline constexpr uint32_t kStateColors[4] = {0xFFE02020, 0xFF20E020, 0xFF2020E0, 0xFF909090};
inline constexpr uint32_t kPlayColor = 0xFFE0E020;

// A bar of three cells in one row: a 6-pixel left cap, the buttons' cell (tiled) and a 6-pixel right
// cap, 16 high in the picture. Buttons have a 14 x 14 background and a 10 x 10 picture per state cut
// from one strip (red, green, blue, grey); the pause button also has a yellow play picture. Slots: the
// first button moves 1 pixel when pressed and has 2 pixels after it, the second 2 pixels.
// Laid out with home, pause and exit: buttons' cell 4 + 4 + 3 x 14 + 2 + 2 = 54 wide, 3 + 3 + 14 = 20
// high; the bar is 66 x 20; buttons at x 10, 26, 42 and y 3.
inline const char* kSkin = R"([Common]
ColsCount=3
RowsCount=1
[CellWithObjects]
Cell=2,1
LeftOffset=4
TopOffset=3
RightOffset=4
BottomOffset=3
[Cell(1:1)]
TextureType=stretch
Bounds=0,0,6,16
flnm_Texture=plate.bmp
[Cell(2:1)]
TextureType=repeat
Bounds=6,0,4,16
flnm_Texture=plate.bmp
[Cell(3:1)]
TextureType=stretch
Bounds=10,0,6,16
flnm_Texture=plate.bmp
[Objects]
Count=3
[Object1]
ShiftPressed=1
Space=2
[Object2]
Space=2
[Object3]
[ACTION-home]
ActionType=home
BtnTextureNormalBounds=0,0,10,10
BtnTextureHoverBounds=10,0,10,10
BtnTexturePressedBounds=20,0,10,10
BtnTextureDisabledBounds=30,0,10,10
flnm_BtnTextureNormal=strip.bmp
BgTextureNormalBounds=0,0,14,14
flnm_BgTextureNormal=back.bmp
[ACTION-pause]
ActionType=pause
BtnTextureNormalBounds=0,0,10,10
BtnTextureHoverBounds=10,0,10,10
BtnTexturePressedBounds=20,0,10,10
BtnTextureDisabledBounds=30,0,10,10
flnm_BtnTextureNormal=strip.bmp
flnm_BtnTextureNormalPlay=play.bmp
BgTextureNormalBounds=0,0,14,14
flnm_BgTextureNormal=back.bmp
[ACTION-help]
ActionType=help
BtnTextureNormalBounds=0,0,10,10
flnm_BtnTextureNormal=strip.bmp
BgTextureNormalBounds=0,0,14,14
flnm_BgTextureNormal=back.bmp
[ACTION-exit]
ActionType=exit
BtnTextureNormalBounds=0,0,10,10
BtnTextureHoverBounds=10,0,10,10
BtnTexturePressedBounds=20,0,10,10
BtnTextureDisabledBounds=30,0,10,10
flnm_BtnTextureNormal=strip.bmp
BgTextureNormalBounds=0,0,14,14
flnm_BgTextureNormal=back.bmp
)";

// The test skin's files under the folder "nav\".
inline void AddTestSkin(TMemoryFiles& files, const std::string& skin = kSkin) {
  files.documents[u"nav\\skin.ini"] = skin;
  files.pictures[u"nav\\plate.bmp"] = Picture(16, 16, [](int x, int) {
    return x < 6 ? kPlateLeft : x < 10 ? kPlateMiddle : kPlateRight;
  });
  files.pictures[u"nav\\strip.bmp"] = Picture(40, 10, [](int x, int) { return kStateColors[x / 10]; });
  files.pictures[u"nav\\play.bmp"] = Solid(40, 10, kPlayColor);
  files.pictures[u"nav\\back.bmp"] = Solid(14, 14, kButtonBack);
}

} // namespace kiv::testing_support

// Themed button bodies: nine patches stretched to a width, states, tint, clipping and error pictures.

#include "ButtonGenerator.h"
#include "CacheImageDecoder.h"
#include "GeneratedGolden.h"
#include "Utf8Conversion.h"

#include <map>

namespace kiv {
namespace {

// 30 x 20 pictures: corners 8 x 6, edges and a 14 x 8 centre.
constexpr const char* kTheme = R"([NormalState]
LeftTop=s0.bmp,0,0,8,6
Top=s0.bmp,8,0,22,6
RightTop=s0.bmp,22,0,30,6
Right=s0.bmp,22,6,30,14
RightBottom=s0.bmp,22,14,30,20
Bottom=s0.bmp,8,14,22,20
LeftBottom=s0.bmp,0,14,8,20
Left=s0.bmp,0,6,8,14
Center=s0.bmp,8,6,22,14
[HoverState]
LeftTop=s1.bmp,0,0,8,6
Top=s1.bmp,8,0,22,6
RightTop=s1.bmp,22,0,30,6
Right=s1.bmp,22,6,30,14
RightBottom=s1.bmp,22,14,30,20
Bottom=s1.bmp,8,14,22,20
LeftBottom=s1.bmp,0,14,8,20
Left=s1.bmp,0,6,8,14
Center=s1.bmp,8,6,22,14
[ClickState]
LeftTop=s2.bmp,0,0,8,6
Top=s2.bmp,8,0,22,6
RightTop=s2.bmp,22,0,30,6
Right=s2.bmp, 22, 6, 30, 14
RightBottom=s2.bmp,22,14,30,20
Bottom=s2.bmp,8,14,22,20
LeftBottom=s2.bmp,0,14,8,20
Left=s2.bmp,0,6,8,14
Center=s2.bmp,8,6,22,14
[TextParams]
Color=10,20,30
BtnOffset=4.5
BtnMinWidth=60
Filtering=Nearest
)";

// Each pixel says where it came from: x, y and the state.
uint32_t Coded(int x, int y, int state) {
  return 0xFF000000u | uint32_t(x) << 16 | uint32_t(y) << 8 | uint32_t(state);
}

struct TThemeRig {
  std::map<std::u16string, TRef<TCachedBitmap>> pictures;
  int asked = 0;
  TButtonProducer producer{[this](std::u16string_view name) -> TRef<TCachedBitmap> {
                             ++asked;
                             const auto it = pictures.find(std::u16string(name));
                             return it == pictures.end() ? nullptr : it->second;
                           },
                           nullptr};

  explicit TThemeRig(const std::string& theme = kTheme) {
    for (int state = 0; state < 3; ++state) {
      std::vector<uint32_t> pixels(30 * 20);
      for (int y = 0; y < 20; ++y)
        for (int x = 0; x < 30; ++x)
          pixels[size_t(y) * 30 + x] = Coded(x, y, state);
      pictures[u"themes\\gold\\s" + Utf8ToUtf16(std::to_string(state)) + u".bmp"] =
          TRef<TCachedBitmap>::Make(30, 20, std::move(pixels));
    }
    const std::string text = "\xEF\xBB\xBF" + theme;
    TMemoryStream stream(std::vector<uint8_t>(text.begin(), text.end()));
    EXPECT_TRUE(producer.ReadTheme(stream, u"themes\\gold"));
  }
};

TEST(ButtonBody, ThemeDescriptionIsRead) {
  TThemeRig rig;
  EXPECT_TRUE(rig.producer.Ready());
  EXPECT_EQ(rig.producer.NominalWidth(), 30);
  EXPECT_EQ(rig.producer.NominalHeight(), 20);
  EXPECT_EQ(rig.producer.Patches(TButtonState::Click)[kRight], (TPatchRef{u"s2.bmp", 22, 6, 30, 14}));
  EXPECT_EQ(rig.producer.CaptionColor(), (TIniRGB{30, 20, 10})); // blue, green, red
  EXPECT_EQ(rig.producer.BtnOffset(), 4.5);
  EXPECT_EQ(rig.producer.BtnMinWidth(), 60);
  EXPECT_EQ(Utf16ToUtf8(rig.producer.Filtering()), "Nearest");
  EXPECT_EQ(ParsePatchRef(u"a.png, 1, 2"), (TPatchRef{u"a.png", 1, 2, 0, 0}));
  EXPECT_EQ(ParsePatchRef(u"a.png,x,3,4,5"), (TPatchRef{u"a.png", 0, 3, 4, 5}));
}

TEST(ButtonBody, NinePatchesStretchEdgesAndCentreKeepCorners) {
  TThemeRig rig;
  for (int state = 0; state < 3; ++state)
    for (int width : {30, 70, 17}) {
      TRef<TCachedBitmap> body = rig.producer.MakeButton(static_cast<TButtonState>(state), width, 0, 0, 0);
      ASSERT_TRUE(body);
      ASSERT_EQ(body->Width(), width);
      ASSERT_EQ(body->Height(), 20);
      // Centre from x = 8 to width - 8: its columns and the top and bottom edges take column 8; the right
      // side is the picture's last 8 columns moved to the right end.
      const int right = width - 8;
      for (int y = 0; y < 20; ++y)
        for (int x = 0; x < width; ++x) {
          const int sx = x >= right ? 22 + x - right : x < 8 ? x : 8;
          ASSERT_EQ(body->Pixel(x, y), Coded(sx, y, state))
              << "state " << state << ", width " << width << ", pixel " << x << "," << y;
        }
    }
  // Each patch picture was asked for once.
  EXPECT_EQ(rig.asked, 3);
}

TEST(ButtonBody, TintTurnsHueAndShiftsSaturationAndLightness) {
  const struct {
    uint32_t colour;
    int hue, saturation, lightness;
    uint32_t expected;
  } cases[] = {
      // Red: H 0, S 255, L round(127.5) = 128. Hue 120 turns H by 85: m2 = (255 + 128 - 128) / 255 = 1,
      // m1 = 256 / 255 - 1; R = V(170) = m1, G = V(85) = m2, B = V(0) = m1 -> (1, 255, 1).
      {0x80FF0000u, 120, 0, 0, 0x8001FF01u},
      // Saturation -100 takes S to 0: grey at L.
      {0xFFFF0000u, 0, -100, 0, 0xFF808080u},
      // Blue: H 170, S 255, L 128. Hue 180 turns H by 128 to 42 (wrapped); R = V(127) = m2,
      // G = V(42) = m1 + (m2 - m1) * 42 / 42.5 -> 252, B = V(212) = m1 -> (255, 252, 1).
      {0xFF0000FFu, 180, 0, 0, 0xFFFFFC01u},
      // Lightness +50: L 128 + 128 = 255 -> white.
      {0xFF00FF00u, 0, 0, 50, 0xFFFFFFFFu},
  };
  for (const auto& c : cases) {
    std::map<std::u16string, TRef<TCachedBitmap>> pictures{
        {u"t\\p.bmp", TRef<TCachedBitmap>::Make(4, 2, std::vector<uint32_t>(8, c.colour))}};
    TButtonProducer producer([&](std::u16string_view name) { return pictures[std::u16string(name)]; },
                             nullptr);
    const std::string text =
        "[NormalState]\nCenter=p.bmp,0,0,4,2\nRight=p.bmp,4,0,4,2\nBottom=p.bmp,0,2,4,2\n";
    TMemoryStream stream(std::vector<uint8_t>(text.begin(), text.end()));
    ASSERT_TRUE(producer.ReadTheme(stream, u"t"));
    TRef<TCachedBitmap> body = producer.MakeButton(TButtonState::Normal, 6, c.hue, c.saturation, c.lightness);
    ASSERT_TRUE(body);
    EXPECT_EQ(body->Pixel(3, 1), c.expected)
        << std::hex << c.colour << " " << c.hue << "/" << c.saturation << "/" << c.lightness;
  }
}

TEST(ButtonBody, RectanglesAndWidthsOutsideThePicturesAreClipped) {
  // Patches reaching far outside their picture, and widths below the left and right patches together.
  TThemeRig rig(
      "[NormalState]\nLeftTop=s0.bmp,-5,-5,900,900\nTop=s0.bmp,8,0,22,6000\nRightTop=s0.bmp,22,0,3000,6\n"
      "Right=s0.bmp,22,6,30,14\nRightBottom=s0.bmp,22,14,30,20\nBottom=s0.bmp,8,14,22,20\n"
      "LeftBottom=s0.bmp,0,14,8,9999\nLeft=s0.bmp,0,6,800,14\nCenter=s0.bmp,-40,6,22,14\n");
  for (int width : {1, 5, 15, 16, 40}) {
    TRef<TCachedBitmap> body = rig.producer.MakeButton(TButtonState::Normal, width, 0, 0, 0);
    ASSERT_TRUE(body) << width;
    EXPECT_EQ(body->Width(), width);
    EXPECT_EQ(body->Height(), 20);
  }
  // A body beyond the picture cap is not made at all (a theme as tall as a picture may be, at full width).
  TThemeRig tall("[NormalState]\nBottom=,0,0,0,16384\nRight=,0,0,30,0\n");
  EXPECT_EQ(tall.producer.NominalHeight(), 16384);
  EXPECT_FALSE(tall.producer.MakeButton(TButtonState::Normal, kMaxPictureSide, 0, 0, 0));
  EXPECT_TRUE(tall.producer.MakeButton(TButtonState::Normal, 30, 0, 0, 0));
  // Request names: numbers that do not parse count as 0, widths are bounded.
  const TButtonRequest request = ParseButtonRequest(u"C:\\themes\\a:b:2:-5:x:7:9");
  EXPECT_EQ(Utf16ToUtf8(request.themePath), "C:\\themes\\a:b");
  EXPECT_EQ(request.state, 2);
  EXPECT_EQ(request.width, 1);
  EXPECT_EQ(request.hue, 0);
  EXPECT_EQ(request.saturation, 7);
  EXPECT_EQ(ParseButtonRequest(u"t:9:99999999:0:0:0").state, 0);
  EXPECT_EQ(ParseButtonRequest(u"t:1:99999999:0:0:0").width, kMaxPictureSide);
  TButtonRequest same{u"a\\b", 1, 120, -30, 40, 5};
  const TButtonRequest back = ParseButtonRequest(EncodeButtonRequest(same));
  EXPECT_EQ(back.themePath, same.themePath);
  EXPECT_EQ(back.width, 120);
  EXPECT_EQ(back.saturation, 40);
}

TEST(ButtonBody, APatchPictureOfAnotherSizeGivesTheErrorPicture) {
  TThemeRig rig;
  rig.pictures[u"themes\\gold\\s1.bmp"] = TRef<TCachedBitmap>::Make(29, 20, std::vector<uint32_t>(29 * 20));
  rig.pictures.erase(u"themes\\gold\\s2.bmp");
  TRef<TCachedBitmap> expected = MakeErrorBitmap({u"Incorrect Image: themes\\gold\\s1.bmp"});
  TRef<TCachedBitmap> missing = MakeErrorBitmap({u"Incorrect Image: themes\\gold\\s2.bmp"});
  ASSERT_TRUE(expected && missing) << "the error picture needs the pinned fonts";
  TRef<TCachedBitmap> wrong = rig.producer.MakeButton(TButtonState::Hover, 70, 0, 0, 0);
  ASSERT_TRUE(wrong);
  EXPECT_EQ(wrong->Pixels(), expected->Pixels());
  TRef<TCachedBitmap> absent = rig.producer.MakeButton(TButtonState::Click, 70, 0, 0, 0);
  ASSERT_TRUE(absent);
  EXPECT_EQ(absent->Pixels(), missing->Pixels());
  EXPECT_EQ(rig.producer.MakeButton(TButtonState::Normal, 70, 0, 0, 0)->Width(), 70);
}

TEST(ButtonBody, ThreeStatesMatchTheGolden) {
  // A rounded gold body; hover lighter, click darker and shifted down a pixel.
  TThemeRig rig;
  for (int state = 0; state < 3; ++state) {
    std::vector<uint32_t> pixels(30 * 20);
    for (int y = 0; y < 20; ++y)
      for (int x = 0; x < 30; ++x) {
        const int dx = std::max({8 - x, x - 21, 0}), dy = std::max({6 - y, y - 13, 0});
        const bool inside = dx * dx * 36 + dy * dy * 64 <= 36 * 64;
        const int shade = 230 - 6 * (state == 2 ? y - 1 : y) + (state == 1 ? 25 : state == 2 ? -40 : 0);
        const uint32_t g = uint32_t(std::clamp(shade, 0, 255));
        pixels[size_t(y) * 30 + x] = (inside ? 0xFF000000u : 0u) | g << 16 | (g * 3 / 4) << 8 | (g / 5);
      }
    rig.pictures[u"themes\\gold\\s" + Utf8ToUtf16(std::to_string(state)) + u".bmp"] =
        TRef<TCachedBitmap>::Make(30, 20, std::move(pixels));
  }
  std::vector<uint32_t> sheet;
  for (int state = 0; state < 3; ++state) {
    TRef<TCachedBitmap> body = rig.producer.MakeButton(static_cast<TButtonState>(state), 90, 30, 10, 0);
    ASSERT_TRUE(body);
    sheet.insert(sheet.end(), body->Pixels().begin(), body->Pixels().end());
  }
  test::ExpectMatchesGolden(*TRef<TCachedBitmap>::Make(90, 60, std::move(sheet)), "button_three_states");
}

} // namespace
} // namespace kiv

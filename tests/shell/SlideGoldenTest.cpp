// Whole slides drawn through the show pipeline (kivpack, show source, slide producer, drawer) and compared
// with stored golden pictures: every object kind and every background kind appears on one of four slides.
// The pictures are drawn by the test itself, so the goldens depend only on our code, Mesa's llvmpipe and
// the installed fonts (the text and the button caption). The text is also probed on its own, so that a
// changed font shows up as a golden mismatch while a text that is gone or misplaced fails on its own.

#include "GLContext.h"
#include "GoldenImage.h"
#include "OffscreenFrame.h"
#include "ShowTestSupport.h"
#include "CacheImageDecoder.h"
#include "OpenedShow.h"
#include "ShowTimeline.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <unistd.h>
#include <vector>

namespace kiv {
namespace {

namespace fs = std::filesystem;

using namespace testing_support;

bool WriteOpaquePng(const fs::path& path, int width, int height, const TPixelFunc& pixel) {
  TDevBitmap bitmap(width, height, TPixelFormat::pf32bit);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      const TRgb c = pixel(x, y);
      bitmap.SetPixel32(x, y, 0xFF000000u | uint32_t(c.r) << 16 | uint32_t(c.g) << 8 | uint32_t(c.b));
    }
  return test::WritePng(path.string(), bitmap);
}

constexpr TRgb kRed{220, 40, 40}, kGreen{40, 180, 60}, kBlue{40, 60, 220}, kWhite{240, 240, 240},
    kMagenta{255, 0, 255}, kCyan{0, 255, 255}, kOrange{255, 140, 0}, kSlate{30, 40, 60},
    kTextYellow{255, 230, 80}, kPale{200, 200, 210};

// 80 x 60: red, green, blue and white quarters (so that a turned or mirrored picture shows), inside margins
// that the framed image's aspect (magenta columns) and crop (cyan rows) must cut away.
TRgb Photo(int x, int y) {
  if (x < 10 || x >= 70) return kMagenta;
  if (y < 6 || y >= 54) return kCyan;
  return y < 30 ? (x < 40 ? kRed : kGreen) : (x < 40 ? kBlue : kWhite);
}

// A 2 x 2 sheet of 40 x 30 frames, each its own colour with a white mark in its top left corner.
constexpr TRgb kSpriteFrames[4] = {{230, 60, 60}, {60, 200, 80}, {40, 90, 230}, {160, 60, 200}};
TRgb Sprite(int x, int y) {
  const int cx = x % 40, cy = y % 30;
  if (cx < 10 && cy < 8) return kWhite;
  return kSpriteFrames[(y / 30) * 2 + x / 40];
}

// 32 x 24 background tile: a two-tone checker with a dark red mark in the top left corner.
TRgb Tile(int x, int y) {
  if (x < 6 && y < 4) return {170, 0, 0};
  return ((x / 16) + (y / 12)) % 2 ? TRgb{150, 160, 175} : TRgb{205, 205, 190};
}

// 60 x 30 button body for the nine-patch theme: 12-pixel gold corners, brown edges, an orange middle.
TRgb ButtonBody(int x, int y) {
  const bool edgeX = x < 12 || x >= 48, edgeY = y < 12 || y >= 18;
  if (edgeX && edgeY) return {230, 190, 40};
  if (edgeX || edgeY) return {140, 80, 20};
  return {230, 130, 30};
}

constexpr const char* kTheme = R"(; Nine patches of one 60 x 30 picture for every state.
[NormalState]
LeftTop=body.bmp,0,0,12,12
Top=body.bmp,12,0,48,12
RightTop=body.bmp,48,0,60,12
Right=body.bmp,48,12,60,18
RightBottom=body.bmp,48,18,60,30
Bottom=body.bmp,12,18,48,30
LeftBottom=body.bmp,0,18,12,30
Left=body.bmp,0,12,12,18
Center=body.bmp,12,12,48,18
[HoverState]
LeftTop=body.bmp,0,0,12,12
Top=body.bmp,12,0,48,12
RightTop=body.bmp,48,0,60,12
Right=body.bmp,48,12,60,18
RightBottom=body.bmp,48,18,60,30
Bottom=body.bmp,12,18,48,30
LeftBottom=body.bmp,0,18,12,30
Left=body.bmp,0,12,12,18
Center=body.bmp,12,12,48,18
[ClickState]
LeftTop=body.bmp,0,0,12,12
Top=body.bmp,12,0,48,12
RightTop=body.bmp,48,0,60,12
Right=body.bmp,48,12,60,18
RightBottom=body.bmp,48,18,60,30
Bottom=body.bmp,12,18,48,30
LeftBottom=body.bmp,0,18,12,30
Left=body.bmp,0,12,12,18
Center=body.bmp,12,12,48,18
[TextParams]
Color=255,255,255
BtnOffset=0
BtnMinWidth=0
Filtering=Default
)";

// A 320 x 240 show of four slides of 1000 ms. Positions are percent of the half slide from its centre;
// objects fit their parent at scale 100.
//
// Slide 1 (solid slate): the photo with aspect 1:1 (cuts the magenta columns), a crop of 10 percent top
// and bottom (cuts the cyan rows) and an orange border of 12.5 percent, 6 pixels of the 60 x 48 left, so
// the object is 72 x 60 and fits at 4 x 40 percent: 115.2 x 96 centred at (88, 96); the sprite sheet, one
// 40 x 30 frame at 2 x, centred at (240, 96), which shows frame 2 (blue) from 400 to 600 ms; a yellow text
// "Kiv" in a 120 x 40 box fitted at 1.067 x, centred at (160, 198).
//
// Slide 2 (vertical gradient, navy to wine): the themed button "Go", 90 x 30 at 1.42 x centred at
// (88, 66), whose body is the theme's picture cut into nine patches and stretched from 60 to 90 wide: gold
// 12-pixel corners, brown edges and an orange middle row; a red-to-blue horizontal gradient box, 100 x 60
// at 1.12 x centred at (232, 66); a cream frame holding the whole photo, 100 x 80 at 1.05 x centred at
// (160, 174).
//
// Slide 3 (the tile picture at size 25: 5 x 5 tiles of 80 x 60, the middle one from (120, 90) to
// (200, 150)): a box turned by 20 degrees, fading from opaque white at its top left to half-transparent
// black at its bottom right.
//
// Slide 4 (horizontal gradient, teal to olive): a vertical gradient box (yellow to green) left of the
// centre and a top-right to bottom-left gradient box (white to wine) right of it.
//
// Slide 5 (solid pale grey): the yellow text "Kiv" with the shadow texts cast by default, moved 6 percent
// of three block heights down and right, centred at (160, 66); a viewport of 160 x 120 at 0.8 x centred at
// (160, 174), 128 x 96 on the screen, showing the whole photo through a preset ellipse with a feathered
// edge of 40 percent.
constexpr const char* kProject = R"([main]
KivVersion=slide golden test
opt_exefn=golden.exe
opt_scr_width=320
opt_scr_height=240
opt_slidescount=5
opt_synchpos1=1000
opt_synchpos2=2000
opt_synchpos3=3000
opt_synchpos4=4000
opt_synchpos5=5000
PathToButtons=buttons
[Slide1]
UsePersonal=1
Pers_Fon=1
bstyle=1
bname=3942430
object Photo: Image
  ImageName=pictures\photo.bmp
  EnableBorder=1
  BorderWidth=12.5
  BorderColor=255,140,0,255
  EnableAspect=1
  AspectParams=1,100,0,0
  EnableCrop=1
  CropRect=0,10,0,10
  object : KeyPoint
    ScaleX=40
    ScaleY=40
    Position=-45,-20
  end
end
object Sprite: Image
  ImageName=pictures\sprite.png
  AnimColumns=2
  AnimRows=2
  AnimCount=4
  AnimInterval=200
  object : KeyPoint
    ScaleX=25
    ScaleY=25
    Position=50,-20
  end
end
object Words: Text
  Text=Kiv
  FontName=Arial
  TextColor=255,230,80
  TextAlign=Center
  BlackBoxSize=120,40
  ShadowEnable=0
  object : KeyPoint
    ScaleX=40
    ScaleY=40
    Position=0,65
  end
end
[Slide2]
UsePersonal=1
Pers_Fon=1
bstyle=3
bcolorstyle=1
bcolor1=5905940
bcolor2=2626650
object Go: Button
  Theme=gold
  Text=Go
  FontName=Arial
  TextColor=255,255,255
  BlackBoxSize=90,30
  object : KeyPoint
    ScaleX=40
    ScaleY=40
    Position=-45,-45
  end
end
object Band: Box
  Size=100,60
  FillMode=HGradient
  Color1=255,0,0
  Color2=0,0,255
  object : KeyPoint
    ScaleX=35
    ScaleY=35
    Position=45,-45
  end
end
object Mat: Frame
  Size=100,80
  FillMode=Solid
  Color1=245,240,225
  object : KeyPoint
    ScaleX=35
    ScaleY=35
    Position=0,45
  end
  object Inside: Image
    ImageName=pictures\photo.bmp
    object : KeyPoint
      ScaleX=85
      ScaleY=85
    end
  end
end
[Slide3]
UsePersonal=1
Pers_Fon=1
bstyle=2
bname=pictures\tile.png
bsize=25
object Veil: Box
  Size=80,80
  FillMode=TLBRGradient
  Color1=255,255,255
  Alpha1=255
  Color2=0,0,0
  Alpha2=128
  Antialiased=1
  object : KeyPoint
    ScaleX=30
    ScaleY=30
    Angle=20
  end
end
[Slide4]
UsePersonal=1
Pers_Fon=1
bstyle=3
bcolorstyle=2
bcolor1=5263360
bcolor2=2672840
object Down: Box
  Size=60,100
  FillMode=VGradient
  Color1=255,255,0
  Color2=0,160,0
  object : KeyPoint
    ScaleX=35
    ScaleY=35
    Position=-45,0
  end
end
object Across: Box
  Size=80,80
  FillMode=TRBLGradient
  Color1=255,255,255
  Color2=200,0,120
  object : KeyPoint
    ScaleX=35
    ScaleY=35
    Position=45,0
  end
end
[Slide5]
UsePersonal=1
Pers_Fon=1
bstyle=1
bname=13813960
object Shaded: Text
  Text=Kiv
  FontName=Arial
  TextColor=255,230,80
  TextAlign=Center
  BlackBoxSize=120,40
  ShadowDistance=6
  object : KeyPoint
    ScaleX=40
    ScaleY=40
    Position=0,-45
  end
end
object Window: ViewPort
  Size=160,120
  object : KeyPoint
    ScaleX=40
    ScaleY=40
    Position=0,45
  end
  object Oval: Mask
    ImageName=PresetedMask:160:120:1:40:0
  end
  object Seen: Image
    ImageName=pictures\photo.bmp
  end
end
)";

class SlideGolden : public TShowFrameTest {
protected:
  static void SetUpTestSuite() {
    InstallImageDecoder();
    root_ = fs::temp_directory_path() / ("kiv_slide_golden_" + std::to_string(::getpid()));
    fs::remove_all(root_);
    const fs::path show = root_ / "show";
    fs::create_directories(show / "pictures");
    fs::create_directories(show / "buttons" / "gold");
    WriteProjectText(show / "Project.kiv", kProject);
    WriteProjectText(show / "buttons" / "gold" / "theme.ini", kTheme);
    WriteBmp(show / "buttons" / "gold" / "body.bmp", 60, 30, ButtonBody);
    WriteBmp(show / "pictures" / "photo.bmp", 80, 60, Photo);
    const bool pngs = WriteOpaquePng(show / "pictures" / "sprite.png", 80, 60, Sprite) &&
                      WriteOpaquePng(show / "pictures" / "tile.png", 32, 24, Tile);
    packed_ = pngs && PackShow(show, Show());
  }
  static void TearDownTestSuite() { fs::remove_all(root_); }

  void SetUp() override {
    OpenShow(Show(), packed_);
    if (IsSkipped() || HasFatalFailure()) return;
    std::string whyNot;
    renderer_ = TFrameRenderer::Create(Options(*locator_), {320, 240}, &whyNot);
    ASSERT_TRUE(renderer_) << whyNot;
  }
  static std::string Show() { return (root_ / "golden.KvShow").string(); }

  // The frame in the middle of a slide (1-based).
  TDevBitmap SlideFrame(int slide) {
    std::optional<TDevBitmap> frame = renderer_->Render(1000.0 * (slide - 1) + 500);
    EXPECT_TRUE(frame) << "slide " << slide;
    if (!frame) return {};
    EXPECT_EQ(renderer_->LastDrawn().drawn, slide - 1);
    return std::move(*frame);
  }

  static inline fs::path root_;
  static inline bool packed_ = false;
};

// Points whose colour follows from the keys alone, so that goldens refreshed from a faulty drawing do not
// go unnoticed.
TEST_F(SlideGolden, KeyPointsOfEverySlideHaveTheirColours) {
  const struct {
    int slide, x, y;
    TRgb color;
    const char* what;
  } cases[] = {
      {1, 5, 5, kSlate, "solid background"},
      {1, 34, 96, kOrange, "photo border, left"},
      {1, 141, 60, kOrange, "photo border, right"},
      {1, 88, 52, kOrange, "photo border, top"},
      {1, 42, 60, kRed, "photo's top left quarter just inside the border (no magenta, no cyan)"},
      {1, 134, 132, kWhite, "photo's bottom right quarter just inside the border"},
      {1, 100, 80, kGreen, "photo's top right quarter"},
      {1, 76, 110, kBlue, "photo's bottom left quarter"},
      {1, 250, 110, kSpriteFrames[2], "sprite frame 2 at 500 ms"},
      {1, 205, 70, kWhite, "sprite frame's mark, top left"},
      {1, 275, 70, kSpriteFrames[2], "sprite frame, top right: not mirrored"},
      {2, 5, 1, {20, 30, 90}, "vertical gradient, top"},
      {2, 5, 238, {90, 20, 40}, "vertical gradient, bottom"},
      {2, 28, 49, {230, 190, 40}, "button body's top left corner"},
      {2, 148, 84, {230, 190, 40}, "button body's bottom right corner"},
      {2, 60, 50, {140, 80, 20}, "button body's top edge, stretched"},
      {2, 30, 66, {140, 80, 20}, "button body's left edge"},
      {2, 60, 66, {230, 130, 30}, "button body's middle, stretched"},
      {2, 179, 66, {255, 0, 0}, "horizontal gradient box, left end"},
      {2, 285, 66, {0, 0, 255}, "horizontal gradient box, right end"},
      {2, 160, 135, {245, 240, 225}, "frame, top edge"},
      {2, 116, 160, kMagenta, "whole photo inside the frame, left column"},
      {3, 124, 92, {170, 0, 0}, "middle tile's mark"},
      {3, 44, 32, {170, 0, 0}, "upper left tile's mark"},
      {3, 110, 80, {205, 205, 190}, "tile's light square"},
      {3, 130, 80, {150, 160, 175}, "next tile's dark square"},
      {4, 1, 120, {0, 80, 80}, "horizontal gradient, left"},
      {4, 318, 120, {200, 200, 40}, "horizontal gradient, right"},
      {4, 88, 82, {255, 255, 0}, "vertical gradient box, top"},
      {4, 88, 158, {0, 160, 0}, "vertical gradient box, bottom"},
      {4, 270, 82, {255, 255, 255}, "diagonal gradient box, top right"},
      {4, 194, 158, {200, 0, 120}, "diagonal gradient box, bottom left"},
      {5, 5, 5, kPale, "solid background"},
      {5, 144, 161, kRed, "photo's top left quarter inside the preset ellipse"},
      {5, 200, 190, kWhite, "photo's bottom right quarter inside the preset ellipse"},
      {5, 98, 128, kPale, "viewport's top left corner, outside the ellipse"},
      {5, 222, 220, kPale, "viewport's bottom right corner, outside the ellipse"},
  };
  std::vector<TDevBitmap> frames;
  for (int slide = 1; slide <= 5; ++slide)
    frames.push_back(SlideFrame(slide));
  for (const auto& c : cases) {
    const TRgb got = PixelRgb(frames[c.slide - 1], c.x, c.y);
    EXPECT_TRUE(std::abs(got.r - c.color.r) <= 24 && std::abs(got.g - c.color.g) <= 24 &&
                std::abs(got.b - c.color.b) <= 24)
        << "slide " << c.slide << ", " << c.what << ": pixel (" << c.x << ", " << c.y << ") is " << got.r
        << "," << got.g << "," << got.b << ", wanted " << c.color.r << "," << c.color.g << "," << c.color.b;
  }
}

// The text alone, as loosely as another font allows: strong text-coloured pixels in the text box and
// nowhere else.
TEST_F(SlideGolden, TheTextIsDrawnInsideItsBoxOnly) {
  const TDevBitmap frame = SlideFrame(1);
  ASSERT_EQ(frame.Width(), 320);
  int inside = 0, outside = 0;
  for (int y = 0; y < frame.Height(); ++y)
    for (int x = 0; x < frame.Width(); ++x) {
      const TRgb c = PixelRgb(frame, x, y);
      if (std::abs(c.r - kTextYellow.r) > 30 || std::abs(c.g - kTextYellow.g) > 30 ||
          std::abs(c.b - kTextYellow.b) > 30)
        continue;
      const bool inBox = x >= 96 && x < 224 && y >= 176 && y < 220;
      (inBox ? inside : outside)++;
    }
  EXPECT_GT(inside, 100) << "the text \"Kiv\" is missing";
  EXPECT_EQ(outside, 0) << "text-coloured pixels outside the text box";
}

// The shadow alone: darker than the background around the text and near it only, and offset down and to
// the right, where the shadow's angle points.
TEST_F(SlideGolden, TheTextCastsItsShadowDownAndRight) {
  const TDevBitmap frame = SlideFrame(5);
  ASSERT_EQ(frame.Width(), 320);
  int near = 0, far = 0;
  double sumX = 0, sumY = 0;
  int textCount = 0;
  double textX = 0, textY = 0;
  for (int y = 0; y < 120; ++y)
    for (int x = 0; x < frame.Width(); ++x) {
      const TRgb c = PixelRgb(frame, x, y);
      if (std::abs(c.r - kTextYellow.r) <= 30 && std::abs(c.g - kTextYellow.g) <= 30 &&
          std::abs(c.b - kTextYellow.b) <= 30) {
        ++textCount;
        textX += x;
        textY += y;
        continue;
      }
      if (!(c.r < kPale.r - 25 && c.g < kPale.g - 25 && c.b < kPale.b - 25)) continue;
      const bool inReach = x >= 86 && x < 240 && y >= 36 && y < 100;
      (inReach ? near : far)++;
      if (inReach) {
        sumX += x;
        sumY += y;
      }
    }
  ASSERT_GT(textCount, 100) << "the text \"Kiv\" is missing";
  EXPECT_GT(near, 100) << "no shadow around the text";
  EXPECT_EQ(far, 0) << "shadow pixels far from the text";
  if (near > 0) {
    EXPECT_GT(sumX / near, textX / textCount);
    EXPECT_GT(sumY / near, textY / textCount);
  }
}

TEST_F(SlideGolden, EverySlideMatchesItsGolden) {
  const char* names[] = {"show_slide_1_solid_images_text", "show_slide_2_vgradient_button_box_frame",
                         "show_slide_3_tiled_picture", "show_slide_4_hgradient_boxes",
                         "show_slide_5_text_shadow_preset_mask"};
  for (int slide = 1; slide <= 5; ++slide) {
    const TDevBitmap frame = SlideFrame(slide);
    ASSERT_EQ(frame.Width(), 320);
    ASSERT_EQ(frame.Height(), 240);
    EXPECT_TRUE(test::MatchesGolden(frame, names[slide - 1]))
        << "slide " << slide
        << " (texts are drawn with the installed fonts: DejaVu Sans stands in for Arial)";
  }
}

} // namespace
} // namespace kiv

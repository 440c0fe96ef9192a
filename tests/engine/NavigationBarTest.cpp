// The navigation bar: what it reads from a skin, how it lays out the grid around the buttons, what it
// paints, and how its buttons follow the mouse.
#include "NavigationBar.h"
#include "InputMapping.h"
#include "OverlayTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace kiv {
namespace {

using namespace testing_support;

std::string Replaced(std::string text, const std::string& from, const std::string& to) {
  const size_t at = text.find(from);
  EXPECT_NE(at, std::string::npos) << from;
  if (at != std::string::npos) text.replace(at, from.size(), to);
  return text;
}

struct TBarFixture {
  explicit TBarFixture(const std::string& skin = kSkin) {
    AddTestSkin(files, skin);
    TNavBarCallbacks callbacks;
    callbacks.redraw = [this](const TRect&) { ++redraws; };
    callbacks.click = [this](int32_t index) { clicks.push_back(index); };
    callbacks.isPlaying = [this] { return playing; };
    callbacks.loadPicture = files.Files().picture;
    bar = MakeOwned<TNavBar>(std::move(callbacks));
    document = IniText(skin);
  }
  // Loads the skin and shows the named buttons in that order.
  void Show(const std::vector<std::u16string>& buttons) {
    bar->Load(*document, u"nav\\");
    std::vector<int32_t> indexes;
    for (const auto& name : buttons)
      for (size_t i = 0; i < bar->Names().size(); ++i)
        if (bar->Names()[i] == name) indexes.push_back(static_cast<int32_t>(i));
    bar->SetButtons(indexes);
  }
  uint32_t Pixel(int x, int y) const { return bar->Bitmap()->Pixel32(x, y); }
  std::vector<uint8_t> States() const {
    std::vector<uint8_t> states;
    for (const TNavObject& o : bar->Objects())
      states.push_back(o.state);
    return states;
  }

  TMemoryFiles files;
  std::unique_ptr<TIniFile> document;
  TOwned<TNavBar> bar;
  std::vector<int32_t> clicks;
  bool playing = true;
  int redraws = 0;
};

TEST(NavBar, ReadsTheButtonsTheSkinOffersAndLaysThemOutInTheirCell) {
  TBarFixture f;
  // "help" is offered but not asked for; "print" is asked for but not offered.
  f.Show({u"home", u"pause", u"print", u"exit"});
  EXPECT_EQ(f.bar->Names(), (std::vector<std::u16string>{u"home", u"pause", u"help", u"exit"}));
  ASSERT_EQ(f.bar->Objects().size(), 3u);
  EXPECT_EQ(f.bar->Width(), 66);
  EXPECT_EQ(f.bar->Height(), 20);
  const struct {
    std::u16string_view type;
    int32_t x, y, width, height, shift, space;
  } buttons[] = {
      {u"home", 10, 3, 14, 14, 1, 2}, {u"pause", 26, 3, 14, 14, 0, 2}, {u"exit", 42, 3, 14, 14, 0, 0}};
  for (size_t i = 0; i < 3; ++i) {
    const TNavObject& o = f.bar->Objects()[i];
    EXPECT_EQ(o.actionType, buttons[i].type);
    EXPECT_EQ(o.x, buttons[i].x) << i;
    EXPECT_EQ(o.y, buttons[i].y) << i;
    EXPECT_EQ(o.width, buttons[i].width) << i;
    EXPECT_EQ(o.height, buttons[i].height) << i;
    EXPECT_EQ(o.shiftPressed, buttons[i].shift) << i;
    EXPECT_EQ(o.space, buttons[i].space) << i;
  }
  EXPECT_TRUE(f.bar->Objects()[1].hasPlaySet);
  EXPECT_FALSE(f.bar->Objects()[0].hasPlaySet);
  // The caps keep their width; every cell of the buttons' row takes the buttons' height (20, not 16).
  const std::vector<TNavCell>& cells = f.bar->Cells();
  ASSERT_EQ(cells.size(), 3u);
  const int32_t expected[3][4] = {{0, 0, 6, 20}, {6, 0, 54, 20}, {60, 0, 6, 20}};
  for (size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(cells[i].x, expected[i][0]) << i;
    EXPECT_EQ(cells[i].y, expected[i][1]) << i;
    EXPECT_EQ(cells[i].width, expected[i][2]) << i;
    EXPECT_EQ(cells[i].height, expected[i][3]) << i;
  }
  EXPECT_TRUE(cells[1].repeat);
  EXPECT_FALSE(cells[0].repeat);
}

// A 3 x 3 grid with the buttons in the middle: columns take their x from the first row's widths and rows
// their y from the first column's heights; the buttons' column and row take the buttons' size.
TEST(NavBar, GridCellsTakeTheButtonsSizeInTheirColumnAndRow) {
  std::string skin = "[Common]\nColsCount=3\nRowsCount=3\n[CellWithObjects]\nCell=2,2\nLeftOffset=1\n"
                     "TopOffset=2\nRightOffset=3\nBottomOffset=4\n";
  const int bounds[3][3][2] = {
      {{5, 7}, {9, 11}, {13, 17}}, {{19, 23}, {29, 31}, {37, 41}}, {{2, 3}, {4, 6}, {8, 10}}};
  for (int column = 1; column <= 3; ++column)
    for (int row = 1; row <= 3; ++row)
      skin += "[Cell(" + std::to_string(column) + ":" + std::to_string(row) + ")]\nBounds=0,0," +
              std::to_string(bounds[column - 1][row - 1][0]) + "," +
              std::to_string(bounds[column - 1][row - 1][1]) + "\n";
  skin += "[Objects]\nCount=2\n[Object1]\nSpace=5\n[ACTION-forward]\nBgTextureNormalBounds=0,0,12,8\n"
          "flnm_BgTextureNormal=back.bmp\n[ACTION-backward]\nBgTextureNormalBounds=0,0,12,8\n"
          "flnm_BgTextureNormal=back.bmp\n";
  TBarFixture f(skin);
  f.Show({u"backward", u"forward"});
  // Buttons' cell: 1 + 3 + (12 + 5) + (12 + 0) = 33 wide, 2 + 4 + 8 = 14 high. Columns 1 and 3 keep
  // their bounds' width (5 and 2 in the first row), rows 1 and 3 their height (7 and 17 in the first
  // column).
  EXPECT_EQ(f.bar->Width(), 5 + 33 + 2);
  EXPECT_EQ(f.bar->Height(), 7 + 14 + 17);
  for (int row = 0; row < 3; ++row)
    for (int column = 0; column < 3; ++column) {
      const TNavCell& cell = f.bar->Cells()[static_cast<size_t>(row * 3 + column)];
      EXPECT_EQ(cell.x, column == 0 ? 0 : column == 1 ? 5 : 38) << column << "," << row;
      EXPECT_EQ(cell.y, row == 0 ? 0 : row == 1 ? 7 : 21) << column << "," << row;
      EXPECT_EQ(cell.width, column == 1 ? 33 : bounds[column][row][0]) << column << "," << row;
      EXPECT_EQ(cell.height, row == 1 ? 14 : bounds[column][row][1]) << column << "," << row;
    }
  ASSERT_EQ(f.bar->Objects().size(), 2u);
  EXPECT_EQ(f.bar->Objects()[0].actionType, u"backward");
  EXPECT_EQ(f.bar->Objects()[0].x, 5 + 1);
  EXPECT_EQ(f.bar->Objects()[0].y, 7 + 2);
  EXPECT_EQ(f.bar->Objects()[1].x, 5 + 1 + 12 + 5);
}

TEST(NavBar, DamagedSkinsAreRefusedWithTheReason) {
  const struct {
    const char* what;
    std::string from, to;
    std::string reason; // part of the error text
  } cases[] = {
      {"one number for the buttons' cell", "Cell=2,1", "Cell=2",
       "Incorrect number of parameters in field \"Cell\""},
      {"three numbers for the buttons' cell", "Cell=2,1", "Cell=2,1,1",
       "Incorrect number of parameters in field \"Cell\""},
      {"no buttons' cell", "[CellWithObjects]", "[CellsWithoutObjects]",
       "Incorrect number of parameters in field \"Cell\""},
      {"buttons' cell outside the grid", "Cell=2,1", "Cell=4,1", "outside the grid"},
      {"no columns", "ColsCount=3", "ColsCount=0", "cannot hold the buttons"},
      {"a grid of a billion cells", "ColsCount=3", "ColsCount=1000000000", "cannot hold the buttons"},
      {"cell bounds of three numbers", "Bounds=6,0,4,16", "Bounds=6,0,4", "\"Cell(2:1)\": 3 instead of 4"},
      {"a word in cell bounds", "Bounds=6,0,4,16", "Bounds=6,0,wide,16", "\"Cell(2:1)\": 2 instead of 4"},
      {"a grid cell without a section", "[Cell(3:1)]", "[Cell(3:9)]", "\"Cell(3:1)\": 0 instead of 4"},
      {"button bounds of three numbers", "[ACTION-exit]\nActionType=exit\nBtnTextureNormalBounds=0,0,10,10",
       "[ACTION-exit]\nActionType=exit\nBtnTextureNormalBounds=0,0,10",
       "Bounds should contains 4 values. For example: BtnTextureNormalBounds=0,0,20,20. But KIV found only 3 "
       "values."},
      {"background bounds of five numbers",
       "BgTextureNormalBounds=0,0,14,14\nflnm_BgTextureNormal=back.bmp\n[ACTION-pause]",
       "BgTextureNormalBounds=0,0,14,14,1\nflnm_BgTextureNormal=back.bmp\n[ACTION-pause]",
       "But KIV found only 5 values."},
  };
  for (const auto& c : cases) {
    TBarFixture f(Replaced(kSkin, c.from, c.to));
    try {
      f.Show({u"home", u"pause", u"exit"});
      ADD_FAILURE() << c.what << ": accepted";
    } catch (const ENavSkinError& e) {
      EXPECT_NE(std::string(e.what()).find(c.reason), std::string::npos) << c.what << ": " << e.what();
    }
  }
}

// Sizes and counts come from the show's files: the bitmap never grows past its limits, and a bar without
// any height gives no bitmap at all.
TEST(NavBar, SizesFromTheSkinAreClamped) {
  {
    const std::string homeBack =
        "BgTextureNormalBounds=0,0,14,14\nflnm_BgTextureNormal=back.bmp\n[ACTION-pause]";
    TBarFixture f(
        Replaced(Replaced(kSkin, "[Objects]\nCount=3", "[Objects]\nCount=2000000000"), homeBack,
                 "BgTextureNormalBounds=0,0,2000000000,-5\nflnm_BgTextureNormal=back.bmp\n[ACTION-pause]"));
    f.Show({u"home", u"pause", u"exit", u"help"});
    EXPECT_EQ(f.bar->Objects().size(), 4u); // as many as were asked for, not two billion
    EXPECT_EQ(f.bar->Objects()[0].width, kMaxSkinPartSide);
    EXPECT_EQ(f.bar->Objects()[0].height, 0);
    ASSERT_NE(f.bar->Bitmap(), nullptr);
    EXPECT_LE(f.bar->Bitmap()->Width(), kMaxNavBarSide);
    EXPECT_LE(f.bar->Bitmap()->Height(), kMaxNavBarSide);
    // The first button's height 0 makes the buttons' row 6 high; its width pushes the others far right.
    EXPECT_EQ(f.bar->Height(), 6);
    EXPECT_EQ(f.bar->Objects()[1].x, 10 + kMaxSkinPartSide + 2);
  }
  {
    std::string flat = kSkin;
    for (const char* bounds : {"Bounds=0,0,6,16", "Bounds=6,0,4,16", "Bounds=10,0,6,16"})
      flat = Replaced(flat, bounds, std::string(bounds).substr(0, std::string(bounds).rfind(',')) + ",0");
    flat = Replaced(flat, "TopOffset=3", "TopOffset=0");
    flat = Replaced(flat, "BottomOffset=3", "BottomOffset=0");
    TBarFixture f(flat);
    f.Show({});
    EXPECT_EQ(f.bar->Height(), 0);
    EXPECT_EQ(f.bar->Bitmap(), nullptr);
    EXPECT_EQ(f.redraws, 0);
  }
}

TEST(NavBar, PaintsTheGridThenEachButtonOnItsBackgroundCentred) {
  TBarFixture f;
  f.bar->SetShowBackground(true);
  f.Show({u"home", u"pause", u"exit"});
  ASSERT_NE(f.bar->Bitmap(), nullptr);
  EXPECT_EQ(f.Pixel(0, 0), kPlateLeft); // the left cap stretched over 6 x 20
  EXPECT_EQ(f.Pixel(5, 19), kPlateLeft);
  EXPECT_EQ(f.Pixel(6, 0), kPlateMiddle); // the tiled middle
  EXPECT_EQ(f.Pixel(59, 19), kPlateMiddle);
  EXPECT_EQ(f.Pixel(60, 10), kPlateRight);
  EXPECT_EQ(f.Pixel(65, 19), kPlateRight);
  // Button 1: background 10..23 x 3..16, picture 12..21 x 5..14.
  EXPECT_EQ(f.Pixel(10, 3), kButtonBack);
  EXPECT_EQ(f.Pixel(11, 4), kButtonBack);
  EXPECT_EQ(f.Pixel(12, 5), kStateColors[kNavNormal]);
  EXPECT_EQ(f.Pixel(21, 14), kStateColors[kNavNormal]);
  EXPECT_EQ(f.Pixel(22, 15), kButtonBack);
  EXPECT_EQ(f.Pixel(8, 10), kPlateMiddle); // the margin left of the buttons shows the cell

  // Without the background the grid is transparent.
  TBarFixture bare;
  bare.Show({u"home", u"pause", u"exit"});
  EXPECT_EQ(bare.Pixel(0, 0) >> 24, 0u);
  EXPECT_EQ(bare.Pixel(8, 10) >> 24, 0u);
  EXPECT_EQ(bare.Pixel(12, 5), kStateColors[kNavNormal]);
}

TEST(NavBar, AHueTurnsThePaintedBar) {
  TBarFixture f;
  f.bar->SetHue(120);
  f.Show({u"home"});
  const uint32_t p = f.Pixel(16, 9); // the red picture turned by a third of the circle: green
  EXPECT_LT(p >> 16 & 0xFF, 0x40u);
  EXPECT_GT(p >> 8 & 0xFF, 0xC0u);
}

struct TMouseStep {
  const char* what;
  uint8_t kind;
  int32_t button;
  uint8_t shift;
  int32_t x, y;
  std::vector<uint8_t> states; // home, pause, exit after the step
  std::vector<int32_t> clicks; // all clicks so far
  bool inside;
};

TEST(NavBar, ButtonsFollowTheMouseAndClickOnlyWhereTheyWerePressed) {
  TBarFixture f;
  f.Show({u"home", u"pause", u"exit"});
  const uint8_t N = kNavNormal, H = kNavHover, P = kNavPressed;
  const int32_t L = kMouseButtonLeft, R = kMouseButtonRight;
  const TMouseStep steps[] = {
      {"move over home", kBarMove, 0, 0, 15, 8, {H, N, N}, {}, true},
      {"move to pause", kBarMove, 0, 0, 30, 8, {N, H, N}, {}, true},
      {"move into the gap", kBarMove, 0, 0, 25, 8, {N, N, N}, {}, true},
      {"press pause", kBarPress, L, kShiftLeftButton, 30, 8, {N, P, N}, {}, true},
      {"drag off pause", kBarMove, 0, kShiftLeftButton, 45, 8, {N, N, N}, {}, true},
      {"drag back", kBarMove, 0, kShiftLeftButton, 35, 10, {N, P, N}, {}, true},
      {"release on pause", kBarRelease, L, 0, 35, 10, {N, H, N}, {1}, true},
      {"press home", kBarPress, L, kShiftLeftButton, 15, 8, {P, N, N}, {1}, true},
      {"release on exit", kBarRelease, L, 0, 45, 8, {N, N, H}, {1}, true},
      {"press exit", kBarPress, L, kShiftLeftButton, 45, 8, {N, N, P}, {1}, true},
      {"drag out of the bar", kBarMove, 0, kShiftLeftButton, 45, 40, {N, N, N}, {1}, true},
      {"release outside", kBarRelease, L, 0, 45, 40, {N, N, N}, {1}, false},
      {"right press does nothing", kBarPress, R, 0, 15, 8, {N, N, N}, {1}, false},
      {"right release does nothing", kBarRelease, R, 0, 15, 8, {N, N, N}, {1}, false},
      {"drag in from outside with the left button",
       kBarMove,
       0,
       kShiftLeftButton,
       15,
       8,
       {N, N, N},
       {1},
       false},
      {"release it", kBarRelease, L, 0, 15, 8, {H, N, N}, {1}, true},
      {"press in the gap", kBarPress, L, kShiftLeftButton, 25, 8, {N, N, N}, {1}, true},
      {"release on home", kBarRelease, L, 0, 15, 8, {H, N, N}, {1}, true},
      {"leave the bar", kBarMove, 0, 0, -1, 8, {N, N, N}, {1}, false},
      {"edge pixel of exit", kBarMove, 0, 0, 55, 16, {N, N, H}, {1}, true},
      {"first pixel past exit", kBarMove, 0, 0, 56, 16, {N, N, N}, {1}, true},
  };
  for (const TMouseStep& s : steps) {
    f.bar->MouseEvent(s.button, s.shift, s.kind, s.y, s.x);
    EXPECT_EQ(f.States(), s.states) << s.what;
    EXPECT_EQ(f.clicks, s.clicks) << s.what;
    EXPECT_EQ(f.bar->Inside(), s.inside) << s.what;
  }
}

TEST(NavBar, PaintedStatesShowTheirPicturesAndThePressedOneMoves) {
  TBarFixture f;
  f.Show({u"home", u"pause", u"exit"});
  const int before = f.bar->Repaints();
  f.bar->MouseEvent(0, 0, kBarMove, 8, 15);
  EXPECT_EQ(f.bar->Repaints(), before + 1);
  EXPECT_EQ(f.Pixel(12, 5), kStateColors[kNavHover]);
  f.bar->MouseEvent(0, 0, kBarMove, 9, 16); // same button: nothing to repaint
  EXPECT_EQ(f.bar->Repaints(), before + 1);
  f.bar->MouseEvent(kMouseButtonLeft, kShiftLeftButton, kBarPress, 9, 16);
  // Home moves 1 pixel right and down while pressed.
  EXPECT_EQ(f.Pixel(12, 5), kButtonBack);
  EXPECT_EQ(f.Pixel(13, 6), kStateColors[kNavPressed]);
  EXPECT_EQ(f.Pixel(22, 15), kStateColors[kNavPressed]);
  f.bar->SetDisabled(2, true);
  EXPECT_EQ(f.Pixel(44, 5), kStateColors[kNavDisabled]);
  // A disabled button takes no hover and no click.
  f.bar->MouseEvent(kMouseButtonLeft, 0, kBarRelease, 9, 16);
  f.bar->MouseEvent(kMouseButtonLeft, kShiftLeftButton, kBarPress, 8, 45);
  f.bar->MouseEvent(kMouseButtonLeft, 0, kBarRelease, 8, 45);
  EXPECT_EQ(f.States()[2], kNavDisabled);
  EXPECT_EQ(f.clicks, std::vector<int32_t>{0});
}

TEST(NavBar, APauseButtonWithAPlaySetShowsItWhileTheShowIsPaused) {
  TBarFixture f;
  f.Show({u"home", u"pause", u"exit"});
  EXPECT_EQ(f.Pixel(28, 5), kStateColors[kNavNormal]);
  const int before = f.bar->Repaints();
  f.bar->SetTime(100);
  EXPECT_EQ(f.bar->Repaints(), before); // nothing changed
  f.playing = false;
  f.bar->SetTime(200);
  EXPECT_EQ(f.bar->Repaints(), before + 1);
  EXPECT_EQ(f.Pixel(28, 5), kPlayColor);
  EXPECT_EQ(f.Pixel(12, 5), kStateColors[kNavNormal]); // buttons without a play set keep their pictures
  f.playing = true;
  f.bar->SetTime(300);
  EXPECT_EQ(f.Pixel(28, 5), kStateColors[kNavNormal]);
}

TEST(NavBar, GreyPartsAreCutOncePerRectangleUnderTheirKey) {
  const std::string grey =
      Replaced(Replaced(kSkin, "[Object1]\n", "[Object1]\nGrayNormal=1\nGrayDisabled=1\n"), "[Object2]\n",
               "[Object2]\nGrayNormal=1\n");
  TBarFixture f(grey);
  f.Show({u"home", u"exit", u"pause"});
  // Red 0xE0,0x20,0x20 made grey: the integer mean 0x60 in every channel.
  EXPECT_EQ(f.Pixel(12, 5), 0xFF606060u);
  EXPECT_EQ(f.Pixel(28, 5), 0xFF606060u);
  EXPECT_EQ(f.Pixel(44, 5), kStateColors[kNavNormal]); // the third slot asks for no grey
  // Two buttons cut the same normal rectangle of the same file: one grey part. The disabled part of the
  // first is made as well.
  EXPECT_EQ(f.bar->Cache().PartsMade(), 2);
  EXPECT_EQ(TBmpCache::PartKey({0, 0, 10, 10}, TPartKind::Grey), "001010G");
  EXPECT_EQ(TBmpCache::PartKey({30, 0, 40, 10}, TPartKind::Disabled), "3004010D");
  EXPECT_EQ(TBmpCache::PartKey({-2, 5, 8, 15}, TPartKind::AsIs), "-25815");
  f.bar->SetDisabled(0, true);
  // Grey of 0x90 stays 0x90; alpha divided by 4.
  EXPECT_EQ(f.Pixel(12, 5), BlendOver(kButtonBack, 0x3F909090u));
}

TEST(NavBar, MissingPicturesLeaveTheirPartsEmpty) {
  TBarFixture f;
  f.files.pictures.erase(u"nav\\strip.bmp");
  f.Show({u"home"});
  ASSERT_NE(f.bar->Bitmap(), nullptr);
  EXPECT_EQ(f.Pixel(16, 9), kButtonBack);
  // Each file is asked for once, however many parts are cut from it.
  EXPECT_EQ(std::count(f.files.picturesAsked.begin(), f.files.picturesAsked.end(), u"nav\\strip.bmp"), 1);
}

TEST(BlendOver, ComposesStraightAlpha) {
  const struct {
    uint32_t destination, source, result;
  } cases[] = {
      {0xFF000000, 0xFFFFFFFF, 0xFFFFFFFF}, {0xFF102030, 0x00FFFFFF, 0xFF102030},
      {0xFF000000, 0x80FFFFFF, 0xFF808080}, {0x00000000, 0x80FF0000, 0x80FF0000},
      {0x80000000, 0x80FFFFFF, 0xC0AAAAAA},
  };
  for (const auto& c : cases)
    EXPECT_EQ(BlendOver(c.destination, c.source), c.result) << std::hex << c.destination << " " << c.source;
}

} // namespace
} // namespace kiv

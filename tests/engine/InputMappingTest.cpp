// Keys and mouse buttons of the window turned into actions, as a show's "main" options ask.
#include "InputMapping.h"

#include "IniDocument.h"
#include "Streams.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <memory>
#include <string>
#include <vector>

namespace kiv {
namespace {

std::unique_ptr<TIniFile> Project(const std::string& mainKeys) {
  const std::string text = "[main]\r\n" + mainKeys + "[Slide1]\r\npicture=a.jpg\r\n";
  auto document = std::make_unique<TIniFile>();
  TMemoryStream stream(std::vector<uint8_t>(text.begin(), text.end()));
  EXPECT_TRUE(document->LoadFromStream(stream));
  return document;
}

TInputMappingClass Mapping(const std::string& mainKeys) {
  return TInputMappingClass(*Project(mainKeys));
}

// The kind a key-down maps to, -1 when nothing is bound.
int KeyKind(const TInputMappingClass& mapping, uint8_t shift, int32_t key, uint8_t event = kKeyDown) {
  const TKeyMap* binding = mapping.MapKey(shift, key, event);
  return binding ? static_cast<int>(binding->Action.Kind) : -1;
}

struct TKeyCase {
  int32_t key;
  uint8_t shift;
  int kind;
  int32_t param;
};

// Every binding of the key table, with the shift state it needs.
const TKeyCase kKeyTable[] = {
    {27, 0, 1, 0},   // Escape: exit
    {32, 0, 5, 0},   // Space: pause
    {19, 0, 5, 0},   // Pause
    {80, 8, 5, 0},   // Ctrl+P
    {179, 0, 5, 0},  // media play/pause
    {178, 0, 13, 0}, // media stop
    {37, 0, 2, 0},   // Left: previous slide
    {33, 0, 2, 0},   // Page Up
    {166, 0, 2, 0},  // browser back
    {177, 0, 2, 0},  // media previous track
    {39, 0, 3, 0},   // Right: next slide
    {34, 0, 3, 0},   // Page Down
    {167, 0, 3, 0},  // browser forward
    {176, 0, 3, 0},  // media next track
    {36, 0, 7, 0},   // Home: first slide
    {35, 0, 7, 38},  // End: opt_slidescount
    {112, 0, 4, 0},  // F1: help
};

TEST(InputMappingKeys, EveryKeyOfTheTableMapsOnKeyDownOnly) {
  const TInputMappingClass mapping = Mapping("opt_slidescount=38\r\n");
  for (const TKeyCase& c : kKeyTable) {
    const TKeyMap* binding = mapping.MapKey(c.shift, c.key, kKeyDown);
    ASSERT_NE(binding, nullptr) << c.key;
    EXPECT_EQ(static_cast<int>(binding->Action.Kind), c.kind) << c.key;
    EXPECT_EQ(binding->Action.Param, c.param) << c.key;
    EXPECT_EQ(KeyKind(mapping, c.shift, c.key, kKeyUp), -1) << c.key;
  }
}

TEST(InputMappingKeys, NoOtherKeyIsBound) {
  const TInputMappingClass mapping = Mapping("");
  for (int32_t key = 0; key < 256; ++key) {
    bool inTable = false;
    for (const TKeyCase& c : kKeyTable)
      inTable = inTable || c.key == key;
    if (inTable) continue;
    for (uint8_t shift : {0, 2, 4, 8})
      EXPECT_EQ(KeyKind(mapping, shift, key), -1) << key << " shift " << int(shift);
  }
}

TEST(InputMappingKeys, ShiftAltAndCtrlMustMatchWhileWinAndButtonsDoNotMatter) {
  const TInputMappingClass mapping = Mapping("");
  const struct {
    int32_t key;
    uint8_t shift;
    int kind;
  } cases[] = {
      {80, 8, 5},                    // Ctrl+P pauses
      {80, 9, 5},                    // Ctrl+Win+P too
      {80, 8 | 16, 5}, {80, 10, -1}, // Ctrl+Shift+P does not
      {80, 12, -1},                  // Ctrl+Alt+P does not
      {80, 0, -1},                   // P alone does not
      {80, 1, -1},                   // Win+P does not
      {39, 0, 3},      {39, 1, 3},   {39, 16 | 32 | 64, 3}, {39, 2, -1}, {39, 4, -1},
      {39, 8, -1},     {27, 1, 1},   {27, 4, -1}, // Alt+Escape is not Escape
      {112, 2, -1},    {32, 8, -1},
  };
  for (const auto& c : cases)
    EXPECT_EQ(KeyKind(mapping, c.shift, c.key), c.kind) << c.key << " shift " << int(c.shift);
}

TEST(InputMappingKeys, KeyCodesOutsideTheTableMapToNothing) {
  const TInputMappingClass mapping = Mapping("");
  // 283 and 512 + 39 would land on Escape and Right if the code were cut to a byte.
  for (int32_t key : {256, 256 + 27, 512 + 39, 1000, INT_MAX, -1, -256 + 27, INT_MIN})
    EXPECT_EQ(mapping.MapKey(0, key, kKeyDown), nullptr) << key;
}

TEST(InputMappingKeys, WithoutControlOnlyEscapeAndUnlockedF1AreMapped) {
  const std::vector<int32_t> controls = {19, 32, 33, 34, 35, 36, 37, 39, 80, 166, 167, 176, 177, 178, 179};
  auto with = [&](std::vector<int32_t> keys) {
    keys.insert(keys.end(), controls.begin(), controls.end());
    std::sort(keys.begin(), keys.end());
    return keys;
  };
  const struct {
    std::string keys;
    std::vector<int32_t> mapped;
  } cases[] = {
      {"opt_synchpermitcontrol=0\r\n", {27, 112}},
      {"opt_synchpermitcontrol=0\r\nopt_lockf1=1\r\n", {27}},
      {"opt_lockf1=1\r\n", with({27})},
      {"opt_synchpermitcontrol=1\r\nopt_lockf1=0\r\n", with({27, 112})},
  };
  for (const auto& c : cases) {
    const TInputMappingClass mapping = Mapping(c.keys);
    std::vector<int32_t> mapped;
    for (int32_t key = 0; key < 256; ++key)
      if (mapping.MapKey(0, key, kKeyDown) || mapping.MapKey(kShiftCtrl, key, kKeyDown))
        mapped.push_back(key);
    EXPECT_EQ(mapped, c.mapped) << c.keys;
  }
}

TEST(InputMappingKeys, EndGoesToTheLastSlideOfTheShow) {
  const struct {
    std::string keys;
    int32_t param;
  } cases[] = {{"opt_slidescount=38\r\n", 38}, {"opt_slidescount=1\r\n", 1}, {"", 0}};
  for (const auto& c : cases) {
    const TInputMappingClass mapping = Mapping(c.keys);
    const TKeyMap* end = mapping.MapKey(0, 35, kKeyDown);
    ASSERT_NE(end, nullptr);
    EXPECT_EQ(end->Action.Kind, TActionKind::GotoSlide);
    EXPECT_EQ(end->Action.Param, c.param) << c.keys;
    EXPECT_EQ(mapping.MapKey(0, 36, kKeyDown)->Action.Param, 0);
  }
}

TEST(InputMappingKeys, AProjectWithoutMainHasTheDefaultBindings) {
  TIniFile empty;
  const TInputMappingClass mapping(empty);
  EXPECT_TRUE(mapping.PermitControl());
  EXPECT_FALSE(mapping.ScreenSaver());
  EXPECT_FALSE(mapping.HasMoveDetector());
  EXPECT_EQ(KeyKind(mapping, 0, 32), 5);
  EXPECT_EQ(KeyKind(mapping, 0, 112), 4);
  EXPECT_EQ(mapping.MapKey(0, 35, kKeyDown)->Action.Param, 0);
}

TEST(InputMappingKeys, AScreenSaverEndsOnAnyKeyEvent) {
  const TInputMappingClass mapping = Mapping("opt_ssaver=1\r\n");
  ASSERT_TRUE(mapping.ScreenSaver());
  for (int32_t key : {0, 13, 27, 65, 80, 112, 255, 256, 1000})
    for (uint8_t shift : {0, 2, 8, 14})
      for (uint8_t event : {kKeyDown, kKeyUp}) {
        const TKeyMap* binding = mapping.MapKey(shift, key, event);
        ASSERT_NE(binding, nullptr) << key;
        EXPECT_EQ(binding->Action.Kind, TActionKind::Exit) << key;
      }
}

// Mouse events as the window delivers them: shift, x, y, event, button.
struct TMouseStep {
  uint8_t shift;
  int32_t x;
  int32_t y;
  uint8_t event;
  int32_t button;
  int kind;
};

void Replay(TInputMappingClass& mapping, const std::vector<TMouseStep>& steps, const std::string& label) {
  int index = 0;
  for (const TMouseStep& s : steps) {
    EXPECT_EQ(static_cast<int>(mapping.MapMouse(s.shift, s.x, s.y, s.event, s.button).Kind), s.kind)
        << label << " step " << index;
    ++index;
  }
}

TEST(InputMappingMouse, ButtonsTakeTheirOptionsOnReleaseAndDoubleClick) {
  TInputMappingClass mapping =
      Mapping("opt_leftmouse=Next slide\r\nopt_rightmouse=Prev. slide\r\nopt_dblclick=Pause\r\n");
  Replay(mapping,
         {
             {0, 10, 10, kMouseMove, kMouseButtonNone, 0},
             {16, 10, 10, kMouseDown, kMouseButtonLeft, 0},
             {0, 10, 10, kMouseUp, kMouseButtonLeft, 3},
             {32, 10, 10, kMouseDown, kMouseButtonRight, 0},
             {0, 10, 10, kMouseUp, kMouseButtonRight, 2},
             {0, 10, 10, kMouseUp, kMouseButtonMiddle, 0},
             {16, 10, 10, kMouseDown, kMouseButtonLeft, 0},
             {16, 10, 10, kMouseDoubleClick, kMouseButtonLeft, 5},
             {0, 10, 10, kMouseUp, kMouseButtonLeft, 3},
             {32, 10, 10, kMouseDoubleClick, kMouseButtonRight, 0},
             // Held modifiers do not matter outside screen-saver mode, nor does movement.
             {8, 500, 500, kMouseUp, kMouseButtonLeft, 3},
         },
         "options");
}

TEST(InputMappingMouse, OptionNamesPickTheirActions) {
  const struct {
    std::string name;
    int kind;
    int32_t param;
  } cases[] = {{"Exit", 1, 0}, {"Go to first", 7, 0}, {"Help", 4, 0}, {"next slide", 0, 0},
               {"", 0, 0},     {"Whatever", 0, 0}};
  for (const auto& c : cases) {
    TInputMappingClass mapping = Mapping("opt_leftmouse=" + c.name + "\r\nopt_dblclick=" + c.name + "\r\n");
    const TKivActionInfo up = mapping.MapMouse(0, 1, 1, kMouseUp, kMouseButtonLeft);
    EXPECT_EQ(static_cast<int>(up.Kind), c.kind) << c.name;
    EXPECT_EQ(up.Param, c.param) << c.name;
    EXPECT_EQ(mapping.MapMouse(16, 1, 1, kMouseDoubleClick, kMouseButtonLeft), up) << c.name;
    EXPECT_EQ(mapping.MapMouse(0, 1, 1, kMouseUp, kMouseButtonRight).Kind, TActionKind::None) << c.name;
  }
}

TEST(InputMappingMouse, AScreenSaverEndsOnAnyClickHeldModifierOrRealMovement) {
  const struct {
    std::string label;
    std::vector<TMouseStep> steps;
  } cases[] = {
      {"click", {{0, 100, 100, kMouseMove, 0, 0}, {16, 100, 100, kMouseDown, kMouseButtonLeft, 1}}},
      {"right click", {{32, 100, 100, kMouseDown, kMouseButtonRight, 1}}},
      {"middle click", {{64, 100, 100, kMouseDown, kMouseButtonMiddle, 1}}},
      {"held ctrl", {{8, 100, 100, kMouseMove, 0, 1}}},
      {"held win", {{1, 100, 100, kMouseMove, 0, 1}}},
      // The first event only sets the place; jitter of up to five pixels in all is no movement.
      {"jitter",
       {{0, 100, 100, kMouseMove, 0, 0}, {0, 103, 102, kMouseMove, 0, 0}, {0, 97, 102, kMouseMove, 0, 0}}},
      {"movement", {{0, 100, 100, kMouseMove, 0, 0}, {0, 103, 103, kMouseMove, 0, 1}}},
      // Small steps add up from the last place a move was counted at.
      {"creeping",
       {{0, 100, 100, kMouseMove, 0, 0},
        {0, 102, 100, kMouseMove, 0, 0},
        {0, 104, 100, kMouseMove, 0, 0},
        {0, 106, 100, kMouseMove, 0, 1}}},
  };
  for (const auto& c : cases) {
    TInputMappingClass mapping = Mapping("opt_ssaver=1\r\nopt_leftmouse=Next slide\r\n");
    ASSERT_TRUE(mapping.HasMoveDetector());
    Replay(mapping, c.steps, c.label);
  }
}

TEST(InputMappingMouse, ExitOnMoveEndsOnlyOnMovement) {
  TInputMappingClass mapping = Mapping("opt_exitonmove=1\r\nopt_leftmouse=Next slide\r\n");
  ASSERT_FALSE(mapping.ScreenSaver());
  ASSERT_TRUE(mapping.HasMoveDetector());
  Replay(mapping,
         {
             {0, 50, 50, kMouseMove, 0, 0},
             {8, 50, 50, kMouseMove, 0, 0},
             {16, 52, 51, kMouseDown, kMouseButtonLeft, 0},
             {0, 52, 51, kMouseUp, kMouseButtonLeft, 3},
             {0, 40, 50, kMouseMove, 0, 1},
         },
         "exit on move");
}

TEST(InputMappingMouse, MovementNeverEndsAnOrdinaryShow) {
  TInputMappingClass mapping = Mapping("opt_ssaver=0\r\nopt_exitonmove=0\r\n");
  ASSERT_FALSE(mapping.HasMoveDetector());
  Replay(mapping, {{0, 0, 0, kMouseMove, 0, 0}, {0, 900, 700, kMouseMove, 0, 0}, {8, 0, 0, kMouseMove, 0, 0}},
         "ordinary");
}

TEST(InputMappingMouse, PositionsFarOutsideTheWindowStillCountAsMovement) {
  // A window reports the largest integers when the cursor leaves it.
  TInputMappingClass mapping = Mapping("opt_exitonmove=1\r\n");
  Replay(mapping,
         {{0, INT_MIN, INT_MIN, kMouseMove, 0, 0},
          {0, INT_MAX, INT_MAX, kMouseMove, 0, 1},
          {0, INT_MAX, INT_MAX - 5, kMouseMove, 0, 0}},
         "far");
}

} // namespace
} // namespace kiv

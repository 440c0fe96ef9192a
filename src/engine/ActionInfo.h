#pragma once
// The action record that keys, mouse buttons, slide objects and panel buttons produce, and the two ways
// a show writes actions down: mouse-option names and command texts.

#include <cstdint>
#include <string>
#include <string_view>

namespace kiv {

enum class TActionKind : uint8_t {
  None = 0,
  Exit = 1,
  PrevSlide = 2,
  NextSlide = 3,
  Help = 4,
  Pause = 5,
  Print = 6,
  GotoSlide = 7, // Param: slide number from 1 (0 = first slide), or -1 with Text = slide id
  OpenWebSite = 8,
  WriteEmail = 9,
  RunApp = 10,
  RunAppAndExit = 11,
  RunPresentation = 12,
  Stop = 13,
  RunPresentationAndReturn = 14,
  OpenDialog = 15, // Text: the custom dialog's name
  CloseDialog = 16,
  SaveSlide = 17,
  ChangePrinter = 18,
  GotoTime = 19, // Param: milliseconds
  // The navigation panel took the event: it must not reach slide objects or the mouse mapping.
  PanelConsumed = 20,
};

struct TKivActionInfo {
  TActionKind Kind = TActionKind::None;
  int32_t Param = 0;
  std::u16string Text; // address, command line, file, dialog or slide id, as written

  bool operator==(const TKivActionInfo&) const = default;
};

// A command text of a slide object or panel button ("nextslide", "GotoSlide(3)", "runapp(\"x.exe\")").
// Commands ignore letter case; arguments keep theirs. Anything unknown is kind None.
TKivActionInfo ParseActionText(std::u16string_view text);

// The names of the mouse options ("Exit", "Next slide", ...), compared exactly; anything else is None.
TKivActionInfo ActionByName(std::u16string_view name);

} // namespace kiv

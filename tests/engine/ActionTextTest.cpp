// Command texts of slide objects and panel buttons, and the names of the mouse options.
#include "ActionInfo.h"

#include <gtest/gtest.h>

#include <string>

namespace kiv {
namespace {

struct TActionCase {
  std::u16string text;
  int kind; // the number the record carries across threads
  int32_t param;
  std::u16string argument;
};

void ExpectAction(const TKivActionInfo& action, const TActionCase& c, const std::string& label) {
  EXPECT_EQ(static_cast<int>(action.Kind), c.kind) << label;
  EXPECT_EQ(action.Param, c.param) << label;
  EXPECT_EQ(action.Text, c.argument) << label;
}

std::string Label(std::u16string_view text) {
  return std::string(text.begin(), text.end()); // the cases are ASCII
}

TEST(ActionText, PlainCommandsIgnoreLetterCase) {
  const TActionCase cases[] = {
      {u"exit", 1, 0, u""},       {u"EXIT", 1, 0, u""},           {u"prevslide", 2, 0, u""},
      {u"PrevSlide", 2, 0, u""},  {u"nextslide", 3, 0, u""},      {u"NextSlide", 3, 0, u""},
      {u"help", 4, 0, u""},       {u"Help", 4, 0, u""},           {u"pause", 5, 0, u""},
      {u"print", 6, 0, u""},      {u"gotofirstslide", 7, 0, u""}, {u"GoToFirstSlide", 7, 0, u""},
      {u"stop", 13, 0, u""},      {u"closedialog", 16, 0, u""},   {u"CloseDialog", 16, 0, u""},
      {u"saveslide", 17, 0, u""}, {u"changeprinter", 18, 0, u""},
  };
  for (const auto& c : cases)
    ExpectAction(ParseActionText(c.text), c, Label(c.text));
}

TEST(ActionText, QuotedArgumentsKeepTheirLetterCaseAndInnerQuotes) {
  const TActionCase cases[] = {
      {u"openwebsite(\"http://Example.org/A?b=C\")", 8, 0, u"http://Example.org/A?b=C"},
      {u"OpenWebSite(\"www.example.org\")", 8, 0, u"www.example.org"},
      {u"writeemail(\"Someone@Example.org\")", 9, 0, u"Someone@Example.org"},
      {u"runapp(\"notepad.exe Read Me.txt\")", 10, 0, u"notepad.exe Read Me.txt"},
      {u"RunApp(\"\"C:\\Program Files\\x.exe\" -a\")", 10, 0, u"\"C:\\Program Files\\x.exe\" -a"},
      {u"runappandexit(\"Setup.exe\")", 11, 0, u"Setup.exe"},
      {u"runpresentation(\"Second.exe\")", 12, 0, u"Second.exe"},
      {u"RUNPRESENTATIONANDRETURN(\"Third.exe -slide 2\")", 14, 0, u"Third.exe -slide 2"},
      {u"runpresentationandreturn(\"Third.exe\")", 14, 0, u"Third.exe"},
      {u"opendialog(\"About Us\")", 15, 0, u"About Us"},
  };
  for (const auto& c : cases)
    ExpectAction(ParseActionText(c.text), c, Label(c.text));
}

TEST(ActionText, GotoSlideTakesANumberOrASlideId) {
  const TActionCase cases[] = {
      {u"gotoslide(3)", 7, 3, u""},
      {u"GotoSlide(3)", 7, 3, u""},
      {u"GOTOSLIDE(3)", 7, 3, u""},
      {u"gotoslide(0)", 7, 0, u""},
      {u"gotoslide(120)", 7, 120, u""},
      {u"gotoslide(Intro)", 7, -1, u"Intro"},
      {u"GotoSlide(Beach Photo 2)", 7, -1, u"Beach Photo 2"},
      // Only decimal numbers count: ids that happen to read as hexadecimal stay ids.
      {u"gotoslide(x1f)", 7, -1, u"x1f"},
      {u"gotoslide($10)", 7, -1, u"$10"},
      // Past 32 bits it is no number either.
      {u"gotoslide(99999999999)", 7, -1, u"99999999999"},
      {u"gotoslide()", 7, -1, u""},
  };
  for (const auto& c : cases)
    ExpectAction(ParseActionText(c.text), c, Label(c.text));
}

TEST(ActionText, TextsShorterThanTheirSyntaxGiveAnEmptyArgument) {
  const TActionCase cases[] = {
      {u"runapp(", 10, 0, u""},        {u"runapp(\"", 10, 0, u""},
      {u"runapp(\")", 10, 0, u""},     {u"runapp(\"\")", 10, 0, u""},
      {u"opendialog(\"a", 15, 0, u""}, {u"openwebsite(", 8, 0, u""},
      {u"writeemail(\"", 9, 0, u""},   {u"runpresentationandreturn(", 14, 0, u""},
      {u"gotoslide(", 7, -1, u""},
  };
  for (const auto& c : cases)
    ExpectAction(ParseActionText(c.text), c, Label(c.text));
}

TEST(ActionText, UnknownTextsAreNoAction) {
  const std::u16string_view texts[] = {
      u"",          u"next slide",     u" exit",          u"exit ",   u"exit()",
      u"gotoslide", u"runapp",         u"runapps(\"x\")", u"goto(3)", u"nextslide(1)",
      u"shutdown",  u"openweb(\"x\")", u"gotofirst",
  };
  for (std::u16string_view text : texts)
    EXPECT_EQ(ParseActionText(text), TKivActionInfo{}) << Label(text);
}

TEST(ActionText, MouseOptionNamesAreComparedExactly) {
  const TActionCase cases[] = {
      {u"Exit", 1, 0, u""},
      {u"Next slide", 3, 0, u""},
      {u"Prev. slide", 2, 0, u""},
      {u"Help", 4, 0, u""},
      {u"Pause", 5, 0, u""},
      {u"Go to first", 7, 0, u""},
      {u"exit", 0, 0, u""},
      {u"Next Slide", 0, 0, u""},
      {u"Prev slide", 0, 0, u""},
      {u"Go to first ", 0, 0, u""},
      {u"Print", 0, 0, u""},
      {u"nextslide", 0, 0, u""},
      {u"", 0, 0, u""},
  };
  for (const auto& c : cases)
    ExpectAction(ActionByName(c.text), c, Label(c.text));
}

} // namespace
} // namespace kiv

#include "ActionInfo.h"

#include "CaseFolding.h"

#include <array>
#include <cstddef>

namespace kiv {
namespace {

struct TPlainCommand {
  std::u16string_view text;
  TActionKind kind;
};

constexpr std::array<TPlainCommand, 11> kPlainCommands{{
    {u"exit", TActionKind::Exit},
    {u"nextslide", TActionKind::NextSlide},
    {u"prevslide", TActionKind::PrevSlide},
    {u"help", TActionKind::Help},
    {u"gotofirstslide", TActionKind::GotoSlide},
    {u"pause", TActionKind::Pause},
    {u"print", TActionKind::Print},
    {u"stop", TActionKind::Stop},
    {u"closedialog", TActionKind::CloseDialog},
    {u"saveslide", TActionKind::SaveSlide},
    {u"changeprinter", TActionKind::ChangePrinter},
}};

constexpr std::u16string_view kGotoSlide = u"gotoslide(";

// Commands whose argument is written in double quotes: prefix, quote, argument, quote, ")".
constexpr std::array<TPlainCommand, 7> kQuotedCommands{{
    {u"openwebsite(", TActionKind::OpenWebSite},
    {u"writeemail(", TActionKind::WriteEmail},
    {u"runapp(", TActionKind::RunApp},
    {u"runappandexit(", TActionKind::RunAppAndExit},
    {u"runpresentation(", TActionKind::RunPresentation},
    {u"runpresentationandreturn(", TActionKind::RunPresentationAndReturn},
    {u"opendialog(", TActionKind::OpenDialog},
}};

// The text between first and the last `tail` characters; empty when the text is too short to hold both,
// as in a truncated "runapp(".
std::u16string_view Between(std::u16string_view text, size_t first, size_t tail) {
  if (text.size() < first + tail) return {};
  return text.substr(first, text.size() - first - tail);
}

// A slide number: decimal digits with an optional sign, within 32 bits. Nothing else is taken for a
// number, so that a slide id such as "x1f" stays an id.
bool ParseSlideNumber(std::u16string_view text, int32_t& value) {
  size_t i = 0;
  bool negative = false;
  if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) negative = text[i++] == u'-';
  if (i == text.size()) return false;
  int64_t magnitude = 0;
  for (; i < text.size(); ++i) {
    if (text[i] < u'0' || text[i] > u'9') return false;
    magnitude = magnitude * 10 + (text[i] - u'0');
    if (magnitude > 0x80000000LL) return false;
  }
  const int64_t signedValue = negative ? -magnitude : magnitude;
  if (signedValue > 0x7FFFFFFFLL) return false;
  value = static_cast<int32_t>(signedValue);
  return true;
}

} // namespace

TKivActionInfo ParseActionText(std::u16string_view text) {
  const std::u16string lower = LowerCase(text);
  TKivActionInfo action;
  for (const TPlainCommand& command : kPlainCommands)
    if (lower == command.text) {
      action.Kind = command.kind;
      return action;
    }
  if (lower.starts_with(kGotoSlide)) {
    action.Kind = TActionKind::GotoSlide;
    const std::u16string_view argument = Between(text, kGotoSlide.size(), 1);
    if (!ParseSlideNumber(argument, action.Param)) {
      action.Param = -1;
      action.Text = argument;
    }
    return action;
  }
  for (const TPlainCommand& command : kQuotedCommands)
    if (lower.starts_with(command.text)) {
      action.Kind = command.kind;
      action.Text = Between(text, command.text.size() + 1, 2);
      return action;
    }
  return action;
}

TKivActionInfo ActionByName(std::u16string_view name) {
  TKivActionInfo action;
  if (name == u"Exit")
    action.Kind = TActionKind::Exit;
  else if (name == u"Next slide")
    action.Kind = TActionKind::NextSlide;
  else if (name == u"Prev. slide")
    action.Kind = TActionKind::PrevSlide;
  else if (name == u"Help")
    action.Kind = TActionKind::Help;
  else if (name == u"Pause")
    action.Kind = TActionKind::Pause;
  else if (name == u"Go to first")
    action.Kind = TActionKind::GotoSlide; // Param 0: the first slide
  return action;
}

} // namespace kiv

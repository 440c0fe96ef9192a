#include "CommandLine.h"

#include "Assert.h"
#include "CaseFolding.h"
#include "ShowPaths.h"
#include "Utf8Conversion.h"

#include <charconv>
#include <memory>

namespace kiv {
namespace {

std::unique_ptr<TCommandLine> gCommandLine;

bool ParseInteger(const std::string& text, int64_t& value) {
  const char* begin = text.data();
  const char* end = begin + text.size();
  if (begin != end && *begin == '+') ++begin;
  if (begin == end) return false;
  auto [stop, ec] = std::from_chars(begin, end, value);
  return ec == std::errc() && stop == end;
}

std::u16string LookupKey(std::string_view name) {
  return LowerCase(Utf8ToUtf16(name));
}

} // namespace

TCommandsStorage::TCommandsStorage(const std::vector<std::string>& tokens) {
  // Collected first, so that values can be appended to the latest option of a name even when the same
  // option comes several times.
  std::vector<std::pair<std::u16string, TCommandOption>> parsed(1);
  for (const std::string& token : tokens) {
    if (!token.empty() && token.front() == '-')
      parsed.emplace_back(Utf8ToUtf16(std::string_view(token).substr(1)), TCommandOption{});
    else
      parsed.back().second.values.push_back({Utf8ToUtf16(token)});
  }
  for (auto& [name, option] : parsed)
    options_.Add(name, std::move(option));
}

bool TCommandsStorage::HasOption(std::string_view name) const {
  return options_.Contains(LookupKey(name));
}

std::string TCommandsStorage::OptionValue(std::string_view name) const {
  const TCommandOption* option = options_.FindFirst(LookupKey(name));
  return option && !option->values.empty() ? Utf16ToUtf8(option->values.front().value) : std::string();
}

TCommandLine::TCommandLine(std::vector<std::string> tokens) : tokens_(std::move(tokens)), options_(tokens_) {}

TCommandLine TCommandLine::FromText(std::string_view text) {
  return TCommandLine(TokenizeCommandLine(text));
}

bool TCommandLine::HasRawToken(std::string_view token) const {
  for (const std::string& t : tokens_)
    if (t == token) return true;
  return false;
}

std::vector<std::string> TokenizeCommandLine(std::string_view text) {
  std::vector<std::string> tokens;
  std::string token;
  bool inToken = false;
  bool quoted = false;
  for (char c : text) {
    if (c == '"') {
      quoted = !quoted;
      inToken = true;
    } else if (static_cast<unsigned char>(c) <= 32 && !quoted) {
      if (inToken) tokens.push_back(std::move(token));
      token.clear();
      inToken = false;
    } else {
      token += c;
      inToken = true;
    }
  }
  if (inToken) tokens.push_back(std::move(token));
  return tokens;
}

void InitCommandLine(int argc, const char* const* argv) {
  std::vector<std::string> tokens;
  for (int i = 0; i < argc; ++i)
    tokens.emplace_back(argv[i]);
  gCommandLine = std::make_unique<TCommandLine>(std::move(tokens));
}

const TCommandLine& CommandLine() {
  RY_ASSERT_MSG(gCommandLine != nullptr, "Command line not parsed");
  return *gCommandLine;
}

bool HasOption(std::string_view name) {
  return CommandLine().HasOption(name);
}

std::string OptionValue(std::string_view name) {
  return CommandLine().OptionValue(name);
}

bool HasRawToken(std::string_view token) {
  return CommandLine().HasRawToken(token);
}

TShowToPlay ShowToPlay(const TCommandLine& commandLine) {
  TShowToPlay show;
  if (std::string name = commandLine.OptionValue("filename"); !name.empty()) {
    show.fileName = std::move(name);
    show.isProjectFile = true;
  } else if (std::string exe = commandLine.OptionValue("exename"); !exe.empty()) {
    show.fileName = std::move(exe);
  } else {
    show.fileName = ProgramFileName();
  }
  show.fileName = ExpandFileName(ProgramFolder(), show.fileName);
  return show;
}

TShowToPlay ShowToPlay() {
  return ShowToPlay(CommandLine());
}

TStartPosition StartPosition(const TCommandLine& commandLine) {
  TStartPosition start;
  int64_t value = 0;
  if (commandLine.HasOption("slide") && ParseInteger(commandLine.OptionValue("slide"), value)) {
    start.position = value > 0 ? value - 1 : 0;
  } else if (ParseInteger(commandLine.OptionValue("time"), value) && value >= 0) {
    start.position = value;
    start.byTime = true;
  }
  return start;
}

TStartPosition StartPosition() {
  return StartPosition(CommandLine());
}

} // namespace kiv

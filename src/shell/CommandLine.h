#pragma once
// The command line, parsed once: the raw tokens in order, and the option store in which every value
// token belongs to the option before it. Options are looked up in lower case and compared exactly, so
// an option works only when written in lower case ("-slide 3", not "-Slide 3").

#include "NameHashList.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kiv {

// One value token.
struct TCommandItem {
  std::u16string value;
};

// An option as written after its "-", with the value tokens that followed it.
struct TCommandOption {
  std::vector<TCommandItem> values;
};

class TCommandsStorage {
public:
  // Values before any option go to the option with the empty name.
  explicit TCommandsStorage(const std::vector<std::string>& tokens);
  bool HasOption(std::string_view name) const;
  // The first value after the option's first occurrence; "" when the option or its value is missing.
  std::string OptionValue(std::string_view name) const;

private:
  THashList<TCommandOption> options_{kFileMapBuckets, THashKeyMode::Exact};
};

class TCommandLine {
public:
  // tokens[0] is the program, as the system hands it over.
  explicit TCommandLine(std::vector<std::string> tokens);
  // Splits a command-line text first (see TokenizeCommandLine).
  static TCommandLine FromText(std::string_view text);

  bool HasOption(std::string_view name) const { return options_.HasOption(name); }
  std::string OptionValue(std::string_view name) const { return options_.OptionValue(name); }
  bool HasRawToken(std::string_view token) const;
  const std::vector<std::string>& Tokens() const noexcept { return tokens_; }

private:
  std::vector<std::string> tokens_;
  TCommandsStorage options_;
};

// Tokens are separated by characters with codes 0..32 outside double quotes; a double quote toggles
// quoting and is dropped.
std::vector<std::string> TokenizeCommandLine(std::string_view text);

// The process's command line: InitCommandLine once at entry, before anything reads it.
void InitCommandLine(int argc, const char* const* argv);
const TCommandLine& CommandLine();
bool HasOption(std::string_view name);
std::string OptionValue(std::string_view name);
bool HasRawToken(std::string_view token);

struct TShowToPlay {
  std::string fileName; // full path
  bool isProjectFile = false;
};
// "filename" (a project file), else "exename", else the program file; relative names are taken from the
// program folder.
TShowToPlay ShowToPlay(const TCommandLine& commandLine);
TShowToPlay ShowToPlay();

struct TStartPosition {
  int64_t position = 0; // a 0-based slide index, or milliseconds when byTime
  bool byTime = false;
};
// "slide" N (1-based; N <= 0 starts at the beginning), else "time" in milliseconds; values that are not
// numbers count as absent.
TStartPosition StartPosition(const TCommandLine& commandLine);
TStartPosition StartPosition();

} // namespace kiv

#pragma once
// Every call of the wave-out classes into the sound layer is bracketed in the log: "-> " and the call's
// name and place before it, "<- " after it, and a line beginning "!!! " when it answers a failure. Nothing
// is built when no log is installed.

#include "Log.h"
#include "SoundMixer.h"

#include <string>
#include <utility>

namespace kiv {

// Where a call was written. The callers' file and line come from default arguments, evaluated where the
// call stands; std::source_location would do the same, but the clang of the fuzz build cannot make one.
struct TCallSite {
  const char* file;
  int line;
};

// "Name (File.cpp:120)".
std::string SoundCallText(const char* name, const TCallSite& where);

// Runs call between the "-> " and "<- " lines and returns what it returns.
template <class Call>
auto BracketSoundCall(const char* name, Call&& call, const char* file = __builtin_FILE(),
                      int line = __builtin_LINE()) {
  const bool log = LogActive();
  const TCallSite where{file, line};
  if (log) LogLine("-> " + SoundCallText(name, where));
  auto result = call();
  if (log) LogLine("<- " + SoundCallText(name, where));
  return result;
}

// The same for calls that answer a TSoundResult; a failure adds a "!!! " line.
template <class Call>
TSoundResult LoggedSoundCall(const char* name, Call&& call, const char* file = __builtin_FILE(),
                             int line = __builtin_LINE()) {
  const TSoundResult result = BracketSoundCall(name, std::forward<Call>(call), file, line);
  if (result != TSoundResult::Ok && LogActive())
    LogLine(std::string("!!! ") + SoundResultText(result) + " from " + SoundCallText(name, {file, line}));
  return result;
}

} // namespace kiv

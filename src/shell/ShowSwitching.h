#pragma once
// How the main window moves between shows: the command texts that name another show, the run stack of
// shows to return to, and what closing the window runs instead of ending.

#include "CommandLine.h"

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace kiv {

class TIniFile;

// A show command line: the first value without an option is the show; "slide" or "time" the start.
struct TShowCommand {
  std::string fileName; // "/" and "\" both separate folders
  TStartPosition start;
};
TShowCommand ParseShowCommand(std::string_view text);

// The command line that reopens a show at a slide (0-based index): the file in double quotes, then
// " -slide " and the slide's number from 1.
std::string RunStackEntry(const std::string& showFile, int slideIndex);

// Shows opened "with return", most recent last. Shows that open one another in a circle would grow it
// for ever: beyond kMaxDepth the oldest entries go.
class TRunStack {
public:
  static constexpr size_t kMaxDepth = 64;
  void Push(std::string entry);
  bool Empty() const noexcept { return entries_.empty(); }
  size_t Size() const noexcept { return entries_.size(); }
  // The most recent entry, removed; "" when empty.
  std::string Pop();

private:
  std::vector<std::string> entries_;
};

// What closing runs instead ("opt_runapponexit": 0 nothing, 1 a program, 2 a show): nothing when the show
// asks for it only at its last slide ("opt_runapponexitiflastslide", default true) and it did not end
// there, and nothing when neither the user nor the show's end closed the window.
int RunOnExitMode(const TIniFile& project, bool endedAtLastSlide, bool userExit);

// Where another show named in a show lies: the file itself when it exists; else, for a show authored as
// "opt_exefn", the file's path relative to that program's folder applied to the current show's folder;
// else the current show's folder with the file's name; else the name as given.
std::string ResolveOtherShow(const std::string& fileName, const std::string& authoredExe,
                             const std::string& showFolder);

} // namespace kiv

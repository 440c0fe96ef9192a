#include "ShowSwitching.h"

#include "IniDocument.h"
#include "Utf8Conversion.h"

#include <algorithm>
#include <filesystem>

namespace kiv {

namespace {

std::string Slashes(std::string name) {
  std::replace(name.begin(), name.end(), '\\', '/');
  return name;
}

} // namespace

TShowCommand ParseShowCommand(std::string_view text) {
  std::vector<std::string> tokens{std::string()}; // the program's place
  for (std::string& token : TokenizeCommandLine(text))
    tokens.push_back(std::move(token));
  TShowCommand command;
  // Values after an option are that option's: the show is a value before any option.
  if (tokens.size() > 1 && !tokens[1].empty() && tokens[1].front() != '-') command.fileName = Slashes(tokens[1]);
  const TCommandLine line(std::move(tokens));
  command.start = StartPosition(line);
  return command;
}

std::string RunStackEntry(const std::string& showFile, int slideIndex) {
  return "\"" + showFile + "\" -slide " + std::to_string(slideIndex + 1);
}

void TRunStack::Push(std::string entry) {
  entries_.push_back(std::move(entry));
  if (entries_.size() > kMaxDepth) entries_.erase(entries_.begin());
}

std::string TRunStack::Pop() {
  if (entries_.empty()) return {};
  std::string entry = std::move(entries_.back());
  entries_.pop_back();
  return entry;
}

int RunOnExitMode(const TIniFile& project, bool endedAtLastSlide, bool userExit) {
  int mode = project.ReadInteger(u"main", u"opt_runapponexit", 0);
  if (project.ReadBool(u"main", u"opt_runapponexitiflastslide", true) && !endedAtLastSlide) mode = 0;
  if (!userExit) mode = 0;
  return mode == 1 || mode == 2 ? mode : 0;
}

std::string ResolveOtherShow(const std::string& fileName, const std::string& authoredExe,
                             const std::string& showFolder) {
  namespace fs = std::filesystem;
  std::error_code ec;
  const fs::path file(Slashes(fileName));
  if (fs::exists(file, ec)) return file.string();
  if (!authoredExe.empty() && !showFolder.empty()) {
    const fs::path exeFolder = fs::path(Slashes(authoredExe)).parent_path();
    const fs::path relative = file.lexically_relative(exeFolder);
    if (!relative.empty() && *relative.begin() != "..") {
      const fs::path moved = fs::path(showFolder) / relative;
      if (fs::exists(moved, ec)) return moved.string();
    }
  }
  if (!showFolder.empty()) {
    const fs::path beside = fs::path(showFolder) / file.filename();
    if (fs::exists(beside, ec)) return beside.string();
  }
  return file.string();
}

} // namespace kiv

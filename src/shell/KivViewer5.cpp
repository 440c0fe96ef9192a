// The program entry: read the command line, locate and open the show. Playing it waits for the engine;
// for now the program reports what it found.

#include "KivCommandLine.h"
#include "KivErrorBox.h"
#include "KivShowLocation.h"
#include "ryKivShowLocator.h"
#include "ryLog.h"
#include "ryUTF8.h"

#include <cstdio>
#include <exception>
#include <string>

namespace kiv {
namespace {

constexpr const char* kUsage =
    "usage: kivviewer [-exename SHOW | -filename PROJECT] [-slide N | -time MS] [options]\n"
    "\n"
    "Plays a packed slide show: the one appended to this program, the one in SHOW, or the one in a\n"
    "\".KvShow\" file of the same name; -filename plays a project file on disk. Relative names are\n"
    "taken from the program's folder. Options are written in lower case.\n"
    "\n"
    "  -exename SHOW     play the packed show in SHOW (an \".app\" bundle works too)\n"
    "  -filename FILE    play the project file FILE\n"
    "  -slide N          start at slide N (from 1)\n"
    "  -time MS          start at MS milliseconds (when -slide is not given)\n"
    "  -display N        monitor for the show (from 1)\n"
    "  -filelog, -log    write a log beside the program, or to stderr\n"
    "  -info             print what was found: show, version, project, start\n"
    "  --help, --version\n";

void PrintInfo(const TKivShowLocator& locator, const TShowNames& names, const TStartPosition& start) {
  std::printf("show: %s\n", names.fileName.c_str());
  std::printf("version: %s\n", Utf16ToUtf8(locator.KivVersion()).c_str());
  std::printf("project: %s\n", Utf16ToUtf8(locator.ProjectFileName()).c_str());
  if (start.byTime)
    std::printf("start: time %lld\n", static_cast<long long>(start.position));
  else
    std::printf("start: slide %lld\n", static_cast<long long>(start.position + 1));
  std::fflush(stdout);
}

int Run(int argc, char** argv) {
  InitCommandLine(argc, argv);
  if (HasRawToken("--help")) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  if (HasRawToken("--version")) {
    std::printf("kivviewer %s\n", KIV_VERSION_TEXT);
    return 0;
  }
  if (HasOption("filelog"))
    InstallFileLog();
  else if (HasOption("log"))
    InstallStderrLog();
  SetStartupWindowMode(HasRawToken("-startup"));

  const TShowToPlay show = ShowToPlay();
  const TStartPosition start = StartPosition();
  std::unique_ptr<TKivShowLocator> locator = LocateShow(show.fileName, !show.isProjectFile);
  if (!locator) return 1;
  const TShowNames names = ShowNames(*locator, show.fileName, show.isProjectFile);
  // Until the engine plays shows, the located show is reported whether or not -info was given.
  PrintInfo(*locator, names, start);
  return 0;
}

} // namespace
} // namespace kiv

int main(int argc, char** argv) {
  int code = 1;
  try {
    code = kiv::Run(argc, argv);
  } catch (const std::exception& e) {
    kiv::ErrorBox(e.what());
  }
  kiv::CloseLog();
  return code;
}

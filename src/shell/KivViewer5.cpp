// The program entry: read the command line, locate and open the show. Playing it waits for the engine;
// for now the program reports what it found.

#include "KivCommandLine.h"
#include "KivErrorBox.h"
#include "KivShowLocation.h"
#include "ryImageDecoder.h"
#include "ryKivShowLocator.h"
#include "ryKivSource2.h"
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
    "  -info             print what was found: show, version, project, start, and the show's\n"
    "                    options: slides, repeat, transitions, screen saver, play order\n"
    "  --help, --version\n";

const char* RepeatWord(TRepeatMode mode) {
  switch (mode) {
  case TRepeatMode::Close:
    return "close";
  case TRepeatMode::Stop:
    return "stop";
  case TRepeatMode::Repeat:
    break;
  }
  return "repeat";
}

// What a user wants to know before the show plays.
void PrintOptions(const TKivSource& options) {
  std::printf("slides: %d\n", options.SlideCount());
  std::printf("repeat: %s\n", RepeatWord(options.RepeatMode()));
  std::printf("transitions: %s\n", options.TransitionsEnabled() ? "on" : "off");
  std::printf("transition time: %d\n", options.EffectTime());
  std::printf("screensaver: %s\n", options.ScreenSaver() ? "yes" : "no");
  std::string order;
  for (int position = 0; position < options.SlideCount(); ++position)
    order += (position > 0 ? " " : "") + std::to_string(options.SlideNumberAt(position) + 1);
  std::printf("order: %s\n", order.c_str());
}

void PrintInfo(const TKivShowLocator& locator, const TShowNames& names, const TStartPosition& start) {
  std::printf("show: %s\n", names.fileName.c_str());
  std::printf("version: %s\n", Utf16ToUtf8(locator.KivVersion()).c_str());
  std::printf("project: %s\n", Utf16ToUtf8(locator.ProjectFileName()).c_str());
  if (start.byTime)
    std::printf("start: time %lld\n", static_cast<long long>(start.position));
  else
    std::printf("start: slide %lld\n", static_cast<long long>(start.position + 1));
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
  PrintOptions(Options(*locator));
  std::fflush(stdout);
  return 0;
}

} // namespace
} // namespace kiv

int main(int argc, char** argv) {
  int code = 1;
  // Show pictures decode through our own loaders from here on.
  kiv::InstallImageDecoder();
  try {
    code = kiv::Run(argc, argv);
  } catch (const std::exception& e) {
    kiv::ErrorBox(e.what());
  }
  kiv::CloseLog();
  return code;
}

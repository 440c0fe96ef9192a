// The program entry: read the command line, locate and open the show. Playing it waits for the engine;
// for now the program reports what it found, or draws one frame of the show offscreen (-render).

#include "CommandLine.h"
#include "ErrorBox.h"
#include "OffscreenFrame.h"
#include "FindShow.h"
#include "CacheImageDecoder.h"
#include "ShowPaths.h"
#include "OpenedShow.h"
#include "ShowTimeline.h"
#include "Log.h"
#include "Utf8Conversion.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

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
    "  --help, --version\n"
    "\n"
    "usage: kivviewer -render OUT.png [-time MS | -slide N] [-size WxH] [SHOW]\n"
    "\n"
    "Draws the frame of the show at a time offscreen (headless GL) and writes it as a PNG. SHOW is a\n"
    "packed show, or a project file when it ends in \".kiv\"; relative to the current folder. Without\n"
    "SHOW the show is found as for playing (-exename, -filename, this program's own show). The time is\n"
    "MS milliseconds, else the start of slide N, else 0; the size is the show's design size\n"
    "(opt_scr_width x opt_scr_height), or 800x600 when it has none.\n";

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

// Options of the player that take a value; a value token after any other option stands on its own.
constexpr std::string_view kValueOptions[] = {"render",  "time",     "slide",   "size",
                                              "exename", "filename", "display", "ownerwnd"};

// Value tokens that belong to no option: the show to render.
std::vector<std::string> LooseValues(const TCommandLine& commandLine) {
  std::vector<std::string> loose;
  const std::vector<std::string>& tokens = commandLine.Tokens();
  bool takesValue = false;
  for (size_t i = 1; i < tokens.size(); ++i) {
    const std::string& token = tokens[i];
    if (!token.empty() && token.front() == '-') {
      takesValue =
          std::ranges::find(kValueOptions, std::string_view(token).substr(1)) != std::end(kValueOptions);
    } else if (takesValue) {
      takesValue = false;
    } else if (token != "/s" && token != "/S") {
      loose.push_back(token);
    }
  }
  return loose;
}

bool ParseNumber(const std::string& text, double& value) {
  const char* end = text.data() + text.size();
  auto [stop, ec] = std::from_chars(text.data(), end, value);
  return !text.empty() && ec == std::errc() && stop == end && std::isfinite(value);
}

// "WIDTHxHEIGHT", each side 1..8192 (beyond that the picture would not fit a texture anyway).
bool ParseSize(const std::string& text, TSize& size) {
  const size_t x = text.find_first_of("xX");
  if (x == std::string::npos) return false;
  auto side = [](std::string_view digits, int32_t& out) {
    auto [stop, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), out);
    return !digits.empty() && ec == std::errc() && stop == digits.data() + digits.size() && out >= 1 &&
           out <= 8192;
  };
  const std::string_view all(text);
  return side(all.substr(0, x), size.width) && side(all.substr(x + 1), size.height);
}

int RenderUsageError(const std::string& text) {
  std::fprintf(stderr, "kivviewer: %s\n", text.c_str());
  return 1;
}

int Render(const std::string& output) {
  const std::vector<std::string> loose = LooseValues(CommandLine());
  if (loose.size() > 1) return RenderUsageError("-render takes one show, got \"" + loose[1] + "\" too");
  double time = 0;
  const bool byTime = HasOption("time");
  if (byTime && (!ParseNumber(OptionValue("time"), time) || time < 0))
    return RenderUsageError("-time wants milliseconds from 0 on, not \"" + OptionValue("time") + "\"");
  TSize size;
  const bool sized = HasOption("size");
  if (sized && !ParseSize(OptionValue("size"), size))
    return RenderUsageError("-size wants WIDTHxHEIGHT (1 to 8192 each), not \"" + OptionValue("size") + "\"");

  TShowToPlay show;
  if (loose.empty()) {
    show = ShowToPlay();
  } else {
    show.fileName = std::filesystem::absolute(loose.front()).lexically_normal().string();
    std::string ext = ExtractFileExt(show.fileName);
    std::ranges::transform(ext, ext.begin(),
                           [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    show.isProjectFile = ext == ".kiv";
  }
  std::unique_ptr<TKivShowLocator> locator = LocateShow(show.fileName, !show.isProjectFile);
  if (!locator) return 1;
  const TShowNames names = ShowNames(*locator, show.fileName, show.isProjectFile);
  if (HasOption("info")) PrintInfo(*locator, names, StartPosition());
  TKivSource& source = Options(*locator);
  if (!byTime) {
    const TStartPosition start = StartPosition();
    if (!start.byTime && start.position > 0) {
      const TSlideInfo slide = source.GetSlideTiming(static_cast<int32_t>(start.position));
      time = slide.start + slide.effectIn;
    }
  }
  if (!sized) size = DesignFrameSize(source);

  std::string whyNot;
  std::unique_ptr<TFrameRenderer> renderer = TFrameRenderer::Create(source, size, &whyNot);
  if (!renderer) return RenderUsageError("cannot render without a headless GL display: " + whyNot);
  const std::optional<TDevBitmap> frame = renderer->Render(time);
  renderer.reset();
  if (!frame) return RenderUsageError("the drawer could not draw the frame");
  if (!WriteFramePng(output, *frame)) return RenderUsageError("cannot write \"" + output + "\"");
  std::printf("rendered: %s (%d x %d, %g ms)\n", output.c_str(), size.width, size.height, time);
  std::fflush(stdout);
  return 0;
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
  if (HasOption("render")) {
    const std::string output = OptionValue("render");
    if (output.empty()) return RenderUsageError("-render wants the name of the PNG file to write");
    return Render(output);
  }

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

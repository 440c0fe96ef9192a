// The program entry: read the command line, locate and open the show, and play it in a window; or report
// what was found (-info), draw one frame offscreen (-render) or export the show as a video (-export).

#include "CacheImageDecoder.h"
#include "CommandLine.h"
#include "DecoderLibrary.h"
#include "ErrorBox.h"
#include "FindShow.h"
#include "FilterFactory.h"
#include "ImagingLibraries.h"
#include "Log.h"
#include "OffscreenFrame.h"
#include "OpenedShow.h"
#include "PrintDialog.h"
#include "ScreenSaverInstance.h"
#include "SdlLibraryVersion.h"
#include "ShowExport.h"
#include "ShowPaths.h"
#include "ShowTimeline.h"
#include "SlideNavigation.h"
#include "Utf8Conversion.h"
#include "sdl/ShowWindow.h"

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
    "usage: kivviewer [SHOW | -exename SHOW | -filename PROJECT] [-slide N | -time MS] [options]\n"
    "       kivviewer -render OUT.png [-time MS | -slide N] [-size WxH | -size N] [SHOW]\n"
    "       kivviewer -export OUT [-size WxH] [-fps N] [-from MS] [-to MS] [SHOW]\n"
    "       kivviewer -print OUT.pdf [-slide N | -time MS] [-main-image] [SHOW]\n"
    "\n"
    "Plays a packed slide show in a window, with its sound: the one appended to this program, the one in\n"
    "SHOW, or the one in a \".KvShow\" file of the same name; -filename plays a project file on disk.\n"
    "Names after -exename and -filename are taken from the program's folder; SHOW written on its own is\n"
    "a packed show, or a project file when it ends in \".kiv\", taken from the current folder. Escape or\n"
    "closing the window ends the program. Options are written in lower case.\n"
    "\n"
    "Playing:\n"
    "  -exename SHOW     play the packed show in SHOW (an \".app\" bundle works too)\n"
    "  -filename FILE    play the project file FILE\n"
    "  -slide N          start at slide N (from 1)\n"
    "  -time MS          start at MS milliseconds (when -slide is not given)\n"
    "  -display N        monitor for the show (from 1)\n"
    "  -desktopalign     place the show's window over all monitors together\n"
    "  -resize           give a show that plays in a window a frame the user may resize\n"
    "  -cover            fill the window with the slides, cropping them\n"
    "  -startup          show the show's start-up window (its one-slide start-up project)\n"
    "  -filelog          write a log beside the program\n"
    "  -log              write a log to stderr\n"
    "  -info             print show, version, project, start and the show's options, and end\n"
    "  -ownerwnd H       accepted for compatibility; no effect\n"
    "  /s                start as a screen saver: a screen-saver show plays only so, once at a time\n"
    "  --help            print this help and end\n"
    "  --version         print the version and those of the libraries in use, and end\n"
    "\n"
    "Drawing, exporting and printing (SHOW as for playing when not given):\n"
    "  -render OUT.png   draw the frame at a time offscreen (headless GL) and write it as a PNG\n"
    "  -export OUT       play the show offscreen and write it as .mp4, .webm, .mkv or .wav\n"
    "  -print OUT.pdf    write what Print sends to the printer for a slide as a one-page PDF\n"
    "  -size WxH         size of the frames drawn (1 to 8192 each; default the show's design size)\n"
    "  -size N           for -render: the longer side N, the show's proportions kept\n"
    "  -fps N            frames per second of an export (1 to 1000, default 30)\n"
    "  -from MS          where an export starts (default 0)\n"
    "  -to MS            where an export ends (default one pass of the show)\n"
    "  -main-image       print the slide's main picture rather than the slide\n"
    "\n"
    "-render draws the frame of the show at a time: MS milliseconds, else the start of slide N, else 0.\n"
    "SHOW is a packed show, or a project file when it ends in \".kiv\"; relative to the current folder.\n"
    "Random transitions are drawn the same way every run by -info, -render and -export; a window draws\n"
    "them anew each time it opens a show.\n"
    "The size is the show's design size (opt_scr_width x opt_scr_height), or 800x600 when it has none.\n"
    "\n"
    "-export plays the show offscreen, as fast as the machine draws, and writes it as a video with its\n"
    "sound. The container follows OUT's extension: .mp4 (H.264 and AAC), .webm (VP9 and Opus), .mkv (FFV1\n"
    "in RGB and PCM: lossless), .wav (the sound alone, PCM, 2 channels, 44100 Hz, 16 bits). A frame is\n"
    "drawn every 1000/N ms of show time, from -from to -to (a show that does not repeat ends at its end).\n"
    "Slides that wait for the user at their end, or loop, hold for no time in an export; programs, links\n"
    "and other shows that slides start are not run. The file is written beside OUT and renamed when\n"
    "complete; a progress bar goes to stderr when it is a terminal.\n"
    "\n"
    "-print draws the slide at its start (or the frame at MS milliseconds), or with -main-image the\n"
    "slide's main picture when it has one, on an A4 page turned to landscape when the picture is wider\n"
    "than high.\n"
    "\n"
    "Exit status: 0 when done, 1 when the show cannot be found, opened, drawn or written, or an option is\n"
    "wrong.\n";

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
void PrintOptions(TKivSource& options) {
  std::printf("slides: %d\n", options.SlideCount());
  std::printf("repeat: %s\n", RepeatWord(options.RepeatMode()));
  std::printf("transitions: %s\n", options.TransitionsEnabled() ? "on" : "off");
  std::printf("transition time: %d\n", options.EffectTime());
  std::printf("screensaver: %s\n", options.ScreenSaver() ? "yes" : "no");
  std::string order;
  for (int position = 0; position < options.SlideCount(); ++position)
    order += (position > 0 ? " " : "") + std::to_string(options.SlideNumberAt(position) + 1);
  std::printf("order: %s\n", order.c_str());
  // Random transitions drawn as -render and -export draw them, so that this line names what they show.
  options.SetDeterministic(true, 0);
  std::string transitions;
  for (int position = 0; position < options.SlideCount(); ++position) {
    const TEffectChoice effect = options.GetEffect(position);
    transitions += (position > 0 ? " " : "") + std::to_string(position + 1) + ":" +
                   TransitionLabel(effect.effectClass, effect.effectType, effect.customNumber);
  }
  std::printf("slide transitions: %s\n", transitions.c_str());
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
constexpr std::string_view kValueOptions[] = {"render",  "time",     "slide",  "size", "exename", "filename",
                                              "display", "ownerwnd", "export", "fps",  "from",    "to",
                                              "print"};

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

// The show a tool option works on: SHOW written on its own (from the current folder), else the one the
// program would play.
TShowToPlay ToolShow(const std::vector<std::string>& loose) {
  if (loose.empty()) return ShowToPlay();
  TShowToPlay show;
  show.fileName = std::filesystem::absolute(loose.front()).lexically_normal().string();
  std::string ext = ExtractFileExt(show.fileName);
  std::ranges::transform(ext, ext.begin(),
                         [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  show.isProjectFile = ext == ".kiv";
  return show;
}

int RenderUsageError(const std::string& text) {
  std::fprintf(stderr, "kivviewer: %s\n", text.c_str());
  return 1;
}

// "-size N": the longer side N with the proportions of design (1 to 8192); false when text is no such number.
bool ParseLongerSide(const std::string& text, TSize design, TSize& size) {
  int32_t side = 0;
  auto [stop, ec] = std::from_chars(text.data(), text.data() + text.size(), side);
  if (text.empty() || ec != std::errc() || stop != text.data() + text.size() || side < 1 || side > 8192)
    return false;
  const double longer = std::max(design.width, design.height);
  if (longer <= 0) return false;
  size.width = std::clamp(static_cast<int32_t>(std::lround(design.width * side / longer)), 1, side);
  size.height = std::clamp(static_cast<int32_t>(std::lround(design.height * side / longer)), 1, side);
  return true;
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
  const std::string sizeText = OptionValue("size");
  const bool longerSide = sized && sizeText.find_first_of("xX") == std::string::npos;
  if (sized && !longerSide && !ParseSize(sizeText, size))
    return RenderUsageError("-size wants WIDTHxHEIGHT (1 to 8192 each), not \"" + sizeText + "\"");
  if (longerSide && !ParseLongerSide(sizeText, {1, 1}, size))
    return RenderUsageError("-size wants WIDTHxHEIGHT or the longer side (1 to 8192), not \"" + sizeText + "\"");

  const TShowToPlay show = ToolShow(loose);
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
  if (longerSide) ParseLongerSide(sizeText, DesignFrameSize(source), size);

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

int PrintSlide(const std::string& output) {
  const std::vector<std::string> loose = LooseValues(CommandLine());
  if (loose.size() > 1) return RenderUsageError("-print takes one show, got \"" + loose[1] + "\" too");
  double time = 0;
  const bool byTime = HasOption("time");
  if (byTime && (!ParseNumber(OptionValue("time"), time) || time < 0))
    return RenderUsageError("-time wants milliseconds from 0 on, not \"" + OptionValue("time") + "\"");
  const TShowToPlay show = ToolShow(loose);
  std::unique_ptr<TKivShowLocator> locator = LocateShow(show.fileName, !show.isProjectFile);
  if (!locator) return 1;
  TKivSource& source = Options(*locator);
  const int count = source.SlideCount();
  if (count <= 0) return RenderUsageError("the show has no slides to print");
  int index = 0;
  if (byTime) {
    // The slide of the position, in whichever pass of a repeating show it lies.
    index = ((source.FindSlideAt(time) % count) + count) % count;
  } else {
    const TStartPosition start = StartPosition();
    if (!start.byTime && start.position > 0) {
      if (start.position >= count)
        return RenderUsageError("the show has " + std::to_string(count) + " slides, not " +
                                std::to_string(start.position + 1));
      index = static_cast<int>(start.position);
      const TSlideInfo slide = source.GetSlideTiming(index);
      time = slide.start + slide.effectIn;
    }
  }
  const TSize size = DesignFrameSize(source);
  std::string whyNot;
  std::unique_ptr<TFrameRenderer> renderer = TFrameRenderer::Create(source, size, &whyNot);
  if (!renderer) return RenderUsageError("cannot draw the slide without a headless GL display: " + whyNot);
  const std::optional<TDevBitmap> frame = renderer->Render(time);
  renderer.reset();
  if (!frame) return RenderUsageError("the drawer could not draw the slide");
  auto rendered = TRef<TBitmap>::Make(frame->Width(), frame->Height(), TBitmapFormat::Pf32bit);
  for (int y = 0; y < frame->Height(); ++y)
    for (int x = 0; x < frame->Width(); ++x)
      rendered->SetPixel32(x, y, frame->Pixel32(x, y) | 0xFF000000u);

  // The dialog's own choice of picture, without the dialog on screen.
  const TCallBackClass callback(*locator, rendered, index);
  TKivPrintDialog dialog(*locator->Project(), callback.AsCallback(), {});
  dialog.OnlyMainImage().SetChecked(HasOption("main-image"));
  const TRef<TBitmap> picture = dialog.PictureToPrint();
  if (!picture) return RenderUsageError("there is no picture to print");
  if (!WritePicturePdf(*picture, output, &whyNot)) return RenderUsageError(whyNot);
  std::printf("printed: %s (slide %d, %d x %d, %s)\n", output.c_str(), index + 1, picture->Width(), picture->Height(),
              IsLandscape(picture->Width(), picture->Height()) ? "landscape" : "portrait");
  std::fflush(stdout);
  return 0;
}

int Export(const std::string& output) {
  const std::vector<std::string> loose = LooseValues(CommandLine());
  if (loose.size() > 1) return RenderUsageError("-export takes one show, got \"" + loose[1] + "\" too");
  TExportOptions options;
  options.output = output;
  if (!ExportContainerOf(output, options.container))
    return RenderUsageError("-export writes .mp4, .webm, .mkv or .wav, not \"" + output + "\"");
  if (HasOption("size") && !ParseSize(OptionValue("size"), options.size))
    return RenderUsageError("-size wants WIDTHxHEIGHT (1 to 8192 each), not \"" + OptionValue("size") + "\"");
  if (HasOption("fps")) {
    double fps = 0;
    if (!ParseNumber(OptionValue("fps"), fps) || fps < 1 || fps > 1000 || fps != std::floor(fps))
      return RenderUsageError("-fps wants whole frames per second from 1 to 1000, not \"" +
                              OptionValue("fps") + "\"");
    options.fps = static_cast<int>(fps);
  }
  for (const char* name : {"from", "to"}) {
    if (!HasOption(name)) continue;
    double value = 0;
    if (!ParseNumber(OptionValue(name), value) || value < 0)
      return RenderUsageError(std::string("-") + name + " wants milliseconds from 0 on, not \"" +
                              OptionValue(name) + "\"");
    (std::string_view(name) == "from" ? options.from : options.to) = value;
  }
  // Failures to find the show are one line on stderr here, never a box.
  SetErrorBoxHandler([](const std::string& text) {
    std::string line = DisplayText(text);
    std::ranges::replace(line, '\n', ' ');
    std::fprintf(stderr, "kivviewer: %s\n", line.c_str());
  });
  const TShowToPlay show = ToolShow(loose);
  std::unique_ptr<TKivShowLocator> locator = LocateShow(show.fileName, !show.isProjectFile);
  if (!locator) return 1;
  return ExportShow(*locator, options);
}

int Play() {
  const std::vector<std::string> loose = LooseValues(CommandLine());
  const TShowToPlay show = ToolShow(loose);
  const TStartPosition start = StartPosition();
  std::unique_ptr<TKivShowLocator> locator = LocateShow(show.fileName, !show.isProjectFile);
  if (!locator) return 1;
  const TShowNames names = ShowNames(*locator, show.fileName, show.isProjectFile);
  if (HasOption("info")) {
    PrintInfo(*locator, names, start);
    PrintOptions(Options(*locator));
    std::fflush(stdout);
    return 0;
  }
  // A screen saver plays only when the system starts it as one, and once at a time; else it ends quietly.
  std::unique_ptr<TInstanceLock> instance;
  if (Options(*locator).ScreenSaver()) {
    if (!HasRawToken("/s") && !HasRawToken("/S")) return 0;
    instance = std::make_unique<TInstanceLock>(InstanceLockFolder(), InstanceName(ProgramFileName()));
    if (!instance->Held()) return 0;
  }
  std::string whyNot;
  if (!DisplayAvailable(&whyNot)) {
    std::fprintf(stderr, "kivviewer: %s\n", whyNot.c_str());
    return 1;
  }
  TShowWindowOptions options;
  if (start.byTime)
    options.startPosition = static_cast<double>(start.position);
  else if (start.position > 0)
    options.startPosition = SlideStartTime(Options(*locator), static_cast<int>(start.position));
  options.cover = HasOption("cover");
  options.resize = HasOption("resize");
  options.desktopAlign = HasOption("desktopalign");
  double display = 0;
  if (HasOption("display") && ParseNumber(OptionValue("display"), display))
    options.display = static_cast<int>(display);
  return RunShowWindow(std::move(locator), show.fileName, show.isProjectFile, options);
}

int Run(int argc, char** argv) {
  InitCommandLine(argc, argv);
  if (HasRawToken("--help")) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  if (HasRawToken("--version")) {
    std::printf("kivviewer %s\n", KIV_VERSION_TEXT);
    std::printf("%s\n%s\n", SdlVersionLine().c_str(), DecoderVersionLine().c_str());
    for (const std::string& line : ImagingLibraryVersions()) std::printf("%s\n", line.c_str());
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
  if (HasOption("print")) {
    const std::string output = OptionValue("print");
    if (output.empty()) return RenderUsageError("-print wants the name of the PDF file to write");
    return PrintSlide(output);
  }
  if (HasOption("export")) {
    const std::string output = OptionValue("export");
    if (output.empty()) return RenderUsageError("-export wants the name of the file to write");
    return Export(output);
  }
  return Play();
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

#include "ShowWindow.h"

#include "ErrorBox.h"
#include "FFMpegConverter.h"
#include "FindShow.h"
#include "GLContext.h"
#include "GLDevice.h"
#include "GLDeviceLayer.h"
#include "InputMapping.h"
#include "InputRouting.h"
#include "Log.h"
#include "MixerWaveOutDevice.h"
#include "MouseMonitor.h"
#include "OpenedShow.h"
#include "PackedShowReader.h"
#include "PasswordDialog.h"
#include "PrintDialog.h"
#include "ProgramLauncher.h"
#include "ShowMusicPlayer.h"
#include "ShowPaths.h"
#include "ShowSwitching.h"
#include "ShowViewer.h"
#include "SlideNavigation.h"
#include "ThreadHost.h"
#include "Utf8Conversion.h"
#include "sdl/SdlDialogRunner.h"
#include "sdl/SdlKeyCodes.h"
#include "sdl/SdlSoundOutput.h"

#include <SDL2/SDL.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>

namespace kiv {

namespace {

// SDL user events: engine reports for the application, and jobs for the main thread. Registered once
// for the process, as SDL's event types are.
Uint32 gApplicationEvent = 0;
Uint32 gJobEvent = 0;

// The application object on SDL's event queue: records travel as user events and are delivered by the
// window's loop on the main thread.
class TSdlApplication final : public TKivApplication {
public:
  void PostEvent(int number, TOwned<TKivEventData> record) override {
    SDL_Event event{};
    event.type = gApplicationEvent;
    event.user.code = number;
    event.user.data1 = record.get();
    if (SDL_PushEvent(&event) == 1) record.release();
  }
  void Handle(const SDL_Event& event) {
    Deliver(event.user.code, TOwned<TKivEventData>(static_cast<TKivEventData*>(event.user.data1)));
  }
};

// Device creation and release on the main thread, asked for from the engine's.
class TSdlDispatcher final : public TMainThreadDispatcher {
public:
  void Post(std::function<void()> job) override {
    SDL_Event event{};
    event.type = gJobEvent;
    event.user.data1 = new std::function<void()>(std::move(job));
    if (SDL_PushEvent(&event) != 1) delete static_cast<std::function<void()>*>(event.user.data1);
  }
  static void Run(const SDL_Event& event) {
    std::unique_ptr<std::function<void()>> job(static_cast<std::function<void()>*>(event.user.data1));
    (*job)();
  }
};

// Main-thread work met by a dialog's own loop runs at once: the engine's thread may be waiting for it.
bool RunJobEvent(const SDL_Event& event) {
  if (event.type != gJobEvent) return false;
  TSdlDispatcher::Run(event);
  return true;
}

// Frees what is still queued when the loop ends.
void DropUserEvents() {
  SDL_Event event;
  while (SDL_PeepEvents(&event, 1, SDL_GETEVENT, SDL_USEREVENT, SDL_LASTEVENT) == 1) {
    if (event.type == gApplicationEvent)
      TOwned<TKivEventData>(static_cast<TKivEventData*>(event.user.data1));
    else if (event.type == gJobEvent)
      delete static_cast<std::function<void()>*>(event.user.data1);
  }
}

class TSdlViewerWindow final : public TViewerWindow {
public:
  TSdlViewerWindow(TPlatformWindow& window, TSize desktop) : window_(window), desktop_(desktop) {}

  SDL_Window* Sdl() const { return static_cast<SDL_Window*>(window_.NativeHandle()); }

  TOwned<TSysDevice> CreateDevice() override {
    auto device = MakeOwned<TSysDevice>();
    device->window = &window_;
    int width = 0, height = 0;
    SDL_GetWindowSize(Sdl(), &width, &height);
    device->bounds = {0, 0, width, height};
    device_ = device.get();
    return device;
  }
  std::vector<TRect> Monitors() override {
    std::vector<TRect> monitors;
    for (const TDisplayInfo& display : SdlDisplays())
      monitors.push_back(
          {display.bounds.left, display.bounds.top, display.bounds.right, display.bounds.bottom});
    if (monitors.empty()) monitors.push_back({0, 0, desktop_.width, desktop_.height});
    return monitors;
  }
  TSize FrameExtra(int frameStyle) override {
    if (frameStyle == 0) return {};
    int top = 0, left = 0, bottom = 0, right = 0;
    if (SDL_GetWindowBordersSize(Sdl(), &top, &left, &bottom, &right) != 0) return {};
    return {left + right, top + bottom};
  }
  void Place(const TWindowPlacement& placement, TDrawDevice& device) override {
    SDL_Window* window = Sdl();
    SDL_SetWindowBordered(window, placement.frameStyle != 0 ? SDL_TRUE : SDL_FALSE);
    SDL_SetWindowResizable(window, placement.frameStyle == 1 ? SDL_TRUE : SDL_FALSE);
    if (placement.fullScreen) {
      SDL_SetWindowPosition(window, placement.window.left, placement.window.top);
      SDL_SetWindowFullscreen(window, SDL_WINDOW_FULLSCREEN_DESKTOP);
    } else {
      SDL_SetWindowFullscreen(window, 0);
      SDL_SetWindowSize(window, placement.client.Width(), placement.client.Height());
      const TSize extra = FrameExtra(placement.frameStyle);
      SDL_SetWindowPosition(window, placement.window.left + extra.width / 2,
                            placement.window.top +
                                (placement.frameStyle ? extra.height - extra.width / 2 : 0));
    }
    PlaceDevice(placement, device);
  }
  void FirstFrame() override {
    SDL_ShowWindow(Sdl());
    SDL_RaiseWindow(Sdl());
  }
  // The window system resized the client area.
  void Resized(int width, int height) {
    if (!device_) return;
    TDeviceLockGuard lock(DeviceLock());
    device_->SetBounds({0, 0, width, height}, device_->origin, device_->fullScreen);
  }
  void Exposed() {
    if (device_ && device_->OnPaint) device_->OnPaint(device_);
  }
  void SetActive(bool active) {
    if (device_) device_->active.store(active, std::memory_order_release);
  }

private:
  TPlatformWindow& window_;
  TSize desktop_;
  TSysDevice* device_ = nullptr; // owned by the engine, which the window outlives
};

// A show that asks for its start-up window shows it first, in a child of this program; only when the
// viewer chooses to run the show there (exit status 1) does it go on. pump keeps this process's events
// moving meanwhile.
bool StartupWindowAgreed(const TIniFile& project, const std::string& showName, bool isProjectFile,
                         const std::function<bool()>& pump) {
  if (StartupWindowMode() || !project.ReadBool(u"main", u"stw_show", false)) return true;
  const std::string display = HasOption("display") ? OptionValue("display") : std::string();
  int code = -1;
  const bool ended =
      RunAndWait(StartupWindowCommand(ProgramFileName(), showName, isProjectFile, display), code, pump);
  LogLine("start-up window: " + (ended ? "exit code " + std::to_string(code) : std::string("not run")));
  return ended && code == 1;
}

// The main window's part of playback: input, actions and the end of the program.
class TMainWindow final : private TInputSink {
public:
  // The first show is located and past its password step; the window takes it over.
  TMainWindow(std::unique_ptr<TKivShowLocator> locator, const std::string& showName, bool isProjectFile,
              TKivShowViewer& viewer, TSdlViewerWindow& window)
      : locator_(std::move(locator)), viewer_(viewer), window_(window),
        mapping_(std::make_unique<TInputMappingClass>(*locator_->Project())), startTick_(SDL_GetTicks64()) {
    showVersion_ = locator_->KivVersion();
    if (isProjectFile) projectFileName_ = showName;
    TakeShow(showName, !isProjectFile);
    viewer_.OnPosition = [this](TKivShowViewer&, int32_t position, bool ended) {
      // Reports come every 20 ms of play: the log notes only the jumps (seeks, other slides).
      if (LogActive() && std::abs(int64_t{position} - lastLoggedPosition_) > kLoggedJumpMs)
        LogLine("main window: position " + std::to_string(position) + " ms");
      lastLoggedPosition_ = position;
      if (ended && !closing_ && Source().RepeatMode() == TRepeatMode::Close) {
        endedAtLastSlide_ = true;
        userExit_ = true;
        RequestClose();
      }
    };
    viewer_.OnAction = [this](TKivShowViewer&, const TKivActionInfo& action) {
      if (inAction_) return;
      inAction_ = true;
      ExecuteAction(action);
      inAction_ = false;
    };
    viewer_.OnImage = [this](TKivShowViewer&, TDevBitmap& image) { Print(image); };
    monitor_.OnLeave = [this] { Left(); };
    monitor_.OnHiddenChanged = [this](bool hidden) {
      TKivEngine* engine = viewer_.Engine();
      // Over the navigation panel the cursor stays: the panel is what it is there for.
      if (hidden && engine && engine->HoverClass() == "NavPanel") {
        monitor_.Activity();
        return;
      }
      SDL_ShowCursor(hidden ? SDL_DISABLE : SDL_ENABLE);
    };
    monitor_.OnPoll = [this] {
      if (monitor_.Hidden()) return;
      TKivEngine* engine = viewer_.Engine();
      const bool hand = engine && engine->HoverActive() && engine->HoverClass() != "TKivButton";
      if (hand && !handCursor_) handCursor_ = SDL_CreateSystemCursor(SDL_SYSTEM_CURSOR_HAND);
      SDL_SetCursor(hand && handCursor_ ? handCursor_ : SDL_GetDefaultCursor());
    };
  }
  ~TMainWindow() {
    viewer_.OnPosition = nullptr;
    viewer_.OnAction = nullptr;
    viewer_.OnImage = nullptr;
    SDL_ShowCursor(SDL_ENABLE);
    SDL_SetCursor(SDL_GetDefaultCursor());
    if (handCursor_) SDL_FreeCursor(handCursor_);
  }

  // Every pass of the event loop: the cursor monitor polls every 20 ms.
  void Tick() {
    const Uint64 now = SDL_GetTicks64();
    if (now - lastPoll_ < static_cast<Uint64>(TMouseMonitor::kPollMs)) return;
    lastPoll_ = now;
    monitor_.Poll(SDL_GetMouseFocus() == window_.Sdl());
  }

  bool Closing() const { return closing_; }
  // What the program ends with: 1 when a start-up window chose to run its show.
  int ExitCode() const { return exitCode_; }
  // Delivers the window's pending events while a child runs; input and closing are refused meanwhile.
  void SetEventPump(std::function<void()> pump) { pump_ = std::move(pump); }
  // The window is asked to close: by the user (Exit), by the show's end, or by the system (userExit false).
  void RequestClose() {
    if (closing_ || inCloseQuery_) return;
    inCloseQuery_ = true;
    const bool close = CloseQuery();
    inCloseQuery_ = false;
    if (close) closing_ = true;
  }
  TKivShowLocator& Locator() { return *locator_; }

  // Locates, checks and starts a show in this window; position is a slide index or, byTime, ms. False
  // leaves the current show as it was.
  bool OpenShow(const std::string& name, bool isExe, bool byTime, bool withPassword, int64_t position) {
    const bool wasPlaying = !viewer_.Paused();
    if (wasPlaying) viewer_.SetPaused(true);
    std::unique_ptr<TKivShowLocator> located = LocateShow(name, isExe);
    if (!located || !located->Project()) {
      if (wasPlaying) viewer_.SetPaused(false);
      return false;
    }
    Options(*located);
    if (withPassword) {
      TSdlDialogRunner runner(window_.Sdl(), RunJobEvent);
      if (!CheckPassword(runner, *located->Project())) {
        if (wasPlaying) viewer_.SetPaused(false);
        return false;
      }
    }
    if (!StartupWindow(*located->Project(), name, !isExe)) {
      if (wasPlaying) viewer_.SetPaused(false);
      return false;
    }
    // The engine may still read the show it leaves until the new one is open: that one goes at the next
    // change of show or with the window.
    previous_ = std::move(locator_);
    locator_ = std::move(located);
    mapping_ = std::make_unique<TInputMappingClass>(*locator_->Project());
    viewer_.Open(locator_->AccessorRef(), *locator_->Project(), 0);
    TakeShow(name, isExe);
    if (byTime || position > 0)
      viewer_.SetPosition(byTime ? static_cast<double>(position) : SlideStartTime(Source(), static_cast<int>(position)));
    if (wasPlaying) viewer_.SetPaused(false);
    return true;
  }

  void Key(const SDL_KeyboardEvent& key) {
    router_.Key(KeyCodeFromSdl(key.keysym.sym, key.keysym.mod),
                ShiftStateFromSdl(key.keysym.mod, SDL_GetMouseState(nullptr, nullptr)));
  }

  void Button(const SDL_MouseButtonEvent& button, bool down) {
    router_.Button(
        MouseButtonFromSdl(button.button), down, button.clicks, button.x, button.y,
        ShiftStateFromSdl(static_cast<uint16_t>(SDL_GetModState()), SDL_GetMouseState(nullptr, nullptr)),
        static_cast<int64_t>(SDL_GetTicks64() - startTick_));
  }

  void Motion(const SDL_MouseMotionEvent& motion) {
    if (busy_ > 0) return;
    monitor_.MouseMoved(motion.x, motion.y);
    router_.Motion(motion.x, motion.y,
                   ShiftStateFromSdl(static_cast<uint16_t>(SDL_GetModState()), motion.state));
  }

  void Left() {
    // Buttons lose their hover state when the cursor leaves the window.
    viewer_.SendMouse(0, INT32_MAX, kMouseButtonNone, kMouseMove, INT32_MAX);
  }

  void Wheel(const SDL_MouseWheelEvent& wheel) {
    const SDL_Keymod mod = SDL_GetModState();
    router_.Wheel(wheel.preciseY, (mod & KMOD_CTRL) && !(mod & (KMOD_SHIFT | KMOD_ALT | KMOD_GUI)));
  }

private:
  // What the input routing asks of the window.
  TInputMappingClass& Mapping() override { return *mapping_; }
  bool Busy() const override { return busy_ > 0; }
  bool StartupMode() const override { return StartupWindowMode(); }
  bool DialogShown() const override {
    TKivEngine* engine = viewer_.Engine();
    return engine && engine->IsDialogShown();
  }
  bool WaitingAtBarrier() const override {
    TKivEngine* engine = viewer_.Engine();
    return engine && engine->IsWaiting();
  }
  bool CursorHidden() const override { return monitor_.Hidden(); }
  double Position() const override { return viewer_.Position(); }
  bool Paused() const override { return viewer_.Paused(); }
  void Execute(const TKivActionInfo& action) override { ExecuteAction(action); }
  void ShowHelp() override { viewer_.ShowHelp(); }
  void CloseDialog() override { viewer_.CloseDialog(); }
  void ReleaseBarrier() override {
    if (TKivEngine* engine = viewer_.Engine()) engine->ReleaseBarrier();
  }
  void SendMouse(uint8_t shift, int32_t x, int32_t y, int32_t button, uint8_t event) override {
    viewer_.SendMouse(shift, x, button, event, y);
  }
  void SendMouseAction(uint8_t shift, int32_t x, int32_t y, int32_t button, uint8_t event,
                       const TKivActionInfo& mapped) override {
    viewer_.SendMouseAction(shift, x, button, event, y, mapped);
  }
  void GoTo(double position, bool paused) override { viewer_.GoTo(position, paused); }

  void ExecuteAction(const TKivActionInfo& action) {
    if (busy_ > 0) return;
    TKivEngine* engine = viewer_.Engine();
    const double position = viewer_.Position();
    switch (action.Kind) {
    case TActionKind::Exit:
      userExit_ = true;
      RequestClose();
      return;
    case TActionKind::PrevSlide:
      viewer_.GoTo(PreviousSlideTarget(Source(), position), viewer_.Paused());
      return;
    case TActionKind::NextSlide:
      if (engine && engine->IsWaiting()) {
        engine->ReleaseBarrier();
        return;
      }
      viewer_.GoTo(NextSlideTarget(Source(), position, viewer_.Paused()), viewer_.Paused());
      return;
    case TActionKind::Help:
      viewer_.ShowHelp();
      return;
    case TActionKind::Pause:
      if (engine && engine->IsWaiting()) {
        engine->ReleaseBarrier();
        return;
      }
      viewer_.SetPaused(!viewer_.Paused());
      return;
    case TActionKind::GotoSlide: {
      int index = action.Param - 1;
      if (action.Param == -1) {
        index = -1;
        for (int i = 0; i < Source().SlideCount(); ++i)
          if (Source().GetSlideTiming(i).slideId == action.Text) {
            index = i;
            break;
          }
      }
      viewer_.GoTo(SlideStartTime(Source(), std::max(index, 0)), viewer_.Paused());
      return;
    }
    case TActionKind::Stop:
      viewer_.GoTo(0, true);
      return;
    case TActionKind::GotoTime:
      viewer_.GoTo(action.Param, viewer_.Paused());
      return;
    case TActionKind::Print:
      // The dialog opens once the engine has drawn the still of the current frame.
      viewer_.RequestImage();
      return;
    case TActionKind::RunPresentation:
    case TActionKind::RunPresentationAndReturn:
      OpenOtherShow(Utf16ToUtf8(action.Text), action.Kind == TActionKind::RunPresentationAndReturn);
      return;
    case TActionKind::OpenWebSite:
      launcher_.OpenLink(WebAddress(Utf16ToUtf8(action.Text)));
      return;
    case TActionKind::WriteEmail:
      launcher_.OpenLink(MailAddress(Utf16ToUtf8(action.Text)));
      return;
    case TActionKind::RunApp:
      launcher_.RunCommands(Utf16ToUtf8(action.Text), showFolder_);
      return;
    case TActionKind::RunAppAndExit:
      // The show ends first; the program starts as it goes.
      RequestClose();
      launcher_.RunCommands(Utf16ToUtf8(action.Text), showFolder_);
      return;
    case TActionKind::CloseDialog:
      // No dialog was open: a start-up window chose to run its show.
      userExit_ = true;
      exitCode_ = 1;
      RequestClose();
      return;
    default:
      // Saving a slide and changing the printer mean nothing here.
      LogLine("main window: action " + std::to_string(static_cast<int>(action.Kind)) + " \"" +
              Utf16ToUtf8(action.Text) + "\" not carried out");
      return;
    }
  }

  TKivSource& Source() { return Options(*locator_); }

  // The start-up window of a show about to open, with this window out of sight meanwhile.
  bool StartupWindow(const TIniFile& project, const std::string& name, bool isProjectFile) {
    const bool shown = (SDL_GetWindowFlags(window_.Sdl()) & SDL_WINDOW_SHOWN) != 0;
    if (shown) SDL_HideWindow(window_.Sdl());
    ++busy_;
    const bool agreed = StartupWindowAgreed(project, name, isProjectFile, [this] {
      if (pump_) pump_();
      return true;
    });
    --busy_;
    if (shown) {
      SDL_ShowWindow(window_.Sdl());
      SDL_RaiseWindow(window_.Sdl());
    }
    return agreed;
  }

  // What follows every change of show: the names, the wheel, the caption, the cursor.
  void TakeShow(const std::string& name, bool isExe) {
    const TIniFile& project = *locator_->Project();
    const TShowNames names = ShowNames(*locator_, name, !isExe);
    showFileName_ = names.fileName;
    showFolder_ = names.folder;
    router_.SetWheelEnabled(!project.ReadBool(u"main", u"opt_lockwheel", false));
    SDL_SetWindowTitle(window_.Sdl(),
                       Utf16ToUtf8(project.ReadString(u"main", u"opt_scr_caption", u"KivViewer v5.6")).c_str());
    monitor_.ApplyShowSettings(project);
  }

  int CurrentSlideIndex() {
    const int count = Source().SlideCount();
    if (count <= 0) return 0;
    return ((Source().FindSlideAt(viewer_.Position()) % count) + count) % count;
  }

  // Another show named by a command text; with return, this show at its slide goes on the run stack.
  bool OpenOtherShow(const std::string& text, bool withReturn) {
    const TShowCommand command = ParseShowCommand(text);
    if (command.fileName.empty()) return false;
    const std::string authoredExe = Utf16ToUtf8(locator_->Project()->ReadString(u"main", u"opt_exefn", u""));
    const std::string file = ResolveOtherShow(command.fileName, authoredExe, showFolder_);
    const bool isProject = !projectFileName_.empty() && file == projectFileName_;
    if (!isProject) {
      std::u16string version;
      if (!ReadShowVersion(file, version)) {
        std::error_code ec;
        ErrorBox(std::filesystem::exists(file, ec) ? "Not KivShow Executable File or File Corrupted:\r" + file
                                                   : "KivShow File not Found:\r" + file);
        return false;
      }
      if (version != showVersion_) {
        ErrorBox("KivShow ExeFile Version Mismatch:\r" + file);
        return false;
      }
    }
    LogLine("Open show: " + file);
    const std::string entry = withReturn ? RunStackEntry(showFileName_, CurrentSlideIndex()) : std::string();
    const bool paused = viewer_.Paused();
    if (OpenShow(file, !isProject, command.start.byTime, true, command.start.position)) {
      if (withReturn) runStack_.Push(entry);
      viewer_.SetPaused(false);
      return true;
    }
    if (withReturn) {
      viewer_.SetPaused(paused);
    } else {
      userExit_ = true;
      RequestClose();
    }
    return false;
  }

  // May the window close? Runs the show's exit choice or returns along the run stack instead.
  bool CloseQuery() {
    if (busy_ > 0) return false;
    const int mode = RunOnExitMode(*locator_->Project(), endedAtLastSlide_, userExit_);
    const bool userExit = userExit_;
    endedAtLastSlide_ = false;
    userExit_ = false;
    if (mode > 0) {
      const std::string text = Utf16ToUtf8(locator_->Project()->ReadString(u"main", u"opt_runapponexitfn", u""));
      if (!text.empty()) {
        if (mode == 2) {
          if (OpenOtherShow(text, false)) return false;
        } else {
          launcher_.RunCommands(text, showFolder_);
        }
      }
    } else if (userExit && !runStack_.Empty()) {
      if (OpenOtherShow(runStack_.Pop(), false)) return false;
    }
    return true;
  }

  // The print dialog over the still of the current frame and the slide it shows.
  void Print(const TDevBitmap& image) {
    const int count = Source().SlideCount();
    if (count <= 0) return;
    auto rendered = TRef<TBitmap>::Make(image.Width(), image.Height(), TBitmapFormat::Pf32bit);
    for (int y = 0; y < image.Height(); ++y)
      for (int x = 0; x < image.Width(); ++x)
        rendered->SetPixel32(x, y, image.Pixel32(x, y) | 0xFF000000u);
    const int slide = ((Source().FindSlideAt(viewer_.Position()) % count) + count) % count;
    const TCallBackClass callback(*locator_, rendered, slide);
    std::unique_ptr<TPrinterList> printers = MakeCupsPrinters();
    TSdlDialogRunner runner(window_.Sdl(), RunJobEvent);
    TPrintServices services;
    services.printers = printers.get();
    services.runner = &runner;
    services.defaultFolder = XdgPicturesFolder();
    const bool paused = viewer_.Paused();
    viewer_.SetPaused(true);
    ShowPrintDialog(runner, *locator_->Project(), callback.AsCallback(), services);
    viewer_.SetPaused(paused);
  }

  std::unique_ptr<TKivShowLocator> locator_;  // the show playing
  std::unique_ptr<TKivShowLocator> previous_; // the show left last, until the next change
  TKivShowViewer& viewer_;
  TSdlViewerWindow& window_;
  std::unique_ptr<TInputMappingClass> mapping_;
  std::string showFileName_, showFolder_, projectFileName_;
  std::u16string showVersion_;
  TRunStack runStack_;
  bool endedAtLastSlide_ = false;
  static constexpr int64_t kLoggedJumpMs = 1000;
  int64_t lastLoggedPosition_ = 0;
  bool userExit_ = false;
  bool inCloseQuery_ = false;
  Uint64 startTick_;
  TInputRouter router_{*this};
  bool inAction_ = false;
  bool closing_ = false;
  int busy_ = 0;     // above 0 while a child runs and the window waits for it
  int exitCode_ = 0; // the program's exit status
  std::function<void()> pump_;
  TDesktopSpawner spawner_;
  TProgramLauncher launcher_{spawner_};
  TMouseMonitor monitor_{[] { return static_cast<int64_t>(SDL_GetTicks64()); }};
  Uint64 lastPoll_ = 0;
  SDL_Cursor* handCursor_ = nullptr; // made on first use
};

// Registers with the device layer for the window's lifetime.
struct TDispatcherScope {
  explicit TDispatcherScope(TMainThreadDispatcher* dispatcher) { SetMainThreadDispatcher(dispatcher); }
  ~TDispatcherScope() { SetMainThreadDispatcher(nullptr); }
};

} // namespace

bool DisplayAvailable(std::string* why) {
  auto set = [why](std::string text) {
    if (why) *why = std::move(text);
    return false;
  };
  if (const char* forced = std::getenv("SDL_VIDEODRIVER"); forced && *forced) return true;
  const char* x11 = std::getenv("DISPLAY");
  const char* wayland = std::getenv("WAYLAND_DISPLAY");
  const std::string named = x11 && *x11 ? x11 : wayland && *wayland ? wayland : "";
  if (named.empty()) return set("no display: neither DISPLAY nor WAYLAND_DISPLAY is set");
  // Only the driver of the display named, for this check and every window after it: SDL's own search would
  // go on to others when it is not there, down to an offscreen one where windows show nowhere.
  SDL_SetHint(SDL_HINT_VIDEODRIVER, x11 && *x11 ? "x11" : "wayland");
  if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) return set("cannot open the display \"" + named + "\"");
  // The connection stays for the windows and dialogs to come: a display server whose last client leaves
  // resets, and a connection made while it does fails.
  return true;
}

int RunShowWindow(std::unique_ptr<TKivShowLocator> located, const std::string& showName, bool isProjectFile,
                  const TShowWindowOptions& options) {
  TKivShowLocator& locator = *located;
  const TIniFile* project = locator.Project();
  if (!project) {
    ErrorBox("Slideshow not Assigned");
    return 1;
  }
  if (Options(locator).SlideCount() <= 0) {
    ErrorBox("No Slides in Presentation");
    return 1;
  }
  const std::string caption =
      Utf16ToUtf8(project->ReadString(u"main", u"opt_scr_caption", u"KivViewer v5.6"));
  std::string whyNot;
  std::unique_ptr<TPlatformWindow> platformWindow =
      CreateSdlWindow(caption.c_str(), {0, 0, 640, 480}, true, &whyNot);
  if (!platformWindow) {
    ErrorBox("Cannot open a window: " + whyNot);
    return 1;
  }
  // Slides need true or high colour.
  if (SDL_DisplayMode mode; SDL_GetDesktopDisplayMode(0, &mode) == 0 && SDL_BITSPERPIXEL(mode.format) < 16) {
    ErrorBox("Currently you have 256 or 16 colors display mode.\rSet True color or High color display mode.");
    return 0;
  }
  // The password step, while the main window is still hidden: a refusal ends the program silently.
  {
    TSdlDialogRunner runner;
    if (!CheckPassword(runner, *project)) return 0;
  }
  // The window is not shown yet; what reaches it meanwhile waits for none.
  if (!StartupWindowAgreed(*project, showName, isProjectFile, [] {
        SDL_PumpEvents();
        SDL_FlushEvents(SDL_FIRSTEVENT, SDL_LASTEVENT);
        return true;
      }))
    return 0;
  if (gApplicationEvent == 0) {
    gApplicationEvent = SDL_RegisterEvents(2);
    gJobEvent = gApplicationEvent + 1;
  }
  SDL_SetHint(SDL_HINT_MOUSE_FOCUS_CLICKTHROUGH, "1");

  // GL work: renderers are made on this thread, drawing happens on the engine's.
  SetMainThread(std::this_thread::get_id());
  SetMultiThreaded(true);
  if (!EngineFactoryRegistered()) RegisterGLEngine();
  TSdlDispatcher dispatcher;
  TDispatcherScope dispatcherScope(&dispatcher);

  TSize desktop{1920, 1080};
  if (const std::vector<TDisplayInfo> displays = SdlDisplays(); !displays.empty())
    desktop = {displays.front().bounds.right - displays.front().bounds.left,
               displays.front().bounds.bottom - displays.front().bounds.top};

  int exitCode = 0;
  {
    TThreadHost host;
    TSoundOutputFactory outputs = DefaultSoundOutputFactory();
    TConverterFactory converters;
    RegisterVideoLibraryDecoders(converters);
    TSdlApplication application;
    TPlaybackContext context;
    context.host = &host;
    context.application = &application;
    context.music = MusicPlayerFactory(MixerWaveOutDeviceFactory(host, outputs), converters);
    context.desktop = desktop;
    context.cover = options.cover;
    context.releaseDrawingContext = [] { gl::ReleaseCurrentGLContext(); };
    TSdlViewerWindow window(*platformWindow, desktop);
    window.placementOptions.resize = options.resize;
    window.placementOptions.desktopAlign = options.desktopAlign;
    window.placementOptions.display = options.display;
    {
      TKivShowViewer viewer(context, window);
      TMainWindow main(std::move(located), showName, isProjectFile, viewer, window);
      viewer.SetActionsEnabled(true);
      viewer.Open(locator.AccessorRef(), *project, 0);
      if (options.startPosition > 0) viewer.SetPosition(options.startPosition);
      viewer.SetPaused(false);

      auto dispatch = [&](const SDL_Event& event) {
        if (event.type == gApplicationEvent) {
          application.Handle(event);
          return;
        }
        if (event.type == gJobEvent) {
          TSdlDispatcher::Run(event);
          return;
        }
        switch (event.type) {
        case SDL_QUIT:
          main.RequestClose();
          break;
        case SDL_KEYDOWN:
          main.Key(event.key);
          break;
        case SDL_MOUSEBUTTONDOWN:
        case SDL_MOUSEBUTTONUP:
          main.Button(event.button, event.type == SDL_MOUSEBUTTONDOWN);
          break;
        case SDL_MOUSEMOTION:
          main.Motion(event.motion);
          break;
        case SDL_MOUSEWHEEL:
          main.Wheel(event.wheel);
          break;
        case SDL_WINDOWEVENT:
          switch (event.window.event) {
          case SDL_WINDOWEVENT_CLOSE:
            main.RequestClose();
            break;
          case SDL_WINDOWEVENT_EXPOSED:
            window.Exposed();
            break;
          case SDL_WINDOWEVENT_SIZE_CHANGED:
            window.Resized(event.window.data1, event.window.data2);
            window.Exposed();
            break;
          case SDL_WINDOWEVENT_FOCUS_LOST:
          case SDL_WINDOWEVENT_MINIMIZED:
            window.SetActive(false);
            break;
          case SDL_WINDOWEVENT_FOCUS_GAINED:
          case SDL_WINDOWEVENT_RESTORED:
            window.SetActive(true);
            break;
          default:
            break;
          }
          break;
        default:
          break;
        }
      };
      main.SetEventPump([&] {
        SDL_Event event;
        while (SDL_PollEvent(&event))
          dispatch(event);
      });
      while (!main.Closing()) {
        SDL_Event event;
        main.Tick();
        if (!SDL_WaitEventTimeout(&event, 20)) continue;
        do {
          dispatch(event);
        } while (!main.Closing() && SDL_PollEvent(&event));
      }
      // The engine stops while device jobs can still run here: a renderer it releases may post one.
      viewer.OnPosition = nullptr;
      viewer.OnAction = nullptr;
      viewer.Stop();
      RunMainThreadJobs();
      exitCode = main.ExitCode();
    }
    DropUserEvents();
  }
  platformWindow.reset();
  return exitCode;
}

} // namespace kiv

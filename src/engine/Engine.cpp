#include "Engine.h"

#include "Assert.h"
#include "InputMapping.h"
#include "LoadOnlyDrawer.h"
#include "LoadYield.h"
#include "Log.h"
#include "Slide.h"

#include <cmath>

namespace kiv {

namespace {

const char* BoolWord(bool value) {
  return value ? "True" : "False";
}

bool Clickable(TKivObject& object) {
  return !object.TranspForClick();
}

} // namespace

TKivEngine::TKivEngine(TPlaybackContext& context, TDrawDevice* device, uint8_t logoMode, bool paused,
                       bool ownsDevice)
    : TCustomKivEngine(*context.host, *context.application, "engine", kShortSleepMs, kOrderEngine),
      context_(context), controller_(device, ownsDevice, context.drawerMode), logoMode_(logoMode),
      paused_(paused) {
  RY_ASSERT_MSG(context.music != nullptr, "TKivEngine: no music factory");
}

TKivEngine::~TKivEngine() {
  // Freed without TObj::Free: the parts that point into the drawer and the sources still go first.
  FreeShowParts(true);
}

void TKivEngine::Stop() {
  TCustomKivEngine::Stop();
  FreeShowParts(true);
}

void TKivEngine::FreeShowParts(bool freeMusic) {
  if (loader_) {
    StopWorker(*loader_);
    loader_.reset();
  }
  loaderStarted_ = false;
  slides_.fill(nullptr);
  slideCount_ = 0;
  pointerSlide_ = nullptr;
  hoverObject_ = pressedObject_ = nullptr;
  overlay_.reset();
  if (freeMusic && music_) {
    music_->SetPlaying(false);
    music_.reset();
    musicSource_ = nullptr;
  }
}

void TKivEngine::OnStart() {
  // The timer resolution the engine's 1 and 3 ms pauses need is the system's here.
}

void TKivEngine::OnStop() {
  if (context_.releaseDrawingContext) context_.releaseDrawingContext();
  TCustomKivEngine::OnStop();
}

std::string TKivEngine::HoverClass() const {
  std::lock_guard lock(hoverLock_);
  return hoverClass_;
}

void TKivEngine::SetHover(bool active, std::string className) {
  hoverActive_.store(active, std::memory_order_release);
  std::lock_guard lock(hoverLock_);
  hoverClass_ = std::move(className);
}

// ---- opening -------------------------------------------------------------------------------------

void TKivEngine::Open(TRef<TFileAccessor> accessor, std::unique_ptr<TIniFile> document, double position) {
  TOwned<TKivSource> previous = std::move(ownedSource_);
  ownedSource_ = MakeOwned<TKivSource>(std::move(accessor), std::move(document), context_.orders);
  if (context_.repeatableDraws) ownedSource_->SetDeterministic(true, 0);
  OpenAt(ownedSource_.get(), false, position);
  // The previous show's loader and music are gone with the open: nothing reads it any more.
  previous.reset();
}

void TKivEngine::MakeMusic() {
  music_ = context_.music(Host(), *source_);
  musicSource_ = source_;
  music_->Start();
  music_->SetPlaying(false);
}

void TKivEngine::OpenAt(TKivSource* source, bool reopen, double position) {
  endReported_ = false;
  LogLine((reopen ? "Reopen from new position>>>>>>>> " : "Open from new position>>>>>>>> ") +
          LogFloatText(position));
  const int64_t startTick = Clock().NowMs();

  // A newly opened show starts held at its position, also when the user had not paused the one before.
  if (paused_ || !reopen) SetActive(false);
  FreeShowParts(paused_);
  // Music made for another show goes; a reopen keeps the music that plays.
  if (music_ && musicSource_ != source) {
    music_->SetPlaying(false);
    music_.reset();
    musicSource_ = nullptr;
  }
  source_ = source;
  showLength_.store(source->TotalDuration(), std::memory_order_release);

  loader_ = MakeOwned<TKivSlideLoader>(Host(), *source, 3, false, context_.desktop);
  loader_->OnPreload = [this](TDrawContainer& container) { Preload(container); };
  loader_->SetTarget(&Events(), kEvSlideList);
  if (!music_) MakeMusic();

  if (!reopen) {
    PostToUI(kEvWindowMode, {loader_->Size.width, loader_->Size.height, loader_->WindowMode()});
    controller_.EnsureDrawer();
  }
  const TSize device = controller_.DeviceSize();
  loader_->Size = {std::max(10, device.width), std::max(10, device.height)};
  loader_->SetScreen(context_.cover);

  if (TIniSection* main = source->MainSection()) {
    TThirdSlideParams params;
    params.accessor = &source->Accessor();
    params.displayRect = loader_->DisplayRect();
    params.areaSize = loader_->Size;
    params.fillOutside = [this](TDeviceDrawer& drawer) {
      if (root_.FillBackground) drawer.FillOutside(root_.Background);
    };
    params.callbacks.isPlaying = [this] { return !paused_; };
    params.callbacks.seekTo = [this](double ms) { SeekTo(ms); };
    params.callbacks.setVolume = [this](float value) { SetVolume(value); };
    params.volume = music_ ? music_->GetVolume() : 0;
    params.showLength = source->TotalDuration();
    params.clock = context_.stillPanel ? &stillClock_ : &Clock();
    try {
      overlay_ = MakeOwned<TThirdSlide>(*main, std::move(params));
      if (context_.stillPanel) overlay_->ShowPanelNow();
    } catch (const std::exception& e) {
      LogLine(std::string("TKivEngine: no overlay: ") + e.what());
    }
  }

  heldTime_ = position;
  SetClock(position);
  lastReported_ = kForceReport;
  barrier_ = TBarrier{};
  nextAction_ = TSlideAction{};
  ComputeStops(position);
  waiting_.store(false, std::memory_order_release);
  LogInt("Loader Inited To Time : ", Clock().NowMs() - startTick);
}

// ---- clock ---------------------------------------------------------------------------------------

void TKivEngine::SetClock(double time) {
  if (loader_) loader_->ShowClock().SetTime(time);
}

double TKivEngine::ClockTime() const {
  return loader_ ? loader_->ShowClock().CurrentTime() : heldTime_;
}

double TKivEngine::CurrentTime() {
  if (!active_ || !music_) return heldTime_;
  return music_->GetShowTime() - heldTime_;
}

void TKivEngine::SetActive(bool on) {
  if (on == active_) return;
  if (!on) {
    interpolator_.SetBypass(true);
    active_ = false;
    activeFlag_.store(false, std::memory_order_release);
    if (music_) music_->SetPlaying(false);
    heldTime_ = loader_ ? ClockTime() : heldTime_;
    SetLoadCallBackMode(kLoadContinue);
    return;
  }
  if (T3DDrawer* drawer = controller_.Drawer()) {
    for (int i = 0; i < slideCount_; ++i) {
      TDrawContainer& container = *slides_[i];
      LogFloat("PreloadEx Time: ", heldTime_ - container.Timing().start);
      container.SetTime(heldTime_);
      if (TKivSlide* slide = container.Slide()) slide->Prepare(*drawer);
    }
  }
  if (music_) {
    if (music_->LastEndLimit() != barrier_.time) music_->SetEndLimit(barrier_.time);
    music_->SetPlaying(true);
  }
  active_ = true;
  activeFlag_.store(true, std::memory_order_release);
  // From now on the held time is the music clock's offset against the show time.
  heldTime_ = music_ ? music_->GetShowTime() - heldTime_ : 0;
  SetLoadCallBackMode(context_.yieldLoads ? kLoadYieldPlaying : kLoadContinue);
  interpolator_.SetBypass(false);
}

bool TKivEngine::IsMusicReady() {
  if (!music_) return false;
  if (!active_) {
    const double now = ClockTime();
    if (music_->GetShowTime() != now || music_->LastEndLimit() != barrier_.time)
      music_->SetTime(barrier_.time, now);
  }
  const bool ready = music_->IsReady();
  if (!ready && active_) LogLine("TKivEngine.IsMusicReady: False");
  return ready;
}

void TKivEngine::SeekTo(double time) {
  PostToUI(kEvAction, {static_cast<int32_t>(TActionKind::GotoTime), static_cast<int32_t>(std::lround(time))});
}

// ---- readiness, stops and the end --------------------------------------------------------------------

bool TKivEngine::SlidesReady() {
  if (active_) return true;
  if (slideCount_ < TSlideData::kMaxSlides) return false;
  const double t = CurrentTime();
  const TSlideInfo& first = slides_[0]->Timing();
  return t >= first.start + first.effectIn && t <= slides_[slideCount_ - 1]->Timing().visibleUntil;
}

bool TKivEngine::DrawTest(double t) const {
  auto within = [t](double from, double to) { return t >= from && t <= to; };
  switch (slideCount_) {
  case 1: {
    const TSlideInfo& s = slides_[0]->Timing();
    return within(s.start + s.effectIn, s.end);
  }
  case 2: {
    const TSlideInfo& a = slides_[0]->Timing();
    const TSlideInfo& b = slides_[1]->Timing();
    return within(a.start + a.effectIn, a.visibleUntil) || within(b.start, b.end);
  }
  case 3: {
    const TSlideInfo& first = slides_[0]->Timing();
    return t >= first.start + first.effectIn && t <= slides_[2]->Timing().visibleUntil;
  }
  default:
    return false;
  }
}

void TKivEngine::ComputeStops(double t) {
  if (!source_) return;
  if (!actionsEnabled_.load(std::memory_order_acquire)) {
    barrier_ = NoBarrier(*source_);
    nextAction_ = TSlideAction{};
    return;
  }
  barrier_ = FindBarrier(*source_, t, barrier_);
  nextAction_ = FindSlideAction(*source_, t, nextAction_);
}

bool TKivEngine::EndHolds() {
  return source_ && source_->RepeatMode() != TRepeatMode::Repeat && ClockTime() >= source_->TotalDuration();
}

void TKivEngine::CheckEnd() {
  if (!source_ || source_->RepeatMode() == TRepeatMode::Repeat) return;
  const double length = source_->TotalDuration();
  if (ClockTime() < length) return;
  SetClock(length);
  if (endReported_) return;
  endReported_ = true;
  lastReported_ = static_cast<int32_t>(std::lround(length));
  PostPosition(lastReported_, true);
}

void TKivEngine::ReachBarrier(double& next) {
  if (!context_.barriersHold) {
    // Nobody is there to continue: the show goes on as if the user had at once.
    const TBarrier passed = barrier_;
    barrier_ = FindBarrier(*source_, passed.time, passed);
    if (music_) music_->SetEndLimit(barrier_.time);
    SetClock(next);
    return;
  }
  LogLine("TKivEngine.MainLoop: SetActive(False) - Stop by Barrier");
  SetActive(false);
  if (barrier_.IsLoop()) {
    while (next >= barrier_.time)
      next -= barrier_.loopLength;
    SetClock(next);
  } else {
    waiting_.store(true, std::memory_order_release);
    SetClock(barrier_.time);
    barrier_ = FindBarrier(*source_, barrier_.time, barrier_);
  }
  heldTime_ = ClockTime();
  if (music_) music_->SetTime(barrier_.time, heldTime_);
}

void TKivEngine::PostPosition(int32_t position, bool ended) {
  const int32_t length = static_cast<int32_t>(std::lround(showLength_.load(std::memory_order_acquire)));
  PostToUI(kEvPosition, {appliedSequence_, position, length, ended ? 1 : 0});
}

void TKivEngine::Report() {
  const double now = ClockTime();
  if (std::fabs(now - static_cast<double>(lastReported_)) <= kReportStepMs) return;
  lastReported_ = static_cast<int32_t>(std::lround(now));
  PostPosition(lastReported_, false);
}

// ---- the loop pass -------------------------------------------------------------------------------

void TKivEngine::Step() {
  if (music_ && music_->GetVolume() != volume_) music_->SetVolume(volume_);
  if (Events().IsShutDown()) return;
  Events().Process();
  ApplyPendingRequest();
  if (loader_ && !loaderStarted_) {
    // Once: a loader that failed (a show without slides) stays down instead of failing every pass.
    loaderStarted_ = true;
    loader_->Start();
  }

  uint32_t flags = controller_.GetState();
  if (!drawn_) ++undrawnLoops_;

  bool wanted = !paused_ && !waiting_.load(std::memory_order_acquire) &&
                !(overlay_ && overlay_->AnyPausingDialog()) && SlidesReady() && IsMusicReady();
  if (!source_ || (source_->PauseWhenInactive() && !(flags & kDeviceActive)) || EndHolds()) wanted = false;
  if (!wanted) {
    if (active_) {
      LogLine("TKivEngine.MainLoop: SetActive(False) - Stop by not NewActive");
      flags |= kDeviceRedraw;
    }
    SetActive(false);
  }
  if ((flags & (kDeviceReady | kDeviceLost)) == (kDeviceReady | kDeviceLost)) {
    wanted = false;
    DeviceReinited();
  } else if ((flags & kDeviceRedraw) && loader_ && source_) {
    // Resized: the slides are laid out anew for the new size.
    const TSize size = controller_.DeviceSize();
    if (std::max(10, size.width) != loader_->Size.width ||
        std::max(10, size.height) != loader_->Size.height) {
      LogLine("OpenInt on diff size: " + std::to_string(size.width) + ", " + std::to_string(size.height));
      if (active_) wanted = false;
      SetActive(false);
      OpenAt(source_, true, CurrentTime());
    }
  }
  if (wanted && !active_) {
    LogLine("TKivEngine.MainLoop: SetActive(True) - Start by NewActive");
    SetActive(true);
  }

  if (!Terminated()) {
    double t = CurrentTime();
    if (active_ && !context_.exactClock) t = interpolator_.Smooth(t);
    if (overlay_) overlay_->SetTime(t);
    double next = t;
    if (active_ && barrier_.enabled && next >= barrier_.time)
      ReachBarrier(next);
    else
      SetClock(next);
    CheckEnd();
    if (active_ && source_ && ClockTime() >= nextAction_.time) {
      TKivActionInfo action{TActionKind::RunApp, 0, nextAction_.program};
      nextAction_ = FindSlideAction(*source_, nextAction_.time, nextAction_);
      if (!action.Text.empty()) ExecuteAction(action);
    }
    dialogShown_.store(overlay_ && overlay_->DialogCount() > 0, std::memory_order_release);
    if (!context_.drawOnDemand && slideCount_ > 0) {
      if (DrawTest(ClockTime())) {
        DrawFrame((flags & (kDeviceLost | kDeviceRedraw)) != 0);
      } else if (flags & kDeviceRedraw) {
        root_.Compose(nullptr, overlay_.get(), 0);
        controller_.DrawRoot(root_);
      }
    }
    const int64_t now = Clock().NowMs();
    SetPeriodMs(context_.drawOnDemand ? 1 : (now - lastTick_ < kFastPassMs ? kShortSleepMs : kLongSleepMs));
    lastTick_ = now;
    Report();
  }
}

void TKivEngine::DeviceReinited() {
  firstFramePosted_ = false;
  if (active_) LogLine("TKivEngine.MainLoop: SetActive(False) - Stop by Reinited");
  SetActive(false);
  // The slides' textures went with the lost device; they are made again from the pictures in memory as
  // the slides are prepared and drawn on the new one.
  const TSize size = controller_.DeviceSize();
  if (loader_ && source_ &&
      (std::max(10, size.width) != loader_->Size.width ||
       std::max(10, size.height) != loader_->Size.height)) {
    LogLine("OpenInt on diff size: " + std::to_string(size.width) + ", " + std::to_string(size.height));
    OpenAt(source_, true, CurrentTime());
  }
  if (T3DDrawer* drawer = controller_.Drawer())
    for (int i = 1; i < slideCount_; ++i)
      if (TKivSlide* slide = slides_[i]->Slide()) slide->Prepare(*drawer);
  LogLine("DrawDevice Reinited (Slides:" + std::to_string(slideCount_) + ")");
}

// ---- drawing -------------------------------------------------------------------------------------

bool TKivEngine::DrawFrame(bool forced) {
  if (!root_.Compose(slides_.data(), overlay_.get(), slideCount_)) return false;
  if (!forced && !root_.IsChanged()) return false;
  if (lastMouse_.valid) {
    // Hover states follow the objects that moved under a resting cursor; a replayed release would click.
    TMouse replay = lastMouse_;
    replay.event = kMouseMove;
    HitTest(replay);
  }
  controller_.EnsureDrawer();
  T3DDrawer* drawer = controller_.Drawer();
  if (!drawer) return false;
  if (loader_) drawer->SetUpdateRect(loader_->DisplayRect());
  if (source_) {
    root_.Background = source_->HiderColor().Argb();
    root_.SharpenAmount = source_->UnsharpAmount();
    root_.SharpenThreshold = source_->UnsharpThreshold();
  }
  bool drawn = false;
  try {
    // Pictures that came into their time go to the device now (the loader decoded them already), and
    // objects that got their picture's size are placed again.
    for (TDrawItem* item : root_.Items())
      if (auto* slide = dynamic_cast<TKivSlide*>(item)) {
        slide->Prepare(*drawer);
        slide->UpdateGeometry(true);
      }
    drawn = controller_.DrawRoot(root_);
  } catch (...) {
    return false;
  }
  if (!drawn) return false;
  drawn_ = true;
  if (!firstFramePosted_) {
    firstFramePosted_ = true;
    PostToUI(kEvFirstFrame);
  }
  return true;
}

std::optional<TDevBitmap> TKivEngine::DrawFrameNow(bool* unchanged) {
  if (unchanged) {
    *unchanged = false;
    if (drawn_ && root_.Compose(slides_.data(), overlay_.get(), slideCount_) && !root_.IsChanged()) {
      *unchanged = true;
      return std::nullopt;
    }
  }
  if (!DrawFrame(true)) {
    if (!controller_.Drawer()) return std::nullopt;
    // Nothing started yet: the background alone.
    root_.Compose(nullptr, overlay_.get(), 0);
    if (!controller_.DrawRoot(root_)) return std::nullopt;
  }
  return controller_.Drawer()->GetScreenshot();
}

void TKivEngine::RenderImage() {
  T3DDrawer* drawer = controller_.Drawer();
  std::optional<TDevBitmap> image;
  if (drawer && slideCount_ > 0) {
    if (overlay_) overlay_->SetHidePanel(true);
    // Drawn to be read back, not shown.
    const uint8_t mode = drawer->mode;
    drawer->mode = 1;
    if (DrawFrame(true))
      if (std::optional<TDevBitmap> shot = drawer->GetScreenshot()) image.emplace(std::move(*shot));
    drawer->mode = mode;
    if (overlay_) overlay_->SetHidePanel(false);
  }
  if (!image) {
    LogLine("********************* Image not Assigned");
    return;
  }
  LogLine("********************* Image " + std::to_string(image->Width()) + "x" +
          std::to_string(image->Height()));
  PostToUI(kEvImage, {}, MakeOwned<TDevBitmap>(std::move(*image)));
}

// ---- events --------------------------------------------------------------------------------------

void TKivEngine::HandleEvent(int number, TObj* data) {
  switch (number) {
  case kEvMouse: {
    auto* mouse = dynamic_cast<TMouseData*>(data);
    if (!mouse) return;
    lastMouse_ = {true, mouse->Shift, mouse->X, mouse->Y, mouse->Button, mouse->MouseEvent};
    if (!HitTest(lastMouse_) && mouse->Action.Kind != TActionKind::None) ExecuteAction(mouse->Action);
    return;
  }
  case kEvRenderImage:
    RenderImage();
    return;
  case kEvCloseDialog:
    if (overlay_) overlay_->CloseDialog();
    return;
  case kEvHelp:
    ExecuteAction({TActionKind::Help, 0, {}});
    return;
  case kEvSlideList:
    if (auto* list = dynamic_cast<TSlideData*>(data)) TakeSlideList(*list);
    return;
  case kEvOpen:
    if (auto* params = dynamic_cast<TOpenParams*>(data)) RequestOpen(*params);
    return;
  case kEvPauseMode:
    if (auto* mode = dynamic_cast<TModeData*>(data)) RequestPause(mode->Paused);
    return;
  default:
    RY_ASSERT(false);
  }
}

void TKivEngine::TakeSlideList(const TSlideData& list) {
  bool pointerKept = false;
  slideCount_ = list.Count();
  slides_.fill(nullptr);
  std::string line = ">>>>>>>>>>>>> slide list synched : ";
  for (int i = 0; i < slideCount_; ++i) {
    slides_[i] = list.Slide(i);
    if (slides_[i] == pointerSlide_) pointerKept = true;
    const TSlideInfo& timing = slides_[i]->Timing();
    if (i > 0) line += "  ";
    line +=
        std::to_string(std::llround(timing.start)) + "-" + std::to_string(std::llround(timing.visibleUntil));
  }
  // The objects of a slide that left the list are about to go: forget them without touching them.
  if (!pointerKept) {
    pointerSlide_ = nullptr;
    hoverObject_ = pressedObject_ = nullptr;
  }
  LogLine(line);
}

void TKivEngine::Preload(TDrawContainer& container) {
  TKivSlide* slide = container.Slide();
  if (!slide) return;
  if (controller_.Drawer() && activeFlag_.load(std::memory_order_acquire))
    LogLine("preload from callback.............");
  container.SetTime(container.Timing().start);
  // Decoding here, on the loader's thread; the engine's thread only uploads what is due.
  TLoadOnlyDrawer loading;
  slide->Prepare(loading);
}

void TKivEngine::RequestOpen(TOpenParams& params) {
  if (params.IsOpen()) {
    LogLine("TKivEngine: OpenShow Async");
    const bool pausedState = pending_ ? pending_->Paused : paused_;
    auto request = MakeOwned<TOpenParams>();
    request->Assign(params);
    request->Paused = pausedState;
    pending_ = std::move(request);
  } else {
    LogLine("TKivEngine: SetPosition Async");
    if (pending_) {
      // A pending open stays an open, now at this position.
      pending_->Sequence = params.Sequence;
      pending_->Position = params.Position;
    } else {
      pending_ = MakeOwned<TOpenParams>(params.Sequence, params.Position);
      pending_->Paused = paused_;
    }
  }
  LogLine(std::string("TKivEngine: Current Pause Status: ") + BoolWord(paused_));
  LogLine(std::string("TKivEngine: Async Pause Status: ") + BoolWord(pending_->Paused));
}

void TKivEngine::RequestPause(bool paused) {
  if (TOpenParams* request = pending_ ? pending_.get() : current_) {
    request->Paused = paused;
    LogLine(std::string("TKivEngine: SetPauseEvent Async: ") + BoolWord(paused));
    return;
  }
  LogLine(std::string("TKivEngine: Before Pause Status: ") + BoolWord(paused_));
  paused_ = paused;
  LogLine(std::string("TKivEngine: SetPauseEvent Direct: ") + BoolWord(paused_));
}

void TKivEngine::ApplyPendingRequest() {
  if (!pending_) return;
  TOwned<TOpenParams> request = std::move(pending_);
  current_ = request.get();
  LogLine("TKivEngine: Begin ProcessAsyncOpen");
  if (request->IsOpen()) {
    LogLine("TKivEngine: Process AsyncEvent Open");
    Open(request->Accessor, std::move(request->Document), request->Position);
  } else {
    LogLine("TKivEngine: Process AsyncEvent SetPosition");
    SetActive(false);
    heldTime_ = request->Position;
    SetClock(request->Position);
    lastReported_ = kForceReport;
    ComputeStops(request->Position);
    waiting_.store(false, std::memory_order_release);
    // A show sent back from its end reports the end again when it gets there.
    endReported_ = false;
  }
  appliedSequence_ = request->Sequence;
  LogLine(std::string("TKivEngine: Process AsyncEvent Curren Pause Status: ") + BoolWord(paused_));
  paused_ = request->Paused;
  LogLine(std::string("TKivEngine: Process AsyncEvent New Pause Status: ") + BoolWord(paused_));
  current_ = nullptr;
}

// ---- mouse and actions ---------------------------------------------------------------------------

bool TKivEngine::HitTest(const TMouse& mouse) {
  SetHover(false, {});
  TKivActionInfo action;
  bool taken = false;
  if (overlay_) {
    const TOverlayHit hit = overlay_->HitTest(mouse.shift, mouse.x, mouse.event, mouse.button, mouse.y);
    if (hit.object && !hit.object->Action().empty()) SetHover(true, hit.object->ClassName());
    if (overlay_->PanelState() == 2) SetHover(HoverActive(), "NavPanel");
    if (hit.consumed) {
      taken = true;
      action = hit.action;
    }
  }
  if (taken)
    ClearSlidePointer();
  else
    taken = HitSlides(mouse, action);
  if (action.Kind != TActionKind::None && action.Kind != TActionKind::PanelConsumed) ExecuteAction(action);
  return taken;
}

void TKivEngine::ClearSlidePointer() {
  if (hoverObject_) hoverObject_->SetHover(false);
  if (pressedObject_) pressedObject_->SetPressed(false);
  hoverObject_ = pressedObject_ = nullptr;
  pointerSlide_ = nullptr;
}

bool TKivEngine::HitSlides(const TMouse& mouse, TKivActionInfo& action) {
  double now = ClockTime();
  if (now == 0) now = 0.1;
  for (int i = slideCount_ - 1; i >= 0; --i) {
    TDrawContainer* container = slides_[i];
    const TSlideInfo& timing = container->Timing();
    if (!(now > timing.start && now <= timing.end + timing.effectOut)) continue;
    TKivSlide* slide = container->Slide();
    if (!slide) continue;
    const TKivHit hit =
        slide->FindObjectAt(static_cast<float>(mouse.x), static_cast<float>(mouse.y), Clickable);
    if (!hit.object) continue;
    if (pointerSlide_ != container) ClearSlidePointer();
    pointerSlide_ = container;
    if (hoverObject_ != hit.object) {
      if (hoverObject_) hoverObject_->SetHover(false);
      hoverObject_ = hit.object;
      hit.object->SetHover(true);
    }
    const bool hasAction = !hit.object->Action().empty();
    if (hasAction) SetHover(true, hit.object->ClassName());
    if (mouse.button == kMouseButtonLeft) {
      if (mouse.event == kMouseDown) {
        if (pressedObject_ && pressedObject_ != hit.object) pressedObject_->SetPressed(false);
        pressedObject_ = hit.object;
        hit.object->SetPressed(true);
      } else if (mouse.event == kMouseUp) {
        // A click: pressed and released on the same object.
        if (pressedObject_ == hit.object && hasAction) action = ParseActionText(hit.object->Action());
        if (pressedObject_) pressedObject_->SetPressed(false);
        pressedObject_ = nullptr;
      }
    }
    // Objects without an action (a photo filling the slide) leave the event to the mouse options.
    return hasAction;
  }
  ClearSlidePointer();
  return false;
}

void TKivEngine::ExecuteAction(const TKivActionInfo& action) {
  switch (action.Kind) {
  case TActionKind::None:
    return;
  case TActionKind::PrevSlide:
  case TActionKind::NextSlide:
  case TActionKind::GotoSlide:
  case TActionKind::RunPresentation:
    if (overlay_) overlay_->CloseForNavigation();
    break;
  case TActionKind::Help:
  case TActionKind::OpenDialog:
    if (overlay_ && loader_) {
      const std::u16string name = action.Kind == TActionKind::Help ? u"help" : action.Text;
      if (TOwned<TKivDialog> dialog = loader_->Cache().Producer().BuildDialog(name))
        overlay_->OpenDialog(std::move(dialog));
    }
    return;
  case TActionKind::CloseDialog:
    if (overlay_ && overlay_->DialogCount() > 0) {
      overlay_->CloseDialog();
      return;
    }
    break;
  default:
    break;
  }
  TOwned<TObj> text;
  if (!action.Text.empty()) text = MakeOwned<TStrValue>(action.Text);
  PostToUI(kEvAction, {static_cast<int32_t>(action.Kind), action.Param}, std::move(text));
}

} // namespace kiv

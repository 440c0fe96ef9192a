#include "ShowViewer.h"

#include "Log.h"

#include <algorithm>
#include <cmath>

namespace kiv {

TWindowPlacement PlaceShowWindow(int width, int height, int mode, const std::vector<TRect>& monitors,
                                 const TPlacementOptions& options, TSize frameExtra) {
  TWindowPlacement result;
  result.frameStyle = mode == kWindowModeBorder ? (options.resize ? 1 : 5) : 0;
  const TSize extra = result.frameStyle == 0 ? TSize{} : frameExtra;

  TRect area{0, 0, kHeadlessDesktopSize.width, kHeadlessDesktopSize.height};
  if (!monitors.empty()) {
    if (options.desktopAlign) {
      area = monitors.front();
      for (const TRect& monitor : monitors)
        area = {std::min(area.left, monitor.left), std::min(area.top, monitor.top),
                std::max(area.right, monitor.right), std::max(area.bottom, monitor.bottom)};
    } else if (options.display >= 1 && options.display <= static_cast<int>(monitors.size())) {
      area = monitors[static_cast<size_t>(options.display - 1)];
    } else {
      area = monitors.front();
    }
  }

  int clientWidth = mode == kWindowModeFullScreen ? area.Width() : width;
  int clientHeight = mode == kWindowModeFullScreen ? area.Height() : height;
  int outerWidth = clientWidth + extra.width;
  int outerHeight = clientHeight + extra.height;
  if ((outerWidth > area.Width() || outerHeight > area.Height()) && clientWidth > 0 && clientHeight > 0) {
    const double k = std::min(static_cast<double>(area.Height() - extra.height) / clientHeight,
                              static_cast<double>(area.Width() - extra.width) / clientWidth);
    clientWidth = static_cast<int>(std::lround(clientWidth * k));
    clientHeight = static_cast<int>(std::lround(clientHeight * k));
    outerWidth = clientWidth + extra.width;
    outerHeight = clientHeight + extra.height;
  }
  const int left = area.left + (area.Width() - outerWidth) / 2;
  const int top = area.top + (area.Height() - outerHeight) / 2;
  result.window = {left, top, left + outerWidth, top + outerHeight};
  result.client = {0, 0, outerWidth - extra.width, outerHeight - extra.height};
  result.fullScreen = mode == kWindowModeFullScreen;
  return result;
}

void PlaceDevice(const TWindowPlacement& placement, TDrawDevice& device) {
  // The engine's thread reads the bounds under the same lock.
  TDeviceLockGuard lock(DeviceLock());
  device.SetBounds(placement.client, {placement.window.left, placement.window.top}, placement.fullScreen);
  auto* wrapper = device.FindAttachment<TRectangleWrapper>();
  if (!wrapper) {
    auto owned = MakeOwned<TRectangleWrapper>();
    wrapper = owned.get();
    device.Attach(std::move(owned));
  }
  wrapper->rect = placement.window;
}

TKivShowViewer::TKivShowViewer(TPlaybackContext& context, TViewerWindow& window)
    : context_(context), window_(window) {}

TKivShowViewer::~TKivShowViewer() {
  OnPosition = nullptr;
  OnAction = nullptr;
  OnImage = nullptr;
  engine_.reset();
}

void TKivShowViewer::Stop() {
  if (engine_) engine_->Stop();
}

void TKivShowViewer::ApplyWindowMode(int width, int height, int mode) {
  const TWindowPlacement placement =
      PlaceShowWindow(width, height, mode, window_.Monitors(), window_.placementOptions,
                      window_.FrameExtra(mode == kWindowModeBorder ? (window_.placementOptions.resize ? 1 : 5) : 0));
  if (TKivEngine* engine = engine_.get())
    if (TDrawDevice* device = engine->Controller().Device()) window_.Place(placement, *device);
}

void TKivShowViewer::CreateEngine(const TIniFile* document) {
  TOwned<TSysDevice> device = window_.CreateDevice();
  engine_ = MakeOwned<TKivEngine>(context_, device.release(), 0, true, true);
  engine_->OnFirstFrame = [this](TCustomKivEngine&) { window_.FirstFrame(); };
  engine_->OnPosition = [this](TCustomKivEngine&, int32_t position, bool ended, int32_t length) {
    position_ = position;
    length_ = length;
    if (OnPosition) OnPosition(*this, position, ended);
  };
  engine_->OnEvent = [this](TCustomKivEngine&, TKivEventData& record) { EngineEvent(record); };
  engine_->SetActionsEnabled(actionsEnabled_);
  if (!document) return;
  // The window takes the show's size before the engine lays the slides out for it.
  const TIniSection* main = document->FindSection(u"main");
  const int full = main ? main->ReadInteger(u"opt_scr_full", 1) : 1;
  if (full == 1) {
    ApplyWindowMode(context_.desktop.width, context_.desktop.height, kWindowModeFullScreen);
  } else {
    const bool withoutBorder = main ? main->ReadBool(u"opt_withoutborder", true) : true;
    ApplyWindowMode(main ? main->ReadInteger(u"opt_scr_width", 640) : 640,
                    main ? main->ReadInteger(u"opt_scr_height", 480) : 480,
                    withoutBorder ? kWindowModeNoBorder : kWindowModeBorder);
  }
}

void TKivShowViewer::Open(TRef<TFileAccessor> accessor, const TIniFile& document, double position) {
  if (!engine_) CreateEngine(&document);
  // The engine gets its own accessor and document: the caller's may go before the engine is done.
  TRef<TFileAccessor> copy = accessor ? accessor->Clone() : DiskAccessor()->Clone();
  if (accessor) copy->SetStreamFilter(accessor->StreamFilter());
  auto documentCopy = std::make_unique<TIniFile>();
  documentCopy->AssignChildren(document);
  OnOpen(*documentCopy);
  if (EngineRuns()) {
    engine_->Events().Post(kEvOpen, MakeOwned<TOpenParams>(engine_->NextSequence(), position, std::move(copy),
                                                           std::move(documentCopy)));
    return;
  }
  engine_->Open(std::move(copy), std::move(documentCopy), position);
  // The open made the drawer here; from now on only the engine's thread draws.
  if (context_.releaseDrawingContext) context_.releaseDrawingContext();
  engine_->Start();
}

void TKivShowViewer::SetPaused(bool paused) {
  if (paused == paused_) return;
  paused_ = paused;
  if (engine_) engine_->Events().Post(kEvPauseMode, MakeOwned<TModeData>(paused));
}

void TKivShowViewer::SetPosition(double position) {
  if (position < 0 || !engine_) return;
  engine_->Events().Post(kEvOpen, MakeOwned<TOpenParams>(engine_->NextSequence(), position));
  position_ = static_cast<int32_t>(std::lround(position));
}

void TKivShowViewer::GoTo(double position, bool paused) {
  SetPosition(position);
  SetPaused(paused);
}

void TKivShowViewer::SendMouse(uint8_t shift, int32_t x, int32_t button, uint8_t mouseEvent, int32_t y) {
  SendMouseAction(shift, x, button, mouseEvent, y, TKivActionInfo{});
}

void TKivShowViewer::SendMouseAction(uint8_t shift, int32_t x, int32_t button, uint8_t mouseEvent, int32_t y,
                                     const TKivActionInfo& action) {
  if (!EngineRuns()) return;
  auto data = MakeOwned<TMouseData>();
  data->Shift = shift;
  data->X = x;
  data->Y = y;
  data->Button = button;
  data->MouseEvent = mouseEvent;
  data->Action = action;
  engine_->Events().Post(kEvMouse, std::move(data));
}

void TKivShowViewer::ShowHelp() {
  if (engine_) engine_->Events().Post(kEvHelp);
}

void TKivShowViewer::CloseDialog() {
  if (engine_) engine_->Events().Post(kEvCloseDialog);
}

void TKivShowViewer::RequestImage() {
  if (EngineRuns()) engine_->Events().Post(kEvRenderImage);
}

void TKivShowViewer::SetActionsEnabled(bool enabled) {
  actionsEnabled_ = enabled;
  if (engine_) engine_->SetActionsEnabled(enabled);
}

void TKivShowViewer::EngineEvent(TKivEventData& record) {
  switch (record.EventNumber()) {
  case kEvAction: {
    TKivActionInfo action;
    action.Kind = static_cast<TActionKind>(record.Integer(0));
    action.Param = record.Integer(1);
    if (auto* text = dynamic_cast<TStrValue*>(record.Data())) action.Text = text->Value;
    if (OnAction) OnAction(*this, action);
    return;
  }
  case kEvImage:
    if (auto* image = dynamic_cast<TDevBitmap*>(record.Data()); image && OnImage) OnImage(*this, *image);
    return;
  case kEvWindowMode:
    ApplyWindowMode(record.Integer(0), record.Integer(1), record.Integer(2));
    return;
  default:
    return;
  }
}

} // namespace kiv

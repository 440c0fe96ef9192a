#include "NavigationPanel.h"

#include "CaseFolding.h"
#include "InputMapping.h"
#include "Log.h"
#include "RoundHalfEven.h"
#include "SharedImageCache.h"
#include "ShowFileAccess.h"
#include "Utf8Conversion.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace kiv {
namespace {

// Fade lengths and the rest interval come from the show; a day is more than any show means.
constexpr int64_t kMaxFadeMs = 24 * 3600 * 1000;
// The panel is never drawn larger than a texture can be.
constexpr int64_t kMaxPanelSide = 16384;

int32_t ClampCoordinate(double value) {
  if (!std::isfinite(value)) return -1;
  return static_cast<int32_t>(std::clamp<double>(RoundEven(value), -(1 << 30), 1 << 30));
}

void LogPanel(const std::string& text) {
  if (LogActive()) LogLine("TNavPanel: " + text);
}

TRef<TDrawImage> ImageOf(const TBitmap& bar) {
  TDevBitmap pixels(bar.Width(), bar.Height(), TPixelFormat::pf32bit);
  for (int32_t y = 0; y < bar.Height(); ++y)
    std::memcpy(pixels.ScanLine(y), bar.Row(y), size_t{4} * bar.Width());
  return TRef<TDrawImage>(TRef<TMemoryImage>::Make(std::move(pixels)));
}

} // namespace

std::optional<TNavPanelSettings> TNavPanelSettings::Read(const TIniIdentList& main) {
  if (!main.ReadBool(u"opt_fcp", false)) return std::nullopt;
  TNavPanelSettings s;
  s.skin = main.ReadString(u"opt_nav_inifile", u"");
  s.showBackground = main.ReadBool(u"opt_nav_showbg", false);
  s.hue = main.ReadInteger(u"opt_nav_hue", 0);
  s.viewScale = main.ReadFloat(u"opt_nav_viewscale", 10);
  s.useVideoScale = main.ReadBool(u"opt_nav_usevideoscale", false);
  s.offset = main.ReadFloat(u"opt_nav_offset", 0);
  s.anchor = AnchorFromName(main.ReadString(u"opt_cp", u"Center"));
  const int32_t count = std::clamp(main.ReadInteger(u"opt_newnavbuttons_count", 0), 0, kMaxNavButtons);
  for (int32_t n = 1; n <= count; ++n)
    s.buttons.push_back(main.ReadString(u"opt_newnavbutton" + Utf8ToUtf16(std::to_string(n)), u""));
  s.hideNavBar = main.ReadBool(u"opt_hidenavbar", false);
  s.hideOnStartup = main.ReadBool(u"opt_nav_hideonstartup", false);
  const double seconds = main.ReadFloat(u"opt_nav_hideinterval", 0);
  s.hideIntervalMs = std::isfinite(seconds)
                         ? std::clamp<int64_t>(Round(std::clamp(seconds, -1e9, 1e9) * 1000), 0, kMaxFadeMs)
                         : 0;
  s.hideFadeOutMs = std::clamp<int64_t>(main.ReadInteger(u"opt_nav_hidefadeout", 1000), 0, kMaxFadeMs);
  s.fadeInMs = std::clamp<int64_t>(main.ReadInteger(u"opt_nav_fadein", 500), 0, kMaxFadeMs);
  s.windowBottom = main.ReadBool(u"opt_nav_wndbottom", true);
  s.videoExit = main.ReadBool(u"opt_nav_videoexit", true);
  return s;
}

TSkinFiles SkinFilesOf(TFileAccessor& accessor) {
  TSkinFiles files;
  files.document = [&accessor](std::u16string_view name) -> std::unique_ptr<TIniFile> {
    TOwned<TStream> stream = Open(accessor, name);
    if (!stream) return nullptr;
    auto document = std::make_unique<TIniFile>();
    document->LoadFromStream(*stream);
    return document;
  };
  files.picture = [&accessor](std::u16string_view name) -> TRef<TBitmap> {
    TOwned<TKivImage> image = LoadSharedImage(accessor, name);
    // A skin picture that is missing leaves its part empty: the error picture would fill the bar.
    if (!image || image->IsErrorPicture()) return nullptr;
    const TCachedBitmap& source = image->Bitmap();
    if (!PictureSizeAllowed(source.Width(), source.Height())) return nullptr;
    auto picture = TRef<TBitmap>::Make(source.Width(), source.Height(), TBitmapFormat::Pf32bit);
    for (int32_t y = 0; y < source.Height(); ++y)
      std::memcpy(picture->Row(y), source.Pixels().data() + static_cast<size_t>(y) * source.Width(),
                  size_t{4} * source.Width());
    return picture;
  };
  return files;
}

std::u16string SkinFolderOf(std::u16string_view skinName) {
  const size_t slash = skinName.find_last_of(u"\\/");
  return slash == std::u16string_view::npos ? std::u16string()
                                            : std::u16string(skinName.substr(0, slash + 1));
}

TKivActionInfo NavButtonAction(std::u16string_view name) {
  TKivActionInfo action;
  const std::u16string lower = LowerCase(name);
  if (lower == u"home")
    action.Kind = TActionKind::GotoSlide; // Param 0: the first slide
  else if (lower == u"forward")
    action.Kind = TActionKind::NextSlide;
  else if (lower == u"backward")
    action.Kind = TActionKind::PrevSlide;
  else if (lower == u"print")
    action.Kind = TActionKind::Print;
  else if (lower == u"pause")
    action.Kind = TActionKind::Pause;
  else if (lower == u"help")
    action.Kind = TActionKind::Help;
  else if (lower == u"exit")
    action.Kind = TActionKind::Exit;
  return action;
}

TNavPanel::TNavPanel(const TNavPanelSettings& settings, const TRect& area, TNavPanelCallbacks callbacks,
                     const TClock& clock)
    : settings_(settings), area_(area), callbacks_(std::move(callbacks)), clock_(clock),
      detector_(settings.hideIntervalMs, [&clock] { return clock.NowMs(); }) {}

TNavPanel::~TNavPanel() = default;

TOwned<TNavPanel> TNavPanel::Create(const TNavPanelSettings& settings, const TSkinFiles& files,
                                    const TRect& windowArea, const TRect& frameArea,
                                    TNavPanelCallbacks callbacks, const TClock& clock) {
  std::unique_ptr<TIniFile> skin =
      settings.skin.empty() || !files.document ? nullptr : files.document(settings.skin);
  if (!skin) {
    LogPanel("no skin \"" + Utf16ToUtf8(settings.skin) + "\": no panel");
    return nullptr;
  }
  TOwned<TNavPanel> panel(
      new TNavPanel(settings, settings.windowBottom ? windowArea : frameArea, std::move(callbacks), clock));
  TNavPanel& p = *panel;
  p.skin_ = std::move(skin);
  p.hidden_ = settings.hideNavBar && settings.hideOnStartup;
  p.opacity_ = p.hidden_ ? 0.0f : 100.0f;
  if (settings.hideOnStartup) p.detector_.SetIdle(true);
  if (p.skin_->ReadBool(u"Common", u"VideoStyle", false)) {
    if (!p.CreateVideoBar(files)) return nullptr;
    return panel;
  }

  TNavBarCallbacks bar;
  bar.redraw = [&p](const TRect&) { p.Place(); };
  bar.click = [&p](int32_t index) {
    p.pendingAction_ = NavButtonAction(p.navBar_->Objects()[static_cast<size_t>(index)].actionType);
  };
  bar.isPlaying = [&p] { return !p.callbacks_.isPlaying || p.callbacks_.isPlaying(); };
  bar.loadPicture = files.picture;
  auto standard = MakeOwned<TNavBar>(std::move(bar));
  p.navBar_ = standard.get();
  p.bar_ = std::move(standard);
  p.navBar_->SetShowBackground(settings.showBackground);
  p.navBar_->SetHue(settings.hue);
  try {
    p.bar_->Load(*p.skin_, SkinFolderOf(settings.skin));
    std::vector<int32_t> indexes;
    for (const std::u16string& name : settings.buttons) {
      const auto& names = p.bar_->Names();
      const auto found = std::ranges::find(names, LowerCase(name));
      if (found != names.end()) indexes.push_back(static_cast<int32_t>(found - names.begin()));
    }
    p.bar_->SetButtons(indexes);
  } catch (const std::exception& e) {
    // Broken skins are the show's fault: the show plays on without its panel.
    LogPanel("the skin \"" + Utf16ToUtf8(settings.skin) + "\" cannot be used: " + e.what());
    return nullptr;
  }
  if (!p.bar_->Bitmap()) {
    LogPanel("the skin \"" + Utf16ToUtf8(settings.skin) + "\" makes an empty bar: no panel");
    return nullptr;
  }
  return panel;
}

bool TNavPanel::CreateVideoBar(const TSkinFiles& files) {
  const std::u16string& name = settings_.skin;
  TVideoBarCallbacks bar;
  bar.redraw = [this](const TRect&) { PlaceVideoBar(); };
  bar.loadPicture = files.picture;
  bar.click = [this](int32_t index) {
    if (index == kClickPlayPause) {
      pendingAction_ = TKivActionInfo{};
      pendingAction_->Kind = TActionKind::Pause;
    } else if (index == kClickExit) {
      pendingAction_ = TKivActionInfo{};
      pendingAction_->Kind = TActionKind::Exit;
    } else {
      pendingAction_ = NavButtonAction(videoBar_->ExtraName(index));
    }
  };
  bar.isPlaying = [this] { return !callbacks_.isPlaying || callbacks_.isPlaying(); };
  bar.duration = [this] { return callbacks_.showLength; };
  bar.seekTo = [this](double ms) {
    if (callbacks_.seekTo) callbacks_.seekTo(ms);
  };
  bar.setVolume = [this](double volume) {
    if (callbacks_.setVolume) callbacks_.setVolume(static_cast<float>(volume));
  };
  if (settings_.videoExit) {
    bar.exitRedraw = [this](const TRect&) { PlaceExitButton(); };
    bar.exitZone = [this] { return exitZone_; };
  }
  auto video = MakeOwned<TVideoNavBar>(std::move(bar));
  videoBar_ = video.get();
  bar_ = std::move(video);
  try {
    videoBar_->Load(*skin_, SkinFolderOf(name));
    videoBar_->SetWidth(area_.Width());
    if (settings_.useVideoScale) {
      const double height = std::isfinite(settings_.viewScale) ? area_.Height() * settings_.viewScale * 0.01 : 0;
      videoBar_->SetHeight(static_cast<int32_t>(std::clamp<int64_t>(Round(std::clamp(height, -1e9, 1e9)), 0,
                                                                   kMaxPanelSide)));
    } else {
      // The screen's dots per inch over 96: our screens are taken at 96.
      videoBar_->SetScale(1.0);
    }
    std::vector<int32_t> indexes;
    for (const std::u16string& button : settings_.buttons) {
      const auto& names = videoBar_->Names();
      const auto found = std::ranges::find(names, LowerCase(button));
      if (found != names.end()) indexes.push_back(static_cast<int32_t>(found - names.begin()));
    }
    videoBar_->SetButtons(indexes);
    videoBar_->SetTime(0);
    videoBar_->SetVolume(callbacks_.volume);
  } catch (const std::exception& e) {
    LogPanel("the skin \"" + Utf16ToUtf8(settings_.skin) + "\" cannot be used: " + e.what());
    return false;
  }
  if (!videoBar_->Bitmap()) {
    LogPanel("the video-style skin \"" + Utf16ToUtf8(settings_.skin) +
             "\" makes no bar at this size (bar height, button and track sizes): no panel");
    return false;
  }
  return true;
}

void TNavPanel::PlaceVideoBar() {
  const TBitmap* bitmap = videoBar_->Bitmap();
  if (!bitmap) return;
  placed_ = PlaceAtAnchor(area_, bitmap->Width(), bitmap->Height(), TAnchor::Bottom, 0);
  image_ = ImageOf(*bitmap);
  if (callbacks_.placeSprite) sprite_ = callbacks_.placeSprite(sprite_, image_, placed_, opacity_);
}

void TNavPanel::PlaceExitButton() {
  const TBitmap* bitmap = videoBar_->ExitBitmap();
  if (!bitmap) return;
  exitPlaced_ = PlaceAtAnchor(area_, bitmap->Width(), bitmap->Height(), TAnchor::RightTop, 0);
  exitImage_ = ImageOf(*bitmap);
  if (callbacks_.placeSprite) exitSprite_ = callbacks_.placeSprite(exitSprite_, exitImage_, exitPlaced_, opacity_);
}

void TNavPanel::Place() {
  const TBitmap* bitmap = bar_->Bitmap();
  if (!bitmap || bitmap->Height() <= 0) return;
  const double scale = std::isfinite(settings_.viewScale) ? settings_.viewScale : 0;
  const int64_t height =
      std::clamp<int64_t>(Round(std::clamp(area_.Height() * scale / 100, -1e9, 1e9)), 0, kMaxPanelSide);
  const int64_t width = std::clamp<int64_t>(
      Round(static_cast<double>(height) * bitmap->Width() / bitmap->Height()), 0, kMaxPanelSide);
  placed_ = PlaceAtAnchor(area_, static_cast<int32_t>(width), static_cast<int32_t>(height), settings_.anchor,
                          settings_.offset);
  image_ = ImageOf(*bitmap);
  if (callbacks_.placeSprite) sprite_ = callbacks_.placeSprite(sprite_, image_, placed_, opacity_);
}

double TNavPanel::FadeProgress(int64_t now) const {
  if (fadeEnd_ <= fadeStart_ || now >= fadeEnd_) return 1;
  return std::clamp(static_cast<double>(now - fadeStart_) / static_cast<double>(fadeEnd_ - fadeStart_), 0.0,
                    1.0);
}

void TNavPanel::SetOpacity(float opacity) {
  opacity_ = opacity;
  if (sprite_ >= 0 && callbacks_.spriteOpacity) callbacks_.spriteOpacity(sprite_, opacity);
  if (exitSprite_ >= 0 && callbacks_.spriteOpacity) callbacks_.spriteOpacity(exitSprite_, opacity);
}

void TNavPanel::PanelTime(double showTime) {
  bar_->SetTime(showTime);
  if (!settings_.hideNavBar) return;
  // The panel never fades under the cursor.
  if (inside_) detector_.SetIdle(false);
  const bool idle = detector_.IsIdle();
  const int64_t now = clock_.NowMs();
  const double progress = FadeProgress(now);
  if (idle != hidden_) {
    // A fade that turns back starts from the level the running one reached.
    hidden_ = idle;
    const int64_t length = hidden_ ? settings_.hideFadeOutMs : settings_.fadeInMs;
    fadeEnd_ = now + Round(progress * static_cast<double>(length));
    fadeStart_ = fadeEnd_ - length;
    return;
  }
  const float opacity = static_cast<float>(hidden_ ? 100 - 100 * progress : 100 * progress);
  if (std::fabs(opacity - opacity_) > 0.001f) SetOpacity(opacity);
}

TKivActionInfo TNavPanel::VideoHitTest(uint8_t event, uint8_t shift, int32_t x, int32_t y, int32_t button) {
  auto inside = [x, y](const TRect& r) { return x >= r.left && x < r.right && y >= r.top && y < r.bottom; };
  const bool overPanel = inside(placed_) || (exitSprite_ >= 0 && inside(exitPlaced_)) || bar_->Pressing();
  // The upper half of the area belongs to the exit button, when there is one.
  exitZone_ = exitSprite_ >= 0 && int64_t{y} * 2 < int64_t{area_.top} + area_.bottom;
  const TRect& origin = exitZone_ ? exitPlaced_ : placed_;
  const int32_t barX = x - origin.left, barY = y - origin.top;
  pendingAction_.reset();
  switch (event) {
  case kMouseMove:
    bar_->MouseEvent(button, shift, kBarMove, barY, barX);
    break;
  case kMouseDown:
    bar_->MouseEvent(button, shift, kBarPress, barY, barX);
    break;
  case kMouseUp:
    bar_->MouseEvent(button, shift, kBarRelease, barY, barX);
    break;
  default:
    break;
  }
  exitZone_ = false;
  inside_ = bar_->Inside();
  TKivActionInfo action = pendingAction_ ? *pendingAction_ : TKivActionInfo{};
  pendingAction_.reset();
  if (action.Kind == TActionKind::None && (overPanel || inside_)) action.Kind = TActionKind::PanelConsumed;
  return action;
}

TKivActionInfo TNavPanel::HitTest(uint8_t event, uint8_t shift, int32_t x, int32_t y, int32_t button) {
  if (videoBar_) return VideoHitTest(event, shift, x, y, button);
  const TBitmap* bitmap = bar_->Bitmap();
  const bool overPanel =
      (x >= placed_.left && x < placed_.right && y >= placed_.top && y < placed_.bottom) || bar_->Pressing();
  int32_t barX = -1, barY = -1;
  if (bitmap && !placed_.IsEmpty()) {
    barX = ClampCoordinate((static_cast<double>(x) - placed_.left) / placed_.Width() * bitmap->Width());
    barY = ClampCoordinate((static_cast<double>(y) - placed_.top) / placed_.Height() * bitmap->Height());
  }
  pendingAction_.reset();
  switch (event) {
  case kMouseMove:
    bar_->MouseEvent(button, shift, kBarMove, barY, barX);
    break;
  case kMouseDown:
    bar_->MouseEvent(button, shift, kBarPress, barY, barX);
    break;
  case kMouseUp:
    bar_->MouseEvent(button, shift, kBarRelease, barY, barX);
    break;
  default: // a double click follows its own down event: nothing more for the bar
    break;
  }
  inside_ = bar_->Inside();
  TKivActionInfo action = pendingAction_ ? *pendingAction_ : TKivActionInfo{};
  pendingAction_.reset();
  // Clicks on the panel never reach the slides or the mouse mapping.
  if (action.Kind == TActionKind::None && (overPanel || inside_)) action.Kind = TActionKind::PanelConsumed;
  return action;
}

int32_t TNavPanel::PanelState() {
  if (inside_) return 2;
  return detector_.IsIdle() ? 0 : 1;
}

void TNavPanel::ShowNow() {
  hidden_ = false;
  fadeStart_ = fadeEnd_ = 0;
  detector_.SetIdle(false);
  SetOpacity(100);
}

} // namespace kiv

#include "Overlay.h"

#include "Assert.h"
#include "InputMapping.h"
#include "Log.h"
#include "MipReduction.h"
#include "RoundHalfEven.h"
#include "Utf8Conversion.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace kiv {
namespace {

// Nothing the overlay draws is larger than a texture can be.
constexpr int64_t kMaxSpriteSide = 16384;

int32_t SpriteSide(double value) {
  if (!std::isfinite(value)) return 0;
  return static_cast<int32_t>(std::clamp<int64_t>(Round(std::clamp(value, -1e9, 1e9)), 0, kMaxSpriteSide));
}

TDevBitmap DevCopy(const TBitmap& picture) {
  TDevBitmap pixels(picture.Width(), picture.Height(), TPixelFormat::pf32bit);
  for (int32_t y = 0; y < picture.Height(); ++y)
    std::memcpy(pixels.ScanLine(y), picture.Row(y), size_t{4} * picture.Width());
  return pixels;
}

// The picture at another size, resampled once.
TDevBitmap ResampledCopy(const TBitmap& picture, int32_t width, int32_t height) {
  TDevBitmap pixels = DevCopy(picture);
  if (width == picture.Width() && height == picture.Height()) return pixels;
  TDevBitmap scaled(width, height, TPixelFormat::pf32bit);
  TBilinearResampler().Resample(pixels, scaled);
  return scaled;
}

bool ClickableObject(TKivObject& object) {
  return !object.TranspForClick();
}

const TClock& RequiredClock(const TClock* clock) {
  RY_ASSERT(clock != nullptr);
  return *clock;
}

} // namespace

TThirdSlide::TThirdSlide(const TIniIdentList& main, TThirdSlideParams params)
    : accessor_(params.accessor), displayRect_(params.displayRect), areaSize_(params.areaSize),
      fillOutside_(std::move(params.fillOutside)), callbacks_(std::move(params.callbacks)),
      clock_(RequiredClock(params.clock)) {
  if (params.files)
    files_ = std::move(*params.files);
  else if (accessor_)
    files_ = SkinFilesOf(*accessor_);
  hScale_ = areaSize_.width > 0 ? static_cast<double>(displayRect_.Width()) / areaSize_.width : 1.0;
  CreateLogo(main);
  if (const std::optional<TNavPanelSettings> settings = TNavPanelSettings::Read(main)) {
    TNavPanelCallbacks panel;
    panel.placeSprite = [this](int32_t sprite, TRef<TDrawImage> image, const TRect& placed, float opacity) {
      return PlaceSprite(sprite, std::move(image), placed, opacity);
    };
    panel.spriteOpacity = [this](int32_t sprite, float opacity) { SpriteOpacity(sprite, opacity); };
    panel.isPlaying = callbacks_.isPlaying;
    panel.seekTo = callbacks_.seekTo;
    panel.setVolume = callbacks_.setVolume;
    panel.showLength = params.showLength;
    panel.volume = params.volume;
    panel_ = TNavPanel::Create(*settings, files_, {0, 0, areaSize_.width, areaSize_.height}, displayRect_,
                               std::move(panel), clock_);
    // A panel that failed after painting leaves no picture behind.
    if (!panel_)
      for (size_t i = 0; i < sprites_.size(); ++i)
        if (static_cast<int32_t>(i) != logoSprite_) sprites_[i].image = nullptr;
  }
  changed = 1;
}

TThirdSlide::~TThirdSlide() {
  // The panel's callbacks point here: it goes first.
  panel_.reset();
}

void TThirdSlide::CreateLogo(const TIniIdentList& main) {
  const std::u16string name = main.ReadString(u"opt_logo_fn", u"");
  if (name.empty() || !main.ReadBool(u"opt_logo", false)) return;
  const int32_t position = main.ReadInteger(u"opt_logo_pos", 0);
  const double opacity = main.ReadFloat(u"opt_logo_opacity", 100);
  const double offset = main.ReadFloat(u"opt_logo_offset", 0);
  const double size = main.ReadFloat(u"opt_logo_size", 10);
  TRef<TBitmap> picture = files_.picture ? files_.picture(name) : nullptr;
  if (!picture || picture->Width() <= 0 || picture->Height() <= 0) {
    if (LogActive()) LogLine("TThirdSlide: no logo picture \"" + Utf16ToUtf8(name) + "\"");
    return;
  }
  if (!std::isfinite(size) || size <= 0 || displayRect_.Height() <= 0) return;
  const int32_t pictureWidth = picture->Width(), pictureHeight = picture->Height();

  // Shrunk to at most about twice its drawn size before it becomes a texture.
  const double targetHeight = size / 100 * displayRect_.Height();
  const double targetWidth = static_cast<double>(pictureWidth) / pictureHeight * targetHeight;
  int32_t width = pictureWidth, height = pictureHeight;
  while (width >= 2 * targetWidth && height >= 2 * targetHeight) {
    const int32_t halfWidth = (width + 1) / 2, halfHeight = (height + 1) / 2;
    if (halfWidth == width && halfHeight == height) break; // one pixel: halving changes nothing more
    width = halfWidth;
    height = halfHeight;
  }
  TDevBitmap pixels = ResampledCopy(*picture, width, height);
  const int32_t placedHeight = SpriteSide(displayRect_.Height() * size / 100);
  const int32_t placedWidth =
      SpriteSide(static_cast<double>(pictureWidth) * placedHeight / pictureHeight * hScale_);
  const TRect placed =
      PlaceAtAnchor(displayRect_, placedWidth, placedHeight, AnchorFromLogoPosition(position), offset);
  logoSprite_ =
      PlaceSprite(-1, TRef<TDrawImage>(TRef<TMemoryImage>::Make(std::move(pixels))), placed,
                  static_cast<float>(std::isfinite(opacity) ? std::clamp(opacity, 0.0, 100.0) : 100.0));
}

int32_t TThirdSlide::PlaceSprite(int32_t sprite, TRef<TDrawImage> image, const TRect& placed, float opacity) {
  if (sprite < 0 || static_cast<size_t>(sprite) >= sprites_.size()) {
    sprites_.emplace_back();
    sprite = static_cast<int32_t>(sprites_.size() - 1);
    changed = 1;
  }
  TOverlaySprite& target = sprites_[static_cast<size_t>(sprite)];
  target.image = std::move(image);
  target.placed = placed;
  target.params.opacity = opacity;
  changedChildren = 1;
  return sprite;
}

void TThirdSlide::SpriteOpacity(int32_t sprite, float opacity) {
  if (sprite < 0 || static_cast<size_t>(sprite) >= sprites_.size()) return;
  sprites_[static_cast<size_t>(sprite)].params.opacity = opacity;
  changedChildren = 1;
}

bool TThirdSlide::IsPanelSprite(int32_t sprite) const {
  return sprite >= 0 && (sprite == PanelSprite() || sprite == ExitSprite());
}

void TThirdSlide::DrawSprite(TDeviceDrawer& drawer, const TOverlaySprite& sprite) {
  const TDevBitmap& bitmap = sprite.image->Bitmap();
  if (bitmap.Width() <= 0 || bitmap.Height() <= 0 || sprite.placed.IsEmpty()) return;
  const T3DPoint at{static_cast<float>(sprite.placed.left), static_cast<float>(sprite.placed.top), 0};
  const T3DPoint xAxis{static_cast<float>(sprite.placed.Width()) / bitmap.Width(), 0, 0};
  const T3DPoint yAxis{0, static_cast<float>(sprite.placed.Height()) / bitmap.Height(), 0};
  drawer.DrawImage(*sprite.image, at, sprite.params, xAxis, yAxis, {0, 0});
}

void TThirdSlide::Draw(TDeviceDrawer& drawer) {
  for (TDialogEntry& entry : dialogs_) {
    TKivDialog& dialog = *entry.dialog;
    if (!entry.prepared && drawer.IsReady()) {
      dialog.UpdateGeometry(true);
      dialog.Prepare(drawer);
      // Pictures loaded by Prepare give their objects a size only now.
      dialog.UpdateGeometry(true);
      entry.prepared = true;
    }
    drawer.DrawItem(dialog);
    entry.drawn = true;
  }
  bool filled = false;
  for (size_t i = 0; i < sprites_.size(); ++i) {
    const TOverlaySprite& sprite = sprites_[i];
    if (!sprite.image) continue;
    const bool panelSprite = IsPanelSprite(static_cast<int32_t>(i));
    if (panelSprite && hidePanel_) continue;
    // The panel may lie outside the slide frame: the bands are filled before it.
    if (panelSprite && !filled) {
      if (fillOutside_) fillOutside_(drawer);
      filled = true;
    }
    DrawSprite(drawer, sprite);
  }
  if (!filled && fillOutside_) fillOutside_(drawer);
  changed = 0;
  changedChildren = 0;
}

void TThirdSlide::FrameDone(TDeviceDrawer& drawer) {
  for (TDialogEntry& entry : dialogs_)
    entry.dialog->FrameDone(drawer);
}

std::optional<size_t> TThirdSlide::IndexOf(const TKivDialog* dialog) const {
  for (size_t i = 0; i < dialogs_.size(); ++i)
    if (dialogs_[i].dialog.get() == dialog) return i;
  return std::nullopt;
}

int32_t TThirdSlide::DialogIndex() const {
  const std::optional<size_t> index = IndexOf(fading_);
  return fading_ && index ? static_cast<int32_t>(*index) : -1;
}

void TThirdSlide::SetTime(double showTime) {
  if (const std::optional<size_t> index = fading_ ? IndexOf(fading_) : std::nullopt;
      index && dialogs_[*index].drawn) {
    TKivDialog& dialog = *dialogs_[*index].dialog;
    const int64_t now = clock_.NowMs();
    if (fadeRestart_) {
      fadeStart_ = now;
      fadeEnd_ = now + kDialogFadeMs;
      fadeRestart_ = false;
    }
    const double progress =
        now >= fadeEnd_
            ? 100
            : std::clamp(static_cast<double>(now - fadeStart_) / (fadeEnd_ - fadeStart_) * 100, 0.0, 100.0);
    const double opacity = closing_ ? 100 - progress : progress;
    if (std::fabs(opacity - dialog.DialogTime()) > 0.001) {
      dialog.SetDialogTime(opacity);
      changedChildren = 1;
    }
    if (closing_ && opacity < 1) {
      RemoveDialog(*index);
      closing_ = false;
      fading_ = nullptr;
    } else if (!closing_ && progress >= 100) {
      fading_ = nullptr;
    }
  }
  if (panel_) panel_->PanelTime(showTime);
}

void TThirdSlide::FinishOpeningFade() {
  if (closing_ || !fading_) return;
  if (const std::optional<size_t> index = IndexOf(fading_)) {
    dialogs_[*index].dialog->SetDialogTime(100);
    changedChildren = 1;
  }
  fading_ = nullptr;
}

void TThirdSlide::StartClose(size_t index) {
  FinishOpeningFade();
  fading_ = dialogs_[index].dialog.get();
  closing_ = true;
  fadeRestart_ = true;
}

void TThirdSlide::RemoveDialog(size_t index) {
  if (fading_ == dialogs_[index].dialog.get()) fading_ = nullptr;
  dialogs_.erase(dialogs_.begin() + static_cast<std::ptrdiff_t>(index));
  changed = 1;
}

void TThirdSlide::OpenDialog(TOwned<TKivDialog> dialog) {
  if (!dialog || closing_) return; // dropped: a page is on its way out
  for (size_t i = 0; i < dialogs_.size(); ++i)
    if (dialogs_[i].dialog->DialogName() == dialog->DialogName()) {
      // Asking for an open page again closes it.
      StartClose(i);
      return;
    }
  FinishOpeningFade();
  dialog->SetDialogTime(0);
  dialogs_.push_back({std::move(dialog)});
  fading_ = dialogs_.back().dialog.get();
  fadeRestart_ = true;
  changed = 1;
}

void TThirdSlide::CloseDialog(int32_t index) {
  if (closing_ || dialogs_.empty()) return;
  if (index < 0 || static_cast<size_t>(index) >= dialogs_.size())
    index = static_cast<int32_t>(dialogs_.size()) - 1;
  StartClose(static_cast<size_t>(index));
}

void TThirdSlide::CloseForNavigation() {
  const TKivDialog* keep = nullptr;
  for (const TDialogEntry& entry : dialogs_)
    if (entry.dialog->DialogPause()) keep = entry.dialog.get();
  if (!keep) return;
  // A page already on its way out goes at once, so that the kept one can start its own fade.
  const TKivDialog* leaving = closing_ && fading_ != keep ? fading_ : nullptr;
  for (size_t i = dialogs_.size(); i-- > 0;) {
    const TKivDialog* dialog = dialogs_[i].dialog.get();
    if (dialog != keep && (dialog->DialogPause() || dialog == leaving)) RemoveDialog(i);
  }
  if (leaving) closing_ = false;
  if (closing_) return; // the kept page is closing already
  if (const std::optional<size_t> index = IndexOf(keep)) StartClose(*index);
}

TKivDialog* TThirdSlide::TopDialog() const {
  return dialogs_.empty() ? nullptr : dialogs_.back().dialog.get();
}

bool TThirdSlide::AnyPausingDialog() const {
  return std::ranges::any_of(dialogs_, [](const TDialogEntry& entry) { return entry.dialog->DialogPause(); });
}

void TThirdSlide::ClearPointer(TDialogEntry& entry) {
  if (entry.hover) entry.hover->SetHover(false);
  if (entry.pressed) entry.pressed->SetPressed(false);
  entry.hover = entry.pressed = nullptr;
}

TKivActionInfo TThirdSlide::PointerEvent(TDialogEntry& entry, TKivObject* hit, uint8_t event,
                                         int32_t button) {
  if (entry.hover != hit) {
    if (entry.hover) entry.hover->SetHover(false);
    entry.hover = hit;
    if (hit) hit->SetHover(true);
  }
  TKivActionInfo action;
  if (button != kMouseButtonLeft) return action;
  if (event == kMouseDown) {
    if (entry.pressed && entry.pressed != hit) entry.pressed->SetPressed(false);
    entry.pressed = hit;
    if (hit) hit->SetPressed(true);
  } else if (event == kMouseUp) {
    // A click: pressed and released on the same object.
    if (hit && entry.pressed == hit && !hit->Action().empty()) action = ParseActionText(hit->Action());
    if (entry.pressed) entry.pressed->SetPressed(false);
    entry.pressed = nullptr;
  }
  return action;
}

TOverlayHit TThirdSlide::HitTest(uint8_t shift, int32_t x, uint8_t event, int32_t button, int32_t y) {
  RY_ASSERT(event <= kMouseDoubleClick);
  TOverlayHit result;
  bool found = false;
  for (size_t i = dialogs_.size(); i-- > 0;) {
    TDialogEntry& entry = dialogs_[i];
    TKivDialog& dialog = *entry.dialog;
    if (found) {
      // Pages under the one hit lose their pointer states.
      ClearPointer(entry);
    } else {
      const TKivHit hit = dialog.FindObjectAt(static_cast<float>(x), static_cast<float>(y), ClickableObject);
      if (hit.object) {
        found = true;
        result.object = hit.object;
        result.action = PointerEvent(entry, hit.object, event, button);
      } else {
        ClearPointer(entry);
      }
    }
    if (dialog.IsChanged()) changedChildren = 1;
  }
  if (panel_) {
    panel_->Detector().Moved(x, y);
    const TKivActionInfo panelAction = panel_->HitTest(event, shift, x, y, button);
    if (panelAction.Kind != TActionKind::None) result.action = panelAction;
  }
  result.consumed =
      result.object != nullptr || (panel_ && panel_->Inside()) || result.action.Kind != TActionKind::None;
  return result;
}

int32_t TThirdSlide::PanelState() {
  return panel_ ? panel_->PanelState() : 0;
}

void TThirdSlide::SetHidePanel(bool hide) {
  if (hide == hidePanel_) return;
  hidePanel_ = hide;
  changed = 1;
}

void TThirdSlide::ShowPanelNow() {
  if (panel_) panel_->ShowNow();
}

} // namespace kiv

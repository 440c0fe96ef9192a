#pragma once
// The overlay the engine draws above the slides: the author's logo, the navigation panel and the stack
// of custom dialog pages (help and the author's own) with their fades. It is asked first in every hit
// test and tells the engine whether an open page pauses the show. Engine thread only.

#include "ActionInfo.h"
#include "Clock.h"
#include "DrawTree.h"
#include "NavigationPanel.h"
#include "SlideProducer.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

namespace kiv {

class TFileAccessor;

// A picture the overlay draws: the image, its parameters (opacity in percent) and where it goes.
struct TOverlaySprite {
  TRef<TDrawImage> image;
  TImageParams params;
  TRect placed;
};

// What the engine lends the overlay (and through it the panel).
struct TOverlayCallbacks {
  std::function<bool()> isPlaying;       // the user has not paused the show
  std::function<void(double ms)> seekTo; // video-style bars
  std::function<void(float)> setVolume;  // video-style bars
};

struct TThirdSlideParams {
  TFileAccessor* accessor = nullptr; // the show's files; may be nullptr when files is set
  TRect displayRect;                 // the slide frame on the screen
  TSize areaSize;                    // the window's client size
  // The root's fill of the bands outside the slide frame; the overlay calls it once per frame, before
  // the panel (which may lie outside the frame) or after its own sprites.
  std::function<void(TDeviceDrawer& drawer)> fillOutside;
  TOverlayCallbacks callbacks;
  float volume = 0;                // the music's volume, 0 without music (video-style bars)
  double showLength = 0;           // ms (video-style bars)
  const TClock* clock = nullptr;   // required: ticks of the fades and the mouse's rest
  std::optional<TSkinFiles> files; // default: the accessor's files
};

// The result of a hit test.
struct TOverlayHit {
  TKivObject* object = nullptr; // the dialog object under the cursor, if any
  TKivActionInfo action;        // a clicked dialog object's or panel button's action, or PanelConsumed
  bool consumed = false;        // the slides must not see the event
};

class TThirdSlide : public TDrawItem {
public:
  static constexpr int64_t kDialogFadeMs = 200;

  // Logo and panel from the project's "main" section.
  TThirdSlide(const TIniIdentList& main, TThirdSlideParams params);
  ~TThirdSlide() override;

  // Dialogs (each prepared on the drawer before its first draw), the logo, the band fill, the panel.
  void Draw(TDeviceDrawer& drawer) override;
  void FrameDone(TDeviceDrawer& drawer) override;

  // Once per loop pass: the dialog fade, the panel's time and its auto-hide fade.
  void SetTime(double showTime);
  // A mouse event of the window (events and buttons as InputMapping.h has them). Dialogs are asked from
  // the top down, then the panel. To follow moving objects after a redraw, replay the last position as
  // a move: a replayed release would click again.
  TOverlayHit HitTest(uint8_t shift, int32_t x, uint8_t event, int32_t button, int32_t y);

  // Pushes a page and fades it in; a page of the same name that is open starts closing instead, and
  // while a page is closing new ones are dropped.
  void OpenDialog(TOwned<TKivDialog> dialog);
  // Fades out the page at index (out of range: the top one); ignored while a page is closing.
  void CloseDialog(int32_t index = -1);
  // Before the show moves on: of the pausing pages, all but the topmost go at once and that one closes.
  void CloseForNavigation();
  TKivDialog* TopDialog() const;
  bool AnyPausingDialog() const;
  int32_t DialogCount() const noexcept { return static_cast<int32_t>(dialogs_.size()); }
  TKivDialog& Dialog(int32_t index) const { return *dialogs_.at(static_cast<size_t>(index)).dialog; }
  // The page being faded, -1 when none.
  int32_t DialogIndex() const;
  bool Closing() const noexcept { return closing_; }

  // 0 no panel or the mouse rests, 1 the panel shows because the mouse moved, 2 the cursor is over it.
  int32_t PanelState();
  // Leaves the panel out of the drawing (still pictures).
  void SetHidePanel(bool hide);
  // The panel shown at once, without its fade (still pictures of the show).
  void ShowPanelNow();

  TNavPanel* Panel() const noexcept { return panel_.get(); }
  const std::vector<TOverlaySprite>& Sprites() const noexcept { return sprites_; }
  int32_t LogoSprite() const noexcept { return logoSprite_; }
  int32_t PanelSprite() const noexcept { return panel_ ? panel_->Sprite() : -1; }
  int32_t ExitSprite() const noexcept { return panel_ ? panel_->ExitSprite() : -1; }
  const TRect& DisplayRect() const noexcept { return displayRect_; }
  double HScale() const noexcept { return hScale_; }
  // Change flags of the draw item: the sprite list or the pages changed (ListChanged), or a sprite's or
  // page's look (ItemChanged). Both cleared by Draw.
  bool ListChanged() const noexcept { return changed != 0; }
  bool ItemChanged() const noexcept { return changedChildren != 0; }

private:
  struct TDialogEntry {
    TOwned<TKivDialog> dialog;
    bool drawn = false;          // drawn at least once: its fade may start
    bool prepared = false;       // its pictures went to the drawer
    TKivObject* hover = nullptr; // objects of this page under the cursor / pressed on
    TKivObject* pressed = nullptr;
  };

  void CreateLogo(const TIniIdentList& main);
  int32_t PlaceSprite(int32_t sprite, TRef<TDrawImage> image, const TRect& placed, float opacity);
  void SpriteOpacity(int32_t sprite, float opacity);
  bool IsPanelSprite(int32_t sprite) const;
  void DrawSprite(TDeviceDrawer& drawer, const TOverlaySprite& sprite);
  void StartClose(size_t index);
  // The page being faded in is shown fully when another fade takes over.
  void FinishOpeningFade();
  void RemoveDialog(size_t index);
  std::optional<size_t> IndexOf(const TKivDialog* dialog) const;
  // Hover, press and click of one page's objects; the clicked object's action.
  TKivActionInfo PointerEvent(TDialogEntry& entry, TKivObject* hit, uint8_t event, int32_t button);
  static void ClearPointer(TDialogEntry& entry);

  TFileAccessor* accessor_;
  TRect displayRect_;
  TSize areaSize_;
  double hScale_ = 1;
  std::function<void(TDeviceDrawer&)> fillOutside_;
  TOverlayCallbacks callbacks_;
  const TClock& clock_;
  TSkinFiles files_;
  std::vector<TOverlaySprite> sprites_;
  int32_t logoSprite_ = -1;
  TOwned<TNavPanel> panel_;
  std::vector<TDialogEntry> dialogs_;  // the last on top
  const TKivDialog* fading_ = nullptr; // the page of the running or next fade
  bool closing_ = false;
  bool fadeRestart_ = false;
  int64_t fadeStart_ = 0, fadeEnd_ = 0;
  bool hidePanel_ = false;
};

} // namespace kiv

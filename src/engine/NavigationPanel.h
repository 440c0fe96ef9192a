#pragma once
// The navigation panel: the bar of NavigationBar.h read from the skin the show names, scaled to a share
// of the window's (or the slide frame's) height and placed at one of nine anchors as a sprite of the
// overlay; mouse events mapped into bar pixels; clicks turned into actions; and, when the show asks for
// it, faded out while the mouse rests and back in when it moves. Engine thread only, like the overlay
// that owns it.

#include "ActionInfo.h"
#include "Clock.h"
#include "DrawTree.h"
#include "MouseMoveDetector.h"
#include "NavigationBar.h"
#include "OverlayAnchors.h"
#include "VideoNavBar.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace kiv {

class TFileAccessor;

// The panel's options from the project's "main" section.
struct TNavPanelSettings {
  std::u16string skin;                 // opt_nav_inifile
  bool showBackground = false;         // opt_nav_showbg
  int32_t hue = 0;                     // opt_nav_hue, degrees
  double viewScale = 10;               // opt_nav_viewscale: height in percent of the placement area
  bool useVideoScale = false;          // opt_nav_usevideoscale (video-style bars)
  double offset = 0;                   // opt_nav_offset: inset of the anchor, percent
  TAnchor anchor = TAnchor::Center;    // opt_cp
  std::vector<std::u16string> buttons; // opt_newnavbutton1.., display order
  bool hideNavBar = false;             // opt_hidenavbar: fade out while the mouse rests
  bool hideOnStartup = false;          // opt_nav_hideonstartup
  int64_t hideIntervalMs = 0;          // opt_nav_hideinterval (seconds in the show)
  int64_t hideFadeOutMs = 1000;        // opt_nav_hidefadeout
  int64_t fadeInMs = 500;              // opt_nav_fadein
  bool windowBottom = true;            // opt_nav_wndbottom: placed in the window, else in the slide frame
  bool videoExit = true;               // opt_nav_videoexit (video-style bars)

  // None unless opt_fcp is true.
  static std::optional<TNavPanelSettings> Read(const TIniIdentList& main);
};

// Where the panel's skin document and pictures come from: the show's files, or a test's.
struct TSkinFiles {
  std::function<std::unique_ptr<TIniFile>(std::u16string_view name)> document; // nullptr: missing
  TBmpCache::TLoader picture;
};
// Both through the show's accessor (pictures through its shared image cache); the accessor must
// outlive the panel.
TSkinFiles SkinFilesOf(TFileAccessor& accessor);
// The folder part of a show file name, separator included ("nav\skin.ini" gives "nav\").
std::u16string SkinFolderOf(std::u16string_view skinName);

// The action of a panel button by its name: "home" goes to the first slide, "forward" and "backward" to
// the next and previous, "print", "pause", "help" and "exit" as named; anything else is none.
TKivActionInfo NavButtonAction(std::u16string_view name);

// What the panel needs from the overlay that shows it.
struct TNavPanelCallbacks {
  // Adds (sprite -1) or replaces a sprite; answers its index.
  std::function<int32_t(int32_t sprite, TRef<TDrawImage> image, const TRect& placed, float opacity)>
      placeSprite;
  std::function<void(int32_t sprite, float opacity)> spriteOpacity;
  std::function<bool()> isPlaying; // the show plays (not paused by the user)
  // Video-style bars: the engine's seek and volume, the show's length and the volume at creation.
  std::function<void(double ms)> seekTo;
  std::function<void(float volume)> setVolume;
  double showLength = 0;
  float volume = 0;
};

class TNavPanel : public TObj {
public:
  // The panel, or nullptr when the skin is missing, cannot be laid out (logged) or makes an empty bar.
  // windowArea and frameArea: the window's client rectangle and the slide frame in it.
  static TOwned<TNavPanel> Create(const TNavPanelSettings& settings, const TSkinFiles& files,
                                  const TRect& windowArea, const TRect& frameArea,
                                  TNavPanelCallbacks callbacks, const TClock& clock);
  ~TNavPanel() override;

  // Each loop pass: the bar's time (its play set follows the show) and the auto-hide fade.
  void PanelTime(double showTime);
  // A mouse event of the window (kMouseMove, kMouseDown, kMouseUp, kMouseDoubleClick): the action of a
  // clicked button, PanelConsumed for any other event over the panel, else none.
  TKivActionInfo HitTest(uint8_t event, uint8_t shift, int32_t x, int32_t y, int32_t button);
  // 2 the cursor is over the panel, else 1 while the mouse moved lately, else 0.
  int32_t PanelState();
  // Shows the panel at once, fade and auto-hide state put to shown (still pictures of the show).
  void ShowNow();

  // The standard bar; only for panels without a video-style skin.
  TNavBar& Bar() noexcept { return *navBar_; }
  // The video-style bar, nullptr for a standard one.
  TVideoNavBar* VideoBar() noexcept { return videoBar_; }
  // The video-style bar's exit button: its sprite (-1 without one) and where it lies.
  int32_t ExitSprite() const noexcept { return exitSprite_; }
  const TRect& ExitRect() const noexcept { return exitPlaced_; }
  TMouseMoveDetector& Detector() noexcept { return detector_; }
  const TRect& PlacedRect() const noexcept { return placed_; }
  const TRect& Area() const noexcept { return area_; }
  int32_t Sprite() const noexcept { return sprite_; }
  float Opacity() const noexcept { return opacity_; }
  bool Hidden() const noexcept { return hidden_; }
  bool Inside() const noexcept { return inside_; }
  const TNavPanelSettings& Settings() const noexcept { return settings_; }

private:
  TNavPanel(const TNavPanelSettings& settings, const TRect& area, TNavPanelCallbacks callbacks,
            const TClock& clock);
  // Scales the bar to the area, places it at the anchor and hands the overlay a new image of it.
  void Place();
  // The video-style bar at its own size on the bottom edge, its exit button in the top-right corner.
  void PlaceVideoBar();
  void PlaceExitButton();
  // Makes the video-style bar; false when it shows nothing (logged).
  bool CreateVideoBar(const TSkinFiles& files);
  TKivActionInfo VideoHitTest(uint8_t event, uint8_t shift, int32_t x, int32_t y, int32_t button);
  // Fade progress 0..1 at a tick; 1 when no fade runs.
  double FadeProgress(int64_t now) const;
  void SetOpacity(float opacity);

  TNavPanelSettings settings_;
  std::unique_ptr<TIniFile> skin_; // the bar reads its sections while it builds buttons
  TOwned<TCustomNavBar> bar_;
  TNavBar* navBar_ = nullptr;         // bar_ when it is the standard bar
  TVideoNavBar* videoBar_ = nullptr;  // bar_ when it is the video-style bar
  bool exitZone_ = false;             // the event in hand goes to the exit button
  int32_t exitSprite_ = -1;
  TRect exitPlaced_;
  TRef<TDrawImage> exitImage_;
  TRect area_;
  TRect placed_;
  TNavPanelCallbacks callbacks_;
  const TClock& clock_;
  TMouseMoveDetector detector_;
  int32_t sprite_ = -1;
  TRef<TDrawImage> image_;
  float opacity_ = 100;
  bool hidden_ = false;
  int64_t fadeStart_ = 0, fadeEnd_ = 0; // clock ticks of the running fade; equal when none runs
  bool inside_ = false;
  std::optional<TKivActionInfo> pendingAction_; // set by the bar's click, taken by HitTest
};

} // namespace kiv

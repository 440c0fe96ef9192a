#pragma once
// The video-style navigation bar, for skins whose "Common" section sets "VideoStyle": a play/pause
// button, optional backward and forward buttons, a time track whose knob shows and seeks the show's
// position, the elapsed and total time in digits, a sound button that mutes and a volume track, laid
// out across the whole width of the placement area; and, apart from the bar, an exit button. Parts are
// repainted one by one and only when they change, as SetTime runs every frame. Engine thread only.

#include "NavigationBar.h"
#include "NinePatch.h"
#include "VideoBarLayout.h"

#include <array>
#include <functional>
#include <vector>

namespace kiv {

enum TBtnState : uint8_t { bs_Normal = 0, bs_Hover = 1, bs_Click = 2 };

// Parts of the bar, as repaint flags.
inline constexpr uint32_t kPartPlay = 1;
inline constexpr uint32_t kPartExtra = 2;
inline constexpr uint32_t kPartTrack = 4; // the time track and the digits
inline constexpr uint32_t kPartSound = 8;
inline constexpr uint32_t kPartVolume = 16;
inline constexpr uint32_t kPartExit = 32;
inline constexpr uint32_t kPartsAll = 63;

// Clicks of the video bar: the extra buttons by their display index from 0, and these.
inline constexpr int32_t kClickPlayPause = -1;
inline constexpr int32_t kClickExit = -2;

struct TVideoBarCallbacks {
  std::function<void(const TRect& rect)> redraw;     // the bar bitmap changed
  std::function<void(const TRect& rect)> exitRedraw; // the exit bitmap changed; none: no exit button
  TBmpCache::TLoader loadPicture;                    // a skin picture by its full name
  std::function<void(int32_t index)> click;
  std::function<bool()> isPlaying;  // none: playing
  std::function<double()> duration; // the show length, ms
  std::function<void(double ms)> seekTo;
  std::function<void(double volume)> setVolume;
  std::function<bool()> exitZone; // the event in hand belongs to the exit button; none: no exit button
};

class TVideoNavBar final : public TCustomNavBar {
public:
  explicit TVideoNavBar(TVideoBarCallbacks callbacks);

  // The folder ends with "/" or "\" (or is empty: the show's root).
  void Load(const TIniStorage& skin, std::u16string_view skinFolder) override;
  void SetButtons(const std::vector<int32_t>& indexes) override;
  void MouseEvent(int32_t button, uint8_t shift, uint8_t kind, int32_t y, int32_t x) override;
  void SetTime(double ms) override;
  void SetVolume(float volume) override;
  void SetWidth(int32_t pixels) override;
  void SetHeight(int32_t pixels) override;
  void SetScale(double scale) override;

  const TBitmap* Bitmap() const override { return collapsed_ ? nullptr : bitmap_.get(); }
  const std::vector<std::u16string>& Names() const override { return names_; }
  bool Inside() const override { return inside_; }
  bool Pressing() const override { return dragging_ || volDragging_; }

  // The exit button's picture (bar height square); nullptr without one.
  const TBitmap* ExitBitmap() const { return collapsed_ ? nullptr : exitBitmap_.get(); }
  // The name of the extra button at a display index ("backward", "forward"), empty for none.
  std::u16string ExtraName(int32_t index) const;

  const TVideoBarLayout& Layout() const noexcept { return layout_; }
  const TVideoBarSkin& Skin() const noexcept { return skin_; }
  bool Collapsed() const noexcept { return collapsed_; }
  double Scale() const noexcept { return scale_; }
  double Position() const noexcept { return position_; }
  double Volume() const noexcept { return volume_; }
  bool Paused() const noexcept { return paused_; }
  bool Hours() const noexcept { return hours_; }
  bool Dragging() const noexcept { return dragging_; }
  bool VolDragging() const noexcept { return volDragging_; }
  int32_t LastKnobX() const noexcept { return lastKnobX_; }
  const std::vector<TBtnState>& States() const noexcept { return states_; }
  // The digits as last painted (empty before).
  const std::u16string& ShownDigits() const noexcept { return shownDigits_; }
  // Repaints of each part so far, by flag bit (for tests of "only on change").
  int32_t PartRepaints(uint32_t part) const;

private:
  void Fit();
  void Relayout();
  bool ExitUsed() const { return callbacks_.exitZone && callbacks_.exitRedraw; }
  bool IsPlaying() const;
  double Duration() const { return duration_; }
  void Repaint(uint32_t parts);
  void PaintBackground(int32_t x1, int32_t x2);
  void PaintCell(TBitmap& target, int32_t cell, TBtnState state, int32_t x, int32_t y);
  void PaintTrack();
  void PaintDigits();
  void PaintVolume();
  void MakeGlyphs();
  // Parts whose state is not bs_Normal (or only those in bs_Click), states all set to bs_Normal.
  uint32_t ResetStates(bool clickedOnly);
  uint32_t PartOfState(size_t index) const;
  bool InExitZone(int32_t x, int32_t y) const;
  void DragTime(int32_t x);
  // The volume knob dragged to x; the parts to repaint.
  uint32_t DragVolume(int32_t x);
  void Press(bool exitMode, int32_t x, int32_t y);
  void Move(bool exitMode, int32_t x, int32_t y);
  void Release(bool exitMode, int32_t x, int32_t y);

  TVideoBarCallbacks callbacks_;
  std::vector<std::u16string> names_;
  std::vector<int32_t> buttons_;
  std::vector<TBtnState> states_;
  TVideoBarSkin skin_;
  TVideoBarLayout layout_;
  double scale_ = 1;
  int32_t width_ = 0;
  bool loaded_ = false;
  bool collapsed_ = true;
  TNinePatch background_, line_, knob_;
  std::array<std::array<TNinePatch, 7>, 3> strips_;
  TRef<TBitmap> bitmap_, exitBitmap_, backgroundCache_, trackCache_;
  std::vector<TRef<TBitmap>> glyphs_; // "0".."9", ":", " / "
  bool glyphsMade_ = false;
  double position_ = -1;
  double duration_ = 0;
  bool hours_ = false;
  double volume_ = -1;
  double savedVolume_ = 0;
  bool paused_ = false, savedPaused_ = false;
  bool dragging_ = false, volDragging_ = false;
  int32_t grabOffset_ = 0, volGrabOffset_ = 0;
  int32_t lastKnobX_ = -1;
  int64_t lastSecond_ = -1;
  std::u16string shownDigits_;
  bool inside_ = false;
  std::array<int32_t, 6> repaints_{};
};

} // namespace kiv

#pragma once
// The navigation bar: a skin of the author's choosing gives the background grid and the buttons
// (home, backward, forward, pause, print, help, exit) with a picture and a background per button state;
// the bar is painted into one 32-bit bitmap, repainted on every state change, and follows the mouse in
// its own pixels. The panel (NavigationPanel.h) places the bitmap over the slides and turns clicks into
// actions. Engine thread only.

#include "IniDocument.h"
#include "SkinPictures.h"

#include <array>
#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace kiv {

// A skin that cannot be laid out. Only the panel's creation sees it: it logs the text and shows no panel.
class ENavSkinError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

// Limits on what a skin may ask for: sizes and counts come from the show's files.
inline constexpr int32_t kMaxSkinPartSide = 4096;
inline constexpr int32_t kMaxNavBarSide = 8192;
inline constexpr int32_t kMaxSkinGridSide = 32;
inline constexpr int32_t kMaxNavButtons = 64;

// The button names a skin may offer, in this order of "Names" values.
inline constexpr std::array<std::u16string_view, 7> kNavButtonNames{
    u"home", u"backward", u"forward", u"pause", u"print", u"help", u"exit"};
bool IsNavButtonName(std::u16string_view lowerName);

enum TNavButtonState : uint8_t { kNavNormal = 0, kNavHover = 1, kNavPressed = 2, kNavDisabled = 3 };

// Mouse event kinds of a bar.
enum : uint8_t { kBarMove = 0, kBarPress = 1, kBarRelease = 2 };

struct TNavCell {
  TPicturePart texture;
  bool repeat = false; // tiled, else stretched
  TRect bounds;        // the part of the texture picture, as the skin gives it (x, y, width, height)
  int32_t x = 0, y = 0, width = 0, height = 0;
};

struct TNavObject {
  int32_t x = 0, y = 0, width = 0, height = 0;
  uint8_t state = kNavNormal;
  int32_t shiftPressed = 0; // pixels right and down while pressed
  int32_t space = 0;        // pixels after the button
  bool grayNormal = false, grayDisabled = false;
  std::u16string actionType;              // one of kNavButtonNames
  std::u16string actionText;              // the skin's "Action", kept with the button
  std::array<TPicturePart, 4> button;     // per state
  std::array<TPicturePart, 4> background; // per state
  bool hasPlaySet = false;
  std::array<TPicturePart, 4> playButton; // shown instead of button while the show is not playing
};

struct TNavBarCallbacks {
  std::function<void(const TRect& rect)> redraw; // the bitmap was repainted; rect: the whole bar
  std::function<void(int32_t index)> click;      // a button was clicked
  std::function<bool()> isPlaying;               // the show plays (none: playing)
  TBmpCache::TLoader loadPicture;                // a skin picture by its full name
};

// The operations every bar answers, the standard one and the video-style one.
class TCustomNavBar : public TObj {
public:
  // Raises ENavSkinError when the skin cannot be laid out.
  virtual void Load(const TIniStorage& skin, std::u16string_view skinFolder) = 0;
  // indexes: into Names(), in display order.
  virtual void SetButtons(const std::vector<int32_t>& indexes) = 0;
  // Coordinates in bar pixels; kind kBarMove, kBarPress or kBarRelease.
  virtual void MouseEvent(int32_t button, uint8_t shift, uint8_t kind, int32_t y, int32_t x) = 0;
  virtual void SetTime(double ms) = 0;
  virtual void SetVolume(float /*volume*/) {}
  virtual void SetWidth(int32_t /*pixels*/) {}
  virtual void SetHeight(int32_t /*pixels*/) {}
  virtual void SetScale(double /*scale*/) {}

  // The painted bar; nullptr while it has no size.
  virtual const TBitmap* Bitmap() const = 0;
  // The skin's known button names, lower case, in section order.
  virtual const std::vector<std::u16string>& Names() const = 0;
  // The mouse is over the bar (or a press that began there is held).
  virtual bool Inside() const = 0;
  // A press that began on the bar is held: the bar follows the mouse wherever it goes.
  virtual bool Pressing() const { return false; }
};

class TNavBar final : public TCustomNavBar {
public:
  explicit TNavBar(TNavBarCallbacks callbacks);

  void Load(const TIniStorage& skin, std::u16string_view skinFolder) override;
  void SetButtons(const std::vector<int32_t>& indexes) override;
  void MouseEvent(int32_t button, uint8_t shift, uint8_t kind, int32_t y, int32_t x) override;
  // Re-reads the playing state; a change repaints buttons that have a play set.
  void SetTime(double ms) override;

  const TBitmap* Bitmap() const override { return bitmap_.get(); }
  const std::vector<std::u16string>& Names() const override { return names_; }
  bool Inside() const override { return inside_; }

  int32_t Width() const noexcept { return width_; }
  int32_t Height() const noexcept { return height_; }
  const std::vector<TNavObject>& Objects() const noexcept { return objects_; }
  const std::vector<TNavCell>& Cells() const noexcept { return cells_; } // row by row
  int32_t Columns() const noexcept { return columns_; }
  int32_t Rows() const noexcept { return rows_; }
  bool Pressing() const override { return pressing_; }
  int32_t PressedIndex() const noexcept { return pressedIndex_; }
  int32_t Repaints() const noexcept { return repaints_; }
  const TBmpCache& Cache() const noexcept { return cache_; }

  // opt_nav_showbg: paint the grid's textures.
  void SetShowBackground(bool show);
  // opt_nav_hue: turned hue of the painted bar, in degrees.
  void SetHue(int32_t hue);
  // A disabled button takes no hover, press or click.
  void SetDisabled(int32_t index, bool disabled);

private:
  TNavCell& Cell(int32_t column, int32_t row) { return cells_[static_cast<size_t>(row * columns_ + column)]; }
  void ReadButton(TNavObject& object, const TIniSection& slot, const TIniSection& action);
  void Layout();
  void Paint();
  // The button under a bar pixel, -1 for none.
  int32_t ButtonAt(int32_t x, int32_t y) const;
  // Hover, pressed or normal for every button that is not disabled.
  bool ApplyMove(int32_t x, int32_t y);
  bool IsPlaying() const;

  TNavBarCallbacks callbacks_;
  TBmpCache cache_;
  const TIniStorage* skin_ = nullptr; // kept between Load and SetButtons; the panel owns the document
  std::u16string folder_;
  std::vector<std::u16string> names_;
  int32_t columns_ = 0, rows_ = 0;
  int32_t objectsColumn_ = 0, objectsRow_ = 0; // from 0
  int32_t leftOffset_ = 0, topOffset_ = 0, rightOffset_ = 0, bottomOffset_ = 0;
  std::vector<TNavCell> cells_;
  std::vector<TNavObject> objects_;
  TRef<TBitmap> bitmap_;
  int32_t width_ = 0, height_ = 0;
  bool showBackground_ = false;
  int32_t hue_ = 0;
  bool pressing_ = false;
  int32_t pressedIndex_ = -1;
  bool inside_ = false;
  bool playing_ = true; // as last painted
  int32_t repaints_ = 0;
};

} // namespace kiv

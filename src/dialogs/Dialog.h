#pragma once
// Our small dialog toolkit: a dialog is a list of items (buttons, check boxes, edit fields and static
// labels) laid out in pixels at 96 DPI and scaled to the screen's DPI. It handles the keyboard (Tab and
// Shift+Tab between items, Enter for the default button, Escape to cancel, Space on the focused item,
// typing into an edit field) and the mouse, and draws itself into a picture, so that it looks the same
// everywhere and can be driven without a screen. A runner shows it modally (an SDL window in the player).

#include "Bitmap.h"

#include <memory>
#include <string>
#include <vector>

namespace kiv {

struct TDialogRect {
  int left = 0, top = 0, width = 0, height = 0;
  bool Contains(int x, int y) const noexcept {
    return x >= left && y >= top && x < left + width && y < top + height;
  }
  bool operator==(const TDialogRect&) const = default;
};

// Key codes the dialogs understand (the player's virtual key numbers).
enum TDialogKey : int {
  kDialogKeyBackspace = 8,
  kDialogKeyTab = 9,
  kDialogKeyEnter = 13,
  kDialogKeyEscape = 27,
  kDialogKeySpace = 32,
};

class TDialog;

class TDialogItem {
public:
  enum class TKind { Button, CheckBox, Edit, Static };
  TDialogItem(TKind kind, TDialogRect rect96, std::u16string caption)
      : kind_(kind), rect96_(rect96), caption_(std::move(caption)) {}
  virtual ~TDialogItem() = default;

  TKind Kind() const noexcept { return kind_; }
  const TDialogRect& Rect96() const noexcept { return rect96_; }
  const std::u16string& Caption() const noexcept { return caption_; }
  bool Focusable() const noexcept { return kind_ != TKind::Static; }

private:
  const TKind kind_;
  const TDialogRect rect96_;
  const std::u16string caption_;
};

// Ends the dialog with its result, or (result 0) sends its command to the dialog.
class TDialogButton final : public TDialogItem {
public:
  TDialogButton(TDialogRect rect96, std::u16string caption, int result, int command = 0, bool isDefault = false)
      : TDialogItem(TKind::Button, rect96, std::move(caption)), result_(result), command_(command),
        default_(isDefault) {}
  int Result() const noexcept { return result_; }
  int Command() const noexcept { return command_; }
  bool IsDefault() const noexcept { return default_; }

private:
  const int result_;
  const int command_;
  const bool default_;
};

class TDialogCheckBox final : public TDialogItem {
public:
  TDialogCheckBox(TDialogRect rect96, std::u16string caption) : TDialogItem(TKind::CheckBox, rect96, std::move(caption)) {}
  bool Checked() const noexcept { return checked_; }
  void SetChecked(bool checked) noexcept { checked_ = checked; }

private:
  bool checked_ = false;
};

class TDialogEdit final : public TDialogItem {
public:
  // hidden: every character shows as a bullet.
  TDialogEdit(TDialogRect rect96, bool hidden) : TDialogItem(TKind::Edit, rect96, {}), hidden_(hidden) {}
  const std::u16string& Text() const noexcept { return text_; }
  void SetText(std::u16string text) { text_ = std::move(text); }
  bool Hidden() const noexcept { return hidden_; }
  // What the field shows.
  std::u16string ShownText() const { return hidden_ ? std::u16string(text_.size(), u'\u25CF') : text_; }

private:
  const bool hidden_;
  std::u16string text_;
};

class TDialogStatic final : public TDialogItem {
public:
  TDialogStatic(TDialogRect rect96, std::u16string caption) : TDialogItem(TKind::Static, rect96, std::move(caption)) {}
};

class TDialog {
public:
  // The result of a dialog closed without a button (Escape, the window's close box).
  static constexpr int kCancelled = 2;

  TDialog(std::u16string title, int width96, int height96) : title_(std::move(title)), width96_(width96), height96_(height96) {}
  virtual ~TDialog() = default;
  TDialog(const TDialog&) = delete;
  TDialog& operator=(const TDialog&) = delete;

  const std::u16string& Title() const noexcept { return title_; }
  // The client area, and the items' rectangles, at a screen's DPI: 96-DPI pixels × dpi ÷ 96, rounded.
  TDialogRect ClientRect(int dpi) const { return Scale({0, 0, width96_, height96_}, dpi); }
  TDialogRect ItemRect(const TDialogItem& item, int dpi) const { return Scale(item.Rect96(), dpi); }
  static TDialogRect Scale(const TDialogRect& rect96, int dpi);

  template <class T, class... Args> T& Add(Args&&... args) {
    auto item = std::make_unique<T>(std::forward<Args>(args)...);
    T& added = *item;
    items_.push_back(std::move(item));
    if (focus_ < 0 && added.Focusable()) focus_ = static_cast<int>(items_.size()) - 1;
    return added;
  }
  const std::vector<std::unique_ptr<TDialogItem>>& Items() const noexcept { return items_; }
  TDialogItem* Focused() const { return focus_ >= 0 ? items_[static_cast<size_t>(focus_)].get() : nullptr; }
  void SetFocus(const TDialogItem& item);

  // Input. Keys are the player's key numbers; shift for Shift+Tab.
  void KeyDown(int key, bool shift = false);
  // Typed characters go to a focused edit field.
  void TypeText(std::u16string_view text);
  // A click of the left button at client pixels of the dialog drawn at dpi.
  void Click(int x, int y, int dpi);
  // The window's close box.
  void CloseBox() { End(kCancelled); }

  bool Ended() const noexcept { return ended_; }
  int Result() const noexcept { return result_; }
  void End(int result) {
    ended_ = true;
    result_ = result;
  }

  // The dialog drawn at dpi, opaque.
  TRef<TBitmap> Draw(int dpi) const;

protected:
  // A button without a result pressed.
  virtual void Command(int) {}

private:
  void Press(TDialogItem& item);

  const std::u16string title_;
  const int width96_, height96_;
  std::vector<std::unique_ptr<TDialogItem>> items_;
  int focus_ = -1;
  bool ended_ = false;
  int result_ = 0;
};

// Shows a dialog modally until it ends; returns its result.
class TDialogRunner {
public:
  virtual ~TDialogRunner() = default;
  virtual int Run(TDialog& dialog) = 0;
};

} // namespace kiv

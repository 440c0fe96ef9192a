#include "Dialog.h"

#include "FontOutlines.h"
#include "TextRasterizer.h"

#include <algorithm>
#include <cmath>

namespace kiv {

namespace {

constexpr uint32_t kFace = 0xFFF0F0F0, kText = 0xFF000000, kBorder = 0xFF8C8C8C, kButtonFace = 0xFFE1E1E1,
                   kFocus = 0xFF0078D7, kWhite = 0xFFFFFFFF;

void FillRect(TBitmap& bitmap, const TDialogRect& r, uint32_t argb) {
  const int x0 = std::max(0, r.left), y0 = std::max(0, r.top);
  const int x1 = std::min(bitmap.Width(), r.left + r.width), y1 = std::min(bitmap.Height(), r.top + r.height);
  for (int y = y0; y < y1; ++y)
    for (int x = x0; x < x1; ++x)
      bitmap.SetPixel32(x, y, argb);
}

void FrameRect(TBitmap& bitmap, const TDialogRect& r, uint32_t argb, int thickness) {
  FillRect(bitmap, {r.left, r.top, r.width, thickness}, argb);
  FillRect(bitmap, {r.left, r.top + r.height - thickness, r.width, thickness}, argb);
  FillRect(bitmap, {r.left, r.top, thickness, r.height}, argb);
  FillRect(bitmap, {r.left + r.width - thickness, r.top, thickness, r.height}, argb);
}

// One line of text in black, blended over what is there, placed in r (left-aligned or centred) and
// cut at r's edges.
void DrawText(TBitmap& bitmap, std::u16string_view text, const TDialogRect& r, int dpi, bool centred) {
  if (text.empty()) return;
  TOwned<TSimpleVectorText> vector = MakeVectorText(u"MS Shell Dlg 2", {std::u16string(text)});
  if (!vector) return;
  const double height = vector->Metrics().ascent + vector->Metrics().descent;
  if (!(height > 0)) return;
  TTextProducer producer;
  producer.SetText(vector.get(), false);
  // 9 points: 12 pixels of em at 96 DPI, about 15 of line.
  const double line = 15.0 * dpi / 96.0;
  TOwned<TImage> image = producer.Produce(0, 0, false, false, line / height);
  if (!image) return;
  TRef<TBitmap> glyphs = image->GetMipLevel(0, TBitmapFormat::Pf32bit);
  const int left = centred ? r.left + (r.width - glyphs->Width()) / 2 : r.left;
  const int top = r.top + (r.height - glyphs->Height()) / 2;
  for (int y = 0; y < glyphs->Height(); ++y)
    for (int x = 0; x < glyphs->Width(); ++x) {
      const int px = left + x, py = top + y;
      if (!r.Contains(px, py) || px >= bitmap.Width() || py >= bitmap.Height() || px < 0 || py < 0) continue;
      const uint32_t a = glyphs->Pixel32(x, y) >> 24;
      if (a == 0) continue;
      const uint32_t under = bitmap.Pixel32(px, py);
      auto mix = [&](int shift) {
        const uint32_t back = (under >> shift) & 0xFF, fore = (kText >> shift) & 0xFF;
        return ((fore * a + back * (255 - a) + 127) / 255) << shift;
      };
      bitmap.SetPixel32(px, py, 0xFF000000u | mix(16) | mix(8) | mix(0));
    }
}

} // namespace

TDialogRect TDialog::Scale(const TDialogRect& r, int dpi) {
  // Halves go to the even neighbour, as everywhere in the player.
  auto s = [dpi](int v) { return static_cast<int>(std::nearbyint(static_cast<double>(v) * dpi / 96.0)); };
  return {s(r.left), s(r.top), s(r.width), s(r.height)};
}

void TDialog::SetFocus(const TDialogItem& item) {
  for (size_t i = 0; i < items_.size(); ++i)
    if (items_[i].get() == &item && item.Focusable()) focus_ = static_cast<int>(i);
}

void TDialog::Press(TDialogItem& item) {
  if (auto* box = dynamic_cast<TDialogCheckBox*>(&item)) {
    box->SetChecked(!box->Checked());
  } else if (auto* button = dynamic_cast<TDialogButton*>(&item)) {
    if (button->Result() != 0)
      End(button->Result());
    else
      Command(button->Command());
  }
}

void TDialog::KeyDown(int key, bool shift) {
  if (ended_) return;
  TDialogItem* focused = Focused();
  switch (key) {
  case kDialogKeyTab: {
    const int count = static_cast<int>(items_.size());
    for (int step = 1; step <= count; ++step) {
      const int i = ((focus_ + (shift ? -step : step)) % count + count) % count;
      if (items_[static_cast<size_t>(i)]->Focusable()) {
        focus_ = i;
        break;
      }
    }
    return;
  }
  case kDialogKeyEnter:
    // The focused button, else the default one.
    if (focused && focused->Kind() == TDialogItem::TKind::Button) {
      Press(*focused);
      return;
    }
    for (const auto& item : items_)
      if (auto* button = dynamic_cast<TDialogButton*>(item.get()); button && button->IsDefault()) {
        Press(*button);
        return;
      }
    return;
  case kDialogKeyEscape:
    End(kCancelled);
    return;
  case kDialogKeySpace:
    if (focused && focused->Kind() != TDialogItem::TKind::Edit) Press(*focused);
    return;
  case kDialogKeyBackspace:
    if (auto* edit = dynamic_cast<TDialogEdit*>(focused); edit && !edit->Text().empty()) {
      std::u16string text = edit->Text();
      // A surrogate pair goes as one character.
      size_t cut = text.size() - 1;
      if (cut > 0 && text[cut] >= 0xDC00 && text[cut] <= 0xDFFF && text[cut - 1] >= 0xD800 && text[cut - 1] <= 0xDBFF)
        --cut;
      text.resize(cut);
      edit->SetText(std::move(text));
    }
    return;
  default:
    return;
  }
}

void TDialog::TypeText(std::u16string_view text) {
  if (ended_) return;
  if (auto* edit = dynamic_cast<TDialogEdit*>(Focused())) {
    std::u16string now = edit->Text();
    for (char16_t c : text)
      if (c >= 0x20 && c != 0x7F) now.push_back(c);
    edit->SetText(std::move(now));
  }
}

void TDialog::Click(int x, int y, int dpi) {
  if (ended_) return;
  for (size_t i = 0; i < items_.size(); ++i) {
    TDialogItem& item = *items_[i];
    if (!item.Focusable() || !ItemRect(item, dpi).Contains(x, y)) continue;
    focus_ = static_cast<int>(i);
    if (item.Kind() != TDialogItem::TKind::Edit) Press(item);
    return;
  }
}

TRef<TBitmap> TDialog::Draw(int dpi) const {
  const TDialogRect client = ClientRect(dpi);
  auto bitmap = TRef<TBitmap>::Make(std::max(1, client.width), std::max(1, client.height), TBitmapFormat::Pf32bit);
  bitmap->Fill32(kFace);
  const int line = std::max(1, static_cast<int>(std::nearbyint(dpi / 96.0)));
  for (const auto& owned : items_) {
    const TDialogItem& item = *owned;
    const TDialogRect r = ItemRect(item, dpi);
    const bool focused = &item == Focused();
    switch (item.Kind()) {
    case TDialogItem::TKind::Static:
      DrawText(*bitmap, item.Caption(), r, dpi, false);
      break;
    case TDialogItem::TKind::Edit: {
      const auto& edit = static_cast<const TDialogEdit&>(item);
      FillRect(*bitmap, r, kWhite);
      FrameRect(*bitmap, r, focused ? kFocus : kBorder, line);
      const int pad = 3 * line;
      DrawText(*bitmap, edit.ShownText(), {r.left + pad, r.top, r.width - 2 * pad, r.height}, dpi, false);
      break;
    }
    case TDialogItem::TKind::Button: {
      const auto& button = static_cast<const TDialogButton&>(item);
      FillRect(*bitmap, r, kButtonFace);
      FrameRect(*bitmap, r, focused || button.IsDefault() ? kFocus : kBorder, focused ? 2 * line : line);
      DrawText(*bitmap, item.Caption(), r, dpi, true);
      break;
    }
    case TDialogItem::TKind::CheckBox: {
      const auto& box = static_cast<const TDialogCheckBox&>(item);
      const int side = 13 * line;
      const TDialogRect mark{r.left, r.top + (r.height - side) / 2, side, side};
      FillRect(*bitmap, mark, kWhite);
      FrameRect(*bitmap, mark, focused ? kFocus : kBorder, line);
      if (box.Checked()) FillRect(*bitmap, {mark.left + 3 * line, mark.top + 3 * line, side - 6 * line, side - 6 * line}, kText);
      const int gap = side + 4 * line;
      DrawText(*bitmap, item.Caption(), {r.left + gap, r.top, r.width - gap, r.height}, dpi, false);
      break;
    }
    }
  }
  return bitmap;
}

} // namespace kiv

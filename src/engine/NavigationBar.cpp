#include "NavigationBar.h"

#include "CaseFolding.h"
#include "InputMapping.h"
#include "LoadYield.h"
#include "PictureColorOps.h"
#include "Utf8Conversion.h"

#include <algorithm>

namespace kiv {
namespace {

constexpr std::u16string_view kActionPrefix = u"ACTION-";
constexpr std::array<std::u16string_view, 4> kStateNames{u"Normal", u"Hover", u"Pressed", u"Disabled"};
// Positions inside a skin picture: far enough for any real picture, small enough that x + width stays
// in 32 bits.
constexpr int32_t kMaxPartOffset = 1 << 20;

std::u16string Num(int64_t value) {
  return Utf8ToUtf16(std::to_string(value));
}

// Reads "x, y, width, height". Absent: false. A value that is not exactly four integers raises the
// error made by `complaint` from the number of values found.
template <class Complaint>
bool ReadBounds(const TIniIdentList& section, std::u16string_view key, TRect& rect, Complaint complaint) {
  if (!section.FindIdent(key)) return false;
  int32_t v[4] = {};
  int count = section.ReadIntegers(key, v);
  if (count < 0) count = -count - 1; // the values before the malformed one
  if (count != 4) throw ENavSkinError(complaint(count));
  const int32_t x = std::clamp(v[0], -kMaxPartOffset, kMaxPartOffset);
  const int32_t y = std::clamp(v[1], -kMaxPartOffset, kMaxPartOffset);
  rect = {x, y, x + std::clamp(v[2], 0, kMaxSkinPartSide), y + std::clamp(v[3], 0, kMaxSkinPartSide)};
  return true;
}

std::string ButtonBoundsComplaint(int count) {
  return "Bounds should contains 4 values. For example: BtnTextureNormalBounds=0,0,20,20. But KIV found "
         "only " +
         std::to_string(count) + " values.";
}

TRect WholePicture(const TRef<TBitmap>& picture) {
  return picture ? TRect{0, 0, picture->Width(), picture->Height()} : TRect{};
}

int32_t ClampSide(int64_t value) {
  return static_cast<int32_t>(std::clamp<int64_t>(value, 0, kMaxNavBarSide));
}

} // namespace

bool IsNavButtonName(std::u16string_view lowerName) {
  return std::ranges::find(kNavButtonNames, lowerName) != kNavButtonNames.end();
}

TNavBar::TNavBar(TNavBarCallbacks callbacks)
    : callbacks_(std::move(callbacks)), cache_(callbacks_.loadPicture) {}

void TNavBar::Load(const TIniStorage& skin, std::u16string_view skinFolder) {
  skin_ = &skin;
  folder_ = std::u16string(skinFolder);
  names_.clear();
  for (const TIniSection* section = skin.FirstSection(); section; section = skin.NextSection(section)) {
    const std::u16string_view name = section->NameView();
    if (name.size() <= kActionPrefix.size() || !SameText(name.substr(0, kActionPrefix.size()), kActionPrefix))
      continue;
    const std::u16string button = LowerCase(name.substr(kActionPrefix.size()));
    if (IsNavButtonName(button) && std::ranges::find(names_, button) == names_.end())
      names_.push_back(button);
  }

  columns_ = skin.ReadInteger(u"Common", u"ColsCount", 0);
  rows_ = skin.ReadInteger(u"Common", u"RowsCount", 0);
  if (columns_ < 1 || rows_ < 1 || columns_ > kMaxSkinGridSide || rows_ > kMaxSkinGridSide)
    throw ENavSkinError("The grid of " + std::to_string(columns_) + " x " + std::to_string(rows_) +
                        " cells cannot hold the buttons");

  const TIniSection* objects = skin.FindSection(u"CellWithObjects");
  int32_t cell[2] = {};
  int cellCount = objects ? objects->ReadIntegers(u"Cell", cell) : 0;
  if (cellCount != 2) throw ENavSkinError("Incorrect number of parameters in field \"Cell\"");
  if (cell[0] < 1 || cell[0] > columns_ || cell[1] < 1 || cell[1] > rows_)
    throw ENavSkinError("The cell with the buttons (" + std::to_string(cell[0]) + ":" +
                        std::to_string(cell[1]) + ") lies outside the grid");
  objectsColumn_ = cell[0] - 1;
  objectsRow_ = cell[1] - 1;
  auto offset = [objects](std::u16string_view key) {
    return std::clamp(objects->ReadInteger(key, 0), 0, kMaxSkinPartSide);
  };
  leftOffset_ = offset(u"LeftOffset");
  topOffset_ = offset(u"TopOffset");
  rightOffset_ = offset(u"RightOffset");
  bottomOffset_ = offset(u"BottomOffset");

  cells_.assign(static_cast<size_t>(columns_ * rows_), TNavCell{});
  for (int32_t row = 0; row < rows_; ++row)
    for (int32_t column = 0; column < columns_; ++column) {
      const std::u16string sectionName = u"Cell(" + Num(column + 1) + u":" + Num(row + 1) + u")";
      const TIniSection* section = skin.FindSection(sectionName);
      TNavCell& target = Cell(column, row);
      auto complaint = [&sectionName](int count) {
        return "Incorrect number of parameters in field \"Bounds\" of \"" + Utf16ToUtf8(sectionName) +
               "\": " + std::to_string(count) + " instead of 4";
      };
      if (!section || !ReadBounds(*section, u"Bounds", target.bounds, complaint))
        throw ENavSkinError(complaint(0));
      target.repeat = SameText(section->ReadString(u"TextureType", u""), u"repeat");
      const std::u16string texture = section->ReadString(u"flnm_Texture", u"");
      if (!texture.empty()) target.texture = cache_.Part(folder_ + texture, target.bounds, TPartKind::AsIs);
    }
  objects_.clear();
  Layout();
}

void TNavBar::SetButtons(const std::vector<int32_t>& indexes) {
  objects_.clear();
  if (!skin_) return;
  const int32_t slots = std::clamp(skin_->ReadInteger(u"Objects", u"Count", 0), 0, kMaxNavButtons);
  const TIniSection noKeys(u"Object");
  for (size_t i = 0; i < indexes.size() && objects_.size() < static_cast<size_t>(slots); ++i) {
    const int32_t index = indexes[i];
    if (index < 0 || static_cast<size_t>(index) >= names_.size()) continue;
    const TIniSection* action = skin_->FindSection(std::u16string(kActionPrefix) + names_[index]);
    if (!action) continue;
    const TIniSection* slot = skin_->FindSection(u"Object" + Num(static_cast<int64_t>(objects_.size()) + 1));
    TNavObject object;
    object.actionType = names_[index];
    ReadButton(object, slot ? *slot : noKeys, *action);
    objects_.push_back(std::move(object));
  }
  pressing_ = false;
  pressedIndex_ = -1;
  Layout();
  Paint();
}

void TNavBar::ReadButton(TNavObject& object, const TIniSection& slot, const TIniSection& action) {
  object.shiftPressed = std::clamp(slot.ReadInteger(u"ShiftPressed", 0), -kMaxSkinPartSide, kMaxSkinPartSide);
  object.grayNormal = slot.ReadBool(u"GrayNormal", false);
  object.grayDisabled = slot.ReadBool(u"GrayDisabled", false);
  object.space = std::clamp(slot.ReadInteger(u"Space", 0), 0, kMaxSkinPartSide);
  const std::u16string type = LowerCase(action.ReadString(u"ActionType", object.actionType));
  if (IsNavButtonName(type)) object.actionType = type;
  object.actionText = action.ReadString(u"Action", u"");

  // A state without a picture of its own shows the normal one; without bounds of its own, the normal
  // bounds; normal bounds that are not given take the whole picture.
  auto readSet = [&](std::u16string_view prefix, std::u16string_view suffix,
                     std::array<std::u16string, 4>& files, std::array<TRect, 4>& rects,
                     std::array<bool, 4>& given) {
    for (size_t s = 0; s < 4; ++s) {
      std::u16string file = action.ReadString(
          u"flnm_" + std::u16string(prefix) + std::u16string(kStateNames[s]) + std::u16string(suffix), u"");
      files[s] = file.empty() && s > 0 ? files[0] : file;
      const std::u16string boundsKey = std::u16string(prefix) + std::u16string(kStateNames[s]) + u"Bounds";
      given[s] = ReadBounds(action, boundsKey, rects[s], ButtonBoundsComplaint);
      if (!given[s])
        rects[s] =
            s > 0 ? rects[0] : WholePicture(files[0].empty() ? nullptr : cache_.Picture(folder_ + files[0]));
    }
  };
  std::array<std::u16string, 4> buttonFiles, playFiles, backgroundFiles;
  std::array<TRect, 4> buttonRects, playRects, backgroundRects;
  std::array<bool, 4> buttonGiven{}, backgroundGiven{};
  readSet(u"BtnTexture", u"", buttonFiles, buttonRects, buttonGiven);
  readSet(u"BgTexture", u"", backgroundFiles, backgroundRects, backgroundGiven);
  // The play set shares the button bounds.
  for (size_t s = 0; s < 4; ++s) {
    std::u16string file =
        action.ReadString(u"flnm_BtnTexture" + std::u16string(kStateNames[s]) + u"Play", u"");
    playFiles[s] = file.empty() && s > 0 ? playFiles[0] : file;
    playRects[s] = buttonRects[s];
  }
  object.hasPlaySet = !playFiles[0].empty();

  auto part = [this](const std::u16string& file, const TRect& rect, TPartKind kind) {
    return file.empty() ? TPicturePart{} : cache_.Part(folder_ + file, rect, kind);
  };
  for (size_t s = 0; s < 4; ++s) {
    TPartKind kind = TPartKind::AsIs;
    if (s == kNavNormal && object.grayNormal) kind = TPartKind::Grey;
    if (s == kNavDisabled && object.grayDisabled) kind = TPartKind::Disabled;
    object.button[s] = part(buttonFiles[s], buttonRects[s], kind);
    if (object.hasPlaySet) object.playButton[s] = part(playFiles[s], playRects[s], kind);
    object.background[s] = part(backgroundFiles[s], backgroundRects[s], TPartKind::AsIs);
  }

  // The normal background's bounds give the button's size; without a background, the normal picture's.
  TRect size = buttonRects[0];
  if (backgroundGiven[0] || !backgroundFiles[0].empty()) size = backgroundRects[0];
  object.width = size.Width();
  object.height = size.Height();
}

void TNavBar::Layout() {
  if (cells_.empty()) {
    width_ = height_ = 0;
    return;
  }
  int64_t objectsWidth = int64_t{leftOffset_} + rightOffset_;
  for (const TNavObject& object : objects_)
    objectsWidth += int64_t{object.width} + object.space;
  const int64_t objectsHeight =
      int64_t{topOffset_} + bottomOffset_ + (objects_.empty() ? 0 : objects_.front().height);

  for (int32_t row = 0; row < rows_; ++row)
    for (int32_t column = 0; column < columns_; ++column) {
      TNavCell& cell = Cell(column, row);
      cell.width = column == objectsColumn_ ? ClampSide(objectsWidth) : cell.bounds.Width();
      cell.height = row == objectsRow_ ? ClampSide(objectsHeight) : cell.bounds.Height();
    }
  std::vector<int64_t> columnX(static_cast<size_t>(columns_) + 1, 0), rowY(static_cast<size_t>(rows_) + 1, 0);
  for (int32_t column = 0; column < columns_; ++column)
    columnX[column + 1] = columnX[column] + Cell(column, 0).width;
  for (int32_t row = 0; row < rows_; ++row)
    rowY[row + 1] = rowY[row] + Cell(0, row).height;
  for (int32_t row = 0; row < rows_; ++row)
    for (int32_t column = 0; column < columns_; ++column) {
      TNavCell& cell = Cell(column, row);
      cell.x = ClampSide(columnX[column]);
      cell.y = ClampSide(rowY[row]);
    }
  width_ = ClampSide(columnX[columns_]);
  height_ = ClampSide(rowY[rows_]);

  const TNavCell& holder = Cell(objectsColumn_, objectsRow_);
  int64_t x = int64_t{holder.x} + leftOffset_;
  const int32_t y = ClampSide(int64_t{holder.y} + topOffset_);
  for (TNavObject& object : objects_) {
    object.x = ClampSide(x);
    object.y = y;
    x += int64_t{object.width} + object.space;
  }
}

bool TNavBar::IsPlaying() const {
  return !callbacks_.isPlaying || callbacks_.isPlaying();
}

void TNavBar::Paint() {
  if (width_ <= 0 || height_ <= 0) {
    bitmap_ = nullptr;
    return;
  }
  if (!bitmap_ || bitmap_->Width() != width_ || bitmap_->Height() != height_)
    bitmap_ = TRef<TBitmap>::Make(width_, height_, TBitmapFormat::Pf32bit);
  else
    bitmap_->Fill32(0);
  TBitmap& target = *bitmap_;
  if (showBackground_)
    for (const TNavCell& cell : cells_) {
      const TRect where{cell.x, cell.y, cell.x + cell.width, cell.y + cell.height};
      if (cell.repeat)
        TilePart(target, cell.texture, where);
      else
        StretchPart(target, cell.texture, where);
    }
  LoadCallBack();
  playing_ = IsPlaying();
  for (const TNavObject& object : objects_) {
    const size_t state = std::min<size_t>(object.state, 3);
    StretchPart(target, object.background[state],
                {object.x, object.y, object.x + object.width, object.y + object.height});
    const TPicturePart& picture =
        object.hasPlaySet && !playing_ ? object.playButton[state] : object.button[state];
    // Centred, the odd pixel left of and above the centre, as integer halving towards zero gives it.
    int32_t x = object.x + (object.width - picture.Width()) / 2;
    int32_t y = object.y + (object.height - picture.Height()) / 2;
    if (state == kNavPressed) {
      x += object.shiftPressed;
      y += object.shiftPressed;
    }
    PaintPart(target, picture, x, y);
  }
  LoadCallBack();
  if (hue_ != 0) TintPicture(target, hue_, 0, 0);
  LoadCallBack();
  ++repaints_;
  if (callbacks_.redraw) callbacks_.redraw({0, 0, width_, height_});
}

int32_t TNavBar::ButtonAt(int32_t x, int32_t y) const {
  for (size_t i = 0; i < objects_.size(); ++i) {
    const TNavObject& o = objects_[i];
    if (x >= o.x && x < o.x + o.width && y >= o.y && y < o.y + o.height) return static_cast<int32_t>(i);
  }
  return -1;
}

bool TNavBar::ApplyMove(int32_t x, int32_t y) {
  const int32_t hit = ButtonAt(x, y);
  bool changed = false;
  for (size_t i = 0; i < objects_.size(); ++i) {
    TNavObject& o = objects_[i];
    if (o.state == kNavDisabled) continue;
    const bool under = hit == static_cast<int32_t>(i);
    uint8_t state = kNavNormal;
    if (pressing_)
      state = under && pressedIndex_ == hit ? kNavPressed : kNavNormal;
    else if (under)
      state = kNavHover;
    changed |= o.state != state;
    o.state = state;
  }
  return changed;
}

void TNavBar::MouseEvent(int32_t button, uint8_t shift, uint8_t kind, int32_t y, int32_t x) {
  const bool inBar = x >= 0 && y >= 0 && x < width_ && y < height_;
  bool changed = false;
  int32_t clicked = -1;
  auto move = [&](bool leftHeld) {
    if (!pressing_ && !inBar) {
      // Leaving the bar: every button back to normal.
      inside_ = false;
      for (TNavObject& o : objects_)
        if (o.state != kNavDisabled && o.state != kNavNormal) {
          o.state = kNavNormal;
          changed = true;
        }
      return;
    }
    // A button held down elsewhere and dragged in lights nothing.
    if (!pressing_ && leftHeld) return;
    inside_ = true;
    changed |= ApplyMove(x, y);
  };
  switch (kind) {
  case kBarPress:
    if (button != kMouseButtonLeft || !inBar) break;
    pressing_ = true;
    inside_ = true;
    pressedIndex_ = ButtonAt(x, y);
    if (pressedIndex_ >= 0 && objects_[pressedIndex_].state == kNavDisabled) pressedIndex_ = -1;
    for (size_t i = 0; i < objects_.size(); ++i) {
      TNavObject& o = objects_[i];
      if (o.state == kNavDisabled) continue;
      const uint8_t state = static_cast<int32_t>(i) == pressedIndex_ ? kNavPressed : kNavNormal;
      changed |= o.state != state;
      o.state = state;
    }
    break;
  case kBarMove:
    move((shift & kShiftLeftButton) != 0);
    break;
  case kBarRelease:
    if (button != kMouseButtonLeft) break;
    if (pressing_ && pressedIndex_ >= 0 && objects_[pressedIndex_].state != kNavDisabled &&
        ButtonAt(x, y) == pressedIndex_)
      clicked = pressedIndex_;
    pressing_ = false;
    pressedIndex_ = -1;
    if (!inBar) inside_ = false;
    move(false);
    break;
  default:
    break;
  }
  if (changed) Paint();
  if (clicked >= 0 && callbacks_.click) callbacks_.click(clicked);
}

void TNavBar::SetTime(double /*ms*/) {
  const bool playing = IsPlaying();
  if (playing == playing_) return;
  if (std::ranges::any_of(objects_, [](const TNavObject& o) { return o.hasPlaySet; }))
    Paint();
  else
    playing_ = playing;
}

void TNavBar::SetShowBackground(bool show) {
  if (show == showBackground_) return;
  showBackground_ = show;
  Paint();
}

void TNavBar::SetHue(int32_t hue) {
  if (hue == hue_) return;
  hue_ = hue;
  Paint();
}

void TNavBar::SetDisabled(int32_t index, bool disabled) {
  if (index < 0 || static_cast<size_t>(index) >= objects_.size()) return;
  TNavObject& o = objects_[index];
  const uint8_t state = disabled ? kNavDisabled : kNavNormal;
  if (o.state == state) return;
  o.state = state;
  if (disabled && pressedIndex_ == index) pressedIndex_ = -1;
  Paint();
}

} // namespace kiv

#include "VideoNavBar.h"

#include "FontOutlines.h"
#include "InputMapping.h"
#include "LoadYield.h"
#include "SkinPictures.h"
#include "TextRasterizer.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace kiv {
namespace {

constexpr std::u16string_view kGlyphTexts[12] = {u"0", u"1", u"2", u"3", u"4", u"5",
                                                 u"6", u"7", u"8", u"9", u":", u" / "};
// The pointer's offset that counts as a press outside the knob.
constexpr int32_t kGrabOutside = 1 << 30;
// Fitting halves the scale until the time track has this much travel.
constexpr int32_t kMinTravel = 100;

int32_t GlyphIndex(char16_t c) {
  if (c >= u'0' && c <= u'9') return c - u'0';
  return c == u':' ? 10 : -1;
}

// The picture blended at (left, top), only over the target's columns [clipLeft, clipRight).
void Blend(TBitmap& target, const TBitmap& picture, int32_t left, int32_t top, int32_t clipLeft = 0,
           int32_t clipRight = 1 << 30) {
  clipLeft = std::max(clipLeft, 0);
  clipRight = std::min(clipRight, target.Width());
  for (int32_t y = std::max(0, -top); y < picture.Height() && top + y < target.Height(); ++y)
    for (int32_t x = std::max(0, clipLeft - left); x < picture.Width() && left + x < clipRight; ++x)
      target.SetPixel32(left + x, top + y,
                        BlendOver(target.Pixel32(left + x, top + y), picture.Pixel32(x, y)));
}

} // namespace

TVideoNavBar::TVideoNavBar(TVideoBarCallbacks callbacks) : callbacks_(std::move(callbacks)) {}

void TVideoNavBar::Load(const TIniStorage& skin, std::u16string_view skinFolder) {
  if (!skinFolder.empty() && skinFolder.back() != u'/' && skinFolder.back() != u'\\')
    throw ENavSkinError("Path delimiter nof found!");
  if (!callbacks_.loadPicture) throw ENavSkinError("Assertion failure");
  // What an earlier load made goes.
  bitmap_ = exitBitmap_ = backgroundCache_ = trackCache_ = nullptr;
  glyphs_.clear();
  glyphsMade_ = false;
  lastKnobX_ = -1;
  lastSecond_ = -1;
  buttons_.clear();
  states_.clear();

  skin_ = TVideoBarSkin::Read(skin);
  const std::u16string folder(skinFolder);
  auto picture = [&](const std::u16string& name) -> TRef<TBitmap> {
    return name.empty() ? nullptr : callbacks_.loadPicture(folder + name);
  };
  const TRef<TBitmap> back = picture(skin_.background);
  background_ = TNinePatch(back.get(), {0, 0, back ? back->Width() : 0, back ? back->Height() : 0},
                           skin_.bgLeft, 0, skin_.bgRight, 0);
  const TRef<TBitmap> line = picture(skin_.line);
  line_ = TNinePatch(line.get(), {0, 0, line ? line->Width() : 0, line ? line->Height() : 0},
                     skin_.trackLineLeft, 0, skin_.trackLineRight, 0);
  const TRef<TBitmap> knob = picture(skin_.knob);
  knob_ = TNinePatch(knob.get(), {0, 0, knob ? knob->Width() : 0, knob ? knob->Height() : 0}, 0, 0, 0, 0);
  for (size_t state = 0; state < strips_.size(); ++state) {
    const TRef<TBitmap> strip = picture(skin_.strips[state]);
    for (int32_t cell = 0; cell < 7; ++cell) {
      const int32_t x = cell * skin_.buttonWidth;
      strips_[state][static_cast<size_t>(cell)] =
          TNinePatch(strip.get(), {x, 0, x + skin_.buttonWidth, skin_.buttonHeight}, 0, 0, 0, 0);
    }
  }
  names_ = {u"backward", u"forward"};
  loaded_ = true;
  Relayout();
}

void TVideoNavBar::SetWidth(int32_t pixels) {
  width_ = std::clamp(pixels, 0, kMaxNavBarSide);
}

void TVideoNavBar::SetHeight(int32_t pixels) {
  // A skin without a bar height has nothing to scale: the bar stays collapsed.
  scale_ = skin_.barHeight > 0 ? static_cast<double>(pixels) / skin_.barHeight : 0;
  Fit();
}

void TVideoNavBar::SetScale(double scale) {
  scale_ = scale;
  Fit();
}

void TVideoNavBar::Relayout() {
  layout_ = TVideoBarLayout::Make(skin_, knob_.Width(), knob_.Height(), scale_, width_,
                                  static_cast<int32_t>(buttons_.size()), hours_);
}

void TVideoNavBar::Fit() {
  if (!std::isfinite(scale_) || scale_ < 0) scale_ = 0;
  Relayout();
  collapsed_ = !loaded_ || layout_.height <= 0 || layout_.Collapsed();
  // Halved until the time track keeps enough travel; a bar that shrinks to nothing on the way is
  // collapsed, so that the halving always ends.
  while (!collapsed_ && int64_t{layout_.knobWidth} + layout_.trackStart + kMinTravel >= layout_.trackEnd) {
    scale_ /= 2;
    Relayout();
    if (layout_.height <= 0 || layout_.Collapsed()) collapsed_ = true;
  }
}

void TVideoNavBar::SetButtons(const std::vector<int32_t>& indexes) {
  if (collapsed_) return;
  buttons_.clear();
  for (const int32_t index : indexes)
    if (index >= 0 && static_cast<size_t>(index) < names_.size() && buttons_.size() < names_.size())
      buttons_.push_back(index);
  states_.assign(3 + buttons_.size(), bs_Normal);
  const double duration = callbacks_.duration ? callbacks_.duration() : 0;
  duration_ = std::isfinite(duration) && duration > 0 ? duration : 0;
  hours_ = duration_ >= 3600000;
  Relayout();
  // The extra buttons and the hours' digits take from the track: a track left without travel
  // would divide by nothing when dragged.
  if (layout_.Collapsed() || layout_.TimeTravel() <= 0) {
    collapsed_ = true;
    return;
  }
  bitmap_ = exitBitmap_ = backgroundCache_ = trackCache_ = nullptr;
  lastKnobX_ = -1;
  lastSecond_ = -1;
  Repaint(ExitUsed() ? kPartsAll : kPartsAll & ~kPartExit);
}

std::u16string TVideoNavBar::ExtraName(int32_t index) const {
  if (index < 0 || static_cast<size_t>(index) >= buttons_.size()) return {};
  return names_[static_cast<size_t>(buttons_[static_cast<size_t>(index)])];
}

bool TVideoNavBar::IsPlaying() const {
  return !callbacks_.isPlaying || callbacks_.isPlaying();
}

int32_t TVideoNavBar::PartRepaints(uint32_t part) const {
  for (size_t bit = 0; bit < repaints_.size(); ++bit)
    if (part == (1u << bit)) return repaints_[bit];
  return 0;
}

// ---- painting ----------------------------------------------------------------------------------------

void TVideoNavBar::PaintBackground(int32_t x1, int32_t x2) {
  x1 = std::max(x1, 0);
  x2 = std::min(x2, layout_.width);
  if (x2 <= x1) return;
  for (int32_t y = 0; y < layout_.height; ++y)
    std::memcpy(bitmap_->Row(y) + size_t{4} * x1, backgroundCache_->Row(y) + size_t{4} * x1,
                size_t{4} * (x2 - x1));
}

void TVideoNavBar::PaintCell(TBitmap& target, int32_t cell, TBtnState state, int32_t x, int32_t y) {
  const TNinePatch& patch = strips_[std::min<size_t>(state, 2)][static_cast<size_t>(cell)];
  patch.Draw(target, {x, y, x + layout_.buttonWidth, y + layout_.buttonHeight});
}

void TVideoNavBar::PaintTrack() {
  const TVideoBarLayout& l = layout_;
  const int32_t knobX = l.TimeKnobCentre(position_, duration_);
  if (knobX == lastKnobX_ && trackCache_) return;
  PaintBackground(l.trackStart, l.trackEnd);
  if (!trackCache_) {
    trackCache_ = TRef<TBitmap>::Make(std::max(l.trackEnd - l.trackStart, 1), std::max(l.trackHeight, 1),
                                      TBitmapFormat::Pf32bit);
    trackCache_->Fill32(0);
    if (l.trackHeight > 0) line_.Draw(*trackCache_, {0, 0, l.trackEnd - l.trackStart, l.trackHeight});
  }
  if (l.trackHeight > 0) Blend(*bitmap_, *trackCache_, l.trackStart, (l.height - l.trackHeight) / 2);
  const int32_t top = (l.height - l.knobHeight) / 2, left = knobX - l.knobWidth / 2;
  knob_.Draw(*bitmap_, {left, top, left + l.knobWidth, top + l.knobHeight});
  lastKnobX_ = knobX;
}

void TVideoNavBar::MakeGlyphs() {
  glyphsMade_ = true;
  glyphs_.assign(12, nullptr);
  if (layout_.digitHeight <= 0) return;
  for (size_t i = 0; i < glyphs_.size(); ++i) {
    TOwned<TSimpleVectorText> text = MakeVectorText(u"Arial", {std::u16string(kGlyphTexts[i])});
    if (!text) return;
    const double height = text->Metrics().ascent + text->Metrics().descent;
    if (!(height > 0)) return;
    TTextProducer producer;
    producer.SetText(text.get(), false);
    TOwned<TImage> image = producer.Produce(0xFFFFFF, 0xFFFFFF, false, false, layout_.digitHeight / height);
    if (!image) continue;
    const TRef<TBitmap> produced = image->GetMipLevel(0, TBitmapFormat::Pf32bit);
    if (!produced || producer.LineRects().empty()) continue;
    // Cut to the glyph's advance: the picture's margins would spread the digits apart.
    const TTextRect& box = producer.LineRects().front();
    const int32_t from = std::clamp(static_cast<int32_t>(std::floor(box.left)), 0, produced->Width());
    const int32_t to = std::clamp(static_cast<int32_t>(std::ceil(box.right)), from, produced->Width());
    if (to <= from) continue;
    auto glyph = TRef<TBitmap>::Make(to - from, produced->Height(), TBitmapFormat::Pf32bit);
    // Opaque white, the coverage in the alpha.
    for (int32_t y = 0; y < glyph->Height(); ++y)
      for (int32_t x = 0; x < glyph->Width(); ++x)
        glyph->SetPixel32(x, y, (produced->Pixel32(from + x, y) & 0xFF000000u) | 0x00FFFFFFu);
    glyphs_[i] = std::move(glyph);
  }
}

void TVideoNavBar::PaintDigits() {
  const TVideoBarLayout& l = layout_;
  const double shown = ShownPosition(position_, duration_);
  const int64_t second = shown >= 0 && std::isfinite(shown) ? static_cast<int64_t>(shown / 1000) : 0;
  if (second == lastSecond_ && glyphsMade_) return;
  if (!glyphsMade_) MakeGlyphs();
  const std::u16string text = TimeDigits(std::max(position_, 0.0), duration_, hours_);
  std::vector<const TBitmap*> pictures;
  int64_t width = 0;
  for (size_t i = 0; i < text.size();) {
    int32_t index = GlyphIndex(text[i]);
    size_t length = 1;
    if (index < 0 && text.compare(i, 3, u" / ") == 0) {
      index = 11;
      length = 3;
    }
    i += length;
    if (index < 0 || !glyphs_[static_cast<size_t>(index)]) continue;
    pictures.push_back(glyphs_[static_cast<size_t>(index)].get());
    width += pictures.back()->Width();
  }
  PaintBackground(l.trackEnd, l.soundLeft);
  int64_t x = int64_t{l.trackEnd} + l.trackDigitsSpace +
              (int64_t{l.digitsEnd} - l.trackEnd - l.trackDigitsSpace - width) / 2;
  const int32_t y = (l.height - l.digitHeight) / 2;
  for (const TBitmap* picture : pictures) {
    if (x > l.width) break;
    // Digits wider than their room stop at the sound button.
    Blend(*bitmap_, *picture, static_cast<int32_t>(x), y, l.trackEnd, l.soundLeft);
    x += picture->Width();
  }
  lastSecond_ = second;
  shownDigits_ = text;
}

void TVideoNavBar::PaintVolume() {
  const TVideoBarLayout& l = layout_;
  PaintBackground(l.volumeStart, l.volumeEnd);
  const int32_t lineTop = (l.height - l.trackHeight) / 2;
  line_.Draw(*bitmap_, {l.volumeStart, lineTop, l.volumeEnd, lineTop + l.trackHeight});
  const int32_t knobX = l.VolumeKnobCentre(volume_);
  const int32_t top = (l.height - l.knobHeight) / 2, left = knobX - l.knobWidth / 2;
  knob_.Draw(*bitmap_, {left, top, left + l.knobWidth, top + l.knobHeight});
}

void TVideoNavBar::Repaint(uint32_t parts) {
  if (parts == 0 || collapsed_ || states_.empty()) return;
  const TVideoBarLayout& l = layout_;
  if (!bitmap_) {
    bitmap_ = TRef<TBitmap>::Make(l.width, l.height, TBitmapFormat::Pf32bit);
    backgroundCache_ = TRef<TBitmap>::Make(l.width, l.height, TBitmapFormat::Pf32bit);
    backgroundCache_->Fill32(0);
    background_.Draw(*backgroundCache_, {0, 0, l.width, l.height});
    PaintBackground(0, l.width);
    LoadCallBack();
  }
  const int32_t buttonTop = (l.height - l.buttonHeight) / 2;
  if (parts & kPartPlay) {
    PaintBackground(l.leftSpace, l.leftSpace + l.buttonWidth);
    const bool paused = dragging_ ? savedPaused_ : paused_;
    PaintCell(*bitmap_, paused ? 0 : 1, states_[0], l.leftSpace, buttonTop);
  }
  if (parts & kPartExtra) {
    PaintBackground(l.leftSpace + l.buttonWidth,
                    l.leftSpace + l.buttonWidth * (static_cast<int32_t>(buttons_.size()) + 1));
    for (size_t i = 0; i < buttons_.size(); ++i)
      PaintCell(*bitmap_, 4 + buttons_[i], states_[3 + i],
                l.leftSpace + l.buttonWidth * (static_cast<int32_t>(i) + 1), buttonTop);
  }
  if (parts & kPartTrack) {
    PaintTrack();
    PaintDigits();
  }
  if (parts & kPartSound) {
    PaintBackground(l.soundLeft, l.soundLeft + l.buttonWidth);
    PaintCell(*bitmap_, volume_ == 0 ? 3 : 2, states_[1], l.soundLeft, buttonTop);
  }
  if (parts & kPartVolume) PaintVolume();
  if ((parts & kPartExit) && ExitUsed()) {
    if (!exitBitmap_) exitBitmap_ = TRef<TBitmap>::Make(l.height, l.height, TBitmapFormat::Pf32bit);
    exitBitmap_->Fill32(0);
    PaintCell(*exitBitmap_, 6, states_[2], (l.height - l.buttonWidth) / 2, buttonTop);
  }
  LoadCallBack();
  for (size_t bit = 0; bit < repaints_.size(); ++bit)
    if (parts & (1u << bit)) ++repaints_[bit];
  if (callbacks_.redraw) callbacks_.redraw({0, 0, l.width, l.height});
  if ((parts & kPartExit) && ExitUsed()) callbacks_.exitRedraw({0, 0, l.height, l.height});
}

// ---- mouse ---------------------------------------------------------------------------------------------

uint32_t TVideoNavBar::PartOfState(size_t index) const {
  switch (index) {
  case 0:
    return kPartPlay;
  case 1:
    return kPartSound;
  case 2:
    return kPartExit;
  default:
    return kPartExtra;
  }
}

uint32_t TVideoNavBar::ResetStates(bool clickedOnly) {
  uint32_t parts = 0;
  for (size_t i = 0; i < states_.size(); ++i) {
    if (states_[i] == bs_Normal) continue;
    if (!clickedOnly || states_[i] == bs_Click) parts |= PartOfState(i);
    states_[i] = bs_Normal;
  }
  return parts;
}

bool TVideoNavBar::InExitZone(int32_t x, int32_t y) const {
  const int32_t left = (layout_.height - layout_.buttonWidth) / 2;
  const int32_t top = (layout_.height - layout_.buttonHeight) / 2;
  return x >= left && x <= left + layout_.buttonWidth && y >= top && y <= top + layout_.buttonHeight;
}

void TVideoNavBar::DragTime(int32_t x) {
  position_ = layout_.DraggedTime(x, grabOffset_, duration_);
  if (callbacks_.seekTo) callbacks_.seekTo(position_);
}

uint32_t TVideoNavBar::DragVolume(int32_t x) {
  const double before = volume_;
  volume_ = layout_.DraggedVolume(x, volGrabOffset_, std::clamp(volume_, 0.0, 1.0));
  if (callbacks_.setVolume) callbacks_.setVolume(volume_);
  return kPartVolume | ((before == 0) != (volume_ == 0) ? kPartSound : 0);
}

void TVideoNavBar::Press(bool exitMode, int32_t x, int32_t y) {
  const TVideoBarLayout& l = layout_;
  uint32_t parts = ResetStates(false);
  if (exitMode) {
    if (InExitZone(x, y)) {
      states_[2] = bs_Click;
      if (callbacks_.click) callbacks_.click(kClickExit);
      parts |= kPartExit;
    }
  } else if (l.InTrackBand(y) && l.OnTimeTrack(x)) {
    dragging_ = true;
    savedPaused_ = paused_;
    paused_ = true;
    grabOffset_ = x - l.TimeKnobCentre(position_, duration_);
    if (!savedPaused_) {
      // The show holds while its knob is dragged.
      if (callbacks_.click) callbacks_.click(kClickPlayPause);
      parts |= kPartPlay;
    }
  } else if (l.InTrackBand(y) && l.OnVolumeTrack(x)) {
    volGrabOffset_ = x - l.VolumeKnobCentre(volume_);
    volDragging_ = true;
  } else if (l.InButtonBand(y)) {
    if (l.OnPlayButton(x)) {
      states_[0] = bs_Click;
      paused_ = !paused_;
      if (callbacks_.click) callbacks_.click(kClickPlayPause);
      parts |= kPartPlay;
    } else if (l.OnSoundButton(x)) {
      states_[1] = bs_Click;
      if (volume_ != 0) {
        savedVolume_ = std::clamp(volume_, 0.0, 1.0);
        volume_ = 0;
      } else {
        volume_ = savedVolume_;
      }
      if (callbacks_.setVolume) callbacks_.setVolume(volume_);
      parts |= kPartSound | kPartVolume;
    } else if (const int32_t extra = l.ExtraButtonAt(x);
               extra >= 0 && static_cast<size_t>(extra) < buttons_.size()) {
      states_[3 + static_cast<size_t>(extra)] = bs_Click;
      if (callbacks_.click) callbacks_.click(extra);
      parts |= kPartExtra;
    }
  }
  Repaint(parts);
}

void TVideoNavBar::Move(bool exitMode, int32_t x, int32_t y) {
  const TVideoBarLayout& l = layout_;
  if (std::ranges::find(states_, bs_Click) != states_.end()) return;
  uint32_t parts = ResetStates(false);
  if (!exitMode && dragging_ && l.OnTimeTrack(x)) {
    DragTime(x);
    parts |= kPartTrack;
  }
  if (!exitMode && volDragging_ && l.OnVolumeTrack(x)) parts |= DragVolume(x);
  if (exitMode) {
    if (InExitZone(x, y)) {
      states_[2] = bs_Hover;
      parts |= kPartExit;
    }
  } else if (l.InButtonBand(y) && !dragging_ && !volDragging_) {
    if (l.OnPlayButton(x)) {
      states_[0] = bs_Hover;
      parts |= kPartPlay;
    } else if (l.OnSoundButton(x)) {
      states_[1] = bs_Hover;
      parts |= kPartSound;
    } else if (const int32_t extra = l.ExtraButtonAt(x);
               extra >= 0 && static_cast<size_t>(extra) < buttons_.size()) {
      states_[3 + static_cast<size_t>(extra)] = bs_Hover;
      parts |= kPartExtra;
    }
  }
  Repaint(parts);
}

void TVideoNavBar::Release(bool exitMode, int32_t x, int32_t y) {
  const TVideoBarLayout& l = layout_;
  uint32_t parts = ResetStates(true);
  if (dragging_) {
    paused_ = savedPaused_;
    // A show that played before the drag plays on.
    if (!savedPaused_ && callbacks_.click) callbacks_.click(kClickPlayPause);
    parts |= kPartPlay;
  }
  if (!exitMode) {
    if (l.OnTimeTrack(x) && (dragging_ || l.InTrackBand(y))) {
      // A release that ends no drag of the knob puts its centre under the pointer.
      if (!dragging_) grabOffset_ = kGrabOutside;
      DragTime(x);
      parts |= kPartTrack;
    }
    if (l.OnVolumeTrack(x) && (volDragging_ || l.InTrackBand(y))) {
      if (!volDragging_) volGrabOffset_ = kGrabOutside;
      parts |= DragVolume(x);
    }
  }
  dragging_ = volDragging_ = false;
  Repaint(parts);
}

void TVideoNavBar::MouseEvent(int32_t button, uint8_t /*shift*/, uint8_t kind, int32_t y, int32_t x) {
  if (collapsed_ || !bitmap_) return;
  const bool exitMode = ExitUsed() && callbacks_.exitZone();
  const bool over = exitMode ? x >= 0 && y >= 0 && x < layout_.height && y < layout_.height
                             : x >= 0 && y >= 0 && x < layout_.width && y < layout_.height;
  switch (kind) {
  case kBarPress:
    if (button == kMouseButtonLeft) Press(exitMode, x, y);
    break;
  case kBarMove:
    Move(exitMode, x, y);
    break;
  case kBarRelease:
    if (button == kMouseButtonLeft) Release(exitMode, x, y);
    break;
  default:
    break;
  }
  inside_ = over || dragging_ || volDragging_;
}

// ---- time and volume -----------------------------------------------------------------------------------

void TVideoNavBar::SetTime(double ms) {
  if (collapsed_) return;
  const bool wasPaused = paused_;
  paused_ = !IsPlaying();
  if ((ms == position_ && paused_ == wasPaused) || dragging_) return;
  uint32_t parts = paused_ != wasPaused ? kPartPlay : 0;
  if (ms != position_) {
    position_ = ms;
    const double shown = ShownPosition(position_, duration_);
    const int64_t second = shown >= 0 && std::isfinite(shown) ? static_cast<int64_t>(shown / 1000) : 0;
    if (layout_.TimeKnobCentre(position_, duration_) != lastKnobX_ || second != lastSecond_)
      parts |= kPartTrack;
  }
  Repaint(parts);
}

void TVideoNavBar::SetVolume(float volume) {
  if (collapsed_ || volume == volume_ || volDragging_) return;
  const double before = volume_;
  const int32_t knobBefore = layout_.VolumeKnobCentre(before);
  volume_ = volume;
  uint32_t parts = (before == 0) != (volume_ == 0) ? kPartSound : 0;
  if (layout_.VolumeKnobCentre(volume_) != knobBefore) parts |= kPartVolume;
  Repaint(parts);
}

} // namespace kiv

#include "VideoBarLayout.h"

#include "NavigationBar.h"
#include "RoundHalfEven.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace kiv {
namespace {

constexpr int32_t kMaxCoordinate = 1 << 24;

int32_t Clamp32(int64_t value) {
  return static_cast<int32_t>(std::clamp<int64_t>(value, -kMaxCoordinate, kMaxCoordinate));
}

int32_t SkinSize(int32_t value) {
  return std::clamp(value, 0, kMaxSkinPartSide);
}

// Exactly two integers, else 0, 0.
void ReadPair(const TIniStorage& skin, std::u16string_view key, int32_t& a, int32_t& b) {
  a = b = 0;
  const TIniSection* section = skin.FindSection(u"Pixel positions");
  if (!section) return;
  int32_t values[2] = {};
  if (section->ReadIntegers(key, values) != 2) return;
  a = SkinSize(values[0]);
  b = SkinSize(values[1]);
}

} // namespace

TVideoBarSkin TVideoBarSkin::Read(const TIniStorage& skin) {
  TVideoBarSkin s;
  auto integer = [&skin](std::u16string_view section, std::u16string_view key) {
    return SkinSize(skin.ReadInteger(section, key, 0));
  };
  s.bgLeft = integer(u"Common", u"BgLeft");
  s.bgRight = integer(u"Common", u"BgRight");
  s.background = skin.ReadString(u"Common", u"flnm_back", u"");
  ReadPair(skin, u"BarSize", s.barWidth, s.barHeight);
  s.trackHeight = integer(u"Pixel positions", u"TrackHeight");
  ReadPair(skin, u"BtnSize", s.buttonWidth, s.buttonHeight);
  ReadPair(skin, u"DigitSize", s.digitWidth, s.digitHeight);
  s.volumeLength = integer(u"Pixel positions", u"VolumeControlLength");
  s.leftSpace = integer(u"Pixel positions", u"LeftSpace");
  s.buttonsTrackSpace = integer(u"Pixel positions", u"ButtonsTrackSpace");
  s.trackDigitsSpace = integer(u"Pixel positions", u"TrackDigitsSpace");
  s.digitsSoundBtnSpace = integer(u"Pixel positions", u"DigitsSoundBtnSpace");
  s.soundBtnTrackSpace = integer(u"Pixel positions", u"SoundBtnTrackSpace");
  s.rightSpace = integer(u"Pixel positions", u"RightSpace");
  s.trackLineLeft = integer(u"Trackbar", u"TrackLineLeft");
  s.trackLineRight = integer(u"Trackbar", u"TrackLineRight");
  s.line = skin.ReadString(u"Trackbar", u"flnm_Line", u"");
  s.knob = skin.ReadString(u"Trackbar", u"flnm_Polzun", u"");
  s.strips = {skin.ReadString(u"Buttons", u"flnm_Normal", u""),
              skin.ReadString(u"Buttons", u"flnm_Hover", u""),
              skin.ReadString(u"Buttons", u"flnm_Click", u"")};
  return s;
}

TVideoBarLayout TVideoBarLayout::Make(const TVideoBarSkin& skin, int32_t knobWidth, int32_t knobHeight,
                                      double scale, int32_t width, int32_t extraButtons, bool hours) {
  if (!std::isfinite(scale) || scale < 0) scale = 0;
  scale = std::min(scale, 64.0);
  auto scaled = [scale](int32_t value, int32_t limit) {
    return static_cast<int32_t>(std::clamp<double>(RoundEven(value * scale), 0, limit));
  };
  TVideoBarLayout l;
  l.width = std::clamp(width, 0, kMaxNavBarSide);
  l.height = scaled(skin.barHeight, kMaxVideoBarHeight);
  l.trackHeight = scaled(skin.trackHeight, kMaxVideoBarHeight);
  l.volumeLength = scaled(skin.volumeLength, kMaxNavBarSide);
  l.buttonWidth = scaled(skin.buttonWidth, kMaxNavBarSide);
  l.buttonHeight = scaled(skin.buttonHeight, kMaxVideoBarHeight);
  l.digitWidth = scaled(skin.digitWidth, kMaxNavBarSide);
  l.digitHeight = scaled(skin.digitHeight, kMaxVideoBarHeight);
  l.knobWidth = scaled(SkinSize(knobWidth), kMaxNavBarSide);
  l.knobHeight = scaled(SkinSize(knobHeight), kMaxVideoBarHeight);
  l.extraButtons = std::clamp(extraButtons, 0, kMaxNavButtons);
  l.leftSpace = skin.leftSpace;
  l.buttonsTrackSpace = skin.buttonsTrackSpace;
  l.trackDigitsSpace = skin.trackDigitsSpace;

  const int64_t bw = l.buttonWidth;
  l.trackStart = Clamp32(int64_t{skin.leftSpace} + bw * (l.extraButtons + 1) + skin.buttonsTrackSpace);
  l.soundLeft = Clamp32(int64_t{l.width} - skin.rightSpace - l.volumeLength - skin.soundBtnTrackSpace - bw);
  l.digitsEnd = Clamp32(int64_t{l.soundLeft} - skin.digitsSoundBtnSpace);
  l.trackEnd = Clamp32(int64_t{l.digitsEnd} - int64_t{l.digitWidth} * (hours ? 18 : 12));
  l.volumeStart = Clamp32(int64_t{l.width} - skin.rightSpace - l.volumeLength);
  l.volumeEnd = Clamp32(int64_t{l.width} - skin.rightSpace);
  return l;
}

int32_t TVideoBarLayout::ExtraButtonAt(int32_t x) const noexcept {
  if (buttonWidth <= 0 || x < leftSpace + buttonWidth || x >= trackStart - buttonsTrackSpace) return -1;
  const int32_t slot = (x - leftSpace) / buttonWidth;
  return slot >= 1 && slot <= extraButtons ? slot - 1 : -1;
}

double ShownPosition(double position, double duration) noexcept {
  if (!(duration > 0) || !(position > duration) || !std::isfinite(position)) return position;
  // As often as it exceeds the length, arithmetically: a show that repeated for days takes no longer.
  double p = position - duration * std::ceil(position / duration - 1);
  while (p > duration)
    p -= duration;
  return std::max(p, 0.0);
}

int32_t TVideoBarLayout::TimeKnobCentre(double position, double duration) const noexcept {
  const int32_t first = trackStart + knobWidth / 2;
  if (!(duration > 0) || !(position >= 0) || !std::isfinite(position) || !std::isfinite(duration))
    return first;
  const double p = ShownPosition(position, duration);
  return first + static_cast<int32_t>(std::trunc(static_cast<double>(TimeTravel()) * p / duration));
}

int32_t TVideoBarLayout::VolumeKnobCentre(double volume) const noexcept {
  const int32_t first = volumeStart + knobWidth / 2;
  if (!(volume >= 0 && volume <= 1)) return first;
  return first + static_cast<int32_t>(Round(static_cast<double>(VolumeTravel()) * volume));
}

namespace {

// The knob's new centre on [lo, hi) for the pointer at x: a press outside the knob lets the centre
// follow the pointer, a press on it keeps the offset.
int64_t DraggedCentre(int32_t x, int32_t grabOffset, int32_t lo, int32_t hi, int32_t knobWidth) {
  const int32_t half = knobWidth / 2;
  const bool outside = grabOffset < -half || grabOffset > half;
  const int64_t v = outside ? int64_t{x} : int64_t{x} - grabOffset;
  return std::max<int64_t>(std::min<int64_t>(v, int64_t{hi} - half), int64_t{lo} + half);
}

} // namespace

double TVideoBarLayout::DraggedTime(int32_t x, int32_t grabOffset, double duration) const noexcept {
  const int32_t travel = TimeTravel();
  if (travel <= 0 || !std::isfinite(duration)) return 0;
  const int64_t m = DraggedCentre(x, grabOffset, trackStart, trackEnd, knobWidth);
  return duration * static_cast<double>(m - trackStart - knobWidth / 2) / travel;
}

double TVideoBarLayout::DraggedVolume(int32_t x, int32_t grabOffset, double current) const noexcept {
  const int32_t travel = VolumeTravel();
  if (travel <= 0) return current; // a track no longer than its knob has nothing to drag
  const int64_t m = DraggedCentre(x, grabOffset, volumeStart, volumeEnd, knobWidth);
  return std::clamp(static_cast<double>(m - volumeStart - knobWidth / 2) / travel, 0.0, 1.0);
}

std::u16string TimeDigits(double position, double duration, bool hours) {
  auto text = [hours](double ms) {
    const double clamped = std::isfinite(ms) ? std::clamp(ms, 0.0, 1e15) : 0.0;
    const int64_t seconds = static_cast<int64_t>(std::trunc(clamped / 1000));
    char buffer[32];
    if (hours)
      std::snprintf(buffer, sizeof buffer, "%02d:%02d:%02d", static_cast<int>(seconds / 3600 % 100),
                    static_cast<int>(seconds / 60 % 60), static_cast<int>(seconds % 60));
    else
      std::snprintf(buffer, sizeof buffer, "%02d:%02d", static_cast<int>(seconds / 60 % 60),
                    static_cast<int>(seconds % 60));
    return std::u16string(buffer, buffer + std::char_traits<char>::length(buffer));
  };
  return text(ShownPosition(position, duration)) + u" / " + text(duration);
}

} // namespace kiv

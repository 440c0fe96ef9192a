#pragma once
// Where the parts of the video-style bar lie: the skin's sizes, the scale they are drawn at and the
// width of the placement area give the play/pause button, the extra buttons, the time track, the time
// digits, the sound button and the volume track from left to right; and the knobs' centres for a show
// time or a volume, and back from a dragged knob to a time or a volume.

#include "IniDocument.h"

#include <array>
#include <cstdint>
#include <string>

namespace kiv {

// Limits on sizes from the show's files: a bar is never taller than this, nor wider than
// kMaxNavBarSide.
inline constexpr int32_t kMaxVideoBarHeight = 1024;

// The skin's keys (sizes in skin pixels).
struct TVideoBarSkin {
  int32_t bgLeft = 0, bgRight = 0;
  std::u16string background, line, knob;
  std::array<std::u16string, 3> strips; // per button state: normal, hover, click
  int32_t barWidth = 0, barHeight = 0;
  int32_t trackHeight = 0;
  int32_t buttonWidth = 0, buttonHeight = 0;
  int32_t digitWidth = 0, digitHeight = 0;
  int32_t volumeLength = 0;
  // Gaps, in bar pixels whatever the scale.
  int32_t leftSpace = 0, buttonsTrackSpace = 0, trackDigitsSpace = 0, digitsSoundBtnSpace = 0,
          soundBtnTrackSpace = 0, rightSpace = 0;
  int32_t trackLineLeft = 0, trackLineRight = 0;

  // Values that do not parse take their defaults; sizes and gaps are kept within 0 .. 4096.
  static TVideoBarSkin Read(const TIniStorage& skin);
};

struct TVideoBarLayout {
  int32_t width = 0, height = 0;             // W, H
  int32_t trackHeight = 0, volumeLength = 0; // TH, VL
  int32_t buttonWidth = 0, buttonHeight = 0; // BW, BH
  int32_t digitWidth = 0, digitHeight = 0;   // DW, DH
  int32_t knobWidth = 0, knobHeight = 0;     // KW, KH
  int32_t extraButtons = 0;                  // n
  int32_t leftSpace = 0, buttonsTrackSpace = 0, trackDigitsSpace = 0;
  int32_t trackStart = 0, trackEnd = 0;
  int32_t digitsEnd = 0, soundLeft = 0;
  int32_t volumeStart = 0, volumeEnd = 0;

  // knob: the knob picture's size in skin pixels; hours: the digits carry hours.
  static TVideoBarLayout Make(const TVideoBarSkin& skin, int32_t knobWidth, int32_t knobHeight, double scale,
                              int32_t width, int32_t extraButtons, bool hours);

  // The time track is too short for its knob.
  bool Collapsed() const noexcept { return int64_t{knobWidth} + trackStart >= trackEnd; }
  // The travel of the knobs' centres.
  int32_t TimeTravel() const noexcept { return trackEnd - trackStart - knobWidth; }
  int32_t VolumeTravel() const noexcept { return volumeEnd - volumeStart - knobWidth; }

  bool InTrackBand(int32_t y) const noexcept {
    return y >= (height - trackHeight) / 2 && y <= (height + trackHeight) / 2;
  }
  bool InButtonBand(int32_t y) const noexcept {
    return y >= (height - buttonHeight) / 2 && y <= (height + buttonHeight) / 2;
  }
  bool OnTimeTrack(int32_t x) const noexcept { return x >= trackStart && x <= trackEnd; }
  bool OnVolumeTrack(int32_t x) const noexcept { return x >= volumeStart && x <= volumeEnd; }
  bool OnPlayButton(int32_t x) const noexcept { return x >= leftSpace && x < leftSpace + buttonWidth; }
  bool OnSoundButton(int32_t x) const noexcept { return x >= soundLeft && x < soundLeft + buttonWidth; }
  // The extra button under x (0-based), -1 for none.
  int32_t ExtraButtonAt(int32_t x) const noexcept;

  int32_t TimeKnobCentre(double position, double duration) const noexcept;
  int32_t VolumeKnobCentre(double volume) const noexcept;
  // The show time for the time knob dragged to x, grabbed grabOffset pixels right of its centre.
  double DraggedTime(int32_t x, int32_t grabOffset, double duration) const noexcept;
  // The volume for the volume knob dragged to x; `current` when the track leaves the knob no travel.
  double DraggedVolume(int32_t x, int32_t grabOffset, double current) const noexcept;
};

// The position shown for a show time: reduced by the show length while it exceeds it (a repeating
// show); unreduced when the length is 0.
double ShownPosition(double position, double duration) noexcept;
// "mm:ss / mm:ss", or "hh:mm:ss / hh:mm:ss" with hours (hours modulo 100), from whole seconds.
std::u16string TimeDigits(double position, double duration, bool hours);

} // namespace kiv

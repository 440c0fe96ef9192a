#pragma once
// The video-style skin of the bar and panel tests: a 400 x 20 bar (at scale 1) whose parts have colours
// of their own, so that painted parts can be told apart pixel by pixel.

#include "OverlayTestSupport.h"

#include <string>

namespace kiv::testing_support {

// Strip cells are 16 x 16; a cell's colour tells its state (green) and its index (red).
inline uint32_t StripColor(int state, int cell) {
  return 0xFF000000u | uint32_t(40 + 30 * cell) << 16 | uint32_t(60 + 80 * state) << 8 | 0x10u;
}
inline constexpr uint32_t kVideoBack = 0xFF202428, kVideoLine = 0xFF8090A0, kVideoKnob = 0xFFF0E000;

// Gaps: left 4, buttons-track 6, track-digits 4, digits-sound 4, sound-track 4, right 4. Knob 8 x 12.
// At width 400 and scale 1 without extra buttons: play/pause at 4, track 26 .. 260, digits up to 332,
// sound button at 336, volume track 356 .. 396.
inline const char* kVideoSkin = R"([Common]
VideoStyle=1
BgLeft=2
BgRight=2
flnm_back=back.bmp
[Pixel positions]
BarSize=400,20
TrackHeight=4
BtnSize=16,16
DigitSize=6,10
VolumeControlLength=40
LeftSpace=4
ButtonsTrackSpace=6
TrackDigitsSpace=4
DigitsSoundBtnSpace=4
SoundBtnTrackSpace=4
RightSpace=4
[Trackbar]
TrackLineLeft=1
TrackLineRight=1
flnm_Line=line.bmp
flnm_Polzun=knob.bmp
[Buttons]
flnm_Normal=normal.bmp
flnm_Hover=hover.bmp
flnm_Click=click.bmp
)";

inline void AddVideoSkin(TMemoryFiles& files, const std::string& skin = kVideoSkin) {
  files.documents[u"nav\\video.ini"] = skin;
  files.pictures[u"nav\\back.bmp"] = Solid(10, 20, kVideoBack);
  files.pictures[u"nav\\line.bmp"] = Solid(6, 4, kVideoLine);
  files.pictures[u"nav\\knob.bmp"] = Solid(8, 12, kVideoKnob);
  const char16_t* strips[3] = {u"nav\\normal.bmp", u"nav\\hover.bmp", u"nav\\click.bmp"};
  for (int state = 0; state < 3; ++state)
    files.pictures[strips[state]] =
        Picture(7 * 16, 16, [state](int x, int) { return StripColor(state, x / 16); });
}

} // namespace kiv::testing_support

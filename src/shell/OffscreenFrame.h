#pragma once
// Frames of an opened show drawn offscreen: the slides visible at a show time are built through the slide
// producer, brought to that time and drawn through the slide drawer (during a transition both slides,
// through the transition's filter) on a headless GL device with the show's logo and navigation panel over
// them (the panel shown, as when the mouse has just moved), then read back. One renderer draws many frames:
// device, drawer, producer and the built slides are kept between calls, so consecutive times cost only the
// drawing. `kivviewer -render` and the show benchmark use it.

#include "DeviceLayer.h"

#include <memory>
#include <optional>
#include <string>

namespace kiv {

class TKivSource;

// The output size of a frame when none is asked for: the show's design size (opt_scr_width x
// opt_scr_height), or 800 x 600 when the show has none.
TSize DesignFrameSize(const TKivSource& source);

class TFrameRenderer {
public:
  // nullptr with the reason when there is no headless GL. The source must outlive the renderer; it is set
  // to choose its random transitions deterministically (seed 0), so that a frame is the same every time.
  // Renderers share the process's engine; made on a thread other than the main thread's owner, the
  // renderer waits for the owner to create its device (nullptr when that does not happen within seconds).
  static std::unique_ptr<TFrameRenderer> Create(TKivSource& source, TSize size, std::string* whyNot);
  ~TFrameRenderer();
  TFrameRenderer(const TFrameRenderer&) = delete;
  TFrameRenderer& operator=(const TFrameRenderer&) = delete;

  // The frame at a show time (ms): a 32-bit picture (0xAARRGGBB, rows top down) of the output size,
  // black outside the slide frame. Errors of the show (no slides, a bad design size) are exceptions;
  // none when the drawer could not draw or read back.
  std::optional<TDevBitmap> Render(double time);

  TSize Size() const noexcept { return size_; }
  // Where the slides lie in the output.
  TRect FrameRect() const;
  // The positions drawn by the last Render: the first and last visible slide and the one drawn.
  struct TDrawn {
    int32_t first = -1, last = -1, drawn = -1;
  };
  const TDrawn& LastDrawn() const noexcept { return lastDrawn_; }

private:
  struct TState;
  TFrameRenderer(TKivSource& source, TSize size);

  TSize size_;
  TDrawn lastDrawn_;
  std::unique_ptr<TState> state_;
};

// Writes a frame as an 8-bit RGB PNG; false when the file cannot be written.
bool WriteFramePng(const std::string& path, const TDevBitmap& frame);

} // namespace kiv

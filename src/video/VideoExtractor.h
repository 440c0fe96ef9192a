#pragma once
// TKivVideoExtractor: the frames of one clip for the slide objects that show it. It owns a frame source,
// keeps a small pool of images the renderer supplies (two per clip), and runs a worker that decodes the
// frame most recently requested into the pool slot whose content is least useful. The drawing thread
// takes the image nearest to the frame it wants, shows it and gives it back; taking asks the worker for
// the next frame in the meantime, so playback costs one decode per shown frame and the drawing thread
// never decodes. Times here are clip milliseconds.

#include "ActiveMonitor.h"
#include "DecoderFrameSource.h"
#include "YuvFrame.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

namespace kiv {

inline constexpr int64_t kNoVideoFrame = -2;
// Given to the slot of an image whose content was lost: it matches no request.
inline constexpr int64_t kLostVideoFrame = -2147483647;

struct TExtractorSlot {
  TRef<TYUVImage> image;
  int64_t asked = kNoVideoFrame; // the frame the user asked for when it took the slot
  int64_t frame = kNoVideoFrame; // the frame its picture holds
};

struct TTakenFrame {
  TExtractorSlot slot;
  bool exact = false; // the picture is the frame asked for
};

struct TFrameWindowMs {
  double from = 0, to = 0;
};

class TKivVideoExtractor final : public TActiveMonitor {
public:
  // The rate assumed for a source that does not know its own (as most players do).
  static constexpr double kDefaultFrameRate = 25;

  // Starts the worker. Without a source: "Assertion failure".
  TKivVideoExtractor(TWorkerHost& host, std::unique_ptr<TFrameSource> source);
  // The source is borrowed and must outlive the extractor.
  TKivVideoExtractor(TWorkerHost& host, TFrameSource* source);
  ~TKivVideoExtractor() override;

  // A pool image: the extractor hears through its release callback when it loses its content.
  void AddImage(TRef<TYUVImage> image);

  int64_t FrameAt(double ms) const;
  TFrameWindowMs FrameWindow(int64_t n) const;

  // Asks for the frame at ms unless a slot holds it. With wait, returns once a slot holds it, or when the
  // worker cannot deliver (it ended, or every image is taken out).
  void Request(bool wait, double ms);
  // The slot whose frame is nearest to the one at ms, out of the pool; none when the pool is empty. Asks
  // for the frame the next display frame (1000 / displayRate ms later) will want.
  std::optional<TTakenFrame> Take(double displayRate, double ms);
  // Puts a taken slot back.
  void Return(TExtractorSlot slot);
  // Ends the worker and lets go of every pooled image. The extractor answers nothing useful after it.
  void Stop();

  // Frames past the end: modulo the count when repeating, else the last.
  void SetRepeat(bool repeat) noexcept { repeat_.store(repeat, std::memory_order_release); }
  bool Repeat() const noexcept { return repeat_.load(std::memory_order_acquire); }
  double FrameRate() const noexcept { return rate_; }
  int64_t FrameCount() const noexcept { return count_; }
  TFrameSource& Source() const noexcept { return *source_; }

  // State for tests and logs.
  int64_t Requested();
  std::vector<int64_t> PoolFrames();
  int64_t DecodeCount();

private:
  void Start();
  // One round of the worker.
  void Decode();
  void ImageLost(TYUVImage& image);
  // A frame number past the end as FrameAt treats it.
  int64_t Normalise(int64_t n) const;
  bool Holds(int64_t n) const;

  std::unique_ptr<TFrameSource> owned_;
  TFrameSource* source_;
  double rate_ = kDefaultFrameRate; // read-only after creation
  int64_t count_ = 0;               // read-only after creation; 0 = unknown
  std::atomic<bool> repeat_{false};
  std::vector<TExtractorSlot> pool_;    // under the monitor
  std::vector<TRef<TYUVImage>> images_; // under the monitor: every image added, for their callbacks
  int64_t requested_ = kNoVideoFrame;   // under the monitor
  int64_t decodes_ = 0;                 // under the monitor
  bool stopped_ = false;                // under the monitor
};

} // namespace kiv

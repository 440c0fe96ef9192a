#pragma once
// Writes an exported show: picture frames and the show's sound (stereo, 16 bits, 44100 Hz) into a
// container through libavformat and libavcodec. The container comes from the output name's extension:
// ".mp4" H.264 + AAC, ".webm" VP9 + Opus, ".mkv" FFV1 in RGB + PCM (lossless), ".wav" the sound alone.

#include "DeviceLayer.h"

#include <cstdint>
#include <memory>
#include <span>
#include <string>

namespace kiv {

enum class TExportContainer { Mp4, WebM, Matroska, Wav };

// The container of an output name by its extension (any letter case); false for others.
bool ExportContainerOf(const std::string& path, TExportContainer& container);
// ".mp4", ".webm", ".mkv", ".wav".
const char* ExportExtension(TExportContainer container);

class TMediaEncoder {
public:
  static constexpr int kSoundRate = 44100;

  // Opens the file (written under the name given, in the container given). Video only for containers
  // that carry pictures: size and frames per second. nullptr with the reason when anything fails.
  static std::unique_ptr<TMediaEncoder> Open(const std::string& path, TExportContainer container, TSize size,
                                             int fps, std::string& whyNot);
  ~TMediaEncoder();
  TMediaEncoder(const TMediaEncoder&) = delete;
  TMediaEncoder& operator=(const TMediaEncoder&) = delete;

  bool HasVideo() const noexcept;
  // The next frame (32-bit, rows top down, of the size given at opening).
  bool AddFrame(const TDevBitmap& frame, std::string& whyNot);
  // Interleaved stereo samples following the ones before.
  bool AddSound(std::span<const int16_t> samples, std::string& whyNot);
  // Flushes the encoders and writes the container's end. The file is complete only after this.
  bool Finish(std::string& whyNot);

  int64_t FramesWritten() const noexcept;
  int64_t SoundFramesWritten() const noexcept;

private:
  struct TState;
  TMediaEncoder();
  std::unique_ptr<TState> state_;
};

} // namespace kiv

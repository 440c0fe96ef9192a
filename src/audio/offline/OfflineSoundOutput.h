#pragma once
// The offline sound output: no thread, no device. Time moves when the owner advances it by a number of
// frames (directly, or 44.1 frames per millisecond from a virtual host's tick), and the mix of those
// frames can be kept and written to a WAV file. "Played" means "mixed so far", so sound and anything
// timed by the same clock never drift apart.

#include "SoundOutput.h"
#include "VirtualHost.h"

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace kiv {

class TOfflineSoundOutput {
public:
  struct TOptions {
    int periodFrames = 441; // frames per Mix call at most; the write cursors run this far ahead
    bool record = false;    // keep the mix for Recorded and WriteWavFile
  };

  TOfflineSoundOutput() : TOfflineSoundOutput(TOptions{}) {}
  explicit TOfflineSoundOutput(TOptions options);
  ~TOfflineSoundOutput(); // leaves the virtual host; devices opened on it must be gone
  TOfflineSoundOutput(const TOfflineSoundOutput&) = delete;
  TOfflineSoundOutput& operator=(const TOfflineSoundOutput&) = delete;

  // The backend table entry "offline": connects the opening mixer to this output. One mixer at a time;
  // this output outlives the devices opened on it.
  TSoundOutputOpener Backend();
  // A factory with this backend alone.
  TSoundOutputFactory Factory();

  // Mixes the next frames (silence when no mixer is connected).
  void AdvanceFrames(int64_t frames);
  // 44.1 frames per millisecond at 44100 Hz, the fractions carried exactly from call to call.
  void AdvanceMs(int64_t ms);
  // Advances one millisecond at every tick of the host, before its workers step.
  void AttachTo(TVirtualHost& host);
  void Detach();

  int OutputRate() const noexcept { return rate_; }
  int64_t FramesAdvanced() const;
  // Interleaved stereo samples mixed since creation (or the last TakeRecorded), when recording.
  std::vector<int16_t> Recorded() const;
  std::vector<int16_t> TakeRecorded();
  // The recorded mix as a PCM WAV file (stereo, 16 bits, the output rate). False when it cannot be written.
  bool WriteWavFile(const std::string& path) const;

private:
  class TConnection;
  void Connect(TSoundMixer* mixer);

  const TOptions options_;
  const int rate_ = TSoundMixer::kDefaultRate;
  mutable std::mutex mutex_;
  TSoundMixer* mixer_ = nullptr;  // guarded by mutex_; set while a device is open on this output
  int64_t frames_ = 0;            // guarded by mutex_
  int64_t milliseconds_ = 0;      // guarded by mutex_; AdvanceMs total, for the exact carry
  std::vector<int16_t> recorded_; // guarded by mutex_
  std::vector<int16_t> scratch_;  // guarded by mutex_
  TVirtualHost* host_ = nullptr;  // the owner's thread
  int hookId_ = 0;                // the owner's thread
};

} // namespace kiv

#pragma once
// A voice's output buffer over the software mixer: a looping sound buffer of two seconds of its format,
// kept filled ahead by a refill worker of its own. The worker's first run fills three quarters of the
// buffer and starts playing; then every 100 ms (at once after RewriteQueued) it rewrites queued sound when
// asked, writes up to half a second behind the queued sound, never past the play position, and notes the
// play position for GetPlayedTime.

#include "SoundMixer.h"
#include "WaveOutDevice.h"
#include "WorkerThread.h"

#include <atomic>
#include <memory>
#include <mutex>

namespace kiv {

class TMixerWaveOutBuffer final : public TWaveOutBuffer {
public:
  static constexpr int64_t kRefillPeriodMs = 100;
  static constexpr int kRewriteMarginMs = 25;

  // nullptr when the mixer cannot play the format (logged).
  static TOwned<TMixerWaveOutBuffer> Create(std::shared_ptr<TSoundMixer> mixer, TWorkerHost& host,
                                            const TWaveFormat& format);
  ~TMixerWaveOutBuffer() override;

  float GetVolume() override;
  void SetVolume(float volume) override;
  void Start() override;
  void RewriteQueued() override;
  uint32_t GetInitialFillSize() override;
  uint32_t GetQueuedBytes() override;
  double GetPlayedTime() override;

  // Two seconds of the format in whole frames.
  uint32_t BufferSize() const noexcept { return bufferSize_; }
  // Half a second in whole frames: the most one refill writes.
  uint32_t MaxRefill() const noexcept { return maxRefill_; }
  // 25 ms in whole frames: how far past the write cursor a rewrite begins.
  uint32_t RewriteMargin() const noexcept { return rewriteMargin_; }
  // Where the next refill writes.
  uint32_t WritePosition();
  TSoundBuffer& SoundBuffer() noexcept { return *soundBuffer_; }

protected:
  void Dispose() override;

private:
  class TRefillWorker;
  TMixerWaveOutBuffer(std::unique_ptr<TSoundBuffer> soundBuffer, TWorkerHost& host,
                      const TWaveFormat& format);

  // The refill worker's thread.
  void FirstFill(TKivThread& worker);
  void RefillStep(TKivThread& worker);
  void Rewrite();
  void Refill();
  void UpdateClock(uint32_t playPosition);
  bool TryPlay();
  bool ReadPositions(uint32_t& play, uint32_t& write);
  void RunCallback(const TWaveOutCallback& callback, const char* name, uint8_t* data, uint32_t bytes);
  void Silence();
  void Shutdown();

  // Distance going forward from a to b in the ring.
  uint32_t Forward(uint32_t a, uint32_t b) const { return b >= a ? b - a : bufferSize_ - a + b; }

  TWorkerHost& host_;
  const std::unique_ptr<TSoundBuffer> soundBuffer_;
  const TWaveFormat format_;
  const uint32_t bufferSize_;
  const uint32_t maxRefill_;
  const uint32_t rewriteMargin_;

  std::mutex refillLock_;                     // held through every fill and its callbacks
  uint32_t writePosition_ = 0;                // guarded by refillLock_
  bool playPending_ = false;                  // guarded by refillLock_: Play answered Lost; retried each step
  std::atomic<uint32_t> blockEnd_{0};         // set by the refill worker before each callback
  std::atomic<bool> rewriteRequested_{false}; // set by RewriteQueued (any thread), taken by the refill worker
  std::atomic<bool> disabled_{false};         // set by Shutdown or a raising callback, under refillLock_
  std::atomic<float> volume_{-1.0f};          // set by SetVolume (caller's thread); -1 until then

  std::mutex clockLock_;
  double wrapTimeMs_ = 0;     // guarded by clockLock_
  int64_t lastPosition_ = -1; // guarded by clockLock_; bytes, -1 before the first refill
  int64_t lastPollMs_ = 0;    // guarded by clockLock_

  std::mutex workerLock_;        // Start against Shutdown
  TOwned<TRefillWorker> worker_; // guarded by workerLock_
  bool shutDown_ = false;        // guarded by workerLock_
};

} // namespace kiv

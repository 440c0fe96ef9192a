#pragma once
// The audio clock over the software mixer: a silent looping buffer of two seconds of the standard format
// whose play position a clock worker reads, and a smooth millisecond clock that follows it. Every 10 ms the
// smooth clock moves at most 1 ms toward the position's time, so it never jumps and never runs backwards;
// every 100 ms the position is read again. After Start the clock reads 0 until the output has begun to
// play, then continues from the time saved by Stop or set by SetTime.

#include "SoundMixer.h"
#include "WaveOutDevice.h"
#include "WorkerThread.h"

#include <atomic>
#include <memory>
#include <mutex>

namespace kiv {

class TMixerTimerChannel final : public TTimerChannel {
public:
  static constexpr int64_t kUpdatePeriodMs = 10;
  static constexpr int kPositionReadEvery = 10; // updates

  // Raises "SoundBuffer = nil" (logged) when the silent buffer cannot be made, as without a mixer.
  TMixerTimerChannel(std::shared_ptr<TSoundMixer> mixer, TWorkerHost& host);
  ~TMixerTimerChannel() override;

  double GetTime() override;
  void SetTime(double ms) override;
  bool IsStarted() override;
  void Start() override;
  void Stop() override;

  // The time of the output's play position: what the smooth clock steers to, plus the latency it had
  // at start. Stop saves it.
  double DeviceTime();
  TSoundBuffer& SoundBuffer() noexcept { return *buffer_; }

protected:
  void Dispose() override;

private:
  class TClockWorker;
  void Update(); // the clock worker, and Start
  double DeviceTimeLocked(int64_t now) const;
  bool ReadPlayPosition(uint32_t& play);
  void StopWorker();
  int64_t Now() const { return host_.Clock().NowMs(); }

  TWorkerHost& host_;
  std::unique_ptr<TSoundBuffer> buffer_; // set at construction
  double bytesPerMs_ = 0;                // set at construction

  std::mutex lock_;                  // the update against Start, Stop and SetTime
  int64_t lastPosition_ = -1;        // guarded by lock_; bytes, -1 = none
  int64_t lastReadMs_ = 0;           // guarded by lock_
  double wrapTimeMs_ = 0;            // guarded by lock_
  int polls_ = 0;                    // guarded by lock_
  double savedMs_ = 0;               // guarded by lock_
  double latencyMs_ = 0;             // guarded by lock_
  std::atomic<double> offsetMs_{0};  // written under lock_; GetTime reads it without the lock
  std::atomic<bool> waiting_{true};  // written under lock_; GetTime reads it without the lock
  std::atomic<bool> started_{false}; // written by Start and Stop under workerLock_; read by the update

  std::mutex workerLock_;       // Start and Stop against each other
  TOwned<TClockWorker> worker_; // guarded by workerLock_
};

} // namespace kiv

#pragma once
// The process clock every periodic worker, the audio clock and the engine read: milliseconds since the
// clock was made. The real one follows the steady system clock; the manual one moves only when told, so
// tests and offline export run on exact times.

#include <atomic>
#include <chrono>
#include <cstdint>

namespace kiv {

class TClock {
public:
  virtual ~TClock() = default;
  // Milliseconds since the clock's start. Any thread.
  virtual int64_t NowMs() const = 0;
};

class TSystemClock final : public TClock {
public:
  int64_t NowMs() const override;

private:
  const std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
};

class TManualClock final : public TClock {
public:
  int64_t NowMs() const override { return now_.load(std::memory_order_acquire); }
  void SetMs(int64_t ms) { now_.store(ms, std::memory_order_release); }
  void AdvanceMs(int64_t ms) { now_.fetch_add(ms, std::memory_order_acq_rel); }

private:
  std::atomic<int64_t> now_{0}; // written by the virtual host's thread (or a test)
};

} // namespace kiv

#include "MixerTimerChannel.h"

#include "Exceptions.h"
#include "Log.h"
#include "SoundCallLog.h"

#include <chrono>
#include <cstring>
#include <thread>

namespace kiv {

namespace {

constexpr int kPlayTries = 100;

[[noreturn]] void RaiseNoBuffer(const std::string& why) {
  LogLine("!!! Timer channel: no sound buffer (" + why + ")");
  throw Exception("SoundBuffer = nil");
}

} // namespace

class TMixerTimerChannel::TClockWorker final : public TKivThread {
public:
  TClockWorker(TMixerTimerChannel& owner, TWorkerHost& host)
      : TKivThread(host, "audio clock", kUpdatePeriodMs, kOrderAudioClock), owner_(owner) {}

protected:
  void Step() override { owner_.Update(); }

private:
  TMixerTimerChannel& owner_;
};

TMixerTimerChannel::TMixerTimerChannel(std::shared_ptr<TSoundMixer> mixer, TWorkerHost& host) : host_(host) {
  if (!mixer) RaiseNoBuffer("no sound output");
  const TWaveFormat format = StandardWaveFormat();
  std::string whyNot;
  buffer_ = BracketSoundCall("TSoundMixer.CreateBuffer",
                             [&] { return mixer->CreateBuffer(format, 2 * format.avgBytesPerSec, &whyNot); });
  if (!buffer_) RaiseNoBuffer(whyNot);
  bytesPerMs_ = format.avgBytesPerSec / 1000.0;
  TSoundRegions regions;
  if (LoggedSoundCall("TSoundBuffer.Lock", [&] { return buffer_->Lock(0, buffer_->Size(), regions); }) ==
      TSoundResult::Ok) {
    std::memset(regions.data1, 0, regions.bytes1);
    LoggedSoundCall("TSoundBuffer.Unlock", [&] { return buffer_->Unlock(regions); });
  }
  // Silence at full volume sounds the same as no volume, and the mixer skips a buffer without volume.
  LoggedSoundCall("TSoundBuffer.SetVolume", [&] { return buffer_->SetVolume(kSoundVolumeMin); });
}

TMixerTimerChannel::~TMixerTimerChannel() {
  StopWorker();
}

void TMixerTimerChannel::Dispose() {
  StopWorker();
  std::lock_guard lock(lock_);
  LoggedSoundCall("TSoundBuffer.Stop", [&] { return buffer_->Stop(); });
}

void TMixerTimerChannel::StopWorker() {
  TOwned<TClockWorker> worker;
  {
    std::lock_guard lock(workerLock_);
    worker = std::move(worker_);
  }
  worker.reset(); // stops and waits; never under lock_, which the worker's update takes
}

double TMixerTimerChannel::GetTime() {
  if (waiting_.load(std::memory_order_acquire)) return 0;
  return static_cast<double>(Now()) - offsetMs_.load(std::memory_order_acquire);
}

void TMixerTimerChannel::SetTime(double ms) {
  std::lock_guard lock(lock_);
  wrapTimeMs_ = ms;
  savedMs_ = ms;
  offsetMs_.store(static_cast<double>(Now()) - ms, std::memory_order_release);
}

bool TMixerTimerChannel::IsStarted() {
  return started_.load(std::memory_order_acquire);
}

double TMixerTimerChannel::DeviceTime() {
  std::lock_guard lock(lock_);
  return DeviceTimeLocked(Now());
}

double TMixerTimerChannel::DeviceTimeLocked(int64_t now) const {
  if (!buffer_) return 0;
  if (!started_.load(std::memory_order_acquire)) return savedMs_;
  double time = wrapTimeMs_;
  if (lastPosition_ >= 0) time += lastPosition_ / bytesPerMs_ + static_cast<double>(now - lastReadMs_);
  return time;
}

bool TMixerTimerChannel::ReadPlayPosition(uint32_t& play) {
  return LoggedSoundCall("TSoundBuffer.GetCurrentPosition",
                         [&] { return buffer_->GetCurrentPosition(&play, nullptr); }) == TSoundResult::Ok;
}

void TMixerTimerChannel::Start() {
  std::lock_guard workerLock(workerLock_);
  if (started_.load(std::memory_order_acquire)) return;
  started_.store(true, std::memory_order_release);
  for (int tries = 1;; ++tries) {
    if (LoggedSoundCall("TSoundBuffer.Play", [&] { return buffer_->Play(true); }) != TSoundResult::Lost)
      break;
    LoggedSoundCall("TSoundBuffer.Restore", [&] { return buffer_->Restore(); });
    if (tries == kPlayTries) {
      LogLine("!!! Timer channel: the sound buffer stays lost");
      break;
    }
    if (tries > 1) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  double saved;
  {
    std::lock_guard lock(lock_);
    polls_ = 0;
    saved = savedMs_;
  }
  SetTime(saved);
  Update();
  waiting_.store(true, std::memory_order_release);
  worker_ = MakeOwned<TClockWorker>(*this, host_);
  worker_->Start();
}

void TMixerTimerChannel::Stop() {
  std::lock_guard workerLock(workerLock_);
  {
    std::lock_guard lock(lock_);
    savedMs_ = DeviceTimeLocked(Now());
    started_.store(false, std::memory_order_release);
  }
  TOwned<TClockWorker> worker = std::move(worker_);
  worker.reset();
  std::lock_guard lock(lock_);
  LoggedSoundCall("TSoundBuffer.Stop", [&] { return buffer_->Stop(); });
  LoggedSoundCall("TSoundBuffer.SetCurrentPosition", [&] { return buffer_->SetCurrentPosition(0); });
  lastPosition_ = -1;
}

void TMixerTimerChannel::Update() {
  std::lock_guard lock(lock_);
  const int64_t now = Now();
  if (waiting_.load(std::memory_order_acquire)) {
    uint32_t play = 0;
    if (!ReadPlayPosition(play) || play == 0) return;
    lastPosition_ = play;
    lastReadMs_ = now;
    // The smooth clock resumes at the saved time; the position's lead at this moment is the latency.
    offsetMs_.store(static_cast<double>(now) - savedMs_, std::memory_order_release);
    latencyMs_ = DeviceTimeLocked(now) - savedMs_;
    waiting_.store(false, std::memory_order_release);
  }
  const double device = DeviceTimeLocked(now) - latencyMs_;
  const double smooth = static_cast<double>(now) - offsetMs_.load(std::memory_order_acquire);
  if (device > smooth)
    offsetMs_.store(offsetMs_.load(std::memory_order_acquire) - 1, std::memory_order_release);
  else if (device < smooth)
    offsetMs_.store(offsetMs_.load(std::memory_order_acquire) + 1, std::memory_order_release);
  if (++polls_ % kPositionReadEvery != 0) return;
  uint32_t play = 0;
  if (!ReadPlayPosition(play)) return;
  lastReadMs_ = now;
  if (play < lastPosition_) wrapTimeMs_ += 2000;
  lastPosition_ = play;
}

} // namespace kiv

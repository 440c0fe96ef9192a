#include "MixerWaveOutBuffer.h"

#include "Log.h"
#include "RoundHalfEven.h"
#include "SoundCallLog.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <exception>

namespace kiv {

namespace {

// Two seconds of the fastest format the mixer takes fit easily; larger claims come from broken headers.
constexpr uint64_t kMaxBufferBytes = 32u << 20;

uint32_t AlignDown(uint64_t bytes, uint32_t unit) {
  return static_cast<uint32_t>(bytes / unit * unit);
}

} // namespace

class TMixerWaveOutBuffer::TRefillWorker final : public TKivThread {
public:
  TRefillWorker(TMixerWaveOutBuffer& owner, TWorkerHost& host)
      : TKivThread(host, "sound refill", kRefillPeriodMs, kOrderSoundOutput), owner_(owner) {}

protected:
  void OnStart() override { owner_.FirstFill(*this); }
  void Step() override { owner_.RefillStep(*this); }

private:
  TMixerWaveOutBuffer& owner_;
};

TOwned<TMixerWaveOutBuffer> TMixerWaveOutBuffer::Create(std::shared_ptr<TSoundMixer> mixer, TWorkerHost& host,
                                                        const TWaveFormat& format) {
  std::string whyNot;
  if (!mixer) whyNot = "no sound output";
  // Checked before any size is computed from the format: no division by a zero rate or frame size.
  else if (TSoundMixer::CanPlay(format, &whyNot)) {
    // Two seconds, in whole frames.
    const uint64_t size = (uint64_t{format.avgBytesPerSec} * 2) / format.blockAlign * format.blockAlign;
    if (size < 2u * format.blockAlign || size > kMaxBufferBytes) {
      whyNot = "buffer size out of range";
    } else {
      std::unique_ptr<TSoundBuffer> buffer = BracketSoundCall("TSoundMixer.CreateBuffer", [&] {
        return mixer->CreateBuffer(format, static_cast<uint32_t>(size), &whyNot);
      });
      if (buffer)
        return TOwned<TMixerWaveOutBuffer>(new TMixerWaveOutBuffer(std::move(buffer), host, format));
    }
  }
  LogLine("!!! CreateBuffer refused: " + whyNot);
  return nullptr;
}

TMixerWaveOutBuffer::TMixerWaveOutBuffer(std::unique_ptr<TSoundBuffer> soundBuffer, TWorkerHost& host,
                                         const TWaveFormat& format)
    : host_(host), soundBuffer_(std::move(soundBuffer)), format_(format), bufferSize_(soundBuffer_->Size()),
      maxRefill_(
          std::max<uint32_t>(AlignDown(format.avgBytesPerSec / 2, format.blockAlign), format.blockAlign)),
      rewriteMargin_(
          AlignDown(uint64_t{format.bitsPerSample} / 8 * format.channels * format.samplesPerSec / 40,
                    format.blockAlign)) {}

TMixerWaveOutBuffer::~TMixerWaveOutBuffer() {
  Shutdown();
}

void TMixerWaveOutBuffer::Dispose() {
  Shutdown();
}

void TMixerWaveOutBuffer::Shutdown() {
  {
    std::lock_guard lock(workerLock_);
    if (shutDown_) return;
    shutDown_ = true;
  }
  {
    std::lock_guard lock(refillLock_);
    LoggedSoundCall("TSoundBuffer.Stop", [&] { return soundBuffer_->Stop(); });
    disabled_ = true;
  }
  TOwned<TRefillWorker> worker;
  {
    std::lock_guard lock(workerLock_);
    worker = std::move(worker_);
  }
  // Stops and waits for the worker; a worker that does not end is logged by its host, which goes on
  // waiting: ending a thread from outside could leave the voice's locks held.
  worker.reset();
}

float TMixerWaveOutBuffer::GetVolume() {
  const float stored = volume_.load(std::memory_order_acquire);
  if (stored >= 0) return stored;
  int32_t volume = kSoundVolumeMax;
  LoggedSoundCall("TSoundBuffer.GetVolume", [&] { return soundBuffer_->GetVolume(volume); });
  if (volume >= kSoundVolumeMax) return 1.0f;
  if (volume <= kSoundVolumeMin) return 0.0f;
  return static_cast<float>(std::exp2(volume / 600.0));
}

void TMixerWaveOutBuffer::SetVolume(float volume) {
  volume_.store(volume, std::memory_order_release);
  int32_t attenuation = kSoundVolumeMin;
  if (volume > 0)
    attenuation = static_cast<int32_t>(std::clamp<int64_t>(
        Round(600.0 * std::log2(static_cast<double>(volume))), kSoundVolumeMin, kSoundVolumeMax));
  LoggedSoundCall("TSoundBuffer.SetVolume", [&] { return soundBuffer_->SetVolume(attenuation); });
}

void TMixerWaveOutBuffer::Start() {
  std::lock_guard lock(workerLock_);
  if (shutDown_ || worker_) return;
  worker_ = MakeOwned<TRefillWorker>(*this, host_);
  worker_->Start();
}

void TMixerWaveOutBuffer::RewriteQueued() {
  rewriteRequested_.store(true, std::memory_order_release);
  std::lock_guard lock(workerLock_);
  if (worker_) worker_->Wake();
}

uint32_t TMixerWaveOutBuffer::GetInitialFillSize() {
  return AlignDown(uint64_t{bufferSize_} * 3 / 4, format_.blockAlign);
}

uint32_t TMixerWaveOutBuffer::GetQueuedBytes() {
  uint32_t play = 0, write = 0;
  ReadPositions(play, write);
  const uint32_t end = blockEnd_.load(std::memory_order_acquire);
  return play == end ? bufferSize_ : Forward(play, end);
}

double TMixerWaveOutBuffer::GetPlayedTime() {
  std::lock_guard lock(clockLock_);
  if (lastPosition_ < 0) return wrapTimeMs_;
  return wrapTimeMs_ + static_cast<double>(host_.Clock().NowMs() - lastPollMs_) +
         static_cast<double>(lastPosition_) * 1000.0 / format_.avgBytesPerSec;
}

uint32_t TMixerWaveOutBuffer::WritePosition() {
  std::lock_guard lock(refillLock_);
  return writePosition_;
}

bool TMixerWaveOutBuffer::ReadPositions(uint32_t& play, uint32_t& write) {
  return LoggedSoundCall("TSoundBuffer.GetCurrentPosition",
                         [&] { return soundBuffer_->GetCurrentPosition(&play, &write); }) == TSoundResult::Ok;
}

void TMixerWaveOutBuffer::RunCallback(const TWaveOutCallback& callback, const char* name, uint8_t* data,
                                      uint32_t bytes) {
  if (!callback) {
    if (bytes > 0) std::memset(data, format_.bitsPerSample == 8 ? 0x80 : 0, bytes);
    return;
  }
  try {
    callback(*this, data, bytes);
  } catch (const std::exception& e) {
    LogLine(std::string("!!! ") + name + " raised: " + e.what());
    Silence();
  } catch (...) {
    LogLine(std::string("!!! ") + name + " raised an unknown exception");
    Silence();
  }
}

void TMixerWaveOutBuffer::Silence() {
  // A voice that fails goes quiet for good, rather than looping what its buffer last held.
  disabled_ = true;
  LoggedSoundCall("TSoundBuffer.Stop", [&] { return soundBuffer_->Stop(); });
}

bool TMixerWaveOutBuffer::TryPlay() {
  const TSoundResult result = LoggedSoundCall("TSoundBuffer.Play", [&] { return soundBuffer_->Play(true); });
  if (result != TSoundResult::Lost) return true;
  // Restored now, played again on the next step, 10 ms later.
  LoggedSoundCall("TSoundBuffer.Restore", [&] { return soundBuffer_->Restore(); });
  return false;
}

void TMixerWaveOutBuffer::FirstFill(TKivThread& worker) {
  std::lock_guard lock(refillLock_);
  if (disabled_) return;
  const uint32_t bytes = GetInitialFillSize();
  writePosition_ = bytes;
  TSoundRegions regions;
  if (LoggedSoundCall("TSoundBuffer.Lock", [&] { return soundBuffer_->Lock(0, bytes, regions); }) ==
      TSoundResult::Ok) {
    blockEnd_ = 0;
    RunCallback(OnFirstFill, "OnFirstFill", regions.data1, regions.bytes1);
    LoggedSoundCall("TSoundBuffer.Unlock", [&] { return soundBuffer_->Unlock(regions); });
  }
  if (disabled_) return;
  playPending_ = !TryPlay();
  if (playPending_) worker.SetPeriodMs(10);
}

void TMixerWaveOutBuffer::RefillStep(TKivThread& worker) {
  std::lock_guard lock(refillLock_);
  if (disabled_) return;
  if (playPending_) {
    playPending_ = !TryPlay();
    if (!playPending_) worker.SetPeriodMs(kRefillPeriodMs);
    return;
  }
  if (rewriteRequested_.exchange(false, std::memory_order_acq_rel)) Rewrite();
  if (!disabled_) Refill();
}

void TMixerWaveOutBuffer::Rewrite() {
  uint32_t play = 0, write = 0;
  const bool read = ReadPositions(play, write);
  const uint32_t start = static_cast<uint32_t>((uint64_t{write} + rewriteMargin_) % bufferSize_);
  // Only queued sound beyond the margin: the start must lie between the write cursor and the write position.
  // Otherwise the range "from start up to the write position" would run round the whole buffer, over the
  // sound that is playing now.
  const uint32_t queued = writePosition_ == play ? bufferSize_ : Forward(play, writePosition_);
  const uint32_t toWrite = Forward(play, write);
  const uint32_t toStart = Forward(play, start);
  TSoundRegions regions;
  const bool anything = read && toStart >= toWrite && toStart < queued;
  if (!anything || LoggedSoundCall("TSoundBuffer.Lock", [&] {
                     return soundBuffer_->Lock(start, queued - toStart, regions);
                   }) != TSoundResult::Ok) {
    // Every request is answered, with no bytes when nothing can be rewritten: a voice begins its fade-out
    // there, and its next refill carries it on.
    blockEnd_ = start;
    RunCallback(OnRewrite, "OnRewrite", nullptr, 0);
    return;
  }
  blockEnd_ = start;
  RunCallback(OnRewrite, "OnRewrite", regions.data1, regions.bytes1);
  if (regions.bytes2 > 0) {
    blockEnd_ = 0;
    RunCallback(OnRewrite, "OnRewrite", regions.data2, regions.bytes2);
  }
  LoggedSoundCall("TSoundBuffer.Unlock", [&] { return soundBuffer_->Unlock(regions); });
}

void TMixerWaveOutBuffer::Refill() {
  uint32_t play = 0, write = 0;
  if (!ReadPositions(play, write)) return;
  if (play == writePosition_) return;
  const uint32_t block = AlignDown(std::min(Forward(writePosition_, play), maxRefill_), format_.blockAlign);
  TSoundRegions regions;
  if (block > 0 && LoggedSoundCall("TSoundBuffer.Lock", [&] {
                     return soundBuffer_->Lock(writePosition_, block, regions);
                   }) == TSoundResult::Ok) {
    // Both regions measure to the end of the whole block: a voice whose data ends in the second region
    // must count that region as queued, or it would be released before its last sound has played.
    blockEnd_ = static_cast<uint32_t>((uint64_t{writePosition_} + block) % bufferSize_);
    RunCallback(OnRefill, "OnRefill", regions.data1, regions.bytes1);
    if (regions.bytes2 > 0) RunCallback(OnRefill, "OnRefill", regions.data2, regions.bytes2);
    LoggedSoundCall("TSoundBuffer.Unlock", [&] { return soundBuffer_->Unlock(regions); });
    writePosition_ = regions.bytes2 > 0 ? regions.bytes2 : (writePosition_ + regions.bytes1) % bufferSize_;
  }
  UpdateClock(play);
}

void TMixerWaveOutBuffer::UpdateClock(uint32_t playPosition) {
  std::lock_guard lock(clockLock_);
  lastPollMs_ = host_.Clock().NowMs();
  if (playPosition < lastPosition_) wrapTimeMs_ += 2000;
  lastPosition_ = playPosition;
}

} // namespace kiv

#include "NullSoundOutput.h"

#include <algorithm>
#include <vector>

namespace kiv {

namespace {

constexpr int64_t kPeriodMs = 10;

class TNullSoundWorker final : public TKivThread {
public:
  TNullSoundWorker(TWorkerHost& host, TSoundMixer& mixer)
      : TKivThread(host, "null sound output", kPeriodMs, kOrderSoundOutput), mixer_(mixer),
        periodFrames_(static_cast<int>(mixer.OutputRate() * kPeriodMs / 1000)) {
    mixer_.SetPeriodFrames(periodFrames_);
  }

protected:
  void OnStart() override { startMs_ = Clock().NowMs(); }

  void Step() override {
    // Frames due by the clock, so late steps catch up and the output never drifts from real time.
    const int64_t due = (Clock().NowMs() - startMs_) * mixer_.OutputRate() / 1000;
    scratch_.resize(static_cast<size_t>(periodFrames_) * TSoundMixer::kOutputChannels);
    while (mixed_ < due) {
      const int frames = static_cast<int>(std::min<int64_t>(due - mixed_, periodFrames_));
      mixer_.Mix(scratch_.data(), frames);
      mixed_ += frames;
    }
  }

private:
  TSoundMixer& mixer_;
  const int periodFrames_;
  // The worker's own thread only.
  int64_t startMs_ = 0;
  int64_t mixed_ = 0;
  std::vector<int16_t> scratch_;
};

class TNullSoundOutput final : public TSoundOutput {
public:
  TNullSoundOutput(TSoundMixer& mixer, TWorkerHost& host)
      : worker_(MakeOwned<TNullSoundWorker>(host, mixer)) {
    worker_->Start();
  }
  std::string Name() const override { return "null"; }

private:
  TOwned<TNullSoundWorker> worker_; // stopped by its deleter before the mixer goes
};

} // namespace

TSoundOutputOpener NullSoundBackend() {
  return [](TSoundMixer& mixer, TWorkerHost& host, std::string&) -> std::unique_ptr<TSoundOutput> {
    return std::make_unique<TNullSoundOutput>(mixer, host);
  };
}

TSoundOutputFactory NullSoundOutputFactory() {
  TSoundOutputFactory factory;
  factory.Add("null", NullSoundBackend());
  return factory;
}

} // namespace kiv

#include "OfflineSoundOutput.h"

#include <algorithm>
#include <fstream>
#include <utility>

namespace kiv {

class TOfflineSoundOutput::TConnection final : public TSoundOutput {
public:
  TConnection(TOfflineSoundOutput& owner, TSoundMixer& mixer) : owner_(owner) { owner_.Connect(&mixer); }
  ~TConnection() override { owner_.Connect(nullptr); }
  std::string Name() const override { return "offline"; }

private:
  TOfflineSoundOutput& owner_;
};

namespace {

TOfflineSoundOutput::TOptions Checked(TOfflineSoundOutput::TOptions options) {
  options.periodFrames = std::max(options.periodFrames, 1);
  return options;
}

} // namespace

TOfflineSoundOutput::TOfflineSoundOutput(TOptions options) : options_(Checked(options)) {}

TOfflineSoundOutput::~TOfflineSoundOutput() {
  Detach();
}

void TOfflineSoundOutput::Connect(TSoundMixer* mixer) {
  std::lock_guard lock(mutex_);
  mixer_ = mixer;
  if (mixer_) mixer_->SetPeriodFrames(options_.periodFrames);
}

TSoundOutputOpener TOfflineSoundOutput::Backend() {
  return [this](TSoundMixer& mixer, TWorkerHost&, std::string& whyNot) -> std::unique_ptr<TSoundOutput> {
    {
      std::lock_guard lock(mutex_);
      if (mixer_) {
        whyNot = "the offline output is in use";
        return nullptr;
      }
    }
    return std::make_unique<TConnection>(*this, mixer);
  };
}

TSoundOutputFactory TOfflineSoundOutput::Factory() {
  TSoundOutputFactory factory;
  factory.Add("offline", Backend());
  return factory;
}

void TOfflineSoundOutput::AdvanceFrames(int64_t frames) {
  std::lock_guard lock(mutex_);
  while (frames > 0) {
    const int chunk = static_cast<int>(std::min<int64_t>(frames, options_.periodFrames));
    const size_t samples = static_cast<size_t>(chunk) * TSoundMixer::kOutputChannels;
    scratch_.assign(samples, 0);
    if (mixer_) mixer_->Mix(scratch_.data(), chunk);
    if (options_.record) recorded_.insert(recorded_.end(), scratch_.begin(), scratch_.end());
    frames_ += chunk;
    frames -= chunk;
  }
}

void TOfflineSoundOutput::AdvanceMs(int64_t ms) {
  int64_t frames;
  {
    std::lock_guard lock(mutex_);
    const int64_t before = milliseconds_ * rate_ / 1000;
    milliseconds_ += ms;
    frames = milliseconds_ * rate_ / 1000 - before;
  }
  AdvanceFrames(frames);
}

void TOfflineSoundOutput::AttachTo(TVirtualHost& host) {
  Detach();
  host_ = &host;
  hookId_ = host.AddTickHook([this](int64_t) { AdvanceMs(1); });
}

void TOfflineSoundOutput::Detach() {
  if (host_) host_->RemoveTickHook(hookId_);
  host_ = nullptr;
  hookId_ = 0;
}

int64_t TOfflineSoundOutput::FramesAdvanced() const {
  std::lock_guard lock(mutex_);
  return frames_;
}

std::vector<int16_t> TOfflineSoundOutput::Recorded() const {
  std::lock_guard lock(mutex_);
  return recorded_;
}

std::vector<int16_t> TOfflineSoundOutput::TakeRecorded() {
  std::lock_guard lock(mutex_);
  return std::exchange(recorded_, {});
}

namespace {

void PutU16(std::string& out, uint32_t v) {
  out.push_back(static_cast<char>(v & 0xFF));
  out.push_back(static_cast<char>(v >> 8 & 0xFF));
}

void PutU32(std::string& out, uint32_t v) {
  PutU16(out, v & 0xFFFF);
  PutU16(out, v >> 16);
}

} // namespace

bool TOfflineSoundOutput::WriteWavFile(const std::string& path) const {
  const std::vector<int16_t> samples = Recorded();
  const uint64_t dataBytes = samples.size() * sizeof(int16_t);
  if (dataBytes > 0xFFFFFFFFull - 36) return false;
  const uint32_t channels = TSoundMixer::kOutputChannels;
  std::string out;
  out.reserve(44 + dataBytes);
  out += "RIFF";
  PutU32(out, static_cast<uint32_t>(36 + dataBytes));
  out += "WAVEfmt ";
  PutU32(out, 16);
  PutU16(out, 1);
  PutU16(out, channels);
  PutU32(out, static_cast<uint32_t>(rate_));
  PutU32(out, static_cast<uint32_t>(rate_) * channels * 2);
  PutU16(out, channels * 2);
  PutU16(out, 16);
  out += "data";
  PutU32(out, static_cast<uint32_t>(dataBytes));
  for (int16_t s : samples)
    PutU16(out, static_cast<uint16_t>(s));
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  if (!file) return false;
  file.write(out.data(), static_cast<std::streamsize>(out.size()));
  return static_cast<bool>(file.flush());
}

} // namespace kiv

#include "SoundMixer.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace kiv {

namespace {

constexpr int kMaxRate = 384000;
constexpr int kMaxChannels = 8;

} // namespace

const char* SoundResultText(TSoundResult result) {
  switch (result) {
  case TSoundResult::Ok:
    return "ok";
  case TSoundResult::Lost:
    return "buffer lost";
  case TSoundResult::Busy:
    return "buffer locked";
  case TSoundResult::Invalid:
    return "invalid call";
  }
  return "?";
}

double SoundVolumeGain(int32_t hundredthsDb) {
  if (hundredthsDb <= kSoundVolumeMin) return 0.0;
  if (hundredthsDb >= kSoundVolumeMax) return 1.0;
  return std::pow(10.0, hundredthsDb / 2000.0);
}

// TSoundBuffer ------------------------------------------------------------------------------------------

TSoundBuffer::TSoundBuffer(std::shared_ptr<TSoundMixer> mixer, const TWaveFormat& format, uint32_t size)
    : mixer_(std::move(mixer)), format_(format), size_(size), frameCount_(size / format.blockAlign),
      ring_(size, format.bitsPerSample == 8 ? 0x80 : 0) {}

TSoundBuffer::~TSoundBuffer() {
  std::lock_guard lock(mixer_->lock_);
  std::erase(mixer_->buffers_, this);
}

TSoundResult TSoundBuffer::Lock(uint32_t offset, uint32_t bytes, TSoundRegions& regions) {
  regions = {};
  if (offset >= size_ || bytes == 0 || bytes > size_) return TSoundResult::Invalid;
  {
    std::lock_guard lock(mixer_->lock_);
    if (lost_) return TSoundResult::Lost;
    if (locked_) return TSoundResult::Busy;
    locked_ = true;
    lockOffset_ = offset;
    lockBytes_ = bytes;
    staging_.resize(bytes);
    const uint32_t first = std::min(bytes, size_ - offset);
    std::memcpy(staging_.data(), ring_.data() + offset, first);
    if (first < bytes) std::memcpy(staging_.data() + first, ring_.data(), bytes - first);
    regions.data1 = staging_.data();
    regions.bytes1 = first;
    if (first < bytes) {
      regions.data2 = staging_.data() + first;
      regions.bytes2 = bytes - first;
    }
  }
  return TSoundResult::Ok;
}

TSoundResult TSoundBuffer::Unlock(const TSoundRegions& regions) {
  std::lock_guard lock(mixer_->lock_);
  if (!locked_) return TSoundResult::Invalid;
  const uint32_t first = std::min(lockBytes_, size_ - lockOffset_);
  const bool ours = regions.data1 == staging_.data() && regions.bytes1 <= first &&
                    (regions.bytes2 == 0 ||
                     (regions.data2 == staging_.data() + first && regions.bytes2 <= lockBytes_ - first));
  locked_ = false;
  if (!ours) return TSoundResult::Invalid;
  std::memcpy(ring_.data() + lockOffset_, regions.data1, regions.bytes1);
  if (regions.bytes2 > 0) std::memcpy(ring_.data(), regions.data2, regions.bytes2);
  return TSoundResult::Ok;
}

TSoundResult TSoundBuffer::Play(bool looping) {
  std::lock_guard lock(mixer_->lock_);
  if (lost_) return TSoundResult::Lost;
  playing_ = true;
  looping_ = looping;
  return TSoundResult::Ok;
}

TSoundResult TSoundBuffer::Stop() {
  std::lock_guard lock(mixer_->lock_);
  playing_ = false;
  return TSoundResult::Ok;
}

TSoundResult TSoundBuffer::SetCurrentPosition(uint32_t offset) {
  if (offset >= size_) return TSoundResult::Invalid;
  std::lock_guard lock(mixer_->lock_);
  frame_ = offset / format_.blockAlign;
  remainder_ = 0;
  return TSoundResult::Ok;
}

int TSoundBuffer::OutputRate() const {
  return mixer_->outputRate_;
}

uint32_t TSoundBuffer::AheadFrames() const {
  // The frames one mix period reads, rounded up.
  const uint64_t period = static_cast<uint64_t>(mixer_->periodFrames_);
  const uint64_t rate = static_cast<uint64_t>(OutputRate());
  return static_cast<uint32_t>((period * format_.samplesPerSec + rate - 1) / rate);
}

TSoundResult TSoundBuffer::GetCurrentPosition(uint32_t* play, uint32_t* write) {
  std::lock_guard lock(mixer_->lock_);
  if (play) *play = frame_ * format_.blockAlign;
  if (write) {
    const uint32_t ahead = playing_ ? std::min(AheadFrames(), frameCount_ - 1) : 0;
    *write = static_cast<uint32_t>((uint64_t{frame_} + ahead) % frameCount_) * format_.blockAlign;
  }
  return TSoundResult::Ok;
}

TSoundResult TSoundBuffer::SetVolume(int32_t hundredthsDb) {
  const int32_t volume = std::clamp(hundredthsDb, kSoundVolumeMin, kSoundVolumeMax);
  std::lock_guard lock(mixer_->lock_);
  volume_ = volume;
  gain_ = SoundVolumeGain(volume);
  return TSoundResult::Ok;
}

TSoundResult TSoundBuffer::GetVolume(int32_t& hundredthsDb) {
  std::lock_guard lock(mixer_->lock_);
  hundredthsDb = volume_;
  return TSoundResult::Ok;
}

TSoundResult TSoundBuffer::Restore() {
  std::lock_guard lock(mixer_->lock_);
  lost_ = false;
  return TSoundResult::Ok;
}

bool TSoundBuffer::IsPlaying() const {
  std::lock_guard lock(mixer_->lock_);
  return playing_;
}

void TSoundBuffer::MarkLost() {
  std::lock_guard lock(mixer_->lock_);
  lost_ = true;
  playing_ = false;
}

void TSoundBuffer::ReadFrame(uint32_t frame, double& left, double& right) const {
  const uint8_t* p = ring_.data() + size_t{frame} * format_.blockAlign;
  if (format_.bitsPerSample == 8) {
    left = (static_cast<int>(p[0]) - 128) * 256.0;
    right = format_.channels > 1 ? (static_cast<int>(p[1]) - 128) * 256.0 : left;
  } else {
    left = static_cast<int16_t>(static_cast<uint16_t>(p[0] | p[1] << 8));
    right = format_.channels > 1 ? static_cast<int16_t>(static_cast<uint16_t>(p[2] | p[3] << 8)) : left;
  }
}

void TSoundBuffer::WrapPosition() {
  if (frame_ < frameCount_) return;
  if (looping_) {
    frame_ %= frameCount_;
  } else {
    playing_ = false;
    frame_ = 0;
    remainder_ = 0;
  }
}

void TSoundBuffer::Skip(int frames) {
  const uint64_t rate = static_cast<uint64_t>(OutputRate());
  const uint64_t total = remainder_ + uint64_t{format_.samplesPerSec} * static_cast<uint64_t>(frames);
  const uint64_t frame = frame_ + total / rate;
  remainder_ = static_cast<uint32_t>(total % rate);
  frame_ =
      static_cast<uint32_t>(frame < frameCount_ ? frame : (looping_ ? frame % frameCount_ : frameCount_));
  WrapPosition();
}

void TSoundBuffer::MixInto(int32_t* sum, int frames) {
  if (gain_ == 0.0) {
    Skip(frames);
    return;
  }
  const uint32_t rate = static_cast<uint32_t>(OutputRate());
  const uint32_t wholeStep = format_.samplesPerSec / rate;
  const uint32_t partStep = format_.samplesPerSec % rate;
  for (int k = 0; k < frames && playing_; ++k) {
    double left, right;
    ReadFrame(frame_, left, right);
    if (remainder_ != 0) {
      uint32_t next = frame_ + 1;
      if (next == frameCount_) next = looping_ ? 0 : frame_;
      double nextLeft, nextRight;
      ReadFrame(next, nextLeft, nextRight);
      const double weight = static_cast<double>(remainder_) / rate;
      left += (nextLeft - left) * weight;
      right += (nextRight - right) * weight;
    }
    sum[2 * k] += static_cast<int32_t>(std::lround(left * gain_));
    sum[2 * k + 1] += static_cast<int32_t>(std::lround(right * gain_));
    frame_ += wholeStep;
    remainder_ += partStep;
    if (remainder_ >= rate) {
      remainder_ -= rate;
      ++frame_;
    }
    WrapPosition();
  }
}

// TSoundMixer ------------------------------------------------------------------------------------------

TSoundMixer::TSoundMixer(int outputRate) : outputRate_(outputRate > 0 ? outputRate : kDefaultRate) {}

TSoundMixer::~TSoundMixer() = default; // every buffer holds the mixer, so none is left here

std::shared_ptr<TSoundMixer> TSoundMixer::Create(int outputRate) {
  return std::shared_ptr<TSoundMixer>(new TSoundMixer(outputRate));
}

bool TSoundMixer::CanPlay(const TWaveFormat& format, std::string* whyNot) {
  auto refuse = [&](const char* why) {
    if (whyNot) *whyNot = why;
    return false;
  };
  if (format.formatTag != 1) return refuse("not PCM");
  if (format.channels == 0 || format.channels > kMaxChannels) return refuse("unsupported channel count");
  if (format.bitsPerSample != 8 && format.bitsPerSample != 16) return refuse("unsupported sample width");
  if (format.samplesPerSec == 0 || format.samplesPerSec > kMaxRate) return refuse("unsupported sample rate");
  if (format.avgBytesPerSec == 0) return refuse("no bytes per second");
  if (format.blockAlign < format.channels * format.bitsPerSample / 8) return refuse("frame size too small");
  return true;
}

std::unique_ptr<TSoundBuffer> TSoundMixer::CreateBuffer(const TWaveFormat& format, uint32_t bytes,
                                                        std::string* whyNot) {
  if (!CanPlay(format, whyNot)) return nullptr;
  if (bytes < format.blockAlign || bytes % format.blockAlign != 0) {
    if (whyNot) *whyNot = "size is no whole number of frames";
    return nullptr;
  }
  std::unique_ptr<TSoundBuffer> buffer(new TSoundBuffer(shared_from_this(), format, bytes));
  std::lock_guard lock(lock_);
  buffers_.push_back(buffer.get());
  return buffer;
}

void TSoundMixer::Mix(int16_t* out, int frames) {
  if (frames <= 0) return;
  std::lock_guard lock(lock_);
  sum_.assign(static_cast<size_t>(frames) * kOutputChannels, 0);
  for (TSoundBuffer* buffer : buffers_)
    if (buffer->playing_) buffer->MixInto(sum_.data(), frames);
  for (size_t i = 0; i < sum_.size(); ++i)
    out[i] = static_cast<int16_t>(std::clamp(sum_[i], -32768, 32767));
  framesMixed_ += frames;
}

void TSoundMixer::SetPeriodFrames(int frames) {
  std::lock_guard lock(lock_);
  periodFrames_ = std::max(frames, 1);
}

int TSoundMixer::PeriodFrames() const {
  std::lock_guard lock(lock_);
  return periodFrames_;
}

int64_t TSoundMixer::FramesMixed() const {
  std::lock_guard lock(lock_);
  return framesMixed_;
}

int TSoundMixer::BufferCount() const {
  std::lock_guard lock(lock_);
  return static_cast<int>(buffers_.size());
}

} // namespace kiv

#include "MusicVoice.h"

#include "Assert.h"
#include "ChannelKiller.h"
#include "Log.h"
#include "MusicPlayer.h"
#include "RoundHalfEven.h"

#include <algorithm>
#include <cstring>
#include <exception>

namespace kiv {

namespace {

int64_t FramesOf(int ms, uint32_t rate) {
  return std::max<int64_t>(1, int64_t(ms) * rate / 1000);
}

} // namespace

TMusicChannel::TMusicChannel(TChannelMusic& owner, TMusicPlayerClass& player, const TMediaInfo& info)
    : owner_(owner), player_(player), info_(info) {}

TMusicChannel::~TMusicChannel() {
  // The refill worker ends first, while buffer_ still names its buffer: the worker's last callback may
  // still read it (resetting the pointer first would leave that callback a null buffer).
  if (buffer_) {
    buffer_.get_deleter()(buffer_.get());
    (void)buffer_.release();
  }
  converter_ = nullptr;
  namedConverter_ = nullptr;
  file_.Close();
}

bool TMusicChannel::Open(const std::string& fileName) {
  ready_ = false;
  try {
    const TNamedSoundHooks& hooks = player_.NamedHooks();
    TMediaInfo named;
    if (hooks.describe && hooks.describe(fileName, named)) {
      // No stream: the converter opens what it needs itself.
      if (hooks.createConverter) namedConverter_ = hooks.createConverter(player_, fileName, info_);
      if (namedConverter_ && namedConverter_->Open(info_)) converter_ = namedConverter_.get();
    } else if (file_.OpenDescribed(player_, this, fileName, info_)) {
      converter_ = file_.Converter();
    }
  } catch (const std::exception& e) {
    LogLine(std::string("TMusicChannel.Open: ") + e.what());
    converter_ = nullptr;
  }
  if (!converter_) return false;
  format_ = converter_->Output().format;
  frameSize_ = uint32_t(format_.bitsPerSample) * format_.channels / 8;
  // Only 8 and 16 bits reach the buffer; the converters turn anything else into 16.
  if (frameSize_ == 0 || (format_.bitsPerSample != 8 && format_.bitsPerSample != 16)) return false;
  TWaveOutDevice* device = player_.Device();
  if (device) buffer_ = device->CreateBuffer(format_);
  if (!buffer_) return false;
  buffer_->OnFirstFill = [this](TWaveOutBuffer&, uint8_t* data, uint32_t bytes) { OnFirstFill(data, bytes); };
  buffer_->OnRewrite = [this](TWaveOutBuffer&, uint8_t* data, uint32_t bytes) { OnRewrite(data, bytes); };
  buffer_->OnRefill = [this](TWaveOutBuffer&, uint8_t* data, uint32_t bytes) { OnRefill(data, bytes); };
  ready_ = true;
  return true;
}

void TMusicChannel::Prepare(int ms) {
  RY_ASSERT(State() == kIdle);
  startOffset_ = ms;
  converter_->Seek(ms);
  const uint32_t n = buffer_->GetInitialFillSize();
  const bool more = converter_->Fill(n);
  std::lock_guard lock(stateLock_);
  prefill_.assign(converter_->Output().Data(), converter_->Output().Data() + n);
  converter_->Output().Consume(n);
  hasPrefill_ = true;
  endOfData_ = !more;
}

void TMusicChannel::Start(int fadeInMs) {
  bool prepared = false;
  {
    std::lock_guard lock(stateLock_);
    prepared = hasPrefill_;
  }
  if (!prepared) Prepare(0);
  state_.store(kPlaying, std::memory_order_release);
  {
    std::lock_guard lock(stateLock_);
    fadeInLength_ = FramesOf(fadeInMs, format_.samplesPerSec);
    gainIn_ = 0;
    gainOut_ = 1;
    fadeInFrame_ = 0;
    fadeIn_ = true;
    fadeOut_ = false;
  }
  buffer_->Start();
}

void TMusicChannel::FadeStop(int fadeOutMs) {
  {
    std::lock_guard lock(stateLock_);
    fadeOutLength_ = FramesOf(fadeOutMs, format_.samplesPerSec);
    // The fade begins in the rewrite of the queued sound, not at the end of the queue, where a refill that
    // comes first would start it a second and a half late and the rewrite would then cut to silence.
    fadeOutPending_ = true;
    reschedule_ = true;
  }
  state_.store(kStopping, std::memory_order_release);
  buffer_->RewriteQueued();
}

int TMusicChannel::GetPosition() {
  return static_cast<int>(Round(buffer_->GetPlayedTime())) + startOffset_;
}

void TMusicChannel::SetVolume(float volume) {
  buffer_->SetVolume(volume);
}

bool TMusicChannel::ReachedEnd() {
  std::lock_guard lock(stateLock_);
  return endOfData_;
}

bool TMusicChannel::IsDue(int64_t nowMs) {
  std::lock_guard lock(stateLock_);
  return scheduled_ && releaseDelay_ < nowMs - scheduledAt_;
}

int64_t TMusicChannel::ReleaseDelay() {
  std::lock_guard lock(stateLock_);
  return scheduled_ ? releaseDelay_ : -1;
}

void TMusicChannel::OnFirstFill(uint8_t* data, uint32_t bytes) {
  std::lock_guard lock(stateLock_);
  const uint32_t have = static_cast<uint32_t>(std::min<size_t>(prefill_.size(), bytes));
  ApplyGain(data, prefill_.data(), have);
  if (have < bytes) std::memset(data + have, format_.bitsPerSample == 8 ? 0x80 : 0, bytes - have);
  prefill_.clear();
  prefill_.shrink_to_fit();
}

void TMusicChannel::OnRewrite(uint8_t* data, uint32_t bytes) {
  std::lock_guard lock(stateLock_);
  if (!fadeOutPending_) return;
  fadeOutPending_ = false;
  if (fadeOut_) {
    // Already fading: the queued sound carries that fade; what comes next follows the new length from the
    // factor reached.
    fadeOutOrigin_ = gainOut_;
    fadeOutFrame_ = 0;
    return;
  }
  fadeOut_ = true;
  fadeOutOrigin_ = 1;
  fadeOutFrame_ = 0;
  gainOut_ = 1;
  if (bytes > 0) ApplyGain(data, data, bytes, true);
}

void TMusicChannel::OnRefill(uint8_t* data, uint32_t bytes) {
  const bool more = converter_->Fill(bytes);
  std::lock_guard lock(stateLock_);
  endOfData_ = endOfData_ || !more;
  ApplyGain(data, converter_->Output().Data(), bytes);
  converter_->Output().Consume(bytes);
  if (!more) ScheduleRelease(0);
}

void TMusicChannel::ApplyGain(uint8_t* destination, const uint8_t* source, uint32_t bytes, bool rewritten) {
  const uint32_t frames = bytes / frameSize_;
  const uint16_t bits = format_.bitsPerSample;
  const uint8_t silence = bits == 8 ? 0x80 : 0;
  for (uint32_t f = 0; f < frames; ++f) {
    const bool fadingIn = fadeIn_ && !rewritten;
    if (!fadingIn && !fadeOut_) {
      const uint32_t done = f * frameSize_;
      if (destination != source) std::memmove(destination + done, source + done, bytes - done);
      return;
    }
    const double gain = (rewritten ? 1.0 : gainIn_) * gainOut_;
    uint8_t* out = destination + size_t(f) * frameSize_;
    const uint8_t* in = source + size_t(f) * frameSize_;
    if (bits == 16) {
      for (uint32_t c = 0; c < format_.channels; ++c) {
        int16_t s;
        std::memcpy(&s, in + 2 * c, 2);
        const int16_t scaled = static_cast<int16_t>(std::clamp<int64_t>(Round(gain * s), -32768, 32767));
        std::memcpy(out + 2 * c, &scaled, 2);
      }
    } else if (bits == 8) {
      for (uint32_t c = 0; c < format_.channels; ++c)
        out[c] = static_cast<uint8_t>(std::clamp<int64_t>(128 + Round(gain * (int(in[c]) - 128)), 0, 255));
    } else {
      RaiseAssertion(kAssertionFailure, __FILE__, __LINE__);
    }
    if (fadingIn) {
      gainIn_ = double(++fadeInFrame_) / double(fadeInLength_);
      if (gainIn_ >= 1) {
        gainIn_ = 1;
        fadeIn_ = false;
      }
    }
    if (fadeOut_) {
      gainOut_ = fadeOutOrigin_ - double(++fadeOutFrame_) / double(fadeOutLength_);
      if (gainOut_ <= 0) {
        gainOut_ = 0;
        const uint32_t done = (f + 1) * frameSize_;
        ScheduleRelease(done);
        // Silent from here on; the voice only waits for its sound to drain.
        std::memset(destination + done, silence, bytes - done);
        return;
      }
    }
  }
}

void TMusicChannel::ScheduleRelease(uint32_t extraBytes) {
  const bool first = !scheduled_;
  if (!first && !reschedule_) return;
  const double bytes = double(extraBytes) + double(buffer_->GetQueuedBytes());
  int64_t delay = Round(bytes / double(format_.avgBytesPerSec) * 1000.0);
  if (delay <= 0) delay += 2000;
  releaseDelay_ = delay + 20;
  scheduledAt_ = player_.Host().Clock().NowMs();
  reschedule_ = false;
  if (first) {
    scheduled_ = true;
    player_.Killer().AddChannel(*this);
  }
}

} // namespace kiv

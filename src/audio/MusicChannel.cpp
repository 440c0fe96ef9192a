#include "MusicChannel.h"

#include "Assert.h"
#include "ChannelKiller.h"
#include "MusicPlayer.h"
#include "MusicVoice.h"

#include <algorithm>

namespace kiv {

// TChannel -----------------------------------------------------------------------------------------------

void TChannel::SetMasterVolume(float factor) {
  masterFactor_.store(factor, std::memory_order_release);
  SetVolume(GetVolume());
}

// TCustomChannel -----------------------------------------------------------------------------------------

TCustomChannel::TCustomChannel(TMusicPlayerClass& player, std::string fileName)
    : player_(&player), fileName_(std::move(fileName)) {}

TMusicPlayer* TCustomChannel::GetPlayer() {
  std::lock_guard lock(lock_);
  return player_;
}

void TCustomChannel::SetOnEnd(TEndHandler handler) {
  std::lock_guard lock(lock_);
  onEnd_ = std::move(handler);
}

// TChannelMusic ------------------------------------------------------------------------------------------

TChannelMusic::TChannelMusic(TMusicPlayerClass& player, std::string fileName)
    : TCustomChannel(player, std::move(fileName)) {
  const TNamedSoundHooks& hooks = player.NamedHooks();
  // A name that is no file is described by its hook; a file through a stream opened for the purpose.
  if (!(hooks.describe && hooks.describe(fileName_, info_)))
    DescribeSoundFile(player, this, fileName_, info_);
  if (info_.type != TMediaType::Unknown) {
    std::lock_guard lock(lock_);
    AddVoice();
    created_ = voices_.size() == 1;
  }
}

bool TChannelMusic::AddVoice() {
  if (!player_) return false;
  auto voice = MakeOwned<TMusicChannel>(*this, *player_, info_);
  if (!voice->Open(fileName_)) return false;
  voice->SetVolume(volume_ * GetMasterVolume());
  voices_.push_back(std::move(voice));
  return true;
}

TMusicChannel* TChannelMusic::Current() {
  return voices_.empty() ? nullptr : voices_.back().get();
}

float TChannelMusic::GetVolume() {
  std::lock_guard lock(lock_);
  return volume_;
}

void TChannelMusic::SetVolume(float volume) {
  std::lock_guard lock(lock_);
  volume_ = volume;
  if (TMusicChannel* voice = Current()) voice->SetVolume(volume * GetMasterVolume());
}

int TChannelMusic::GetPosition() {
  std::lock_guard lock(lock_);
  // A stopping voice still plays its fade and drains; the channel stands where Stop left it.
  TMusicChannel* voice = Current();
  if (voice && voice->State() != TMusicChannel::kStopping) savedPosition_ = voice->GetPosition();
  return savedPosition_;
}

void TChannelMusic::SetPosition(int ms) {
  std::lock_guard lock(lock_);
  TMusicChannel* voice = Current();
  if (!voice) {
    if (AddVoice()) Current()->Prepare(ms);
    return;
  }
  switch (voice->State()) {
  case TMusicChannel::kIdle:
    voice->Prepare(ms);
    break;
  case TMusicChannel::kPlaying:
    // A seek while playing cross-fades over 10 ms. Without a new voice the old one plays on.
    if (!AddVoice()) break;
    voice->FadeStop(10);
    Current()->Prepare(ms);
    Current()->Start(10);
    break;
  case TMusicChannel::kStopping:
    if (AddVoice()) Current()->Prepare(ms);
    break;
  }
}

bool TChannelMusic::Play(int fadeInMs) {
  std::lock_guard lock(lock_);
  TMusicChannel* voice = Current();
  if (voice && voice->State() == TMusicChannel::kPlaying) return false;
  if (!voice || voice->State() != TMusicChannel::kIdle) {
    // A voice never starts twice: a new one continues from the saved position.
    if (!AddVoice()) return false;
    Current()->Prepare(savedPosition_);
  }
  Current()->Start(fadeInMs);
  return true;
}

bool TChannelMusic::Stop(int fadeOutMs) {
  std::lock_guard lock(lock_);
  TMusicChannel* voice = Current();
  if (!voice || voice->State() != TMusicChannel::kPlaying) return false;
  savedPosition_ = voice->GetPosition();
  voice->FadeStop(fadeOutMs);
  return true;
}

bool TChannelMusic::IsPlaying() {
  std::lock_guard lock(lock_);
  TMusicChannel* voice = Current();
  return voice && voice->State() == TMusicChannel::kPlaying;
}

int TChannelMusic::VoiceCount() {
  std::lock_guard lock(lock_);
  return static_cast<int>(voices_.size());
}

TMusicChannel* TChannelMusic::CurrentVoice() {
  std::lock_guard lock(lock_);
  return Current();
}

void TChannelMusic::VoiceFinished(TMusicChannel& voice) {
  std::lock_guard lock(lock_);
  const auto found = std::find_if(voices_.begin(), voices_.end(),
                                  [&](const TOwned<TMusicChannel>& held) { return held.get() == &voice; });
  if (found == voices_.end()) {
    ReportAssertion(kAssertionFailure, __FILE__, __LINE__);
    return;
  }
  const bool wasCurrent = std::next(found) == voices_.end();
  TOwned<TMusicChannel> finished = std::move(*found);
  voices_.erase(found);
  // Only a current voice that played to its end says where the channel stands. A stopped voice keeps the
  // position Stop saved (its fade and drain would move it on by some 70 ms), and an older voice of a seek
  // that drains later would move it back to where that voice was.
  if (wasCurrent && finished->State() == TMusicChannel::kPlaying) savedPosition_ = finished->GetPosition();
  if (finished->ReachedEnd() && onEnd_ && !closing_) onEnd_(*this);
  finished = nullptr;
}

std::vector<TOwned<TMusicChannel>> TChannelMusic::TakeVoices() {
  std::vector<TOwned<TMusicChannel>> taken;
  std::lock_guard lock(lock_);
  taken.swap(voices_);
  return taken;
}

void TChannelMusic::DetachPlayer() {
  std::lock_guard lock(lock_);
  player_ = nullptr;
}

void TChannelMusic::Dispose() {
  std::vector<TOwned<TMusicChannel>> idle;
  TMusicPlayerClass* player = nullptr;
  {
    std::lock_guard lock(lock_);
    closing_ = true;
    onEnd_ = nullptr;
    player = player_;
    for (auto& voice : voices_) {
      if (voice->State() == TMusicChannel::kIdle)
        idle.push_back(std::move(voice));
      else
        voice->FadeStop(10);
    }
    std::erase_if(voices_, [](const TOwned<TMusicChannel>& voice) { return voice == nullptr; });
  }
  idle.clear();
  if (player) {
    player->Killer().AdoptVoices(*this);
    player->RemoveChannel(this);
  } else {
    // No player, no killer: the voices go now.
    std::vector<TOwned<TMusicChannel>> rest = TakeVoices();
  }
}

} // namespace kiv

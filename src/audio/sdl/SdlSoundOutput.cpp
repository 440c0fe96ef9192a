#include "SdlSoundOutput.h"

#include "null/NullSoundOutput.h"

#include <SDL2/SDL.h>

#include <mutex>

namespace kiv {

namespace {

constexpr int kFramesPerCallback = 1024;

// SDL keeps its audio subsystem in process-wide state and counts Init/Quit pairs; this lock keeps two
// players from initialising or quitting it at the same time.
std::mutex gSdlAudioMutex;

bool InitSdlAudio(std::string& whyNot) {
  std::lock_guard lock(gSdlAudioMutex);
  if (SDL_InitSubSystem(SDL_INIT_AUDIO) == 0) return true;
  whyNot = std::string("SDL_InitSubSystem(SDL_INIT_AUDIO): ") + SDL_GetError();
  return false;
}

void QuitSdlAudio() {
  std::lock_guard lock(gSdlAudioMutex);
  SDL_QuitSubSystem(SDL_INIT_AUDIO);
}

class TSdlSoundOutput final : public TSoundOutput {
public:
  explicit TSdlSoundOutput(SDL_AudioDeviceID device) : device_(device) {}
  ~TSdlSoundOutput() override {
    SDL_CloseAudioDevice(device_); // returns once the callback can no longer run
    QuitSdlAudio();
  }
  std::string Name() const override { return "sdl"; }

  static void SDLCALL Pull(void* user, Uint8* stream, int bytes) {
    auto& mixer = *static_cast<TSoundMixer*>(user);
    mixer.Mix(reinterpret_cast<int16_t*>(stream), bytes / (TSoundMixer::kOutputChannels * 2));
  }

  static std::unique_ptr<TSoundOutput> Open(TSoundMixer& mixer, std::string& whyNot) {
    if (!InitSdlAudio(whyNot)) return nullptr;
    SDL_AudioSpec wanted{};
    wanted.freq = mixer.OutputRate();
    wanted.format = AUDIO_S16SYS;
    wanted.channels = TSoundMixer::kOutputChannels;
    wanted.samples = kFramesPerCallback;
    wanted.callback = &Pull;
    wanted.userdata = &mixer;
    SDL_AudioSpec obtained{};
    // No changes allowed: SDL converts to whatever the device takes.
    const SDL_AudioDeviceID device = SDL_OpenAudioDevice(nullptr, 0, &wanted, &obtained, 0);
    if (device == 0) {
      whyNot = std::string("SDL_OpenAudioDevice: ") + SDL_GetError();
      QuitSdlAudio();
      return nullptr;
    }
    mixer.SetPeriodFrames(obtained.samples > 0 ? obtained.samples : kFramesPerCallback);
    auto output = std::make_unique<TSdlSoundOutput>(device);
    SDL_PauseAudioDevice(device, 0);
    return output;
  }

private:
  const SDL_AudioDeviceID device_;
};

} // namespace

TSoundOutputOpener SdlSoundBackend() {
  return [](TSoundMixer& mixer, TWorkerHost&, std::string& whyNot) {
    return TSdlSoundOutput::Open(mixer, whyNot);
  };
}

TSoundOutputFactory DefaultSoundOutputFactory() {
  TSoundOutputFactory factory;
  factory.Add("sdl", SdlSoundBackend());
  factory.Add("null", NullSoundBackend());
  return factory;
}

} // namespace kiv

// Decodes arbitrary bytes as the player would, through every converter the audio library holds: the first
// byte picks the name (and so the describer), the rest is the file. Whatever is described must decode
// without a crash, a hang or unbounded output, from the start and after a seek.

#include "ConverterFactory.h"

#include <cstdint>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace kiv;
  if (size < 1) return 0;
  static const char* const kNames[] = {"sound.wav", "sound.mp3", "sound.ogg", "sound.mp2"};
  const char* name = kNames[data[0] % 4];
  TMemoryStream stream(std::vector<uint8_t>(data + 1, data + size));
  TConverterFactory factory;
  TMediaInfo info;
  if (!factory.Describe(stream, name, info)) return 0;
  TOwned<TWavConverter> converter = factory.CreateOpened(&stream, name, info);
  if (!converter) return 0;
  if (data[0] & 4) converter->SetTarget(StandardWaveFormat());
  // Output beyond what any decoder makes of these bytes would be a runaway: MPEG at 8 kbit/s is the
  // densest, 1152 stereo samples from a 26-byte frame, then up to 6x more when resampled.
  const int64_t limit = int64_t(size) * 1024 + 1'000'000;
  int64_t total = 0;
  converter->DecodeToEnd([&](const uint8_t*, int64_t bytes) {
    total += bytes;
    if (total > limit) __builtin_trap();
  });
  converter->Seek(info.duration / 2.0);
  converter->Fill(4096);
  return 0;
}

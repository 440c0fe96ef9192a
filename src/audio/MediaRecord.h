#pragma once
// The media description record, the standard sound format and the process-wide stream helper through
// which every audio and video read passes.

#include "ObjectBase.h"
#include "Streams.h"

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

namespace kiv {

#pragma pack(push, 1)
// Laid out like the 18-byte wave format of a RIFF "fmt " chunk.
struct TWaveFormat {
  uint16_t formatTag = 0;
  uint16_t channels = 0;
  uint32_t samplesPerSec = 0;
  uint32_t avgBytesPerSec = 0;
  uint16_t blockAlign = 0;
  uint16_t bitsPerSample = 0;
  uint16_t extraSize = 0;
};
#pragma pack(pop)
static_assert(sizeof(TWaveFormat) == 18);

bool operator==(const TWaveFormat& a, const TWaveFormat& b);

// PCM, 2 channels, 44100 Hz, 16 bits.
TWaveFormat StandardWaveFormat();

enum class TMediaType : uint8_t {
  Unknown = 0,
  PcmWave = 1,
  AdpcmWave = 2,
  FloatWave = 3,
  Mpeg = 4,
  WmaPlugin = 5,
  OggPlugin = 6,
  ApePlugin = 7,
  AacPlugin = 8,
  Composite = 9,
  VideoLibrary = 10,
};

// What the audio engine knows about a sound file. Cleared before it is filled.
struct TMediaInfo {
  uint32_t dataOffset = 0;   // first audio byte in the stream
  uint32_t dataSize = 0;     // bytes of audio data
  uint32_t duration = 0;     // milliseconds
  uint32_t streamLength = 0; // MPEG: whole stream in ms at the found bit rate
  uint32_t frameLength = 0;  // MPEG: bytes per frame
  double frameTime = 0;      // MPEG: ms per frame
  uint8_t mpegInRiff = 0;
  TMediaType type = TMediaType::Unknown;
  TWaveFormat waveFormat;
  uint8_t formatExtension[32] = {}; // MS ADPCM coefficients; MPEG: [1] != 0 when a VBR header was found
};

// The table of stream functions handed to decoder libraries; every call goes through the helper.
// The stream argument is the TStream* the caller was given.
extern "C" {
struct TStreamCallbackTable {
  int64_t (*read)(void* stream, void* buffer, int64_t count);
  int64_t (*position)(void* stream);
  int64_t (*seek)(void* stream, int64_t offset, int origin);
  int64_t (*size)(void* stream);
};
}
const TStreamCallbackTable& StreamCallbacks();

// Handlers of Open/Close; a handler whose function is empty is not called. The close handler receives the
// stream to dispose of; what it does not keep is freed when it returns.
using TStreamOpenHandler = std::function<TStreamPtr(void* owner, const std::string& fileName)>;
using TStreamCloseHandler = std::function<void(void* owner, TStreamPtr stream)>;

// One per process: the decoder library is loaded once per process and reads every stream through the
// plain callbacks of StreamCallbacks(), which reach this helper. Reads, seeks and sizes hold the one lock,
// so a seek-and-read inside one call is atomic.
class TStreamWrapperClass : public TRefObj {
public:
  // The handler's stream, else the file opened read-only; nullptr when neither works. Never raises.
  // Runs without the lock: a handler may inflate a stored file for seconds, and the sounds and videos
  // already playing read through this helper meanwhile.
  TStreamPtr Open(void* owner, const std::string& fileName, const TStreamOpenHandler& handler = {});
  TStreamPtr OpenShifted(void* owner, const std::string& fileName, int64_t shift,
                         const TStreamOpenHandler& handler = {});
  // Gives the stream (of a shifted view: its inner stream) to the handler, or frees it. Under the lock, so
  // that a read of the stream in progress on another thread ends first.
  void Close(void* owner, TStreamPtr stream, const TStreamCloseHandler& handler = {});

  int64_t Position(TStream& stream);
  int64_t Size(TStream& stream);
  // origin 0 from the start, 1 from the current position, 2 backwards from the end.
  int64_t Seek(TStream& stream, int origin, int64_t offset);
  int64_t Read(TStream& stream, void* buffer, int64_t count);

private:
  std::recursive_mutex lock_; // held by Position, Size, Seek, Read and Close
};

// The process-wide helper; it lives until the program ends.
TStreamWrapperClass& StreamWrapper();
TRef<TStreamWrapperClass> StreamWrapperRef();

} // namespace kiv

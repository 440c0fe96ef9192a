#pragma once
// Where the sound engine opens the files it plays: the music player's stream handlers and converter
// factory, seen through one small interface so that a composite's members open exactly like channels do.

#include "ConverterFactory.h"
#include "MediaRecord.h"

#include <functional>
#include <string>
#include <string_view>

namespace kiv {

class TSoundFileSource {
public:
  virtual ~TSoundFileSource() = default;
  // The stream of a file name (already cut before its "?" suffix); nullptr when it cannot be opened.
  // owner is the object that asks, handed to the handlers.
  virtual TStreamPtr OpenSoundStream(void* owner, const std::string& fileName) = 0;
  // The same stream seen from its byte `shift` on.
  virtual TStreamPtr OpenShiftedSoundStream(void* owner, const std::string& fileName, int64_t shift) = 0;
  virtual void CloseSoundStream(void* owner, TStreamPtr stream) = 0;
  virtual const TConverterFactory& Converters() const = 0;
};

// The name a stream is opened under: the name cut before its last "?" (a "?2" suffix picks an audio
// stream of a video file, and is the converter's business).
std::string StreamNameOf(std::string_view fileName);

// A file opened for decoding: its description, the stream (shifted to the data when MPEG audio sits in a
// RIFF file) and an opened converter on it. Frees the converter, then closes the stream through the source.
class TOpenedSoundFile {
public:
  TOpenedSoundFile() = default;
  ~TOpenedSoundFile() { Close(); }
  TOpenedSoundFile(const TOpenedSoundFile&) = delete;
  TOpenedSoundFile& operator=(const TOpenedSoundFile&) = delete;

  // Opens, describes, and makes and opens the converter. False (and nothing held) when any step fails.
  bool Open(TSoundFileSource& source, void* owner, const std::string& fileName);
  // Opens with a description made before (no new extraction).
  bool OpenDescribed(TSoundFileSource& source, void* owner, const std::string& fileName,
                     const TMediaInfo& info);
  void Close();

  bool IsOpen() const noexcept { return converter_ != nullptr; }
  const TMediaInfo& Info() const noexcept { return info_; }
  TWavConverter* Converter() const noexcept { return converter_.get(); }

private:
  TSoundFileSource* source_ = nullptr;
  void* owner_ = nullptr;
  TMediaInfo info_;
  TStreamPtr stream_;
  TOwned<TWavConverter> converter_; // goes before the stream
};

// Describes a file through the source; false when it cannot be opened or described. Never raises.
bool DescribeSoundFile(TSoundFileSource& source, void* owner, const std::string& fileName, TMediaInfo& info);

} // namespace kiv

namespace kiv {

// Names that stand for sound without being files (a composite music text): the player asks these before
// it opens a stream. Set up with the player, read-only afterwards.
struct TNamedSoundHooks {
  // True when the name is one of these; info is then filled, or left of type 0 when it describes nothing.
  std::function<bool(const std::string& name, TMediaInfo& info)> describe;
  // An unopened converter for such a name; its members are opened through the source.
  std::function<TOwned<TWavConverter>(TSoundFileSource& source, const std::string& name,
                                      const TMediaInfo& info)>
      createConverter;
};

} // namespace kiv

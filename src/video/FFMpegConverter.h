#pragma once
// Sound files that only the video decoder library reads (WMA, AAC, APE, FLAC, Opus, the sound of clips):
// the converter over the library's audio stream, the probe that describes such files, and their
// registration with a player's converter factory (the audio library sits below this one and cannot name
// them itself).

#include "ConverterFactory.h"
#include "DecoderLibrary.h"
#include "PcmResampler.h"
#include "WavConverter.h"

#include <memory>
#include <string>

namespace kiv {

class TFFMpegConverter : public TWavConverter {
public:
  // fileName may end in "?N": the file's audio stream number N (0 without it).
  TFFMpegConverter(TStream* stream, std::string fileName);
  ~TFFMpegConverter() override;

  // Describes a file the library can open: type 10, the standard format, its duration. The name the
  // library sees is "qwe" + the file name cut before its last "?" (only its extension matters there).
  static bool Describe(TStream& stream, const std::string& fileName, TMediaInfo& info);

  void Seek(double ms) override;
  bool Convert(TLocalBuffer& input) override;
  bool ReadInput() override;
  bool Open(const TMediaInfo& info) override;
  const char* KindName() const override { return "ffmpeg"; }

private:
  void CloseAll() noexcept;

  std::string fileName_;
  int audioStream_ = 0;
  TLocalBuffer decoded_; // the library's samples, in the standard format
  std::shared_ptr<TFFMpegDll> dll_;
  TKivMedia* media_ = nullptr;
  bool audioOpen_ = false;
  TPcmResampler libraryResampler_; // from the library's rate and channels to the standard format
  bool resample_ = false;
  bool ended_ = false; // the library has delivered its last sample
};

// Lets the factory make converters for type 10 and describe files through the library. The library is
// loaded when first needed; where it cannot be, such files get no description and no converter.
void RegisterVideoLibraryDecoders(TConverterFactory& factory);

// The file name cut before its last "?", and the stream number after it (0 when none or not a number).
std::string NameBeforeSuffix(const std::string& fileName);
int StreamNumberOfSuffix(const std::string& fileName);

} // namespace kiv

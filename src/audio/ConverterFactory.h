#pragma once
// Picks the converter for a described sound file, and describes what the wave and MPEG parsers cannot:
// Ogg Vorbis here, anything else through a probe that a library above this one registers (the video
// decoder library). One factory per player; what is registered is set up before the player starts and
// only read afterwards, so the factory needs no lock.

#include "MediaRecord.h"
#include "SoundFileInfo.h"
#include "WavConverter.h"

#include <functional>
#include <map>
#include <string>

namespace kiv {

// Makes an unopened converter over the stream (not owned) for the file of this name.
using TConverterMaker = std::function<TOwned<TWavConverter>(TStream* stream, const std::string& fileName)>;

class TConverterFactory {
public:
  // Wave (PCM and float), MS ADPCM, MPEG audio and Ogg Vorbis are built in.
  TConverterFactory();

  // Replaces the maker of a type.
  void Register(TMediaType type, TConverterMaker maker);
  // The last resort of Probe: a decoder library that reads many formats.
  void SetLibraryProbe(TMediaInfoHook probe);
  bool HasLibraryProbe() const noexcept { return static_cast<bool>(libraryProbe_); }

  // A new, unopened converter for the description's type; nullptr when no decoder is there for it.
  TOwned<TWavConverter> Create(TStream* stream, const std::string& fileName, const TMediaInfo& info) const;
  // Create, then Open; nullptr when either fails.
  TOwned<TWavConverter> CreateOpened(TStream* stream, const std::string& fileName,
                                     const TMediaInfo& info) const;

  // The fallback of the extractor: ".ogg" names are tried as Ogg Vorbis, then the library probe.
  bool Probe(TStream& stream, const std::string& fileName, TMediaInfo& info) const;
  // Describes a file as the player does: wave and MPEG parsers first, then Probe.
  bool Describe(TStream& stream, const std::string& fileName, TMediaInfo& info) const;

private:
  std::map<TMediaType, TConverterMaker> makers_;
  TMediaInfoHook libraryProbe_;
};

} // namespace kiv

#include "ConverterFactory.h"

#include "AdpcmConverter.h"
#include "Assert.h"
#include "MpegConverter.h"
#include "OggConverter.h"

namespace kiv {

TConverterFactory::TConverterFactory() {
  const TConverterMaker wave = [](TStream* stream, const std::string&) {
    return MakeOwned<TWavConverter>(stream);
  };
  makers_[TMediaType::PcmWave] = wave;
  makers_[TMediaType::FloatWave] = wave;
  makers_[TMediaType::AdpcmWave] = [](TStream* stream, const std::string&) -> TOwned<TWavConverter> {
    return MakeOwned<TAdpcmConverter>(stream);
  };
  makers_[TMediaType::Mpeg] = [](TStream* stream, const std::string&) -> TOwned<TWavConverter> {
    return MakeOwned<TMpegConverter>(stream);
  };
  makers_[TMediaType::OggPlugin] = [](TStream* stream, const std::string&) -> TOwned<TWavConverter> {
    return MakeOwned<TOggConverter>(stream);
  };
}

void TConverterFactory::Register(TMediaType type, TConverterMaker maker) {
  makers_[type] = std::move(maker);
}

void TConverterFactory::SetLibraryProbe(TMediaInfoHook probe) {
  libraryProbe_ = std::move(probe);
}

TOwned<TWavConverter> TConverterFactory::Create(TStream* stream, const std::string& fileName,
                                                const TMediaInfo& info) const {
  const auto found = makers_.find(info.type);
  if (found != makers_.end() && found->second) return found->second(stream, fileName);
  switch (info.type) {
  case TMediaType::WmaPlugin:
  case TMediaType::ApePlugin:
  case TMediaType::AacPlugin:
  case TMediaType::VideoLibrary:
    return nullptr; // no decoder loaded for it
  default:
    ReportAssertion(kAssertionFailure, __FILE__, __LINE__);
    return nullptr;
  }
}

TOwned<TWavConverter> TConverterFactory::CreateOpened(TStream* stream, const std::string& fileName,
                                                      const TMediaInfo& info) const {
  TOwned<TWavConverter> converter = Create(stream, fileName, info);
  if (!converter || !converter->Open(info)) return nullptr;
  return converter;
}

bool TConverterFactory::Probe(TStream& stream, const std::string& fileName, TMediaInfo& info) const {
  info = TMediaInfo();
  // The plug-ins for ".wma", ".ape", ".mac" and ".aac" are never loaded: those go to the library.
  if (MediaExtension(fileName) == ".ogg" && TOggConverter::Describe(stream, info)) return true;
  info = TMediaInfo();
  return libraryProbe_ && libraryProbe_(stream, fileName, info);
}

bool TConverterFactory::Describe(TStream& stream, const std::string& fileName, TMediaInfo& info) const {
  return TMediaInfoExtractor::Extract(
      stream, fileName, info,
      [this](TStream& s, const std::string& name, TMediaInfo& record) { return Probe(s, name, record); });
}

} // namespace kiv

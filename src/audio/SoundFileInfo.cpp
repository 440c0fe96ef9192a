#include "SoundFileInfo.h"

#include "MpegAudioInfo.h"
#include "WaveInfo.h"

#include <cstring>

namespace kiv {
namespace {

TMediaInfoHook& FallbackHook() {
  static TMediaInfoHook hook;
  return hook;
}

bool RunFallback(const TMediaInfoHook& hook, TStream& stream, const std::string& fileName,
                 TMediaInfo& info) {
  info = TMediaInfo();
  if (!hook) return false;
  try {
    if (hook(stream, fileName, info)) return true;
  } catch (const std::exception&) {
  }
  info = TMediaInfo();
  return false;
}

} // namespace

std::string MediaExtension(const std::string& fileName) {
  const size_t dot = fileName.rfind('.');
  if (dot == std::string::npos || fileName.find('/', dot) != std::string::npos) return {};
  std::string ext = fileName.substr(dot);
  for (char& c : ext)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return ext;
}

bool TMediaInfoExtractor::Extract(TStream& stream, const std::string& fileName, TMediaInfo& info) {
  return Extract(stream, fileName, info, FallbackHook());
}

bool TMediaInfoExtractor::Extract(TStream& stream, const std::string& fileName, TMediaInfo& info,
                                  const TMediaInfoHook& fallback) {
  info = TMediaInfo();
  try {
    uint8_t head[8];
    TStreamWrapperClass& helper = StreamWrapper();
    helper.Seek(stream, 0, 0);
    if (helper.Read(stream, head, 8) < 8) return false;
    if (std::memcmp(head, "RIFF", 4) == 0) {
      if (TRiffInfo().Parse(stream, info)) return true;
      return RunFallback(fallback, stream, fileName, info);
    }
    const std::string ext = MediaExtension(fileName);
    if (ext == ".mp3" || ext == ".mp2" || ext == ".mp1") {
      if (TMpegInfo().Parse(stream, 0, 0, info)) return true;
      info = TMediaInfo();
      return false;
    }
    return RunFallback(fallback, stream, fileName, info);
  } catch (const std::exception&) {
    info = TMediaInfo();
    return false;
  }
}

void TMediaInfoExtractor::SetFallback(TMediaInfoHook hook) {
  FallbackHook() = std::move(hook);
}

const TMediaInfoHook& TMediaInfoExtractor::Fallback() {
  return FallbackHook();
}

} // namespace kiv

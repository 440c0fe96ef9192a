#pragma once
// Opening frame sources through the process-wide factory, and the table of video parameters kept for
// every file opened, so that a clip's size and rate are known again without decoding.

#include "DecoderFrameSource.h"

#include <functional>
#include <memory>
#include <string>

namespace kiv {

// Makes a source reading `stream`. owned holds the same stream when the source is to own it, else it is
// empty and the stream outlives the source. What the factory does not adopt is freed when it returns or
// throws.
using TFrameSourceFactory = std::function<std::unique_ptr<TFrameSource>(TStream& stream, TStreamPtr owned,
                                                                        const std::string& fileName)>;

// Replaces the factory (the default makes a TWinVideoSource); an empty function restores the default.
void SetFrameSourceFactory(TFrameSourceFactory factory);

// A frame source for the stream, or nullptr. The stream is freed with the source when ownsStream (and
// at once when no source is made). Never raises.
std::unique_ptr<TFrameSource> OpenVideoSource(TStream* stream, bool ownsStream, const std::string& fileName);
std::unique_ptr<TFrameSource> OpenVideoSource(TStreamPtr stream, const std::string& fileName);

struct TVideoClipParams {
  int width = 0;
  int height = 0;
  double frameRate = 0;
  int64_t frameCount = 0;
  TAspectKind aspectKind = TAspectKind::Other;
  bool interlaced = false;
  bool bottomFieldFirst = false;
  std::string codecName;
  int64_t fileSize = 0;
};

// The key of a file in the table: name + ":" + its modification date "DD.MM.YYYY"; "" when the file
// is not on disk.
std::string VideoParamsKey(const std::string& fileName, int64_t* fileSize = nullptr);
bool FindVideoParams(const std::string& key, TVideoClipParams& params);
int VideoParamsCount();

} // namespace kiv

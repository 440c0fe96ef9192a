#include "SoundFileSource.h"

#include "Log.h"

#include <exception>

namespace kiv {

std::string StreamNameOf(std::string_view fileName) {
  const size_t mark = fileName.rfind('?');
  return std::string(mark == std::string_view::npos ? fileName : fileName.substr(0, mark));
}

bool DescribeSoundFile(TSoundFileSource& source, void* owner, const std::string& fileName, TMediaInfo& info) {
  info = TMediaInfo();
  TStreamPtr stream;
  try {
    stream = source.OpenSoundStream(owner, StreamNameOf(fileName));
  } catch (const std::exception&) {
    stream = nullptr;
  }
  if (!stream) return false;
  bool described = false;
  try {
    described = source.Converters().Describe(*stream, fileName, info);
  } catch (const std::exception& e) {
    LogLine(std::string("DescribeSoundFile: ") + e.what());
  }
  source.CloseSoundStream(owner, std::move(stream));
  if (!described) info = TMediaInfo();
  return described;
}

bool TOpenedSoundFile::Open(TSoundFileSource& source, void* owner, const std::string& fileName) {
  TMediaInfo info;
  if (!DescribeSoundFile(source, owner, fileName, info)) return false;
  return OpenDescribed(source, owner, fileName, info);
}

bool TOpenedSoundFile::OpenDescribed(TSoundFileSource& source, void* owner, const std::string& fileName,
                                     const TMediaInfo& info) {
  Close();
  source_ = &source;
  owner_ = owner;
  info_ = info;
  const std::string streamName = StreamNameOf(fileName);
  try {
    if (info_.type == TMediaType::Mpeg && info_.mpegInRiff && info_.dataOffset > 0) {
      // The MPEG decoder reads the frames as if they began the file.
      stream_ = source.OpenShiftedSoundStream(owner, streamName, info_.dataOffset);
      info_.dataOffset = 0;
    } else {
      stream_ = source.OpenSoundStream(owner, streamName);
    }
    if (stream_) {
      StreamWrapper().Seek(*stream_, 0, 0);
      converter_ = source.Converters().CreateOpened(stream_.get(), fileName, info_);
    }
  } catch (const std::exception& e) {
    LogLine(std::string("TOpenedSoundFile.Open: ") + e.what());
    converter_ = nullptr;
  }
  if (!converter_) {
    Close();
    return false;
  }
  return true;
}

void TOpenedSoundFile::Close() {
  converter_ = nullptr;
  if (stream_ && source_) source_->CloseSoundStream(owner_, std::move(stream_));
  stream_ = nullptr;
}

} // namespace kiv

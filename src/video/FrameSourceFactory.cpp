#include "FrameSourceFactory.h"

#include <sys/stat.h>

#include <cstdio>
#include <ctime>
#include <mutex>
#include <utility>
#include <vector>

namespace kiv {
namespace {

// Process-wide: the factory is installed once at start-up, and the table holds facts about files on disk
// (keyed by name and date) that hold for every player.
struct TRegistry {
  std::mutex lock;
  TFrameSourceFactory factory;                                  // under lock
  std::vector<std::pair<std::string, TVideoClipParams>> table; // under lock
};

TRegistry& Registry() {
  static TRegistry registry;
  return registry;
}

std::unique_ptr<TFrameSource> DefaultFactory(TStream& stream, TStreamPtr owned, const std::string& fileName) {
  if (owned) return MakeWinVideoSource(std::move(owned), fileName);
  return MakeWinVideoSource(stream, fileName);
}

// Reads the owned stream when there is one, else the borrowed one.
std::unique_ptr<TFrameSource> OpenSource(TStreamPtr owned, TStream* borrowed, const std::string& fileName) {
  TStream* stream = owned ? owned.get() : borrowed;
  if (!stream) return nullptr;
  TFrameSourceFactory factory;
  {
    std::lock_guard guard(Registry().lock);
    factory = Registry().factory;
  }
  std::unique_ptr<TFrameSource> source;
  try {
    source = factory ? factory(*stream, std::move(owned), fileName)
                     : DefaultFactory(*stream, std::move(owned), fileName);
  } catch (const std::exception&) {
    source.reset();
  }
  if (!source) return nullptr;
  int64_t size = 0;
  const std::string key = VideoParamsKey(fileName, &size);
  if (key.empty()) return source;
  std::lock_guard guard(Registry().lock);
  auto& table = Registry().table;
  for (const auto& entry : table)
    if (entry.first == key) return source;
  if (table.capacity() == 0) table.reserve(16);
  TVideoClipParams params;
  params.width = source->width;
  params.height = source->height;
  params.frameRate = source->frameRate;
  params.frameCount = source->frameCount;
  params.aspectKind = source->aspectKind;
  params.interlaced = source->interlaced;
  params.bottomFieldFirst = source->bottomFieldFirst;
  params.codecName = source->codecName;
  params.fileSize = size;
  table.emplace_back(key, std::move(params));
  return source;
}

} // namespace

void SetFrameSourceFactory(TFrameSourceFactory factory) {
  std::lock_guard guard(Registry().lock);
  Registry().factory = std::move(factory);
}

std::string VideoParamsKey(const std::string& fileName, int64_t* fileSize) {
  struct stat st {};
  if (::stat(fileName.c_str(), &st) != 0) return {};
  if (fileSize) *fileSize = st.st_size;
  std::tm local{};
  const time_t modified = st.st_mtime;
  localtime_r(&modified, &local);
  char date[48];
  std::snprintf(date, sizeof(date), "%02d.%02d.%04d", local.tm_mday, local.tm_mon + 1, local.tm_year + 1900);
  return fileName + ":" + date;
}

std::unique_ptr<TFrameSource> OpenVideoSource(TStream* stream, bool ownsStream, const std::string& fileName) {
  return OpenSource(TStreamPtr(ownsStream ? stream : nullptr), ownsStream ? nullptr : stream, fileName);
}

std::unique_ptr<TFrameSource> OpenVideoSource(TStreamPtr stream, const std::string& fileName) {
  return OpenSource(std::move(stream), nullptr, fileName);
}

bool FindVideoParams(const std::string& key, TVideoClipParams& params) {
  std::lock_guard guard(Registry().lock);
  for (const auto& entry : Registry().table) {
    if (entry.first == key) {
      params = entry.second;
      return true;
    }
  }
  return false;
}

int VideoParamsCount() {
  std::lock_guard guard(Registry().lock);
  return static_cast<int>(Registry().table.size());
}

} // namespace kiv

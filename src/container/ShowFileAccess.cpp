#include "ShowFileAccess.h"

#include "SharedImageCache.h"

#include "LoadYield.h"
#include "ShowPaths.h"
#include "StreamViews.h"
#include "Utf8Conversion.h"

#include <algorithm>
#include <atomic>
#include <charconv>

namespace kiv {
namespace {

std::atomic<int> gSourceCounter{0};

std::u16string_view Trim(std::u16string_view text) {
  while (!text.empty() && text.front() <= 32)
    text.remove_prefix(1);
  while (!text.empty() && text.back() <= 32)
    text.remove_suffix(1);
  return text;
}

bool IsQuoted(std::u16string_view text) {
  return text.size() >= 2 && text.front() == u'"' && text.back() == u'"';
}

std::u16string_view Unquote(std::u16string_view text) {
  return IsQuoted(text) ? text.substr(1, text.size() - 2) : text;
}

// Splits at the first "=" outside double quotes; the sides are trimmed but not yet unquoted.
bool SplitAssignment(std::u16string_view line, std::u16string_view& left, std::u16string_view& right) {
  bool quoted = false;
  for (size_t i = 0; i < line.size(); ++i) {
    if (line[i] == u'"') quoted = !quoted;
    if (line[i] == u'=' && !quoted) {
      left = Trim(line.substr(0, i));
      right = Trim(line.substr(i + 1));
      return true;
    }
  }
  return false;
}

// The raw text of a line of a section, whatever its kind; false for blank lines and nested objects.
bool LineText(const TCommonIniItem& item, std::u16string& text) {
  if (item.AsCollection()) return false;
  std::vector<std::u16string> lines;
  TIniStringsSink sink(lines);
  item.WriteOwnLine(sink);
  if (lines.empty() || lines.front().empty()) return false;
  text = std::move(lines.front());
  return true;
}

TOwned<TStream> OpenLocalFile(const std::string& path) {
  if (!FileExists(path)) return nullptr;
  try {
    return MakeOwned<TFileStreamEx>(path);
  } catch (const EStreamError&) {
    return nullptr;
  }
}

// A disk file by a name as shows write it; letter case is ignored when the exact name is missing.
TOwned<TStream> OpenShowNamedFile(const std::string& localPath) {
  if (TOwned<TStream> stream = OpenLocalFile(localPath)) return stream;
  const std::string found = FindPathIgnoringCase(localPath);
  return found.empty() || found == localPath ? nullptr : OpenLocalFile(found);
}

void AttachLoadCallBack(TPartialStream& window) {
  window.SetProgressCallback(LoadCallBack, TPartialStream::kDefaultChunkSize);
}

} // namespace

TFileSource::TFileSource() : number_(++gSourceCounter), images_(TRef<TImageCache>::Make()) {}

TFileSource::~TFileSource() = default;

std::vector<TImageProviderFunc> TFileSource::ImageProviders() {
  std::lock_guard lock(lock_);
  std::vector<TImageProviderFunc> functions;
  for (const TCallbackHandle* handle : providers_)
    functions.push_back(handle->function_);
  return functions;
}

TCallbackHandle::TCallbackHandle(TFileSource& source, TImageProviderFunc function)
    : source_(TRef<TFileSource>::Share(&source)), function_(std::move(function)) {}

TCallbackHandle::~TCallbackHandle() {
  std::lock_guard lock(source_->lock_);
  std::erase(source_->providers_, this);
}

std::unique_ptr<TCallbackHandle> AddImageProvider(TFileSource& source, TImageProviderFunc function) {
  std::unique_ptr<TCallbackHandle> handle(new TCallbackHandle(source, std::move(function)));
  std::lock_guard lock(source.lock_);
  source.providers_.push_back(handle.get());
  return handle;
}

TOwned<TStream> TRealFileSource::OpenFile(std::u16string_view name) {
  try {
    return OpenShowNamedFile(ToLocalPath(ExpandPathMacros(Utf16ToUtf8(name))));
  } catch (const std::exception&) {
    return nullptr;
  }
}

TMappedFileSource::TMappedFileSource(std::string baseFolder)
    : baseFolder_(IncludeTrailingSlash(baseFolder)) {}

bool TMappedFileSource::ResolveMapping(std::u16string_view name, std::u16string& target) const {
  target.assign(name);
  for (int step = 0; step <= kMaxMapChain; ++step) {
    const TMappingStr* next = fileMap_.FindFirst(target);
    if (!next) return true;
    target = next->target;
  }
  target.clear();
  return false;
}

TOwned<TStream> TMappedFileSource::OpenFile(std::u16string_view name) {
  try {
    std::u16string target;
    if (!ResolveMapping(name, target)) return nullptr;
    return OpenUnmapped(target);
  } catch (const std::exception&) {
    return nullptr;
  }
}

TOwned<TStream> TMappedFileSource::OpenUnmapped(std::u16string_view name) {
  const std::string local = ToLocalPath(Utf16ToUtf8(name));
  if (local.empty()) return nullptr;
  if (local.front() == '/') return OpenShowNamedFile(local);
  // The author's drive means nothing here: the file is looked for in the project's folder.
  if (HasDriveLetter(local))
    return baseFolder_.empty() ? nullptr : OpenShowNamedFile(baseFolder_ + ExtractFileName(local));
  // Relative names are the project's own, never a file of the folder the program was started from.
  return OpenShowNamedFile(ExpandFileName(baseFolder_, local));
}

void TMappedFileSource::AddMapping(std::u16string_view name, std::u16string_view target) {
  fileMap_.Add(name, TMappingStr{std::u16string(target)});
}

void TMappedFileSource::AddRotation(std::u16string_view name, int orientation) {
  rotationMap_.Add(name, orientation);
  if (!ImageDecodeHook()) SetImageDecodeHook([this](std::u16string_view file) { return Orientation(file); });
}

int TMappedFileSource::Orientation(std::u16string_view name) const {
  const int* orientation = rotationMap_.FindFirst(name);
  return orientation ? *orientation : kOrientNormal;
}

void TMappedFileSource::LoadMaps(const TIniStorage& project) {
  std::u16string text, name, target;
  int orientation = 0;
  if (const TIniSection* section = project.FindSection(u"FileMap"))
    for (const TCommonIniItem* item = section->FirstChild(); item; item = item->Next())
      if (LineText(*item, text) && ParseFileMapLine(text, name, target)) AddMapping(name, target);
  if (const TIniSection* section = project.FindSection(u"RotationState"))
    for (const TCommonIniItem* item = section->FirstChild(); item; item = item->Next())
      if (LineText(*item, text) && ParseRotationLine(text, name, orientation)) AddRotation(name, orientation);
}

TPackedFileSource::TPackedFileSource(TOwned<TKivUnpack> unpack, std::string showFolder)
    : TMappedFileSource(std::move(showFolder)), unpack_(std::move(unpack)) {}

TOwned<TStream> TPackedFileSource::OpenUnmapped(std::u16string_view name) {
  TOwned<TStream> stream = unpack_->OpenEntry(name);
  if (!stream) return nullptr;
  if (auto* window = dynamic_cast<TPartialStream*>(stream.get())) {
    AttachLoadCallBack(*window);
  } else if (auto* crypt = dynamic_cast<TCryptStream*>(stream.get())) {
    if (auto* inner = dynamic_cast<TPartialStream*>(&crypt->Source())) AttachLoadCallBack(*inner);
  } else {
    const int64_t size = stream->GetSize();
    stream = MakeOwned<TPartialStream>(std::move(stream), 0, size, TPartialStream::kDefaultChunkSize,
                                       TProgressCallback(LoadCallBack));
  }
  return stream;
}

TFileAccessor::TFileAccessor(TRef<TFileSource> source, std::string showFolder)
    : source_(std::move(source)), showFolder_(IncludeTrailingSlash(showFolder)) {}

void TFileAccessor::SetShowFolder(std::string folder) {
  showFolder_ = IncludeTrailingSlash(folder);
}

TRef<TFileAccessor> TFileAccessor::Clone() const {
  return TRef<TFileAccessor>::Make(source_, showFolder_);
}

TOwned<TStream> Open(TFileAccessor& accessor, std::u16string_view name) {
  TOwned<TStream> stream;
  try {
    {
      std::lock_guard lock(accessor.Source().Lock());
      stream = accessor.Source().OpenFile(name);
    }
    if (stream) {
      const int64_t size = stream->GetSize();
      stream = MakeOwned<TPartialStream>(std::move(stream), 0, size, TPartialStream::kDefaultChunkSize,
                                         TProgressCallback(LoadCallBack));
    }
    if (stream && accessor.filter_) accessor.filter_(name, stream);
    if (!stream && accessor.fallback_) stream = accessor.fallback_(name);
  } catch (const std::exception&) {
    stream.reset();
  }
  return stream;
}

bool ResolveDiskFile(const TFileAccessor& accessor, std::u16string& name) {
  const std::string local = ToLocalPath(Utf16ToUtf8(name));
  // Relative names are the show's, never the working folder's; the author's drive letters mean nothing here.
  const auto inShow = [&accessor](const std::string& path) -> std::string {
    if (path.empty() || HasDriveLetter(path)) return {};
    return path.front() == '/' ? path : ExpandFileName(accessor.ShowFolder(), path);
  };
  const std::string candidates[] = {inShow(local), inShow(ToLocalPath(ExpandPathMacros(local))),
                                    inShow(accessor.ShowFolder() + ExtractFileName(local))};
  for (const std::string& candidate : candidates) {
    if (candidate.empty()) continue;
    std::string found = FileExists(candidate) ? candidate : FindPathIgnoringCase(candidate);
    if (FileExists(found)) {
      name = Utf8ToUtf16(found);
      return true;
    }
  }
  return false;
}

TOwned<TStream> OpenDiskFile(const TFileAccessor& accessor, std::u16string_view name) {
  std::u16string path(name);
  return ResolveDiskFile(accessor, path) ? OpenLocalFile(Utf16ToUtf8(path)) : nullptr;
}

bool ParseFileMapLine(std::u16string_view line, std::u16string& name, std::u16string& target) {
  line = Trim(line);
  if (!line.empty() && line.front() == u';') line.remove_prefix(1);
  std::u16string_view left, right;
  if (!SplitAssignment(line, left, right)) return false;
  left = Unquote(left);
  right = Unquote(right);
  if (left.empty() || right.empty()) return false;
  name.assign(left);
  target.assign(right);
  return true;
}

bool ParseRotationLine(std::u16string_view line, std::u16string& name, int& orientation) {
  line = Trim(line);
  if (line.empty() || line.front() != u';') return false;
  std::u16string_view left, right;
  if (!SplitAssignment(line.substr(1), left, right) || !IsQuoted(left) || left.size() == 2) return false;
  if (right.size() != 1) return false;
  const int value = right.front() - u'0';
  if (value != 1 && value != 3 && value != 6 && value != 8) return false;
  name.assign(Unquote(left));
  orientation = value;
  return true;
}

TRef<TFileAccessor> DiskAccessor() {
  static const TRef<TFileAccessor> accessor =
      TRef<TFileAccessor>::Make(TRef<TFileSource>(TRef<TRealFileSource>::Make()), ProgramFolder());
  return accessor;
}

} // namespace kiv

#pragma once
// Every show file is opened by name through a file accessor. Behind it sits a file source: plain files on
// disk, a project's files on disk redirected by its file map, or a packed show (also redirected by its map).

#include "CachedBitmap.h"
#include "NameHashList.h"
#include "IniDocument.h"
#include "PackedShowReader.h"
#include "ObjectBase.h"
#include "Streams.h"

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace kiv {

class TCallbackHandle;
class TFileSource;
class TImageCache;

// Supplies a picture for a file name before the file itself is decoded (slide hosts register them).
using TImageProviderFunc = std::function<TRef<TCachedBitmap>(TFileSource& source, std::u16string_view name)>;
// The orientation a file's picture is stored in (TImageOrientation); 1 for files not listed.
using TImageDecodeHook = std::function<int(std::u16string_view name)>;

class TFileSource : public TRefObj {
public:
  TFileSource();
  ~TFileSource() override;

  // The stream of the named file, or nullptr. Callers hold Lock() (Open does); raises nothing.
  virtual TOwned<TStream> OpenFile(std::u16string_view name) = 0;

  std::mutex& Lock() noexcept { return lock_; }
  // Unique within the process: the image cache tells sources apart by it.
  int Number() const noexcept { return number_; }

  // Set while the source is built, before it is shared.
  void SetImageDecodeHook(TImageDecodeHook hook) { decodeHook_ = std::move(hook); }
  const TImageDecodeHook& ImageDecodeHook() const noexcept { return decodeHook_; }

  // The providers' functions in the order they were added (a copy: callers run them without the lock).
  std::vector<TImageProviderFunc> ImageProviders();

  // The decoded pictures of this source's files (SharedImageCache.h). Never nullptr.
  TImageCache& Images() const noexcept { return *images_; }

private:
  friend class TCallbackHandle;
  friend std::unique_ptr<TCallbackHandle> AddImageProvider(TFileSource& source, TImageProviderFunc function);

  std::mutex lock_; // OpenFile and the provider list
  int number_;
  std::vector<TCallbackHandle*> providers_;
  TImageDecodeHook decodeHook_;
  const TRef<TImageCache> images_; // set at creation; locks itself
};

// One image provider; destroying it removes it from its source.
class TCallbackHandle {
public:
  ~TCallbackHandle();
  TCallbackHandle(const TCallbackHandle&) = delete;
  TCallbackHandle& operator=(const TCallbackHandle&) = delete;

  TFileSource& Source() const noexcept { return *source_; }

private:
  friend std::unique_ptr<TCallbackHandle> AddImageProvider(TFileSource& source, TImageProviderFunc function);
  friend class TFileSource;
  TCallbackHandle(TFileSource& source, TImageProviderFunc function);

  TRef<TFileSource> source_;
  TImageProviderFunc function_;
};

std::unique_ptr<TCallbackHandle> AddImageProvider(TFileSource& source, TImageProviderFunc function);

// Plain files on disk, named as shows name them (see ShowPaths.h), "%styles%" expanded.
class TRealFileSource : public TFileSource {
public:
  TOwned<TStream> OpenFile(std::u16string_view name) override;
};

// One line of a file map: the name to open instead.
struct TMappingStr {
  std::u16string target;
};

// A file map of a project on disk: mapped names open their first target, every other name opens the disk
// file of that name.
class TMappedFileSource : public TFileSource {
public:
  // A chain longer than this (or one that comes back to a name it passed) opens no file: a show whose
  // map loops must not take the program down.
  static constexpr int kMaxMapChain = 32;

  // baseFolder: the project's folder, which relative names are taken in (and names on the author's drive
  // by their file part); absolute names open as written.
  explicit TMappedFileSource(std::string baseFolder = {});

  TOwned<TStream> OpenFile(std::u16string_view name) override;

  // Reads "FileMap" and "RotationState" of the project; sets the decode hook when a file is rotated.
  void LoadMaps(const TIniStorage& project);
  void AddMapping(std::u16string_view name, std::u16string_view target);
  void AddRotation(std::u16string_view name, int orientation);

  const THashList<TMappingStr>& FileMap() const noexcept { return fileMap_; }
  // 1 for names not listed.
  int Orientation(std::u16string_view name) const;
  // The end of name's mapping chain ("" when the chain loops or is too long); name itself when unmapped.
  // Caller holds Lock().
  bool ResolveMapping(std::u16string_view name, std::u16string& target) const;

protected:
  // The file behind a name the map does not know.
  virtual TOwned<TStream> OpenUnmapped(std::u16string_view name);

private:
  std::string baseFolder_;
  THashList<TMappingStr> fileMap_{kFileMapBuckets};
  THashList<int> rotationMap_{kFileMapBuckets}; // read-only once the source is shared
};

// A packed show: unmapped names are its stored files.
class TPackedFileSource : public TMappedFileSource {
public:
  TPackedFileSource(TOwned<TKivUnpack> unpack, std::string showFolder);
  const TKivUnpack& Unpack() const noexcept { return *unpack_; }

protected:
  TOwned<TStream> OpenUnmapped(std::u16string_view name) override;

private:
  TOwned<TKivUnpack> unpack_;
};

// Called with every stream the accessor opens; may replace it.
using TStreamFilter = std::function<void(std::u16string_view name, TOwned<TStream>& stream)>;
// Asked when the source has no such file.
using TFallbackOpener = std::function<TOwned<TStream>(std::u16string_view name)>;

class TFileAccessor : public TRefObj {
public:
  // showFolder: a folder to re-base names of disk files on; stored with a trailing "/".
  TFileAccessor(TRef<TFileSource> source, std::string showFolder);

  TFileSource& Source() const noexcept { return *source_; }
  const TRef<TFileSource>& SourceRef() const noexcept { return source_; }
  const std::string& ShowFolder() const noexcept { return showFolder_; }
  void SetShowFolder(std::string folder);

  void SetStreamFilter(TStreamFilter filter) { filter_ = std::move(filter); }
  const TStreamFilter& StreamFilter() const noexcept { return filter_; }
  void SetFallbackOpener(TFallbackOpener opener) { fallback_ = std::move(opener); }

  // A new accessor on the same source with the same show folder (filter and fallback stay behind).
  TRef<TFileAccessor> Clone() const;

private:
  friend TOwned<TStream> Open(TFileAccessor& accessor, std::u16string_view name);
  TRef<TFileSource> source_;
  std::string showFolder_;
  TStreamFilter filter_;
  TFallbackOpener fallback_;
};

// The one way to read a show file: a window over the file that calls the load callback as it reads, or
// nullptr. Never raises.
TOwned<TStream> Open(TFileAccessor& accessor, std::u16string_view name);

// For files that must exist on disk: the name itself, its macro expansion, or the show folder + its file
// part, whichever exists first (letter case ignored when nothing matches exactly). Relative names are
// taken in the show folder, names on the author's drive ("C:...") only by their file part. name becomes
// that path.
bool ResolveDiskFile(const TFileAccessor& accessor, std::u16string& name);
TOwned<TStream> OpenDiskFile(const TFileAccessor& accessor, std::u16string_view name);

// A line of "FileMap": the name the project uses and the file to open instead; false for lines without
// "=" or with an empty side.
bool ParseFileMapLine(std::u16string_view line, std::u16string& name, std::u16string& target);
// A line ;"name"=N of "RotationState" with N one of 1, 3, 6, 8.
bool ParseRotationLine(std::u16string_view line, std::u16string& name, int& orientation);

// The accessor over plain disk files, made on first use and kept for the whole run.
TRef<TFileAccessor> DiskAccessor();

} // namespace kiv

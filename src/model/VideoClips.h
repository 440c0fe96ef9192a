#pragma once
// Video clips of a show as slide objects use them: the clip descriptions of the show's video container
// ("tracks"), the map from show time to clip time, the clip's shared extractor (TExtractorWrapper) and the
// host's list of them. A clip shown by several objects (on several slides) is decoded once.

#include "DrawTree.h"
#include "IniDocument.h"
#include "ObjectBase.h"
#include "VideoExtractor.h"
#include "WorkerThread.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace kiv {

class TFileAccessor;
class TDeviceYUVImage;
class TThreadHost;

// A clip of the video container.
struct TVideoClip2 {
  bool loadFromDisk = false;
  std::u16string fileName;
  double duration = 0;   // ms
  double startVideo = 0; // ms inside the video
  double startShow = 0;  // ms on the show's time line (StartKIVTime)
  double speed = 1;      // FPSMultiplier
  std::u16string caption;
  int32_t startSlide = 0; // StartSlideIdx
  bool mute = false;
  std::u16string masterId;
  std::u16string guid;
};

TVideoClip2 ReadVideoClip(const TCommonIniSection& node);
// The clip whose GUID is `guid` among the objects of the container; none without a container or match.
std::optional<TVideoClip2> FindVideoClip(const TCommonIniSection* tracks, std::u16string_view guid);
// Where a clip starts on the show's time line: opt_synchpos + its StartSlideIdx from main, 0 for index 0.
double ClipStartOnShow(const TVideoClip2& clip, const TCommonIniSection* main);

// What maps a video object's time to its clip's.
struct TClipTiming {
  double duration = 0;   // D; 0 or less: no end (the clip repeats)
  double startShow = 0;  // S, as read
  double startVideo = 0; // V
  double speed = 1;      // M
  bool shared = false;   // from a clip of the container
  double clipStart = 0;  // for a clip: where it starts on the show's time line
};
// The clip time (ms) at `local` ms after the slide's begin, for a slide beginning at slideBegin.
double ClipTimeAt(const TClipTiming& timing, double local, double slideBegin, double deltaTime1);

// What a video object contributes to its slide's sound, for the music description: the file (with the
// prefix "LoadFromDisk:" when it is read from the disk), where it starts on the slide, from where in the
// file and for how long. Muted objects and objects played at another speed have no sound.
struct TVideoSoundItem {
  std::u16string fileName;
  double startShow = 0;
  double startVideo = 0;
  double duration = 0;
};
std::optional<TVideoSoundItem> VideoSoundOf(const TCommonIniSection& videoNode,
                                            const TCommonIniSection* tracks);

class TVideoClipList;

// One clip's extractor and the images it decodes into, shared by the objects that show the clip. The
// drawing thread takes one picture per drawn frame and hands it to every object that draws the clip in
// that frame; the last one done gives it back.
class TExtractorWrapper : public TObj {
public:
  TExtractorWrapper(TVideoClipList& list, std::u16string key, std::u16string fileName, bool fromDisk);
  ~TExtractorWrapper() override;

  const std::u16string& Key() const noexcept { return key_; }
  const std::u16string& FileName() const noexcept { return fileName_; }

  // Opens the clip on first call (from the show, or from the disk); false when it cannot be opened or
  // decoded, which stays so. `opened` tells whether the file itself could be opened.
  bool Open(TFileAccessor* accessor, bool* opened = nullptr);
  // The extractor once open; nullptr before or when opening failed.
  TKivVideoExtractor* Extractor() const noexcept { return extractor_.get(); }
  const TFrameSource* Source() const noexcept { return extractor_ ? &extractor_->Source() : nullptr; }
  // Gives the extractor its two images from the drawer, once; mask mode for video masks.
  void CreateImages(TDeviceDrawer& drawer, bool maskMode);
  bool HasImages() const noexcept { return !images_.empty(); }

  // The picture for a clip time for this frame: the one already taken by another object, else taken
  // from the extractor (an invalid or empty one goes back, is asked for with waiting and taken again).
  // nullptr when there is none. Every call is matched by one Release.
  const TExtractorSlot* Take(double clipMs);
  void Release();

private:
  friend class TVideoClipList;
  TVideoClipList& list_;
  std::u16string key_;
  std::u16string fileName_;
  bool fromDisk_;
  bool tried_ = false;
  TRef<TKivVideoExtractor> extractor_;
  TDeviceDrawer* drawer_ = nullptr;      // the drawer the images came from
  std::vector<TDeviceYUVImage*> images_; // made by drawer_, given back to it when the clip goes
  std::optional<TExtractorSlot> taken_;  // drawing thread
  int users_ = 0;                        // drawing thread: objects holding taken_
  int holders_ = 0;                      // under the list's lock: objects using the clip
};

// An object's hold on a clip: the wrapper lives while any object holds it.
class TVideoClipUse {
public:
  TVideoClipUse() = default;
  TVideoClipUse(TRef<TVideoClipList> list, TExtractorWrapper* wrapper)
      : list_(std::move(list)), wrapper_(wrapper) {}
  ~TVideoClipUse() { Reset(); }
  TVideoClipUse(TVideoClipUse&& other) noexcept;
  TVideoClipUse& operator=(TVideoClipUse&& other) noexcept;
  TVideoClipUse(const TVideoClipUse&) = delete;
  TVideoClipUse& operator=(const TVideoClipUse&) = delete;

  void Reset();
  TExtractorWrapper* get() const noexcept { return wrapper_; }
  TExtractorWrapper* operator->() const noexcept { return wrapper_; }
  explicit operator bool() const noexcept { return wrapper_ != nullptr; }

private:
  TRef<TVideoClipList> list_;
  TExtractorWrapper* wrapper_ = nullptr;
};

// The host's list of clip wrappers, and the workers their extractors run on.
class TVideoClipList : public TRefObj {
public:
  // Extractors run on `host`, or on real threads of the list's own when none is given.
  explicit TVideoClipList(TWorkerHost* host = nullptr);
  ~TVideoClipList() override;

  TWorkerHost& WorkerHost();
  // The wrapper of the clip with this key: shared while any object holds it, made anew otherwise.
  static TVideoClipUse Acquire(const TRef<TVideoClipList>& list, const std::u16string& key,
                               const std::u16string& fileName, bool fromDisk);
  int Count();

private:
  friend class TVideoClipUse;
  void Unuse(TExtractorWrapper* wrapper);

  TWorkerHost* host_;
  std::mutex hostLock_;
  std::unique_ptr<TThreadHost> ownHost_; // under hostLock_; made on first demand when no host was given
  std::mutex lock_;
  std::vector<TOwned<TExtractorWrapper>> wrappers_; // under lock_
};

} // namespace kiv

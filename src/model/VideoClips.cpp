#include "VideoClips.h"

#include "CaseFolding.h"
#include "FrameSourceFactory.h"
#include "Log.h"
#include "ScreenDrawer.h"
#include "ShowFileAccess.h"
#include "ThreadHost.h"
#include "Utf8Conversion.h"

#include <algorithm>
#include <cmath>

namespace kiv {

// ---- clip descriptions ----

TVideoClip2 ReadVideoClip(const TCommonIniSection& node) {
  TVideoClip2 clip;
  clip.loadFromDisk = node.ReadBool(u"LoadFromDisk", false);
  clip.fileName = node.ReadString(u"FileName", u"");
  clip.duration = node.ReadFloat(u"Duration", 0);
  clip.startVideo = node.ReadFloat(u"StartVideoTime", 0);
  clip.startShow = node.ReadFloat(u"StartKIVTime", 0);
  clip.speed = node.ReadFloat(u"FPSMultiplier", 1);
  clip.caption = node.ReadString(u"ClipCaption", u"");
  clip.startSlide = node.ReadInteger(u"StartSlideIdx", 0);
  clip.mute = node.ReadBool(u"Mute", false);
  clip.masterId = node.ReadString(u"MasterID", u"");
  clip.guid = node.ReadString(u"GUID", u"");
  return clip;
}

std::optional<TVideoClip2> FindVideoClip(const TCommonIniSection* tracks, std::u16string_view guid) {
  if (!tracks || guid.empty()) return std::nullopt;
  for (TIniObject* item = tracks->FirstObject(); item; item = tracks->NextObject(item))
    if (SameText(item->ReadString(u"GUID", u""), guid)) return ReadVideoClip(*item);
  return std::nullopt;
}

double ClipStartOnShow(const TVideoClip2& clip, const TCommonIniSection* main) {
  if (clip.startSlide == 0 || !main) return 0;
  return main->ReadFloat(u"opt_synchpos" + Utf8ToUtf16(std::to_string(clip.startSlide)), 0);
}

double ClipTimeAt(const TClipTiming& timing, double local, double slideBegin, double deltaTime1) {
  // The first frame is held until the video starts on the slide.
  if (local < std::max(deltaTime1, timing.startShow)) return timing.startVideo;
  // A clip shared by several slides runs on in step: its start is where it began on the show's time line.
  const double start = timing.shared ? timing.startShow - (slideBegin - timing.clipStart) : timing.startShow;
  const double t = timing.startVideo + timing.speed * (local - start);
  if (timing.duration > 0) return std::min(t, timing.startVideo + timing.duration);
  return t;
}

std::optional<TVideoSoundItem> VideoSoundOf(const TCommonIniSection& videoNode,
                                            const TCommonIniSection* tracks) {
  TVideoClip2 own = ReadVideoClip(videoNode);
  const std::optional<TVideoClip2> clip = FindVideoClip(tracks, videoNode.ReadString(u"ClipGUID", u""));
  const TVideoClip2& used = clip ? *clip : own;
  const bool mute = clip ? clip->mute : own.mute;
  if (mute || used.speed != 1 || used.fileName.empty()) return std::nullopt;
  TVideoSoundItem item;
  item.fileName = (used.loadFromDisk ? u"LoadFromDisk:" : u"") + used.fileName;
  item.startShow = used.startShow;
  item.startVideo = used.startVideo;
  item.duration = used.duration;
  return item;
}

// ---- TExtractorWrapper ----

TExtractorWrapper::TExtractorWrapper(TVideoClipList& list, std::u16string key, std::u16string fileName,
                                     bool fromDisk)
    : list_(list), key_(std::move(key)), fileName_(std::move(fileName)), fromDisk_(fromDisk) {}

TExtractorWrapper::~TExtractorWrapper() {
  if (taken_ && extractor_) extractor_->Return(std::move(*taken_));
  taken_.reset();
  if (extractor_) extractor_->Stop();
  extractor_.reset();
  if (auto* drawer = dynamic_cast<T3DDrawer*>(drawer_))
    for (TDeviceYUVImage* image : images_)
      drawer->FreeVideoImage(image);
}

bool TExtractorWrapper::Open(TFileAccessor* accessor, bool* opened) {
  if (opened) *opened = static_cast<bool>(extractor_);
  if (tried_) return static_cast<bool>(extractor_);
  tried_ = true;
  TOwned<TStream> stream;
  if (accessor) stream = fromDisk_ ? OpenDiskFile(*accessor, fileName_) : kiv::Open(*accessor, fileName_);
  if (opened) *opened = stream != nullptr;
  if (!stream) return false;
  std::unique_ptr<TFrameSource> source = OpenVideoSource(std::move(stream), Utf16ToUtf8(fileName_));
  if (!source || source->width <= 0 || source->height <= 0) {
    LogLine("TExtractorWrapper.Open: \"" + Utf16ToUtf8(fileName_) + "\" has no pictures to show");
    return false;
  }
  extractor_ = TRef<TKivVideoExtractor>::Make(list_.WorkerHost(), std::move(source));
  return true;
}

void TExtractorWrapper::CreateImages(TDeviceDrawer& drawer, bool maskMode) {
  if (!extractor_ || !images_.empty()) return;
  const TFrameSource& source = extractor_->Source();
  drawer_ = &drawer;
  for (int i = 0; i < 2; ++i) {
    // Decoded pictures carry no alpha of their own.
    TDeviceYUVImage* image = drawer.CreateVideoImage(source.width, source.height, maskMode, false);
    if (!image) continue;
    images_.push_back(image);
    extractor_->AddImage(TRef<TYUVImage>::Share(image));
  }
}

const TExtractorSlot* TExtractorWrapper::Take(double clipMs) {
  if (!extractor_) return nullptr;
  if (taken_) {
    ++users_;
    return &*taken_;
  }
  auto unusable = [](const TTakenFrame& taken) {
    return taken.slot.image->Invalid() || taken.slot.frame < 0;
  };
  std::optional<TTakenFrame> taken = extractor_->Take(60, clipMs);
  if (taken && unusable(*taken)) {
    extractor_->Return(std::move(taken->slot));
    extractor_->Request(true, clipMs);
    taken = extractor_->Take(60, clipMs);
    if (taken && unusable(*taken)) {
      extractor_->Return(std::move(taken->slot));
      taken.reset();
    }
  }
  if (!taken) return nullptr;
  taken_ = std::move(taken->slot);
  users_ = 1;
  return &*taken_;
}

void TExtractorWrapper::Release() {
  if (users_ <= 0 || --users_ > 0) return;
  if (taken_ && extractor_) extractor_->Return(std::move(*taken_));
  taken_.reset();
}

// ---- TVideoClipUse ----

TVideoClipUse::TVideoClipUse(TVideoClipUse&& other) noexcept
    : list_(std::move(other.list_)), wrapper_(std::exchange(other.wrapper_, nullptr)) {}

TVideoClipUse& TVideoClipUse::operator=(TVideoClipUse&& other) noexcept {
  if (this != &other) {
    Reset();
    list_ = std::move(other.list_);
    wrapper_ = std::exchange(other.wrapper_, nullptr);
  }
  return *this;
}

void TVideoClipUse::Reset() {
  if (wrapper_ && list_) list_->Unuse(wrapper_);
  wrapper_ = nullptr;
  list_ = nullptr;
}

// ---- TVideoClipList ----

TVideoClipList::TVideoClipList(TWorkerHost* host) : host_(host) {}

TVideoClipList::~TVideoClipList() {
  // Objects hold the list while they hold a clip: none is left by now.
  wrappers_.clear();
}

TWorkerHost& TVideoClipList::WorkerHost() {
  if (host_) return *host_;
  std::lock_guard hold(hostLock_);
  if (!ownHost_) ownHost_ = std::make_unique<TThreadHost>();
  return *ownHost_;
}

TVideoClipUse TVideoClipList::Acquire(const TRef<TVideoClipList>& list, const std::u16string& key,
                                      const std::u16string& fileName, bool fromDisk) {
  std::lock_guard hold(list->lock_);
  for (TOwned<TExtractorWrapper>& wrapper : list->wrappers_)
    if (wrapper->key_ == key && wrapper->fileName_ == fileName && wrapper->fromDisk_ == fromDisk) {
      ++wrapper->holders_;
      return TVideoClipUse(list, wrapper.get());
    }
  list->wrappers_.push_back(MakeOwned<TExtractorWrapper>(*list, key, fileName, fromDisk));
  TExtractorWrapper* made = list->wrappers_.back().get();
  made->holders_ = 1;
  return TVideoClipUse(list, made);
}

void TVideoClipList::Unuse(TExtractorWrapper* wrapper) {
  TOwned<TExtractorWrapper> gone;
  {
    std::lock_guard hold(lock_);
    if (--wrapper->holders_ > 0) return;
    auto it =
        std::find_if(wrappers_.begin(), wrappers_.end(),
                     [wrapper](const TOwned<TExtractorWrapper>& item) { return item.get() == wrapper; });
    if (it == wrappers_.end()) return;
    gone = std::move(*it);
    wrappers_.erase(it);
  }
  // Stopping the extractor waits for its worker: not under the lock.
}

int TVideoClipList::Count() {
  std::lock_guard hold(lock_);
  return static_cast<int>(wrappers_.size());
}

} // namespace kiv

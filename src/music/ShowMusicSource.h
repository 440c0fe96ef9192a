#pragma once
// What the project says about sound, as the music player plays it: the show's main play list, and for
// every slide its sound comment and, optionally, a play list of its own.
//
// Made once by the music player from the show source, then only read (from the player's thread and any
// other); nothing in it changes after construction.

#include "ObjectBase.h"
#include "PlayList.h"
#include "ShowTimeline.h"

#include <cstdint>
#include <vector>

namespace kiv {

struct TSlideMusicInfo {
  TSlideInfo timing;        // the slide's timing record (start and end in ms), shifted to its pass
  int slideNumber = 0;      // from 1; 0 for the last slide
  TMusicItemInfo comment;   // start 0; no file name when the slide has no comment
  TRef<TPlayList> playList; // the slide's own music, or nullptr

  bool HasComment() const noexcept { return !comment.fileName.empty() && comment.duration > 0; }
};

class TKivMusicSource : public TObj {
public:
  // The source must outlive this object ("Assertion failure" without one). Broken slide data stops the
  // construction with an assertion: "Slide not Found" for a missing slide section, "Incorrect music time"
  // for a negative "SoundLength", "unknown name" and "incorrect music time" for a nameless or negative
  // entry of a slide's own older-form list.
  explicit TKivMusicSource(TKivSource* source);

  TKivSource& Source() const noexcept { return *source_; }

  int SlideCount() const noexcept { return static_cast<int>(slides_.size()); }
  // Slide from 0 to SlideCount() - 1.
  const TSlideMusicInfo& SlideMusic(int index) const;
  // Any play position >= 0: the slide at position mod count with its timing shifted by whole passes.
  // "Assertion failure" for a show without slides or a negative position.
  TSlideMusicInfo SlideMusicAt(int64_t position) const;

  // nullptr when the show has no main music (music switched off, or nothing to play).
  const TRef<TPlayList>& MainPlayList() const noexcept { return mainPlayList_; }
  // The main music repeats; in sync mode only when it fits in one pass of the show.
  bool Repeat() const noexcept { return repeat_; }
  bool SyncMode() const noexcept { return syncMode_; }
  bool UseMusic() const noexcept { return useMusic_; }
  // Comments stop at their slide's end unless the show lets them play to their end.
  bool CutComments() const noexcept { return cutComments_; }
  // The length of one pass of the show, and whether it starts again after its last slide.
  double ShowLength() const noexcept { return source_->TotalDuration(); }
  bool ShowLoops() const noexcept { return source_->RepeatMode() == TRepeatMode::Repeat; }

  // Decoder plug-ins named by the show ("opt_wmapath", "opt_oggpath") are never taken out of it or
  // loaded: native code from show data is not run, and those formats decode through the player's own
  // converters. Each one named is logged.
  void PrepareDecoderPlugins() const;

private:
  void ReadMainMusic(class TMusicOptionsReader& reader);
  void ReadSlides(TMusicOptionsReader& reader);

  TKivSource* source_;
  bool useMusic_ = false;
  bool syncMode_ = false;
  bool repeat_ = false;
  bool cutComments_ = true;
  std::vector<TSlideMusicInfo> slides_;
  TRef<TPlayList> mainPlayList_;
};

} // namespace kiv

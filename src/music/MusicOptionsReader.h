#pragma once
// Reads a music object of the project (tracks of items, the options of the music and a slide's sound
// comment) and lays it out on a time line as composite texts: one for the music, one for the comment.
//
// Object classes are compared without regard to letter case:
//   "tmusictrack"   a track; "IsMute" = "1" leaves it out. Its items play one after another from time 0.
//   "tmusicitem"    one file of a track.
//   "tmusicoptions" "IsRepeat" > 0 makes the music repeat.
//   "tsoundcomment" a slide's comment ("FileName" "error" or empty: none).
// An item named in a slide's "LinkedAudio" starts at that slide's sync position and cuts the item before it.

#include "CompositeMusicBuilder.h"
#include "IniDocument.h"
#include "ObjectBase.h"

#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace kiv {

class TKivSource;

class TMusicOptionsReader : public TObj {
public:
  // Reads the sync positions of the slides and the items they link from the source's document. A slide
  // section that is missing links nothing.
  explicit TMusicOptionsReader(const TKivSource& source);

  int SlideCount() const noexcept { return static_cast<int>(syncPositions_.size()); }
  // Slide from 0: slide 0 at 0, slide n + 1 at the largest "opt_synchpos" 1 .. n + 1, so they never decrease.
  double SyncPosition(int slide) const;
  // The first slide (from 0) whose "LinkedAudio" names the identifier; -1 when none does. Braces around
  // the identifier and letter case do not count.
  int LinkedSlide(std::u16string_view identifier) const;

  // How far a comment may run, in ms from its slide's start; 0 or less: no limit.
  void SetCommentTimeLimit(double limit) noexcept { commentTimeLimit_ = limit; }
  double CommentTimeLimit() const noexcept { return commentTimeLimit_; }

  // Lays out a music object (nullptr: none, only the extra members make a comment). origin is the show
  // time at which the music starts (0 for the show's music, the slide's start for a slide's own), so that
  // linked items land on their slide. The comment composite is made when the object holds a
  // "tsoundcomment" or extra members are given; the extra members join it as they are.
  void ReadMusic(const TIniObject* music, std::span<const TCompositeMember> extraMembers = {},
                 double origin = 0);

  // Results of the last ReadMusic; a text is "" when its duration is 0.
  const std::u16string& MainText() const noexcept { return mainText_; }
  double MainDuration() const noexcept { return mainDuration_; }
  const std::u16string& CommentText() const noexcept { return commentText_; }
  double CommentDuration() const noexcept { return commentDuration_; }
  bool Repeat() const noexcept { return repeat_; }

private:
  struct TTrackItem;
  void CollectObjects(const TIniIdentList& container, std::vector<std::vector<const TIniObject*>>& tracks,
                      const TIniObject*& comment, int depth);
  std::vector<TTrackItem> ReadTrack(const std::vector<const TIniObject*>& objects, double origin) const;
  double LayOutTrack(const std::vector<TTrackItem>& items, TCompositeMusicBuilder& builder) const;
  void BuildComment(const TIniObject* comment, std::span<const TCompositeMember> extraMembers);

  std::vector<double> syncPositions_;
  std::unordered_map<std::u16string, int> linkedSlides_; // folded identifier -> slide
  double commentTimeLimit_ = 0;

  std::u16string mainText_;
  double mainDuration_ = 0;
  std::u16string commentText_;
  double commentDuration_ = 0;
  bool repeat_ = false;
};

// Object classes are compared without regard to letter case.
bool IsObjectOfClass(const TIniObject& object, std::u16string_view className);
// The first object of that class directly inside the container; nullptr when none.
const TIniObject* FindObjectOfClass(const TIniIdentList& container, std::u16string_view className);

// Times read from a project: absent, malformed or non-finite values give the default, the rest is held
// within +-2147483647 ms.
double ReadMusicTime(const TIniIdentList& keys, std::u16string_view name, double defaultValue);

// The level of a file played for d ms (d 0: to its end) at volume per cent: a fade in from silence over
// fadeIn ms, a fade out over the last fadeOut ms (only when d is known), otherwise a constant level when
// the volume is not 100. Volumes are in thousandths; no points when nothing changes the sound.
TVolumeEnvelope FadeEnvelope(double d, double fadeIn, double fadeOut, double volume);

} // namespace kiv

#include "ShowMusicSource.h"

#include "Assert.h"
#include "Log.h"
#include "MusicOptionsReader.h"
#include "Utf8Conversion.h"
#include "VideoSoundMembers.h"

#include <algorithm>

namespace kiv {
namespace {

std::u16string Number(int64_t value) {
  return Utf8ToUtf16(std::to_string(value));
}

const TIniIdentList& EmptyKeys() {
  static const TIniSection empty(u"main"); // immutable after creation
  return empty;
}

// An entry count can name no more entries than the section has key lines; the rest would be nameless
// and empty, and a huge count would only spin.
int BoundedCount(const TIniIdentList& keys, std::u16string_view name) {
  int lines = 0;
  for (const TCommonIniItem* item = keys.FirstChild(); item; item = item->Next())
    if (dynamic_cast<const TIniIdent*>(item)) ++lines;
  return std::clamp(keys.ReadInteger(name, 0), 0, lines);
}

bool IsOn(const TIniIdentList& keys, std::u16string_view name) {
  return keys.ReadString(name, u"") == u"1";
}

double NonNegative(double value) {
  return value > 0 ? value : 0;
}

// A slide whose comment names a file, in the form the slide is read in.
bool HasCommentFile(const TIniSection& section, bool currentForm) {
  const TIniObject* music = FindObjectOfClass(section, u"music");
  if (music || currentForm) {
    const TIniObject* comment = music ? FindObjectOfClass(*music, u"tsoundcomment") : nullptr;
    if (!comment) return false;
    const std::u16string fileName = comment->ReadString(u"FileName", u"");
    return !fileName.empty() && fileName != u"error";
  }
  const std::u16string sound = section.ReadString(u"Sound", u"@");
  return !sound.empty() && sound != u"@";
}

} // namespace

TKivMusicSource::TKivMusicSource(TKivSource* source) : source_(source) {
  RY_ASSERT(source_ != nullptr);
  TMusicOptionsReader reader(*source_);
  ReadMainMusic(reader);
  ReadSlides(reader);
}

void TKivMusicSource::ReadMainMusic(TMusicOptionsReader& reader) {
  const TIniIdentList& main = source_->MainSection() ? *source_->MainSection() : EmptyKeys();
  syncMode_ = main.ReadBool(u"opt_syncmode", false);
  cutComments_ = !main.ReadBool(u"opt_fullyplaysound", false);

  auto list = TRef<TPlayList>::Make();
  if (const TIniObject* music = FindObjectOfClass(main, u"music")) {
    useMusic_ = true;
    reader.SetCommentTimeLimit(0);
    reader.ReadMusic(music);
    if (reader.MainDuration() > 0) list->AddItem({reader.MainText(), 0, reader.MainDuration()});
    repeat_ = reader.Repeat();
  } else {
    useMusic_ = main.ReadBool(u"opt_usemusic", false);
    repeat_ = main.ReadBool(u"opt_repeatmusic", true);
    const int count = BoundedCount(main, u"opt_music_count");
    for (int n = 1; n <= count; ++n)
      list->Add(main.ReadString(u"opt_music" + Number(n), u""),
                NonNegative(ReadMusicTime(main, u"opt_lengthlist" + Number(n), 0)));
  }
  if (syncMode_ && repeat_ && list->TotalLength() + 200 > ShowLength()) repeat_ = false;
  list->SetRepeat(repeat_);
  repeat_ = list->Repeat();
  if (useMusic_ && list->Count() > 0) mainPlayList_ = std::move(list);
}

void TKivMusicSource::ReadSlides(TMusicOptionsReader& reader) {
  const int count = source_->SlideCount();
  const bool showMusicObject = source_->MainSection() && FindObjectOfClass(*source_->MainSection(), u"music");
  std::vector<const TIniSection*> sections(static_cast<size_t>(count));
  std::vector<TSlideInfo> timings(static_cast<size_t>(count));
  for (int i = 0; i < count; ++i) {
    sections[static_cast<size_t>(i)] = source_->GetSlideSection(i);
    RY_ASSERT_MSG(sections[static_cast<size_t>(i)] != nullptr, "Slide not Found");
    timings[static_cast<size_t>(i)] = source_->GetSlideTiming(i);
  }
  // Where each slide's comment may run to when comments are not cut: the start of the next slide whose
  // comment names a file, or the end of the show.
  std::vector<double> nextCommentStart(static_cast<size_t>(count));
  double next = count > 0 ? timings.back().end : 0;
  for (int i = count; i-- > 0;) {
    nextCommentStart[static_cast<size_t>(i)] = next;
    if (HasCommentFile(*sections[static_cast<size_t>(i)], showMusicObject))
      next = timings[static_cast<size_t>(i)].start;
  }

  slides_.resize(static_cast<size_t>(count));
  for (int i = 0; i < count; ++i) {
    const TIniSection& section = *sections[static_cast<size_t>(i)];
    TSlideMusicInfo& info = slides_[static_cast<size_t>(i)];
    info.timing = timings[static_cast<size_t>(i)];
    info.slideNumber = i == count - 1 ? 0 : i + 1;
    const double span = info.timing.end - info.timing.start;
    const bool ownMusic =
        !syncMode_ && IsOn(section, u"UsePersonal") && section.ReadString(u"MusicAction", u"") == u"2";

    const TIniObject* music = FindObjectOfClass(section, u"music");
    if (music || showMusicObject) {
      reader.SetCommentTimeLimit(cutComments_ ? span
                                              : nextCommentStart[static_cast<size_t>(i)] - info.timing.start);
      const std::vector<TCompositeMember> videos = SoundingVideoMembers(
          *source_, section, info.timing.start, SlideSoundLength(*source_, section, span));
      reader.ReadMusic(music, videos, info.timing.start);
      if (reader.CommentDuration() > 0) info.comment = {reader.CommentText(), 0, reader.CommentDuration()};
      if (ownMusic && reader.MainDuration() > 0) {
        info.playList = TRef<TPlayList>::Make();
        info.playList->AddItem({reader.MainText(), 0, reader.MainDuration()});
        info.playList->SetRepeat(reader.Repeat());
      }
      continue;
    }

    const std::u16string sound = section.ReadString(u"Sound", u"@");
    if (!sound.empty() && sound != u"@") {
      double length = ReadMusicTime(section, u"SoundLength", 0);
      RY_ASSERT_MSG(length >= 0, "Incorrect music time");
      if (cutComments_) length = std::min(length, span);
      info.comment = {sound, 0, length};
    }
    if (ownMusic) {
      auto list = TRef<TPlayList>::Make();
      const int entries = BoundedCount(section, u"MusicCount");
      for (int n = 1; n <= entries; ++n) {
        std::u16string name = section.ReadString(u"SubMusic" + Number(n), u"");
        RY_ASSERT_MSG(!name.empty(), "unknown name");
        const double length = ReadMusicTime(section, u"SubMusicLength" + Number(n), 0);
        RY_ASSERT_MSG(length >= 0, "incorrect music time");
        list->Add(std::move(name), length);
      }
      if (list->Count() > 0) info.playList = std::move(list);
    }
  }
}

const TSlideMusicInfo& TKivMusicSource::SlideMusic(int index) const {
  RY_ASSERT(index >= 0 && index < SlideCount());
  return slides_[static_cast<size_t>(index)];
}

TSlideMusicInfo TKivMusicSource::SlideMusicAt(int64_t position) const {
  RY_ASSERT(position >= 0 && !slides_.empty());
  const auto count = static_cast<int64_t>(slides_.size());
  TSlideMusicInfo info = slides_[static_cast<size_t>(position % count)];
  const double shift = static_cast<double>(position / count) * ShowLength();
  info.timing.start += shift;
  info.timing.end += shift;
  info.timing.visibleUntil += shift;
  return info;
}

void TKivMusicSource::PrepareDecoderPlugins() const {
  const TIniIdentList& main = source_->MainSection() ? *source_->MainSection() : EmptyKeys();
  for (const std::u16string_view key : {u"opt_wmapath", u"opt_oggpath"}) {
    const std::u16string path = main.ReadString(key, u"");
    if (path.empty()) continue;
    LogLine(u"TKivMusicSource.PrepareDecoderPlugins: stored decoder plug-in not loaded (" +
            std::u16string(key) + u" = " + path + u"), its format decodes through the player's converters");
  }
}

} // namespace kiv

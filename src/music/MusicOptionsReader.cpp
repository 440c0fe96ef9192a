#include "MusicOptionsReader.h"

#include "CaseFolding.h"
#include "ShowTimeline.h"
#include "Utf8Conversion.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace kiv {
namespace {

constexpr double kTimeBound = 2147483647.0;
// Music objects are a few levels deep; a document nested deeper than this is not walked further.
constexpr int kMaxObjectDepth = 64;
constexpr double kNoLimit = std::numeric_limits<double>::infinity();

std::u16string Number(int64_t value) {
  return Utf8ToUtf16(std::to_string(value));
}

std::u16string_view Trimmed(std::u16string_view text) {
  while (!text.empty() && (text.front() == u' ' || text.front() == u'\t'))
    text.remove_prefix(1);
  while (!text.empty() && (text.back() == u' ' || text.back() == u'\t'))
    text.remove_suffix(1);
  return text;
}

std::u16string FoldedIdentifier(std::u16string_view identifier) {
  identifier = Trimmed(identifier);
  if (!identifier.empty() && identifier.front() == u'{') identifier.remove_prefix(1);
  if (!identifier.empty() && identifier.back() == u'}') identifier.remove_suffix(1);
  return LowerCase(Trimmed(identifier));
}

// "{A}{B}..." as written by the authoring tool; a value without braces is one identifier.
std::vector<std::u16string> LinkedIdentifiers(std::u16string_view text) {
  std::vector<std::u16string> identifiers;
  if (text.find(u'{') == std::u16string_view::npos) {
    if (!Trimmed(text).empty()) identifiers.push_back(FoldedIdentifier(text));
    return identifiers;
  }
  size_t pos = 0;
  while ((pos = text.find(u'{', pos)) != std::u16string_view::npos) {
    const size_t close = text.find(u'}', pos + 1);
    const size_t end = close == std::u16string_view::npos ? text.size() : close;
    std::u16string identifier = FoldedIdentifier(text.substr(pos + 1, end - pos - 1));
    if (!identifier.empty()) identifiers.push_back(std::move(identifier));
    pos = end;
  }
  return identifiers;
}

bool AnyPoints(const TVolumeEnvelope& envelope) {
  return !envelope.empty();
}

// Text switches of the project: only "1" is on.
bool IsOn(const TIniIdentList& keys, std::u16string_view name) {
  return Trimmed(keys.ReadString(name, u"")) == u"1";
}

} // namespace

struct TMusicOptionsReader::TTrackItem {
  std::u16string fileName;
  double startTime = 0; // ms into the file
  double duration = 0;
  int crossMode = 0;
  double cross = 0; // as written; negative counts as 0
  double pause = 0;
  double fadeIn = 0;
  double fadeOut = 0;
  double volume = 100; // per cent
  std::u16string volumeParams;
  bool linked = false;
  double syncPosition = 0; // of the linked slide, on the music's time line
  double linkedStart = 0;  // where the item lets the one before it end
};

bool IsObjectOfClass(const TIniObject& object, std::u16string_view className) {
  return SameText(Trimmed(object.ObjectTypeView()), className);
}

const TIniObject* FindObjectOfClass(const TIniIdentList& container, std::u16string_view className) {
  for (const TIniObject* object = container.FirstObject(); object; object = container.NextObject(object))
    if (IsObjectOfClass(*object, className)) return object;
  return nullptr;
}

double ReadMusicTime(const TIniIdentList& keys, std::u16string_view name, double defaultValue) {
  const double value = keys.ReadFloat(name, defaultValue);
  if (!std::isfinite(value)) return defaultValue;
  return std::clamp(value, -kTimeBound, kTimeBound);
}

TVolumeEnvelope FadeEnvelope(double d, double fadeIn, double fadeOut, double volume) {
  const double v = volume * 10;
  TVolumeEnvelope points;
  if (fadeIn > 0) {
    points.push_back({0, 0});
    points.push_back({fadeIn, v});
  }
  // A fade out needs the end: a member played to its file's end (d 0) has none to time it from.
  if (fadeOut > 0 && d > 0) {
    points.push_back({d - fadeOut, v});
    points.push_back({d, 0});
  }
  if (v != 1000 && points.empty()) {
    points.push_back({0, v});
    if (d > 0) points.push_back({d, v});
  }
  return points;
}

TMusicOptionsReader::TMusicOptionsReader(const TKivSource& source) {
  const int count = source.SlideCount();
  syncPositions_.resize(static_cast<size_t>(count));
  const TIniSection* main = source.MainSection();
  double running = 0;
  for (int i = 1; i < count; ++i) {
    if (main)
      running = std::max(running, static_cast<double>(main->ReadInteger(u"opt_synchpos" + Number(i), 0)));
    syncPositions_[static_cast<size_t>(i)] = running;
  }
  for (int i = 0; i < count; ++i) {
    const TIniSection* section = source.GetSlideSection(i);
    if (!section) continue;
    for (std::u16string& identifier : LinkedIdentifiers(section->ReadString(u"LinkedAudio", u"")))
      linkedSlides_.emplace(std::move(identifier), i);
  }
}

double TMusicOptionsReader::SyncPosition(int slide) const {
  if (slide < 0 || slide >= SlideCount()) return 0;
  return syncPositions_[static_cast<size_t>(slide)];
}

int TMusicOptionsReader::LinkedSlide(std::u16string_view identifier) const {
  const std::u16string folded = FoldedIdentifier(identifier);
  if (folded.empty()) return -1;
  const auto found = linkedSlides_.find(folded);
  return found == linkedSlides_.end() ? -1 : found->second;
}

void TMusicOptionsReader::CollectObjects(const TIniIdentList& container,
                                         std::vector<std::vector<const TIniObject*>>& tracks,
                                         const TIniObject*& comment, int depth) {
  if (depth > kMaxObjectDepth) return;
  for (const TIniObject* object = container.FirstObject(); object; object = container.NextObject(object)) {
    if (IsObjectOfClass(*object, u"tmusictrack")) {
      if (IsOn(*object, u"IsMute")) continue;
      // Each track starts a new run; what its children hold joins the newest run.
      tracks.emplace_back();
      CollectObjects(*object, tracks, comment, depth + 1);
    } else if (IsObjectOfClass(*object, u"tmusicitem")) {
      // Items outside any track make a track of their own.
      if (tracks.empty()) tracks.emplace_back();
      tracks.back().push_back(object);
    } else if (IsObjectOfClass(*object, u"tmusicoptions")) {
      repeat_ = object->ReadInteger(u"IsRepeat", 0) > 0;
    } else if (IsObjectOfClass(*object, u"tsoundcomment")) {
      comment = object;
    }
  }
}

std::vector<TMusicOptionsReader::TTrackItem>
TMusicOptionsReader::ReadTrack(const std::vector<const TIniObject*>& objects, double origin) const {
  std::vector<TTrackItem> items;
  items.reserve(objects.size());
  for (const TIniObject* object : objects) {
    TTrackItem& item = items.emplace_back();
    item.fileName = object->ReadString(u"FileName", u"");
    item.startTime = std::max(0.0, ReadMusicTime(*object, u"StartTime", 0));
    item.duration = std::max(0.0, ReadMusicTime(*object, u"Duration", 0));
    item.crossMode = object->ReadInteger(u"CrossMode", 0);
    item.cross = ReadMusicTime(*object, u"Cross", 0);
    item.pause = ReadMusicTime(*object, u"Pause", 0);
    item.fadeIn = ReadMusicTime(*object, u"FadeIn", 0);
    item.fadeOut = ReadMusicTime(*object, u"FadeOut", 0);
    item.volume = ReadMusicTime(*object, u"Volume", 100);
    item.volumeParams = object->ReadString(u"VolumeParams", u"");
    const int slide = LinkedSlide(object->ReadString(u"GUID", u""));
    item.linked = slide >= 0;
    if (item.linked) {
      item.syncPosition = SyncPosition(slide) - origin;
      item.linkedStart = item.syncPosition;
      if (item.crossMode == 0) item.linkedStart -= std::max(0.0, item.cross);
      if (item.crossMode == 1) item.linkedStart += std::max(0.0, item.pause);
    }
  }
  return items;
}

double TMusicOptionsReader::LayOutTrack(const std::vector<TTrackItem>& items,
                                        TCompositeMusicBuilder& builder) const {
  // Each item may run at most up to the earliest linked start among the items after it.
  std::vector<double> limits(items.size(), kNoLimit);
  double later = kNoLimit;
  for (size_t i = items.size(); i-- > 0;) {
    limits[i] = later;
    if (items[i].linked) later = std::min(later, items[i].linkedStart);
  }

  double position = 0;
  double trackEnd = 0;
  for (size_t i = 0; i < items.size(); ++i) {
    const TTrackItem& item = items[i];
    double d = item.duration;
    double cross = std::max(0.0, item.cross);
    double pause = std::max(0.0, item.pause);
    if (item.linked) {
      position = item.syncPosition;
      cross = 0;
      pause = 0;
    }
    const double start = item.crossMode == 0   ? position - cross
                         : item.crossMode == 1 ? position + pause
                                               : position;
    bool cut = false;
    if (limits[i] < start + d) {
      d = std::max(0.0, limits[i] - start);
      cut = true;
    }
    if (item.crossMode == 1 && pause > 0) position += pause;

    std::vector<TVolumeEnvelope> envelopes;
    envelopes.push_back(FadeEnvelope(d, item.fadeIn, item.fadeOut, item.volume));
    TVolumeEnvelope crossFade;
    if (item.crossMode == 0 && cross > 0) {
      crossFade = {{0, 0}, {cross, 1000}};
      if (i > 0) position = std::max(0.0, position - cross);
    }
    if (i + 1 < items.size()) {
      const TTrackItem& next = items[i + 1];
      if (!next.linked && next.crossMode == 0 && next.cross > 0 && d > 0) {
        crossFade.push_back({d - next.cross, 1000});
        crossFade.push_back({d, 0});
      }
    }
    envelopes.push_back(std::move(crossFade));
    if (!item.volumeParams.empty())
      envelopes.push_back(VolumeParamsEnvelope(item.volumeParams, item.startTime));
    std::erase_if(envelopes, [](const TVolumeEnvelope& envelope) { return !AnyPoints(envelope); });

    // A silent item only takes its time. An item cut away entirely must not become a member: duration 0
    // would play its whole file.
    if (item.volume > 0 && !(cut && d <= 0)) {
      TCompositeMember& member = builder.AddItem(item.fileName, position);
      member.beginTime = item.startTime;
      member.duration = d;
      member.envelopes = std::move(envelopes);
    }
    position += d;
    trackEnd = std::max(trackEnd, position);
  }
  return trackEnd;
}

void TMusicOptionsReader::BuildComment(const TIniObject* comment,
                                       std::span<const TCompositeMember> extraMembers) {
  TCompositeMusicBuilder builder;
  if (comment) {
    const std::u16string fileName = comment->ReadString(u"FileName", u"");
    const double volume = ReadMusicTime(*comment, u"Volume", 100);
    if (!fileName.empty() && fileName != u"error" && volume > 0) {
      const double pause = std::max(0.0, ReadMusicTime(*comment, u"Pause", 0));
      const double duration = ReadMusicTime(*comment, u"Duration", 0);
      // A comment of unknown length runs until the limit.
      double end = pause + (duration > 0 ? duration : kNoLimit);
      if (commentTimeLimit_ > 0) end = std::min(end, commentTimeLimit_);
      const double d = end - pause;
      if (std::isfinite(end) && d > 0) {
        TCompositeMember& member = builder.AddItem(fileName, pause);
        member.beginTime = std::max(0.0, ReadMusicTime(*comment, u"StartTime", 0));
        member.duration = d;
        member.envelopes.push_back(FadeEnvelope(d, ReadMusicTime(*comment, u"FadeIn", 0),
                                                ReadMusicTime(*comment, u"FadeOut", 0), volume));
        const std::u16string volumeParams = comment->ReadString(u"VolumeParams", u"");
        if (!volumeParams.empty())
          member.envelopes.push_back(VolumeParamsEnvelope(volumeParams, member.beginTime));
        std::erase_if(member.envelopes, [](const TVolumeEnvelope& envelope) { return !AnyPoints(envelope); });
      }
    }
  }
  for (const TCompositeMember& extra : extraMembers)
    builder.Members().push_back(extra);

  double duration = 0;
  for (const TCompositeMember& member : builder.Members())
    if (!member.fileName.empty()) duration = std::max(duration, member.timeLine + member.duration);
  if (duration <= 0) return;
  builder.SetDuration(duration);
  commentText_ = builder.ToText();
  if (!commentText_.empty()) commentDuration_ = duration;
}

void TMusicOptionsReader::ReadMusic(const TIniObject* music, std::span<const TCompositeMember> extraMembers,
                                    double origin) {
  mainText_.clear();
  mainDuration_ = 0;
  commentText_.clear();
  commentDuration_ = 0;
  repeat_ = false;

  std::vector<std::vector<const TIniObject*>> tracks;
  const TIniObject* comment = nullptr;
  if (music) CollectObjects(*music, tracks, comment, 0);

  // Random play orders the project may ask for are not applied: tracks and items keep their stored order.
  TCompositeMusicBuilder builder;
  double duration = 0;
  for (const std::vector<const TIniObject*>& track : tracks)
    duration = std::max(duration, LayOutTrack(ReadTrack(track, origin), builder));
  if (duration > 0) {
    builder.SetDuration(duration);
    mainText_ = builder.ToText();
    if (!mainText_.empty()) mainDuration_ = duration;
  }

  if (comment || !extraMembers.empty()) BuildComment(comment, extraMembers);
}

} // namespace kiv

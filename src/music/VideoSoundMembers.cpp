#include "VideoSoundMembers.h"

#include "CaseFolding.h"
#include "MusicOptionsReader.h"
#include "ShowTimeline.h"
#include "Utf8Conversion.h"

#include <algorithm>
#include <set>

namespace kiv {
namespace {

// Slide objects nest a few levels; deeper documents are not walked further.
constexpr int kMaxObjectDepth = 64;

std::u16string Number(int64_t value) {
  return Utf8ToUtf16(std::to_string(value));
}

std::u16string Folded(std::u16string_view identifier) {
  while (!identifier.empty() && (identifier.front() == u' ' || identifier.front() == u'{'))
    identifier.remove_prefix(1);
  while (!identifier.empty() && (identifier.back() == u' ' || identifier.back() == u'}'))
    identifier.remove_suffix(1);
  return LowerCase(identifier);
}

bool TransitionsOn(const TIniIdentList& main) {
  if (!main.ReadBool(u"opt_fx_enable", true)) return false;
  for (int n = 1; n <= kEffGroupCount; ++n)
    if (!main.ReadString(u"opt_fx_eff" + Number(n), u"").empty()) return true;
  return false;
}

struct TVideoWalk {
  const TIniIdentList* main = nullptr;
  const TIniObject* clips = nullptr; // the show's video container
  double slideStart = 0;
  double slideLength = 0;
  std::set<const TIniObject*> takenClips;
  std::vector<TCompositeMember> members;

  const TIniObject* FindClip(std::u16string_view guid) const {
    const std::u16string wanted = Folded(guid);
    if (!clips || wanted.empty()) return nullptr;
    for (const TIniObject* clip = clips->FirstObject(); clip; clip = clips->NextObject(clip))
      if (Folded(clip->ReadString(u"GUID", u"")) == wanted) return clip;
    return nullptr;
  }

  // The clip's start on the show's time line: the start of its starting slide.
  double ClipStart(const TIniObject& clip) const {
    const int index = clip.ReadInteger(u"StartSlideIdx", 0);
    if (index == 0 || !main) return 0;
    return main->ReadInteger(u"opt_synchpos" + Number(index), 0);
  }

  void Visit(const TIniObject& video) {
    const TIniObject* clip = FindClip(video.ReadString(u"ClipGUID", u""));
    const TIniIdentList& keys = clip ? static_cast<const TIniIdentList&>(*clip) : video;
    if (keys.ReadBool(u"Mute", false) || keys.ReadFloat(u"FPSMultiplier", 1) != 1) return;
    if (clip && (ClipStart(*clip) < slideStart || takenClips.contains(clip))) return;

    std::u16string fileName = keys.ReadString(u"FileName", u"");
    if (fileName.empty()) return;
    if (keys.ReadBool(u"LoadFromDisk", false)) fileName = u"LoadFromDisk:" + fileName;
    const double start = std::max(0.0, ReadMusicTime(keys, u"StartKIVTime", 0));
    double duration = ReadMusicTime(keys, u"Duration", 0);
    // A duration of 0 would play the whole file, past any slide: until the slide's sound ends instead.
    if (duration <= 0)
      duration = slideLength - start;
    else if (!clip)
      duration = std::min(duration, slideLength - start);
    if (duration <= 0) return;

    if (clip) takenClips.insert(clip);
    TCompositeMember& member = members.emplace_back();
    member.fileName = std::move(fileName);
    member.timeLine = start;
    member.beginTime = std::max(0.0, ReadMusicTime(keys, u"StartVideoTime", 0));
    member.duration = duration;
  }

  void Walk(const TIniIdentList& container, int depth) {
    if (depth > kMaxObjectDepth) return;
    for (const TIniObject* object = container.FirstObject(); object; object = container.NextObject(object)) {
      if (IsObjectOfClass(*object, u"keypoint")) continue;
      if (IsObjectOfClass(*object, u"video") || IsObjectOfClass(*object, u"mainvideo")) Visit(*object);
      Walk(*object, depth + 1);
    }
  }
};

} // namespace

double SlideSoundLength(const TKivSource& source, const TIniSection& slide, double syncSpan) {
  const TIniSection* main = source.MainSection();
  if (!main || !TransitionsOn(*main)) return syncSpan;
  const bool personal = slide.ReadBool(u"Pers_Effect", false) && slide.ReadInteger(u"Effect_Class", 0) != 0;
  const double transition =
      personal ? slide.ReadInteger(u"EffectTime", 0) : main->ReadInteger(u"opt_fx_time", 0);
  return syncSpan + std::max(0.0, transition);
}

std::vector<TCompositeMember> SoundingVideoMembers(const TKivSource& source, const TIniSection& slide,
                                                   double slideStart, double slideLength) {
  TVideoWalk walk;
  walk.main = source.MainSection();
  if (walk.main) walk.clips = FindObjectOfClass(*walk.main, u"VideoBoss");
  walk.slideStart = slideStart;
  walk.slideLength = slideLength;
  walk.Walk(slide, 0);
  return std::move(walk.members);
}

} // namespace kiv

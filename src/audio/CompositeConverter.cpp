#include "CompositeConverter.h"

#include "IniLineText.h"
#include "RoundHalfEven.h"

#include <algorithm>
#include <cstring>

namespace kiv {

namespace {

int16_t SampleAt(const uint8_t* data, int64_t index) {
  int16_t s;
  std::memcpy(&s, data + index * 2, 2);
  return s;
}

// The ms of a byte position of the standard format, rounded down.
int64_t MsAt(int64_t bytes) {
  return bytes / 4 * 10 / 441;
}

} // namespace

TCompositeConverter::TCompositeConverter(std::string text, TSoundFileSource& source)
    : TWavConverter(nullptr), text_(std::move(text)), source_(source) {}

TCompositeConverter::~TCompositeConverter() {
  for (size_t i = 0; i < params_.Count(); ++i)
    CloseMember(params_.Item2(i));
}

bool TCompositeConverter::Open(const TMediaInfo& info) {
  info_ = info;
  failed_ = false;
  padding_ = 0;
  parsed_ = params_.Parse(std::string_view(text_));
  if (!parsed_) return false;
  const TWaveFormat standard = StandardWaveFormat();
  input_.format = standard;
  output_.format = standard;
  block_.format = standard;
  chunkSize_ = kBlockBytes;
  output_.Reserve(kBlockBytes);
  block_.Reserve(kBlockBytes);
  SetTarget(standard);
  waiting_.clear();
  for (size_t i = 0; i < params_.Count(); ++i) {
    TCompositeItem2& member = params_.Item2(i);
    member.source = &source_;
    const int64_t rest = params_.duration - member.timeLine;
    // A member of duration 0 plays to the end of its file: its envelopes span the rest of the time line.
    member.volumes.Compile(member.duration > 0 ? std::min(member.duration, rest) : rest);
    waiting_.push_back(&member);
  }
  SortWaiting();
  params_.mainVolumes.Compile(params_.duration);
  positioned_ = false;
  position_ = 0;
  currentTime_ = 0;
  return true;
}

void TCompositeConverter::SortWaiting() {
  std::stable_sort(waiting_.begin(), waiting_.end(), [](const TCompositeItem2* a, const TCompositeItem2* b) {
    return a->timeLine < b->timeLine;
  });
}

void TCompositeConverter::Move(TChannelList& from, size_t index, TChannelList& to) {
  to.push_back(from[index]);
  from.erase(from.begin() + static_cast<std::ptrdiff_t>(index));
}

void TCompositeConverter::Describe(TCompositeItem2& member) {
  if (member.describable) return;
  member.describable = !IsCompositeText(std::string_view(member.fileName)) &&
                       DescribeSoundFile(source_, &member, member.fileName, member.info);
}

bool TCompositeConverter::MemberEnd(TCompositeItem2& member, int64_t& endMs) {
  if (member.duration > 0) {
    endMs = member.timeLine + member.duration;
    return true;
  }
  // Without a duration the end is the file's: describe it before judging.
  Describe(member);
  if (!member.describable) return false;
  endMs = member.timeLine + int64_t(member.info.duration) + 10000;
  return true;
}

bool TCompositeConverter::OpenMember(TCompositeItem2& member) {
  if (member.file.IsOpen()) return true;
  // A member is a file: a composite text in its place is not opened (no nesting without end).
  if (IsCompositeText(std::string_view(member.fileName))) return false;
  Describe(member);
  if (!member.describable) return false;
  if (!member.file.OpenDescribed(source_, &member, member.fileName, member.info)) return false;
  member.file.Converter()->SetTarget(StandardWaveFormat());
  member.startOffset = -1;
  return true;
}

void TCompositeConverter::CloseMember(TCompositeItem2& member) {
  member.file.Close();
  member.startOffset = -1;
}

bool TCompositeConverter::StartInside(TCompositeItem2& member, int64_t timeMs) {
  if (!OpenMember(member)) return false;
  const int64_t into = timeMs - member.timeLine;
  member.volumes.SetPosition(StandardBytesAt(into));
  member.file.Converter()->Seek(double(member.beginTime + into));
  const auto found = std::find(waiting_.begin(), waiting_.end(), &member);
  if (found != waiting_.end()) Move(waiting_, static_cast<size_t>(found - waiting_.begin()), playing_);
  return true;
}

void TCompositeConverter::Seek(double ms) {
  TWavConverter::Seek(ms);
  positioned_ = true;
  for (TChannelList* list : {&preparing_, &playing_, &finished_}) {
    for (TCompositeItem2* member : *list) {
      CloseMember(*member);
      waiting_.push_back(member);
    }
    list->clear();
  }
  SortWaiting();
  const int64_t t = std::clamp<int64_t>(Round(ms > 0 ? ms : 0), 0, kCompositeMaxMs);
  position_ = StandardBytesAt(t);
  size_t i = 0;
  while (i < waiting_.size()) {
    TCompositeItem2& member = *waiting_[i];
    int64_t end = 0;
    if (MemberEnd(member, end) && end <= t) {
      Move(waiting_, i, finished_);
      continue;
    }
    if (member.timeLine > t + kOpenAheadMs) break;
    if (member.timeLine < t) {
      if (!StartInside(member, t)) ++i;
      continue;
    }
    if (OpenMember(member)) {
      member.volumes.SetPosition(StandardBytesAt(t - member.timeLine));
      member.file.Converter()->Seek(double(member.beginTime));
      Move(waiting_, i, preparing_);
    } else {
      ++i; // retried at the next block while it is due
    }
  }
  params_.mainVolumes.SetPosition(position_);
  currentTime_ = double(t);
}

void TCompositeConverter::MixMember(TCompositeItem2& member, bool& done) {
  done = false;
  const int64_t first = member.startOffset >= 0 ? member.startOffset / 4 : 0;
  member.startOffset = -1;
  if (first >= kBlockFrames) return; // starts with the next block
  const int64_t frames = kBlockFrames - first;
  TWavConverter& converter = *member.file.Converter();
  const bool more = converter.Fill(frames * 4);
  const uint8_t* samples = converter.Output().Data();
  // Bytes from the member's start to the first frame it gives to this block.
  const int64_t p = position_ + first * 4 - StandardBytesAt(member.timeLine);
  TVolumeParamsList& volumes = member.volumes;
  volumes.SetPosition(p - 4);
  bool finished = false;
  for (int64_t k = 0; k < frames; ++k) {
    const int64_t at = p + 4 * k;
    if (volumes.Step(at)) {
      finished = true;
      break;
    }
    bool unity = false;
    double gain = volumes.GetGain(unity);
    if (gain > 10) {
      // Far off the envelope: the stepping has drifted, so take the gain afresh.
      volumes.SetPosition(at - 4);
      volumes.Step(at);
      gain = volumes.GetGain(unity);
    }
    int32_t* sum = &sums_[static_cast<size_t>(2 * (first + k))];
    const int16_t left = SampleAt(samples, 2 * k);
    const int16_t right = SampleAt(samples, 2 * k + 1);
    if (unity || (gain > 0.99 && gain < 1.01)) {
      sum[0] += left;
      sum[1] += right;
    } else if (gain > 0.00001) {
      sum[0] += static_cast<int32_t>(Round(gain * left));
      sum[1] += static_cast<int32_t>(Round(gain * right));
    }
  }
  converter.Output().Consume(std::min<int64_t>(frames * 4, converter.Output().Length()));
  done = finished || !more;
}

void TCompositeConverter::ApplyMainVolumes() {
  TVolumeParamsList& volumes = params_.mainVolumes;
  if (volumes.Count() == 0) return;
  volumes.SetPosition(position_ - 4);
  for (int k = 0; k < kBlockFrames; ++k) {
    volumes.Step(position_ + 4 * int64_t(k));
    bool unity = false;
    const double gain = volumes.GetGain(unity);
    if (unity || (gain > 0.99 && gain < 1.01)) continue;
    for (int c = 0; c < 2; ++c) {
      int32_t& sum = sums_[static_cast<size_t>(2 * k + c)];
      sum = gain < 0.001 ? 0 : static_cast<int32_t>(Round(gain * sum));
    }
  }
}

void TCompositeConverter::OpenDueMembers() {
  const int64_t horizon = position_ + StandardBytesAt(kOpenAheadMs);
  size_t i = 0;
  while (i < waiting_.size()) {
    TCompositeItem2& member = *waiting_[i];
    const int64_t start = StandardBytesAt(member.timeLine);
    if (start > horizon) break;
    if (start < position_) {
      // Its start has passed while it could not be opened: it joins where the mix stands, or has ended.
      // (Ending the scan here would keep every later member waiting for good.)
      const int64_t now = MsAt(position_);
      int64_t end = 0;
      if (MemberEnd(member, end) && end <= now) {
        Move(waiting_, i, finished_);
        continue;
      }
      if (!StartInside(member, now)) ++i;
      continue;
    }
    if (OpenMember(member)) {
      member.file.Converter()->Seek(double(member.beginTime));
      Move(waiting_, i, preparing_);
    } else {
      ++i; // left for the next block
    }
  }
}

bool TCompositeConverter::Convert(TLocalBuffer&) {
  if (!parsed_) return false;
  if (!positioned_) Seek(0);
  sums_.fill(0);
  for (size_t i = 0; i < preparing_.size();) {
    TCompositeItem2& member = *preparing_[i];
    const int64_t start = StandardBytesAt(member.timeLine);
    if (start <= position_ + kBlockBytes) {
      member.startOffset = std::max<int64_t>(0, start - position_);
      Move(preparing_, i, playing_);
    } else {
      ++i;
    }
  }
  for (size_t i = 0; i < playing_.size();) {
    TCompositeItem2& member = *playing_[i];
    bool done = false;
    MixMember(member, done);
    if (done) {
      CloseMember(member);
      Move(playing_, i, finished_);
    } else {
      ++i;
    }
  }
  ApplyMainVolumes();
  block_.Clear();
  block_.Reserve(kBlockBytes);
  uint8_t* out = block_.End();
  for (size_t i = 0; i < sums_.size(); ++i) {
    const int16_t s = static_cast<int16_t>(std::clamp(sums_[i], -32768, 32767));
    std::memcpy(out + 2 * i, &s, 2);
  }
  block_.Commit(kBlockBytes);
  position_ += kBlockBytes;
  OpenDueMembers();
  TWavConverter::Convert(block_);
  return position_ < StandardBytesAt(params_.duration);
}

} // namespace kiv

namespace kiv {

TNamedSoundHooks CompositeSoundHooks() {
  TNamedSoundHooks hooks;
  hooks.describe = [](const std::string& name, TMediaInfo& info) {
    if (!IsCompositeText(std::string_view(name))) return false;
    info = TMediaInfo();
    TCompositeParams params;
    if (params.Parse(std::string_view(name))) params.Describe(info);
    return true;
  };
  hooks.createConverter = [](TSoundFileSource& source, const std::string& name,
                             const TMediaInfo&) -> TOwned<TWavConverter> {
    if (!IsCompositeText(std::string_view(name))) return nullptr;
    return MakeOwned<TCompositeConverter>(name, source);
  };
  return hooks;
}

} // namespace kiv

#pragma once
// Plays a composite music text as one converter: it opens the member files itself as they come due,
// mixes them in software into the standard format in blocks of 2500 frames, shapes each member by its
// envelopes (with the automatic 10 ms fade in and out) and the whole by the main envelopes, and clamps
// the sums. Members are opened at most 5000 ms before they are due and closed when they end.

#include "CompositeMusic.h"
#include "SoundFileSource.h"
#include "WavConverter.h"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace kiv {

// A member as it plays.
class TCompositeItem2 : public TCompositeItem {
public:
  TSoundFileSource* source = nullptr; // the player's files; set by the converter
  TOpenedSoundFile file;              // open while the member is preparing or playing
  TMediaInfo info;                    // the file's description, once described
  bool describable = false;           // info holds the description (a failure is tried again later)
  int64_t startOffset = -1;           // bytes into the current block where the member starts; -1 none
};

class TCompositeParams2 : public TCompositeParams {
public:
  TCompositeItem2& Item2(size_t i) { return static_cast<TCompositeItem2&>(Item(i)); }

protected:
  TOwned<TCompositeItem> NewItem() override { return MakeOwned<TCompositeItem2>(); }
};

using TChannelList = std::vector<TCompositeItem2*>;

class TCompositeConverter : public TWavConverter {
public:
  static constexpr int kBlockFrames = 2500;
  static constexpr int64_t kBlockBytes = kBlockFrames * 4;
  static constexpr int64_t kOpenAheadMs = 5000;

  // text: the composite text (UTF-8); source: where the members are opened (outlives the converter).
  TCompositeConverter(std::string text, TSoundFileSource& source);
  ~TCompositeConverter() override;

  bool Open(const TMediaInfo& info) override;
  void Seek(double ms) override;
  // Mixes the next block into the output; false once the output has reached the composite's end.
  bool Convert(TLocalBuffer& input) override;
  bool ReadInput() override { return true; }
  const char* KindName() const override { return "composite"; }

  // For tests and tools: where the mix stands, and the members by state.
  int64_t OutputPosition() const noexcept { return position_; }
  const TChannelList& Waiting() const noexcept { return waiting_; }
  const TChannelList& Preparing() const noexcept { return preparing_; }
  const TChannelList& Playing() const noexcept { return playing_; }
  const TChannelList& Finished() const noexcept { return finished_; }
  const TCompositeParams2& Params() const noexcept { return params_; }

private:
  // Opens the member's file; false leaves it closed.
  bool OpenMember(TCompositeItem2& member);
  void CloseMember(TCompositeItem2& member);
  void Describe(TCompositeItem2& member);
  // ms on the time line where the member stops sounding; false when that is unknown (its file cannot be
  // described).
  bool MemberEnd(TCompositeItem2& member, int64_t& endMs);
  // Opens a member that began before timeMs and puts it into playing, sought to where it stands.
  bool StartInside(TCompositeItem2& member, int64_t timeMs);
  void MixMember(TCompositeItem2& member, bool& done);
  void ApplyMainVolumes();
  void OpenDueMembers();
  void SortWaiting();
  static void Move(TChannelList& from, size_t index, TChannelList& to);

  const std::string text_;
  TSoundFileSource& source_;
  TCompositeParams2 params_;
  bool parsed_ = false;
  TChannelList waiting_;   // sorted by time line position
  TChannelList preparing_; // opened, sought to their begin time, starting within 5000 ms
  TChannelList playing_;
  TChannelList finished_;
  std::array<int32_t, kBlockFrames * 2> sums_{};
  int64_t position_ = 0; // output bytes mixed so far
  bool positioned_ = false;
  TLocalBuffer block_; // one mixed block on its way to the output
};

} // namespace kiv

namespace kiv {

// The player's hooks for composite music texts: a text is described by its document and played through
// a TCompositeConverter.
TNamedSoundHooks CompositeSoundHooks();

} // namespace kiv

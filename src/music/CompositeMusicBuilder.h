#pragma once
// Writes a composite music text: member files placed on the composite's own time line, each cut to a
// begin time and a duration and shaped by volume envelopes, plus envelopes over the whole.
//
// The document written (read back with the INI model; numbers may carry fractions, so read them as floats):
//   [Main]         Duration
//   [0], [1], ...  FileName, TimeLine, BeginTime, Duration (0: to the file's end), FadeCount
//   [Vol_m_k_j]    0 = time in ms from the member's start, 1 = volume in thousandths
//   [MainVolume]   FadeCount, with points in [Vol_MainVolume_k_j] timed from the composite's start

#include <string>
#include <string_view>
#include <vector>

namespace kiv {

struct TVolumePoint {
  double time = 0;   // ms
  double volume = 0; // thousandths; 1000 leaves the sound as it is
  bool operator==(const TVolumePoint&) const = default;
};
using TVolumeEnvelope = std::vector<TVolumePoint>;

struct TCompositeMember {
  std::u16string fileName;
  double timeLine = 0;  // ms on the composite's time line
  double beginTime = 0; // ms into the file
  double duration = 0;  // ms to play; 0 plays to the file's end
  std::vector<TVolumeEnvelope> envelopes;
};

// Samples at 44100 Hz and 16.16 fixed-point volumes of a "VolumeParams" text, as one envelope timed from
// the member's start: pairs "position:volume" separated by ","; each point at round(position / 44.1) ms
// minus beginTime, volume round(volume / 65.536); times made strictly increasing. Pairs that are not two
// numbers are skipped; no valid pair gives an empty envelope.
TVolumeEnvelope VolumeParamsEnvelope(std::u16string_view text, double beginTime);

class TCompositeMusicBuilder {
public:
  void SetDuration(double duration) noexcept { duration_ = duration; }
  double Duration() const noexcept { return duration_; }

  TCompositeMember& AddItem(std::u16string fileName, double timeLine);
  TVolumeEnvelope& AddMainEnvelope();
  std::vector<TCompositeMember>& Members() noexcept { return members_; }
  const std::vector<TCompositeMember>& Members() const noexcept { return members_; }

  // The composite text. Members without a file name are left out (a reader stops at the first nameless
  // member), and so are envelopes without points. "" when the document cannot be written.
  std::u16string ToText() const;

private:
  double duration_ = 0;
  std::vector<TCompositeMember> members_;
  std::vector<TVolumeEnvelope> mainEnvelopes_;
};

} // namespace kiv

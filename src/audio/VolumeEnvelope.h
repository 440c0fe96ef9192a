#pragma once
// Volume envelopes: points of (time, volume) compiled into linear segments over the bytes of the standard
// format, stepped frame by frame while a composite is mixed. A list multiplies its envelopes; a member's
// list also carries the automatic envelope that fades the member in and out over 10 ms, so that no member
// starts or ends with a click.

#include "IniDocument.h"

#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace kiv {

// Bytes of the standard format (4 per frame, 44.1 frames per ms) at a time in ms: whole frames, rounded
// down.
int64_t StandardBytesAt(int64_t ms);

// A point as written: ms (relative to what the envelope shapes) and volume in thousandths.
struct TVolumeItem {
  int32_t time = 0;
  int32_t volume = 1000;
};

// A compiled point: the segment that ends at it.
struct TVolumeItem2 {
  int64_t position = 0; // bytes of the standard format
  double step = 0;      // gain change per frame from the previous point to this one
  bool flat = true;     // the same volume as the previous point (the first point always)
  bool last = false;
  double gain = 1; // volume / 1000
};

class TVolumeParams {
public:
  explicit TVolumeParams(bool automatic = false) : automatic_(automatic) {}

  void AddPoint(int32_t timeMs, int32_t volume) { points_.push_back({timeMs, volume}); }
  const std::vector<TVolumeItem>& Points() const noexcept { return points_; }
  bool Automatic() const noexcept { return automatic_; }

  // The points sorted, with one more at durationMs holding the volume the envelope ends on; of two points
  // at the same time the later one counts.
  void Compile(int64_t durationMs);
  const std::vector<TVolumeItem2>& Segments() const noexcept { return segments_; }

  // The gain at a byte position: on the segment that holds it, the first point's before the start, the
  // last point's beyond the end.
  void SetPosition(int64_t bytes);
  struct TStep {
    double step = 0;
    bool finished = false; // the position lies beyond the last point
    bool flat = true;
  };
  // The step of the segment that holds the position (the gain is left to the caller, except before the
  // start, where it becomes the first point's).
  TStep Step(int64_t bytes);

  double Gain() const noexcept { return gain_; }
  void SetGain(double gain);
  // Within 0.99 .. 1.01 (exclusive): the gain is left out of the products.
  bool Unity() const noexcept { return unity_; }

private:
  // The first segment whose point lies at or after the position; segments_.size() beyond the last.
  size_t SegmentAt(int64_t bytes);

  bool automatic_;
  std::vector<TVolumeItem> points_;
  std::vector<TVolumeItem2> segments_;
  double gain_ = 1;
  bool unity_ = true;
  size_t cached_ = 0;
};

// Which envelopes of which owner a document holds point sections for ("Vol_" + owner + "_" + k + "_" + j).
// Built once per document, so that reading never walks envelope numbers that have no points: "FadeCount"
// may say a million.
class TEnvelopeSections {
public:
  explicit TEnvelopeSections(const TIniStorage& document);
  // The envelope numbers of an owner ("0", "MainVolume"; compared without regard to ASCII case).
  const std::set<int32_t>* EnvelopesOf(std::u16string_view owner) const;

private:
  std::map<std::u16string, std::set<int32_t>> envelopes_;
};

class TVolumeParamsList {
public:
  // Members' lists ask for the automatic de-click envelope, the composite's own list does not.
  explicit TVolumeParamsList(bool declick) : declick_(declick) {}
  TVolumeParamsList(const TVolumeParamsList& other);
  TVolumeParamsList& operator=(const TVolumeParamsList& other);

  TVolumeParams& Add();
  size_t Count() const noexcept { return envelopes_.size(); }
  TVolumeParams& operator[](size_t i) { return *envelopes_[i]; }
  const TVolumeParams& operator[](size_t i) const { return *envelopes_[i]; }
  // The envelopes as written (not the automatic one).
  size_t WrittenCount() const;
  void Clear() { envelopes_.clear(); }

  // Compiles every envelope for the duration; with the de-click flag the previous automatic envelope is
  // replaced by (0, 0), (10, 1000), (duration - 10, 1000), (duration, 0).
  void Compile(int64_t durationMs);
  void SetPosition(int64_t bytes);
  // Steps every envelope whose segment is not flat; true when every envelope is finished.
  bool Step(int64_t bytes);
  // The product of the gains that are not at unity; allUnity tells whether all of them are.
  double GetGain(bool& allUnity) const;

  // Reads the envelopes of one owner: "FadeCount" in ownerSection, the points in sections
  // "Vol_" + prefix + "_" + k + "_" + j. False (and nothing read) when FadeCount lies outside
  // 0 .. 1000000. Envelopes without points are left out.
  bool ReadFrom(const TIniStorage& document, const TEnvelopeSections& sections,
                std::u16string_view ownerSection, std::u16string_view prefix);
  void WriteTo(TIniStorage& document, std::u16string_view ownerSection, std::u16string_view prefix) const;

  // Adds one envelope from "position:volume" pairs separated by ",": positions in samples at 44100 Hz,
  // volumes in 16.16 fixed point, times made relative to beginTimeMs and strictly increasing. Malformed
  // pairs are skipped; nothing is added without a pair.
  void AddPairsText(std::u16string_view text, int32_t beginTimeMs);

private:
  bool declick_;
  std::vector<std::unique_ptr<TVolumeParams>> envelopes_;
};

} // namespace kiv

#pragma once
// Composite music: a small description document naming sound files, each placed on the composite's own
// time line, cut to a begin time and a duration and shaped by volume envelopes, plus envelopes over the
// whole. It travels as one text in place of a file name (see IniLineText.h); several texts in one string
// are joined one after another.

#include "MediaRecord.h"
#include "ObjectBase.h"
#include "VolumeEnvelope.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kiv {

class TCompositeItem : public TObj {
public:
  TCompositeItem() = default;

  std::string fileName;  // UTF-8
  int64_t timeLine = 0;  // ms on the composite's time line where the member starts
  int64_t beginTime = 0; // ms into the file where playing begins
  int64_t duration = 0;  // ms to play; 0 = to the end of the file
  TVolumeParamsList volumes{true};
};

class TCompositeParams : public TObj {
public:
  TCompositeParams() = default;

  // Reads one composite text or several joined ones (UTF-16 or UTF-8). True when the duration is above 0
  // and there is a member.
  bool Parse(std::u16string_view text);
  bool Parse(std::string_view utf8Text);
  TCompositeItem& AddItem(const std::string& fileName, int64_t timeLine);
  TVolumeParams& AddMainEnvelope() { return mainVolumes.Add(); }
  // The composite text; "" when the document cannot be written.
  std::u16string ToText() const;
  // Composite (type 9), the duration and the standard format.
  void Describe(TMediaInfo& info) const;

  size_t Count() const noexcept { return items_.size(); }
  TCompositeItem& Item(size_t i) { return *items_[i]; }
  const TCompositeItem& Item(size_t i) const { return *items_[i]; }

  int64_t duration = 0; // ms
  TVolumeParamsList mainVolumes{false};

protected:
  // The class of new members.
  virtual TOwned<TCompositeItem> NewItem() { return MakeOwned<TCompositeItem>(); }

private:
  // One text of a joined string: its members shifted by `shift` ms.
  bool ParseOne(std::u16string_view line, int64_t shift);

  std::vector<TOwned<TCompositeItem>> items_;
};

// The longest time a composite or a member may say, in ms (about 24 days): the byte positions of the
// standard format stay far inside 64 bits and durations inside the 32-bit record.
inline constexpr int64_t kCompositeMaxMs = 2000000000;

} // namespace kiv

#pragma once
// A play list of the show's music: files (or composite texts) one after another on a time line of their
// own, optionally repeating. Built once by the music description, then only read, from any thread.

#include "ObjectBase.h"

#include <cstdint>
#include <string>
#include <vector>

namespace kiv {

struct TMusicItemInfo {
  std::u16string fileName; // a file of the show, "LoadFromDisk:" + a disk path, or a composite text
  double start = 0;        // ms on the list's time line
  double duration = 0;     // ms
};

class TPlayList : public TRefObj {
public:
  TPlayList() = default;

  // Puts the item at the current total length.
  void Add(std::u16string fileName, double duration);
  // Puts the item where it says.
  void AddItem(TMusicItemInfo item);

  int Count() const noexcept { return static_cast<int>(items_.size()); }
  // The largest start + duration.
  double TotalLength() const noexcept { return totalLength_; }
  // A list of total length 0 never repeats: every pass would start at the same time.
  bool Repeat() const noexcept { return repeat_ && totalLength_ > 0; }
  void SetRepeat(bool repeat) noexcept { repeat_ = repeat; }

  // Item i; in a repeating list item i mod count moved by (i div count) passes. An index past the end of
  // a list that does not repeat, or any index of an empty list, gives an empty item. A negative index is
  // "Assertion failure".
  TMusicItemInfo Item(int64_t index) const;

private:
  std::vector<TMusicItemInfo> items_;
  double totalLength_ = 0;
  bool repeat_ = false;
};

} // namespace kiv

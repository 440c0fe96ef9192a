#include "PlayList.h"

#include "Assert.h"

#include <algorithm>

namespace kiv {

void TPlayList::Add(std::u16string fileName, double duration) {
  AddItem({std::move(fileName), totalLength_, duration});
}

void TPlayList::AddItem(TMusicItemInfo item) {
  // Most lists hold one composite; longer ones grow in doubling steps.
  if (items_.size() == items_.capacity())
    items_.reserve(items_.empty() ? 1 : items_.size() == 1 ? 8 : items_.size() * 2);
  totalLength_ = std::max(totalLength_, item.start + item.duration);
  items_.push_back(std::move(item));
}

TMusicItemInfo TPlayList::Item(int64_t index) const {
  RY_ASSERT(index >= 0);
  const auto count = static_cast<int64_t>(items_.size());
  if (count == 0) return {};
  if (!Repeat()) return index < count ? items_[static_cast<size_t>(index)] : TMusicItemInfo{};
  TMusicItemInfo item = items_[static_cast<size_t>(index % count)];
  item.start += static_cast<double>(index / count) * totalLength_;
  return item;
}

} // namespace kiv

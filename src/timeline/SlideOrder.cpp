#include "SlideOrder.h"

#include "Assert.h"
#include "NameHashList.h"
#include "Utf8.h"

#include <algorithm>
#include <chrono>
#include <memory>
#include <mutex>
#include <random>

namespace kiv {
namespace {

constexpr int32_t kKeyRange = 1000000;

// Lists stay until the process ends; the generator is ours alone, so no other user of random numbers
// is reseeded when an order is drawn.
struct TRandomRegistry {
  std::mutex lock;
  THashList<std::unique_ptr<TSlideRandomList>> lists{kFileMapBuckets, THashKeyMode::Exact};
  std::mt19937 generator{static_cast<std::mt19937::result_type>(
      std::chrono::high_resolution_clock::now().time_since_epoch().count())};
};

TRandomRegistry& Registry() {
  static TRandomRegistry registry;
  return registry;
}

// Called under the registry's lock.
std::unique_ptr<TSlideRandomList> MakeList(const TIniStorage& document, std::mt19937& generator) {
  const TIniSection* main = document.FindSection(u"main");
  RY_ASSERT(main != nullptr);
  const int count = ReadSlideCount(*main);
  std::vector<TSlideRandomEntry> entries(static_cast<size_t>(count));
  for (int i = 0; i < count; ++i)
    entries[static_cast<size_t>(i)].slide = i;
  if (main->ReadBool(u"opt_random", false)) {
    std::uniform_int_distribution<int32_t> keys(0, kKeyRange - 1);
    for (TSlideRandomEntry& entry : entries)
      entry.key = keys(generator);
    SortRandomEntries(entries);
  }
  return std::make_unique<TSlideRandomList>(std::move(entries));
}

// Called under the registry's lock; nullptr when the project has no path.
const TSlideRandomList* FindOrMakeList(TRandomRegistry& registry, const TIniStorage& document) {
  const std::u16string path = document.ReadString(u"main", u"ProjectFilePath", u"");
  if (path.empty()) return nullptr;
  if (const auto* found = registry.lists.FindFirst(path)) return found->get();
  return registry.lists.Add(path, MakeList(document, registry.generator)).get();
}

} // namespace

int ReadSlideCount(const TIniIdentList& main) {
  return std::clamp(main.ReadInteger(u"opt_slidescount", 0), 0, kMaxSlideCount);
}

void SortRandomEntries(std::vector<TSlideRandomEntry>& entries) {
  for (size_t end = entries.size(); end > 1; --end) {
    size_t largest = end - 1;
    for (size_t j = end - 1; j-- > 0;)
      if (entries[j].key > entries[largest].key) largest = j;
    std::swap(entries[largest], entries[end - 1]);
  }
}

int TSlideRandomList::SlideAt(int position) const noexcept {
  if (position < 0 || position >= Count()) return position;
  return entries_[static_cast<size_t>(position)].slide;
}

const TSlideRandomList* GetRandomList(const TIniStorage& document) {
  TRandomRegistry& registry = Registry();
  std::lock_guard guard(registry.lock);
  return FindOrMakeList(registry, document);
}

int GetSlideNumber(const TIniStorage& document, int position) {
  TRandomRegistry& registry = Registry();
  std::lock_guard guard(registry.lock);
  const TSlideRandomList* list = FindOrMakeList(registry, document);
  return list ? list->SlideAt(position) : position;
}

std::u16string GetSlideSectionName(const TIniStorage& document, int position) {
  const int64_t number = static_cast<int64_t>(GetSlideNumber(document, position)) + 1;
  return u"Slide" + Utf8ToUtf16(std::to_string(number));
}

TIniSection* GetSlideSection(const TIniStorage& document, int position) {
  return document.FindSection(GetSlideSectionName(document, position));
}

} // namespace kiv

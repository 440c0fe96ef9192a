#include "SlideOrder.h"

#include "Assert.h"
#include "NameHashList.h"
#include "Utf8Conversion.h"

#include <algorithm>
#include <chrono>
#include <memory>
#include <mutex>
#include <random>

namespace kiv {
namespace {

constexpr int32_t kKeyRange = 1000000;

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

TSlideOrderRegistry::TSlideOrderRegistry()
    : lists_(kFileMapBuckets, THashKeyMode::Exact),
      generator_(static_cast<std::mt19937::result_type>(
          std::chrono::high_resolution_clock::now().time_since_epoch().count())) {}

const TSlideRandomList* TSlideOrderRegistry::FindOrMakeList(const TIniStorage& document) {
  const std::u16string path = document.ReadString(u"main", u"ProjectFilePath", u"");
  if (path.empty()) return nullptr;
  if (const auto* found = lists_.FindFirst(path)) return found->get();
  return lists_.Add(path, MakeList(document, generator_)).get();
}

const TSlideRandomList* TSlideOrderRegistry::GetRandomList(const TIniStorage& document) {
  std::lock_guard guard(lock_);
  return FindOrMakeList(document);
}

int TSlideOrderRegistry::GetSlideNumber(const TIniStorage& document, int position) {
  std::lock_guard guard(lock_);
  const TSlideRandomList* list = FindOrMakeList(document);
  return list ? list->SlideAt(position) : position;
}

std::u16string TSlideOrderRegistry::GetSlideSectionName(const TIniStorage& document, int position) {
  const int64_t number = static_cast<int64_t>(GetSlideNumber(document, position)) + 1;
  return u"Slide" + Utf8ToUtf16(std::to_string(number));
}

TIniSection* TSlideOrderRegistry::GetSlideSection(const TIniStorage& document, int position) {
  return document.FindSection(GetSlideSectionName(document, position));
}

} // namespace kiv

#pragma once
// The order in which a show plays its slides. A random order is drawn once per project and kept by the
// player's registry, so that its loader, engine and music all agree on which slide plays where.

#include "IniDocument.h"
#include "NameHashList.h"
#include "ObjectBase.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <vector>

namespace kiv {

// The most slides a show may have. The count comes from the show file; a larger one would have every
// per-slide table allocate without bound.
inline constexpr int kMaxSlideCount = 100000;

// opt_slidescount of "main" kept within 0 .. kMaxSlideCount.
int ReadSlideCount(const TIniIdentList& main);

struct TSlideRandomEntry {
  int slide = 0; // slide number from 0
  int32_t key = 0;
};

// Moves the entry with the largest key to the end of the unsorted part, again and again, scanning from
// that end: of equal keys the one found first in the scan stays where it is.
void SortRandomEntries(std::vector<TSlideRandomEntry>& entries);

// One project's play order. Fixed once entered in the registry, so readers never see it change.
class TSlideRandomList : public TObj {
public:
  explicit TSlideRandomList(std::vector<TSlideRandomEntry> entries) : entries_(std::move(entries)) {}

  int Count() const noexcept { return static_cast<int>(entries_.size()); }
  // The slide number (from 0) played at position; positions before the list or past its end play their
  // own number, as if the list had been extended with entries holding their own index.
  int SlideAt(int position) const noexcept;

private:
  const std::vector<TSlideRandomEntry> entries_;
};

// The play orders of one player, one per project ("ProjectFilePath" of "main"), drawn on first request and
// shared by every later open of the same project through this registry. Any thread; locks itself.
class TSlideOrderRegistry : public TRefObj {
public:
  TSlideOrderRegistry();

  // The project's list; nullptr when the path is empty (the show plays in file order). Lists stay as long
  // as the registry, so the pointer stays valid while the caller holds the registry.
  const TSlideRandomList* GetRandomList(const TIniStorage& document);
  // The slide number (from 0) played at position.
  int GetSlideNumber(const TIniStorage& document, int position);
  // "Slide" followed by the slide number from 1.
  std::u16string GetSlideSectionName(const TIniStorage& document, int position);
  // That section, or nullptr when the document lacks it.
  TIniSection* GetSlideSection(const TIniStorage& document, int position);

private:
  const TSlideRandomList* FindOrMakeList(const TIniStorage& document); // called under lock_

  std::mutex lock_;
  THashList<std::unique_ptr<TSlideRandomList>> lists_; // under lock_
  // Ours alone, so no other user of random numbers is reseeded when an order is drawn.
  std::mt19937 generator_; // under lock_
};

} // namespace kiv

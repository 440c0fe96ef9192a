#pragma once
// Hashing of names for the bucket indexes of the project store, the file maps and caches, and a small
// bucket list keyed by names (file maps: 251 buckets, the image cache: 9997).

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kiv {

// ELF (PJW) hash over the low byte of each UTF-16 code unit.
constexpr uint32_t ElfHash(std::u16string_view text) noexcept {
  uint32_t h = 0;
  for (char16_t c : text) {
    h = (h << 4) + static_cast<uint8_t>(c);
    if (h >= 0x10000000u) h = (h ^ ((h >> 28) << 4)) & 0x0FFFFFFFu;
  }
  return h;
}

inline constexpr std::size_t kFileMapBuckets = 251;
inline constexpr std::size_t kImageCacheBuckets = 9997;

// How a name becomes a key: letter case folded (file maps, caches), or taken as written.
enum class THashKeyMode { FoldCase, Exact };

// The key form of a name under the given mode.
std::u16string HashKey(std::u16string_view name, THashKeyMode mode = THashKeyMode::FoldCase);

// Names map to lists of values: several values per key, kept in the order they were added. The bucket
// count is fixed at construction. Not locked: owners that share one across threads hold their own lock.
template <class T> class THashList {
public:
  explicit THashList(std::size_t bucketCount = kFileMapBuckets, THashKeyMode mode = THashKeyMode::FoldCase)
      : buckets_(bucketCount == 0 ? 1 : bucketCount), mode_(mode) {}

  std::size_t BucketCount() const noexcept { return buckets_.size(); }
  // Number of distinct keys.
  std::size_t Count() const noexcept { return count_; }
  bool Empty() const noexcept { return count_ == 0; }

  // The values of a name in the order added, or nullptr when the name has none.
  const std::vector<T>* Find(std::u16string_view name) const {
    const std::u16string key = HashKey(name, mode_);
    const TEntry* entry = FindIn(buckets_[BucketOf(key)], key);
    return entry ? &entry->values : nullptr;
  }
  std::vector<T>* Find(std::u16string_view name) {
    return const_cast<std::vector<T>*>(std::as_const(*this).Find(name));
  }
  // The first value of a name, or nullptr.
  const T* FindFirst(std::u16string_view name) const {
    const std::vector<T>* values = Find(name);
    return values ? &values->front() : nullptr;
  }
  T* FindFirst(std::u16string_view name) { return const_cast<T*>(std::as_const(*this).FindFirst(name)); }
  bool Contains(std::u16string_view name) const { return Find(name) != nullptr; }

  // Appends a value to the name's list; returns the stored value.
  T& Add(std::u16string_view name, T value) {
    std::u16string key = HashKey(name, mode_);
    std::vector<TEntry>& bucket = buckets_[BucketOf(key)];
    TEntry* entry = FindIn(bucket, key);
    if (!entry) {
      entry = &bucket.emplace_back(TEntry{std::move(key), {}});
      ++count_;
    }
    return entry->values.emplace_back(std::move(value));
  }

  // Removes the name with all its values; returns how many values went.
  std::size_t Remove(std::u16string_view name) {
    const std::u16string key = HashKey(name, mode_);
    std::vector<TEntry>& bucket = buckets_[BucketOf(key)];
    auto it = std::find_if(bucket.begin(), bucket.end(), [&](const TEntry& e) { return e.key == key; });
    if (it == bucket.end()) return 0;
    std::size_t removed = it->values.size();
    bucket.erase(it);
    --count_;
    return removed;
  }

  // Removes the name's values for which pred(value) holds, keeping the others in order; the name goes
  // when its last value goes. Returns how many values went.
  template <class Pred> std::size_t RemoveIf(std::u16string_view name, Pred pred) {
    const std::u16string key = HashKey(name, mode_);
    std::vector<TEntry>& bucket = buckets_[BucketOf(key)];
    auto it = std::find_if(bucket.begin(), bucket.end(), [&](const TEntry& e) { return e.key == key; });
    if (it == bucket.end()) return 0;
    std::size_t removed = std::erase_if(it->values, pred);
    if (it->values.empty()) {
      bucket.erase(it);
      --count_;
    }
    return removed;
  }

  void Clear() {
    for (auto& bucket : buckets_)
      bucket.clear();
    count_ = 0;
  }

  // Visits every key (in its key form) with its values; order is by bucket, then by insertion.
  template <class Fn> void ForEach(Fn fn) const {
    for (const auto& bucket : buckets_)
      for (const TEntry& entry : bucket)
        fn(std::u16string_view(entry.key), entry.values);
  }

private:
  struct TEntry {
    std::u16string key;
    std::vector<T> values; // never empty while the entry exists
  };

  std::size_t BucketOf(std::u16string_view key) const noexcept { return ElfHash(key) % buckets_.size(); }
  template <class Bucket> static auto* FindIn(Bucket& bucket, std::u16string_view key) {
    auto it = std::find_if(bucket.begin(), bucket.end(), [&](const TEntry& e) { return e.key == key; });
    return it == bucket.end() ? nullptr : &*it;
  }

  std::vector<std::vector<TEntry>> buckets_;
  std::size_t count_ = 0;
  THashKeyMode mode_;
};

} // namespace kiv

#include "ObjectFactory.h"

#include "CaseFolding.h"

#include <map>
#include <mutex>
#include <random>

namespace kiv {

// ---- factory ----

namespace {

// Process-wide: the kinds of object the program knows, registered once at start-up; makers keep no state.
struct TKindRegistry {
  std::mutex lock;
  std::map<std::u16string, TKivObjectMaker, std::less<>> makers; // under lock
};

TKindRegistry& Registry() {
  static TKindRegistry registry;
  return registry;
}

} // namespace

TKivObjectMaker RegisterKivObjectKind(std::u16string_view type, TKivObjectMaker maker) {
  TKindRegistry& registry = Registry();
  std::lock_guard<std::mutex> hold(registry.lock);
  const std::u16string key = LowerCase(type);
  TKivObjectMaker previous = nullptr;
  if (auto it = registry.makers.find(key); it != registry.makers.end()) previous = it->second;
  if (maker)
    registry.makers[key] = maker;
  else
    registry.makers.erase(key);
  return previous;
}

TOwned<TKivObject> CreateKivObject(std::u16string_view type, TKivObject* parent, std::u16string guid) {
  TKivObjectMaker maker = nullptr;
  {
    TKindRegistry& registry = Registry();
    std::lock_guard<std::mutex> hold(registry.lock);
    if (auto it = registry.makers.find(type); it != registry.makers.end()) maker = it->second;
  }
  return maker ? maker(parent, std::move(guid)) : nullptr;
}

std::u16string NewObjectGuid() {
  thread_local std::mt19937_64 generator{std::random_device{}()};
  static constexpr char16_t kHex[] = u"0123456789ABCDEF";
  const uint64_t high = generator(), low = generator();
  std::u16string text = u"{";
  for (int i = 0; i < 32; ++i) {
    const uint64_t word = i < 16 ? high : low;
    text.push_back(kHex[(word >> (60 - 4 * (i % 16))) & 0xF]);
    if (i == 7 || i == 11 || i == 15 || i == 19) text.push_back(u'-');
  }
  text.push_back(u'}');
  return text;
}

} // namespace kiv

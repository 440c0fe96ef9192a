#include "CaseFolding.h"

#include <algorithm>
#include <array>
#include <cstdint>

namespace kiv {
namespace {

struct TFoldRange {
  char16_t first, last;
  int stride;
  int delta;
};

constexpr TFoldRange kFoldRanges[] = {
#include "CaseFoldingTable.inc"
};

constexpr std::array<char16_t, 128> MakeAsciiTable() {
  std::array<char16_t, 128> t{};
  for (int i = 0; i < 128; ++i) t[i] = static_cast<char16_t>(i >= 'A' && i <= 'Z' ? i + 32 : i);
  return t;
}
constexpr auto kAscii = MakeAsciiTable();

} // namespace

char16_t FoldCase(char16_t c) noexcept {
  if (c < 128) return kAscii[c];
  auto it = std::upper_bound(std::begin(kFoldRanges), std::end(kFoldRanges), c,
                             [](char16_t v, const TFoldRange& r) { return v < r.first; });
  if (it == std::begin(kFoldRanges)) return c;
  const TFoldRange& r = *(it - 1);
  if (c > r.last || (c - r.first) % r.stride != 0) return c;
  return static_cast<char16_t>(c + r.delta);
}

std::u16string LowerCase(std::u16string_view text) {
  std::u16string out(text);
  for (char16_t& c : out) c = FoldCase(c);
  return out;
}

bool SameText(std::u16string_view a, std::u16string_view b) noexcept {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (FoldCase(a[i]) != FoldCase(b[i])) return false;
  return true;
}

} // namespace kiv

#pragma once
// Hashing of names for the bucket indexes of the project store, the file maps and caches.

#include <cstdint>
#include <string_view>

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

} // namespace kiv

#pragma once
// Curves shared by the filters that move the slide: the soft edge of the sweeping filters (a 256-entry
// table of integers) and the ease that slows the flip and the swap at both ends.

#include <array>
#include <cstdint>

namespace kiv {

// K[i] = i*i shr 7 for i below 128, mirrored above: K[255 - i] = 255 - K[i].
inline const std::array<int32_t, 256>& EdgeCurve() {
  // A constant table, built once for the whole process.
  static const std::array<int32_t, 256> curve = [] {
    std::array<int32_t, 256> k{};
    for (int32_t i = 0; i < 128; ++i) {
      k[static_cast<size_t>(i)] = (i * i) >> 7;
      k[static_cast<size_t>(255 - i)] = 255 - k[static_cast<size_t>(i)];
    }
    return k;
  }();
  return curve;
}

// 2x^2 below one half, 1 - 2(1 - x)^2 above.
inline double EaseCurve(double x) {
  return x < 0.5 ? 2 * x * x : 1 - 2 * (1 - x) * (1 - x);
}

} // namespace kiv

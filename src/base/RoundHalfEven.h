#pragma once
#include <cmath>
#include <cstdint>

namespace kiv {

// "round": nearest integer, halves to even (the default floating-point rounding mode).
inline double RoundEven(double value) { return std::nearbyint(value); }
inline int64_t Round(double value) { return static_cast<int64_t>(std::nearbyint(value)); }

} // namespace kiv

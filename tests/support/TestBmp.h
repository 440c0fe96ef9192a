#pragma once
// Pictures for tests and benchmarks written as plain 24-bit BMP files, which every build can decode.

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

namespace kiv::test_files {

// pixel(x, y) gives 0xRRGGBB, counted from the top-left; the file stores its rows bottom-up.
inline std::string BmpBytes(int width, int height, const std::function<uint32_t(int, int)>& pixel) {
  const int stride = (width * 3 + 3) & ~3;
  const uint32_t imageBytes = static_cast<uint32_t>(stride) * static_cast<uint32_t>(height);
  std::string bytes;
  bytes.reserve(54 + imageBytes);
  auto put = [&bytes](uint32_t value, int count) {
    for (int i = 0; i < count; ++i)
      bytes.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
  };
  bytes += "BM";
  put(54 + imageBytes, 4);
  put(0, 4);
  put(54, 4);
  put(40, 4);
  put(static_cast<uint32_t>(width), 4);
  put(static_cast<uint32_t>(height), 4);
  put(1, 2);
  put(24, 2);
  put(0, 4);
  put(imageBytes, 4);
  put(2835, 4);
  put(2835, 4);
  put(0, 4);
  put(0, 4);
  for (int y = height - 1; y >= 0; --y) {
    for (int x = 0; x < width; ++x)
      put(pixel(x, y) & 0xFFFFFF, 3);
    bytes.append(static_cast<size_t>(stride - width * 3), '\0');
  }
  return bytes;
}

inline void WriteBmpFile(const std::filesystem::path& path, int width, int height,
                         const std::function<uint32_t(int, int)>& pixel) {
  std::ofstream(path, std::ios::binary) << BmpBytes(width, height, pixel);
}

} // namespace kiv::test_files

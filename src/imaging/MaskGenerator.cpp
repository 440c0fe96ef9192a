#include "MaskGenerator.h"

#include "RoundHalfEven.h"
#include "Utf8Conversion.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace kiv {

namespace {

// The field at pos up to the next ':' (or the end), blanks before it skipped; pos moves past the ':'.
std::string NextField(std::u16string_view text, size_t& pos) {
  while (pos < text.size() && (text[pos] == u' ' || text[pos] == u'\t'))
    ++pos;
  const size_t end = std::min(text.find(u':', pos), text.size());
  std::string field;
  for (size_t i = pos; i < end; ++i)
    field.push_back(text[i] < 128 ? static_cast<char>(text[i]) : '?');
  pos = end < text.size() ? end + 1 : end;
  return field;
}

bool ParseInt(const std::string& field, int32_t& value) {
  if (field.empty()) return false;
  char* end = nullptr;
  const long long v = std::strtoll(field.c_str(), &end, 10);
  if (*end != 0) return false;
  value = static_cast<int32_t>(std::clamp<long long>(v, INT32_MIN, INT32_MAX));
  return true;
}

bool ParseFloat(const std::string& field, double& value) {
  if (field.empty()) return false;
  char* end = nullptr;
  const double v = std::strtod(field.c_str(), &end);
  if (*end != 0 || !std::isfinite(v)) return false;
  value = v;
  return true;
}

} // namespace

TPresetMaskParams ParsePresetMask(std::u16string_view rest) {
  TPresetMaskParams params;
  size_t pos = 0;
  int32_t number = 0;
  double real = 0;
  if (ParseInt(NextField(rest, pos), number)) params.width = number;
  if (ParseInt(NextField(rest, pos), number)) params.height = number;
  if (ParseInt(NextField(rest, pos), number)) params.kind = number;
  if (ParseFloat(NextField(rest, pos), real)) params.feather = real;
  if (ParseFloat(NextField(rest, pos), real)) params.corner = real;
  // Sides of 0 would divide by zero, huge ones allocate without bound.
  params.width = std::clamp(params.width, 1, kMaxPresetMaskSide);
  params.height = std::clamp(params.height, 1, kMaxPresetMaskSide);
  if (params.kind != 1) params.kind = 0;
  params.feather = std::clamp(params.feather, 0.0, 100.0);
  params.corner = std::clamp(params.corner, 0.0, 100.0);
  return params;
}

std::u16string EncodePresetMask(const TPresetMaskParams& params) {
  auto number = [](double v) {
    char text[64];
    std::snprintf(text, sizeof text, "%g", v);
    return std::string(text);
  };
  const std::string text = std::to_string(params.width) + ":" + std::to_string(params.height) + ":" +
                           std::to_string(params.kind) + ":" + number(params.feather) + ":" +
                           number(params.corner);
  return Utf8ToUtf16(text);
}

uint8_t FeatheredGrey(double d, double radius, double feather) {
  if (d < radius - feather) return 255;
  if (d > radius) return 0;
  // Only a band of no width reaches here with F = 0: the edge itself counts as inside.
  if (!(feather > 0)) return 255;
  const double t = (feather + d - radius) / feather;
  const double e = t < 0.5 ? 2 * t * t : 1 - 2 * (1 - t) * (1 - t);
  return static_cast<uint8_t>(std::clamp<int64_t>(255 - Round(255 * e), 0, 255));
}

TRef<TCachedBitmap> TMaskGenerator::Generate(const TPresetMaskParams& raw) const {
  TPresetMaskParams params = raw;
  params.width = std::clamp(params.width, 1, kMaxPresetMaskSide);
  params.height = std::clamp(params.height, 1, kMaxPresetMaskSide);
  const int w = params.width, h = params.height;
  std::vector<uint32_t> pixels(static_cast<size_t>(w) * h, 0xFF000000u);
  const double cx = (w - 1) / 2.0, cy = (h - 1) / 2.0;
  const int m = std::min(w / 2, h / 2);
  const bool ellipse = params.kind == 1;
  const double feather = std::clamp(params.feather, 0.0, 100.0);
  const int c = static_cast<int>(m * std::clamp(params.corner, 0.0, 100.0) / 100);
  const double f = ellipse ? m * feather / 100 : c * feather / 100 + 1;
  const double aspect = static_cast<double>(w) / h;
  for (int y = 0; y < h; ++y) {
    uint32_t* row = pixels.data() + static_cast<size_t>(y) * w;
    for (int x = 0; x < w; ++x) {
      uint8_t grey;
      if (ellipse) {
        const double dx = x - cx, dy = (y - cy) * aspect;
        grey = FeatheredGrey(std::sqrt(dx * dx + dy * dy), cx, f);
      } else {
        const bool left = (x < c), right = (x > w - c - 1), top = (y < c), bottom = (y > h - c - 1);
        if ((left || right) && (top || bottom)) {
          const double ox = left ? c : w - c - 1, oy = top ? c : h - c - 1;
          grey = FeatheredGrey(std::hypot(x - ox, y - oy), c, f);
        } else if (top || bottom) {
          grey = FeatheredGrey(std::abs(y - cy), cy, f);
        } else if (left || right) {
          grey = FeatheredGrey(std::abs(x - cx), cx, f);
        } else {
          grey = 255;
        }
      }
      row[x] = 0xFF000000u | uint32_t{grey} << 16 | uint32_t{grey} << 8 | grey;
    }
    if (cancel_ && !cancel_()) break;
  }
  return TRef<TCachedBitmap>::Make(w, h, std::move(pixels));
}

} // namespace kiv

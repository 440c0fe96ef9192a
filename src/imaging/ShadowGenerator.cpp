#include "ShadowGenerator.h"

#include "SharedImageCache.h"
#include "Utf8Conversion.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace kiv {

namespace {

constexpr int64_t kMaxWorkingArea = 700000;
constexpr int32_t kMaxWorkingSide = 10000;

struct TContour {
  int count;
  uint8_t points[6][2];
};
// Linear, Cone, Cone - Inverted, Cove - Deep, Cove - Shallow, Gaussian, Half Round, Ring, Ring - Double,
// Tooth.
constexpr TContour kContours[] = {
    {2, {{0, 0}, {255, 255}}},
    {3, {{0, 0}, {128, 255}, {255, 0}}},
    {3, {{0, 255}, {128, 0}, {255, 255}}},
    {3, {{1, 63}, {148, 110}, {192, 255}}},
    {3, {{0, 127}, {83, 174}, {128, 255}}},
    {6, {{0, 0}, {63, 11}, {113, 63}, {146, 194}, {191, 241}, {255, 255}}},
    {5, {{0, 0}, {27, 84}, {81, 178}, {173, 236}, {255, 255}}},
    {4, {{0, 0}, {86, 255}, {172, 0}, {255, 255}}},
    {6, {{0, 0}, {48, 255}, {105, 0}, {158, 253}, {214, 1}, {255, 255}}},
    {5, {{0, 0}, {64, 127}, {128, 1}, {193, 127}, {255, 0}}},
};

bool ParseInt(std::u16string_view field, int32_t& value) {
  std::string text;
  for (char16_t c : field)
    text.push_back(c < 128 ? static_cast<char>(c) : '?');
  if (text.empty()) return false;
  char* end = nullptr;
  const long long v = std::strtoll(text.c_str(), &end, 10);
  if (*end != 0) return false;
  value = static_cast<int32_t>(std::clamp<long long>(v, INT32_MIN, INT32_MAX));
  return true;
}

bool ParseReal(std::u16string_view field, double& value) {
  std::string text;
  for (char16_t c : field)
    text.push_back(c < 128 ? static_cast<char>(c) : '?');
  if (text.empty()) return false;
  char* end = nullptr;
  const double v = std::strtod(text.c_str(), &end);
  if (*end != 0 || !std::isfinite(v)) return false;
  value = v;
  return true;
}

uint8_t Byte(int32_t v) {
  return static_cast<uint8_t>(std::clamp(v, 0, 255));
}

// The cubic B-spline.
double BSpline(double x) {
  x = std::abs(x);
  if (x < 1) return x * x * x / 2 - x * x + 2.0 / 3;
  if (x < 2) return (2 - x) * (2 - x) * (2 - x) / 6;
  return 0;
}

// One direction of the resampling: weights per destination index.
struct TTaps {
  std::vector<int32_t> first;
  std::vector<std::vector<float>> weights;
};

TTaps MakeTaps(int32_t from, int32_t to) {
  TTaps taps;
  taps.first.resize(static_cast<size_t>(to));
  taps.weights.resize(static_cast<size_t>(to));
  const double scale = static_cast<double>(to) / from;
  const double stretch = scale < 1 ? scale : 1; // a reduction widens the filter
  const double support = 2 / stretch;
  for (int32_t i = 0; i < to; ++i) {
    const double center = (i + 0.5) / scale - 0.5;
    const int32_t lo = static_cast<int32_t>(std::floor(center - support)) + 1;
    const int32_t hi = static_cast<int32_t>(std::ceil(center + support)) - 1;
    std::vector<float> w;
    double sum = 0;
    for (int32_t j = lo; j <= hi; ++j) {
      const double v = BSpline((center - j) * stretch);
      w.push_back(static_cast<float>(v));
      sum += v;
    }
    if (sum > 0)
      for (float& v : w)
        v = static_cast<float>(v / sum);
    taps.first[static_cast<size_t>(i)] = lo;
    taps.weights[static_cast<size_t>(i)] = std::move(w);
  }
  return taps;
}

// How far (u, v) lies along one of the eight directions (the drawer's gradient kinds and their reverses).
double GradientPosition(int32_t kind, double u, double v) {
  switch (kind) {
  case 0: // top left to bottom right
    return (u + v) / 2;
  case 1: // top right to bottom left
    return (1 - u + v) / 2;
  case 2: // bottom right to top left
    return 1 - (u + v) / 2;
  case 3: // bottom left to top right
    return 1 - (1 - u + v) / 2;
  case 4: // bottom to top
    return 1 - v;
  case 5: // top to bottom
    return v;
  case 6: // left to right
    return u;
  case 7: // right to left
    return 1 - u;
  default:
    return 0;
  }
}

} // namespace

std::u16string EncodeShadowParams(const TShadowParams& p) {
  char real[64];
  std::string text;
  for (int64_t v : {int64_t{p.left}, int64_t{p.top}, int64_t{p.right}, int64_t{p.bottom}, int64_t{p.marginX},
                    int64_t{p.marginY}, int64_t{p.fillAlpha}})
    text += std::to_string(v) + ":";
  std::snprintf(real, sizeof real, "%.6g", p.blurSize);
  text += std::string(real) + ":";
  for (int64_t v : {int64_t{p.spread}, int64_t{p.boxGradient}, int64_t{p.boxAlpha1}, int64_t{p.boxAlpha2},
                    int64_t{p.blue}, int64_t{p.green}, int64_t{p.red}})
    text += std::to_string(v) + ":";
  std::snprintf(real, sizeof real, "%.2f", p.opacity);
  text += std::string(real) + ":" + std::to_string(p.level) + ":";
  return Utf8ToUtf16(text) + p.sourceName;
}

TShadowParams ParseShadowParams(std::u16string_view rest) {
  TShadowParams p;
  std::u16string_view fields[17];
  size_t pos = 0;
  int found = 0;
  for (; found < 17 && pos <= rest.size(); ++found) {
    const size_t colon = rest.find(u':', pos);
    if (colon == std::u16string_view::npos) {
      fields[found] = rest.substr(pos);
      pos = rest.size() + 1;
      ++found;
      break;
    }
    fields[found] = rest.substr(pos, colon - pos);
    pos = colon + 1;
  }
  if (pos <= rest.size()) p.sourceName = std::u16string(rest.substr(pos));
  int32_t* ints[] = {&p.left, &p.top, &p.right, &p.bottom, &p.marginX, &p.marginY, &p.fillAlpha};
  for (int i = 0; i < 7; ++i)
    if (!ParseInt(fields[i], *ints[i])) *ints[i] = i == 6 ? 255 : 0;
  if (!ParseReal(fields[7], p.blurSize)) p.blurSize = 0;
  int32_t bytes[7] = {0, 8, 0, 0, 0, 0, 0};
  for (int i = 0; i < 7; ++i)
    if (!ParseInt(fields[8 + i], bytes[i])) bytes[i] = i == 1 ? 8 : 0;
  p.spread = bytes[0];
  p.boxGradient = bytes[1] >= 0 && bytes[1] <= 8 ? bytes[1] : 8;
  p.boxAlpha1 = Byte(bytes[2]);
  p.boxAlpha2 = Byte(bytes[3]);
  p.blue = Byte(bytes[4]);
  p.green = Byte(bytes[5]);
  p.red = Byte(bytes[6]);
  if (!ParseReal(fields[15], p.opacity)) p.opacity = 0;
  if (!ParseInt(fields[16], p.level)) p.level = 0;
  // Everything here comes from show data: no negative sizes, no unbounded work.
  for (int32_t* v : {&p.left, &p.top, &p.right, &p.bottom})
    *v = std::clamp(*v, 0, kMaxShadowPart);
  p.marginX = std::clamp(p.marginX, 0, kMaxShadowMargin);
  p.marginY = std::clamp(p.marginY, 0, kMaxShadowMargin);
  p.fillAlpha = std::clamp(p.fillAlpha, 0, 255);
  p.blurSize = std::clamp(p.blurSize, 0.0, 1e6);
  p.opacity = std::clamp(p.opacity, 0.0, 100.0);
  p.level = std::clamp(p.level, 0, 30);
  return p;
}

TShadowLayout ShadowLayoutFor(const TShadowParams& params, int32_t partWidth, int32_t partHeight) {
  TShadowLayout layout;
  int64_t w = std::max<int64_t>(partWidth, 1) + 2 * int64_t{std::max(params.marginX, 0)};
  int64_t h = std::max<int64_t>(partHeight, 1) + 2 * int64_t{std::max(params.marginY, 0)};
  int count = 0;
  while (w * h > kMaxWorkingArea) {
    w /= 2;
    h /= 2;
    ++count;
  }
  while (w > kMaxWorkingSide || h > kMaxWorkingSide) {
    w /= 2;
    h /= 2;
    ++count;
  }
  layout.width = static_cast<int32_t>(std::max<int64_t>(w, 1));
  layout.height = static_cast<int32_t>(std::max<int64_t>(h, 1));
  layout.reduction = 1 << count;
  double s = params.blurSize / layout.reduction + 1;
  if (!(s > 0)) s = 1;
  layout.scale = std::min(s, kMaxShadowScale);
  layout.border = static_cast<int32_t>(std::ceil(2.5 * layout.scale));
  return layout;
}

std::array<uint8_t, 256> ContourTable(int32_t spread) {
  const TContour& contour = kContours[spread >= 0 && spread < int32_t(std::size(kContours)) ? spread : 0];
  std::array<uint8_t, 256> table{};
  std::array<double, 256> value{};
  std::array<bool, 256> set{};
  const int n = contour.count;
  auto point = [&](int i, int axis) {
    return static_cast<double>(contour.points[std::clamp(i, 0, n - 1)][axis]);
  };
  // Catmull-Rom through consecutive points, each span with its neighbours.
  for (int i = 0; i + 1 < n; ++i) {
    constexpr int kSteps = 512;
    for (int k = 0; k <= kSteps; ++k) {
      const double t = static_cast<double>(k) / kSteps, t2 = t * t, t3 = t2 * t;
      double out[2];
      for (int axis = 0; axis < 2; ++axis) {
        const double p0 = point(i - 1, axis), p1 = point(i, axis), p2 = point(i + 1, axis),
                     p3 = point(i + 2, axis);
        out[axis] = 0.5 * (2 * p1 + (-p0 + p2) * t + (2 * p0 - 5 * p1 + 4 * p2 - p3) * t2 +
                           (-p0 + 3 * p1 - 3 * p2 + p3) * t3);
      }
      const int x = static_cast<int>(std::lround(out[0]));
      if (x < point(0, 0) || x > point(n - 1, 0) || x < 0 || x > 255) continue;
      value[static_cast<size_t>(x)] = out[1];
      set[static_cast<size_t>(x)] = true;
    }
  }
  for (int i = 0; i < n; ++i) {
    value[contour.points[i][0]] = contour.points[i][1];
    set[contour.points[i][0]] = true;
  }
  // Holes between samples are filled linearly; outside the points the end outputs hold.
  const int first = contour.points[0][0], last = contour.points[n - 1][0];
  for (int x = 0; x < 256; ++x) {
    double v;
    if (x <= first) {
      v = contour.points[0][1];
    } else if (x >= last) {
      v = contour.points[n - 1][1];
    } else if (set[static_cast<size_t>(x)]) {
      v = value[static_cast<size_t>(x)];
    } else {
      int a = x - 1, b = x + 1;
      while (!set[static_cast<size_t>(a)])
        --a;
      while (!set[static_cast<size_t>(b)])
        ++b;
      v = value[static_cast<size_t>(a)] +
          (value[static_cast<size_t>(b)] - value[static_cast<size_t>(a)]) * (x - a) / (b - a);
    }
    table[static_cast<size_t>(x)] = static_cast<uint8_t>(std::clamp<long>(std::lround(v), 0, 255));
  }
  return table;
}

std::vector<float> ResampleBSpline(const std::vector<float>& values, int32_t width, int32_t height,
                                   int32_t newWidth, int32_t newHeight) {
  const TTaps across = MakeTaps(width, newWidth), down = MakeTaps(height, newHeight);
  std::vector<float> rows(static_cast<size_t>(newWidth) * height);
  for (int32_t y = 0; y < height; ++y) {
    const float* in = values.data() + static_cast<size_t>(y) * width;
    float* out = rows.data() + static_cast<size_t>(y) * newWidth;
    for (int32_t x = 0; x < newWidth; ++x) {
      const auto& w = across.weights[static_cast<size_t>(x)];
      const int32_t first = across.first[static_cast<size_t>(x)];
      float sum = 0;
      for (size_t k = 0; k < w.size(); ++k)
        sum += w[k] * in[std::clamp<int32_t>(first + static_cast<int32_t>(k), 0, width - 1)];
      out[x] = sum;
    }
  }
  std::vector<float> result(static_cast<size_t>(newWidth) * newHeight);
  for (int32_t y = 0; y < newHeight; ++y) {
    const auto& w = down.weights[static_cast<size_t>(y)];
    const int32_t first = down.first[static_cast<size_t>(y)];
    float* out = result.data() + static_cast<size_t>(y) * newWidth;
    for (size_t k = 0; k < w.size(); ++k) {
      const float* in =
          rows.data() +
          static_cast<size_t>(std::clamp<int32_t>(first + static_cast<int32_t>(k), 0, height - 1)) * newWidth;
      for (int32_t x = 0; x < newWidth; ++x)
        out[x] += w[k] * in[x];
    }
  }
  return result;
}

TShadowLayout TShadowGenerator::Layout(const TShadowParams& params, const TCachedBitmap* source) {
  int32_t partW = params.right - params.left, partH = params.bottom - params.top;
  if (!params.IsRectangle() && source) {
    const int32_t l = std::clamp(params.left, 0, source->Width()),
                  t = std::clamp(params.top, 0, source->Height());
    partW = std::clamp(params.right, l, source->Width()) - l;
    partH = std::clamp(params.bottom, t, source->Height()) - t;
  }
  return ShadowLayoutFor(params, std::max(partW, 1), std::max(partH, 1));
}

TRef<TCachedBitmap> TShadowGenerator::Generate(const TShadowParams& params,
                                               const TCachedBitmap* source) const {
  if (!params.IsRectangle() && (!source || source->Width() <= 0 || source->Height() <= 0)) return nullptr;
  const TShadowLayout layout = Layout(params, source);
  const int32_t w = layout.width, h = layout.height, r = layout.reduction;
  const int32_t mx = static_cast<int32_t>(std::lround(double(params.marginX) / r));
  const int32_t my = static_cast<int32_t>(std::lround(double(params.marginY) / r));
  std::vector<uint8_t> alpha(static_cast<size_t>(w) * h, static_cast<uint8_t>(params.fillAlpha));
  if (params.IsRectangle()) {
    if (params.boxAlpha1 == 255 && params.boxAlpha2 == 255) {
      for (int32_t y = std::min(my, h); y < std::max(h - my, 0); ++y)
        for (int32_t x = std::min(mx, w); x < std::max(w - mx, 0); ++x)
          alpha[static_cast<size_t>(y) * w + x] = 255;
    } else {
      // The box's two alphas graded along its fill direction.
      for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) {
          const double u = w > 1 ? double(x) / (w - 1) : 0, v = h > 1 ? double(y) / (h - 1) : 0;
          const double t = GradientPosition(params.boxGradient, u, v);
          alpha[static_cast<size_t>(y) * w + x] =
              static_cast<uint8_t>(std::lround(params.boxAlpha1 + (params.boxAlpha2 - params.boxAlpha1) * t));
        }
    }
  } else {
    // The part, halved as often as the working picture was reduced.
    const int32_t l = std::clamp(params.left, 0, source->Width()),
                  t = std::clamp(params.top, 0, source->Height());
    const int32_t pw = std::max(std::clamp(params.right, l, source->Width()) - l, 1);
    const int32_t ph = std::max(std::clamp(params.bottom, t, source->Height()) - t, 1);
    std::vector<uint32_t> cut(static_cast<size_t>(pw) * ph, 0);
    for (int32_t y = 0; y < ph && t + y < source->Height(); ++y)
      for (int32_t x = 0; x < pw && l + x < source->Width(); ++x)
        cut[static_cast<size_t>(y) * pw + x] = source->Pixel(l + x, t + y);
    TRef<TCachedBitmap> part = TRef<TCachedBitmap>::Make(pw, ph, std::move(cut));
    for (int32_t k = 1; k < r; k *= 2)
      part = HalveCachedBitmap(*part);
    const bool margins = params.marginX > 0 || params.marginY > 0;
    const int32_t ox = margins ? mx : 0, oy = margins ? my : 0;
    for (int32_t y = 0; y < part->Height() && oy + y < h; ++y)
      for (int32_t x = 0; x < part->Width() && ox + x < w; ++x)
        alpha[static_cast<size_t>(oy + y) * w + ox + x] = static_cast<uint8_t>(part->Pixel(x, y) >> 24);
  }

  // Blur: down to 1/s of the bordered size and back up with the B-spline.
  const int32_t p = layout.border, bw = layout.BorderedWidth(), bh = layout.BorderedHeight();
  std::vector<float> bordered(static_cast<size_t>(bw) * bh, 0.0f);
  for (int32_t y = 0; y < h; ++y)
    for (int32_t x = 0; x < w; ++x)
      bordered[static_cast<size_t>(y + p) * bw + x + p] = alpha[static_cast<size_t>(y) * w + x];
  const int32_t dw = static_cast<int32_t>(std::nearbyint(bw / layout.scale)) + 1;
  const int32_t dh = static_cast<int32_t>(std::nearbyint(bh / layout.scale)) + 1;
  const std::vector<float> small = ResampleBSpline(bordered, bw, bh, dw, dh);
  const std::vector<float> blurred = ResampleBSpline(small, dw, dh, bw, bh);

  // The contour, through a finer table of its outputs.
  const std::array<uint8_t, 256> contour = ContourTable(params.spread);
  std::vector<uint8_t> fine(4096);
  for (int i = 0; i < 4096; ++i) {
    const double at = i * 255.0 / 4095;
    const int lo = static_cast<int>(at), hi = std::min(lo + 1, 255);
    fine[static_cast<size_t>(i)] = static_cast<uint8_t>(
        std::lround(contour[static_cast<size_t>(lo)] +
                    (contour[static_cast<size_t>(hi)] - contour[static_cast<size_t>(lo)]) * (at - lo)));
  }
  const bool shaped =
      params.spread != 0 && params.spread > 0 && params.spread < int32_t(std::size(kContours));
  const uint32_t fullAlpha = static_cast<uint32_t>(params.opacity * 255 / 100);
  const uint32_t rgb = uint32_t{params.red} << 16 | uint32_t{params.green} << 8 | params.blue;
  std::vector<uint32_t> pixels(static_cast<size_t>(bw) * bh, rgb);
  for (int32_t y = 0; y < bh; ++y) {
    for (int32_t x = 0; x < bw; ++x) {
      const float v = std::clamp(blurred[static_cast<size_t>(y) * bw + x], 0.0f, 255.0f);
      uint32_t a = static_cast<uint32_t>(std::lround(v));
      if (shaped) a = fine[static_cast<size_t>(std::lround(v * 4095 / 255))];
      pixels[static_cast<size_t>(y) * bw + x] = (a * fullAlpha / 255) << 24 | rgb;
    }
    if (cancel_ && !cancel_()) break;
  }
  return TRef<TCachedBitmap>::Make(bw, bh, std::move(pixels));
}

} // namespace kiv

#include "PictureColorOps.h"

#include "LoadYield.h"
#include "RoundHalfEven.h"

#include <algorithm>

namespace kiv {
namespace {

double HueValue(double h, double m1, double m2) {
  if (h < 0)
    h += 255;
  else if (h > 255)
    h -= 255;
  if (h < 42.5) return m1 + (m2 - m1) * h / 42.5;
  if (h < 127.5) return m2;
  if (h < 170) return m1 + (m2 - m1) * (170 - h) / 42.5;
  return m1;
}

uint8_t ToByte(double v) {
  return static_cast<uint8_t>(std::clamp<int64_t>(Round(v * 255), 0, 255));
}

} // namespace

uint32_t TintColor(uint32_t argb, int hue, int saturation, int lightness) {
  const int r = (argb >> 16) & 255, g = (argb >> 8) & 255, b = argb & 255;
  const int mx = std::max({r, g, b}), mn = std::min({r, g, b});
  const double lReal = (mx + mn) / 2.0;
  double hReal = 0, sReal = 0;
  if (mx != mn) {
    const double d = mx - mn;
    sReal = lReal < 128 ? d * 255 / (mx + mn) : d * 255 / (511 - mx - mn);
    if (r == mx)
      hReal = (g - b) / d;
    else if (g == mx)
      hReal = (b - r) / d + 2;
    else
      hReal = (r - g) / d + 4;
    hReal *= 42.5;
    if (hReal < 0)
      hReal += 255;
    else if (hReal > 255)
      hReal -= 255;
  }
  int64_t h = Round(hReal), s = Round(sReal), l = Round(lReal);
  h += int64_t{hue} * 256 / 360;
  if (h < 0)
    h += 256;
  else if (h > 255)
    h -= 256;
  s = std::clamp<int64_t>(s + int64_t{saturation} * 256 / 100, 0, 255);
  l = std::clamp<int64_t>(l + int64_t{lightness} * 256 / 100, 0, 255);

  uint8_t outR, outG, outB;
  if (s == 0) {
    outR = outG = outB = static_cast<uint8_t>(l);
  } else {
    const double L = static_cast<double>(l), S = static_cast<double>(s), H = static_cast<double>(h);
    const double m2 = L < 128 ? L * (S + 255) / (255.0 * 255.0) : (S + L - S * L / 255) / 255;
    const double m1 = 2 * L / 255 - m2;
    outR = ToByte(HueValue(H + 85, m1, m2));
    outG = ToByte(HueValue(H, m1, m2));
    outB = ToByte(HueValue(H - 85, m1, m2));
  }
  return (argb & 0xFF000000u) | (uint32_t{outR} << 16) | (uint32_t{outG} << 8) | outB;
}

void TintPicture(TBitmap& picture, int hue, int saturation, int lightness) {
  if ((hue == 0 && saturation == 0 && lightness == 0) || picture.Format() != TBitmapFormat::Pf32bit) return;
  for (int y = 0; y < picture.Height(); ++y) {
    for (int x = 0; x < picture.Width(); ++x)
      picture.SetPixel32(x, y, TintColor(picture.Pixel32(x, y), hue, saturation, lightness));
    if (!LoadCallBack()) return;
  }
}

void GreyPicture(TBitmap& picture) {
  if (picture.Format() != TBitmapFormat::Pf32bit) return;
  for (int y = 0; y < picture.Height(); ++y) {
    uint8_t* p = picture.Row(y);
    for (int x = 0; x < picture.Width(); ++x, p += 4)
      p[0] = p[1] = p[2] = static_cast<uint8_t>((p[0] + p[1] + p[2]) / 3);
  }
}

void DisabledPicture(TBitmap& picture) {
  if (picture.Format() != TBitmapFormat::Pf32bit) return;
  GreyPicture(picture);
  for (int y = 0; y < picture.Height(); ++y) {
    uint8_t* p = picture.Row(y);
    for (int x = 0; x < picture.Width(); ++x, p += 4)
      p[3] = static_cast<uint8_t>(p[3] >> 2);
  }
}

} // namespace kiv

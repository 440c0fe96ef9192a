// drawtest -o out.png [-w width] [-h height] [-v percent]: draws a scene of the slide drawer's operations
// offscreen (pictures, boxes, frames, blur, sharpen, a video frame, a mask) and writes it as a PNG, so a
// person can look at what the drawer makes of them. With -v the scene keeps its coordinates but is shown
// in a centred view area of that percentage of the output, the rest filled grey.

#include "ScreenDrawer.h"
#include "GLContext.h"
#include "GLDeviceLayer.h"
#include "ImageFileIO.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <iostream>
#include <string>
#include <vector>

namespace {

using namespace kiv;

// Written as RGBA, opaque: the screen's alpha channel is the drawer's bookkeeping.
bool WritePng(const std::string& path, TDevBitmap& bitmap) {
  if (bitmap.Format() != TPixelFormat::pf32bit) return false;
  for (int y = 0; y < bitmap.Height(); ++y) {
    auto* row = reinterpret_cast<uint32_t*>(bitmap.ScanLine(y));
    for (int x = 0; x < bitmap.Width(); ++x)
      row[x] |= 0xFF000000u;
  }
  return WritePngFile(path, bitmap.Width(), bitmap.Height(),
                      reinterpret_cast<const uint32_t*>(bitmap.ScanLine(0)), bitmap.Pitch() / 4, true);
}

class TItem final : public TDrawItem {
public:
  explicit TItem(std::function<void(TDeviceDrawer&)> body, float blurValue = 0)
      : draw(std::move(body)), blur(blurValue) {}
  void Draw(TDeviceDrawer& drawer) override { draw(drawer); }
  float GetBlur() const override { return blur; }
  std::function<void(TDeviceDrawer&)> draw;
  float blur;
};

TRef<TMemoryImage> Picture(int width, int height, const std::function<uint32_t(int, int)>& pixel) {
  TDevBitmap bitmap(width, height, TPixelFormat::pf32bit);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x)
      bitmap.SetPixel32(x, y, pixel(x, y));
  return TRef<TMemoryImage>::Make(std::move(bitmap));
}

uint32_t Rings(int x, int y) {
  const double d = std::hypot(x - 300.0, y - 200.0);
  const auto v = static_cast<uint32_t>(127.5 + 127.5 * std::sin(d / 6));
  return 0xFF000000u | v << 16 | (255 - v) << 8 | uint32_t(x * 255 / 599);
}

} // namespace

int main(int argc, char** argv) {
  std::string output = "drawtest.png";
  int width = 960, height = 540;
  int viewPercent = 100;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string option = argv[i];
    if (option == "-o")
      output = argv[i + 1];
    else if (option == "-w")
      width = std::max(64, std::atoi(argv[i + 1]));
    else if (option == "-h")
      height = std::max(64, std::atoi(argv[i + 1]));
    else if (option == "-v")
      viewPercent = std::clamp(std::atoi(argv[i + 1]), 10, 100);
    else {
      std::cerr << "usage: drawtest -o out.png [-w width] [-h height] [-v percent]\n";
      return 2;
    }
  }
  std::string whyNot;
  if (!HeadlessGLAvailable(&whyNot)) {
    std::cerr << "drawtest: no headless GL: " << whyNot << "\n";
    return 1;
  }
  SetMainThread(std::this_thread::get_id());
  RegisterGLEngine();
  int exitCode = 1;
  {
    auto device = MakeOwned<TDrawDevice>();
    device->bounds = {0, 0, width, height};
    auto drawer = MakeOwned<T3DDrawer>(MakeOwned<T3DScreen>());
    drawer->OnNotify = [](TDeviceDrawer&, TDrawItem*, int) { return true; };
    drawer->mode = 1;
    drawer->Init(device.get());

    auto rings = Picture(600, 400, Rings);
    auto checker =
        Picture(64, 64, [](int x, int y) { return ((x / 8 + y / 8) % 2) ? 0xFFFFFFFFu : 0xFF3050D0u; });
    auto mask = Picture(160, 160, [](int x, int y) {
      const double d = std::hypot(x - 80.0, y - 80.0);
      return uint32_t(std::clamp(255.0 - (d - 60) * 12, 0.0, 255.0)) << 24 | 0x00FFFFFFu;
    });
    TDeviceYUVImage* video = drawer->CreateVideoImage(128, 96, false, false);
    for (int plane = 0; plane < 3 && video; ++plane) {
      const TYUVPlane bits = video->GetPlane(plane);
      if (!bits.data) continue;
      const TSize size = video->PlaneSize(plane);
      for (int y = 0; y < size.height; ++y)
        for (int x = 0; x < size.width; ++x)
          bits.Row(y)[x] = plane == 0 ? uint8_t(16 + (x + y) * 219 / (size.width + size.height))
                                      : uint8_t(plane == 1 ? 64 + x * 2 : 200 - y * 2);
      video->PutPlane(plane, bits);
    }
    if (video) video->Done();

    const T3DPoint x1{1, 0, 0}, y1{0, 1, 0};
    TItem content([&](TDeviceDrawer& d) {
      TImageParams params;
      d.DrawImage(*checker, {550, 170, 0}, params, {3, 0, 0}, {0, 3, 0}, {0, 0});
    });
    TItem blurred(
        [&](TDeviceDrawer& d) {
          TBoxParams box;
          box.fillType = 0;
          box.color1 = 0xFFFF4000;
          box.color2 = 0xFF00C0FF;
          box.width = 150;
          box.height = 100;
          d.DrawBox({float(width) - 190, 30, 0}, {0, 0}, box, x1, y1);
        },
        25);
    TItem sharpened(
        [&](TDeviceDrawer& d) {
          TImageParams params;
          d.DrawImage(*checker, {float(width) - 190, 170, 0}, params, {2, 0, 0}, {0, 2, 0}, {0, 0});
        },
        -30);
    if (viewPercent < 100) {
      const int w = width * viewPercent / 100, h = height * viewPercent / 100;
      const TRect area{(width - w) / 2, (height - h) / 2, (width - w) / 2 + w, (height - h) / 2 + h};
      drawer->SetUpdateRect(area);
      drawer->SetViewArea(area, {width, height});
    }
    TItem root([&](TDeviceDrawer& d) {
      d.Clear(0xFF202020, true);
      d.FillOutside(0xFF606060);
      // A large picture, scaled and turned in depth: tiled, filtered, with feathered edges.
      TImageParams picture;
      picture.antialiased = true;
      const float c = std::cos(0.5f), s = std::sin(0.5f);
      d.DrawImage(*rings, {200, 170, 0}, picture, {0.5f * c, 0, 0.5f * s}, {0, 0.5f, 0}, {300, 200});
      // Half-transparent, tinted copy.
      picture.opacity = 50;
      picture.tint = true;
      picture.tintColor = {255, 128, 0};
      d.DrawImage(*rings, {20, 300, 0}, picture, {0.3f, 0, 0}, {0, 0.3f, 0}, {0, 0});
      // Gradient boxes with antialiased edges, turned in the screen plane.
      for (uint8_t type = 0; type < 9; ++type) {
        TBoxParams box;
        box.fillType = type;
        box.color1 = 0xFFFFFF00;
        box.color2 = 0xFF8000FF;
        box.width = 40;
        box.height = 40;
        box.antialias = {true, true, true, true};
        const float a = 0.1f * type;
        d.DrawBox({420.f + 50 * type, float(height) - 60, 0}, {20, 20}, box, {std::cos(a), std::sin(a), 0},
                  {-std::sin(a), std::cos(a), 0});
      }
      d.DrawFrame({420, 40, 0}, {0, 0}, true, 100, 0xFF40FF40, {120, 80}, {4, 6}, x1, y1);
      d.DrawRectangle({430, 140}, {530, 150}, 0xFFFF2020);
      d.DrawItem(blurred);
      d.DrawItem(sharpened);
      if (video) {
        TVideoParams params;
        d.DrawVideo(*video, {420, 180, 0}, params, x1, y1, {0, 0});
      }
      TMaskLayer layer;
      layer.image = mask.get();
      layer.placement = {560, 180, 0};
      d.DrawMasked(content, std::span(&layer, 1), nullptr, 0);
    });
    drawer->DrawItem(root);
    auto shot = drawer->GetScreenshot();
    if (shot && WritePng(output, *shot)) {
      std::cout << "drawtest: wrote " << output << " (" << width << " x " << height << ")\n";
      exitCode = 0;
    } else {
      std::cerr << "drawtest: could not draw or write " << output << "\n";
    }
    if (video) drawer->FreeVideoImage(video);
    for (TDrawImage* image : {static_cast<TDrawImage*>(rings.get()), static_cast<TDrawImage*>(checker.get()),
                              static_cast<TDrawImage*>(mask.get())})
      drawer->ReleaseImage(*image);
    drawer.reset();
    device.reset();
  }
  FreeEngine();
  return exitCode;
}

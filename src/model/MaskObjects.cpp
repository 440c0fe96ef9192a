#include "MaskObjects.h"

#include "DrawerPoints.h"
#include "SlideHost.h"

#include <algorithm>

namespace kiv {

namespace {

uint32_t Red(uint32_t p) {
  return p >> 16 & 0xFF;
}
uint32_t Green(uint32_t p) {
  return p >> 8 & 0xFF;
}
uint32_t Blue(uint32_t p) {
  return p & 0xFF;
}
uint32_t Alpha(uint32_t p) {
  return p >> 24;
}

// The content children of a viewport, drawn as one item into the drawer's content target.
class TViewPortContent final : public TDrawItem {
public:
  explicit TViewPortContent(std::vector<TKivObject*> items) : items_(std::move(items)) {}
  void Draw(TDeviceDrawer& drawer) override {
    for (TKivObject* item : items_)
      if (!drawer.DrawItem(*item)) break;
  }

private:
  std::vector<TKivObject*> items_;
};

} // namespace

TRef<TCachedBitmap> MakeMaskBitmap(const TCachedBitmap& picture) {
  const std::vector<uint32_t>& pixels = picture.Pixels();
  bool grey = true, partial = false, allClear = true, allOpaque = true;
  for (const uint32_t p : pixels) {
    grey = grey && Red(p) == Green(p) && Green(p) == Blue(p);
    const uint32_t a = Alpha(p);
    partial = partial || (a >= 1 && a <= 254);
    allClear = allClear && a == 0;
    allOpaque = allOpaque && a == 255;
  }
  std::vector<uint32_t> out(pixels.size());
  if (!partial && (allClear || allOpaque)) {
    // Coverage from the brightest channel; the colour at full strength (white when grey).
    for (size_t i = 0; i < pixels.size(); ++i) {
      const uint32_t p = pixels[i];
      const uint32_t a = std::max({Red(p), Green(p), Blue(p), 1u});
      const uint32_t rgb =
          grey ? 0xFFFFFFu : (Red(p) * 255 / a) << 16 | (Green(p) * 255 / a) << 8 | Blue(p) * 255 / a;
      out[i] = a << 24 | rgb;
    }
  } else {
    bool oneColour = true;
    uint32_t colour = 0;
    bool seen = false;
    for (const uint32_t p : pixels) {
      if (Alpha(p) == 0) continue;
      if (!seen) {
        colour = p & 0xFFFFFF;
        seen = true;
      } else if ((p & 0xFFFFFF) != colour) {
        oneColour = false;
        break;
      }
    }
    for (size_t i = 0; i < pixels.size(); ++i)
      out[i] = oneColour ? (pixels[i] & 0xFF000000u) | 0xFFFFFFu : pixels[i];
  }
  return TRef<TCachedBitmap>::Make(picture.Width(), picture.Height(), std::move(out));
}

// ---- TKivMask ----

TKivMask::TKivMask(TKivObject* parent, std::u16string guid) : TKivImageObject(parent, std::move(guid)) {}

void TKivMask::ReadContentKeys(const TCommonIniSection& node) {
  ReadImageKeys(node);
  SetAntialiased(false);
  DisableAnimation();
}

std::u16string TKivMask::PictureName() const {
  return ImageName().empty() ? std::u16string() : std::u16string(kMaskPicturePrefix) + ImageName();
}

void TKivMask::UpdateContentGeometry() {
  if (!Picture()) return;
  TKivImageObject::UpdateContentGeometry();
}

bool TKivMask::MakeMaskLayer(float viewportOpacity, TMaskLayer& layer) const {
  TKivPicture* picture = Picture();
  if (!picture || !CanDraw()) return false;
  layer = TMaskLayer{};
  layer.image = picture;
  ContentPlacement(layer.placement, layer.xAxis, layer.yAxis);
  layer.imageParams = MakeImageParams();
  layer.imageParams.opacity = layer.imageParams.opacity * viewportOpacity / 100;
  layer.imageParams.reductionLevel = picture->Level();
  layer.imageParams.sourceRect = SourceRect();
  const float b = BorderWidthPixels();
  layer.pivot = {SourceRect().left - b, SourceRect().top - b};
  return true;
}

// ---- TKivViewPort ----

TKivViewPort::TKivViewPort(TKivObject* parent, std::u16string guid) : TKivObject(parent, std::move(guid)) {}

void TKivViewPort::LoadFromNode(const TCommonIniSection& node, bool reload) {
  const TIniPoint size = node.ReadPoint(u"Size", {static_cast<int32_t>(std::nearbyint(Size().x)),
                                                  static_cast<int32_t>(std::nearbyint(Size().y))});
  SetSize(static_cast<float>(size.x), static_cast<float>(size.y));
  TKivObject::LoadFromNode(node, reload);
}

void TKivViewPort::Draw(TDeviceDrawer& drawer) {
  DrawContent(drawer);
  Snapshot(false);
  std::vector<TMaskLayer> layers;
  std::vector<TKivObject*> content;
  const float opacity = Values().opacity;
  for (const TOwned<TKivObject>& child : Children()) {
    TMaskLayer layer;
    if (const auto* mask = dynamic_cast<const TKivMask*>(child.get())) {
      if (mask->MakeMaskLayer(opacity, layer)) layers.push_back(layer);
    } else if (auto* video = dynamic_cast<TKivVideoMask*>(child.get())) {
      if (video->MakeMaskLayer(drawer, opacity, layer)) layers.push_back(layer);
    } else {
      content.push_back(child.get());
    }
  }
  if (layers.empty()) {
    for (TKivObject* item : content)
      if (!drawer.DrawItem(*item)) break;
    return;
  }
  TViewPortContent item(std::move(content));
  drawer.DrawMasked(item, layers, nullptr, static_cast<int32_t>(layers.size()) - 1);
}

} // namespace kiv

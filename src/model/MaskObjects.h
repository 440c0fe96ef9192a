#pragma once
// Masks and viewports: a viewport draws its other children through the masks among its children (pictures
// and videos), so that only what the masks cover shows.

#include "ImageObject.h"
#include "VideoObject.h"

namespace kiv {

// The mask made of a picture (the producer of "Mask: " + name): a grey or one-coloured picture becomes a
// pure coverage (white, cut out by its brightness or by its own alpha), a coloured one without alpha a tinted
// mask whose brightness is its coverage, anything else stays as it is. Pixels are 0xAARRGGBB; a picture
// without alpha comes with every alpha 255.
TRef<TCachedBitmap> MakeMaskBitmap(const TCachedBitmap& picture);

// A picture turned into a mask; never antialiased, never animated; drawn only by a viewport.
class TKivMask : public TKivImageObject {
public:
  TKivMask(TKivObject* parent, std::u16string guid);
  void DrawContent(TDeviceDrawer&) override {}
  // The picture as a mask layer for a viewport whose opacity is given; false when there is nothing to draw.
  bool MakeMaskLayer(float viewportOpacity, TMaskLayer& layer) const;

protected:
  void ReadContentKeys(const TCommonIniSection& node) override;
  std::u16string PictureName() const override;
  // A mask whose picture cannot be had keeps the size it had.
  void UpdateContentGeometry() override;
  // A mask only cuts: it casts no shadow.
  bool MakeShadowRequest(TShadowRequest&) const override { return false; }
};

class TKivViewPort : public TKivObject {
public:
  TKivViewPort(TKivObject* parent, std::u16string guid);
  void LoadFromNode(const TCommonIniSection& node, bool reload) override;
  // The children that are not masks, through the masks; without a mask to draw, as they are.
  void Draw(TDeviceDrawer& drawer) override;
};

} // namespace kiv

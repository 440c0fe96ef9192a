#include "BoxObject.h"

#include "DrawerPoints.h"

#include <algorithm>

namespace kiv {

namespace {

// Exact case: a fill mode spelled otherwise fills solid.
constexpr std::u16string_view kFillModeNames[] = {u"Solid", u"HGradient", u"VGradient", u"TLBRGradient",
                                                  u"TRBLGradient"};

uint32_t ArgbOf(TIniRGB color, int32_t alpha) {
  return uint32_t(std::clamp(alpha, 0, 255)) << 24 | uint32_t{color.red} << 16 | uint32_t{color.green} << 8 |
         color.blue;
}

} // namespace

uint8_t BoxFillType(TBoxFillMode mode) {
  switch (mode) {
  case TBoxFillMode::HGradient:
    return 6;
  case TBoxFillMode::VGradient:
    return 5;
  case TBoxFillMode::TLBRGradient:
    return 0;
  case TBoxFillMode::TRBLGradient:
    return 1;
  case TBoxFillMode::Solid:
    break;
  }
  return 8;
}

// ---- TKivBox, TKivFrame ----

TKivBox::TKivBox(TKivObject* parent, std::u16string guid) : TKivObject(parent, std::move(guid)) {}

void TKivBox::ReadBoxKeys(const TCommonIniSection& node) {
  size_ = node.ReadPoint(u"Size", {0, 0});
  fillMode_ = static_cast<TBoxFillMode>(node.ReadEnum(u"FillMode", kFillModeNames, 0));
  color1_ = node.ReadRGB(u"Color1", TIniRGB{0, 0, 0});
  color2_ = node.ReadRGB(u"Color2", TIniRGB{0, 0, 0});
  alpha1_ = std::clamp(node.ReadInteger(u"Alpha1", 255), 0, 255);
  alpha2_ = std::clamp(node.ReadInteger(u"Alpha2", 255), 0, 255);
  antialiased_ = node.ReadBool(u"Antialiased", false);
  SetSize(static_cast<float>(std::max(size_.x, 0)), static_cast<float>(std::max(size_.y, 0)));
}

void TKivBox::LoadFromNode(const TCommonIniSection& node, bool reload) {
  ReadBoxKeys(node);
  TKivObject::LoadFromNode(node, reload);
}

TBoxParams TKivBox::MakeBoxParams() const {
  TBoxParams params;
  params.fillType = BoxFillType(fillMode_);
  params.color1 = ArgbOf(color1_, alpha1_);
  params.color2 = fillMode_ == TBoxFillMode::Solid ? params.color1 : ArgbOf(color2_, alpha2_);
  params.width = Size().x;
  params.height = Size().y;
  params.opacity = GetOpacity();
  params.antialias.fill(antialiased_);
  return params;
}

void TKivBox::DrawContent(TDeviceDrawer& drawer) {
  if (!CanDraw()) return;
  T3DVector corners[4];
  GetCorners(corners);
  drawer.DrawBox(ToPoint(corners[0]), {0, 0}, MakeBoxParams(), ToPoint(Frame().xAxis),
                 ToPoint(Frame().yAxis));
}

bool TKivBox::MakeShadowRequest(TShadowRequest& request) const {
  if (!(Size().x > 0 && Size().y > 0)) return false;
  request = RectangleShadow(Shadow(), Size().x, Size().y, 1.1f);
  const TBoxParams box = MakeBoxParams();
  request.params.boxAlpha1 = static_cast<uint8_t>(box.color1 >> 24);
  request.params.boxAlpha2 = static_cast<uint8_t>(box.color2 >> 24);
  if (request.params.boxAlpha1 != 255 || request.params.boxAlpha2 != 255)
    request.params.boxGradient = box.fillType;
  return true;
}

TKivFrame::TKivFrame(TKivObject* parent, std::u16string guid) : TKivBox(parent, std::move(guid)) {}

void TKivFrame::LoadFromNode(const TCommonIniSection& node, bool reload) {
  // A frame's size comes first; everything else as a box reads it.
  const TIniPoint size = node.ReadPoint(u"Size", {0, 0});
  SetSize(static_cast<float>(std::max(size.x, 0)), static_cast<float>(std::max(size.y, 0)));
  TKivBox::LoadFromNode(node, reload);
}

} // namespace kiv

#pragma once
// Filled boxes and frames on a slide: solid or gradient fills handed to the drawer as box requests.

#include "SlideObject.h"

#include <cstdint>

namespace kiv {

enum class TBoxFillMode : uint8_t { Solid, HGradient, VGradient, TLBRGradient, TRBLGradient };
// The drawer's fill type for a fill mode: 8, 6, 5, 0, 1.
uint8_t BoxFillType(TBoxFillMode mode);

class TKivBox : public TKivObject {
public:
  TKivBox(TKivObject* parent, std::u16string guid);

  TIniPoint BoxSize() const noexcept { return size_; }
  TBoxFillMode FillMode() const noexcept { return fillMode_; }
  TIniRGB Color1() const noexcept { return color1_; }
  TIniRGB Color2() const noexcept { return color2_; }
  int32_t Alpha1() const noexcept { return alpha1_; }
  int32_t Alpha2() const noexcept { return alpha2_; }
  bool Antialiased() const noexcept { return antialiased_; }
  // The request the box hands to the drawer.
  TBoxParams MakeBoxParams() const;

  void LoadFromNode(const TCommonIniSection& node, bool reload) override;
  void DrawContent(TDeviceDrawer& drawer) override;

protected:
  void ReadBoxKeys(const TCommonIniSection& node);
  bool MakeShadowRequest(TShadowRequest& request) const override;

private:
  TIniPoint size_;
  TBoxFillMode fillMode_ = TBoxFillMode::Solid;
  TIniRGB color1_{0, 0, 0};
  TIniRGB color2_{0, 0, 0};
  int32_t alpha1_ = 255;
  int32_t alpha2_ = 255;
  bool antialiased_ = false;
};

class TKivFrame : public TKivBox {
public:
  TKivFrame(TKivObject* parent, std::u16string guid);
  void LoadFromNode(const TCommonIniSection& node, bool reload) override;
};

} // namespace kiv

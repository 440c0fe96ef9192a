#pragma once
// A drawer that draws nothing: preparing a slide through it loads and decodes the slide's pictures and
// texts in memory without touching the device. The slide loader's thread prepares new slides through it,
// so that the engine's thread only uploads and draws.

#include "DrawTree.h"

namespace kiv {

class TLoadOnlyDrawer final : public TDeviceDrawer {
public:
  TLoadOnlyDrawer() {
    OnNotify = [](TDeviceDrawer&, TDrawItem*, int) { return true; };
  }

  bool Present() override { return false; }
  bool IsReady() override { return true; }
  TRect GetTargetRect() override { return bounds; }
  void Init(TDrawDevice*) override {}
  void Close() override {}
  void PrepareImage(TDrawImage&, const TImageParams&) override {}
  void ReleaseImage(TDrawImage&) override {}
  void SetFixedSize(TSize) override {}
  bool ResetStates() override { return true; }
  void Clear(uint32_t, bool) override {}
  void ClearRect(uint32_t, const TRect&) override {}
  bool DrawItem(TDrawItem&) override { return false; }
  void DrawTransition(TDrawItem&, TDrawItem&, TFilterParams*) override {}
  void DrawImage(TDrawImage&, const T3DPoint&, const TImageParams&, const T3DPoint&, const T3DPoint&,
                 TFloatPoint) override {}
  void DrawBox(const T3DPoint&, TFloatPoint, const TBoxParams&, const T3DPoint&, const T3DPoint&) override {}
  void DrawFrame(const T3DPoint&, TFloatPoint, bool, float, uint32_t, TFloatPoint, TFloatPoint,
                 const T3DPoint&, const T3DPoint&) override {}
  TDeviceYUVImage* CreateVideoImage(int32_t, int32_t, bool, bool) override { return nullptr; }
  void DrawVideo(TDeviceYUVImage&, const T3DPoint&, const TVideoParams&, const T3DPoint&, const T3DPoint&,
                 TFloatPoint) override {}
  void DrawRectangle(TFloatPoint, TFloatPoint, uint32_t) override {}
  void DrawMasked(TDrawItem&, std::span<const TMaskLayer>, TDrawImage*, int32_t) override {}
  bool CopyTo(TDevBitmap&) override { return false; }
};

} // namespace kiv

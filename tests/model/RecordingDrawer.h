#pragma once
// A drawer for the model tests that draws nothing and keeps what the objects ask of it: prepared pictures,
// image, box and frame draws. Items are drawn straight away, without the frame and notification rules of
// a real drawer.

#include "DrawTree.h"

#include <span>
#include <vector>

namespace kiv::testing_support {

class TRecordingDrawer : public TDeviceDrawer {
public:
  struct TImageCall {
    TDrawImage* image;
    T3DPoint placement;
    TImageParams params;
    T3DPoint xAxis, yAxis;
    TFloatPoint pivot;
  };
  struct TBoxCall {
    T3DPoint placement;
    TFloatPoint pivot;
    TBoxParams params;
    T3DPoint xAxis, yAxis;
  };
  struct TFrameCall {
    float opacity;
    uint32_t color;
    TFloatPoint size, thickness;
  };

  bool Present() override { return true; }
  bool IsReady() override { return ready; }
  TRect GetTargetRect() override { return {}; }
  void Init(TDrawDevice*) override {}
  void Close() override {}
  void PrepareImage(TDrawImage& image, const TImageParams&) override { prepared.push_back(&image); }
  void ReleaseImage(TDrawImage&) override {}
  void SetFixedSize(TSize) override {}
  bool ResetStates() override { return true; }
  void Clear(uint32_t, bool) override {}
  void ClearRect(uint32_t, const TRect&) override {}
  bool DrawItem(TDrawItem& item) override {
    item.Draw(*this);
    return true;
  }
  void DrawTransition(TDrawItem&, TDrawItem&, TFilterParams*) override {}
  void DrawImage(TDrawImage& image, const T3DPoint& placement, const TImageParams& params,
                 const T3DPoint& xAxis, const T3DPoint& yAxis, TFloatPoint pivot) override {
    ++imageCount;
    if (keepImages) images.push_back({&image, placement, params, xAxis, yAxis, pivot});
  }
  void DrawBox(const T3DPoint& placement, TFloatPoint pivot, const TBoxParams& params, const T3DPoint& xAxis,
               const T3DPoint& yAxis) override {
    boxes.push_back({placement, pivot, params, xAxis, yAxis});
  }
  void DrawFrame(const T3DPoint&, TFloatPoint, bool, float opacity, uint32_t color, TFloatPoint size,
                 TFloatPoint thickness, const T3DPoint&, const T3DPoint&) override {
    frames.push_back({opacity, color, size, thickness});
  }
  TDeviceYUVImage* CreateVideoImage(int32_t, int32_t, bool, bool) override { return nullptr; }
  void DrawVideo(TDeviceYUVImage&, const T3DPoint&, const TVideoParams&, const T3DPoint&, const T3DPoint&,
                 TFloatPoint) override {}
  void DrawRectangle(TFloatPoint, TFloatPoint, uint32_t) override {}
  void DrawMasked(TDrawItem&, std::span<const TMaskLayer>, TDrawImage*, int32_t) override {}
  bool CopyTo(TDevBitmap&) override { return false; }

  bool ready = true;
  bool keepImages = true; // false: only count image draws (a large tiling)
  size_t imageCount = 0;
  std::vector<TDrawImage*> prepared;
  std::vector<TImageCall> images;
  std::vector<TBoxCall> boxes;
  std::vector<TFrameCall> frames;
};

} // namespace kiv::testing_support

#include "YuvFrame.h"

namespace kiv {

void TYUVImage::SetReleaseCallback(TReleaseCallback callback) {
  std::lock_guard hold(callbackLock_);
  onRelease_ = std::move(callback);
}

void TYUVImage::ContentLost() {
  SetInvalid(true);
  TReleaseCallback callback;
  {
    std::lock_guard hold(callbackLock_);
    callback = onRelease_;
  }
  if (callback) callback(*this);
}

TMemoryYUVImage::TMemoryYUVImage(int width, int height, unsigned request)
    : TYUVImage(width, height, request) {
  const int halfWidth = (width + 1) / 2;
  const int halfHeight = (height + 1) / 2;
  const int widths[5] = {width, halfWidth, halfWidth, width * 2, width * 4};
  const int heights[5] = {height, halfHeight, halfHeight, height, height};
  for (int i = 0; i < 5; ++i) {
    pitches_[i] = widths[i];
    planes_[i].assign(static_cast<size_t>(widths[i]) * static_cast<size_t>(heights[i]), 0);
  }
}

TYUVPlane TMemoryYUVImage::GetPlane(int index) {
  if (index < 0 || index > 4) return {};
  const int height = index == kPlaneU || index == kPlaneV ? (Height() + 1) / 2 : Height();
  return {planes_[index].data(), pitches_[index], pitches_[index], height};
}

void TMemoryYUVImage::PutPlane(int index, const TYUVPlane&) {
  if (index >= 0 && index <= 4) ++putCounts_[index];
}

} // namespace kiv

#pragma once
// The decoded video frame as the renderer sees it: the frame source asks for planes, fills them, hands
// them back and says when the frame is done. TMemoryYUVImage keeps the planes in memory (tests, tools,
// and the renderer until it brings its own).

#include "Monitor.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <vector>

namespace kiv {

enum TYUVRequest : unsigned {
  kYUVGrey16 = 1u << 0,   // plane 3 only: 16-bit RGB565 grey from luma
  kYUVRGBA = 1u << 1,     // plane 4 only: 4 bytes per pixel
  kYUVLumaOnly = 1u << 2, // plane 0 only
};

enum TYUVPlaneIndex : int { kPlaneY = 0, kPlaneU = 1, kPlaneV = 2, kPlaneGrey = 3, kPlaneRGBA = 4 };

// Rows of bytes; pitch is the distance between rows.
struct TYUVPlane {
  uint8_t* data = nullptr;
  int pitch = 0;
  int width = 0;  // bytes per row that matter
  int height = 0; // rows
  uint8_t* Row(int y) const { return data + static_cast<int64_t>(y) * pitch; }
};

class TYUVImage : public TMonitor {
public:
  unsigned Request() const noexcept { return request_; }
  int Width() const noexcept { return width_; }
  int Height() const noexcept { return height_; }

  // An empty plane (data nullptr) when the image has none of that kind.
  virtual TYUVPlane GetPlane(int index) = 0;
  virtual void PutPlane(int index, const TYUVPlane& plane) = 0;
  virtual void Done() = 0;

  // The content cannot be shown: it was lost (a device texture went) or the last decode failed. A good
  // decode clears it.
  bool Invalid() const noexcept { return invalid_.load(std::memory_order_acquire); }
  void SetInvalid(bool invalid) noexcept { invalid_.store(invalid, std::memory_order_release); }
  // Told when the image loses its content, on the thread that lost it; the pool that holds the image sets
  // it and clears it before letting go.
  using TReleaseCallback = std::function<void(TYUVImage& image)>;
  void SetReleaseCallback(TReleaseCallback callback);
  // Marks the image invalid and tells the release callback.
  void ContentLost();

protected:
  TYUVImage(int width, int height, unsigned request) : request_(request), width_(width), height_(height) {}

private:
  unsigned request_;
  int width_;
  int height_;
  std::atomic<bool> invalid_{false};
  std::mutex callbackLock_;
  TReleaseCallback onRelease_; // under callbackLock_
};

class TMemoryYUVImage : public TYUVImage {
public:
  TMemoryYUVImage(int width, int height, unsigned request = 0);

  TYUVPlane GetPlane(int index) override;
  void PutPlane(int index, const TYUVPlane& plane) override;
  void Done() override { ++doneCount_; }

  const std::vector<uint8_t>& PlaneBytes(int index) const { return planes_[index]; }
  int PlanePitch(int index) const { return pitches_[index]; }
  int PutCount(int index) const { return putCounts_[index]; }
  int DoneCount() const { return doneCount_; }

private:
  std::vector<uint8_t> planes_[5];
  int pitches_[5] = {};
  int putCounts_[5] = {};
  int doneCount_ = 0;
};

} // namespace kiv

// Copying a decoded picture into the renderer's planes: sized by the picture itself, never by the clip's
// header, and clipped to each plane of the image. The pictures here end right before an unreadable page,
// so a copy that reads one byte past a plane faults.

#include "DecoderFrameSource.h"

#include <gtest/gtest.h>

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

using namespace kiv;

namespace {

class TGuardedBytes {
public:
  explicit TGuardedBytes(size_t size) {
    const size_t page = static_cast<size_t>(::sysconf(_SC_PAGESIZE));
    span_ = (std::max<size_t>(size, 1) + page - 1) / page * page + page;
    void* base = ::mmap(nullptr, span_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (base == MAP_FAILED) throw std::bad_alloc();
    base_ = static_cast<uint8_t*>(base);
    ::mprotect(base_ + span_ - page, page, PROT_NONE);
    data_ = base_ + span_ - page - size;
  }
  ~TGuardedBytes() { ::munmap(base_, span_); }
  TGuardedBytes(const TGuardedBytes&) = delete;
  TGuardedBytes& operator=(const TGuardedBytes&) = delete;
  uint8_t* Data() const { return data_; }

private:
  uint8_t* base_ = nullptr;
  uint8_t* data_ = nullptr;
  size_t span_ = 0;
};

uint8_t Sample(int plane, int x, int y) {
  return static_cast<uint8_t>(x * 7 + y * 13 + plane * 50);
}

// A picture of the decoder's kind whose planes have rows of `pitch` bytes (more than the pixels need)
// and end with the last pixel of the last row.
struct TFakePicture {
  TFakePicture(int format, int width, int height) {
    picture.pixelFormat = format;
    picture.width = width;
    picture.height = height;
    const bool packed = format == KIV_PIX_BGRA || format == KIV_PIX_RGBA;
    const int planes = packed ? 1 : 3;
    for (int i = 0; i < planes; ++i) {
      rowBytes[i] = packed ? width * 4 : i == 0 ? width : (width + 1) / 2;
      rows[i] = i == 0 ? height : (height + 1) / 2;
      const int pitch = rowBytes[i] + 5 + i;
      const size_t size = rows[i] > 0 ? static_cast<size_t>(pitch) * (rows[i] - 1) + rowBytes[i] : 0;
      planesBytes.push_back(std::make_unique<TGuardedBytes>(size));
      picture.data[i] = planesBytes.back()->Data();
      picture.linesize[i] = pitch;
      for (int y = 0; y < rows[i]; ++y)
        for (int x = 0; x < rowBytes[i]; ++x)
          picture.data[i][static_cast<size_t>(y) * pitch + x] = Sample(i, x, y);
    }
  }
  TKivFrameBuffer picture{};
  int rowBytes[3] = {};
  int rows[3] = {};
  std::vector<std::unique_ptr<TGuardedBytes>> planesBytes;
};

constexpr uint8_t kUntouched = 0xA5;

struct TCopyCase {
  const char* name;
  int format;
  unsigned request;
  int pictureWidth, pictureHeight;
  bool copies;
};

class FrameCopy : public testing::TestWithParam<TCopyCase> {};

TEST_P(FrameCopy, StaysInsideBothThePictureAndThePlanes) {
  const TCopyCase& c = GetParam();
  constexpr int kImageWidth = 64, kImageHeight = 48;
  TFakePicture fake(c.format, c.pictureWidth, c.pictureHeight);
  auto image = TRef<TMemoryYUVImage>::Make(kImageWidth, kImageHeight, c.request);
  for (int index = 0; index < 5; ++index) {
    const TYUVPlane plane = image->GetPlane(index);
    for (int y = 0; y < plane.height; ++y)
      std::memset(plane.Row(y), kUntouched, static_cast<size_t>(plane.width));
  }

  ASSERT_EQ(CopyPictureToImage(fake.picture, *image), c.copies);
  if (!c.copies) return;

  // What each requested plane should hold at a byte: the picture's sample where both have it.
  auto check = [&](int index, int pictureRowBytes, int pictureRows, auto expected) {
    const TYUVPlane plane = image->GetPlane(index);
    const auto& bytes = image->PlaneBytes(index);
    int wrong = 0;
    for (int y = 0; y < plane.height; ++y)
      for (int x = 0; x < plane.width; ++x) {
        const bool covered = x < pictureRowBytes && y < pictureRows;
        const uint8_t want = covered ? expected(x, y) : kUntouched;
        if (bytes[static_cast<size_t>(y) * image->PlanePitch(index) + x] != want) ++wrong;
      }
    EXPECT_EQ(wrong, 0) << "plane " << index;
  };
  auto samples = [](int plane) { return [plane](int x, int y) { return Sample(plane, x, y); }; };
  if (c.request & kYUVRGBA) {
    const bool swap = c.format == KIV_PIX_RGBA;
    check(kPlaneRGBA, fake.rowBytes[0], fake.rows[0], [swap](int x, int y) {
      const int channel = x % 4;
      const int from = swap && channel != 3 ? x - channel + (2 - channel) : x;
      return Sample(0, from, y);
    });
  } else if (c.request & kYUVGrey16) {
    check(kPlaneGrey, 2 * fake.rowBytes[0], fake.rows[0], [](int x, int y) {
      const uint16_t grey = GreyTable()[Sample(0, x / 2, y)];
      return static_cast<uint8_t>(x % 2 ? grey >> 8 : grey & 0xFF);
    });
  } else {
    check(kPlaneY, fake.rowBytes[0], fake.rows[0], samples(0));
    if (!(c.request & kYUVLumaOnly)) {
      check(kPlaneU, fake.rowBytes[1], fake.rows[1], samples(1));
      check(kPlaneV, fake.rowBytes[2], fake.rows[2], samples(2));
    }
  }
  EXPECT_EQ(image->DoneCount(), 0); // the caller says when the frame is done
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FrameCopy,
    testing::Values(TCopyCase{"yuv_smaller_odd", KIV_PIX_YUV420P, 0, 21, 11, true},
                    TCopyCase{"yuv_larger", KIV_PIX_YUV420P, 0, 80, 60, true},
                    TCopyCase{"yuv_wider_but_shorter", KIV_PIX_YUV420P, 0, 100, 7, true},
                    TCopyCase{"luma_smaller", KIV_PIX_YUV420P, kYUVLumaOnly, 33, 17, true},
                    TCopyCase{"grey_smaller", KIV_PIX_YUV420P, kYUVGrey16, 33, 17, true},
                    TCopyCase{"grey_larger", KIV_PIX_YUV420P, kYUVGrey16, 90, 50, true},
                    TCopyCase{"bgra_smaller", KIV_PIX_BGRA, kYUVRGBA, 20, 10, true},
                    TCopyCase{"rgba_larger", KIV_PIX_RGBA, kYUVRGBA, 70, 50, true},
                    TCopyCase{"rgba_asked_of_yuv", KIV_PIX_YUV420P, kYUVRGBA, 20, 10, false},
                    TCopyCase{"yuv_asked_of_bgra", KIV_PIX_BGRA, 0, 20, 10, false},
                    TCopyCase{"empty_picture", KIV_PIX_YUV420P, 0, 0, 0, true}),
    [](const testing::TestParamInfo<TCopyCase>& p) { return p.param.name; });

TEST(FrameCopy, APictureWithoutChromaPlanesIsRefused) {
  TFakePicture fake(KIV_PIX_YUV420P, 16, 8);
  fake.picture.data[2] = nullptr;
  auto image = TRef<TMemoryYUVImage>::Make(16, 8, 0u);
  EXPECT_FALSE(CopyPictureToImage(fake.picture, *image));
  auto luma = TRef<TMemoryYUVImage>::Make(16, 8, unsigned(kYUVLumaOnly));
  EXPECT_TRUE(CopyPictureToImage(fake.picture, *luma));
}

} // namespace

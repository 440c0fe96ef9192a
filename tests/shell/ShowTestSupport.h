#pragma once
// Helpers of the shell tests that build a show on disk, pack it with kivpack and look at drawn frames.

#include "../support/TestBmp.h"
#include "DeviceLayer.h"
#include "GLContext.h"
#include "OffscreenFrame.h"
#include "OpenedShow.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <utility>

namespace kiv::testing_support {

struct TRgb {
  int r = 0, g = 0, b = 0;
};
using TPixelFunc = std::function<TRgb(int, int)>;

inline void WriteBmp(const std::filesystem::path& path, int width, int height, const TPixelFunc& pixel) {
  test_files::WriteBmpFile(path, width, height, [&pixel](int x, int y) {
    const TRgb c = pixel(x, y);
    return uint32_t(c.r & 0xFF) << 16 | uint32_t(c.g & 0xFF) << 8 | uint32_t(c.b & 0xFF);
  });
}

// Project files are written as the editor writes them: UTF-8 with a byte order mark, CRLF.
inline void WriteProjectText(const std::filesystem::path& path, std::string_view text) {
  std::string out = "\xEF\xBB\xBF";
  for (const char c : text) {
    if (c == '\n') out += '\r';
    out += c;
  }
  std::ofstream(path, std::ios::binary) << out;
}

// Packs a show folder with the built kivpack; false when kivpack fails.
inline bool PackShow(const std::filesystem::path& folder, const std::string& show) {
  const std::string command =
      std::string("'") + KIVPACK_PATH + "' create '" + folder.string() + "' -o '" + show + "' >/dev/null";
  return std::system(command.c_str()) == 0;
}

// The colour of a pixel of a 32-bit frame.
inline TRgb PixelRgb(const TDevBitmap& frame, int x, int y) {
  const uint32_t p = frame.Pixel32(x, y);
  return {int(p >> 16 & 0xFF), int(p >> 8 & 0xFF), int(p & 0xFF)};
}

// A test that draws frames of a show its suite packed: skipped without headless GL.
class TShowFrameTest : public ::testing::Test {
protected:
  // Opens the show; a caller that goes on checks IsSkipped() and HasFatalFailure() first.
  void OpenShow(const std::string& show, bool packed) {
    std::string whyNot;
    if (!HeadlessGLAvailable(&whyNot))
      GTEST_SKIP() << "no headless EGL display, GL tests skipped: " << whyNot;
    ASSERT_TRUE(packed);
    std::string message;
    locator_ = OpenPackedShow(show, message);
    ASSERT_TRUE(locator_) << message;
  }
  // The renderer goes before the show it draws.
  void TearDown() override {
    renderer_.reset();
    locator_.reset();
  }

  std::unique_ptr<TKivShowLocator> locator_;
  std::unique_ptr<TFrameRenderer> renderer_;
};

} // namespace kiv::testing_support

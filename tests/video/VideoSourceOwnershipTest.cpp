// Who frees the stream a video source is given: the source when it owns it, at once when no source is
// made, and never by throwing out of a destructor.

#include "Assert.h"
#include "DecoderFrameSource.h"
#include "FrameSourceFactory.h"
#include "TrackedStream.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

using namespace kiv;
using kivtest::TTrackedStream;

namespace {

class VideoSourceOwnership : public testing::Test {
protected:
  void SetUp() override {
    reported_.clear();
    previous_ = SetAssertionSink([](const std::string& text) { reported_.push_back(text); });
  }
  void TearDown() override {
    SetAssertionSink(previous_);
    SetFrameSourceFactory({});
  }

  static std::vector<std::string> reported_;
  TAssertionSink previous_ = nullptr;
};

std::vector<std::string> VideoSourceOwnership::reported_;

TEST_F(VideoSourceOwnership, AFactoryThatThrowsLeavesNoStreamBehind) {
  SetFrameSourceFactory([](TStream&, TStreamPtr, const std::string&) -> std::unique_ptr<TFrameSource> {
    throw std::runtime_error("no decoder");
  });
  int destroyed = 0;
  EXPECT_EQ(OpenVideoSource(new TTrackedStream(destroyed), true, "clip.mp4"), nullptr);
  EXPECT_EQ(destroyed, 1);
}

TEST_F(VideoSourceOwnership, AFactoryThatMakesNothingLeavesNoStreamBehind) {
  SetFrameSourceFactory(
      [](TStream&, TStreamPtr, const std::string&) -> std::unique_ptr<TFrameSource> { return nullptr; });
  int destroyed = 0;
  EXPECT_EQ(OpenVideoSource(new TTrackedStream(destroyed), true, "clip.mp4"), nullptr);
  EXPECT_EQ(destroyed, 1);
}

// Whether the library is there or not, the source frees what it owns; a failed clean-up is reported.
TEST_F(VideoSourceOwnership, AFailedCleanUpOfTheStreamStaysInTheDestructor) {
  int destroyed = 0;
  { TWinVideoSource source(new TTrackedStream(destroyed, {.failDispose = true}), true, "clip.mp4"); }
  EXPECT_EQ(destroyed, 1);
  ASSERT_EQ(reported_.size(), 1u);
  EXPECT_NE(reported_[0].find("\"TTrackedStream\" Disposing"), std::string::npos);
}

// A stream that refuses to seek fails the opening inside the library's binding: the source says it is not
// open instead of raising, and the stream it owns goes with it.
TEST_F(VideoSourceOwnership, AStreamThatCannotSeekGivesNoSourceAndIsFreed) {
  if (!TFFMpegDll::TryAcquire()) GTEST_SKIP() << "libkivffmpeg.so not built";
  int destroyed = 0;
  std::unique_ptr<TWinVideoSource> source;
  EXPECT_NO_THROW(source = MakeWinVideoSource(TStreamPtr(new TTrackedStream(destroyed, {.failSeek = true},
                                                                            std::vector<uint8_t>(4096, 0))),
                                              "clip.mp4"));
  EXPECT_EQ(source, nullptr);
  EXPECT_EQ(destroyed, 1);
}

} // namespace

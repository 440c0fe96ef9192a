// The stream helper, the shifted stream and the local buffer.

#include "SampleBuffer.h"
#include "TestEnvironment.h"
#include "OffsetStream.h"
#include "MediaRecord.h"
#include "Assert.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <numeric>

using namespace kiv;

namespace {

TMemoryStream* Counting(int n) {
  std::vector<uint8_t> bytes(static_cast<size_t>(n));
  std::iota(bytes.begin(), bytes.end(), uint8_t(0));
  return new TMemoryStream(std::move(bytes));
}

TEST(StreamHelper, SeekOrigins) {
  TOwned<TMemoryStream> stream(Counting(100));
  TStreamWrapperClass& helper = StreamWrapper();
  EXPECT_EQ(helper.Seek(*stream, 0, 30), 30);
  EXPECT_EQ(helper.Seek(*stream, 1, 5), 35);
  EXPECT_EQ(helper.Seek(*stream, 2, 10), 90); // backwards from the end
  uint8_t b = 0;
  EXPECT_EQ(helper.Read(*stream, &b, 1), 1);
  EXPECT_EQ(b, 90);
  EXPECT_EQ(helper.Size(*stream), 100);
  static std::string reported;
  const TAssertionSink previous = SetAssertionSink([](const std::string& text) { reported = text; });
  EXPECT_EQ(helper.Seek(*stream, 7, 10), 0); // unknown origin: reported, and back to the start
  SetAssertionSink(previous);
  EXPECT_NE(reported.find("Assertion failure"), std::string::npos);
}

TEST(StreamHelper, CallbackTableGoesThroughTheHelper) {
  TOwned<TMemoryStream> stream(Counting(50));
  const TStreamCallbackTable& table = StreamCallbacks();
  EXPECT_EQ(table.size(stream.get()), 50);
  EXPECT_EQ(table.seek(stream.get(), 20, 0), 20);
  uint8_t bytes[40];
  EXPECT_EQ(table.read(stream.get(), bytes, 40), 30);
  EXPECT_EQ(bytes[0], 20);
  EXPECT_EQ(table.position(stream.get()), 50);
}

TEST(StreamHelper, OpensFilesHandlersAndShiftedViews) {
  const std::filesystem::path path = kivtest::FreshTempDir("stream_helper") / "kiv_stream_helper_test.bin";
  {
    TFileStream file(path.string(), TFileMode::Create);
    const uint8_t bytes[10] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9};
    file.WriteBuffer(bytes, 10);
  }
  TStreamWrapperClass& helper = StreamWrapper();
  EXPECT_EQ(helper.Open(nullptr, "/nonexistent/file"), nullptr);
  TStream* shifted = helper.OpenShifted(nullptr, path.string(), 4);
  ASSERT_NE(shifted, nullptr);
  EXPECT_EQ(helper.Size(*shifted), 6);
  EXPECT_EQ(helper.Position(*shifted), 0);
  uint8_t b = 0;
  helper.Read(*shifted, &b, 1);
  EXPECT_EQ(b, 4);
  EXPECT_EQ(helper.Seek(*shifted, 0, 3), 3);
  helper.Read(*shifted, &b, 1);
  EXPECT_EQ(b, 7);
  int closed = 0;
  helper.Close(nullptr, shifted, [&](void*, TStream* inner) {
    ++closed;
    EXPECT_EQ(dynamic_cast<TMp3ShiftStream*>(inner), nullptr); // the handler gets the inner stream
    TObj::Free(inner);
  });
  EXPECT_EQ(closed, 1);
  int opened = 0;
  TStream* fromHandler = helper.Open(nullptr, "stored.mp3", [&](void*, const std::string& name) -> TStream* {
    ++opened;
    EXPECT_EQ(name, "stored.mp3");
    return Counting(3);
  });
  ASSERT_NE(fromHandler, nullptr);
  EXPECT_EQ(opened, 1);
  EXPECT_EQ(helper.Size(*fromHandler), 3);
  helper.Close(nullptr, fromHandler);
  std::filesystem::remove(path);
}

TEST(ShiftStream, WritingIsRefused) {
  TMp3ShiftStream stream(Counting(10), 2);
  const TAssertionSink previous = SetAssertionSink([](const std::string&) {});
  EXPECT_THROW(stream.Write("x", 1), EAssertion);
  SetAssertionSink(previous);
}

TEST(LocalBuffer, GrowsKeepsContentAndConsumes) {
  TLocalBuffer buffer(4);
  buffer.Append("abcd", 4);
  EXPECT_EQ(buffer.FreeBytes(), 0);
  buffer.Reserve(3);
  EXPECT_GE(buffer.FreeBytes(), 3);
  buffer.Append("efg", 3);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer.Data()), 7), "abcdefg");
  buffer.Consume(2);
  EXPECT_EQ(buffer.Length(), 5);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer.Data()), 5), "cdefg");
  buffer.Consume(100);
  EXPECT_EQ(buffer.Length(), 0);
}

TEST(LocalBuffer, ReadFromStopsAtTheLimit) {
  TOwned<TMemoryStream> stream(Counting(100));
  TLocalBuffer buffer(64);
  stream->SetPosition(10);
  ASSERT_TRUE(buffer.ReadFrom(*stream, 40)); // 30 bytes, below the free space
  EXPECT_EQ(buffer.Length(), 30);
  EXPECT_EQ(buffer.Data()[0], 10);
  EXPECT_FALSE(buffer.ReadFrom(*stream, 40)); // at the limit
  buffer.Clear();
  stream->SetPosition(50);
  ASSERT_TRUE(buffer.ReadFrom(*stream, 1000)); // the free space bounds it
  EXPECT_EQ(buffer.Length(), 50);              // and the stream's end
  EXPECT_FALSE(buffer.ReadFrom(*stream, 1000));
}

TEST(LocalBuffer, AppendFromMovesAllOrRefuses) {
  TLocalBuffer target(8), source(8);
  source.Append("12345", 5);
  target.AppendFrom(source);
  EXPECT_EQ(target.Length(), 5);
  EXPECT_EQ(source.Length(), 0);
  source.Append("6789", 4);
  const TAssertionSink previous = SetAssertionSink([](const std::string&) {});
  EXPECT_THROW(target.AppendFrom(source), EAssertion); // 3 free, 4 offered
  SetAssertionSink(previous);
  EXPECT_EQ(target.Length(), 5);
}

} // namespace

// The stream helper, the shifted stream and the local buffer.

#include "Assert.h"
#include "MediaRecord.h"
#include "OffsetStream.h"
#include "PackedShowReader.h"
#include "PackedShowWriter.h"
#include "SampleBuffer.h"
#include "TestEnvironment.h"
#include "TrackedStream.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <future>
#include <numeric>
#include <thread>

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
  TStreamPtr shifted = helper.OpenShifted(nullptr, path.string(), 4);
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
  helper.Close(nullptr, std::move(shifted), [&](void*, TStreamPtr inner) {
    ++closed;
    EXPECT_EQ(dynamic_cast<TMp3ShiftStream*>(inner.get()), nullptr); // the handler gets the inner stream
  });
  EXPECT_EQ(closed, 1);
  int opened = 0;
  TStreamPtr fromHandler = helper.Open(nullptr, "stored.mp3", [&](void*, const std::string& name) {
    ++opened;
    EXPECT_EQ(name, "stored.mp3");
    return TStreamPtr(Counting(3));
  });
  ASSERT_NE(fromHandler, nullptr);
  EXPECT_EQ(opened, 1);
  EXPECT_EQ(helper.Size(*fromHandler), 3);
  helper.Close(nullptr, std::move(fromHandler));
  std::filesystem::remove(path);
}

// An open handler may inflate a stored file of up to a gigabyte; reads of the sounds and videos already
// playing go through the same helper and must not wait for it.
TEST(StreamHelper, ReadsGoOnWhileAnOpenHandlerInflatesAStoredFile) {
  const std::filesystem::path path = kivtest::FreshTempDir("stream_helper_inflate") / "show.KvShow";
  const std::vector<uint8_t> big(size_t{32} << 20, 7);
  {
    TFileStream file(path.string(), TFileMode::Create);
    TKivPacker packer(file);
    packer.Add(u"music.wav", big, 1);
    packer.Finish(TTrailerForm::A);
  }
  TKivUnpack unpack(path.string());
  ASSERT_TRUE(unpack.IsOpen());

  TStreamWrapperClass& helper = StreamWrapper();
  std::promise<void> entered, probed;
  std::future<void> probedFuture = probed.get_future();
  TStreamPtr opened;
  std::thread opener([&] {
    opened = helper.Open(nullptr, "music.wav", [&](void*, const std::string&) {
      entered.set_value();
      probedFuture.wait_for(std::chrono::seconds(60));
      return unpack.OpenEntry(u"music.wav");
    });
  });
  entered.get_future().wait();

  TOwned<TMemoryStream> playing(Counting(10));
  auto read = std::async(std::launch::async, [&] {
    uint8_t b = 0;
    helper.Seek(*playing, 0, 3);
    return helper.Read(*playing, &b, 1) == 1 ? b : -1;
  });
  const bool readInTime = read.wait_for(std::chrono::seconds(20)) == std::future_status::ready;
  probed.set_value();
  opener.join();
  EXPECT_TRUE(readInTime) << "a read waited for the open handler";
  EXPECT_EQ(read.get(), 3);
  ASSERT_NE(opened, nullptr);
  EXPECT_EQ(helper.Size(*opened), static_cast<int64_t>(big.size()));
  helper.Close(nullptr, std::move(opened));
}

TEST(ShiftStream, WritingIsRefused) {
  TMp3ShiftStream stream(TStreamPtr(Counting(10)), 2);
  const TAssertionSink previous = SetAssertionSink([](const std::string&) {});
  EXPECT_THROW(stream.Write("x", 1), EAssertion);
  SetAssertionSink(previous);
}

// The view adopts its inner stream before it seeks; a seek that fails must not leave the stream orphaned.
TEST(ShiftStream, FreesTheInnerStreamWhenItsConstructionFails) {
  int destroyed = 0;
  EXPECT_THROW(TMp3ShiftStream(TStreamPtr(new kivtest::TTrackedStream(destroyed, {.failSeek = true})), 4),
               EStreamError);
  EXPECT_EQ(destroyed, 1);
}

TEST(ShiftStream, AFailedCleanUpOfTheInnerStreamStaysInTheDestructor) {
  static std::vector<std::string> reported;
  reported.clear();
  const TAssertionSink previous = SetAssertionSink([](const std::string& text) { reported.push_back(text); });
  int destroyed = 0;
  { TMp3ShiftStream stream(TStreamPtr(new kivtest::TTrackedStream(destroyed, {.failDispose = true})), 0); }
  SetAssertionSink(previous);
  EXPECT_EQ(destroyed, 1);
  ASSERT_EQ(reported.size(), 1u);
  EXPECT_NE(reported[0].find("\"TTrackedStream\" Disposing"), std::string::npos);
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

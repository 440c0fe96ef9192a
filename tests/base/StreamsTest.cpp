#include "Streams.h"
#include "TestEnvironment.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace kiv {
namespace {

TEST(MemoryStream, ReadsWritesAndSeeks) {
  TMemoryStream s;
  s.WriteBuffer("hello world", 11);
  EXPECT_EQ(s.GetSize(), 11);
  EXPECT_EQ(s.Seek(-5, TSeekOrigin::End), 6);
  char buf[8] = {};
  EXPECT_EQ(s.Read(buf, 8), 5);
  EXPECT_EQ(std::string(buf, 5), "world");
  EXPECT_EQ(s.Read(buf, 8), 0);
  EXPECT_THROW(s.ReadBuffer(buf, 1), EReadError);
  EXPECT_THROW(s.SetPosition(-1), EStreamError);
}

TEST(FileStream, RoundTripsAndReportsMissingFiles) {
  auto path = (kivtest::FreshTempDir("streams") / "kiv_stream_test.bin").string();
  {
    TFileStream f(path, TFileMode::Create);
    f.WriteBuffer("abcdef", 6);
    f.SetSize(4);
  }
  std::vector<uint8_t> data;
  ASSERT_TRUE(ReadWholeFile(path, data));
  EXPECT_EQ(std::string(data.begin(), data.end()), "abcd");
  std::filesystem::remove(path);
  EXPECT_FALSE(ReadWholeFile(path, data));
  EXPECT_THROW(TFileStream(path, TFileMode::OpenRead), EFOpenError);
}

} // namespace
} // namespace kiv

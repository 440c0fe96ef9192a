#include "StreamViews.h"
#include "TestEnvironment.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace kiv {
namespace {

std::vector<uint8_t> Counting(size_t n) {
  std::vector<uint8_t> data(n);
  for (size_t i = 0; i < n; ++i)
    data[i] = static_cast<uint8_t>(i * 13 + i / 256);
  return data;
}

std::vector<uint8_t> ReadAll(TStream& s, int64_t count) {
  std::vector<uint8_t> out(static_cast<size_t>(count));
  out.resize(static_cast<size_t>(s.Read(out.data(), count)));
  return out;
}

TEST(PartialStream, ReadsOnlyItsWindow) {
  TMemoryStream source(Counting(1000));
  TPartialStream window(source, 100, 50);
  EXPECT_EQ(window.GetPosition(), 0);
  EXPECT_EQ(window.GetSize(), 50);
  const auto got = ReadAll(window, 80); // asks past the end of the window
  EXPECT_EQ(got, std::vector<uint8_t>(source.Data().begin() + 100, source.Data().begin() + 150));
  EXPECT_EQ(window.GetPosition(), 50);
  window.SetPosition(45);
  EXPECT_EQ(ReadAll(window, 10).size(), 5u);
  window.SetPosition(1000); // past the end is accepted, reads nothing
  EXPECT_EQ(ReadAll(window, 10).size(), 0u);
}

TEST(PartialStream, RefusesWindowsTheSourceCannotHold) {
  struct Case {
    int64_t start, size;
    bool ok;
  } cases[] = {{0, 1000, true},  {1000, 0, true}, {999, 1, true}, {1, 1000, false},
               {1001, 0, false}, {-1, 10, false}, {0, -1, false}, {INT64_MAX, 10, false}};
  for (const Case& c : cases) {
    TMemoryStream source(Counting(1000));
    SCOPED_TRACE(std::to_string(c.start) + "+" + std::to_string(c.size));
    if (c.ok) {
      EXPECT_NO_THROW(TPartialStream(source, c.start, c.size));
    } else {
      try {
        TPartialStream window(source, c.start, c.size);
        ADD_FAILURE() << "accepted";
      } catch (const EStreamError& e) {
        EXPECT_STREQ(e.what(), "Insufficient Source Size");
      }
    }
  }
}

TEST(PartialStream, RefusesNegativePositionsAndResizing) {
  TMemoryStream source(Counting(10));
  TPartialStream window(source, 2, 5);
  try {
    window.SetPosition(-1);
    ADD_FAILURE();
  } catch (const EStreamError& e) {
    EXPECT_STREQ(e.what(), "Incorrect Position");
  }
  try {
    window.SetSize(3);
    ADD_FAILURE();
  } catch (const EStreamError& e) {
    EXPECT_STREQ(e.what(), "Stream Cannot be resized");
  }
}

// Counts how much the source is asked for per call.
class TRecordingStream : public TMemoryStream {
public:
  using TMemoryStream::TMemoryStream;
  int64_t Read(void* buffer, int64_t count) override {
    requests.push_back(count);
    return TMemoryStream::Read(buffer, count);
  }
  std::vector<int64_t> requests;
};

TEST(PartialStream, MovesOneChunkPerSourceCallAndReportsProgress) {
  struct Case {
    bool callback;
    int chunkAsked;
    int64_t expectedChunk;
  } cases[] = {{false, 100, 32768}, {true, 32768, 256}, {true, 100, 100}};
  for (const Case& c : cases) {
    TRecordingStream source(Counting(100000));
    int calls = 0;
    TProgressCallback callback;
    if (c.callback) callback = [&calls] { return ++calls, true; };
    TPartialStream window(source, 10, 70000, c.chunkAsked, callback);
    EXPECT_EQ(window.ChunkSize(), c.expectedChunk);
    std::vector<uint8_t> buffer(70000);
    EXPECT_EQ(window.Read(buffer.data(), 70000), 70000);
    const int64_t chunks = (70000 + c.expectedChunk - 1) / c.expectedChunk;
    EXPECT_EQ(static_cast<int64_t>(source.requests.size()), chunks);
    for (int64_t r : source.requests)
      EXPECT_LE(r, c.expectedChunk);
    EXPECT_EQ(calls, c.callback ? chunks : 0);
  }
}

TEST(PartialStream, StopsWhenTheCallbackSaysSo) {
  TMemoryStream source(Counting(5000));
  int calls = 0;
  TPartialStream window(source, 0, 5000, 32768, [&calls] { return ++calls < 3; });
  std::vector<uint8_t> buffer(5000);
  EXPECT_EQ(window.Read(buffer.data(), 5000), 3 * 256);
  EXPECT_EQ(window.GetPosition(), 3 * 256);
}

TEST(PartialStream, WritesAndCopiesInsideTheWindowOnly) {
  TMemoryStream target(std::vector<uint8_t>(20, 0));
  TPartialStream window(target, 5, 10);
  EXPECT_EQ(window.Write("abcdefghijklmno", 15), 10);
  EXPECT_EQ(std::string(target.Data().begin() + 5, target.Data().begin() + 15), "abcdefghij");
  EXPECT_EQ(target.Data()[15], 0);

  TMemoryStream from(Counting(8));
  window.SetPosition(2);
  from.SetPosition(0);
  EXPECT_EQ(window.CopyFrom(from, 8), 8);
  EXPECT_EQ(std::vector<uint8_t>(target.Data().begin() + 7, target.Data().begin() + 15), Counting(8));

  TMemoryStream tooMuch(Counting(20));
  window.SetPosition(0);
  EXPECT_THROW(window.CopyFrom(tooMuch, 0), EWriteError);
}

TEST(PartialStream, OwnsItsSourceWhenGivenOne) {
  auto source = MakeOwned<TMemoryStream>(Counting(64));
  TPartialStream window(TOwned<TStream>(std::move(source)), 60, 4);
  const auto all = Counting(64);
  EXPECT_EQ(ReadAll(window, 4), std::vector<uint8_t>(all.begin() + 60, all.end()));
}

std::vector<uint8_t> XorReference(const std::vector<uint8_t>& data, size_t from, const std::string& key) {
  std::vector<uint8_t> out(data.begin() + static_cast<ptrdiff_t>(from), data.end());
  for (size_t i = 0; i < out.size(); ++i)
    out[i] ^= static_cast<uint8_t>(key[(from + i) % key.size()]);
  return out;
}

TEST(CryptStream, ReadingFromTheMiddleMatchesReadingFromTheStart) {
  const std::vector<uint8_t> plain = Counting(20000);
  for (const std::string& key :
       {std::string("K"), std::string("abc"), std::string("5E3A0C7D91B24F68A0D3C5E71F8B2946")}) {
    // Stored = plain XOR key, as written by the packer.
    TMemoryStream stored(XorReference(plain, 0, key));
    TCryptStream crypt(stored, key);
    EXPECT_EQ(ReadAll(crypt, 20000), plain);
    for (int64_t from : {1, 31, 32, 4095, 4097, 9000, 19999}) {
      SCOPED_TRACE(key + " from " + std::to_string(from));
      crypt.SetPosition(from);
      EXPECT_EQ(crypt.GetPosition(), from);
      EXPECT_EQ(ReadAll(crypt, 20000), std::vector<uint8_t>(plain.begin() + from, plain.end()));
    }
  }
}

TEST(CryptStream, WritesWhatItReadsBack) {
  TMemoryStream stored;
  TCryptStream crypt(stored, "xyz");
  const auto plain = Counting(100);
  crypt.WriteBuffer(plain.data(), 40);
  crypt.WriteBuffer(plain.data() + 40, 60);
  EXPECT_EQ(stored.Data(), XorReference(plain, 0, "xyz"));
  crypt.SetPosition(0);
  EXPECT_EQ(ReadAll(crypt, 100), plain);
}

TEST(CryptStream, RefusesAnEmptyKey) {
  TMemoryStream stored;
  EXPECT_THROW(TCryptStream(stored, ""), EAssertion);
}

TEST(FileStreamEx, ReadsLikeAFileStream) {
  auto path = (kivtest::FreshTempDir("filestreamex") / "kiv_filestreamex.bin").string();
  {
    TFileStream f(path, TFileMode::Create);
    f.WriteBuffer("hello", 5);
  }
  TFileStreamEx file(path);
  char buffer[8] = {};
  EXPECT_EQ(file.Read(buffer, 8), 5);
  EXPECT_EQ(std::string(buffer), "hello");
  std::filesystem::remove(path);
}

TEST(Inflate, RoundTripsAndRejectsDamagedOrOversizedData) {
  const auto plain = Counting(100000);
  const auto packed = DeflateRaw(plain.data(), plain.size());
  {
    TMemoryStream in(packed), out;
    InflateRaw(in, static_cast<int64_t>(packed.size()), out, 100000);
    EXPECT_EQ(out.Data(), plain);
  }
  struct Case {
    const char* what;
    std::vector<uint8_t> data;
    int64_t limit;
  } cases[] = {
      {"truncated", std::vector<uint8_t>(packed.begin(), packed.begin() + packed.size() / 2), 1 << 20},
      {"garbage", std::vector<uint8_t>(64, 0xFF), 1 << 20},
      {"empty", {}, 1 << 20},
      {"over the limit", packed, 99999},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TMemoryStream in(c.data), out;
    EXPECT_THROW(InflateRaw(in, static_cast<int64_t>(c.data.size()), out, c.limit), EInflateError);
  }
}

} // namespace
} // namespace kiv

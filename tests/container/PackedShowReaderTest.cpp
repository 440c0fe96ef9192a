#include "ShowBuilder.h"

#include "TestEnvironment.h"
#include "Utf8Conversion.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace kiv {
namespace {

using namespace kiv::test;

TEST(KivUnpack, ReadsEveryPackingMethodInBothForms) {
  for (TTrailerForm form : {TTrailerForm::A, TTrailerForm::B}) {
    const auto prefix = Bytes("program image");
    TTempFile file(PackedShow(SampleEntries(), form, prefix));
    TKivUnpack unpack(file.Path());
    ASSERT_TRUE(unpack.IsOpen());
    EXPECT_EQ(unpack.Form(), form);
    EXPECT_EQ(unpack.Message(), "");
    EXPECT_EQ(unpack.Version(), u"1.0 kivviewer");
    EXPECT_EQ(unpack.Shift(), 0);
    EXPECT_EQ(unpack.End(), static_cast<int64_t>(std::filesystem::file_size(file.Path())) -
                                (form == TTrailerForm::B ? 8 : 0));
    EXPECT_EQ(ReadEntry(unpack, u"kivviewer"), prefix);
    const TKivEntryInfo program = unpack.EntryInfo(u"kivviewer");
    EXPECT_TRUE(program.found);
    EXPECT_EQ(program.position, 0);
    EXPECT_EQ(program.method, 0);
    for (const TTestEntry& e : SampleEntries()) {
      SCOPED_TRACE(Utf16ToUtf8(e.name));
      EXPECT_EQ(ReadEntry(unpack, e.name), e.data);
      EXPECT_EQ(unpack.EntryInfo(e.name).method, e.method);
    }
  }
}

TEST(KivUnpack, FindsNamesWithBracketsAndIgnoresCase) {
  TTempFile file(PackedShow(SampleEntries(), TTrailerForm::A));
  TKivUnpack unpack(file.Path());
  ASSERT_TRUE(unpack.IsOpen());
  const auto expected = SampleEntries()[2].data;
  EXPECT_EQ(ReadEntry(unpack, u"PICTURES\\Forest [1].BMP"), expected);
  EXPECT_EQ(ReadEntry(unpack, u"pictures\\forest <1>.bmp"), expected);
  EXPECT_TRUE(unpack.Struc()->Doc().FindSection(u"pictures\\forest <1>.bmp"));
  EXPECT_EQ(unpack.OpenEntry(u"pictures\\missing.bmp"), nullptr);
  EXPECT_FALSE(unpack.EntryInfo(u"$protection$").found);
}

TEST(KivUnpack, ReportsFilesThatAreNoUsableShow) {
  const auto valid = PackedShow(SampleEntries(), TTrailerForm::A);
  std::vector<uint8_t> farStructure = RawShow(Bytes("xx"), "[a]\r\n", int64_t{1} << 40);
  std::vector<uint8_t> negativeStructure = RawShow(Bytes("xx"), "[a]\r\n", -5);
  std::vector<uint8_t> overflowingB = RawShow(Bytes("xx"), "[a]\r\n", 2, TTrailerForm::B, INT64_MIN);
  std::vector<uint8_t> structureAfterEnd = RawShow(Bytes("xx"), "[a]\r\n", int64_t{1} << 20, TTrailerForm::B);
  struct Case {
    const char* what;
    std::vector<uint8_t> data;
    std::string message;
  } cases[] = {
      {"empty file", {}, ""},
      {"plain text", Bytes("just some text, no trailer at all"), ""},
      {"magic alone", Bytes(".dne"), "Slide-show File Damaged"},
      {"magic near the start", Bytes(".dne12345678"), "Slide-show File Damaged"},
      {"structure position beyond the file", farStructure, "Slide-show File Damaged"},
      {"negative structure position", negativeStructure, "Slide-show File Damaged"},
      {"form B end that overflows", overflowingB, "Slide-show File Damaged"},
      {"form B structure past its end", structureAfterEnd, "Slide-show File Damaged"},
      {"trailer cut off", std::vector<uint8_t>(valid.begin(), valid.end() - 1), ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TTempFile file(c.data);
    TKivUnpack unpack(file.Path());
    EXPECT_FALSE(unpack.IsOpen());
    EXPECT_EQ(unpack.Message(), c.message);
    EXPECT_EQ(unpack.OpenEntry(u"a"), nullptr);
  }
  TKivUnpack missing("/nonexistent/kiv/show.KvShow");
  EXPECT_FALSE(missing.IsOpen());
  EXPECT_EQ(missing.Message(), "Slideshow File not Found");
  TKivUnpack directory(std::filesystem::temp_directory_path().string());
  EXPECT_EQ(directory.Message(), "Slideshow File not Found");
}

// Stored bytes at their actual place; the structure records them `skew` bytes earlier, as a show whose
// program image grew after it was built.
std::vector<uint8_t> SkewedShow(int64_t skew, const std::string& strucpos) {
  std::vector<uint8_t> body = Bytes("PROGRAM-IMAGE-");
  body.resize(static_cast<size_t>(100 + skew), 'p');
  const auto stored = Bytes("the stored file");
  const int64_t position = static_cast<int64_t>(body.size());
  body.insert(body.end(), stored.begin(), stored.end());
  std::string text = "[a.txt]\r\n_ps=" + std::to_string(position - skew) + "\r\n_sz=15\r\n_pm=0\r\n\r\n";
  text += "[$protection$]\r\nkivversion=1.0 test\r\n";
  const int64_t actual = static_cast<int64_t>(body.size());
  if (strucpos == "actual")
    text += "strucpos=" + std::to_string(actual) + "\r\n";
  else if (strucpos == "recorded")
    text += "strucpos=" + std::to_string(actual - skew) + "\r\n";
  else if (strucpos != "none")
    text += "strucpos=" + strucpos + "\r\n";
  return RawShow(body, text);
}

TEST(KivUnpack, RelocatesStoredFilesByStrucpos) {
  struct Case {
    const char* strucpos;
    int64_t skew;
    bool open;
    int64_t shift;
    bool readsStoredFile;
  } cases[] = {
      {"actual", 0, true, 0, true},     {"none", 0, true, 0, true},
      {"recorded", 40, true, 40, true}, {"none", 40, true, 0, false},
      {"actual", 40, true, 0, false},   {"99999", 0, false, 0, false},
      {"12x", 0, false, 0, false},      {"", 0, true, 0, true},
      {"-5", 0, false, 0, false},       {"99999999999999999999", 0, false, 0, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.strucpos) + " skew " + std::to_string(c.skew));
    TTempFile file(SkewedShow(c.skew, c.strucpos));
    TKivUnpack unpack(file.Path());
    EXPECT_EQ(unpack.IsOpen(), c.open);
    if (!c.open) {
      EXPECT_EQ(unpack.Message(), "Slide-show File Damaged");
      continue;
    }
    EXPECT_EQ(unpack.Shift(), c.shift);
    EXPECT_EQ(ReadEntry(unpack, u"a.txt") == Bytes("the stored file"), c.readsStoredFile);
  }
}

TEST(KivUnpack, FindsAShowCopiedBehindALongerPrefix) {
  const auto prefix = Bytes("original program");
  const auto show = PackedShow(SampleEntries(), TTrailerForm::B, prefix);
  for (size_t longer : {size_t{1}, size_t{4096}}) {
    std::vector<uint8_t> moved(prefix.size() + longer, 'Q');
    moved.insert(moved.end(), show.begin() + static_cast<ptrdiff_t>(prefix.size()), show.end());
    TTempFile file(moved);
    TKivUnpack unpack(file.Path());
    ASSERT_TRUE(unpack.IsOpen());
    EXPECT_EQ(unpack.BaseShift(), static_cast<int64_t>(longer));
    EXPECT_EQ(unpack.Shift(), static_cast<int64_t>(longer));
    for (const TTestEntry& e : SampleEntries())
      EXPECT_EQ(ReadEntry(unpack, e.name), e.data);
  }
}

TEST(KivUnpack, TreatsIncompleteOrOutOfRangeEntriesAsMissing) {
  // Shift of 40: a missing _ps of -1 must not turn into position 39.
  std::vector<uint8_t> body(140, 'p');
  const auto packed = DeflateRaw("inflated", 8);
  body.insert(body.end(), packed.begin(), packed.end());
  const std::string structure = "[no_sz]\r\n_ps=100\r\n_pm=0\r\n"
                                "[no_ps]\r\n_sz=5\r\n"
                                "[neg_ps]\r\n_ps=-5\r\n_sz=5\r\n"
                                "[neg_sz]\r\n_ps=100\r\n_sz=-2\r\n"
                                "[too_long]\r\n_ps=100\r\n_sz=100000\r\n"
                                "[odd_method]\r\n_ps=0\r\n_sz=4\r\n_pm=7\r\n"
                                "[wrapped_method]\r\n_ps=100\r\n_sz=" +
                                std::to_string(packed.size()) +
                                "\r\n_pm=257\r\n"
                                "[$protection$]\r\nstrucpos=" +
                                std::to_string(body.size() - 40) + "\r\n";
  TTempFile file(RawShow(body, structure));
  TKivUnpack unpack(file.Path());
  ASSERT_TRUE(unpack.IsOpen());
  ASSERT_EQ(unpack.Shift(), 40);
  for (const char16_t* name : {u"no_sz", u"no_ps", u"neg_ps", u"neg_sz"}) {
    EXPECT_FALSE(unpack.EntryInfo(name).found) << Utf16ToUtf8(name);
    EXPECT_EQ(unpack.OpenEntry(std::u16string_view(name)), nullptr);
  }
  try {
    unpack.OpenEntry(u"too_long");
    ADD_FAILURE();
  } catch (const EStreamError& e) {
    EXPECT_STREQ(e.what(), "Insufficient Source Size");
  }
  EXPECT_EQ(ReadEntry(unpack, u"odd_method"), Bytes("pppp"));
  EXPECT_EQ(ReadEntry(unpack, u"wrapped_method"), Bytes("inflated")); // _pm is read as a byte: 257 is 1
}

TEST(KivUnpack, RejectsDamagedAndOverlongDeflateData) {
  // Structure block of garbage.
  std::vector<uint8_t> garbage(200, 0xFF);
  AppendInt64(garbage, 0);
  garbage.insert(garbage.end(), kKivMagic, kKivMagic + 4);
  TTempFile garbageFile(garbage);
  EXPECT_THROW(TKivUnpack{garbageFile.Path()}, EInflateError);
  std::u16string version;
  EXPECT_FALSE(ReadShowVersion(garbageFile.Path(), version));

  // A structure that inflates past its bound.
  std::string huge(TKivUnpack::kMaxStructureSize + 1, ' ');
  TTempFile bomb(RawShow({}, huge));
  EXPECT_THROW(TKivUnpack{bomb.Path()}, EInflateError);

  // A method-1 entry whose data is damaged.
  std::vector<uint8_t> body(64, 0xFF);
  TTempFile badEntry(RawShow(body, "[x]\r\n_ps=0\r\n_sz=64\r\n_pm=1\r\n"));
  TKivUnpack unpack(badEntry.Path());
  ASSERT_TRUE(unpack.IsOpen());
  EXPECT_THROW(unpack.OpenEntry(u"x"), EInflateError);

  TTempFile good(PackedShow(SampleEntries(), TTrailerForm::B));
  ASSERT_TRUE(ReadShowVersion(good.Path(), version));
  EXPECT_EQ(version, u"1.0 kivviewer");
}

TEST(KivUnpack, OpensEntriesFromSeveralThreadsAtOnce) {
  const auto entries = SampleEntries();
  TTempFile file(PackedShow(entries, TTrailerForm::A));
  TKivUnpack unpack(file.Path());
  ASSERT_TRUE(unpack.IsOpen());
  std::atomic<int> mismatches{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t)
    threads.emplace_back([&, t] {
      for (int i = 0; i < 40; ++i) {
        const TTestEntry& e = entries[static_cast<size_t>(t + i) % entries.size()];
        // Read in small steps so that the threads interleave on their own handles.
        TOwned<TStream> stream = unpack.OpenEntry(e.name);
        std::vector<uint8_t> got;
        uint8_t buffer[1000];
        for (int64_t n; stream && (n = stream->Read(buffer, 1000)) > 0;)
          got.insert(got.end(), buffer, buffer + n);
        if (got != e.data) ++mismatches;
      }
    });
  for (auto& thread : threads)
    thread.join();
  EXPECT_EQ(mismatches.load(), 0);
}

// A show replaced on disk while it plays (an update copied over it) must not be read with the old show's
// positions: every entry comes from the file that was opened.
TEST(KivUnpack, ReadsTheOpenedFileAfterItIsReplacedOnDisk) {
  const std::filesystem::path dir = kivtest::FreshTempDir("replaced_show");
  const std::string path = (dir / "show.KvShow").string();
  const auto original = SampleEntries();
  auto write = [](const std::string& to, const std::vector<uint8_t>& bytes) {
    TFileStream file(to, TFileMode::Create);
    file.WriteBuffer(bytes.data(), static_cast<int64_t>(bytes.size()));
  };
  write(path, PackedShow(original, TTrailerForm::A));
  auto unpack = std::make_unique<TKivUnpack>(path);
  ASSERT_TRUE(unpack->IsOpen());
  TOwned<TStream> openedBefore = unpack->OpenEntry(u"raw.dat");
  ASSERT_NE(openedBefore, nullptr);

  // The same names with other contents, behind a prefix so that every position moves.
  std::vector<TTestEntry> update = original;
  for (size_t i = 0; i < update.size(); ++i)
    update[i].data = Pattern(update[i].data.size() + 3, static_cast<int>(50 + i));
  write(path + ".new", PackedShow(update, TTrailerForm::A, Pattern(1234, 9)));
  std::filesystem::rename(path + ".new", path);

  for (const TTestEntry& e : original) {
    SCOPED_TRACE(Utf16ToUtf8(e.name));
    EXPECT_EQ(ReadEntry(*unpack, e.name), e.data);
  }
  // An entry may outlive the container it came from.
  unpack.reset();
  std::vector<uint8_t> got(original[3].data.size());
  openedBefore->ReadBuffer(got.data(), static_cast<int64_t>(got.size()));
  EXPECT_EQ(got, original[3].data);
}

TEST(KivUnpack, SurvivesDamagedAndTruncatedShows) {
  const auto valid = PackedShow(SampleEntries(), TTrailerForm::B, Bytes("prog"));
  uint64_t state = 0x9E3779B97F4A7C15ull;
  auto next = [&state] {
    state = state * 6364136223846793005ull + 1442695040888963407ull;
    return state >> 33;
  };
  int opened = 0;
  for (int round = 0; round < 400; ++round) {
    std::vector<uint8_t> data = valid;
    switch (round % 4) {
    case 0: // a few random bytes anywhere
      for (int k = 0; k < 4; ++k)
        data[next() % data.size()] = static_cast<uint8_t>(next());
      break;
    case 1: // cut off
      data.resize(next() % data.size());
      break;
    case 2: // damage the structure block and trailer, where the values are
      for (int k = 0; k < 3; ++k)
        data[data.size() - 1 - next() % 300] = static_cast<uint8_t>(next());
      break;
    case 3: // a trailer value replaced
      for (int i = 0; i < 8; ++i)
        data[data.size() - (next() % 2 ? 8 : 20) + static_cast<size_t>(i)] = static_cast<uint8_t>(next());
      break;
    }
    TTempFile file(data, "mutant");
    try {
      TKivUnpack unpack(file.Path());
      if (!unpack.IsOpen()) continue;
      ++opened;
      std::vector<std::u16string> names;
      unpack.Struc()->Doc().GetSectionNames(names);
      for (const auto& name : names) {
        try {
          ReadEntry(unpack, name);
        } catch (const Exception&) {
        }
      }
    } catch (const Exception&) {
    }
  }
  EXPECT_GT(opened, 0);
}

} // namespace
} // namespace kiv

// Shows written by scripts/make_show_fixtures.py, an independent writer of the format.

#include "ShowBuilder.h"

#include <gtest/gtest.h>

namespace kiv {
namespace {

using namespace kiv::test;

std::string Fixture(const char* name) {
  return std::string(KIV_TEST_FIXTURES) + "/container/" + name;
}

// The generator's picture: byte i is (7 i + 3) mod 256.
std::vector<uint8_t> Picture() {
  std::vector<uint8_t> data(3000);
  for (size_t i = 0; i < data.size(); ++i)
    data[i] = static_cast<uint8_t>((i * 7 + 3) % 256);
  return data;
}

TEST(FixtureShows, OpenWithTheirFilesInPlace) {
  struct Case {
    const char* file;
    TTrailerForm form;
    int64_t shift;
  } cases[] = {{"form_a.KvShow", TTrailerForm::A, 0},
               {"form_b_moved.KvShow", TTrailerForm::B, 900},
               {"grown_prefix.KvShow", TTrailerForm::A, 500}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    TKivUnpack unpack(Fixture(c.file));
    ASSERT_TRUE(unpack.IsOpen()) << unpack.Message();
    EXPECT_EQ(unpack.Form(), c.form);
    EXPECT_EQ(unpack.Shift(), c.shift);
    EXPECT_EQ(unpack.Version(), u"2.5 fixture writer");
    EXPECT_EQ(ReadEntry(unpack, u"pictures\\a.bin"), Picture());
    EXPECT_EQ(ReadEntry(unpack, u"notes [1].txt"), Bytes("bracket entry\r\n"));
    TIniFile project;
    TOwned<TStream> stream = unpack.OpenEntry(u"project.KIV");
    ASSERT_TRUE(stream);
    ASSERT_TRUE(project.LoadFromStream(*stream));
    EXPECT_EQ(project.ReadString(u"main", u"opt_slidescount", u""), u"1");
  }
  TKivUnpack withProgram(Fixture("form_a.KvShow"));
  EXPECT_EQ(ReadEntry(withProgram, u"kivviewer.exe").size(), 88u);
}

TEST(FixtureShows, HandleMissingSizesAndBadRelocation) {
  TKivUnpack missingSize(Fixture("missing_sz.KvShow"));
  ASSERT_TRUE(missingSize.IsOpen());
  EXPECT_FALSE(missingSize.EntryInfo(u"pictures\\a.bin").found);
  EXPECT_EQ(missingSize.OpenEntry(u"pictures\\a.bin"), nullptr);
  EXPECT_EQ(ReadEntry(missingSize, u"notes [1].txt"), Bytes("bracket entry\r\n"));

  // Without strucpos a moved show reads its files at the recorded positions: inside the new prefix.
  TKivUnpack noStrucpos(Fixture("no_strucpos_moved.KvShow"));
  ASSERT_TRUE(noStrucpos.IsOpen());
  EXPECT_EQ(noStrucpos.Shift(), 0);
  EXPECT_NE(ReadEntry(noStrucpos, u"pictures\\a.bin"), Picture());

  for (const char* file : {"bad_strucpos.KvShow", "large_strucpos.KvShow"}) {
    TKivUnpack bad(Fixture(file));
    EXPECT_FALSE(bad.IsOpen()) << file;
    EXPECT_EQ(bad.Message(), "Slide-show File Damaged") << file;
  }
}

} // namespace
} // namespace kiv

// Writing composite texts: members, their envelopes and the main envelopes read back through the INI
// reader, and the "VolumeParams" pairs turned into envelope points.

#include "CompositeMusicBuilder.h"
#include "MusicTestSupport.h"

#include <gtest/gtest.h>

namespace kiv {
namespace {

using namespace kiv::test;

TEST(CompositeMusicText, MembersAndEnvelopesReadBack) {
  TCompositeMusicBuilder builder;
  builder.SetDuration(12500.5);
  TCompositeMember& first = builder.AddItem(u"music/a b.mp3", 0);
  first.beginTime = 250;
  first.duration = 10000;
  first.envelopes = {{{0, 0}, {1000, 500}}, {}, {{8000, 1000}, {10000, 0}}};
  builder.AddItem(u"", 3000).duration = 4000; // takes no place among the members
  TCompositeMember& third = builder.AddItem(u"LoadFromDisk:/tmp/c.ogg", 8000.25);
  third.duration = 0;
  builder.AddMainEnvelope() = {{0, 1000}, {12500, 0}};

  const TReadComposite read = ReadComposite(builder.ToText());
  ASSERT_TRUE(read.parsed);
  EXPECT_EQ(read.duration, 12500.5);
  ASSERT_EQ(read.members.size(), 2u);
  EXPECT_EQ(read.members[0].fileName, "music/a b.mp3");
  EXPECT_EQ(read.members[0].timeLine, 0);
  EXPECT_EQ(read.members[0].beginTime, 250);
  EXPECT_EQ(read.members[0].duration, 10000);
  const std::vector<TReadEnvelope> firstEnvelopes = {{{0, 0}, {1000, 500}}, {{8000, 1000}, {10000, 0}}};
  EXPECT_EQ(read.members[0].envelopes, firstEnvelopes);
  EXPECT_EQ(read.members[1].fileName, "LoadFromDisk:/tmp/c.ogg");
  EXPECT_EQ(read.members[1].timeLine, 8000.25);
  EXPECT_EQ(read.members[1].duration, 0);
  EXPECT_TRUE(read.members[1].envelopes.empty());
  const std::vector<TReadEnvelope> mainEnvelopes = {{{0, 1000}, {12500, 0}}};
  EXPECT_EQ(read.mainEnvelopes, mainEnvelopes);
}

TEST(CompositeMusicText, WholeNumbersAreWrittenAsIntegers) {
  TCompositeMusicBuilder builder;
  builder.SetDuration(4000);
  builder.AddItem(u"a.mp3", 1500).duration = 2500;
  TIniFile document;
  const std::u16string text = builder.ToText();
  ASSERT_TRUE(TIni2Str::FromLine(std::u16string_view(text).substr(kCompositeMark.size()), document));
  EXPECT_EQ(document.ReadString(u"Main", u"Duration", u""), u"4000");
  EXPECT_EQ(document.ReadInteger(u"0", u"TimeLine", -1), 1500);
  EXPECT_EQ(document.ReadInteger(u"0", u"FadeCount", -1), 0);
  EXPECT_FALSE(document.SectionExists(u"MainVolume"));
}

TEST(CompositeMusicText, VolumeParamsBecomeOneEnvelope) {
  const struct {
    std::u16string_view text;
    double beginTime;
    TVolumeEnvelope points;
  } cases[] = {
      {u"44100:65536,88200:32768", 0, {{1000, 1000}, {2000, 500}}},
      {u"44100:65536,88200:32768", 500, {{500, 1000}, {1500, 500}}},
      // Times never repeat or run back: each is at least one past the one before.
      {u"44100:0, 44100:65536,22050:131072", 0, {{1000, 0}, {1001, 1000}, {1002, 2000}}},
      // Rounded to the nearest millisecond and thousandth.
      {u"22:65536,66:98", 0, {{0, 1000}, {1, 1}}},
      {u"x:1,44100,88200:y, 88200 : 65536 ", 0, {{2000, 1000}}},
      {u"", 0, {}},
  };
  for (const auto& c : cases)
    EXPECT_EQ(VolumeParamsEnvelope(c.text, c.beginTime), c.points) << Utf16ToUtf8(c.text);
}

} // namespace
} // namespace kiv

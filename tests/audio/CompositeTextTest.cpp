// Composite music texts: documents on one line, what a composite document says about its members and
// envelopes, joined texts, texts written and read back, and the description a composite gets.

#include "CompositeMusic.h"
#include "IniLineText.h"
#include "Utf8Conversion.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kiv {
namespace {

std::u16string Composite(const std::vector<std::u16string>& lines) {
  return std::u16string(kCompositeMark) + TIni2Str::JoinLines(lines);
}

TEST(CompositeText, OneLineTextsDoubleTheSlashAndMarkLineBreaks) {
  const std::vector<std::vector<std::u16string>> cases = {
      {u"a/b", u"", u"c//n"},
      {u"/n", u"//", u"/"},
      {u"plain"},
      {u"", u""},
  };
  for (const auto& lines : cases) {
    const std::u16string line = TIni2Str::JoinLines(lines);
    EXPECT_EQ(line.find(u'\n'), std::u16string::npos);
    EXPECT_EQ(TIni2Str::LinesOf(line), lines) << Utf16ToUtf8(line);
  }
  EXPECT_EQ(TIni2Str::JoinLines({u"a/b", u"c"}), u"a//b/nc");
  // A lone "/" before anything else stays.
  EXPECT_EQ(TIni2Str::LinesOf(u"a/xb/"), std::vector<std::u16string>{u"a/xb/"});
}

TEST(CompositeText, ADocumentReadsBackFromItsLine) {
  TIniStorage written;
  written.WriteString(u"Main", u"Duration", u"1500");
  written.WriteString(u"0", u"FileName", u"music/a b/c.mp3");
  const std::u16string line = TIni2Str::ToLine(written);
  TIniFile read;
  ASSERT_TRUE(TIni2Str::FromLine(line, read));
  EXPECT_EQ(read.ReadInteger(u"Main", u"Duration", 0), 1500);
  EXPECT_EQ(read.ReadString(u"0", u"FileName", u""), u"music/a b/c.mp3");
}

TEST(CompositeText, ANameIsACompositeWhenItBeginsWithTheMark) {
  const std::u16string text = Composite({u"[Main]", u"Duration=1"});
  EXPECT_TRUE(IsCompositeText(std::u16string_view(text)));
  EXPECT_TRUE(IsCompositeText(std::string_view(Utf16ToUtf8(text))));
  EXPECT_FALSE(IsCompositeText(std::u16string_view(u"music.mp3")));
  EXPECT_FALSE(IsCompositeText(std::string_view("9213AB40-17BB-458F-9C4C")));
  EXPECT_FALSE(IsCompositeText(std::string_view("x9213AB40-17BB-458F-9C4C-1806F44BEB65")));
}

TEST(CompositeText, ParseReadsMembersUpToTheFirstWithoutAFileName) {
  // clang-format off
  const std::u16string text = Composite({
      u"[Main]", u"Duration=20000",
      u"[0]", u"FileName=a.wav", u"TimeLine=0", u"BeginTime=250", u"Duration=5000",
      u"FadeCount=1", u"[Vol_0_0_0]", u"0=0", u"1=1000", u"[Vol_0_0_1]", u"0=4000", u"1=0",
      u"[1]", u"FileName=b.mp3", u"TimeLine=10000", u"BeginTime=-5", u"Duration=-3",
      u"FadeCount=2000000", u"[Vol_1_0_0]", u"0=0", u"1=10",
      u"[2]", u"FileName=",
      u"[3]", u"FileName=c.wav",
      u"[MainVolume]", u"FadeCount=1", u"[Vol_MainVolume_0_0]", u"0=19000", u"1=1000",
      u"[Vol_MainVolume_0_1]", u"0=20000", u"1=0",
  });
  // clang-format on
  TCompositeParams params;
  ASSERT_TRUE(params.Parse(text));
  EXPECT_EQ(params.duration, 20000);
  ASSERT_EQ(params.Count(), 2u) << "member 2 has an empty file name: 3 is not read";
  const TCompositeItem& a = params.Item(0);
  EXPECT_EQ(a.fileName, "a.wav");
  EXPECT_EQ(a.timeLine, 0);
  EXPECT_EQ(a.beginTime, 250);
  EXPECT_EQ(a.duration, 5000);
  ASSERT_EQ(a.volumes.Count(), 1u);
  EXPECT_EQ(a.volumes[0].Points().size(), 2u);
  const TCompositeItem& b = params.Item(1);
  EXPECT_EQ(b.timeLine, 10000);
  EXPECT_EQ(b.beginTime, 0) << "a negative begin time starts at the beginning";
  EXPECT_EQ(b.duration, 0) << "a negative duration plays to the end";
  EXPECT_EQ(b.volumes.Count(), 0u) << "FadeCount out of range: no envelopes";
  ASSERT_EQ(params.mainVolumes.Count(), 1u);
  EXPECT_EQ(params.mainVolumes[0].Points()[1].time, 20000);
}

TEST(CompositeText, ACompositeWithoutDurationOrMembersIsNotPlayable) {
  const std::vector<std::u16string> cases[] = {
      {u"[Main]", u"Duration=0", u"[0]", u"FileName=a.wav"},
      {u"[Main]", u"Duration=-100", u"[0]", u"FileName=a.wav"},
      {u"[Main]", u"Duration=1000", u"[1]", u"FileName=a.wav"},
      {u"[Main]", u"Duration=1000"},
  };
  for (const auto& lines : cases) {
    TCompositeParams params;
    EXPECT_FALSE(params.Parse(Composite(lines))) << Utf16ToUtf8(TIni2Str::JoinLines(lines));
  }
  TCompositeParams params;
  EXPECT_FALSE(params.Parse(std::u16string_view(u"[Main]/nDuration=100/n[0]/nFileName=a.wav"))) << "no mark";
}

TEST(CompositeText, JoinedTextsFollowOneAnotherAndTheLastMainEnvelopesCount) {
  const std::u16string first =
      Composite({u"[Main]", u"Duration=1000", u"[0]", u"FileName=a.wav", u"TimeLine=100", u"[MainVolume]",
                 u"FadeCount=1", u"[Vol_MainVolume_0_0]", u"0=0", u"1=100"});
  const std::u16string second = Composite(
      {u"[Main]", u"Duration=2000", u"[0]", u"FileName=b.wav", u"TimeLine=50", u"[1]", u"FileName=c.wav",
       u"TimeLine=1900", u"[MainVolume]", u"FadeCount=1", u"[Vol_MainVolume_0_0]", u"0=30", u"1=700"});
  const std::u16string third = Composite({u"[Main]", u"Duration=500", u"[0]", u"FileName=d.wav"});
  TCompositeParams params;
  ASSERT_TRUE(params.Parse(first + second + third));
  EXPECT_EQ(params.duration, 3500);
  ASSERT_EQ(params.Count(), 4u);
  const std::pair<std::string, int64_t> members[] = {
      {"a.wav", 100}, {"b.wav", 1050}, {"c.wav", 2900}, {"d.wav", 3000}};
  for (size_t i = 0; i < 4; ++i) {
    EXPECT_EQ(params.Item(i).fileName, members[i].first);
    EXPECT_EQ(params.Item(i).timeLine, members[i].second) << members[i].first;
  }
  ASSERT_EQ(params.mainVolumes.Count(), 1u);
  EXPECT_EQ(params.mainVolumes[0].Points()[0].time, 30) << "not shifted";
  EXPECT_EQ(params.mainVolumes[0].Points()[0].volume, 700);
}

TEST(CompositeText, AWrittenCompositeParsesBack) {
  TCompositeParams written;
  written.duration = 12345;
  TCompositeItem& a = written.AddItem("dir/a/b.wav", 100);
  a.beginTime = 20;
  a.duration = 3000;
  a.volumes.Add().AddPoint(0, 1000);
  a.volumes[0].AddPoint(3000, 0);
  TCompositeItem& b = written.AddItem("Stücke/ü.mp3", 9000);
  b.volumes.Add().AddPoint(10, 500);
  b.volumes.Add().AddPoint(20, 250);
  written.AddMainEnvelope().AddPoint(12000, 0);
  const std::u16string text = written.ToText();
  ASSERT_TRUE(IsCompositeText(std::u16string_view(text)));
  TCompositeParams read;
  ASSERT_TRUE(read.Parse(text));
  EXPECT_EQ(read.duration, 12345);
  ASSERT_EQ(read.Count(), 2u);
  EXPECT_EQ(read.Item(0).fileName, "dir/a/b.wav");
  EXPECT_EQ(read.Item(0).beginTime, 20);
  EXPECT_EQ(read.Item(0).duration, 3000);
  ASSERT_EQ(read.Item(0).volumes.Count(), 1u);
  EXPECT_EQ(read.Item(0).volumes[0].Points()[1].time, 3000);
  EXPECT_EQ(read.Item(1).fileName, "Stücke/ü.mp3");
  EXPECT_EQ(read.Item(1).timeLine, 9000);
  ASSERT_EQ(read.Item(1).volumes.Count(), 2u);
  EXPECT_EQ(read.Item(1).volumes[1].Points()[0].volume, 250);
  ASSERT_EQ(read.mainVolumes.Count(), 1u);
  EXPECT_EQ(read.mainVolumes[0].Points()[0].time, 12000);
  // The UTF-8 form of the text parses the same.
  TCompositeParams fromUtf8;
  ASSERT_TRUE(fromUtf8.Parse(std::string_view(Utf16ToUtf8(text))));
  EXPECT_EQ(fromUtf8.Item(1).fileName, "Stücke/ü.mp3");
}

TEST(CompositeText, ACompositeIsDescribedAsTypeNineInTheStandardFormat) {
  TCompositeParams params;
  ASSERT_TRUE(params.Parse(Composite({u"[Main]", u"Duration=2500", u"[0]", u"FileName=a.wav"})));
  TMediaInfo info;
  info.dataOffset = 77;
  params.Describe(info);
  EXPECT_EQ(info.type, TMediaType::Composite);
  EXPECT_EQ(info.duration, 2500u);
  EXPECT_EQ(info.waveFormat, StandardWaveFormat());
  EXPECT_EQ(info.dataOffset, 0u);
}

} // namespace
} // namespace kiv

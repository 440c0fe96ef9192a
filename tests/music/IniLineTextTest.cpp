// A description document on one line: no line break survives in the text, every line comes back as it
// was, and composite texts are told apart by their mark.

#include "MusicTestSupport.h"

#include <gtest/gtest.h>

namespace kiv {
namespace {

using namespace kiv::test;

std::vector<std::u16string> LinesOfDocument(const TIniStorage& document) {
  std::vector<std::u16string> lines;
  EXPECT_TRUE(document.SaveToStrings(lines));
  return lines;
}

TEST(IniLineText, ADocumentComesBackLineForLine) {
  const auto document = Document("; a comment with / and //\r\n"
                                 "[Main]\r\n"
                                 "Duration = 1500  \r\n"
                                 "\r\n"
                                 "[0]\r\n"
                                 "FileName=music/n.mp3\r\n"
                                 "Other=a//b/\r\n"
                                 "  object Clip: TMusicItem\r\n"
                                 "    Path=C:\\music\\x.ogg\r\n"
                                 "  end\r\n"
                                 "[Vol_0_0_0]\r\n"
                                 "0=0\r\n");
  const std::u16string line = TIni2Str::ToLine(*document);
  EXPECT_EQ(line.find(u'\r'), std::u16string::npos);
  EXPECT_EQ(line.find(u'\n'), std::u16string::npos);

  TIniFile back;
  ASSERT_TRUE(TIni2Str::FromLine(line, back));
  EXPECT_EQ(LinesOfDocument(back), LinesOfDocument(*document));
  EXPECT_EQ(back.ReadString(u"0", u"FileName", u""), u"music/n.mp3");
  EXPECT_EQ(back.ReadString(u"0", u"Other", u""), u"a//b/");
  EXPECT_EQ(back.ReadInteger(u"Main", u"Duration", 0), 1500);
  ASSERT_NE(back.FindSection(u"0")->FirstObject(), nullptr);
  EXPECT_EQ(back.FindSection(u"0")->FirstObject()->ReadString(u"Path", u""), u"C:\\music\\x.ogg");
}

TEST(IniLineText, EscapesSplitIntoLines) {
  const struct {
    std::u16string_view text;
    std::vector<std::u16string> lines;
  } cases[] = {
      {u"", {u""}},         {u"a/nb", {u"a", u"b"}},    {u"a//nb", {u"a/nb"}}, {u"a///nb", {u"a/", u"b"}},
      {u"a/x/", {u"a/x/"}}, {u"/n/n", {u"", u"", u""}}, {u"////", {u"//"}},
  };
  for (const auto& c : cases)
    EXPECT_EQ(TIni2Str::LinesOf(c.text), c.lines) << Utf16ToUtf8(c.text);
}

TEST(IniLineText, CompositeTextsAreFoundByTheirMark) {
  TIniStorage first;
  first.WriteString(u"Main", u"Duration", u"1000");
  TIniStorage second;
  second.WriteString(u"Main", u"Duration", u"2000");
  const std::u16string a = CompositeTextOf(first);
  const std::u16string b = CompositeTextOf(second);
  EXPECT_TRUE(IsCompositeText(a));
  EXPECT_FALSE(IsCompositeText(u"music.mp3"));
  EXPECT_FALSE(IsCompositeText(kCompositeMark.substr(0, 35)));

  const std::u16string joined = a + b;
  const std::vector<std::u16string_view> parts = SplitCompositeTexts(joined);
  ASSERT_EQ(parts.size(), 2u);
  TIniFile back;
  ASSERT_TRUE(TIni2Str::FromLine(parts[1], back));
  EXPECT_EQ(back.ReadInteger(u"Main", u"Duration", 0), 2000);
  EXPECT_TRUE(SplitCompositeTexts(u"x" + a).empty());
}

} // namespace
} // namespace kiv

#include "CaseFolding.h"
#include "NameHashList.h"

#include <gtest/gtest.h>

namespace kiv {
namespace {

TEST(CaseFolding, FoldsAsciiAndBeyond) {
  struct Case {
    char16_t in, out;
  } cases[] = {
      {u'A', u'a'}, {u'z', u'z'}, {u'[', u'['}, {u'\u00C4', u'\u00E4'}, {u'\u00DF', u'\u00DF'},
      {u'\u0100', u'\u0101'}, {u'\u0101', u'\u0101'}, {u'\u0391', u'\u03B1'}, {u'\u03C2', u'\u03C3'},
      {u'\u0416', u'\u0436'}, {u'\u00B5', u'\u03BC'}, {u'\uFF21', u'\uFF41'}, {char16_t(0xD801), char16_t(0xD801)},
  };
  for (const Case& c : cases) EXPECT_EQ(FoldCase(c.in), c.out) << std::hex << int(c.in);
}

TEST(CaseFolding, SameTextIgnoresCase) {
  EXPECT_TRUE(SameText(u"Project.KIV", u"project.kiv"));
  EXPECT_TRUE(SameText(u"\u00C9T\u00C9", u"\u00E9t\u00E9"));
  EXPECT_FALSE(SameText(u"abc", u"abd"));
  EXPECT_FALSE(SameText(u"abc", u"ab"));
}

TEST(ElfHash, MatchesTheClassicDefinition) {
  EXPECT_EQ(ElfHash(u""), 0u);
  EXPECT_EQ(ElfHash(u"a"), 0x61u);
  EXPECT_EQ(ElfHash(u"ab"), 0x672u);
  // Long names exercise the high-nibble fold; the value is the well-known PJW hash of the ASCII text.
  EXPECT_EQ(ElfHash(u"opt_scr_fullfixedsize"), [] {
    uint32_t h = 0;
    for (char c : std::string("opt_scr_fullfixedsize")) {
      h = (h << 4) + static_cast<uint8_t>(c);
      uint32_t g = h & 0xF0000000u;
      if (g) h ^= g >> 24;
      h &= ~g;
    }
    return h;
  }());
  // Only the low byte of each code unit counts.
  EXPECT_EQ(ElfHash(u"\u0141"), ElfHash(u"A"));
}

} // namespace
} // namespace kiv

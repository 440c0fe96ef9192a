#include "Utf8Conversion.h"

#include <gtest/gtest.h>

namespace kiv {
namespace {

TEST(UTF8, RoundTripsAllPlanes) {
  std::u16string text = u"a\u00E9\u20AC\U0001F600z";
  EXPECT_EQ(Utf8ToUtf16(Utf16ToUtf8(text)), text);
  EXPECT_EQ(Utf16ToUtf8(u"\u00E9"), "\xC3\xA9");
}

TEST(UTF8, MalformedInput) {
  std::u16string out;
  for (std::string bad : {"\x80", "\xC3", "\xC0\xAF", "\xED\xA0\x80", "\xF5\x80\x80\x80"}) {
    EXPECT_FALSE(TryUtf8ToUtf16(bad, out)) << bad;
    EXPECT_EQ(Utf8ToUtf16(bad).front(), u'\uFFFD');
  }
}

TEST(UTF8, UnpairedSurrogateIsWrittenInItsOwnForm) {
  EXPECT_EQ(Utf16ToUtf8(std::u16string(1, char16_t(0xD800))), "\xED\xA0\x80");
}

} // namespace
} // namespace kiv

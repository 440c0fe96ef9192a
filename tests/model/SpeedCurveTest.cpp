// Speed curve text: reading, writing and the reset on malformed values.
#include "KeyPoints.h"
#include "Utf8Conversion.h"

#include <gtest/gtest.h>

namespace {

using namespace kiv;

std::u16string U(std::string_view text) {
  return Utf8ToUtf16(text);
}

TEST(SpeedCurve, ReadsWellFormedText) {
  const struct {
    const char* text;
    std::vector<int32_t> keyTimes;
    std::vector<TInterval> intervals;
    double d0, d1;
  } cases[] = {
      {"1;0;0;0;1;", {0}, {}, 0, 1},
      {"2;0;1000;1;0;1;0;1;0;1;", {0, 1000}, {{0, 1, 0, 1}}, 0, 1},
      {"3;0;500;1000;1;0;2;0.25;0.75;", {0, 500, 1000}, {{0, 2, 0.25, 0.75}}, 0, 1},
      {" 2 ; 0 ; 10 ; 1 ; 0 ; 1 ; .5 ; 0.5 ; 0.2 ; 0.8 ; ", {0, 10}, {{0, 1, 0.5, 0.5}}, 0.2, 0.8},
      {"0;0;", {}, {}, 0, 1},
      // Equal first and last index with more than one key time: dropped.
      {"2;0;10;2;1;1;0.5;0.5;0;1;0.1;0.9;", {0, 10}, {{0, 1, 0.1, 0.9}}, 0, 1},
      // With a single key time it stays.
      {"1;0;1;0;0;0.5;0.5;", {0}, {{0, 0, 0.5, 0.5}}, 0, 1},
  };
  for (const auto& c : cases) {
    TSpeedStorage curve;
    EXPECT_TRUE(curve.LoadFromText(U(c.text))) << c.text;
    EXPECT_EQ(curve.KeyTimes(), c.keyTimes) << c.text;
    EXPECT_EQ(curve.Intervals(), c.intervals) << c.text;
    EXPECT_EQ(curve.DefaultFrom(), c.d0) << c.text;
    EXPECT_EQ(curve.DefaultTo(), c.d1) << c.text;
  }
}

TEST(SpeedCurve, MalformedTextResetsTheCurve) {
  const char* cases[] = {
      "abc",                  // not numbers
      "",                     // nothing
      "2;0;1000;1;0;1;0;1",   // last field without ";"
      "2;0;1000;1;0;1;0;1;x", // trailing text
      "10001;",               // count above 10000
      "-1;0;",                // negative count
      "2;0;1000;",            // no interval count
      "2;0;1000;1;0;1;0;",    // interval cut short
      "1;0;0;0;",             // a single default value
      "1;0;0;0;1;2;",         // more than the default pair
      "1;0.5;0;",             // key times are integers
      "1;0;1;0;0;a;1;",       // fraction not a number
      "1;0;0;0,5;1;",         // comma is no decimal separator
  };
  for (const char* text : cases) {
    TSpeedStorage curve;
    curve.LoadFromText(U("2;0;1000;1;0;1;0.25;0.75;"));
    EXPECT_FALSE(curve.LoadFromText(U(text))) << text;
    EXPECT_EQ(curve.KeyTimes(), (std::vector<int32_t>{0})) << text;
    EXPECT_TRUE(curve.Intervals().empty()) << text;
    EXPECT_EQ(curve.DefaultFrom(), 0) << text;
    EXPECT_EQ(curve.DefaultTo(), 1) << text;
  }
}

TEST(SpeedCurve, WrittenTextReadsBackTheSame) {
  TSpeedStorage curve;
  ASSERT_TRUE(curve.LoadFromText(U("3;-20;500;1000;2;0;1;0.25;0.75;1;2;0.1;1;")));
  const std::u16string text = curve.SaveToText();
  EXPECT_EQ(Utf16ToUtf8(text), "3;-20;500;1000;2;0;1;0.25;0.75;1;2;0.1;1;0;1;");
  TSpeedStorage copy;
  ASSERT_TRUE(copy.LoadFromText(text));
  EXPECT_EQ(copy.KeyTimes(), curve.KeyTimes());
  EXPECT_EQ(copy.Intervals(), curve.Intervals());
}

TEST(SpeedCurve, TellsItsOwnerAboutChanges) {
  TSpeedStorage curve;
  int calls = 0;
  curve.SetOnChange([&] { ++calls; });
  curve.AddInterval({0, 1, 0.5, 0.5});
  curve.LoadFromText(U("nonsense"));
  curve.SetKeyTimes({1, 2});
  EXPECT_EQ(calls, 3);
}

} // namespace

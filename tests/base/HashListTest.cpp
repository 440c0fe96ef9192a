#include "CaseFolding.h"
#include "NameHashList.h"
#include "Utf8Conversion.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace kiv {
namespace {

std::u16string Name(int i) {
  return u"Pictures/Image" + Utf8ToUtf16(std::to_string(i)) + u".JPG";
}

TEST(HashList, LookupIgnoresLetterCase) {
  THashList<int> list;
  EXPECT_EQ(list.BucketCount(), kFileMapBuckets);
  list.Add(u"Pictures/Photo.JPG", 1);
  list.Add(u"\u00c4rger.png", 2); // non-ASCII folds too
  const struct {
    const char16_t* name;
    int expected; // 0: absent
  } cases[] = {
      {u"pictures/photo.jpg", 1},
      {u"PICTURES/PHOTO.JPG", 1},
      {u"\u00e4rger.PNG", 2},
      {u"Pictures/Photo.JP", 0},
      {u"", 0},
  };
  for (const auto& c : cases) {
    const int* found = list.FindFirst(c.name);
    if (c.expected == 0) {
      EXPECT_EQ(found, nullptr);
    } else {
      ASSERT_NE(found, nullptr);
      EXPECT_EQ(*found, c.expected);
    }
  }
  EXPECT_EQ(list.Count(), 2u);
}

TEST(HashList, ExactModeComparesAsWritten) {
  THashList<int> list(kFileMapBuckets, THashKeyMode::Exact);
  list.Add(u"filelog", 1);
  EXPECT_TRUE(list.Contains(u"filelog"));
  EXPECT_FALSE(list.Contains(u"FileLog"));
}

TEST(HashList, ValuesOfANameKeepTheirOrder) {
  THashList<std::u16string> list;
  list.Add(u"a.jpg", u"first");
  list.Add(u"B.jpg", u"other");
  list.Add(u"A.JPG", u"second");
  list.Add(u"a.jpg", u"third");
  const auto* values = list.Find(u"a.jpg");
  ASSERT_NE(values, nullptr);
  EXPECT_EQ(*values, (std::vector<std::u16string>{u"first", u"second", u"third"}));
  EXPECT_EQ(*list.FindFirst(u"A.jpg"), u"first");
  EXPECT_EQ(list.Count(), 2u);
}

TEST(HashList, RemoveTakesAllValuesOfTheName) {
  THashList<int> list;
  list.Add(u"x", 1);
  list.Add(u"X", 2);
  list.Add(u"y", 3);
  EXPECT_EQ(list.Remove(u"x"), 2u);
  EXPECT_FALSE(list.Contains(u"x"));
  EXPECT_EQ(list.Remove(u"x"), 0u);
  EXPECT_EQ(list.Count(), 1u);
  EXPECT_EQ(*list.FindFirst(u"y"), 3);
  list.Clear();
  EXPECT_TRUE(list.Empty());
  EXPECT_FALSE(list.Contains(u"y"));
}

TEST(HashList, RemoveIfKeepsTheRestInOrderAndDropsAnEmptyName) {
  THashList<int> list;
  for (int v : {1, 2, 3, 4})
    list.Add(u"k", v);
  EXPECT_EQ(list.RemoveIf(u"k", [](int v) { return v % 2 == 0; }), 2u);
  EXPECT_EQ(*list.Find(u"K"), (std::vector<int>{1, 3}));
  EXPECT_EQ(list.RemoveIf(u"missing", [](int) { return true; }), 0u);
  EXPECT_EQ(list.RemoveIf(u"k", [](int) { return true; }), 2u);
  EXPECT_FALSE(list.Contains(u"k"));
  EXPECT_TRUE(list.Empty());
}

TEST(HashList, ManyNamesSharingFewBucketsStayApart) {
  for (std::size_t buckets : {std::size_t{1}, std::size_t{7}, kFileMapBuckets, kImageCacheBuckets}) {
    SCOPED_TRACE(buckets);
    THashList<int> list(buckets);
    constexpr int kNames = 2000;
    for (int i = 0; i < kNames; ++i)
      list.Add(Name(i), i);
    EXPECT_EQ(list.Count(), static_cast<std::size_t>(kNames));
    for (int i = 0; i < kNames; i += 37) {
      ASSERT_NE(list.Find(Name(i)), nullptr);
      EXPECT_EQ(*list.Find(LowerCase(Name(i))), std::vector<int>{i});
    }
    for (int i = 0; i < kNames; i += 2)
      list.Remove(Name(i));
    EXPECT_EQ(list.Count(), static_cast<std::size_t>(kNames / 2));
    EXPECT_FALSE(list.Contains(Name(10)));
    EXPECT_TRUE(list.Contains(Name(11)));
    std::size_t visited = 0;
    list.ForEach([&](std::u16string_view key, const std::vector<int>& values) {
      EXPECT_EQ(key, LowerCase(Name(values.front())));
      ++visited;
    });
    EXPECT_EQ(visited, list.Count());
  }
}

TEST(HashList, HoldsMoveOnlyValuesAndSurvivesZeroBuckets) {
  THashList<std::unique_ptr<int>> list(0);
  EXPECT_EQ(list.BucketCount(), 1u);
  list.Add(u"p", std::make_unique<int>(7));
  ASSERT_NE(list.FindFirst(u"P"), nullptr);
  EXPECT_EQ(**list.FindFirst(u"P"), 7);
}

} // namespace
} // namespace kiv

// Play lists: items placed one after another, passes of a repeating list, and indexes past either end.

#include "PlayList.h"
#include "MusicTestSupport.h"

#include <gtest/gtest.h>

namespace kiv {
namespace {

using namespace kiv::test;

TEST(PlayList, ItemsFollowOneAnotherAndRepeatInPasses) {
  const auto list = TRef<TPlayList>::Make();
  list->Add(u"a.mp3", 3000);
  list->AddItem({u"b.mp3", 1000, 500}); // inside the first item: does not move the end
  list->Add(u"c.mp3", 2000);
  EXPECT_EQ(list->Count(), 3);
  EXPECT_EQ(list->TotalLength(), 5000);
  EXPECT_EQ(list->Item(2).start, 3000);

  const struct {
    bool repeat;
    int64_t index;
    std::u16string fileName;
    double start;
  } cases[] = {
      {false, 0, u"a.mp3", 0},
      {false, 2, u"c.mp3", 3000},
      {false, 3, u"", 0},
      {true, 3, u"a.mp3", 5000},
      {true, 5, u"c.mp3", 8000},
      {true, 301, u"b.mp3", 501000},
      {true, 3000000000, u"a.mp3", 5000.0 * 1000000000},
  };
  for (const auto& c : cases) {
    list->SetRepeat(c.repeat);
    const TMusicItemInfo item = list->Item(c.index);
    EXPECT_EQ(item.fileName, c.fileName) << c.index;
    EXPECT_EQ(item.start, c.start) << c.index;
  }
}

TEST(PlayList, EmptyAndZeroLengthListsNeverLoop) {
  const auto empty = TRef<TPlayList>::Make();
  empty->SetRepeat(true);
  EXPECT_EQ(empty->Item(7).fileName, u"");
  EXPECT_FALSE(empty->Repeat());

  // Every pass of a list of length 0 would start at the same time: a player walking it would never pass
  // its window.
  const auto silent = TRef<TPlayList>::Make();
  silent->Add(u"a.mp3", 0);
  silent->SetRepeat(true);
  EXPECT_FALSE(silent->Repeat());
  EXPECT_EQ(silent->Item(0).fileName, u"a.mp3");
  EXPECT_EQ(silent->Item(1).fileName, u"");
}

TEST(PlayList, ANegativeIndexIsAnAssertion) {
  const auto list = TRef<TPlayList>::Make();
  list->Add(u"a.mp3", 1000);
  EXPECT_NE(AssertionOf([&] { list->Item(-1); }).find("'Assertion failure'"), std::string::npos);
}

} // namespace
} // namespace kiv

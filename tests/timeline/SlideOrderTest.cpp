// The play order: file order without a random order, one shared random order per project and player, and
// the positions outside the list.

#include "TimelineTestUtil.h"

#include "ShowTimeline.h"
#include "SlideOrder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <thread>

namespace kiv {
namespace {

using namespace kiv::test;

std::string Project(const std::string& path, int count, bool random) {
  return "[main]\r\nProjectFilePath=" + path + "\r\nopt_slidescount=" + std::to_string(count) +
         "\r\nopt_random=" + (random ? "1" : "0") + "\r\n";
}

std::vector<int> Order(TSlideOrderRegistry& orders, const TIniStorage& document, int count) {
  std::vector<int> order;
  for (int p = 0; p < count; ++p)
    order.push_back(orders.GetSlideNumber(document, p));
  return order;
}

std::vector<int> Identity(int count) {
  std::vector<int> identity(static_cast<size_t>(count));
  std::iota(identity.begin(), identity.end(), 0);
  return identity;
}

TEST(SortRandomEntries, MovesTheLargestKeyToTheEndAndKeepsTheFirstFoundOfEqualKeys) {
  struct TCase {
    std::vector<int32_t> keys;
    std::vector<int> slides; // slide numbers after sorting
  };
  const TCase cases[] = {
      {{}, {}},
      {{5}, {0}},
      {{30, 10, 20}, {1, 2, 0}},
      // Scanning from the end, slide 2 is the first of the two largest: it goes last, slide 0 before it.
      {{7, 1, 7}, {1, 0, 2}},
      {{4, 4, 4}, {0, 1, 2}},
  };
  for (const TCase& c : cases) {
    std::vector<TSlideRandomEntry> entries;
    for (size_t i = 0; i < c.keys.size(); ++i)
      entries.push_back({static_cast<int>(i), c.keys[i]});
    SortRandomEntries(entries);
    std::vector<int> slides;
    for (const TSlideRandomEntry& e : entries)
      slides.push_back(e.slide);
    EXPECT_EQ(slides, c.slides) << ::testing::PrintToString(c.keys);
  }
}

TEST(SlideOrder, WithoutRandomOrderPositionsPlayTheirOwnSlide) {
  const auto registry = TRef<TSlideOrderRegistry>::Make();
  TSlideOrderRegistry& orders = *registry;
  const auto plain = Document(Project("/shows/plain.kiv", 3, false));
  const auto noPath = Document(Project("", 5, true)); // no project path: no list, even with opt_random
  EXPECT_EQ(orders.GetRandomList(*noPath), nullptr);
  for (const auto* document : {plain.get(), noPath.get()}) {
    EXPECT_EQ(Order(orders, *document, 5), (std::vector<int>{0, 1, 2, 3, 4}));
    EXPECT_EQ(orders.GetSlideSectionName(*document, 0), u"Slide1");
    EXPECT_EQ(orders.GetSlideSectionName(*document, 6), u"Slide7");
  }
}

TEST(SlideOrder, PositionsBeforeTheShowOrPastTheListNeverIndexIt) {
  const auto registry = TRef<TSlideOrderRegistry>::Make();
  TSlideOrderRegistry& orders = *registry;
  const auto document = Document(Project("/shows/outside.kiv", 4, true));
  const TSlideRandomList* list = orders.GetRandomList(*document);
  ASSERT_NE(list, nullptr);
  for (int p : {-1, -2147483647 - 1, 4, 5, 1000000, 2147483647}) {
    EXPECT_EQ(list->SlideAt(p), p);
    EXPECT_EQ(orders.GetSlideNumber(*document, p), p);
  }
  EXPECT_EQ(orders.GetSlideSectionName(*document, -1), u"Slide0");
  EXPECT_EQ(orders.GetSlideSectionName(*document, 2147483647), u"Slide2147483648");
  EXPECT_EQ(list->Count(), 4); // lookups far away allocate nothing
}

TEST(SlideOrder, ARandomOrderIsAPermutationSharedByEveryOpenOfTheProject) {
  const auto registry = TRef<TSlideOrderRegistry>::Make();
  TSlideOrderRegistry& orders = *registry;
  const auto first = Document(Project("/shows/random.kiv", 40, true));
  std::vector<int> order = Order(orders, *first, 40);
  std::vector<int> sorted = order;
  std::sort(sorted.begin(), sorted.end());
  std::vector<int> identity(40);
  std::iota(identity.begin(), identity.end(), 0);
  EXPECT_EQ(sorted, identity);
  EXPECT_NE(order, identity); // 1 in 40! that a fair shuffle leaves it as it was

  // A second open of the same project, even one that says otherwise, plays the order drawn first.
  const auto second = Document(Project("/shows/random.kiv", 3, false));
  EXPECT_EQ(orders.GetRandomList(*second), orders.GetRandomList(*first));
  EXPECT_EQ(Order(orders, *second, 40), order);
  // Letter case of the path counts: another file on this system.
  const auto other = Document(Project("/shows/RANDOM.kiv", 40, false));
  EXPECT_EQ(Order(orders, *other, 40), identity);
}

TEST(SlideOrder, SectionsAreFoundWhateverTheLetterCaseOfTheirHeader) {
  const auto registry = TRef<TSlideOrderRegistry>::Make();
  TSlideOrderRegistry& orders = *registry;
  const auto document = Document(Project("/shows/sections.kiv", 2, false) + "[slide2]\r\nx=1\r\n");
  EXPECT_NE(orders.GetSlideSection(*document, 1), nullptr);
  EXPECT_EQ(orders.GetSlideSection(*document, 0), nullptr);
}

TEST(SlideOrder, ThreadsEnteringAndReadingProjectsAgree) {
  const auto registry = TRef<TSlideOrderRegistry>::Make();
  TSlideOrderRegistry& orders = *registry;
  std::vector<std::unique_ptr<TIniFile>> documents;
  for (int i = 0; i < 8; ++i)
    documents.push_back(Document(Project("/shows/thread" + std::to_string(i) + ".kiv", 20, true)));
  std::vector<std::vector<int>> seen(8);
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t)
    threads.emplace_back([&, t] {
      for (int i = 0; i < 8; ++i)
        Order(orders, *documents[static_cast<size_t>((i + t) % 8)], 20);
      seen[static_cast<size_t>(t)] = Order(orders, *documents[static_cast<size_t>(t)], 20);
    });
  for (std::thread& thread : threads)
    thread.join();
  for (int t = 0; t < 8; ++t)
    EXPECT_EQ(seen[static_cast<size_t>(t)], Order(orders, *documents[static_cast<size_t>(t)], 20));
}

// Two players of one project draw their orders apart; the sources of one player (loader, engine, music)
// share its registry and so play one order, while a source given none draws its own.
TEST(SlideOrder, EachRegistryDrawsItsOwnOrderAndItsSourcesShareIt) {
  const std::string project = Project("/shows/players.kiv", 40, true) + "[Slide1]\r\n";
  const auto firstPlayer = TRef<TSlideOrderRegistry>::Make();
  const auto secondPlayer = TRef<TSlideOrderRegistry>::Make();
  const auto document = Document(project);
  const std::vector<int> first = Order(*firstPlayer, *document, 40);
  const std::vector<int> second = Order(*secondPlayer, *document, 40);
  EXPECT_NE(first, Identity(40));
  EXPECT_NE(second, first); // 1 in 40! that two fair shuffles agree
  EXPECT_NE(secondPlayer->GetRandomList(*document), firstPlayer->GetRandomList(*document));

  auto order = [](const TKivSource& source) {
    std::vector<int> slides;
    for (int p = 0; p < 40; ++p)
      slides.push_back(source.SlideNumberAt(p));
    return slides;
  };
  TKivSource loader(PlainAccessor(), Document(project), firstPlayer);
  TKivSource engine(PlainAccessor(), Document(project), firstPlayer);
  EXPECT_EQ(loader.SlideOrders().get(), firstPlayer.get());
  EXPECT_EQ(order(loader), first);
  EXPECT_EQ(order(engine), first);
  TKivSource alone(PlainAccessor(), Document(project));
  ASSERT_TRUE(alone.SlideOrders());
  EXPECT_NE(alone.SlideOrders().get(), firstPlayer.get());
  EXPECT_NE(order(alone), first);
}

} // namespace
} // namespace kiv

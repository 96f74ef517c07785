#include "engine/base/number_hash.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <random>
#include <utility>
#include <vector>

namespace tarn {
namespace {

struct TItem {
  std::int32_t Number = 0;
};

// The hash against a std::map under random inserts and erases of numbers
// from a small range, so that runs collide, wrap round the end of the table,
// and erasing shifts entries back across the wrap; the table grows on the way.
TEST(NumberHashTest, MatchesMapUnderRandomInsertAndErase) {
  struct TCase {
    std::int32_t Range;  // numbers 1..Range
    int Steps;
  };
  const TCase cases[] = {{8, 2000}, {64, 20000}, {5000, 40000}};
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Range);
    std::vector<TItem> items(static_cast<std::size_t>(c.Range) + 1);
    for (std::int32_t n = 1; n <= c.Range; ++n) items[static_cast<std::size_t>(n)].Number = n;
    TNumberHash<TItem> hash;
    std::map<std::int32_t, TItem*> model;
    std::mt19937 random(17);
    for (int step = 0; step < c.Steps; ++step) {
      const std::int32_t n = static_cast<std::int32_t>(random() % static_cast<unsigned>(c.Range)) + 1;
      if (model.count(n) != 0) {
        ASSERT_TRUE(hash.Erase(n));
        model.erase(n);
      } else {
        hash.Insert(n, &items[static_cast<std::size_t>(n)]);
        model[n] = &items[static_cast<std::size_t>(n)];
      }
      if (step % 97 == 0) {
        ASSERT_TRUE(hash.CheckInvariants());
      }
      const std::int32_t probe = static_cast<std::int32_t>(random() % static_cast<unsigned>(c.Range)) + 1;
      const auto it = model.find(probe);
      ASSERT_EQ(hash.Find(probe), it == model.end() ? nullptr : it->second);
    }
    ASSERT_TRUE(hash.CheckInvariants());
    ASSERT_EQ(hash.Size(), model.size());
    std::size_t seen = 0;
    hash.ForEach([&](std::int32_t n, TItem* item) {
      ++seen;
      EXPECT_EQ(item->Number, n);
      EXPECT_EQ(model.at(n), item);
    });
    EXPECT_EQ(seen, model.size());
  }
}

// Seven numbers in the first 16-slot table form probe runs; erasing every
// other one leaves the rest reachable.
TEST(NumberHashTest, RunsStayReachableAfterErase) {
  std::vector<TItem> items(40);
  TNumberHash<TItem> hash;
  for (std::int32_t n = 1; n <= 7; ++n) hash.Insert(n, &items[static_cast<std::size_t>(n)]);
  ASSERT_TRUE(hash.CheckInvariants());
  for (std::int32_t n = 1; n <= 7; n += 2) ASSERT_TRUE(hash.Erase(n));
  ASSERT_TRUE(hash.CheckInvariants());
  for (std::int32_t n = 1; n <= 7; ++n)
    EXPECT_EQ(hash.Find(n), n % 2 == 0 ? &items[static_cast<std::size_t>(n)] : nullptr) << n;
  EXPECT_FALSE(hash.Erase(1));
  EXPECT_EQ(hash.Size(), 3u);
}

TEST(NumberHashTest, EmptyAndClearedHashFindNothing) {
  TNumberHash<TItem> hash;
  TItem item;
  EXPECT_EQ(hash.Find(1), nullptr);
  EXPECT_FALSE(hash.Erase(1));
  EXPECT_EQ(hash.Find(0), nullptr);
  EXPECT_TRUE(hash.CheckInvariants());
  for (std::int32_t n = 1; n <= 100; ++n) hash.Insert(n * 1000, &item);
  hash.Clear();
  EXPECT_TRUE(hash.Empty());
  EXPECT_EQ(hash.Find(1000), nullptr);
  EXPECT_TRUE(hash.CheckInvariants());
  hash.Insert(1000, &item);
  EXPECT_EQ(hash.Find(1000), &item);
}

TEST(NumberHashTest, MovingHandsOverTheEntriesAndEmptiesTheSource) {
  TItem a, b;
  TNumberHash<TItem> first;
  TNumberHash<TItem> second;
  first.Insert(5, &a);
  second.Insert(9, &b);
  std::swap(first, second);
  EXPECT_EQ(first.Find(9), &b);
  EXPECT_EQ(first.Find(5), nullptr);
  EXPECT_EQ(second.Find(5), &a);
  TNumberHash<TItem> third(std::move(first));
  EXPECT_EQ(third.Find(9), &b);
  EXPECT_TRUE(first.Empty());  // NOLINT(bugprone-use-after-move): moved-from is defined empty
  EXPECT_EQ(first.Find(9), nullptr);
  EXPECT_TRUE(first.CheckInvariants());
  first.Insert(3, &a);  // usable again
  EXPECT_EQ(first.Find(3), &a);
}

}  // namespace
}  // namespace tarn

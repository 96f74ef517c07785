// The per-slot page cache and the pool of spare pages.

#include <gtest/gtest.h>

#include "engine/index/page_cache.h"

namespace tarn {
namespace {

std::unique_ptr<TPage> MakePage(std::int32_t no) {
  auto page = std::make_unique<TPage>();
  TIndexDescriptor d;
  d.KeySize = 4;
  page->Bind(no, 3, d);
  return page;
}

TEST(PageCache, FindsBySortedListAndKeepsRecentOrder) {
  TPageCache cache;
  cache.SetSlot(3);
  cache.SetRoom(8);
  for (std::int32_t no : {7, 2, 9, 4, 1}) cache.Insert(MakePage(no));
  ASSERT_TRUE(cache.CheckInvariants());
  std::vector<std::int32_t> order;
  for (const auto& p : cache.Pages()) order.push_back(p->PageNo());
  EXPECT_EQ(order, (std::vector<std::int32_t>{1, 2, 4, 7, 9}));
  EXPECT_EQ(cache.Find(5), nullptr);
  // Least recently used first: 7 (inserted first), unless pinned or dirty.
  EXPECT_EQ(cache.EvictionCandidate()->PageNo(), 7);
  ASSERT_NE(cache.Find(7), nullptr);  // now the most recent
  EXPECT_EQ(cache.EvictionCandidate()->PageNo(), 2);
  cache.Find(2)->Pin();
  cache.Find(9)->MarkDirty();
  EXPECT_EQ(cache.EvictionCandidate()->PageNo(), 4);
  auto removed = cache.Remove(cache.Find(4));
  EXPECT_EQ(removed->PageNo(), 4);
  EXPECT_EQ(cache.Size(), 4);
  EXPECT_TRUE(cache.CheckInvariants());
  cache.Drain([](std::unique_ptr<TPage>) {});
  EXPECT_EQ(cache.Size(), 0);
  EXPECT_TRUE(cache.CheckInvariants());
}

TEST(PageCache, SwappedContentsTakeTheSlotOfTheirNewCache) {
  TPageCache a, b;
  a.SetSlot(3);
  b.SetSlot(4);
  a.Insert(MakePage(10));
  a.SwapContents(b);
  EXPECT_EQ(a.Size(), 0);
  ASSERT_EQ(b.Size(), 1);
  EXPECT_EQ(b.Pages()[0]->Slot(), 4);
  EXPECT_TRUE(a.CheckInvariants());
  EXPECT_TRUE(b.CheckInvariants());
}

TEST(PageStack, KeepsAtMostFourClearedSpares) {
  TPageStack stack;
  for (int i = 0; i < 6; ++i) {
    auto page = MakePage(i + 1);
    page->MarkDirty();
    stack.Give(std::move(page));
  }
  EXPECT_EQ(stack.SpareCount(), 4u);
  auto spare = stack.Take();
  EXPECT_FALSE(spare->Dirty());
  EXPECT_EQ(spare->EntryCount(), 0);
  EXPECT_EQ(stack.SpareCount(), 3u);
}

}  // namespace
}  // namespace tarn

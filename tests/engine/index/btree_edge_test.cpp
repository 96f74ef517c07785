// Edge cases of the B+-tree: root pages, split, merge and redistribution sizes,
// compressed leaves, root collapse, stale reads and damaged trees.

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <functional>
#include <numeric>
#include <random>

#include "index_test_fakes.h"

namespace tarn::testing {
namespace {

// One 8-byte unique index (leaf capacity 340, interior 255) in a fresh file.
struct TTreeHarness {
  void Make(TKeyCompression compression, std::int32_t bufferSize = 1 << 20) {
    Fix.Owner.BufferSize = bufferSize;
    Slot = Fix.File->AddIndexDescriptor(MakeIndexDef("ByKey", 8, true, compression));
    Ctx = std::make_unique<TTestContext>(Slot);
  }
  TBTree Tree() { return TBTree(*Fix.File); }
  void Add(std::uint64_t n) { Tree().AddKey(*Ctx, IntKey(n).data(), static_cast<std::int32_t>(n)); }
  void Remove(std::uint64_t n) { Tree().RemoveKey(*Ctx, IntKey(n).data()); }
  std::int32_t Root() const { return Fix.File->Descriptor(Slot).RootPage; }
  TPagePin Page(std::int32_t no) { return Fix.File->GetPage(*Ctx, no); }
  // Entry counts of the root's children, left to right.
  std::vector<int> ChildSizes() {
    std::vector<int> sizes;
    TPagePin root = Page(Root());
    for (int i = 1; i <= root->EntryCount(); ++i) sizes.push_back(Page(root->Ref(i))->EntryCount());
    return sizes;
  }
  void ExpectSound() {
    const TTreeCheck check = Tree().Check(*Ctx);
    EXPECT_TRUE(check.Ok) << check.Error;
    EXPECT_TRUE(NothingPinned(*Fix.File));
  }

  TIndexFixture Fix;
  int Slot = 0;
  std::unique_ptr<TTestContext> Ctx;
};

class BTreeEdgeTest : public ::testing::Test, public TTreeHarness {};

TEST_F(BTreeEdgeTest, FirstKeyMakesRootLeafAndTheFreedRootIsReused) {
  Make(TKeyCompression::None);
  Add(1);
  const std::int32_t root = Root();
  ASSERT_NE(root, 0);
  EXPECT_EQ(Page(root)->Type(), TPageType::RootLeaf);
  EXPECT_EQ(Page(root)->EntryCount(), 1);
  const std::int32_t next = Fix.File->NextPageNumber();

  Remove(1);
  EXPECT_EQ(Root(), 0);
  EXPECT_EQ(Fix.File->Descriptor(Slot).FreePageList, root);

  Add(2);
  EXPECT_EQ(Root(), root);
  EXPECT_EQ(Fix.File->Descriptor(Slot).FreePageList, 0);
  EXPECT_EQ(Fix.File->NextPageNumber(), next);
  EXPECT_EQ(Page(root)->Type(), TPageType::RootLeaf);
  ExpectSound();
}

TEST_F(BTreeEdgeTest, RootSplitKeepsTheLargerHalfOnTheLeft) {
  Make(TKeyCompression::None);
  std::vector<std::uint64_t> keys(341);
  std::iota(keys.begin(), keys.end(), 1);
  std::shuffle(keys.begin(), keys.end(), std::mt19937(7));
  for (std::size_t i = 0; i < 340; ++i) Add(keys[i]);
  EXPECT_EQ(Page(Root())->Type(), TPageType::RootLeaf);
  Add(keys[340]);  // n = MaxEntries + 1 = 341
  TPagePin root = Page(Root());
  ASSERT_EQ(root->Type(), TPageType::RootInterior);
  ASSERT_EQ(root->EntryCount(), 2);
  EXPECT_EQ(ChildSizes(), (std::vector<int>{171, 170}));
  EXPECT_EQ(root->Count(1) + root->Count(2), 341);
  EXPECT_EQ(Page(root->Ref(1))->Type(), TPageType::Leaf);
  root.Release();
  ExpectSound();
}

// Keys 1..341 after the root split: left leaf 1..171, right leaf 172..341.
struct TUnderflowCase {
  const char* Name;
  std::vector<std::uint64_t> Added;    // after the split
  std::vector<std::uint64_t> Removed;
  std::vector<int> Sizes;              // children of the root; empty = root collapsed
  int RootLeafSize;                    // entries of the collapsed root leaf
  std::uint64_t SecondFirstKey;        // first key of the right child (when two remain)
};

TEST_F(BTreeEdgeTest, UnderflowMergesOrRedistributes) {
  const TUnderflowCase cases[] = {
      {"left neighbour shares", {}, {341}, {170, 170}, 0, 171},
      {"left neighbour merges, root collapses", {}, {341, 340}, {}, 339, 0},
      {"right neighbour merges, root collapses", {}, {1, 2}, {}, 339, 0},
      {"right neighbour shares", {342}, {1, 2}, {170, 170}, 0, 173},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    TTreeHarness fresh;
    fresh.Make(TKeyCompression::None);
    for (std::uint64_t k = 1; k <= 341; ++k) fresh.Add(k);
    for (auto k : c.Added) fresh.Add(k);
    for (auto k : c.Removed) fresh.Remove(k);
    if (c.Sizes.empty()) {
      TPagePin root = fresh.Page(fresh.Root());
      EXPECT_EQ(root->Type(), TPageType::RootLeaf);
      EXPECT_EQ(root->EntryCount(), c.RootLeafSize);
      EXPECT_EQ(root->PrevPage(), 0);
      EXPECT_EQ(root->NextPage(), 0);
      // The two pages given up (a leaf and the old root) are on the free list.
      root.Release();
      EXPECT_EQ(fresh.Tree().Check(*fresh.Ctx).FreePages.size(), 2u);
    } else {
      EXPECT_EQ(fresh.ChildSizes(), c.Sizes);
      TPagePin root = fresh.Page(fresh.Root());
      EXPECT_EQ(0, std::memcmp(root->Key(2), IntKey(c.SecondFirstKey).data(), 8));
      EXPECT_EQ(root->Count(1), c.Sizes[0]);
      EXPECT_EQ(root->Count(2), c.Sizes[1]);
    }
    fresh.ExpectSound();
  }
}

TEST_F(BTreeEdgeTest, CompressedLeafNeverMergesAndGoesOnlyWhenEmpty) {
  Make(TKeyCompression::Full);
  std::uint64_t n = 1;
  Add(n << 20);
  while (Page(Root())->IsLeaf()) Add(++n << 20);
  ASSERT_EQ(ChildSizes().size(), 2u);
  const int rightSize = ChildSizes()[1];
  // Empty the right leaf down to one entry: no merge, no redistribution.
  for (int i = 0; i < rightSize - 1; ++i) Remove(n-- << 20);
  EXPECT_EQ(ChildSizes().size(), 2u);
  EXPECT_EQ(ChildSizes()[1], 1);
  ExpectSound();
  // Its last entry: the leaf goes and the root collapses onto the left leaf.
  Remove(n-- << 20);
  EXPECT_EQ(Page(Root())->Type(), TPageType::RootLeaf);
  EXPECT_EQ(Page(Root())->EntryCount(), static_cast<int>(n));
  ExpectSound();
}

// FULL compression, unique 260-byte keys: "small" keys pack to 11 bytes (12 as
// a page's first entry), "medium" keys to 256 (257). A plain halving of an
// overflowing leaf can leave one half above 4083 bytes; entries then move over.
TEST(BTreeCompressedSplit, HalvesThatDoNotFitGiveEntriesToTheOtherPage) {
  auto small = [](int i) {
    std::vector<std::uint8_t> k(260, 0);
    k[0] = 0x10;
    k[1] = static_cast<std::uint8_t>(i);
    return k;
  };
  auto medium = [](std::uint8_t lead, int j) {
    std::vector<std::uint8_t> k(260, 0);
    k[0] = lead;
    k[1] = static_cast<std::uint8_t>(j);
    std::fill(k.begin() + 2, k.begin() + 251, std::uint8_t{0xAA});
    return k;
  };
  struct TCase {
    const char* Name;
    int Smalls;
    std::uint8_t MediumLead;  // 0x20 sorts after the small keys, 0x05 before
    int Mediums;
    std::vector<int> Sizes;
  } cases[] = {
      // 17 small + 16 medium: the right half (16 medium, 4097 bytes) gives one back.
      {"right half too big", 17, 0x20, 16, {18, 15}},
      // 16 medium + 16 small: the left half (16 medium, 4097 bytes) gives one away.
      {"left half too big", 16, 0x05, 16, {15, 17}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    TIndexFixture fix;
    const int slot = fix.File->AddIndexDescriptor(MakeIndexDef("Packed", 260, true, TKeyCompression::Full));
    TTestContext ctx(slot);
    TBTree tree(*fix.File);
    std::int32_t ref = 0;
    for (int i = 1; i <= c.Smalls; ++i) tree.AddKey(ctx, small(i).data(), ++ref);
    for (int j = 1; j <= c.Mediums; ++j) {
      tree.AddKey(ctx, medium(c.MediumLead, j).data(), ++ref);
      if (j < c.Mediums) {
        TPagePin root = fix.File->GetPage(ctx, fix.File->Descriptor(slot).RootPage);
        ASSERT_TRUE(root->IsLeaf()) << "split too early at medium key " << j;
      }
    }
    TPagePin root = fix.File->GetPage(ctx, fix.File->Descriptor(slot).RootPage);
    ASSERT_EQ(root->Type(), TPageType::RootInterior);
    std::vector<int> sizes;
    for (int i = 1; i <= root->EntryCount(); ++i) {
      TPagePin child = fix.File->GetPage(ctx, root->Ref(i));
      EXPECT_LE(child->PackedSize(), 4083);
      sizes.push_back(child->EntryCount());
    }
    EXPECT_EQ(sizes, c.Sizes);
    root.Release();
    const TTreeCheck check = tree.Check(ctx);
    EXPECT_TRUE(check.Ok) << check.Error;
    EXPECT_EQ(check.KeyCount, c.Smalls + c.Mediums);
  }
}

TEST_F(BTreeEdgeTest, LogicalPositionsRunFromOneToTheRootCount) {
  Make(TKeyCompression::None, 16384);
  for (std::uint64_t k = 1; k <= 3000; ++k) Add(k * 3);
  const std::int64_t total = Tree().KeyCount(*Ctx);
  EXPECT_EQ(total, 3000);
  EXPECT_EQ(Tree().FindKey(*Ctx, IntKey(3).data()).SeqNo, 1);
  EXPECT_EQ(Tree().FindKey(*Ctx, IntKey(9000).data()).SeqNo, total);
  const TKeyPosition between = Tree().FindKey(*Ctx, IntKey(1000).data(), true);
  EXPECT_FALSE(between.Found);
  EXPECT_EQ(between.SeqNo, 334);  // 1002 is the 334th key
  const TKeyPosition before = Tree().FindKey(*Ctx, IntKey(1000).data(), false);
  EXPECT_EQ(before.SeqNo, 333);
  EXPECT_TRUE(NothingPinned(*Fix.File));
}

TEST_F(BTreeEdgeTest, StaleReadsRestartFromTheRoot) {
  Make(TKeyCompression::None, 16384);  // two pages per slot: most reads miss
  for (std::uint64_t k = 1; k <= 2000; ++k) Add(k * 2);
  struct TOp {
    const char* Name;
    std::function<void(TTreeHarness&)> Run;
  } ops[] = {
      {"find", [](TTreeHarness& t) { EXPECT_TRUE(t.Tree().FindKey(*t.Ctx, IntKey(1000).data()).Found); }},
      {"add", [](TTreeHarness& t) { t.Add(1001); }},
      {"remove", [](TTreeHarness& t) { t.Remove(1002); }},
  };
  for (const auto& op : ops) {
    SCOPED_TRACE(op.Name);
    Fix.File->FlushPages(false);
    Fix.File->DiscardPages(false);
    int answers = 0;
    Ctx->Checks = 0;
    Ctx->OnCheck = [&] { return answers++ < 2; };  // the first two reads are void
    op.Run(*this);
    Ctx->OnCheck = nullptr;
    EXPECT_GE(Ctx->Checks, 3);
    EXPECT_TRUE(NothingPinned(*Fix.File));
  }
  const TTreeCheck check = Tree().Check(*Ctx);
  EXPECT_TRUE(check.Ok) << check.Error;
  EXPECT_EQ(check.KeyCount, 2000);
}

TEST_F(BTreeEdgeTest, StrictChangeDetectionSkipsTheCheckOnMisses) {
  Make(TKeyCompression::None, 16384);
  for (std::uint64_t k = 1; k <= 1000; ++k) Add(k);
  Fix.File->FlushPages(false);
  Fix.File->DiscardPages(false);
  Fix.Owner.Strict = true;
  Ctx->Checks = 0;
  EXPECT_TRUE(Tree().KeyExists(*Ctx, IntKey(500).data()));
  EXPECT_EQ(Ctx->Checks, 0);
}

TEST_F(BTreeEdgeTest, MissingKeysAndDamagedTreesRaiseIndexCorrupt) {
  Make(TKeyCompression::None);
  EXPECT_EQ(CodeOf([&] { Remove(5); }), TARN_INDEXCORRUPT);  // empty index
  for (std::uint64_t k = 1; k <= 1000; ++k) Add(k * 2);
  EXPECT_EQ(CodeOf([&] { Remove(5); }), TARN_INDEXCORRUPT);
  ExpectSound();  // counts untouched by the failed removal
  EXPECT_EQ(Tree().KeyCount(*Ctx), 1000);
}

TEST_F(BTreeEdgeTest, DescentDeeperThan64LevelsIsIndexCorrupt) {
  Make(TKeyCompression::None);
  const std::vector<std::uint8_t> key = IntKey(0);
  std::int32_t rootNo = 0, loopNo = 0;
  {
    TPagePin root = Fix.File->AllocPage(*Ctx);
    TPagePin loop = Fix.File->AllocPage(*Ctx);
    rootNo = root->PageNo();
    loopNo = loop->PageNo();
    root->SetType(TPageType::RootInterior);
    root->InsertEntry(0, key.data(), loopNo, 1);
    loop->SetType(TPageType::Interior);
    loop->InsertEntry(0, key.data(), loopNo, 1);  // its only child is itself
  }
  Fix.File->SetRootPage(Slot, rootNo);
  EXPECT_EQ(CodeOf([&] { Tree().FindKey(*Ctx, key.data()); }), TARN_INDEXCORRUPT);
  EXPECT_EQ(CodeOf([&] { Add(7); }), TARN_INDEXCORRUPT);
  EXPECT_EQ(CodeOf([&] { Remove(0); }), TARN_INDEXCORRUPT);
  EXPECT_TRUE(NothingPinned(*Fix.File));
}

// ---- pages damaged on disk ----

// Writes one byte of the index file while it is closed, and opens it again.
void PatchClosed(TTreeHarness& h, std::int64_t at, std::initializer_list<std::uint8_t> bytes) {
  h.Fix.Reopen();
  h.Fix.File->CloseFile();
  {
    std::fstream io(h.Fix.FileName(), std::ios::binary | std::ios::in | std::ios::out);
    io.seekp(static_cast<std::streamoff>(at));
    for (std::uint8_t b : bytes) io.put(static_cast<char>(b));
  }
  h.Fix.File->OpenFile();
}

std::int64_t PageAt(std::int32_t pageNo) { return static_cast<std::int64_t>(pageNo) * 4096; }

// Whatever a page read from disk holds, a tree operation ends in 8965 with
// every page given back: never an assert, never a silent write through a
// link that leads elsewhere.
TEST(BTreeDamagedPages, DamagedPagesAreIndexCorrupt) {
  std::uint64_t lastKey = 0;  // the one key left in the damaged leaf
  struct TCase {
    const char* Name;
    std::function<void(TTreeHarness&)> BuildAndDamage;
    std::function<void(TTreeHarness&)> Operation;
  } cases[] = {
      {"compressed leaf whose stored counts are not packed",
       [](TTreeHarness& h) {
         h.Make(TKeyCompression::DupByte);
         {
           // Every entry keeps its whole key (Dup 0): readable, but not the
           // packing the rest of the tree code maintains.
           TPagePin leaf = h.Fix.File->AllocPage(*h.Ctx);
           leaf->SetType(TPageType::RootLeaf);
           for (int i = 0; i < 4; ++i) leaf->InsertEntry(i, IntKey(i + 1).data(), i + 1, 0);
           h.Fix.File->SetRootPage(h.Slot, leaf->PageNo());
         }
         h.Fix.Reopen();
       },
       [](TTreeHarness& h) { h.Remove(4); }},
      {"the same leaf met by an insertion",
       [](TTreeHarness& h) {
         h.Make(TKeyCompression::Full);
         {
           TPagePin leaf = h.Fix.File->AllocPage(*h.Ctx);
           leaf->SetType(TPageType::RootLeaf);
           for (int i = 0; i < 4; ++i) leaf->InsertEntry(i, IntKey(i + 1).data(), i + 1, 0);
           h.Fix.File->SetRootPage(h.Slot, leaf->PageNo());
         }
         h.Fix.Reopen();
       },
       [](TTreeHarness& h) { h.Add(9); }},
      {"root page typed as text parameters",
       [](TTreeHarness& h) {
         h.Make(TKeyCompression::None);
         for (std::uint64_t k = 1; k <= 10; ++k) h.Add(k);
         PatchClosed(h, PageAt(h.Root()), {static_cast<std::uint8_t>(TPageType::TextParams)});
       },
       [](TTreeHarness& h) { h.Tree().FindKey(*h.Ctx, IntKey(3).data()); }},
      {"root page typed as text parameters, counted",
       [](TTreeHarness& h) {
         h.Make(TKeyCompression::None);
         for (std::uint64_t k = 1; k <= 10; ++k) h.Add(k);
         PatchClosed(h, PageAt(h.Root()), {static_cast<std::uint8_t>(TPageType::TextParams)});
       },
       [](TTreeHarness& h) { h.Tree().KeyCount(*h.Ctx); }},
      {"root page of an unknown type",
       [](TTreeHarness& h) {
         h.Make(TKeyCompression::None);
         for (std::uint64_t k = 1; k <= 10; ++k) h.Add(k);
         PatchClosed(h, PageAt(h.Root()), {9});
       },
       [](TTreeHarness& h) { h.Remove(3); }},
      {"left link of a leaf leading to the root",
       [&](TTreeHarness& h) {
         h.Make(TKeyCompression::Full);
         std::uint64_t n = 1;
         h.Add(n << 20);
         while (h.Page(h.Root())->IsLeaf()) h.Add(++n << 20);
         // The right leaf down to one entry; removing it unlinks the leaf.
         const int rightSize = h.ChildSizes()[1];
         for (int i = 0; i < rightSize - 1; ++i) h.Remove(n-- << 20);
         const std::int32_t right = h.Page(h.Root())->Ref(2);
         const auto root = static_cast<std::uint32_t>(h.Root());
         PatchClosed(h, PageAt(right) + 3,
                     {static_cast<std::uint8_t>(root), static_cast<std::uint8_t>(root >> 8), 0, 0});
         lastKey = n << 20;
       },
       [&](TTreeHarness& h) { h.Remove(lastKey); }},
  };
  for (const auto& c : cases) {
    TTreeHarness h;
    c.BuildAndDamage(h);
    EXPECT_EQ(CodeOf([&] { c.Operation(h); }), TARN_INDEXCORRUPT) << c.Name;
    EXPECT_TRUE(NothingPinned(*h.Fix.File)) << c.Name;
  }
}

}  // namespace
}  // namespace tarn::testing

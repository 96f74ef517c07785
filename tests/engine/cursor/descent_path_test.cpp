// The descent path a cursor keeps for its tree operations: after an
// insertion, also one that split pages up to the root, it names the page and
// slot of the new key and the parent of every page on the way.

#include <gtest/gtest.h>

#include <random>

#include "cursor_fixture.h"
#include "engine/index/btree.h"
#include "engine/index/keys.h"

namespace tarn {
namespace {

class DescentPathTest : public cursor_testing::TCursorFixture {};

TEST_F(DescentPathTest, AfterSplitsThePathNamesTheNewKeyAndEveryParent) {
  CreateQuiz();
  TDataTable& table = FDir.OpenTable("Quiz", {.Exclusive = true});
  TIndexFile& index = table.IndexFile();
  TBTree tree(index);
  std::mt19937 random(11);
  // Primary (uncompressed), ByNameDesc (FULL) and ByTag (TRAILBYTE; enough
  // keys for three levels, so that splits climb to an interior root).
  struct TRun {
    int Slot;
    int Keys;
    int Depth;
  };
  for (const auto [slot, keys, wantDepth] :
       {TRun{0, 3000, 2}, TRun{2, 3000, 2}, TRun{4, 20000, 3}}) {
    SCOPED_TRACE(slot);
    TFixedTreeContext ctx(slot);
    const TKeyDef def = index.KeyDef(slot);
    int depth = 0;
    for (int i = 0; i < keys; ++i) {
      cursor_testing::TRow row{"k" + std::to_string(random() % 100000),
                               static_cast<std::int32_t>(random()), 0,
                               "t" + std::to_string(random() % 50)};
      std::vector<std::uint8_t> image = cursor_testing::RecordImage(table, row);
      image[5] = static_cast<std::uint8_t>(i);  // RecAutoInc: unique suffixes
      image[6] = static_cast<std::uint8_t>(i >> 8);
      image[7] = static_cast<std::uint8_t>(i >> 16);
      std::vector<std::uint8_t> key(def.KeySize);
      BuildKey(def, image, key);
      if (tree.KeyExists(ctx, key.data())) continue;
      tree.AddKey(ctx, key.data(), i + 1);
      const TDescentPath& path = ctx.Path();
      depth = std::max(depth, path.Level);
      TPagePin leaf = index.GetPage(ctx, path.PageNo[path.Level]);
      ASSERT_TRUE(leaf->IsLeaf());
      ASSERT_EQ(std::memcmp(leaf->Key(path.Position[path.Level]), key.data(), def.KeySize), 0) << i;
      ASSERT_EQ(leaf->Ref(path.Position[path.Level]), i + 1);
      ASSERT_EQ(path.PageNo[1], index.Descriptor(slot).RootPage);
      for (int l = 2; l <= path.Level; ++l) {
        ASSERT_EQ(path.ParentPage[l], path.PageNo[l - 1]) << i;
        TPagePin parent = index.GetPage(ctx, path.PageNo[l - 1]);
        ASSERT_EQ(parent->Ref(path.Position[l - 1]), path.PageNo[l]) << i << " level " << l;
      }
    }
    EXPECT_GE(depth, wantDepth);
    EXPECT_TRUE(tree.Check(ctx).Ok);
  }
  FDir.ReleaseTable(table, true);
}

}  // namespace
}  // namespace tarn

// Header and block images: exact byte positions, the encryption runs, and the
// block cache's own structure.

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "engine/base/error_codes.h"
#include "engine/blob/blob_header.h"
#include "engine/blob/block.h"
#include "engine/blob/block_cache.h"
#include "engine/blob/block_stack.h"
#include "engine/table/scramble.h"

namespace {

using namespace tarn;

TEST(BlobHeaderImage, FieldsSitAtTheirOffsetsLittleEndian) {
  TBlobHeader h;
  h.BlobChangeCount = 0x04030201;
  h.FreeBlockList = 0x14131211;
  h.NextBlockNumber = 0x24232221;
  std::vector<std::uint8_t> image(512, 0xEE);
  h.Encode(image, true);
  const std::vector<std::uint8_t> head(image.begin(), image.begin() + 18);
  EXPECT_EQ(head, (std::vector<std::uint8_t>{0x01, 0x02, 0x03, 0x04, 0, 0, 0, 0, 5, 0x11, 0x12,
                                             0x13, 0x14, 0x21, 0x22, 0x23, 0x24, 1}));
  EXPECT_TRUE(std::all_of(image.begin() + 18, image.end(), [](std::uint8_t b) { return b == 0; }));

  h.Encode(image, false);
  EXPECT_EQ(image[17], 0);
  const TBlobHeader back = TBlobHeader::Decode(image);
  EXPECT_EQ(back.BlobChangeCount, h.BlobChangeCount);
  EXPECT_EQ(back.FreeBlockList, h.FreeBlockList);
  EXPECT_EQ(back.NextBlockNumber, h.NextBlockNumber);
  EXPECT_EQ(back.BlobVersion, 5);

  h.BlobChangeCount = -2;
  h.Encode(image, false);
  EXPECT_EQ(TBlobHeader::Decode(image).BlobChangeCount, -2);
}

TEST(BlobHeaderImage, VerifyNamesTheFirstBrokenRule) {
  struct TCase {
    std::uint8_t Version;
    std::int32_t Free;
    std::int32_t Next;
    TErrorCode Code;
  };
  const TCase cases[] = {
      {5, 0, 1, 0},  // a new file
      {5, 7, 8, 0},  // the last block heads the free list
      {5, 1, 8, 0},
      {4, 0, 1, TARN_OLDVERSION},  // wrong version, whatever else
      {6, -1, 0, TARN_OLDVERSION},
      {5, 1, 1, TARN_HEADERCORRUPT},  // free block in a file without blocks
      {5, 8, 8, TARN_HEADERCORRUPT},  // free list beyond the last block
      {5, -1, 8, TARN_HEADERCORRUPT},
      {5, 0, 0, TARN_HEADERCORRUPT},  // no valid next block number
      {5, 0, -5, TARN_HEADERCORRUPT},
  };
  for (const TCase& c : cases) {
    TBlobHeader h;
    h.BlobVersion = c.Version;
    h.FreeBlockList = c.Free;
    h.NextBlockNumber = c.Next;
    EXPECT_EQ(h.Verify(), c.Code) << int{c.Version} << " " << c.Free << " " << c.Next;
  }
}

TEST(BlockImage, HeaderFieldsAndDataRoundTrip) {
  TBlock block(46);  // a 64-byte block carries 46 data bytes
  block.SetPrevBlock(0x04030201);
  block.SetNextBlock(-3);
  block.SetUsedBytes(46);
  block.SetBlobStamp(0x24232221);
  block.SetBlobSize(0x34333231);
  for (std::size_t i = 0; i < 46; ++i) block.MutableData()[i] = static_cast<std::uint8_t>(i + 100);

  std::vector<std::uint8_t> image(64);
  block.StoreTo(image);
  const std::vector<std::uint8_t> head(image.begin(), image.begin() + 18);
  EXPECT_EQ(head, (std::vector<std::uint8_t>{0x01, 0x02, 0x03, 0x04, 0xFD, 0xFF, 0xFF, 0xFF, 46, 0,
                                             0x21, 0x22, 0x23, 0x24, 0x31, 0x32, 0x33, 0x34}));
  EXPECT_EQ(image[18], 100);
  EXPECT_EQ(image[63], 145);

  TBlock back(46);
  back.LoadFrom(image);
  EXPECT_FALSE(back.Dirty());
  EXPECT_EQ(back.PrevBlock(), 0x04030201);
  EXPECT_EQ(back.NextBlock(), -3);
  EXPECT_EQ(back.UsedBytes(), 46);
  EXPECT_EQ(back.BlobStamp(), 0x24232221);
  EXPECT_EQ(back.BlobSize(), 0x34333231u);
  EXPECT_TRUE(std::equal(back.Data().begin(), back.Data().end(), block.Data().begin()));
}

TEST(BlockImage, UsedBytesAboveSignedRangeReadBackUnsigned) {
  // A 40000-byte block holds 39982 data bytes: more than a signed 16-bit count.
  TBlock block(39982);
  block.SetUsedBytes(39982);
  std::vector<std::uint8_t> image(40000);
  block.StoreTo(image);
  TBlock back(39982);
  back.LoadFrom(image);
  EXPECT_EQ(back.UsedBytes(), 39982);
}

TEST(BlockImage, EncryptionScramblesHeaderAndDataAsSeparateRuns) {
  std::vector<std::uint8_t> plain(512);
  for (std::size_t i = 0; i < plain.size(); ++i) plain[i] = static_cast<std::uint8_t>(i * 7);
  std::vector<std::uint8_t> expected = plain;
  ScrambleBytes(std::span(expected).first(18), DataScrambleKey);
  ScrambleBytes(std::span(expected).subspan(18), DataScrambleKey);

  std::vector<std::uint8_t> image = plain;
  ScrambleBlockImage(image);
  EXPECT_EQ(image, expected);
  // The data area's first byte starts the transform afresh: K1 ^ K2.
  EXPECT_EQ(image[18],
            static_cast<std::uint8_t>(plain[18] ^ DataScrambleKey.K1 ^ DataScrambleKey.K2));
  ScrambleBlockImage(image);
  EXPECT_EQ(image, plain);
}

// --- Block cache ------------------------------------------------------------

class BlockCacheTest : public ::testing::Test {
 protected:
  TBlock* Add(std::int32_t n) {
    TBlock* b = Cache.Insert(Cache.Spare(n));
    EXPECT_TRUE(Cache.CheckInvariants());
    return b;
  }
  TBlockCache Cache{46};
};

TEST_F(BlockCacheTest, KeepsBlocksSortedAndFindsThemPastTheRecentFour) {
  for (std::int32_t n : {9, 3, 7, 1, 5, 11, 2}) Add(n);
  std::vector<std::int32_t> order;
  for (const auto& b : Cache.Blocks()) order.push_back(b->BlockNo());
  EXPECT_EQ(order, (std::vector<std::int32_t>{1, 2, 3, 5, 7, 9, 11}));
  // 9 is not among the four most recent: found by the binary search.
  ASSERT_NE(Cache.Find(9), nullptr);
  EXPECT_EQ(Cache.Find(9)->BlockNo(), 9);
  EXPECT_EQ(Cache.Find(4), nullptr);
  EXPECT_EQ(Cache.Hits(), 2u);
  EXPECT_TRUE(Cache.CheckInvariants());
}

TEST_F(BlockCacheTest, EvictsTheLeastRecentCleanUnpinnedBlock) {
  TBlock* b1 = Add(1);
  TBlock* b2 = Add(2);
  Add(3);
  Add(4);
  b1->MarkDirty();  // oldest but dirty
  b2->Pin();        // next oldest but pinned
  Cache.Find(3);    // 3 becomes the most recent: 4 is now the oldest usable
  std::unique_ptr<TBlock> victim = Cache.EvictLeastRecent();
  ASSERT_TRUE(victim);
  EXPECT_EQ(victim->BlockNo(), 4);
  EXPECT_FALSE(victim->Cached());
  victim = Cache.EvictLeastRecent();
  ASSERT_TRUE(victim);
  EXPECT_EQ(victim->BlockNo(), 3);
  EXPECT_FALSE(Cache.EvictLeastRecent());  // only the dirty and the pinned remain
  EXPECT_TRUE(Cache.CheckInvariants());
  b2->Unpin();
}

TEST_F(BlockCacheTest, DiscardKeepsPinnedBlocksAliveUntilReleased) {
  Add(1);
  TBlock* pinned = Add(2);
  pinned->Pin();
  Add(3);
  Cache.DiscardAll();
  EXPECT_EQ(Cache.Count(), 0u);
  EXPECT_EQ(Cache.OrphanCount(), 1u);
  EXPECT_EQ(Cache.SpareCount(), 2u);
  EXPECT_FALSE(pinned->Cached());
  EXPECT_EQ(pinned->BlockNo(), 2);  // still a live object
  EXPECT_TRUE(Cache.CheckInvariants());
  pinned->Unpin();
  Cache.ReleaseOrphan(*pinned);
  EXPECT_EQ(Cache.OrphanCount(), 0u);
  EXPECT_EQ(Cache.SpareCount(), 3u);
}

TEST_F(BlockCacheTest, TrimDropsCleanBlocksAndKeepsTheRestAsRoom) {
  for (std::int32_t n = 1; n <= 6; ++n) Add(n);
  Cache.Peek(1)->MarkDirty();
  Cache.Peek(2)->Pin();
  Cache.TrimTo(1);
  // Only the dirty and the pinned block are left; the room covers them.
  EXPECT_EQ(Cache.Count(), 2u);
  EXPECT_EQ(Cache.Room(), 2);
  EXPECT_TRUE(Cache.CheckInvariants());
  Cache.Peek(2)->Unpin();
}

// Hundreds of blocks (the index grows several times), every tenth pinned and
// every seventh dirty: eviction in recently-used order skips exactly those,
// and every remaining block is still found by its number.
TEST_F(BlockCacheTest, EvictionAtSizeSkipsPinnedAndDirtyBlocks) {
  constexpr std::int32_t Count = 600;
  std::vector<TBlock*> pinned;
  for (std::int32_t n = 1; n <= Count; ++n) {
    TBlock* b = Cache.Insert(Cache.Spare(n * 7919 % 100003));
    if (n % 10 == 0) {
      b->Pin();
      pinned.push_back(b);
    } else if (n % 7 == 0) {
      b->MarkDirty();
    }
  }
  ASSERT_TRUE(Cache.CheckInvariants());
  std::int32_t evicted = 0;
  std::int32_t expected = 1;
  while (std::unique_ptr<TBlock> victim = Cache.EvictLeastRecent()) {
    while (expected % 10 == 0 || expected % 7 == 0) ++expected;
    ASSERT_EQ(victim->BlockNo(), expected * 7919 % 100003);
    ++expected;
    ++evicted;
  }
  const std::int32_t kept = Count / 10 + Count / 7 - Count / 70;
  EXPECT_EQ(evicted, Count - kept);
  EXPECT_EQ(Cache.Count(), static_cast<std::size_t>(kept));
  EXPECT_TRUE(Cache.CheckInvariants());
  for (std::int32_t n = 1; n <= Count; ++n) {
    const bool stays = n % 10 == 0 || n % 7 == 0;
    EXPECT_EQ(Cache.Peek(n * 7919 % 100003) != nullptr, stays) << n;
  }
  for (TBlock* b : pinned) b->Unpin();
}

TEST(BlockStack, PoolsAtMostThirtyTwoClearedBlocks) {
  TBlockStack stack(46);
  std::vector<std::unique_ptr<TBlock>> blocks;
  for (int i = 0; i < 40; ++i) {
    blocks.push_back(stack.Get(i + 1));
    blocks.back()->SetUsedBytes(10);
    blocks.back()->MutableData()[0] = 0xAB;
  }
  for (auto& b : blocks) stack.Put(std::move(b));
  EXPECT_EQ(stack.Count(), TBlockStack::MaxSpare);
  std::unique_ptr<TBlock> reused = stack.Get(77);
  EXPECT_EQ(reused->BlockNo(), 77);
  EXPECT_EQ(reused->UsedBytes(), 0);
  EXPECT_EQ(reused->Data()[0], 0);
  EXPECT_FALSE(reused->Dirty());
  EXPECT_EQ(stack.Count(), TBlockStack::MaxSpare - 1);
}

}  // namespace

// Open blob values: loading, saving over old chains, deleting, stamps, and
// chains that are broken on disk.

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <filesystem>
#include <vector>

#include "blob_fixture.h"
#include "engine/base/error_codes.h"

namespace {

using namespace tarn;
using blob_test::CodeOf;
using blob_test::Pattern;
using blob_test::ReadAll;

class BlobBufferTest : public blob_test::TBlobFixture {};

TEST_F(BlobBufferTest, ValueOfExactlyOneDataAreaUsesOneBlockAndOneByteMoreUsesTwo) {
  for (std::int32_t blockSize : {64, 512, 4096}) {
    Create(blockSize);
    const std::int32_t d = blockSize - 18;
    const auto one = Save(Pattern(static_cast<std::size_t>(d), 1));
    EXPECT_EQ(Chain(one.First).size(), 1u) << blockSize;
    EXPECT_EQ(File->Header().NextBlockNumber, 2) << blockSize;
    const auto two = Save(Pattern(static_cast<std::size_t>(d) + 1, 2));
    const auto chain = Chain(two.First);
    ASSERT_EQ(chain.size(), 2u) << blockSize;
    EXPECT_EQ(File->Header().NextBlockNumber, 4) << blockSize;
    {
      TBlockPin last = File->GetBlock(nullptr, chain[1], 1, false);
      EXPECT_EQ(last->UsedBytes(), 1);
    }
    EXPECT_EQ(Load(one), Pattern(static_cast<std::size_t>(d), 1));
    EXPECT_EQ(Load(two), Pattern(static_cast<std::size_t>(d) + 1, 2));
    File->CloseFile();
    std::filesystem::remove(Path());
  }
}

TEST_F(BlobBufferTest, SixtyFourByteBlocksCarryFortySixDataBytesOnDisk) {
  Create(64);
  const auto value = Pattern(100, 3);  // 46 + 46 + 8
  const auto ref = Save(value);
  Flush();
  const std::vector<std::uint8_t> raw = ReadAll(Path());
  ASSERT_EQ(raw.size(), 512u + 3 * 64);
  const std::uint8_t* b1 = raw.data() + 512;
  const std::uint8_t* b3 = raw.data() + 512 + 128;
  std::span<const std::uint8_t> first(b1, 64), third(b3, 64);
  EXPECT_EQ(GetLEI32(first, 0), 0);           // PrevBlock
  EXPECT_EQ(GetLEI32(first, 4), 2);           // NextBlock
  EXPECT_EQ(GetLE16(first, 8), 46);           // UsedBytes
  EXPECT_EQ(GetLEI32(first, 10), ref.Stamp);  // BlobStamp
  EXPECT_EQ(GetLE32(first, 14), 100u);        // BlobSize in the first block only
  EXPECT_TRUE(std::equal(value.begin(), value.begin() + 46, b1 + 18));
  EXPECT_EQ(GetLEI32(third, 0), 2);
  EXPECT_EQ(GetLEI32(third, 4), 0);
  EXPECT_EQ(GetLE16(third, 8), 8);
  EXPECT_EQ(GetLEI32(third, 10), ref.Stamp);
  EXPECT_EQ(GetLE32(third, 14), 0u);
  EXPECT_TRUE(std::equal(value.begin() + 92, value.end(), b3 + 18));
}

TEST_F(BlobBufferTest, ShorterValueReusesTheFirstBlocksInOrderAndFreesTheRest) {
  Create(64);
  const auto old = Save(Pattern(5 * 46, 4));
  const auto oldChain = Chain(old.First);
  ASSERT_EQ(oldChain.size(), 5u);
  const auto shorter = Pattern(2 * 46, 5);
  const auto ref = Save(shorter, old);
  EXPECT_EQ(ref.First, old.First);
  EXPECT_EQ(Chain(ref.First), std::vector<std::int32_t>(oldChain.begin(), oldChain.begin() + 2));
  // Freed first to last: the last block of the old chain heads the list.
  EXPECT_EQ(FreeList(), (std::vector<std::int32_t>{oldChain[4], oldChain[3], oldChain[2]}));
  EXPECT_EQ(File->Header().NextBlockNumber, 6);
  EXPECT_EQ(Load(ref), shorter);
  Reopen();
  EXPECT_EQ(Load(ref), shorter);
}

TEST_F(BlobBufferTest, LongerValueReusesTheWholeChainAndAppends) {
  Create(64);
  const auto other = Save(Pattern(46, 6));  // block 1 belongs to someone else
  const auto old = Save(Pattern(2 * 46, 7));
  const auto oldChain = Chain(old.First);
  const auto longer = Pattern(4 * 46 + 3, 8);
  const auto ref = Save(longer, old);
  const auto chain = Chain(ref.First);
  ASSERT_EQ(chain.size(), 5u);
  EXPECT_EQ(std::vector<std::int32_t>(chain.begin(), chain.begin() + 2), oldChain);
  EXPECT_EQ(File->Header().NextBlockNumber, 7);
  EXPECT_TRUE(FreeList().empty());
  // Every block carries the new stamp, PrevBlock links back, BlobSize only first.
  for (std::size_t i = 0; i < chain.size(); ++i) {
    TBlockPin pin = File->GetBlock(nullptr, chain[i], 1, false);
    EXPECT_EQ(pin->BlobStamp(), ref.Stamp);
    EXPECT_EQ(pin->PrevBlock(), i == 0 ? 0 : chain[i - 1]);
    EXPECT_EQ(pin->BlobSize(), i == 0 ? longer.size() : 0u);
  }
  EXPECT_EQ(Load(ref), longer);
  EXPECT_EQ(Load(other), Pattern(46, 6));
}

TEST_F(BlobBufferTest, EmptyValueFreesTheWholeChainAndLeavesNoFirstBlock) {
  Create(64);
  const auto old = Save(Pattern(3 * 46, 9));
  const auto oldChain = Chain(old.First);
  const auto ref = Save({}, old);
  EXPECT_EQ(ref.First, 0);
  EXPECT_EQ(FreeList(), (std::vector<std::int32_t>{oldChain[2], oldChain[1], oldChain[0]}));
  EXPECT_TRUE(Load(ref).empty());
  // An empty value that never had blocks stays without any.
  EXPECT_EQ(Save({}).First, 0);
  EXPECT_EQ(File->Header().NextBlockNumber, 4);
}

TEST_F(BlobBufferTest, FreedBlocksAreReusedLastFreedFirstBeforeTheFileGrows) {
  Create(64);
  const auto a = Save(Pattern(3 * 46, 10));  // blocks 1, 2, 3
  const auto keep = Save(Pattern(46, 11));   // block 4
  Delete(a);
  const auto b = Save(Pattern(2 * 46, 12));
  EXPECT_EQ(Chain(b.First), (std::vector<std::int32_t>{3, 2}));
  EXPECT_EQ(File->Header().NextBlockNumber, 5);
  const auto c = Save(Pattern(3 * 46, 13));  // the one free block, then growth
  EXPECT_EQ(Chain(c.First), (std::vector<std::int32_t>{1, 5, 6}));
  EXPECT_EQ(Load(keep), Pattern(46, 11));
  EXPECT_EQ(Load(b), Pattern(2 * 46, 12));
  EXPECT_EQ(Load(c), Pattern(3 * 46, 13));
}

TEST_F(BlobBufferTest, RewrittenBlobFailsWithRecordChangedAndIsNeverTouched) {
  Create(64);
  const auto mine = Save(Pattern(100, 14));
  // Another cursor rewrites the value: same chain, new stamp.
  const auto theirs = Save(Pattern(120, 15), mine);
  ASSERT_EQ(theirs.First, mine.First);
  ASSERT_NE(theirs.Stamp, mine.Stamp);
  EXPECT_EQ(CodeOf([&] { Load(mine); }), TARN_KEYORRECDELETED);
  // Saving or deleting through the stale reference must not destroy their value.
  EXPECT_EQ(CodeOf([&] { Save(Pattern(10, 16), mine); }), TARN_KEYORRECDELETED);
  EXPECT_EQ(CodeOf([&] { Delete(mine); }), TARN_KEYORRECDELETED);
  EXPECT_EQ(Load(theirs), Pattern(120, 15));
  EXPECT_TRUE(FreeList().empty());
}

TEST_F(BlobBufferTest, PostingPassStampsEveryModifiedBlobOfOneRecord) {
  Create(512);
  TBlobBuffer a(*File, &Cursor, 1, 0, 0, 7);
  TBlobBuffer b(*File, &Cursor, 2, 0, 0, 7);
  TBlobBuffer untouched(*File, &Cursor, 3, 0, 0, 8);  // not modified: other record allowed
  a.Write(0, Pattern(600, 17));
  b.Write(0, Pattern(10, 18));
  Owner.LastStamp = 2147483646;
  TBlobBuffer* list[] = {&a, &b, &untouched};
  SaveModifiedBlobs(*File, list);
  EXPECT_EQ(a.BlobStamp(), 2147483647);
  EXPECT_EQ(b.BlobStamp(), 1);  // the counter wraps to 1
  EXPECT_FALSE(a.Modified());
  EXPECT_EQ(Load({a.FirstBlock(), a.BlobStamp()}), Pattern(600, 17));
  EXPECT_EQ(Load({b.FirstBlock(), b.BlobStamp()}), Pattern(10, 18));

  TBlobBuffer c(*File, &Cursor, 1, 0, 0, 9);
  TBlobBuffer d(*File, &Cursor, 2, 0, 0, 10);
  c.Write(0, Pattern(5, 19));
  d.Write(0, Pattern(5, 20));
  const std::int32_t next = File->Header().NextBlockNumber;
  TBlobBuffer* mixed[] = {&c, &d};
  EXPECT_EQ(CodeOf([&] { SaveModifiedBlobs(*File, mixed); }), TARN_MEMOCORRUPT);
  EXPECT_EQ(File->Header().NextBlockNumber, next);  // nothing written
  EXPECT_TRUE(c.Modified());
}

TEST_F(BlobBufferTest, BufferKeepsItsValueOriginalAndOpenCount) {
  Create(512);
  const auto ref = Save(Pattern(50, 21));
  TBlobBuffer buffer(*File, &Cursor, 4, ref.First, ref.Stamp, 1);
  buffer.LoadBlob();
  buffer.KeepOriginal();
  buffer.Write(60, Pattern(5, 22));  // past the end: the gap is zero-filled
  EXPECT_EQ(buffer.Size(), 65u);
  EXPECT_EQ(buffer.Data()[55], 0);
  EXPECT_TRUE(buffer.Modified());
  buffer.SetBlobSize(20);
  EXPECT_EQ(buffer.Size(), 20u);
  ASSERT_TRUE(buffer.Original().has_value());
  EXPECT_EQ(*buffer.Original(), Pattern(50, 21));
  EXPECT_EQ(buffer.Open(), 2);
  EXPECT_EQ(buffer.Close(), 1);
  EXPECT_EQ(buffer.Close(), 0);
  EXPECT_EQ(buffer.Close(), 0);
}

// --- Broken chains on disk ----------------------------------------------------

// A blob of three 64-byte blocks (1, 2, 3) and a neighbour (4), written out; each
// case then patches the file and checks load and delete.
class BrokenChainTest : public blob_test::TBlobFixture {
 protected:
  void SetUp() override {
    Create(64);
    Ref = Save(Pattern(3 * 46, 30));
    Neighbour = Save(Pattern(46, 31));
    Flush();
  }
  void TearDownFile() {
    File->CloseFile();
    File.reset();
    std::filesystem::remove(Path());
  }
  TRef Ref;
  TRef Neighbour;
};

TEST_F(BrokenChainTest, BadChainsRaiseTheirCodesAndFreeNothing) {
  struct TCase {
    const char* Name;
    std::int32_t Block;   // block to patch
    std::size_t Field;    // field offset in the block
    std::uint32_t Value;  // new 32-bit value (16-bit for UsedBytes)
    TErrorCode LoadCode;
    TErrorCode DeleteCode;
  };
  const TCase cases[] = {
      {"loop back to the first block", 2, 4, 1, TARN_MEMOCORRUPT, TARN_MEMOCORRUPT},
      {"block links to itself", 2, 4, 2, TARN_MEMOCORRUPT, TARN_MEMOCORRUPT},
      {"link past the last block", 2, 4, 5, TARN_MEMOCORRUPT, TARN_MEMOCORRUPT},
      {"negative link", 1, 4, 0xFFFFFFF0u, TARN_MEMOCORRUPT, TARN_MEMOCORRUPT},
      {"chain runs into another blob", 2, 4, 4, TARN_KEYORRECDELETED, TARN_MEMOCORRUPT},
      {"foreign stamp mid-chain", 3, 10, 0x7777, TARN_KEYORRECDELETED, 0},
      {"chain ends early", 2, 4, 0, TARN_ENDOFBLOB, 0},
      {"length beyond anything the file holds", 1, 14, 0x7FFFFFF0u, TARN_ENDOFBLOB, 0},
      {"length far past the chain", 1, 14, 4 * 46, TARN_ENDOFBLOB, 0},
      {"used bytes beyond the data area", 2, 8, 47, TARN_MEMOCORRUPT, 0},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    TearDownFile();
    SetUp();
    if (c.Field == 8) {
      blob_test::PatchBytes(
          Path(), BlockOffset(c.Block) + 8,
          {static_cast<std::uint8_t>(c.Value), static_cast<std::uint8_t>(c.Value >> 8)});
    } else {
      blob_test::PatchLE32(Path(), BlockOffset(c.Block) + static_cast<std::int64_t>(c.Field),
                           c.Value);
    }
    File->DiscardBlocks();
    EXPECT_EQ(CodeOf([&] { Load(Ref); }), c.LoadCode);
    EXPECT_TRUE(File->CheckInvariants());
    const std::int32_t freeHead = File->Header().FreeBlockList;
    EXPECT_EQ(CodeOf([&] { Delete(Ref); }), c.DeleteCode);
    if (c.DeleteCode != 0) {
      EXPECT_EQ(File->Header().FreeBlockList, freeHead);  // a bad chain frees nothing
    }
    EXPECT_EQ(Load(Neighbour), Pattern(46, 31));
    EXPECT_EQ(File->Cache().OrphanCount(), 0u);
    EXPECT_TRUE(File->CheckInvariants());
  }
}

// The same breaks deep inside a chain long enough to be read past the cache
// (64-byte blocks: the first read takes 256 blocks, the rest goes around the
// cache): the walk raises what the walk through the cache raises.
TEST_F(BlobBufferTest, BadLongChainsRaiseTheSameCodesPastTheCache) {
  struct TCase {
    const char* Name;
    std::int32_t Block;
    std::size_t Field;
    std::uint32_t Value;
    TErrorCode LoadCode;
  };
  constexpr std::int32_t Blocks = 700;
  const TCase cases[] = {
      {"loop back into the chain", 600, 4, 300, TARN_MEMOCORRUPT},
      {"block links to itself", 600, 4, 600, TARN_MEMOCORRUPT},
      {"link past the last block", 600, 4, Blocks + 2, TARN_MEMOCORRUPT},
      {"chain runs into another blob", 600, 4, Blocks + 1, TARN_KEYORRECDELETED},
      {"foreign stamp mid-chain", 650, 10, 0x7777, TARN_KEYORRECDELETED},
      {"chain ends early", 600, 4, 0, TARN_ENDOFBLOB},
      {"used bytes beyond the data area", 600, 8, 47, TARN_MEMOCORRUPT},
      {"nothing broken", 600, 10, 0, 0},  // stamp patched below to its own value
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    Create(64);
    ASSERT_GE(Blocks - 256, File->ReadAheadLimit());
    ASSERT_GE(Blocks - 1, File->UncachedChainBlocks());
    const auto value = Pattern(Blocks * 46, 40);
    const TRef ref = Save(value);
    ASSERT_EQ(ref.First, 1);
    const TRef neighbour = Save(Pattern(46, 41));
    ASSERT_EQ(neighbour.First, Blocks + 1);
    Reopen();
    const std::uint32_t patch = c.LoadCode == 0 ? static_cast<std::uint32_t>(ref.Stamp) : c.Value;
    if (c.Field == 8) {
      blob_test::PatchBytes(Path(), BlockOffset(c.Block) + 8,
                            {static_cast<std::uint8_t>(patch), static_cast<std::uint8_t>(patch >> 8)});
    } else {
      blob_test::PatchLE32(Path(), BlockOffset(c.Block) + static_cast<std::int64_t>(c.Field), patch);
    }
    File->DiscardBlocks();
    if (c.LoadCode == 0) {
      EXPECT_EQ(Load(ref), value);
      EXPECT_LE(File->Statistics().DiskReads, 2u);
    } else {
      EXPECT_EQ(CodeOf([&] { Load(ref); }), c.LoadCode);
    }
    EXPECT_EQ(Load(neighbour), Pattern(46, 41));
    EXPECT_EQ(File->Cache().OrphanCount(), 0u);
    EXPECT_TRUE(File->CheckInvariants());
  }
}

// The largest resident size the process has had so far, in KB.
long PeakResidentKb() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

// A header whose NextBlockNumber lies far past the end of the file lets the
// first block claim nearly 2 GB: the load reads the three blocks the chain
// has and fails, without ever holding the claimed length in memory.
TEST_F(BrokenChainTest, LengthClaimedUnderAnInflatedHeaderIsNeverAllocated) {
  File->CloseFile();
  blob_test::PatchLE32(Path(), BlobHeader::NextBlockNumberAt, 2'000'000'000u);
  blob_test::PatchLE32(Path(), BlockOffset(1) + BlobBlock::BlobSizeAt, 0x7FFFFFF0u);
  File = std::make_unique<TBlobFile>(Owner);
  File->SetFileName(Path());
  File->SetBlockSize(64);
  File->OpenFile();
  const long peakBefore = PeakResidentKb();
  const TErrorCode code = CodeOf([&] { Load(Ref); });
  EXPECT_TRUE(code == TARN_ENDOFBLOB || code == TARN_MEMOCORRUPT) << code;
  EXPECT_LT(PeakResidentKb() - peakBefore, 256L * 1024);
  EXPECT_TRUE(File->CheckInvariants());
}

TEST_F(BrokenChainTest, FirstBlockOutsideTheFileIsCorrupt) {
  const std::int32_t next = File->Header().NextBlockNumber;
  for (std::int32_t first : {5, 1000, -3}) {
    EXPECT_EQ(CodeOf([&] { Load({first, Ref.Stamp}); }), TARN_MEMOCORRUPT) << first;
    EXPECT_EQ(CodeOf([&] { File->FreeChain(nullptr, first, Ref.Stamp, true); }), TARN_MEMOCORRUPT)
        << first;
    EXPECT_EQ(CodeOf([&] {
                Save(Pattern(10, 33), {first, Ref.Stamp});
              }),
              TARN_MEMOCORRUPT)
        << first;
  }
  EXPECT_EQ(File->Header().NextBlockNumber, next);  // no block was appended by a read
}

TEST_F(BrokenChainTest, SavingOverAChainThatLoopsStopsWithCorruption) {
  blob_test::PatchLE32(Path(), BlockOffset(2) + 4, 1);  // 1 -> 2 -> 1 ...
  File->DiscardBlocks();
  EXPECT_EQ(CodeOf([&] { Save(Pattern(10 * 46, 32), Ref); }), TARN_MEMOCORRUPT);
  EXPECT_TRUE(File->CheckInvariants());
}

TEST_F(BrokenChainTest, FreeChainRepairsForeignStampsOnlyWhenAllowed) {
  blob_test::PatchLE32(Path(), BlockOffset(2) + 10, 0x7777);
  File->DiscardBlocks();
  EXPECT_EQ(CodeOf([&] { File->FreeChain(nullptr, Ref.First, Ref.Stamp, false); }),
            TARN_MEMOCORRUPT);
  EXPECT_EQ(File->Header().FreeBlockList, 0);
  File->FreeChain(nullptr, Ref.First, 4242, true);
  EXPECT_EQ(FreeList(), (std::vector<std::int32_t>{3, 2, 1}));
  for (std::int32_t n : {1, 2, 3}) {
    TBlockPin pin = File->GetBlock(nullptr, n, 1, false);
    EXPECT_EQ(pin->BlobStamp(), 4242);
  }
}

}  // namespace

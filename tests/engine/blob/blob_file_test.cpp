// The blob file itself: header operations, getting, allocating and freeing
// blocks, the cache with its read-ahead and flushing, encryption, limits.

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <vector>

#include "blob_fixture.h"
#include "engine/base/error_codes.h"
#include "engine/files/fault_file_api.h"
#include "engine/table/scramble.h"

namespace {

using namespace tarn;
using blob_test::CodeOf;
using blob_test::Pattern;
using blob_test::ReadAll;
using blob_test::TRef;

class BlobFileTest : public blob_test::TBlobFixture {};

TEST_F(BlobFileTest, CreatedFileHoldsAFreshHeaderAtOnce) {
  Create(512);
  const std::vector<std::uint8_t> raw = ReadAll(Path());
  ASSERT_EQ(raw.size(), 512u);
  const TBlobHeader h = TBlobHeader::Decode(raw);
  EXPECT_EQ(h.BlobChangeCount, 1);
  EXPECT_EQ(h.BlobVersion, 5);
  EXPECT_EQ(h.FreeBlockList, 0);
  EXPECT_EQ(h.NextBlockNumber, 1);
  EXPECT_EQ(raw[17], 1);  // written as changed
  EXPECT_FALSE(File->HeaderDirty());
  EXPECT_NO_THROW(File->VerifyBlobHeader());
}

TEST_F(BlobFileTest, HeaderWritesCountChangesAndRecordTheDirtyFlag) {
  Create(512);
  const int marks = Owner.WrittenMarks;
  EXPECT_FALSE(File->WriteBlobHeader(false));  // clean: nothing to do
  EXPECT_EQ(Owner.WrittenMarks, marks);

  EXPECT_TRUE(File->WriteBlobHeader(true));  // forced without a change
  std::vector<std::uint8_t> raw = ReadAll(Path());
  EXPECT_EQ(GetLEI32(raw, 0), 2);
  EXPECT_EQ(raw[17], 0);
  EXPECT_EQ(Owner.WrittenMarks, marks + 1);

  File->BumpChangeCount();  // in memory only
  EXPECT_TRUE(File->HeaderDirty());
  EXPECT_EQ(File->Header().BlobChangeCount, 3);
  EXPECT_EQ(GetLEI32(ReadAll(Path()), 0), 2);
  EXPECT_TRUE(File->WriteBlobHeader(false));
  raw = ReadAll(Path());
  EXPECT_EQ(GetLEI32(raw, 0), 4);
  EXPECT_EQ(raw[17], 1);
}

TEST_F(BlobFileTest, AnotherHandlerNoticesAHeaderChangeOnlyWhenTheCountMoved) {
  Create(512);
  Reopen();  // now open for shared use
  blob_test::TFakeOwner otherOwner;
  TBlobFile other(otherOwner);
  other.SetFileName(Path());
  other.SetBlockSize(512);
  other.OpenFile();

  EXPECT_FALSE(other.BlobHeaderChanged());
  Save(Pattern(2000, 1));
  Flush();
  EXPECT_TRUE(other.BlobHeaderChanged());
  EXPECT_EQ(other.Header().NextBlockNumber, File->Header().NextBlockNumber);
  EXPECT_FALSE(other.BlobHeaderChanged());
  other.CloseFile();
}

TEST_F(BlobFileTest, EmptyingTruncatesToTheHeaderAndStartsOver) {
  Create(512);
  Save(Pattern(5000, 2));
  Flush();
  ASSERT_GT(std::filesystem::file_size(Path()), 512u);
  const std::int32_t count = File->Header().BlobChangeCount;
  File->EmptyBlobFile();
  EXPECT_EQ(std::filesystem::file_size(Path()), 512u);
  EXPECT_EQ(File->Header().NextBlockNumber, 1);
  EXPECT_EQ(File->Header().FreeBlockList, 0);
  EXPECT_TRUE(File->HeaderDirty());
  EXPECT_EQ(File->Cache().Count(), 0u);
  File->WriteBlobHeader(false);
  EXPECT_EQ(File->Header().BlobChangeCount, count + 1);
  Reopen();
  EXPECT_EQ(File->Header().NextBlockNumber, 1);
}

TEST_F(BlobFileTest, OpeningChecksNothingButVerifyReportsBadHeaders) {
  struct TCase {
    std::int64_t Offset;
    std::vector<std::uint8_t> Bytes;
    TErrorCode Code;
  };
  const TCase cases[] = {
      {8, {4}, TARN_OLDVERSION},
      {9, {9, 0, 0, 0}, TARN_HEADERCORRUPT},              // free list beyond the blocks
      {9, {0xFF, 0xFF, 0xFF, 0xFF}, TARN_HEADERCORRUPT},  // negative free list
  };
  for (const TCase& c : cases) {
    Create(512);
    Save(Pattern(1000, 3));
    Flush();
    File->CloseFile();
    blob_test::PatchBytes(Path(), c.Offset, c.Bytes);
    File->OpenFile();
    EXPECT_EQ(CodeOf([&] { File->VerifyBlobHeader(); }), c.Code) << c.Offset;
    File->CloseFile();
    std::filesystem::remove(Path());
  }
}

TEST_F(BlobFileTest, ShortHeaderIsAReadError) {
  Create(512);
  File->CloseFile();
  std::filesystem::resize_file(Path(), 100);
  EXPECT_EQ(CodeOf([&] { File->OpenFile(); }), TARN_READERR);
  EXPECT_FALSE(File->Opened());
}

TEST_F(BlobFileTest, BlockSizeBelowSixtyFourIsRefused) {
  TBlobFile file(Owner);
  EXPECT_EQ(CodeOf([&] { file.SetBlockSize(63); }), TARN_BLOBLIMIT);
  EXPECT_EQ(CodeOf([&] { file.SetBlockSize(64); }), 0);
  EXPECT_EQ(file.BlockDataSize(), 46);
  file.SetBlockSize(0);  // 0 in the data header means 512
  EXPECT_EQ(file.BlockSize(), 512);
}

TEST_F(BlobFileTest, GetBlockRefusesNumbersOutsideTheFile) {
  Create(512);
  Save(Pattern(1000, 4));  // blocks 1..3; next is 4
  for (std::int32_t n : {0, -1, 5, 1000}) {
    EXPECT_EQ(CodeOf([&] { (void)File->GetBlock(nullptr, n, 1, false); }), TARN_MEMOCORRUPT) << n;
  }
  // The next block number appends.
  TBlockPin pin = File->GetBlock(nullptr, 4, 1, false);
  EXPECT_EQ(pin->BlockNo(), 4);
  EXPECT_TRUE(pin->Dirty());
  EXPECT_EQ(File->Header().NextBlockNumber, 5);
}

TEST_F(BlobFileTest, BlockBeyondTheEndOfTheFileIsCorruptNotARead) {
  Create(512);
  Save(Pattern(1000, 5));
  Flush();
  File->CloseFile();
  std::filesystem::resize_file(Path(), 512 + 512 + 100);  // block 2 only partly there
  File->OpenFile();
  EXPECT_EQ(CodeOf([&] { (void)File->GetBlock(nullptr, 2, 1, false); }), TARN_MEMOCORRUPT);
  EXPECT_EQ(CodeOf([&] { (void)File->GetBlock(nullptr, 1, 3, true); }),
            0);  // read-ahead stops at the end
  EXPECT_TRUE(File->CheckInvariants());
}

TEST_F(BlobFileTest, FileFullLimits) {
  struct TCase {
    std::int32_t BlockSize;
    std::int32_t Next;
    TErrorCode Code;
  };
  const TCase cases[] = {
      {64, 62'499'992, 0},               // ends exactly at 4,000,000,000
      {64, 62'499'993, TARN_TABLEFULL},  // would end 64 bytes past it
      {4096, 976'562, 0},                // 976562 x 4096 + 512 = 3,999,998,464
      {4096, 976'563, TARN_TABLEFULL},   // 4,000,002,560
  };
  for (const TCase& c : cases) {
    Create(c.BlockSize);
    File->CloseFile();
    blob_test::PatchLE32(Path(), 13, static_cast<std::uint32_t>(c.Next));
    File->OpenFile();
    const TErrorCode code = CodeOf([&] {
      TBlockPin pin = File->GetBlock(nullptr, c.Next, 1, false);
      File->DiscardBlocks();  // never write a block that far out
    });
    EXPECT_EQ(code, c.Code) << c.BlockSize << " " << c.Next;
    File->CloseFile();
    std::filesystem::remove(Path());
  }
}

TEST_F(BlobFileTest, AllocTakesTheFreeListHeadThenGrowsTheFile) {
  Create(512);
  TBlockPin a = File->AllocBlock(nullptr);
  TBlockPin b = File->AllocBlock(nullptr);
  EXPECT_EQ(a->BlockNo(), 1);
  EXPECT_EQ(b->BlockNo(), 2);
  File->FreeBlock(*a);
  File->FreeBlock(*b);
  EXPECT_EQ(File->Header().FreeBlockList, 2);
  EXPECT_EQ(b->NextBlock(), 1);
  a.Release();
  b.Release();
  TBlockPin c = File->AllocBlock(nullptr);
  EXPECT_EQ(c->BlockNo(), 2);
  EXPECT_EQ(c->NextBlock(), 0);  // cleared
  EXPECT_EQ(File->Header().FreeBlockList, 1);
  TBlockPin d = File->AllocBlock(nullptr);
  TBlockPin e = File->AllocBlock(nullptr);
  EXPECT_EQ(d->BlockNo(), 1);
  EXPECT_EQ(e->BlockNo(), 3);
  EXPECT_EQ(File->Header().NextBlockNumber, 4);
}

TEST_F(BlobFileTest, AllocRefusesAFreeListThatLeavesTheFile) {
  Create(512);
  {
    TBlockPin a = File->AllocBlock(nullptr);
    File->FreeBlock(*a);
  }
  Flush();
  // The free block's link now points far past the last block.
  blob_test::PatchLE32(Path(), BlockOffset(1) + 4, 99);
  File->DiscardBlocks();
  EXPECT_EQ(CodeOf([&] { (void)File->AllocBlock(nullptr); }), TARN_MEMOCORRUPT);
  EXPECT_EQ(File->Header().FreeBlockList, 1);  // unchanged
}

TEST_F(BlobFileTest, BlockDataLengthsAreChecked) {
  Create(64);
  TBlockPin pin = File->AllocBlock(nullptr);
  std::vector<std::uint8_t> buf(100, 7);
  EXPECT_EQ(CodeOf([&] { File->WriteBlockData(*pin, 0, 47, buf); }), TARN_INVALIDBLOBLEN);
  EXPECT_EQ(CodeOf([&] { File->WriteBlockData(*pin, 10, 40, buf); }), TARN_INVALIDBLOBLEN);
  File->WriteBlockData(*pin, 6, 40, buf);
  EXPECT_EQ(pin->UsedBytes(), 46);
  EXPECT_EQ(CodeOf([&] { (void)File->ReadBlockData(*pin, 0, 47, buf); }), TARN_INVALIDBLOBLEN);
  EXPECT_EQ(File->ReadBlockData(*pin, 0, 46, buf), 46);
  pin->SetUsedBytes(5);
  EXPECT_EQ(File->ReadBlockData(*pin, 0, 46, buf), 5);  // min(length, UsedBytes)
}

TEST_F(BlobFileTest, ReadAheadFetchesTheChainInOneReadAndSkipsDirtyBlocks) {
  Create(512);
  const auto value = Pattern(20 * 494, 6);  // 20 full blocks
  const auto ref = Save(value);
  Reopen();
  File->ResetStatistics();
  EXPECT_EQ(Load(ref), value);
  // The whole chain in one read: the first block reads ahead too (limit
  // 16384 / 512 = 32, cut at the end of the file).
  EXPECT_EQ(File->Statistics().DiskReads, 1u);
  EXPECT_EQ(File->Statistics().BlocksRead, 20u);

  // A dirty cached block inside a later read-ahead keeps its own bytes.
  {
    TBlockPin five = File->GetBlock(nullptr, 5, 1, false);
    five->MutableData()[0] = 0x5A;
    five->MarkDirty();
  }
  File->DiscardBlocks();  // drops the change: the dirty byte is gone again
  {
    TBlockPin five = File->GetBlock(nullptr, 5, 1, false);
    EXPECT_EQ(five->Data()[0], value[4 * 494]);
    five->MutableData()[0] = 0x5A;
    five->MarkDirty();
  }
  (void)File->GetBlock(nullptr, 2, 10, true);  // reads 2..11 around the dirty block 5
  TBlockPin five = File->GetBlock(nullptr, 5, 1, false);
  EXPECT_EQ(five->Data()[0], 0x5A);
  EXPECT_TRUE(five->Dirty());
}

TEST_F(BlobFileTest, FlushWritesEachRunOfConsecutiveBlocksOnce) {
  Create(512);
  Save(Pattern(10 * 494, 7));  // blocks 1..10
  Flush();
  for (std::int32_t n : {2, 3, 4, 7, 9, 10}) {
    TBlockPin pin = File->GetBlock(nullptr, n, 1, false);
    pin->MarkDirty();
  }
  File->ResetStatistics();
  EXPECT_TRUE(File->FlushBlocks());
  EXPECT_EQ(File->Statistics().WriteRuns, 3u);  // 2-4, 7, 9-10
  EXPECT_EQ(File->Statistics().BlocksWritten, 6u);
  EXPECT_FALSE(File->FlushBlocks());

  // A pinned dirty block waits.
  TBlockPin pinned = File->GetBlock(nullptr, 3, 1, false);
  pinned->MarkDirty();
  EXPECT_FALSE(File->FlushBlocks());
  pinned.Release();
  EXPECT_TRUE(File->FlushBlocks());
}

TEST_F(BlobFileTest, SmallCacheEvictsCleanBlocksAndFlushesWhenStuck) {
  Owner.BufferSize = 4 * 512;  // room for 4 blocks
  Create(512);
  EXPECT_EQ(File->Cache().Room(), 4);
  const auto value = Pattern(30 * 494, 8);
  const auto ref = Save(value);
  EXPECT_LE(File->Cache().Count(), 4u);
  EXPECT_GT(Owner.WrittenMarks, 1);  // flushed along the way
  EXPECT_EQ(Load(ref), value);
  Reopen();
  EXPECT_EQ(Load(ref), value);
  EXPECT_TRUE(File->CheckInvariants());
}

TEST_F(BlobFileTest, InsideATransactionTheCacheGrowsInsteadOfWriting) {
  Owner.BufferSize = 4 * 512;
  Create(512);
  Owner.Transaction = true;
  const int marks = Owner.WrittenMarks;
  const auto value = Pattern(30 * 494, 9);
  const auto ref = Save(value);
  EXPECT_EQ(Owner.WrittenMarks, marks);  // nothing reached the file
  EXPECT_EQ(std::filesystem::file_size(Path()), 512u);
  EXPECT_GE(File->Cache().Count(), 30u);
  EXPECT_EQ(File->Cache().Room() % 4, 0);
  EXPECT_GT(File->Cache().Room(), 4);
  Owner.Transaction = false;
  File->FlushBlocks();
  File->TrimBlockCache();
  EXPECT_EQ(File->Cache().Count(), 4u);
  EXPECT_EQ(File->Cache().Room(), 4);
  EXPECT_EQ(Load(ref), value);
}

// A long value goes around the cache (appended straight to the file, read
// back in runs); a cache big enough to take it keeps it. Either way the file
// holds the same bytes, plain or scrambled.
TEST_F(BlobFileTest, LongChainsPastTheCacheLeaveTheSameBytesOnDisk) {
  for (const bool encrypted : {false, true}) {
    SCOPED_TRACE(encrypted);
    Owner.Encrypted = encrypted;
    const auto small = Pattern(700, 20);
    const auto large = Pattern(300 * 494 + 17, 21);  // 301 blocks
    std::vector<std::uint8_t> images[2];
    for (const bool bypass : {false, true}) {
      Owner.BufferSize = bypass ? 32768 : 4 << 20;
      Owner.LastStamp = 0;
      Create(512);
      ASSERT_EQ(File->CanAppendUncached(static_cast<std::int64_t>(large.size())), bypass);
      const TRef a = Save(small);
      const TRef b = Save(large);
      const TRef c = Save(small);
      if (bypass) {
        EXPECT_LE(File->Cache().Count(), 4u);  // the long chain never came in
      }
      const TRef grown = Save(large, c);  // the two old blocks, then the rest appended
      EXPECT_EQ(grown.First, c.First);
      Reopen();
      EXPECT_EQ(Load(grown), large);
      EXPECT_EQ(Load(b), large);
      EXPECT_EQ(Load(a), small);
      if (bypass) {
        EXPECT_LE(File->Cache().Count(), 64u);
      }
      EXPECT_TRUE(File->CheckInvariants());
      File->CloseFile();
      images[bypass ? 1 : 0] = ReadAll(Path());
    }
    EXPECT_EQ(images[0].size(), 512u + 604u * 512u);
    ASSERT_EQ(images[0].size(), images[1].size());
    const auto differ = std::mismatch(images[0].begin(), images[0].end(), images[1].begin());
    EXPECT_TRUE(differ.first == images[0].end()) << "first difference at " << (differ.first - images[0].begin());
  }
}

// Blocks changed in the cache and not yet written are what a walk past the
// cache reads, not their older copies on disk.
TEST_F(BlobFileTest, LongChainPastTheCacheReadsChangedBlocksFromTheCache) {
  Create(512);
  auto value = Pattern(400 * 494, 22);
  const TRef ref = Save(value);
  Reopen();
  Owner.Transaction = true;  // nothing may be written now
  for (const std::int32_t n : {40, 41, 250, 400}) {
    TBlockPin pin = File->GetBlock(&Cursor, ref.First + n - 1, 1, false);
    const std::vector<std::uint8_t> bytes(10, static_cast<std::uint8_t>(n));
    File->WriteBlockData(*pin, 0, 10, bytes);
    // The last block keeps its length; the others stay full.
    pin->SetUsedBytes(494);
    std::fill_n(value.begin() + (n - 1) * 494, 10, static_cast<std::uint8_t>(n));
  }
  EXPECT_EQ(Load(ref), value);
  Owner.Transaction = false;
}

TEST_F(BlobFileTest, MissRunsTheChangeCheckUnlessStrictDetectionDidAlready) {
  Create(512);
  const auto value = Pattern(3000, 10);
  const auto ref = Save(value);
  Reopen();
  Cursor.Calls = 0;
  Cursor.Pending = 1;
  EXPECT_FALSE(static_cast<bool>(
      File->GetBlock(&Cursor, ref.First, 1, false)));  // the caller must start again
  EXPECT_EQ(Cursor.Calls, 1);
  EXPECT_TRUE(static_cast<bool>(File->GetBlock(&Cursor, ref.First, 1, false)));
  EXPECT_TRUE(static_cast<bool>(File->GetBlock(&Cursor, ref.First, 1, false)));  // a hit: no check
  EXPECT_EQ(Cursor.Calls, 2);

  File->DiscardBlocks();
  Owner.Strict = true;
  Cursor.Calls = 0;
  EXPECT_TRUE(static_cast<bool>(File->GetBlock(&Cursor, ref.First, 1, false)));
  EXPECT_EQ(Cursor.Calls, 0);
}

TEST_F(BlobFileTest, LoadStartsAgainWhenTheChangeCheckDiscardsTheCacheMidChain) {
  // A chain walked through the cache (the loader holds the pinned block it
  // came from while the check runs), and one long enough to be read in runs
  // past the cache.
  struct TCase {
    std::size_t Blocks;
    int FirstDiscard;
    int SecondDiscard;
  };
  for (const TCase c : {TCase{40, 2, 4}, TCase{1300, 3, 6}}) {
    SCOPED_TRACE(c.Blocks);
    Owner.BufferSize = 2 * 512;
    Create(512);
    const auto value = Pattern(c.Blocks * 494, 11);  // longer than one read-ahead
    const auto ref = Save(value);
    Reopen();
    int discards = 0;
    Cursor.Calls = 0;
    Cursor.OnCheck = [&] {
      // Another program's change, noticed mid-chain: the table empties its
      // caches while the loader may still hold a pinned block.
      if (Cursor.Calls == c.FirstDiscard || Cursor.Calls == c.SecondDiscard) {
        File->DiscardBlocks();
        ++discards;
        Cursor.Pending = 1;
      }
    };
    EXPECT_EQ(Load(ref), value);
    EXPECT_EQ(discards, 2);
    EXPECT_EQ(File->Cache().OrphanCount(), 0u);
    EXPECT_TRUE(File->CheckInvariants());
    Cursor.OnCheck = nullptr;
  }
}

TEST_F(BlobFileTest, ChangeCheckThatNeverSettlesEndsTheLoadInsteadOfHanging) {
  Create(512);
  const auto ref = Save(Pattern(3000, 18));
  Reopen();
  Cursor.Pending = 1 << 30;  // another program that never stops writing
  EXPECT_EQ(CodeOf([&] { Load(ref); }), TARN_KEYORRECDELETED);
  EXPECT_GT(Cursor.Calls, 1);
  EXPECT_TRUE(File->CheckInvariants());
}

TEST_F(BlobFileTest, EncryptedFileScramblesHeaderAsOneRunAndBlocksInTwo) {
  Owner.Encrypted = true;
  Create(64);
  const auto value = Pattern(46, 12);
  const auto ref = Save(value);
  Flush();
  const std::vector<std::uint8_t> raw = ReadAll(Path());
  ASSERT_EQ(raw.size(), 512u + 64u);

  std::vector<std::uint8_t> header(raw.begin(), raw.begin() + 512);
  ScrambleBytes(header, DataScrambleKey);
  const TBlobHeader h = TBlobHeader::Decode(header);
  EXPECT_EQ(h.BlobVersion, 5);
  EXPECT_EQ(h.NextBlockNumber, 2);

  std::vector<std::uint8_t> block(raw.begin() + 512, raw.end());
  ScrambleBytes(std::span(block).first(18), DataScrambleKey);
  ScrambleBytes(std::span(block).subspan(18), DataScrambleKey);
  EXPECT_EQ(GetLEI32(block, 10), ref.Stamp);
  EXPECT_EQ(GetLE32(block, 14), 46u);
  EXPECT_TRUE(std::equal(value.begin(), value.end(), block.begin() + 18));

  Reopen();
  EXPECT_EQ(Load(ref), value);
}

TEST_F(BlobFileTest, ClosingDropsUnwrittenBlocks) {
  Create(512);
  const auto ref = Save(Pattern(1000, 13));
  File->WriteBlobHeader(false);
  File->CloseFile();  // blocks never flushed
  File->OpenFile();
  EXPECT_EQ(File->Header().NextBlockNumber, 4);
  EXPECT_EQ(CodeOf([&] { Load(ref); }), TARN_MEMOCORRUPT);  // the blocks are not in the file
}

TEST_F(BlobFileTest, FailedWriteKeepsBlocksDirtyUntilAFlushSucceeds) {
  Create(512);
  const auto value = Pattern(10 * 494, 14);
  const auto ref = Save(value);
  TFaultFileApi faults;
  {
    TOsFileApiOverride use(faults);
    faults.Fail(TOsCall::PWrite, ENOSPC, 0, true);
    EXPECT_EQ(CodeOf([&] { File->FlushBlocks(); }), TARN_WRITEERR);
  }
  EXPECT_TRUE(File->CheckInvariants());
  std::size_t dirty = 0;
  for (const auto& b : File->Cache().Blocks()) dirty += b->Dirty() ? 1 : 0;
  EXPECT_EQ(dirty, 10u);
  EXPECT_TRUE(File->FlushBlocks());
  Reopen();
  EXPECT_EQ(Load(ref), value);
}

// A long new value is written at once; when a write fails the file does not
// count its blocks, whichever run failed, and a later save starts over.
TEST_F(BlobFileTest, FailedWritePastTheCacheCountsNoNewBlock) {
  const auto value = Pattern(1200 * 494, 23);  // three runs of 512 blocks
  for (const int skip : {0, 2}) {
    SCOPED_TRACE(skip);
    Create(512);
    const TRef before = Save(Pattern(1000, 24));
    Flush();
    const std::int32_t next = File->Header().NextBlockNumber;
    TFaultFileApi faults;
    {
      TOsFileApiOverride use(faults);
      faults.Fail(TOsCall::PWrite, ENOSPC, skip, true);
      EXPECT_EQ(CodeOf([&] { Save(value); }), TARN_WRITEERR);
    }
    EXPECT_EQ(File->Header().NextBlockNumber, next);
    EXPECT_TRUE(File->CheckInvariants());
    const TRef ref = Save(value);
    Reopen();
    EXPECT_EQ(Load(ref), value);
    EXPECT_EQ(Load(before), Pattern(1000, 24));
  }
}

TEST_F(BlobFileTest, FailedReadLeavesTheCacheUsable) {
  Create(512);
  const auto value = Pattern(40 * 494, 15);  // more than one read-ahead of 32 blocks
  const auto ref = Save(value);
  Reopen();
  TFaultFileApi faults;
  {
    TOsFileApiOverride use(faults);
    faults.Fail(TOsCall::PRead, EIO, 1);  // the second read, after the first 32 blocks
    EXPECT_EQ(CodeOf([&] { Load(ref); }), TARN_READERR);
  }
  EXPECT_TRUE(File->CheckInvariants());
  EXPECT_EQ(File->Cache().OrphanCount(), 0u);
  EXPECT_EQ(Load(ref), value);
}

TEST_F(BlobFileTest, LargestBlocksWorkWithAnEmptyNominalCache) {
  // 40000-byte blocks: the nominal room is 32768 div 40000 = 0 blocks, the
  // read-ahead limit 1, and full blocks hold more than 32767 data bytes.
  Create(40000);
  EXPECT_EQ(File->NominalRoom(), 0);
  EXPECT_EQ(File->ReadAheadLimit(), 1);
  const auto value = Pattern(3 * 39982 + 5, 16);
  const auto ref = Save(value);
  EXPECT_EQ(Chain(ref.First).size(), 4u);
  Reopen();
  EXPECT_EQ(Load(ref), value);
  EXPECT_TRUE(File->CheckInvariants());
}

TEST_F(BlobFileTest, InMemoryFileKeepsItsBlobsAcrossReopening) {
  File = std::make_unique<TBlobFile>(Owner);
  File->SetFileName("MEMBLOBS.BLB");
  File->SetInMemory(true);
  File->SetBlockSize(128);
  File->CreateFile();
  const auto value = Pattern(1000, 17);
  const auto ref = Save(value);
  File->FlushBlocks();
  File->WriteBlobHeader(false);
  File->CloseFile();
  File->OpenFile();
  EXPECT_EQ(Load(ref), value);
  File->CloseFile();
  File->DeleteFile();
}

}  // namespace

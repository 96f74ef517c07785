// The record cache of TDataFile: appends and their limits, hits, misses with
// read-ahead, the change-check hook, free slots, flushing and eviction.

#include <algorithm>
#include <array>
#include <deque>
#include <map>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "engine/files/fault_file_api.h"
#include "engine/table/data_file.h"
#include "tests/engine/table/data_file_fixture.h"

namespace tarn::testing {
namespace {

class TRecordCacheTest : public TDataFileFixture {
 protected:
  // A table of n people named "P1".."Pn", aged 1..n, written and closed;
  // then opened again with an empty cache.
  std::unique_ptr<TDataFile> OpenPeople(int n) {
    CreateTable(PeopleFields(), false, [n](TDataFile& f) {
      for (int i = 1; i <= n; ++i) AddPerson(f, "P" + std::to_string(i), i);
    });
    auto file = OpenHandler();
    owner.Written = false;
    return file;
  }
  // Overwrites record r's age on disk behind the cache's back.
  void PatchAge(int r, std::int32_t age) {
    Patch([&](TBytes& b) { PutLEI32(b, 127 + 3 * 768 + (r - 1) * 36 + 32, age); });
  }
};

TEST_F(TRecordCacheTest, AppendsStopAt200000000Records) {
  // 12-byte records: 200,000,000 of them stay below 4,000,000,000 bytes.
  std::vector<TFieldDesc> defs = {MakeFieldDesc(1, "N", FieldType::Int16)};
  ASSERT_EQ(AssignFieldOffsets(defs), 12u);
  CreateTable(defs);
  auto file = NewHandler();
  Patch([](TBytes& b) { PutLEI32(b, 13, 200000000); });  // header only: no disk I/O needed
  file->OpenFile();
  {
    TRecordPin last = file->GetRecord(nullptr, 200000000);
    ASSERT_TRUE(last);
    EXPECT_EQ(last->RecordNo(), 200000000);
  }
  EXPECT_EQ(file->GetNextRecordNumber(), 200000001);
  EXPECT_EQ(CodeOf([&] { file->GetRecord(nullptr, 200000001); }), TARN_TABLEFULL);
  EXPECT_EQ(file->GetNextRecordNumber(), 200000001);
  file->DiscardRecords();
}

TEST_F(TRecordCacheTest, AppendsStopBefore4000000000Bytes) {
  std::vector<TFieldDesc> defs;
  for (std::uint16_t i = 1; i <= 200; ++i) defs.push_back(MakeFieldDesc(i, "S" + std::to_string(i), FieldType::String, 0, 250));
  const std::int64_t recordSize = AssignFieldOffsets(defs);
  CreateTable(defs);
  const std::int64_t h = 127 + 200 * 768;
  const std::int32_t lastFitting = static_cast<std::int32_t>((4000000000LL - h) / recordSize);
  Patch([&](TBytes& b) { PutLEI32(b, 13, lastFitting); });
  auto file = OpenHandler();
  EXPECT_TRUE(file->GetRecord(nullptr, lastFitting));
  EXPECT_EQ(CodeOf([&] { file->GetRecord(nullptr, lastFitting + 1); }), TARN_TABLEFULL);
  file->DiscardRecords();
}

TEST_F(TRecordCacheTest, AppendedSlotIsClearedPinnedAndDirtiesTheHeader) {
  auto file = OpenPeople(2);
  EXPECT_FALSE(file->HeaderDirty());
  TRecordPin rec = file->GetRecord(nullptr, 3);
  EXPECT_EQ(rec->PinCount(), 1);
  EXPECT_EQ(rec->RecordNo(), 3);
  EXPECT_FALSE(rec->IsDeleted());
  EXPECT_TRUE(file->HeaderDirty());
  EXPECT_EQ(file->GetNextRecordNumber(), 4);
  EXPECT_EQ(file->CacheStats().Hits, 1u);
  EXPECT_EQ(file->CacheStats().DiskReads, 0u);
  rec.Release();
  rec.Release();  // idempotent
  EXPECT_TRUE(file->CheckInvariants());
}

TEST_F(TRecordCacheTest, BadRecordNumbersRaiseFileCorrupt) {
  auto file = OpenPeople(3);
  for (std::int32_t r : {0, -1, 5, 1000}) {
    SCOPED_TRACE(r);
    EXPECT_EQ(CodeOf([&] { file->GetRecord(nullptr, r); }), TARN_FILECORRUPT);
  }
  EXPECT_EQ(file->CachedRecordCount(), 0u);
}

TEST_F(TRecordCacheTest, HitsComeFromRecentBuffersOrTheSortedList) {
  auto file = OpenPeople(40);
  TFakeCursor cursor;
  { TRecordPin r = file->GetRecord(&cursor, 1, true, false, true); }
  ASSERT_EQ(file->CachedRecordCount(), 40u);
  EXPECT_EQ(cursor.Checks, 1);  // the miss ran the change check
  file->ResetCacheStats();
  for (std::int32_t r : {1, 1, 2, 30, 17, 30, 1}) {
    TRecordPin pin = file->GetRecord(&cursor, r);
    EXPECT_EQ(AgeOf(*pin, *file), r);
  }
  EXPECT_EQ(file->CacheStats().Hits, 7u);
  EXPECT_EQ(file->CacheStats().DiskReads, 0u);
  EXPECT_EQ(cursor.Checks, 1);  // hits never check
  EXPECT_TRUE(file->CheckInvariants());
}

TEST_F(TRecordCacheTest, MissReportsTheCursorsChangeAndReadsNothing) {
  auto file = OpenPeople(3);
  TFakeCursor cursor;
  cursor.ReportChange = true;
  TRecordPin none = file->GetRecord(&cursor, 2);
  EXPECT_FALSE(none);
  EXPECT_EQ(cursor.Checks, 1);
  EXPECT_EQ(file->CacheStats().DiskReads, 0u);

  owner.Strict = true;  // the full check already ran at the operation's start
  TRecordPin rec = file->GetRecord(&cursor, 2);
  ASSERT_TRUE(rec);
  EXPECT_EQ(cursor.Checks, 1);
  EXPECT_EQ(AgeOf(*rec, *file), 2);
}

TEST_F(TRecordCacheTest, ReadAheadCountsAndDirections) {
  // 36-byte records: 8192 div 36 = 227 per read.
  auto file = OpenPeople(300);
  EXPECT_EQ(file->RecordsPerRead(), 227);
  struct TCase {
    const char* What;
    std::int32_t Record;
    bool Forward, CursorDecides, ReadAhead;
    std::int32_t CursorRun;
    std::int32_t First, Last;  // records cached afterwards
  };
  const TCase cases[] = {
      {"single record", 10, true, false, false, 0, 10, 10},
      {"forward block", 1, true, false, true, 0, 1, 227},
      {"forward up to the end", 250, true, false, true, 0, 250, 300},
      // Min(per read, NextRecordNumber - R) records in either direction.
      {"backward block", 200, false, false, true, 0, 100, 200},
      {"backward near the end", 290, false, false, true, 0, 280, 290},
      {"backward never below record 1", 3, false, false, true, 0, 1, 3},
      {"cursor's run", 100, true, true, true, 5, 100, 104},
      {"cursor's run backward", 100, false, true, true, 5, 96, 100},
      {"cursor's run capped", 1, true, true, true, 100000, 1, 227},
      {"cursor's run at least one", 7, true, true, true, -3, 7, 7},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.What);
    file->DiscardRecords();
    file->ResetCacheStats();
    TFakeCursor cursor;
    cursor.Run = c.CursorRun;
    TRecordPin rec = file->GetRecord(&cursor, c.Record, c.Forward, c.CursorDecides, c.ReadAhead);
    ASSERT_TRUE(rec);
    EXPECT_EQ(AgeOf(*rec, *file), c.Record);
    EXPECT_EQ(file->CachedRecordCount(), static_cast<std::size_t>(c.Last - c.First + 1));
    EXPECT_TRUE(file->IsCached(c.First));
    EXPECT_TRUE(file->IsCached(c.Last));
    EXPECT_EQ(file->CacheStats().DiskReads, 1u);
    EXPECT_EQ(file->CacheStats().ReadAheads, c.Last > c.First ? 1u : 0u);
    EXPECT_TRUE(file->CheckInvariants());
  }
}

TEST_F(TRecordCacheTest, ReadAheadDoesNotOverwriteModifiedOrPinnedBuffers) {
  auto file = OpenPeople(10);
  TRecordPin pinned = file->GetRecord(nullptr, 7);
  {
    TRecordPin rec = file->GetRecord(nullptr, 5);
    rec->SetAutoInc(555);  // modified, then unpinned
  }
  { TRecordPin rec = file->GetRecord(nullptr, 3); }  // clean and unpinned
  for (int r : {3, 5, 7}) PatchAge(r, 1000 + r);     // another program writes

  { TRecordPin rec = file->GetRecord(nullptr, 1, true, false, true); }
  TRecordPin three = file->GetRecord(nullptr, 3);
  TRecordPin five = file->GetRecord(nullptr, 5);
  EXPECT_EQ(AgeOf(*three, *file), 1003);  // clean buffers take the new bytes
  EXPECT_EQ(AgeOf(*five, *file), 5);      // the modified buffer is kept
  EXPECT_EQ(five->GetAutoInc(), 555);
  EXPECT_TRUE(five->Modified());
  EXPECT_EQ(AgeOf(*pinned, *file), 7);    // the pinned buffer is kept
}

TEST_F(TRecordCacheTest, ShortReadsAreAcceptedOnlyForUnwrittenAppendsUnderExclusiveUse) {
  auto file = OpenPeople(2);
  file->CloseFile();
  Patch([](TBytes& b) { PutLEI32(b, 13, 5); });  // claims 4 records, holds 2
  file->OpenFile();
  EXPECT_EQ(CodeOf([&] { file->GetRecord(nullptr, 3); }), TARN_READERR);
  EXPECT_EQ(CodeOf([&] { file->GetRecord(nullptr, 1, true, false, true); }), TARN_READERR);
  EXPECT_EQ(file->CachedRecordCount(), 0u);  // a failed read leaves the cache alone

  owner.Written = true;
  owner.TransactionLock = true;
  { TRecordPin rec = file->GetRecord(nullptr, 1, true, false, true); }
  EXPECT_EQ(file->CachedRecordCount(), 2u);
  // A record the read did not deliver is not there to hand out.
  EXPECT_EQ(CodeOf([&] { file->GetRecord(nullptr, 4); }), TARN_FILECORRUPT);
}

TEST_F(TRecordCacheTest, FreeSlotsAreReusedLastInFirstOut) {
  auto file = OpenPeople(5);
  for (std::int32_t r : {2, 4}) {
    TRecordPin rec = file->GetRecord(nullptr, r);
    file->FreeRecord(*rec);
  }
  EXPECT_EQ(file->GetFirstFreeRecord(), 4);
  {
    TRecordPin four = file->GetRecord(nullptr, 4);
    EXPECT_TRUE(four->IsDeleted());
    EXPECT_EQ(four->GetFreeLink(), 2);
  }
  WriteAll(*file);
  file->CloseFile();
  file->OpenFile();
  EXPECT_NO_THROW(file->VerifyDataFile());

  std::vector<std::int32_t> handedOut;
  for (int i = 0; i < 3; ++i) {
    TRecordPin rec = file->AllocateRecord(nullptr);
    handedOut.push_back(rec->RecordNo());
    rec->Clear(true);
    rec->MarkModified();
  }
  EXPECT_EQ(handedOut, (std::vector<std::int32_t>{4, 2, 6}));
  EXPECT_EQ(file->GetFirstFreeRecord(), 0);
  EXPECT_EQ(file->GetNextRecordNumber(), 7);
}

TEST_F(TRecordCacheTest, TablesWithoutPrimaryIndexNeverReuseSlots) {
  auto file = OpenPeople(3);
  owner.NoPrimaryIndex = true;
  {
    TRecordPin rec = file->GetRecord(nullptr, 2);
    file->FreeRecord(*rec);
    EXPECT_EQ(rec->GetFreeLink(), 0);
  }
  EXPECT_EQ(file->AllocateRecordNo(), 4);
  TRecordPin rec = file->AllocateRecord(nullptr);
  EXPECT_EQ(rec->RecordNo(), 4);
}

TEST_F(TRecordCacheTest, DamagedFreeListsRaiseInsteadOfOverwritingRecords) {
  struct TCase {
    const char* What;
    std::int32_t Head;
  };
  for (const TCase& c : {TCase{"head past the end", 9}, TCase{"head negative", -2}, TCase{"head on a live record", 2}}) {
    SCOPED_TRACE(c.What);
    auto file = OpenPeople(3);
    file->CloseFile();
    Patch([&](TBytes& b) { PutLEI32(b, 9, c.Head); });
    file->OpenFile();
    EXPECT_EQ(CodeOf([&] { file->AllocateRecord(nullptr); }), TARN_FILECORRUPT);
    EXPECT_EQ(file->GetFirstFreeRecord(), c.Head);
  }
}

TEST_F(TRecordCacheTest, AutoIncrementAndBlobStampWrap) {
  auto file = OpenPeople(0);
  file->SetLastAutoInc(2147483646);
  EXPECT_EQ(file->NextAutoInc(), 2147483647);
  EXPECT_EQ(file->NextAutoInc(), 1);
  EXPECT_EQ(file->GetLastAutoInc(), 1);
  EXPECT_EQ(file->NextBlobStamp(), 1);
  EXPECT_EQ(file->NextBlobStamp(), 2);
  EXPECT_TRUE(file->HeaderDirty());
}

TEST_F(TRecordCacheTest, FlushWritesConsecutiveRecordsAsOneRun) {
  auto file = OpenPeople(8);
  { TRecordPin r = file->GetRecord(nullptr, 1, true, false, true); }
  TRecordPin held;
  for (std::int32_t r : {1, 2, 3, 5, 6, 8}) {
    TRecordPin rec = file->GetRecord(nullptr, r);
    rec->SetAutoInc(100 + r);
    if (r == 8) held = std::move(rec);  // pinned: not written
  }
  file->ResetCacheStats();
  owner.Written = false;
  EXPECT_TRUE(file->FlushRecords());
  EXPECT_EQ(file->CacheStats().WriteRuns, 2u);  // 1-3 and 5-6
  EXPECT_TRUE(owner.Written);
  EXPECT_TRUE(held->Modified());
  const TBytes raw = ReadRaw();
  for (std::int32_t r : {1, 2, 3, 5, 6}) EXPECT_EQ(GetLEI32(raw, 127 + 3 * 768 + (r - 1) * 36 + 5), 100 + r);
  EXPECT_EQ(GetLEI32(raw, 127 + 3 * 768 + 7 * 36 + 5), 8);
  held.Release();
  EXPECT_TRUE(file->FlushRecords());
  EXPECT_FALSE(file->FlushRecords());
}

TEST_F(TRecordCacheTest, FailedFlushKeepsTheRecordsToBeWritten) {
  auto file = OpenPeople(3);
  {
    TRecordPin rec = file->GetRecord(nullptr, 2);
    rec->SetAutoInc(222);
  }
  TFaultFileApi faults;
  {
    TOsFileApiOverride use(faults);
    faults.Fail(TOsCall::PWrite, ENOSPC);
    EXPECT_EQ(CodeOf([&] { file->FlushRecords(); }), TARN_WRITEERR);
  }
  TRecordPin rec = file->GetRecord(nullptr, 2);
  EXPECT_TRUE(rec->Modified());
  rec.Release();
  EXPECT_TRUE(file->FlushRecords());
  EXPECT_EQ(GetLEI32(ReadRaw(), 127 + 3 * 768 + 36 + 5), 222);
}

// A walk's prefetch hint names any numbers: cached or not, past either end,
// 0 for none. It must read nothing and change nothing.
TEST_F(TRecordCacheTest, PrefetchHintChangesNothing) {
  auto file = OpenPeople(6);
  file->PrefetchAhead(1, 2, 4);  // empty cache
  { TRecordPin rec = file->GetRecord(nullptr, 2); }
  { TRecordPin rec = file->GetRecord(nullptr, 3); }
  file->ResetCacheStats();
  for (const auto& [next, second, fourth] : std::vector<std::array<std::int32_t, 3>>{
           {2, 3, 5}, {3, 2, 0}, {0, 0, 0}, {7, 8, 10}, {-1, -2, -4}, {1, 2147483647, -2147483647}})
    file->PrefetchAhead(next, second, fourth);
  EXPECT_EQ(file->CachedRecordCount(), 2u);
  EXPECT_FALSE(file->IsCached(1));
  EXPECT_EQ(file->CacheStats().Hits, 0u);
  EXPECT_EQ(file->CacheStats().DiskReads, 0u);
  EXPECT_TRUE(file->CheckInvariants());
}

TEST_F(TRecordCacheTest, FullCacheEvictsTheLeastRecentlyUsedCleanBuffer) {
  owner.BufferSize = 36 * 3;  // room for three records
  auto file = OpenPeople(6);
  EXPECT_EQ(file->CacheCapacity(), 3);
  for (std::int32_t r : {1, 2, 3, 1, 4}) TRecordPin rec = file->GetRecord(nullptr, r);
  // 2 was the least recently used when 4 came in.
  EXPECT_TRUE(file->IsCached(1));
  EXPECT_FALSE(file->IsCached(2));
  EXPECT_TRUE(file->IsCached(3));
  EXPECT_TRUE(file->IsCached(4));
  EXPECT_EQ(file->CachedRecordCount(), 3u);
  // Now 3 is the oldest; the buffer moves down to a lower record number.
  { TRecordPin rec = file->GetRecord(nullptr, 2); EXPECT_EQ(AgeOf(*rec, *file), 2); }
  EXPECT_FALSE(file->IsCached(3));
  EXPECT_TRUE(file->IsCached(2));
  EXPECT_TRUE(file->CheckInvariants());
  // A backward read-ahead through a small cache keeps it sorted and whole.
  { TRecordPin rec = file->GetRecord(nullptr, 6, false, false, true); }
  EXPECT_TRUE(file->CheckInvariants());
  EXPECT_TRUE(file->IsCached(6));
}

TEST_F(TRecordCacheTest, FullCacheOfModifiedBuffersFlushesOutsideTransactions) {
  owner.BufferSize = 36 * 2;
  auto file = OpenPeople(4);
  for (std::int32_t r : {1, 2}) {
    TRecordPin rec = file->GetRecord(nullptr, r);
    rec->SetAutoInc(10 * r);
  }
  file->ResetCacheStats();
  { TRecordPin rec = file->GetRecord(nullptr, 3); }
  EXPECT_EQ(file->CacheCapacity(), 2);
  EXPECT_EQ(file->CacheStats().WriteRuns, 1u);
  EXPECT_EQ(GetLEI32(ReadRaw(), 127 + 3 * 768 + 36 + 5), 20);
}

TEST_F(TRecordCacheTest, CacheGrowsBy64WhenEveryBufferIsHeldUnderTheTransactionLock) {
  owner.BufferSize = 36 * 2;
  owner.TransactionLock = true;
  auto file = OpenPeople(5);
  TRecordPin one = file->GetRecord(nullptr, 1);  // pinned
  {
    TRecordPin two = file->GetRecord(nullptr, 2);
    two->SetAutoInc(22);  // modified
  }
  file->ResetCacheStats();
  TRecordPin three = file->GetRecord(nullptr, 3);
  EXPECT_EQ(file->CacheCapacity(), 2 + 64);
  EXPECT_EQ(file->CachedRecordCount(), 3u);
  EXPECT_EQ(file->CacheStats().WriteRuns, 0u);  // nothing written inside the transaction
  EXPECT_TRUE(file->CheckInvariants());

  // Back under the nominal size once the buffers are free again.
  one.Release();
  three.Release();
  owner.TransactionLock = false;
  file->TrimRecordCache();
  EXPECT_EQ(file->CachedRecordCount(), 2u);
  EXPECT_EQ(file->CacheCapacity(), 2);
  EXPECT_TRUE(file->IsCached(2));  // modified buffers are never dropped unwritten

  // When nothing can go, the capacity follows the count.
  TRecordPin p1 = file->GetRecord(nullptr, 1);
  TRecordPin p2 = file->GetRecord(nullptr, 2);
  TRecordPin p3 = file->GetRecord(nullptr, 3);
  file->TrimRecordCache();
  EXPECT_EQ(file->CacheCapacity(), 3);
  EXPECT_TRUE(p2->Modified());
}

TEST_F(TRecordCacheTest, DiscardKeepsPinnedBuffersAliveUntilReleased) {
  auto file = OpenPeople(3);
  TRecordPin held = file->GetRecord(nullptr, 2);
  held->SetAutoInc(99);
  { TRecordPin other = file->GetRecord(nullptr, 3); }
  file->DiscardRecords();
  EXPECT_EQ(file->CachedRecordCount(), 0u);
  EXPECT_TRUE(file->CheckInvariants());
  EXPECT_EQ(held->GetAutoInc(), 99);  // still a valid buffer for its holder
  EXPECT_FALSE(file->FlushRecords());  // discarded changes are never written
  const std::size_t pooled = file->PooledRecordCount();
  held.Release();
  EXPECT_EQ(file->PooledRecordCount(), pooled + 1);
  TRecordPin again = file->GetRecord(nullptr, 2);
  EXPECT_EQ(again->GetAutoInc(), 2);
}

TEST_F(TRecordCacheTest, ClosingDropsTheCacheAndReopeningReadsTheDisk) {
  auto file = OpenPeople(2);
  {
    TRecordPin rec = file->GetRecord(nullptr, 1);
    rec->SetAutoInc(77);
  }
  file->CloseFile();
  file->OpenFile();
  TRecordPin rec = file->GetRecord(nullptr, 1);
  EXPECT_EQ(rec->GetAutoInc(), 1);
}

// Random reads, changes, pins, flushes and transaction phases through a
// five-record cache: every read must see the latest value, the invariants
// must hold throughout, and the file must end up with every change.
TEST_F(TRecordCacheTest, RandomUseAgainstAModel) {
  owner.BufferSize = 36 * 5;
  constexpr int Records = 60;
  auto file = OpenPeople(Records);
  std::map<std::int32_t, std::int32_t> model;  // record -> RecAutoInc
  for (int r = 1; r <= Records; ++r) model[r] = r;
  std::mt19937 random(20240601);
  std::vector<TRecordPin> held;
  for (int step = 0; step < 3000; ++step) {
    const int op = static_cast<int>(random() % 10);
    const auto r = static_cast<std::int32_t>(random() % Records) + 1;
    if (op <= 5) {
      TRecordPin rec = file->GetRecord(nullptr, r, random() % 2 == 0, false, random() % 3 == 0);
      ASSERT_EQ(rec->GetAutoInc(), model[r]) << "step " << step;
      if (op <= 2) {
        model[r] = step + 1000;
        rec->SetAutoInc(model[r]);
      }
      if (op == 5 && held.size() < 3) held.push_back(std::move(rec));
    } else if (op == 6 && !held.empty()) {
      held.erase(held.begin() + static_cast<std::ptrdiff_t>(random() % held.size()));
    } else if (op == 7) {
      file->FlushRecords();
    } else if (op == 8) {
      owner.TransactionLock = !owner.TransactionLock;
    } else {
      file->TrimRecordCache();
    }
    ASSERT_TRUE(file->CheckInvariants()) << "step " << step;
  }
  held.clear();
  owner.TransactionLock = false;
  file->FlushRecords();
  file->CloseFile();
  file->OpenFile();
  for (int r = 1; r <= Records; ++r) {
    TRecordPin rec = file->GetRecord(nullptr, r, true, false, true);
    EXPECT_EQ(rec->GetAutoInc(), model[r]) << r;
  }
}

// The buffers a cache keeps, step by step, against a model of the policy:
// a full cache reuses the least recently used buffer that is neither
// modified nor pinned, flushes once when there is none (not under the
// transaction lock) and grows when still none; a trim drops such buffers
// down to the nominal size. Reads with read-ahead load their run in record
// order, and a flush in their middle leaves the run alone.
TEST_F(TRecordCacheTest, KeepsTheBuffersAModelOfThePolicyKeeps) {
  constexpr int Nominal = 4;
  constexpr int Records = 40;
  owner.BufferSize = 36 * Nominal;
  auto file = OpenPeople(Records);
  ASSERT_GT(file->RecordsPerRead(), Records);

  struct TEntry {
    std::int32_t No;
    bool Modified;
    int Pins;
  };
  std::deque<TEntry> order;  // most recently used first
  std::int32_t capacity = Nominal;
  std::int32_t aheadFirst = 0, aheadLast = -1;
  auto find = [&](std::int32_t n) {
    return std::find_if(order.begin(), order.end(), [n](const TEntry& e) { return e.No == n; });
  };
  auto flush = [&] {
    for (TEntry& e : order)
      if (e.Pins == 0 && (e.No < aheadFirst || e.No > aheadLast)) e.Modified = false;
  };
  auto victim = [&] {
    auto it = std::find_if(order.rbegin(), order.rend(), [](const TEntry& e) { return !e.Modified && e.Pins == 0; });
    return it == order.rend() ? order.end() : std::prev(it.base());
  };
  auto obtain = [&](std::int32_t n) {
    if (static_cast<std::int32_t>(order.size()) >= capacity) {
      auto v = victim();
      if (v == order.end() && !owner.TransactionLock) {
        flush();
        v = victim();
      }
      if (v != order.end()) order.erase(v);
      else capacity += owner.TransactionLock ? std::max(64, capacity / 2) : 64;
    }
    order.push_front({n, false, 0});
  };
  auto touch = [&](std::int32_t n) {
    auto it = find(n);
    const TEntry e = *it;
    order.erase(it);
    order.push_front(e);
  };

  std::map<std::int32_t, std::int32_t> values;  // record -> RecAutoInc
  for (int r = 1; r <= Records; ++r) values[r] = r;
  std::vector<TRecordPin> held;
  std::mt19937 random(7051);
  for (int step = 0; step < 4000; ++step) {
    const int op = static_cast<int>(random() % 20);
    const auto r = static_cast<std::int32_t>(random() % Records) + 1;
    if (op < 13) {
      const bool readAhead = op < 3;
      const bool forward = random() % 2 == 0;
      if (find(r) != order.end()) {
        touch(r);
      } else if (!readAhead) {
        obtain(r);
      } else {
        std::int32_t count = std::min(file->RecordsPerRead(), Records + 1 - r);
        count = std::min(count, forward ? Records + 1 - r : r);
        aheadFirst = forward ? r : r - count + 1;
        aheadLast = aheadFirst + count - 1;
        for (std::int32_t n = aheadFirst; n <= aheadLast; ++n) {
          if (find(n) == order.end()) obtain(n);
          if (n == r) ++find(r)->Pins;
        }
        --find(r)->Pins;
        touch(r);
        aheadFirst = 0;
        aheadLast = -1;
      }
      TRecordPin rec = file->GetRecord(nullptr, r, forward, false, readAhead);
      ASSERT_EQ(rec->GetAutoInc(), values[r]) << "step " << step;
      if (op < 6) {
        values[r] = 1000 + step;
        rec->SetAutoInc(values[r]);
        find(r)->Modified = true;
      }
      if (op >= 10 && held.size() < 3) {
        ++find(r)->Pins;
        held.push_back(std::move(rec));
      }
    } else if (op < 15) {
      if (!held.empty()) {
        const std::size_t k = random() % held.size();
        --find(held[k]->RecordNo())->Pins;
        held.erase(held.begin() + static_cast<std::ptrdiff_t>(k));
      }
    } else if (op == 15) {
      file->FlushRecords();
      flush();
    } else if (op == 16) {
      if (random() % 4 == 0) owner.TransactionLock = !owner.TransactionLock;
    } else {
      file->TrimRecordCache();
      bool flushed = false;
      while (order.size() > static_cast<std::size_t>(Nominal)) {
        auto v = victim();
        if (v == order.end()) {
          if (flushed) break;
          flushed = true;
          flush();
          continue;
        }
        order.erase(v);
      }
      capacity = std::max(static_cast<std::int32_t>(order.size()), Nominal);
    }
    ASSERT_TRUE(file->CheckInvariants()) << "step " << step;
    ASSERT_EQ(file->CachedRecordCount(), order.size()) << "step " << step;
    ASSERT_EQ(file->CacheCapacity(), capacity) << "step " << step;
    for (const TEntry& e : order) ASSERT_TRUE(file->IsCached(e.No)) << "record " << e.No << ", step " << step;
    bool anyModified = false;
    for (const TEntry& e : order) anyModified = anyModified || e.Modified;
    ASSERT_EQ(file->HasUnwrittenChanges(), anyModified) << "step " << step;
  }
  held.clear();
  owner.TransactionLock = false;
  file->FlushRecords();
  file->CloseFile();
  file->OpenFile();
  for (int r = 1; r <= Records; ++r) {
    TRecordPin rec = file->GetRecord(nullptr, r, true, false, true);
    EXPECT_EQ(rec->GetAutoInc(), values[r]) << r;
  }
}

}  // namespace
}  // namespace tarn::testing

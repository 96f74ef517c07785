// Locking and change detection, within one process and between processes.
//
// Between processes a forked child opens the table itself: forks happen only
// while the test process has no table file open, so that the child's locks
// are taken through descriptors of its own (OFD locks belong to the open
// file, which a fork would share).

#include <sys/stat.h>

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <string>
#include <thread>

#include "engine/base/engine_error.h"
#include "engine/files/fault_file_api.h"
#include "engine/session/data_directory.h"
#include "engine/session/data_session.h"
#include "engine/session/data_table.h"
#include "engine/session/lock_ranges.h"
#include "engine/session/write_order.h"
#include "session_fixture.h"
#include "support/temp_dir.h"

namespace tarn {
namespace {

using session_testing::AppendRecords;
using session_testing::CodeOf;
using session_testing::SampleDefinition;
using session_testing::TChildChannel;
using session_testing::TChildProcess;
using session_testing::TFakeCursor;
using testing_support::TTempDir;

constexpr TTableLockRetry Quick{.Attempts = 3, .PauseMs = 1};

class TableLocksTest : public ::testing::Test {
 protected:
  void SetUp() override {
    TDataSession maker;
    TDataDirectory& dir = maker.OpenDirectory("Quiz", FTemp.Path());
    TDataTable& t = dir.CreateTable("Quiz", false, false, SampleDefinition(FWithBlob));
    AppendRecords(t, 3);
    dir.ReleaseTable(t, false);
  }

  // A session of this process on the table, with short retries.
  struct TUser {
    explicit TUser(const std::string& path, TTableOpenOptions options = {}) {
      Session.SetLockRetryCount(2);
      Session.SetLockWaitTime(1);
      Dir = &Session.OpenDirectory("Quiz", path);
      Table = &Dir->OpenTable("Quiz", options);
      Table->SetTableLockRetry(Quick);
    }
    ~TUser() {
      if (Table != nullptr) Dir->ReleaseTable(*Table, false);
    }
    TDataSession Session;
    TDataDirectory* Dir = nullptr;
    TDataTable* Table = nullptr;
  };

  TTempDir FTemp;
  bool FWithBlob = true;
};

// ---- within one process ----

TEST_F(TableLocksTest, ReadersCoexistAndExcludeWritersThroughOneHandle) {
  TUser a(FTemp.Path());
  TUser b(FTemp.Path());
  EXPECT_EQ(a.Table->DataFile().File(), b.Table->DataFile().File());  // one OS handle
  a.Table->BeginRead();
  EXPECT_TRUE(a.Table->Reading());
  EXPECT_NE(a.Table->ReadSlotIndex(), 0);
  EXPECT_NE(a.Table->ReadSlotBlob(), 0);
  b.Table->BeginRead();
  EXPECT_TRUE(b.Table->Reading());
  EXPECT_EQ(CodeOf([&] { b.Table->BeginWrite(); }), TARN_LOCKTIMEOUT);
  EXPECT_FALSE(b.Table->Writing());
  b.Table->EndRead();
  EXPECT_EQ(CodeOf([&] { b.Table->BeginWrite(); }), TARN_LOCKTIMEOUT);  // a still reads
  a.Table->EndRead();
  b.Table->BeginWrite();
  EXPECT_TRUE(b.Table->Writing());
  EXPECT_EQ(CodeOf([&] { a.Table->BeginRead(); }), TARN_LOCKTIMEOUT);
  EXPECT_FALSE(b.Table->BeginRead());  // a writer does not read-lock as well
  EXPECT_FALSE(b.Table->Reading());
  b.Table->EndWrite();
  a.Table->BeginRead();
  a.Table->EndRead();
  EXPECT_TRUE(a.Table->CheckInvariants());
  EXPECT_TRUE(b.Table->CheckInvariants());
}

TEST_F(TableLocksTest, TwoSessionsExcludeEachOthersRecordLocks) {
  TUser a(FTemp.Path());
  TUser b(FTemp.Path());
  EXPECT_FALSE(a.Table->LockRecord(2));
  a.Table->EndRead();  // the read lock LockRecord took stays for the caller
  const auto before = b.Table->LockStats().RecordLockAttempts;
  EXPECT_EQ(CodeOf([&] { b.Table->LockRecord(2); }), TARN_RECLOCKFAILED);
  EXPECT_EQ(b.Table->LockStats().RecordLockAttempts - before, 3u);  // LockRetryCount + 1
  EXPECT_FALSE(b.Table->Reading());  // nothing left held after the failure
  b.Table->LockRecord(3);
  b.Table->EndRead();
  a.Table->UnlockRecord(2);
  b.Table->LockRecord(2);
  b.Table->EndRead();
  EXPECT_TRUE(b.Table->RecordLocked(2));
  b.Table->UnlockAllRecords(false);
  EXPECT_FALSE(b.Table->RecordLocked(2));
  EXPECT_FALSE(b.Table->RecordLocked(3));
}

TEST_F(TableLocksTest, RecordLockArgumentsAndUnlockErrors) {
  TUser a(FTemp.Path());
  struct TCase {
    std::function<void()> Action;
    TErrorCode Expected;
  } cases[] = {
      {[&] { a.Table->LockRecord(0); }, TARN_RECLOCKFAILED},
      {[&] { a.Table->LockRecord(-1); }, TARN_RECLOCKFAILED},
      {[&] { a.Table->LockRecord(200000001); }, TARN_RECLOCKFAILED},
      {[&] { a.Table->UnlockRecord(0); }, TARN_UNLOCKFAILED},
      {[&] { a.Table->UnlockRecord(7); }, TARN_UNLOCKFAILED},  // not locked
  };
  for (const TCase& c : cases) EXPECT_EQ(CodeOf(c.Action), c.Expected);
  a.Table->LockRecord(200000000);  // the highest record number still has a byte
  a.Table->EndRead();
  a.Table->UnlockRecord(200000000);
}

TEST_F(TableLocksTest, WithStrictChangeDetectionLockRecordTakesNoReadLock) {
  // The cursor's strict check already holds the read lock at that point.
  TUser a(FTemp.Path());
  a.Session.SetStrictChangeDetection(true);
  EXPECT_FALSE(a.Table->LockRecord(1));
  EXPECT_FALSE(a.Table->Reading());
  a.Table->UnlockRecord(1);
}

TEST_F(TableLocksTest, ACursorLockedRecordFailsAtOnceForAnotherCursor) {
  TUser a(FTemp.Path());
  a.Table->LockCursorRecord(1);
  a.Table->EndRead();
  EXPECT_TRUE(a.Table->CursorLocked(1));
  const auto before = a.Table->LockStats().RecordLockAttempts;
  EXPECT_EQ(CodeOf([&] { a.Table->LockCursorRecord(1); }), TARN_RECLOCKFAILED);
  EXPECT_EQ(a.Table->LockStats().RecordLockAttempts, before);  // no file lock tried
  a.Table->UnlockCursorRecord(1);
  EXPECT_FALSE(a.Table->CursorLocked(1));
  EXPECT_FALSE(a.Table->RecordLocked(1));
  a.Table->LockCursorRecord(1);
  a.Table->EndRead();
  a.Table->UnlockCursorRecord(1);
}

TEST_F(TableLocksTest, InsideATransactionUnlocksWaitForItsEnd) {
  TUser a(FTemp.Path());
  TUser b(FTemp.Path());
  a.Table->LockTransaction();
  EXPECT_TRUE(a.Table->HoldsTransactionLock());
  EXPECT_EQ(CodeOf([&] { b.Table->BeginWrite(); }), TARN_LOCKTIMEOUT);  // the same byte
  EXPECT_FALSE(a.Table->BeginRead());  // the transaction reads without read locks
  a.Table->BeginWrite();               // takes only the index and blob write locks
  a.Table->EndWrite();
  EXPECT_TRUE(a.Table->HoldsTransactionLock());
  a.Table->LockRecord(2);
  EXPECT_FALSE(a.Table->LockRecord(2));  // already held by the transaction
  a.Table->UnlockRecord(2);
  EXPECT_TRUE(a.Table->RecordLocked(2));
  EXPECT_TRUE(a.Table->UnlockDeferred(2));
  EXPECT_EQ(CodeOf([&] { b.Table->LockRecord(2); }), TARN_RECLOCKFAILED);
  a.Table->UnlockTransaction();
  EXPECT_FALSE(a.Table->RecordLocked(2));
  EXPECT_FALSE(a.Table->UnlockDeferred(2));
  b.Table->LockRecord(2);
  b.Table->EndRead();
  b.Table->BeginWrite();
  b.Table->EndWrite();
  EXPECT_TRUE(a.Table->CheckInvariants());
}

TEST_F(TableLocksTest, ExclusiveAndReadOnlyAttributeTablesTakeNoLocks) {
  auto probe = [](TDataTable& t) {
    // Every range a lock operation could have taken is still free in this
    // process: the process-wide table would refuse a range held by anyone.
    for (TFileHandler* file : {static_cast<TFileHandler*>(&t.IndexFile()), static_cast<TFileHandler*>(&t.BlobFile())}) {
      if (!file->LockRegion(true, LockRange::WriteFirst, LockRange::WriteLength)) return false;
      file->LockRegion(false, LockRange::WriteFirst, LockRange::WriteLength);
    }
    if (!t.DataFile().LockRegion(true, LockRange::RecordOffset(200000000), 200000001)) return false;
    t.DataFile().LockRegion(false, LockRange::RecordOffset(200000000), 200000001);
    return true;
  };
  auto exercise = [&](TDataTable& t) {
    EXPECT_FALSE(t.BeginRead());
    EXPECT_FALSE(t.BeginWrite());
    EXPECT_FALSE(t.LockRecord(1));
    EXPECT_FALSE(t.BeginQueryRead());
    t.LockTransaction();
    EXPECT_FALSE(t.Reading() || t.Writing() || t.QueryReading() || t.RecordLocked(1));
    EXPECT_TRUE(probe(t));
    t.UnlockRecord(1);  // nothing to release, nothing raised
    t.UnlockTransaction();
    t.EndWrite();
    t.EndRead();
  };
  {
    TUser exclusive(FTemp.Path(), {.Exclusive = true});
    ASSERT_TRUE(exclusive.Table->Exclusive());
    exercise(*exclusive.Table);
  }
  for (const char* ext : {".DAT", ".IDX", ".BLB"})
    ::chmod(FTemp.File(std::string("Quiz") + ext).c_str(), 0444);
  {
    TUser readOnly(FTemp.Path());
    ASSERT_TRUE(readOnly.Table->ReadOnlyAttr());
    ASSERT_TRUE(readOnly.Table->ReadOnly());
    exercise(*readOnly.Table);
  }
}

TEST_F(TableLocksTest, ChangeCountersShowHeaderWritesOfOtherSessions) {
  TUser reader(FTemp.Path());
  TUser writer(FTemp.Path());
  EXPECT_FALSE(reader.Table->CheckForChanges());
  {
    TTableWriteBracket write(*writer.Table);
    TRecordPin pin = writer.Table->DataFile().GetRecord(nullptr, 1);
    pin->MutableData()[10] = 'z';
    pin->MarkModified();
    pin.Release();
    // Records only: possible through the unordered writes alone (an ordered
    // one marks the header first).
    WriteOrderTesting::SetUnorderedWrites(true);
    EXPECT_TRUE(writer.Table->DataFile().FlushRecords());
    WriteOrderTesting::SetUnorderedWrites(false);
  }
  EXPECT_FALSE(reader.Table->DataFile().DataHeaderChanged());
  {
    TTableWriteBracket write(*writer.Table);
    writer.Table->WriteBuffers(false, true, false, false, true);
  }
  TTableReadBracket read(*reader.Table);
  EXPECT_TRUE(read.Changed());
  EXPECT_EQ(reader.Table->DataFile().GetChangeCount(), writer.Table->DataFile().GetChangeCount());
  EXPECT_EQ(reader.Table->IndexFile().ChangeCount(), writer.Table->IndexFile().ChangeCount());
  EXPECT_FALSE(reader.Table->CheckForChanges());
}

TEST_F(TableLocksTest, RefusedReleasesRaiseAndCountAsReleased) {
  TUser a(FTemp.Path());
  TUser b(FTemp.Path());
  TFaultFileApi faults;
  TOsFileApiOverride use(faults);
  struct TCase {
    std::function<void()> Take;
    std::function<void()> Give;
    TErrorCode Expected;
    std::function<bool()> StillHeld;
  } cases[] = {
      {[&] { a.Table->BeginRead(); }, [&] { a.Table->EndRead(); }, TARN_UNLOCKFAILED,
       [&] { return a.Table->Reading(); }},
      {[&] { a.Table->BeginWrite(); }, [&] { a.Table->EndWrite(); }, TARN_LOCKTIMEOUT,
       [&] { return a.Table->Writing(); }},
      {[&] { a.Table->LockRecord(2); a.Table->EndRead(); }, [&] { a.Table->UnlockRecord(2); }, TARN_UNLOCKFAILED,
       [&] { return a.Table->RecordLocked(2); }},
      {[&] { a.Table->LockTransaction(); }, [&] { a.Table->UnlockTransaction(); }, TARN_LOCKTIMEOUT,
       [&] { return a.Table->HoldsTransactionLock(); }},
  };
  for (const TCase& c : cases) {
    c.Take();
    faults.Fail(TOsCall::OfdSetLock, EIO, 0, true);  // every unlock is refused by the OS
    EXPECT_EQ(CodeOf(c.Give), c.Expected);
    faults.ClearAll();
    EXPECT_FALSE(c.StillHeld());
    EXPECT_TRUE(a.Table->CheckInvariants());
  }
  // In this process the ranges count as free again: another session gets them.
  b.Table->BeginWrite();
  b.Table->LockRecord(2);
  b.Table->EndWrite();
  b.Table->UnlockRecord(2);
}

TEST_F(TableLocksTest, BracketsEndOnlyWhatTheyTook) {
  TUser a(FTemp.Path());
  {
    TTableWriteBracket write(*a.Table);
    {
      TTableReadBracket read(*a.Table);  // nothing taken under a write lock
      EXPECT_FALSE(read.Changed());
    }
    EXPECT_TRUE(a.Table->Writing());
  }
  EXPECT_FALSE(a.Table->Writing());
  a.Table->BeginRead();
  { TTableReadBracket nested(*a.Table); }
  EXPECT_TRUE(a.Table->Reading());  // the outer read stays
  a.Table->EndRead();
}

// ---- between processes ----

TEST_F(TableLocksTest, ProcessesShareReadLocksAndAWriterWaitsForThem) {
  TChildProcess child([&](TChildChannel& ch) {
    TUser c(FTemp.Path());
    c.Table->BeginRead();
    ch.Signal('r');
    if (ch.Wait() != 'w') return 1;
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    c.Table->EndRead();
    return 0;
  });
  ASSERT_EQ(child.Next(), 'r');
  TUser p(FTemp.Path());
  p.Table->BeginRead();  // a second reader gets in at once
  EXPECT_TRUE(p.Table->Reading());
  p.Table->EndRead();
  p.Table->SetTableLockRetry({});  // the full 32767 x 3 ms
  child.Send('w');
  const auto before = p.Table->LockStats().TableLockAttempts;
  p.Table->BeginWrite();  // retries until the child's read ends
  EXPECT_TRUE(p.Table->Writing());
  EXPECT_GT(p.Table->LockStats().TableLockAttempts - before, 3u);
  p.Table->EndWrite();
  EXPECT_EQ(child.Join(), 0);
}

TEST_F(TableLocksTest, AFailedBeginWriteGivesBackTheTransactionByte) {
  TChildProcess child([&](TChildChannel& ch) {
    TUser c(FTemp.Path());
    c.Table->BeginRead();  // blocks the parent's index write lock
    ch.Signal('r');
    if (ch.Wait() != 't') return 1;
    c.Table->SetTableLockRetry({.Attempts = 1, .PauseMs = 0});
    c.Table->EndRead();
    c.Table->LockTransaction();  // free only when the parent gave it back
    c.Table->UnlockTransaction();
    return 0;
  });
  ASSERT_EQ(child.Next(), 'r');
  TUser p(FTemp.Path());
  EXPECT_EQ(CodeOf([&] { p.Table->BeginWrite(); }), TARN_LOCKTIMEOUT);
  EXPECT_FALSE(p.Table->Writing());
  child.Send('t');
  EXPECT_EQ(child.Join(), 0);
}

TEST_F(TableLocksTest, AFailedBeginReadGivesBackTheIndexReadLock) {
  TChildProcess child([&](TChildChannel& ch) {
    TUser c(FTemp.Path());
    // Only the blob file's write lock: the parent's index read lock succeeds
    // and its blob read lock fails.
    if (!c.Table->BlobFile().LockRegion(true, LockRange::WriteFirst, LockRange::WriteLength)) return 2;
    ch.Signal('b');
    if (ch.Wait() != 'i') return 1;
    c.Table->SetTableLockRetry({.Attempts = 1, .PauseMs = 0});
    if (!c.Table->IndexFile().LockRegion(true, LockRange::WriteFirst, LockRange::WriteLength)) return 3;
    return 0;
  });
  ASSERT_EQ(child.Next(), 'b');
  TUser p(FTemp.Path());
  EXPECT_EQ(CodeOf([&] { p.Table->BeginRead(); }), TARN_LOCKTIMEOUT);
  EXPECT_FALSE(p.Table->Reading());
  child.Send('i');
  EXPECT_EQ(child.Join(), 0);
}

TEST_F(TableLocksTest, ARecordLockedByAnotherProcessIsRefusedAfterItsRetries) {
  TChildProcess child([&](TChildChannel& ch) {
    TUser c(FTemp.Path());
    c.Table->LockRecord(2);
    c.Table->EndRead();
    ch.Signal('l');
    if (ch.Wait() != 'u') return 1;
    c.Table->UnlockRecord(2);
    ch.Signal('f');
    ch.Wait();
    return 0;
  });
  ASSERT_EQ(child.Next(), 'l');
  TUser p(FTemp.Path());
  p.Session.SetLockRetryCount(4);
  const auto before = p.Table->LockStats().RecordLockAttempts;
  EXPECT_EQ(CodeOf([&] { p.Table->LockRecord(2); }), TARN_RECLOCKFAILED);
  EXPECT_EQ(p.Table->LockStats().RecordLockAttempts - before, 5u);
  EXPECT_FALSE(p.Table->Reading());
  p.Table->LockRecord(1);  // other records are free
  p.Table->EndRead();
  child.Send('u');
  ASSERT_EQ(child.Next(), 'f');
  p.Table->LockRecord(2);
  p.Table->EndRead();
  p.Table->UnlockAllRecords(false);
  child.Send('x');
  EXPECT_EQ(child.Join(), 0);
}

TEST_F(TableLocksTest, AnExclusiveOpenExcludesEveryOtherOpen) {
  TChildProcess child([&](TChildChannel& ch) {
    TUser c(FTemp.Path(), {.Exclusive = true});
    ch.Signal('x');
    ch.Wait();
    return 0;
  });
  ASSERT_EQ(child.Next(), 'x');
  TDataSession s;
  TDataDirectory& dir = s.OpenDirectory("Quiz", FTemp.Path());
  EXPECT_EQ(CodeOf([&] { dir.OpenTable("Quiz", {}); }), TARN_OSEACCES);
  EXPECT_EQ(CodeOf([&] { dir.OpenTable("Quiz", {.Exclusive = true}); }), TARN_OSEACCES);
  EXPECT_EQ(dir.TableCount(), 0u);
  child.Send('q');
  EXPECT_EQ(child.Join(), 0);
  TDataTable& t = dir.OpenTable("Quiz", {});
  dir.ReleaseTable(t, false);
}

TEST_F(TableLocksTest, ExclusiveOpenIsRefusedWhileAnotherProcessShares) {
  TChildProcess child([&](TChildChannel& ch) {
    TUser c(FTemp.Path());
    ch.Signal('s');
    ch.Wait();
    return 0;
  });
  ASSERT_EQ(child.Next(), 's');
  TDataSession s;
  TDataDirectory& dir = s.OpenDirectory("Quiz", FTemp.Path());
  EXPECT_EQ(CodeOf([&] { dir.OpenTable("Quiz", {.Exclusive = true}); }), TARN_OSEACCES);
  TDataTable& shared = dir.OpenTable("Quiz", {});
  dir.ReleaseTable(shared, false);
  child.Send('q');
  EXPECT_EQ(child.Join(), 0);
}

TEST_F(TableLocksTest, AnotherProcessSeesHeaderWritesThroughTheChangeCounters) {
  TChildProcess child([&](TChildChannel& ch) {
    TUser c(FTemp.Path());
    if (ch.Wait() != 'r') return 1;
    {
      TTableWriteBracket write(*c.Table);
      TRecordPin pin = c.Table->DataFile().GetRecord(nullptr, 1);
      pin->MutableData()[10] = 'q';
      pin->MarkModified();
      pin.Release();
      // The record, not the header: only the unordered writes do that.
      WriteOrderTesting::SetUnorderedWrites(true);
      c.Table->DataFile().FlushRecords();
      WriteOrderTesting::SetUnorderedWrites(false);
    }
    ch.Signal('1');
    if (ch.Wait() != 'h') return 1;
    {
      TTableWriteBracket write(*c.Table);
      c.Table->WriteBuffers(false, true);  // the data header only
    }
    ch.Signal('2');
    ch.Wait();
    return 0;
  });
  TUser p(FTemp.Path());
  const std::int32_t start = p.Table->DataFile().GetChangeCount();
  child.Send('r');
  ASSERT_EQ(child.Next(), '1');
  EXPECT_FALSE(p.Table->DataFile().DataHeaderChanged());
  EXPECT_FALSE(p.Table->CheckForChanges());
  child.Send('h');
  ASSERT_EQ(child.Next(), '2');
  EXPECT_TRUE(p.Table->DataFile().DataHeaderChanged());
  EXPECT_EQ(p.Table->DataFile().GetChangeCount(), start + 1);
  TRecordPin pin = p.Table->DataFile().GetRecord(nullptr, 1);
  EXPECT_EQ(pin->Data()[10], 'q');  // the cache was emptied and reads the disk
  pin.Release();
  EXPECT_FALSE(p.Table->DataFile().DataHeaderChanged());
  child.Send('x');
  EXPECT_EQ(child.Join(), 0);
}

TEST_F(TableLocksTest, ReadOnlyAttributeTablesLeaveOtherProcessesFree) {
  for (const char* ext : {".DAT", ".IDX", ".BLB"})
    ::chmod(FTemp.File(std::string("Quiz") + ext).c_str(), 0444);
  TChildProcess child([&](TChildChannel& ch) {
    TUser c(FTemp.Path());
    if (!c.Table->ReadOnlyAttr()) return 2;
    c.Table->BeginRead();
    c.Table->LockRecord(1);
    ch.Signal('r');
    ch.Wait();
    return 0;
  });
  ASSERT_EQ(child.Next(), 'r');
  // The child took nothing, so every range is free for this process.
  TUser p(FTemp.Path());
  for (TFileHandler* file :
       {static_cast<TFileHandler*>(&p.Table->IndexFile()), static_cast<TFileHandler*>(&p.Table->BlobFile())}) {
    EXPECT_TRUE(file->LockRegion(true, LockRange::WriteFirst, LockRange::WriteLength));
    file->LockRegion(false, LockRange::WriteFirst, LockRange::WriteLength);
  }
  EXPECT_TRUE(p.Table->DataFile().LockRegion(true, LockRange::RecordOffset(1), 1));
  p.Table->DataFile().LockRegion(false, LockRange::RecordOffset(1), 1);
  child.Send('q');
  EXPECT_EQ(child.Join(), 0);
}

}  // namespace
}  // namespace tarn
